// The main sheet's pages and the dialogs the pages and the menu open fit the
// screen they open on and the screen they are turned to: portrait and
// landscape, scale 1 and 2. Every visible control lies inside the client
// area of its window (a page's controls inside the page, the page inside
// the sheet above its buttons) and on the screen.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/ConfirmScheduledBackupDlg.h"
#include "app/PasswordDlg.h"
#include "app/TaskProgressDlg.h"
#include "app/tests/dlg_fixture.h"
#include "core/RegistrySettings.h"
#include "engine/ImagingTask.h"
#include "engine/Operation.h"
#include "layout_check.h"
#include "pages/BackupOptionDialogs.h"
#include "pages/FileDialogs.h"
#include "pages/MainSheet.h"
#include "pages/PIMPage.h"
#include "pages/ResetDialogs.h"
#include "pages/RestorePage.h"
#include "pages/VersionDialogs.h"
#include "testkit/TaskSetup.h"
#include "ui/Automation.h"
#include "ui/Loop.h"
#include "ui/ScreenFile.h"

namespace {

using ui::test::Automation;
using ui::test::Dialog;

struct Screen {
  int width;
  int height;
};

class ScreenLayoutTest : public dlgtest::DialogTest, public ::testing::WithParamInterface<Screen> {
 protected:
  ScreenLayoutTest() : dlgtest::DialogTest(GetParam().width, GetParam().height) {
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\My Documents");
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
  }

  static void ExpectFits(HWND window, const std::string& where) {
    for (const std::string& fault : layouttest::Misplaced(window)) ADD_FAILURE() << where << ": " << fault;
  }

  // Opens the dialog, checks it, turns the screen, checks again, closes it
  // with closeId.
  void CheckBothWays(int templateId, const std::function<INT_PTR()>& run, int closeId = IDCANCEL) {
    Automation a;
    a.OnDialog(templateId, [&](Dialog& d) {
      ExpectFits(d.Hwnd(), "as opened");
      Rotate(d.Hwnd());
      ExpectFits(d.Hwnd(), "turned");
      ::EndDialog(d.Hwnd(), closeId);
    });
    run();
    for (const auto& f : a.Failures()) ADD_FAILURE() << f;
    EXPECT_TRUE(a.Done());
  }

