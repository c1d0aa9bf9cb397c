// Socket transport and control-message framing against a small loopback
// server run in the test (127.0.0.1 only; every wait bounded).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "ce/winsock.h"
#include "core/Log.h"
#include "hostlink/ControlMessage.h"
#include "hostlink/Transport.h"
#include "testkit/TestDevice.h"

namespace ws = ce::ws;

namespace {

using Clock = std::chrono::steady_clock;

std::string Header(WORD kind, WORD code, DWORD length) {
  BYTE h[8];
  AControlMessage::EncodeHeader(kind, code, length, h);
  return std::string(reinterpret_cast<char*>(h), 8);
}

void SendAll(ws::SOCKET s, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int n = ws::send(s, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Reads exactly n bytes (less when the peer closes or 10 s pass).
std::string RecvAll(ws::SOCKET s, size_t n) {
  std::string out;
  auto end = Clock::now() + std::chrono::seconds(10);
  while (out.size() < n && Clock::now() < end) {
    ws::fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    ws::timeval tv{1, 0};
    if (ws::select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
    char buf[65536];
    int r = ws::recv(s, buf, static_cast<int>(std::min(n - out.size(), sizeof buf)), 0);
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  return out;
}

// Waits (at most 10 s) until the peer closes the connection.
void WaitForClose(ws::SOCKET s) { RecvAll(s, SIZE_MAX); }

// Listens on 127.0.0.1, accepts one connection (within 10 s) and runs the
// script on it in its own thread, then closes it.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<void(ws::SOCKET)> script) {
    listener_ = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    ws::sockaddr_in a{};
    a.sin_family = ws::AF_INET;
    a.sin_addr.s_addr = ws::htonl(ws::INADDR_LOOPBACK);
    int len = sizeof a;
    EXPECT_EQ(ws::bind(listener_, reinterpret_cast<ws::sockaddr*>(&a), len), 0);
    EXPECT_EQ(ws::listen(listener_, 1), 0);
    EXPECT_EQ(ws::getsockname(listener_, reinterpret_cast<ws::sockaddr*>(&a), &len), 0);
    port_ = ws::ntohs(a.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
      ws::fd_set set;
      FD_ZERO(&set);
      FD_SET(listener_, &set);
      ws::timeval tv{10, 0};
      if (ws::select(0, &set, nullptr, nullptr, &tv) != 1) return;
      ws::SOCKET s = ws::accept(listener_, nullptr, nullptr);
      if (s == ws::INVALID_SOCKET) return;
      script(s);
      ws::closesocket(s);
    });
  }
  ~LoopbackServer() {
    thread_.join();
    ws::closesocket(listener_);
  }
  WORD port() const { return port_; }

 private:
  ws::SOCKET listener_ = ws::INVALID_SOCKET;
  WORD port_ = 0;
  std::thread thread_;
};

void SetSocketSetting(LPCWSTR name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, SocketSettings::kKey, 0, nullptr, 0, 0, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() {
    static const bool started = [] {
      ws::WSADATA data{};
      return ws::WSAStartup(0x0101, &data) == 0;
    }();
    EXPECT_TRUE(started);
    SetLogReportSink([this](int, DWORD, const CString& t) { logged_.push_back(t.str()); });
  }
  ~TransportTest() override { SetLogReportSink(nullptr); }

  // Receive waits of `seconds` each, `retries` waits before giving up
  // (connections made afterwards).
  void Waits(DWORD seconds, DWORD retries) {
    SetSocketSetting(u"SocketTimeout", seconds);
    SetSocketSetting(u"SocketRetries", retries);
  }
  std::unique_ptr<QuilmoConnectionWinSock> ConnectTo(const LoopbackServer& server,
                                                     const char* host = "127.0.0.1") {
    auto c = std::make_unique<QuilmoConnectionWinSock>(server.port(), host);
    EXPECT_TRUE(c->Connect()) << c->GetErrorText().str().size();
    return c;
  }
  bool Logged(std::u16string_view text) const {
    for (const auto& t : logged_)
      if (t.find(text) != std::u16string::npos) return true;
    return false;
  }
  static double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
  }

  quilmo::test::TestDevice device_;
  std::vector<std::u16string> logged_;
};

TEST_F(TransportTest, SettingsDefaultAndStoredValues) {
  SocketSettings d = SocketSettings::Load();
  EXPECT_EQ(d.retries, 10u);
  EXPECT_EQ(d.timeout, 3u);
  EXPECT_EQ(d.blocksize, 0x8000u);
  SetSocketSetting(u"SocketRetries", 4);
  SetSocketSetting(u"SocketTimeout", 7);
  SetSocketSetting(u"SocketBlocksize", 512);
  QuilmoConnectionWinSock c(1, "x");
  EXPECT_EQ(c.GetSettings().retries, 4u);
  EXPECT_EQ(c.GetSettings().timeout, 7u);
  EXPECT_EQ(c.GetSettings().blocksize, 512u);
  // Zero would never end a receive or a send: the default stays.
  SetSocketSetting(u"SocketRetries", 0);
  SetSocketSetting(u"SocketBlocksize", 0);
  SocketSettings z = SocketSettings::Load();
  EXPECT_EQ(z.retries, 10u);
  EXPECT_EQ(z.blocksize, 0x8000u);
}

TEST_F(TransportTest, FramingRoundTripThroughPppPeer) {
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
  std::string got;
  {
    LoopbackServer server([&](ws::SOCKET s) {
      got = RecvAll(s, 8 + 8 + big.size());
      // Replies: an error reply carrying a code, then a remote file request.
      SendAll(s, Header(kControlErrorReply, kControlRemoteFile, 4) + std::string("\x05\0\0\0", 4));
      DWORD length = 0;
      BYTE data[3] = {1, 2, 3};
      BYTE* payload = AControlMessage::BuildRequest(kRemoteRead, 3, data, length);
      SendAll(s, Header(kControlRequest, kControlRemoteFile, length) +
                     std::string(reinterpret_cast<char*>(payload), length));
      delete[] payload;
      WaitForClose(s);
    });
    auto c = ConnectTo(server, "ppp_peer");  // the profile's peer: 127.0.0.1
    AControlMessage empty(kControlRequest, kControlShutdown, 0, nullptr);
    ASSERT_TRUE(empty.Send(c.get()));
    AControlMessage full(kControlReply, kControlPartnership, static_cast<DWORD>(big.size()),
                         reinterpret_cast<const BYTE*>(big.data()));
    EXPECT_FALSE(full.OwnsPayload());
    ASSERT_TRUE(full.Send(c.get()));

    AControlMessage error;
    ASSERT_TRUE(error.Receive(c.get(), 0));
    EXPECT_EQ(error.GetKind(), kControlErrorReply);
    EXPECT_EQ(error.GetCode(), kControlRemoteFile);
    EXPECT_TRUE(error.OwnsPayload());
    DWORD value = 0;
    EXPECT_TRUE(error.ReadDWord(0, &value));
    EXPECT_EQ(value, 5u);
    EXPECT_FALSE(error.ReadDWord(1, &value));  // would reach past the payload

    AControlMessage request;
    ASSERT_TRUE(request.Receive(c.get(), 0));
    ASSERT_EQ(request.GetLength(), 11u);
    EXPECT_TRUE(request.ReadDWord(0, &value));
    EXPECT_EQ(value, static_cast<DWORD>(kRemoteRead));
    EXPECT_TRUE(request.ReadDWord(4, &value));
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(request.GetPayload()[10], 3);
    EXPECT_EQ(c->Close(), 0);
    EXPECT_EQ(c->Close(), -1);
    EXPECT_EQ(c->RecvBytes(reinterpret_cast<BYTE*>(&value), 4, 1), 0u);  // no socket
  }
  ASSERT_EQ(got.size(), 16 + big.size());
  EXPECT_EQ(got.substr(0, 8), Header(kControlRequest, kControlShutdown, 0));
  EXPECT_EQ(got.substr(8, 8), Header(kControlReply, kControlPartnership, 100000));
  EXPECT_EQ(got.substr(16), big);
}

// Counts the pieces SendBytes hands to the socket.
class CountingConnection : public QuilmoConnectionWinSock {
 public:
  using QuilmoConnectionWinSock::QuilmoConnectionWinSock;
  std::vector<int> pieces;

