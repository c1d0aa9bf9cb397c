// Host socket calls behind the device's WinSock, in plain integers so that
// neither side sees the other's declarations. Addresses and ports are in
// network byte order. A negative result is minus a WinSock error number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ce::wshost {

enum class Option { ReuseAddress, KeepAlive, SendBuffer, ReceiveBuffer, NoDelay, Linger, Error };

struct PollEntry {
  int fd = -1;
  bool wantRead = false, wantWrite = false, wantExcept = false;
  bool readable = false, writable = false, failed = false;  // results
};

int Socket();  // IPv4 TCP, close-on-exec
int Close(int fd);
int Shutdown(int fd, int how);  // 0 receive, 1 send, 2 both
int Bind(int fd, uint32_t address, uint16_t port);
int Listen(int fd, int backlog);
int Accept(int fd, uint32_t* address, uint16_t* port);
// Blocking connect bounded by timeLimitMs (WSAETIMEDOUT after it).
int Connect(int fd, uint32_t address, uint16_t port, int timeLimitMs);
long Send(int fd, const char* buffer, size_t length);  // never signals
long Recv(int fd, char* buffer, size_t length, bool peek);
// Waits until an entry is ready or timeoutMs passes (negative: for ever);
// returns the ready count.
int Poll(PollEntry* entries, size_t count, long timeoutMs);
int SetOption(int fd, Option option, int value, int seconds = 0);
int GetOption(int fd, Option option, int* value);
int Name(int fd, bool peer, uint32_t* address, uint16_t* port);
// IPv4 addresses of a host name through the host's resolver.
int Resolve(const char* name, uint32_t* addresses, size_t max);

}  // namespace ce::wshost
