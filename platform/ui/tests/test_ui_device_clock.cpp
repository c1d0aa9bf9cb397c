// The layer's loops on a device whose clock a kernel drives: they wait for
// their timers in the layer instead of moving the clock themselves.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "ce/time.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "testkit/DeviceTimes.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

using quilmo::test::AtDeviceTime;
using quilmo::test::DeviceTimeMsOf;

constexpr int64_t kSecond = 1000, kHour = 3600 * kSecond;

// Device times of the log lines "TEXT HH:MM:SS" that begin with text, on
// 2006-03-07.
std::vector<int64_t> TimesOf(const std::string& log, const std::string& text) {
  std::vector<int64_t> out;
  std::istringstream in(log);
  for (std::string l; std::getline(in, l);)
    if (l.size() == text.size() + 9 && l.compare(0, text.size(), text) == 0)
      out.push_back(quilmo::test::DeviceTimeMs("2006-03-07 " + l.substr(text.size() + 1)).value_or(0));
  return out;
}

void Install(const quilmo::test::TestDevice& dev, std::u16string_view path, const char* from) {
  fs::path host = dev.Host(path);
  fs::create_directories(host.parent_path());
  fs::copy_file(from, host, fs::copy_options::overwrite_existing);
}

TEST(UiDeviceClock, LoopWaitsForItsTimerWhileAnotherProgramWorks) {
  quilmo::test::TestDevice dev;
  Install(dev, u"\\Windows\\Ticker.exe", CEUI_TIMERPROG);
  Install(dev, u"\\Windows\\Worker.exe", CECLOCK_TESTPROG);
  const auto hostStart = std::chrono::steady_clock::now();
  SYSTEMTIME st{2006, 3, 2, 7, 9, 0, 0, 0};
  ASSERT_TRUE(SetSystemTime(&st));
  ce::BootOptions opt;
  opt.runTimeoutMs = 60000;
  ce::BootReport rep;
  // The worker works 1.5 s of host time, and until it has, the device clock
  // keeps the host's: a loop that jumped to its timers would have put it
  // three seconds ahead.
  ASSERT_TRUE(ce::RunOnDevice(u"Worker.exe", u"start Ticker.exe 1000 3; work 1500; log worked", opt, &rep));
  const int64_t hostMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - hostStart).count();
  const std::string worked = dev.ReadFile(u"\\clocktest.log");
  ASSERT_EQ(worked.substr(0, 11), "Worker.exe ") << worked;
  const int64_t workedAt = quilmo::test::DeviceTimeMs(worked.substr(11)).value_or(0);
  const int64_t nine = DeviceTimeMsOf("2006-03-07 09:00:00");
  EXPECT_TRUE(AtDeviceTime(workedAt, nine + kSecond)) << worked;
  EXPECT_LE(workedAt - nine, hostMs) << worked << "the device clock ran ahead of the host's";
  std::string ticks = dev.ReadFile(u"\\uiclock.log");
  ASSERT_EQ(TimesOf(ticks, "tick 1").size(), 1u) << ticks;
  ASSERT_EQ(TimesOf(ticks, "tick 3").size(), 1u) << ticks;
  EXPECT_TRUE(AtDeviceTime(TimesOf(ticks, "tick 1")[0], nine + kSecond)) << ticks;
  EXPECT_TRUE(AtDeviceTime(TimesOf(ticks, "tick 2")[0], nine + 2 * kSecond)) << ticks;
  const int64_t third = TimesOf(ticks, "tick 3")[0];
  EXPECT_TRUE(AtDeviceTime(third, nine + 3 * kSecond)) << ticks;

  // With nothing else working, the ticks take no host time to speak of.
  ASSERT_TRUE(ce::RunOnDevice(u"Ticker.exe", u"3600000 2", opt, &rep));
  ticks = dev.ReadFile(u"\\uiclock.log");
  const std::vector<int64_t> first = TimesOf(ticks, "tick 1"), second = TimesOf(ticks, "tick 2");
  ASSERT_EQ(first.size(), 2u) << ticks;
  ASSERT_EQ(second.size(), 2u) << ticks;
  EXPECT_TRUE(AtDeviceTime(first[1], third + kHour)) << ticks;
  EXPECT_TRUE(AtDeviceTime(second[1], first[1] + kHour)) << ticks;
}

TEST(UiDeviceClock, ABubbleIsAnsweredByAScriptOrEndsOnTheDeviceClockOrStalls) {
  quilmo::test::TestDevice dev;
  Install(dev, u"\\Windows\\Popup.exe", CEUI_TIMERPROG);
  SYSTEMTIME st{2006, 3, 2, 7, 9, 0, 0, 0};
  ASSERT_TRUE(SetSystemTime(&st));
  ce::BootOptions opt;
  opt.runTimeoutMs = 60000;
  auto screenLog = [] {
    std::string all;
    for (const auto& e : ce::ReadScreenLog()) all += ce::ToUtf8(e.text) + "\n";
    return all;
  };

  // Answered by a UI script: the sink's command ends the program.
  const fs::path script = dev.dir() / "bubble.script";
  std::ofstream(script) << "bubble 124\n";
  {
    quilmo::test::ScopedEnv env("QUILMO_UI_SCRIPT", script.string());
    ce::BootReport rep;
    ASSERT_TRUE(ce::RunOnDevice(u"Popup.exe", u"bubble 0", opt, &rep));
    ASSERT_EQ(rep.started.size(), 1u);
    EXPECT_EQ(rep.started[0].exitCode, 0u);
  }
  // Times to the ten seconds: a slow start-up takes host time.
  auto tens = [&] {
    std::string log = dev.ReadFile(u"\\uiclock.log");
    for (size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1)) log[at - 1] = 'x';
    return log;
  };
  EXPECT_EQ(tens(), "command 124 09:00:0x\nloop ended 09:00:0x\n");
  EXPECT_EQ(screenLog(),
            "notification 1 shown: The restore is done. [Report] [Close]\n"
            "notification 1 button \"Close\" (cmd:124) pressed; the sink answered 0\n"
            "notification 1 removed\n");

  // Nothing scripted: its half hour passes on the device clock, then the
  // loop stalls and ends instead of hanging.
  ce::BootReport rep;
  ASSERT_TRUE(ce::RunOnDevice(u"Popup.exe", u"bubble 1800", opt, &rep));
  EXPECT_FALSE(rep.timedOut);
  EXPECT_EQ(tens(), "command 124 09:00:0x\nloop ended 09:00:0x\nloop ended 09:30:0x\n");
  EXPECT_NE(screenLog().find("notification 1 gone: its 1800 s ran out\n"), std::string::npos) << screenLog();
}

}  // namespace
