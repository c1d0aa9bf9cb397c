// The application object of "Quilmo Backup.exe" and its start-up.
//
// InitInstance prepares the process (memory handler, sockets, settings,
// version numbers, log, resource libraries, support files, the registry
// record), refuses to run beside an unsupported security agent or the stress
// tool, creates the main frame, parses the command line and shows the frame.
// It returns false when its work is done (the quit message with code 0 is
// posted), so the class library goes straight to ExitInstance; it returns
// true only after a resource failure, with the quit message already posted.
// Log lines carry the class "CQuilmoApp".
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "ui/Mfc.h"

class CMainFrame;
class CQuilmoCommandLineInfo;

// The first three numbers of a version text ("6, 1, 2, 345"); a missing
// number is 0 and the fourth is not read.
struct VersionNumbers {
  WORD major = 0;
  WORD mid = 0;
  WORD minor = 0;
};
VersionNumbers ParseVersionNumbers(const CString& versionText);

class CQuilmoApp : public CWinApp {
 public:
  // The texts of the start-up's own boxes.
  static constexpr const WCHAR* kLowMemoryText = u"The device is low on system memory.";
  static constexpr const WCHAR* kLowMemoryCaption = u"Quilmo Backup";
  static constexpr const WCHAR* kBadResourceXmlText = u"Contact Quilmo Support - bad resource XML";
  static constexpr const WCHAR* kErrorLoadingDllText = u"Error loading dll";
  // Shown for string 65298 when the library that holds it did not load.
  static constexpr const WCHAR* kResourcesMissingText =
      u"The program's resources could not be loaded. Please reinstall the program.";
  static constexpr const WCHAR* kUnsupportedAgentText =
      u"A device security program that this product does not support is installed. The program will now close.";
  static constexpr DWORD kStrResourcesMissing = 65298;
  static constexpr DWORD kStrUnsupportedSecurityAgent = 134;
  static constexpr UINT kMainFrameResource = 128;
  // The signature that lifts the permission checks of command-line work.
  static constexpr const WCHAR* kAccessCode = u"3E9A7041C2B5F";
  static constexpr const WCHAR* kInvalidCommandLineText = u"Invalid command line parameter";
  static constexpr const WCHAR* kNoDeployOptionsText = u"Unable to find DeployOptions";
  static constexpr const WCHAR* kOldRegistryImage = u"\\temp\\registry.img";
  static constexpr int kOutOfMemoryExitCode = 11;

  // Clears the flags and the signature and switches the device power on.
  CQuilmoApp();
  ~CQuilmoApp() override;

  BOOL InitInstance() override;
  // Closes the log, frees the resource libraries and the sockets; the
  // base's exit code.
  int ExitInstance() override;

  // The allocation-failure handler: logs the memory status, shows the
  // low-memory box and ends the process with exit code 11.
  [[noreturn]] void OnOutOfMemory();

  // Version numbers and texts of the program and of the resource library.
  void LoadVersionNumbers();
  // Records the version (Settings key) and the program path (Shared key);
  // false (logged) when a write fails.
  bool StoreExePathInRegistry();
  // Logs the operating-system version and the hardware text.
  void LogSystemInfo();

  // What this run is, after the start-up: the second half of an operation
  // resumed after its reset, then one of the command-line, scheduled,
  // scheduling and interactive modes. Every mode ends with the quit posted.
  void DispatchModes();
  // The interactive main window: the property sheet the program installed
  // (app/MainSheetSeam.h); without one it logs so and returns.
  virtual void RunMainSheet();

  // Set by the command line ------------------------------------------------
  bool m_bEnableFileScheduling = false;  // "EnableFileScheduling"
  bool m_bDisableFileScheduling = false; // "DisableFileScheduling"
  bool m_bStartScheduling = false;       // "StartScheduling"
  CString m_csSignature;                 // the value after "Signature"

  // The storage-card edition (with the BackupCardVersion setting): records
  // "bMDMCard". Off unless a deployment turns it on.
  bool m_bStorageCardEdition = false;

 private:
  // Posts the quit message with code 0.
  static void Quit();
  // The memory handler, the shell's controls, the component object library,
  // sockets 1.1 and the engine's host link, components and outside agents.
  void PrepareProcess();
  // Opens the log (when enabled) and logs the sockets' start, the system
  // and the power state.
  void StartLog();
  // Whether the toolhelp library exists, the restore defaults that follow
  // from it, the close signal, the stored options.
  void PrepareOptions();
  // An unsupported security agent or the stress tool: true after the quit
  // was posted (and, for the agent, its box shown).
  bool BlockedByOtherSoftware();
  // The class library's registry key and the main frame object.
  CMainFrame* CreateMainFrame();
  // Loads the frame, titled with the application name, and shows it.
  void ShowMainFrame(CMainFrame* frame);
  // Loads the main resource library and the custom resources; false after
  // a failure was shown and the quit posted.
  bool LoadResources();
  // Support files and the copy to the storage card; false after a failure
  // was shown and the quit posted.
  bool PrepareSupportFiles();
  // The security agent's library loads and offers its request entry
  // (ACredantIF::LoadLibrary).
  bool SecurityAgentDetected();
  void LogPowerState();
  // Destroys the main frame (and its object) when there is one.
  void DestroyMainFrame();
  void LoadOptions();
  // Shows a resource string as an error box; when the string cannot be
  // found (its library did not load) the built-in fallback text instead.
  static void ShowResErrorBox(DWORD stringId, LPCWSTR fallbackText);

  // Modes (app/Modes.cpp) --------------------------------------------------
  void CleanUpOldRegistryFile();
  // The operation whose pre-operation reset has happened: false (logged)
  // when the state names no operation.
  bool ResumeOperation();
  // The permission settings against the command line (the access code
  // lifts them); false after the refusal was shown.
  bool CommandLineWorkPermitted();
  // The kiosk deployment's options and password; false after a failure was
  // shown (the run ends).
  bool PrepareKiosk();
  void EnableFileScheduling();
  void DisableFileScheduling();
  void RunScheduledBackup();
  void RunCommandLineBackup();
  void StartScheduling();
  void RunInteractive();
  // The command-line restore up to its reset (app/CommandLineRestore.cpp);
  // the interactive mode follows a reset request.
  void RunCommandLineRestore();

  CString m_csAppName;  // what m_pszAppName shows
  int m_nWSAResult = -1;
  bool m_bWSAStarted = false;
  bool m_bComInitialized = false;
  bool m_bHostLinkInstalled = false;
  bool m_bSupportFilesInstalled = false;
};
