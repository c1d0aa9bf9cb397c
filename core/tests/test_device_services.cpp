// Closing other programs (with the closable stand-in installed under the
// names the lists know), keeping the device awake and resetting it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/power.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/time.h"
#include "ce/window.h"
#include "core/DeviceServices.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "core/System.h"
#include "testkit/RunCommand.h"
#include "testkit/Closable.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ReturnsInChild;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using quilmo::test::TestDevice;

constexpr const char16_t* kProgramFolder = u"\\Program Files\\Quilmo Backup\\";

class DeviceServicesTest : public ::testing::Test {
 protected:
  explicit DeviceServicesTest(const ce::Profile& profile = ce::Profile{}) : dev_(profile) {}
  void SetUp() override {
    ce::SetOwnProgramForTest(ce::kDefaultProgramPath, u"");
    System::ResetPlatformVersionCode();
    dev_.MakeDir(u"\\temp");
    SetLog(&log_);
    log_.Open(false);
    log_.Flush(true);
  }
  void TearDown() override {
    for (auto& pi : started_) {
      TerminateProcess(pi.hProcess, 0);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
    SetLog(nullptr);
  }
  std::string LogText() const { return dev_.ReadFile(u"\\temp\\BackupLog.txt"); }
  bool Logged(const std::string& line) const { return LogText().find(line + "\r\n") != std::string::npos; }

  // Installs the stand-in as \Windows\<name>, starts it and waits for its
  // window (titled with the name) unless it has none.
  PROCESS_INFORMATION Start(const std::u16string& name, const std::u16string& args) {
    quilmo::test::InstallClosable(dev_, u"\\Windows\\" + name);
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW((u"\\Windows\\" + name).c_str(), args.c_str(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, nullptr, &pi))
        << GetLastError();
    started_.push_back(pi);
    if (args.find(u"nowindow") == std::u16string::npos) {
      auto end = Clock::now() + std::chrono::seconds(10);
      while (!FindWindowW(nullptr, name.c_str()) && Clock::now() < end) Sleep(5);
      EXPECT_TRUE(FindWindowW(nullptr, name.c_str())) << ce::ToUtf8(name);
    }
    return pi;
  }
  static DWORD ExitCode(HANDLE process) {
    if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
  }
  static bool Running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }
  void SetDelay(DWORD seconds) {
    ABackupRegistrySettings config(ProductConfigKey, u"");
    ASSERT_TRUE(config.WriteDWORD(u"KillProcessesDelay", seconds));
  }

  TestDevice dev_;
  ALog log_;
  std::vector<PROCESS_INFORMATION> started_;
};

