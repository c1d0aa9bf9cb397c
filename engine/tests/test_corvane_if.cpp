// The personal-data programs' interface: the start-at-boot setting and its
// fall-backs, Lissent started through the starter, both programs stopped
// by their quit messages, and the restore's Corvane seam over it. A
// closable window program stands in for Corvane and Lissent, the recorder
// for the starter.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/time.h"
#include "ce/window.h"
#include "core/RegistrySettings.h"
#include "engine/CorvaneIF.h"
#include "engine/Global.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

fs::path BinFile(const char* name) { return fs::path(QUILMO_BIN_DIR) / name; }

constexpr const WCHAR* kProgram = u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";

class CorvaneTest : public ::testing::Test {
 protected:
  CorvaneTest()
      : program_(kProgram), boxes_([this](const ce::MessageBoxRequest& r) {
          boxes.push_back(r);
          return IDOK;
        }) {
    global_.g_Log.Open(false);
    dev_.MakeDir(u"\\Windows");
    quilmo::test::LoadBuiltResourceLibrary();
  }
  ~CorvaneTest() override {
    UnloadResourceLibraries(true);
    for (HANDLE p : started_) {
      TerminateProcess(p, 0);
      CloseHandle(p);
    }
  }

  void Install(const char* binName, std::u16string_view devicePath) {
    const fs::path to = dev_.Host(devicePath);
    fs::create_directories(to.parent_path());
    fs::copy_file(BinFile(binName), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_exec, fs::perm_options::add);
  }
  // Starts a closable window program that quits on both messages.
  HANDLE StartAgent(std::u16string_view devicePath) {
    Install("closable", devicePath);
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW(std::u16string(devicePath).c_str(),
                               u"quit-on=QuilmoCorvaneQuit quit-on=QuilmoLissentQuit", nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, nullptr, &pi));
    CloseHandle(pi.hThread);
    started_.push_back(pi.hProcess);
    // Running once its window is up.
    for (int i = 0; i < 500 && !FindWindowW(nullptr, WindowTitle(devicePath).c_str()); ++i) Sleep(10);
    return pi.hProcess;
  }
  static std::u16string WindowTitle(std::u16string_view devicePath) {
    return std::u16string(devicePath.substr(devicePath.rfind(u'\\') + 1));
  }
  // The exit code once the process ended within a few seconds, else -1.
  static long ExitOf(HANDLE process) {
    if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) ? static_cast<long>(code) : -1;
  }
  // The recorder's log once it has been written (the starter's stand-in).
  std::string StarterRecord() const {
    for (int i = 0; i < 500; ++i) {
      const std::string text = dev_.ReadFile(u"\\Recorder.log");
      if (!text.empty()) return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
  }
  static void WriteLissent(LPCWSTR name, DWORD value) {
    ABackupRegistrySettings s(kSettingsKeyKind, ACorvaneIF::kSubkey);
    ASSERT_TRUE(s.WriteDWORD(name, value));
  }
  static void WriteLissent(LPCWSTR name, LPCWSTR text) {
    ABackupRegistrySettings s(kSettingsKeyKind, ACorvaneIF::kSubkey);
    ASSERT_TRUE(s.WriteString(name, text));
  }
  static bool ReadOnStartup(DWORD& value) {
    ABackupRegistrySettings s(kSettingsKeyKind, ACorvaneIF::kSubkey);
    return s.ReadDWORD(ACorvaneIF::kOnStartupValue, value);
  }
  std::string LogText() const { return global_.g_Log.GetBuffer(); }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  quilmo::test::TestDevice dev_;
  quilmo::test::ScopedOwnProgram program_;
  quilmo::test::ScopedMessageBoxService boxes_;
  AGlobal global_;
  std::vector<ce::MessageBoxRequest> boxes;
  std::vector<HANDLE> started_;
};

TEST_F(CorvaneTest, WithoutSettingsThePathFallsBackToTheProgramFolderAndStartUpIsOff) {
  ACorvaneIF corvane;
  corvane.LoadStartupSetting();
  EXPECT_EQ(corvane.GetLissentPath(), CString(u"\\Program Files\\Quilmo Backup\\Lissent.exe"));
  EXPECT_FALSE(corvane.GetOnStartup());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].stringId, 138u);
  EXPECT_NE(boxes[0].text.find(u"personal information program"), std::u16string::npos);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "L ACorvaneIF"), 4) << log;
  EXPECT_EQ(Count(log, "Couldn't find Lissent EXE path in registry, trying old settings"), 1);
  EXPECT_EQ(Count(log, "Couldn't find CorvaneEXEPath in registry, using default: "
                       "\\Program Files\\Quilmo Backup\\Lissent.exe\r\n"), 1);
  EXPECT_EQ(Count(log, "No OnStartup value found, defaulting to off"), 1);
  EXPECT_EQ(Count(log, "Startup value of 0 set to 0"), 1);
}

