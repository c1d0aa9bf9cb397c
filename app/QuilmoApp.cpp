#include "app/QuilmoApp.h"

#include <cstdlib>
#include <new>

#include "app/CommandLine.h"
#include "app/CredantIF.h"
#include "app/MainFrame.h"
#include "ce/com.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/window.h"
#include "ce/winsock.h"
#include "ce/wstring.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/DatabaseComponent.h"
#include "engine/CorvaneIF.h"
#include "engine/DatabaseVolumes.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/MailComponent.h"
#include "engine/RebootController.h"
#include "engine/RegistryComponent.h"
#include "engine/TaskHostLink.h"

namespace {

constexpr const WCHAR* kClass = u"CQuilmoApp";
constexpr WORD kWinsockVersion = 0x0101;
constexpr int kResumeLocation = 2000;
constexpr int kHardwareTextChars = 512;
constexpr DWORD kMainFrameStyle = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE;  // 0x00CF8000
// Given back to the allocator first when memory runs out, so that the
// handler can still log and show its box.
constexpr size_t kMemoryReserveBytes = 64 * 1024;

CQuilmoApp* g_pMemoryHandlerApp = nullptr;
char* g_pMemoryReserve = nullptr;

void NewHandler() {
  if (g_pMemoryHandlerApp) g_pMemoryHandlerApp->OnOutOfMemory();
  throw std::bad_alloc();
}

// The version text of a module's version resource; empty when it has none.
CString ModuleVersionText(HMODULE module) {
  VersionInfo info(module);
  return info.IsLoaded() ? CString(info.FileVersion) : CString();
}

}  // namespace

VersionNumbers ParseVersionNumbers(const CString& versionText) {
  WORD numbers[3] = {0, 0, 0};
  int start = 0;
  for (int i = 0; i < 3 && start <= versionText.GetLength(); ++i) {
    int comma = versionText.Find(u',', start);
    CString part = comma < 0 ? versionText.Mid(start) : versionText.Mid(start, comma - start);
    numbers[i] = static_cast<WORD>(_wtoi(part.Trim()));
    if (comma < 0) break;
    start = comma + 1;
  }
  return VersionNumbers{numbers[0], numbers[1], numbers[2]};
}

CQuilmoApp::CQuilmoApp() {
  GetGlobal();  // the global state outlives the application object
  System::PowerOnDevice();
}

CQuilmoApp::~CQuilmoApp() {
  if (g_pMemoryHandlerApp == this) {
    std::set_new_handler(nullptr);
    g_pMemoryHandlerApp = nullptr;
  }
}

void CQuilmoApp::Quit() { PostQuitMessage(0); }

void CQuilmoApp::ShowResErrorBox(DWORD stringId, LPCWSTR fallbackText) {
  CString text;
  if (LookupResString(stringId, text)) {
    Localizer::ResMessageBox(stringId, MB_OK | MB_ICONERROR);
    return;
  }
  ce::MessageBoxRequest request;
  CWnd* main = AfxGetMainWnd();
  request.owner = main ? main->m_hWnd : nullptr;
  request.text = fallbackText;
  request.caption = GetApplicationName().view();
  request.style = MB_OK | MB_ICONERROR;
  request.stringId = stringId;
  ce::ShowMessageBox(request);
}

BOOL CQuilmoApp::InitInstance() {
  PrepareProcess();
  // The name the class library's boxes show.
  m_csAppName = GetApplicationName();
  m_pszAppName = m_csAppName;
  LoadVersionNumbers();
  StartLog();
  PrepareOptions();
  if (!LoadResources()) return TRUE;
  if (!PrepareSupportFiles()) return FALSE;
  if (!m_bSupportFilesInstalled) StoreExePathInRegistry();
  if (BlockedByOtherSoftware()) return FALSE;
  CMainFrame* frame = CreateMainFrame();
  CQuilmoCommandLineInfo commandLine(this);
  ParseCommandLine(commandLine);
  Log(0, u"Parsed commandline", kClass, __LINE__);
  ShowMainFrame(frame);

  // The modes are dispatched by a later stage; the start-up ends here.
  Quit();
  DestroyMainFrame();
  return FALSE;
}

