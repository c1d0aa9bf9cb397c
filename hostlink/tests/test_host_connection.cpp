// The device side of the host link against a scripted host: handshake,
// partnership, notices, close, and the remote file requests and replies.
#include <gtest/gtest.h>

#include <chrono>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/winsock.h"
#include "core/Log.h"
#include "fake_host.h"
#include "hostlink/DistributedFile.h"
#include "hostlink/HostConnection.h"
#include "link_test_util.h"
#include "testkit/TestDevice.h"

using hosttest::FakeHost;
using hosttest::Frame;
using hosttest::GetU32;
using hosttest::U32;
using linktest::LinkFixture;
using linktest::LogCapture;

namespace {

std::string Utf16(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  bytes += std::string(2, '\0');
  return bytes;
}

// Accepts the device at once, then runs more.
std::function<void(FakeHost&)> Accepting(std::function<void(FakeHost&)> more = {}) {
  return [more](FakeHost& h) {
    h.Send(0, 0);
    if (more) more(h);
  };
}

class HostConnectionTest : public LinkFixture {
 protected:
  HostConnectionPtr Connect(FakeHost& host, DWORD timeout = 5) {
    return AHostConnection::ConnectToHost(u"127.0.0.1", host.port(), timeout, 0, false);
  }
};

TEST_F(HostConnectionTest, PartnershipRequestGetsTenIdsThenAccepted) {
  for (int i = 0; i < 12; ++i) SetPartner(i, 1000 + i);
  FakeHost host([](FakeHost& h) {
    h.Send(0, 2);
    h.Receive();
    h.Send(0, 0);
  });
  auto connection = Connect(host);
  host.Join();
  ASSERT_TRUE(connection);
  ASSERT_EQ(host.received.size(), 1u);
  const Frame& reply = host.received[0];
  EXPECT_EQ(reply.kind, 1);
  EXPECT_EQ(reply.code, 2);
  ASSERT_EQ(reply.payload.size(), 44u);
  EXPECT_EQ(GetU32(reply.payload, 0), 10u);
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(GetU32(reply.payload, 4 + 4 * i), 1000 + i);
}

TEST_F(HostConnectionTest, UnknownCodesAreSkippedUntilAccepted) {
  // The message after the accept shows where the handshake stopped reading:
  // a device that took an earlier message for the accept reads that one
  // next instead.
  FakeHost host([](FakeHost& h) {
    h.Send(0, 7);
    h.Send(1, 3, U32(5));
    h.Send(0, 0);
    h.Send(1, 3, "after the accept");
  });
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  AControlMessage next;
  ASSERT_TRUE(next.Receive(connection.get(), 0));
  EXPECT_EQ(next.GetKind(), 1);
  EXPECT_EQ(next.GetCode(), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(next.GetPayload()), next.GetLength()),
            "after the accept");
}

TEST_F(HostConnectionTest, RefusalEndsWithNone) {
  LogCapture log;
  FakeHost host([](FakeHost& h) { h.Send(0, 1); });
  EXPECT_FALSE(Connect(host));
  EXPECT_TRUE(log.Has(u"Server has requested a shutdown"));
}

