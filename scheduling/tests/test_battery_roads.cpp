// The battery program and the wake-up on a running device: the real
// starter, Merrow and the recorder as the main program, driven by the
// device clock. A device program (battery_driver) makes the calls the main
// program would make.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/notify.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/boot.h"
#include "cesim/device.h"
#include "cesim/msgbox.h"
#include "cesim/power.h"
#include "core/Localizer.h"
#include "testkit/DeviceTimes.h"
#include "testkit/NotificationList.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kSettings = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings";
constexpr const char16_t* kShared = u"SOFTWARE\\Quilmo Software\\Shared";
constexpr const char16_t* kMainProgram = u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";
constexpr const char16_t* kStarter = u"\\Windows\\QuilmoStart.exe";
constexpr const char16_t* kDriver = u"\\Windows\\battery_driver.exe";
constexpr const char16_t* kShortcut = u"\\Windows\\StartUp\\Merrow.lnk";
constexpr int64_t kSecond = 1000;

// Device ms (since 1970 UTC) of a time of March 2006 on the UTC test device.
int64_t Ms(WORD day, WORD hour, WORD minute, WORD second = 0) {
  const SYSTEMTIME st{2006, 3, 0, day, hour, minute, second, 0};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    out.push_back(text.substr(start, end - start));
  return out;
}

