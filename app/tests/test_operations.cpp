// The operations run their window to the end and free task and window;
// a backup records its image path as the default, also when it fails, a
// restore never does. The scheduled-backup confirmation counts down to OK
// by itself and can be cancelled.
#include <gtest/gtest.h>

#include "app/ConfirmScheduledBackupDlg.h"
#include "app/Operations.h"
#include "app/TaskProgressDlg.h"
#include "dlg_fixture.h"
#include "testkit/TaskSetup.h"
#include "ui/Automation.h"

using ui::test::Automation;
using ui::test::Dialog;

namespace {

const CString kCardImage = u"\\Storage Card\\op.pbf";
const IncludedKinds kFileSystem{true, false, false, false};

class OperationTest : public dlgtest::DialogTest {
 protected:
  OperationTest() {
    CTaskProgressDlg::SetResetFunctionForTest([this] { ++resets_; });
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
    dev_.MakeDir(u"\\Windows\\StartUp");
    dev_.MakeDir(u"\\temp");
  }
  ~OperationTest() override { CTaskProgressDlg::SetResetFunctionForTest(nullptr); }

  static std::u16string DefaultFilename() {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    CString value;
    return settings.ReadString(u"csDefaultBackupFilename", value) ? value.str() : u"<none>";
  }
  // The window starts at once, the task fails (no card), the user
  // closes the window and answers the closing question.
  static void RunToTheEnd(Automation& a, int answer) {
    a.OnDialog(CTaskProgressDlg::kTemplateId, [](Dialog& d) { EXPECT_FALSE(d.IsEnabled(1002)); });
    a.AdvanceClock(1000);
    a.AdvanceClock(100);
    a.InDialog([](Dialog& d) { d.Click(1002); });
    a.ExpectBox(65310, answer);
  }

  int resets_ = 0;
};

TEST_F(OperationTest, BackupRecordsItsImageAsTheDefaultAlsoWhenItFails) {
  quilmo::test::PrepareBackupOperation(global_, kFileSystem, kCardImage, CString());
  global_.g_Operation.taskStartMode = kStartAtOnce;
  Automation a;
  RunToTheEnd(a, IDCANCEL);
  ABackupOperation op;
  EXPECT_TRUE(op.Execute());
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_TRUE(a.Done());
  EXPECT_EQ(DefaultFilename(), kCardImage.str());
  EXPECT_TRUE(op.AlwaysTrue());
}

TEST_F(OperationTest, RestoreRecordsNoDefaultAndResetsAfterItsQuestion) {
  quilmo::test::SetOperation(global_, kOperationRestore, kFileSystem, kCardImage, CString(), kHostModeLocal);
  global_.g_Operation.taskStartMode = kStartAtOnce;
  Automation a;
  RunToTheEnd(a, IDOK);
  ARestoreOperation op;
  EXPECT_TRUE(op.Execute());
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(DefaultFilename(), u"<none>");
  EXPECT_EQ(resets_, 2);
}

class ConfirmTest : public dlgtest::DialogTest {};

TEST_F(ConfirmTest, WithoutInputItAcceptsAfterThirtySecondsWithTheBoxChecked) {
  Automation a;
  a.OnDialog(384, [](Dialog& d) {
    EXPECT_EQ(d.Text(IDOK), u"Start");
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2217, BM_GETCHECK, 0, 0), BST_CHECKED);
  });
  // The clock stops short of the 30th tick, then passes it.
  a.AdvanceClock(29500);
  a.InDialog([](Dialog& d) { EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2219, PBM_GETPOS, 0, 0), 29); });
  a.AdvanceClock(1000);
  ConfirmScheduledBackupDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(dlg.GetCheck(), 1);
}

TEST_F(ConfirmTest, TheUserUnchecksOrCancels) {
  {
    Automation a;
    a.OnDialog(384, [](Dialog& d) { d.SetCheck(2217, BST_UNCHECKED); });
    a.AdvanceClock(30500);
    ConfirmScheduledBackupDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_EQ(dlg.GetCheck(), 0);
  }
  Automation a;
  a.AdvanceClock(10000);
  a.OnDialog(384, [](Dialog& d) { d.Click(IDCANCEL); });
  ConfirmScheduledBackupDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
}

}  // namespace
