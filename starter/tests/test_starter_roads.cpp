// The starter on a running device with the real recorder as the main
// program: the boot list's launch with and without its argument file, the
// card prompt on the device clock (a card put in and Retry, Cancel, the
// time-out, another start's "AutoStartRunning"), and a scheduled start
// across a reset of the device.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/notify.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/boot.h"
#include "cesim/file.h"
#include "cesim/msgbox.h"
#include "core/Localizer.h"
#include "starter_fixture.h"
#include "testkit/ResourceLibrary.h"

namespace fs = std::filesystem;

namespace {

using namespace startertest;

constexpr const char16_t* kStarter = u"\\Windows\\QuilmoStart.exe";
constexpr const char16_t* kDriver = u"\\Windows\\battery_driver.exe";
constexpr const char16_t* kCardProgram = u"\\Storage Card\\Quilmo Backup.exe";

// Device ms (since 1970 UTC) of a time of March 2006 on the UTC test device.
int64_t Ms(WORD day, WORD hour, WORD minute, WORD second = 0) {
  const SYSTEMTIME st{2006, 3, 0, day, hour, minute, second, 0};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
}

int64_t NowMs() {
  SYSTEMTIME st{};
  GetSystemTime(&st);
  return Ms(st.wDay, st.wHour, st.wMinute, st.wSecond);
}

ce::Profile CardDevice() {
  ce::Profile p;
  p.cards.push_back(u"Storage Card");
  return p;
}

class StarterRoadTest : public ::testing::Test {
 protected:
  StarterRoadTest() : dev_(CardDevice()) {
    quilmo::test::LoadBuiltResourceLibrary();
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Windows\\StartUp");
    InstallBuilt(dev_, "QuilmoStart", kStarter);
    InstallBuilt(dev_, "QuilmoRes.dll", u"\\Windows\\QuilmoRes.dll");
    InstallBuilt(dev_, "recorder", kMainProgram);
    InstallBuilt(dev_, "battery_driver", kDriver);
    SetString(kSharedKey, u"csBackupEXEPath", kMainProgram);
    SetDword(kConfigKey, u"ScheduleDelayStartup", 0);
    SetDword(std::u16string(kSettingsKey) + u"\\Lissent", u"bHardReset", 0);
    opt_.runTimeoutMs = 60000;
    const SYSTEMTIME start{2006, 3, 0, 7, 9, 0, 0, 0};
    SetSystemTime(&start);
  }

