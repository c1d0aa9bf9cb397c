// A scheduled start: the main program with "ScheduledBackup" after the
// start delay, the next time registered, and a start too late for the
// missed-schedule filter.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ce/notify.h"
#include "scheduling/Notify.h"
#include "scheduling/UnattendedBackup.h"
#include "start_fixture.h"
#include "starter/SmartStartFile.h"
#include "testkit/LocalTime.h"
#include "testkit/NotificationList.h"

namespace {

using startertest::kConfigKey;
using startertest::kSettingsKey;
using startertest::SetDword;

using quilmo::test::At;

// "YYYY-MM-DD HH:MM" of each timed ScheduledBackup entry.
std::vector<std::string> ScheduledEntries() {
  std::vector<std::string> out;
  for (const quilmo::test::Notification& n : quilmo::test::Notifications()) {
    if (n.type != CNT_TIME || n.args != "ScheduledBackup") continue;
    char when[32];
    std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u", n.start.wYear, n.start.wMonth, n.start.wDay,
                  n.start.wHour, n.start.wMinute);
    out.push_back(when);
  }
  return out;
}

class ScheduledStartTest : public startertest::StartTest {
 protected:
  // A daily schedule at 2024-05-06 02:00, its entry registered.
  static void Daily(bool enabled = true) {
    ANotify n(ANotifyValueObject(kPeriodDaily, At(2024, 5, 6, 2, 0)), enabled ? 1 : 0);
    ASSERT_TRUE(n.registerNotification());
  }
  static bool Start() {
    SmartStartFile start(nullptr);
    return start.ScheduledStart();
  }
};

TEST_F(ScheduledStartTest, OnTimeStartsTheMainProgramAndRegistersTheNextTime) {
  SetLocal(2024, 5, 6, 1, 0);
  Daily();
  SetLocal(2024, 5, 6, 2, 0, 5);
  EXPECT_TRUE(Start());
  EXPECT_EQ(WaitStarted(1), std::vector<std::string>{MainLine("ScheduledBackup")});
  EXPECT_EQ(ScheduledEntries(), std::vector<std::string>{"2024-05-07 02:00"});
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ScheduledStartTest, ElevenMinutesLateIsMissedButTheNextTimeIsRegistered) {
  SetLocal(2024, 5, 6, 1, 0);
  Daily();
  SetLocal(2024, 5, 6, 2, 11);
  EXPECT_TRUE(Start());
  EXPECT_EQ(Boxes(), std::vector<std::string>{ResBox(65300)});
  EXPECT_TRUE(Settled().empty());
  EXPECT_EQ(ScheduledEntries(), std::vector<std::string>{"2024-05-07 02:00"});
}

TEST_F(ScheduledStartTest, TheFilterEndsAfterItsLastMinute) {
  SetLocal(2024, 5, 6, 1, 0);
  Daily();
  SetLocal(2024, 5, 6, 2, 10);  // exactly 10 minutes late: still on time
  EXPECT_TRUE(Start());
  EXPECT_EQ(WaitStarted(1).size(), 1u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ScheduledStartTest, FilterZeroNeverMissesAndALongerFilterWaitsLonger) {
  SetLocal(2024, 5, 6, 1, 0);
  Daily();
  SetDword(kSettingsKey, u"FilterMissedSchedules", 0);
  SetLocal(2024, 5, 6, 9, 0);
  EXPECT_TRUE(Start());
  EXPECT_EQ(WaitStarted(1).size(), 1u);

  SetDword(kSettingsKey, u"FilterMissedSchedules", 30);
  SetLocal(2024, 5, 7, 2, 29);  // the rescheduled 05-07 02:00, 29 minutes late
  EXPECT_TRUE(Start());
  EXPECT_EQ(WaitStarted(2).size(), 2u);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(ScheduledEntries(), std::vector<std::string>{"2024-05-08 02:00"});
}

TEST_F(ScheduledStartTest, WithoutAnEnabledScheduleTheMainProgramStillStarts) {
  SetLocal(2024, 5, 6, 5, 0);
  EXPECT_TRUE(Start());  // no options stored at all
  EXPECT_EQ(WaitStarted(1), std::vector<std::string>{MainLine("ScheduledBackup")});

  Daily(false);
  const std::vector<std::string> before = ScheduledEntries();
  EXPECT_TRUE(Start());
  EXPECT_EQ(WaitStarted(2).size(), 2u);
  EXPECT_EQ(ScheduledEntries(), before);  // a disabled schedule is not moved on
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ScheduledStartTest, AScheduleFileStartTakesTheOptionsPreparedForIt) {
  SetLocal(2024, 5, 6, 1, 0);
  ANotify n(ANotifyValueObject(kPeriodScheduleFile, At(2024, 5, 6, 2, 0)), 1);
  n.SetScheduleFile(CString(u"\\My Documents\\none.xml"));  // no later entry can be read
  ASSERT_TRUE(n.registerOptions());
  AUnattendedBackup next;
  next.UseNextScheduleKey();
  ASSERT_TRUE(next.StoreScheduledBackupOptions(5, CString(u"\\Storage Card\\b.pbf"), true, false, CString(u"x")));

  SetLocal(2024, 5, 6, 2, 0, 10);
  EXPECT_TRUE(Start());
  AUnattendedBackup unattended;
  unattended.UseUnattendedKey();
  DWORD options = 0;
  CString file, list;
  bool reset = false, remote = true;
  ASSERT_TRUE(unattended.RetrieveScheduledBackupOptions(options, file, reset, remote, list));
  EXPECT_EQ(options, 5u);
  EXPECT_EQ(file, CString(u"\\Storage Card\\b.pbf"));
  EXPECT_TRUE(reset);
  EXPECT_FALSE(remote);
  EXPECT_EQ(WaitStarted(1).size(), 1u);
}

TEST_F(ScheduledStartTest, WaitsTheStartDelayFirst) {
  SetDword(kConfigKey, u"ScheduleDelayStartup", 1);
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_TRUE(Start());
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1000));
  EXPECT_EQ(WaitStarted(1).size(), 1u);
}

}  // namespace
