#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

HANDLE Open(std::u16string_view path, DWORD access, DWORD share, DWORD disposition,
            DWORD attrs = FILE_ATTRIBUTE_NORMAL) {
  std::u16string p(path);
  return CreateFileW(p.c_str(), access, share, nullptr, disposition, attrs, nullptr);
}

bool Put(std::u16string_view path, const std::string& bytes, DWORD attrs = FILE_ATTRIBUTE_NORMAL) {
  HANDLE h = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS, attrs);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
  return CloseHandle(h) && ok;
}

std::string Get(std::u16string_view path) {
  HANDLE h = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
  std::string out(GetFileSize(h, nullptr), '\0');
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &n, nullptr));
  CloseHandle(h);
  return out.substr(0, n);
}

DWORD Attrs(std::u16string_view path) { return GetFileAttributesW(std::u16string(path).c_str()); }

// The names a pattern lists, in order; "error N" when FindFirstFile fails.
std::vector<std::u16string> List(std::u16string_view pattern) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(std::u16string(pattern).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return {u"error " + ce::FromUtf8(std::to_string(GetLastError()))};
  std::vector<std::u16string> names;
  do names.push_back(fd.cFileName);
  while (FindNextFileW(h, &fd));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  return names;
}

uint64_t Ticks(const FILETIME& f) { return (uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime; }

using Names = std::vector<std::u16string>;
constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareRW = FILE_SHARE_READ | FILE_SHARE_WRITE;

ce::Profile CardProfile() {
  ce::Profile p;
  p.cards = {u"Storage Card", u"SD Card"};
  return p;
}

}  // namespace

