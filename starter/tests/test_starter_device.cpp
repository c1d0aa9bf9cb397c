// QuilmoStart as a device process: started from the boot list with its
// argument file, its exit codes, the programs it starts and how it quotes
// their arguments, the card prompt's time-out and the start entries after
// a hard reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "starter_fixture.h"

namespace {

using namespace startertest;

constexpr const char16_t* kStarter = u"\\Windows\\QuilmoStart.exe";

std::string MainLine(const std::string& commandLine) { return ce::ToUtf8(kMainProgram) + "\t" + commandLine; }

class StarterDeviceTest : public ::testing::Test {
 protected:
  StarterDeviceTest() {
    dev_.MakeDir(u"\\temp");
    InstallBuilt(dev_, "QuilmoStart", kStarter);
    std::filesystem::copy_file(std::filesystem::path(QUILMO_BIN_DIR) / "QuilmoRes.dll",
                               dev_.Host(u"\\Windows\\QuilmoRes.dll"));
    InstallBuilt(dev_, "starter_recorder", kMainProgram);
    SetString(kSharedKey, u"csBackupEXEPath", kMainProgram);
    SetDword(kConfigKey, u"ScheduleDelayStartup", 0);
    SetDword(std::u16string(kSettingsKey) + u"\\Lissent", u"bHardReset", 0);
    opt_.runTimeoutMs = 60000;
  }

  // The starter's exit code in the last run (-1: it did not end).
  long StarterExit() const {
    for (const auto& p : rep_.started)
      if (p.program == kStarter && p.exitCode) return static_cast<long>(*p.exitCode);
    return -1;
  }
  long Run(std::u16string_view commandLine) {
    rep_ = ce::BootReport{};
    EXPECT_TRUE(ce::RunOnDevice(kStarter, commandLine, opt_, &rep_)) << GetLastError();
    return StarterExit();
  }
  static std::vector<std::string> BoxesOf(std::u16string_view program) {
    std::vector<std::string> out;
    for (const auto& b : ce::ReadScreenLog())
      if (b.program == program) out.push_back(ce::ToUtf8(b.caption) + ": " + ce::ToUtf8(b.text));
    return out;
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(StarterDeviceTest, BootListLaunchTakesItsArgumentFileAndLeavesTheList) {
  SetString(u"init", u"Launch7", kStarter);
  SetString(u"init", u"Launch8", u"\\Windows\\nothing.exe");
  SetWords(u"init", u"Depend8", {7});
  dev_.PutFile(u"\\temp\\QuilmoStartArgs7.txt",
               "\xFF\xFE" + Utf16(u"/run \"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\" /args -x \"a b\"\r\n"));
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_));

  EXPECT_EQ(StarterExit(), 0);
  EXPECT_EQ(StartedLines(dev_), std::vector<std::string>{MainLine(" \"/x\" \"a b\"")});
  EXPECT_FALSE(std::filesystem::exists(dev_.Host(u"\\temp\\QuilmoStartArgs7.txt")));
  EXPECT_EQ(Raw(u"init", u"Launch7"), "<none>");
  EXPECT_EQ(Raw(u"init", u"Depend8"), "");
  const std::vector<DWORD> signalled = ce::SignalledLaunches();
  EXPECT_NE(std::find(signalled.begin(), signalled.end(), 7u), signalled.end());
}

TEST_F(StarterDeviceTest, LaunchNumberWithoutItsFileEndsWithTwo) {
  EXPECT_EQ(Run(u"7"), 2);
  EXPECT_TRUE(StartedLines(dev_).empty());
}

TEST_F(StarterDeviceTest, ExitCodes) {
  EXPECT_EQ(Run(u"scheduledbackup"), 2);
  EXPECT_EQ(Run(u"/run /args x"), 2);
  EXPECT_EQ(Run(u""), 0);
  dev_.PutFile(u"\\Windows\\notes.exe", "no program");
  EXPECT_EQ(Run(u"/run \\Windows\\notes.exe"), 0);  // valid: the failed start is no exit code
  EXPECT_TRUE(BoxesOf(kStarter).empty());
}

TEST_F(StarterDeviceTest, WithoutItsResourceLibraryItTellsAndEndsWithTwo) {
  std::filesystem::remove(dev_.Host(u"\\Windows\\QuilmoRes.dll"));
  EXPECT_EQ(Run(u"ScheduledBackup"), 2);
  const std::vector<std::string> boxes = BoxesOf(kStarter);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Error: Contact Quilmo Support (QuilmoRes.dll, ", 0), 0u) << boxes[0];
  EXPECT_TRUE(StartedLines(dev_).empty());
}

TEST_F(StarterDeviceTest, StartsTheMainProgramAndOtherProgramsWithTheirArguments) {
  EXPECT_EQ(Run(u"ScheduledBackup"), 0);
  EXPECT_EQ(Run(u"/runbackupapp /args MerrowAutoBackup"), 0);
  EXPECT_EQ(Run(u"\"/scard=\\Windows\" /run \"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\" /args \"/StartUp\""),
            0);
  EXPECT_EQ(StartedLines(dev_), (std::vector<std::string>{MainLine("ScheduledBackup"), MainLine("MerrowAutoBackup"),
                                                          MainLine(" \"/StartUp\"")}));
}

TEST_F(StarterDeviceTest, TheCardPromptTimesOutWithItsBox) {
  SetString(kSharedKey, u"csBackupEXEPath", u"\\Storage Card\\Quilmo Backup.exe");
  EXPECT_EQ(Run(u"/runbackupapp"), 0);
  ASSERT_EQ(BoxesOf(kStarter).size(), 1u);
  EXPECT_NE(BoxesOf(kStarter)[0].find("inserted in time"), std::string::npos) << BoxesOf(kStarter)[0];
  EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 0);
  EXPECT_TRUE(StartedLines(dev_).empty());
}

TEST_F(StarterDeviceTest, StartEntriesRunAfterAHardReset) {
  InstallBuilt(dev_, "starter_recorder", u"\\Built-in Storage\\QSE-S\\entry.exe");
  InstallBuilt(dev_, "starter_recorder", u"\\Built-in Storage\\QSE-A\\other.exe");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(kSettingsKey) + u"\\Lissent").c_str(), 0, 0, &key),
            ERROR_SUCCESS);
  RegDeleteValueW(key, u"bHardReset");
  RegCloseKey(key);
  EXPECT_EQ(Run(u"AppRunAfterWakeup"), 0);
  EXPECT_EQ(Run(u"AppRunAfterWakeup"), 0);
  EXPECT_EQ(StartedLines(dev_), std::vector<std::string>{"\\Built-in Storage\\QSE-S\\entry.exe\t"});
}

}  // namespace
