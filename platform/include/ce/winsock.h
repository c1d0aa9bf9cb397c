// The device's WinSock: IPv4 TCP sockets over the host's sockets.
//
// Everything lives in namespace ce::ws, since the classic names (socket,
// select, fd_set ...) collide with the host's C library; device code writes
// `namespace ws = ce::ws;` and `ws::socket(...)`. This header replaces the
// host's FD_ZERO/FD_SET/FD_CLR/FD_ISSET with the WinSock ones working on
// ws::fd_set: do not include it next to the host's socket headers.
//
// Rules as on the device:
// - Every call but WSAStartup fails with WSANOTINITIALISED until
//   WSAStartup succeeded (once per process; WSACleanup undoes one start).
// - A failing call returns SOCKET_ERROR (INVALID_SOCKET for socket/accept)
//   and sets the last error to a WinSock number; WSAGetLastError is the
//   thread's last error (GetLastError).
// - A SOCKET not made by socket/accept fails with WSAENOTSOCK.
// - Sends never raise a signal: a dropped peer gives WSAECONNRESET.
// - connect gives up after kConnectTimeLimitMs with WSAETIMEDOUT.
// - getaddrinfo knows "ppp_peer" (any case): the desktop at the other end
//   of the sync link, the device profile's peer_address (127.0.0.1 by
//   default). Numeric IPv4 addresses and "localhost" resolve without the
//   host's resolver; other names go to it. Services are decimal ports.
#pragma once

#include <sys/time.h>  // timeval: same shape as WinSock's

#include "ce/types.h"

#undef FD_SETSIZE
#define FD_SETSIZE 64
#ifdef FD_SET
#undef FD_ZERO
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#endif

namespace ce::ws {

typedef UINT_PTR SOCKET;
typedef unsigned short u_short;
typedef unsigned int u_int;
typedef ULONG u_long;  // 32 bits, as on the device
using ::timeval;

inline constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int AF_UNSPEC = 0;
inline constexpr int AF_INET = 2;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int IPPROTO_IP = 0;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr int SOL_SOCKET = 0xFFFF;
inline constexpr int SO_REUSEADDR = 0x0004;
inline constexpr int SO_KEEPALIVE = 0x0008;
inline constexpr int SO_LINGER = 0x0080;
inline constexpr int SO_SNDBUF = 0x1001;
inline constexpr int SO_RCVBUF = 0x1002;
inline constexpr int SO_ERROR = 0x1007;
inline constexpr int TCP_NODELAY = 0x0001;
inline constexpr int MSG_PEEK = 0x2;
inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;
inline constexpr int SOMAXCONN = 5;
inline constexpr u_long INADDR_ANY = 0x00000000;
inline constexpr u_long INADDR_LOOPBACK = 0x7F000001;
inline constexpr u_long INADDR_NONE = 0xFFFFFFFF;
inline constexpr int AI_PASSIVE = 0x1;
inline constexpr int AI_NUMERICHOST = 0x4;
inline constexpr DWORD kConnectTimeLimitMs = 20000;

// WinSock error numbers.
inline constexpr int WSABASEERR = 10000;
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSATYPE_NOT_FOUND = 10109;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

// Addresses: network byte order in s_addr and sin_port, as on the wire.
struct in_addr {
  u_long s_addr;
};
struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};
struct linger {
  u_short l_onoff;
  u_short l_linger;
};
struct addrinfo {
  int ai_flags;
  int ai_family;
  int ai_socktype;
  int ai_protocol;
  size_t ai_addrlen;
  char* ai_canonname;
  sockaddr* ai_addr;
  addrinfo* ai_next;
};

struct fd_set {
  u_int fd_count;
  SOCKET fd_array[FD_SETSIZE];
};
int __WSAFDIsSet(SOCKET s, fd_set* set);

// Byte order (the device is little-endian).
inline u_short htons(u_short v) { return static_cast<u_short>((v >> 8) | (v << 8)); }
inline u_short ntohs(u_short v) { return htons(v); }
inline u_long htonl(u_long x) {
  return (x >> 24) | ((x >> 8) & 0xFF00) | ((x << 8) & 0xFF0000) | (x << 24);
}
inline u_long ntohl(u_long v) { return htonl(v); }

int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrLength);
int connect(SOCKET s, const sockaddr* name, int nameLength);
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
// nfds is ignored; the sets keep only the sockets that are ready. A null
// timeout waits for ever. Returns the ready count, 0 on time-out.
int select(int nfds, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout);
int setsockopt(SOCKET s, int level, int name, const char* value, int length);
int getsockopt(SOCKET s, int level, int name, char* value, int* length);
int getsockname(SOCKET s, sockaddr* name, int* nameLength);
int getpeername(SOCKET s, sockaddr* name, int* nameLength);

// Returns 0 or a WinSock error number (also set as the last error).
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* list);
// Dotted text of an address (a per-thread buffer) and back (INADDR_NONE
// for text that is not a dotted IPv4 address).
char* inet_ntoa(in_addr address);
u_long inet_addr(const char* text);

}  // namespace ce::ws

#define FD_ZERO(set) ((set)->fd_count = 0)
#define FD_ISSET(s, set) ::ce::ws::__WSAFDIsSet(static_cast<::ce::ws::SOCKET>(s), (set))
#define FD_SET(s, set)                                                    \
  do {                                                                    \
    ::ce::ws::fd_set* set_ = (set);                                       \
    ::ce::ws::SOCKET s_ = static_cast<::ce::ws::SOCKET>(s);               \
    ::ce::ws::u_int i_ = 0;                                               \
    while (i_ < set_->fd_count && set_->fd_array[i_] != s_) ++i_;         \
    if (i_ == set_->fd_count && i_ < static_cast<::ce::ws::u_int>(FD_SETSIZE)) \
      set_->fd_array[set_->fd_count++] = s_;                              \
  } while (0)
#define FD_CLR(s, set)                                                    \
  do {                                                                    \
    ::ce::ws::fd_set* set_ = (set);                                       \
    ::ce::ws::SOCKET s_ = static_cast<::ce::ws::SOCKET>(s);               \
    for (::ce::ws::u_int i_ = 0; i_ < set_->fd_count; ++i_)               \
      if (set_->fd_array[i_] == s_) {                                     \
        set_->fd_array[i_] = set_->fd_array[--set_->fd_count];            \
        break;                                                            \
      }                                                                   \
  } while (0)
