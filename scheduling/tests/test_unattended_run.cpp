// The unattended backup's run up to its reset: what it saves for the run
// after the reset (read back through the reboot controller as the next
// start does), the password, the host link, the inclusion list, and the
// failures that end it without a reset.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "app/PasswordDlg.h"
#include "ce/power.h"
#include "ce/process.h"
#include "ce/com.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "cesim/power.h"
#include "core/ProgramGlobals.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "engine/RebootController.h"
#include "image/ImageFormat.h"
#include "image/MetaData.h"
#include "sched_fixture.h"
#include "scheduling/UnattendedBackup.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/RunCommand.h"
#include "testkit/ScopedState.h"
#include "ui/Automation.h"
#include "ui/Mfc.h"

namespace {

namespace fs = std::filesystem;
using quilmo::test::ChildExit;
using quilmo::test::ChildProcess;
using ui::test::Automation;
using ui::test::Dialog;

constexpr const char16_t* kReboot = u"\\Program Files\\Quilmo Backup\\Reboot";
constexpr int kRunTrue = 10;
constexpr int kRunFalse = 11;

class UnattendedRunTest : public schedtest::DeviceTest {
 protected:
  UnattendedRunTest() : own_(ce::kDefaultProgramPath) {
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
    dev_.MakeDir(u"\\Windows\\StartUp");
    // COM for the XML readers, as the program's start-up has it.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    quilmo::test::LoadBuiltResourceLibrary();
    AfxSetResourceHandle(GetMainResourceLibrary());
    SetClock(2024, 5, 6, 2, 0);
    // From here on the log goes to its file, as after the program's start.
    global_.g_Log.Flush(true);
  }
  ~UnattendedRunTest() override {
    AfxSetResourceHandle(nullptr);
    UnloadResourceLibraries(true);
    CoUninitialize();
  }

  bool Exists(std::u16string_view path) const { return fs::exists(dev_.Host(path)); }
  std::string Read(std::u16string_view path) const { return Exists(path) ? dev_.ReadFile(path) : ""; }
  // The log of this test's runs (the program's start moves the log aside).
  std::string FileLog() const {
    return Read(global_.g_Log.GetOldLogPath().str()) + Read(global_.g_Log.GetLogPath().str());
  }
  bool InLog(const std::string& text) const { return FileLog().find(text) != std::string::npos; }

  static void Store(void (AUnattendedBackup::*use)(), DWORD options, LPCWSTR file, bool reset, bool remote,
                    LPCWSTR list) {
    AUnattendedBackup b;
    (b.*use)();
    ASSERT_TRUE(b.StoreScheduledBackupOptions(options, file, reset, remote, list));
  }
  static void SetConfig(LPCWSTR name, DWORD value) {
    ABackupRegistrySettings config(kConfigKeyKind);
    ASSERT_TRUE(config.WriteDWORD(name, value));
  }

  // Runs the backup on the chosen key in a child process, as the program
  // does after its start.
  static ChildExit RunInChild(void (AUnattendedBackup::*use)(), const std::function<void()>& before = {}) {
    ChildProcess child = ChildProcess::Fork([&] {
      if (before) before();
      AUnattendedBackup b;
      (b.*use)();
      _exit(b.Run() ? kRunTrue : kRunFalse);
    });
    return child.Wait();
  }

  // The next start of the program: the controller reads the saved state
  // back and puts it into the global state.
  void NextStart() {
    RebootController next;
    EXPECT_EQ(next.GetLocation(), 2001);
    ASSERT_TRUE(next.IsLoaded());
    EXPECT_TRUE(next.HasPassedLocation(RebootController::kOperationLocation));
    global_.g_Operation = OperationDescriptor();
    global_.g_bUnattended = global_.g_bEncrypt = false;
    global_.g_csTaskPassword.Empty();
    next.RestorePersistedState();
  }

