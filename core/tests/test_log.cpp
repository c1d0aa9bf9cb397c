// The log writer and its front end over a scratch device. Failure exits run
// in a child process (this test program, re-started on one test).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <vector>

#include "ce/cstring.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/registry.h"
#include "ce/time.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

constexpr const char* kFooter = "===== Log End =====\r\n";

struct ReportEntry {
  int level;
  DWORD code;
  std::u16string text;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev.MakeDir(u"\\temp");
    SetLogReportSink([this](int level, DWORD code, const CString& text) {
      reports.push_back({level, code, text.str()});
    });
  }
  void TearDown() override {
    SetLog(nullptr);
    SetLogReportSink(nullptr);
  }
  std::string ReadLog() const { return dev.ReadFile(u"\\temp\\BackupLog.txt"); }
  // A log started and flushed as a fresh run; returns the file size then.
  size_t StartFreshLog(ALog& log, bool commit = false) {
    SetLog(&log);
    log.Open(commit);
    log.Flush(true);
    return ReadLog().size();
  }
  std::vector<ce::ScreenLogEntry> Boxes() const { return ce::ReadScreenLog(); }

  TestDevice dev;
  std::vector<ReportEntry> reports;
};

TEST_F(LogTest, LineFormat) {
  ALog log;
  size_t start = StartFreshLog(log);
  LogError(static_cast<DWORD>(-5), u"text", u"CBasicPage", 42);
  LogWarning(0, CString(u"careful"), u"AFile", 7);
  LogInfo(3, u"note", u"System", 1);
  Log(0, u"plain", u"CBasicPage", 100);
  Log(0, u"bare", nullptr, 5);
  LogInfo(0, u"caf\u00e9 \u20ac", u"C", 9);  // ANSI code page bytes
  EXPECT_EQ(ReadLog().substr(start),
            "E CBasicPage 42 : text -5\r\n"
            "W AFile 7 : careful\r\n"
            "I System 1 : note 3\r\n"
            "L CBasicPage 100 : plain\r\n"
            "L bare\r\n"
            "I C 9 : caf\xE9 \x80\r\n");
}

TEST_F(LogTest, LongEntryIsCutToTheLineBuffer) {
  ALog log;
  size_t start = StartFreshLog(log);
  LogError(7, std::u16string(1000, u'x').c_str(), u"C", 1);
  LogInfo(0, u"next", u"C", 2);
  std::string tail = ReadLog().substr(start);
  size_t firstEnd = tail.find("\r\n");
  ASSERT_NE(firstEnd, std::string::npos);
  EXPECT_EQ(firstEnd + 2, ALog::kLineBufferSize - 1);
  EXPECT_EQ(tail.substr(0, 12), "E C 1 : xxxx");
  EXPECT_EQ(tail.substr(firstEnd + 2), "I C 2 : next\r\n");
}

TEST_F(LogTest, FreshRunRotatesAndWritesBufferedHeader) {
  SYSTEMTIME tuesday = {2006, 3, 0, 7, 9, 5, 3, 0};
  ASSERT_TRUE(SetLocalTime(&tuesday));
  dev.PutFile(u"\\temp\\BackupLog.txt", "previous run\r\n");
  ALog log;
  SetLog(&log);
  log.Open(false);
  LogInfo(0, u"buffered", u"C", 1);
  EXPECT_EQ(ReadLog(), "previous run\r\n");  // nothing reaches the file yet
  log.Flush(true);
  LogInfo(0, u"after", u"C", 2);
  log.Close();

  EXPECT_EQ(dev.ReadFile(u"\\temp\\BackupLogOld.txt"), "previous run\r\n");
  std::string text = ReadLog();
  const std::string head =
      "===== Log End =====\r\n"
      "==== Log Start ====\r\n\r\n"
      "Tuesday 2006/3/7  09:05:0";
  ASSERT_EQ(text.substr(0, head.size()), head);
  EXPECT_TRUE(std::regex_search(
      text, std::regex("09:05:0\\d \r\n\r\nBackup Version not yet set\r\n\r\n")));
  EXPECT_NE(text.find("\r\n\r\nVersion Info:\r\n"), std::string::npos);
  EXPECT_NE(text.find("Run Path:\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\r\n\r\n"),
            std::string::npos);
  const std::string tail = "I C 1 : buffered\r\n\r\nI C 2 : after\r\n" + std::string(kFooter);
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(text.find("previous run"), std::string::npos);
}

