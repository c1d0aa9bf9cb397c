// Menus, the menu bar, the tab control and the date-time picker in the
// window model, driven as programs and the screen front end drive them.
#include <fstream>
#include <string>
#include <vector>

#include "ce/commctrl.h"
#include "ce/datetime.h"
#include "ce/errors.h"
#include "ce/menu.h"
#include "ce/system.h"
#include "ce/time.h"
#include "cesim/menubar.h"
#include "cesim/window.h"
#include "sheet_test_support.h"
#include "ui/Loop.h"
#include "ui/ScreenFile.h"
#include "win32_support.h"

using namespace sheettest;

namespace {

// What an owner window heard: commands and notifications by code.
struct Heard {
  std::vector<int> commands;
  std::vector<UINT> notes;
  SYSTEMTIME changed{};
  bool refuseTabChange = false;
  bool fillScreen = false;  // follows the screen's size on a setting change
};
Heard* g_heard = nullptr;

LRESULT OwnerProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (g_heard && msg == WM_COMMAND) g_heard->commands.push_back(LOWORD(wParam));
  if (g_heard && msg == WM_NOTIFY) {
    auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    g_heard->notes.push_back(hdr->code);
    if (hdr->code == DTN_DATETIMECHANGE) g_heard->changed = reinterpret_cast<const NMDATETIMECHANGE*>(lParam)->st;
    if (hdr->code == TCN_SELCHANGING) return g_heard->refuseTabChange ? 1 : 0;
  }
  if (g_heard && g_heard->fillScreen && msg == WM_SETTINGCHANGE)
    MoveWindow(h, 0, 26, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - 26, TRUE);
  return DefWindowProcW(h, msg, wParam, lParam);
}

class SheetControls : public ::testing::Test {
 protected:
  void SetUp() override {
    g_heard = &heard_;
    WNDCLASSW wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = u"SheetOwner";
    RegisterClassW(&wc);
    owner_ = CreateWindowExW(0, u"SheetOwner", u"Owner", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(owner_, nullptr);
  }
  void TearDown() override { g_heard = nullptr; }
  HWND MakeBar(HMODULE module) {
    SHMENUBARINFO mb{};
    mb.cbSize = sizeof mb;
    mb.hwndParent = owner_;
    mb.nToolBarId = kBar;
    mb.hInstRes = module;
    EXPECT_TRUE(SHCreateMenuBar(&mb)) << GetLastError();
    return mb.hwndMB;
  }
  ce::MenuBarView View(HWND bar) {
    ce::MenuBarView v;
    EXPECT_TRUE(ce::DescribeMenuBar(bar, &v));
    return v;
  }
  static POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
  // A tap on the screen, routed by the window layer as the live screen's.
  void TapAt(POINT p) {
    w32test::TapAt(owner_, p.x, p.y);
    ui::PumpMessages();
  }

  quilmo::test::TestDevice dev_;
  Heard heard_;
  HWND owner_ = nullptr;
};

TEST_F(SheetControls, MenusHoldItemsAndOwnTheirSubmenus) {
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(sub, MF_STRING, 11, u"Inner"));
  ASSERT_TRUE(AppendMenuW(menu, MF_STRING, 10, u"First"));
  ASSERT_TRUE(AppendMenuW(menu, MF_SEPARATOR, 0, nullptr));
  ASSERT_TRUE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub"));
  ASSERT_TRUE(InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, 9, u"Zero"));
  EXPECT_EQ(GetMenuItemCount(menu), 4);
  EXPECT_EQ(GetMenuItemID(menu, 0), 9u);
  EXPECT_EQ(GetMenuItemID(menu, 2), 0u);           // separator
  EXPECT_EQ(GetMenuItemID(menu, 3), 0xFFFFFFFFu);  // submenu
  EXPECT_EQ(GetSubMenu(menu, 3), sub);
  EXPECT_EQ(GetSubMenu(menu, 1), nullptr);
  // Commands are found in submenus too.
  EXPECT_EQ(EnableMenuItem(menu, 11, MF_GRAYED), 0u);
  EXPECT_EQ(GetMenuState(sub, 0, MF_BYPOSITION) & MF_GRAYED, MF_GRAYED);
  EXPECT_EQ(CheckMenuItem(menu, 10, MF_CHECKED), static_cast<DWORD>(MF_UNCHECKED));
  EXPECT_EQ(CheckMenuItem(menu, 10, MF_UNCHECKED), static_cast<DWORD>(MF_CHECKED));
  EXPECT_EQ(EnableMenuItem(menu, 77, MF_GRAYED), 0xFFFFFFFFu);
  WCHAR text[4];
  EXPECT_EQ(GetMenuStringW(menu, 3, text, 4, MF_BYPOSITION), 3);  // cut to the room, NUL kept
  EXPECT_EQ(std::u16string(text), u"Sub");
  EXPECT_EQ(GetMenuStringW(menu, 3, text, 3, MF_BYPOSITION), 2);
  EXPECT_EQ(std::u16string(text), u"Su");

  // RemoveMenu leaves the submenu alive (and free to go elsewhere);
  // DeleteMenu and DestroyMenu take submenus with them.
  ASSERT_TRUE(RemoveMenu(menu, 3, MF_BYPOSITION));
  EXPECT_TRUE(IsMenu(sub));
  HMENU other = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(other, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Moved"));
  ASSERT_TRUE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(other), u"Other"));
  ASSERT_TRUE(DeleteMenu(menu, 3, MF_BYPOSITION));
  EXPECT_FALSE(IsMenu(other));
  EXPECT_FALSE(IsMenu(sub));
  HMENU last = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(last), u"Last"));
  ASSERT_TRUE(DestroyMenu(menu));
  EXPECT_FALSE(IsMenu(last));
  EXPECT_FALSE(DestroyMenu(menu));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
  EXPECT_EQ(GetMenuItemCount(menu), -1);
}

