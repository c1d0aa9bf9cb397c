// CWinApp, AfxWinMain, command lines, message boxes, frames, wait cursor.
#include <atomic>
#include <cstdio>

#include "ce/module.h"
#include "ce/process.h"
#include "ui/Automation.h"
#include "ui/Loop.h"
#include "mfc_internal.h"

namespace {
CWinApp* g_app = nullptr;
std::atomic<int> g_waitCursor{0};

std::u16string LoadResString(HINSTANCE module, UINT id) {
  LPCWSTR text = nullptr;
  int len = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (len <= 0 || text == nullptr) return {};
  return std::u16string(text, static_cast<size_t>(len));
}

// The program's file name without folder and extension.
std::u16string ProgramBaseName() {
  const std::u16string& path = ce::OwnProgramPath();
  size_t slash = path.find_last_of(u"\\/");
  std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0) name.resize(dot);
  return name;
}

HWND BoxOwner() {
  CWnd* main = AfxGetMainWnd();
  if (main != nullptr && main->m_hWnd != nullptr && IsWindow(main->m_hWnd)) return main->m_hWnd;
  return GetActiveWindow();
}

int ShowBox(std::u16string text, UINT type, DWORD stringId) {
  ce::MessageBoxRequest request;
  request.owner = BoxOwner();
  request.text = std::move(text);
  request.caption = ui::detail::AppName();
  request.style = type;
  request.stringId = stringId;
  return ce::ShowMessageBox(request);
}
}  // namespace

namespace ui::detail {
std::u16string AppName() {
  if (g_app != nullptr && g_app->m_pszAppName != nullptr) return g_app->m_pszAppName;
  return ProgramBaseName();
}
}  // namespace ui::detail

// ---- command line ----

namespace ui {
std::vector<CommandLineParam> SplitCommandLine(std::u16string_view line) {
  std::vector<CommandLineParam> params;
  size_t i = 0;
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  while (true) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    std::u16string text;
    bool quoted = false;
    for (; i < line.size() && (quoted || !blank(line[i])); ++i) {
      if (line[i] == u'"') {
        quoted = !quoted;
      } else {
        text += line[i];
      }
    }
    CommandLineParam p;
    if (!text.empty() && (text[0] == u'/' || text[0] == u'-')) {
      p.flag = true;
      text.erase(0, 1);
    }
    p.text = std::move(text);
    params.push_back(std::move(p));
  }
  return params;
}
}  // namespace ui

void CCommandLineInfo::ParseParam(const WCHAR* param, BOOL flag, BOOL) {
  if (flag || param == nullptr) return;
  if (m_strFileName.IsEmpty()) {
    m_strFileName = param;
    m_nShellCommand = FileOpen;
  }
}

// ---- application ----

CWinApp::CWinApp(LPCWSTR appName) {
  if (appName != nullptr) {
    m_appNameStore = appName;
    m_pszAppName = m_appNameStore.c_str();
  }
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app != nullptr ? g_app->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() {
  if (g_app != nullptr && g_app->m_hInstance != nullptr) return g_app->m_hInstance;
  return GetModuleHandleW(nullptr);
}

LPCWSTR AfxGetAppName() {
  if (g_app != nullptr && g_app->m_pszAppName != nullptr) return g_app->m_pszAppName;
  static const std::u16string name = ProgramBaseName();
  return name.c_str();
}

void AfxPostQuitMessage(int exitCode) { PostQuitMessage(exitCode); }

HINSTANCE AfxGetResourceHandle() { return ce::GetResourceModule(); }
void AfxSetResourceHandle(HINSTANCE module) { ce::SetResourceModule(module); }

void CWinApp::InitMembers(HINSTANCE instance, LPWSTR commandLine, int show) {
  m_hInstance = instance != nullptr ? instance : GetModuleHandleW(nullptr);
  m_cmdLineStore = commandLine != nullptr ? std::u16string(commandLine) : std::u16string();
  m_lpCmdLine = m_cmdLineStore.data();
  m_nCmdShow = show;
  m_exeNameStore = ProgramBaseName();
  m_pszExeName = m_exeNameStore.c_str();
  if (m_pszAppName == nullptr) {
    m_appNameStore = LoadResString(AfxGetResourceHandle(), AFX_IDS_APP_TITLE);
    if (m_appNameStore.empty()) m_appNameStore = m_exeNameStore;
    m_pszAppName = m_appNameStore.c_str();
  }
  m_msgCur = MSG{};
  m_quitSeen = false;
}

BOOL AfxInitLibraryApp(HINSTANCE module) {
  if (g_app == nullptr) return TRUE;
  const bool named = g_app->m_pszAppName != nullptr;
  g_app->InitMembers(module, nullptr, 0);
  WCHAR path[MAX_PATH] = {};
  if (module != nullptr && GetModuleFileNameW(module, path, MAX_PATH) > 0) {
    std::u16string name(path);
    const size_t slash = name.rfind(u'\\');
    if (slash != std::u16string::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.resize(dot);
    g_app->m_exeNameStore = name;
    g_app->m_pszExeName = g_app->m_exeNameStore.c_str();
    if (!named) {
      g_app->m_appNameStore = name;
      g_app->m_pszAppName = g_app->m_appNameStore.c_str();
    }
  }
  return g_app->InitInstance();
}

int AfxTermLibraryApp() { return g_app != nullptr ? g_app->ExitInstance() : 0; }

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return m_quitSeen ? static_cast<int>(m_msgCur.wParam) : 0; }

BOOL CWinApp::OnIdle(LONG count) {
  if (count == 0) AfxDeleteTempObjects();
  return FALSE;
}

BOOL CWinApp::PreTranslateMessage(MSG* msg) {
  if (msg->hwnd == nullptr) return FALSE;
  return CWnd::WalkPreTranslateTree(msg);
}

int CWinApp::Run() {
  ui::detail::EnsureMsgFilterHook();
  for (;;) {
    LONG idleCount = 0;
    MSG peek{};
    while (!PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) break;
    }
    BOOL got = GetMessageW(&m_msgCur, nullptr, 0, 0);
    if (got == 0) {
      m_quitSeen = true;
      break;
    }
    if (got == -1) continue;
    if (!PreTranslateMessage(&m_msgCur)) {
      TranslateMessage(&m_msgCur);
      DispatchMessageW(&m_msgCur);
    }
  }
  return ExitInstance();
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
  auto params = ui::SplitCommandLine(m_lpCmdLine != nullptr ? std::u16string_view(m_lpCmdLine) : std::u16string_view());
  for (size_t i = 0; i < params.size(); ++i) {
    info.ParseParam(params[i].text.c_str(), params[i].flag ? TRUE : FALSE, i + 1 == params.size() ? TRUE : FALSE);
  }
}

