// The warning before a restart with its per-case switch, the reset-options
// note, and the personal-information agent dialog driven as a user would.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/tests/dlg_fixture.h"
#include "app/tests/program_on_device.h"
#include "ce/process.h"
#include "core/Localizer.h"
#include "core/ProductSettings.h"
#include "engine/CorvaneIF.h"
#include "pages/PIMPage.h"
#include "pages/ResetDialogs.h"
#include "testkit/DialogContract.h"
#include "testkit/ScopedState.h"
#include "ui/Automation.h"

using quilmo::test::ExpectDialogContract;
using ui::test::Automation;
using ui::test::Dialog;

namespace {

std::u16string TitleOf(HWND window) {
  WCHAR text[256] = {};
  const int n = GetWindowTextW(window, text, 256);
  return std::u16string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

class ResetDialogTest : public dlgtest::DialogTest {
 protected:
  static DWORD StoredWarnings() {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    DWORD value = 0xDEAD;
    return settings.ReadDWORD(kShowResetWarningValue, value) ? value : 0xDEAD;
  }
  void SetCase(bool advanced, int kind) {
    global_.g_bAdvancedMode = advanced;
    global_.g_Operation.operationKind = kind;
  }
  static void ExpectClean(const Automation& a) {
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done());
  }
};

TEST_F(ResetDialogTest, ContractsOfTheThreeDialogs) {
  ExpectDialogContract(256, {{65365, u"STATIC"}, {2201, u"BUTTON", 3}, {1, u"BUTTON", 1}, {2, u"BUTTON", 0}},
                       {65378, 65379, 57702, 57686});
  ExpectDialogContract(334, {{2220, u"STATIC"}, {1, u"BUTTON", 1}}, {136});
  ExpectDialogContract(251, {{2128, u"STATIC"}, {2096, u"STATIC"}, {2095, u"BUTTON", 3}, {1, u"BUTTON", 1}},
                       {65171, 65317, 65318, 65057, 57702});
}

TEST_F(ResetDialogTest, WithoutTheValueEveryCaseWarnsAndEachCaseHasItsBit) {
  for (bool advanced : {false, true})
    for (int kind : {kOperationBackup, kOperationRestore}) {
      SetCase(advanced, kind);
      EXPECT_TRUE(ShouldShowResetWarning()) << advanced << " " << kind;
    }
  EXPECT_EQ(ResetWarningBit(false, kOperationBackup), 1u);
  EXPECT_EQ(ResetWarningBit(false, kOperationRestore), 2u);
  EXPECT_EQ(ResetWarningBit(true, kOperationBackup), 4u);
  EXPECT_EQ(ResetWarningBit(true, kOperationRestore), 8u);

  ABackupRegistrySettings settings(kSettingsKeyKind);
  ASSERT_TRUE(settings.WriteDWORD(kShowResetWarningValue, 0x2 | 0x8 | 0x30));  // stray high bits
  SetCase(false, kOperationBackup);
  EXPECT_FALSE(ShouldShowResetWarning());
  SetCase(true, kOperationRestore);
  EXPECT_TRUE(ShouldShowResetWarning());
  ClearResetWarning();
  EXPECT_EQ(StoredWarnings(), 0x2u);
}

TEST_F(ResetDialogTest, TurningTheWarningOffBeforeABasicBackupClearsOnlyItsBit) {
  SetCase(false, kOperationBackup);
  ASSERT_TRUE(ShouldShowResetWarning());
  Automation a;
  a.OnDialog(ResetNotificationDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(TitleOf(d.Hwnd()), GetApplicationName().view());
    EXPECT_EQ(d.Text(65365), Localizer::LoadResString(65379).view());
    EXPECT_EQ(d.Text(2201), Localizer::LoadResString(65378).view());
    EXPECT_TRUE(d.IsVisible(2201));
    d.SetCheck(2201, BST_CHECKED);
    d.Click(IDOK);
  });
  ResetNotificationDlg dialog(kOperationBackup);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_TRUE(dialog.IsWarningOff());
  EXPECT_EQ(StoredWarnings(), 14u);
  EXPECT_FALSE(ShouldShowResetWarning());
  SetCase(true, kOperationBackup);
  EXPECT_TRUE(ShouldShowResetWarning());
}

