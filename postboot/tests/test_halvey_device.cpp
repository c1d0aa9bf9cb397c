// Halvey as a device process, installed beside the main program: the
// message file, the run-once shortcut, kiosk mode, "/turnOff" and the
// kiosk restart after a restore.
#include <gtest/gtest.h>

#include <filesystem>
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
    opt_.runTimeoutMs = 60000;
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
  bool Exists(std::u16string_view path) const { return fs::exists(dev_.Host(path)); }
  // The programs started by the popup, as "<path> <command line>".
  std::vector<std::u16string> StartedByPopup() const {
    std::vector<std::u16string> out;
    for (const auto& p : rep_.started)
      if (p.program != kHalvey) out.push_back(p.program + u" " + p.commandLine);
    return out;
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
  int64_t startMs_ = 0;
};

TEST_F(HalveyOnDeviceTest, TakesTheMessageAndRemovesItsShortcut) {
  EXPECT_EQ(Run(kLine), 0);
  EXPECT_FALSE(Exists(kMessage));
  EXPECT_FALSE(Exists(kShortcut));
  EXPECT_TRUE(StartedByPopup().empty());
  // The shell was given 20 s to settle first.
  EXPECT_GE(ce::DeviceNowMs() - startMs_, 20000);
}

TEST_F(HalveyOnDeviceTest, KioskModeKeepsTheShortcutAndShowsNothing) {
  SetConfig(u"KioskModeEnabled", 1);
  EXPECT_EQ(Run(kLine), 0);
  EXPECT_FALSE(Exists(kMessage));
  EXPECT_TRUE(Exists(kShortcut));
  EXPECT_TRUE(StartedByPopup().empty());
}

TEST_F(HalveyOnDeviceTest, TurnOffSuspendsTheDeviceFiveSecondsLater) {
  EXPECT_EQ(Run(std::u16string(kLine) + u" /turnOff"), 0) << ::testing::PrintToString(rep_.lines);
  DWORD state = 0;
  WCHAR name[32] = {};
  ASSERT_TRUE(GetSystemPowerState(name, 32, &state));
  EXPECT_EQ(state, POWER_STATE_SUSPEND);
  EXPECT_GE(ce::DeviceNowMs() - startMs_, 25000);
}

TEST_F(HalveyOnDeviceTest, ARestoreInKioskModeStartsTheMainProgramAgain) {
  SetConfig(u"KioskModeEnabled", 1);
  dev_.PutFile(std::u16string(kFolder) + u"DeployOptions.txt",
               "AUTORUN=TRUE\r\nHOURSBETWEENDEPLOYS=0\r\nMINUTESBETWEENDEPLOYS=2\r\n");
  EXPECT_EQ(Run(std::u16string(kLine) + u" /restore"), 0);
  EXPECT_EQ(StartedByPopup(), std::vector<std::u16string>{std::u16string(kMain) + u" "});
  EXPECT_TRUE(Exists(kShortcut));
}

TEST_F(HalveyOnDeviceTest, ARestoreOutsideKioskModeStartsNothing) {
  EXPECT_EQ(Run(std::u16string(kLine) + u" /restore"), 0);
  EXPECT_TRUE(StartedByPopup().empty());
  EXPECT_FALSE(Exists(kShortcut));
}

}  // namespace
