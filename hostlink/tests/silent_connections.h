// Connections to a host that never send a byte (a hostile or broken
// client). Plain POSIX sockets, kept apart from the device's WinSock names.
#pragma once

#include <cstdint>
#include <vector>

namespace hosttest {

class SilentConnections {
 public:
  // Connects `count` times to 127.0.0.1:port; Opened() tells how many made it.
  SilentConnections(uint16_t port, int count);
  ~SilentConnections();
  SilentConnections(const SilentConnections&) = delete;
  SilentConnections& operator=(const SilentConnections&) = delete;

  int Opened() const { return static_cast<int>(fds_.size()); }

 private:
  std::vector<int> fds_;
};

}  // namespace hosttest
