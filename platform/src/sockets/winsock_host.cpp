#include "sockets/winsock_host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace ce::wshost {
namespace {

// WinSock numbers of host errno values.
int WsaOf(int err) {
  switch (err) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case EOPNOTSUPP: return 10045;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET:
    case EPIPE: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTUNREACH: return 10065;
    default: return 10022;
  }
}

int Fail() { return -WsaOf(errno); }

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = port;
  a.sin_addr.s_addr = address;
  return a;
}

bool SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

bool LevelAndName(Option option, int* level, int* name) {
  switch (option) {
    case Option::ReuseAddress: *level = SOL_SOCKET; *name = SO_REUSEADDR; return true;
    case Option::KeepAlive: *level = SOL_SOCKET; *name = SO_KEEPALIVE; return true;
    case Option::SendBuffer: *level = SOL_SOCKET; *name = SO_SNDBUF; return true;
    case Option::ReceiveBuffer: *level = SOL_SOCKET; *name = SO_RCVBUF; return true;
    case Option::NoDelay: *level = IPPROTO_TCP; *name = TCP_NODELAY; return true;
    case Option::Linger: *level = SOL_SOCKET; *name = SO_LINGER; return true;
    case Option::Error: *level = SOL_SOCKET; *name = SO_ERROR; return true;
  }
  return false;
}

}  // namespace

int Socket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? Fail() : fd;
}

int Close(int fd) { return ::close(fd) == 0 ? 0 : Fail(); }

int Shutdown(int fd, int how) {
  int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  return ::shutdown(fd, h) == 0 ? 0 : Fail();
}

int Bind(int fd, uint32_t address, uint16_t port) {
  sockaddr_in a = MakeAddress(address, port);
  return ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : Fail();
}

int Listen(int fd, int backlog) { return ::listen(fd, backlog) == 0 ? 0 : Fail(); }

int Accept(int fd, uint32_t* address, uint16_t* port) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int s;
  do {
    s = ::accept4(fd, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
  } while (s < 0 && errno == EINTR);
  if (s < 0) return Fail();
  *address = a.sin_addr.s_addr;
  *port = a.sin_port;
  return s;
}

int Connect(int fd, uint32_t address, uint16_t port, int timeLimitMs) {
  sockaddr_in a = MakeAddress(address, port);
  if (!SetBlocking(fd, false)) return Fail();
  int result = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (errno != EINPROGRESS) {
      result = Fail();
    } else {
      auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
      result = -10060;
      for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) { result = Fail(); break; }
        if (r == 0) break;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        result = err == 0 ? 0 : -WsaOf(err);
        break;
      }
    }
  }
  int saved = errno;
  SetBlocking(fd, true);
  errno = saved;
  return result;
}

long Send(int fd, const char* buffer, size_t length) {
  ssize_t n;
  do {
    n = ::send(fd, buffer, length, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : static_cast<long>(n);
}

long Recv(int fd, char* buffer, size_t length, bool peek) {
  ssize_t n;
  do {
    n = ::recv(fd, buffer, length, peek ? MSG_PEEK : 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? Fail() : static_cast<long>(n);
}

int Poll(PollEntry* entries, size_t count, long timeoutMs) {
  std::vector<pollfd> fds(count);
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = entries[i].fd;
    fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) |
                                       (entries[i].wantWrite ? POLLOUT : 0) |
                                       (entries[i].wantExcept ? POLLPRI : 0));
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  int r;
  for (;;) {
    long wait = -1;
    if (timeoutMs >= 0) {
      wait = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (wait < 0) wait = 0;
      if (wait > 0x7FFFFFFF) wait = 0x7FFFFFFF;
    }
    r = ::poll(fds.data(), fds.size(), static_cast<int>(wait));
    if (r >= 0 || errno != EINTR) break;
  }
  if (r < 0) return Fail();
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    short ev = fds[i].revents;
    // A closed or failed peer makes a socket readable (recv tells which).
    entries[i].readable = entries[i].wantRead && (ev & (POLLIN | POLLHUP | POLLERR));
    entries[i].writable = entries[i].wantWrite && (ev & (POLLOUT | POLLERR | POLLHUP));
    entries[i].failed = entries[i].wantExcept && (ev & (POLLPRI | POLLERR));
    if (ev & POLLNVAL) return -10038;
    ready += entries[i].readable + entries[i].writable + entries[i].failed;
  }
  return ready;
}

int SetOption(int fd, Option option, int value, int seconds) {
  int level = 0, name = 0;
  if (!LevelAndName(option, &level, &name) || option == Option::Error) return -10042;
  if (option == Option::Linger) {
    ::linger l{value != 0, seconds};
    return ::setsockopt(fd, level, name, &l, sizeof l) == 0 ? 0 : Fail();
  }
  return ::setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : Fail();
}

int GetOption(int fd, Option option, int* value) {
  int level = 0, name = 0;
  if (!LevelAndName(option, &level, &name) || option == Option::Linger) return -10042;
  socklen_t len = sizeof *value;
  if (::getsockopt(fd, level, name, value, &len) != 0) return Fail();
  if (option == Option::Error && *value != 0) *value = WsaOf(*value);
  return 0;
}

int Name(int fd, bool peer, uint32_t* address, uint16_t* port) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int r = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
               : ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (r != 0) return Fail();
  *address = a.sin_addr.s_addr;
  *port = a.sin_port;
  return 0;
}

int Resolve(const char* name, uint32_t* addresses, size_t max) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int r = ::getaddrinfo(name, nullptr, &hints, &list);
  if (r != 0) {
    if (r == EAI_AGAIN) return -11002;
    if (r == EAI_FAIL) return -11003;
    if (r == EAI_MEMORY) return -10055;
    return -11001;
  }
  size_t n = 0;
  for (addrinfo* p = list; p && n < max; p = p->ai_next)
    if (p->ai_family == AF_INET && p->ai_addr)
      addresses[n++] = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(list);
  return n ? static_cast<int>(n) : -11004;
}

}  // namespace ce::wshost
