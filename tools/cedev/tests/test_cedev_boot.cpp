// cedev install, boot, run and ps on a sample device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "CedevRun.h"

namespace fs = std::filesystem;

namespace {

using cedev_test::Cedev;
using quilmo::test::FinishCommand;
using cedev_test::Result;
using cedev_test::RunCedev;

class CedevBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (fs::temp_directory_path() / "cedev-boot-XXXXXX").string();
    ASSERT_NE(mkdtemp(root_.data()), nullptr);
    dir_ = root_ + "/dev";
    ASSERT_EQ(RunCedev("create " + D()).status, 0);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string D() const { return "'" + dir_ + "'"; }
  // Puts the boot test program on the device under a name, with its verb.
  void PutProgram(const std::string& devicePath, const std::string& config) {
    ASSERT_EQ(RunCedev("put " + D() + " '" QUILMO_BIN_DIR "/ceboot_testprog' '" + devicePath + "'").status, 0);
    std::string host = dir_ + "/fs" + devicePath;
    for (auto& c : host)
      if (c == '\\') c = '/';
    fs::permissions(host, fs::perms::owner_exec, fs::perm_options::add);
    std::string cfg = root_ + "/boottest.cfg";
    FILE* f = fopen(cfg.c_str(), "w");
    fputs(config.c_str(), f);
    fclose(f);
    ASSERT_EQ(RunCedev("put " + D() + " '" + cfg + "' '\\boottest.cfg'").status, 0);
  }
  std::string root_, dir_;
};

TEST_F(CedevBootTest, InstallPlacesTheBuiltFilesAndSaysWhatIsNotBuilt) {
  Result r = RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("installed \\Windows\\QuilmoRes.dll"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("installed \\Windows\\closable.exe"), std::string::npos) << r.output;
  Result ls = RunCedev("ls " + D() + " '\\Windows\\closable.exe'");
  EXPECT_NE(ls.output.find("closable.exe"), std::string::npos) << ls.output;
  EXPECT_NE(RunCedev("install " + D() + " '" + root_ + "/nothing'").output.find("not built: QuilmoInit"),
            std::string::npos);
}

TEST_F(CedevBootTest, RunPerformsTheResetAndTheBootAfterIt) {
  PutProgram("\\Windows\\Resetter.exe", "Resetter.exe resetonce\n");
  Result r = RunCedev("run " + D() + " Resetter.exe hello world");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("reset 1: reset requested by pid"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("boot 1: Launch20 device.exe: resident"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Resetter.exe \"hello world\"  [run, boot 0]  exit 0xC0000005"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("boots: 1, resets: 1\n"), std::string::npos) << r.output;
}

TEST_F(CedevBootTest, BootStopsAtTheResetCap) {
  PutProgram("\\Windows\\Loop.exe", "Loop.exe resetalways\n");
  ASSERT_EQ(RunCedev("reg " + D() + " set 'HKLM\\init' Launch21 sz '\\Windows\\Loop.exe'").status, 0);
  Result r = RunCedev("boot --max-resets 1 " + D());
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("reset budget of 1 is spent"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\\Windows\\Loop.exe \"21\"  [Launch21, boot 2]"), std::string::npos) << r.output;
}

TEST_F(CedevBootTest, PsShowsARunningProgramAndTheTimeLimitEndsIt) {
  ASSERT_EQ(RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'").status, 0);
  FILE* run = popen((Cedev() + "run --timeout 3 " + D() + " closable.exe 2>&1").c_str(), "r");
  ASSERT_NE(run, nullptr);
  Result ps{};
  for (int i = 0; i < 50; ++i) {
    usleep(100000);
    ps = RunCedev("ps " + D());
    if (ps.output.find("closable.exe") != std::string::npos) break;
  }
  EXPECT_NE(ps.output.find("\\Windows\\closable.exe \"\""), std::string::npos) << ps.output;
  EXPECT_NE(ps.output.find("NK.EXE"), std::string::npos) << ps.output;
  Result r = FinishCommand(run);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("time limit of 3000 ms reached; ending 1 process(es)"), std::string::npos) << r.output;
  EXPECT_EQ(RunCedev("ps " + D()).output.find("closable.exe"), std::string::npos);
  EXPECT_EQ(RunCedev("run " + D()).status, 2);
}

