// A property sheet with a menu bar, tabs and pickers made over template
// placeholders, driven through the automation actions a person has.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cesim/menubar.h"
#include "mfc_test_support.h"
#include "sheet_test_support.h"
#include "ui/Automation.h"

namespace {

using namespace mfctest;
using namespace sheettest;

constexpr int kPage1 = 630, kPage2 = 631, kDate = 2022, kTime = 2023, kLabel = 2030;

class PickerPage : public CPropertyPage {
 public:
  explicit PickerPage(UINT id) : CPropertyPage(id) {}
  bool refuseKill = false;
  std::vector<UINT> notes;
  CDateTimeCtrl date, time;
  BOOL OnInitDialog() override {
    CPropertyPage::OnInitDialog();
    if (GetDlgItem(kDate) != nullptr) {
      EXPECT_TRUE(date.CreateOver(this, kDate));
      EXPECT_TRUE(time.CreateOver(this, kTime, DTS_TIMEFORMAT));
      EXPECT_TRUE(time.SetFormat(u"HH:mm"));
    }
    return TRUE;
  }
  BOOL OnKillActive() override { return refuseKill ? FALSE : CPropertyPage::OnKillActive(); }
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    notes.push_back(reinterpret_cast<const NMHDR*>(lParam)->code);
    return CPropertyPage::OnNotify(wParam, lParam, result);
  }
};

class MenuSheet : public CPropertySheet {
 public:
  MenuSheet(HMODULE bars) : CPropertySheet(u"Sheet"), bars_(bars) {}
  std::vector<int> commands;
  HWND bar = nullptr;
  BOOL OnInitDialog() override {
    CPropertySheet::OnInitDialog();
    SHMENUBARINFO mb{};
    mb.cbSize = sizeof mb;
    mb.hwndParent = m_hWnd;
    mb.nToolBarId = kBar;
    mb.hInstRes = bars_;
    EXPECT_TRUE(SHCreateMenuBar(&mb));
    bar = mb.hwndMB;
    RecalcLayout();
    return TRUE;
  }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (HIWORD(wParam) == 0 && lParam == 0) commands.push_back(LOWORD(wParam));
    return CPropertySheet::OnCommand(wParam, lParam);
  }

 private:
  HMODULE bars_;
};

class MfcMenu : public ::testing::Test {
 protected:
  quilmo::test::TestDevice device;
  ResourceModule res{device,
                     {Dlg(kPage1, 220, 120, u"Pickers",
                          {Ctl(kLabel, u"STATIC", 4, 0, u"When"), Ctl(kDate, u"SysDateTimePick32", 24, WS_TABSTOP),
                           Ctl(kTime, u"STATIC", 44, WS_TABSTOP), Ctl(IDC_STATIC_LAST, u"STATIC", 64, 0, u"end")}),
                      Dlg(kPage2, 220, 120, u"Other", {Ctl(kLabel, u"STATIC", 4, 0, u"Two")})},
                     {}};
  BarModule bars{device};
  static constexpr int IDC_STATIC_LAST = 2031;
};

