// The kernel's run on the device clock: jumps when every device process
// waits, never while one works or has a message waiting; power, wake-ups,
// idle-off, the battery, notifications through the store, the end time and
// the start limit. Every check is on device time; device time passes with
// the host's while a program works, so a check allows the host time a
// loaded machine takes (testkit/DeviceTimes.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/boot.h"
#include "cesim/clock.h"
#include "cesim/notifystore.h"
#include "cesim/power.h"
#include "cesim/process.h"
#include "testkit/DeviceTimes.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"
#include "EndInsideRead.h"

namespace fs = std::filesystem;
using quilmo::test::AtDeviceTime;
using quilmo::test::DeviceTimeMs;

namespace {

constexpr int64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;

// Device ms of a UTC time "YYYY-MM-DD HH:MM:SS" (the test devices run on UTC).
int64_t At(const char* text) {
  SYSTEMTIME st{};
  unsigned y, mo, d, h, mi, s;
  sscanf(text, "%u-%u-%u %u:%u:%u", &y, &mo, &d, &h, &mi, &s);
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
}

// Records what the kernel asks of the notification store, and fires
// programs as a store would.
class FakeStore : public ce::NotificationStore {
 public:
  std::vector<int64_t> due;  // timed entries, earliest first
  std::u16string timedProgram, timedCommand;
  std::u16string eventProgram, eventCommand;  // started on every event
  std::vector<std::string> calls;

  std::optional<int64_t> NextDueMs(ce::Device*) override {
    if (due.empty()) return std::nullopt;
    return due.front();
  }
  void FireDue(ce::Device*, int64_t now, ce::NotificationKernelPort& port) override {
    while (!due.empty() && due.front() <= now) {
      due.erase(due.begin());
      calls.push_back("timed");
      DWORD pid = 0;
      port.Report("notification fires");
      port.StartProgram(timedProgram, timedCommand, "notification", &pid);
    }
  }
  std::vector<DWORD> FireEvent(ce::Device*, DWORD n, ce::NotificationKernelPort& port) override {
    calls.push_back("event " + std::to_string(n));
    DWORD pid = 0;
    if (eventProgram.empty() || !port.StartProgram(eventProgram, eventCommand, "event", &pid)) return {};
    return {pid};
  }
  void AfterBoot(ce::Device*, ce::NotificationKernelPort&) override { calls.push_back("boot"); }
};

class DeviceClockTest : public ::testing::Test {
 protected:
  DeviceClockTest() {
    dev_.MakeDir(u"\\Windows\\StartUp");
    opt_.runTimeoutMs = 60000;
    SYSTEMTIME st{2006, 3, 2, 7, 9, 0, 0, 0};
    SetSystemTime(&st);
    ce::SetNotificationStoreForTest(&store_);
  }
  ~DeviceClockTest() override { ce::SetNotificationStoreForTest(nullptr); }

