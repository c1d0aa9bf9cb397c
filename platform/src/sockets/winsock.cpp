// The device's WinSock over the host's sockets (winsock_host.cpp): checks
// the arguments the device checks, keeps the set of sockets it made and
// turns host results into WinSock results and last errors.
#include "ce/winsock.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "ce/errors.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "sockets/winsock_host.h"

namespace ce::ws {
namespace {

std::atomic<int> g_startups{0};
std::mutex g_socketsLock;
std::unordered_set<SOCKET> g_sockets;

int Error(int code) {
  SetLastError(static_cast<DWORD>(code));
  return SOCKET_ERROR;
}

SOCKET ErrorSocket(int code) {
  SetLastError(static_cast<DWORD>(code));
  return INVALID_SOCKET;
}

// A host result: >= 0 passes, negative becomes the last error.
int Checked(long hostResult) {
  if (hostResult < 0) return Error(static_cast<int>(-hostResult));
  return static_cast<int>(hostResult);
}

bool Started() {
  if (g_startups.load() > 0) return true;
  SetLastError(WSANOTINITIALISED);
  return false;
}

bool Known(SOCKET s) {
  std::lock_guard<std::mutex> g(g_socketsLock);
  return s <= static_cast<SOCKET>(INT_MAX) && g_sockets.count(s) != 0;
}

// Started and s is one of ours; sets the last error otherwise.
bool Usable(SOCKET s) {
  if (!Started()) return false;
  if (Known(s)) return true;
  SetLastError(WSAENOTSOCK);
  return false;
}

SOCKET Adopt(int fd) {
  std::lock_guard<std::mutex> g(g_socketsLock);
  g_sockets.insert(static_cast<SOCKET>(fd));
  return static_cast<SOCKET>(fd);
}

int Fd(SOCKET s) { return static_cast<int>(s); }

// The IPv4 address and port of a sockaddr argument, or a WinSock error.
int ReadAddress(const sockaddr* name, int length, uint32_t* address, uint16_t* port) {
  if (!name || length < static_cast<int>(sizeof(sockaddr_in))) return WSAEFAULT;
  const auto* in = reinterpret_cast<const sockaddr_in*>(name);
  if (in->sin_family != AF_INET) return WSAEAFNOSUPPORT;
  *address = in->sin_addr.s_addr;
  *port = in->sin_port;
  return 0;
}

int WriteAddress(uint32_t address, uint16_t port, sockaddr* name, int* length) {
  if (!name) return 0;
  if (!length || *length < static_cast<int>(sizeof(sockaddr_in))) return WSAEFAULT;
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = port;
  in.sin_addr.s_addr = address;
  std::memcpy(name, &in, sizeof in);
  *length = sizeof in;
  return 0;
}

bool OptionOf(int level, int name, wshost::Option* option) {
  if (level == SOL_SOCKET) {
    switch (name) {
      case SO_REUSEADDR: *option = wshost::Option::ReuseAddress; return true;
      case SO_KEEPALIVE: *option = wshost::Option::KeepAlive; return true;
      case SO_SNDBUF: *option = wshost::Option::SendBuffer; return true;
      case SO_RCVBUF: *option = wshost::Option::ReceiveBuffer; return true;
      case SO_LINGER: *option = wshost::Option::Linger; return true;
      case SO_ERROR: *option = wshost::Option::Error; return true;
    }
  } else if (level == IPPROTO_TCP && name == TCP_NODELAY) {
    *option = wshost::Option::NoDelay;
    return true;
  }
  return false;
}

bool EqualAsciiNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + 32) : *a;
    char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// One result and its address in one allocation.
struct AddrInfoBlock {
  addrinfo info;
  sockaddr_in address;
};

}  // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
  if (LOBYTE(versionRequested) == 0) return WSAVERNOTSUPPORTED;
  if (!data) return WSAEFAULT;
  std::memset(data, 0, sizeof *data);
  WORD highest = MAKEWORD(2, 2);
  bool above = LOBYTE(versionRequested) > 2 ||
               (LOBYTE(versionRequested) == 2 && HIBYTE(versionRequested) > 2);
  data->wVersion = above ? highest : versionRequested;
  data->wHighVersion = highest;
  std::snprintf(data->szDescription, sizeof data->szDescription, "Device sockets 2.2");
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
  data->iMaxSockets = 0xFFFF;
  data->iMaxUdpDg = 0;
  ++g_startups;
  return 0;
}

