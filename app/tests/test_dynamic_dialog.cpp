// The dialog and page bases: button layout in portrait and landscape and
// on turns of the screen, title font and colour, text fitting, the help
// viewer, and Localizer::SetControlText.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/DynamicDialog.h"
#include "ce/dialog.h"
#include "ce/gdi.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "cesim/gdi.h"
#include "cesim/msgbox.h"
#include "cesim/sip.h"
#include "core/Localizer.h"
#include "dlg_fixture.h"
#include "testkit/Closable.h"
#include "testkit/ScopedState.h"
#include "ui/Automation.h"

namespace fs = std::filesystem;
using ui::test::Automation;
using ui::test::Dialog;

namespace {

constexpr int kLayoutTemplate = 9001;
constexpr int kLabelId = 2052;
constexpr int kEditId = 2000;

ce::DialogTemplate LayoutTemplate(bool thirdButton) {
  ce::DialogTemplate t;
  t.id = kLayoutTemplate;
  t.width = 240;
  t.height = 294;
  t.style = WS_POPUP | WS_VISIBLE;
  t.fontHeight = 13;
  auto add = [&](int id, const char16_t* cls, DWORD style, int x, int y, int w, int h,
                 const char16_t* text) {
    t.controls.push_back({id, cls, x, y, w, h, WS_CHILD | WS_VISIBLE | style, text});
  };
  add(2128, u"STATIC", 0, 4, 2, 232, 16, u"Title");
  add(kLabelId, u"STATIC", 0, 4, 40, 100, 16, u"Password:");
  add(IDOK, u"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, 10, 100, 60, 23, u"OK");
  add(IDCANCEL, u"BUTTON", WS_TABSTOP, 80, 100, 60, 23, u"Cancel");
  if (thirdButton) add(2057, u"BUTTON", WS_TABSTOP, 150, 100, 80, 23, u"More");
  add(kEditId, u"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, 4, 60, 100, 20, u"");
  return t;
}

class LayoutDlg : public CDynamicDialog {
 public:
  explicit LayoutDlg(bool thirdButton, bool dynamicLayout = true, LPCWSTR topic = u"Layout_Topic")
      : CDynamicDialog(kLayoutTemplate, nullptr, topic, true, dynamicLayout) {
    InitModalIndirect(LayoutTemplate(thirdButton));
    UseInputPanel(kEditId);
  }
  BOOL RelayoutDialog() override {
    ++relayouts;
    return CDynamicDialog::RelayoutDialog();
  }
  int relayouts = 0;
};

RECT R(int l, int t, int r, int b) { return RECT{l, t, r, b}; }

bool Same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const RECT& r) {
  return "{" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom) + "}";
}

#define EXPECT_RECT(actual, expected) \
  EXPECT_TRUE(Same(actual, expected)) << Show(actual) << " expected " << Show(expected)

RECT WindowRect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

class DynamicDialogTest : public dlgtest::DialogTest {
 protected:
  using dlgtest::DialogTest::DialogTest;
  void RunChecked(CDialog& dlg, Automation& a) {
    dlg.DoModal();
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done());
  }
};