  void Install(std::u16string_view devicePath) {
    fs::path host = dev_.Host(devicePath);
    fs::create_directories(host.parent_path());
    fs::copy_file(CECLOCK_TESTPROG, host, fs::copy_options::overwrite_existing);
  }
  // Lines of the test log, each "NAME YYYY-MM-DD HH:MM:SS TEXT".
  std::vector<std::string> Log() const {
    std::ifstream f(dev_.Host(u"\\clocktest.log"));
    std::vector<std::string> out;
    for (std::string l; std::getline(f, l);) out.push_back(l);
    return out;
  }
  std::string LogText() const {
    std::string all;
    for (const auto& l : Log()) all += l + "\n";
    return all;
  }
  // Device times of the log lines "NAME TIME TEXT", in the log's order.
  std::vector<int64_t> LoggedTimes(const std::string& name, const std::string& text) const {
    std::vector<int64_t> out;
    const std::string head = name + " ", tail = " " + text;
    for (const std::string& l : Log()) {
      if (l.size() != head.size() + 19 + tail.size() || l.compare(0, head.size(), head) != 0 ||
          l.compare(head.size() + 19, std::string::npos, tail) != 0)
        continue;
      if (std::optional<int64_t> ms = DeviceTimeMs(std::string_view(l).substr(head.size()))) out.push_back(*ms);
    }
    return out;
  }
  // The first of them.
  std::optional<int64_t> LoggedAt(const std::string& name, const std::string& text) const {
    std::vector<int64_t> times = LoggedTimes(name, text);
    if (times.empty()) return std::nullopt;
    return times.front();
  }
  // Device time of the first report line that contains part.
  std::optional<int64_t> LineAt(const std::string& part) const {
    for (const std::string& l : rep_.lines)
      if (l.find(part) != std::string::npos) return DeviceTimeMs(l);
    return std::nullopt;
  }
  std::string Lines() const { return rep_.Text(); }
  bool HasLine(const std::string& part) const { return rep_.HasLine(part); }
  void AppendProfile(const std::string& line) {
    std::ofstream(dev_.dir() / "profile.txt", std::ios::app) << line << "\n";
    ASSERT_TRUE(dev_.device()->ReloadProfile());
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
  FakeStore store_;
};

TEST_F(DeviceClockTest, SleepOfAllProcessesJumpsTheClock) {
  Install(u"\\Windows\\Sleeper.exe");
  ASSERT_TRUE(ce::RunOnDevice(u"Sleeper.exe", u"log a; sleep 3600000; log b; sleep 86400000; log c", opt_, &rep_))
      << Lines();
  const int64_t a = LoggedAt("Sleeper.exe", "a").value_or(0);
  EXPECT_TRUE(AtDeviceTime(a, At("2006-03-07 09:00:00"))) << LogText();
  const int64_t b = LoggedAt("Sleeper.exe", "b").value_or(0);
  EXPECT_TRUE(AtDeviceTime(b, a + kHour)) << LogText();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Sleeper.exe", "c"), b + kDay)) << LogText();
  EXPECT_TRUE(ce::DeviceClockEverDriven());
  EXPECT_FALSE(ce::DeviceClockDriven()) << "the clock is still taken after the run";
}

TEST_F(DeviceClockTest, ClockWaitsWhileAnyProcessWorks) {
  Install(u"\\Windows\\Sleeper.exe");
  Install(u"\\Windows\\Worker.exe");
  // The sleeper's hour passes only once the worker waits too; the worker's
  // own second of sleep then comes first.
  ASSERT_TRUE(ce::RunOnDevice(u"Sleeper.exe",
                              u"start Worker.exe work 700|log worked|sleep 1000|log slept; sleep 3600000; log woke",
                              opt_, &rep_))
      << Lines();
  const int64_t worked = LoggedAt("Worker.exe", "worked").value_or(0);
  EXPECT_TRUE(AtDeviceTime(worked, At("2006-03-07 09:00:00"))) << LogText();
  const int64_t slept = LoggedAt("Worker.exe", "slept").value_or(0);
  EXPECT_TRUE(AtDeviceTime(slept, worked + kSecond)) << LogText();
  const int64_t woke = LoggedAt("Sleeper.exe", "woke").value_or(0);
  EXPECT_TRUE(AtDeviceTime(woke, At("2006-03-07 10:00:00"))) << LogText();
  EXPECT_LT(slept, woke) << LogText();
}

TEST_F(DeviceClockTest, ClockWaitsForAProgramWhoseStarterEndsAtOnce) {
  Install(u"\\Windows\\Starter.exe");
  Install(u"\\Windows\\Worker.exe");
  const std::string gate = dev_.Host(u"\\clocktest.gate").string();
  // Whichever look of the run the starter's end falls in: the worker, not
  // yet waiting, holds the clock all the same.
  for (int nth = 1; nth <= 3; ++nth) {
    SCOPED_TRACE("the starter ends inside read " + std::to_string(nth));
    fs::remove(gate);
    fs::remove(dev_.Host(u"\\clocktest.log"));
    SYSTEMTIME st{2006, 3, 2, 7, 9, 0, 0, 0};
    SetSystemTime(&st);
    rep_ = {};
    opt_.untilMs = At("2006-03-08 09:00:00");
    quilmo::test::EndInsideRead end(gate, nth);
    opt_.onLine = [this](const std::string&) {
      if (!rep_.started.empty()) quilmo::test::EndInsideRead::Arm(static_cast<int>(rep_.started[0].pid));
    };
    ASSERT_TRUE(ce::RunOnDevice(u"Starter.exe", u"waitfile \\clocktest.gate; start Worker.exe work 500|log worked",
                                opt_, &rep_))
        << Lines();
    EXPECT_TRUE(quilmo::test::EndInsideRead::Struck());
    EXPECT_TRUE(rep_.reachedEnd);
    bool sameDay = false;
    for (const std::string& line : Log()) sameDay = sameDay || line.rfind("Worker.exe 2006-03-07 09:00:", 0) == 0;
    EXPECT_TRUE(sameDay) << LogText();
  }
}

TEST_F(DeviceClockTest, PostedMessageIsHandledBeforeTheClockMoves) {
  // The poster sleeps an hour right after each broadcast: every listener
  // still gets it at the time it was posted (a jump taken while a message
  // waits would show the later hour).
  Install(u"\\Windows\\Poster.exe");
  std::u16string steps;
  for (int i = 1; i <= 8; ++i) {
    const std::u16string name = u"L" + ce::FromUtf8(std::to_string(i)) + u".exe";
    Install(u"\\Windows\\" + name);
    steps += u"start " + name + u" window ClockTestGo|window ClockTestGo|window ClockTestGo; ";
  }
  // The first post waits for the listeners' windows, however long their
  // start takes.
  steps += u"waitwindows 8; log posts; post ClockTestGo; sleep 3600000; log posts; post ClockTestGo; sleep 3600000;"
           u" log posts; post ClockTestGo";
  ASSERT_TRUE(ce::RunOnDevice(u"Poster.exe", steps, opt_, &rep_)) << Lines();
  const std::vector<int64_t> posts = LoggedTimes("Poster.exe", "posts");
  ASSERT_EQ(posts.size(), 3u) << LogText();
  EXPECT_TRUE(AtDeviceTime(posts[1], posts[0] + kHour)) << LogText();
  EXPECT_TRUE(AtDeviceTime(posts[2], posts[1] + kHour)) << LogText();
  for (int i = 1; i <= 8; ++i) {
    SCOPED_TRACE("listener " + std::to_string(i));
    const std::vector<int64_t> got = LoggedTimes("L" + std::to_string(i) + ".exe", "got ClockTestGo");
    ASSERT_EQ(got.size(), 3u) << LogText();
    for (size_t k = 0; k < got.size(); ++k) EXPECT_TRUE(AtDeviceTime(got[k], posts[k])) << LogText();
  }
}

TEST_F(DeviceClockTest, TimersAndWaitsForProcessesCountOnTheDeviceClock) {
  Install(u"\\Windows\\Timer.exe");
  Install(u"\\Windows\\Parent.exe");
  ASSERT_TRUE(ce::RunOnDevice(u"Parent.exe", u"spawn Timer.exe timer 600000 3; log child ended", opt_, &rep_))
      << Lines();
  const int64_t tick1 = LoggedAt("Timer.exe", "tick 1").value_or(0);
  EXPECT_TRUE(AtDeviceTime(tick1, At("2006-03-07 09:10:00"))) << LogText();
  const int64_t tick3 = LoggedAt("Timer.exe", "tick 3").value_or(0);
  EXPECT_TRUE(AtDeviceTime(tick3, At("2006-03-07 09:30:00"))) << LogText();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Parent.exe", "child ended"), tick3)) << LogText();
  EXPECT_TRUE(AtDeviceTime(LineAt(" pid "), At("2006-03-07 09:00:00"))) << Lines();
  EXPECT_TRUE(HasLine("\\Windows\\Timer.exe ended: exit 0")) << Lines();
}

TEST_F(DeviceClockTest, RunUntilAnEndTimeLeavesWaitingProgramsRunning) {
  Install(u"\\Windows\\Stays.exe");
  opt_.untilMs = At("2006-03-14 09:00:00");
  ASSERT_TRUE(ce::RunOnDevice(u"Stays.exe", u"log up; window ClockTestQuit", opt_, &rep_)) << Lines();
  EXPECT_TRUE(rep_.reachedEnd);
  EXPECT_EQ(rep_.leftRunning, 1);
  EXPECT_TRUE(HasLine("run: the device clock reached 2006-03-14 09:00:00")) << Lines();
  EXPECT_TRUE(HasLine("1 process(es) go on running: pid ")) << Lines();
  SYSTEMTIME now{};
  GetSystemTime(&now);
  EXPECT_EQ(now.wDay, 14);
  EXPECT_EQ(now.wHour, 9);

  // The next run finds it running from before, and the message ends it.
  rep_ = {};
  opt_.untilMs = At("2006-03-14 10:00:00");
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(HasLine("Stays.exe \"log up; window ClockTestQuit\" was running before this run")) << Lines();
  EXPECT_EQ(rep_.leftRunning, 1);
  ASSERT_TRUE(PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(u"ClockTestQuit"), 0, 0));
  rep_ = {};
  opt_.untilMs.reset();
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(HasLine("run: the device is idle")) << Lines();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Stays.exe", "got ClockTestQuit"), At("2006-03-14 10:00:00"))) << LogText();
}

TEST_F(DeviceClockTest, WithoutAnEndTimeAWaitForEverKeepsHostTime) {
  Install(u"\\Windows\\Forever.exe");
  opt_.runTimeoutMs = 1500;
  EXPECT_FALSE(ce::RunOnDevice(u"Forever.exe", u"window ClockTestNever", opt_, &rep_));
  EXPECT_TRUE(rep_.timedOut);
  SYSTEMTIME now{};
  GetSystemTime(&now);
  EXPECT_EQ(now.wHour, 9);
  EXPECT_EQ(now.wMinute, 0);
}

TEST_F(DeviceClockTest, WaitsOnEventsCountOnTheDeviceClockAndEndWhenAnotherProgramSetsThem) {
  Install(u"\\Windows\\Waiter.exe");
  Install(u"\\Windows\\Setter.exe");
  ASSERT_TRUE(ce::RunOnDevice(u"Waiter.exe",
                              u"event Go; event Never; start Setter.exe sleep 3600000|setevent Go; "
                              u"waitevent Go 86400000; waitevent Never 7200000; waitevent Gone 10",
                              opt_, &rep_))
      << Lines();
  // Within ten seconds of the whole hours: a slow start-up takes host time.
  const std::string log = LogText();
  EXPECT_NE(log.find("Waiter.exe 2006-03-07 10:00:0"), std::string::npos) << log;
  EXPECT_NE(log.find(" Go signalled\nWaiter.exe 2006-03-07 12:00:0"), std::string::npos) << log;
  EXPECT_NE(log.find(" Never timeout\nWaiter.exe 2006-03-07 12:00:0"), std::string::npos) << log;
  EXPECT_NE(log.find(" Gone missing\n"), std::string::npos) << log;
  EXPECT_EQ(Log().size(), 3u) << log;
}

TEST_F(DeviceClockTest, AWaitWithoutLimitOnAnEventNobodySetsEndsWithTheRun) {
  Install(u"\\Windows\\Stuck.exe");
  opt_.runTimeoutMs = 1500;
  EXPECT_FALSE(ce::RunOnDevice(u"Stuck.exe", u"event Never; waitevent Never inf", opt_, &rep_));
  EXPECT_TRUE(rep_.timedOut) << Lines();
  rep_ = {};
  opt_.runTimeoutMs = 60000;
  opt_.untilMs = At("2006-03-08 09:00:00");
  ASSERT_TRUE(ce::RunOnDevice(u"Stuck.exe", u"event Never; waitevent Never inf", opt_, &rep_)) << Lines();
  EXPECT_TRUE(rep_.reachedEnd);
  EXPECT_EQ(rep_.leftRunning, 1);
  EXPECT_TRUE(ce::EndAllDeviceProcesses(false));
}

TEST_F(DeviceClockTest, PowerKeyTurnsOffAndAnOnStateWakesUp) {
  Install(u"\\Windows\\Keys.exe");
  Install(u"\\Windows\\Woken.exe");
  store_.eventProgram = u"Woken.exe";
  store_.eventCommand = u"log woken";
  ASSERT_TRUE(ce::RunOnDevice(u"Keys.exe",
                              u"key 0xDF up; sleep 1000; key 0xDF; sleep 1000; key 0xDF; sleep 1000; power on;"
                              u" sleep 1000; power suspend; sleep 1000; power useridle; sleep 1000",
                              opt_, &rep_))
      << Lines();
  std::string lines = Lines();
  // Key up does nothing; the second press finds the device off already.
  const std::string pressed = " power: off (the power key, pressed by pid ";
  size_t off = lines.find(pressed);
  ASSERT_NE(off, std::string::npos) << lines;
  EXPECT_EQ(lines.find("power: off (the power key", off + pressed.size()), std::string::npos) << lines;
  const int64_t keyOff = LineAt(pressed).value_or(0);
  EXPECT_TRUE(AtDeviceTime(keyOff, At("2006-03-07 09:00:01"))) << lines;
  const int64_t on = LineAt(" power: on (SetSystemPowerState \"on\" by pid ").value_or(0);
  EXPECT_TRUE(AtDeviceTime(on, keyOff + 2 * kSecond)) << lines;
  const int64_t suspend = LineAt(" power: off (SetSystemPowerState \"suspend\" by pid ").value_or(0);
  EXPECT_TRUE(AtDeviceTime(suspend, on + kSecond)) << lines;
  const int64_t idle = LineAt(" power: on (SetSystemPowerState \"useridle\" by pid ").value_or(0);
  EXPECT_TRUE(AtDeviceTime(idle, suspend + kSecond)) << lines;
  EXPECT_EQ(std::count(store_.calls.begin(), store_.calls.end(), "event 11"), 2) << lines;
  const std::vector<int64_t> woken = LoggedTimes("Woken.exe", "woken");
  ASSERT_EQ(woken.size(), 2u) << LogText();
  EXPECT_TRUE(AtDeviceTime(woken[0], on)) << LogText();
  EXPECT_TRUE(AtDeviceTime(woken[1], idle)) << LogText();
}

TEST_F(DeviceClockTest, DueNotificationWakesTheDeviceAndWaitsForTheWakeUpPrograms) {
  Install(u"\\Windows\\Keys.exe");
  Install(u"\\Windows\\Woken.exe");
  Install(u"\\Windows\\Timed.exe");
  store_.eventProgram = u"Woken.exe";
  store_.eventCommand = u"log woken; sleep 5000; log wake-up done";
  store_.timedProgram = u"Timed.exe";
  store_.timedCommand = u"log timed";
  store_.due = {At("2006-03-08 02:00:00"), At("2006-03-09 02:00:00")};
  opt_.untilMs = At("2006-03-09 12:00:00");
  ASSERT_TRUE(ce::RunOnDevice(u"Keys.exe", u"key 0xDF", opt_, &rep_)) << Lines();
  const int64_t wake = LineAt(" power: on (a timed notification is due)").value_or(0);
  EXPECT_TRUE(AtDeviceTime(wake, At("2006-03-08 02:00:00"))) << Lines();
  const int64_t woken = LoggedAt("Woken.exe", "woken").value_or(0);
  EXPECT_TRUE(AtDeviceTime(woken, wake)) << LogText();
  const std::vector<int64_t> timed = LoggedTimes("Timed.exe", "timed");
  ASSERT_EQ(timed.size(), 2u) << LogText();
  EXPECT_TRUE(AtDeviceTime(timed[0], woken + 5 * kSecond)) << LogText();
  // On the second day the device is on: no wake-up.
  EXPECT_TRUE(AtDeviceTime(timed[1], At("2006-03-09 02:00:00"))) << LogText();
  EXPECT_EQ(store_.calls, (std::vector<std::string>{"event 11", "timed", "timed"}));
}

TEST_F(DeviceClockTest, WakeUpWaitsAtMostThirtySecondsForItsPrograms) {
  Install(u"\\Windows\\Woken.exe");
  Install(u"\\Windows\\Timed.exe");
  store_.eventProgram = u"Woken.exe";
  store_.eventCommand = u"sleep 600000; log wake-up done";
  store_.timedProgram = u"Timed.exe";
  store_.timedCommand = u"log timed";
  store_.due = {At("2006-03-07 12:00:00")};
  ASSERT_TRUE(ce::SetDevicePower(false, "the test"));
  opt_.untilMs = At("2006-03-07 13:00:00");
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  const int64_t wake = LineAt(" power: on (a timed notification is due)").value_or(0);
  EXPECT_TRUE(AtDeviceTime(wake, At("2006-03-07 12:00:00"))) << Lines();
  const int64_t gaveUp = LineAt(" wake-up: the programs of event 11 still run after 30 s").value_or(0);
  EXPECT_TRUE(AtDeviceTime(gaveUp, wake + 30 * kSecond)) << Lines();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Timed.exe", "timed"), gaveUp)) << LogText();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Woken.exe", "wake-up done"), At("2006-03-07 12:10:00"))) << LogText();
}

}  // namespace

