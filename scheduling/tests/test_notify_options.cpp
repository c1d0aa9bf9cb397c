// Scheduled-backup options and their notification: the stored options,
// registering and removing the starter's notification, the matching rule
// of the removal, and rescheduling by period (weeks keep their hour across
// daylight-saving changes, days move with the clock), by the schedule file
// and for a once-only schedule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/OptionHandlers.h"
#include "core/ProgramGlobals.h"
#include "core/RegistrySettings.h"
#include "sched_fixture.h"
#include "scheduling/Notify.h"
#include "scheduling/NotifyFormat.h"
#include "scheduling/UnattendedBackup.h"
#include "scheduling/WakeUpService.h"
#include "testkit/LocalTime.h"
#include "testkit/NotificationList.h"

namespace {

using quilmo::test::NotificationTexts;
namespace names = SchedulerNames;

constexpr char kStarter[] = "\\Windows\\QuilmoStart.exe";
constexpr const char16_t* kScheduleFile = u"\\My Documents\\schedule.xml";

using quilmo::test::At;

std::string Scheduled(const char* when) { return std::string("timed ") + when + " " + kStarter + " ScheduledBackup"; }
const std::string kWakeUpEntry = std::string("event 11 ") + kStarter + " AppRunAfterWakeup";

class NotifyOptionsTest : public schedtest::DeviceTest {
 protected:
  explicit NotifyOptionsTest(const char* zone = "UTC0") : DeviceTest(zone) {}

