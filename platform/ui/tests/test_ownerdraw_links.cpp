// Owner-drawn buttons, link statics, cursors, beeps and opened links, driven
// as the screen front end and programs drive them.
#include <vector>

#include "ce/errors.h"
#include "ce/gdi.h"
#include "ce/shell.h"
#include "ce/sound.h"
#include "cesim/msgbox.h"
#include "testkit/TestDevice.h"
#include "win32_support.h"

using namespace w32test;

namespace {

struct Drawn {
  UINT id;
  UINT state;
  bool hasDc;
  RECT rect;
};
std::vector<Drawn> g_drawn;
std::vector<std::pair<HWND, UINT>> g_cursorAsks;  // (window asked about, mouse message)
HWND g_link = nullptr;
HCURSOR g_hand = nullptr;

LRESULT PainterProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DRAWITEM) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    EXPECT_EQ(item->CtlType, static_cast<UINT>(ODT_BUTTON));
    EXPECT_EQ(item->CtlID, static_cast<UINT>(wParam));
    // The handler draws into the item rectangle with the DC it was given.
    const bool drew = item->hDC != nullptr && FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
    g_drawn.push_back({item->CtlID, item->itemState, drew, item->rcItem});
    return TRUE;
  }
  if (msg == WM_SETCURSOR) {
    g_cursorAsks.emplace_back(reinterpret_cast<HWND>(wParam), HIWORD(lParam));
    if (reinterpret_cast<HWND>(wParam) == g_link) {
      SetCursor(g_hand);
      return TRUE;
    }
    return FALSE;
  }
  return HostProc(h, msg, wParam, lParam);
}

class OwnerDrawAndLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = PainterProc;
    wc.lpszClassName = u"W32Painter";
    RegisterClassW(&wc);
    Notes().clear();
    g_drawn.clear();
    g_cursorAsks.clear();
    host_ = CreateWindowExW(0, u"W32Painter", u"Painter", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr,
                            nullptr);
    ASSERT_NE(host_, nullptr);
    g_hand = LoadCursorW(nullptr, IDC_HAND);
  }
  void TearDown() override { g_link = nullptr; }
  void Pump() { ui::PumpMessages(); }
  quilmo::test::TestDevice dev_;
  HWND host_ = nullptr;
};

TEST_F(OwnerDrawAndLinks, OwnerDrawnButtonAsksItsParentToDrawEachState) {
  HWND b = Child(host_, u"BUTTON", u"Annot", BS_OWNERDRAW | WS_TABSTOP, 2002, 10, 10, 40, 30);
  HWND other = Child(host_, u"BUTTON", u"Other", WS_TABSTOP, 2003, 60, 10, 40, 30);
  ASSERT_TRUE(b && other);
  Pump();
  ASSERT_FALSE(g_drawn.empty());
  EXPECT_EQ(g_drawn.back().id, 2002u);
  EXPECT_EQ(g_drawn.back().state, 0u);
  EXPECT_TRUE(g_drawn.back().hasDc);
  EXPECT_EQ(g_drawn.back().rect.right, 40);
  EXPECT_EQ(g_drawn.back().rect.bottom, 30);

  // Pressed: selected and focused; released: a click and focused only.
  RECT r;
  GetWindowRect(b, &r);
  PostMessageW(host_, WM_LBUTTONDOWN, 0, MAKELPARAM(r.left + 5, r.top + 5));
  Pump();
  EXPECT_EQ(g_drawn.back().state, static_cast<UINT>(ODS_SELECTED | ODS_FOCUS));
  PostMessageW(host_, WM_LBUTTONUP, 0, MAKELPARAM(r.left + 5, r.top + 5));
  Pump();
  EXPECT_EQ(g_drawn.back().state, static_cast<UINT>(ODS_FOCUS));
  EXPECT_EQ(Notes().back(), (Note{2002, BN_CLICKED, b}));

  SetFocus(other);
  Pump();
  EXPECT_EQ(g_drawn.back().state, 0u);
  EnableWindow(b, FALSE);
  Pump();
  EXPECT_EQ(g_drawn.back().state, static_cast<UINT>(ODS_DISABLED));
  // A plain button draws itself: its parent is never asked.
  for (const Drawn& d : g_drawn) EXPECT_EQ(d.id, 2002u);
}

TEST_F(OwnerDrawAndLinks, LinkStaticChoosesTheCursorAndReportsItsClick) {
  g_link = Child(host_, u"STATIC", u"www.example.com", SS_NOTIFY, 2121, 10, 50, 120, 16);
  HWND label = Child(host_, u"STATIC", u"label", 0, 2122, 10, 80, 120, 16);
  ASSERT_TRUE(g_link && label);
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
  RECT r;
  GetWindowRect(g_link, &r);
  PostMessageW(host_, WM_MOUSEMOVE, 0, MAKELPARAM(r.left + 3, r.top + 3));
  Pump();
  EXPECT_EQ(GetCursor(), g_hand);
  EXPECT_STREQ(ce::CursorName(GetCursor()), "hand");
  ASSERT_FALSE(g_cursorAsks.empty());
  EXPECT_EQ(g_cursorAsks.back(), std::make_pair(g_link, static_cast<UINT>(WM_MOUSEMOVE)));

  Tap(host_, g_link);
  Tap(host_, label);  // no notify style: nothing to say
  Pump();
  std::vector<Note> clicks;
  for (const Note& n : Notes())
    if (n.code == STN_CLICKED) clicks.push_back(n);
  EXPECT_EQ(clicks, (std::vector<Note>{{2121, STN_CLICKED, g_link}}));

  // The wait cursor, and the previous one back.
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  EXPECT_STREQ(ce::CursorName(GetCursor()), "wait");
  SetCursor(old);
  EXPECT_EQ(GetCursor(), g_hand);
  EXPECT_EQ(LoadCursorW(nullptr, MAKEINTRESOURCE(12345)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST(ShellOpen, LinksAreRecordedBeepsLoggedOtherFilesRefused) {
  quilmo::test::TestDevice dev;
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = u"open";
  info.lpFile = u"http://www.example.com/quilmo";
  info.nShow = SW_SHOW;
  ASSERT_TRUE(ShellExecuteEx(&info));
  EXPECT_GT(reinterpret_cast<intptr_t>(info.hInstApp), 32);
  ASSERT_TRUE(MessageBeep(MB_ICONEXCLAMATION));

  std::vector<ce::ScreenLogEntry> log = ce::ReadScreenLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].caption, u"open");
  EXPECT_EQ(log[0].text, u"http://www.example.com/quilmo");
  EXPECT_EQ(log[1].caption, u"beep");
  EXPECT_EQ(log[1].text, u"exclamation");

  // A document with no program to open it, a drive-like name, a verb the
  // shell does not know, a missing program: failures, nothing logged.
  for (const char16_t* file : {u"\\My Documents\\notes.txt", u"C:\\x.exe"}) {
    info.lpFile = file;
    EXPECT_FALSE(ShellExecuteEx(&info)) << static_cast<const void*>(file);
  }
  info.lpFile = u"\\My Documents\\notes.txt";
  EXPECT_FALSE(ShellExecuteEx(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
  EXPECT_LE(reinterpret_cast<intptr_t>(info.hInstApp), 32);
  info.lpFile = u"www.example.com";
  info.lpVerb = u"print";
  EXPECT_FALSE(ShellExecuteEx(&info));
  info.cbSize = 0;
  info.lpVerb = nullptr;
  EXPECT_FALSE(ShellExecuteEx(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(ce::ReadScreenLog().size(), 2u);
}

}  // namespace