namespace {

TEST_F(DeviceClockTest, IdleOffTurnsTheDeviceOffAndInputRestartsIt) {
  AppendProfile("idle_off_minutes = 3");
  Install(u"\\Windows\\Keys.exe");
  opt_.untilMs = At("2006-03-07 09:30:00");
  ASSERT_TRUE(ce::RunOnDevice(u"Keys.exe", u"sleep 120000; key 1; sleep 600000; power on; sleep 60000; idlereset",
                              opt_, &rep_))
      << Lines();
  // 09:02 key, off at 09:05; on at 09:12, reset at 09:13, off at 09:16.
  std::vector<int64_t> idleOff;
  for (const std::string& l : rep_.lines)
    if (l.find(" power: off (idle for 3 minutes)") != std::string::npos) idleOff.push_back(DeviceTimeMs(l).value_or(0));
  ASSERT_EQ(idleOff.size(), 2u) << Lines();
  EXPECT_TRUE(AtDeviceTime(idleOff[0], At("2006-03-07 09:05:00"))) << Lines();
  const int64_t on = LineAt(" power: on (SetSystemPowerState \"on\" by pid").value_or(0);
  EXPECT_TRUE(AtDeviceTime(on, idleOff[0] + 7 * kMinute)) << Lines();
  EXPECT_TRUE(AtDeviceTime(idleOff[1], on + 4 * kMinute)) << Lines();
  EXPECT_FALSE(ce::DeviceIsOn());
}

TEST_F(DeviceClockTest, BatteryDrainsWithDeviceTimeInWholePercent) {
  AppendProfile("battery_percent = 40");
  AppendProfile("battery_ac = off");
  AppendProfile("battery_drain = 2");
  Install(u"\\Windows\\Meter.exe");
  ASSERT_TRUE(ce::RunOnDevice(u"Meter.exe",
                              u"battery; sleep 1740000; battery; sleep 120000; battery; sleep 19800000; battery", opt_,
                              &rep_))
      << Lines();
  const int64_t full = LoggedAt("Meter.exe", "battery 40 ac 0").value_or(0);
  EXPECT_TRUE(AtDeviceTime(full, At("2006-03-07 09:00:00"))) << LogText();
  const int64_t above = LoggedAt("Meter.exe", "battery 39 ac 0").value_or(0);  // 39.03
  EXPECT_TRUE(AtDeviceTime(above, full + 29 * kMinute)) << LogText();
  const int64_t below = LoggedAt("Meter.exe", "battery 38 ac 0").value_or(0);  // 38.97: rounded down
  EXPECT_TRUE(AtDeviceTime(below, above + 2 * kMinute)) << LogText();
  const int64_t later = LoggedAt("Meter.exe", "battery 27 ac 0").value_or(0);
  EXPECT_TRUE(AtDeviceTime(later, below + 330 * kMinute)) << LogText();

  // On AC the charge stands still.
  ASSERT_TRUE(ce::SetDeviceBattery(50, true));
  rep_ = {};
  ASSERT_TRUE(ce::RunOnDevice(u"Meter.exe", u"sleep 36000000; battery", opt_, &rep_)) << Lines();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Meter.exe", "battery 50 ac 1"), later + 10 * kHour)) << LogText();
  SYSTEM_POWER_STATUS_EX s{};
  EXPECT_FALSE(GetSystemPowerStatusEx(nullptr, TRUE));
  ASSERT_TRUE(GetSystemPowerStatusEx(&s, TRUE));
  EXPECT_EQ(s.BatteryFlag, BATTERY_FLAG_CHARGING);
  EXPECT_EQ(s.BatteryLifeTime, BATTERY_LIFE_UNKNOWN);
  ASSERT_TRUE(ce::SetDeviceBattery(3, false, 1));
  ASSERT_TRUE(GetSystemPowerStatusEx(&s, TRUE));
  EXPECT_EQ(s.BatteryFlag, BATTERY_FLAG_CRITICAL);
  EXPECT_EQ(s.BatteryLifeTime, 3u * 3600);
  EXPECT_EQ(s.BatteryFullLifeTime, 100u * 3600);
}

TEST_F(DeviceClockTest, RunStopsPastOneHundredStartsInADeviceMinute) {
  // One program starts the others in a row: the starts come as fast as the
  // host makes processes, far inside the minute even on a loaded machine.
  Install(u"\\Windows\\Starter.exe");
  Install(u"\\Windows\\Short.exe");
  std::u16string starts;
  for (int i = 0; i < 150; ++i) starts += u"start Short.exe exit 0; ";
  EXPECT_FALSE(ce::RunOnDevice(u"Starter.exe", starts + u"log all started", opt_, &rep_));
  EXPECT_TRUE(rep_.startLimitReached) << Lines();
  const std::string since = " programs started within one minute of device time (since ";
  const std::string stops = "), more than 100: a program keeps starting programs; the run stops";
  std::string limit;
  for (const std::string& l : rep_.lines)
    if (l.find(since) != std::string::npos) limit = l;
  const size_t at = limit.find(since);
  ASSERT_NE(at, std::string::npos) << Lines();
  const std::string rest = limit.substr(at + since.size());
  EXPECT_TRUE(AtDeviceTime(DeviceTimeMs(rest), At("2006-03-07 09:00:00"))) << Lines();
  EXPECT_EQ(rest.substr(std::min<size_t>(19, rest.size())), stops) << Lines();
  EXPECT_TRUE(ce::ListDeviceProcesses().back().resident) << "a device process outlived the run";

  // A hundred starts spread over more than a minute are fine.
  rep_ = {};
  opt_.maxStartsPerMinute = 3;
  ASSERT_TRUE(ce::RunOnDevice(u"Short.exe", u"start Short.exe|exit 0; sleep 30000; start Short.exe|exit 0;"
                                            u" sleep 31000; start Short.exe|exit 0",
                              opt_, &rep_))
      << Lines();
  EXPECT_FALSE(rep_.startLimitReached);
}

// Inside the first read of the process table, lets the starter start its
// program (by the host file gate) and waits until the starter logs that
// the program is recorded: the read has missed it.
struct StartInsideRead {
  static inline std::string gate, log;
  static inline std::atomic<bool> struck{false};
  static void Hook() {
    if (struck.exchange(true)) return;
    std::ofstream(gate) << "go";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      std::ifstream f(log);
      std::stringstream all;
      all << f.rdbuf();
      if (all.str().find(" started\n") != std::string::npos) return;
      usleep(1000);
    }
  }
};

