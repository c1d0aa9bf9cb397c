// Starting the main program: its keyword, from csBackupEXEPath or the card
// that holds it, the boxes when it cannot start, the wake-up road without
// the card, and the card prompt (count-down, retry, cancel, time-out, a
// second starter's "AutoStartRunning").
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/controls.h"
#include "ce/file.h"
#include "ce/window.h"
#include "cesim/file.h"
#include "cesim/system.h"
#include "core/RegistrySettings.h"
#include "scheduling/NotifyFormat.h"
#include "scheduling/WakeUpService.h"
#include "starter/SmartStartFile.h"
#include "starter/StarterFormat.h"
#include "start_fixture.h"
#include "ui/Automation.h"

namespace {

using startertest::Dword;
using startertest::kMainProgram;
using startertest::kSettingsKey;
using startertest::kSharedKey;
using startertest::SetDword;
using startertest::SetString;
namespace fmt = StarterFormat;

constexpr const char16_t* kCardProgram = u"\\Storage Card\\Quilmo Backup\\Quilmo Backup.exe";

class MainProgramStartTest : public startertest::StartTest {
 protected:
  MainProgramStartTest() : StartTest(startertest::CardProfile()) {}

  static bool StartMain(DWORD type, const char16_t* line = u"") {
    CQuilmoStartCommandLineInfo info;
    ACommandLineParser(line).ParseCommandLine(info);
    SmartStartFile start(&info);
    return start.StartMainProgram(type);
  }
  static StarterRunResult RunLine(const char16_t* line) {
    CQuilmoStartCommandLineInfo info;
    ACommandLineParser(line).ParseCommandLine(info);
    SmartStartFile start(&info);
    return start.Run();
  }
  // Stamps the wake-up and the scheduled start one second apart.
  static void WokenForTheStart() {
    ASSERT_TRUE(WriteStartTime(WakeUpNames::kWakeUpServiceKey));
    ASSERT_TRUE(WriteStartTime(WakeUpNames::kUnattendedKey));
  }
  static std::vector<int> PowerKeys() {
    std::vector<int> keys;
    for (const auto& e : ce::RecordedInputEvents())
      if (e.kind == "key" && e.vk == 0xDF) keys.push_back(static_cast<int>(e.flags));
    return keys;
  }
  static HWND Prompt() { return FindWindowW(fmt::kCardWindowClass, nullptr); }
  static std::string Text(HWND hwnd) {
    WCHAR text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    return ce::ToUtf8(text);
  }
  static std::string ResText(DWORD id) { return ce::ToUtf8(Localizer::LoadResString(id).str()); }
};

TEST_F(MainProgramStartTest, KeywordsByKindOfStart) {
  EXPECT_TRUE(StartMain(kStartScheduled));
  WaitStarted(1);
  EXPECT_TRUE(StartMain(kStartMerrow));
  WaitStarted(2);
  EXPECT_TRUE(StartMain(kStartPlain));
  EXPECT_EQ(WaitStarted(3), (std::vector<std::string>{MainLine("ScheduledBackup"), MainLine("MerrowAutoBackup"),
                                                      MainLine("")}));
}

TEST_F(MainProgramStartTest, RunBackupAppAsksForTheMerrowRunOnlyWithItsWord) {
  EXPECT_EQ(RunLine(u"/runbackupapp /args merrowautobackup"), kRunDone);
  WaitStarted(1);
  EXPECT_EQ(RunLine(u"/runbackupapp /args other MerrowAutoBackup"), kRunDone);
  WaitStarted(2);
  EXPECT_EQ(RunLine(u"/runbackupapp"), kRunDone);
  EXPECT_EQ(WaitStarted(3), (std::vector<std::string>{MainLine("MerrowAutoBackup"), MainLine(""), MainLine("")}));
  EXPECT_NE(Dword(std::u16string(kSettingsKey) + u"\\Unattended", u"dwStartTimeLow"), -1);
}

TEST_F(MainProgramStartTest, UnreadablePathOrFailedStartEndInABox) {
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedKey, 0, 0, &shared), ERROR_SUCCESS);
  RegDeleteValueW(shared, u"csBackupEXEPath");
  RegCloseKey(shared);
  EXPECT_FALSE(StartMain(kStartScheduled));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].rfind("Error: ", 0), 0u) << Boxes()[0];

  // A file that is no program.
  dev_.PutFile(u"\\Windows\\notes.exe", "text");
  SetString(kSharedKey, u"csBackupEXEPath", u"\\Windows\\notes.exe");
  EXPECT_FALSE(StartMain(kStartScheduled));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1].rfind("Error: Error starting Quilmo Backup (create process) - please start manually  - "
                             "Error code: ",
                             0),
            0u)
      << Boxes()[1];
  EXPECT_TRUE(Settled().empty());
}

TEST_F(MainProgramStartTest, FromTheCardThatHoldsIt) {
  SetDword(kSettingsKey, u"bQuilmoCard", 1);
  dev_.MakeDir(u"\\Storage Card\\Deep\\Quilmo Backup");  // only direct sub-folders count
  startertest::InstallBuilt(dev_, "starter_recorder", u"\\Storage Card\\Deep\\Quilmo Backup\\Quilmo Backup.exe");
  startertest::InstallBuilt(dev_, "starter_recorder", kCardProgram);
  EXPECT_TRUE(StartMain(kStartScheduled));
  EXPECT_EQ(WaitStarted(1), std::vector<std::string>{ce::ToUtf8(kCardProgram) + "\tScheduledBackup"});
}

