#include "scheduling/Notify.h"

#include <memory>
#include <vector>

#include "ce/errors.h"
#include "ce/system.h"
#include "ce/time.h"
#include "core/DateTime.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/ProgramGlobals.h"
#include "core/RegistrySettings.h"
#include "core/System.h"
#include "scheduling/NotifyFormat.h"
#include "scheduling/ScheduleList.h"
#include "scheduling/UnattendedBackup.h"
#include "scheduling/WakeUpService.h"

namespace {

namespace nf = NotifyFormat;

const WCHAR kClass[] = u"ANotify";

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int kHoursPerDay = 24;
constexpr int kScheduleFileChars = MAX_PATH;

CString Text(const ADateTime& t) {
  SYSTEMTIME st{};
  if (!t.GetAsSystemTime(&st)) st = SYSTEMTIME{};
  CString s;
  s.Format(u"%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
  return s;
}

bool OutOfRange() {
  LogError(0, u"ANotify::Reschedule() time out of range", kClass, __LINE__);
  return false;
}

// The hours from `from` to `to` on a 24-hour dial, the short way round
// (-12..12): 0 -> 23 is -1, not 23.
int HourShift(int from, int to) {
  int shift = to - from;
  if (shift > kHoursPerDay / 2) shift -= kHoursPerDay;
  if (shift < -kHoursPerDay / 2) shift += kHoursPerDay;
  return shift;
}

// The same local time of day `days` calendar days after local.
bool AddCalendarDays(const SYSTEMTIME& local, int days, SYSTEMTIME* out) {
  FILETIME ft{};
  if (!SystemTimeToFileTime(&local, &ft)) return false;
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) +
                         static_cast<uint64_t>(days) * kSecondsPerDay * 10000000u;
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  return FileTimeToSystemTime(&ft, out);
}

// The instant from which a scheduled local time counts as passed. A time
// the clock skips when it springs forward is started by the platform as
// the clock passes it, so it counts as passed from the change on (the
// platform's reading of such a time lies an hour after the change).
ADateTime PassedFrom(const SYSTEMTIME& local) {
  ADateTime t(local);
  const int readHour = t.GetHour();
  if (readHour != local.wHour) t += HourShift(readHour, local.wHour) * kSecondsPerHour;
  return t;
}

CString StarterPath() { return CString(nf::kWindowsFolder) + nf::kStarterExe; }

// The platform's text of an error number.
CString ErrorText(DWORD code) {
  WCHAR buf[256] = {};
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                     nullptr, code, 0, buf, 256, nullptr) == 0)
    return System::ErrorCodeText(code);
  return CString(buf);
}

// Sets or clears an option from a schedule-file entry's tri-state: set
// exactly when the entry said "true"; an absent one is cleared.
void ApplyEntryOption(ABackupOptionHandler& handler, int option, DWORD state, LPCWSTR logFormat) {
  if (state == ScheduleFormat::kOptionTrue || state == ScheduleFormat::kOptionOther) {
    CString text;
    text.Format(logFormat, static_cast<int>(state));
    Log(0, text, kClass, __LINE__);
  }
  handler.SetOptionOn(option, state == ScheduleFormat::kOptionTrue);
}

}  // namespace

// ---- ANotify ----------------------------------------------------------------

bool ANotify::registerOptions() {
  FILETIME ft{};
  if (!SystemTimeToFileTime(&m_Value.GetTime(), &ft)) {
    LogError(GetLastError(), u"Error on SystemTimeToFileTime", kClass, __LINE__);
    return false;
  }
  ABackupRegistrySettings settings(kSettingsKeyKind, SchedulerNames::kSchedulingKey);
  if (!settings.WriteDWORD(SchedulerNames::kEnable, m_Enabled) ||
      !settings.WriteDWORD(SchedulerNames::kSchedule1, ft.dwHighDateTime) ||
      !settings.WriteDWORD(SchedulerNames::kSchedule2, ft.dwLowDateTime) ||
      !settings.WriteDWORD(SchedulerNames::kSchedulePeriod, m_Value.GetFlags()) ||
      !settings.WriteString(SchedulerNames::kScheduleDefPath, m_ScheduleFile)) {
    LogError(GetLastError(), u"ANotify::registerOptions() set values failed", kClass, __LINE__);
    return false;
  }
  return true;
}

bool ANotify::getRegisteredOptions() {
  ABackupRegistrySettings settings(kSettingsKeyKind, SchedulerNames::kSchedulingKey);
  DWORD enabled = 0, high = 0, low = 0, period = 0;
  CString path;
  if (!settings.ReadDWORD(SchedulerNames::kEnable, enabled) || !settings.ReadDWORD(SchedulerNames::kSchedule1, high) ||
      !settings.ReadDWORD(SchedulerNames::kSchedule2, low) ||
      !settings.ReadDWORD(SchedulerNames::kSchedulePeriod, period) ||
      !settings.ReadString(SchedulerNames::kScheduleDefPath, path, kScheduleFileChars)) {
    LogError(GetLastError(), u"ANotify::getRegisteredOptions() open key failed", kClass, __LINE__);
    return false;
  }
  const FILETIME ft{low, high};
  SYSTEMTIME time{};
  if (!FileTimeToSystemTime(&ft, &time)) {
    LogError(GetLastError(), u"ANotify::getRegisteredOptions() bad scheduled time", kClass, __LINE__);
    return false;
  }
  m_Value = ANotifyValueObject(period, time);
  m_Enabled = enabled;
  m_ScheduleFile = path;
  return true;
}