void CWinApp::SetRegistryKey(LPCWSTR key) {
  m_registryKeyStore = key != nullptr ? key : u"";
  m_pszRegistryKey = m_registryKeyStore.c_str();
  m_profileNameStore = m_pszAppName != nullptr ? m_pszAppName : u"";
  m_pszProfileName = m_profileNameStore.c_str();
}

void CWinApp::SetRegistryKey(UINT stringId) {
  SetRegistryKey(LoadResString(AfxGetResourceHandle(), stringId).c_str());
}

void CWinApp::BeginWaitCursor() { ++g_waitCursor; }
void CWinApp::EndWaitCursor() {
  if (g_waitCursor > 0) --g_waitCursor;
}

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int show) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) {
    std::fprintf(stderr, "AfxWinMain: the program has no application object\n");
    return -1;
  }
  if (!ui::InitFromEnvironment()) return 3;  // an unreadable UI script fails like a failed one
  ui::detail::EnsureMsgFilterHook();
  app->InitMembers(instance, commandLine, show);
  int code;
  if (app->InitInstance()) {
    code = app->Run();
  } else {
    if (app->m_pMainWnd != nullptr && app->m_pMainWnd->m_hWnd != nullptr) app->m_pMainWnd->DestroyWindow();
    code = app->ExitInstance();
  }
  int scriptCode = ui::ScriptExitCode();
  return scriptCode != 0 ? scriptCode : code;
}

// ---- message boxes ----

int AfxMessageBox(LPCWSTR text, UINT type, UINT) { return ShowBox(text != nullptr ? text : u"", type, 0); }

int AfxMessageBox(UINT stringId, UINT type, UINT) {
  return ShowBox(LoadResString(AfxGetResourceHandle(), stringId), type, stringId);
}

// ---- frames ----

const RECT CFrameWnd::rectDefault = {CW_USEDEFAULT, CW_USEDEFAULT, 0, 0};

BOOL CFrameWnd::Create(LPCWSTR className, LPCWSTR title, DWORD style, const RECT& rect, CWnd* parent) {
  return CreateEx(0, className, title, style, rect, parent, 0, nullptr);
}

BOOL CFrameWnd::LoadFrame(UINT resourceId, DWORD style, CWnd* parent) {
  m_nIDHelp = resourceId;
  std::u16string title = LoadResString(AfxGetResourceHandle(), resourceId);
  size_t nl = title.find(u'\n');
  if (nl != std::u16string::npos) title.resize(nl);
  if (title.empty()) title = ui::detail::AppName();
  return Create(nullptr, title.c_str(), style & ~FWS_ADDTOTITLE, rectDefault, parent);
}

void CFrameWnd::PostNcDestroy() { delete this; }

// ---- wait cursor ----

CWaitCursor::CWaitCursor() { ++g_waitCursor; }
CWaitCursor::~CWaitCursor() {
  if (m_active && g_waitCursor > 0) --g_waitCursor;
}

namespace ui {
bool IsWaitCursor() { return g_waitCursor.load() > 0; }
}  // namespace ui