TEST_F(SheetControls, MenusRefuseLoopsAndSharedSubmenus) {
  HMENU a = CreatePopupMenu(), b = CreatePopupMenu(), c = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(a, MF_POPUP, reinterpret_cast<UINT_PTR>(b), u"b"));
  // A menu inside itself, or inside one it holds, would make every walk
  // (and every destroy) endless.
  EXPECT_FALSE(AppendMenuW(a, MF_POPUP, reinterpret_cast<UINT_PTR>(a), u"self"));
  EXPECT_FALSE(AppendMenuW(b, MF_POPUP, reinterpret_cast<UINT_PTR>(a), u"loop"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A submenu has one holder: destroying one must not leave the other
  // pointing at a dead menu.
  EXPECT_FALSE(AppendMenuW(c, MF_POPUP, reinterpret_cast<UINT_PTR>(b), u"shared"));
  EXPECT_FALSE(AppendMenuW(c, MF_POPUP, 0x12345, u"nothing"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
  EXPECT_EQ(GetMenuItemCount(c), 0);
  EXPECT_EQ(GetMenuItemCount(b), 0);
  // Destroying a submenu on its own takes it out of its holder.
  ASSERT_TRUE(DestroyMenu(b));
  EXPECT_EQ(GetMenuItemCount(a), 0);
  DestroyMenu(a);
  DestroyMenu(c);
}

TEST_F(SheetControls, MenuBarFromItsResourceSendsChosenCommandsToItsOwner) {
  BarModule module(dev_);
  HWND bar = MakeBar(module.get());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SHFindMenuBar(owner_), bar);
  // Along the bottom of the owner's client area.
  RECT client{}, r{};
  GetClientRect(owner_, &client);
  GetWindowRect(bar, &r);
  POINT bottomRight{client.right, client.bottom};
  ClientToScreen(owner_, &bottomRight);
  EXPECT_EQ(r.bottom, bottomRight.y);
  EXPECT_EQ(r.right - r.left, client.right);
  EXPECT_EQ(r.bottom - r.top, ce::kMenuBarHeight);

  HMENU menu = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, kMenuButton));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, kDoneButton), 0);
  ASSERT_EQ(GetMenuItemCount(menu), 4);
  WCHAR text[16];
  GetMenuStringW(menu, 0, text, 16, MF_BYPOSITION);
  EXPECT_EQ(std::u16string(text), u"About");  // from the module's string
  EnableMenuItem(menu, kOther, MF_GRAYED);

  // Tap the button: its menu opens above the bar; the submenu beside it.
  ce::MenuBarView v = View(bar);
  ASSERT_EQ(v.buttons.size(), 2u);
  EXPECT_TRUE(v.panes.empty());
  TapAt(Centre(v.buttons[1].rect));
  v = View(bar);
  ASSERT_EQ(v.panes.size(), 1u);
  EXPECT_TRUE(v.buttons[1].open);
  EXPECT_LE(v.panes[0].rect.bottom, v.bar.top);
  ASSERT_EQ(v.panes[0].entries.size(), 4u);
  EXPECT_TRUE(v.panes[0].entries[1].separator);
  // A separator and a disabled item do nothing; the menu stays open.
  TapAt(Centre(v.panes[0].entries[1].rect));
  TapAt(Centre(v.panes[0].entries[3].rect));
  EXPECT_EQ(View(bar).panes.size(), 1u);
  TapAt(Centre(v.panes[0].entries[2].rect));
  v = View(bar);
  ASSERT_EQ(v.panes.size(), 2u);
  EXPECT_EQ(v.panes[1].entries[0].text, u"Deep");
  TapAt(Centre(v.panes[1].entries[0].rect));
  EXPECT_TRUE(View(bar).panes.empty());  // closed by the choice
  EXPECT_EQ(heard_.commands, std::vector<int>{kDeep});

  // A tap beside an open menu closes it and chooses nothing, even over
  // another control of the owner.
  TapAt(Centre(View(bar).buttons[1].rect));
  ASSERT_EQ(View(bar).panes.size(), 1u);
  TapAt(POINT{5, 40});
  EXPECT_TRUE(View(bar).panes.empty());
  EXPECT_EQ(heard_.commands, std::vector<int>{kDeep});
  // A plain button is a command.
  TapAt(Centre(View(bar).buttons[0].rect));
  EXPECT_EQ(heard_.commands, (std::vector<int>{kDeep, kDoneButton}));

  // The screen file draws the bar over the owner's other controls, with
  // the open menu's entries.
  TapAt(Centre(View(bar).buttons[1].rect));
  w32test::Child(owner_, u"STATIC", u"under", 0, 50, 0, 250, 240, 40);
  ASSERT_TRUE(ui::WriteScreenFile(dev_.dir() / "bar.xml"));
  std::ifstream f(dev_.dir() / "bar.xml");
  std::string xml((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const size_t under = xml.find("text=\"under\""), menuBar = xml.find("class=\"menu_worker\"");
  ASSERT_NE(menuBar, std::string::npos);
  EXPECT_LT(under, menuBar);
  EXPECT_NE(xml.find("<pane", menuBar), std::string::npos);
  EXPECT_NE(xml.find("id=\"100\" text=\"About\"", menuBar), std::string::npos);

  // The bar goes with its owner, and its menus with it.
  DestroyWindow(owner_);
  EXPECT_FALSE(IsMenu(menu));
}

TEST_F(SheetControls, MenuBarFailuresLeaveNoBar) {
  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb - 1;
  mb.hwndParent = owner_;
  EXPECT_FALSE(SHCreateMenuBar(&mb));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SHCreateMenuBar(nullptr));
  mb.cbSize = sizeof mb;
  mb.hwndParent = nullptr;
  EXPECT_FALSE(SHCreateMenuBar(&mb));
  // No such resource in the program, or a malformed one.
  mb.hwndParent = owner_;
  mb.nToolBarId = 4242;
  mb.hwndMB = reinterpret_cast<HWND>(1);
  EXPECT_FALSE(SHCreateMenuBar(&mb));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(mb.hwndMB, nullptr);
  BarModule broken(dev_, "<menubar id=\"65361\"><button id=\"1\"/></menubar>");
  mb.nToolBarId = kBar;
  mb.hInstRes = broken.get();
  EXPECT_FALSE(SHCreateMenuBar(&mb));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(SHFindMenuBar(owner_), nullptr);
  // An empty bar needs no resource.
  mb.dwFlags = SHCMBF_EMPTYBAR;
  EXPECT_TRUE(SHCreateMenuBar(&mb));
  EXPECT_NE(SHFindMenuBar(owner_), nullptr);
}

