// Runs the device tool as a user would and checks what it prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CedevRun.h"

namespace {

using cedev_test::Result;
using cedev_test::RunCedev;

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

}  // namespace