TEST_F(CorvaneTest, TheOlderPathAndTheStoredSettingsAreTaken) {
  {
    ABackupRegistrySettings root(kRootKeyKind);
    ASSERT_TRUE(root.WriteString(u"CorvaneEXEPath", u"\\Old\\Lissent.exe"));
  }
  WriteLissent(ACorvaneIF::kOnStartupValue, 1);
  ACorvaneIF older;
  older.LoadStartupSetting();
  EXPECT_EQ(older.GetLissentPath(), CString(u"\\Old\\Lissent.exe"));
  EXPECT_TRUE(older.GetOnStartup());
  EXPECT_TRUE(boxes.empty());

  WriteLissent(ACorvaneIF::kPathValue, u"\\Maker\\Lissent.exe");
  ACorvaneIF current;
  current.LoadStartupSetting();
  EXPECT_EQ(current.GetLissentPath(), CString(u"\\Maker\\Lissent.exe"));
  EXPECT_EQ(Count(LogText(), "trying old settings"), 1);
  EXPECT_EQ(Count(LogText(), "Startup value of 1 set to 1"), 2);
}

TEST_F(CorvaneTest, EitherProgramNameCountsAsRunning) {
  EXPECT_FALSE(ACorvaneIF::IsRunning());
  HANDLE corvane = StartAgent(u"\\Windows\\Corvane.exe");
  EXPECT_TRUE(ACorvaneIF::IsRunning());
  ACorvaneIF::RequestQuit();
  EXPECT_EQ(ExitOf(corvane), 3);
  EXPECT_FALSE(ACorvaneIF::IsRunning());

  StartAgent(u"\\Program Files\\Maker\\Lissent.exe");  // the CorvaneEXEName setting
  EXPECT_TRUE(ACorvaneIF::IsRunning());
}

TEST_F(CorvaneTest, DisableTurnsStartUpOffAndStopsTheRunningPrograms) {
  WriteLissent(ACorvaneIF::kOnStartupValue, 1);
  HANDLE lissent = StartAgent(u"\\Windows\\Lissent.exe");
  HANDLE corvane = StartAgent(u"\\Windows\\Corvane.exe");
  ACorvaneIF pim;
  pim.Disable();
  EXPECT_FALSE(pim.GetOnStartup());
  DWORD value = 9;
  ASSERT_TRUE(ReadOnStartup(value));
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(ExitOf(lissent), 3);
  EXPECT_EQ(ExitOf(corvane), 3);

  pim.Disable();
  EXPECT_EQ(Count(LogText(), "Lissent not running"), 1);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(CorvaneTest, EnableTurnsStartUpOnAndStartsLissentThroughTheStarter) {
  Install("recorder", u"\\Windows\\QuilmoStart.exe");
  WriteLissent(ACorvaneIF::kPathValue, u"\\Program Files\\Maker\\Lissent.exe");
  ACorvaneIF pim;
  pim.LoadStartupSetting();
  boxes.clear();
  pim.Enable();
  EXPECT_TRUE(pim.GetOnStartup());
  DWORD value = 0;
  ASSERT_TRUE(ReadOnStartup(value));
  EXPECT_EQ(value, 1u);
  const std::string record = StarterRecord();
  EXPECT_NE(record.find("\\Windows\\QuilmoStart.exe \"/run \"\\Program Files\\Maker\\Lissent.exe\" /args \"-initial\"\""),
            std::string::npos)
      << record;
  EXPECT_TRUE(boxes.empty());

  // Already running: nothing is started.
  StartAgent(u"\\Windows\\Corvane.exe");
  ASSERT_TRUE(fs::remove(dev_.Host(u"\\Recorder.log")));
  pim.Enable();
  EXPECT_EQ(Count(LogText(), "Lissent already running"), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(dev_.Host(u"\\Recorder.log")));
}

TEST_F(CorvaneTest, AStarterThatCannotStartShowsItsBox) {
  ACorvaneIF pim;
  pim.Enable();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].stringId, 65054u);
  EXPECT_EQ(boxes[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
  EXPECT_EQ(Count(LogText(), "Error starting Lissent\\Program Files\\Quilmo Backup\\Lissent.exe"), 1) << LogText();
}

TEST_F(CorvaneTest, TheRestoreSeamStopsAndStartsWithoutTouchingTheSetting) {
  ACorvaneTaskControl& control = CorvaneTaskControl();
  EXPECT_FALSE(control.IsInstalled());
  dev_.PutFile(u"\\Program Files\\Quilmo Backup\\Lissent.exe", "program");
  EXPECT_TRUE(control.IsInstalled());

  HANDLE corvane = StartAgent(u"\\Windows\\Corvane.exe");
  EXPECT_TRUE(control.IsRunning());
  control.RequestStop();
  EXPECT_EQ(ExitOf(corvane), 3);
  EXPECT_FALSE(control.IsRunning());

  Install("recorder", u"\\Windows\\QuilmoStart.exe");
  control.Start();
  EXPECT_NE(StarterRecord().find("/run \"\\Program Files\\Quilmo Backup\\Lissent.exe\" /args \"-initial\""),
            std::string::npos);
  DWORD value = 0;
  EXPECT_FALSE(ReadOnStartup(value));
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
