// The modes of the built "Quilmo Backup.exe" on scratch devices: what each
// command line makes of a run, the permission checks, the scheduling modes,
// the kiosk options file, the command-line restore's failures before its
// reset, and a command-line backup across its reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/msgbox.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "engine/Global.h"
#include "engine/RebootController.h"
#include "testkit/NotificationList.h"
#include "testkit/TestDevice.h"

#include "program_on_device.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kProgram = u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";
constexpr const char16_t* kConfigKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config";
constexpr const char16_t* kSettingsKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings";
constexpr const char16_t* kAccessCode = u"3E9A7041C2B5F";

using quilmo::test::BinFile;

class ModesTest : public ::testing::Test {
 protected:
  ModesTest() {
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Windows");
    dev_.MakeDir(u"\\My Documents");
    Copy(BinFile("QuilmoBackup"), kProgram, true);
    Copy(BinFile("QuilmoRes.dll"), u"\\Windows\\QuilmoRes.dll", false);
    Copy(BinFile("QuilmoStart"), u"\\Windows\\QuilmoStart.exe", true);
    Copy(BinFile("QuilmoInit"), u"\\Windows\\QuilmoInit.exe", true);
    opt_.runTimeoutMs = 120000;
  }

  void Copy(const fs::path& from, std::u16string_view devicePath, bool program) {
    quilmo::test::CopyToDevice(dev_, from, devicePath, program);
  }

  // Runs the program, and whatever the device does after it, to the end.
  void Run(std::u16string_view commandLine = u"") {
    rep_ = ce::BootReport{};
    EXPECT_TRUE(ce::RunOnDevice(kProgram, commandLine, opt_, &rep_)) << "last error " << GetLastError();
  }
  // How often the main program was started in the last run.
  int Starts() const {
    return static_cast<int>(std::count_if(rep_.started.begin(), rep_.started.end(),
                                          [](const ce::StartedProgram& p) { return p.program == kProgram; }));
  }

  std::string LogText() const { return dev_.ReadFile(u"\\temp\\BackupLog.txt"); }
  std::vector<std::string> LogLines() const { return quilmo::test::CrLfLines(LogText()); }
  // Whether a line of the log matches the whole pattern after the log's
  // "L CQuilmoApp <line> : " (or "E ...") prefix.
  bool Logged(const std::string& text, char level = 'L', const char* cls = "CQuilmoApp") const {
    const std::regex re(std::string(1, level) + " " + cls + R"( \d+ : )" + text);
    for (const auto& line : LogLines())
      if (std::regex_match(line, re)) return true;
    return false;
  }

  // The texts of the boxes shown since the last MarkBoxes (sounds left out).
  std::string BoxTexts() const {
    std::string all;
    const std::vector<ce::ScreenLogEntry> boxes = ce::ReadScreenLog();
    for (size_t i = seenBoxes_; i < boxes.size(); ++i)
      if (boxes[i].caption != u"sound") all += ce::ToUtf8(boxes[i].text) + "\n";
    return all;
  }
  void MarkBoxes() { seenBoxes_ = ce::ReadScreenLog().size(); }
  bool Exists(std::u16string_view devicePath) const { return fs::exists(dev_.Host(devicePath)); }

  static void SetDword(const char16_t* key, const char16_t* name, DWORD value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, 0, nullptr, &h, nullptr), ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(h);
  }
  static void Allow(const char16_t* setting) { SetDword(kConfigKey, setting, 1); }
  // A value as "dword N", "sz TEXT" or "<none>".
  static std::string Value(const std::u16string& key, const char16_t* name) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &h) != ERROR_SUCCESS) return "<none>";
    BYTE buf[1024] = {};
    DWORD size = sizeof buf, type = 0;
    LONG rc = RegQueryValueExW(h, name, nullptr, &type, buf, &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return "<none>";
    if (type == REG_DWORD) return "dword " + std::to_string(*reinterpret_cast<const DWORD*>(buf));
    if (type == REG_SZ) return "sz " + ce::ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buf)));
    return "<other>";
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
  size_t seenBoxes_ = 0;
};

TEST_F(ModesTest, CommandLineWorkNeedsItsPermissionOrTheAccessCode) {
  Run(u"LocalBackup \\temp\\a.pbf");
  EXPECT_EQ(BoxTexts(), "Invalid command line parameter\n");
  EXPECT_FALSE(Logged("Command Line Backup starting")) << LogText();

  MarkBoxes();
  Run(u"LocalBackup \\temp\\a.pbf Signature 3E9A7041C2B5E");
  EXPECT_EQ(BoxTexts(), "Invalid command line parameter\n");

  // Local permission does not cover the host.
  Allow(u"AllowLocalCommandLineOps");
  MarkBoxes();
  Run(u"RemoteRestore \\temp\\a.pbf");
  EXPECT_EQ(BoxTexts(), "Invalid command line parameter\n");
  EXPECT_FALSE(Logged("Starting Command Line Restore"));

  MarkBoxes();
  Run(std::u16string(u"DisableFileScheduling Signature ") + kAccessCode);
  EXPECT_EQ(BoxTexts(), "");
  EXPECT_TRUE(Logged("Disabling File Scheduling from command line")) << LogText();
}

