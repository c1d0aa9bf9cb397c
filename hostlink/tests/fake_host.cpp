#include "fake_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace hosttest {

std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

uint32_t GetU32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b.at(at + i));
  return v;
}

namespace {

int ListenLoopback(uint16_t* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  ::listen(fd, 4);
  socklen_t len = sizeof(addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

FakeHost::FakeHost(std::function<void(FakeHost&)> script) {
  listen_ = ListenLoopback(&port_);
  thread_ = std::thread([this, script = std::move(script)] {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 15000) <= 0) return;
    client_ = ::accept(listen_, nullptr, nullptr);
    if (client_ < 0) return;
    script(*this);
  });
}

FakeHost::~FakeHost() {
  Join();
  CloseClient();
  if (listen_ >= 0) ::close(listen_);
}

void FakeHost::Join() {
  if (thread_.joinable()) thread_.join();
}

void FakeHost::CloseClient() {
  if (client_ >= 0) {
    ::shutdown(client_, SHUT_RDWR);
    ::close(client_);
    client_ = -1;
  }
}

bool FakeHost::SendRaw(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FakeHost::Send(uint16_t kind, uint16_t code, const std::string& payload) {
  std::string frame;
  frame += static_cast<char>(kind & 0xFF);
  frame += static_cast<char>(kind >> 8);
  frame += static_cast<char>(code & 0xFF);
  frame += static_cast<char>(code >> 8);
  frame += U32(static_cast<uint32_t>(payload.size()));
  return SendRaw(frame + payload);
}

bool FakeHost::ReadExact(char* buffer, size_t length, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < length) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
            .count());
    if (left <= 0) return false;
    pollfd p{client_, POLLIN, 0};
    if (::poll(&p, 1, left) <= 0) return false;
    ssize_t n = ::recv(client_, buffer + done, length - done, 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<Frame> FakeHost::Receive(int timeoutMs) {
  char header[8];
  if (!ReadExact(header, 8, timeoutMs)) return std::nullopt;
  std::string h(header, 8);
  Frame f;
  f.kind = static_cast<uint16_t>(static_cast<uint8_t>(h[0]) | static_cast<uint8_t>(h[1]) << 8);
  f.code = static_cast<uint16_t>(static_cast<uint8_t>(h[2]) | static_cast<uint8_t>(h[3]) << 8);
  uint32_t length = GetU32(h, 4);
  if (length > (1u << 24)) return std::nullopt;
  f.payload.resize(length);
  if (length && !ReadExact(f.payload.data(), length, timeoutMs)) return std::nullopt;
  received.push_back(f);
  return f;
}

uint16_t UnusedPort() {
  uint16_t port = 0;
  int fd = ListenLoopback(&port);
  ::close(fd);
  return port;
}

}  // namespace hosttest