TEST_F(SheetControls, MenuBarKeepsToTheBottomWhenTheScreenTurns) {
  BarModule module(dev_);
  heard_.fillScreen = true;
  HWND bar = MakeBar(module.get());
  ASSERT_NE(bar, nullptr);
  TapAt(Centre(View(bar).buttons[1].rect));  // open while it turns
  ce::Profile rotated = dev_.device()->GetProfile();
  std::swap(rotated.screenWidth, rotated.screenHeight);
  std::ofstream(dev_.dir() / "profile.txt", std::ios::trunc) << rotated.Serialize();
  PostMessageW(owner_, WM_SETTINGCHANGE, 0, 0);
  ui::PumpMessages();
  const ce::MenuBarView v = View(bar);
  EXPECT_EQ(v.bar.right - v.bar.left, rotated.screenWidth);
  EXPECT_EQ(v.bar.bottom, rotated.screenHeight);
  ASSERT_EQ(v.panes.size(), 1u);
  EXPECT_LE(v.panes[0].rect.bottom, v.bar.top);
  EXPECT_LE(v.panes[0].rect.right, rotated.screenWidth);
  EXPECT_GE(v.panes[0].rect.top, 0);
}

TEST_F(SheetControls, DatePickerKeepsOnlyValidDatesAndShowsThem) {
  HWND date = w32test::Child(owner_, DATETIMEPICK_CLASSW, u"", DTS_SHORTDATEFORMAT, 2022, 10, 10, 120, 20);
  ASSERT_NE(date, nullptr);
  SYSTEMTIME t{};
  ASSERT_EQ(SendMessageW(date, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t)), GDT_VALID);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_EQ(t.wYear, now.wYear);  // a new picker holds now
  SYSTEMTIME day{2026, 12, 0, 9, 14, 30, 0, 0};
  ASSERT_TRUE(SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&day)));
  ASSERT_EQ(SendMessageW(date, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t)), GDT_VALID);
  EXPECT_EQ(t.wDay, 9);
  EXPECT_EQ(t.wDayOfWeek, 3);  // a Wednesday, filled in
  WCHAR shown[64];
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &day, nullptr, shown, 64);
  EXPECT_EQ(w32test::Text(date), std::u16string(shown));
  // Impossible dates and "no date" without DTS_SHOWNONE are refused and
  // change nothing.
  SYSTEMTIME bad = day;
  bad.wMonth = 2;
  bad.wDay = 30;
  EXPECT_FALSE(SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&bad)));
  bad = day;
  bad.wHour = 24;
  EXPECT_FALSE(SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&bad)));
  EXPECT_FALSE(SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, 0));
  EXPECT_FALSE(SendMessageW(date, DTM_SETSYSTEMTIME, GDT_NONE, 0));
  EXPECT_EQ(SendMessageW(date, DTM_GETSYSTEMTIME, 0, 0), GDT_ERROR);
  SendMessageW(date, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t));
  EXPECT_EQ(t.wMonth, 12);
  EXPECT_EQ(w32test::Text(date), std::u16string(shown));
  // The text follows the value, not WM_SETTEXT.
  SetWindowTextW(date, u"nonsense");
  EXPECT_EQ(w32test::Text(date), std::u16string(shown));

  HWND optional = w32test::Child(owner_, DATETIMEPICK_CLASSW, u"", DTS_SHOWNONE, 2024, 10, 40, 120, 20);
  EXPECT_TRUE(SendMessageW(optional, DTM_SETSYSTEMTIME, GDT_NONE, 0));
  EXPECT_EQ(SendMessageW(optional, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t)), GDT_NONE);
  EXPECT_EQ(w32test::Text(optional), u"");
  EXPECT_TRUE(heard_.notes.empty());  // setting by program does not notify
}