void CQuilmoApp::PrepareProcess() {
  AGlobal& g = GetGlobal();
  if (!g_pMemoryReserve) g_pMemoryReserve = static_cast<char*>(std::malloc(kMemoryReserveBytes));
  g_pMemoryHandlerApp = this;
  std::set_new_handler(&NewHandler);
  SHInitExtraControls();
  m_bComInitialized = SUCCEEDED(CoInitializeEx(nullptr, 0));

  // Sockets 1.1, and the pieces of the engine that the start-up owns.
  ce::ws::WSADATA wsaData{};
  m_nWSAResult = ce::ws::WSAStartup(kWinsockVersion, &wsaData);
  m_bWSAStarted = m_nWSAResult == 0;
  InstallHostLink(g);
  m_bHostLinkInstalled = true;
  GetGlobalFileSystemComponent();
  RegisterDatabaseVolumesComponent();
  RegisterDatabaseComponent();
  RegisterMailComponent();
  RegisterRegistryComponent();
  SetSecurityAgentFactory(ACredantIF::MakeFactory());
  SetCorvaneControl(&CorvaneTaskControl());
}

void CQuilmoApp::StartLog() {
  if (GetEnableLogging()) GetLog().Open(GetEnableLoggingCommitMode());
  Log(static_cast<DWORD>(m_nWSAResult), u"WSAStartup result: ", kClass, __LINE__);
  LogSystemInfo();
  LogPowerState();
}

void CQuilmoApp::PrepareOptions() {
  AGlobal& g = GetGlobal();
  g.g_bToolhelpAvailable = ARestoreOptionHandler::ToolhelpLibraryExists();
  g.g_RestoreOptions.SetDefaults(g.g_bToolhelpAvailable);
  ACloseSignal().SetCloseAllowed(true);
  LoadOptions();
}

bool CQuilmoApp::BlockedByOtherSoftware() {
  if (SecurityAgentDetected()) {
    Log(0, u"Credant has been detected but is not supported...exiting...", kClass, __LINE__);
    ShowResErrorBox(kStrUnsupportedSecurityAgent, kUnsupportedAgentText);
    Quit();
    return true;
  }
  if (System::IsHopperRunning()) {
    Quit();
    Log(0, u"Not OK to start - spider testing underway", kClass, __LINE__);
    return true;
  }
  return false;
}

CMainFrame* CQuilmoApp::CreateMainFrame() {
  SetRegistryKey(GetInstallFolderName());
  CMainFrame* frame = new CMainFrame;
  m_pMainWnd = frame;
  return frame;
}

void CQuilmoApp::ShowMainFrame(CMainFrame* frame) {
  frame->LoadFrame(kMainFrameResource, kMainFrameStyle);
  frame->SetWindowText(GetApplicationName());
  frame->ShowWindow(SW_SHOW);
  frame->UpdateWindow();
}

void CQuilmoApp::DestroyMainFrame() {
  CWnd* frame = m_pMainWnd;
  m_pMainWnd = nullptr;
  if (!frame) return;
  if (frame->m_hWnd)
    frame->DestroyWindow();  // the frame deletes itself once its window is gone
  else
    delete frame;
}

void CQuilmoApp::LoadVersionNumbers() {
  AGlobal& g = GetGlobal();
  CString programVersion = g.g_csProgramVersion;
  CString resourceVersion = g.g_csResourceVersion;

  CString text = ModuleVersionText(nullptr);
  if (!text.IsEmpty()) {
    VersionNumbers numbers = ParseVersionNumbers(text);
    g.g_wVersionMajor = numbers.major;
    g.g_wVersionMid = numbers.mid;
    g.g_wVersionMinor = numbers.minor;
    programVersion = System::FormatVersionText(text);
  }

  const CString dllName = GetApplicationDLLName();
  CString dllPath = System::GetWindowsFolder() + dllName;
  if (!System::FileExists(dllPath)) dllPath = System::GetProgramPath(false) + dllName;
  if (System::FileExists(dllPath)) {
    HMODULE module = LoadLibraryExW(dllPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module) {
      CString dllText = ModuleVersionText(module);
      if (!dllText.IsEmpty()) resourceVersion = System::FormatVersionText(dllText);
      FreeLibrary(module);
    } else {
      Localizer::TextMessageBox(kErrorLoadingDllText, MB_OK);
    }
  }
  g.SetVersionTexts(programVersion, resourceVersion);
}