  quilmo::test::ScopedOwnProgram own_;
};

TEST_F(UnattendedRunTest, AScheduledRunSavesTheBackupAndResetsTheDevice) {
  // Defaults: close programs, compress, encrypt, exclusions, date suffix.
  Store(&AUnattendedBackup::UseUnattendedKey, 0x2CF, u"\\temp\\Sched.pbf", false, false, u"");
  ASSERT_TRUE(CPasswordDlg::WriteScheduledPassword(u"secret1"));
  SetConfig(u"IncludeMail", 0);

  const ChildExit run = RunInChild(&AUnattendedBackup::UseUnattendedKey);
  EXPECT_FALSE(run.ExitedWith(kRunTrue) || run.ExitedWith(kRunFalse)) << run.Describe();
  ASSERT_EQ(ce::PendingResets().size(), 1u) << FileLog();
  EXPECT_EQ(Read(u"\\Program Files\\Quilmo Backup\\Reboot\\Location.txt"), "2001\n");
  const std::string record = Read(u"\\Program Files\\Quilmo Backup\\Reboot\\Persist.dat");
  ASSERT_EQ(record.size(), 2420u);
  EXPECT_EQ(record[48], 1);  // an unattended run
  EXPECT_TRUE(Exists(u"\\Windows\\StartUp\\DeployRB.lnk"));
  EXPECT_TRUE(InLog("Read \\temp\\Sched.pbf from key Unattended 719")) << FileLog();
  EXPECT_TRUE(InLog("Encryption testing.."));
  EXPECT_TRUE(InLog("Encryption Flag set"));
  EXPECT_TRUE(InLog("Not CommandLine"));
  EXPECT_TRUE(InLog("AUnattendedBackup") && InLog(": Rebooting\r\n"));
  EXPECT_FALSE(InLog("E AUnattendedBackup"));

  NextStart();
  const OperationDescriptor& op = global_.g_Operation;
  EXPECT_EQ(op.operationKind, kOperationBackup);
  EXPECT_EQ(op.taskStartMode, kStartAtOnce);
  EXPECT_EQ(op.hostMode, kHostModeLocal);
  EXPECT_EQ(op.includeFileSystem, 1);
  EXPECT_EQ(op.includeDatabases, 1);
  EXPECT_EQ(op.includeRegistry, 1);
  EXPECT_EQ(op.includeMail, 0);
  EXPECT_EQ(op.imagePath.GetFullPath(), CString(u"\\temp\\Sched_2024-05-06.pbf"));
  const std::u16string note = op.GetAnnotation().str();
  EXPECT_EQ(note.rfind(u"Scheduled backup 2:00:", 0), 0u) << ce::ToUtf8(note);
  EXPECT_EQ(note.substr(note.size() - 9), u" 5/6/2024") << ce::ToUtf8(note);
  EXPECT_TRUE(global_.g_bUnattended);
  EXPECT_TRUE(global_.g_bEncrypt);
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"secret1"));
  EXPECT_EQ(global_.g_dwPasswordCheck, AMetaData::PasswordCheckValue(u"secret1"));
  EXPECT_EQ(global_.g_BackupOptions.PackOptions(), 0x2CFu);
  EXPECT_FALSE(Exists(kReboot));
  EXPECT_FALSE(Exists(u"\\Windows\\StartUp\\DeployRB.lnk"));
}

// A battery-triggered run to the desktop host, with encryption asked for
// but no stored password, limited by an inclusion list.
TEST_F(UnattendedRunTest, ABatteryRunToTheHostWithoutStoredPasswordRunsUnencrypted) {
  Store(&AUnattendedBackup::UseMerrowKey, 0x24F, u"\\temp\\Battery.pbf", false, true, u"\\temp\\incl.xml");
  dev_.PutFile(u"\\temp\\incl.xml",
               "<inclusion-list><toplevel name=\"filesystem\"><directory name=\"\\My Documents\"/></toplevel>"
               "<toplevel name=\"registry\"/></inclusion-list>");
  global_.g_bBatteryTriggered = true;
  global_.g_RemoteOptions.SetHostName(u"deskhost");
  global_.g_RemoteOptions.SetPort(6000);

  const ChildExit run = RunInChild(&AUnattendedBackup::UseMerrowKey);
  ASSERT_EQ(ce::PendingResets().size(), 1u) << run.Describe() << FileLog();
  EXPECT_TRUE(InLog("Run - InclusionList defined")) << FileLog();
  EXPECT_TRUE(InLog("No scheduled password, disabling encryption"));

  NextStart();
  const OperationDescriptor& op = global_.g_Operation;
  EXPECT_EQ(op.hostMode, kHostModeRemote);
  EXPECT_EQ(op.GetHostName(), CString(u"deskhost"));
  EXPECT_EQ(op.hostPort, 6000u);
  EXPECT_EQ(op.imagePath.GetFullPath(), CString(u"\\temp\\Battery.pbf"));  // no date suffix asked for
  EXPECT_EQ(op.GetAnnotation().str().rfind(u"Low battery backup ", 0), 0u);
  EXPECT_FALSE(global_.g_bEncrypt);
  EXPECT_TRUE(global_.g_csTaskPassword.IsEmpty());
  // The saved selection holds the list's parts only.
  const Index& index = global_.g_WorkingIndex;
  for (auto [type, selected] : {std::pair{TREE_FILESYSTEM, true}, std::pair{TREE_REGISTRY, true},
                                std::pair{TREE_MAIL, false}, std::pair{TREE_DATABASES, false}}) {
    SCOPED_TRACE(type);
    const int node = index.FindChildOfType(type);
    EXPECT_EQ(node != -1 && index.IsSelected(node), selected);
  }
}