TEST_F(SheetControls, TimePickerShowsItsPictureAndTheArrowsStepAMinute) {
  HWND time = w32test::Child(owner_, DATETIMEPICK_CLASSW, u"", DTS_TIMEFORMAT | WS_TABSTOP, 2023, 10, 10, 80, 20);
  ASSERT_TRUE(SendMessageW(time, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(u"HH:mm")));
  SYSTEMTIME t{2026, 12, 0, 31, 23, 59, 0, 0};
  ASSERT_TRUE(SendMessageW(time, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&t)));
  EXPECT_EQ(w32test::Text(time), u"23:59");
  SetFocus(time);
  PostMessageW(owner_, WM_KEYDOWN, VK_UP, 0);  // keys reach the focus control
  ui::PumpMessages();
  EXPECT_EQ(w32test::Text(time), u"00:00");
  ASSERT_EQ(heard_.notes, std::vector<UINT>{DTN_DATETIMECHANGE});
  EXPECT_EQ(heard_.changed.wHour, 0);
  EXPECT_EQ(heard_.changed.wDay, 31);  // a time picker keeps its date
  PostMessageW(owner_, WM_KEYDOWN, VK_DOWN, 0);
  ui::PumpMessages();
  EXPECT_EQ(w32test::Text(time), u"23:59");
}

