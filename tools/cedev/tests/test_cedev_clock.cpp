// cedev run --until, clock advance as a run, power, battery, card, event and
// the notifications (list, clear, firing late after the clock was set).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "CedevRun.h"
#include "ce/notify.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

using cedev_test::Result;
using cedev_test::RunCedev;

bool Has(const Result& r, const std::string& text) { return r.output.find(text) != std::string::npos; }

ce::Profile WithCard() {
  ce::Profile p;
  p.cards.push_back(u"Storage Card");
  return p;
}

class CedevClockTest : public ::testing::Test {
 protected:
  CedevClockTest() : dev_(WithCard()) {
    Install(u"\\Windows\\Clock.exe");
    Expect("clock " + D() + " set 2006-03-07T09:00:00");
  }
  std::string D() const { return "'" + dev_.dir().string() + "'"; }
  void Install(std::u16string_view devicePath) {
    fs::path host = dev_.Host(devicePath);
    fs::create_directories(host.parent_path());
    fs::copy_file(QUILMO_BIN_DIR "/ceclock_testprog", host, fs::copy_options::overwrite_existing);
  }
  Result Expect(const std::string& args, int status = 0) {
    Result r = RunCedev(args);
    EXPECT_EQ(r.status, status) << args << "\n" << r.output;
    return r;
  }
  std::string Log() const { return dev_.ReadFile(u"\\clocktest.log"); }
  // The log with the last digit of every time's seconds as "x": each
  // command starts a little after the last one ended, in host time.
  std::string RoughLog() const {
    std::string log = Log();
    for (size_t pos = 0; (pos = log.find(" 20", pos)) != std::string::npos; ++pos)
      if (pos + 20 < log.size() && log[pos + 14] == ':' && log[pos + 17] == ':') log[pos + 19] = 'x';
    return log;
  }

  quilmo::test::TestDevice dev_;
};

TEST_F(CedevClockTest, RunUntilLeavesAWaitingProgramAndAdvanceCarriesItOn) {
  Result r = Expect("run " + D() + " --until 2006-03-07T09:30:00 Clock.exe 'log a; sleep 3600000; log b'");
  EXPECT_TRUE(Has(r, "run: the device clock reached 2006-03-07 09:30:00")) << r.output;
  EXPECT_TRUE(Has(r, "1 process(es) go on running: pid ")) << r.output;
  r = Expect("clock " + D() + " advance 3600");
  EXPECT_TRUE(Has(r, "2006-03-07 10:00:0")) << r.output;
  EXPECT_TRUE(Has(r, " \\Windows\\Clock.exe ended: exit 0\n")) << r.output;
  // An hour on from where the run left the clock, and the host time the
  // commands took since.
  EXPECT_TRUE(Has(r, "2006-03-07T10:30:0")) << r.output;
  EXPECT_TRUE(Has(r, " (device clock offset")) << r.output;
  EXPECT_EQ(RoughLog(), "Clock.exe 2006-03-07 09:00:0x a\nClock.exe 2006-03-07 10:00:0x b\n");
  // The end time may come as an option too; boot takes it as well.
  r = Expect("run --until 2006-03-08T00:00:00 " + D());
  EXPECT_TRUE(Has(r, "run: the device clock reached 2006-03-08 00:00:00")) << r.output;
  r = Expect("boot --until 2006-03-08T01:00:00 " + D());
  EXPECT_TRUE(Has(r, "boot 1: complete")) << r.output;
  EXPECT_TRUE(Has(r, "run: the device clock reached 2006-03-08 01:00:00")) << r.output;
}

TEST_F(CedevClockTest, BadEndTimesAndMissingProgramsAreRefused) {
  Expect("run " + D() + " --until yesterday Clock.exe", 1);
  Expect("run " + D(), 2);
  Expect("run " + D() + " --until", 2);
  Expect("boot " + D() + " Clock.exe", 2);
  Expect("clock " + D() + " advance 12x", 1);
}

TEST_F(CedevClockTest, PowerOffAndOnWithItsWakeUp) {
  EXPECT_EQ(Expect("power " + D() + " show").output, "power: on\n");
  Result r = Expect("power " + D() + " off");
  EXPECT_EQ(r.output, "power: off\n");
  EXPECT_EQ(Expect("power " + D() + " show").output, "power: off\n");
  r = Expect("power " + D() + " on");
  EXPECT_TRUE(Has(r, " power: off (cedev power off)\n")) << r.output;
  EXPECT_TRUE(Has(r, " power: on (cedev power on)\n")) << r.output;
  EXPECT_TRUE(Has(r, " wake-up: event 11 fires\n")) << r.output;
  EXPECT_EQ(Expect("power " + D() + " on").output, "power: on already\n");
  Expect("power " + D() + " sideways", 2);
  // The power key of a program turns it off; the run prints it. The clock
  // is set again: the commands above took host time.
  Expect("clock " + D() + " set 2006-03-07T09:00:00");
  r = Expect("run " + D() + " Clock.exe 'sleep 60000; key 0xDF'");
  EXPECT_TRUE(Has(r, "2006-03-07 09:01:0")) << r.output;
  EXPECT_TRUE(Has(r, " power: off (the power key, pressed by pid ")) << r.output;
}