int WSACleanup() {
  int n = g_startups.load();
  while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {
  }
  if (n <= 0) return Error(WSANOTINITIALISED);
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

int __WSAFDIsSet(SOCKET s, fd_set* set) {
  if (!set) return 0;
  for (u_int i = 0; i < set->fd_count && i < static_cast<u_int>(FD_SETSIZE); ++i)
    if (set->fd_array[i] == s) return 1;
  return 0;
}

SOCKET socket(int af, int type, int protocol) {
  if (!Started()) return INVALID_SOCKET;
  if (af != AF_INET) return ErrorSocket(WSAEAFNOSUPPORT);
  if (type != SOCK_STREAM) return ErrorSocket(WSAESOCKTNOSUPPORT);
  if (protocol != 0 && protocol != IPPROTO_TCP) return ErrorSocket(WSAEPROTONOSUPPORT);
  int fd = wshost::Socket();
  if (fd < 0) return ErrorSocket(-fd);
  return Adopt(fd);
}

int closesocket(SOCKET s) {
  if (!Usable(s)) return SOCKET_ERROR;
  {
    std::lock_guard<std::mutex> g(g_socketsLock);
    g_sockets.erase(s);
  }
  return Checked(wshost::Close(Fd(s)));
}

int shutdown(SOCKET s, int how) {
  if (!Usable(s)) return SOCKET_ERROR;
  if (how < SD_RECEIVE || how > SD_BOTH) return Error(WSAEINVAL);
  return Checked(wshost::Shutdown(Fd(s), how));
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
  if (!Usable(s)) return SOCKET_ERROR;
  uint32_t address = 0;
  uint16_t port = 0;
  if (int e = ReadAddress(name, nameLength, &address, &port)) return Error(e);
  return Checked(wshost::Bind(Fd(s), address, port));
}

int listen(SOCKET s, int backlog) {
  if (!Usable(s)) return SOCKET_ERROR;
  return Checked(wshost::Listen(Fd(s), std::clamp(backlog, 1, SOMAXCONN)));
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrLength) {
  if (!Usable(s)) return INVALID_SOCKET;
  if (addr && (!addrLength || *addrLength < static_cast<int>(sizeof(sockaddr_in))))
    return ErrorSocket(WSAEFAULT);
  uint32_t address = 0;
  uint16_t port = 0;
  int fd = wshost::Accept(Fd(s), &address, &port);
  if (fd < 0) return ErrorSocket(-fd);
  WriteAddress(address, port, addr, addrLength);
  return Adopt(fd);
}

int connect(SOCKET s, const sockaddr* name, int nameLength) {
  if (!Usable(s)) return SOCKET_ERROR;
  uint32_t address = 0;
  uint16_t port = 0;
  if (int e = ReadAddress(name, nameLength, &address, &port)) return Error(e);
  if (address == 0 || port == 0) return Error(WSAEADDRNOTAVAIL);
  return Checked(wshost::Connect(Fd(s), address, port, static_cast<int>(kConnectTimeLimitMs)));
}

int send(SOCKET s, const char* buffer, int length, int flags) {
  if (!Usable(s)) return SOCKET_ERROR;
  if (flags != 0) return Error(WSAEOPNOTSUPP);
  if (length < 0 || (!buffer && length > 0)) return Error(WSAEFAULT);
  return Checked(wshost::Send(Fd(s), buffer, static_cast<size_t>(length)));
}

int recv(SOCKET s, char* buffer, int length, int flags) {
  if (!Usable(s)) return SOCKET_ERROR;
  if (flags != 0 && flags != MSG_PEEK) return Error(WSAEOPNOTSUPP);
  if (length < 0 || (!buffer && length > 0)) return Error(WSAEFAULT);
  return Checked(wshost::Recv(Fd(s), buffer, static_cast<size_t>(length), flags == MSG_PEEK));
}

int select(int, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout) {
  if (!Started()) return SOCKET_ERROR;
  fd_set* sets[3] = {readSet, writeSet, exceptSet};
  std::vector<wshost::PollEntry> entries;
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    if (sets[k]->fd_count > static_cast<u_int>(FD_SETSIZE)) return Error(WSAEINVAL);
    for (u_int i = 0; i < sets[k]->fd_count; ++i) {
      SOCKET s = sets[k]->fd_array[i];
      if (!Known(s)) return Error(WSAENOTSOCK);
      auto it = std::find_if(entries.begin(), entries.end(),
                             [&](const wshost::PollEntry& e) { return e.fd == Fd(s); });
      if (it == entries.end()) it = entries.insert(entries.end(), wshost::PollEntry{Fd(s)});
      (k == 0 ? it->wantRead : k == 1 ? it->wantWrite : it->wantExcept) = true;
    }
  }
  if (entries.empty() && !readSet && !writeSet && !exceptSet) return Error(WSAEINVAL);
  long waitMs = -1;
  if (timeout) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return Error(WSAEINVAL);
    long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + timeout->tv_usec / 1000;
    waitMs = static_cast<long>(std::min<long long>(ms, LONG_MAX));
  }
  int r = wshost::Poll(entries.data(), entries.size(), waitMs);
  if (r < 0) return Error(-r);
  int ready = 0;
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    u_int kept = 0;
    for (u_int i = 0; i < sets[k]->fd_count; ++i) {
      SOCKET s = sets[k]->fd_array[i];
      for (const auto& e : entries) {
        if (e.fd != Fd(s)) continue;
        if (k == 0 ? e.readable : k == 1 ? e.writable : e.failed) sets[k]->fd_array[kept++] = s;
        break;
      }
    }
    sets[k]->fd_count = kept;
    ready += static_cast<int>(kept);
  }
  return ready;
}

