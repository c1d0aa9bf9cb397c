#include "testkit/RunCommand.h"

#include <sys/wait.h>

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

}  // namespace quilmo::test
