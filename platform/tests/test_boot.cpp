// The boot sequence and the run loop, with real device programs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>

#include "ce/boot.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/process.h"
#include "ce/event.h"
#include "cesim/event.h"
#include "cesim/registry.h"
#include "testkit/TestDevice.h"
#include "EndInsideRead.h"

namespace fs = std::filesystem;

namespace {

using quilmo::test::EndInsideRead;

class BootTest : public ::testing::Test {
 protected:
  BootTest() {
    dev_.MakeDir(u"\\Windows\\StartUp");
    dev_.MakeDir(u"\\temp");
    opt_.signalTimeoutMs = 5000;
    opt_.runTimeoutMs = 30000;
  }

  // Installs the test program at a device path (stored case).
  void Install(std::u16string_view devicePath) {
    fs::path host = dev_.Host(devicePath);
    fs::create_directories(host.parent_path());
    fs::copy_file(CEBOOT_TESTPROG, host, fs::copy_options::overwrite_existing);
  }
  void Config(const std::string& text) { dev_.PutFile(u"\\boottest.cfg", text); }
  std::string Log() const {
    std::ifstream f(dev_.Host(u"\\boottest.log"));
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  static void SetLaunch(DWORD n, std::u16string_view program, std::initializer_list<WORD> waits = {}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, nullptr, 0, 0, nullptr, &key, nullptr), 0);
    std::u16string name = u"Launch" + ce::FromUtf8(std::to_string(n));
    std::u16string text(program);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
    if (waits.size()) {
      std::vector<BYTE> data;
      for (WORD w : waits) data.insert(data.end(), {static_cast<BYTE>(w & 0xFF), static_cast<BYTE>(w >> 8)});
      name = u"Depend" + ce::FromUtf8(std::to_string(n));
      RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
    }
    RegCloseKey(key);
  }
  static std::u16string ReadString(HKEY root, const char16_t* sub, const char16_t* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, sub, 0, 0, &key) != ERROR_SUCCESS) return u"<no key>";
    WCHAR buf[128] = {};
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::u16string(buf) : u"<no value>";
  }
  static void WriteString(HKEY root, const char16_t* sub, const char16_t* value, std::u16string_view text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, sub, 0, nullptr, 0, 0, nullptr, &key, nullptr), 0);
    std::u16string t(text);
    RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.c_str()),
                   static_cast<DWORD>((t.size() + 1) * 2));
    RegCloseKey(key);
  }
  bool HasLine(const std::string& part) const { return rep_.HasLine(part); }
  std::string Lines() const { return rep_.Text(); }
  static size_t Pos(const std::string& hay, const std::string& needle) { return hay.find(needle); }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(BootTest, LaunchListRunsInOrderWithDependsAndTheNumberAsCommandLine) {
  Install(u"\\Windows\\InitA.exe");
  Install(u"\\Windows\\InitB.exe");
  Install(u"\\Windows\\InitC.exe");
  Config("InitA.exe sleepsignal 300\n");
  SetLaunch(20, u"device.exe");
  SetLaunch(21, u"\\Windows\\InitA.exe", {20});
  SetLaunch(22, u"\\Windows\\InitB.exe", {21});
  SetLaunch(23, u"initc.exe");  // a bare name: the program search finds it
  SetLaunch(0, u"\\Windows\\InitC.exe");  // number 0 is ignored
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.boots, 1);
  EXPECT_EQ(rep_.resets, 0);
  EXPECT_TRUE(HasLine("Launch20 device.exe: resident")) << Lines();
  std::string log = Log();
  size_t aSignal = Pos(log, "INITA.EXE [21] signalled"), bStart = Pos(log, "INITB.EXE [22] start");
  ASSERT_NE(aSignal, std::string::npos) << log;
  ASSERT_NE(bStart, std::string::npos) << log;
  EXPECT_LT(aSignal, bStart) << "Launch22 started before Launch21 signalled:\n" << log;
  EXPECT_NE(Pos(log, "INITC.EXE [23] start"), std::string::npos) << log;
  EXPECT_EQ(Pos(log, "[0]"), std::string::npos) << log;
  EXPECT_EQ(ce::SignalledLaunches(), (std::vector<DWORD>{21, 22, 23}));
  ASSERT_EQ(rep_.started.size(), 3u);
  for (const auto& s : rep_.started) EXPECT_EQ(s.exitCode, std::optional<DWORD>(0)) << ce::ToUtf8(s.program);
}