TEST_F(DeviceClockTest, EndingAllProcessesEndsAProgramStartedDuringTheSweep) {
  Install(u"\\Windows\\Starter.exe");
  Install(u"\\Windows\\Worker.exe");
  opt_.untilMs = At("2006-03-07 09:00:01");
  ASSERT_TRUE(ce::RunOnDevice(u"Starter.exe",
                              u"waitfile \\clocktest.gate; start Worker.exe sleep 3600000; log started;"
                              u" window ClockTestNever",
                              opt_, &rep_))
      << Lines();
  ASSERT_EQ(rep_.leftRunning, 1) << Lines();
  StartInsideRead::gate = dev_.Host(u"\\clocktest.gate").string();
  StartInsideRead::log = dev_.Host(u"\\clocktest.log").string();
  StartInsideRead::struck = false;
  ce::SetProcessTableReadHookForTest(&StartInsideRead::Hook);
  EXPECT_TRUE(ce::EndAllDeviceProcesses(false));
  ce::SetProcessTableReadHookForTest(nullptr);
  ASSERT_TRUE(StartInsideRead::struck);
  ASSERT_TRUE(LoggedAt("Starter.exe", "started")) << LogText();
  for (const ce::DeviceProcess& p : ce::ListDeviceProcesses())
    EXPECT_TRUE(p.resident) << ce::ToUtf8(p.commandLine) << " outlived the end of all processes";
  ce::EndAllDeviceProcesses(false);  // whatever outlived it, so that it does not outlive the test
}