TEST_F(ModesTest, EnableFileSchedulingStoresTheScheduleAndBothOptionSets) {
  Allow(u"AllowFileScheduling");
  Run(u"EnableFileScheduling \\ignored.xml");
  EXPECT_EQ(BoxTexts(), "");
  EXPECT_TRUE(Logged("Enabling File Scheduling from command line")) << LogText();
  EXPECT_TRUE(Logged("Storing saved options 719 to NextSchedule")) << LogText();

  const std::u16string settings = kSettingsKey;
  EXPECT_EQ(Value(settings + u"\\Scheduling", u"dwEnable"), "dword 1");
  EXPECT_EQ(Value(settings + u"\\Scheduling", u"dwSchedulePeriod"), "dword 3");
  EXPECT_EQ(Value(settings + u"\\Scheduling", u"csScheduleDefPath"), "sz \\My Documents\\schedule.xml");
  for (const char16_t* key : {u"\\NextSchedule", u"\\Unattended"}) {
    SCOPED_TRACE(ce::ToUtf8(key));
    EXPECT_EQ(Value(settings + key, u"dwUnattendedOptions"), "dword 719");
    EXPECT_EQ(Value(settings + key, u"csUnattendedFilename"), "sz dummy");
    EXPECT_EQ(Value(settings + key, u"bScheduledReset"), "dword 0");
    EXPECT_EQ(Value(settings + key, u"bRemoteMode"), "dword 0");
    EXPECT_EQ(Value(settings + key, u"csInclusionList"), "sz dummy");
  }
  // No mode runs after it: the run ends without a reset.
  EXPECT_EQ(rep_.resets, 0);
  EXPECT_FALSE(Logged("Updating menus", 'L', "CImagingPropertySheet"));
}