TEST_F(BootTest, ResetDuringBootBootsAgainAndTheShellRunsOnlyAfterIt) {
  Install(u"\\Windows\\InitR.exe");
  Install(u"\\Windows\\StartMe.exe");
  Config("InitR.exe resetonce\n");
  SetLaunch(20, u"device.exe");
  SetLaunch(21, u"\\Windows\\InitR.exe", {20});
  SetLaunch(50, u"shell32.exe", {20, 21});
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Go.lnk", u"StartMe.exe once"));
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.resets, 1);
  EXPECT_EQ(rep_.boots, 2);
  std::string log = Log();
  size_t reset = Pos(log, "INITR.EXE [21] reset\n"), signalled = Pos(log, "INITR.EXE [21] signalled");
  ASSERT_NE(reset, std::string::npos) << log;
  EXPECT_LT(reset, signalled) << log;
  EXPECT_EQ(Pos(log, "reset returned"), std::string::npos) << "the reset call returned:\n" << log;
  // The Startup program ran once, in the second boot.
  size_t first = Pos(log, "STARTME.EXE [once] start");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_GT(first, signalled);
  EXPECT_EQ(log.find("STARTME.EXE [once] start", first + 1), std::string::npos) << log;
  EXPECT_TRUE(HasLine("reset 1: reset requested by pid")) << Lines();
  EXPECT_FALSE(HasLine("taken as done")) << Lines();
}

TEST_F(BootTest, ResetBudgetStopsAProgramThatResetsOnEveryBoot) {
  Install(u"\\Windows\\Loop.exe");
  Config("Loop.exe resetalways\n");
  SetLaunch(21, u"\\Windows\\Loop.exe");
  SetLaunch(22, u"services.exe", {21});
  opt_.maxResets = 2;
  EXPECT_FALSE(ce::BootDevice(opt_, &rep_));
  EXPECT_TRUE(rep_.resetBudgetSpent);
  EXPECT_EQ(rep_.resets, 2);
  EXPECT_EQ(rep_.boots, 3);
  EXPECT_TRUE(HasLine("reset budget of 2 is spent")) << Lines();
  EXPECT_TRUE(ce::ListDeviceProcesses().back().resident) << "a device process outlived the run";
}

TEST_F(BootTest, ShellEventsAreSetOnceTheShellIsUpAndABootStartsWithNoOtherEvents) {
  Install(u"\\Windows\\early.exe");
  Install(u"\\Windows\\StartUp\\late.exe");
  Config("early.exe events\nlate.exe events\n");
  SetLaunch(50, u"early.exe");
  Install(u"\\Windows\\after.exe");
  SetLaunch(60, u"after.exe", {50});  // the boot waits for early.exe's signal
  HANDLE stale = CreateEventW(nullptr, TRUE, TRUE, u"Test/BeforeBoot");
  ASSERT_NE(stale, nullptr);
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_NE(Log().find("EARLY.EXE [50] events missing missing"), std::string::npos) << Log();
  EXPECT_NE(Log().find("LATE.EXE [] events set set"), std::string::npos) << Log();

  // Held by the booted device, not by a process: a later program finds them.
  std::vector<ce::NamedEventInfo> events = ce::ListNamedEvents();
  ASSERT_EQ(events.size(), 2u);
  for (const auto& e : events) {
    EXPECT_TRUE(e.heldByBoot && e.manualReset && e.signalled) << ce::ToUtf8(e.name);
    EXPECT_NE(e.name, u"Test/BeforeBoot");
  }
  HANDLE shell = OpenEventW(SYNCHRONIZE, FALSE, kShellApiReadyEvent);
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(WaitForSingleObject(shell, 0), WAIT_OBJECT_0);
  CloseHandle(shell);
  EXPECT_EQ(ce::ListNamedEvents().size(), 2u);  // closing a handle does not end them
  CloseHandle(stale);
}

