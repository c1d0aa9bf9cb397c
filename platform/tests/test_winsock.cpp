// The device's WinSock over loopback (127.0.0.1 only).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ce/errors.h"
#include "ce/winsock.h"
#include "cesim/device.h"
#include "testkit/TestDevice.h"

namespace ws = ce::ws;

namespace {

ws::sockaddr_in Loopback(WORD port) {
  ws::sockaddr_in a{};
  a.sin_family = ws::AF_INET;
  a.sin_port = ws::htons(port);
  a.sin_addr.s_addr = ws::htonl(ws::INADDR_LOOPBACK);
  return a;
}

void Start() {
  ws::WSADATA data{};
  ASSERT_EQ(ws::WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_EQ(data.wHighVersion, 0x0202);
}

TEST(WinSock, CallsBeforeStartupFailAndStartupCounts) {
  while (ws::WSACleanup() == 0) {
  }
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSANOTINITIALISED);
  SetLastError(0);
  EXPECT_EQ(ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0), ws::INVALID_SOCKET);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSANOTINITIALISED);
  ws::addrinfo* found = nullptr;
  EXPECT_EQ(ws::getaddrinfo("127.0.0.1", "1", nullptr, &found), ws::WSANOTINITIALISED);

  ws::WSADATA data{};
  EXPECT_EQ(ws::WSAStartup(0, &data), ws::WSAVERNOTSUPPORTED);
  Start();
  Start();
  EXPECT_EQ(ws::WSACleanup(), 0);  // one start is left
  ws::SOCKET s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  ASSERT_NE(s, ws::INVALID_SOCKET);
  EXPECT_EQ(ws::closesocket(s), 0);
  // A closed socket, or a number this layer never made, is not a socket.
  EXPECT_EQ(ws::closesocket(s), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
  EXPECT_EQ(ws::send(0, "x", 1, 0), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
  EXPECT_EQ(ws::socket(ws::AF_INET, ws::SOCK_DGRAM, 0), ws::INVALID_SOCKET);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAESOCKTNOSUPPORT);
}

