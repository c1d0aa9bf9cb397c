// The built-in controls and the window model, driven the way the screen
// front end and programs drive them.
#include <algorithm>

#include "ce/errors.h"
#include "testkit/TestDevice.h"
#include "win32_support.h"

using namespace w32test;

namespace {

class Win32Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = MakeHost();
    ASSERT_NE(host_, nullptr);
  }
  void Pump() { ui::PumpMessages(); }
  std::vector<Note> NotesFrom(HWND h) {
    std::vector<Note> out;
    for (const Note& n : Notes())
      if (n.from == h) out.push_back(n);
    return out;
  }
  quilmo::test::TestDevice dev_;
  HWND host_ = nullptr;
};

TEST_F(Win32Controls, ChildrenAreLocalOrderedAndGoWithTheirParent) {
  HWND a = Child(host_, u"STATIC", u"a", 0, 10, 0, 0, 10, 10);
  HWND page = Child(host_, u"#32770", u"", 0, 11, 0, 20, 100, 100);
  HWND inner = Child(page, u"EDIT", u"x", 0, 12, 5, 5, 50, 20);
  HWND b = Child(host_, u"BUTTON", u"b", 0, 13, 0, 0, 10, 10);
  ASSERT_TRUE(a && page && inner && b);
  EXPECT_GE(reinterpret_cast<uintptr_t>(a), 0x40000000u);
  // Not in the device table, but every window call works on them.
  for (const auto& w : ce::ListWindows()) EXPECT_NE(w.hwnd, a);
  EXPECT_EQ(GetParent(inner), page);
  EXPECT_EQ(GetWindow(host_, GW_CHILD), a);
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), page);
  EXPECT_EQ(GetWindow(page, GW_HWNDNEXT), b);
  EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), nullptr);
  EXPECT_EQ(GetDlgItem(host_, 13), b);
  EXPECT_EQ(GetDlgItem(host_, 12), nullptr);  // direct children only
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
  EXPECT_EQ(GetDlgCtrlID(inner), 12);
  std::vector<HWND> all;
  EnumChildWindows(host_, [](HWND h, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
  }, reinterpret_cast<LPARAM>(&all));
  EXPECT_EQ(all, (std::vector<HWND>{a, page, inner, b}));

  // Positions: the child's rectangle is relative to its parent's client area.
  RECT r;
  ASSERT_TRUE(GetWindowRect(inner, &r));
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.top, 26 + 20 + 5);
  POINT p{0, 0};
  MapWindowPoints(inner, host_, &p, 1);
  EXPECT_EQ(p.x, 5);
  EXPECT_EQ(p.y, 25);
  EXPECT_EQ(WindowFromPoint(POINT{10, 26 + 20 + 10}), inner);

  // Hiding the page hides what is inside it.
  EXPECT_TRUE(IsWindowVisible(inner));
  ShowWindow(page, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(inner));

  // A child needs an own parent.
  EXPECT_EQ(Child(nullptr, u"STATIC", u"", 0, 1, 0, 0, 1, 1), nullptr);
  EXPECT_EQ(CreateWindowExW(0, u"NOSUCH", u"", WS_CHILD, 0, 0, 1, 1, host_, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));

  SetFocus(inner);
  EXPECT_TRUE(DestroyWindow(host_));
  for (HWND h : {a, page, inner, b}) EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(GetFocus(), nullptr);
}

WNDPROC g_editProc = nullptr;
int g_subclassed = 0;
LRESULT CountingEdit(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CHAR) ++g_subclassed;
  return CallWindowProcW(g_editProc, h, msg, wParam, lParam);
}