TEST_F(BootTest, StartupFolderRunsBareQuotedAndPlainPrograms) {
  Install(u"\\Windows\\StartMe.exe");
  Install(u"\\Program Files\\T\\Quoted App.exe");
  Install(u"\\Windows\\StartUp\\Plain.exe");
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Bare.lnk", u"StartMe.exe /x \"a b\""));
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Quoted.lnk", u"\"\\Program Files\\T\\Quoted App.exe\""));
  dev_.PutFile(u"\\Windows\\StartUp\\readme.txt", "not a program");
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Gone.lnk", u"Missing.exe"));
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  std::string log = Log();
  EXPECT_NE(Pos(log, "STARTME.EXE [/x \"a b\"] start"), std::string::npos) << log;
  EXPECT_NE(Pos(log, "QUOTED APP.EXE [] start"), std::string::npos) << log;
  EXPECT_NE(Pos(log, "PLAIN.EXE [] start"), std::string::npos) << log;
  EXPECT_TRUE(HasLine("readme.txt: neither a shortcut nor a program")) << Lines();
  EXPECT_TRUE(HasLine("Missing.exe could not be started: error 2 (the system cannot find the file specified)")) << Lines();
}

TEST_F(BootTest, PendingSystemHiveReplacementIsAppliedAtBoot) {
  WriteString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V", u"saved");
  ASSERT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, u"\\temp\\HKLM.img", nullptr), ERROR_SUCCESS);
  WriteString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V", u"current");
  // Wrong forms are refused.
  EXPECT_EQ(RegReplaceKeyW(HKEY_CURRENT_USER, nullptr, u"\\temp\\HKLM.img", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, u"Software", u"\\temp\\HKLM.img", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, u"\\temp\\none.img", nullptr), ERROR_FILE_NOT_FOUND);
  dev_.PutFile(u"\\temp\\junk.img", std::string(4096, 'x'));
  EXPECT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, u"\\temp\\junk.img", nullptr), ERROR_BADDB);

  ASSERT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, u"\\temp\\HKLM.img", nullptr), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V"), u"current");  // not before the boot
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V"), u"saved");
  EXPECT_TRUE(HasLine("the system hive was replaced by \\temp\\HKLM.img")) << Lines();
  EXPECT_TRUE(fs::exists(dev_.Host(u"\\temp\\HKLM.img")));

  // Applied once: a change after the boot survives the next boot.
  WriteString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V", u"later");
  rep_ = {};
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_));
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V"), u"later");
}