 protected:
  int SendPiece(const BYTE* piece, int length) override {
    pieces.push_back(length);
    return QuilmoConnectionWinSock::SendPiece(piece, length);
  }
};

TEST_F(TransportTest, SendsInPiecesOfTheBlockSize) {
  const DWORD total = 2 * 0x8000 + 100;
  std::string got;
  {
    LoopbackServer server([&](ws::SOCKET s) { got = RecvAll(s, total); });
    CountingConnection c(server.port(), "127.0.0.1");
    ASSERT_TRUE(c.Connect());
    std::string bytes(total, 'q');
    EXPECT_EQ(c.SendBytes(reinterpret_cast<const BYTE*>(bytes.data()), total), total);
    EXPECT_EQ(c.pieces, (std::vector<int>{0x8000, 0x8000, 100}));
  }
  EXPECT_EQ(got.size(), total);
}

TEST_F(TransportTest, EmptyPayloadAndLargestAcceptedPayload) {
  const DWORD largest = ControlMessageFormat::kMaxPayload;
  LoopbackServer server([&](ws::SOCKET s) {
    SendAll(s, Header(kControlReply, kControlAccepted, 0));
    SendAll(s, Header(kControlReply, kControlRemoteFile, largest) + std::string(largest, 'z'));
    WaitForClose(s);
  });
  auto c = ConnectTo(server);
  AControlMessage accepted;
  ASSERT_TRUE(accepted.Receive(c.get(), 0));
  EXPECT_EQ(accepted.GetLength(), 0u);
  EXPECT_EQ(accepted.GetPayload(), nullptr);
  AControlMessage listing;
  ASSERT_TRUE(listing.Receive(c.get(), 0));
  EXPECT_EQ(listing.GetLength(), largest);
  EXPECT_EQ(listing.GetPayload()[largest - 1], 'z');
}

// The limit covers every reply the device reads.
static_assert(ControlMessageFormat::kMaxPayload >= 4 + 0x10000);
static_assert(ControlMessageFormat::kMaxPayload >= 4 + 592 * ControlMessageFormat::kMaxListingEntries);

TEST_F(TransportTest, HugeAnnouncedPayloadIsRefusedAtOnce) {
  Waits(10, 2);  // waiting for the payload would take 20 s
  for (DWORD length : {ControlMessageFormat::kMaxPayload + 1, 0xFFFFFFFFu}) {
    logged_.clear();
    LoopbackServer server([&](ws::SOCKET s) {
      SendAll(s, Header(kControlReply, kControlRemoteFile, length) + std::string(64, 'h'));
      WaitForClose(s);
    });
    auto c = ConnectTo(server);
    auto start = Clock::now();
    AControlMessage m;
    EXPECT_FALSE(m.Receive(c.get(), 0));
    EXPECT_LT(Seconds(start), 5.0);  // no wait for bytes that never come
    EXPECT_EQ(m.GetPayload(), nullptr);
    EXPECT_TRUE(Logged(u"Receive() refused a payload of")) << length;
  }
}

TEST_F(TransportTest, StalledHostEndsAfterTheRetries) {
  Waits(1, 2);  // the wait that brings the 10 bytes counts: one idle wait follows
  {
    LoopbackServer server([&](ws::SOCKET s) {
      SendAll(s, Header(kControlReply, kControlRemoteFile, 100) + std::string(10, 's'));
      WaitForClose(s);
    });
    auto c = ConnectTo(server);
    auto start = Clock::now();
    AControlMessage m;
    EXPECT_FALSE(m.Receive(c.get(), 0));
    double took = Seconds(start);
    EXPECT_GE(took, 0.95);  // a whole idle wait
    EXPECT_LT(took, 15.0);  // not stuck: the retries end it
    EXPECT_TRUE(Logged(u"recv() exceeded maximum retries 10 of 100"));
  }

  // Nothing at all: the header wait gives up after the attempts asked for
  // (1), not the configured 20.
  Waits(1, 20);
  logged_.clear();
  LoopbackServer silent([&](ws::SOCKET s) { WaitForClose(s); });
  auto c = ConnectTo(silent);
  auto start = Clock::now();
  AControlMessage m;
  EXPECT_FALSE(m.Receive(c.get(), 1));
  EXPECT_LT(Seconds(start), 10.0);
  EXPECT_TRUE(Logged(u"recv() exceeded maximum retries 0 of 8"));
}

TEST_F(TransportTest, DroppedHostEndsAtOnceWithTheBytesSoFar) {
  Waits(10, 2);  // waiting again after the close would take 20 s
  LoopbackServer server([&](ws::SOCKET s) {
    SendAll(s, Header(kControlReply, kControlRemoteFile, 50) + std::string(20, 'd'));
  });
  auto c = ConnectTo(server);
  auto start = Clock::now();
  AControlMessage m;
  EXPECT_FALSE(m.Receive(c.get(), 0));
  EXPECT_LT(Seconds(start), 5.0);
  EXPECT_TRUE(Logged(u"connection closed by the host after 20 of 50"));

  // Sending to the dropped host fails without a signal. The host's socket
  // is gone, so its system answers the first bytes with a reset; more than
  // any send buffer holds makes the send wait for that reset and fail.
  std::string bytes(16 << 20, 'x');
  DWORD sent = c->SendBytes(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  EXPECT_LT(sent, bytes.size());
  EXPECT_TRUE(Logged(u"QuilmoConnectionWinSock::SendBytes() - send() failed"));
}

TEST_F(TransportTest, SlowButSteadyHostNeverHitsTheRetryLimit) {
  // Five waits bring data, more than the two allowed; each piece comes
  // 0.25 s after the last, far inside one wait of 5 s.
  Waits(5, 2);
  LoopbackServer server([&](ws::SOCKET s) {
    SendAll(s, Header(kControlReply, kControlRemoteFile, 4));
    for (int i = 0; i < 4; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      SendAll(s, std::string(1, static_cast<char>('a' + i)));
    }
    WaitForClose(s);
  });
  auto c = ConnectTo(server);
  AControlMessage m;
  ASSERT_TRUE(m.Receive(c.get(), 0));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.GetPayload()), 4), "abcd");
}