TEST_F(Win32Controls, TypingGoesToTheFocusEditWithinItsLimitAndRules) {
  HWND name = Child(host_, u"EDIT", u"", WS_TABSTOP, 100, 10, 10, 100, 20);
  HWND pin = Child(host_, u"EDIT", u"", WS_TABSTOP | ES_NUMBER, 101, 10, 40, 100, 20);
  HWND ro = Child(host_, u"EDIT", u"fixed", ES_READONLY, 102, 10, 70, 100, 20);
  SendMessageW(name, EM_LIMITTEXT, 5, 0);
  EXPECT_EQ(SendMessageW(name, EM_GETLIMITTEXT, 0, 0), 5);

  // A tap gives the focus (EN_SETFOCUS); characters go where the focus is.
  Tap(host_, name);
  Pump();
  EXPECT_EQ(GetFocus(), name);
  ASSERT_FALSE(Notes().empty());
  EXPECT_EQ(Notes().front(), (Note{100, EN_SETFOCUS, name}));
  g_editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(name, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(CountingEdit)));
  Notes().clear();
  Type(host_, u"abcdefg");
  Pump();
  EXPECT_EQ(Text(name), u"abcde");  // cut at the limit
  EXPECT_EQ(g_subclassed, 7);       // the subclass saw every character
  auto notes = NotesFrom(name);
  EXPECT_EQ(std::count(notes.begin(), notes.end(), Note{100, EN_CHANGE, name}), 5);
  EXPECT_EQ(std::count(notes.begin(), notes.end(), Note{100, EN_MAXTEXT, name}), 2);
  PostMessageW(host_, WM_CHAR, VK_BACK, 0);
  Pump();
  EXPECT_EQ(Text(name), u"abcd");

  // Focus moves: the old edit hears EN_KILLFOCUS before the new one EN_SETFOCUS.
  Notes().clear();
  SetFocus(pin);
  ASSERT_EQ(Notes().size(), 2u);
  EXPECT_EQ(Notes()[0], (Note{100, EN_KILLFOCUS, name}));
  EXPECT_EQ(Notes()[1], (Note{101, EN_SETFOCUS, pin}));
  Type(host_, u"1a2-3");
  Pump();
  EXPECT_EQ(Text(pin), u"123");  // a number edit takes digits only
  SetFocus(ro);
  Type(host_, u"zz");
  Pump();
  EXPECT_EQ(Text(ro), u"fixed");

  // Programs: SetWindowText sends EN_CHANGE; EM_REPLACESEL respects the limit.
  Notes().clear();
  SetWindowTextW(name, u"xy");
  EXPECT_EQ(NotesFrom(name), (std::vector<Note>{{100, EN_UPDATE, name}, {100, EN_CHANGE, name}}));
  SendMessageW(name, EM_SETSEL, 1, 1);
  SendMessageW(name, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(u"12345"));
  EXPECT_EQ(Text(name), u"x123y");
  DWORD a = 9, b = 9;
  SendMessageW(name, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  EXPECT_EQ(a, 4u);
  EXPECT_EQ(b, 4u);
  SendMessageW(name, EM_SETSEL, 0, -1);  // select all, then type over it
  SetFocus(name);
  Type(host_, u"Q");
  Pump();
  EXPECT_EQ(Text(name), u"Q");
}

TEST_F(Win32Controls, TapsHitTheRightButtonAndToggleCheckBoxes) {
  HWND group = Child(host_, u"BUTTON", u"Options", BS_GROUPBOX, 200, 0, 0, 240, 200);
  HWND check = Child(host_, u"BUTTON", u"Check", BS_AUTOCHECKBOX | WS_TABSTOP, 201, 10, 20, 100, 20);
  HWND tri = Child(host_, u"BUTTON", u"Tri", BS_AUTO3STATE, 202, 10, 50, 100, 20);
  HWND r1 = Child(host_, u"BUTTON", u"R1", BS_AUTORADIOBUTTON | WS_GROUP, 203, 10, 80, 100, 20);
  HWND r2 = Child(host_, u"BUTTON", u"R2", BS_AUTORADIOBUTTON, 204, 10, 110, 100, 20);
  HWND off = Child(host_, u"BUTTON", u"Off", BS_PUSHBUTTON | WS_DISABLED, 205, 10, 140, 100, 20);
  HWND push = Child(host_, u"BUTTON", u"Go", BS_PUSHBUTTON | WS_GROUP, 206, 120, 140, 100, 20);
  ASSERT_TRUE(group && check && tri && r1 && r2 && off && push);

  for (HWND h : {check, tri, tri, tri, r1, r2, off, push}) Tap(host_, h);
  TapAt(host_, 200, 100);  // inside the group box only: nothing
  Pump();
  std::vector<Note> clicks;
  for (const Note& n : Notes())
    if (n.code == BN_CLICKED) clicks.push_back(n);
  EXPECT_EQ(clicks, (std::vector<Note>{{201, 0, check},
                                       {202, 0, tri},
                                       {202, 0, tri},
                                       {202, 0, tri},
                                       {203, 0, r1},
                                       {204, 0, r2},
                                       {206, 0, push}}));
  EXPECT_EQ(IsDlgButtonChecked(host_, 201), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(host_, 202), BST_UNCHECKED);  // three taps went round
  EXPECT_EQ(IsDlgButtonChecked(host_, 203), BST_UNCHECKED);  // radios exclude each other
  EXPECT_EQ(IsDlgButtonChecked(host_, 204), BST_CHECKED);
  EXPECT_EQ(GetFocus(), push);

  // Down on one button, up on another: no click.
  Notes().clear();
  RECT a, b;
  GetWindowRect(check, &a);
  GetWindowRect(push, &b);
  PostMessageW(host_, WM_LBUTTONDOWN, 0, MAKELPARAM(a.left + 2, a.top + 2));
  PostMessageW(host_, WM_LBUTTONUP, 0, MAKELPARAM(b.left + 2, b.top + 2));
  Pump();
  EXPECT_TRUE(std::none_of(Notes().begin(), Notes().end(), [](const Note& n) { return n.code == BN_CLICKED; }));

  // A disabled top-level window takes no input at all.
  EnableWindow(host_, FALSE);
  Notes().clear();
  Tap(host_, push);
  Pump();
  EXPECT_TRUE(Notes().empty());
}

