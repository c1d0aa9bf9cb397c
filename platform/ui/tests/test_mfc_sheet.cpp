// Property sheets: page creation on first activation, one visible page,
// set/kill active, refusing a switch, OK and Cancel reaching the pages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cesim/window.h"
#include "mfc_test_support.h"

namespace {

using namespace mfctest;

constexpr int kPage1 = 620, kPage2 = 621, kEdit1 = 100, kEdit2 = 200, kCaption2 = 3000;

class Page : public CPropertyPage {
 public:
  Page(UINT id, UINT caption, int edit, std::vector<std::string>* log, const char* name)
      : CPropertyPage(id, caption), edit_(edit), log_(log), name_(name) {}
  CString text;
  bool refuseKill = false;
  BOOL OnSetActive() override {
    log_->push_back(name_ + " set");
    return CPropertyPage::OnSetActive();
  }
  BOOL OnKillActive() override {
    log_->push_back(name_ + " kill");
    if (refuseKill) return FALSE;
    return CPropertyPage::OnKillActive();
  }
  BOOL OnApply() override {
    log_->push_back(name_ + " apply");
    return CPropertyPage::OnApply();
  }
  void OnReset() override { log_->push_back(name_ + " reset"); }
  void DoDataExchange(CDataExchange* dx) override { DDX_Text(dx, edit_, text); }

 private:
  int edit_;
  std::vector<std::string>* log_;
  std::string name_;
};

class MfcSheet : public ::testing::Test {
 protected:
  quilmo::test::TestDevice device;
  ResourceModule res{device,
                     {Dlg(kPage1, 200, 100, u"First", {Ctl(kEdit1, u"EDIT", 4, WS_TABSTOP)}),
                      Dlg(kPage2, 220, 130, u"ignored", {Ctl(kEdit2, u"EDIT", 4, WS_TABSTOP)})},
                     {{kCaption2, u"Second"}}};
  std::vector<std::string> log;
  Page p1{kPage1, 0, kEdit1, &log, "p1"};
  Page p2{kPage2, kCaption2, kEdit2, &log, "p2"};
};

TEST_F(MfcSheet, PagesSwitchWithSetAndKillActiveAndOkAppliesThem) {
  CPropertySheet sheet(u"Options");
  sheet.AddPage(&p1);
  sheet.AddPage(&p2);
  EXPECT_EQ(sheet.GetPageCount(), 2);
  Steps steps;
  steps.Then([&] {
         ASSERT_NE(sheet.m_hWnd, nullptr);
         CString title;
         sheet.GetWindowText(title);
         EXPECT_EQ(title.str(), u"Options");
         CTabCtrl* tab = sheet.GetTabControl();
         EXPECT_EQ(tab->GetItemCount(), 2);
         EXPECT_EQ(tab->GetItemText(0).str(), u"First");
         EXPECT_EQ(tab->GetItemText(1).str(), u"Second");
         EXPECT_EQ(sheet.GetActivePage(), &p1);
         EXPECT_EQ(p2.m_hWnd, nullptr);  // made when first shown
         EXPECT_TRUE(p1.IsWindowVisible());
         // Pages are children of the sheet and sit below the tab strip.
         EXPECT_TRUE(IsChild(sheet.m_hWnd, p1.m_hWnd));
         RECT tr{}, pr{};
         tab->GetWindowRect(&tr);
         p1.GetWindowRect(&pr);
         EXPECT_GE(pr.top, tr.bottom);
         SetDlgItemTextW(p1.m_hWnd, kEdit1, u"one");
         EXPECT_TRUE(sheet.SetActivePage(1));
       })
      .Then([&] {
        EXPECT_EQ(sheet.GetActiveIndex(), 1);
        EXPECT_EQ(sheet.GetTabControl()->GetCurSel(), 1);
        EXPECT_FALSE(p1.IsWindowVisible());
        EXPECT_TRUE(p2.IsWindowVisible());
        EXPECT_EQ(p1.text.str(), u"one");  // saved by its OnKillActive
        SetDlgItemTextW(p2.m_hWnd, kEdit2, u"two");
        // A page that refuses to be left keeps the sheet where it is.
        p2.refuseKill = true;
        EXPECT_FALSE(sheet.SetActivePage(0));
        EXPECT_EQ(sheet.GetActiveIndex(), 1);
        p2.refuseKill = false;
        // A click on the first tab switches back (the tab strip asks the sheet).
        CTabCtrl* tab = sheet.GetTabControl();
        int x = 2;
        while (x < 400 && tab->HitTest(POINT{x, 5}) != 0) ++x;
        ASSERT_EQ(tab->HitTest(POINT{x, 5}), 0);
        SendMessageW(tab->m_hWnd, WM_LBUTTONDOWN, 0, MAKELPARAM(x, 5));
        EXPECT_EQ(sheet.GetActivePage(), &p1);
        EXPECT_TRUE(p1.IsWindowVisible());
        EXPECT_FALSE(p2.IsWindowVisible());
        EXPECT_EQ(p2.text.str(), u"two");
        // OK saves only the active page; the other one was saved when left.
        SetDlgItemTextW(p2.m_hWnd, kEdit2, u"lost");
        Click(sheet.m_hWnd, IDOK);
      });
  EXPECT_EQ(sheet.DoModal(), IDOK);
  std::vector<std::string> want{"p1 set", "p1 kill", "p2 set", "p2 kill", "p2 kill", "p1 set",
                                "p1 kill", "p1 apply", "p2 apply"};
  EXPECT_EQ(log, want);
  EXPECT_EQ(p2.text.str(), u"two");
  EXPECT_EQ(p1.m_hWnd, nullptr);
  EXPECT_EQ(p2.m_hWnd, nullptr);
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
}

TEST_F(MfcSheet, CancelResetsTheMadePagesOnlyAndRemovePageMovesTheSelection) {
  CPropertySheet sheet(u"Options", nullptr, 1);
  sheet.AddPage(&p1);
  sheet.AddPage(&p2);
  sheet.SetSheetId(640);
  Steps steps;
  steps.Then([&] {
    EXPECT_EQ(ce::GetDialogTemplateId(sheet.m_hWnd), 640);  // the sheet answers to its id
    EXPECT_EQ(sheet.GetActivePage(), &p2);
    EXPECT_EQ(p1.m_hWnd, nullptr);
    sheet.RemovePage(&p2);
    EXPECT_EQ(sheet.GetPageCount(), 1);
    EXPECT_EQ(sheet.GetActivePage(), &p1);
    EXPECT_TRUE(p1.IsWindowVisible());
    EXPECT_EQ(sheet.GetTabControl()->GetItemCount(), 1);
    log.clear();
    Click(sheet.m_hWnd, IDCANCEL);
  });
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(log, std::vector<std::string>{"p1 reset"});
}

TEST_F(MfcSheet, APageThatEndsFirstLeavesItsSheet) {
  CPropertySheet sheet(u"Options");
  sheet.AddPage(&p1);
  {
    Page gone{kPage2, kCaption2, kEdit2, &log, "gone"};
    sheet.AddPage(&gone);
    EXPECT_EQ(sheet.GetPageCount(), 2);
  }
  // As a sheet whose pages are its members ends: the pages go first, and
  // the sheet's own end touches none of them.
  ASSERT_EQ(sheet.GetPageCount(), 1);
  EXPECT_EQ(sheet.GetPage(0), &p1);
}

}  // namespace