void CQuilmoApp::LogSystemInfo() {
  Log(0, u"Getting Hardware and OS Info", kClass, __LINE__);
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  if (!GetVersionExW(&version)) {
    LogError(GetLastError(), u"GetVersionEx failed", kClass, __LINE__);
    return;
  }
  WCHAR hardware[kHardwareTextChars] = {};
  if (SystemParametersInfoW(SPI_GETOEMINFO, sizeof hardware, hardware, 0))
    Log(0, CString(u"Hardware (HWInfo) ") + hardware, kClass, __LINE__);
  else
    Log(GetLastError(), u"Hardware (HWInfo) not retrieved", kClass, __LINE__);
  CString text;
  text.Format(u"Major Version %d Minor Version %d Build Number %d Platform ID %d Additional information : %s",
              static_cast<int>(version.dwMajorVersion), static_cast<int>(version.dwMinorVersion),
              static_cast<int>(version.dwBuildNumber), static_cast<int>(version.dwPlatformId),
              static_cast<LPCWSTR>(version.szCSDVersion));
  Log(0, text, kClass, __LINE__);
}

void CQuilmoApp::LogPowerState() {
  WCHAR name[MAX_PATH] = {};
  DWORD flags = 0;
  if (!GetSystemPowerState(name, MAX_PATH, &flags)) {
    Log(0, u"Unable to determine system power state", kClass, __LINE__);
    return;
  }
  CString text;
  text.Format(u"System Power State: %s (%08X)", static_cast<LPCWSTR>(name), flags);
  Log(0, text, kClass, __LINE__);
}

void CQuilmoApp::LoadOptions() {
  AGlobal& g = GetGlobal();
  if (g.g_BackupOptions.Load()) {
    Log(g.g_BackupOptions.PackOptions(), u"Backup options: ", kClass, __LINE__);
  } else {
    g.g_BackupOptions.SetDefaults();
    Log(g.g_BackupOptions.PackOptions(), u"Default Backup options: ", kClass, __LINE__);
  }
  if (!g.g_RestoreOptions.Load()) g.g_RestoreOptions.SetDefaults(g.g_bToolhelpAvailable);
  if (!g.g_RemoteOptions.Load()) g.g_RemoteOptions.SetDefaults();
  g.UpdateExcludeOptions();
  g.g_ExcludeHandler.LoadExclusionList();
}

bool CQuilmoApp::LoadResources() {
  const CString programFolder = System::GetProgramPath(false);
  const CString dllName = GetApplicationDLLName();
  CString library = System::GetWindowsFolder() + dllName;
  if (!System::FileExists(library)) {
    Log(0, u"DLL not found in App Path, using standard search locations - " + programFolder + dllName, kClass,
        __LINE__);
    library = dllName;
  }
  if (!InitResources(library, nullptr, nullptr)) {
    Log(GetLastError(), u"Failed to load resources", kClass, __LINE__);
    ShowResErrorBox(kStrResourcesMissing, kResourcesMissingText);
    Quit();
    return false;
  }
  AfxSetResourceHandle(GetMainResourceLibrary());
  Log(0, u"Resources loaded", kClass, __LINE__);

  const CString customLibrary = programFolder + GetCustomResourceDllName();
  if (System::FileExists(customLibrary)) AddResourceLibrary(customLibrary);

  const CString customXml = programFolder + GetCustomResourceXmlName();
  if (System::FileExists(customXml) && !LoadResOverrides(customXml)) {
    LogError(0, u"Unable to load custom resource XML", kClass, __LINE__);
    Localizer::TextMessageBox(kBadResourceXmlText, MB_OK);
    Quit();
    return false;
  }
  return true;
}

bool CQuilmoApp::PrepareSupportFiles() {
  if (RebootController::Instance().HasPassedLocation(kResumeLocation)) return true;
  if (System::SupportFilesInWindows()) {
    if (GetGlobal().g_BackupOptions.GetOption()) {
      CWaitCursor wait;
      System::CopyProgramToStorageCard();
    }
    return true;
  }
  if (!System::InstallSupportFiles()) {
    ShowResErrorBox(kStrResourcesMissing, kResourcesMissingText);
    Quit();
    return false;
  }
  m_bSupportFilesInstalled = true;
  return true;
}

