// UI-script steps on a list view: rows tapped, double-tapped, activated and
// read, by index or by label, in a dialog made from a template.
#include <gtest/gtest.h>

#include "ce/commctrl.h"
#include "ce/dialog.h"
#include "script_load.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"

namespace {

constexpr int kTemplate = 600, kList = 2106, kOpen = 140;

struct Chosen {
  int clicked = -2;     // the row NM_CLICK named last
  int activated = -1;   // the row LVN_ITEMACTIVATE named last
  int doubleTaps = 0;
};
Chosen* g_chosen = nullptr;

INT_PTR ListDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      HWND list = GetDlgItem(dlg, kList);
      const char16_t* names[] = {u"alpha.pbf", u"beta.pbf", u"gamma.pbf"};
      const char16_t* sizes[] = {u"1b", u"2.0k", u"3.00m"};
      LVCOLUMNW col{LVCF_TEXT | LVCF_WIDTH, 0, 120, const_cast<LPWSTR>(u"Name"), 0, 0, 0, 0};
      SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
      col.pszText = const_cast<LPWSTR>(u"Size");
      col.cx = 60;
      SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
      for (int i = 0; i < 3; ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = i;
        item.pszText = const_cast<LPWSTR>(names[i]);
        item.lParam = 10 + i;
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 1;
        item.pszText = const_cast<LPWSTR>(sizes[i]);
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
      }
      EnableWindow(GetDlgItem(dlg, kOpen), FALSE);
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* nm = reinterpret_cast<NMITEMACTIVATE*>(lParam);
      if (nm->hdr.idFrom != kList) return FALSE;
      if (nm->hdr.code == NM_CLICK) {
        g_chosen->clicked = nm->iItem;
        EnableWindow(GetDlgItem(dlg, kOpen), nm->iItem >= 0);
      }
      if (nm->hdr.code == NM_DBLCLK) ++g_chosen->doubleTaps;
      if (nm->hdr.code == LVN_ITEMACTIVATE) {
        g_chosen->activated = nm->iItem;
        EndDialog(dlg, IDOK);
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kOpen || LOWORD(wParam) == IDCANCEL) EndDialog(dlg, LOWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

INT_PTR RunListDialog() {
  ce::DialogTemplate t;
  t.id = kTemplate;
  t.width = 220;
  t.height = 200;
  t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  t.caption = u"Open";
  auto add = [&](int id, const char16_t* cls, DWORD style, const char16_t* text, int y, int h) {
    ce::ControlTemplate c;
    c.id = id;
    c.className = cls;
    c.x = 4;
    c.y = y;
    c.width = 200;
    c.height = h;
    c.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | style;
    c.text = text;
    t.controls.push_back(c);
  };
  add(kList, WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL, u"", 4, 120);
  add(kOpen, u"BUTTON", 0, u"Open", 130, 16);
  add(IDCANCEL, u"BUTTON", 0, u"Cancel", 150, 16);
  return DialogBoxIndirectParamW(nullptr, &t, nullptr, ListDlgProc, 0);
}

class ListScript : public autotest::ScriptTest<Chosen> {
 protected:
  ListScript() : ScriptTest(&g_chosen) {}
};

TEST_F(ListScript, TapsByLabelReadsCellsAndActivates) {
  ui::test::Automation a;
  Load(a,
       "dialog 600\n"
       "expect-enabled 140 0\n"
       "expect-item 2106 =beta.pbf 1 \"2.0k\"\n"
       "expect-item 2106 2 0 gamma.pbf\n"
       "list-tap 2106 =beta.pbf\n"
       "expect-enabled 140 1\n"
       "list-activate 2106 2\n");
  EXPECT_EQ(RunListDialog(), IDOK);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures()[0];
  EXPECT_TRUE(a.Done());
  EXPECT_EQ(record.clicked, 2);
  EXPECT_EQ(record.activated, 2);
}

TEST_F(ListScript, DoubleTapActivatesAndSelectTapsARow) {
  ui::test::Automation a;
  Load(a,
       "dialog 600\n"
       "select 2106 0\n"
       "list-dbltap 2106 1\n");
  EXPECT_EQ(RunListDialog(), IDOK);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures()[0];
  EXPECT_EQ(record.doubleTaps, 1);
  EXPECT_EQ(record.activated, 1);
}

TEST_F(ListScript, MissingRowsAndWrongCellsAreFailures) {
  ui::test::Automation a;
  a.SetStopOnFailure(true);
  Load(a,
       "dialog 600\n"
       "expect-item 2106 0 0 beta.pbf\n"
       "list-tap 2106 =delta.pbf\n");
  EXPECT_EQ(RunListDialog(), IDCANCEL);
  ASSERT_FALSE(a.Failures().empty());
  EXPECT_EQ(a.Failures()[0], "line 2: control 2106 row 0 column 0 shows \"alpha.pbf\", expected \"beta.pbf\"");
  std::vector<ui::test::ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(ui::test::ParseScript("dialog 600\nlist-tap 2106\n", &steps, &error));
  EXPECT_FALSE(ui::test::ParseScript("dialog 600\nexpect-item 2106 0 64 x\n", &steps, &error));
  EXPECT_EQ(error, "line 2: bad column '64' (0..63)");
}

}  // namespace
