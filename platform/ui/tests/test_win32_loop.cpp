// Loops, timers of child windows, activation and the dialog keyboard and
// item helpers.
#include "ce/errors.h"
#include "ce/time.h"
#include "testkit/TestDevice.h"
#include "win32_support.h"

using namespace w32test;

namespace {

class Win32Loop : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::SetMode(ui::Mode::Headless);
    ui::SetStallHandler([this](const std::string&) { ++stalls_; });
  }
  void TearDown() override {
    ui::SetStallHandler({});
    ui::SetIdleDriver({});
  }
  quilmo::test::TestDevice dev_;
  int stalls_ = 0;
};

std::vector<UINT_PTR> g_ticks;
void OnTick(HWND, UINT, UINT_PTR id, DWORD) { g_ticks.push_back(id); }

TEST_F(Win32Loop, ChildTimersFireOnTheDeviceClockAndTheMainLoopEndsOnAStall) {
  HWND host = MakeHost();
  HWND label = Child(host, u"STATIC", u"", 0, 1, 0, 0, 10, 10);
  g_ticks.clear();
  ASSERT_EQ(SetTimer(label, 5, 2500, OnTick), 5u);
  ASSERT_EQ(SetTimer(label, 6, 1000, OnTick), 6u);
  int64_t due = 0;
  ASSERT_TRUE(ce::NextTimerDue(&due));
  EXPECT_NEAR(static_cast<double>(due - ce::DeviceNowMs()), 1000.0, 100.0);
  // The main loop jumps from timer to timer; once they are killed it stalls
  // and GetMessageW gives WM_QUIT instead of sleeping for ever.
  ui::SetIdleDriver([&] {
    if (g_ticks.size() < 4) return false;
    KillTimer(label, 5);
    KillTimer(label, 6);
    return false;
  });
  EXPECT_EQ(ui::RunMessageLoop(), 0);
  EXPECT_EQ(stalls_, 1);
  ASSERT_GE(g_ticks.size(), 4u);
  EXPECT_EQ(std::vector<UINT_PTR>(g_ticks.begin(), g_ticks.begin() + 4), (std::vector<UINT_PTR>{6, 6, 5, 6}));
  EXPECT_FALSE(KillTimer(label, 5));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMER_NOT_FOUND));
  // A timer dies with its window.
  SetTimer(label, 9, 10, OnTick);
  DestroyWindow(label);
  EXPECT_FALSE(ce::NextTimerDue(&due));
}

TEST_F(Win32Loop, QuitInsideAModalDialogEndsItAndReachesTheOuterLoop) {
  ce::DialogTemplate t;
  t.width = 100;
  t.height = 50;
  t.controls = {{IDOK, u"BUTTON", 0, 0, 40, 16, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, u"OK"}};
  ui::SetIdleDriver([] {
    PostQuitMessage(7);
    return true;
  });
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &t, nullptr, nullptr, 0), IDCANCEL);
  ui::SetIdleDriver({});
  EXPECT_EQ(ui::RunMessageLoop(), 7);
  EXPECT_EQ(stalls_, 0);
}

LRESULT MovesProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_MOVE || msg == WM_SIZE || msg == WM_ACTIVATE) HostMessages().push_back(msg);
  return DefWindowProcW(h, msg, wParam, lParam);
}

TEST_F(Win32Loop, GeometryZOrderAndActivation) {
  HWND a = MakeHost(u"A");
  HWND b = MakeHost(u"B");  // shown last: active and on top
  EXPECT_EQ(GetActiveWindow(), b);
  EXPECT_EQ(ce::OwnTopLevelWindows(), (std::vector<HWND>{a, b}));
  EXPECT_TRUE(SetForegroundWindow(a));
  EXPECT_EQ(GetForegroundWindow(), a);
  EXPECT_EQ(ce::OwnTopLevelWindows(), (std::vector<HWND>{b, a}));
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);  // next = the one below
  ShowWindow(a, SW_HIDE);
  EXPECT_EQ(GetActiveWindow(), b);

  HWND c = Child(b, u"STATIC", u"", 0, 1, 0, 0, 10, 10);
  SetWindowLongPtrW(c, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(MovesProc));
  HostMessages().clear();
  EXPECT_TRUE(MoveWindow(c, 5, 6, 30, 40, TRUE));
  EXPECT_EQ(HostMessages(), (std::vector<UINT>{WM_MOVE, WM_SIZE}));
  RECT r;
  GetClientRect(c, &r);
  EXPECT_EQ(r.right, 30);
  EXPECT_EQ(r.bottom, 40);
  HostMessages().clear();
  SetWindowPos(c, nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_TRUE(HostMessages().empty());  // nothing changed
  HWND d = Child(b, u"STATIC", u"", 0, 2, 0, 0, 10, 10);
  SetWindowPos(d, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(GetWindow(b, GW_CHILD), d);
  EXPECT_FALSE(EnableWindow(d, FALSE));  // was enabled
  EXPECT_FALSE(IsWindowEnabled(d));
  EXPECT_TRUE(EnableWindow(d, TRUE));
  EXPECT_EQ(GetWindowLongPtrW(c, GWL_USERDATA), 0);
  SetWindowLongPtrW(c, GWL_USERDATA, 77);
  EXPECT_EQ(GetWindowLongPtrW(c, GWL_USERDATA), 77);
  EXPECT_EQ(GetWindowLongPtrW(c, DWL_MSGRESULT), 0);  // not a dialog
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(1413L));
}

