// The Backup page in a sheet, driven as a user would: the tree built once
// and kept across page switches, rebuilt when the options or the sheet ask,
// the location and the save dialog, and the Backup button's road up to the
// restart, with every refusal on the way.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/tests/dlg_fixture.h"
#include "ce/sip.h"
#include "cesim/file.h"
#include "cesim/sip.h"
#include "engine/DatabaseComponent.h"
#include "engine/DatabaseVolumes.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/MailComponent.h"
#include "engine/RebootController.h"
#include "engine/RegistryComponent.h"
#include "pages/BackupPage.h"
#include "testkit/DialogContract.h"
#include "ui/Automation.h"

using ui::test::Automation;
using ui::test::Dialog;

namespace {

constexpr int kSheet = 0;  // the sheet's template is built in code
constexpr int kOtherPage = 231;
constexpr const char16_t* kFiles = u"This device/Files";
constexpr const char16_t* kRegistry = u"This device/Registry";

// The page with its ties to the rest of the program replaced by records.
class TestBackupPage : public CBackupPage {
 public:
  bool timerWorks = true;
  std::function<bool(ABackupFilePath&)> saveDialog;
  bool resetWarningAnswer = true;
  int resetWarnings = 0;
  int restarts = 0;
  CString pathAtRestart;

 protected:
  bool StartTreeTimer() override { return timerWorks && CBackupPage::StartTreeTimer(); }
  bool RunSaveDialog(ABackupFilePath& location) override { return saveDialog && saveDialog(location); }
  bool ConfirmResetWarning(int) override {
    ++resetWarnings;
    return resetWarningAnswer;
  }
  void ShutdownAndRestart() override {
    ++restarts;
    pathAtRestart = GetGlobal().g_Operation.imagePath.GetFullPath();
  }
};

class BackupPageTest : public dlgtest::DialogTest {
 protected:
  BackupPageTest() : context_(MakeFileSystemContext(global_)), fileSystem_(context_) {
    fileSystem_.Register();
    dev_.MakeDir(u"\\Windows");
    dev_.MakeDir(u"\\temp");
    ce::Profile profile = dev_.device()->GetProfile();
    profile.cards = {u"Storage Card"};
    EXPECT_TRUE(dev_.device()->SaveProfile(profile));
    dev_.MakeDir(u"\\Storage Card");
    dev_.MakeDir(u"\\My Documents");
    dev_.PutFile(u"\\My Documents\\letter.txt", "dear");
    dev_.PutFile(u"\\notes.txt", "n");
    RegisterDatabaseVolumesComponent();
    RegisterDatabaseComponent();
    RegisterMailComponent();
    RegisterRegistryComponent();
    RebootController::Instance().SetLocation(0);
    SetOption(kOptionAppendDate, false);
    SetOption(kOptionEncrypt, false);
    sheet_.AddPage(&page_);
    sheet_.AddPage(&other_);
  }
  ~BackupPageTest() override { RebootController::Instance().SetLocation(0); }
  // The controller's first use ends the buffering of the log it finds: let
  // it find the built-in one, before any test's own log.
  static void SetUpTestSuite() { RebootController::Instance(); }

  // Runs the sheet under the automation's steps; the steps must all run.
  void Run(Automation& a) {
    sheet_.DoModal();
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done()) << a.Remaining().front();
  }
  // Steps: wait for the sheet, let the tree's timer fire, then act.
  static void OpenBuilt(Automation& a, Automation::DialogAction action) {
    a.OnDialog(kSheet).AdvanceClock(CBackupPage::kTreeTimerMs + 50).InDialog(std::move(action));
  }
  void SwitchTo(int page) { sheet_.SetActivePage(page); }
  int TreeBuilds() const { return Count(LogText(), "entering OnInitTree"); }
  static void Close(Dialog& d) { d.Click(IDCANCEL); }
  void SetOption(int option, bool on) { global_.g_BackupOptions.SetOptionOn(option, on); }

  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
  // The pages outlive the sheet that holds them.
  TestBackupPage page_;
  CPropertyPage other_{kOtherPage};
  CPropertySheet sheet_{u"Quilmo Backup"};
};

