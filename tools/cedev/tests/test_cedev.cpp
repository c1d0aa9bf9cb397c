// Runs the device tool as a user would and checks what it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Result {
  int code;
  std::string out;
};

Result RunCedev(const std::string& args) {
  std::string cmd = std::string(QUILMO_BIN_DIR) + "/cedev " + args + " 2>&1";
  Result r{-1, {}};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class CedevTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string((std::filesystem::temp_directory_path() / "cedev-test-XXXXXX").string());
    ASSERT_NE(mkdtemp(dir_->data()), nullptr);
    *dir_ += "/dev";
    Result r = RunCedev("create " + *dir_);
    ASSERT_EQ(r.code, 0) << r.out;
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
  ASSERT_EQ(r.code, 0) << r.out;
  for (const char* name : {" Windows\n", " My Documents\n", " Program Files\n", " temp\n", " Storage Card\n"})
    EXPECT_NE(r.out.find(name), std::string::npos) << name << " missing in\n" << r.out;
  // The storage card shows as a temporary folder.
  EXPECT_NE(r.out.find("d-----t"), std::string::npos) << r.out;
}

TEST_F(CedevTest, RegistryHoldsTheBootVariables) {
  Result r = RunCedev("reg " + D() + " query 'HKLM\\init\\BootVars'");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("SystemHive    REG_SZ    Documents and Settings\\system.hv"), std::string::npos) << r.out;
  r = RunCedev("reg " + D() + " query 'HKLM\\init'");
  EXPECT_NE(r.out.find("Launch20    REG_SZ    device.exe"), std::string::npos) << r.out;
}

TEST_F(CedevTest, CatFindsFilesUnderAnyLetterCase) {
  std::string host = std::filesystem::path(*dir_).parent_path() / "in.txt";
  FILE* f = fopen(host.c_str(), "w");
  fputs("hello device\n", f);
  fclose(f);
  ASSERT_EQ(RunCedev("put " + D() + " '" + host + "' '\\My Documents\\Hello.txt'").code, 0);
  Result r = RunCedev("cat " + D() + " '\\MY DOCUMENTS\\hello.TXT'");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "hello device\n");
}

TEST_F(CedevTest, RegistrySetQueryDelete) {
  ASSERT_EQ(RunCedev("reg " + D() + " set 'HKCU\\Software\\Test' Count dword 0x2A").code, 0);
  ASSERT_EQ(RunCedev("reg " + D() + " set 'HKCU\\Software\\Test' Blob binary 'de ad be ef'").code, 0);
  Result r = RunCedev("reg " + D() + " query 'HKCU\\Software\\Test'");
  EXPECT_NE(r.out.find("Count    REG_DWORD    0x0000002a (42)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Blob    REG_BINARY    de ad be ef"), std::string::npos) << r.out;
  ASSERT_EQ(RunCedev("reg " + D() + " delete 'HKCU\\Software\\Test' Count").code, 0);
  ASSERT_EQ(RunCedev("reg " + D() + " delete 'HKCU\\Software\\Test'").code, 0);
  EXPECT_NE(RunCedev("reg " + D() + " query 'HKCU\\Software\\Test'").code, 0);
}

TEST_F(CedevTest, ClockAdvances) {
  Result r = RunCedev("clock " + D() + " set 2006-03-07T09:05:03");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.rfind("2006-03-07T09:05:0", 0), 0u) << r.out;
  r = RunCedev("clock " + D() + " advance 86400");
  EXPECT_EQ(r.out.rfind("2006-03-08T09:05:0", 0), 0u) << r.out;
}

TEST_F(CedevTest, BadInputGetsAMessageNotACrash) {
  const std::vector<std::string> cases = {std::string("ls /nonexistent/dir '\\'"), "ls " + D() + " '\\no\\such\\folder'", "reg " + D() + " query 'HKXX\\a'",
        "reg " + D() + " set 'HKLM\\a' v dword banana", "reg " + D() + " set 'HKLM\\a' v binary 'zz'",
        "clock " + D() + " set yesterday", "cat " + D() + " '\\..\\device.db'", "frobnicate " + D(), "create"};
  for (const std::string& args : cases) {
    Result r = RunCedev(args);
    EXPECT_NE(r.code, 0) << args;
    EXPECT_LT(r.code, 128) << args << " crashed:\n" << r.out;
    EXPECT_FALSE(r.out.empty()) << args;
  }
}

}  // namespace