  static ANotify Schedule(DWORD period, const SYSTEMTIME& at, const CString& file = CString()) {
    ANotify n(ANotifyValueObject(period, at), 1);
    n.SetScheduleFile(file);
    return n;
  }
  // Reschedules a stored schedule as the starter does and returns the
  // notifications afterwards.
  std::vector<std::string> Rescheduled(ANotify n, bool* result = nullptr) {
    EXPECT_TRUE(n.registerNotification());
    ANotify loaded;
    EXPECT_TRUE(loaded.LoadOptions());
    const bool ok = loaded.Reschedule();
    if (result) *result = ok;
    return NotificationTexts();
  }
  static DWORD Stored(LPCWSTR key, LPCWSTR name) {
    ABackupRegistrySettings settings(kSettingsKeyKind, key);
    DWORD v = 0xDEAD;
    settings.ReadDWORD(name, v);
    return v;
  }
};

class DstNotifyOptionsTest : public NotifyOptionsTest {
 protected:
  // 2024: forward on Sunday 10 March at 02:00, back on Sunday 3 November.
  DstNotifyOptionsTest() : NotifyOptionsTest(schedtest::kDstZone) {}
};

TEST_F(DstNotifyOptionsTest, OptionsStoreTheLocalTimeAsItStandsAndMustAllBeThere) {
  ANotify n = Schedule(kPeriodWeekly, At(2024, 7, 1, 2, 30), u"\\x.xml");
  ASSERT_TRUE(n.registerOptions());
  FILETIME ft{};
  const SYSTEMTIME at = At(2024, 7, 1, 2, 30);
  ASSERT_TRUE(SystemTimeToFileTime(&at, &ft));  // no zone conversion
  EXPECT_EQ(Stored(names::kSchedulingKey, names::kSchedule1), ft.dwHighDateTime);
  EXPECT_EQ(Stored(names::kSchedulingKey, names::kSchedule2), ft.dwLowDateTime);
  EXPECT_EQ(Stored(names::kSchedulingKey, names::kEnable), 1u);

  ANotify loaded;
  ASSERT_TRUE(loaded.LoadOptions());
  EXPECT_EQ(loaded.GetValueObject().GetFlags(), DWORD{kPeriodWeekly});
  EXPECT_EQ(loaded.GetValueObject().GetTime().wHour, 2);
  EXPECT_EQ(loaded.GetValueObject().GetTime().wMinute, 30);
  EXPECT_TRUE(loaded.IsEnabled());
  EXPECT_EQ(loaded.GetScheduleFile(), CString(u"\\x.xml"));

  ABackupRegistrySettings settings(kSettingsKeyKind, names::kSchedulingKey);
  ASSERT_TRUE(settings.DeleteValue(names::kScheduleDefPath));
  ANotify missing;
  EXPECT_FALSE(missing.LoadOptions());
  EXPECT_TRUE(Logged("E ANotify ")) << LogText();
  EXPECT_TRUE(Logged("ANotify::getRegisteredOptions() open key failed"));
}

TEST_F(NotifyOptionsTest, RegisteringReplacesTheEarlierNotification) {
  ANotify n = Schedule(kPeriodDaily, At(2024, 5, 6, 2, 0));
  ASSERT_TRUE(n.registerNotification());
  EXPECT_TRUE(Logged("L ANotify ")) << LogText();
  EXPECT_TRUE(Logged("2024/5/6  2:0:0:0"));
  n.GetValueObject().SetTime(At(2024, 5, 7, 3, 15));
  ASSERT_TRUE(n.registerNotification());
  EXPECT_EQ(NotificationTexts(), std::vector<std::string>{Scheduled("2024-05-07 03:15")});
}

TEST_F(NotifyOptionsTest, RemovalMatchesTypeApplicationArgumentsAndEventExactly) {
  const SYSTEMTIME at = At(2024, 5, 6, 2, 0);
  const CString starter(u"\\Windows\\QuilmoStart.exe");
  AUserTimedAppNotif a(at, starter, u"ScheduledBackup");
  AUserTimedAppNotif b(at, starter, u"scheduledbackup");
  AUserTimedAppNotif c(at, u"\\windows\\quilmostart.exe", u"ScheduledBackup");
  AUserEventAppNotif d(11, starter, u"ScheduledBackup");
  AUserEventAppNotif e(11, starter, u"AppRunAfterWakeup");
  AUserEventAppNotif f(10, starter, u"AppRunAfterWakeup");
  for (AUserNotification* x : std::vector<AUserNotification*>{&a, &b, &c, &d, &e, &f})
    ASSERT_NE(x->SetNotification(), nullptr);
  EXPECT_EQ(a.GetTrigger().dwSize, 52u);

  EXPECT_TRUE(AUserNotification::RemoveScheduledApp(starter, u"AppRunAfterWakeup", 1, 11));
  EXPECT_TRUE(AUserNotification::RemoveScheduledApp(starter, u"ScheduledBackup", 2, 0));
  EXPECT_EQ(NotificationTexts(), (std::vector<std::string>{
                                     std::string("timed 2024-05-06 02:00 ") + kStarter + " scheduledbackup",
                                     "timed 2024-05-06 02:00 \\windows\\quilmostart.exe ScheduledBackup",
                                     std::string("event 11 ") + kStarter + " ScheduledBackup",
                                     std::string("event 10 ") + kStarter + " AppRunAfterWakeup",
                                 }));
  // Nothing left to match: false, nothing cleared.
  const size_t mark = Mark();
  EXPECT_FALSE(AUserNotification::RemoveScheduledApp(starter, u"ScheduledBackup", 2, 0));
  EXPECT_EQ(NotificationTexts().size(), 4u);
  EXPECT_TRUE(LoggedSince(mark, "notifHeader->pcent->dwType=2, dwtype=2")) << LogText();
}

TEST_F(DstNotifyOptionsTest, AWeekBehindBySeveralWeeksKeepsItsHourAcrossBothChanges) {
  SetClock(2024, 3, 20, 9, 0);
  EXPECT_EQ(Rescheduled(Schedule(kPeriodWeekly, At(2024, 2, 19, 10, 0))),
            std::vector<std::string>{Scheduled("2024-03-25 10:00")});
  EXPECT_TRUE(Logged("WEEKLY Schedule"));
  EXPECT_EQ(CountLogged("newScheduleTime <= System::GetLocalTime()"), 5);
  EXPECT_TRUE(Logged("Determined 2024-03-25 10:00:00"));

  SetClock(2024, 11, 5, 9, 0);
  EXPECT_EQ(Rescheduled(Schedule(kPeriodWeekly, At(2024, 10, 28, 10, 0))),
            std::vector<std::string>{Scheduled("2024-11-11 10:00")});
}

TEST_F(DstNotifyOptionsTest, AWeekAtHalfPastMidnightStaysOnItsDayWhenTheClockFallsBack) {
  // A week after Monday 28 October 00:30 EDT is Sunday 3 November 23:30 EST
  // by the seconds: one hour forward makes it Monday 00:30 again, not 23
  // hours back.
  SetClock(2024, 10, 29, 9, 0);
  EXPECT_EQ(Rescheduled(Schedule(kPeriodWeekly, At(2024, 10, 28, 0, 30))),
            std::vector<std::string>{Scheduled("2024-11-04 00:30")});
}

TEST_F(DstNotifyOptionsTest, AWeekInTheHourTheClockSkipsKeepsItAndCountsAsPassedFromTheChange) {
  SetClock(2024, 3, 3, 2, 31);
  EXPECT_EQ(Rescheduled(Schedule(kPeriodWeekly, At(2024, 3, 3, 2, 30))),
            std::vector<std::string>{Scheduled("2024-03-10 02:30")});
  // The platform starts 02:30 as the clock springs to 03:00.
  SetClock(2024, 3, 10, 3, 0);
  EXPECT_EQ(Rescheduled(Schedule(kPeriodWeekly, At(2024, 3, 10, 2, 30))),
            std::vector<std::string>{Scheduled("2024-03-17 02:30")});
}

TEST_F(DstNotifyOptionsTest, ADayMovesWithTheClock) {
  SetClock(2024, 3, 9, 3, 0);
  EXPECT_EQ(Rescheduled(Schedule(kPeriodDaily, At(2024, 3, 9, 2, 0))),
            std::vector<std::string>{Scheduled("2024-03-10 03:00")});
  EXPECT_TRUE(Logged("DAILY Schedule"));
  SetClock(2024, 11, 2, 5, 0);
  EXPECT_EQ(Rescheduled(Schedule(kPeriodDaily, At(2024, 11, 2, 2, 0))),
            std::vector<std::string>{Scheduled("2024-11-03 01:00")});
}

TEST_F(NotifyOptionsTest, AOnceOnlyScheduleIsSwitchedOffWithItsNotificationAndTheWakeUpEntry) {
  SetClock(2024, 5, 6, 9, 0);
  AWakeUpServiceIF wakeUp;
  ASSERT_TRUE(wakeUp.Schedule());
  bool ok = false;
  EXPECT_TRUE(Rescheduled(Schedule(kPeriodOnce, At(2024, 5, 6, 2, 0)), &ok).empty());
  EXPECT_TRUE(ok);
  EXPECT_TRUE(Logged("once only"));
  EXPECT_TRUE(Logged("Removing notification"));
  EXPECT_EQ(Stored(names::kSchedulingKey, names::kEnable), 0u);
}

TEST_F(NotifyOptionsTest, AScheduleFileWithOnlyPastEntriesRemovesTheNotification) {
  SetClock(2024, 5, 6, 9, 0);
  dev_.PutFile(kScheduleFile, "<schedule><once at=\"10:00\" on=\"2024-05-01\" filename=\"a\"/></schedule>");
  bool ok = false;
  EXPECT_TRUE(Rescheduled(Schedule(kPeriodScheduleFile, At(2024, 5, 6, 8, 0), kScheduleFile), &ok).empty());
  EXPECT_TRUE(ok);
  EXPECT_TRUE(Logged("Never found a schedule"));
}

TEST_F(NotifyOptionsTest, AScheduleFileGivesTheNextEntryAndStoresItsOptions) {
  SetClock(2024, 5, 6, 9, 0);  // Monday
  dev_.PutFile(kScheduleFile,
               "<schedule>\n"
               "  <weekly at=\"7:15\" dayofweek=\"tue\" filename=\"\\w.pbf\"/>\n"
               "  <daily at=\"22:30\" filename=\"\\d.pbf\" compress=\"TRUE\" autoname=\"no\" reset=\"true\""
               " remotemode=\"false\" inclusionlist=\"\\Incl.XML\"/>\n"
               "</schedule>\n");
  ABackupOptionHandler options;
  ASSERT_TRUE(options.Save());  // the defaults: close programs and append the date on
  EXPECT_EQ(Rescheduled(Schedule(kPeriodScheduleFile, At(2024, 5, 6, 8, 0), kScheduleFile)),
            std::vector<std::string>{Scheduled("2024-05-06 22:30")});
  EXPECT_TRUE(Logged("Compress options set to 0"));
  EXPECT_TRUE(Logged("AutoName options set to 1"));
  EXPECT_FALSE(Logged("StopProcesses options set to"));

  AUnattendedBackup next;
  next.UseNextScheduleKey();
  DWORD word = 0;
  CString file, list;
  bool reset = false, remote = true;
  ASSERT_TRUE(next.RetrieveScheduledBackupOptions(word, file, reset, remote, list));
  ABackupOptionHandler expected;
  expected.SetOptionOn(kOptionCompress, true);
  expected.SetOptionOn(kOptionAppendDate, false);
  expected.SetOptionOn(kOptionClosePrograms, false);
  EXPECT_EQ(word, expected.PackOptions());
  EXPECT_EQ(file, CString(u"\\d.pbf"));
  EXPECT_TRUE(reset);
  EXPECT_FALSE(remote);
  EXPECT_EQ(list, CString(u"\\incl.xml"));
}

TEST_F(NotifyOptionsTest, AnUnreadableScheduleFileOrAnUnknownPeriodFails) {
  SetClock(2024, 5, 6, 9, 0);
  dev_.PutFile(kScheduleFile, "<schedules/>");
  bool ok = true;
  Rescheduled(Schedule(kPeriodScheduleFile, At(2024, 5, 6, 8, 0), kScheduleFile), &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Logged("Failed to load schedule list for reschedule"));

  Rescheduled(Schedule(7, At(2024, 5, 6, 8, 0)), &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Stored(names::kSchedulingKey, names::kEnable), 0u);
  EXPECT_TRUE(NotificationTexts().empty());
}

}  // namespace
