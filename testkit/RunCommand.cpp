#include "testkit/RunCommand.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

extern char** environ;

namespace quilmo::test {

namespace {

// Set in a child started by ChildProcess::RunTest: the test it runs.
constexpr const char* kChildTestEnv = "QUILMO_TEST_CHILD";
// Entries of this process's environment that must not reach a child run:
// it writes no report of its own and runs its one test whole.
constexpr const char* kDroppedEnv[] = {"GTEST_OUTPUT", "GTEST_SHARD_INDEX", "GTEST_TOTAL_SHARDS",
                                       "GTEST_SHARD_STATUS_FILE", "GTEST_FILTER"};

// A descriptor that becomes readable when the child ends; -1 where the
// kernel has none.
int OpenPidFd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// A file in memory that a child writes its output to.
int MakeOutputFile() { return memfd_create("quilmo-child-output", MFD_CLOEXEC); }

std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& added) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (added.count(name) || name == kChildTestEnv ||
        std::find(std::begin(kDroppedEnv), std::end(kDroppedEnv), name) != std::end(kDroppedEnv))
      continue;
    env.push_back(std::move(entry));
  }
  for (const auto& [name, value] : added) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

CommandResult FinishCommand(FILE* p) {
  CommandResult r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

CommandResult RunCommand(const std::string& command) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  return p ? FinishCommand(p) : CommandResult{};
}

std::string ChildExit::Describe() const {
  std::string how = timedOut ? "killed after the time limit"
                    : exited ? "exit " + std::to_string(code)
                    : signal ? "signal " + std::to_string(signal)
                             : "not started";
  return output.empty() ? how : how + "; its output:\n" + output;
}

ChildProcess ChildProcess::Fork(const std::function<void()>& call) {
  const int out = MakeOutputFile();
  std::fflush(nullptr);  // nothing buffered here is written twice
  const pid_t pid = fork();
  if (pid == 0) {
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    call();
    std::fflush(nullptr);
    _exit(kReturnedCode);
  }
  return ChildProcess(pid, out);
}

ChildProcess ChildProcess::RunTest(const std::string& testName, const std::map<std::string, std::string>& env) {
  std::error_code ec;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  const int out = MakeOutputFile();
  if (ec || out < 0) {
    if (out >= 0) close(out);
    return ChildProcess(-1, -1);
  }
  std::vector<std::string> args = {self, "--gtest_filter=" + testName, "--gtest_also_run_disabled_tests"};
  std::map<std::string, std::string> added = env;
  added[kChildTestEnv] = testName;
  std::vector<std::string> childEnv = ChildEnvironment(added);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(childEnv);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return ChildProcess(rc == 0 ? pid : -1, out);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), outputFd_(other.outputFd_) {
  other.pid_ = -1;
  other.outputFd_ = -1;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  if (outputFd_ >= 0) close(outputFd_);
}

ChildExit ChildProcess::Wait(Clock::time_point deadline) {
  ChildExit r;
  if (pid_ <= 0) return r;
  const int pidfd = OpenPidFd(pid_);
  int status = 0;
  for (;;) {
    const pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_) break;
    if (got < 0 && errno != EINTR) {
      r.output = ReadOutput();
      if (pidfd >= 0) close(pidfd);
      return r;  // not our child any more: nothing to report
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      r.timedOut = true;
      break;
    }
    const int ms = static_cast<int>(std::min<long long>(left, INT_MAX));
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      poll(&p, 1, ms);  // an interrupted or failed poll only looks again
    } else {
      usleep(static_cast<useconds_t>(std::min(ms, 5)) * 1000);  // no pid descriptor: look every 5 ms
    }
  }
  if (pidfd >= 0) close(pidfd);
  pid_ = -1;
  r.exited = !r.timedOut && WIFEXITED(status);
  r.code = r.exited ? WEXITSTATUS(status) : -1;
  r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  r.output = ReadOutput();
  return r;
}

std::string ChildProcess::ReadOutput() const {
  std::string text;
  struct stat st {};
  if (outputFd_ < 0 || fstat(outputFd_, &st) != 0 || st.st_size <= 0) return text;
  text.resize(static_cast<size_t>(st.st_size));
  const ssize_t n = pread(outputFd_, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

bool IsChildRun() {
  const char* name = std::getenv(kChildTestEnv);
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return name && test && std::string(test->test_suite_name()) + "." + test->name() == name;
}

bool ReturnsInChild(const std::function<void()>& call) {
  ChildProcess child = ChildProcess::Fork(call);
  EXPECT_TRUE(child.Started());
  const ChildExit end = child.Wait();
  EXPECT_FALSE(end.timedOut) << end.Describe();
  return end.ExitedWith(ChildProcess::kReturnedCode);
}

}  // namespace quilmo::test