TEST_F(ModesTest, StartSchedulingRegistersADailyScheduleOnly) {
  Run(u"StartScheduling");
  EXPECT_TRUE(Logged("Starting Scheduled Backup from Setup Wizard")) << LogText();
  EXPECT_TRUE(Logged("Could not start scheduled backup")) << LogText();
  EXPECT_TRUE(quilmo::test::NotificationTexts().empty());
  EXPECT_FALSE(Logged("Updating menus", 'L', "CImagingPropertySheet"));

  // A daily schedule at 03:00 on 2030-01-02 (FILETIME of that local time).
  const std::u16string scheduling = std::u16string(kSettingsKey) + u"\\Scheduling";
  SetDword(scheduling.c_str(), u"dwEnable", 1);
  SetDword(scheduling.c_str(), u"dwSchedule1", 0x01E0F7A2);
  SetDword(scheduling.c_str(), u"dwSchedule2", 0xEFBCB800);
  SetDword(scheduling.c_str(), u"dwSchedulePeriod", 1);
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, scheduling.c_str(), 0, nullptr, 0, 0, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(h, u"csScheduleDefPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(u""), 2);
  RegCloseKey(h);
  Run(u"StartScheduling");
  EXPECT_FALSE(Logged("Could not start scheduled backup")) << LogText();
  const std::vector<std::string> notes = quilmo::test::NotificationTexts();
  EXPECT_NE(std::find_if(notes.begin(), notes.end(),
                         [](const std::string& n) {
                           return n.find("QuilmoStart.exe ScheduledBackup") != std::string::npos;
                         }),
            notes.end());
  EXPECT_NE(std::find_if(notes.begin(), notes.end(),
                         [](const std::string& n) {
                           return n.rfind("event 11 ", 0) == 0 && n.find("AppRunAfterWakeup") != std::string::npos;
                         }),
            notes.end());
}

TEST_F(ModesTest, APlainStartRemovesAnOldRegistryImageAndEndsInTheInteractiveMode) {
  dev_.PutFile(u"\\temp\\registry.img", "left over");
  Run();
  EXPECT_FALSE(Exists(u"\\temp\\registry.img"));
  EXPECT_TRUE(Logged("Cleaning up old registry file")) << LogText();
  EXPECT_TRUE(Logged("Cleaning done"));
  EXPECT_TRUE(Logged("Updating menus", 'L', "CImagingPropertySheet"));
  EXPECT_EQ(BoxTexts(), "");
  EXPECT_EQ(rep_.resets, 0);
}

TEST_F(ModesTest, KioskModeNeedsItsOptionsFileExceptForACommandLineBackup) {
  SetDword(kConfigKey, u"KioskModeEnabled", 1);
  Run();
  EXPECT_EQ(BoxTexts(), "Unable to find DeployOptions\n");
  EXPECT_FALSE(Logged("Updating menus", 'L', "CImagingPropertySheet"));

  MarkBoxes();
  Allow(u"AllowLocalCommandLineOps");
  Run(u"LocalBackup \\NoSuchFolder\\a.pbf");
  EXPECT_EQ(BoxTexts().find("Unable to find DeployOptions"), std::string::npos) << BoxTexts();
  EXPECT_TRUE(Logged("Command Line Backup starting")) << LogText();
}

// A kiosk deployment that restores its file unless the kiosk password is
// given: the countdown of the password dialog runs out, or the password is
// typed in.
TEST_F(ModesTest, KioskModeRestoresItsFileUnlessThePasswordIsGiven) {
  SetDword(kConfigKey, u"KioskModeEnabled", 1);
  dev_.PutFile(u"\\Program Files\\Quilmo Backup\\DeployOptions.txt",
               "AUTORUN=TRUE\r\nKIOSKPWD=letmein\r\nBACKUPFILENAME=\\temp\\kiosk.pbf\r\n");
  Run();
  EXPECT_TRUE(Logged("Kiosk mode: AutoRestore set to true.")) << LogText();
  EXPECT_TRUE(Logged("password wrong and auto restore set to true"));
  EXPECT_TRUE(Logged("Starting Command Line Restore"));
  EXPECT_TRUE(Logged(R"(Peforming metadata check)") || Logged(R"(pathImageFile.Open\(\) failed -?\d+)", 'E'))
      << LogText();
  EXPECT_NE(LogText().find("\\temp\\kiosk.pbf"), std::string::npos);
  EXPECT_EQ(BoxTexts(), "The backup file could not be opened.\n");

  MarkBoxes();
  const fs::path script = dev_.dir() / "kiosk.ui";
  {
    std::ofstream f(script);
    f << "dialog 231\nset 2018 letmein\nclick 1\n";
  }
  setenv("QUILMO_UI_SCRIPT", script.c_str(), 1);
  Run();
  unsetenv("QUILMO_UI_SCRIPT");
  EXPECT_TRUE(Logged("password correct and auto restore set to false")) << LogText();
  EXPECT_FALSE(Logged("Starting Command Line Restore"));
  EXPECT_TRUE(Logged("Updating menus", 'L', "CImagingPropertySheet"));
  EXPECT_EQ(BoxTexts(), "");
}

TEST_F(ModesTest, ARestoreOfAMissingImageEndsBeforeItsReset) {
  Allow(u"AllowLocalCommandLineOps");
  Run(u"LocalRestore \"\\Storage Card\\none.pbf\"");
  EXPECT_TRUE(Logged("Starting Command Line Restore")) << LogText();
  EXPECT_TRUE(Logged("Restore of imageid 0"));
  EXPECT_TRUE(Logged(R"(pathImageFile.Open\(\) failed -?\d+)", 'E')) << LogText();
  EXPECT_EQ(BoxTexts(), "The backup file could not be opened.\n");
  EXPECT_EQ(rep_.resets, 0);
  EXPECT_FALSE(Exists(u"\\Program Files\\Quilmo Backup\\Reboot"));
}

TEST_F(ModesTest, AResumeWithoutAnOperationEndsTheRun) {
  dev_.MakeDir(u"\\Program Files\\Quilmo Backup\\Reboot");
  dev_.PutFile(u"\\Program Files\\Quilmo Backup\\Reboot\\Location.txt", "2001\n");
  {
    // A saved state (with its empty working index) that names no operation.
    AGlobal g;
    g.g_Operation.operationKind = kOperationNotSet;
    PersistantData state;
    state.CaptureState(g);
    ASSERT_TRUE(state.Save(u"\\Program Files\\Quilmo Backup\\Reboot"));
  }
  MarkBoxes();  // the test's own log lines show as boxes
  Run(u"LocalBackup \\temp\\a.pbf");
  EXPECT_TRUE(Logged("detected that have done PRE_OPERATION")) << LogText();
  EXPECT_TRUE(Logged("No valid operation set", 'E')) << LogText();
  EXPECT_FALSE(Logged("Command Line Backup starting"));
  EXPECT_EQ(BoxTexts(), "");
}

// A command-line backup and restore, each across the resets it makes: the
// restore puts back what was changed in between, and the Startup folder
// holds what it held before (and the popup's shortcut).
TEST_F(ModesTest, ACommandLineBackupAndRestoreRunAcrossTheirResets) {
  Allow(u"AllowLocalCommandLineOps");
  // The command-line options without a password: no dialog to answer.
  SetDword((std::u16string(kSettingsKey) + u"\\CommandLine").c_str(), u"dwUnattendedOptions", 715);
  dev_.MakeDir(u"\\Windows\\StartUp");
  dev_.PutFile(u"\\Windows\\StartUp\\user.lnk", "#12#\\Windows\\user.exe");
  dev_.PutFile(u"\\My Documents\\letter.txt", "the backed-up letter");
  dev_.MakeDir(u"\\Backups");
  SetDword(u"init", u"Launch10", 0);  // the boot's launch list (empty)

  SetDword(u"Software\\Sample", u"Colour", 1);
  Run(u"LocalBackup \\Backups\\device.pbf");
  EXPECT_EQ(rep_.resets, 2) << LogText();
  EXPECT_EQ(Starts(), 2);
  EXPECT_TRUE(Logged("detected that have done PRE_OPERATION")) << LogText();
  ASSERT_TRUE(Exists(u"\\Backups\\device.pbf"));
  EXPECT_TRUE(Exists(u"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport.txt"));
  EXPECT_EQ(Value(kSettingsKey, u"csDefaultBackupFilename"), "sz \\Backups\\device.pbf");
  EXPECT_EQ(BoxTexts(), "");

  dev_.PutFile(u"\\My Documents\\letter.txt", "changed after the backup");
  SetDword(u"Software\\Sample", u"Colour", 2);
  Run(u"LocalRestore \\Backups\\device.pbf");
  // The boot-time runner resets once more after it put the hives in place.
  EXPECT_EQ(rep_.resets, 3) << LogText();
  EXPECT_EQ(dev_.ReadFile(u"\\My Documents\\letter.txt"), "the backed-up letter");
  EXPECT_EQ(Value(u"Software\\Sample", u"Colour"), "dword 1");
  EXPECT_TRUE(Exists(u"\\Windows\\StartUp\\user.lnk"));
  EXPECT_FALSE(Exists(u"\\Windows\\StartUp\\DeployRB.lnk"));
  EXPECT_FALSE(Exists(u"\\Program Files\\Quilmo Backup\\Reboot"));
  EXPECT_EQ(BoxTexts(), "");
}

// The image is checked against the device before its restore: a build
// number alone passes without a question, another system version is asked
// about (and No ends the restore before its reset).
TEST_F(ModesTest, ACommandLineRestoreAsksOnlyAboutAnotherSystemNotAnotherBuild) {
  Allow(u"AllowLocalCommandLineOps");
  SetDword((std::u16string(kSettingsKey) + u"\\CommandLine").c_str(), u"dwUnattendedOptions", 715);
  dev_.MakeDir(u"\\Backups");
  dev_.MakeDir(u"\\Windows\\StartUp");
  dev_.PutFile(u"\\My Documents\\letter.txt", "the backed-up letter");
  SetDword(u"init", u"Launch10", 0);
  Run(u"LocalBackup \\Backups\\device.pbf");
  ASSERT_TRUE(Exists(u"\\Backups\\device.pbf")) << LogText();

  ce::Profile profile = dev_.device()->GetProfile();
  profile.buildNumber += 1;
  ASSERT_TRUE(dev_.device()->SaveProfile(profile));
  dev_.PutFile(u"\\My Documents\\letter.txt", "changed after the backup");
  MarkBoxes();
  Run(u"LocalRestore \\Backups\\device.pbf");
  EXPECT_FALSE(Logged("Meta Data Different OS")) << LogText();
  EXPECT_GE(rep_.resets, 2) << LogText();
  EXPECT_EQ(BoxTexts(), "");
  EXPECT_EQ(dev_.ReadFile(u"\\My Documents\\letter.txt"), "the backed-up letter") << LogText();

  profile.versionMinor += 1;
  ASSERT_TRUE(dev_.device()->SaveProfile(profile));
  const fs::path script = dev_.dir() / "other-system.ui";
  {
    std::ofstream f(script);
    f << "program \"Quilmo Backup.exe\"\nbox 65016 no\n";
  }
  setenv("QUILMO_UI_SCRIPT", script.c_str(), 1);
  Run(u"LocalRestore \\Backups\\device.pbf");
  unsetenv("QUILMO_UI_SCRIPT");
  EXPECT_TRUE(Logged("Meta Data Different OS")) << LogText();
  EXPECT_EQ(rep_.resets, 0);
}

}  // namespace