int setsockopt(SOCKET s, int level, int name, const char* value, int length) {
  if (!Usable(s)) return SOCKET_ERROR;
  wshost::Option option;
  if (!OptionOf(level, name, &option) || option == wshost::Option::Error) return Error(WSAENOPROTOOPT);
  if (option == wshost::Option::Linger) {
    if (!value || length < static_cast<int>(sizeof(linger))) return Error(WSAEFAULT);
    linger l;
    std::memcpy(&l, value, sizeof l);
    return Checked(wshost::SetOption(Fd(s), option, l.l_onoff, l.l_linger));
  }
  if (!value || length < 1) return Error(WSAEFAULT);
  int v = 0;
  if (length >= static_cast<int>(sizeof(int))) std::memcpy(&v, value, sizeof v);
  else v = static_cast<unsigned char>(value[0]);
  return Checked(wshost::SetOption(Fd(s), option, v));
}

int getsockopt(SOCKET s, int level, int name, char* value, int* length) {
  if (!Usable(s)) return SOCKET_ERROR;
  wshost::Option option;
  if (!OptionOf(level, name, &option) || option == wshost::Option::Linger) return Error(WSAENOPROTOOPT);
  if (!value || !length || *length < static_cast<int>(sizeof(int))) return Error(WSAEFAULT);
  int v = 0;
  if (int r = wshost::GetOption(Fd(s), option, &v); r < 0) return Error(-r);
  std::memcpy(value, &v, sizeof v);
  *length = sizeof v;
  return 0;
}

static int NameOf(SOCKET s, bool peer, sockaddr* name, int* nameLength) {
  if (!Usable(s)) return SOCKET_ERROR;
  if (!name || !nameLength) return Error(WSAEFAULT);
  uint32_t address = 0;
  uint16_t port = 0;
  if (int r = wshost::Name(Fd(s), peer, &address, &port); r < 0) return Error(-r);
  if (int e = WriteAddress(address, port, name, nameLength)) return Error(e);
  return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* nameLength) { return NameOf(s, false, name, nameLength); }