TEST_F(MainProgramStartTest, WokenForAScheduleWithoutTheCardTurnsTheDeviceOff) {
  SetDword(kSettingsKey, u"bQuilmoCard", 1);
  WokenForTheStart();
  EXPECT_FALSE(StartMain(kStartScheduled));
  EXPECT_EQ(Boxes(), std::vector<std::string>{ResBox(65287)});
  EXPECT_EQ(PowerKeys(), (std::vector<int>{0, KEYEVENTF_KEYUP}));
  EXPECT_TRUE(Settled().empty());
}

TEST_F(MainProgramStartTest, AScheduleWithoutTheCardAndNoWakeUpKeepsTheDeviceOn) {
  SetDword(kSettingsKey, u"bQuilmoCard", 1);
  ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  EXPECT_FALSE(StartMain(kStartScheduled));
  EXPECT_EQ(Boxes(), std::vector<std::string>{ResBox(65287)});
  EXPECT_TRUE(PowerKeys().empty());
}

TEST_F(MainProgramStartTest, ThePromptCountsTwentySecondsDownThenGivesUp) {
  SetString(kSharedKey, u"csBackupEXEPath", u"\\Storage Card\\Quilmo Backup.exe");
  const DWORD startTick = GetTickCount();
  ui::test::Automation a;
  a.Do([&](ui::test::Automation& self) {
     HWND prompt = Prompt();
     if (!prompt) return self.Fail("no prompt");
     EXPECT_EQ(Text(prompt), ResText(65261));
     RECT r{};
     GetWindowRect(prompt, &r);
     EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right - r.left, r.bottom - r.top}),
               std::vector<LONG>({5, 100, 222, 132}));
     EXPECT_EQ(Text(GetDlgItem(prompt, fmt::kCardTextId)), ResText(65262));
     EXPECT_EQ(Text(GetDlgItem(prompt, fmt::kCardCancelId)), ResText(57686));
     EXPECT_EQ(Text(GetDlgItem(prompt, fmt::kCardRetryId)), ResText(65263));
     EXPECT_EQ(SendMessageW(GetDlgItem(prompt, fmt::kCardBarId), PBM_GETPOS, 0, 0), 20);
     EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 1);
   })
      .AdvanceClock(5000)
      .Do([&](ui::test::Automation&) {
        EXPECT_EQ(SendMessageW(GetDlgItem(Prompt(), fmt::kCardBarId), PBM_GETPOS, 0, 0), 15);
      })
      .ExpectBox(65297, IDOK);
  EXPECT_FALSE(StartMain(kStartScheduled));
  EXPECT_TRUE(a.Done());
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_GE(GetTickCount() - startTick, 20000u);
  EXPECT_EQ(Prompt(), nullptr);
  EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 0);
  EXPECT_TRUE(PowerKeys().empty());
}

TEST_F(MainProgramStartTest, RetryLooksAgainWithAFreshPrompt) {
  SetString(kSharedKey, u"csBackupEXEPath", u"\\Storage Card\\Quilmo Backup.exe");
  ui::test::Automation a;
  HWND first = nullptr;
  a.Do([&](ui::test::Automation&) {
     first = Prompt();
     ui::test::Dialog(first).Click(fmt::kCardRetryId);
   })
      .Do([&](ui::test::Automation& self) {
        if (!Prompt()) return self.Fail("no second prompt");
        EXPECT_EQ(SendMessageW(GetDlgItem(Prompt(), fmt::kCardBarId), PBM_GETPOS, 0, 0), 20);
        startertest::InstallBuilt(dev_, "starter_recorder", u"\\Storage Card\\Quilmo Backup.exe");
        ui::test::Dialog(Prompt()).Click(fmt::kCardRetryId);
      });
  EXPECT_TRUE(StartMain(kStartMerrow));
  EXPECT_TRUE(a.Done());
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(WaitStarted(1), std::vector<std::string>{"\\Storage Card\\Quilmo Backup.exe\tMerrowAutoBackup"});
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(MainProgramStartTest, CancelGivesUpQuietly) {
  SetString(kSharedKey, u"csBackupEXEPath", u"\\Storage Card\\Quilmo Backup.exe");
  ui::test::Automation a;
  a.Do([&](ui::test::Automation&) { ui::test::Dialog(Prompt()).Click(fmt::kCardCancelId); });
  EXPECT_FALSE(StartMain(kStartPlain));
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 0);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(Settled().empty());
}

TEST_F(MainProgramStartTest, AnotherStarterRunningTakesOver) {
  SetDword(kSettingsKey, u"bQuilmoCard", 1);
  ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  ui::test::Automation a;
  a.Do([&](ui::test::Automation&) {
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(fmt::kOtherInstanceMessage), 0, 0);
  });
  EXPECT_FALSE(StartMain(kStartMerrow));
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(Prompt(), nullptr);
  // The other starter owns the wait now.
  EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 2);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(MainProgramStartTest, ACardPutInDuringThePromptIsFoundOnRetry) {
  SetDword(kSettingsKey, u"bQuilmoCard", 1);
  ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  ui::test::Automation a;
  a.Do([&](ui::test::Automation&) {
    EXPECT_TRUE(ce::InsertStorageCard(u"Storage Card"));
    startertest::InstallBuilt(dev_, "starter_recorder", kCardProgram);
    ui::test::Dialog(Prompt()).Click(fmt::kCardRetryId);
  });
  EXPECT_TRUE(StartMain(kStartPlain));
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(WaitStarted(1), std::vector<std::string>{ce::ToUtf8(kCardProgram) + "\t"});
}

}  // namespace
