// Runs the desktop host service program for a test: a fresh folder, a free
// loopback port (read from its first output line), SIGTERM at the end.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace hosttest {

class HostServiceProcess {
 public:
  // False from Started() when the program is missing or did not report
  // its port within a few seconds.
  explicit HostServiceProcess(const std::vector<std::string>& extraArgs = {});
  ~HostServiceProcess();
  HostServiceProcess(const HostServiceProcess&) = delete;
  HostServiceProcess& operator=(const HostServiceProcess&) = delete;

  static std::string ProgramPath();
  bool Started() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  const std::filesystem::path& folder() const { return folder_; }
  // The notices file, waiting up to timeoutMs for a line containing `until`.
  std::string Notices(const std::string& until, int timeoutMs = 5000) const;
  // Ends the service at once (a host that vanishes mid-transfer).
  void Kill();

 private:
  void Stop(int signal);

  std::filesystem::path folder_;
  pid_t pid_ = -1;
  int out_ = -1;
  uint16_t port_ = 0;
};

}  // namespace hosttest
