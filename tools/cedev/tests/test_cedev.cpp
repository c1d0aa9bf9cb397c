// Runs the device tool as a user would and checks what it prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "CedevRun.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "cesim/device.h"

namespace {

using cedev_test::Cedev;
using cedev_test::Result;
using cedev_test::RunCedev;
namespace fs = std::filesystem;

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

bool Has(const Result& r, const std::string& text) { return r.output.find(text) != std::string::npos; }

class CedevTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string((std::filesystem::temp_directory_path() / "cedev-test-XXXXXX").string());
    ASSERT_NE(mkdtemp(dir_->data()), nullptr);
    *dir_ += "/dev";
    Result r = RunCedev("create " + *dir_);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(*dir_).parent_path(), ec);
    delete dir_;
  }
  static std::string D() { return "'" + *dir_ + "'"; }
  static std::string* dir_;
};
std::string* CedevTest::dir_ = nullptr;

TEST_F(CedevTest, RootListingShowsTheDeviceFolders) {
  Result r = RunCedev("ls " + D() + " '\\'");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* name : {" Windows\n", " My Documents\n", " Program Files\n", " temp\n", " Storage Card\n"})
    EXPECT_NE(r.output.find(name), std::string::npos) << name << " missing in\n" << r.output;
  // The storage card shows as a temporary folder.
  EXPECT_NE(r.output.find("d-----t"), std::string::npos) << r.output;
}

TEST_F(CedevTest, RegistryHoldsTheBootVariables) {
  Result r = RunCedev("reg " + D() + " query 'HKLM\\init\\BootVars'");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("SystemHive    REG_SZ    Documents and Settings\\system.hv"), std::string::npos) << r.output;
  r = RunCedev("reg " + D() + " query 'HKLM\\init'");
  EXPECT_NE(r.output.find("Launch20    REG_SZ    device.exe"), std::string::npos) << r.output;
}

TEST_F(CedevTest, CatFindsFilesUnderAnyLetterCase) {
  std::string host = std::filesystem::path(*dir_).parent_path() / "in.txt";
  FILE* f = fopen(host.c_str(), "w");
  fputs("hello device\n", f);
  fclose(f);
  ASSERT_EQ(RunCedev("put " + D() + " '" + host + "' '\\My Documents\\Hello.txt'").status, 0);
  Result r = RunCedev("cat " + D() + " '\\MY DOCUMENTS\\hello.TXT'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "hello device\n");
}

TEST_F(CedevTest, RegistrySetQueryDelete) {
  ASSERT_EQ(RunCedev("reg " + D() + " set 'HKCU\\Software\\Test' Count dword 0x2A").status, 0);
  ASSERT_EQ(RunCedev("reg " + D() + " set 'HKCU\\Software\\Test' Blob binary 'de ad be ef'").status, 0);
  Result r = RunCedev("reg " + D() + " query 'HKCU\\Software\\Test'");
  EXPECT_NE(r.output.find("Count    REG_DWORD    0x0000002a (42)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Blob    REG_BINARY    de ad be ef"), std::string::npos) << r.output;
  ASSERT_EQ(RunCedev("reg " + D() + " delete 'HKCU\\Software\\Test' Count").status, 0);
  ASSERT_EQ(RunCedev("reg " + D() + " delete 'HKCU\\Software\\Test'").status, 0);
  EXPECT_NE(RunCedev("reg " + D() + " query 'HKCU\\Software\\Test'").status, 0);
}

TEST_F(CedevTest, ClockAdvances) {
  Result r = RunCedev("clock " + D() + " set 2006-03-07T09:05:03");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.rfind("2006-03-07T09:05:0", 0), 0u) << r.output;
  r = RunCedev("clock " + D() + " advance 86400");
  EXPECT_EQ(r.output.rfind("2006-03-08T09:05:0", 0), 0u) << r.output;
}

TEST_F(CedevTest, BadInputGetsAMessageNotACrash) {
  const std::vector<std::string> cases = {std::string("ls /nonexistent/dir '\\'"), "ls " + D() + " '\\no\\such\\folder'", "reg " + D() + " query 'HKXX\\a'",
        "reg " + D() + " set 'HKLM\\a' v dword banana", "reg " + D() + " set 'HKLM\\a' v binary 'zz'",
        "clock " + D() + " set yesterday", "cat " + D() + " '\\..\\device.db'", "frobnicate " + D(), "create"};
  for (const std::string& args : cases) {
    Result r = RunCedev(args);
    EXPECT_NE(r.status, 0) << args;
    EXPECT_LT(r.status, 128) << args << " crashed:\n" << r.output;
    EXPECT_FALSE(r.output.empty()) << args;
  }
}