TEST_F(TransportTest, RequestsDoNotWaitForDelayedAcknowledgements) {
  // A request is a header and a payload sent one after the other, answered
  // by one reply. Held back until the header is acknowledged, each payload
  // would wait for the host's delayed acknowledgement (40 ms or more): 100
  // requests would take at least 4 s.
  constexpr int kRequests = 100;
  LoopbackServer server([&](ws::SOCKET s) {
    for (int i = 0; i < kRequests; ++i) {
      if (RecvAll(s, 16).size() != 16) return;
      SendAll(s, Header(kControlReply, kControlRemoteFile, 4) + std::string(4, 'r'));
    }
    WaitForClose(s);
  });
  auto c = ConnectTo(server);
  auto start = Clock::now();
  for (int i = 0; i < kRequests; ++i) {
    BYTE data[8] = {kRemoteGetFileSize};
    AControlMessage request(kControlRequest, kControlRemoteFile, 8, data);
    ASSERT_TRUE(request.Send(c.get()));
    AControlMessage reply;
    ASSERT_TRUE(reply.Receive(c.get(), 0));
  }
  EXPECT_LT(Seconds(start), 2.0);
}

TEST_F(TransportTest, ConnectAndListenFailuresKeepStageAndText) {
  WORD closedPort = 0;
  {
    // A port that was just listening and is closed now refuses.
    LoopbackServer server([](ws::SOCKET) {});
    closedPort = server.port();
    auto c = ConnectTo(server);
  }
  QuilmoConnectionWinSock refused(closedPort, "localhost");
  EXPECT_FALSE(refused.Connect());
  EXPECT_EQ(refused.GetFailureStage(), static_cast<DWORD>(kStageConnect));
  EXPECT_EQ(refused.GetErrorText().str(), u"connect() Failed : 10061");
  EXPECT_FALSE(refused.IsConnected());

  QuilmoConnectionWinSock badService(80, "host name with spaces");
  EXPECT_FALSE(badService.Connect());
  EXPECT_EQ(badService.GetFailureStage(), static_cast<DWORD>(kStageResolve));
  EXPECT_EQ(badService.GetErrorText().Left(22).str(), u"getaddrinfo() Failed :");

  // Listening without an opened socket: the option call fails first.
  QuilmoConnectionWinSock unopened(0, "");
  EXPECT_FALSE(unopened.Listen(5));
  EXPECT_EQ(unopened.GetFailureStage(), static_cast<DWORD>(kStageOpen));
  EXPECT_EQ(unopened.GetErrorText().str(), u"setsockopt() Failed : 0x2736");
  EXPECT_FALSE(unopened.Accept());
  EXPECT_EQ(unopened.GetFailureStage(), static_cast<DWORD>(kStageAccept));
}

TEST(ControlMessageBuild, RequestCarriesCommandLengthAndData) {
  BYTE data[5] = {9, 8, 7, 6, 5};
  DWORD length = 0;
  BYTE* payload = AControlMessage::BuildRequest(kRemoteWrite, 5, data, length);
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(length, 13u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(payload), 13),
            std::string("\x03\0\0\0\x05\0\0\0\x09\x08\x07\x06\x05", 13));
  delete[] payload;
  EXPECT_EQ(AControlMessage::BuildRequest(kRemoteWrite, 0xFFFFFFFCu, data, length), nullptr);
  EXPECT_EQ(length, 0u);
  payload = AControlMessage::BuildRequest(kRemoteClose, 0, nullptr, length);
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(length, 8u);
  delete[] payload;
}

}  // namespace
