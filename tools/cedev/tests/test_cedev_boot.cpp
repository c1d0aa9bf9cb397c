// cedev install, boot, run and ps on a sample device.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "CedevRun.h"
#include "ce/process.h"
#include "cesim/device.h"

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
  // Puts a shell script on the device as a program.
  void PutScript(const std::string& devicePath, const std::string& body) {
    const std::string host = root_ + "/script.sh";
    std::ofstream(host, std::ios::binary | std::ios::trunc) << "#!/bin/sh\n" << body;
    ASSERT_EQ(RunCedev("put " + D() + " '" + host + "' '" + devicePath + "'").status, 0);
  }
  bool PsShows(const std::string& name) { return RunCedev("ps " + D()).output.find(name) != std::string::npos; }
  std::string root_, dir_;
};

bool Has(const Result& r, const std::string& text) { return r.output.find(text) != std::string::npos; }

TEST_F(CedevBootTest, InstallPlacesTheStandInsAndInstallsTheProductsPackage) {
  Result r = RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r, "installed \\Windows\\closable.exe")) << r.output;
  EXPECT_TRUE(Has(r, "installed \\Windows\\pkginstall.exe")) << r.output;
  EXPECT_TRUE(Has(r, "pkginstall: copied QuilmoInit.exe to \\Windows\\QuilmoInit.exe")) << r.output;
  EXPECT_TRUE(Has(r, "install: done")) << r.output;
  Result ls = RunCedev("ls " + D() + " '\\Windows'");
  EXPECT_TRUE(Has(ls, "closable.exe")) << ls.output;
  EXPECT_TRUE(Has(ls, " QuilmoRes.dll\n")) << ls.output;  // chosen at install from its candidates
  // The security agent's library comes only on a device whose profile asks for it.
  EXPECT_FALSE(Has(r, "CMGLib")) << r.output;
  std::ofstream(dir_ + "/profile.txt", std::ios::app) << "credant_library = on\ncredant_request_2 = 0 reply 500\n";
  Result agent = RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'");
  EXPECT_TRUE(Has(agent, "installed \\Windows\\CMGLib.dll")) << agent.output;
  Result nothing = RunCedev("install " + D() + " '" + root_ + "/nothing'");
  EXPECT_EQ(nothing.status, 1);
  EXPECT_TRUE(Has(nothing, "not built: closable")) << nothing.output;
  EXPECT_TRUE(Has(nothing, "no package at")) << nothing.output;
}

TEST_F(CedevBootTest, RunPerformsTheResetAndTheBootAfterIt) {
  PutProgram("\\Windows\\Resetter.exe", "Resetter.exe resetonce\n");
  Result r = RunCedev("run " + D() + " Resetter.exe 'hello world'");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("reset 1: reset requested by pid"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("boot 1: Launch20 device.exe: resident"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Resetter.exe \"hello world\"  [run, boot 0]  ended by reset 1"), std::string::npos) << r.output;
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
  EXPECT_NE(r.output.find("time limit of 3000 ms reached; ending 1 process(es): pid "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\\Windows\\closable.exe \"\"  [run, boot 0]  ended by the time limit\n"), std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("0xC0000005"), std::string::npos) << r.output;
  EXPECT_EQ(RunCedev("ps " + D()).output.find("closable.exe"), std::string::npos);
  EXPECT_EQ(RunCedev("run " + D()).status, 2);
}

TEST_F(CedevBootTest, QueuedCopyBackAndUserHiveAreAppliedByTheInstalledRunnerAtBoot) {
  Result inst = RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'");
  ASSERT_NE(inst.output.find("copied QuilmoInit.exe to \\Windows\\QuilmoInit.exe"), std::string::npos) << inst.output;
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
  EXPECT_EQ(RunCedev("cat " + D() + " '\\QuilmoInitLog.txt'").output,
            "Copied \\temp\\restored.txtc to \\temp\\restored.txt\r\n");
}

TEST_F(CedevBootTest, RunTakesTheCommandLineAsOneArgumentAsItStands) {
  PutScript("\\Windows\\Echo.exe", "printf '%s' \"$QUILMO_CMDLINE\" > \"$QUILMO_DEVICE/cmdline.txt\"\n");
  Result r = RunCedev("run " + D() + " Echo.exe 'LocalBackup \"\\Storage Card\\x.pbf\"'");
  ASSERT_EQ(r.status, 0) << r.output;
  std::ifstream in(dir_ + "/cmdline.txt");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "LocalBackup \"\\Storage Card\\x.pbf\"");
  // Words split by the shell are refused, with the quoting to use.
  r = RunCedev("run " + D() + " Echo.exe LocalBackup '\\Storage Card\\x.pbf'");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_TRUE(Has(r, "one argument")) << r.output;
  EXPECT_TRUE(Has(r, "'LocalBackup \"\\Storage Card\\x.pbf\"'")) << r.output;
}

TEST_F(CedevBootTest, RunFailsWhenItsProgramFails) {
  PutScript("\\Windows\\Fail.exe", "exit 3\n");
  Result r = RunCedev("run " + D() + " Fail.exe");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "\\Windows\\Fail.exe failed (exit 3)")) << r.output;
  PutScript("\\Windows\\Fine.exe", "exit 0\n");
  EXPECT_EQ(RunCedev("run " + D() + " Fine.exe").status, 0);
}

