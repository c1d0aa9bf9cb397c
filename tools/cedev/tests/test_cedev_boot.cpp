// cedev install, boot, run and ps on a sample device.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Result {
  int code;
  std::string out;
};

std::string Cedev() { return std::string(QUILMO_BIN_DIR) + "/cedev "; }

Result Finish(FILE* p) {
  Result r{-1, {}};
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

Result RunCedev(const std::string& args) {
  FILE* p = popen((Cedev() + args + " 2>&1").c_str(), "r");
  return p ? Finish(p) : Result{-1, {}};
}

class CedevBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (fs::temp_directory_path() / "cedev-boot-XXXXXX").string();
    ASSERT_NE(mkdtemp(root_.data()), nullptr);
    dir_ = root_ + "/dev";
    ASSERT_EQ(RunCedev("create " + D()).code, 0);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string D() const { return "'" + dir_ + "'"; }
  // Puts the boot test program on the device under a name, with its verb.
  void PutProgram(const std::string& devicePath, const std::string& config) {
    ASSERT_EQ(RunCedev("put " + D() + " '" QUILMO_BIN_DIR "/ceboot_testprog' '" + devicePath + "'").code, 0);
    std::string host = dir_ + "/fs" + devicePath;
    for (auto& c : host)
      if (c == '\\') c = '/';
    fs::permissions(host, fs::perms::owner_exec, fs::perm_options::add);
    std::string cfg = root_ + "/boottest.cfg";
    FILE* f = fopen(cfg.c_str(), "w");
    fputs(config.c_str(), f);
    fclose(f);
    ASSERT_EQ(RunCedev("put " + D() + " '" + cfg + "' '\\boottest.cfg'").code, 0);
  }
  std::string root_, dir_;
};

TEST_F(CedevBootTest, InstallPlacesTheBuiltFilesAndSaysWhatIsNotBuilt) {
  Result r = RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("installed \\Windows\\QuilmoRes.dll"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("installed \\Windows\\closable.exe"), std::string::npos) << r.out;
  Result ls = RunCedev("ls " + D() + " '\\Windows\\closable.exe'");
  EXPECT_NE(ls.out.find("closable.exe"), std::string::npos) << ls.out;
  EXPECT_NE(RunCedev("install " + D() + " '" + root_ + "/nothing'").out.find("not built: QuilmoInit"),
            std::string::npos);
}

TEST_F(CedevBootTest, RunPerformsTheResetAndTheBootAfterIt) {
  PutProgram("\\Windows\\Resetter.exe", "Resetter.exe resetonce\n");
  Result r = RunCedev("run " + D() + " Resetter.exe hello world");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("reset 1: reset requested by pid"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("boot 1: Launch20 device.exe: resident"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Resetter.exe \"hello world\"  [run, boot 0]  exit 0xC0000005"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("boots: 1, resets: 1\n"), std::string::npos) << r.out;
}

TEST_F(CedevBootTest, BootStopsAtTheResetCap) {
  PutProgram("\\Windows\\Loop.exe", "Loop.exe resetalways\n");
  ASSERT_EQ(RunCedev("reg " + D() + " set 'HKLM\\init' Launch21 sz '\\Windows\\Loop.exe'").code, 0);
  Result r = RunCedev("boot --max-resets 1 " + D());
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("reset budget of 1 is spent"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\Windows\\Loop.exe \"21\"  [Launch21, boot 2]"), std::string::npos) << r.out;
}

TEST_F(CedevBootTest, PsShowsARunningProgramAndTheTimeLimitEndsIt) {
  ASSERT_EQ(RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'").code, 0);
  FILE* run = popen((Cedev() + "run --timeout 3 " + D() + " closable.exe 2>&1").c_str(), "r");
  ASSERT_NE(run, nullptr);
  Result ps{};
  for (int i = 0; i < 50; ++i) {
    usleep(100000);
    ps = RunCedev("ps " + D());
    if (ps.out.find("closable.exe") != std::string::npos) break;
  }
  EXPECT_NE(ps.out.find("\\Windows\\closable.exe \"\""), std::string::npos) << ps.out;
  EXPECT_NE(ps.out.find("NK.EXE"), std::string::npos) << ps.out;
  Result r = Finish(run);
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("time limit of 3000 ms reached; ending 1 process(es)"), std::string::npos) << r.out;
  EXPECT_EQ(RunCedev("ps " + D()).out.find("closable.exe"), std::string::npos);
  EXPECT_EQ(RunCedev("run " + D()).code, 2);
}

}  // namespace
