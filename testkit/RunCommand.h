// Running a host command from a test and capturing what it prints; running
// a call, or one test of this test program, in a child process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace quilmo::test {

struct CommandResult {
  int status = -1;  // exit code; -1 when killed by a signal
  std::string output;
};

// Runs command through the shell, stderr merged into the output.
CommandResult RunCommand(const std::string& command);
// Reads all a popen'd command prints, then closes it.
CommandResult FinishCommand(FILE* p);

// How a child process ended.
struct ChildExit {
  bool exited = false;    // by exit(); otherwise by a signal or the time limit
  int code = -1;          // the exit code when exited
  int signal = 0;         // the signal that ended it, if one did
  bool timedOut = false;  // killed after the time limit
  std::string output;     // all it wrote to stdout and stderr
  bool ExitedWith(int c) const { return exited && code == c; }
  // "exit 3", "signal 9", "killed after the time limit", with the output.
  std::string Describe() const;
};

// A child process of the test program. The destructor kills and reaps a
// child still running, so a failed assertion leaves no process behind.
class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kDefaultLimit{120};

  // Runs call in a forked child that exits with kReturnedCode when call
  // comes back.
  static constexpr int kReturnedCode = 99;
  static ChildProcess Fork(const std::function<void()>& call);
  // Starts this test program again on one test ("Suite.DISABLED_Name")
  // with env added to its environment (this process's stays untouched).
  // The child test tells it runs as one by IsChildRun().
  static ChildProcess RunTest(const std::string& testName, const std::map<std::string, std::string>& env = {});

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ~ChildProcess();

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Waits for the child's end; kills it at the deadline.
  ChildExit Wait(Clock::time_point deadline);
  ChildExit Wait(Clock::duration limit = kDefaultLimit) { return Wait(Clock::now() + limit); }

 private:
  ChildProcess(pid_t pid, int outputFd) : pid_(pid), outputFd_(outputFd) {}
  std::string ReadOutput() const;

  pid_t pid_ = -1;
  int outputFd_ = -1;  // an unlinked file the child writes stdout and stderr to
};

// True in a child started by ChildProcess::RunTest: the child tests skip
// themselves otherwise.
bool IsChildRun();

// Runs call in a forked child; true when the child came back from it (a
// call that ends the process returns false).
bool ReturnsInChild(const std::function<void()>& call);

}  // namespace quilmo::test