TEST_F(DeviceClockTest, QueuedEventsFireAndABootTellsTheStore) {
  Install(u"\\Windows\\Woken.exe");
  store_.eventProgram = u"Woken.exe";
  store_.eventCommand = u"log event";
  ASSERT_TRUE(ce::QueueNotificationEvent(10));
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(store_.calls, (std::vector<std::string>{"event 10"}));
  const int64_t signalled = LineAt(" event 10 signalled").value_or(0);
  EXPECT_TRUE(AtDeviceTime(signalled, At("2006-03-07 09:00:00"))) << Lines();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Woken.exe", "event"), signalled)) << LogText();

  // A boot is no wake-up, even from off.
  store_.calls.clear();
  ASSERT_TRUE(ce::SetDevicePower(false, "the test"));
  rep_ = {};
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(store_.calls, (std::vector<std::string>{"boot"}));
  EXPECT_TRUE(HasLine("power: on (the boot)")) << Lines();
  EXPECT_TRUE(ce::DeviceIsOn());
}

TEST_F(DeviceClockTest, DeviceLeftDownBySpentResetBudgetBootsBeforeTheNextRun) {
  Install(u"\\Windows\\Resetter.exe");
  Install(u"\\Windows\\Later.exe");
  opt_.maxResets = 0;
  EXPECT_FALSE(ce::RunOnDevice(u"Resetter.exe", u"power reset", opt_, &rep_));
  EXPECT_TRUE(rep_.resetBudgetSpent);
  EXPECT_TRUE(ce::DeviceIsDown());
  rep_ = {};
  ASSERT_TRUE(ce::RunOnDevice(u"Later.exe", u"log after", opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.boots, 1);
  EXPECT_TRUE(HasLine("run: the device is down (a spent reset budget left it off): booting it")) << Lines();
  EXPECT_FALSE(ce::DeviceIsDown());
  ASSERT_FALSE(rep_.started.empty());
  EXPECT_EQ(rep_.started.back().program, u"\\Windows\\Later.exe");
  EXPECT_EQ(rep_.started.back().boot, 1);
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Later.exe", "after"), At("2006-03-07 09:00:00"))) << LogText();
}

TEST_F(DeviceClockTest, WaitBegunBetweenRunsTakesPartInTheNextRun) {
  Install(u"\\Windows\\Boot.exe");
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_));  // the device's clock has been driven
  // Started from the host side between runs, it sleeps an hour.
  const std::u16string cmd = u"sleep 3600000; log woke";
  Install(u"\\Windows\\Between.exe");
  ASSERT_TRUE(quilmo::test::ReturnsInChild([cmd] {
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(u"Between.exe", cmd.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
      _exit(1);
  }));
  rep_ = {};
  opt_.untilMs = At("2006-03-07 11:00:00");
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Between.exe", "woke"), At("2006-03-07 10:00:00"))) << LogText();
}

}  // namespace

