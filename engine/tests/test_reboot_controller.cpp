// The reboot controller: the state carried across a reset, the Startup
// folder moved aside and back, the resume shortcut, and starts after a
// reset that came between the preparation's steps.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ce/errors.h"
#include "ce/power.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/file.h"
#include "cesim/power.h"
#include "cesim/process.h"
#include "core/RegistrySettings.h"
#include "engine/Global.h"
#include "engine/RebootActions.h"
#include "engine/RebootController.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ReturnsInChild;

namespace fs = std::filesystem;
using quilmo::test::TestDevice;

constexpr const char16_t* kStartup = u"\\Windows\\StartUp";
constexpr const char16_t* kReboot = u"\\Program Files\\Quilmo Backup\\Reboot";

ce::Profile WithCard() {
  ce::Profile p;
  p.cards = {u"Storage Card"};
  return p;
}

// Leaves slack bytes free on the object store.
void FillDisk(ULONGLONG slack) {
  constexpr ULONGLONG kLarge = 1ull << 30;
  ce::Profile p = ce::Device::Current()->GetProfile();
  p.capacities = {{u"\\", kLarge}};
  ce::Device::Current()->SaveProfile(p);
  ULARGE_INTEGER freeBytes{}, total{}, totalFree{};
  GetDiskFreeSpaceExW(u"\\", &freeBytes, &total, &totalFree);
  p.capacities = {{u"\\", kLarge - freeBytes.QuadPart + slack}};
  ce::Device::Current()->SaveProfile(p);
}

class RebootControllerTest : public ::testing::Test {
 protected:
  RebootControllerTest() : dev_(WithCard()) {}
  void SetUp() override {
    ce::SetOwnProgramForTest(ce::kDefaultProgramPath, u"");
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
    dev_.MakeDir(kStartup);
    g_ = std::make_unique<AGlobal>();
    g_->g_Log.Open(false);
  }
  void TearDown() override {
    RebootController::SetStepHookForTest(nullptr);
    RebootController::SetCleanUpHookForTest(nullptr);
    g_.reset();
  }

  bool Exists(std::u16string_view path) const { return fs::exists(dev_.Host(path)); }
  std::string Read(std::u16string_view path) const { return Exists(path) ? dev_.ReadFile(path) : ""; }
  // The current and the previous log (a fresh start moves the log aside).
  std::string LogText() const {
    return Read(g_->g_Log.GetOldLogPath().str()) + Read(g_->g_Log.GetLogPath().str());
  }
  bool Logged(const std::string& text) const { return LogText().find(text) != std::string::npos; }
  bool RebootKeyExists() const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RebootController::kRebootKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  void FillStartup() {
    dev_.PutFile(u"\\Windows\\StartUp\\Mail.lnk", "#\"\\Windows\\mail.exe\"");
    dev_.PutFile(u"\\Windows\\StartUp\\tool.exe", "MZ");
    dev_.MakeDir(u"\\Windows\\StartUp\\Sub");
  }
  void ExpectStartupAsFilled() {
    EXPECT_EQ(Read(u"\\Windows\\StartUp\\Mail.lnk"), "#\"\\Windows\\mail.exe\"");
    EXPECT_TRUE(Exists(u"\\Windows\\StartUp\\tool.exe"));
    EXPECT_TRUE(Exists(u"\\Windows\\StartUp\\Sub"));
    EXPECT_FALSE(Exists(u"\\Windows\\StartUp\\DeployRB.lnk"));
    EXPECT_FALSE(Exists(kReboot));
    EXPECT_FALSE(RebootKeyExists());
  }

  TestDevice dev_;
  std::unique_ptr<AGlobal> g_;
};