TEST_F(CedevBootTest, QueuedCopyBackAndUserHiveAreAppliedByTheInstalledRunnerAtBoot) {
  Result inst = RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'");
  ASSERT_NE(inst.output.find("installed \\Windows\\QuilmoInit.exe"), std::string::npos) << inst.output;
  auto ok = [&](const std::string& args) {
    Result r = RunCedev(args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.output;
  };
  const std::string actions = "'HKLM\\Software\\Quilmo Software\\RebootActions";
  // A copy-back: the restored content waits beside the file it replaces.
  const std::string restored = root_ + "/restored.txt";
  FILE* f = fopen(restored.c_str(), "w");
  fputs("restored content", f);
  fclose(f);
  ok("put " + D() + " '" + restored + "' '\\temp\\restored.txtc'");
  ok("reg " + D() + " set " + actions + "\\CopyFile0' Operation dword 2");
  ok("reg " + D() + " set " + actions + "\\CopyFile0' ActualPath sz '\\temp\\restored.txt'");
  ok("reg " + D() + " set " + actions + "\\CopyFile0' BackupPath sz '\\temp\\restored.txtc'");
  ok("reg " + D() + " set " + actions + "\\CopyFile0' Attributes dword 0x20");
  // A user hive saved with the marker "restored"; the live one moves on.
  ok("reg " + D() + " set 'HKCU\\Software\\Marker' v sz restored");
  const std::string saved = root_ + "/user.sav";
  fs::copy_file(dir_ + "/fs/Documents and Settings/default/user.hv", saved);
  ok("reg " + D() + " set 'HKCU\\Software\\Marker' v sz current");
  ok("put " + D() + " '" + saved + "' '\\temp\\HKCU.img'");
  ok("reg " + D() + " set " + actions + "' HkcuPath sz '\\temp\\HKCU.img'");
  ok("reg " + D() + " set 'HKLM\\init' Launch21 sz '\\Windows\\QuilmoInit.exe'");
  ok("reg " + D() + " set 'HKLM\\init' Depend21 binary '14 00'");

  Result r = RunCedev("boot --timeout 60 " + D());
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("boot 1: Launch21: started \\Windows\\QuilmoInit.exe"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("reset 1: reset requested by pid"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("boots: 2, resets: 1\n"), std::string::npos) << r.output;

  EXPECT_EQ(RunCedev("cat " + D() + " '\\temp\\restored.txt'").output, "restored content");
  EXPECT_NE(RunCedev("ls " + D() + " '\\temp\\restored.txtc'").status, 0);
  EXPECT_NE(RunCedev("ls " + D() + " '\\temp\\HKCU.img'").status, 0);
  Result marker = RunCedev("reg " + D() + " query 'HKCU\\Software\\Marker'");
  EXPECT_NE(marker.output.find("v    REG_SZ    restored\n"), std::string::npos) << marker.output;
  Result init = RunCedev("reg " + D() + " query 'HKLM\\init'");
  EXPECT_EQ(init.output.find("Launch21"), std::string::npos) << init.output;
  EXPECT_EQ(init.output.find("Depend21"), std::string::npos) << init.output;
  EXPECT_NE(init.output.find("Launch20"), std::string::npos) << init.output;
  Result queue = RunCedev("reg " + D() + " query " + actions + "'");
  EXPECT_EQ(queue.output.find("CopyFile0"), std::string::npos) << queue.output;
  EXPECT_EQ(queue.output.find("HkcuPath"), std::string::npos) << queue.output;
  Result log = RunCedev("ls " + D() + " '\\QuilmoInitLog.txt'");
  EXPECT_EQ(log.status, 0) << log.output;
  EXPECT_EQ(RunCedev("cat " + D() + " '\\QuilmoInitLog.txt'").output, "");
}

}  // namespace
