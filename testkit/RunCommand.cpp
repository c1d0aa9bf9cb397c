#include "testkit/RunCommand.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quilmo::test {

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

bool ReturnsInChild(const std::function<void()>& call) {
  pid_t child = fork();
  if (child == 0) {
    call();
    _exit(99);
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  return WIFEXITED(status) && WEXITSTATUS(status) == 99;
}

}  // namespace quilmo::test
