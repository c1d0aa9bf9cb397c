// Dialogs from templates, modal loops in the headless mode, the screen
// file and settings changes.
#include <pugixml.hpp>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <optional>
#include <thread>

#include "../src/win_internal.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/msgbox.h"
#include "ce/rescontainer.h"
#include "ce/system.h"
#include "ce/time.h"
#include "testkit/TestDevice.h"
#include "ui/ScreenFile.h"
#include "win32_support.h"

using namespace w32test;

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// The password-style dialog every test uses: an edit (password), a disabled
// and a hidden edit, a check box, a label, OK (default) and Cancel.
ce::DialogTemplate PasswordTemplate() {
  ce::DialogTemplate t;
  t.id = 231;
  t.width = 200;
  t.height = 120;
  t.style = WS_POPUP | WS_CAPTION;
  t.caption = u"Password";
  t.controls = {
      {2128, u"STATIC", 4, 2, 190, 16, kChild, u"Enter the password"},
      {2018, u"EDIT", 4, 20, 100, 16, kChild | WS_TABSTOP | ES_PASSWORD, u""},
      {2019, u"EDIT", 4, 40, 100, 16, kChild | WS_TABSTOP | WS_DISABLED, u"off"},
      {2020, u"EDIT", 4, 60, 100, 16, WS_CHILD | WS_TABSTOP, u"hidden"},
      {2010, u"BUTTON", 4, 80, 100, 16, kChild | WS_TABSTOP | BS_AUTOCHECKBOX, u"Remember"},
      {IDOK, u"BUTTON", 110, 100, 40, 16, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, u"OK"},
      {IDCANCEL, u"BUTTON", 155, 100, 40, 16, kChild | WS_TABSTOP, u"Cancel"},
  };
  return t;
}

struct Seen {
  HWND initFocus = nullptr;
  int timers = 0;
  int settingChanges = 0;
  int boxAnswer = 0;
  BOOL enabledAfterBox = FALSE;
};
Seen g_seen;

INT_PTR PasswordProc(HWND h, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: g_seen.initFocus = reinterpret_cast<HWND>(wParam); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(h, LOWORD(wParam));
      return TRUE;
    default: return FALSE;
  }
}

// Runs the steps one per idle call; true while steps remain.
struct Steps {
  std::vector<std::function<void()>> list;
  size_t next = 0;
  void Install() {
    ui::SetIdleDriver([this] {
      if (next >= list.size()) return false;
      list[next++]();
      return true;
    });
  }
  ~Steps() { ui::SetIdleDriver({}); }
};