int getpeername(SOCKET s, sockaddr* name, int* nameLength) { return NameOf(s, true, name, nameLength); }

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  auto fail = [](int code) {
    SetLastError(static_cast<DWORD>(code));
    return code;
  };
  if (!Started()) return WSANOTINITIALISED;
  if (!result) return fail(WSAEINVAL);
  *result = nullptr;
  if (!node && !service) return fail(WSAHOST_NOT_FOUND);
  int flags = hints ? hints->ai_flags : 0;
  int family = hints ? hints->ai_family : AF_UNSPEC;
  int type = hints ? hints->ai_socktype : 0;
  if (family != AF_UNSPEC && family != AF_INET) return fail(WSAEAFNOSUPPORT);
  if (type != 0 && type != SOCK_STREAM) return fail(WSAESOCKTNOSUPPORT);

  uint16_t port = 0;
  if (service && *service) {
    unsigned long value = 0;
    for (const char* p = service; *p; ++p) {
      if (*p < '0' || *p > '9' || p - service > 5) return fail(WSATYPE_NOT_FOUND);
      value = value * 10 + static_cast<unsigned long>(*p - '0');
    }
    if (value > 0xFFFF) return fail(WSATYPE_NOT_FOUND);
    port = htons(static_cast<u_short>(value));
  }

  std::vector<uint32_t> addresses;
  std::string name = node ? node : "";
  if (!node) {
    addresses.push_back(htonl((flags & AI_PASSIVE) ? INADDR_ANY : INADDR_LOOPBACK));
  } else {
    if (EqualAsciiNoCase(node, "ppp_peer")) {
      Device* device = Device::Current();
      name = device ? ToUtf8(device->GetProfile().peerAddress) : ToUtf8(Profile().peerAddress);
    }
    if (EqualAsciiNoCase(name.c_str(), "localhost")) name = "127.0.0.1";
    u_long numeric = inet_addr(name.c_str());
    if (numeric != INADDR_NONE || name == "255.255.255.255") {
      addresses.push_back(numeric);
    } else if (flags & AI_NUMERICHOST) {
      return fail(WSAHOST_NOT_FOUND);
    } else {
      uint32_t found[16];
      int n = wshost::Resolve(name.c_str(), found, 16);
      if (n < 0) return fail(-n);
      addresses.assign(found, found + n);
    }
  }

  addrinfo** tail = result;
  for (uint32_t address : addresses) {
    auto* block = new (std::nothrow) AddrInfoBlock{};
    if (!block) {
      freeaddrinfo(*result);
      *result = nullptr;
      return fail(WSAENOBUFS);
    }
    block->address.sin_family = AF_INET;
    block->address.sin_port = port;
    block->address.sin_addr.s_addr = address;
    block->info.ai_family = AF_INET;
    block->info.ai_socktype = SOCK_STREAM;
    block->info.ai_protocol = IPPROTO_TCP;
    block->info.ai_addrlen = sizeof(sockaddr_in);
    block->info.ai_addr = reinterpret_cast<sockaddr*>(&block->address);
    *tail = &block->info;
    tail = &block->info.ai_next;
  }
  return 0;
}

void freeaddrinfo(addrinfo* list) {
  while (list) {
    addrinfo* next = list->ai_next;
    delete reinterpret_cast<AddrInfoBlock*>(list);
    list = next;
  }
}

char* inet_ntoa(in_addr address) {
  thread_local char text[16];
  uint32_t a = address.s_addr;  // network order: first byte first
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a & 0xFF, (a >> 8) & 0xFF, (a >> 16) & 0xFF,
                (a >> 24) & 0xFF);
  return text;
}

u_long inet_addr(const char* text) {
  if (!text) return INADDR_NONE;
  uint32_t parts[4];
  int count = 0;
  const char* p = text;
  while (count < 4) {
    if (*p < '0' || *p > '9') return INADDR_NONE;
    uint32_t v = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      v = v * 10 + static_cast<uint32_t>(*p++ - '0');
      if (++digits > 3 || v > 255) return INADDR_NONE;
    }
    parts[count++] = v;
    if (count < 4) {
      if (*p != '.') return INADDR_NONE;
      ++p;
    }
  }
  if (*p) return INADDR_NONE;
  return parts[0] | parts[1] << 8 | parts[2] << 16 | parts[3] << 24;
}

}  // namespace ce::ws
