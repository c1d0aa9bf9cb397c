// UI script steps for menus, tabs and date-time pickers: the reader and a
// script run against a dialog with a menu bar, a tab strip and two pickers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/datetime.h"
#include "ce/dialog.h"
#include "ce/dlgtemplate.h"
#include "ce/menu.h"
#include "sheet_test_support.h"
#include "ui/Automation.h"

namespace {

using ui::test::Automation;
using ui::test::ScriptStep;
using Kind = ScriptStep::Kind;
using namespace sheettest;

constexpr int kTemplate = 640, kTabs = 10, kDate = 2022, kTime = 2023;

std::string ParseError(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(ui::test::ParseScript(text, &steps, &error)) << text;
  return error;
}

TEST(UiScriptSheetParse, ReadsMenuTabDateTimeAndExpectMenu) {
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ui::test::ParseScript("dialog 1\nmenu 32818\ntab 1\ndatetime 2022 2026-12-09\ndatetime 2023 07:05\n"
                                    "datetime 2022 \"2027-01-31 23:59\"\nexpect-menu 65359 \"1:A|-|>B{2:C}\"\n",
                                    &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 7u);
  EXPECT_EQ(steps[1].kind, Kind::Menu);
  EXPECT_EQ(steps[1].id, 32818);
  EXPECT_EQ(steps[2].kind, Kind::Tab);
  EXPECT_EQ(steps[3].kind, Kind::DateTime);
  EXPECT_EQ(steps[3].value, 1);
  EXPECT_EQ(steps[3].time.wYear, 2026);
  EXPECT_EQ(steps[3].time.wDay, 9);
  EXPECT_EQ(steps[4].value, 2);
  EXPECT_EQ(steps[4].time.wHour, 7);
  EXPECT_EQ(steps[4].time.wMinute, 5);
  EXPECT_EQ(steps[5].value, 3);
  EXPECT_EQ(steps[5].time.wMonth, 1);
  EXPECT_EQ(steps[5].time.wMinute, 59);
  EXPECT_EQ(steps[6].kind, Kind::ExpectMenu);
  EXPECT_EQ(steps[6].text, u"1:A|-|>B{2:C}");

  EXPECT_EQ(ParseError("menu 5\n"), "line 1: 'menu' before any 'dialog' step");
  EXPECT_EQ(ParseError("dialog 1\nmenu 0\n"), "line 2: bad command '0' (1..65535)");
  EXPECT_EQ(ParseError("dialog 1\ntab -1\n"), "line 2: bad tab index '-1' (0..1000)");
  const std::string bad = "(YYYY-MM-DD, HH:MM or \"YYYY-MM-DD HH:MM\")";
  EXPECT_EQ(ParseError("dialog 1\ndatetime 5 24:00\n"), "line 2: bad date or time '24:00' " + bad);
  EXPECT_EQ(ParseError("dialog 1\ndatetime 5 2026-13-01\n"), "line 2: bad date or time '2026-13-01' " + bad);
  EXPECT_EQ(ParseError("dialog 1\ndatetime 5 2026-12-09x\n"), "line 2: bad date or time '2026-12-09x' " + bad);
  EXPECT_EQ(ParseError("dialog 1\ndatetime 5 7:05\n"), "line 2: bad date or time '7:05' " + bad);
  EXPECT_EQ(ParseError("dialog 1\nexpect-menu 5\n"), "line 2: 'expect-menu' takes BUTTON TEXT");
}

struct Seen {
  std::vector<int> commands;
  int tabChanges = 0;
  SYSTEMTIME date{}, time{};
  HMODULE bars = nullptr;
};
Seen* g_seen = nullptr;

INT_PTR SheetLikeProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      SHMENUBARINFO mb{};
      mb.cbSize = sizeof mb;
      mb.hwndParent = h;
      mb.nToolBarId = kBar;
      mb.hInstRes = g_seen->bars;
      SHCreateMenuBar(&mb);
      HWND tabs = GetDlgItem(h, kTabs);
      for (const char16_t* text : {u"One", u"Two"}) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<LPWSTR>(text);
        SendMessageW(tabs, TCM_INSERTITEMW, 9, reinterpret_cast<LPARAM>(&item));
      }
      SendMessageW(tabs, TCM_SETCURSEL, 0, 0);
      SendMessageW(GetDlgItem(h, kTime), DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(u"HH:mm"));
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->code == TCN_SELCHANGE) ++g_seen->tabChanges;
      if (hdr->code == DTN_DATETIMECHANGE)
        (hdr->idFrom == kDate ? g_seen->date : g_seen->time) = reinterpret_cast<const NMDATETIMECHANGE*>(lParam)->st;
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(h, LOWORD(wParam));
      } else if (lParam == 0) {
        g_seen->commands.push_back(LOWORD(wParam));
        if (LOWORD(wParam) == kDeep) EndDialog(h, IDOK);  // the last step
      }
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR RunSheetLike() {
  ce::DialogTemplate t;
  t.id = kTemplate;
  t.width = 240;
  t.height = 294;
  t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  t.caption = u"Sheet-like";
  auto add = [&](int id, const char16_t* cls, int y, DWORD style) {
    ce::ControlTemplate c;
    c.id = id;
    c.className = cls;
    c.x = 4;
    c.y = y;
    c.width = 120;
    c.height = 20;
    c.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | style;
    t.controls.push_back(c);
  };
  add(kTabs, WC_TABCONTROLW, 0, 0);
  add(kDate, DATETIMEPICK_CLASSW, 30, DTS_SHORTDATEFORMAT);
  add(kTime, DATETIMEPICK_CLASSW, 60, DTS_TIMEFORMAT);
  return DialogBoxIndirectParamW(nullptr, &t, nullptr, SheetLikeProc, 0);
}

TEST(UiScriptSheetRun, AScriptPicksMenusTabsAndDates) {
  quilmo::test::TestDevice device;
  BarModule bars(device);
  Seen seen;
  seen.bars = bars.get();
  g_seen = &seen;
  Automation a;
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ui::test::ParseScript("dialog 640\n"
                                    "tab 1\n"
                                    "datetime 2022 2026-12-24\n"
                                    "datetime 2023 \"2026-12-24 18:30\"\n"
                                    "expect-text 2023 18:30\n"
                                    "expect-menu 65359 \"100:About|-|>More{101:Deep}|102:Other\"\n"
                                    "menu 100\n"
                                    "menu 101\n",
                                    &steps, &error))
      << error;
  ui::test::AddScriptSteps(a, steps);
  EXPECT_EQ(RunSheetLike(), IDOK);
  g_seen = nullptr;
  EXPECT_TRUE(a.Failures().empty()) << a.Failures()[0];
  EXPECT_TRUE(a.Done());
  EXPECT_EQ(seen.tabChanges, 1);
  EXPECT_EQ(seen.date.wYear, 2026);
  EXPECT_EQ(seen.date.wDay, 24);
  EXPECT_EQ(seen.time.wHour, 18);
  EXPECT_EQ(seen.time.wMinute, 30);
  EXPECT_EQ(seen.commands, (std::vector<int>{kAbout, kDeep}));
}

}  // namespace