TEST_F(CedevTest, ErrorsCarryTheirMeaning) {
  Result r = RunCedev("cat " + D() + " '\\My Documents\\no such file.txt'");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r, "error 2 (the system cannot find the file specified)")) << r.output;
  r = RunCedev("reg " + D() + " query 'HKLM\\no\\such\\key'");
  EXPECT_TRUE(Has(r, "error 2 (the system cannot find the file specified)")) << r.output;
  r = RunCedev("reg " + D() + " set 'HKCU\\Software\\T' " + std::string(300, 'n') + " sz x");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r, "error 87 (the parameter is incorrect)")) << r.output;
}

TEST_F(CedevTest, PutOfAHostFolderIsRefused) {
  const fs::path folder = fs::path(*dir_).parent_path() / "a folder";
  fs::create_directories(folder);
  Result r = RunCedev("put " + D() + " " + Q(folder) + " '\\temp\\folder.txt'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "is a folder")) << r.output;
  EXPECT_NE(RunCedev("ls " + D() + " '\\temp\\folder.txt'").status, 0);
}

TEST_F(CedevTest, CreateRefusesAnEmptyFolderName) {
  const fs::path cwd = fs::path(*dir_).parent_path() / "cwd";
  fs::create_directories(cwd);
  Result r = quilmo::test::RunCommand("cd " + Q(cwd) + " && " + Cedev() + "create ''");
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_LT(r.status, 128) << r.output;
  EXPECT_TRUE(fs::is_empty(cwd)) << "a device was laid out in the current folder";
}

TEST_F(CedevTest, ClockAdvanceRefusesWhatLeavesTheClocksYears) {
  ASSERT_EQ(RunCedev("clock " + D() + " set 2006-03-07T09:05:03").status, 0);
  for (const char* secs : {"1000000000000", "-20000000000", "9223372036854775807", "-9223372036854775807",
                           "99999999999999999999"}) {
    Result r = RunCedev("clock " + D() + " advance " + secs);
    EXPECT_EQ(r.status, 1) << secs << ": " << r.output;
  }
  // Clock set refuses years that do not fit either, without wrapping them.
  EXPECT_EQ(RunCedev("clock " + D() + " set 67137-01-01").status, 1);
  Result r = RunCedev("clock " + D() + " show");
  EXPECT_EQ(r.output.rfind("2006-03-07T09:0", 0), 0u) << r.output;
  r = RunCedev("clock " + D() + " advance -1000");
  EXPECT_EQ(r.output.rfind("2006-03-07T08:4", 0), 0u) << r.output;
}

TEST_F(CedevTest, BrokenDeviceNamesTheMissingOrDamagedPart) {
  const fs::path root = fs::path(*dir_).parent_path();
  auto fresh = [&](const std::string& name) {
    const fs::path d = root / name;
    std::string error;
    EXPECT_TRUE(ce::Device::Create(d, ce::Profile{}, &error)) << error;
    return d;
  };
  const fs::path noFs = fresh("nofs");
  fs::remove_all(noFs / "fs");
  const fs::path noProfile = fresh("noprofile");
  fs::remove(noProfile / "profile.txt");
  const fs::path badProfile = fresh("badprofile");
  std::ofstream(badProfile / "profile.txt", std::ios::app) << "screen_width = wide\n";
  const fs::path badDb = fresh("baddb");
  {
    std::ofstream db(badDb / "device.db", std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 65536; ++i) db.put(static_cast<char>((i * 7919) ^ (i >> 3)));
  }
  const struct {
    fs::path dir;
    const char* said;
  } cases[] = {{noFs, "missing fs/"},
               {noProfile, "missing profile.txt"},
               {badProfile, "bad number for screen_width"},
               {badDb, "device.db is damaged"},
               {root / "nothing here", "no device at"}};
  for (const auto& c : cases) {
    Result r = RunCedev("ls " + Q(c.dir) + " '\\'");
    EXPECT_EQ(r.status, 1) << c.dir;
    EXPECT_TRUE(Has(r, c.said)) << c.dir << ":\n" << r.output;
  }
}

TEST_F(CedevTest, DeviceFolderAtRestIsWholeInDeviceDb) {
  const fs::path root = fs::path(*dir_).parent_path();
  const fs::path d = root / "atrest";
  std::string error;
  ASSERT_TRUE(ce::Device::Create(d, ce::Profile{}, &error)) << error;
  ASSERT_EQ(RunCedev("clock " + Q(d) + " set 2011-05-06T07:08:09").status, 0);
  ASSERT_EQ(RunCedev("put " + Q(d) + " " + Q(d / "profile.txt") + " '\\kept.txt'").status, 0);
  std::error_code ec;
  EXPECT_FALSE(fs::exists(d / "device.db-wal", ec) && fs::file_size(d / "device.db-wal", ec) > 0)
      << "device.db keeps data in its write-ahead log";
  // A copy without the log has everything.
  const fs::path copy = root / "atrest-copy";
  fs::create_directories(copy);
  fs::copy(d / "fs", copy / "fs", fs::copy_options::recursive);
  fs::copy_file(d / "device.db", copy / "device.db");
  fs::copy_file(d / "profile.txt", copy / "profile.txt");
  Result r = RunCedev("clock " + Q(copy) + " show");
  EXPECT_EQ(r.output.rfind("2011-05-06T07:08:", 0), 0u) << r.output;
  r = RunCedev("ls " + Q(copy) + " '\\kept.txt'");
  EXPECT_TRUE(Has(r, "----a--")) << r.output;
}

// Calls fn with the device path of every entry below folder.
void Walk(const std::u16string& folder, const std::function<void(const std::u16string&, DWORD)>& fn) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + u"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  std::vector<std::pair<std::u16string, DWORD>> entries;
  do entries.emplace_back(folder + u"\\" + fd.cFileName, fd.dwFileAttributes);
  while (FindNextFileW(h, &fd));
  FindClose(h);
  for (const auto& [path, attributes] : entries) {
    fn(path, attributes);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) Walk(path, fn);
  }
}

