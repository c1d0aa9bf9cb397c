// The local file behind images: opening rules, read and seek checks,
// full-disk texts, deletion.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "core/Log.h"
#include "image/File.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

// Collects the error entries the file reports.
class ErrorCapture {
 public:
  ErrorCapture() {
    SetLogReportSink([this](int, DWORD code, const CString& t) {
      texts.push_back(t.str());
      codes.push_back(code);
    });
  }
  ~ErrorCapture() { SetLogReportSink(nullptr); }
  std::vector<std::u16string> texts;
  std::vector<DWORD> codes;
};

std::string Bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i);
  return s;
}

}  // namespace

TEST(AFile, WriteThenReadBack) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  AFile out(u"\\temp\\image.pbf");
  ASSERT_TRUE(out.Open(GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  std::string data = Bytes(100);
  ASSERT_TRUE(out.Write(data.data(), 100));
  DWORD pos = 0;
  ASSERT_TRUE(out.GetFilePointer(&pos));
  EXPECT_EQ(pos, 100u);
  ASSERT_TRUE(out.Close());
  EXPECT_FALSE(out.IsOpen());

  AFile in(u"\\TEMP\\IMAGE.PBF");
  ASSERT_TRUE(in.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  DWORD size = 0;
  ASSERT_TRUE(in.GetFileSize(&size));
  EXPECT_EQ(size, 100u);
  ASSERT_TRUE(in.SetFilePointer(-10, FILE_END));
  char buf[16] = {};
  ASSERT_TRUE(in.Read(buf, 10, nullptr));
  EXPECT_EQ(std::string(buf, 10), data.substr(90));
  // With an out-count a short read succeeds; at the end it fails.
  ASSERT_TRUE(in.SetFilePointer(95, FILE_BEGIN));
  DWORD got = 0;
  ASSERT_TRUE(in.Read(buf, 16, &got));
  EXPECT_EQ(got, 5u);
  ErrorCapture errors;
  EXPECT_FALSE(in.Read(buf, 16, &got));
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(errors.texts.size(), 1u);
  EXPECT_EQ(errors.texts[0], u"Read BytesRead != count 0:16");
}

TEST(AFile, ReadingRequiresOpenExistingAndSharesRead) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\a.pbf", "abc");
  ErrorCapture errors;
  AFile f(u"\\temp\\a.pbf");
  EXPECT_FALSE(f.Open(GENERIC_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  ASSERT_EQ(errors.texts.size(), 1u);
  EXPECT_EQ(errors.texts[0], u"GENERIC_READ & !OPEN_EXISTING");
  EXPECT_EQ(dev.ReadFile(u"\\temp\\a.pbf"), "abc");

  ASSERT_TRUE(f.Open(GENERIC_READ, OPEN_EXISTING, 0));
  AFile second(u"\\temp\\a.pbf");
  EXPECT_TRUE(second.Open(GENERIC_READ, OPEN_EXISTING, 0));
  AFile writer(u"\\temp\\a.pbf");
  EXPECT_FALSE(writer.Open(GENERIC_WRITE, OPEN_EXISTING, 0));
  EXPECT_EQ(writer.GetError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Not an error of the run's report: the caller tells how it counts.
  EXPECT_EQ(errors.texts.size(), 1u);

  AFile missing(u"\\temp\\none.pbf");
  EXPECT_FALSE(missing.Open(GENERIC_READ, OPEN_EXISTING, 0));
  EXPECT_EQ(missing.GetError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(AFile, ReadOnlyFileIsReplacedOnCreateAlways) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\old.pbf", "old contents");
  ASSERT_TRUE(SetFileAttributesW(u"\\temp\\old.pbf", FILE_ATTRIBUTE_READONLY));
  AFile f(u"\\temp\\old.pbf");
  ASSERT_TRUE(f.Open(GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(f.Write("new", 3));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(dev.ReadFile(u"\\temp\\old.pbf"), "new");
  DWORD attrs = GetFileAttributesW(u"\\temp\\old.pbf");
  EXPECT_EQ(attrs & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(AFile, ReadPastTheEndIsRefusedBeforeReading) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\a.pbf", Bytes(100));
  AFile f(u"\\temp\\a.pbf");
  ASSERT_TRUE(f.Open(GENERIC_READ, OPEN_EXISTING, 0));
  ASSERT_TRUE(f.SetFilePointer(95, FILE_BEGIN));
  ErrorCapture errors;
  char buf[10] = {};
  EXPECT_FALSE(f.Read(buf, 10, nullptr));
  ASSERT_EQ(errors.texts.size(), 1u);
  EXPECT_EQ(errors.texts[0], u"(Read CheckPointer + count) > m_FileSize 100:95:10");
  DWORD pos = 0;
  ASSERT_TRUE(f.GetFilePointer(&pos));
  EXPECT_EQ(pos, 95u);  // nothing was read
  EXPECT_EQ(buf[0], 0);
  // A count near 4 GB does not wrap around the check.
  EXPECT_FALSE(f.Read(buf, 0xFFFFFFF0u, nullptr));
  EXPECT_FALSE(f.Read(buf, 0, nullptr));
  EXPECT_EQ(errors.texts.back(), u"Read count == 0");
}

// A file cut short after it was opened: the size check still passes, but
// fewer bytes arrive than the caller asked for without an out-count.
TEST(AFile, ShortReadWithoutOutCountFails) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\a.pbf", Bytes(100));
  AFile f(u"\\temp\\a.pbf");
  ASSERT_TRUE(f.Open(GENERIC_READ, OPEN_EXISTING, 0));
  std::filesystem::resize_file(dev.Host(u"\\temp\\a.pbf"), 95);
  ASSERT_TRUE(f.SetFilePointer(90, FILE_BEGIN));
  ErrorCapture errors;
  char buf[10] = {};
  EXPECT_FALSE(f.Read(buf, 10, nullptr));
  EXPECT_EQ(f.GetError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
  ASSERT_EQ(errors.texts.size(), 1u);
  EXPECT_EQ(errors.texts[0], u"Read BytesRead != count 5:10");
}

TEST(AFile, SeekBeyondTheSizeIsRefusedWhileReading) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\a.pbf", Bytes(100));
  AFile f(u"\\temp\\a.pbf");
  ASSERT_TRUE(f.Open(GENERIC_READ, OPEN_EXISTING, 0));
  ErrorCapture errors;
  EXPECT_TRUE(f.SetFilePointer(100, FILE_BEGIN));
  EXPECT_FALSE(f.SetFilePointer(101, FILE_BEGIN));
  EXPECT_EQ(errors.texts.back(), u"(position > (int)m_FileSize) \\temp\\a.pbf 101 100");
  EXPECT_FALSE(f.SetFilePointer(1, FILE_END));
  EXPECT_TRUE(f.SetFilePointer(-80, FILE_END));
  DWORD pos = 0;
  ASSERT_TRUE(f.GetFilePointer(&pos));
  EXPECT_EQ(pos, 20u);

  // A file opened for writing may move past its end.
  AFile w(u"\\temp\\b.pbf");
  ASSERT_TRUE(w.Open(GENERIC_WRITE, CREATE_ALWAYS, 0));
  EXPECT_TRUE(w.SetFilePointer(500, FILE_BEGIN));
}

TEST(AFile, DiskFullTextsDependOnTheVolume) {
  ce::Profile p;
  p.cards = {u"Storage Card"};
  p.capacities.push_back({u"\\Storage Card", 64});
  p.capacities.push_back({u"\\", 1 << 20});
  TestDevice dev(p);
  dev.MakeDir(u"\\temp");
  ErrorCapture errors;
  std::string data = Bytes(100);

  AFile card(u"\\Storage Card\\Backup.pbf");
  ASSERT_TRUE(card.Open(GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(card.Write(data.data(), 100));
  EXPECT_EQ(card.GetError(), static_cast<DWORD>(ERROR_DISK_FULL));
  ASSERT_FALSE(errors.texts.empty());
  EXPECT_EQ(errors.texts.back(), u"There is not enough space on the storage card");
  EXPECT_EQ(errors.codes.back(), static_cast<DWORD>(ERROR_DISK_FULL));

  AFile main(u"\\temp\\Backup.pbf");
  ASSERT_TRUE(main.Open(GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  std::string big(2 << 20, 'x');
  EXPECT_FALSE(main.Write(big.data(), static_cast<DWORD>(big.size())));
  EXPECT_EQ(errors.texts.back(), u"There is not enough space on the disk");

  EXPECT_FALSE(main.Write(data.data(), 0));
  EXPECT_EQ(errors.texts.back(), u"Write count == 0");
}

TEST(AFile, DeleteClearsAttributesAndReportsMissingFiles) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\ro.pbf", "x");
  ASSERT_TRUE(SetFileAttributesW(u"\\temp\\ro.pbf", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  AFile f(u"\\temp\\ro.pbf");
  ASSERT_TRUE(f.Open(GENERIC_READ, OPEN_EXISTING, 0));
  ASSERT_TRUE(f.Delete());
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(GetFileAttributesW(u"\\temp\\ro.pbf"), 0xFFFFFFFFu);

  ErrorCapture errors;
  EXPECT_FALSE(f.Delete());
  EXPECT_EQ(f.GetError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(errors.texts.empty());  // a missing file is not logged
}

TEST(AFileSystem, LocalAndRemoteFolders) {
  TestDevice dev;
  ALocalFileSystem local;
  EXPECT_TRUE(local.DirectoryExists(u""));
  EXPECT_FALSE(local.DirectoryExists(u"\\Backups"));
  EXPECT_TRUE(local.CreateDirectory(u"\\Backups"));
  EXPECT_TRUE(local.DirectoryExists(u"\\Backups"));
  EXPECT_FALSE(local.CreateDirectory(u"\\Backups"));
  EXPECT_FALSE(local.CreateDirectory(u"\\none\\deeper"));

  ARemoteFileSystem remote;
  EXPECT_TRUE(remote.DirectoryExists(u"\\nowhere"));
  EXPECT_TRUE(remote.CreateDirectory(u"\\nowhere\\deeper"));
}