TEST_F(ResetDialogTest, ARestoreWarningOffersNoSwitchAndCancelChangesNothing) {
  SetCase(true, kOperationRestore);
  Automation a;
  a.OnDialog(ResetNotificationDlg::IDD, [](Dialog& d) {
    EXPECT_FALSE(d.IsVisible(2201));
    d.Click(IDCANCEL);
  });
  a.OnDialog(ResetNotificationDlg::IDD, [](Dialog& d) {
    // A box that the page checked before it was hidden counts for nothing.
    CheckDlgButton(d.Hwnd(), 2201, BST_CHECKED);
    d.Click(IDOK);
  });
  ResetNotificationDlg cancelled(kOperationRestore);
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  ResetNotificationDlg accepted(kOperationRestore);
  EXPECT_EQ(accepted.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_EQ(StoredWarnings(), 0xDEADu);
}

TEST_F(ResetDialogTest, TheResetOptionsNoteShowsItsTextUnderTheApplicationName) {
  Automation a;
  a.OnDialog(CResetOptionsDisplayDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(TitleOf(d.Hwnd()), GetApplicationName().view());
    EXPECT_EQ(d.Text(2220), Localizer::LoadResString(136).view());
    d.Click(IDOK);
  });
  EXPECT_EQ(RunResetOptionsDisplayDialog(nullptr), IDOK);
  ExpectClean(a);
}

// ------------------------------------------------------------- PIM agent

class PimDialogTest : public ResetDialogTest {
 protected:
  PimDialogTest() : program_(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe") {}
  ~PimDialogTest() override {
    if (agent_) {
      TerminateProcess(agent_, 0);
      CloseHandle(agent_);
    }
  }
  // A window program named as the agent that quits on both quit messages.
  void StartAgent() {
    const std::u16string path = u"\\Windows\\Lissent.exe";
    quilmo::test::CopyToDevice(dev_, quilmo::test::BinFile("closable"), path, true);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(path.c_str(), u"quit-on=QuilmoCorvaneQuit quit-on=QuilmoLissentQuit", nullptr,
                               nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi));
    CloseHandle(pi.hThread);
    agent_ = pi.hProcess;
    for (int i = 0; i < 500 && !FindWindowW(nullptr, u"Lissent.exe"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(ACorvaneIF::IsRunning());
  }
  static DWORD OnStartup() {
    ABackupRegistrySettings s(kSettingsKeyKind, ACorvaneIF::kSubkey);
    DWORD value = 0xDEAD;
    return s.ReadDWORD(ACorvaneIF::kOnStartupValue, value) ? value : 0xDEAD;
  }

  quilmo::test::ScopedOwnProgram program_;
  HANDLE agent_ = nullptr;
};

TEST_F(PimDialogTest, TheBoxStartsTheAgentAndStopsItOnlyWhenTheUserSaysYes) {
  {
    ABackupRegistrySettings s(kSettingsKeyKind, ACorvaneIF::kSubkey);
    ASSERT_TRUE(s.WriteDWORD(ACorvaneIF::kOnStartupValue, 0));
  }
  StartAgent();
  Automation a;
  a.OnDialog(CPIMPage::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), Localizer::LoadResString(65171).view());
    EXPECT_EQ(d.Text(2096), Localizer::LoadResString(65317).view());
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2095, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    d.Click(2095);  // on: the running agent is kept, start-at-boot stored
  });
  a.Do([](Automation&) { EXPECT_EQ(OnStartup(), 1u); });
  a.InDialog([](Dialog& d) { d.Click(2095); });
  a.ExpectBox(65057, IDNO);
  a.InDialog([&](Dialog& d) {
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2095, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(OnStartup(), 1u);
    EXPECT_EQ(WaitForSingleObject(agent_, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    d.Click(2095);
  });
  a.ExpectBox(65057, IDYES);
  a.InDialog([](Dialog& d) {
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2095, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    d.Click(IDOK);
  });
  EXPECT_EQ(RunPIMDialog(nullptr), IDOK);
  ExpectClean(a);
  ASSERT_EQ(a.Boxes().size(), 2u);
  EXPECT_EQ(a.Boxes()[0].request.style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
  EXPECT_EQ(OnStartup(), 0u);
  EXPECT_EQ(WaitForSingleObject(agent_, 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the agent was not stopped";
}

TEST_F(PimDialogTest, TheBoxOpensCheckedWhenTheAgentStartsWithTheDevice) {
  {
    ABackupRegistrySettings s(kSettingsKeyKind, ACorvaneIF::kSubkey);
    ASSERT_TRUE(s.WriteDWORD(ACorvaneIF::kOnStartupValue, 1));
  }
  Automation a;
  a.OnDialog(CPIMPage::IDD, [](Dialog& d) {
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2095, BM_GETCHECK, 0, 0), BST_CHECKED);
    d.Click(IDOK);
  });
  EXPECT_EQ(RunPIMDialog(nullptr), IDOK);
  ExpectClean(a);
}

}  // namespace