TEST_F(DeviceServicesTest, KillProcessesClosesTerminatesAndSpares) {
  dev_.PutFile(u"\\Windows\\toolhelp.dll", "");
  dev_.PutFile(std::u16string(kProgramFolder) + u"UserProcessesToExclude.txt",
               "%Obeys.exe\r\nKept.exe\r\n");
  dev_.PutFile(std::u16string(kProgramFolder) + u"QuilmoProcessListOEM.ini", "% device maker\r\nOemKept.exe");
  SetDelay(1);
  auto obeys = Start(u"Obeys.exe", u"close");
  auto stubborn = Start(u"Stubborn.exe", u"ignore");
  auto pmsn = Start(u"PMSNServer.exe", u"close");
  auto windowless = Start(u"Quiet.exe", u"nowindow");
  auto merrow = Start(u"Merrow.exe", u"close");
  auto kept = Start(u"Kept.exe", u"close");
  auto oemKept = Start(u"OemKept.exe", u"close");

  auto t0 = Clock::now();
  ASSERT_TRUE(KillProcesses(kKillKeepSystemAndConnection, nullptr));
  auto took = Clock::now() - t0;

  EXPECT_EQ(ExitCode(obeys.hProcess), 0u);  // closed itself on WM_CLOSE
  EXPECT_EQ(ExitCode(stubborn.hProcess), 0xFFFFFFFFu);
  EXPECT_EQ(ExitCode(pmsn.hProcess), 0xFFFFFFFFu);
  EXPECT_EQ(ExitCode(windowless.hProcess), 0xFFFFFFFFu);
  EXPECT_TRUE(Running(merrow.hProcess));
  EXPECT_TRUE(Running(kept.hProcess));
  EXPECT_TRUE(Running(oemKept.hProcess));
  EXPECT_GE(took, std::chrono::milliseconds(900));  // the stubborn one had its second
  EXPECT_LT(took, std::chrono::seconds(8));

  EXPECT_TRUE(Logged("Killing processes"));
  EXPECT_TRUE(Logged("Reading user process exclude list"));
  EXPECT_TRUE(Logged("Process name added from custom process exclude file : Kept.exe"));
  EXPECT_TRUE(Logged("Process name added from custom process exclude file : OemKept.exe"));
  EXPECT_FALSE(Logged("Process name added from custom process exclude file : %Obeys.exe"));
  EXPECT_TRUE(Logged("Exclude list populated"));
  EXPECT_TRUE(Logged("Process in custom process exclude file, not killing : Kept.exe"));
  EXPECT_TRUE(Logged("Not killing Kept.exe"));
  EXPECT_TRUE(Logged("Not killing connmgr.exe"));  // a resident connection program
  EXPECT_FALSE(Logged("Not killing Merrow.exe"));  // never closed: passed over silently
  EXPECT_TRUE(Logged("Delaying killing of processes 1 secs"));
  EXPECT_TRUE(Logged("Sending WM_CLOSE for Obeys.exe"));
  EXPECT_TRUE(Logged("Sending WM_CLOSE for Stubborn.exe"));
  EXPECT_FALSE(Logged("Sending WM_CLOSE for PMSNServer.exe"));
  EXPECT_TRUE(Logged("Obeys.exe terminated"));
  EXPECT_TRUE(Logged("Terminating process Stubborn.exe"));
  EXPECT_TRUE(Logged("Terminating process PMSNServer.exe"));
  EXPECT_FALSE(Logged("Terminating process Obeys.exe"));
  EXPECT_TRUE(Logged("Stubborn.exe terminated"));
  EXPECT_TRUE(Logged("Killing processes complete"));
}

TEST_F(DeviceServicesTest, ModeZeroIgnoresTheCustomAndSystemLists) {
  dev_.PutFile(u"\\Windows\\toolhelp.dll", "");
  dev_.PutFile(std::u16string(kProgramFolder) + u"UserProcessesToExclude.txt", "Kept.exe\r\n");
  SetDelay(1);
  auto kept = Start(u"Kept.exe", u"close");
  ASSERT_TRUE(KillProcesses(kKillAllButNeverClosed, nullptr));
  EXPECT_EQ(ExitCode(kept.hProcess), 0u);
  // Resident system programs cannot be ended; that is logged and passed over.
  EXPECT_TRUE(Logged("Terminating process filesys.exe"));
  EXPECT_NE(LogText().find("Couldn't terminate process filesys.exe 5\r\n"), std::string::npos);
  EXPECT_FALSE(Logged("Terminating process NK.EXE"));
  EXPECT_TRUE(Logged("OEM process exclude list not found"));
}

TEST_F(DeviceServicesTest, WithoutToolhelpNothingIsClosed) {
  auto obeys = Start(u"Obeys.exe", u"close");
  ASSERT_TRUE(KillProcesses(kKillKeepSystemAndConnection, nullptr));
  EXPECT_TRUE(Running(obeys.hProcess));
  EXPECT_TRUE(Logged("Killing processes complete"));
  EXPECT_FALSE(Logged("Exclude list populated"));
}

TEST_F(DeviceServicesTest, ExcludeFileRules) {
  std::string text = "  First.exe \r\n%Comment.exe\nSecond.exe\n\n\xe9t\xe9.exe\r\n";
  for (int i = 0; i < 120; ++i) text += "Name" + std::to_string(i) + ".exe\r\n";
  dev_.PutFile(u"\\lists\\x.txt", text);
  CStringArray list;
  ASSERT_TRUE(ReadProcessExcludeFile(u"\\lists\\x.txt", list));
  ASSERT_GE(list.GetSize(), 4);
  EXPECT_EQ(list[0], CString(u"First.exe"));
  EXPECT_EQ(list[1], CString(u"Second.exe"));
  EXPECT_EQ(list[2], CString(u"\u00e9t\u00e9.exe"));  // the ANSI code page
  EXPECT_EQ(list.GetSize(), 3 + 95);                  // 100 lines read, 2 of them not names
  EXPECT_EQ(list[list.GetSize() - 1], CString(u"Name94.exe"));
  EXPECT_FALSE(ReadProcessExcludeFile(u"\\lists\\missing.txt", list));
}

