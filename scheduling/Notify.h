// Scheduled backups: the schedule options in the registry (NotifyFormat.h),
// the next time worked out from them (a repeating period or the schedule
// file), and the timed user notification that starts the starter program
// with "ScheduledBackup" then. The starter reschedules after each start.
// Log lines of ANotify carry the class "ANotify"; the notification
// wrappers log without a class.
#pragma once

#include "ce/cstring.h"
#include "ce/notify.h"
#include "ce/types.h"

// The schedule period: the flags of the schedule value.
enum SchedulePeriod : DWORD {
  kPeriodOnce = 0,
  kPeriodDaily = 1,
  kPeriodWeekly = 2,
  kPeriodScheduleFile = 3,
};

// The period and the scheduled time (local).
class ANotifyValueObject {
 public:
  ANotifyValueObject() = default;
  ANotifyValueObject(DWORD flags, const SYSTEMTIME& time) : m_Flags(flags), m_Time(time) {}
  virtual ~ANotifyValueObject() = default;
  ANotifyValueObject(const ANotifyValueObject&) = default;
  ANotifyValueObject& operator=(const ANotifyValueObject&) = default;

  DWORD GetFlags() const { return m_Flags; }
  void SetFlags(DWORD flags) { m_Flags = flags; }
  const SYSTEMTIME& GetTime() const { return m_Time; }
  void SetTime(const SYSTEMTIME& time) { m_Time = time; }

 private:
  DWORD m_Flags = kPeriodOnce;
  SYSTEMTIME m_Time{};
};

class ANotify {
 public:
  // Period once, no time, disabled, no schedule file.
  ANotify() = default;
  ANotify(const ANotifyValueObject& value, DWORD enabled) : m_Value(value), m_Enabled(enabled) {}
  virtual ~ANotify() = default;

  ANotifyValueObject& GetValueObject() { return m_Value; }
  const ANotifyValueObject& GetValueObject() const { return m_Value; }
  bool IsEnabled() const { return m_Enabled != 0; }
  void SetEnabled(bool enabled) { m_Enabled = enabled ? 1 : 0; }
  const CString& GetScheduleFile() const { return m_ScheduleFile; }
  void SetScheduleFile(const CString& path) { m_ScheduleFile = path; }

  // Writes dwEnable, dwSchedule1, dwSchedule2, dwSchedulePeriod and
  // csScheduleDefPath in this order, stopping at the first failure.
  bool registerOptions();
  // Reads them back; every value must be there.
  bool getRegisteredOptions();
  bool LoadOptions() { return getRegisteredOptions(); }
  // Stores the options and registers the starter's ScheduledBackup
  // notification at the scheduled time (replacing earlier ones).
  bool registerNotification();
  // Writes dwEnable from the enabled flag (callers clear it first); when
  // that worked, removes the starter's ScheduledBackup notifications and,
  // when nothing else needs it, the wake-up entry.
  void removeNotification();
  // Moves the scheduled time past now by the period (for the schedule
  // file: to the file's next entry, whose options it stores for the next
  // run) and registers the notification again; a once-only schedule is
  // disabled and its notification removed.
  bool Reschedule();

 private:
  // The schedule file's next start after *time (its options stored under
  // "NextSchedule"); false when the file cannot be read. *found tells
  // whether it holds a later start.
  bool NextFromScheduleFile(SYSTEMTIME* time, bool* found);

  ANotifyValueObject m_Value;
  DWORD m_Enabled = 0;
  CString m_ScheduleFile;
};

// One user notification of the platform, as this program registers them:
// never with a user-notification block (nothing is shown).
class AUserNotification {
 public:
  AUserNotification() = default;
  virtual ~AUserNotification() = default;
  AUserNotification(const AUserNotification&) = delete;
  AUserNotification& operator=(const AUserNotification&) = delete;

  // Registers the trigger as a new notification; its handle, null on
  // failure.
  HANDLE SetNotification();
  HANDLE GetHandle() const { return m_Handle; }
  const CE_NOTIFICATION_TRIGGER& GetTrigger() const { return m_Trigger; }

  // Clears every notification whose trigger type is triggerType, whose
  // application and arguments equal these (exact case) and, for event
  // triggers, whose event is event. True only when one was cleared; a
  // failing clear stops at once with false.
  static bool RemoveScheduledApp(LPCWSTR application, LPCWSTR arguments, DWORD triggerType, DWORD event);

 protected:
  // Fills the trigger; the texts are kept here for it to point to.
  void SetTrigger(DWORD type, DWORD event, LPCWSTR application, LPCWSTR arguments, const SYSTEMTIME& start,
                  const SYSTEMTIME& end);

  CE_USER_NOTIFICATION m_UserNotification{};
  CE_NOTIFICATION_TRIGGER m_Trigger{};
  bool m_bHasUserNotification = false;
  HANDLE m_Handle = nullptr;

 private:
  CString m_Application;
  CString m_Arguments;
};

// A timed start of application with arguments at time (local).
class AUserTimedAppNotif : public AUserNotification {
 public:
  AUserTimedAppNotif(const SYSTEMTIME& time, LPCWSTR application, LPCWSTR arguments);
};

// A start of application with arguments on the platform event.
class AUserEventAppNotif : public AUserNotification {
 public:
  AUserEventAppNotif(DWORD event, LPCWSTR application, LPCWSTR arguments);
};
