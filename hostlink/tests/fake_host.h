// A scripted desktop host for the host-link tests: listens on 127.0.0.1 (a
// free port), accepts one device and runs the script on its own thread.
// Plain POSIX sockets; every wait is bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hosttest {

struct Frame {
  uint16_t kind = 0;
  uint16_t code = 0;
  std::string payload;
};

std::string U32(uint32_t v);
uint32_t GetU32(const std::string& bytes, size_t at);

class FakeHost {
 public:
  explicit FakeHost(std::function<void(FakeHost&)> script);
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  uint16_t port() const { return port_; }
  // Waits for the script to end (also done by the destructor).
  void Join();

  // For the script.
  bool Send(uint16_t kind, uint16_t code, const std::string& payload = {});
  bool SendRaw(const std::string& bytes);
  // One frame (recorded in `received`), or none after timeoutMs or a close.
  std::optional<Frame> Receive(int timeoutMs = 5000);
  void CloseClient();

  std::vector<Frame> received;

 private:
  bool ReadExact(char* buffer, size_t length, int timeoutMs);

  int listen_ = -1;
  int client_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens.
uint16_t UnusedPort();

}  // namespace hosttest