TEST_F(BackupPageTest, FirstActivationShowsTheWaitTextThenTheTreeOnTheDefaultLocation) {
  Automation a;
  a.OnDialog(kSheet, [](Dialog& d) {
    EXPECT_TRUE(d.IsVisible(2071));
    EXPECT_FALSE(d.IsVisible(2015));
    EXPECT_EQ(d.Text(2071), u"Reading the contents of the device. Please wait...");
    EXPECT_EQ(d.Text(2039), u"Backup file:");
    EXPECT_EQ(d.Text(2001), u"Backup");
  });
  a.AdvanceClock(CBackupPage::kTreeTimerMs + 50);
  a.InDialog([this](Dialog& d) {
    EXPECT_FALSE(d.IsVisible(2071));
    EXPECT_TRUE(d.IsVisible(2015));
    EXPECT_TRUE(d.IsEnabled(2001));
    EXPECT_TRUE(d.IsEnabled(2000));
    EXPECT_EQ(d.Text(1999), u"\\Storage Card\\Backup.pbf") << LogText();
    DWORD start = 0, end = 0;
    SendMessageW(d.FindControl(1999), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end, 24u) << "caret at the end";
    // The default options leave storage cards out: the card stays
    // unchecked, so the device is only partly selected.
    EXPECT_EQ(d.TreeState(2015, u"This device/Storage card"), 1);
    EXPECT_EQ(d.TreeState(2015, u"This device"), 3);
    EXPECT_EQ(d.TreeState(2015, kFiles), 2);
    EXPECT_TRUE(page_.IsTreePopulated());
    Close(d);
  });
  Run(a);
  EXPECT_EQ(TreeBuilds(), 1);
  EXPECT_EQ(global_.g_Operation.operationKind, kOperationBackup);
  EXPECT_EQ(global_.g_Operation.hostMode, kHostModeLocal);
  EXPECT_GT(global_.g_WorkingIndex.NodeCount(), 1);
  EXPECT_NE(LogText().find("Index Population Time : "), std::string::npos);
  EXPECT_NE(LogText().find("Tree Population Time : "), std::string::npos);
}

TEST_F(BackupPageTest, ATimerThatCannotStartBuildsTheTreeDuringActivation) {
  page_.timerWorks = false;
  Automation a;
  a.OnDialog(kSheet, [this](Dialog& d) {
    EXPECT_TRUE(page_.IsTreePopulated());
    EXPECT_TRUE(d.IsVisible(2015));
    Close(d);
  });
  Run(a);
  EXPECT_EQ(TreeBuilds(), 1);
}

TEST_F(BackupPageTest, ReturningToThePageKeepsTheTreeAndTheUsersMarks) {
  Automation a;
  OpenBuilt(a, [](Dialog& d) { EXPECT_TRUE(d.TreeCheck(2015, kRegistry)); });
  a.Do([this](Automation&) { SwitchTo(1); });
  a.Do([this](Automation&) { SwitchTo(0); });
  a.InDialog([this](Dialog& d) {
    EXPECT_EQ(d.TreeState(2015, kRegistry), 1);
    EXPECT_EQ(d.TreeState(2015, u"This device"), 3);
    Close(d);
  });
  Run(a);
  EXPECT_EQ(TreeBuilds(), 1);
  // Leaving the page kept a copy of the descriptor.
  EXPECT_EQ(page_.GetDescriptorCopy().operationKind, kOperationBackup);
}

TEST_F(BackupPageTest, ATreeBuiltWithCardExclusionOnIsRebuiltOnceAfterItGoesOff) {
  SetOption(kOptionExcludeCards, true);
  SetOption(kOptionApplyExclusions, true);
  Automation a;
  OpenBuilt(a, [](Dialog&) {});
  // Still on: switching keeps the tree.
  a.Do([this](Automation&) { SwitchTo(1); });
  a.Do([this](Automation&) { SwitchTo(0); });
  a.Do([this](Automation&) { EXPECT_EQ(TreeBuilds(), 1); });
  a.Do([this](Automation&) {
    SetOption(kOptionApplyExclusions, false);
    SwitchTo(1);
  });
  a.Do([this](Automation&) { SwitchTo(0); });
  a.AdvanceClock(CBackupPage::kTreeTimerMs + 50);
  a.Do([this](Automation&) {
    EXPECT_EQ(TreeBuilds(), 2);
    SwitchTo(1);
  });
  a.Do([this](Automation&) { SwitchTo(0); });
  a.AdvanceClock(CBackupPage::kTreeTimerMs + 50);
  a.InDialog(Close);
  Run(a);
  EXPECT_EQ(TreeBuilds(), 2);
}

TEST_F(BackupPageTest, ARebuildRequestOnTheShownPageRebuildsAtOnceAndOnlyOnce) {
  Automation a;
  OpenBuilt(a, [this](Dialog& d) {
    EXPECT_TRUE(d.TreeCheck(2015, kRegistry));
    page_.UpdateTreeState();
  });
  a.AdvanceClock(CBackupPage::kTreeTimerMs + 50);
  a.InDialog([](Dialog& d) { EXPECT_EQ(d.TreeState(2015, kRegistry), 2) << "a rebuilt tree starts all checked"; });
  a.Do([this](Automation&) { SwitchTo(1); });
  a.Do([this](Automation&) { SwitchTo(0); });
  a.AdvanceClock(CBackupPage::kTreeTimerMs + 50);
  a.InDialog(Close);
  Run(a);
  EXPECT_EQ(TreeBuilds(), 2);
}