TEST_F(DynamicDialogTest, ButtonsFollowTheScreenAndTwoTurnsRestoreThem) {
  LayoutDlg dlg(false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    EXPECT_RECT(WindowRect(d.Hwnd()), R(0, 26, 240, 320));
    WCHAR title[64] = {};
    GetWindowTextW(d.Hwnd(), title, 64);
    EXPECT_EQ(std::u16string(title), u"Quilmo Backup");
    // Portrait: along the bottom, OK right, Cancel left.
    EXPECT_RECT(d.Rect(IDOK), R(177, 294, 237, 317));
    EXPECT_RECT(d.Rect(IDCANCEL), R(3, 294, 63, 317));
    EXPECT_FALSE(dlg.IsLandscapeLayout());
    const int before = dlg.relayouts;

    SendMessageW(d.Hwnd(), WM_SETTINGCHANGE, 0, 0);  // no turn: nothing moves
    EXPECT_EQ(dlg.relayouts, before);

    SetWindowLongW(d.Hwnd(), GWL_STYLE, GetWindowLongW(d.Hwnd(), GWL_STYLE) | WS_VSCROLL);
    Rotate(d.Hwnd());
    EXPECT_EQ(dlg.relayouts, before + 1);
    EXPECT_TRUE(dlg.IsLandscapeLayout());
    EXPECT_EQ(GetWindowLongW(d.Hwnd(), GWL_STYLE) & WS_VSCROLL, 0);
    EXPECT_RECT(WindowRect(d.Hwnd()), R(0, 26, 320, 240));
    // Landscape: a column at the right edge from the top.
    EXPECT_RECT(d.Rect(IDOK), R(257, 29, 317, 52));
    EXPECT_RECT(d.Rect(IDCANCEL), R(257, 55, 317, 78));

    Rotate(d.Hwnd());
    EXPECT_EQ(dlg.relayouts, before + 2);
    EXPECT_RECT(WindowRect(d.Hwnd()), R(0, 26, 240, 320));
    EXPECT_RECT(d.Rect(IDOK), R(177, 294, 237, 317));
    EXPECT_RECT(d.Rect(IDCANCEL), R(3, 294, 63, 317));
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
}

TEST_F(DynamicDialogTest, AThirdButtonIsCentredOrStackedAndSetsTheWidth) {
  LayoutDlg dlg(true);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    EXPECT_RECT(d.Rect(IDOK), R(157, 294, 237, 317));
    EXPECT_RECT(d.Rect(2057), R(80, 294, 160, 317));
    EXPECT_RECT(d.Rect(IDCANCEL), R(3, 294, 83, 317));
    Rotate(d.Hwnd());
    EXPECT_RECT(d.Rect(IDOK), R(237, 29, 317, 52));
    EXPECT_RECT(d.Rect(2057), R(237, 55, 317, 78));
    EXPECT_RECT(d.Rect(IDCANCEL), R(237, 81, 317, 104));
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
}

TEST_F(DynamicDialogTest, WithoutDynamicLayoutTheTemplatePlacesTheButtons) {
  LayoutDlg dlg(false, false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    EXPECT_RECT(d.Rect(IDOK), R(10, 126, 70, 149));
    Rotate(d.Hwnd());
    EXPECT_EQ(dlg.relayouts, 2);  // once at the start, once for the turn
    EXPECT_RECT(d.Rect(IDOK), R(10, 126, 70, 149));
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
}

class SquareScreenTest : public DynamicDialogTest {
 protected:
  SquareScreenTest() : DynamicDialogTest(240, 240) {}
};

TEST_F(SquareScreenTest, EverySettingChangeLaysTheButtonsOutAgain) {
  LayoutDlg dlg(false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    EXPECT_RECT(WindowRect(d.Hwnd()), R(0, 26, 240, 240));
    EXPECT_RECT(d.Rect(IDOK), R(177, 214, 237, 237));
    MoveWindow(d.FindControl(IDOK), 0, 0, 60, 23, TRUE);
    const int before = dlg.relayouts;
    SendMessageW(d.Hwnd(), WM_SETTINGCHANGE, 0, 0);
    EXPECT_RECT(d.Rect(IDOK), R(177, 214, 237, 237));
    EXPECT_EQ(dlg.relayouts, before);
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
}

TEST_F(DynamicDialogTest, TitleGetsItsFontAndColour) {
  SetConfigDWORD(u"AllowSmallFonts", 0);
  LayoutDlg dlg(false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(d.FindControl(2128), WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    ASSERT_EQ(GetObjectW(font, sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
    EXPECT_EQ(lf.lfHeight, 16);
    EXPECT_EQ(lf.lfWeight, 700);
    HDC dc = GetDC(d.Hwnd());
    SetTextColor(dc, 0);
    SendMessageW(d.Hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(d.FindControl(kLabelId)));
    EXPECT_EQ(GetTextColor(dc), 0u);
    SendMessageW(d.Hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(d.FindControl(2128)));
    EXPECT_EQ(GetTextColor(dc), 0x960000u);
    ReleaseDC(d.Hwnd(), dc);
    // Painting draws the separator line.
    const uint64_t drawn = ce::GdiDrawCallCount();
    InvalidateRect(d.Hwnd(), nullptr, TRUE);
    UpdateWindow(d.Hwnd());
    EXPECT_GT(ce::GdiDrawCallCount(), drawn);
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
}

TEST_F(DynamicDialogTest, FitTextHeightMeasuresOneOrTwoLines) {
  LayoutDlg dlg(false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    // "Password:" in the 13-pixel font: 9 x 8 = 72 wide, 13 high.
    CWnd* label = CWnd::FromHandle(d.FindControl(kLabelId));
    CRect r(10, 20, 110, 30);
    dlg.FitTextHeight(label, r, false, false);
    EXPECT_RECT(r, R(10, 20, 85, 36));
    r = CRect(10, 20, 60, 30);
    dlg.FitTextHeight(label, r, true, false);
    EXPECT_RECT(r, R(10, 20, 60, 55));  // wider than 50: 2 x 16 + 3
    r = CRect(10, 20, 110, 30);
    dlg.FitTextHeight(label, r, true, true);
    EXPECT_RECT(r, R(10, 20, 110, 36));  // 80 left beside the icon: one line
    r = CRect(10, 20, 100, 30);
    dlg.FitTextHeight(label, r, true, true);
    EXPECT_RECT(r, R(10, 20, 100, 55));  // 70 left: two lines
    r = CRect(10, 20, 110, 30);
    dlg.FitTextHeight(label, r, false, true);
    EXPECT_RECT(r, R(10, 20, 105, 36));
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
}

TEST_F(DynamicDialogTest, RegisteredEditFieldsRaiseAndLowerTheInputPanel) {
  LayoutDlg dlg(false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    EXPECT_EQ(ce::SipFlags() & SIPF_ON, 0u);
    d.Focus(kEditId);
    EXPECT_EQ(ce::SipFlags() & SIPF_ON, SIPF_ON);
    d.Focus(IDOK);
    EXPECT_EQ(ce::SipFlags() & SIPF_ON, 0u);
    const auto calls = ce::SipHistory();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].value, static_cast<DWORD>(SIP_UP));
    EXPECT_EQ(calls[1].value, static_cast<DWORD>(SIP_DOWN));
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
}

TEST_F(DynamicDialogTest, ClosingWithTheFocusInARegisteredFieldLowersTheInputPanel) {
  LayoutDlg dlg(false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    d.Focus(kEditId);
    EXPECT_EQ(ce::SipFlags() & SIPF_ON, SIPF_ON);
    PostMessageW(d.Hwnd(), WM_COMMAND, IDCANCEL, 0);  // Escape: the focus stays
  });
  RunChecked(dlg, a);
  EXPECT_EQ(ce::SipFlags() & SIPF_ON, 0u);
}

// ---- help viewer -------------------------------------------------------

class HelpTest : public DynamicDialogTest {
 protected:
  // The help viewer's stand-in (a build dependency of these tests).
  void InstallViewer() {
    const fs::path standin = fs::path(QUILMO_BIN_DIR) / "peghelp";
    ASSERT_TRUE(fs::exists(standin)) << standin << " is missing";
    const fs::path host = dev_.Host(u"\\Windows\\peghelp.exe");
    fs::create_directories(host.parent_path());
    fs::copy_file(standin, host, fs::copy_options::overwrite_existing);
  }
  // Command lines of the viewers started so far; ends them.
  std::vector<std::u16string> ViewerCommandLines() { return quilmo::test::StartedAs(dev_, "peghelp.exe"); }
};

TEST_F(HelpTest, HelpArgumentJoinsFolderAndFileWithOneBackslash) {
  EXPECT_EQ(CDynamicDialog::HelpArgument(u""), CString(u"\\Windows\\QuilmoBackup.htm#Main_Contents"));
  ABackupRegistrySettings config(kConfigKeyKind);
  ASSERT_TRUE(config.WriteString(u"HelpFileName", u"\\Guide.htm"));
  EXPECT_EQ(CDynamicDialog::HelpArgument(u"Backup"), CString(u"\\Windows\\Guide.htm#Backup"));
}

TEST_F(HelpTest, ShowHelpStartsTheViewerOnTheTopicAndWmHelpDoesToo) {
  LayoutDlg noTopic(false, true, nullptr);
  EXPECT_FALSE(noTopic.ShowHelp());  // no viewer installed
  ASSERT_NO_FATAL_FAILURE(InstallViewer());
  EXPECT_TRUE(noTopic.ShowHelp());

  LayoutDlg dlg(false);
  Automation a;
  a.OnDialog(kLayoutTemplate, [&](Dialog& d) {
    HELPINFO info{};
    info.cbSize = sizeof(info);
    SendMessageW(d.Hwnd(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    d.Click(IDCANCEL);
  });
  RunChecked(dlg, a);
  const auto lines = ViewerCommandLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], u"\\Windows\\QuilmoBackup.htm#Main_Contents");
  EXPECT_EQ(lines[1], u"\\Windows\\QuilmoBackup.htm#Layout_Topic");
}

// ---- property page -----------------------------------------------------

class CountingPage : public CDynamicPropertyPage {
 public:
  CountingPage() : CDynamicPropertyPage(231) {}
  BOOL OnOrientationChange() override {
    ++hooks;
    return TRUE;
  }
  int hooks = 0;
};

TEST_F(DynamicDialogTest, PageCallsItsOrientationHookOnlyOnTurns) {
  CountingPage page;
  CPropertySheet sheet(u"Sheet");
  sheet.AddPage(&page);
  Automation a;
  a.Do([&](Automation& self) {
    if (!page.m_hWnd) return self.Fail("page not made");
    WCHAR title[64] = {};
    GetWindowTextW(page.m_hWnd, title, 64);
    EXPECT_EQ(std::u16string(title), u"Quilmo Backup");
    EXPECT_EQ(page.hooks, 1);
    SendMessageW(page.m_hWnd, WM_SETTINGCHANGE, 0, 0);
    EXPECT_EQ(page.hooks, 1);
    page.ModifyStyle(0, WS_VSCROLL);
    Rotate(page.m_hWnd);
    EXPECT_EQ(page.hooks, 2);
    EXPECT_TRUE(page.IsLandscapeLayout());
    EXPECT_EQ(page.GetStyle() & WS_VSCROLL, 0u);
    Rotate(page.m_hWnd);
    EXPECT_EQ(page.hooks, 3);
    page.ModifyStyle(0, WS_VSCROLL);
    EXPECT_TRUE(page.RelayoutPage());
    EXPECT_EQ(page.GetStyle() & WS_VSCROLL, 0u);
    PostMessageW(sheet.m_hWnd, WM_COMMAND, IDCANCEL, 0);
  });
  sheet.DoModal();
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
}

// ---- Localizer::SetControlText ------------------------------------------

TEST_F(DynamicDialogTest, SetControlTextSetsStateOrReportsWhatIsMissing) {
  std::vector<ce::MessageBoxRequest> boxes;
  const quilmo::test::ScopedMessageBoxService answer([&](const ce::MessageBoxRequest& r) {
    boxes.push_back(r);
    return IDOK;
  });
  const ce::DialogTemplate t = LayoutTemplate(false);
  HWND dlg = CreateDialogIndirectParamW(nullptr, &t, nullptr, nullptr, 0);
  ASSERT_NE(dlg, nullptr);

  HWND label = Localizer::SetControlText(dlg, kLabelId, 57720, false, false);
  EXPECT_EQ(label, GetDlgItem(dlg, kLabelId));
  WCHAR text[64] = {};
  GetWindowTextW(label, text, 64);
  EXPECT_EQ(std::u16string(text), u"Confirm password:");
  EXPECT_FALSE(IsWindowEnabled(label));
  EXPECT_FALSE(IsWindowVisible(label));
  EXPECT_EQ(Localizer::SetControlText(dlg, kLabelId, 57719), label);
  EXPECT_TRUE(IsWindowEnabled(label) && IsWindowVisible(label));
  EXPECT_TRUE(boxes.empty());

  EXPECT_EQ(Localizer::SetControlText(dlg, kLabelId, 4321), nullptr);
  EXPECT_EQ(Localizer::SetControlText(dlg, 4242, 57719), nullptr);
  GetWindowTextW(label, text, 64);
  EXPECT_EQ(std::u16string(text), u"Password:");  // untouched by the failures
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, u"SetControlText(): LoadString() Failed for 4321");
  EXPECT_EQ(boxes[1].text, u"SetControlText(): GetDlgItem() Failed for 4242");
  for (const auto& b : boxes) {
    EXPECT_EQ(b.caption, u"Localizer");
    EXPECT_EQ(b.style, Localizer::kErrorBoxStyle);
  }
  DestroyWindow(dlg);
}

}  // namespace