TEST_F(DeviceServicesTest, KeepDeviceAwakeAtMostOnceASecond) {
  auto keys = [] { return ce::RecordedInputEvents().size(); };
  const quilmo::test::ScopedTickBase tick(5000);
  KeepDeviceAwake();  // the first call only notes the time
  const size_t base = keys();
  KeepDeviceAwake();
  EXPECT_EQ(keys(), base);
  tick.Set(6500);
  KeepDeviceAwake();
  auto events = ce::RecordedInputEvents();
  ASSERT_EQ(events.size(), base + 3);
  EXPECT_EQ(events[base].kind, "key");
  EXPECT_EQ(events[base].vk, 1);
  EXPECT_EQ(events[base].flags, KEYEVENTF_SILENT);
  EXPECT_EQ(events[base + 1].flags, KEYEVENTF_SILENT | KEYEVENTF_KEYUP);
  EXPECT_EQ(events[base + 2].kind, "idle");
  KeepDeviceAwake();
  EXPECT_EQ(keys(), base + 3);
  tick.Set(100);  // the counter wrapped
  KeepDeviceAwake();
  EXPECT_EQ(keys(), base + 6);
}

// RebootDevice ends every device process, so it runs in a forked child
// (this test program stays out of the device's process table until then).
class RebootTest : public DeviceServicesTest {
 protected:
  explicit RebootTest(const ce::Profile& profile = ce::Profile{}) : DeviceServicesTest(profile) {}
};

TEST_F(RebootTest, FlushesThenAsksTheShellOnVersion5) {
  fs::path flushed = dev_.dir() / "flushed";
  EXPECT_FALSE(ReturnsInChild([&] {
    SetDatabaseVolumeFlusher([&] { fs::create_directory(flushed); });
    RebootDevice(true, true, true);
  }));
  EXPECT_TRUE(fs::exists(flushed));
  auto resets = ce::PendingResets();
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_EQ(resets[0].how, EWX_REBOOT);
  std::string text = LogText();
  size_t a = text.find("About to flush local machine\r\n");
  size_t b = text.find("About to flush current user\r\n");
  size_t c = text.find("About to flush DB vols\r\n");
  size_t d = text.find("About to get windows version\r\n");
  size_t e = text.find("Reboot via EWX_REBOOT\r\n===== Log End =====\r\n");  // closed before the reset
  ASSERT_NE(e, std::string::npos) << text;
  EXPECT_TRUE(a < b && b < c && c < d && d < e) << text;
  EXPECT_EQ(text.find("failed"), std::string::npos);
}

TEST_F(RebootTest, WithoutRebootFlagTheKernelResetsAtOnce) {
  EXPECT_FALSE(ReturnsInChild([] { RebootDevice(false, false, false); }));
  auto resets = ce::PendingResets();
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_EQ(resets[0].how, IOCTL_HAL_REBOOT);
  EXPECT_TRUE(Logged("Reboot via IOCTL_HAL_REBOOT"));
  EXPECT_FALSE(Logged("About to get windows version"));
  EXPECT_EQ(LogText().find("About to flush"), std::string::npos);
}

ce::Profile PocketPc42() {
  ce::Profile p;
  p.versionMajor = 4;
  p.versionMinor = 20;
  return p;
}

class OlderRebootTest : public RebootTest {
 protected:
  OlderRebootTest() : RebootTest(PocketPc42()) {}
};

TEST_F(OlderRebootTest, BeforeVersion5TheResetPowerStateIsUsed) {
  EXPECT_FALSE(ReturnsInChild([] { RebootDevice(false, false, true); }));
  auto resets = ce::PendingResets();
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_EQ(resets[0].how, POWER_STATE_RESET);
  EXPECT_TRUE(Logged("Reboot via POWER_STATE_RESET"));
  EXPECT_FALSE(Logged("Reboot via EWX_REBOOT"));
}

}  // namespace