TEST_F(HostConnectionTest, SilentOrEndlessHandshakeEndsBounded) {
  LogCapture log;
  {
    FakeHost host([](FakeHost& h) { h.CloseClient(); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Connect(host));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  EXPECT_TRUE(log.Has(u"There was an error reading the control message"));
  FakeHost chatty([](FakeHost& h) {
    for (int i = 0; i < 200 && h.Send(0, 7); ++i) {
    }
  });
  EXPECT_FALSE(Connect(chatty));
}

TEST_F(HostConnectionTest, UnreachableHostRetriesUntilTimeOut) {
  LogCapture log;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(AHostConnection::ConnectToHost(u"127.0.0.1", hosttest::UnusedPort(), 1, 0, false));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::seconds(4));
  EXPECT_TRUE(log.Has(u"Failed to connect to host"));
}

TEST_F(HostConnectionTest, OperationNoticesAndClose) {
  SetAgentDWord(u"DeviceId", 77);
  AHostConnection::SetOperationKindSource([] { return DWORD{2}; });
  FakeHost host(Accepting([](FakeHost& h) {
    for (int i = 0; i < 4; ++i) h.Receive();
    h.Receive();  // closing message
    h.Send(1, 1);
  }));
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  LogCapture log;
  EXPECT_TRUE(AHostConnection::SendOperationMessage(connection.get(), CM_OPERATIONSTART, 0, nullptr));
  EXPECT_TRUE(AHostConnection::SendOperationMessage(connection.get(), CM_OPERATIONCOMPLETE, 0, u""));
  EXPECT_TRUE(AHostConnection::SendOperationMessage(connection.get(), CM_OPERATIONFAILED, 9, u""));
  EXPECT_TRUE(AHostConnection::SendOperationMessage(connection.get(), CM_OPERATIONFAILED, 5, u"Disk"));
  EXPECT_FALSE(AHostConnection::SendControlMessage(connection.get(), 3, 0, nullptr));
  EXPECT_TRUE(log.Has(u"Not a backup control message"));
  AHostConnection::CloseConnection(std::move(connection));
  AHostConnection::SetOperationKindSource(nullptr);
  host.Join();

  ASSERT_EQ(host.received.size(), 5u);
  const auto& r = host.received;
  EXPECT_EQ(r[0].code, 4);
  EXPECT_EQ(r[0].payload, U32(2) + U32(77));
  EXPECT_EQ(r[1].code, 5);
  EXPECT_EQ(r[1].payload.size(), 8u);
  EXPECT_EQ(r[2].code, 6);
  EXPECT_EQ(r[2].payload, U32(2) + U32(77) + U32(9) + U32(0));
  EXPECT_EQ(r[3].payload, U32(2) + U32(77) + U32(5) + U32(10) + Utf16(u"Disk"));
  EXPECT_EQ(r[4].kind, 0);
  EXPECT_EQ(r[4].code, 1);
  EXPECT_TRUE(r[4].payload.empty());
}

// ---- remote files ----------------------------------------------------------

class DistributedFileTest : public HostConnectionTest {};

TEST_F(DistributedFileTest, OpenSendsNameMessageAndArguments) {
  FakeHost host(Accepting([](FakeHost& h) {
    h.Receive();
    h.Send(1, 3);
  }));
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  ADistributedFile file(connection, u"\\Images\\a.pbf");
  file.SetUserMessage(u"Hi");
  EXPECT_TRUE(file.Open(GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  host.Join();
  ASSERT_EQ(host.received.size(), 1u);
  std::string data = Utf16(u"\\Images\\a.pbf") + U32(6) + Utf16(u"Hi") + U32(GENERIC_WRITE) +
                     U32(CREATE_ALWAYS) + U32(FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(host.received[0].kind, 0);
  EXPECT_EQ(host.received[0].code, 3);
  EXPECT_EQ(host.received[0].payload, U32(0) + U32(static_cast<uint32_t>(data.size())) + data);
}

TEST_F(DistributedFileTest, ReadJudgesTheReplyCount) {
  FakeHost host(Accepting([](FakeHost& h) {
    for (int i = 0; i < 3; ++i) {
      h.Receive();
      h.Send(1, 3, i < 2 ? U32(3) + "abc" : U32(100) + "abc");
    }
  }));
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  ADistributedFile file(connection, u"x.pbf");
  LogCapture log;
  char buffer[5] = {};
  EXPECT_FALSE(file.Read(buffer, 5, nullptr));  // fewer than wanted
  EXPECT_EQ(std::string(buffer, 3), "abc");
  DWORD got = 0;
  EXPECT_TRUE(file.Read(buffer, 5, &got));
  EXPECT_EQ(got, 3u);
  EXPECT_FALSE(file.Read(buffer, 5, &got));  // announces more than it carries
  EXPECT_TRUE(log.Has(u"Read(): Unexpected reply from host"));
  host.Join();
  EXPECT_EQ(host.received[0].payload, U32(2) + U32(4) + U32(5));
}

TEST_F(DistributedFileTest, ErrorReplyKeepsTheHostCode) {
  FakeHost host(Accepting([](FakeHost& h) {
    h.Receive();
    h.Send(2, 3, U32(ERROR_SHARING_VIOLATION));
    h.Receive();
    h.Send(1, 3, U32(4242));
  }));
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  ADistributedFile file(connection, u"x.pbf");
  LogCapture log;
  EXPECT_FALSE(file.SetFilePointer(10, FILE_BEGIN));
  EXPECT_EQ(file.GetError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(log.Has(u"SetFilePointer() returned error from host"));
  DWORD size = 0;
  EXPECT_TRUE(file.GetFileSize(&size));  // the connection stays usable
  EXPECT_EQ(size, 4242u);
}

TEST_F(DistributedFileTest, WriteAwaitsNoReply) {
  FakeHost host(Accepting([](FakeHost& h) { h.Receive(); }));
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  ADistributedFile file(connection, u"x.pbf");
  EXPECT_TRUE(file.Write("12345", 5));
  host.Join();
  ASSERT_EQ(host.received.size(), 1u);
  EXPECT_EQ(host.received[0].payload.size(), 5u + 12u);
  EXPECT_EQ(host.received[0].payload, U32(3) + U32(9) + U32(5) + "12345");
}

TEST_F(DistributedFileTest, DirectoryListing) {
  auto record = [](std::u16string_view name, uint32_t size) {
    HOST_FIND_DATA d;
    d.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    d.nFileSizeLow = size;
    for (size_t i = 0; i < name.size(); ++i) d.cFileName[i] = name[i];
    std::string bytes;
    d.Store(&bytes);
    return bytes;
  };
  FakeHost host(Accepting([&](FakeHost& h) {
    h.Receive();
    h.Send(1, 3, U32(0));
    h.Receive();
    h.Send(1, 3, U32(2) + record(u"one.pbf", 10) + record(u"two.pbf", 20));
    h.Receive();
    h.Send(1, 3, U32(5) + record(u"short.pbf", 1));
  }));
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  ADistributedFile file(connection);
  EXPECT_EQ(file.GetFullPath(), CString(u"prompt_user"));
  HostFindDataArray entries;
  EXPECT_TRUE(file.GetDirectory(entries));
  EXPECT_EQ(entries.GetSize(), 0);
  ASSERT_TRUE(file.GetDirectory(entries));
  ASSERT_EQ(entries.GetSize(), 2);
  EXPECT_EQ(std::u16string(entries[1].cFileName), u"two.pbf");
  EXPECT_EQ(entries[1].nFileSizeLow, 20u);
  LogCapture log;
  EXPECT_FALSE(file.GetDirectory(entries));
  EXPECT_TRUE(log.Has(u"GetDirectory(): Unexpected reply from host"));
}

TEST_F(DistributedFileTest, DroppedHostFailsEveryRequest) {
  FakeHost host(Accepting([](FakeHost& h) { h.CloseClient(); }));
  auto connection = Connect(host);
  ASSERT_TRUE(connection);
  host.Join();
  ADistributedFile file(connection, u"x.pbf");
  LogCapture log;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(file.Open(GENERIC_READ, OPEN_EXISTING, 0));
  DWORD value = 0;
  EXPECT_FALSE(file.GetFileSize(&value));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  AHostConnection::CloseConnection(connection);
  EXPECT_FALSE(file.Close());  // a closed connection: a clean failure
}

}  // namespace
