// Running a host command from a test and capturing what it prints; running
// a call in a child process.
#pragma once

#include <cstdio>
#include <functional>
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

// Runs call in a forked child; true when the child came back from it (a
// call that ends the process returns false).
bool ReturnsInChild(const std::function<void()>& call);

}  // namespace quilmo::test