bool CQuilmoApp::StoreExePathInRegistry() {
  AGlobal& g = GetGlobal();
  WCHAR path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);

  ABackupRegistrySettings settings(kSettingsKeyKind);
  bool ok = true;
  if (GetBackupCardVersion() && m_bStorageCardEdition) ok = settings.WriteDWORD(u"bMDMCard", 1);
  ok = ok && settings.WriteString(u"csVersion", g.g_csProgramVersion) &&
       settings.WriteDWORD(u"dwMajor", g.g_wVersionMajor) && settings.WriteDWORD(u"dwMid", g.g_wVersionMid) &&
       settings.WriteDWORD(u"dwMinor", g.g_wVersionMinor);
  ok = ok && settings.Reopen(kSharedKeyKind) && settings.WriteString(GetBackupEXEPathValueName(), path);
  if (!ok) Log(0, u"CQuilmoApp::StoreExePathInRegistry() Error setting value", kClass, __LINE__);
  return ok;
}

bool CQuilmoApp::SecurityAgentDetected() {
  ACredantIF agent(nullptr);
  return agent.LoadLibrary();
}

void CQuilmoApp::OnOutOfMemory() {
  static bool handling = false;
  std::free(g_pMemoryReserve);
  g_pMemoryReserve = nullptr;
  if (!handling) {
    handling = true;
    Log(0, u"new() thrown bad_alloc", kClass, __LINE__);
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    const struct {
      LPCWSTR format;
      DWORD value;
    } lines[] = {
        {u"Utilisation: %d%%", status.dwMemoryLoad},
        {u"Total: %d bytes", status.dwTotalPhys},
        {u"Available: %d bytes", status.dwAvailPhys},
        {u"Total Page File: %d bytes", status.dwTotalPageFile},
        {u"Available Page File: %d bytes", status.dwAvailPageFile},
        {u"Total Virtual: %d bytes", status.dwTotalVirtual},
        {u"Available Virtual: %d bytes", status.dwAvailVirtual},
    };
    for (const auto& line : lines) {
      CString text;
      text.Format(line.format, static_cast<int>(line.value));
      Log(0, text, kClass, __LINE__);
    }
    DWORD storePages = 0, ramPages = 0, pageSize = 0;
    if (GetSystemMemoryDivision(&storePages, &ramPages, &pageSize)) {
      CString text;
      text.Format(u"GetSystemMemoryDivision() values: dwStorePages=%d, dwRamPages=%d, dwPageSize=%d",
                  static_cast<int>(storePages), static_cast<int>(ramPages), static_cast<int>(pageSize));
      Log(0, text, kClass, __LINE__);
    }
    ALog& log = GetLog();
    if (log.IsBuffering()) log.Flush(false);
    log.Close();
  }
  CWnd* main = AfxGetMainWnd();
  MessageBoxW(main ? main->m_hWnd : nullptr, kLowMemoryText, kLowMemoryCaption, MB_OK | MB_ICONERROR);
  ExitProcess(kOutOfMemoryExitCode);
}

int CQuilmoApp::ExitInstance() {
  // A start-up that ended before the reboot controller decided about the
  // log still writes what it logged (appended to the log as it stands).
  ALog& log = GetLog();
  if (log.IsBuffering()) log.Flush(false);
  log.Close();

  DestroyMainFrame();
  AfxSetResourceHandle(nullptr);
  UnloadResourceLibraries(true);
  SetSecurityAgentFactory(nullptr);
  SetCorvaneControl(nullptr);
  if (m_bHostLinkInstalled) {
    UninstallHostLink();
    m_bHostLinkInstalled = false;
  }
  if (m_bWSAStarted) {
    ce::ws::WSACleanup();
    m_bWSAStarted = false;
  }
  if (m_bComInitialized) {
    CoUninitialize();
    m_bComInitialized = false;
  }
  if (g_pMemoryHandlerApp == this) {
    std::set_new_handler(nullptr);
    g_pMemoryHandlerApp = nullptr;
  }
  return CWinApp::ExitInstance();
}
