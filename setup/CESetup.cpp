#include "setup/CESetup.h"

#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/time.h"
#include "ce/window.h"
#include "core/Configuration.h"
#include "core/ConfigurationFormat.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "setup/ScheduledNotifications.h"
#include "setup/SetupHooks.h"
#include "setup/SetupNames.h"

namespace names = SetupNames;

CCESetupDLLApp::CCESetupDLLApp() = default;

BOOL CCESetupDLLApp::InitInstance() { return CWinApp::InitInstance(); }

namespace Setup {

namespace {

// Room for the platform type text: 260 characters and the terminator.
constexpr int kPlatformTypeChars = MAX_PATH + 1;

CString PlatformType() {
  WCHAR text[kPlatformTypeChars] = {};
  if (!SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof(text), text, 0)) return CString();
  return CString(text);
}

bool GetWindowsFolder(CString* folder) {
  WCHAR path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPath(nullptr, path, CSIDL_WINDOWS, FALSE)) return false;
  *folder = path;
  return true;
}

void ShowError(HWND parent, LPCWSTR text, LPCWSTR caption) {
  MessageBoxW(parent, text, caption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

// Seeds the "Config" key from the install folder's configuration file; a
// file that cannot be read or written is shown and the defaults stay.
void ApplyConfiguration(HWND parent, LPCWSTR installFolder) {
  const CString file = JoinPath(installFolder, ConfigurationFormat::kFileName);
  AConfiguration config(GetInstallFolderName(), file, 0);
  if (config.Load() && config.WriteToRegistry()) return;
  CString text;
  text.Format(names::kConfigProblemFormat, config.GetError().GetString());
  MessageBoxW(parent, text, names::kCaption, MB_OK | MB_SETFOREGROUND);
}

// The "Shared" values: where the main program lies, no report yet.
void RecordProgramPath(LPCWSTR installFolder) {
  ABackupRegistrySettings shared(kSharedKeyKind);
  // Nothing to tell the user here: the main program records its own path
  // again at its start.
  (void)shared.WriteString(GetBackupEXEPathValueName(), JoinPath(installFolder, names::kMainProgramName));
  (void)shared.WriteDWORD(names::kReportFileExistsValue, 0);
}

}  // namespace

CString JoinPath(const CString& folder, const CString& name) {
  CString path = folder;
  if (!path.IsEmpty() && path[path.GetLength() - 1] != u'\\') path += u'\\';
  path += name;
  return path;
}

bool RunProgram(LPCWSTR program, LPCWSTR commandLine, PROCESS_INFORMATION* info) {
  *info = PROCESS_INFORMATION{};
  return CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, info) != FALSE;
}

bool FileExistsSimple(LPCWSTR path) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(path, &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

void QuitMerrow(bool deleteShortcut) {
  const UINT quit = RegisterWindowMessageW(names::kMerrowQuitMessage);
  // A device without the battery program has no window to tell.
  if (quit != 0) (void)PostMessageW(HWND_BROADCAST, quit, 0, 0);
  if (deleteShortcut) {
    WCHAR startup[MAX_PATH] = {};
    const CString shortcut =
        CString(SHGetSpecialFolderPath(nullptr, startup, CSIDL_STARTUP, FALSE) ? startup : u"") +
        names::kMerrowShortcut;
    // A shortcut that will not go only means the program starts at the
    // next boot; the install goes on.
    if (FileExistsSimple(shortcut)) (void)DeleteFileW(shortcut);
  }
  Sleep(names::kMerrowQuitWaitMs);
}

bool ReplaceResourceDll(HWND parent, LPCWSTR installFolder) {
  CString windows;
  if (!GetWindowsFolder(&windows)) {
    ShowError(parent, names::kNoWindowsFolderText, names::kCaption);
    windows.Empty();
  }
  const CString program = CString(installFolder) + names::kDetectorProgram;
  const CString commandLine = windows + names::kQvgaLibrary + u" " + windows + names::kVgaLibrary + u" " +
                              windows + names::kResourceLibrary;
  PROCESS_INFORMATION info{};
  if (!RunProgram(program, commandLine, &info)) {
    ShowError(parent, program, names::kCouldNotStartCaption);
    return false;
  }
  DWORD code = 0;
  const bool waited = WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0;
  const bool read = waited && GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  // The detector has done its work either way; a copy left behind would
  // only take room.
  (void)DeleteFileW(program);
  return read && code != 0;
}

int InstallInit(HWND parent, BOOL, BOOL, LPCWSTR) {
  if (PlatformType() != names::kPocketPcPlatform) {
    MessageBoxW(parent, names::kNotPocketPcText, names::kCaption, MB_OK | MB_ICONERROR);
    return SetupHooks::kInstallInitCancel;
  }
  QuitMerrow(true);
  return SetupHooks::kInstallInitContinue;
}

int InstallExit(HWND parent, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles, WORD failedRegKeys,
                WORD failedRegValues, WORD failedShortcuts) {
  if (failedDirs || failedFiles || failedRegKeys || failedRegValues || failedShortcuts)
    return SetupHooks::kInstallExitUninstall;
  const LPCWSTR folder = installFolder ? installFolder : u"";
  ApplyConfiguration(parent, folder);
  RecordProgramPath(folder);
  if (!ReplaceResourceDll(parent, folder)) {
    ShowError(parent, names::kReplaceFailedText, names::kCaption);
    return SetupHooks::kInstallExitUninstall;
  }
  return SetupHooks::kInstallExitDone;
}

int UninstallInit(HWND, LPCWSTR) {
  QuitMerrow(true);
  RemoveScheduledNotifications();
  return SetupHooks::kUninstallInitContinue;
}

int UninstallExit(HWND) {
  CString windows;
  if (GetWindowsFolder(&windows)) {
    // Files already gone are what removal wants.
    (void)DeleteFileW(JoinPath(windows, names::kStarterName));
    (void)DeleteFileW(JoinPath(windows, names::kResourceLibraryName));
  }
  return SetupHooks::kUninstallExitDone;
}

}  // namespace Setup