TEST_F(RebootControllerTest, StateSurvivesTheResetWhole) {
  RebootController first;
  EXPECT_EQ(first.GetLocation(), 0);
  EXPECT_FALSE(first.IsLoaded());

  OperationDescriptor& op = g_->g_Operation;
  op.taskStartMode = kStartAtOnce;
  op.operationKind = kOperationRestore;
  op.hostMode = kHostModeRemote;
  op.includeRegistry = 1;
  op.includeMail = 1;
  op.imageId = 77;
  op.hostPort = 5679;
  std::u16string host(127, u'h'), note(255, u'n');
  op.SetHostName(host);
  op.SetAnnotation(note);
  op.imagePath.Set(u"\\Storage Card\\Backups\\Monday.pbf", false);
  g_->SetTaskPassword(u"secret");
  g_->g_bEncrypt = true;
  g_->g_bCommandLineRestore = true;
  g_->g_bRemote = true;
  g_->g_BackupOptions.UnpackOptions(0x405);
  DWORD check = g_->g_dwPasswordCheck;

  first.AdvanceLocation(RebootController::kOperationLocation);
  first.SaveState();
  ASSERT_TRUE(first.PrepareReboot(first.GetLocation() + 1, true));
  EXPECT_EQ(Read(u"\\Program Files\\Quilmo Backup\\Reboot\\Location.txt"), "2001\n");
  std::string record = Read(u"\\Program Files\\Quilmo Backup\\Reboot\\Persist.dat");
  ASSERT_EQ(record.size(), 2420u);
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[4], 0x05);
  EXPECT_EQ(record[5], 0x04);
  EXPECT_EQ(record.substr(8, 14), std::string("s\0e\0c\0r\0e\0t\0\0\0", 14));
  EXPECT_EQ(record[40], 1);
  EXPECT_EQ(record[50], 1);
  EXPECT_EQ(record[52], kStartAtOnce);
  EXPECT_EQ(record[56], kOperationRestore);
  EXPECT_EQ(record[76], 'h');
  EXPECT_TRUE(Exists(u"\\Program Files\\Quilmo Backup\\Reboot\\Persist.idx"));
  EXPECT_TRUE(RebootKeyExists());

  // The next start of the program.
  g_->g_Operation = OperationDescriptor();
  g_->g_csTaskPassword.Empty();
  g_->g_bEncrypt = g_->g_bCommandLineRestore = g_->g_bRemote = false;
  g_->g_BackupOptions.UnpackOptions(0);
  int nodes = g_->g_WorkingIndex.NodeCount();
  ASSERT_GT(nodes, 0);
  g_->g_WorkingIndex.Clear();
  RebootController next;
  EXPECT_EQ(g_->g_WorkingIndex.NodeCount(), nodes);
  EXPECT_EQ(next.GetLocation(), 2001);
  EXPECT_TRUE(next.HasPassedLocation(RebootController::kOperationLocation));
  ASSERT_TRUE(next.IsLoaded());
  EXPECT_TRUE(Logged("Reboot complete to  2001") || Logged("Reboot complete to 2001")) << LogText();
  next.RestorePersistedState();
  EXPECT_EQ(op.taskStartMode, kStartAtOnce);
  EXPECT_EQ(op.operationKind, kOperationRestore);
  EXPECT_EQ(op.hostMode, kHostModeRemote);
  EXPECT_EQ(op.includeRegistry, 1);
  EXPECT_EQ(op.includeMail, 1);
  EXPECT_EQ(op.imageId, 77);
  EXPECT_EQ(op.hostPort, 5679u);
  EXPECT_EQ(op.GetHostName().str(), host);
  EXPECT_EQ(op.GetAnnotation().str(), note);
  EXPECT_EQ(op.imagePath.GetFullPath().str(), u"\\Storage Card\\Backups\\Monday.pbf");
  EXPECT_EQ(g_->g_csTaskPassword.str(), u"secret");
  EXPECT_EQ(g_->g_dwPasswordCheck, check);
  EXPECT_TRUE(g_->g_bEncrypt);
  EXPECT_TRUE(g_->g_bCommandLineRestore);
  EXPECT_TRUE(g_->g_bRemote);
  EXPECT_EQ(g_->g_BackupOptions.PackOptions(), 0x405u);
  EXPECT_FALSE(Logged("Error Saving index"));
  EXPECT_FALSE(Logged("Error loading index"));
  EXPECT_FALSE(Exists(kReboot));  // a second reset does not resume again
}

TEST_F(RebootControllerTest, StartupEntriesMoveAsideAndComeBack) {
  FillStartup();
  RebootController first;
  ASSERT_TRUE(first.PrepareReboot(2001, true));
  EXPECT_FALSE(Exists(u"\\Windows\\StartUp\\Mail.lnk"));
  EXPECT_FALSE(Exists(u"\\Windows\\StartUp\\tool.exe"));
  EXPECT_TRUE(Exists(u"\\Windows\\StartUp\\Sub"));  // folders stay
  EXPECT_TRUE(Exists(u"\\Program Files\\Quilmo Backup\\Reboot\\WStartUp\\Mail.lnk"));
  EXPECT_TRUE(Exists(u"\\Program Files\\Quilmo Backup\\Reboot\\WStartUp\\tool.exe"));

  // The resume shortcut runs the starter with the card and the program.
  std::u16string target;
  ASSERT_TRUE(ce::ReadShortcutTarget(u"\\Windows\\StartUp\\DeployRB.lnk", &target));
  std::u16string program, args;
  ASSERT_TRUE(ce::SplitShortcutTarget(target, &program, &args));
  EXPECT_NE(program.find(u"QuilmoStart.exe"), std::u16string::npos);
  EXPECT_EQ(args, u"\"/scard=\\Storage Card\" /run \"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\"");

  // A file that reappeared meanwhile keeps its content, without an error.
  dev_.PutFile(u"\\Windows\\StartUp\\tool.exe", "newer");
  RebootController next;
  EXPECT_EQ(Read(u"\\Windows\\StartUp\\tool.exe"), "newer");
  dev_.PutFile(u"\\Windows\\StartUp\\tool.exe", "MZ");
  ExpectStartupAsFilled();
  EXPECT_FALSE(Logged("restore move failed"));
}