TEST_F(Win32Controls, ComboListProgressAndUpDownKeepTheirState) {
  HWND combo = Child(host_, u"COMBOBOX", u"", CBS_DROPDOWNLIST | WS_TABSTOP, 300, 10, 10, 120, 20);
  for (const char16_t* s : {u"Daily", u"Weekly", u"Monthly"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  SendMessageW(combo, CB_SETITEMDATA, 2, 30);
  EXPECT_EQ(SendMessageW(combo, CB_GETITEMDATA, 2, 0), 30);
  EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 1, 0), 1);
  EXPECT_EQ(Text(combo), u"Weekly");
  EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 7, 0), CB_ERR);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_TRUE(Notes().empty());  // programs' selections are not announced

  // Tap opens the list; a tap on its third row picks "Monthly".
  Tap(host_, combo);
  Pump();
  EXPECT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  Notes().clear();
  TapAt(host_, 20, 26 + 30 + 2 * 20 + 5);
  Pump();
  EXPECT_EQ(NotesFrom(combo), (std::vector<Note>{{300, CBN_SELCHANGE, combo}, {300, CBN_CLOSEUP, combo}}));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  WCHAR item[32];
  EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(item)), 7);
  EXPECT_EQ(std::u16string(item), u"Monthly");
  // Open again; a tap elsewhere (here: on a button) only closes the list.
  HWND go = Child(host_, u"BUTTON", u"Go", BS_PUSHBUTTON, 310, 150, 200, 60, 20);
  Tap(host_, combo);
  Pump();
  Notes().clear();
  Tap(host_, go);
  Pump();
  EXPECT_EQ(Notes(), (std::vector<Note>{{300, CBN_CLOSEUP, combo}}));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  SendMessageW(combo, CB_DELETESTRING, 0, 0);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);  // the selection follows its item

  HWND list = Child(host_, u"LISTBOX", u"", LBS_NOTIFY | LBS_SORT, 301, 130, 10, 100, 80);
  for (const char16_t* s : {u"b", u"c", u"a"}) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_EQ(std::u16string(item), u"a");
  EXPECT_EQ(SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"C")), 2);

  HWND bar = Child(host_, u"msctls_progress32", u"", 0, 302, 10, 100, 200, 10);
  SendMessageW(bar, PBM_SETRANGE32, 0, 50);
  EXPECT_EQ(SendMessageW(bar, PBM_SETPOS, 80, 0), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 50);  // clamped
  SendMessageW(bar, PBM_SETPOS, 45, 0);
  SendMessageW(bar, PBM_SETSTEP, 10, 0);
  SendMessageW(bar, PBM_STEPIT, 0, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 5);  // past the end starts over

  HWND buddy = Child(host_, u"EDIT", u"", ES_NUMBER, 303, 10, 130, 60, 20);
  HWND spin = Child(host_, u"msctls_updown32", u"", UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT, 304, 0, 0, 16, 20);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageW(spin, UDM_GETBUDDY, 0, 0)), buddy);
  RECT br, sr;
  GetWindowRect(buddy, &br);
  GetWindowRect(spin, &sr);
  EXPECT_EQ(sr.left, br.right);  // sits at the buddy's right end
  SendMessageW(spin, UDM_SETRANGE32, 0, 3);
  SendMessageW(spin, UDM_SETPOS32, 0, 2);
  EXPECT_EQ(Text(buddy), u"2");
  TapAt(host_, sr.left + 4, sr.top + 2);  // upper half: up
  TapAt(host_, sr.left + 4, sr.top + 2);
  Pump();
  EXPECT_EQ(Text(buddy), u"3");  // held at the top of the range
  SetWindowTextW(buddy, u"1");
  EXPECT_EQ(LOWORD(SendMessageW(spin, UDM_GETPOS, 0, 0)), 1);  // read back from the buddy
  SetWindowTextW(buddy, u"x");
  EXPECT_NE(HIWORD(SendMessageW(spin, UDM_GETPOS, 0, 0)), 0);  // not a number
}

}  // namespace