// Failures end the run before the reset: nothing is saved, nothing reset.
TEST_F(UnattendedRunTest, FailuresEndTheRunWithoutAReset) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    const char* logged;
  } cases[] = {
      {"no stored set", [] {},
       "AUnattendedBackup : RetrieveScheduledBackupOptions() Error getting unattended options"},
      {"empty image path",
       [] { Store(&AUnattendedBackup::UseUnattendedKey, 0x24B, u"", false, false, u""); },
       "AUnattendedBackup : Run - BackupFilePath is empty"},
      {"unreadable inclusion list",
       [] { Store(&AUnattendedBackup::UseUnattendedKey, 0x24B, u"\\temp\\a.pbf", false, false, u"\\temp\\none.xml"); },
       "AUnattendedBackup : \\temp\\none.xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings\\Unattended");
    c.prepare();
    global_.g_bUnattended = false;
    AUnattendedBackup b;
    b.UseUnattendedKey();
    EXPECT_FALSE(b.Run());
    EXPECT_TRUE(global_.g_bUnattended);
    EXPECT_FALSE(global_.g_pInclusionList);
    EXPECT_TRUE(InLog(c.logged)) << FileLog();
    EXPECT_TRUE(ce::PendingResets().empty());
    EXPECT_FALSE(Exists(kReboot));
  }
  EXPECT_TRUE(InLog("AUnattendedBackup : Run - RetrieveScheduledBackupOptions failed"));
}

// A reset that cannot be prepared is a failed run, not a started backup.
TEST_F(UnattendedRunTest, AResetThatCannotBePreparedFailsTheRun) {
  Store(&AUnattendedBackup::UseUnattendedKey, 0x24B, u"\\temp\\a.pbf", false, false, u"");
  const ChildExit run = RunInChild(&AUnattendedBackup::UseUnattendedKey, [] {
    // The location file cannot be written once the state is saved.
    RebootController::SetStepHookForTest([](int done) {
      if (done != 4) return;
      HANDLE h = CreateFileW(u"\\Program Files\\Quilmo Backup\\Reboot\\Location.txt", GENERIC_WRITE, 0,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
      CloseHandle(h);
    });
  });
  EXPECT_TRUE(run.ExitedWith(kRunFalse)) << run.Describe() << FileLog();
  EXPECT_TRUE(ce::PendingResets().empty());
  EXPECT_TRUE(InLog("AUnattendedBackup : Run - the device was not reset")) << FileLog();
  EXPECT_FALSE(Exists(kReboot));
}

// A command-line backup needs no stored set and asks for the password;
// it keeps the command line's image path as it stands.
TEST_F(UnattendedRunTest, ACommandLineBackupAsksForThePasswordAndKeepsItsPath) {
  global_.g_bCommandLineBackup = true;
  global_.g_Operation.imagePath.Set(u"\\temp\\Cmd.pbf", false);

  // (Each run in a child: a process that showed a window is one of the
  // device's, and a reset ends them all.)
  const ChildExit cancelled = RunInChild(&AUnattendedBackup::UseCommandLineKey, [] {
    static Automation a;
    a.OnDialog(CPasswordDlg::kTemplateId, [](Dialog& d) { d.Click(IDCANCEL); });
  });
  EXPECT_TRUE(cancelled.ExitedWith(kRunFalse)) << cancelled.Describe();
  EXPECT_TRUE(InLog("AUnattendedBackup : User cancelled password dialog not performing command line backup"))
      << FileLog();
  EXPECT_TRUE(ce::PendingResets().empty());

  const ChildExit run = RunInChild(&AUnattendedBackup::UseCommandLineKey, [] {
    static Automation a;  // lives until the reset ends the child
    a.OnDialog(CPasswordDlg::kTemplateId, [](Dialog& d) {
      d.SetText(CPasswordDlg::kPasswordId, u"cmdpass1");
      d.SetText(CPasswordDlg::kConfirmId, u"cmdpass1");
      d.Click(IDOK);
    });
  });
  ASSERT_EQ(ce::PendingResets().size(), 1u) << run.Describe() << FileLog();
  EXPECT_FALSE(InLog("Not CommandLine"));
  NextStart();
  EXPECT_EQ(global_.g_Operation.imagePath.GetFullPath(), CString(u"\\temp\\Cmd.pbf"));
  EXPECT_EQ(global_.g_Operation.hostMode, kHostModeLocal);
  EXPECT_TRUE(global_.g_bEncrypt);
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"cmdpass1"));
  EXPECT_EQ(global_.g_BackupOptions.PackOptions(), 719u);
}

