// The application object, the program entry, frames, command lines, message
// boxes and the wait cursor.
//
// A program has one global object of a CWinApp-derived class and a WinMain
// that returns AfxWinMain(...) (entry: CE_DEVICE_PROGRAM(WinMain)).
// AfxWinMain: ui::InitFromEnvironment(), fills the application's members,
// InitInstance(); TRUE -> Run() (the message loop until WM_QUIT), then
// ExitInstance(); FALSE -> the main window (if any) is destroyed and
// ExitInstance() runs. The exit code is ExitInstance's result (default: the
// WM_QUIT code, 0 without one), or 3 when a UI script failed or could not
// be read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ce/cstring.h"
#include "ui/Wnd.h"

// The command-line splitter: blanks (and tabs) separate parameters, double
// quotes group (they are removed, and may appear anywhere in a parameter),
// a parameter starting with '/' or '-' loses that character and is
// reported as a flag. ParseParam is called once per parameter, in order;
// `last` is TRUE for the final one.
class CCommandLineInfo {
 public:
  CCommandLineInfo() = default;
  virtual ~CCommandLineInfo() = default;
  // Default: the first plain parameter becomes m_strFileName (shell command
  // FileOpen); flags are ignored.
  virtual void ParseParam(const WCHAR* param, BOOL flag, BOOL last);

  enum { FileNew, FileOpen, FilePrint, FilePrintTo, FileDDE, AppUnregister, FileNothing = -1 } m_nShellCommand =
      FileNew;
  CString m_strFileName;
  BOOL m_bShowSplash = TRUE;
};

namespace ui {
struct CommandLineParam {
  std::u16string text;
  bool flag = false;
};
// The splitter above, as a list.
std::vector<CommandLineParam> SplitCommandLine(std::u16string_view commandLine);
}  // namespace ui

class CWinApp {
 public:
  // Becomes the application (AfxGetApp) while it lives.
  explicit CWinApp(LPCWSTR appName = nullptr);
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp();

  virtual BOOL InitInstance();
  // Default: the code of the WM_QUIT that ended Run (0 without one).
  virtual int ExitInstance();
  // The message loop: OnIdle(0, 1, ...) while it answers TRUE and nothing
  // is queued, then the next message through PreTranslateMessage,
  // TranslateMessage and DispatchMessage; ends at WM_QUIT and returns
  // ExitInstance().
  virtual int Run();
  // Default: count 0 drops temporary objects of windows that are gone;
  // returns FALSE (no more idle work).
  virtual BOOL OnIdle(LONG count);
  // Default: CWnd::WalkPreTranslateTree for window messages.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Splits m_lpCmdLine and feeds info.ParseParam.
  void ParseCommandLine(CCommandLineInfo& info);
  // Where the application's settings would live (under the current user's
  // Software key: <key>\<app name>). Sets m_pszRegistryKey and
  // m_pszProfileName.
  void SetRegistryKey(LPCWSTR key);
  void SetRegistryKey(UINT stringId);
  void BeginWaitCursor();
  void EndWaitCursor();

  CWnd* m_pMainWnd = nullptr;
  HINSTANCE m_hInstance = nullptr;
  LPWSTR m_lpCmdLine = nullptr;
  int m_nCmdShow = 0;
  // Default: string 57344 (AFX_IDS_APP_TITLE) of the resource module, else
  // the program's file name without extension.
  LPCWSTR m_pszAppName = nullptr;
  LPCWSTR m_pszExeName = nullptr;
  LPCWSTR m_pszRegistryKey = nullptr;
  LPCWSTR m_pszProfileName = nullptr;
  MSG m_msgCur{};  // the message being handled; WM_QUIT after Run

 private:
  friend int AfxWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);
  friend BOOL AfxInitLibraryApp(HINSTANCE);
  void InitMembers(HINSTANCE instance, LPWSTR commandLine, int show);
  std::u16string m_appNameStore, m_exeNameStore, m_registryKeyStore, m_profileNameStore, m_cmdLineStore;
  bool m_quitSeen = false;
};

#define AFX_IDS_APP_TITLE 0xE000u

CWinApp* AfxGetApp();
// The application's main window (null without one).
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// The application's name (m_pszAppName; the program's name without an app).
LPCWSTR AfxGetAppName();
void AfxPostQuitMessage(int exitCode);
// Where dialog templates and strings are read from (ce::GetResourceModule).
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
// The application of a code library that another program loads (its
// library entry calls these): the attach fills the members from the
// library's module (m_hInstance the library, m_pszExeName its file name
// without extension, no command line) and runs InitInstance, whose result
// it returns (FALSE fails the load); the detach runs ExitInstance. TRUE
// without an application. Each library holds its own class library, so
// its application is never the loading program's.
BOOL AfxInitLibraryApp(HINSTANCE module);
int AfxTermLibraryApp();
// A box owned by the main window (else the active window) with the
// application's name as caption. The id form loads the text from the
// resource module and passes the id on as the request's stringId.
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT helpId = 0);
int AfxMessageBox(UINT stringId, UINT type = MB_OK, UINT helpId = static_cast<UINT>(-1));

// A top-level window of the class library's own class.
class CFrameWnd : public CWnd {
 public:
  // Title: the resource string `resourceId` up to its first '\n', else the
  // application's name. Shown when style has WS_VISIBLE. The frame
  // deletes itself after its window is gone (allocate it with new).
  virtual BOOL LoadFrame(UINT resourceId, DWORD style = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, CWnd* parent = nullptr);
  BOOL Create(LPCWSTR className, LPCWSTR title, DWORD style = WS_OVERLAPPEDWINDOW,
              const RECT& rect = rectDefault, CWnd* parent = nullptr);
  static const RECT rectDefault;  // CW_USEDEFAULT position and size

 protected:
  void PostNcDestroy() override;
  UINT m_nIDHelp = 0;
};

// Shows the wait cursor while it lives (nesting counts).
class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
  void Restore() {}

 private:
  bool m_active = true;
};

namespace ui {
// True while a CWaitCursor (or BeginWaitCursor) is active in this process.
bool IsWaitCursor();
}  // namespace ui