bool ANotify::registerNotification() {
  const CString application = StarterPath();
  const SYSTEMTIME& t = m_Value.GetTime();
  CString text;
  text.Format(u"%u/%u/%u  %u:%u:%u:%u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  Log(0, text, kClass, __LINE__);
  if (!registerOptions()) return false;
  if (!AUserNotification::RemoveScheduledApp(application, nf::kScheduledBackupWord, nf::kTriggerTimed, 0))
    Log(0, u"ANotify::registerNotification() RemoveScheduledApp() returned FALSE", kClass, __LINE__);
  AUserTimedAppNotif notification(t, application, nf::kScheduledBackupWord);
  if (notification.SetNotification() == nullptr) {
    LogError(GetLastError(), u"ANotify::registerNotification() SetNotification() failed", kClass, __LINE__);
    return false;
  }
  return true;
}

void ANotify::removeNotification() {
  Log(0, u"Removing notification", kClass, __LINE__);
  ABackupRegistrySettings settings(kSettingsKeyKind, SchedulerNames::kSchedulingKey);
  if (!settings.WriteDWORD(SchedulerNames::kEnable, m_Enabled)) {
    LogError(GetLastError(), u"ANotify::removeNotification() Error setting Enable", kClass, __LINE__);
    return;
  }
  AWakeUpServiceIF wakeUp;
  wakeUp.UnSchedule(false);  // always true: what it could not remove it logs
}

bool ANotify::NextFromScheduleFile(SYSTEMTIME* time, bool* found) {
  ABackupOptionHandler handler;
  handler.Load();  // what is not stored keeps its default
  CString text;
  text.Format(u"Using base options %d", static_cast<int>(handler.PackOptions()));
  Log(0, text, kClass, __LINE__);

  AScheduleList list(m_ScheduleFile);
  if (!list.Load()) {
    LogError(0, u"Failed to load schedule list for reschedule", kClass, __LINE__);
    return false;
  }
  ADateTime next;
  CString fileName;
  ScheduleItemOptions options;
  *found = list.GetNextScheduleAfter(ADateTime(*time), next, fileName, options);
  if (!*found) return true;

  ApplyEntryOption(handler, kOptionCompress, options.compress, u"Compress options set to %d");
  ApplyEntryOption(handler, kOptionAppendDate, options.autoname, u"AutoName options set to %d");
  ApplyEntryOption(handler, kOptionClosePrograms, options.stopprocesses, u"StopProcesses options set to %d");
  const DWORD word = handler.PackOptions();
  text.Format(u"After apply options %d", static_cast<int>(word));
  Log(0, text, kClass, __LINE__);

  AUnattendedBackup unattended;
  unattended.UseNextScheduleKey();
  // A failure is logged by the store; the start still gets registered.
  unattended.StoreScheduledBackupOptions(word, fileName, options.reset == ScheduleFormat::kOptionTrue,
                                         options.remotemode == ScheduleFormat::kOptionTrue, options.inclusionList);
  if (!next.GetAsSystemTime(time)) return false;
  return true;
}

bool ANotify::Reschedule() {
  // at: the next start's local fields; t: the same as an instant, for the
  // arithmetic of the daily period and the schedule file.
  SYSTEMTIME at = m_Value.GetTime();
  ADateTime t(at);
  const ADateTime now = System::GetLocalTimeNow();
  Log(0, CString(u"LastTime: ") + Text(t), kClass, __LINE__);
  Log(0, CString(u"CurrentTime: ") + Text(now), kClass, __LINE__);

  const DWORD period = m_Value.GetFlags();
  if (period == kPeriodOnce) {
    Log(0, u"once only", kClass, __LINE__);
    SetEnabled(false);
    removeNotification();
    return true;
  }
  if (period > kPeriodScheduleFile) {
    // The program stores no other period: such a schedule cannot go on.
    CString text;
    text.Format(u"Unknown schedule period %u, schedule removed", period);
    LogError(0, text, kClass, __LINE__);
    SetEnabled(false);
    removeNotification();
    return false;
  }

  while (PassedFrom(at) <= now) {
    Log(0, u"newScheduleTime <= System::GetLocalTime()", kClass, __LINE__);
    if (period == kPeriodWeekly) {
      Log(0, u"WEEKLY Schedule", kClass, __LINE__);
      // A week on in the calendar: the start keeps its hour across a
      // daylight-saving change, also in an hour the clock skips that day.
      if (!AddCalendarDays(at, 7, &at)) return OutOfRange();
      t = ADateTime(at);
      CString text;
      text.Format(u"Anto: Added 1: %d/%d/%d/%d/%d/%d/%d", at.wHour, at.wMinute, at.wSecond, at.wDay,
                  at.wDayOfWeek + 1, at.wMonth, at.wYear);
      Log(0, text, kClass, __LINE__);
      continue;
    }
    if (period == kPeriodDaily) {
      t += kSecondsPerDay;
      Log(0, u"DAILY Schedule", kClass, __LINE__);
    } else {
      SYSTEMTIME st{};
      bool found = false;
      if (!t.GetAsSystemTime(&st) || !NextFromScheduleFile(&st, &found)) return false;
      if (!found) {
        removeNotification();
        return true;
      }
      t = ADateTime(st);
    }
    if (!t.GetAsSystemTime(&at)) return OutOfRange();
  }

  const SYSTEMTIME next = at;
  CString text;
  text.Format(u"Determined %04d-%02d-%02d %02d:%02d:%02d", next.wYear, next.wMonth, next.wDay, next.wHour,
              next.wMinute, next.wSecond);
  Log(0, text, kClass, __LINE__);
  m_Value.SetTime(next);
  Log(0, u"re-register in reshedule notification", kClass, __LINE__);
  return registerNotification();
}

// ---- AUserNotification -------------------------------------------------------

void AUserNotification::SetTrigger(DWORD type, DWORD event, LPCWSTR application, LPCWSTR arguments,
                                   const SYSTEMTIME& start, const SYSTEMTIME& end) {
  m_Application = application ? application : u"";
  m_Arguments = arguments ? arguments : u"";
  m_Trigger = CE_NOTIFICATION_TRIGGER{};
  m_Trigger.dwSize = nf::kTriggerSize;
  m_Trigger.dwType = type;
  m_Trigger.dwEvent = event;
  m_Trigger.lpszApplication = m_Application.GetBuffer();
  m_Trigger.lpszArguments = m_Arguments.GetBuffer();
  m_Trigger.stStartTime = start;
  m_Trigger.stEndTime = end;
}

HANDLE AUserNotification::SetNotification() {
  m_Handle = CeSetUserNotificationEx(nullptr, &m_Trigger, m_bHasUserNotification ? &m_UserNotification : nullptr);
  return m_Handle;
}

bool AUserNotification::RemoveScheduledApp(LPCWSTR application, LPCWSTR arguments, DWORD triggerType, DWORD event) {
  DWORD count = 0;
  CeGetUserNotificationHandles(nullptr, 0, &count);  // the count only
  std::vector<HANDLE> handles(count);
  if (count > 0 && !CeGetUserNotificationHandles(handles.data(), count, &count)) {
    // Registered meanwhile: take what fitted.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    count = static_cast<DWORD>(handles.size());
  }
  handles.resize(count);

  const CString wantedApp(application ? application : u"");
  const CString wantedArgs(arguments ? arguments : u"");
  bool cleared = false;
  for (HANDLE h : handles) {
    DWORD needed = 0;
    CeGetUserNotification(h, 0, &needed, nullptr);  // the size only
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !CeGetUserNotification(h, needed, &needed, buffer.data())) {
      const DWORD error = GetLastError();
      CString text;
      text.Format(u"hNotif: 0x%x cBufferSize: %d", static_cast<unsigned>(reinterpret_cast<uintptr_t>(h)),
                  static_cast<int>(needed));
      Log(error, text, nullptr, __LINE__);
      text.Format(u"%s: %s", u"CeGetUserNotification", ErrorText(error).GetString());
      Log(error, text, nullptr, __LINE__);
      continue;
    }
    const auto* header = reinterpret_cast<const CE_NOTIFICATION_INFO_HEADER*>(buffer.data());
    const CE_NOTIFICATION_TRIGGER* trigger = header->pcent;
    if (!trigger || !trigger->lpszApplication || !*trigger->lpszApplication) {
      Log(0, u"null application name found- continuing", nullptr, __LINE__);
      continue;
    }
    const CString app(trigger->lpszApplication);
    const CString args(trigger->lpszArguments ? trigger->lpszArguments : u"");
    if (app == wantedApp) {
      CString text;
      text.Format(u"%s=%d, dwtype=%d", u"notifHeader->pcent->dwType", static_cast<int>(trigger->dwType),
                  static_cast<int>(triggerType));
      Log(0, text, nullptr, __LINE__);
    }
    if (trigger->dwType != triggerType || app != wantedApp || args != wantedArgs) continue;
    if (triggerType == nf::kTriggerEvent && trigger->dwEvent != event) continue;
    if (!CeClearUserNotification(h)) {
      Log(GetLastError(), u"RemoveScheduledApp return FALSE", nullptr, __LINE__);
      return false;
    }
    cleared = true;
  }
  return cleared;
}

AUserTimedAppNotif::AUserTimedAppNotif(const SYSTEMTIME& time, LPCWSTR application, LPCWSTR arguments) {
  SetTrigger(nf::kTriggerTimed, 0, application, arguments, time, time);
}

AUserEventAppNotif::AUserEventAppNotif(DWORD event, LPCWSTR application, LPCWSTR arguments) {
  SetTrigger(nf::kTriggerEvent, event, application, arguments, SYSTEMTIME{}, SYSTEMTIME{});
}
