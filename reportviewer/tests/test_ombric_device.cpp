// Ombric as a device process: started the way the popup starts it (by
// bare name, the report in quotes) or without a name, it shows the report
// of the history folder; without a history folder it only says so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;

constexpr const char16_t* kOmbric = u"\\Windows\\Ombric.exe";
constexpr const char16_t* kHistory = u"\\Program Files\\Quilmo Backup\\Quilmo Backup History";

std::string Report(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t ch : text) {
    bytes.push_back(static_cast<char>(ch & 0xFF));
    bytes.push_back(static_cast<char>(ch >> 8));
  }
  return bytes;
}

class OmbricOnDeviceTest : public ::testing::Test {
 protected:
  OmbricOnDeviceTest() {
    const fs::path host = dev_.Host(kOmbric);
    fs::create_directories(host.parent_path());
    fs::copy_file(fs::path(QUILMO_BIN_DIR) / "Ombric", host, fs::copy_options::overwrite_existing);
    fs::permissions(host, fs::perms::owner_exec, fs::perm_options::add);
    opt_.runTimeoutMs = 60000;
  }
  void TearDown() override { unsetenv("QUILMO_UI_SCRIPT"); }
  void Script(const std::string& steps) {
    const fs::path file = dev_.dir() / "ombric.script";
    std::ofstream(file) << steps;
    setenv("QUILMO_UI_SCRIPT", file.c_str(), 1);
  }
  // Ombric's exit code (-1 when it did not end).
  long Run(std::u16string_view commandLine) {
    ce::BootReport rep;
    EXPECT_TRUE(ce::RunOnDevice(u"Ombric.exe", commandLine, opt_, &rep)) << GetLastError();
    for (const auto& p : rep.started)
      if (p.program == kOmbric && p.exitCode) return static_cast<long>(*p.exitCode);
    return -1;
  }
  static std::vector<std::string> Boxes() {
    std::vector<std::string> out;
    for (const auto& e : ce::ReadScreenLog())
      if (e.program == kOmbric) out.push_back(ce::ToUtf8(e.caption) + ": " + ce::ToUtf8(e.text));
    return out;
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
};

TEST_F(OmbricOnDeviceTest, ShowsTheQuotedReportOfTheHistoryFolder) {
  dev_.PutFile(std::u16string(kHistory) + u"\\BackupReport.txt", Report(u"Backup of 12/9/2026: done"));
  Script("dialog 102\nexpect-text 129 \"Backup of 12/9/2026: done\"\nclick 1\n");
  EXPECT_EQ(Run(u"\"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport.txt\""), 0);
  EXPECT_TRUE(Boxes().empty()) << ::testing::PrintToString(Boxes());
}

TEST_F(OmbricOnDeviceTest, WithoutANameItShowsBackupReportOfTheHistoryFolder) {
  dev_.PutFile(u"\\Windows\\Quilmo Backup History\\backupreport.txt", Report(u"newest"));
  Script("dialog 102\nexpect-text 129 newest\nclick 1\n");
  EXPECT_EQ(Run(u""), 0);
}

TEST_F(OmbricOnDeviceTest, WithoutAHistoryFolderItSaysSoAndEnds) {
  EXPECT_EQ(Run(u"BackupReport.txt"), 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Ombric: Couldn't find report file"});
}

}  // namespace
