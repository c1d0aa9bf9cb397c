#include "scheduling/MerrowIF.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/window.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "core/System.h"
#include "scheduling/Notify.h"
#include "scheduling/NotifyFormat.h"
#include "scheduling/WakeUpService.h"

namespace {

namespace nf = NotifyFormat;
namespace mn = MerrowNames;

const WCHAR kClass[] = u"AMerrowIF";

constexpr DWORD kMerrowFailedString = 57638;
constexpr DWORD kShortcutFailedString = 57639;
constexpr int64_t kSecondsPerMinute = 60;

}  // namespace

bool BroadcastRegisteredMessage(LPCWSTR name) {
  const UINT message = RegisterWindowMessageW(name);
  return message != 0 && PostMessageW(HWND_BROADCAST, message, 0, 0);
}

AMerrowIF::AMerrowIF()
    : m_ShortcutPath(GetStartupFolder() + mn::kShortcutName),
      m_ProgramPath(CString(nf::kWindowsFolder) + nf::kMerrowExe) {}

CString AMerrowIF::GetStartupFolder() {
  WCHAR path[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPath(nullptr, path, CSIDL_STARTUP, FALSE)) return CString();
  return CString(path);
}

bool AMerrowIF::IsMerrowRunning() { return System::IsProcessRunning(nf::kMerrowExe); }

DWORD AMerrowIF::GetThreshold() {
  ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
  DWORD value = 0;
  if (!settings.ReadDWORD(mn::kThreshold, value)) {
    Log(GetLastError(), u"AMerrowIF() Error retrieving threshold value", kClass, __LINE__);
    return mn::kDefaultThreshold;
  }
  return value;
}

bool AMerrowIF::SetThreshold(DWORD value) {
  ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
  if (settings.WriteDWORD(mn::kThreshold, value)) return true;
  LogError(GetLastError(), u"AMerrowIF() Error setting threshold value", kClass, __LINE__);
  return false;
}

bool AMerrowIF::GetAutoBackup() {
  ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
  bool value = false;
  if (!settings.ReadBool(mn::kAutoBackup, value)) {
    Log(GetLastError(), u"AMerrowIF() Error retrieving AutoBackup value", kClass, __LINE__);
    return false;
  }
  return value;
}

bool AMerrowIF::SetAutoBackup(bool value) {
  m_bAutoBackup = value;
  ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
  if (settings.WriteBool(mn::kAutoBackup, value)) return true;
  LogError(GetLastError(), u"AMerrowIF() Error setting AutoBackup value", kClass, __LINE__);
  return false;
}

bool AMerrowIF::SetEnabled(bool value) {
  ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
  if (settings.WriteBool(mn::kEnabled, value)) return true;
  LogError(GetLastError(), u"AMerrowIF() Error setting Enabled value", kClass, __LINE__);
  return false;
}

bool AMerrowIF::IsEnabled() {
  CheckConsistency();  // a failed clean-up leaves what the shortcut says
  return System::FileExists(m_ShortcutPath);
}

bool AMerrowIF::CheckConsistency() {
  const bool running = IsMerrowRunning();
  const bool shortcut = System::FileExists(m_ShortcutPath);
  if (running != shortcut) return Disable();
  return true;
}

bool AMerrowIF::FailFeature(DWORD stringId) {
  Disable();  // what it could not undo it logged
  Localizer::ResMessageBox(stringId, MB_OK | MB_ICONERROR);
  return false;
}

bool AMerrowIF::Enable() {
  const CString command = CString(u"/run \"") + m_ProgramPath + u"\"";
  if (!IsMerrowRunning()) {
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nf::kStarterExe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
      LogError(GetLastError(), CString(u"Error starting Merrow ") + m_ProgramPath, kClass, __LINE__);
      return FailFeature(kMerrowFailedString);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  if (!System::FileExists(m_ShortcutPath)) {
    const CString target =
        CString(nf::kStarterExe) + u" " + command + u" /args \"" + mn::kStartUpArgument + u"\"";
    if (!SHCreateShortcut(m_ShortcutPath, target)) {
      LogError(GetLastError(), u"Error creating Merrow startup shortcut", kClass, __LINE__);
      return FailFeature(kShortcutFailedString);
    }
  }
  if (!DoAutoBackupScheduling()) {
    LogError(0, u"DoAutoBackupScheduling returned false", kClass, __LINE__);
    return false;
  }
  return true;
}

bool AMerrowIF::DoAutoBackupScheduling() {
  AWakeUpServiceIF wakeUp;
  if (!m_bAutoBackup) return wakeUp.UnSchedule(true);
  if (!ScheduleForceCheck()) {
    LogError(0, u"Error scheduling Merrow Force Check", kClass, __LINE__);
    return FailFeature(kMerrowFailedString);
  }
  if (!wakeUp.Schedule()) {
    LogError(0, u"Error scheduling Merrow Wake Up Check", kClass, __LINE__);
    return FailFeature(kMerrowFailedString);
  }
  return true;
}

bool AMerrowIF::ScheduleForceCheck() {
  const int folderEnd = m_ProgramPath.ReverseFind(u'\\');
  const CString application = m_ProgramPath.Left(folderEnd + 1) + nf::kStarterExe;
  AUserNotification::RemoveScheduledApp(application, nf::kBatteryForceCheckWord, nf::kTriggerTimed, 0);

  ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
  DWORD minutes = 0;
  if (!settings.ReadDWORD(mn::kMinutesToWait, minutes)) {
    Log(0, u"Using default MinutesToWaitBeforeForceCheck value", kClass, __LINE__);
    minutes = mn::kDefaultMinutesToWait;
  }
  if (minutes < mn::kMinMinutesToWait) minutes = mn::kMinMinutesToWait;

  const ADateTime when = System::GetLocalTimeNow() + static_cast<int64_t>(minutes) * kSecondsPerMinute;
  SYSTEMTIME time{};
  when.GetAsSystemTime(&time);  // a time out of range fails the registration below
  AUserTimedAppNotif notification(time, application, nf::kBatteryForceCheckWord);
  if (notification.SetNotification() == nullptr) {
    LogError(GetLastError(), u"ScheduleForceCheck() SetNotification() failed", kClass, __LINE__);
    return false;
  }
  return true;
}

bool AMerrowIF::Disable() {
  if (IsMerrowRunning() && !BroadcastRegisteredMessage(mn::kQuitMessage))
    LogError(GetLastError(), u"AMerrowIF() Error telling Merrow to quit", kClass, __LINE__);
  if (System::FileExists(m_ShortcutPath) && !DeleteFileW(m_ShortcutPath)) {
    LogError(GetLastError(), CString(u"DeleteFileW( m_ShortcutPath) failed ") + m_ShortcutPath, kClass, __LINE__);
    return false;
  }
  AWakeUpServiceIF wakeUp;
  return wakeUp.UnSchedule(true);
}

bool AMerrowIF::SignalUpdateSettings() {
  if (IsMerrowRunning() && !BroadcastRegisteredMessage(mn::kUpdateSettingsMessage))
    LogError(GetLastError(), u"AMerrowIF() Error telling Merrow about new settings", kClass, __LINE__);
  return DoAutoBackupScheduling();
}