namespace {

TEST_F(DeviceClockTest, LocalTimesOfARunFollowTheZonesDaylightTime) {
  AppendProfile("timezone = EST5EDT,M3.2.0,M11.1.0");
  SYSTEMTIME st{2007, 3, 0, 11, 6, 30, 0, 0};  // 01:30 EST
  ASSERT_TRUE(SetSystemTime(&st));
  Install(u"\\Windows\\Sleeper.exe");
  ASSERT_TRUE(ce::RunOnDevice(u"Sleeper.exe", u"log a; sleep 3600000; log b; key 0xDF", opt_, &rep_)) << Lines();
  // Local times: the hour's sleep crosses the change to daylight time.
  const int64_t a = LoggedAt("Sleeper.exe", "a").value_or(0);
  EXPECT_TRUE(AtDeviceTime(a, At("2007-03-11 01:30:00"))) << LogText();
  const int64_t b = LoggedAt("Sleeper.exe", "b").value_or(0);
  EXPECT_TRUE(AtDeviceTime(b, a + 2 * kHour)) << LogText();
  EXPECT_TRUE(AtDeviceTime(LineAt(" power: off (the power key"), b)) << Lines();
}

}  // namespace

namespace {

TEST_F(DeviceClockTest, TimePassedBySettingTheClockFiresLateAtTheNextRun) {
  Install(u"\\Windows\\Timed.exe");
  store_.timedProgram = u"Timed.exe";
  store_.timedCommand = u"log timed";
  store_.due = {At("2006-03-07 09:30:00")};
  SYSTEMTIME st{2006, 3, 2, 7, 9, 41, 0, 0};
  ASSERT_TRUE(SetSystemTime(&st));
  EXPECT_TRUE(store_.calls.empty());
  opt_.untilMs = At("2006-03-07 09:41:00");
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(store_.calls, (std::vector<std::string>{"timed"}));
  const int64_t fires = LineAt(" notification fires").value_or(0);
  EXPECT_TRUE(AtDeviceTime(fires, At("2006-03-07 09:41:00"))) << Lines();
  EXPECT_TRUE(AtDeviceTime(LoggedAt("Timed.exe", "timed"), fires)) << LogText();
}

}  // namespace