TEST_F(BackupPageTest, SaveDialogChoiceBecomesTheLocationAndCancelKeepsIt) {
  int calls = 0;
  page_.saveDialog = [&](ABackupFilePath& path) {
    ++calls;
    if (calls == 1) return false;
    path.Set(u"\\My Documents\\mine.pbf", false);
    return true;
  };
  Automation a;
  OpenBuilt(a, [](Dialog& d) {
    d.Click(2000);
    EXPECT_EQ(d.Text(1999), u"\\Storage Card\\Backup.pbf");
    d.Click(2000);
    EXPECT_EQ(d.Text(1999), u"\\My Documents\\mine.pbf");
    EXPECT_TRUE(d.IsEnabled(2001));
    Close(d);
  });
  Run(a);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(page_.GetLocation().GetFullPath(), CString(u"\\My Documents\\mine.pbf"));
}

TEST_F(BackupPageTest, WithoutAnyLocationTheUserIsToldAndBackupStaysOff) {
  ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  SetConfigDWORD(u"AllowBackupToMainMemory", 0);
  Automation a;
  a.OnDialog(kSheet);
  a.ExpectBox(65326, IDOK);
  a.InDialog([](Dialog& d) {
    EXPECT_FALSE(d.IsEnabled(2001));
    EXPECT_TRUE(d.IsEnabled(2000));
    EXPECT_EQ(d.Text(1999), u"");
    Close(d);
  });
  Run(a);
  ASSERT_EQ(a.Boxes().size(), 1u);
  EXPECT_NE(a.Boxes()[0].request.text.find(u"Quilmo Backup"), std::u16string::npos);
}

TEST_F(BackupPageTest, BackupFillsTheDescriptorFromTheTreeAndRestartsAtLocation2000) {
  global_.g_csTaskPassword = u"stale";
  Automation a;
  OpenBuilt(a, [](Dialog& d) {
    EXPECT_TRUE(d.TreeCheck(2015, kRegistry));
    d.Click(2001);
  });
  a.InDialog(Close);
  Run(a);
  EXPECT_EQ(page_.restarts, 1);
  EXPECT_EQ(page_.resetWarnings, 1);
  EXPECT_EQ(page_.pathAtRestart, CString(u"\\Storage Card\\Backup.pbf"));
  const OperationDescriptor& op = global_.g_Operation;
  EXPECT_EQ(op.operationKind, kOperationBackup);
  EXPECT_EQ(op.taskStartMode, kStartAtOnce);
  EXPECT_EQ(op.includeRegistry, 0);
  EXPECT_EQ(op.includeFileSystem, 1);
  EXPECT_EQ(op.hostMode, kHostModeLocal);
  EXPECT_FALSE(global_.g_bEncrypt);
  EXPECT_TRUE(global_.g_csTaskPassword.IsEmpty()) << "no password of an earlier backup is carried";
  EXPECT_EQ(RebootController::Instance().GetLocation(), RebootController::kOperationLocation);
}

TEST_F(BackupPageTest, RefusalsLeaveTheDeviceRunningAndTheLocationUntouched) {
  dev_.PutFile(u"\\Storage Card\\Backup.pbf", "old image");
  page_.resetWarningAnswer = false;
  Automation a;
  OpenBuilt(a, [](Dialog& d) {
    EXPECT_TRUE(d.TreeCheck(2015, u"This device"));
    d.Click(2001);
  });
  a.ExpectBox(57645, IDOK);
  a.InDialog([](Dialog& d) {
    EXPECT_TRUE(d.TreeCheck(2015, u"This device"));
    d.Click(2001);
  });
  a.ExpectBox(57646, IDNO);
  a.InDialog([](Dialog& d) { d.Click(2001); });
  a.ExpectBox(57646, IDYES);
  a.InDialog([](Dialog& d) {
    // The cancelled reset warning gave the Backup button the focus.
    EXPECT_EQ(GetFocus(), d.FindControl(2001));
    Close(d);
  });
  Run(a);
  ASSERT_EQ(a.Boxes().size(), 3u);
  EXPECT_EQ(a.Boxes()[0].request.style, static_cast<UINT>(MB_OK | MB_ICONSTOP));
  EXPECT_EQ(a.Boxes()[1].request.style & 0xFu, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(page_.resetWarnings, 1) << "No to the existing file stops before the warning";
  EXPECT_EQ(page_.restarts, 0);
  EXPECT_EQ(RebootController::Instance().GetLocation(), 0);
  EXPECT_EQ(dev_.ReadFile(u"\\Storage Card\\Backup.pbf"), "old image");
}

TEST_F(BackupPageTest, PasswordProtectionAsksForThePasswordAndCancelStops) {
  SetOption(kOptionEncrypt, true);
  Automation a;
  OpenBuilt(a, [](Dialog& d) { d.Click(2001); });
  a.OnDialog(231, [](Dialog& d) { d.Click(IDCANCEL); });
  a.OnDialog(kSheet, [this](Dialog& d) {
    EXPECT_EQ(page_.restarts, 0);
    EXPECT_FALSE(global_.g_bEncrypt);
    d.Click(2001);
  });
  a.OnDialog(231, [](Dialog& d) {
    d.SetText(2018, u"secret1");
    d.SetText(2021, u"secret1");
    d.Click(IDOK);
  });
  a.OnDialog(kSheet, Close);
  Run(a);
  EXPECT_EQ(page_.restarts, 1);
  EXPECT_TRUE(global_.g_bEncrypt);
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"secret1"));
  EXPECT_EQ(ce::SipFlags() & SIPF_ON, 0u) << "the input panel is down after the password";
}