TEST_F(CedevClockTest, BatteryIsSetAndDrainsWithDeviceTime) {
  Result r = Expect("battery " + D() + " 40 --ac off --drain 2");
  EXPECT_EQ(r.output, "battery: 40%, AC off\n");
  Expect("run " + D() + " Clock.exe 'battery; sleep 17950000; battery'");
  // The charge drains by whole device seconds from the set: each second of
  // host time the run takes to start costs 2/3600 %, which a whole percent
  // shows as 39 at once. The 4 h 59 min 10 s of sleep take 9.97 % more.
  const std::string drained = "Clock.exe 2006-03-07 13:59:1x battery 30 ac 0\n";
  const std::string log = RoughLog();
  EXPECT_TRUE(log == "Clock.exe 2006-03-07 09:00:0x battery 40 ac 0\n" + drained ||
              log == "Clock.exe 2006-03-07 09:00:0x battery 39 ac 0\n" + drained)
      << log;
  std::ifstream profile(dev_.dir() / "profile.txt");
  std::string text((std::istreambuf_iterator<char>(profile)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(text.find("battery_percent = 40\n") != std::string::npos) << text;
  EXPECT_TRUE(text.find("battery_ac = off\n") != std::string::npos) << text;
  EXPECT_TRUE(text.find("battery_drain = 2\n") != std::string::npos) << text;
  Expect("battery " + D() + " 101", 1);
  Expect("battery " + D() + " -3", 1);
  Expect("battery " + D() + " 50 --ac maybe", 2);
  Expect("battery " + D() + " 50 --drain", 2);
}

TEST_F(CedevClockTest, CardArrivesWhileAProgramWaitsForIt) {
  Result r = Expect("card " + D() + " remove");
  EXPECT_EQ(r.output, "\\Storage Card removed\n");
  Expect("run " + D() + " --until 2006-03-07T09:00:10 Clock.exe 'waitfile \\Storage Card\\; log card found'");
  EXPECT_EQ(Log(), "");
  r = Expect("card " + D() + " insert");
  EXPECT_EQ(r.output, "\\Storage Card inserted\n");
  // Between runs the program looks in host time; the run after it carries
  // it on if it has not seen the card yet.
  Expect("clock " + D() + " advance 60");
  EXPECT_NE(Log().find(" card found\n"), std::string::npos) << Log();
  Expect("card " + D() + " insert", 1);  // it is in
  Expect("card " + D() + " remove Nowhere", 1);
  Expect("card " + D() + " shuffle", 2);
}

TEST_F(CedevClockTest, EventIsSignalledThroughTheRun) {
  Result r = Expect("event " + D() + " 5");
  EXPECT_TRUE(Has(r, " event 5 signalled")) << r.output;
  Expect("event " + D() + " five", 1);
}

// Registers a notification of Clock.exe: timed at a local time, or on an
// event; returns its handle as cedev prints it.
std::string Register(DWORD type, DWORD event, const SYSTEMTIME& at, const char16_t* args) {
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = type;
  t.dwEvent = event;
  t.lpszApplication = const_cast<WCHAR*>(u"\\Windows\\Clock.exe");
  t.lpszArguments = const_cast<WCHAR*>(args);
  t.stStartTime = t.stEndTime = at;
  HANDLE h = CeSetUserNotificationEx(nullptr, &t, nullptr);
  EXPECT_NE(h, nullptr);
  return std::to_string(reinterpret_cast<uintptr_t>(h));
}

TEST_F(CedevClockTest, NotificationsListClearAndFireLateAfterTheClockIsSet) {
  const std::string timed = Register(CNT_TIME, 0, SYSTEMTIME{2006, 3, 2, 7, 10, 0, 0, 0}, u"log timed");
  const std::string woken = Register(CNT_EVENT, 11, SYSTEMTIME{}, u"log woken");
  const std::string late = Register(CNT_TIME, 0, SYSTEMTIME{2006, 3, 2, 7, 11, 0, 0, 0}, u"log at boot");
  Result r = Expect("notify " + D() + " list");
  EXPECT_TRUE(Has(r, timed + " ")) << r.output;
  EXPECT_TRUE(Has(r, " time  2006-03-07 10:00:00 ")) << r.output;
  EXPECT_TRUE(Has(r, " \\Windows\\Clock.exe \"log timed\"\n")) << r.output;
  EXPECT_TRUE(Has(r, " event 11 (wake-up) ")) << r.output;
  EXPECT_LT(r.output.find(timed + " "), r.output.find(woken + " ")) << "registration order";

  // Setting the clock past a due time fires nothing; the next run fires it.
  Expect("clock " + D() + " set 2006-03-07T10:30:00");
  EXPECT_EQ(Log(), "");
  r = Expect("clock " + D() + " advance 0");
  EXPECT_TRUE(Has(r, "notification " + timed + ": \\Windows\\Clock.exe \"log timed\" fires (due 2006-03-07 10:00:00)"))
      << r.output;
  EXPECT_EQ(RoughLog(), "Clock.exe 2006-03-07 10:30:0x timed\n");
  // ... and so does the next boot.
  Expect("clock " + D() + " set 2006-03-07T12:00:00");
  r = Expect("boot " + D());
  EXPECT_TRUE(Has(r, "\"log at boot\" fires (due 2006-03-07 11:00:00)")) << r.output;
  EXPECT_EQ(Log().find("woken"), std::string::npos) << "a boot is no wake-up\n" << Log();

  r = Expect("notify " + D() + " list");
  EXPECT_FALSE(Has(r, timed + " ")) << r.output;
  EXPECT_FALSE(Has(r, late + " ")) << r.output;
  EXPECT_TRUE(Has(r, woken + " ")) << "event entries stay\n" << r.output;
  EXPECT_EQ(Expect("notify " + D() + " clear " + woken).output, "notification " + woken + " cleared\n");
  EXPECT_EQ(Expect("notify " + D() + " list").output, "no notifications\n");
  Expect("notify " + D() + " clear " + woken, 1);
  Expect("notify " + D() + " clear 0", 1);
  Expect("notify " + D() + " clear x1", 1);
  Expect("notify " + D() + " forget 1", 2);
}

}  // namespace
