// The wake-up entry and the start stamps: registering and removing the
// entry (and when the removal keeps it), writing a stamp, and when a start
// counts as one the device was woken for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/file.h"
#include "ce/shell.h"
#include "core/ProgramGlobals.h"
#include "core/RegistrySettings.h"
#include "merrow_standin.h"
#include "sched_fixture.h"
#include "scheduling/Notify.h"
#include "scheduling/NotifyFormat.h"
#include "scheduling/WakeUpService.h"
#include "testkit/LocalTime.h"
#include "testkit/NotificationList.h"

namespace {

using quilmo::test::NotificationTexts;
namespace wn = WakeUpNames;

constexpr char kStarter[] = "\\Windows\\QuilmoStart.exe";
const std::string kWakeUpEntry = std::string("event 11 ") + kStarter + " AppRunAfterWakeup";

using quilmo::test::At;

class WakeUpServiceTest : public schedtest::DeviceTest {
 protected:
  WakeUpServiceTest() : DeviceTest(schedtest::kDstZone) {}

  static void Stamp(LPCWSTR key, const SYSTEMTIME& local) {
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&local, &ft));
    ABackupRegistrySettings settings(kSettingsKeyKind, key);
    ASSERT_TRUE(settings.WriteDWORD(wn::kStartTimeHigh, ft.dwHighDateTime));
    ASSERT_TRUE(settings.WriteDWORD(wn::kStartTimeLow, ft.dwLowDateTime));
  }
  // The scheduled backup on or off, with its ScheduledBackup entry.
  static void ScheduledBackup(bool on) {
    ANotify n(ANotifyValueObject(kPeriodDaily, At(2030, 1, 1, 2, 0)), on ? 1 : 0);
    ASSERT_TRUE(n.registerNotification());
  }
  static std::vector<std::string> Entries(const char* words) {
    std::vector<std::string> out;
    for (const std::string& n : NotificationTexts())
      if (n.find(words) != std::string::npos) out.push_back(n);
    return out;
  }
};

TEST_F(WakeUpServiceTest, ScheduleRegistersOneWakeUpEntry) {
  AWakeUpServiceIF wakeUp;
  EXPECT_TRUE(Logged(std::string("Wake Up Service exe name is ") + kStarter)) << LogText();
  EXPECT_EQ(wakeUp.GetUpdateShortcutPath(), CString(u"\\Windows\\StartUp\\QuilmoUpdate.lnk"));
  ASSERT_TRUE(wakeUp.Schedule());
  EXPECT_TRUE(Logged("UnSchedule() RemoveScheduledApp() failed - no scheduled jobs"));
  ASSERT_TRUE(wakeUp.Schedule());
  EXPECT_EQ(NotificationTexts(), std::vector<std::string>{kWakeUpEntry});
}

TEST_F(WakeUpServiceTest, UnScheduleKeepsTheWakeUpEntryWhileSomethingNeedsIt) {
  AWakeUpServiceIF wakeUp;
  ASSERT_TRUE(wakeUp.Schedule());
  ScheduledBackup(true);
  EXPECT_TRUE(wakeUp.UnSchedule(false));
  EXPECT_EQ(NotificationTexts(), std::vector<std::string>{kWakeUpEntry});

  // The battery program on (running, with its shortcut) keeps it for a
  // scheduled backup that is off; the force check's removal does not ask.
  schedtest::MerrowStandIn merrow(dev_);
  merrow.Start();
  CreateDirectoryW(u"\\Windows\\StartUp", nullptr);
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Merrow.lnk", u"QuilmoStart.exe /run \"\\Windows\\Merrow.exe\""));
  ScheduledBackup(false);
  EXPECT_TRUE(wakeUp.UnSchedule(false));
  EXPECT_TRUE(Entries("ScheduledBackup").empty());
  EXPECT_EQ(NotificationTexts(), std::vector<std::string>{kWakeUpEntry});
  EXPECT_TRUE(wakeUp.UnSchedule(true));
  EXPECT_TRUE(NotificationTexts().empty());
  EXPECT_TRUE(Logged("UnSchedule() RemoveScheduledApp() returned false - no scheduled jobs"));
}

TEST_F(WakeUpServiceTest, UnScheduleRemovesTheWakeUpEntryWhenNothingNeedsIt) {
  AWakeUpServiceIF wakeUp;
  ASSERT_TRUE(wakeUp.Schedule());
  ScheduledBackup(false);
  EXPECT_TRUE(wakeUp.UnSchedule(false));
  EXPECT_TRUE(NotificationTexts().empty());
}

TEST_F(WakeUpServiceTest, AStartCloseAfterTheWakeUpIsAWakeUpStart) {
  const SYSTEMTIME wake = At(2024, 7, 1, 2, 0, 0);
  EXPECT_FALSE(IsWakeUpStart(wn::kUnattendedKey));
  EXPECT_TRUE(Logged("Error getting registry value WakeUpDelta - using default"));
  EXPECT_TRUE(Logged("Error getting registry key WakeUpService value StartTime"));
  Stamp(wn::kWakeUpServiceKey, wake);
  EXPECT_FALSE(IsWakeUpStart(wn::kUnattendedKey));
  EXPECT_TRUE(Logged("Error getting registry key KeyToCheck value StartTime"));

  Stamp(wn::kUnattendedKey, At(2024, 7, 1, 2, 0, 4));
  EXPECT_TRUE(IsWakeUpStart(wn::kUnattendedKey));
  Stamp(wn::kUnattendedKey, At(2024, 7, 1, 2, 0, 5));
  EXPECT_FALSE(IsWakeUpStart(wn::kUnattendedKey));
  Stamp(wn::kMerrowKey, At(2024, 7, 1, 1, 0, 0));  // older than the wake-up: counts too
  EXPECT_TRUE(IsWakeUpStart(wn::kMerrowKey));

  ABackupRegistrySettings service(kSettingsKeyKind, wn::kWakeUpServiceKey);
  ASSERT_TRUE(service.WriteDWORD(wn::kWakeUpDelta, 10));
  EXPECT_TRUE(IsWakeUpStart(wn::kUnattendedKey));
}

TEST_F(WakeUpServiceTest, AStampIsTheLocalTimeAsItStands) {
  SetClock(2024, 7, 1, 2, 0);
  ASSERT_TRUE(WriteStartTime(wn::kUnattendedKey));
  ABackupRegistrySettings settings(kSettingsKeyKind, wn::kUnattendedKey);
  DWORD high = 0, low = 0;
  ASSERT_TRUE(settings.ReadDWORD(wn::kStartTimeHigh, high));
  ASSERT_TRUE(settings.ReadDWORD(wn::kStartTimeLow, low));
  const FILETIME ft{low, high};
  SYSTEMTIME st{};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wHour, 2);  // local (EDT), not UTC
  EXPECT_EQ(st.wDay, 1);
}

}  // namespace