TEST_F(CedevTest, SampleDeviceHoldsOnlyNamesItCanOpen) {
  ASSERT_NE(ce::Device::Use(*dir_), nullptr);
  int files = 0, dotted = 0;
  Walk(u"", [&](const std::u16string& path, DWORD attributes) {
    const char16_t last = path.back();
    EXPECT_TRUE(last != u'.' && last != u' ') << ce::ToUtf8(path) << ": a name the device cannot hold";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
    ++files;
    dotted += std::count(path.begin() + static_cast<long>(path.rfind(u'\\')), path.end(), u'.') > 2;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    // Files the system holds open refuse sharing, but they are there.
    EXPECT_TRUE(f != INVALID_HANDLE_VALUE || GetLastError() == ERROR_SHARING_VIOLATION)
        << ce::ToUtf8(path) << ": error " << GetLastError();
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  });
  EXPECT_GT(files, 300);
  EXPECT_GE(dotted, 2) << "the sample keeps names with several dots";
}

}  // namespace

TEST_F(CedevTest, ShareShowsAHostFolderBelowTheNetworkFolder) {
  const fs::path host = fs::path(*dir_).parent_path() / "desk share";
  fs::create_directories(host);
  std::ofstream(host / "Backup.pbf") << "image";
  Result r = RunCedev("share " + D() + " add Images " + Q(host));
  ASSERT_EQ(r.status, 0) << r.output;
  r = RunCedev("ls " + D() + " '\\Network'");
  EXPECT_TRUE(Has(r, "d-----t")) << r.output;
  EXPECT_TRUE(Has(r, " Images\n")) << r.output;
  EXPECT_EQ(RunCedev("cat " + D() + " '\\Network\\images\\backup.pbf'").output, "image");
  r = RunCedev("reg " + D() + " query 'HKCU\\Comm\\Redir\\Connections\\Images'");
  EXPECT_TRUE(Has(r, "RemoteName    REG_SZ    \\\\QUILMOHOST\\Images")) << r.output;
  r = RunCedev("share " + D() + " list");
  EXPECT_TRUE(Has(r, "Images\t" + host.string() + "\t\\\\QUILMOHOST\\Images\tconnected\n")) << r.output;

  EXPECT_NE(RunCedev("share " + D() + " add Images " + Q(host)).status, 0);
  EXPECT_NE(RunCedev("share " + D() + " add Other '/no/such/folder'").status, 0);
  ASSERT_EQ(RunCedev("share " + D() + " disconnect Images").status, 0);
  EXPECT_NE(RunCedev("cat " + D() + " '\\Network\\Images\\Backup.pbf'").status, 0);
  EXPECT_TRUE(Has(RunCedev("share " + D() + " list"), "\toffered\n"));
  ASSERT_EQ(RunCedev("share " + D() + " remove Images").status, 0);
  EXPECT_EQ(RunCedev("share " + D() + " list").output, "");
  EXPECT_TRUE(fs::exists(host / "Backup.pbf"));
}