TEST_F(BackupPageTest, ARequestedResetIsNotRequestedAgainButAResumedRunStartsANewOne) {
  RebootController::Instance().SetLocation(RebootController::kOperationLocation);
  Automation a;
  OpenBuilt(a, [this](Dialog& d) {
    d.Click(2001);
    EXPECT_EQ(page_.restarts, 0);
    // After a resume the location reads 2001: a new backup resets again.
    RebootController::Instance().SetLocation(RebootController::kOperationLocation + 1);
    d.Click(2001);
    Close(d);
  });
  Run(a);
  EXPECT_TRUE(a.Boxes().empty());
  EXPECT_EQ(page_.restarts, 1);
}

TEST_F(BackupPageTest, TheInputPanelLiftsTheControlsOnceAndLowersThemOnLeaving) {
  Automation a;
  OpenBuilt(a, [this](Dialog& d) {
    const RECT backup = d.Rect(2001), tree = d.Rect(2015);
    SipShowIM(SIPF_ON);
    SendMessageW(page_.m_hWnd, WM_WINDOWPOSCHANGED, 0, 0);
    SendMessageW(page_.m_hWnd, WM_WINDOWPOSCHANGED, 0, 0);
    EXPECT_EQ(d.Rect(2001).top, backup.top - 80);
    EXPECT_EQ(d.Rect(2015).bottom, tree.bottom - 80);
    EXPECT_EQ(d.Rect(2015).top, tree.top);
    SipShowIM(SIPF_OFF);
    SendMessageW(page_.m_hWnd, WM_WINDOWPOSCHANGED, 0, 0);
    EXPECT_EQ(d.Rect(2001).top, backup.top);
    EXPECT_EQ(d.Rect(2015).bottom, tree.bottom);
    Close(d);
  });
  Run(a);
}

TEST_F(BackupPageTest, WithoutPathSelectionTheEditTakesTheBrowseRoomAndATypedPath) {
  SetConfigDWORD(u"AllowBackupPathSelection", 0);
  Automation a;
  OpenBuilt(a, [this](Dialog& d) {
    EXPECT_FALSE(d.IsVisible(2000));
    EXPECT_FALSE(GetWindowLongW(d.FindControl(1999), GWL_STYLE) & ES_READONLY);
    EXPECT_EQ(d.Rect(1999).right, d.Rect(2001).right);
    d.Focus(1999);
    EXPECT_TRUE(page_.IsEditFocused());
    d.SetText(1999, u"\\My Documents\\typed");
    d.Click(2001);
    EXPECT_FALSE(page_.IsEditFocused());
    Close(d);
  });
  Run(a);
  EXPECT_EQ(page_.pathAtRestart, CString(u"\\My Documents\\typed.pbf"));
}

TEST_F(BackupPageTest, ContractWithTheResourceLibrary) {
  quilmo::test::ExpectDialogContract(CBackupPage::IDD,
                                     {{1999, u"EDIT"},
                                      {2000, u"BUTTON", 0},
                                      {2001, u"BUTTON", 1},
                                      {2002, u"BUTTON", BS_OWNERDRAW},
                                      {2015, u"SysTreeView32"},
                                      {2039, u"STATIC"},
                                      {2071, u"STATIC"}},
                                     {57679, 57688, 57690, 57645, 57646, 57733, 65038, 65306, 65326, 57660});
  HMODULE lib = GetMainResourceLibrary();
  for (const char16_t* name : {u"annotateU", u"annotateD", u"annotateF", u"annotateX"})
    EXPECT_NE(FindResourceW(lib, name, RT_BITMAP), nullptr) << ce::ToUtf8(name);
}

}  // namespace