TEST_F(CedevBootTest, UiScriptRunFailsWithItsStepAndItsBoxesAreInTheScreenLog) {
  ASSERT_EQ(RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'").status, 0);
  ASSERT_EQ(RunCedev("clock " + D() + " set 2007-08-09T10:11:12").status, 0);
  // Without the starter the program refuses to start with string 65298;
  // the dialog the script then waits for never comes.
  std::filesystem::remove(dir_ + "/fs/Windows/QuilmoStart.exe");
  std::filesystem::remove(dir_ + "/fs/Program Files/Quilmo Backup/QuilmoStart.exe");
  const std::string script = root_ + "/steps.txt";
  std::ofstream(script) << "box 65298 ok\ndialog 231\n";
  Result r = RunCedev("run --ui-script '" + script + "' --timeout 60 " + D() +
                      " '\\Program Files\\Quilmo Backup\\Quilmo Backup.exe'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "Quilmo Backup.exe failed (exit 3)")) << r.output;
  Result log = RunCedev("screenlog " + D());
  EXPECT_EQ(log.status, 0);
  EXPECT_TRUE(Has(log, "2007-08-09 10:11:")) << log.output;
  EXPECT_TRUE(Has(log, "\\Program Files\\Quilmo Backup\\Quilmo Backup.exe: [")) << log.output;
  EXPECT_TRUE(Has(log, "answer 1)")) << log.output;
}

TEST_F(CedevBootTest, AScopedUiScriptDrivesItsProgramAndTheRunFailsOnSectionsLeftUnused) {
  ASSERT_EQ(RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'").status, 0);
  std::filesystem::remove(dir_ + "/fs/Windows/QuilmoStart.exe");
  std::filesystem::remove(dir_ + "/fs/Program Files/Quilmo Backup/QuilmoStart.exe");
  const std::string script = root_ + "/scoped.txt";
  // The main program's section is used by its one start; nothing else
  // reads the script.
  std::ofstream(script) << "program \"Quilmo Backup.exe\"\nbox 65298 ok\n";
  Result r = RunCedev("run --ui-script '" + script + "' --timeout 60 " + D() +
                      " '\\Program Files\\Quilmo Backup\\Quilmo Backup.exe'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(Has(r, "ui script:")) << r.output;
  // A section whose program never starts fails the run and is named.
  std::ofstream(script) << "program \"Quilmo Backup.exe\"\nbox 65298 ok\nprogram Halvey.exe\nbubble 124\n";
  r = RunCedev("run --ui-script '" + script + "' --timeout 60 " + D() +
               " '\\Program Files\\Quilmo Backup\\Quilmo Backup.exe'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, "ui script: program Halvey.exe (line 3): line 4: step not reached (1 step(s) left)")) << r.output;
  EXPECT_FALSE(Has(r, "Quilmo Backup.exe (line 1)")) << r.output;
}

TEST_F(CedevBootTest, ProgramsOfAKilledRunAreEndedByTheNextOne) {
  ASSERT_EQ(RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'").status, 0);
  const pid_t run = fork();
  if (run == 0) {
    freopen("/dev/null", "w", stdout);
    execl(QUILMO_BIN_DIR "/cedev", "cedev", "run", "--timeout", "60", dir_.c_str(), "closable.exe", nullptr);
    _exit(127);
  }
  ASSERT_GT(run, 0);
  for (int i = 0; i < 100 && !PsShows("closable.exe"); ++i) usleep(100000);
  ASSERT_TRUE(PsShows("closable.exe"));
  kill(run, SIGKILL);
  waitpid(run, nullptr, 0);

  PutScript("\\Windows\\Quick.exe", "exit 0\n");
  const auto start = std::chrono::steady_clock::now();
  Result r = RunCedev("run --timeout 30 " + D() + " Quick.exe");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << r.output;
  EXPECT_TRUE(Has(r, "\\Windows\\closable.exe \"\" was left running by a run or boot that was killed (host pid " +
                     std::to_string(run) + "): ended"))
      << r.output;
  EXPECT_FALSE(PsShows("closable.exe"));
}

TEST_F(CedevBootTest, RunNamesAProgramFromBeforeThatItWaitsFor) {
  ASSERT_EQ(RunCedev("install " + D() + " '" QUILMO_BIN_DIR "'").status, 0);
  // Started from the host side, outside any run, by a starter that has
  // ended since (this process must not become a device process: the run's
  // time limit ends them all).
  const std::string dir = dir_;
  ASSERT_TRUE(quilmo::test::ReturnsInChild([dir] {
    PROCESS_INFORMATION pi{};
    if (!ce::Device::Use(dir) ||
        !CreateProcessW(u"closable.exe", u"", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
      _exit(1);
  }));
  ASSERT_TRUE(PsShows("closable.exe"));
  PutScript("\\Windows\\Quick.exe", "exit 0\n");
  Result r = RunCedev("run --timeout 2 " + D() + " Quick.exe");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r, " \\Windows\\closable.exe \"\" was running before this run; the run waits for it to end"))
      << r.output;
  EXPECT_TRUE(Has(r, "ending 1 process(es): pid ")) << r.output;
  EXPECT_FALSE(PsShows("closable.exe"));
}

}  // namespace
