// The device side against the real desktop host service: an image written
// through the image file in host mode and read back, the host folder
// listing, the operation notices, the handshake variants and a host that
// vanishes mid-transfer.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "ce/errors.h"
#include "hostlink/DistributedFile.h"
#include "hostlink/HostConnection.h"
#include "host_service_process.h"
#include "image/ImageFile.h"
#include "link_test_util.h"
#include "silent_connections.h"

using hosttest::HostServiceProcess;
using linktest::LinkFixture;
using linktest::LogCapture;
using linktest::SetDWord;

namespace {

class HostServiceTest : public LinkFixture {
 protected:
  void SetUp() override {
    // The program is built with these tests; missing, it is a broken build.
    ASSERT_EQ(access(HostServiceProcess::ProgramPath().c_str(), X_OK), 0)
        << HostServiceProcess::ProgramPath() << " is missing";
    SetImageHost(&link_);
  }
  void TearDown() override {
    AHostConnection::CloseProcessConnection();
    SetImageHost(nullptr);
  }
  HostConnectionPtr Connect(const HostServiceProcess& service) {
    return AHostConnection::ConnectToHost(u"ppp_peer", service.port(), 5, 0, false);
  }

  AHostImageLink link_;
};

// The image path a device uses unless told otherwise.
const CString kDefaultImagePath = u"\\temp\\Backup.pbf";

std::string Sample(size_t size) {
  std::mt19937 rng(7);
  std::string bytes(size, '\0');
  for (auto& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

TEST_F(HostServiceTest, ImageRoundTripListingAndNotices) {
  HostServiceProcess service;
  ASSERT_TRUE(service.Started());
  SetAgentDWord(u"DeviceId", 77);
  AHostConnection::SetOperationKindSource([] { return DWORD{1}; });

  // Backup: the first open connects and keeps the process-wide connection.
  // The image path is the device's default; the host keeps the file by its
  // name.
  const std::string data = Sample(200000);
  {
    AImageFile image(AImageFile::kBackup, AImageFile::kHost);
    image.SetHost(u"ppp_peer", service.port());
    image.SetFileName(kDefaultImagePath);
    image.SetUserMessage(u"Backing up");
    ASSERT_TRUE(image.Open());
    ASSERT_TRUE(AHostConnection::GetProcessConnection());
    EXPECT_TRUE(AHostConnection::SendOperationMessage(AHostConnection::GetProcessConnection().get(),
                                                      CM_OPERATIONSTART, 0, nullptr));
    size_t at = 0;
    for (DWORD piece : {10u, 40000u, 32768u, 1u, 70000u}) {
      ASSERT_TRUE(image.Write(data.data() + at, piece, false, false));
      at += piece;
    }
    ASSERT_TRUE(image.Write(data.data() + at, static_cast<DWORD>(data.size() - at), false, false));
    EXPECT_TRUE(image.Close());
  }
  EXPECT_EQ(std::filesystem::file_size(service.folder() / "Backup.pbf"), data.size());

  // Restore over the same connection.
  {
    AImageFile image(AImageFile::kRestore, AImageFile::kHost);
    image.SetFileName(kDefaultImagePath);
    ASSERT_TRUE(image.Open());
    EXPECT_EQ(AImageFile::GetRestoreSizeEstimate(), data.size());
    std::string back(data.size(), '\0');
    ASSERT_TRUE(image.Read(back.data(), 100, false, false));
    ASSERT_TRUE(image.Read(back.data() + 100, static_cast<DWORD>(data.size() - 100), false, false));
    EXPECT_TRUE(back == data);
    // A seek near the end and a read of the last bytes.
    ASSERT_TRUE(image.SetFilePointer(-80, FILE_END));
    char tail[80];
    ASSERT_TRUE(image.Read(tail, 80, false, false));
    EXPECT_EQ(std::string(tail, 80), data.substr(data.size() - 80));
    EXPECT_TRUE(image.Close());
  }

  // The folder listing shows what was written.
  ADistributedFile listing(AHostConnection::GetProcessConnection());
  HostFindDataArray entries;
  ASSERT_TRUE(listing.GetDirectory(entries));
  ASSERT_EQ(entries.GetSize(), 1);
  EXPECT_EQ(std::u16string(entries[0].cFileName), u"Backup.pbf");
  EXPECT_EQ(entries[0].nFileSizeLow, data.size());

  auto* connection = AHostConnection::GetProcessConnection().get();
  EXPECT_TRUE(AHostConnection::SendOperationMessage(connection, CM_OPERATIONCOMPLETE, 0, nullptr));
  EXPECT_TRUE(AHostConnection::SendOperationMessage(connection, CM_OPERATIONFAILED, 5, u"Disk full"));
  AHostConnection::CloseProcessConnection();
  AHostConnection::SetOperationKindSource(nullptr);

  std::string notices = service.Notices("CM_OPERATIONFAILED");
  EXPECT_NE(notices.find("CM_OPERATIONSTART operation=1 device=77"), std::string::npos) << notices;
  EXPECT_NE(notices.find("CM_OPERATIONCOMPLETE operation=1 device=77"), std::string::npos);
  EXPECT_NE(notices.find("CM_OPERATIONFAILED operation=1 device=77 error=5 text=\"Disk full\""),
            std::string::npos);
}

TEST_F(HostServiceTest, HostErrorsReachTheDevice) {
  HostServiceProcess service;
  ASSERT_TRUE(service.Started());
  auto connection = Connect(service);
  ASSERT_TRUE(connection);
  LogCapture log;
  ADistributedFile missing(connection, u"missing.pbf");
  EXPECT_FALSE(missing.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  EXPECT_NE(missing.GetError(), 0u);
  EXPECT_TRUE(log.Has(u"Open() returned error from host"));
  ADistributedFile escape(connection, u"..\\outside.pbf");
  EXPECT_FALSE(escape.Open(GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(std::filesystem::exists(service.folder().parent_path() / "outside.pbf"));
  AHostConnection::CloseConnection(connection);
}

TEST_F(HostServiceTest, HandshakeCases) {
  for (int i = 0; i < 12; ++i) SetPartner(i, 500 + i);
  {
    HostServiceProcess service({"--ask-partnership"});
    ASSERT_TRUE(service.Started());
    auto connection = Connect(service);
    EXPECT_TRUE(connection);
    AHostConnection::CloseConnection(connection);
  }
  {
    HostServiceProcess service({"--extra-code", "7"});
    ASSERT_TRUE(service.Started());
    EXPECT_TRUE(Connect(service));
  }
  {
    LogCapture log;
    HostServiceProcess service({"--refuse"});
    ASSERT_TRUE(service.Started());
    EXPECT_FALSE(Connect(service));
    EXPECT_TRUE(log.Has(u"Server has requested a shutdown"));
  }
  {
    HostServiceProcess service({"--ask-partnership", "--partner", "509"});
    ASSERT_TRUE(service.Started());
    EXPECT_TRUE(Connect(service));  // the tenth id is sent
  }
  {
    HostServiceProcess service({"--ask-partnership", "--partner", "510"});
    ASSERT_TRUE(service.Started());
    EXPECT_FALSE(Connect(service));  // the eleventh is not
  }
}

TEST_F(HostServiceTest, SilentConnectionsDoNotLockADeviceOut) {
  HostServiceProcess service({"--handshake-timeout", "1"});
  ASSERT_TRUE(service.Started());
  // Eight connections that never speak: every place of the host is taken.
  hosttest::SilentConnections silent(service.port(), 8);
  ASSERT_EQ(silent.Opened(), 8);
  // The device waits up to 10 s for the host's first message.
  SetDWord(u"Software\\Quilmo Software", u"SocketRetries", 10);
  auto start = std::chrono::steady_clock::now();
  const std::string data = Sample(50000);
  {
    AImageFile image(AImageFile::kBackup, AImageFile::kHost);
    image.SetHost(u"127.0.0.1", service.port());
    image.SetFileName(kDefaultImagePath);
    ASSERT_TRUE(image.Open());
    ASSERT_TRUE(image.Write(data.data(), static_cast<DWORD>(data.size()), false, false));
    EXPECT_TRUE(image.Close());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(std::filesystem::file_size(service.folder() / "Backup.pbf"), data.size());
}

TEST_F(HostServiceTest, HostVanishingMidTransferEndsCleanly) {
  HostServiceProcess service;
  ASSERT_TRUE(service.Started());
  AImageFile image(AImageFile::kBackup, AImageFile::kHost);
  image.SetHost(u"127.0.0.1", service.port());
  image.SetFileName(u"cut.pbf");
  ASSERT_TRUE(image.Open());
  const std::string data = Sample(65536);
  ASSERT_TRUE(image.Write(data.data(), 32768, false, false));
  service.Kill();
  LogCapture log;
  auto start = std::chrono::steady_clock::now();
  bool ok = true;
  for (int i = 0; i < 20 && ok; ++i) ok = image.Write(data.data(), 32768, false, false);
  ok = image.Close() && ok;
  EXPECT_FALSE(ok);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_FALSE(log.texts.empty());
}

}  // namespace
