// The layer's loops on a device whose clock a kernel drives: they wait for
// their timers in the layer instead of moving the clock themselves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ce/time.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

void Install(const quilmo::test::TestDevice& dev, std::u16string_view path, const char* from) {
  fs::path host = dev.Host(path);
  fs::create_directories(host.parent_path());
  fs::copy_file(from, host, fs::copy_options::overwrite_existing);
}

TEST(UiDeviceClock, LoopWaitsForItsTimerWhileAnotherProgramWorks) {
  quilmo::test::TestDevice dev;
  Install(dev, u"\\Windows\\Ticker.exe", CEUI_TIMERPROG);
  Install(dev, u"\\Windows\\Worker.exe", CECLOCK_TESTPROG);
  SYSTEMTIME st{2006, 3, 2, 7, 9, 0, 0, 0};
  ASSERT_TRUE(SetSystemTime(&st));
  ce::BootOptions opt;
  opt.runTimeoutMs = 60000;
  ce::BootReport rep;
  // The worker works 1.5 s of host time; a loop that jumped to its timers
  // would have passed all three ticks by then.
  ASSERT_TRUE(ce::RunOnDevice(u"Worker.exe", u"start Ticker.exe 1000 3; work 1500; log worked", opt, &rep));
  EXPECT_EQ(dev.ReadFile(u"\\uiclock.log"), "tick 1 09:00:01\ntick 2 09:00:02\ntick 3 09:00:03\n");
  EXPECT_EQ(dev.ReadFile(u"\\clocktest.log"), "Worker.exe 2006-03-07 09:00:01 worked\n");

  // With nothing else working, the ticks take no host time to speak of.
  ASSERT_TRUE(ce::RunOnDevice(u"Ticker.exe", u"3600000 2", opt, &rep));
  EXPECT_EQ(dev.ReadFile(u"\\uiclock.log"),
            "tick 1 09:00:01\ntick 2 09:00:02\ntick 3 09:00:03\ntick 1 10:00:03\ntick 2 11:00:03\n");
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
