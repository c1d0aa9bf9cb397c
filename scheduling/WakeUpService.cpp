#include "scheduling/WakeUpService.h"

#include "ce/errors.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/time.h"
#include "core/DateTime.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "scheduling/MerrowIF.h"
#include "scheduling/Notify.h"
#include "scheduling/NotifyFormat.h"

namespace {

namespace nf = NotifyFormat;
namespace wn = WakeUpNames;

const WCHAR kClass[] = u"AWakeUpServiceIF";

constexpr DWORD kTurnOffDelayMs = 5000;
constexpr BYTE kPowerKey = 0xDF;

CString StartupFolder() {
  WCHAR path[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPath(nullptr, path, CSIDL_STARTUP, FALSE)) return CString();
  return CString(path);
}

// A stamp as the program's date-time value (the stored local time taken
// as the device's local time).
bool ReadStamp(LPCWSTR subkey, ADateTime* out) {
  ABackupRegistrySettings settings(kSettingsKeyKind, subkey);
  DWORD high = 0, low = 0;
  if (!settings.ReadDWORD(wn::kStartTimeHigh, high) || !settings.ReadDWORD(wn::kStartTimeLow, low)) return false;
  const FILETIME ft{low, high};
  SYSTEMTIME st{};
  return FileTimeToSystemTime(&ft, &st) && ADateTime::FromLocalSystemTime(st, out);
}

}  // namespace

AWakeUpServiceIF::AWakeUpServiceIF()
    : m_StarterPath(CString(nf::kWindowsFolder) + nf::kStarterExe),
      m_UpdateShortcutPath(StartupFolder() + wn::kUpdateShortcutName) {
  Log(0, CString(u"Wake Up Service exe name is ") + m_StarterPath, kClass, __LINE__);
}

bool AWakeUpServiceIF::Schedule() {
  if (!AUserNotification::RemoveScheduledApp(m_StarterPath, nf::kAppRunAfterWakeupWord, nf::kTriggerEvent,
                                             nf::kWakeUpEvent))
    Log(0, u"UnSchedule() RemoveScheduledApp() failed - no scheduled jobs", kClass, __LINE__);
  AUserEventAppNotif notification(nf::kWakeUpEvent, m_StarterPath, nf::kAppRunAfterWakeupWord);
  if (notification.SetNotification() == nullptr) {
    LogError(GetLastError(), u"Schedule() CeSetUserNotificationEx() failed", kClass, __LINE__);
    return false;
  }
  return true;
}

bool AWakeUpServiceIF::UnSchedule(bool forceCheck) {
  const LPCWSTR word = forceCheck ? nf::kBatteryForceCheckWord : nf::kScheduledBackupWord;
  if (!AUserNotification::RemoveScheduledApp(m_StarterPath, word, nf::kTriggerTimed, 0))
    Log(0, u"UnSchedule() RemoveScheduledApp() returned false - no scheduled jobs", kClass, __LINE__);
  ANotify schedule;
  schedule.LoadOptions();  // unreadable options count as a schedule that is off
  if (schedule.IsEnabled()) return true;
  if (!forceCheck) {
    AMerrowIF merrow;
    if (merrow.IsEnabled()) return true;
  }
  if (!AUserNotification::RemoveScheduledApp(m_StarterPath, nf::kAppRunAfterWakeupWord, nf::kTriggerEvent,
                                             nf::kWakeUpEvent))
    Log(0, u"UnSchedule() RemoveScheduledApp() returned false - no scheduled jobs", kClass, __LINE__);
  return true;
}

bool WriteStartTime(LPCWSTR subkey) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  FILETIME ft{};
  if (!SystemTimeToFileTime(&now, &ft)) return false;
  ABackupRegistrySettings settings(kSettingsKeyKind, subkey);
  return settings.WriteDWORD(wn::kStartTimeHigh, ft.dwHighDateTime) &&
         settings.WriteDWORD(wn::kStartTimeLow, ft.dwLowDateTime);
}

bool IsWakeUpStart(LPCWSTR subkey) {
  ABackupRegistrySettings service(kSettingsKeyKind, wn::kWakeUpServiceKey);
  DWORD delta = wn::kDefaultWakeUpDelta;
  if (!service.ReadDWORD(wn::kWakeUpDelta, delta)) {
    Log(0, u"Error getting registry value WakeUpDelta - using default", kClass, __LINE__);
    delta = wn::kDefaultWakeUpDelta;
  }
  ADateTime wakeUp, start;
  if (!ReadStamp(wn::kWakeUpServiceKey, &wakeUp)) {
    Log(0, u"Error getting registry key WakeUpService value StartTime", kClass, __LINE__);
    return false;
  }
  if (!ReadStamp(subkey, &start)) {
    Log(0, u"Error getting registry key KeyToCheck value StartTime", kClass, __LINE__);
    return false;
  }
  return start - wakeUp < static_cast<int64_t>(delta);
}

void TurnDeviceOff() {
  Log(0, u"Turning device off", kClass, __LINE__);
  Sleep(kTurnOffDelayMs);
  keybd_event(kPowerKey, 0, 0, 0);
  keybd_event(kPowerKey, 0, KEYEVENTF_KEYUP, 0);
}