int g_commands[4];
INT_PTR CountingProc(HWND, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_COMMAND && LOWORD(wParam) < 4) ++g_commands[LOWORD(wParam)];
  return msg == WM_INITDIALOG;
}

TEST_F(Win32Loop, DialogKeysAndItemHelpers) {
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
  ce::DialogTemplate t;
  t.width = 200;
  t.height = 100;
  t.style = WS_VISIBLE;
  t.controls = {
      {10, u"EDIT", 0, 0, 50, 16, kChild, u" -12 "},
      {11, u"BUTTON", 0, 20, 50, 16, kChild | BS_AUTORADIOBUTTON | WS_GROUP, u"a"},
      {12, u"BUTTON", 0, 40, 50, 16, kChild | BS_AUTORADIOBUTTON, u"b"},
      {3, u"BUTTON", 60, 0, 40, 16, kChild | BS_PUSHBUTTON | WS_GROUP, u"Other"},
      {IDOK, u"BUTTON", 60, 20, 40, 16, kChild | BS_DEFPUSHBUTTON, u"OK"},
  };
  std::fill(std::begin(g_commands), std::end(g_commands), 0);
  HWND dlg = CreateDialogIndirectParamW(nullptr, &t, nullptr, CountingProc, 0);
  ASSERT_NE(dlg, nullptr);
  auto key = [&](HWND to, UINT vk) {
    MSG m{to, WM_KEYDOWN, vk, 0, 0, {0, 0}};
    return IsDialogMessageW(dlg, &m);
  };
  BOOL ok = FALSE;
  EXPECT_EQ(static_cast<int>(GetDlgItemInt(dlg, 10, &ok, TRUE)), -12);
  EXPECT_TRUE(ok);
  GetDlgItemInt(dlg, 10, &ok, FALSE);
  EXPECT_FALSE(ok);  // no sign without isSigned
  SetDlgItemTextW(dlg, 10, u"4294967296");
  GetDlgItemInt(dlg, 10, &ok, FALSE);
  EXPECT_FALSE(ok);  // overflow
  SetDlgItemInt(dlg, 10, 4294967295u, FALSE);
  EXPECT_EQ(GetDlgItemInt(dlg, 10, &ok, FALSE), 4294967295u);

  // Return: the focused push button, else the default one; a disabled
  // default button does nothing.
  SetFocus(GetDlgItem(dlg, 10));
  EXPECT_TRUE(key(GetDlgItem(dlg, 10), VK_RETURN));
  SetFocus(GetDlgItem(dlg, 3));
  key(GetDlgItem(dlg, 3), VK_RETURN);
  EnableWindow(GetDlgItem(dlg, IDOK), FALSE);
  SetFocus(GetDlgItem(dlg, 10));
  key(GetDlgItem(dlg, 10), VK_RETURN);
  EXPECT_EQ(g_commands[IDOK], 1);
  EXPECT_EQ(g_commands[3], 1);
  SendMessageW(dlg, WM_CLOSE, 0, 0);
  EXPECT_EQ(g_commands[IDCANCEL], 1);

  // Arrows move within a radio group and check as they go.
  SetFocus(GetDlgItem(dlg, 11));
  key(GetDlgItem(dlg, 11), VK_DOWN);
  EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 12));
  EXPECT_EQ(IsDlgButtonChecked(dlg, 12), BST_CHECKED);
  key(GetDlgItem(dlg, 12), VK_DOWN);
  EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 11));  // wraps within the group
  // Tab order wraps and skips the disabled OK button; Tab into an edit selects it.
  EXPECT_EQ(GetNextDlgTabItem(dlg, GetDlgItem(dlg, 3), FALSE), GetDlgItem(dlg, 10));
  EXPECT_EQ(GetNextDlgTabItem(dlg, GetDlgItem(dlg, 10), TRUE), GetDlgItem(dlg, 3));
  SetFocus(GetDlgItem(dlg, 3));
  key(GetDlgItem(dlg, 3), VK_TAB);
  DWORD a = 0, b = 0;
  SendDlgItemMessageW(dlg, 10, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, 10u);
  EXPECT_TRUE(EndDialog(dlg, 5));  // modeless: only hidden
  EXPECT_TRUE(IsWindow(dlg));
  EXPECT_FALSE(IsWindowVisible(dlg));
  DestroyWindow(dlg);
}

}  // namespace