TEST_F(LogTest, ResumedRunAppends) {
  dev.PutFile(u"\\temp\\BackupLog.txt", "earlier\r\n");
  ALog log;
  SetLog(&log);
  log.Open(false);
  log.Flush(false);
  LogWarning(0, u"resumed", u"C", 3);
  std::string text = ReadLog();
  EXPECT_TRUE(text.starts_with("earlier\r\n==== Log Start ====\r\n\r\n"));
  EXPECT_TRUE(text.ends_with("\r\n\r\nW C 3 : resumed\r\n"));
  EXPECT_FALSE(dev.ReadFile(u"\\temp\\BackupLogOld.txt").size() > 0);
  // Close once writes one footer; a second close has nothing to close.
  log.Close();
  log.Close();
  EXPECT_EQ(ReadLog(), text + kFooter);
}

TEST_F(LogTest, CommitModeClosesAfterEveryEntry) {
  ALog log;
  size_t start = StartFreshLog(log, true);
  EXPECT_TRUE(log.IsCommitMode());
  LogInfo(0, u"one", u"C", 1);
  EXPECT_FALSE(log.IsFileOpen());
  EXPECT_EQ(ReadLog().substr(start), "I C 1 : one\r\n");
  LogInfo(0, u"two", u"C", 2);
  EXPECT_FALSE(log.IsFileOpen());
  EXPECT_EQ(ReadLog().substr(start), "I C 1 : one\r\nI C 2 : two\r\n");

  ALog kept;
  SetLog(&kept);
  kept.Open(false);
  kept.Flush(false);
  LogInfo(0, u"three", u"C", 3);
  EXPECT_TRUE(kept.IsFileOpen());
}

TEST_F(LogTest, BeforeOpenOnlyBoxAndReport) {
  ALog log;
  SetLog(&log);
  size_t boxesBefore = Boxes().size();
  Log(0, u"hello there", u"CBasicPage", 1);
  LogError(5, u"early error", u"CBasicPage", 2);
  std::vector<ce::ScreenLogEntry> boxes = Boxes();
  ASSERT_EQ(boxes.size(), boxesBefore + 1);
  EXPECT_EQ(boxes.back().text, u"hello there");
  EXPECT_EQ(boxes.back().caption, u"Quilmo Backup - Logging not started");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, u"early error");

  // Logging never started: a flush creates no log file.
  log.Flush(true);
  EXPECT_EQ(GetFileAttributesW(u"\\temp\\BackupLog.txt"), INVALID_FILE_ATTRIBUTES);
  // Entries before Open are dropped, not buffered.
  log.Open(false);
  EXPECT_EQ(log.GetBuffer().find("early error"), std::string::npos);
}

TEST_F(LogTest, ReportSinkGetsErrorsWarningsAndInfoOnly) {
  ALog log;
  StartFreshLog(log);
  LogError(112, u"full", u"AFile", 1);
  LogWarning(0, u"warn", u"AFile", 2);
  LogInfo(4, u"info", u"AFile", 3);
  Log(9, u"ordinary", u"AFile", 4);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].level, 2);
  EXPECT_EQ(reports[0].code, 112u);
  EXPECT_EQ(reports[0].text, u"full");  // the raw text, without class and line
  EXPECT_EQ(reports[1].level, 1);
  EXPECT_EQ(reports[2].level, 0);
  EXPECT_EQ(reports[2].code, 4u);
}