class Win32Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = Seen{};
    ui::SetMode(ui::Mode::Headless);
    ui::SetStallHandler([this](const std::string& what) { stalls_.push_back(what); });
  }
  void TearDown() override {
    ui::SetStallHandler({});
    ui::SetIdleDriver({});
    ce::SetMessageBoxService({});
  }
  // A data module holding the template as resource 231.
  HMODULE TemplateModule(quilmo::test::TestDevice& dev) {
    ce::res::Resource r;
    r.type = ce::res::kTypeTemplate;
    r.id = 231;
    r.data = ce::FormatDialogTemplate(PasswordTemplate());
    std::string bytes, error;
    EXPECT_TRUE(ce::res::BuildContainer({r}, &bytes, &error)) << error;
    bytes += ce::res::MakeTrailer(0, static_cast<uint32_t>(bytes.size()));
    dev.PutFile(u"\\Windows\\dialogs.dll", bytes);
    return LoadLibraryExW(u"\\Windows\\dialogs.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  std::vector<std::string> stalls_;
};

HWND Active() { return GetActiveWindow(); }
void Key(UINT vk) { PostMessageW(Active(), WM_KEYDOWN, vk, 0); }

TEST_F(Win32Dialog, TemplateFromModuleKeyboardAndScale) {
  ce::Profile big;
  big.screenWidth = 480;
  big.screenHeight = 640;
  quilmo::test::TestDevice dev(big);
  HMODULE module = TemplateModule(dev);
  ASSERT_NE(module, nullptr);
  HWND dlg = nullptr;
  Steps steps;
  steps.list = {
      [&] {
        dlg = FindWindowW(u"#32770", u"Password");  // top-level: other processes see it
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(ce::GetDialogTemplateId(dlg), 231);
        EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 2018));
        RECT r;
        GetWindowRect(GetDlgItem(dlg, 2018), &r);  // scale 2, placed below the top bar
        EXPECT_EQ(r.left, 8);
        EXPECT_EQ(r.top, ce::kTopBarHeight + 40);
        EXPECT_EQ(r.right - r.left, 200);
        EXPECT_EQ(SendMessageW(dlg, DM_GETDEFID, 0, 0), MAKELONG(IDOK, DC_HASDEFID));
        Key(VK_TAB);  // skips the disabled and the hidden edit
      },
      [&] {
        EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 2010));
        PostMessageW(dlg, WM_CHAR, VK_SPACE, 0);  // space presses the focused check box
        Key(VK_RETURN);                          // the default button
      },
  };
  steps.Install();
  EXPECT_EQ(DialogBoxParamW(module, MAKEINTRESOURCEW(231), nullptr, PasswordProc, 0), IDOK);
  EXPECT_EQ(steps.next, 2u);
  EXPECT_TRUE(stalls_.empty());
  EXPECT_FALSE(IsWindow(dlg));
  EXPECT_EQ(FindWindowW(u"#32770", u"Password"), nullptr);

  // Escape cancels; a stall with nothing left to do cancels too.
  Steps esc;
  esc.list = {[] { Key(VK_ESCAPE); }};
  esc.Install();
  EXPECT_EQ(DialogBoxParamW(module, MAKEINTRESOURCEW(231), nullptr, PasswordProc, 0), IDCANCEL);
  EXPECT_TRUE(stalls_.empty());
  ui::SetIdleDriver({});
  EXPECT_EQ(DialogBoxParamW(module, MAKEINTRESOURCEW(231), nullptr, PasswordProc, 0), IDCANCEL);
  EXPECT_EQ(stalls_.size(), 1u);

  EXPECT_EQ(DialogBoxParamW(module, MAKEINTRESOURCEW(232), nullptr, PasswordProc, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  FreeLibrary(module);
}

// "Go" pumps while it works; a message dispatched by that pump opens a box.
INT_PTR NestingProc(HWND h, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_APP) {
    g_seen.boxAnswer = MessageBoxW(h, u"Keep going?", u"Question", MB_YESNO);
    g_seen.enabledAfterBox = IsWindowEnabled(h);
    return TRUE;
  }
  if (msg == WM_COMMAND && LOWORD(wParam) == 1001) {
    PostMessageW(h, WM_APP, 0, 0);
    ui::PumpMessages();
    EndDialog(h, 42);
    return TRUE;
  }
  return PasswordProc(h, msg, wParam, 0);
}

TEST_F(Win32Dialog, BoxOpenedFromAPumpInsideAHandlerIsANestedModalWindow) {
  quilmo::test::TestDevice dev;
  ce::SetMessageBoxService(ui::detail::WindowMessageBox);
  ce::DialogTemplate t = PasswordTemplate();
  t.controls.push_back({1001, u"BUTTON", 4, 100, 40, 16, kChild | WS_TABSTOP, u"Go"});
  HWND dlg = nullptr, box = nullptr;
  int depthInBox = 0;
  BOOL dialogEnabledUnderBox = TRUE;
  Steps steps;
  steps.list = {
      [&] {
        dlg = Active();
        Tap(dlg, GetDlgItem(dlg, 1001));
      },
      [&] {
        box = Active();
        ASSERT_NE(box, dlg);
        EXPECT_EQ(Text(box), u"Question");
        depthInBox = ui::ModalDepth();
        dialogEnabledUnderBox = IsWindowEnabled(dlg);
        Tap(dlg, GetDlgItem(dlg, IDCANCEL));  // the dialog under the box takes no input
        Tap(box, GetDlgItem(box, IDNO));
      },
  };
  steps.Install();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &t, nullptr, NestingProc, 0), 42);
  EXPECT_EQ(steps.next, 2u);
  EXPECT_EQ(depthInBox, 2);
  EXPECT_FALSE(dialogEnabledUnderBox);
  EXPECT_EQ(g_seen.boxAnswer, IDNO);
  EXPECT_TRUE(g_seen.enabledAfterBox);
  EXPECT_FALSE(IsWindow(box));
  EXPECT_EQ(ui::ModalDepth(), 0);
  EXPECT_TRUE(stalls_.empty());
}

INT_PTR CountdownProc(HWND h, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) {
    SetTimer(h, 7, 5000, nullptr);
    return TRUE;
  }
  if (msg == WM_TIMER && wParam == 7 && ++g_seen.timers == 3) EndDialog(h, IDOK);
  return PasswordProc(h, msg, wParam, 0);
}

