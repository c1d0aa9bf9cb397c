// The battery program interface: its settings and their defaults, the
// force check's period, the consistency of "running" and "shortcut",
// enabling (with or without a running Merrow, with the starter missing)
// and disabling.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/file.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "core/RegistrySettings.h"
#include "merrow_standin.h"
#include "sched_fixture.h"
#include "scheduling/MerrowIF.h"
#include "scheduling/NotifyFormat.h"
#include "testkit/NotificationList.h"
#include "testkit/ResourceLibrary.h"

namespace {

using quilmo::test::NotificationTexts;
namespace mn = MerrowNames;

constexpr const char16_t* kShortcut = u"\\Windows\\StartUp\\Merrow.lnk";
constexpr char kStarter[] = "\\Windows\\QuilmoStart.exe";

std::string ForceCheckAt(const char* when) {
  return std::string("timed ") + when + " " + kStarter + " BatteryForceCheck";
}
const std::string kWakeUpEntry = std::string("event 11 ") + kStarter + " AppRunAfterWakeup";

class MerrowIFTest : public schedtest::DeviceTest {
 protected:
  MerrowIFTest() {
    quilmo::test::LoadBuiltResourceLibrary();
    CreateDirectoryW(u"\\Windows\\StartUp", nullptr);
    SetClock(2024, 5, 6, 9, 0);
  }
  static void SetMinutes(DWORD minutes) {
    ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
    ASSERT_TRUE(settings.WriteDWORD(mn::kMinutesToWait, minutes));
  }
  static std::string ShortcutTarget() {
    std::u16string target;
    return ce::ReadShortcutTarget(kShortcut, &target) ? ce::ToUtf8(target) : "<none>";
  }
  static bool BoxShown(const std::string& part) {
    for (const ce::ScreenLogEntry& e : ce::ReadScreenLog())
      if (ce::ToUtf8(e.text).find(part) != std::string::npos) return true;
    return false;
  }
  static bool Started(const char* exe) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    bool found = false;
    for (BOOL ok = Process32FirstW(snap, &e); ok && !found; ok = Process32NextW(snap, &e))
      found = ce::ToUtf8(e.szExeFile) == exe;
    CloseToolhelp32Snapshot(snap);
    return found;
  }
};

TEST_F(MerrowIFTest, SettingsFallBackToTheirDefaults) {
  AMerrowIF merrow;
  EXPECT_EQ(merrow.GetThreshold(), 30u);
  EXPECT_TRUE(Logged("AMerrowIF() Error retrieving threshold value"));
  EXPECT_FALSE(merrow.GetAutoBackup());
  EXPECT_TRUE(Logged("AMerrowIF() Error retrieving AutoBackup value"));
  ASSERT_TRUE(merrow.SetThreshold(45));
  ASSERT_TRUE(merrow.SetAutoBackup(true));
  ASSERT_TRUE(merrow.SetEnabled(true));
  EXPECT_EQ(merrow.GetThreshold(), 45u);
  EXPECT_TRUE(merrow.GetAutoBackup());
  ABackupRegistrySettings settings(kSettingsKeyKind, mn::kKey);
  bool enabled = false;
  EXPECT_TRUE(settings.ReadBool(mn::kEnabled, enabled) && enabled);
  EXPECT_EQ(merrow.GetShortcutPath(), CString(kShortcut));
  EXPECT_EQ(merrow.GetProgramPath(), CString(u"\\Windows\\Merrow.exe"));
}

TEST_F(MerrowIFTest, TheForceCheckComesItsMinutesAheadAndAtLeastTwo) {
  AMerrowIF merrow;
  ASSERT_TRUE(merrow.ScheduleForceCheck());
  EXPECT_TRUE(Logged("Using default MinutesToWaitBeforeForceCheck value"));
  EXPECT_EQ(NotificationTexts(), std::vector<std::string>{ForceCheckAt("2024-05-06 10:00")});
  for (DWORD minutes : {0u, 1u}) {
    SetMinutes(minutes);
    ASSERT_TRUE(merrow.ScheduleForceCheck());
    EXPECT_EQ(NotificationTexts(), std::vector<std::string>{ForceCheckAt("2024-05-06 09:02")}) << minutes;
  }
  SetMinutes(15);
  ASSERT_TRUE(merrow.ScheduleForceCheck());
  EXPECT_EQ(NotificationTexts(), std::vector<std::string>{ForceCheckAt("2024-05-06 09:15")});
}

