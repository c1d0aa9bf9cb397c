// Every option dialog fits the screen it opens on and the screen it is
// turned to: portrait and landscape, scale 1 and 2. A control that ends up
// outside the dialog could not be reached by a tap.
#include <functional>
#include <memory>
#include <string>

#include "layout_check.h"
#include "option_fixture.h"
#include "pages/ConnectionPage.h"
#include "pages/ExclusionOptionsPage.h"
#include "pages/FileManagementDlg.h"
#include "pages/AboutPage.h"
#include "pages/MerrowPage.h"
#include "pages/NetworkShareManagerDlg.h"
#include "pages/SchedulePage.h"

namespace {

using namespace optiontest;

struct Screen {
  int width;
  int height;
};

class OptionLayoutTest : public dlgtest::DialogTest, public ::testing::WithParamInterface<Screen> {
 protected:
  OptionLayoutTest() : dlgtest::DialogTest(GetParam().width, GetParam().height) {
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\My Documents");
  }

  // Every visible control of the dialog lies inside its client area and on
  // the screen.
  static void ExpectInside(Dialog& d, const std::string& where) {
    for (const std::string& fault : layouttest::Misplaced(d.Hwnd())) ADD_FAILURE() << where << ": " << fault;
  }

  // Opens the dialog, checks it, turns the screen, checks again.
  void CheckBothWays(int templateId, const std::function<INT_PTR()>& run) {
    Automation a;
    a.OnDialog(templateId, [&](Dialog& d) {
      ExpectInside(d, "as opened");
      Rotate(d.Hwnd());
      ExpectInside(d, "turned");
      d.Click(IDCANCEL);
    });
    EXPECT_EQ(run(), IDCANCEL);
    for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  }
};

TEST_P(OptionLayoutTest, MerrowPage) {
  CheckBothWays(CMerrowPage::IDD, [] {
    CMerrowPage dlg;
    return dlg.DoModal();
  });
}

TEST_P(OptionLayoutTest, ExclusionOptionsPage) {
  CheckBothWays(CExclusionOptionsPage::IDD, [&] {
    CExclusionOptionsPage dlg(global_.g_BackupOptions.GetBlock());
    return dlg.DoModal();
  });
}

TEST_P(OptionLayoutTest, FileManagementDlg) {
  CheckBothWays(CFileManagementDlg::IDD, [&] {
    CFileManagementDlg dlg(global_.g_BackupOptions.GetBlock());
    return dlg.DoModal();
  });
}

TEST_P(OptionLayoutTest, ConnectionPage) {
  CheckBothWays(CConnectionPage::IDD, [] {
    CConnectionPage dlg;
    return dlg.DoModal();
  });
}

TEST_P(OptionLayoutTest, SchedulePages) {
  CheckBothWays(CSchedulePage::IDD, [] {
    CSchedulePage dlg;
    return dlg.DoModal();
  });
  CheckBothWays(CScheduleChangePage::IDD, [] {
    CScheduleChangePage dlg;
    return dlg.DoModal();
  });
}

TEST_P(OptionLayoutTest, NetworkShareManagerDlg) {
  CheckBothWays(CNetworkShareManagerDlg::IDD, [] {
    CNetworkShareManagerDlg dlg;
    return dlg.DoModal();
  });
}

TEST_P(OptionLayoutTest, AboutPage) {
  Automation a;
  a.OnDialog(CAboutPage::IDD, [&](Dialog& d) {
    ExpectInside(d, "as opened");
    Rotate(d.Hwnd());
    ExpectInside(d, "turned");
    d.Click(IDOK);
  });
  CAboutPage dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
}

INSTANTIATE_TEST_SUITE_P(Screens, OptionLayoutTest,
                         ::testing::Values(Screen{240, 320}, Screen{320, 240}, Screen{480, 640}, Screen{640, 480}),
                         [](const ::testing::TestParamInfo<Screen>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

}  // namespace
