// Device reset calls. A reset ends every device process, the caller too, so
// each one is made in a forked child; this test program never joins the
// device's process table (it would be ended with the rest).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "ce/errors.h"
#include "ce/power.h"
#include "ce/process.h"
#include "ce/system.h"
#include "cesim/power.h"
#include "cesim/system.h"
#include "testkit/Closable.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;

struct ResetOutcome {
  bool returned = true;          // the child came back from the call
  std::vector<int> helperPids;   // device programs the child had started
  std::vector<uint64_t> starts;  // their kernel start times
};

// In a child: starts two stand-ins, then makes the reset call.
ResetOutcome ResetInChild(const quilmo::test::TestDevice& dev, const std::function<void()>& call) {
  quilmo::test::InstallClosable(dev, u"\\Windows\\Helper.exe");
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    for (int i = 0; i < 2; ++i) {
      PROCESS_INFORMATION pi{};
      if (!CreateProcessW(u"\\Windows\\Helper.exe", u"ignore", nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          nullptr, &pi))
        _exit(90);
      int pid = static_cast<int>(pi.dwProcessId);
      if (write(fds[1], &pid, sizeof pid) != sizeof pid) _exit(91);
    }
    call();
    _exit(99);
  }
  close(fds[1]);
  ResetOutcome out;
  int pid;
  while (read(fds[0], &pid, sizeof pid) == sizeof pid) out.helperPids.push_back(pid);
  close(fds[0]);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  out.returned = WIFEXITED(status) && WEXITSTATUS(status) == 99;
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) >= 90 && WEXITSTATUS(status) < 99);
  return out;
}

void ExpectAllEnded(const ResetOutcome& r) {
  ASSERT_EQ(r.helperPids.size(), 2u);
  for (int pid : r.helperPids) {
    // Ended: gone, or a zombie of the (ended) child waiting to be reaped.
    char state = 0;
    FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (f) {
      if (fscanf(f, "%*d %*s %c", &state) != 1) state = 0;
      fclose(f);
    }
    EXPECT_TRUE(!f || state == 'Z' || state == 'X') << "pid " << pid << " state " << state;
  }
}

TEST(Power, ShellRebootRecordsTheResetAndEndsEveryProcess) {
  quilmo::test::TestDevice dev;
  ResetOutcome r = ResetInChild(dev, [] { ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0); });
  EXPECT_FALSE(r.returned);
  ExpectAllEnded(r);
  auto resets = ce::PendingResets();
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_EQ(resets[0].how, EWX_REBOOT);
  EXPECT_EQ(ce::PendingResetRequests(), 1);
}

TEST(Power, KernelRebootAndResetPowerStateDoTheSame) {
  quilmo::test::TestDevice dev;
  ResetOutcome r = ResetInChild(dev, [] { KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr); });
  EXPECT_FALSE(r.returned);
  ExpectAllEnded(r);
  r = ResetInChild(dev, [] { SetSystemPowerState(u"Reset", 0, POWER_FORCE); });
  EXPECT_FALSE(r.returned);
  ExpectAllEnded(r);
  auto resets = ce::PendingResets();
  ASSERT_EQ(resets.size(), 2u);
  EXPECT_EQ(resets[0].how, IOCTL_HAL_REBOOT);
  EXPECT_EQ(resets[1].how, POWER_STATE_RESET);
}

TEST(Power, OtherRequestsAreRefusedAndEndNothing) {
  quilmo::test::TestDevice dev;
  EXPECT_FALSE(ExitWindowsEx(EWX_POWEROFF, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(ExitWindowsEx(EWX_SHUTDOWN, 0));
  DWORD n = 7;
  EXPECT_FALSE(KernelIoControl(0x01010054, nullptr, 0, nullptr, 0, &n));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(ce::PendingResets().empty());
}

}  // namespace