TEST_F(BootTest, UserHiveFileIsFreeOnlyWhileTheLaunchListRuns) {
  WriteString(HKEY_CURRENT_USER, u"Software\\T", u"V", u"saved");
  ASSERT_EQ(RegSaveKeyW(HKEY_CURRENT_USER, u"\\temp\\user.sav", nullptr), ERROR_SUCCESS);
  WriteString(HKEY_CURRENT_USER, u"Software\\T", u"V", u"current");
  const std::u16string live(ce::kUserHivePath);
  EXPECT_FALSE(CopyFileW(u"\\temp\\user.sav", live.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  Install(u"\\Windows\\InitH.exe");
  Install(u"\\Windows\\StartUp\\Late.exe");
  Config("InitH.exe copyhive \\temp\\user.sav\nLate.exe copyhive \\temp\\user.sav\n");
  SetLaunch(20, u"device.exe");
  SetLaunch(21, u"\\Windows\\InitH.exe", {20});
  SetLaunch(50, u"shell32.exe", {20, 21});
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  std::string log = Log();
  EXPECT_NE(Pos(log, "INITH.EXE [21] copied"), std::string::npos) << log;
  EXPECT_NE(Pos(log, "LATE.EXE [] copy failed 32"), std::string::npos) << log;
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Software\\T", u"V"), u"saved");

  // Held again once the run is over.
  EXPECT_FALSE(CopyFileW(u"\\temp\\user.sav", live.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(BootTest, ReplacementThatVanishedBeforeTheBootKeepsTheHive) {
  WriteString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V", u"kept");
  ASSERT_EQ(RegSaveKeyW(HKEY_LOCAL_MACHINE, u"\\temp\\HKLM.img", nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, u"\\temp\\HKLM.img", nullptr), ERROR_SUCCESS);
  // Overwritten by something that is no hive.
  dev_.PutFile(u"\\temp\\HKLM.img", std::string(8192, '\x5a'));
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(HasLine("is no hive: error 1009 (the configuration registry database is corrupt); the current hive stays")) << Lines();
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, u"Software\\T", u"V"), u"kept");
}

TEST_F(BootTest, DamagedOrMissingHiveGivesAClearLineNotACrash) {
  Install(u"\\Windows\\StartMe.exe");
  ASSERT_TRUE(SHCreateShortcut(u"\\Windows\\StartUp\\Go.lnk", u"StartMe.exe"));
  SetLaunch(20, u"device.exe");
  ce::RegCloseHives();
  dev_.PutFile(std::u16string(ce::kSystemHivePath), std::string(8192, '\x11'));
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(HasLine("the registry hive \\Documents and Settings\\system.hv cannot be read: error 1009 (the configuration registry database is corrupt); booting without it"))
      << Lines();
  EXPECT_TRUE(HasLine("HKLM\\init cannot be read: error 1009 (the configuration registry database is corrupt); no boot launch list")) << Lines();
  EXPECT_NE(Log().find("STARTME.EXE [] start"), std::string::npos) << "the shell still ran";

  ce::RegCloseHives();
  fs::remove(dev_.Host(ce::kSystemHivePath));
  rep_ = {};
  ASSERT_TRUE(ce::BootDevice(opt_, &rep_)) << Lines();
  EXPECT_TRUE(HasLine("HKLM\\init is missing: no boot launch list")) << Lines();
}

TEST_F(BootTest, SignalTimeLimitAndRunTimeLimitAreLogged) {
  Install(u"\\Windows\\Hang.exe");
  Install(u"\\Windows\\After.exe");
  Config("Hang.exe hang\n");
  SetLaunch(21, u"\\Windows\\Hang.exe");
  SetLaunch(22, u"\\Windows\\After.exe", {21});
  opt_.signalTimeoutMs = 300;
  opt_.runTimeoutMs = 1500;
  EXPECT_FALSE(ce::BootDevice(opt_, &rep_));
  EXPECT_TRUE(HasLine("Launch21 did not signal within 300 ms")) << Lines();
  EXPECT_NE(Log().find("AFTER.EXE [22] start"), std::string::npos);
  EXPECT_TRUE(rep_.timedOut);
  ASSERT_EQ(rep_.started.size(), 2u);
  EXPECT_EQ(rep_.started[0].exitCode, std::optional<DWORD>(CE_EXIT_ABNORMAL));
  EXPECT_EQ(rep_.started[0].endedBy, "the time limit");
  EXPECT_TRUE(HasLine("ending 1 process(es): pid " + std::to_string(rep_.started[0].pid) +
                      " \\Windows\\Hang.exe \"21\"")) << Lines();
  EXPECT_TRUE(ce::ListDeviceProcesses().back().resident);
}

TEST_F(BootTest, RunKeepsTheDeviceGoingThroughAResetUntilIdle) {
  Install(u"\\Windows\\Tool.exe");
  Install(u"\\Windows\\InitR.exe");
  Config("Tool.exe resetonce\nInitR.exe exit 9\n");
  SetLaunch(21, u"\\Windows\\InitR.exe");
  ASSERT_TRUE(ce::RunOnDevice(u"Tool.exe", u"go", opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.resets, 1);
  EXPECT_EQ(rep_.boots, 1);
  ASSERT_EQ(rep_.started.size(), 2u);
  EXPECT_EQ(rep_.started[0].origin, "run");
  EXPECT_EQ(rep_.started[0].exitCode, std::optional<DWORD>(CE_EXIT_ABNORMAL));
  EXPECT_EQ(rep_.started[0].endedBy, "reset 1");
  EXPECT_EQ(rep_.started[1].origin, "Launch21");
  EXPECT_EQ(rep_.started[1].exitCode, std::optional<DWORD>(9));
  EXPECT_EQ(rep_.started[1].endedBy, "");
  EXPECT_EQ(rep_.started[1].commandLine, u"21");

  rep_ = {};
  SetLastError(0);
  EXPECT_FALSE(ce::RunOnDevice(u"NoSuch.exe", u"", opt_, &rep_));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(BootTest, AProgramEndedByItsOwnResetRequestIsNotReportedAsCrashed) {
  Install(u"\\Windows\\Tool.exe");
  // A first run spends its budget of no resets and leaves the device off,
  // so the next run boots before it starts the program.
  Config("Tool.exe resetalways\n");
  opt_.maxResets = 0;
  EXPECT_FALSE(ce::RunOnDevice(u"Tool.exe", u"go", opt_, &rep_));
  ASSERT_TRUE(ce::DeviceIsDown()) << Lines();

  // The program requests its reset (and so ends) before the loop looks
  // for resets again.
  Config("Tool.exe resetonce\n");
  rep_ = {};
  opt_.maxResets = 3;
  opt_.onLine = [this](const std::string& line) {
    if (line.find("run: started Tool.exe") == std::string::npos) return;
    const int pid = static_cast<int>(rep_.started.back().pid);
    const uint64_t start = ce::HostProcessStartTime(pid);
    for (int i = 0; i < 1000 && start && ce::HostProcessAlive(pid, start); ++i) usleep(10000);
  };
  ASSERT_TRUE(ce::RunOnDevice(u"Tool.exe", u"go", opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.resets, 1);
  EXPECT_FALSE(HasLine("ended abnormally")) << Lines();
  EXPECT_TRUE(HasLine("Tool.exe ended: ended by reset 1")) << Lines();
}

TEST_F(BootTest, RunReportsProgramsThatDeviceProgramsStart) {
  Install(u"\\Windows\\Parent.exe");
  Install(u"\\Windows\\Child.exe");
  Config("Parent.exe spawn Child.exe\nChild.exe exit 4\n");
  ASSERT_TRUE(ce::RunOnDevice(u"Parent.exe", u"", opt_, &rep_)) << Lines();
  ASSERT_EQ(rep_.started.size(), 2u);
  EXPECT_EQ(rep_.started[0].origin, "run");
  EXPECT_EQ(rep_.started[1].program, u"\\Windows\\Child.exe");
  EXPECT_EQ(rep_.started[1].commandLine, u"child");
  EXPECT_EQ(rep_.started[1].origin, "started by pid " + std::to_string(rep_.started[0].pid));
  EXPECT_EQ(rep_.started[1].exitCode, std::optional<DWORD>(4));
}

TEST_F(BootTest, ProcessListHoldsWhatAProgramStartedJustBeforeItEnded) {
  Install(u"\\Windows\\Parent.exe");
  Install(u"\\Windows\\Child.exe");
  Config("Parent.exe gatedstart Child.exe\nChild.exe hang\n");
  EndInsideRead end(dev_.Host(u"\\boottest.gate").string(), 1);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(u"Parent.exe", u"", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi));
  EndInsideRead::Arm(static_cast<int>(pi.dwProcessId));
  std::vector<ce::DeviceProcess> list = ce::ListDeviceProcesses();
  EXPECT_TRUE(EndInsideRead::Struck());
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 5000), WAIT_OBJECT_0);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  bool child = false, parent = false;
  for (const ce::DeviceProcess& p : list) {
    child = child || p.exe == u"Child.exe";
    parent = parent || p.pid == pi.dwProcessId;
  }
  EXPECT_TRUE(child) << Log();
  EXPECT_FALSE(parent);
  ce::EndAllDeviceProcesses(false);
}

TEST_F(BootTest, RunWaitsForAProgramWhoseStarterEndsAtOnce) {
  Install(u"\\Windows\\Parent.exe");
  Install(u"\\Windows\\Child.exe");
  Config("Parent.exe gatedstart Child.exe\nChild.exe sleepsignal 300\n");
  const std::string gate = dev_.Host(u"\\boottest.gate").string();
  // Whichever look of the run the starter's end falls in.
  for (int nth = 1; nth <= 4; ++nth) {
    SCOPED_TRACE("the starter ends inside read " + std::to_string(nth));
    fs::remove(gate);
    fs::remove(dev_.Host(u"\\boottest.log"));
    rep_ = {};
    EndInsideRead end(gate, nth);
    opt_.onLine = [this](const std::string&) {
      if (!rep_.started.empty()) EndInsideRead::Arm(static_cast<int>(rep_.started[0].pid));
    };
    ASSERT_TRUE(ce::RunOnDevice(u"Parent.exe", u"", opt_, &rep_)) << Lines();
    EXPECT_TRUE(EndInsideRead::Struck());
    EXPECT_EQ(rep_.leftRunning, 0) << Lines();
    EXPECT_NE(Log().find("CHILD.EXE [child] signalled"), std::string::npos) << Log();
    ASSERT_EQ(rep_.started.size(), 2u) << Lines();
    EXPECT_EQ(rep_.started[1].exitCode, std::optional<DWORD>(0));
    ce::EndAllDeviceProcesses(false);
  }
}

TEST_F(BootTest, AProgramWhoseStarterIsEndedBeforeRecordingItEndsUnrun) {
  Install(u"\\Windows\\Parent.exe");
  Install(u"\\Windows\\Child.exe");
  Config("Parent.exe startkilled Child.exe\nChild.exe exit 4\n");
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(u"Parent.exe", u"", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi));
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  const std::string log = Log();
  const size_t at = log.find("child pid ");
  ASSERT_NE(at, std::string::npos) << log;
  const int child = std::atoi(log.c_str() + at + 10);
  // Nobody waits for the orphan but the host's reaper.
  const uint64_t start = ce::HostProcessStartTime(child);
  for (int i = 0; i < 1000 && start && ce::HostProcessAlive(child, start); ++i) usleep(10000);
  EXPECT_FALSE(start && ce::HostProcessAlive(child, start));
  EXPECT_EQ(Log().find("CHILD.EXE"), std::string::npos) << Log();
  EXPECT_EQ(Log().find("not killed"), std::string::npos) << Log();
  for (const ce::DeviceProcess& p : ce::ListDeviceProcesses()) EXPECT_NE(p.exe, u"Child.exe");
}

TEST_F(BootTest, OnlyOneProcessRunsADeviceAtATime) {
  int fd = open((dev_.dir() / "kernel.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(ce::BootDevice(opt_, &rep_));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(rep_.boots, 0);
  EXPECT_TRUE(HasLine("another process is running this device")) << Lines();
  close(fd);
  EXPECT_TRUE(ce::BootDevice(opt_, &rep_));
}

}  // namespace
