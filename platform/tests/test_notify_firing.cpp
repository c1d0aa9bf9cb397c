// The platform's notification store as the kernel uses it: when timed
// notifications fall due (daylight saving included), the order they fire
// in, dropped programs, event entries, and the fire-exactly-once protocol
// with the kernel killed at each of its points.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "cesim/database.h"
#include "cesim/device.h"
#include "cesim/notifystore.h"
#include "testkit/LocalTime.h"
#include "testkit/NotificationList.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kHourMs = 3600 * 1000;

// Starts programs as the kernel would and keeps what happened.
class RecordingPort : public ce::NotificationKernelPort {
 public:
  bool StartProgram(std::u16string_view program, std::u16string_view commandLine, const std::string& origin,
                    DWORD* pid) override {
    PROCESS_INFORMATION pi{};
    const std::u16string p(program), c(commandLine);
    if (!CreateProcessW(p.c_str(), c.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
      return false;
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    starts.push_back(ce::ToUtf8(c) + " [" + origin + "]");
    if (pid) *pid = pi.dwProcessId;
    return true;
  }
  void Report(const std::string& line) override { lines.push_back(line); }
  bool Reported(const std::string& part) const {
    for (const std::string& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> starts, lines;
};

using quilmo::test::At;

// Device-clock ms of a UTC time.
int64_t UtcMs(int y, int mo, int d, int h, int mi) {
  return (ce::DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60) *
         1000;
}

HANDLE AddTimed(const char16_t* app, const char16_t* args, const SYSTEMTIME& at) {
  CE_NOTIFICATION_TRIGGER t = quilmo::test::TimedTrigger(app, args, at);
  HANDLE h = CeSetUserNotificationEx(nullptr, &t, nullptr);
  EXPECT_NE(h, nullptr);
  return h;
}

HANDLE AddEvent(const char16_t* app, const char16_t* args, DWORD event) {
  CE_NOTIFICATION_TRIGGER t = quilmo::test::EventTrigger(app, args, event);
  HANDLE h = CeSetUserNotificationEx(nullptr, &t, nullptr);
  EXPECT_NE(h, nullptr);
  return h;
}

size_t Count() {
  DWORD n = 0;
  CeGetUserNotificationHandles(nullptr, 0, &n);
  return n;
}

class FiringTest : public ::testing::Test {
 protected:
  explicit FiringTest(const char* zone = "UTC0") : dev_(Zone(zone)) {
    fs::create_directories(dev_.Host(u"\\Windows"));
    fs::copy_file(CEPROC_TESTPROG, dev_.Host(u"\\Windows\\rec.exe"));
  }
  static ce::Profile Zone(const char* zone) {
    ce::Profile p;
    p.timeZone = zone;
    return p;
  }
  ce::Device* Dev() { return dev_.device(); }
  ce::NotificationStore& Store() { return ce::DeviceNotificationStore(); }
  // Starts of the command line in the device's process table.
  int Started(const std::string& cmdLine) {
    std::lock_guard<std::recursive_mutex> g(Dev()->DbLock());
    ce::Stmt s(Dev()->Db(), "SELECT COUNT(*) FROM processes WHERE cmdline = ?");
    return s.Bind(1, std::string_view(cmdLine)).Step() ? static_cast<int>(s.Int(0)) : -1;
  }
  std::string DebugLog() {
    std::ifstream f(dev_.dir() / "debug.log");
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  quilmo::test::TestDevice dev_;
};

TEST_F(FiringTest, TimedEntriesFireInDueOrderTiesByHandleAndLeaveTheQueue) {
  AddTimed(u"\\Windows\\rec.exe", u"exit 2", At(2024, 5, 6, 10, 0));
  AddTimed(u"rec", u"exit 0", At(2024, 5, 6, 9, 0));  // a bare name, found by the search
  AddTimed(u"\\Windows\\rec.exe", u"exit 1", At(2024, 5, 6, 9, 0));
  EXPECT_EQ(Store().NextDueMs(Dev()), UtcMs(2024, 5, 6, 9, 0));

  RecordingPort port;
  Store().FireDue(Dev(), UtcMs(2024, 5, 6, 9, 0) - 1, port);
  EXPECT_TRUE(port.starts.empty());
  Store().FireDue(Dev(), UtcMs(2024, 5, 6, 9, 30), port);
  ASSERT_EQ(port.starts.size(), 2u);
  EXPECT_EQ(port.starts[0].rfind("exit 0 [notification ", 0), 0u) << port.starts[0];
  EXPECT_EQ(port.starts[1].rfind("exit 1 [notification ", 0), 0u) << port.starts[1];
  EXPECT_EQ(Count(), 1u);
  EXPECT_EQ(Store().NextDueMs(Dev()), UtcMs(2024, 5, 6, 10, 0));
  EXPECT_NE(DebugLog().find("\\Windows\\rec.exe \"exit 1\" started"), std::string::npos) << DebugLog();

  Store().FireDue(Dev(), UtcMs(2024, 5, 7, 0, 0), port);
  EXPECT_EQ(port.starts.size(), 3u);
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(Store().NextDueMs(Dev()), std::nullopt);
}

TEST_F(FiringTest, AProgramThatCannotStartDropsItsEntry) {
  AddTimed(u"\\Windows\\gone.exe", u"ScheduledBackup", At(2024, 5, 6, 9, 0));
  AddEvent(u"\\Windows\\gone.exe", u"AppRunAfterWakeup", 11);
  RecordingPort port;
  Store().FireDue(Dev(), UtcMs(2024, 5, 6, 9, 0), port);
  EXPECT_TRUE(port.Reported("\\Windows\\gone.exe \"ScheduledBackup\" cannot start (error 2)"));
  EXPECT_TRUE(Store().FireEvent(Dev(), 11, port).empty());
  EXPECT_EQ(Count(), 0u);
  EXPECT_NE(DebugLog().find("the notification is dropped"), std::string::npos);
}

TEST_F(FiringTest, EventEntriesStartOnTheirEventAndStay) {
  AddEvent(u"\\Windows\\rec.exe", u"exit 11", 11);
  AddEvent(u"\\Windows\\rec.exe", u"exit 10", 10);
  AddEvent(u"rec.exe", u"exit 12", 11);
  RecordingPort port;
  EXPECT_EQ(Store().FireEvent(Dev(), 11, port).size(), 2u);
  EXPECT_EQ(Store().FireEvent(Dev(), 11, port).size(), 2u);
  EXPECT_EQ(Started("exit 11"), 2);
  EXPECT_EQ(Started("exit 12"), 2);
  EXPECT_EQ(Started("exit 10"), 0);
  EXPECT_EQ(Count(), 3u);
  EXPECT_EQ(Store().NextDueMs(Dev()), std::nullopt);  // events have no due time
}

class DstFiringTest : public FiringTest {
 protected:
  // 2024: spring forward on 10 March at 02:00, fall back on 3 November.
  DstFiringTest() : FiringTest("EST5EDT,M3.2.0,M11.1.0") {}
};

TEST_F(DstFiringTest, ASkippedTimeIsDueAtTheChangeARepeatedOneAtItsFirstOccurrence) {
  AddTimed(u"\\Windows\\rec.exe", u"skipped", At(2024, 3, 10, 2, 30));
  // 03:00 EDT, when the clock jumps past 02:30.
  EXPECT_EQ(Store().NextDueMs(Dev()), UtcMs(2024, 3, 10, 7, 0));
  RecordingPort port;
  Store().FireDue(Dev(), UtcMs(2024, 3, 10, 7, 0), port);
  EXPECT_EQ(port.starts.size(), 1u);

  AddTimed(u"\\Windows\\rec.exe", u"repeated", At(2024, 11, 3, 1, 30));
  // 01:30 EDT (05:30 UTC) comes before 01:30 EST (06:30 UTC).
  EXPECT_EQ(Store().NextDueMs(Dev()), UtcMs(2024, 11, 3, 5, 30));
  Store().FireDue(Dev(), UtcMs(2024, 11, 3, 5, 30), port);
  Store().FireDue(Dev(), UtcMs(2024, 11, 3, 6, 30), port);
  EXPECT_EQ(Started("repeated"), 1);

  // An ordinary time in summer: local 02:00 EDT is 06:00 UTC.
  AddTimed(u"\\Windows\\rec.exe", u"summer", At(2024, 7, 1, 2, 0));
  EXPECT_EQ(Store().NextDueMs(Dev()), UtcMs(2024, 7, 1, 6, 0));
}

// The kernel killed at each point of a firing: the entry still starts
// exactly once, at the next settling (a boot, or the next firing).
class KilledFiringTest : public FiringTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KilledFiringTest, StartsExactlyOnce) {
  const std::string cmdLine = std::string("killed at ") + GetParam();
  AddTimed(u"\\Windows\\rec.exe", ce::FromUtf8(cmdLine).c_str(), At(2024, 5, 6, 9, 0));
  const int64_t now = UtcMs(2024, 5, 6, 9, 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(ce::kNotifyKillEnv, GetParam(), 1);
    RecordingPort port;
    ce::DeviceNotificationStore().FireDue(ce::Device::Current(), now, port);
    _exit(0);  // the kill point was never reached
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  const int before = Started(cmdLine);

  RecordingPort port;
  // Still due for a kernel that looks: the firing waits to be settled.
  ASSERT_TRUE(Store().NextDueMs(Dev()).has_value());
  EXPECT_LE(*Store().NextDueMs(Dev()), now);
  Store().AfterBoot(Dev(), port);
  Store().FireDue(Dev(), now + kHourMs, port);
  EXPECT_EQ(Started(cmdLine), 1) << "started " << before << " before the kill";
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(Store().NextDueMs(Dev()), std::nullopt);
  EXPECT_EQ(port.Reported("not again"), before == 1);
}

INSTANTIATE_TEST_SUITE_P(EachPoint, KilledFiringTest,
                         ::testing::Values("recorded", "started", "start-recorded", "removed"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

TEST_F(FiringTest, AFiringClearedBeforeItWasSettledStartsNothing) {
  HANDLE h = AddTimed(u"\\Windows\\rec.exe", u"cleared", At(2024, 5, 6, 9, 0));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(ce::kNotifyKillEnv, "recorded", 1);
    RecordingPort port;
    ce::DeviceNotificationStore().FireDue(ce::Device::Current(), UtcMs(2024, 5, 6, 9, 0), port);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(CeClearUserNotification(h));
  RecordingPort port;
  Store().AfterBoot(Dev(), port);
  EXPECT_EQ(Started("cleared"), 0);
  EXPECT_EQ(Store().NextDueMs(Dev()), std::nullopt);
}

// A started entry that will not leave the queue is not started again while
// it stays: the next settlings only try to remove it.
TEST_F(FiringTest, AStartedEntryThatWillNotGoStartsOnce) {
  AddTimed(u"\\Windows\\rec.exe", u"stuck", At(2024, 5, 6, 9, 0));
  const int64_t now = UtcMs(2024, 5, 6, 9, 0);
  RecordingPort port;
  ce::InjectDatabaseFault(ce::DbCall::kDeleteRecord, ERROR_WRITE_FAULT, 2);
  Store().FireDue(Dev(), now, port);
  EXPECT_TRUE(port.Reported("could not be removed")) << port.lines.size();
  Store().FireDue(Dev(), now, port);
  ce::ClearDatabaseFaults();
  EXPECT_EQ(Count(), 1u);
  Store().FireDue(Dev(), now, port);
  EXPECT_EQ(Started("stuck"), 1);
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(Store().NextDueMs(Dev()), std::nullopt);
}

}  // namespace