INT_PTR TickingProc(HWND h, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) SetTimer(h, 8, 60000, nullptr);
  if (msg == WM_TIMER) ++g_seen.timers;
  return PasswordProc(h, msg, wParam, 0);
}

TEST_F(Win32Dialog, HeadlessLoopsJumpTheClockToTimersAndNeverHang) {
  quilmo::test::TestDevice dev;
  ce::DialogTemplate t = PasswordTemplate();
  const int64_t before = ce::DeviceNowMs();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &t, nullptr, CountdownProc, 0), IDOK);
  EXPECT_EQ(g_seen.timers, 3);
  EXPECT_GE(ce::DeviceNowMs() - before, 15000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(stalls_.empty());

  // A timer that keeps firing without anything else happening ends in a stall.
  g_seen.timers = 0;
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &t, nullptr, TickingProc, 0), IDCANCEL);
  EXPECT_EQ(stalls_.size(), 1u);
  EXPECT_EQ(g_seen.timers, 24 * 60);  // one device day of minutes
}

INT_PTR ProgressProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_APP + 1 && lParam == 3) EndDialog(h, IDOK);
  return PasswordProc(h, msg, wParam, lParam);
}

TEST_F(Win32Dialog, WorkInProgressKeepsALoopWaitingForItsWorker) {
  quilmo::test::TestDevice dev;
  ce::DialogTemplate t = PasswordTemplate();
  std::thread worker;
  std::optional<ui::WorkInProgress> busy;
  Steps steps;
  steps.list = {[&] {
    HWND dlg = Active();
    busy.emplace();  // before the worker starts: no stall in between
    worker = std::thread([dlg] {
      for (int i = 1; i <= 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        PostMessageW(dlg, WM_APP + 1, 0, i);
      }
    });
  }};
  steps.Install();
  const int64_t before = ce::DeviceNowMs();
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &t, nullptr, ProgressProc, 0), IDOK);
  worker.join();
  busy.reset();
  EXPECT_TRUE(stalls_.empty());
  EXPECT_LT(ce::DeviceNowMs() - before, 5000);  // real time: no clock jumps
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST_F(Win32Dialog, ScreenFileHoldsVisibleWindowsAndNeverASecret) {
  ce::Profile big;
  big.screenWidth = 480;
  big.screenHeight = 640;
  quilmo::test::TestDevice dev(big);
  ce::DialogTemplate t = PasswordTemplate();
  t.style |= WS_VISIBLE;
  HWND dlg = CreateDialogIndirectParamW(nullptr, &t, nullptr, PasswordProc, 0);
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(g_seen.initFocus, GetDlgItem(dlg, 2018));
  SetDlgItemTextW(dlg, 2018, u"secret1");
  CheckDlgButton(dlg, 2010, BST_CHECKED);
  ui::PumpMessages();
  const std::filesystem::path file = dev.dir() / "screen.xml";
  std::string text = ReadAll(file);
  EXPECT_EQ(text.find("secret1"), std::string::npos);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(text.c_str())) << text;
  pugi::xml_node screen = doc.child("screen");
  EXPECT_EQ(screen.attribute("width").as_int(), 480);
  EXPECT_EQ(screen.attribute("scale").as_int(), 2);
  pugi::xml_node win = screen.child("window");
  EXPECT_EQ(win.attribute("id").as_int(), 231);
  EXPECT_STREQ(win.attribute("title").value(), "Password");
  EXPECT_EQ(win.attribute("y").as_int(), ce::kTopBarHeight);
  EXPECT_EQ(win.attribute("width").as_int(), 400);
  auto control = [&](int id) { return win.find_child_by_attribute("control", "id", std::to_string(id).c_str()); };
  EXPECT_STREQ(control(2018).attribute("text").value(), "*******");
  EXPECT_EQ(control(2018).attribute("y").as_int(), ce::kTopBarHeight + 40);
  EXPECT_EQ(std::string(win.attribute("focus").value()),
            std::to_string(reinterpret_cast<uintptr_t>(GetDlgItem(dlg, 2018))));
  EXPECT_EQ(control(2010).attribute("checked").as_int(), 1);
  EXPECT_EQ(control(2020).attribute("visible").as_int(), 0);
  EXPECT_EQ(control(2019).attribute("enabled").as_int(), 0);

  // Hidden windows are left out; an unchanged model writes nothing.
  ShowWindow(dlg, SW_HIDE);
  ui::PumpMessages();
  EXPECT_FALSE(doc.load_string(ReadAll(file).c_str()) && doc.child("screen").child("window"));
  std::filesystem::remove(file);
  ui::PumpMessages();
  EXPECT_FALSE(std::filesystem::exists(file));
  DestroyWindow(dlg);
}