// A remote command-line backup for the desktop agent's server takes the
// server's details.
TEST_F(UnattendedRunTest, AServerBackupTakesTheAgentsServer) {
  Store(&AUnattendedBackup::UseCommandLineKey, 0x24B, u"\\ignored.pbf", false, false, u"");
  global_.g_bCommandLineBackup = true;
  global_.g_bRemote = true;
  global_.g_bServerBackup = true;
  global_.g_Operation.imagePath.Set(u"\\temp\\Server.pbf", false);
  {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Agent", 0, nullptr, 0, 0,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string server = u"backupserver";
    RegSetValueExW(key, u"Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * 2));
    const DWORD port = 7001;
    RegSetValueExW(key, u"BackupPort", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
    RegCloseKey(key);
  }
  const ChildExit run = RunInChild(&AUnattendedBackup::UseCommandLineKey);
  ASSERT_EQ(ce::PendingResets().size(), 1u) << run.Describe() << FileLog();
  EXPECT_TRUE(InLog("Server backup detected")) << FileLog();
  EXPECT_TRUE(InLog("LoadServerHostToTaskDetails()"));
  NextStart();
  EXPECT_EQ(global_.g_Operation.hostMode, kHostModeRemote);
  EXPECT_EQ(global_.g_Operation.GetHostName(), CString(u"backupserver"));
  EXPECT_EQ(global_.g_Operation.hostPort, 7001u);
  EXPECT_EQ(global_.g_Operation.imagePath.GetFullPath(), CString(u"\\temp\\Server.pbf"));
}

// After the operation's reset the run prepares again but does not reset a
// second time.
TEST_F(UnattendedRunTest, ARunAfterTheOperationsResetDoesNotResetAgain) {
  Store(&AUnattendedBackup::UseUnattendedKey, 0x24B, u"\\temp\\a.pbf", false, false, u"");
  RunInChild(&AUnattendedBackup::UseUnattendedKey);
  ASSERT_EQ(ce::PendingResets().size(), 1u) << FileLog();
  const ChildExit again = RunInChild(&AUnattendedBackup::UseUnattendedKey, [] {
    // The program's start reads the location of the reset.
    if (!RebootController::Instance().HasPassedLocation(RebootController::kOperationLocation)) _exit(20);
  });
  EXPECT_TRUE(again.ExitedWith(kRunTrue)) << again.Describe() << FileLog();
  EXPECT_EQ(ce::PendingResets().size(), 1u);
}

// Volume copies that a run cut short by a reset left behind go before the
// next run queues its own; the copies the boot made for the run after the
// reset stay for that run.
TEST_F(UnattendedRunTest, LeftoverVolumeCopiesGoBeforeTheResetButNotAfterIt) {
  dev_.PutFile(u"\\pim.vol", "volume");
  dev_.PutFile(u"\\pim.volc", "stale copy of an interrupted backup");
  dev_.PutFile(u"\\mxip_lang.volc", "stale copy of an interrupted restore");
  dev_.PutFile(u"\\My Documents\\plan.volc", "the user's own file");
  Store(&AUnattendedBackup::UseUnattendedKey, 0x24B, u"\\temp\\a.pbf", false, false, u"");

  RunInChild(&AUnattendedBackup::UseUnattendedKey);
  ASSERT_EQ(ce::PendingResets().size(), 1u) << FileLog();
  EXPECT_FALSE(Exists(u"\\pim.volc")) << FileLog();
  EXPECT_FALSE(Exists(u"\\mxip_lang.volc"));
  EXPECT_TRUE(Exists(u"\\pim.vol"));
  EXPECT_TRUE(Exists(u"\\My Documents\\plan.volc"));
  EXPECT_TRUE(InLog("Removed the leftover boot copy \\pim.volc"));

  dev_.PutFile(u"\\pim.volc", "made at boot for the run");
  const ChildExit again = RunInChild(&AUnattendedBackup::UseUnattendedKey, [] {
    if (!RebootController::Instance().HasPassedLocation(RebootController::kOperationLocation)) _exit(20);
  });
  EXPECT_TRUE(again.ExitedWith(kRunTrue)) << again.Describe() << FileLog();
  EXPECT_TRUE(Exists(u"\\pim.volc"));
}

}  // namespace