TEST_F(RebootControllerTest, EmptyStartupFolderStillPrepares) {
  RebootController first;
  EXPECT_TRUE(first.PrepareReboot(2001, true));
  RebootController next;
  EXPECT_EQ(next.GetLocation(), 2001);
  EXPECT_FALSE(Exists(u"\\Windows\\StartUp\\DeployRB.lnk"));
}

// A reset between any two steps of the preparation: the next start resumes
// nothing and the Startup folder is whole again. After the last step the
// operation resumes.
TEST_F(RebootControllerTest, ResetBetweenStepsNeverResumesHalfPrepared) {
  FillStartup();
  for (int step = 1; step <= 5; ++step) {
    SCOPED_TRACE(step);
    {
      RebootController first;
      first.AdvanceLocation(2000);
      first.SaveState();
      EXPECT_FALSE(ReturnsInChild([&] {
        RebootController::SetStepHookForTest([step](int done) {
          if (done == step) _exit(0);
        });
        static_cast<void>(first.PrepareReboot(2001, true));  // ends at the step
      }));
    }
    // The next boot finds the user's Startup files, or the shortcut that
    // starts the program to put them back.
    EXPECT_TRUE(Exists(u"\\Windows\\StartUp\\DeployRB.lnk") ||
                (Exists(u"\\Windows\\StartUp\\Mail.lnk") && Exists(u"\\Windows\\StartUp\\tool.exe")));
    RebootController next;
    if (step < 5) {
      EXPECT_EQ(next.GetLocation(), 0);
      EXPECT_FALSE(next.IsLoaded());
    } else {
      EXPECT_EQ(next.GetLocation(), 2001);
      EXPECT_TRUE(next.IsLoaded());
    }
    ExpectStartupAsFilled();
  }
}

// A reset during the clean-up of the start that resumes: that start's
// operation is lost with the reset, and no later start, whatever it was
// asked to do, takes it up again.
TEST_F(RebootControllerTest, ResetDuringTheResumingStartsCleanUpResumesNothingLater) {
  FillStartup();
  for (int step = 1; step <= 5; ++step) {
    SCOPED_TRACE(step);
    {
      RebootController first;
      first.AdvanceLocation(2000);
      first.SaveState();
      ASSERT_TRUE(first.PrepareReboot(2001, true));
    }
    EXPECT_FALSE(ReturnsInChild([&] {
      RebootController::SetCleanUpHookForTest([step](int done) {
        if (done == step) _exit(0);
      });
      RebootController resuming;  // ends at the step
    }));
    // The next boot finds the user's Startup files, or the shortcut that
    // starts the program to put them back.
    EXPECT_TRUE(Exists(u"\\Windows\\StartUp\\DeployRB.lnk") ||
                (Exists(u"\\Windows\\StartUp\\Mail.lnk") && Exists(u"\\Windows\\StartUp\\tool.exe")));
    RebootController later;
    EXPECT_EQ(later.GetLocation(), 0);
    EXPECT_FALSE(later.HasPassedLocation(RebootController::kOperationLocation));
    ExpectStartupAsFilled();
  }
}

TEST_F(RebootControllerTest, TornOrNegativeLocationResumesNothing) {
  for (std::string text : {"", "-3\n", "20", "abc\n"}) {
    SCOPED_TRACE(text);
    {
      RebootController first;
      ASSERT_TRUE(first.PrepareReboot(2001, false));
    }
    dev_.PutFile(u"\\Program Files\\Quilmo Backup\\Reboot\\Location.txt", text);
    RebootController next;
    EXPECT_EQ(next.GetLocation(), 0);
    EXPECT_FALSE(next.IsLoaded());
    EXPECT_TRUE(Logged("RebootController bad location file")) << LogText();
    EXPECT_FALSE(Exists(kReboot));
  }
}

TEST_F(RebootControllerTest, MissingOrShortStateResumesNothing) {
  {
    RebootController first;
    ASSERT_TRUE(first.PrepareReboot(2001, false));
  }
  fs::remove(dev_.Host(u"\\Program Files\\Quilmo Backup\\Reboot\\Persist.dat"));
  {
    RebootController next;
    EXPECT_EQ(next.GetLocation(), 0);
    EXPECT_TRUE(Logged("RebootController found no saved state")) << LogText();
  }
  {
    RebootController first;
    ASSERT_TRUE(first.PrepareReboot(2001, false));
  }
  fs::resize_file(dev_.Host(u"\\Program Files\\Quilmo Backup\\Reboot\\Persist.dat"), 100);
  RebootController next;
  EXPECT_EQ(next.GetLocation(), 0);
  EXPECT_FALSE(next.IsLoaded());
  EXPECT_TRUE(Logged("PersistantData couldn't read from input file - ")) << LogText();
  EXPECT_FALSE(Exists(kReboot));
}