int g_pageChanges = 0;
int g_hostWidthSeen = 0;
LRESULT SettingsHost(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SETTINGCHANGE) g_hostWidthSeen = GetSystemMetrics(SM_CXSCREEN);
  if (msg == WM_PAINT) ++g_seen.timers;  // counts paints here
  return DefWindowProcW(h, msg, wParam, lParam);
}
INT_PTR PageProc(HWND, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_SETTINGCHANGE) ++g_pageChanges;
  return msg == WM_INITDIALOG;
}

TEST_F(Win32Dialog, SettingChangeReloadsTheProfileFirstAndReachesPages) {
  quilmo::test::TestDevice dev;
  WNDCLASSW wc{};
  wc.lpfnWndProc = SettingsHost;
  wc.lpszClassName = u"W32Settings";
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, u"W32Settings", u"Main", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr,
                              nullptr);
  ce::DialogTemplate page = PasswordTemplate();
  page.style = WS_CHILD | WS_VISIBLE;
  HWND p = CreateDialogIndirectParamW(nullptr, &page, host, PageProc, 0);
  ASSERT_TRUE(host && p);
  ui::PumpMessages();
  EXPECT_EQ(g_seen.timers, 1);  // the shown window was painted once
  InvalidateRect(host, nullptr, TRUE);
  EXPECT_TRUE(UpdateWindow(host));
  EXPECT_EQ(g_seen.timers, 2);

  // Another program rotates the screen: profile.txt changes, then the message.
  ce::Profile rotated = dev.device()->GetProfile();
  std::swap(rotated.screenWidth, rotated.screenHeight);
  std::ofstream(dev.dir() / "profile.txt", std::ios::trunc) << rotated.Serialize();
  PostMessageW(host, WM_SETTINGCHANGE, 0, 0);
  ui::PumpMessages();
  EXPECT_EQ(g_hostWidthSeen, 320);
  EXPECT_EQ(g_pageChanges, 1);
  EXPECT_EQ(ce::GetDisplayScale(), 1);  // 320 wide in landscape: 320 / 320
  DestroyWindow(host);
}

TEST_F(Win32Dialog, InitFromEnvironmentPicksTheMode) {
  quilmo::test::TestDevice dev;
  unsetenv("QUILMO_UI_SCRIPT");
  setenv("QUILMO_UI", "screen", 1);
  EXPECT_TRUE(ui::InitFromEnvironment());
  EXPECT_EQ(ui::GetMode(), ui::Mode::Screen);
  setenv("QUILMO_UI", "bogus", 1);
  EXPECT_FALSE(ui::InitFromEnvironment());
  EXPECT_EQ(ui::GetMode(), ui::Mode::Headless);
  unsetenv("QUILMO_UI");
  EXPECT_TRUE(ui::InitFromEnvironment());
  EXPECT_EQ(ce::ShowMessageBox({nullptr, u"x", u"y", MB_OKCANCEL | MB_DEFBUTTON2, 0}), IDCANCEL);  // headless again
}

}  // namespace

namespace {

int g_killFocusAfterEnd = 0;
bool g_ended = false;

INT_PTR EndFromEditProc(HWND h, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) {
    SetFocus(GetDlgItem(h, 2018));
    SetTimer(h, 1, 1000, nullptr);
    return FALSE;
  }
  if (msg == WM_TIMER) {
    KillTimer(h, 1);
    g_ended = true;
    EndDialog(h, IDCANCEL);
    return TRUE;
  }
  if (msg == WM_COMMAND && LOWORD(wParam) == 2018 && HIWORD(wParam) == EN_KILLFOCUS && g_ended)
    ++g_killFocusAfterEnd;
  return FALSE;
}

TEST_F(Win32Dialog, AnEndingDialogTakesTheFocusAwayFromItsEditFirst) {
  quilmo::test::TestDevice dev;
  ce::DialogTemplate t = PasswordTemplate();
  g_killFocusAfterEnd = 0;
  g_ended = false;
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &t, nullptr, EndFromEditProc, 0), IDCANCEL);
  EXPECT_EQ(g_killFocusAfterEnd, 1);
  EXPECT_EQ(GetFocus(), nullptr);
}

}  // namespace
