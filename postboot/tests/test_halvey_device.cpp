// Halvey as a device process, installed beside the main program: the
// message file, the run-once shortcut, kiosk mode, "/turnOff" and the
// kiosk restart after a restore.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/time.h"
#include "cesim/boot.h"
#include "cesim/clock.h"
#include "cesim/msgbox.h"
#include "testkit/NotificationList.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;

constexpr const char16_t* kFolder = u"\\Program Files\\Quilmo Backup\\";
constexpr const char16_t* kHalvey = u"\\Program Files\\Quilmo Backup\\Halvey.exe";
constexpr const char16_t* kMain = u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";
constexpr const char16_t* kShortcut = u"\\Windows\\StartUp\\Halvey.lnk";
constexpr const char16_t* kMessage = u"\\temp\\popupMessage.txt";
constexpr const char16_t* kConfigKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config";
constexpr const char16_t* kLine =
    u"\"\\temp\\popupMessage.txt\" \"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport.txt\"";

std::string Utf16(std::u16string_view text) {
  std::string bytes;
  for (char16_t ch : text) {
    bytes.push_back(static_cast<char>(ch & 0xFF));
    bytes.push_back(static_cast<char>(ch >> 8));
  }
  return bytes;
}

class HalveyOnDeviceTest : public ::testing::Test {
 protected:
  HalveyOnDeviceTest() {
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Windows\\StartUp");
    Install("Halvey", kHalvey);
    Install("QuilmoRes.dll", u"\\Windows\\QuilmoRes.dll");
    Install("starter_recorder", kMain);
    Install("starter_recorder", u"\\Windows\\Ombric.exe");
    opt_.runTimeoutMs = 120000;
    // The device is up before the shortcut exists, so that the boot does
    // not start the popup itself.
    EXPECT_TRUE(ce::BootDevice(opt_, &rep_));
    EXPECT_TRUE(SHCreateShortcut(kShortcut, u"\"\\Windows\\QuilmoStart.exe\" /run \"Halvey.exe\""));
    dev_.PutFile(kMessage, Utf16(u"The backup completed successfully"));
  }

  void Install(const char* built, std::u16string_view devicePath) {
    const fs::path host = dev_.Host(devicePath);
    fs::create_directories(host.parent_path());
    fs::copy_file(fs::path(QUILMO_BIN_DIR) / built, host, fs::copy_options::overwrite_existing);
    fs::permissions(host, fs::perms::owner_exec, fs::perm_options::add);
  }
  static void SetConfig(const char16_t* name, DWORD value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConfigKey, 0, nullptr, 0, 0, nullptr, &h, nullptr), ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(h);
  }
  // Runs the popup to its end; its exit code (-1 when it did not end).
  long Run(std::u16string_view commandLine) {
    rep_ = ce::BootReport{};
    startMs_ = ce::DeviceNowMs();
    EXPECT_TRUE(ce::RunOnDevice(kHalvey, commandLine, opt_, &rep_)) << GetLastError();
    for (const auto& p : rep_.started)
      if (p.program == kHalvey && p.exitCode) return static_cast<long>(*p.exitCode);
    return -1;
  }
  // The popup's screen-log lines: "<caption>: <text>", and the seconds
  // from the start at which each was written. Device time passes with the
  // host's while a program works, so times are at least, not exactly, the
  // waits.
  std::vector<std::string> PopupLog(std::vector<long>* seconds = nullptr) const {
    std::vector<std::string> out;
    for (const auto& e : ce::ReadScreenLog()) {
      if (e.program != kHalvey) continue;
      out.push_back(ce::ToUtf8(e.caption) + ": " + ce::ToUtf8(e.text));
      if (seconds) seconds->push_back(static_cast<long>((e.timeMs - startMs_) / 1000));
    }
    return out;
  }
  // The device time (seconds, read as UTC) of the first report line that
  // holds `part`; -1 without one.
  long LineTime(const std::string& part) const {
    for (const auto& l : rep_.lines) {
      if (l.find(part) == std::string::npos) continue;
      std::tm t{};
      if (!strptime(l.c_str(), "%Y-%m-%d %H:%M:%S", &t)) return -1;
      return static_cast<long>(timegm(&t));
    }
    return -1;
  }
  bool Exists(std::u16string_view path) const { return fs::exists(dev_.Host(path)); }
  // The programs started by the popup, as "<path> <command line>".
  std::vector<std::u16string> StartedByPopup() const {
    std::vector<std::u16string> out;
    for (const auto& p : rep_.started)
      if (p.program != kHalvey) out.push_back(p.program + u" " + p.commandLine);
    return out;
  }

  // The popup's answers come from a UI script (as `cedev run --ui-script`).
  void Script(const std::string& steps) {
    const fs::path file = dev_.dir() / "halvey.script";
    std::ofstream(file) << steps;
    setenv("QUILMO_UI_SCRIPT", file.c_str(), 1);
  }
  void TearDown() override { unsetenv("QUILMO_UI_SCRIPT"); }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
  int64_t startMs_ = 0;
};