TEST_F(SheetControls, TabsKeepTextImagesAndAskTheOwnerBeforeChanging) {
  HWND tabs = w32test::Child(owner_, WC_TABCONTROLW, u"", 0, 7, 0, 0, 240, 24);
  ASSERT_NE(tabs, nullptr);
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<LPWSTR>(u"Backup");
  EXPECT_EQ(SendMessageW(tabs, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), 0);
  item.pszText = const_cast<LPWSTR>(u"Restore");
  EXPECT_EQ(SendMessageW(tabs, TCM_INSERTITEMW, 5, reinterpret_cast<LPARAM>(&item)), 1);  // clamped to the end
  SendMessageW(tabs, TCM_SETCURSEL, 0, 0);
  EXPECT_EQ(w32test::Text(tabs), u"Backup");
  RECT before{};
  ASSERT_TRUE(SendMessageW(tabs, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&before)));

  // Images: an image list and one image per tab; a tab with an image is
  // wider.
  auto* list = reinterpret_cast<HIMAGELIST>(static_cast<intptr_t>(0x5150));
  EXPECT_EQ(SendMessageW(tabs, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list)), 0);
  EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageW(tabs, TCM_GETIMAGELIST, 0, 0)), list);
  for (int i = 0; i < 2; ++i) {
    TCITEMW set{};
    set.mask = TCIF_IMAGE;
    set.iImage = i;
    EXPECT_TRUE(SendMessageW(tabs, TCM_SETITEMW, i, reinterpret_cast<LPARAM>(&set)));
  }
  EXPECT_FALSE(SendMessageW(tabs, TCM_SETITEMW, 2, reinterpret_cast<LPARAM>(&item)));
  WCHAR small[4];
  TCITEMW got{};
  got.mask = TCIF_TEXT | TCIF_IMAGE;
  got.pszText = small;
  got.cchTextMax = 4;  // the caption is cut to the room given
  ASSERT_TRUE(SendMessageW(tabs, TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&got)));
  EXPECT_EQ(std::u16string(small), u"Res");
  EXPECT_EQ(got.iImage, 1);
  got.cchTextMax = 0;
  EXPECT_FALSE(SendMessageW(tabs, TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&got)));
  RECT after{};
  SendMessageW(tabs, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&after));
  EXPECT_GT(after.right - after.left, before.right - before.left);

  // The screen file has every tab, not only the selected caption.
  ASSERT_TRUE(ui::WriteScreenFile(dev_.dir() / "tabs.xml"));
  std::ifstream f(dev_.dir() / "tabs.xml");
  std::string xml((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(xml.find("<item text=\"Backup\" image=\"0\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<item text=\"Restore\" image=\"1\""), std::string::npos);

  // A tap on the second tab asks the owner; a refusal keeps the first.
  RECT second{};
  SendMessageW(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
  POINT p = Centre(second);
  ClientToScreen(tabs, &p);
  heard_.refuseTabChange = true;
  TapAt(p);
  EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(heard_.notes, std::vector<UINT>{TCN_SELCHANGING});
  heard_.refuseTabChange = false;
  TapAt(p);
  EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(heard_.notes, (std::vector<UINT>{TCN_SELCHANGING, TCN_SELCHANGING, TCN_SELCHANGE}));
  EXPECT_EQ(w32test::Text(tabs), u"Restore");
  TCHITTESTINFO hit{Centre(second), 0};
  EXPECT_EQ(SendMessageW(tabs, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)), 1);
  EXPECT_EQ(hit.flags, static_cast<UINT>(TCHT_ONITEM));

  // Deleting tabs keeps the selection on its tab or clears it.
  EXPECT_TRUE(SendMessageW(tabs, TCM_DELETEITEM, 0, 0));
  EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 0);
  EXPECT_TRUE(SendMessageW(tabs, TCM_DELETEITEM, 0, 0));
  EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), -1);
  EXPECT_EQ(w32test::Text(tabs), u"");
}

}  // namespace