TEST_F(MerrowIFTest, AShortcutWithoutMerrowRunningIsCleanedUp) {
  ASSERT_TRUE(SHCreateShortcut(kShortcut, u"QuilmoStart.exe /run \"\\Windows\\Merrow.exe\""));
  AMerrowIF merrow;
  EXPECT_FALSE(merrow.IsEnabled());
  EXPECT_EQ(GetFileAttributesW(kShortcut), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MerrowIFTest, MerrowRunningWithoutItsShortcutIsToldToQuit) {
  schedtest::MerrowStandIn standIn(dev_);
  standIn.Start();
  AMerrowIF merrow;
  EXPECT_TRUE(merrow.IsMerrowRunning());
  EXPECT_FALSE(merrow.IsEnabled());
  EXPECT_EQ(standIn.WaitForEnd(), 3u);
}

TEST_F(MerrowIFTest, EnablingWhileMerrowRunsMakesOnlyTheShortcutAndTheSchedule) {
  schedtest::MerrowStandIn standIn(dev_);
  standIn.Start();
  AMerrowIF merrow;
  ASSERT_TRUE(merrow.SetAutoBackup(true));
  ASSERT_TRUE(merrow.Enable());
  EXPECT_FALSE(Started("QuilmoStart.exe"));
  EXPECT_EQ(ShortcutTarget(), "QuilmoStart.exe /run \"\\Windows\\Merrow.exe\" /args \"/StartUp\"");
  EXPECT_EQ(NotificationTexts(), (std::vector<std::string>{ForceCheckAt("2024-05-06 10:00"), kWakeUpEntry}));
  EXPECT_TRUE(merrow.IsEnabled());

  // Disabling tells Merrow to quit and takes everything away again.
  ASSERT_TRUE(merrow.Disable());
  EXPECT_EQ(standIn.WaitForEnd(), 3u);
  EXPECT_EQ(GetFileAttributesW(kShortcut), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(NotificationTexts().empty());
}

TEST_F(MerrowIFTest, EnablingWithoutTheStarterSwitchesTheFeatureOffAndSaysSo) {
  AMerrowIF merrow;
  ASSERT_TRUE(merrow.SetAutoBackup(true));
  EXPECT_FALSE(merrow.Enable());
  EXPECT_TRUE(Logged("Error starting Merrow \\Windows\\Merrow.exe"));
  EXPECT_TRUE(BoxShown("The battery program could not be started"));
  EXPECT_EQ(GetFileAttributesW(kShortcut), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(NotificationTexts().empty());
}

TEST_F(MerrowIFTest, EnablingStartsMerrowThroughTheStarter) {
  // A stand-in for the starter: it only has to show up with its command line.
  quilmo::test::InstallClosable(dev_, u"\\Windows\\QuilmoStart.exe");
  AMerrowIF merrow;  // auto backup off: no schedule
  ASSERT_TRUE(merrow.Enable());
  DWORD pid = 0;
  for (const ce::DeviceProcess& p : ce::ListDeviceProcesses()) {
    if (p.exe != u"QuilmoStart.exe") continue;
    pid = p.pid;
    EXPECT_EQ(ce::ToUtf8(p.path), kStarter);
    EXPECT_EQ(ce::ToUtf8(p.commandLine), "/run \"\\Windows\\Merrow.exe\"");
  }
  ASSERT_NE(pid, 0u);
  HANDLE p = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
  TerminateProcess(p, 0);
  CloseHandle(p);
  EXPECT_TRUE(NotificationTexts().empty());
  EXPECT_EQ(ShortcutTarget(), "QuilmoStart.exe /run \"\\Windows\\Merrow.exe\" /args \"/StartUp\"");
}

}  // namespace