TEST_F(HalveyOnDeviceTest, ShowsTheMessageAndItsFirstButtonOpensTheReport) {
  Script("bubble 123\n");
  EXPECT_EQ(Run(kLine), 0);
  EXPECT_FALSE(Exists(kMessage));
  EXPECT_FALSE(Exists(kShortcut));
  std::vector<long> at;
  const std::vector<std::string> log = PopupLog(&at);
  ASSERT_EQ(log.size(), 3u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[0], "Quilmo Backup: notification 0 shown: The backup completed successfully. [View report] [OK]");
  // The shell was given 20 s to settle first.
  EXPECT_GE(at[0], 20);
  EXPECT_LT(at[0], 60);
  EXPECT_NE(log[1].find("(cmd:123) pressed; the sink answered 1"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find("gone"), std::string::npos) << log[2];
  EXPECT_EQ(StartedByPopup(), std::vector<std::u16string>{
                                  u"\\Windows\\Ombric.exe \"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport.txt\""});
}

TEST_F(HalveyOnDeviceTest, TheSecondButtonOnlyCloses) {
  Script("bubble 124\n");
  EXPECT_EQ(Run(kLine), 0);
  EXPECT_TRUE(StartedByPopup().empty());
  EXPECT_EQ(PopupLog().size(), 3u) << ::testing::PrintToString(PopupLog());
}

TEST_F(HalveyOnDeviceTest, ABubbleLeftUnansweredEndsThePopupWhenItsDayIsOver) {
  EXPECT_EQ(Run(kLine), 0);
  std::vector<long> at;
  const std::vector<std::string> log = PopupLog(&at);
  ASSERT_EQ(log.size(), 2u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[1].rfind("Quilmo Backup: notification 0 gone", 0), 0u) << log[1];
  EXPECT_EQ(at[1] - at[0], 86400);
  EXPECT_TRUE(StartedByPopup().empty());
}

TEST_F(HalveyOnDeviceTest, AMessageFileOf521BytesShowsItsFirst260Characters) {
  std::u16string text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<char16_t>(u'a' + i % 26));
  dev_.PutFile(kMessage, Utf16(text).substr(0, 521));
  Script("bubble 124\n");
  EXPECT_EQ(Run(kLine), 0);
  const std::vector<std::string> log = PopupLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "Quilmo Backup: notification 0 shown: " + ce::ToUtf8(text.substr(0, 260)) + ". [View report] [OK]");
}

TEST_F(HalveyOnDeviceTest, KioskModeKeepsTheShortcutAndShowsNothing) {
  SetConfig(u"KioskModeEnabled", 1);
  EXPECT_EQ(Run(kLine), 0);
  EXPECT_FALSE(Exists(kMessage));
  EXPECT_TRUE(Exists(kShortcut));
  EXPECT_TRUE(StartedByPopup().empty());
  EXPECT_TRUE(PopupLog().empty()) << ::testing::PrintToString(PopupLog());
}

TEST_F(HalveyOnDeviceTest, TurnOffSuspendsTheDeviceFiveSecondsLater) {
  EXPECT_EQ(Run(std::u16string(kLine) + u" /turnOff"), 0) << ::testing::PrintToString(rep_.lines);
  DWORD state = 0;
  WCHAR name[32] = {};
  ASSERT_TRUE(GetSystemPowerState(name, 32, &state));
  EXPECT_EQ(state, POWER_STATE_SUSPEND);
  // The run's lines carry device times: the suspend falls 5 s after the
  // bubble (shown 20 s after the start), the popup ends when the bubble's
  // day is over.
  const long suspended = LineTime("power: off (SetSystemPowerState \"suspend\"");
  const long ended = LineTime("Halvey.exe ended");
  ASSERT_GE(suspended, 0) << ::testing::PrintToString(rep_.lines);
  // A run that a loaded host cut short has no end line to measure from.
  if (ended >= 0) {
    EXPECT_NEAR(ended - suspended, 86400 - 5, 2);
  }
  std::vector<long> at;
  ASSERT_FALSE(PopupLog(&at).empty());
  EXPECT_GE(at[0], 20);
}

TEST_F(HalveyOnDeviceTest, ARestoreInKioskModeStartsTheMainProgramAgain) {
  SetConfig(u"KioskModeEnabled", 1);
  dev_.PutFile(std::u16string(kFolder) + u"DeployOptions.txt",
               "AUTORUN=TRUE\r\nHOURSBETWEENDEPLOYS=0\r\nMINUTESBETWEENDEPLOYS=2\r\n");
  // A timed start of the main program left from before goes; others stay.
  SYSTEMTIME later{};
  GetLocalTime(&later);
  later.wYear += 1;
  CE_NOTIFICATION_TRIGGER timed = quilmo::test::TimedTrigger(kMain, u"", later);
  ASSERT_NE(CeSetUserNotificationEx(nullptr, &timed, nullptr), nullptr);
  CE_NOTIFICATION_TRIGGER other = quilmo::test::TimedTrigger(u"\\Windows\\QuilmoStart.exe", u"ScheduledBackup", later);
  ASSERT_NE(CeSetUserNotificationEx(nullptr, &other, nullptr), nullptr);

  EXPECT_EQ(Run(std::u16string(kLine) + u" /restore"), 0);
  EXPECT_EQ(StartedByPopup(), std::vector<std::u16string>{std::u16string(kMain) + u" "});
  // 20 s for the shell, then the 2 minutes between deploys.
  EXPECT_GE(ce::DeviceNowMs() - startMs_, 140000);
  EXPECT_LT(ce::DeviceNowMs() - startMs_, 200000);
  EXPECT_TRUE(Exists(kShortcut));
  const std::vector<std::string> left = quilmo::test::NotificationTexts();
  ASSERT_EQ(left.size(), 2u) << ::testing::PrintToString(left);
  EXPECT_NE(left[0].find("\\Windows\\QuilmoStart.exe ScheduledBackup"), std::string::npos) << left[0];
  EXPECT_EQ(left[1].rfind("event 10 AppRunAfterRestore", 0), 0u) << left[1];
}

TEST_F(HalveyOnDeviceTest, ARestoreOutsideKioskModeStartsNothing) {
  EXPECT_EQ(Run(std::u16string(kLine) + u" /restore"), 0);
  EXPECT_TRUE(StartedByPopup().empty());
  EXPECT_FALSE(Exists(kShortcut));
}

}  // namespace