TEST(WinSock, LoopbackStreamSelectAndClose) {
  Start();
  ws::SOCKET listener = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
  ASSERT_NE(listener, ws::INVALID_SOCKET);
  BOOL on = TRUE;
  EXPECT_EQ(ws::setsockopt(listener, ws::SOL_SOCKET, ws::SO_REUSEADDR,
                           reinterpret_cast<const char*>(&on), sizeof on), 0);
  EXPECT_EQ(ws::setsockopt(listener, ws::SOL_SOCKET, 0x7777, reinterpret_cast<const char*>(&on),
                           sizeof on), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOPROTOOPT);
  ws::sockaddr_in a = Loopback(0);
  ASSERT_EQ(ws::bind(listener, reinterpret_cast<ws::sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(ws::listen(listener, 5), 0);
  int len = sizeof a;
  ASSERT_EQ(ws::getsockname(listener, reinterpret_cast<ws::sockaddr*>(&a), &len), 0);
  WORD port = ws::ntohs(a.sin_port);
  ASSERT_NE(port, 0);

  ws::SOCKET client = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  ws::sockaddr_in to = Loopback(port);
  ASSERT_EQ(ws::connect(client, reinterpret_cast<ws::sockaddr*>(&to), sizeof to), 0);
  ws::sockaddr_in from{};
  int fromLength = 4;  // too small for an address
  EXPECT_EQ(ws::accept(listener, reinterpret_cast<ws::sockaddr*>(&from), &fromLength),
            ws::INVALID_SOCKET);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEFAULT);
  fromLength = sizeof from;
  ws::SOCKET server = ws::accept(listener, reinterpret_cast<ws::sockaddr*>(&from), &fromLength);
  ASSERT_NE(server, ws::INVALID_SOCKET);
  EXPECT_EQ(std::string(ws::inet_ntoa(from.sin_addr)), "127.0.0.1");

  // Nothing to read: select times out and empties the set.
  ws::fd_set set;
  FD_ZERO(&set);
  FD_SET(server, &set);
  FD_SET(server, &set);  // once only
  EXPECT_EQ(set.fd_count, 1u);
  ws::timeval tv{0, 50000};
  EXPECT_EQ(ws::select(0, &set, nullptr, nullptr, &tv), 0);
  EXPECT_EQ(set.fd_count, 0u);

  EXPECT_EQ(ws::send(client, "hello", 5, 0), 5);
  FD_SET(server, &set);
  tv = {2, 0};
  ASSERT_EQ(ws::select(0, &set, nullptr, nullptr, &tv), 1);
  EXPECT_TRUE(FD_ISSET(server, &set));
  char buf[16] = {};
  EXPECT_EQ(ws::recv(server, buf, sizeof buf, ws::MSG_PEEK), 5);
  EXPECT_EQ(ws::recv(server, buf, sizeof buf, 0), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");

  // The peer closes: readable, and recv gives 0; sends then fail with a
  // WinSock error and no signal.
  EXPECT_EQ(ws::shutdown(client, ws::SD_BOTH), 0);
  EXPECT_EQ(ws::closesocket(client), 0);
  FD_SET(server, &set);
  ASSERT_EQ(ws::select(0, &set, nullptr, nullptr, &tv), 1);
  EXPECT_EQ(ws::recv(server, buf, sizeof buf, 0), 0);
  std::string big(1 << 16, 'b');
  int result = 0;
  for (int i = 0; i < 50 && result != ws::SOCKET_ERROR; ++i)
    result = ws::send(server, big.data(), static_cast<int>(big.size()), 0);
  EXPECT_EQ(result, ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAECONNRESET);
  EXPECT_EQ(ws::closesocket(server), 0);
  EXPECT_EQ(ws::closesocket(listener), 0);

  // Nobody listens there any more.
  ws::SOCKET late = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  EXPECT_EQ(ws::connect(late, reinterpret_cast<ws::sockaddr*>(&to), sizeof to), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAECONNREFUSED);
  ws::closesocket(late);
}

TEST(WinSock, AddressLookupKnowsThePeerName) {
  Start();
  ce::Profile profile;
  profile.peerAddress = u"127.0.0.9";
  quilmo::test::TestDevice device(profile);
  ws::addrinfo hints{};
  hints.ai_family = ws::AF_INET;
  hints.ai_socktype = ws::SOCK_STREAM;
  auto lookup = [&](const char* node, const char* service, std::string* text, WORD* port) {
    ws::addrinfo* found = nullptr;
    int r = ws::getaddrinfo(node, service, &hints, &found);
    if (r == 0) {
      auto* in = reinterpret_cast<ws::sockaddr_in*>(found->ai_addr);
      *text = ws::inet_ntoa(in->sin_addr);
      *port = ws::ntohs(in->sin_port);
      EXPECT_EQ(found->ai_family, ws::AF_INET);
      EXPECT_EQ(found->ai_addrlen, sizeof(ws::sockaddr_in));
      ws::freeaddrinfo(found);
    } else {
      EXPECT_EQ(found, nullptr);
    }
    return r;
  };
  std::string text;
  WORD port = 0;
  ASSERT_EQ(lookup("ppp_peer", "5533", &text, &port), 0);
  EXPECT_EQ(text, "127.0.0.9");
  EXPECT_EQ(port, 5533);
  ASSERT_EQ(lookup("PPP_Peer", "32766", &text, &port), 0);
  EXPECT_EQ(text, "127.0.0.9");
  EXPECT_EQ(port, 32766);
  ASSERT_EQ(lookup("localhost", "0", &text, &port), 0);
  EXPECT_EQ(text, "127.0.0.1");
  ASSERT_EQ(lookup("10.1.2.3", nullptr, &text, &port), 0);
  EXPECT_EQ(text, "10.1.2.3");
  EXPECT_EQ(port, 0);
  EXPECT_EQ(lookup("127.0.0.1", "http", &text, &port), ws::WSATYPE_NOT_FOUND);
  EXPECT_EQ(lookup("127.0.0.1", "65536", &text, &port), ws::WSATYPE_NOT_FOUND);
  hints.ai_flags = ws::AI_NUMERICHOST;
  EXPECT_EQ(lookup("desktop", "1", &text, &port), ws::WSAHOST_NOT_FOUND);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAHOST_NOT_FOUND);
  hints.ai_flags = 0;
  hints.ai_family = 23;  // IPv6: not offered
  EXPECT_EQ(lookup("127.0.0.1", "1", &text, &port), ws::WSAEAFNOSUPPORT);

  EXPECT_EQ(ws::inet_addr("192.168.55.101"), ws::htonl(0xC0A83765));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 "})
    EXPECT_EQ(ws::inet_addr(bad), ws::INADDR_NONE) << bad;
}

}  // namespace
