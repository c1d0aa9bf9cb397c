// The history folder's lookup and report rotation, and the post-boot
// popup's shortcut, message file and command line.
#include <gtest/gtest.h>

#include <string>

#include "ce/shell.h"
#include "core/RegistrySettings.h"
#include "engine/BackupHistory.h"
#include "engine/HalveyIF.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

constexpr const char16_t *kProgramHistory =
    u"\\Program Files\\Quilmo Backup\\Quilmo Backup History";
constexpr const char16_t *kWindowsHistory = u"\\Windows\\Quilmo Backup History";

std::u16string S(const CString &s) { return s.str(); }

std::u16string Remembered() {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  CString value;
  return settings.ReadString(ABackupHistoryHandler::kFolderValue, value)
             ? value.str()
             : u"<none>";
}

void Remember(const char16_t *folder) {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  ASSERT_TRUE(
      settings.WriteString(ABackupHistoryHandler::kFolderValue, folder));
}

std::u16string Report(int n) {
  return S(ABackupHistoryHandler::ReportPath(kProgramHistory, n));
}

TEST(BackupHistory, LocatesInOrderAndRemembersWhatItFound) {
  TestDevice dev;
  {
    ABackupHistoryHandler none;
    EXPECT_FALSE(none.Found());
    EXPECT_TRUE(none.Folder().IsEmpty());
    EXPECT_EQ(Remembered(), u"<none>");
  }
  dev.MakeDir(kWindowsHistory);
  {
    ABackupHistoryHandler windows;
    EXPECT_TRUE(windows.Found());
    EXPECT_EQ(S(windows.Folder()), kWindowsHistory);
    EXPECT_EQ(Remembered(), kWindowsHistory);
  }
  // The remembered folder wins while it exists; once deleted the lookup
  // falls through to the folder beside the program.
  dev.MakeDir(kProgramHistory);
  EXPECT_EQ(S(ABackupHistoryHandler().Folder()), kWindowsHistory);
  std::filesystem::remove_all(dev.Host(kWindowsHistory));
  EXPECT_EQ(S(ABackupHistoryHandler().Folder()), kProgramHistory);
  EXPECT_EQ(Remembered(), kProgramHistory);
}

TEST(BackupHistory, RecordedProgramPathAndEmptyValue) {
  TestDevice dev;
  dev.MakeDir(u"\\Storage\\Quilmo Backup History");
  {
    ABackupRegistrySettings shared(kSharedKeyKind);
    ASSERT_TRUE(shared.WriteString(u"csBackupEXEPath",
                                   u"\\Storage\\Quilmo Backup.exe"));
  }
  EXPECT_EQ(S(ABackupHistoryHandler().Folder()),
            u"\\Storage\\Quilmo Backup History");
  // An empty remembered value names the root: found, with an empty text.
  Remember(u"");
  ABackupHistoryHandler empty;
  EXPECT_TRUE(empty.Found());
  EXPECT_TRUE(empty.Folder().IsEmpty());
}

TEST(BackupHistory, CreateFolderMakesAndRemembersIt) {
  TestDevice dev;
  dev.MakeDir(u"\\Program Files\\Quilmo Backup");
  ABackupHistoryHandler history;
  ASSERT_FALSE(history.Found());
  EXPECT_FALSE(history.RotateReports());
  ASSERT_TRUE(history.CreateFolder());
  EXPECT_TRUE(history.Found());
  EXPECT_EQ(S(history.Folder()), kProgramHistory);
  EXPECT_TRUE(std::filesystem::is_directory(dev.Host(kProgramHistory)));
  EXPECT_EQ(Remembered(), kProgramHistory);
}

TEST(BackupHistory, RotationKeepsThirtyReports) {
  TestDevice dev;
  dev.MakeDir(kProgramHistory);
  for (int n = 0; n < 30; ++n)
    dev.PutFile(Report(n), "report " + std::to_string(n));
  ABackupHistoryHandler history;
  ASSERT_TRUE(history.RotateReports());
  EXPECT_FALSE(std::filesystem::exists(dev.Host(Report(0))));
  for (int n = 1; n < 30; ++n)
    EXPECT_EQ(dev.ReadFile(Report(n)), "report " + std::to_string(n - 1)) << n;
  EXPECT_FALSE(std::filesystem::exists(dev.Host(Report(30))));
  EXPECT_EQ(Report(1),
            std::u16string(kProgramHistory) + u"\\BackupReport1.txt");
}

TEST(BackupHistory, RotationOfAFewReports) {
  TestDevice dev;
  dev.MakeDir(kProgramHistory);
  for (int n = 0; n < 3; ++n)
    dev.PutFile(Report(n), "report " + std::to_string(n));
  ASSERT_TRUE(ABackupHistoryHandler().RotateReports());
  EXPECT_FALSE(std::filesystem::exists(dev.Host(Report(0))));
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(dev.ReadFile(Report(n)), "report " + std::to_string(n - 1));
}

TEST(HalveyLaunch, MessageFileShortcutAndCommandLine) {
  TestDevice dev;
  dev.PutFile(u"\\Windows\\QuilmoStart.exe", "s");
  dev.MakeDir(u"\\Windows\\StartUp");
  dev.MakeDir(kProgramHistory);
  dev.MakeDir(u"\\temp");
  AHalveyIF halvey;
  EXPECT_EQ(S(halvey.ShortcutPath()), u"\\Windows\\StartUp\\Halvey.lnk");
  // An old shortcut is replaced.
  dev.PutFile(u"\\Windows\\StartUp\\Halvey.lnk", "old");
  ASSERT_TRUE(halvey.Launch(u"0123456789", true, true));
  EXPECT_EQ(dev.ReadFile(AHalveyIF::kMessageFile), std::string("0\0"
                                                               "1\0"
                                                               "2\0"
                                                               "3\0"
                                                               "4\0"
                                                               "5\0"
                                                               "6\0"
                                                               "7\0"
                                                               "8\0"
                                                               "9\0",
                                                               20));
  std::u16string target;
  ASSERT_TRUE(
      ce::ReadShortcutTarget(u"\\Windows\\StartUp\\Halvey.lnk", &target));
  const std::u16string args =
      std::u16string(u"\"\\temp\\popupMessage.txt\" \"") + kProgramHistory +
      u"\\BackupReport.txt\" /restore /turnOff";
  EXPECT_NE(target.find(u"/args " + args), std::u16string::npos)
      << std::string(target.begin(), target.end());
  EXPECT_TRUE(halvey.ShortcutExists());
  EXPECT_TRUE(halvey.DeleteShortcut());
  EXPECT_FALSE(halvey.ShortcutExists());
  EXPECT_EQ(S(AHalveyIF::HalveyCommandLine(u"\\H", false, false)),
            u"\"\\temp\\popupMessage.txt\" \"\\H\\BackupReport.txt\"");
}

TEST(HalveyLaunch, UnwritableMessageFileStillCreatesTheShortcut) {
  TestDevice dev;
  dev.PutFile(u"\\Windows\\QuilmoStart.exe", "s");
  dev.MakeDir(u"\\Windows\\StartUp");
  dev.MakeDir(AHalveyIF::kMessageFile); // a folder in its place
  AHalveyIF halvey;
  EXPECT_TRUE(halvey.Launch(u"done", false, false));
  EXPECT_TRUE(halvey.ShortcutExists());
}

} // namespace
