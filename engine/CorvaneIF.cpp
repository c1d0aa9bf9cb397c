#include "engine/CorvaneIF.h"

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/window.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/Path.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/System.h"

namespace {

constexpr const WCHAR* kClass = u"ACorvaneIF";

void ShowSettingsProblem() { Localizer::ResMessageBox(ACorvaneIF::kStrSettingsProblem, MB_OK | MB_ICONWARNING); }

}  // namespace

bool ACorvaneIF::IsRunning() {
  return System::IsProcessRunning(kCorvaneExe) || System::IsProcessRunning(GetCorvaneEXEName());
}

void ACorvaneIF::LoadLissentPath() {
  ABackupRegistrySettings settings(kSettingsKeyKind, kSubkey);
  if (settings.ReadString(kPathValue, m_csLissentPath)) return;
  Log(0, u"Couldn't find Lissent EXE path in registry, trying old settings", kClass, __LINE__);
  ABackupRegistrySettings root(kRootKeyKind);
  if (root.ReadString(kOldPathValue, m_csLissentPath)) return;
  m_csLissentPath = GetLocalCorvaneEXEPath();
  Log(0, u"Couldn't find CorvaneEXEPath in registry, using default: " + m_csLissentPath, kClass, __LINE__);
}

void ACorvaneIF::LoadStartupSetting() {
  LoadLissentPath();
  ABackupRegistrySettings settings(kSettingsKeyKind, kSubkey);
  DWORD value = 0;
  if (!settings.ReadDWORD(kOnStartupValue, value)) {
    value = 0;
    Log(0, u"No OnStartup value found, defaulting to off", kClass, __LINE__);
    ShowSettingsProblem();
  }
  m_bOnStartup = static_cast<BYTE>(value != 0);
  CString text;
  text.Format(u"Startup value of %d set to %d", static_cast<int>(value), static_cast<int>(m_bOnStartup));
  Log(0, text, kClass, __LINE__);
}

bool ACorvaneIF::WriteOnStartup(BYTE value, LPCWSTR failureText) {
  ABackupRegistrySettings settings(kSettingsKeyKind, kSubkey);
  if (settings.WriteDWORD(kOnStartupValue, value)) return true;
  LogError(GetLastError(), failureText, kClass, __LINE__);
  ShowSettingsProblem();
  return false;
}

CString ACorvaneIF::StartCommandLine() const {
  return CString(u"/run \"") + m_csLissentPath + u"\" /args \"" + kInitialArgument + u"\"";
}

bool ACorvaneIF::StartLissent() {
  const CString starter = System::GetQuilmoProgramPath(kStarterExe);
  const CString commandLine = StartCommandLine();
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(starter, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info)) {
    Log(GetLastError(), u"Error starting Lissent" + m_csLissentPath, kClass, __LINE__);
    Localizer::ResMessageBox(kStrStartFailed, MB_OK | MB_ICONHAND);
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

void ACorvaneIF::RequestQuit() {
  for (LPCWSTR name : {kLissentQuitMessage, kCorvaneQuitMessage}) {
    const UINT message = RegisterWindowMessageW(name);
    // A program that cannot be told simply keeps running; the caller
    // watches for that.
    if (message) (void)PostMessageW(HWND_BROADCAST, message, 0, 0);
  }
}

void ACorvaneIF::Enable() {
  m_bOnStartup = 1;
  // A setting that could not be written was shown; Lissent still starts.
  (void)WriteOnStartup(1, u"Couldn't create Lissent registry key");
  if (m_csLissentPath.IsEmpty()) LoadLissentPath();
  if (IsRunning()) {
    Log(0, u"Lissent already running", kClass, __LINE__);
    return;
  }
  (void)StartLissent();  // a failure was logged and shown
}

void ACorvaneIF::Disable() {
  m_bOnStartup = 0;
  (void)WriteOnStartup(0, u"Couldn't create Corvane registry key");  // shown when it fails
  if (IsRunning())
    RequestQuit();
  else
    Log(0, u"Lissent not running", kClass, __LINE__);
}

bool ACorvaneTaskControl::IsInstalled() { return CorvaneProgramExists(); }

bool ACorvaneTaskControl::IsRunning() { return ACorvaneIF::IsRunning(); }

void ACorvaneTaskControl::RequestStop() { ACorvaneIF::RequestQuit(); }

void ACorvaneTaskControl::Start() {
  ACorvaneIF corvane;
  corvane.LoadLissentPath();
  (void)corvane.StartLissent();  // a failure was logged and shown; the restore goes on
}

ACorvaneTaskControl& CorvaneTaskControl() {
  static ACorvaneTaskControl control;
  return control;
}
