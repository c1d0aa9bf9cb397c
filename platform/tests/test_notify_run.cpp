// The kernel firing the device's own notifications on the device clock: the
// clock jumps to each due entry, a due entry wakes the device and waits for
// the wake-up's programs, entries outlive resets, and a kernel killed in
// the middle of a firing leaves it to the next boot to start exactly once.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/notify.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/boot.h"
#include "cesim/device.h"
#include "cesim/notifystore.h"
#include "cesim/power.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

SYSTEMTIME At(WORD day, WORD hour, WORD minute) { return SYSTEMTIME{2006, 3, 0, day, hour, minute, 0, 0}; }

// Device ms of a time of March 2006 (the test devices run on UTC).
int64_t Ms(WORD day, WORD hour, WORD minute) {
  const SYSTEMTIME st = At(day, hour, minute);
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
}

class NotifyRunTest : public ::testing::Test {
 protected:
  NotifyRunTest() {
    dev_.MakeDir(u"\\Windows\\StartUp");
    for (const char16_t* name : {u"\\Windows\\Timed.exe", u"\\Windows\\Woken.exe", u"\\Windows\\Resetter.exe"})
      fs::copy_file(CECLOCK_TESTPROG, dev_.Host(name));
    opt_.runTimeoutMs = 60000;
    const SYSTEMTIME start = At(7, 9, 0);
    SetSystemTime(&start);
  }

  std::string Timed(const SYSTEMTIME& at, const char16_t* commandLine, const char16_t* program = u"Timed.exe") {
    CE_NOTIFICATION_TRIGGER t{};
    t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
    t.dwType = CNT_TIME;
    t.lpszApplication = const_cast<WCHAR*>(program);
    t.lpszArguments = const_cast<WCHAR*>(commandLine);
    t.stStartTime = t.stEndTime = at;
    return Origin(CeSetUserNotificationEx(nullptr, &t, nullptr));
  }
  std::string OnWakeUp(const char16_t* commandLine) {
    CE_NOTIFICATION_TRIGGER t{};
    t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
    t.dwType = CNT_EVENT;
    t.dwEvent = NOTIFICATION_EVENT_WAKEUP;
    t.lpszApplication = const_cast<WCHAR*>(u"\\Windows\\Woken.exe");
    t.lpszArguments = const_cast<WCHAR*>(commandLine);
    return Origin(CeSetUserNotificationEx(nullptr, &t, nullptr));
  }
  // The origin the run's report gives a start by the notification.
  static std::string Origin(HANDLE h) {
    EXPECT_NE(h, nullptr);
    return "notification " + std::to_string(reinterpret_cast<uintptr_t>(h));
  }
  static size_t Count() {
    DWORD n = 0;
    CeGetUserNotificationHandles(nullptr, 0, &n);
    return n;
  }