TEST(LogFormat, FormatLogText) {
  EXPECT_EQ(FormatLogText(u"text", u"CBasicPage", 42), CString(u"CBasicPage 42 : text"));
  EXPECT_EQ(FormatLogText(u"text", u"C", -1), CString(u"C -1 : text"));
  EXPECT_EQ(FormatLogText(u"text", nullptr, 42), CString(u"text"));
  EXPECT_EQ(FormatLogText(u"text", u"", 42), CString(u"text"));
}

// Failure exits ---------------------------------------------------------------

// Runs the child in a fresh process on the current device; returns its exit
// code (-1 when it did not exit normally).
int RunFailureChild() {
  quilmo::test::ChildProcess child = quilmo::test::ChildProcess::RunTest("LogFailureChild.DISABLED_Run");
  EXPECT_TRUE(child.Started());
  return child.Wait().code;
}

// The child (run by RunFailureChild only): logs until the log file fails
// (or 2 MB were written).
TEST(LogFailureChild, DISABLED_Run) {
  if (!quilmo::test::IsChildRun()) GTEST_SKIP() << "runs only as a child";
  ALog log;
  SetLog(&log);
  log.Open(false);
  log.Flush(true);
  std::u16string line(100, u'y');
  for (int i = 0; i < 20000; ++i) LogInfo(0, line.c_str(), u"Child", i);
  log.Close();
}

class LogFailureTest : public ::testing::Test {
 protected:
  void SetLogFolder(LPCWSTR folder) {
    ABackupRegistrySettings config(ProductConfigKey);
    ASSERT_TRUE(config.WriteString(u"LogFilePath", folder));
  }
  // The failure boxes shown since the start of the test.
  std::vector<ce::ScreenLogEntry> FailureBoxes() const {
    std::vector<ce::ScreenLogEntry> found;
    for (const auto& box : ce::ReadScreenLog())
      if (box.text.starts_with(u"There was an error opening the log file")) found.push_back(box);
    return found;
  }
};

TEST_F(LogFailureTest, MissingLogFolderExitsWithStep1) {
  TestDevice dev;
  SetLogFolder(u"\\nowhere");
  EXPECT_EQ(RunFailureChild(), 1);
  auto boxes = FailureBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"There was an error opening the log file 1 3");
  EXPECT_EQ(boxes[0].style & 0xF0u, static_cast<UINT>(MB_ICONERROR));
}

TEST_F(LogFailureTest, FullObjectStoreExitsWithStep3Once) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  SetLogFolder(u"\\temp");
  // Room for 64 KB more than the device's files hold now.
  ULONGLONG used = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dev.dir() / "fs"))
    if (entry.is_regular_file()) used += entry.file_size();
  ce::Profile profile = dev.device()->GetProfile();
  profile.capacities.push_back({u"\\", used + 64 * 1024});
  ASSERT_TRUE(dev.device()->SaveProfile(profile));

  EXPECT_EQ(RunFailureChild(), 3);
  auto boxes = FailureBoxes();
  ASSERT_EQ(boxes.size(), 1u);  // the close after the failure reports nothing more
  EXPECT_EQ(boxes[0].text, u"There was an error opening the log file 3 112");
  EXPECT_GT(dev.ReadFile(u"\\temp\\BackupLog.txt").size(), 1000u);
}

TEST_F(LogFailureTest, FullStorageCardExitsWithStep6) {
  ce::Profile profile;
  profile.cards.push_back(u"Storage Card");
  profile.capacities.push_back({u"\\Storage Card", 8 * 1024});
  TestDevice dev(profile);
  dev.MakeDir(u"\\Storage Card");
  SetLogFolder(u"\\Storage Card");
  EXPECT_EQ(RunFailureChild(), 6);
  auto boxes = FailureBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"There was an error opening the log file 6 112");
  std::string text = dev.ReadFile(u"\\Storage Card\\BackupLog.txt");
  EXPECT_LE(text.size(), 8u * 1024);
  EXPECT_EQ(text.substr(0, 21), kFooter);
}

}  // namespace