  // The main program on the card, which is out.
  void MainProgramOnAbsentCard() {
    InstallBuilt(dev_, "recorder", kCardProgram);
    SetString(kSharedKey, u"csBackupEXEPath", kCardProgram);
    ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  }
  // Runs the driver's steps on the device until no program is left.
  bool Drive(const char16_t* steps) {
    rep_ = {};
    opt_.untilMs.reset();
    return ce::RunOnDevice(kDriver, steps, opt_, &rep_);
  }
  long StarterExit() const {
    for (const auto& p : rep_.started)
      if (p.program == kStarter && p.exitCode) return static_cast<long>(*p.exitCode);
    return -1;
  }
  std::string Lines() const {
    std::string all;
    for (const auto& l : rep_.lines) all += l + "\n";
    return all + "driver:\n" + ReadOr(u"\\battery_driver.log");
  }
  std::string ReadOr(std::u16string_view path) const {
    return fs::exists(dev_.Host(path)) ? dev_.ReadFile(path) : std::string();
  }
  std::string Recorded() const { return ReadOr(u"\\Recorder.log"); }
  struct Box {
    std::string text;
    int64_t timeMs;
  };
  static std::vector<Box> Boxes() {
    std::vector<Box> out;
    for (const auto& b : ce::ReadScreenLog()) out.push_back({ce::ToUtf8(b.text), b.timeMs});
    return out;
  }
  static std::string ResText(DWORD id) {
    CString text;
    EXPECT_TRUE(Localizer::LoadResStringRaw(id, text));
    return ce::ToUtf8(text.str());
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(StarterRoadTest, BootListLaunchWithAndWithoutItsArgumentFile) {
  SetString(u"init", u"Launch7", kStarter);
  dev_.PutFile(u"\\temp\\QuilmoStartArgs7.txt",
               "\xFF\xFE" + Utf16(u"/run \"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\" /args \"a b\" c\n"));
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(StarterExit(), 0) << Lines();
  EXPECT_EQ(Recorded(),
            "2006-03-07 09:00:00 \\Program Files\\Quilmo Backup\\Quilmo Backup.exe \" \"a b\" \"c\"\" power=on\n")
      << Lines();
  EXPECT_EQ(Raw(u"init", u"Launch7"), "<none>");

  // Put back without its file: the entry goes again, nothing starts.
  SetString(u"init", u"Launch7", kStarter);
  rep_ = {};
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(StarterExit(), 2) << Lines();
  EXPECT_EQ(Raw(u"init", u"Launch7"), "<none>");
  const std::string recorded = Recorded();
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), 1) << recorded;
}

TEST_F(StarterRoadTest, ACardPutInWhileThePromptShowsAndRetryStartsTheProgram) {
  MainProgramOnAbsentCard();
  ASSERT_TRUE(Drive(u"start \\Windows\\QuilmoStart.exe /runbackupapp; sleep 5000; card insert Storage Card;"
                    u" click Insert Card 4"))
      << Lines();
  EXPECT_EQ(StarterExit(), 0) << Lines();
  EXPECT_EQ(Recorded(), "2006-03-07 09:00:05 \\Storage Card\\Quilmo Backup.exe \"\" power=on\n") << Lines();
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(StarterRoadTest, CancelTimeOutAndAnotherStartEndThePrompt) {
  MainProgramOnAbsentCard();
  ASSERT_TRUE(Drive(u"start \\Windows\\QuilmoStart.exe /runbackupapp; sleep 3000; click Insert Card 2")) << Lines();
  EXPECT_EQ(StarterExit(), 0) << Lines();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 0);

  // Nobody answers: the box after 20 s of device time.
  const int64_t start = NowMs();
  ASSERT_TRUE(Drive(u"start \\Windows\\QuilmoStart.exe /runbackupapp")) << Lines();
  const std::vector<Box> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u) << Lines();
  EXPECT_EQ(boxes[0].text, ResText(65297));
  EXPECT_GE(boxes[0].timeMs - start, 20000);
  EXPECT_LT(boxes[0].timeMs - start, 22000);
  EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 0);

  // Another start announces itself: this one goes quietly, leaving its
  // start type for the other.
  ASSERT_TRUE(Drive(u"start \\Windows\\QuilmoStart.exe /runbackupapp; sleep 2000; post AutoStartRunning")) << Lines();
  EXPECT_EQ(StarterExit(), 0) << Lines();
  EXPECT_EQ(Boxes().size(), 1u) << Lines();
  EXPECT_EQ(Dword(kSettingsKey, u"dwAutoStartType"), 3);
  EXPECT_EQ(Recorded(), "") << Lines();
}

// A scheduled start registered before a reset still comes, once, after the
// boot; the wake-up entry stays.
TEST_F(StarterRoadTest, AScheduledStartOutlivesAReset) {
  InstallBuilt(dev_, "ceclock_testprog", u"\\Windows\\Resetter.exe");
  SetDword(kConfigKey, u"ScheduleDelayStartup", 10);
  ASSERT_TRUE(Drive(u"wakeup")) << Lines();
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = CNT_TIME;
  t.lpszApplication = const_cast<WCHAR*>(kStarter);
  t.lpszArguments = const_cast<WCHAR*>(u"ScheduledBackup");
  t.stStartTime = t.stEndTime = SYSTEMTIME{2006, 3, 0, 8, 2, 0, 0, 0};
  ASSERT_NE(CeSetUserNotificationEx(nullptr, &t, nullptr), nullptr);

  rep_ = {};
  opt_.untilMs = Ms(8, 3, 0);
  ASSERT_TRUE(ce::RunOnDevice(u"\\Windows\\Resetter.exe", u"sleep 3600000; power reset", opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.resets, 1) << Lines();
  EXPECT_EQ(Recorded(), "2006-03-08 02:00:10 \\Program Files\\Quilmo Backup\\Quilmo Backup.exe \"ScheduledBackup\" "
                        "power=on\n")
      << Lines();
  DWORD n = 0;
  CeGetUserNotificationHandles(nullptr, 0, &n);
  EXPECT_EQ(n, 1u) << "the wake-up entry";
}

}  // namespace