  std::vector<std::string> Log() const {
    std::ifstream f(dev_.Host(u"\\clocktest.log"));
    std::vector<std::string> out;
    for (std::string l; std::getline(f, l);) out.push_back(l);
    return out;
  }
  // The log with the last digit of every time's seconds as "x": a program
  // logs once it has started, which takes host time, and device time runs
  // with it.
  std::vector<std::string> RoughLog() const {
    std::vector<std::string> out = Log();
    for (std::string& l : out)
      if (size_t at = l.find(" 2006-"); at != std::string::npos && at + 19 < l.size()) l[at + 19] = 'x';
    return out;
  }
  std::string LogText() const {
    std::string all;
    for (const auto& l : Log()) all += l + "\n";
    return all;
  }
  bool Logged(const std::string& line) const {
    auto log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  std::string Lines() const { return rep_.Text(); }
  bool HasLine(const std::string& part) const { return rep_.HasLine(part); }
  std::vector<std::string> Origins() const {
    std::vector<std::string> out;
    for (const auto& p : rep_.started) out.push_back(p.origin);
    return out;
  }
  // Starts of the command line in the device's process table, by any run.
  int Started(const std::u16string& cmdLine) {
    std::lock_guard<std::recursive_mutex> g(dev_.device()->DbLock());
    ce::Stmt s(dev_.device()->Db(), "SELECT COUNT(*) FROM processes WHERE cmdline = ?");
    return s.Bind(1, std::u16string_view(cmdLine)).Step() ? static_cast<int>(s.Int(0)) : -1;
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(NotifyRunTest, ClockJumpsToEachDueEntryAndTiesFireByHandle) {
  const std::string a = Timed(At(8, 2, 0), u"log a");
  const std::string b = Timed(At(8, 1, 0), u"log b", u"\\Windows\\Timed.exe");
  const std::string c = Timed(At(8, 2, 0), u"log c");
  opt_.untilMs = Ms(9, 0, 0);
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  std::vector<std::string> log = RoughLog();
  std::sort(log.begin() + 1, log.end());  // a and c run side by side
  EXPECT_EQ(log, (std::vector<std::string>{"Timed.exe 2006-03-08 01:00:0x b", "Timed.exe 2006-03-08 02:00:0x a",
                                           "Timed.exe 2006-03-08 02:00:0x c"}))
      << LogText();
  EXPECT_EQ(Origins(), (std::vector<std::string>{b, a, c})) << Lines();
  EXPECT_TRUE(HasLine("2006-03-08 02:00:00 " + a + ": Timed.exe \"log a\" fires (due 2006-03-08 02:00:00)"))
      << Lines();
  EXPECT_EQ(Count(), 0u);
  std::ifstream debug(dev_.dir() / "debug.log");
  const std::string debugLog((std::istreambuf_iterator<char>(debug)), std::istreambuf_iterator<char>());
  EXPECT_NE(debugLog.find(c + ": Timed.exe \"log c\" started"), std::string::npos) << debugLog;
}

TEST_F(NotifyRunTest, EntriesProgramsRegisterWhileTheDeviceRunsFireOnTime) {
  // The kernel has looked at the queue before each program writes to it.
  opt_.untilMs = Ms(7, 12, 0);
  ASSERT_TRUE(ce::RunOnDevice(u"Resetter.exe",
                              u"sleep 60000; notify 3600 Timed.exe log first|notify 600 Timed.exe log second",
                              opt_, &rep_))
      << Lines();
  EXPECT_EQ(RoughLog(), (std::vector<std::string>{"Timed.exe 2006-03-07 10:01:0x first",
                                                  "Timed.exe 2006-03-07 10:11:0x second"}))
      << Lines();
  EXPECT_TRUE(HasLine("fires (due 2006-03-07 10:11:00)")) << Lines();
  EXPECT_EQ(Count(), 0u);
}

TEST_F(NotifyRunTest, DueEntryWakesTheDeviceAfterTheWakeUpProgramsEnd) {
  OnWakeUp(u"log woken; sleep 5000; log wake-up done");
  Timed(At(7, 12, 0), u"log timed");
  ASSERT_TRUE(ce::SetDevicePower(false, "the test"));
  opt_.untilMs = Ms(7, 13, 0);
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(HasLine("2006-03-07 12:00:00 power: on (a timed notification is due)")) << Lines();
  EXPECT_EQ(RoughLog(), (std::vector<std::string>{"Woken.exe 2006-03-07 12:00:0x woken",
                                                  "Woken.exe 2006-03-07 12:00:0x wake-up done",
                                                  "Timed.exe 2006-03-07 12:00:0x timed"}))
      << Lines();
  EXPECT_EQ(Count(), 1u) << "the wake-up entry stays";
}

TEST_F(NotifyRunTest, EntriesOutliveAResetAndItsBootIsNoWakeUp) {
  OnWakeUp(u"log woken");
  Timed(At(7, 10, 0), u"log timed");
  opt_.untilMs = Ms(7, 11, 0);
  ASSERT_TRUE(ce::RunOnDevice(u"Resetter.exe", u"sleep 60000; power reset", opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.resets, 1) << Lines();
  EXPECT_EQ(RoughLog(), (std::vector<std::string>{"Timed.exe 2006-03-07 10:00:0x timed"})) << Lines();
  EXPECT_EQ(Count(), 1u);
}

// The kernel killed at each point of a firing: the boot after it starts
// the entry's program if it had not started, and never a second time.
class KilledKernelTest : public NotifyRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KilledKernelTest, TheBootAfterItStartsTheEntryExactlyOnce) {
  const std::u16string cmdLine = u"log fired at " + ce::FromUtf8(GetParam());
  Timed(At(7, 9, 30), cmdLine.c_str());
  const char* point = GetParam();
  const int64_t until = Ms(7, 10, 0);
  auto child = quilmo::test::ChildProcess::Fork([point, until] {
    setenv(ce::kNotifyKillEnv, point, 1);
    ce::BootOptions o;
    o.untilMs = until;
    ce::BootReport r;
    ce::RunDevice(o, &r);
  });
  const quilmo::test::ChildExit end = child.Wait();
  ASSERT_EQ(end.signal, SIGKILL) << end.Describe();
  const bool startedBefore = Started(cmdLine) == 1;
  EXPECT_EQ(startedBefore, std::string(point) != "recorded");

  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(Started(cmdLine), 1) << Lines();
  EXPECT_EQ(Count(), 0u);
  if (startedBefore) {
    EXPECT_TRUE(HasLine("was started before the device stopped; not again")) << Lines();
  } else {
    EXPECT_TRUE(HasLine("was due when the device stopped; it fires now")) << Lines();
    EXPECT_EQ(LogText().rfind("Timed.exe 2006-03-07 09:30:0", 0), 0u) << LogText();
    EXPECT_EQ(Log().size(), 1u) << LogText();
  }
  // Nothing of it is left for a later run.
  rep_ = {};
  opt_.untilMs = Ms(8, 0, 0);
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(Started(cmdLine), 1) << Lines();
}

INSTANTIATE_TEST_SUITE_P(EachPoint, KilledKernelTest,
                         ::testing::Values("recorded", "started", "start-recorded", "removed"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
