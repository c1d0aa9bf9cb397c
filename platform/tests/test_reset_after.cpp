// The run's call counter and its reset trap, with real device programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kProgram = u"\\Windows\\trapper.exe";

class ResetAfterTest : public ::testing::Test {
 protected:
  ResetAfterTest() {
    dev_.MakeDir(u"\\Windows\\StartUp");
    dev_.MakeDir(u"\\trap");
    fs::copy_file(CETRAP_TESTPROG, dev_.Host(kProgram), fs::copy_options::overwrite_existing);
    opt_.runTimeoutMs = 30000;
  }

  bool Run(const std::string& steps) {
    rep_ = ce::BootReport{};
    return ce::RunOnDevice(kProgram, ce::FromUtf8(steps), opt_, &rep_);
  }
  bool Reset(int64_t n, ce::CallKind kind, const std::string& steps) {
    opt_.resetAfter = ce::ResetAfter{n, kind};
    return Run(steps);
  }
  // The lines of "\trap\NAME"; -1 when there is no such file.
  int LineCount(const std::string& name) const {
    fs::path host = dev_.Host(u"\\trap\\" + ce::FromUtf8(name));
    if (!fs::exists(host)) return -1;
    std::ifstream f(host);
    int n = 0;
    for (std::string line; std::getline(f, line);) ++n;
    return n;
  }
  static bool HasValue(const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Trap", 0, 0, &key) != ERROR_SUCCESS) return false;
    const bool found = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
  }
  bool HasLine(const std::string& part) const { return rep_.HasLine(part); }
  std::string Lines() const { return rep_.Text(); }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(ResetAfterTest, CountsEveryKindOverAllProgramsOfTheRunAndOnlyCallsThatChangeSomething) {
  opt_.countCalls = true;
  // file: create + 3 writes, create + 2 writes in the child; reg: the new
  // key + 2 values; process: the child.
  ASSERT_TRUE(Run("file a 3 reg 2 spawn file+b+2")) << Lines();
  ASSERT_TRUE(rep_.calls) << Lines();
  EXPECT_EQ(rep_.calls->file, 7);
  EXPECT_EQ(rep_.calls->reg, 3);
  EXPECT_EQ(rep_.calls->process, 1);
  EXPECT_TRUE(HasLine("run: calls counted: 11 (file 7, reg 3, process 1)")) << Lines();
  EXPECT_FALSE(rep_.strike);

  // The key exists now: opening it changes nothing and does not count.
  ASSERT_TRUE(Run("reg 2")) << Lines();
  ASSERT_TRUE(rep_.calls);
  EXPECT_EQ(rep_.calls->reg, 2);
  EXPECT_EQ(rep_.calls->Total(), 2);
}

TEST_F(ResetAfterTest, StrikesRightAfterTheNthCallAndTheNextCallNeverRuns) {
  // Call 1 creates the file, calls 2..5 write its first four lines.
  ASSERT_TRUE(Reset(5, ce::CallKind::kAny, "file a 10 file b 1")) << Lines();
  EXPECT_EQ(LineCount("a"), 4) << "the struck write completes, the next one does not run";
  EXPECT_EQ(LineCount("b"), -1);
  EXPECT_EQ(rep_.resets, 1);
  EXPECT_EQ(rep_.boots, 1);
  ASSERT_TRUE(rep_.strike) << Lines();
  EXPECT_EQ(rep_.strike->n, 5);
  EXPECT_EQ(rep_.strike->call, "WriteFile");
  EXPECT_EQ(rep_.strike->callKind, ce::CallKind::kFile);
  EXPECT_EQ(rep_.strike->program, "\\Windows\\trapper.exe");
  EXPECT_TRUE(HasLine("reset-after: call 5 (any) was WriteFile, a file call, in pid")) << Lines();
  EXPECT_TRUE(HasLine("through the reset-after trap")) << Lines();
  std::ifstream debugLog(dev_.dir() / "debug.log");
  std::stringstream debug;
  debug << debugLog.rdbuf();
  EXPECT_NE(debug.str().find("reset-after: call 5 (any) was WriteFile"), std::string::npos) << debug.str();
  ASSERT_FALSE(rep_.started.empty());
  EXPECT_EQ(rep_.started.front().endedBy, "reset 1");
  ASSERT_TRUE(rep_.calls);
  EXPECT_EQ(rep_.calls->Total(), 5);
}

TEST_F(ResetAfterTest, AKindCountsOnlyItsOwnCalls) {
  // reg: the new key is 1, v1 2, v2 3.
  ASSERT_TRUE(Reset(3, ce::CallKind::kReg, "file a 2 reg 5 file b 2")) << Lines();
  ASSERT_TRUE(rep_.strike) << Lines();
  EXPECT_EQ(rep_.strike->call, "RegSetValueExW");
  EXPECT_EQ(rep_.strike->kind, ce::CallKind::kReg);
  EXPECT_EQ(LineCount("a"), 2);
  EXPECT_TRUE(HasValue(u"v2"));
  EXPECT_FALSE(HasValue(u"v3"));
  EXPECT_EQ(LineCount("b"), -1);
  EXPECT_TRUE(HasLine("reset-after: call 3 (reg) was RegSetValueExW, a reg call")) << Lines();
}

TEST_F(ResetAfterTest, AProgramStartedByTheStruckCallMakesNoCallOfItsOwn) {
  ASSERT_TRUE(Reset(2, ce::CallKind::kProcess, "spawn file+c+1 spawn file+d+1")) << Lines();
  ASSERT_TRUE(rep_.strike) << Lines();
  EXPECT_EQ(rep_.strike->call, "CreateProcessW");
  EXPECT_EQ(LineCount("c"), 1);
  EXPECT_EQ(LineCount("d"), -1) << "the second child ran after the strike";
}

TEST_F(ResetAfterTest, OtherProgramsStopAtTheStrikeToo) {
  // The child writes as fast as it can while its parent counts on: at the
  // strike at most the one call in flight elsewhere completes.
  constexpr int kStrike = 40;
  ASSERT_TRUE(Reset(kStrike, ce::CallKind::kAny, "after x file a 200")) << Lines();
  ASSERT_TRUE(rep_.strike) << Lines();
  // The process start, two creates and one call per line.
  const int done = 1 + 2 + LineCount("x") + LineCount("a");
  EXPECT_GE(done, kStrike);
  EXPECT_LE(done, kStrike + 1) << "a program went on after the strike: x " << LineCount("x") << ", a "
                               << LineCount("a");
  ASSERT_TRUE(rep_.calls);
  EXPECT_LE(rep_.calls->Total(), kStrike + 1);
}

TEST_F(ResetAfterTest, TheDeviceBootsAndItsProgramsGoOnCountingWithoutASecondReset) {
  dev_.PutFile(u"\\Windows\\StartUp\\after.lnk", "38#\\Windows\\trapper.exe file boot 2 reg 1");
  ASSERT_TRUE(Reset(2, ce::CallKind::kAny, "file a 3")) << Lines();
  EXPECT_EQ(rep_.resets, 1) << Lines();
  EXPECT_EQ(LineCount("a"), 1);
  EXPECT_EQ(LineCount("boot"), 2) << "the Startup folder's program after the reset\n" << Lines();
  EXPECT_TRUE(HasValue(u"v1"));
  ASSERT_TRUE(rep_.calls);
  // Two before the strike; after it the new file, two lines, a key and a value.
  EXPECT_EQ(rep_.calls->Total(), 2 + 5);
  EXPECT_TRUE(HasLine("run: the device is idle")) << Lines();
}

TEST_F(ResetAfterTest, ACountPastTheRunsEndDoesNotStrikeAndSaysSo) {
  ASSERT_TRUE(Reset(100, ce::CallKind::kFile, "file a 1 reg 1")) << Lines();
  EXPECT_EQ(rep_.resets, 0);
  EXPECT_FALSE(rep_.strike);
  EXPECT_EQ(LineCount("a"), 1);
  EXPECT_TRUE(HasLine("run: the reset after call 100 (file) did not strike: the run made 2 such calls")) << Lines();
  // The next run is not counted: the page is gone and with it the reset.
  opt_.resetAfter.reset();
  ASSERT_TRUE(Run("file a 5")) << Lines();
  EXPECT_FALSE(rep_.calls);
  EXPECT_FALSE(fs::exists(dev_.dir() / "call-trap.bin"));
}

TEST(CallKindText, ReadsTheFourKindsAndNothingElse) {
  ce::CallKind k = ce::CallKind::kAny;
  EXPECT_TRUE(ce::ParseCallKind("reg", &k));
  EXPECT_EQ(k, ce::CallKind::kReg);
  EXPECT_TRUE(ce::ParseCallKind("process", &k));
  EXPECT_EQ(k, ce::CallKind::kProcess);
  EXPECT_TRUE(ce::ParseCallKind("any", &k));
  EXPECT_EQ(k, ce::CallKind::kAny);
  EXPECT_FALSE(ce::ParseCallKind("files", &k));
  EXPECT_FALSE(ce::ParseCallKind("", &k));
}

}  // namespace