class BatteryRoadTest : public ::testing::Test {
 protected:
  BatteryRoadTest() {
    quilmo::test::LoadBuiltResourceLibrary();
    dev_.MakeDir(u"\\Windows\\StartUp");
    dev_.MakeDir(u"\\temp");
    Install("QuilmoStart", kStarter);
    Install("QuilmoRes.dll", u"\\Windows\\QuilmoRes.dll");
    Install("Merrow", u"\\Windows\\Merrow.exe");
    Install("recorder", kMainProgram);
    Install("battery_driver", kDriver);
    SetText(kShared, u"csBackupEXEPath", kMainProgram);
    SetDword(std::u16string(kSettings) + u"\\Lissent", u"bHardReset", 0);
    opt_.runTimeoutMs = 120000;
    const SYSTEMTIME start{2006, 3, 0, 7, 9, 0, 0, 0};
    SetSystemTime(&start);
  }
  void Install(const char* built, std::u16string_view devicePath) {
    const fs::path host = dev_.Host(devicePath);
    fs::create_directories(host.parent_path());
    fs::copy_file(fs::path(QUILMO_BIN_DIR) / built, host, fs::copy_options::overwrite_existing);
  }
  static void SetDword(const std::u16string& key, const char16_t* name, DWORD v) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
    ASSERT_EQ(RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v), 0);
    RegCloseKey(k);
  }
  static void SetText(const std::u16string& key, const char16_t* name, const std::u16string& text) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
    ASSERT_EQ(RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * 2)),
              0);
    RegCloseKey(k);
  }
  // Runs the device up to `until`, starting the driver with `steps` first
  // when given.
  bool RunUntil(int64_t until, const char16_t* steps = nullptr) {
    opt_.untilMs = until;
    rep_ = {};
    return steps ? ce::RunOnDevice(kDriver, steps, opt_, &rep_) : ce::RunDevice(opt_, &rep_);
  }
  std::string Lines() const {
    std::string all;
    for (const auto& l : rep_.lines) all += l + "\n";
    return all + "driver:\n" + ReadOr(u"\\battery_driver.log");
  }
  std::string ReadOr(std::u16string_view path) const {
    return fs::exists(dev_.Host(path)) ? dev_.ReadFile(path) : std::string();
  }
  std::vector<std::string> MerrowLines(const std::string& part) const {
    std::vector<std::string> out;
    for (const std::string& l : LinesOf(ReadOr(u"\\Windows\\Merrow.log")))
      if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(BatteryRoadTest, TwelveHoursOnBatteryGiveHourlyChecksAndOneBackup) {
  ASSERT_TRUE(ce::SetDeviceBattery(40, false, 2));
  ASSERT_TRUE(RunUntil(Ms(7, 21, 0), u"enable 30")) << Lines();
  EXPECT_FALSE(rep_.startLimitReached) << Lines();

  // Each force check reschedules the next one after the starter's
  // 10-second start delay: the checks come 60 min 10 s apart. Device time
  // passes with the host's while the programs work, so a check may be
  // logged a few seconds after it was made, and the series may slip by as
  // much. The charge drains 2 % an hour from 09:00 and first drops below
  // 30 % at the fifth check (29.97 %).
  const std::vector<std::string> checks = MerrowLines(" check: ");
  ASSERT_EQ(checks.size(), 12u) << Lines();
  const int64_t set = Ms(7, 9, 0);
  int64_t due = set;
  int64_t fifth = 0;
  for (size_t k = 0; k < checks.size(); ++k) {
    const std::optional<int64_t> at = quilmo::test::DeviceTimeMs(checks[k]);
    // Never before its place in the hourly series, and at most the host's
    // slack after the check before it was logged.
    const int64_t when = at.value_or(due);
    EXPECT_GE(when, set + static_cast<int64_t>(k) * 3610 * kSecond) << "check " << k << ": " << checks[k];
    EXPECT_LE(when, due + quilmo::test::kHostSlackMs) << "check " << k << ": " << checks[k];
    // The charge at the logged second, or a little less within it.
    const int charge = static_cast<int>(40 - 2.0 * static_cast<double>(when - set) / 3600000);
    int percent = -1;
    EXPECT_EQ(std::sscanf(checks[k].c_str() + 19, " check: battery %d%%", &percent), 1) << checks[k];
    EXPECT_TRUE(percent == charge || percent == charge - 1) << checks[k] << " (charge " << charge << "%)";
    const std::string outcome = k < 5    ? "no backup"
                                : k == 5 ? "below, started QuilmoStart.exe /runbackupapp /args MerrowAutoBackup"
                                         : "below, backup asked for already";
    EXPECT_EQ(checks[k].substr(19), " check: battery " + std::to_string(percent) + "%, threshold 30%: " + outcome);
    if (k == 5) fifth = when;
    due = when + 3610 * kSecond;
  }
  EXPECT_TRUE(quilmo::test::TimedLinesAre(MerrowLines(" start ").empty() ? "" : MerrowLines(" start ")[0] + "\n",
                                          "2006-03-07 09:00:00 start \"\"\n"));
  // The backup starts in the second of the check that asked for it.
  const std::string recorded = ReadOr(u"\\Recorder.log");
  EXPECT_TRUE(quilmo::test::AtDeviceTime(quilmo::test::DeviceTimeMs(recorded), fifth)) << recorded;
  EXPECT_EQ(recorded.size() > 19 ? recorded.substr(19) : recorded,
            " \\Program Files\\Quilmo Backup\\Quilmo Backup.exe \"MerrowAutoBackup\" power=on\n")
      << Lines();
  // The next check is asked for an hour after the last one.
  const std::vector<std::string> notifications = quilmo::test::NotificationTexts();
  ASSERT_EQ(notifications.size(), 2u);
  EXPECT_EQ(notifications[0], "event 11 \\Windows\\QuilmoStart.exe AppRunAfterWakeup");
  // (Its minute, from the last check's logged second or the one before.)
  const auto asked = [&](int64_t at) {
    return "timed " + quilmo::test::DeviceTimeText(at).substr(0, 16) + " \\Windows\\QuilmoStart.exe BatteryForceCheck";
  };
  EXPECT_TRUE(notifications[1] == asked(due - 10 * kSecond) || notifications[1] == asked(due - 11 * kSecond))
      << notifications[1];

  // A boot starts it again from its Startup shortcut (on AC now).
  ASSERT_TRUE(ce::SetDeviceBattery(50, true));
  opt_.untilMs = Ms(7, 21, 1);
  rep_ = {};
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  std::vector<std::string> starts = MerrowLines(" start ");
  ASSERT_EQ(starts.size(), 2u) << Lines();
  EXPECT_TRUE(quilmo::test::TimedLinesAre(starts[1] + "\n", "2006-03-07 21:00:00 start \" \"/StartUp\"\"\n"))
      << Lines();

  // Disabling it ends Merrow and takes its shortcut and entries away.
  ASSERT_TRUE(RunUntil(Ms(7, 21, 1), u"disable")) << Lines();
  EXPECT_EQ(MerrowLines("QuilmoMerrowQuit").size(), 1u) << Lines();
  EXPECT_NE(Lines().find("\\Windows\\Merrow.exe ended: exit 0"), std::string::npos) << Lines();
  EXPECT_FALSE(fs::exists(dev_.Host(kShortcut)));
  EXPECT_TRUE(quilmo::test::NotificationTexts().empty());
}

// A scheduled start the device was woken for, with the main program on a
// card that is not there: the starter says so and switches the device off
// again, starting nothing.
TEST_F(BatteryRoadTest, WokenForABackupWithoutItsCardTheStarterTurnsTheDeviceOff) {
  SetDword(kSettings, u"bQuilmoCard", 1);
  ASSERT_TRUE(RunUntil(Ms(7, 9, 1), u"wakeup")) << Lines();
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = CNT_TIME;
  t.lpszApplication = const_cast<WCHAR*>(kStarter);
  t.lpszArguments = const_cast<WCHAR*>(u"ScheduledBackup");
  t.stStartTime = t.stEndTime = SYSTEMTIME{2006, 3, 0, 8, 2, 0, 0, 0};
  ASSERT_NE(CeSetUserNotificationEx(nullptr, &t, nullptr), nullptr);
  ASSERT_TRUE(ce::SetDevicePower(false, "test"));

  ASSERT_TRUE(RunUntil(Ms(8, 3, 0))) << Lines();
  EXPECT_FALSE(ce::DeviceIsOn()) << Lines();
  CString text;
  ASSERT_TRUE(Localizer::LoadResStringRaw(65287, text));
  std::vector<std::string> boxes;
  int64_t boxAt = 0;
  for (const ce::ScreenLogEntry& b : ce::ReadScreenLog()) {
    boxes.push_back(ce::ToUtf8(b.text));
    boxAt = b.timeMs;
  }
  EXPECT_EQ(boxes, std::vector<std::string>{ce::ToUtf8(text.str())}) << Lines();
  // The start delay, then the power key 5 s later, then the box.
  EXPECT_GE(boxAt, Ms(8, 2, 0, 15));
  EXPECT_LT(boxAt, Ms(8, 2, 0, 20));
  EXPECT_NE(Lines().find("02:00:15 power: off (the power key, pressed by pid"), std::string::npos) << Lines();
  EXPECT_EQ(ReadOr(u"\\Recorder.log"), "") << Lines();
}

}  // namespace