TEST_F(MfcMenu, SheetMenuTabsAndPickersAnswerAPersonsActions) {
  PickerPage p1(kPage1), p2(kPage2);  // outlive the sheet that holds them
  MenuSheet sheet(bars.get());
  sheet.AddPage(&p1);
  sheet.AddPage(&p2);
  std::vector<std::string> failures;
  auto person = [&] { return ui::test::Dialog(sheet.m_hWnd, [&](const std::string& f) { failures.push_back(f); }); };
  Steps steps;
  steps.Then([&] {
         ASSERT_NE(sheet.bar, nullptr);
         // OK and Cancel and the page stand above the bar.
         RECT bar{}, ok{}, page{};
         GetWindowRect(sheet.bar, &bar);
         GetWindowRect(GetDlgItem(sheet.m_hWnd, IDOK), &ok);
         p1.GetWindowRect(&page);
         EXPECT_LE(ok.bottom, bar.top);
         EXPECT_LE(page.bottom, bar.top);

         // The placeholders became pickers in their place.
         HWND time = GetDlgItem(p1.m_hWnd, kTime);
         ASSERT_EQ(time, p1.time.m_hWnd);
         WCHAR cls[32];
         GetClassNameW(time, cls, 32);
         EXPECT_EQ(std::u16string(cls), u"SysDateTimePick32");
         EXPECT_EQ(GetWindow(GetDlgItem(p1.m_hWnd, kDate), GW_HWNDNEXT), time);  // tab order kept
         EXPECT_EQ(GetWindowLongW(time, GWL_STYLE) & DTS_TIMEFORMAT, static_cast<LONG>(DTS_TIMEFORMAT));
         EXPECT_NE(GetWindowLongW(time, GWL_STYLE) & WS_TABSTOP, 0);
         RECT tr{}, lr{};
         GetWindowRect(time, &tr);
         GetWindowRect(GetDlgItem(p1.m_hWnd, kLabel), &lr);
         EXPECT_EQ(tr.left, lr.left);
         EXPECT_EQ(tr.right - tr.left, lr.right - lr.left);
         EXPECT_FALSE(p1.date.CreateOver(&p1, 4711));  // no placeholder: nothing made

         ui::test::Dialog d = person();
         SYSTEMTIME when{};
         when.wHour = 7;
         when.wMinute = 5;
         EXPECT_TRUE(d.SetDateTime(kTime, when, false, true));
         CString shown;
         p1.time.GetWindowText(shown);
         EXPECT_EQ(shown.str(), u"07:05");
         EXPECT_EQ(p1.notes, std::vector<UINT>{DTN_DATETIMECHANGE});
         SYSTEMTIME feb{};
         feb.wYear = 2027;
         feb.wMonth = 2;
         feb.wDay = 29;  // no such day: refused, the picker keeps its value
         EXPECT_FALSE(d.SetDateTime(kDate, feb, true, false));

         // Through the menu bar to a command in a submenu.
         EXPECT_TRUE(d.PickMenu(kDeep));
       })
      .Then([&] {
        EXPECT_EQ(sheet.commands, std::vector<int>{kDeep});
        ui::test::Dialog d = person();
        std::string menu;
        ASSERT_TRUE(d.MenuOf(kMenuButton, &menu));
        EXPECT_EQ(menu, "100:About|-|>More{101:Deep}|102:Other");
        // Rebuilt at run time through CMenu, as a sheet does on a mode change.
        CMenu* m = CMenu::FromHandle(reinterpret_cast<HMENU>(SendMessageW(sheet.bar, SHCMBM_GETSUBMENU, 0, kMenuButton)));
        ASSERT_NE(m, nullptr);
        m->DeleteAllItems();
        CMenu sub;
        ASSERT_TRUE(sub.CreatePopupMenu());
        sub.AppendMenu(MF_STRING, 201, u"Inner");
        m->AppendMenu(MF_POPUP, reinterpret_cast<UINT_PTR>(sub.Detach()), u"Group");
        m->AppendMenu(MF_SEPARATOR);
        m->AppendMenu(MF_STRING | MF_GRAYED, 202, u"Off");
        ASSERT_TRUE(d.MenuOf(kMenuButton, &menu));
        EXPECT_EQ(menu, ">Group{201:Inner}|-|202:Off(off)");
        EXPECT_EQ(m->GetSubMenu(0)->GetMenuItemID(0), 201u);
        // A disabled or missing command fails, and the menus close again.
        EXPECT_FALSE(d.PickMenu(202));
        EXPECT_FALSE(d.PickMenu(4711));
        ASSERT_EQ(failures.size(), 3u);
        EXPECT_EQ(failures[1], "menu 202: \"Off\" is disabled");
        EXPECT_EQ(failures[2], "menu 4711: no such entry on the menu bar");
        ce::MenuBarView v;
        ASSERT_TRUE(ce::DescribeMenuBar(sheet.bar, &v));
        EXPECT_TRUE(v.panes.empty());
        EXPECT_TRUE(d.PickMenu(201));
        // Tabs: a tap on the second tab; a page that refuses keeps it.
        EXPECT_TRUE(d.ChooseTab(1));
        EXPECT_EQ(sheet.GetActivePage(), &p2);
        p2.refuseKill = true;
        EXPECT_FALSE(d.ChooseTab(0));
        EXPECT_EQ(sheet.GetActivePage(), &p2);
        EXPECT_FALSE(d.ChooseTab(5));
        p2.refuseKill = false;
      })
      .Then([&] {
        EXPECT_EQ(sheet.commands, (std::vector<int>{kDeep, 201}));
        Click(sheet.m_hWnd, IDOK);
      });
  EXPECT_EQ(sheet.DoModal(), IDOK);
  EXPECT_EQ(failures.size(), 5u);
}

TEST_F(MfcMenu, MenuObjectsDestroyWhatTheyOwnOnly) {
  HMENU kept = nullptr, owned = nullptr;
  {
    CMenu a;
    ASSERT_TRUE(a.CreatePopupMenu());
    owned = a.m_hMenu;
    CMenu b;
    ASSERT_TRUE(b.CreatePopupMenu());
    kept = b.Detach();
    EXPECT_FALSE(a.Attach(kept));  // already holds one
    CMenu* view = CMenu::FromHandle(kept);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(CMenu::FromHandle(kept), view);
    EXPECT_EQ(CMenu::FromHandle(nullptr), nullptr);
    view->AppendMenu(MF_STRING, 5, u"Five");
    CString text;
    EXPECT_EQ(view->GetMenuString(5, text, MF_BYCOMMAND), 4);
    EXPECT_EQ(text.str(), u"Five");
  }
  EXPECT_FALSE(IsMenu(owned));
  EXPECT_TRUE(IsMenu(kept));
  DestroyMenu(kept);
}

}  // namespace
