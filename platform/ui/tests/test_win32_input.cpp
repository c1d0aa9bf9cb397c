// Screen input that arrives when the model no longer matches what the user
// saw: hidden or disabled targets, points off the screen, characters that
// are not text.
#include <algorithm>
#include <utility>

#include "testkit/TestDevice.h"
#include "win32_support.h"

using namespace w32test;

namespace {

class Win32Input : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = MakeHost();
    ASSERT_NE(host_, nullptr);
  }
  void Pump() { ui::PumpMessages(); }
  int Clicks(int id) {
    int n = 0;
    for (const Note& note : Notes()) n += note.id == id && note.code == BN_CLICKED;
    return n;
  }
  std::pair<DWORD, DWORD> Sel(HWND edit) {
    DWORD a = 0, b = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
    return {a, b};
  }
  quilmo::test::TestDevice dev_;
  HWND host_ = nullptr;
};

}  // namespace

TEST_F(Win32Input, KeysSkipAFocusControlThatIsHiddenOrDisabled) {
  HWND page = Child(host_, u"STATIC", u"", 0, 50, 0, 0, 240, 200);
  HWND edit = Child(page, u"EDIT", u"", WS_TABSTOP, 100, 10, 10, 100, 20);
  SetFocus(edit);
  Type(host_, u"a");
  Pump();
  ASSERT_EQ(Text(edit), u"a");

  // Hiding the page (a property sheet switching pages) leaves the focus
  // where it was; what is typed then goes nowhere near the hidden edit.
  ShowWindow(page, SW_HIDE);
  ASSERT_EQ(GetFocus(), edit);
  HostMessages().clear();
  Type(host_, u"bc");
  Pump();
  EXPECT_EQ(Text(edit), u"a");
  EXPECT_EQ(std::count(HostMessages().begin(), HostMessages().end(), WM_CHAR), 2);  // the window had them
  ShowWindow(page, SW_SHOW);

  // Disabled through its style (not EnableWindow, which moves the focus).
  SetWindowLongW(edit, GWL_STYLE, GetWindowLongW(edit, GWL_STYLE) | WS_DISABLED);
  Type(host_, u"d");
  PostMessageW(host_, WM_KEYDOWN, VK_DELETE, 0);
  Pump();
  EXPECT_EQ(Text(edit), u"a");
  SetWindowLongW(edit, GWL_STYLE, GetWindowLongW(edit, GWL_STYLE) & ~WS_DISABLED);
  Type(host_, u"e");
  Pump();
  EXPECT_EQ(Text(edit), u"ae");
}

TEST_F(Win32Input, TapsOffTheScreenOrOnWhatIsGoneClickNothing) {
  HWND ok = Child(host_, u"BUTTON", u"OK", BS_PUSHBUTTON, 1, 10, 10, 60, 22);
  // Points far outside the screen (MAKELPARAM keeps 16 bits a side).
  for (auto [x, y] : {std::pair{-1, -1}, {32767, 32767}, {-32768, 40}, {40, 0xFFFF}}) TapAt(host_, x, y);
  Pump();
  EXPECT_EQ(Clicks(1), 0);
  Tap(host_, ok);
  Pump();
  ASSERT_EQ(Clicks(1), 1);

  // Pressed, then hidden before the release: no click, and no press left
  // behind for a later release.
  Notes().clear();
  RECT r;
  GetWindowRect(ok, &r);
  const LPARAM at = MAKELPARAM(r.left + 5, r.top + 5);
  PostMessageW(host_, WM_LBUTTONDOWN, 0, at);
  Pump();
  ShowWindow(ok, SW_HIDE);
  PostMessageW(host_, WM_LBUTTONUP, 0, at);
  Pump();
  ShowWindow(ok, SW_SHOW);
  PostMessageW(host_, WM_LBUTTONUP, 0, at);
  Pump();
  EXPECT_EQ(Clicks(1), 0);
  EXPECT_EQ(SendMessageW(ok, BM_GETSTATE, 0, 0) & 0x4, 0);  // not drawn pushed

  // A tap queued for a window that was hidden meanwhile.
  Tap(host_, ok);
  ShowWindow(host_, SW_HIDE);
  Pump();
  EXPECT_EQ(Clicks(1), 0);
}

TEST_F(Win32Input, TypedTextHoldsNoHalfPairsNorControlCharacters) {
  HWND edit = Child(host_, u"EDIT", u"", WS_TABSTOP, 100, 10, 10, 100, 20);
  SendMessageW(edit, EM_LIMITTEXT, 4, 0);
  SetFocus(edit);
  const std::u16string smile = u"\U0001F600";  // one character, two code units
  Type(host_, u"a" + smile + smile);  // the second does not fit whole: nothing of it goes in
  Pump();
  EXPECT_EQ(Text(edit), u"a" + smile);
  SendMessageW(edit, EM_LIMITTEXT, 10, 0);
  Type(host_, u"\xDC00");             // a low half alone
  Type(host_, u"\xD800");             // a high half, then no low half
  Type(host_, u"\x7F\x01");           // control characters
  PostMessageW(host_, WM_CHAR, 0x10041, 0);  // not a UTF-16 unit
  Pump();
  EXPECT_EQ(Text(edit), u"a" + smile);

  // The pair is one character for the caret, backspace and delete.
  SendMessageW(edit, EM_SETSEL, 3, 3);
  Type(host_, u"b");
  PostMessageW(host_, WM_KEYDOWN, VK_LEFT, 0);
  PostMessageW(host_, WM_KEYDOWN, VK_LEFT, 0);
  Pump();
  EXPECT_EQ(Sel(edit), (std::pair<DWORD, DWORD>{1, 1}));
  PostMessageW(host_, WM_KEYDOWN, VK_RIGHT, 0);
  Pump();
  EXPECT_EQ(Sel(edit), (std::pair<DWORD, DWORD>{3, 3}));
  PostMessageW(host_, WM_CHAR, VK_BACK, 0);
  Pump();
  EXPECT_EQ(Text(edit), u"ab");
  SetWindowTextW(edit, (u"a" + smile + u"b").c_str());
  SendMessageW(edit, EM_SETSEL, 1, 1);
  PostMessageW(host_, WM_KEYDOWN, VK_DELETE, 0);
  Pump();
  EXPECT_EQ(Text(edit), u"ab");
}

namespace {

HWND g_dyingButton = nullptr;

// A window whose WM_DESTROY handler pumps (as a handler showing a box does)
// with a tap on its button still queued.
LRESULT DyingProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND) Notes().push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
  if (msg == WM_DESTROY) {
    Tap(h, g_dyingButton);
    Type(h, u" ");
    ui::PumpMessages();
  }
  return DefWindowProcW(h, msg, wParam, lParam);
}

}  // namespace

TEST_F(Win32Input, AWindowOnItsWayOutTakesNoInput) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DyingProc;
  wc.lpszClassName = u"W32TestDying";
  RegisterClassW(&wc);
  HWND top = CreateWindowExW(0, u"W32TestDying", u"Dying", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr,
                             nullptr);
  ASSERT_NE(top, nullptr);
  g_dyingButton = Child(top, u"BUTTON", u"Go", BS_PUSHBUTTON, 7, 10, 10, 60, 22);
  SetFocus(g_dyingButton);
  Notes().clear();
  DestroyWindow(top);
  EXPECT_EQ(Clicks(7), 0);
  EXPECT_FALSE(IsWindow(top));
}