TEST(File, OpensIgnoringCaseAndReportsDispositions) {
  TestDevice dev;
  ASSERT_TRUE(CreateDirectoryW(u"\\My Documents", nullptr));
  HANDLE h = Open(u"\\My Documents\\Notes.TXT", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(Get(u"\\MY DOCUMENTS\\notes.txt"), "hello");
  EXPECT_EQ(List(u"\\my documents\\*"), Names{u"Notes.TXT"});

  EXPECT_EQ(Open(u"\\my documents\\NOTES.txt", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  h = Open(u"\\my documents\\notes.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  EXPECT_EQ(Open(u"\\My Documents\\none.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open(u"\\Nowhere\\x.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open(u"\\My Documents\\a<b.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(Open(u"\\My Documents", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // Overwriting keeps the stored case of the name.
  ASSERT_TRUE(Put(u"\\my documents\\NOTES.TXT", "x"));
  EXPECT_EQ(List(u"\\My Documents\\*"), Names{u"Notes.TXT"});
}

// Names are matched under the device's upper-casing whether or not they
// are plain ASCII: accented letters fold, and no accented letter stands in
// for a plain one.
TEST(File, MatchesNamesBeyondAsciiIgnoringCase) {
  TestDevice dev;
  ASSERT_TRUE(Put(u"\\Menu \u00e4\u0107.txt", "accented"));
  ASSERT_TRUE(Put(u"\\plain.txt", "plain"));
  EXPECT_EQ(Get(u"\\MENU \u00c4\u0106.TXT"), "accented");
  EXPECT_EQ(Get(u"\\PLAIN.TXT"), "plain");
  // A dotless i upper-cases to itself, never to "I".
  EXPECT_EQ(Open(u"\\pla\u0131n.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open(u"\\PLAIN.TX", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(List(u"\\*.txt"), (Names{u"Menu \u00e4\u0107.txt", u"plain.txt"}));
}

TEST(File, ReadWriteSeekAndTruncate) {
  TestDevice dev;
  HANDLE h = Open(u"\\data.bin", kRW, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
  EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_END), 6u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "6789");
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 10u);  // unchanged by the failed seek
  LONG high = 0;
  EXPECT_EQ(SetFilePointer(h, 3, &high, FILE_BEGIN), 3u);
  EXPECT_EQ(high, 0);
  ASSERT_TRUE(SetEndOfFile(h));
  DWORD sizeHigh = 7;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 3u);
  EXPECT_EQ(sizeHigh, 0u);
  // Writing past the end leaves a zero-filled gap.
  SetFilePointer(h, 5, nullptr, FILE_BEGIN);
  ASSERT_TRUE(WriteFile(h, "Z", 1, &n, nullptr));
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(Get(u"\\data.bin"), std::string("012\0\0Z", 6));

  h = Open(u"\\data.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetEndOfFile(h));
  CloseHandle(h);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  h = Open(u"\\data.bin", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
}

TEST(FileFind, FollowsTheDeviceListingRules) {
  TestDevice dev;
  ASSERT_TRUE(CreateDirectoryW(u"\\Docs", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"\\Docs\\Empty", nullptr));
  for (auto name : {u"README", u"b.txt", u"A.TXT", u"c.doc", u"Sub.dir.x"}) ASSERT_TRUE(Put(std::u16string(u"\\Docs\\") + name, "x"));

  EXPECT_EQ(List(u"\\Docs\\*.*"), (Names{u"A.TXT", u"b.txt", u"c.doc", u"Empty", u"README", u"Sub.dir.x"}));
  EXPECT_EQ(List(u"\\Docs\\*"), List(u"\\Docs\\*.*"));
  EXPECT_EQ(List(u"\\docs\\*.txt"), (Names{u"A.TXT", u"b.txt"}));
  EXPECT_EQ(List(u"\\Docs\\?.*"), (Names{u"A.TXT", u"b.txt", u"c.doc"}));
  EXPECT_EQ(List(u"\\Docs\\*."), (Names{u"Empty", u"README"}));
  EXPECT_EQ(List(u"\\Docs\\Empty\\*"), Names{u"error 18"});
  EXPECT_EQ(List(u"\\Docs\\*.zip"), Names{u"error 18"});
  EXPECT_EQ(List(u"\\Missing\\*.*"), Names{u"error 3"});
  // A plain path finds that entry in its stored case.
  EXPECT_EQ(List(u"\\DOCS\\readme"), Names{u"README"});
  EXPECT_EQ(List(u"\\docs"), Names{u"Docs"});
  EXPECT_EQ(List(u"\\Docs\\none.txt"), Names{u"error 2"});
  EXPECT_EQ(List(u"\\Missing\\none.txt"), Names{u"error 3"});
  EXPECT_EQ(List(u"\\"), Names{u"error 2"});
  EXPECT_EQ(List(u"\\*"), Names{u"Docs"});
}

TEST(FileFind, RecordHasTheDeviceLayout) {
  TestDevice dev;
  ASSERT_TRUE(Put(u"\\f.bin", std::string(300, 'x'), FILE_ATTRIBUTE_HIDDEN));
  HANDLE h = Open(u"\\f.bin", GENERIC_WRITE, 0, OPEN_EXISTING);
  FILETIME c{0x11111111, 0x01c00000}, a{0x22222222, 0x01c00001}, w{0x33333333, 0x01c00002};
  ASSERT_TRUE(SetFileTime(h, &c, &a, &w));
  CloseHandle(h);
  WIN32_FIND_DATAW fd;
  h = FindFirstFileW(u"\\f.bin", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  unsigned char raw[560];
  std::memcpy(raw, &fd, sizeof raw);
  auto u32 = [&](size_t off) {
    return static_cast<uint32_t>(raw[off] | raw[off + 1] << 8 | raw[off + 2] << 16 | raw[off + 3] << 24);
  };
  EXPECT_EQ(u32(0), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(u32(4), 0x11111111u);
  EXPECT_EQ(u32(8), 0x01c00000u);
  EXPECT_EQ(u32(12), 0x22222222u);
  EXPECT_EQ(u32(20), 0x33333333u);
  EXPECT_EQ(u32(24), 0x01c00002u);
  EXPECT_EQ(u32(28), 0u);
  EXPECT_EQ(u32(32), 300u);
  EXPECT_EQ(u32(36), fd.dwOID);
  EXPECT_EQ(raw[40], 'f');
  EXPECT_EQ(raw[41], 0);
  EXPECT_EQ(raw[42], '.');
  EXPECT_EQ(raw[52], 0);  // terminator after "f.bin"
}

TEST(FileAttributes, RoundTripAndDefaults) {
  TestDevice dev(CardProfile());
  ASSERT_TRUE(Put(u"\\new.txt", "x"));
  EXPECT_EQ(Attrs(u"\\NEW.TXT"), FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(SetFileAttributesW(u"\\new.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Attrs(u"\\new.txt"), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(SetFileAttributesW(u"\\new.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_INROM));
  EXPECT_EQ(Attrs(u"\\new.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  ASSERT_TRUE(Put(u"\\boot.copy", "x", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Attrs(u"\\boot.copy"), FILE_ATTRIBUTE_HIDDEN);
  // Entries the device never saw get the defaults.
  dev.PutFile(u"\\host.txt", "x");
  dev.MakeDir(u"\\HostDir");
  EXPECT_EQ(Attrs(u"\\host.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(Attrs(u"\\hostdir"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Attrs(u"\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Attrs(u"\\storage card"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
  dev.MakeDir(u"\\Network");
  EXPECT_EQ(Attrs(u"\\Network"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
  EXPECT_EQ(Attrs(u"\\missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Attrs(u"\\missing\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // Read-only files refuse writing and deleting until cleared.
  ASSERT_TRUE(SetFileAttributesW(u"\\new.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Open(u"\\new.txt", GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileW(u"\\new.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Get(u"\\new.txt"), "x");
  ASSERT_TRUE(SetFileAttributesW(u"\\new.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileW(u"\\new.txt"));
  EXPECT_FALSE(DeleteFileW(u"\\new.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A new file at the same path starts afresh.
  ASSERT_TRUE(Put(u"\\new.txt", "y"));
  EXPECT_EQ(Attrs(u"\\new.txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST(FileTimes, SurviveRoundTripsAndFollowWrites) {
  TestDevice dev;
  ASSERT_TRUE(Put(u"\\t.txt", "abc"));
  HANDLE h = Open(u"\\t.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
  FILETIME c{1234567, 0x01d00000}, a{7654321, 0x01d00001}, w{5555555, 0x01d00002};
  // Times set after writing stay as set when the handle closes.
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "more", 4, &n, nullptr));
  ASSERT_TRUE(SetFileTime(h, &c, &a, &w));
  ASSERT_TRUE(CloseHandle(h));
  h = Open(u"\\t.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  FILETIME c2{}, a2{}, w2{};
  ASSERT_TRUE(GetFileTime(h, &c2, &a2, &w2));
  char buf[8];
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  CloseHandle(h);
  EXPECT_EQ(Ticks(c2), Ticks(c));
  EXPECT_EQ(Ticks(a2), Ticks(a));
  EXPECT_EQ(Ticks(w2), Ticks(w));
  // Reading did not touch the last-access time.
  WIN32_FIND_DATAW fd;
  FindClose(FindFirstFileW(u"\\t.txt", &fd));
  EXPECT_EQ(fd.ftLastAccessTime.dwLowDateTime, a.dwLowDateTime);
  EXPECT_EQ(fd.ftLastWriteTime.dwHighDateTime, w.dwHighDateTime);
  // A later write moves the last-write time on; creation stays.
  h = Open(u"\\t.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_TRUE(WriteFile(h, "!", 1, &n, nullptr));
  ASSERT_TRUE(CloseHandle(h));
  FindClose(FindFirstFileW(u"\\t.txt", &fd));
  EXPECT_GT(fd.ftLastWriteTime.dwHighDateTime, w.dwHighDateTime);
  EXPECT_EQ(fd.ftCreationTime.dwLowDateTime, c.dwLowDateTime);
  // SetFileTime needs write access.
  h = Open(u"\\t.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_FALSE(SetFileTime(h, &c, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(h);
}

// The device has no current folder: a path without the root separator names
// the rooted entry, for opens, finds and folder calls alike.
TEST(File, PathWithoutRootSeparatorIsRooted) {
  TestDevice dev;
  dev.MakeDir(u"\\My Documents");
  ASSERT_TRUE(Put(u"My Documents\\rel.pbf", "image")) << GetLastError();
  EXPECT_EQ(Get(u"\\My Documents\\rel.pbf"), "image");
  EXPECT_EQ(List(u"My Documents\\*.pbf"), Names{u"rel.pbf"});
  EXPECT_EQ(List(u"my documents\\rel.pbf"), Names{u"rel.pbf"});
  ASSERT_TRUE(CreateDirectoryW(u"My Documents\\sub", nullptr));
  EXPECT_EQ(GetFileAttributesW(u"\\My Documents\\sub"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  // Still no way out of the device, and nothing is not a name.
  EXPECT_EQ(GetFileAttributesW(u"..\\device.db"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(GetFileAttributesW(u""), INVALID_FILE_ATTRIBUTES);
}