TEST_F(RebootControllerTest, LeftoverRebootFolderFailsPreparationAndCleansUp) {
  FillStartup();
  RebootController first;
  dev_.MakeDir(kReboot);
  EXPECT_FALSE(first.PrepareReboot(2001, true));
  EXPECT_TRUE(Logged("RebootController couldn't create backup directory."));
  // RequestReboot undoes a failed preparation and returns.
  dev_.MakeDir(kReboot);
  EXPECT_FALSE(first.RequestReboot(true));
  ExpectStartupAsFilled();
}

TEST_F(RebootControllerTest, RequestedResetWritesTheNextLocation) {
  FillStartup();
  {
    RebootController first;
    first.AdvanceLocation(RebootController::kOperationLocation);
    first.SaveState();
    EXPECT_FALSE(ReturnsInChild([&] { (void)first.RequestReboot(true); }));  // resets
  }
  EXPECT_EQ(ce::PendingResets().size(), 1u);
  EXPECT_EQ(Read(u"\\Program Files\\Quilmo Backup\\Reboot\\Location.txt"), "2001\n");
  RebootController next;
  EXPECT_TRUE(next.HasPassedLocation(RebootController::kOperationLocation));
  EXPECT_TRUE(next.IsLoaded());
  ExpectStartupAsFilled();
}

// A preparation step whose write fails cancels the reset: nothing is
// reset, the request reports the failure and the Startup folder is whole.
TEST_F(RebootControllerTest, FailedWriteOfThePreparationCancelsTheReset) {
  struct Case {
    const char* name;
    int afterStep;
    std::function<void()> fault;
    const char* logged;
  };
  const Case cases[] = {
      {"state record, disk full", 3, [] { FillDisk(100); }, "PersistantData couldn't write to output file"},
      {"index, disk full", 3, [] { FillDisk(2420 + 16); }, "Persistant data : Error Saving index"},
      {"location, disk full", 4, [] { FillDisk(0); }, "RebootController couldn't write to location file"},
      {"location, read-only file", 4,
       [] {
         HANDLE h = CreateFileW(u"\\Program Files\\Quilmo Backup\\Reboot\\Location.txt", GENERIC_WRITE, 0,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
         CloseHandle(h);
       },
       "RebootController couldn't create location file."},
  };
  FillStartup();
  // The log lives on the card: its own writes must not meet the full disk.
  g_.reset();
  ASSERT_TRUE(ABackupRegistrySettings(ProductConfigKey).WriteString(u"LogFilePath", u"\\Storage Card"));
  g_ = std::make_unique<AGlobal>();
  g_->g_Log.Open(false);
  const ce::Profile profile = ce::Device::Current()->GetProfile();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      RebootController first;
      first.AdvanceLocation(RebootController::kOperationLocation);
      first.SaveState();
      EXPECT_TRUE(ReturnsInChild([&] {
        RebootController::SetStepHookForTest([&](int done) {
          if (done == c.afterStep) c.fault();
        });
        if (first.RequestReboot(true)) _exit(3);
      }));
    }
    ASSERT_TRUE(ce::Device::Current()->SaveProfile(profile));
    EXPECT_TRUE(ce::PendingResets().empty());
    EXPECT_TRUE(Logged(c.logged)) << LogText();
    ExpectStartupAsFilled();
    RebootController next;
    EXPECT_EQ(next.GetLocation(), 0);
    EXPECT_FALSE(next.IsLoaded());
  }
}

// Boot-time actions that cannot be written: the sequence does not reset
// and prepares nothing.
TEST_F(RebootControllerTest, UnwrittenBootActionsCancelTheReset) {
  FillStartup();
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init");  // the runner cannot be put into the launch list
  EXPECT_TRUE(ReturnsInChild([] {
    RebootActions::Instance().AddRestoreCopy(u"\\temp\\a.datc", u"\\temp\\a.dat", 0);
    RebootController::Instance().AdvanceLocation(RebootController::kOperationLocation);
    if (RebootSequence::Instance().ShutdownAndReboot(true, true)) _exit(3);
  }));
  EXPECT_TRUE(ce::PendingResets().empty());
  EXPECT_TRUE(Logged("Couldn't setup launch of QuilmoInit")) << LogText();
  ExpectStartupAsFilled();
}

}  // namespace