  // The sheet on the page: the sheet's controls, the page's, after the
  // sheet's start timer, and again after a turn of the screen.
  void CheckPage(bool advanced, CPropertyPage& (*pageOf)(CImagingPropertySheet&)) {
    global_.g_bAdvancedMode = advanced;
    CImagingPropertySheet sheet(u"Quilmo Backup", nullptr, false);
    auto check = [&](const std::string& where) {
      ExpectFits(sheet.m_hWnd, where + ", the sheet");
      CPropertyPage& page = pageOf(sheet);
      ASSERT_NE(page.m_hWnd, nullptr) << where;
      ExpectFits(page.m_hWnd, where + ", the page");
    };
    Automation a;
    a.OnDialog(CImagingPropertySheet::kSheetId);
    a.AdvanceClock(1500);  // the first activation, the tab timer, the Backup page's tree
    a.Do([&](Automation&) { EXPECT_TRUE(sheet.SetActivePage(&pageOf(sheet))); });
    a.Do([&](Automation&) {
      check("as opened");
      Rotate(sheet.m_hWnd);
      check("turned");
      sheet.EndDialog(IDCANCEL);
    });
    sheet.DoModal();
    for (const auto& f : a.Failures()) ADD_FAILURE() << f;
    EXPECT_TRUE(a.Done());
  }
};

TEST_P(ScreenLayoutTest, BasicPage) {
  CheckPage(false, [](CImagingPropertySheet& s) -> CPropertyPage& { return s.m_BasicPage; });
}

TEST_P(ScreenLayoutTest, BackupPage) {
  CheckPage(true, [](CImagingPropertySheet& s) -> CPropertyPage& { return s.m_BackupPage; });
}

TEST_P(ScreenLayoutTest, RestorePage) {
  CheckPage(true, [](CImagingPropertySheet& s) -> CPropertyPage& { return s.m_RestorePage; });
}

// The pages' annotation buttons show their pictures: the screen file holds
// an image drawn into each of them.
TEST_P(ScreenLayoutTest, AnnotationButtonsShowTheirPictures) {
  global_.g_bAdvancedMode = true;
  CImagingPropertySheet sheet(u"Quilmo Backup", nullptr, false);
  auto expectPicture = [&](int id) {
    ui::PumpMessages();
    const std::string screen = ui::FormatScreen();
    const size_t at = screen.find("id=\"" + std::to_string(id) + "\"");
    ASSERT_NE(at, std::string::npos) << id;
    const size_t next = screen.find("<control", at);
    EXPECT_NE(screen.substr(at, next - at).find("<draw kind=\"image\""), std::string::npos)
        << "button " << id << ": " << screen.substr(at, next - at);
  };
  Automation a;
  a.OnDialog(CImagingPropertySheet::kSheetId);
  a.AdvanceClock(1500);
  a.Do([&](Automation&) { expectPicture(CBackupPage::kAnnotationId); });
  a.Do([&](Automation&) { EXPECT_TRUE(sheet.SetActivePage(&sheet.m_RestorePage)); });
  a.Do([&](Automation&) {
    expectPicture(CRestorePage::kAnnotationId);
    sheet.EndDialog(IDCANCEL);
  });
  sheet.DoModal();
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_TRUE(a.Done());
}

TEST_P(ScreenLayoutTest, PasswordDialog) {
  CheckBothWays(CPasswordDlg::kTemplateId, [] {
    CPasswordDlg dlg;
    return dlg.DoModal();
  });
}

TEST_P(ScreenLayoutTest, TaskProgressDialog) {
  quilmo::test::PrepareBackupOperation(global_, IncludedKinds{true, false, false, false}, u"\\temp\\layout.pbf",
                                       CString());
  CheckBothWays(CTaskProgressDlg::kTemplateId, [&] {
    CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
    AImagingTaskClient task(global_.g_Operation, &dlg);
    dlg.SetTask(&task);
    return dlg.DoModal();
  });
}

TEST_P(ScreenLayoutTest, ConfirmScheduledBackupDialog) {
  CheckBothWays(ConfirmScheduledBackupDlg::kTemplateId, [] {
    ConfirmScheduledBackupDlg dlg;
    return dlg.DoModal();
  });
}

TEST_P(ScreenLayoutTest, BackupOptionDialogs) {
  CheckBothWays(CBackupOptionsPage::IDD, [&] {
    CBackupOptionsPage dlg(global_.g_BackupOptions.GetBlock());
    return dlg.DoModal();
  });
  CheckBothWays(CAdvancedOptDlg::IDD, [] {
    CAdvancedOptDlg dlg;
    return dlg.DoModal();
  });
  CheckBothWays(CAnnotationDlg::IDD, [] {
    CAnnotationDlg dlg(1);
    return dlg.DoModal();
  });
  CheckBothWays(CAddExclusionDlg::IDD, [] {
    CAddExclusionDlg dlg;
    return dlg.DoModal();
  });
}

TEST_P(ScreenLayoutTest, RestoreOptionsDialog) {
  CheckBothWays(CRestoreOptionsPage::IDD, [] {
    CRestoreOptionsPage dlg(1, 1, 0, 0);
    return dlg.DoModal();
  });
}

TEST_P(ScreenLayoutTest, FileDialogs) {
  CheckBothWays(CNewOpenDlg::IDD, [] {
    CNewOpenDlg dlg;
    return dlg.DoModal();
  });
  CheckBothWays(CNewSaveDlg::IDD, [] {
    ABackupFilePath path;
    path.Set(u"\\My Documents\\Backup.pbf", false);
    CNewSaveDlg dlg(path, true, false, true);
    return dlg.DoModal();
  });
}

TEST_P(ScreenLayoutTest, ResetAndPimDialogs) {
  // The agent's start setting as its installation leaves it.
  ABackupRegistrySettings agent(kSettingsKeyKind, u"Lissent");
  ASSERT_TRUE(agent.WriteDWORD(u"bOnStartup", 1));
  CheckBothWays(ResetNotificationDlg::IDD, [] {
    ResetNotificationDlg dlg(kOperationBackup);
    return dlg.DoModal();
  });
  CheckBothWays(
      CResetOptionsDisplayDlg::IDD,
      [] {
        CResetOptionsDisplayDlg dlg;
        return dlg.DoModal();
      },
      IDOK);
  CheckBothWays(
      CPIMPage::IDD,
      [] {
        CPIMPage dlg;
        return dlg.DoModal();
      },
      IDOK);
}

TEST_P(ScreenLayoutTest, VersionUpgradeAndHistoryDialogs) {
  CheckBothWays(
      CVersionPage::IDD,
      [] {
        CVersionPage dlg;
        return dlg.DoModal();
      },
      IDOK);
  CheckBothWays(CUpgradeDataDlg::IDD, [] {
    CUpgradeDataDlg dlg;
    return dlg.DoModal();
  });
  CheckBothWays(
      CViewBackupHistoryDlg::IDD,
      [] {
        CViewBackupHistoryDlg dlg;
        return dlg.DoModal();
      },
      IDOK);
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenLayoutTest,
                         ::testing::Values(Screen{240, 320}, Screen{320, 240}, Screen{480, 640}, Screen{640, 480}),
                         [](const ::testing::TestParamInfo<Screen>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

}  // namespace
