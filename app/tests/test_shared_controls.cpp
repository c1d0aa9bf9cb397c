// The bitmap button and the link, on a window of the class library as a
// dialog holds them: faces by state, drawing through the parent, link
// colours, hover, opening and its failure.
#include <string>

#include "app/BitmapButton.h"
#include "app/HyperLink.h"
#include "ce/gdi.h"
#include "ce/resformat.h"
#include "ce/shell.h"
#include "cesim/msgbox.h"
#include "dlg_fixture.h"
#include "testkit/ResourceLibrary.h"
#include "ui/Automation.h"
#include "ui/Loop.h"
#include "ui/ScreenFile.h"

namespace {

// A parent of the class library with two buttons and two statics.
class ControlsTest : public dlgtest::DialogTest {
 protected:
  ControlsTest() {
    // Named bitmaps "ProbeU" and "ProbeD" (the tree's first two pictures).
    std::vector<ce::res::Resource> named;
    for (auto [suffix, id] : {std::pair{u"U", 212u}, std::pair{u"D", 213u}}) {
      ce::res::Resource r;
      r.type = ce::res::kTypeBitmap;
      r.name = std::u16string(u"Probe") + suffix;
      r.data = quilmo::test::BuiltResourceData(ce::res::kTypeBitmap, id);
      EXPECT_FALSE(r.data.empty());
      named.push_back(std::move(r));
    }
    AfxSetResourceHandle(nullptr);
    quilmo::test::LoadBuiltResourceLibraryWith(std::move(named));
    AfxSetResourceHandle(GetMainResourceLibrary());
    RECT r{0, 26, 240, 294};
    EXPECT_TRUE(parent_.CreateEx(0, nullptr, u"Controls", WS_VISIBLE, r, nullptr, 0));
    Child(u"BUTTON", u"Probe", WS_TABSTOP, 2002, 10, 10, 60, 30);
    Child(u"BUTTON", u"Nothing", WS_TABSTOP, 2004, 80, 10, 60, 30);
    Child(u"STATIC", u"www.quilmo.example", 0, 2121, 10, 60, 200, 20);
    Child(u"STATIC", u"notes.txt", SS_CENTER, 2122, 10, 90, 200, 20);
  }
  ~ControlsTest() override { parent_.DestroyWindow(); }

  HWND Child(const char16_t* cls, const char16_t* text, DWORD style, int id, int x, int y, int w, int h) {
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent_.m_hWnd,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    EXPECT_NE(c, nullptr);
    return c;
  }
  // The parent's colour answer for a static, as painting asks it.
  COLORREF ColourOf(CHyperLink& link) {
    CClientDC dc(&link);
    parent_.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.m_hDC), reinterpret_cast<LPARAM>(link.m_hWnd));
    return ::GetTextColor(dc.m_hDC);
  }
  void TapLink(CHyperLink& link) {
    link.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(2, 2));
    link.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    ui::PumpMessages();
  }

  CWnd parent_;
};

TEST_F(ControlsTest, BitmapButtonDrawsTheFaceOfItsState) {
  BitmapButton button;
  ASSERT_TRUE(button.Attach(2002, &parent_));
  EXPECT_EQ(button.GetButtonStyle() & 0xFu, static_cast<UINT>(BS_OWNERDRAW));
  CRect r;
  button.GetWindowRect(&r);
  EXPECT_EQ(r.Width(), 16);
  EXPECT_EQ(r.Height(), 16);
  EXPECT_TRUE(button.HasFace(BitmapButton::kSelected));
  EXPECT_EQ(button.FaceFor(0), BitmapButton::kNormal);
  EXPECT_EQ(button.FaceFor(ODS_SELECTED | ODS_FOCUS), BitmapButton::kSelected);
  // No "F" or "X" bitmap: the normal one.
  EXPECT_EQ(button.FaceFor(ODS_FOCUS), BitmapButton::kNormal);
  EXPECT_EQ(button.FaceFor(ODS_DISABLED), BitmapButton::kNormal);

  // The parent's WM_DRAWITEM reaches the button, which copies its bitmap
  // into the button.
  ui::PumpMessages();
  button.Invalidate();
  ui::PumpMessages();
  const std::string screen = ui::FormatScreen();
  EXPECT_NE(screen.find("<draw kind=\"image\""), std::string::npos) << screen;

  BitmapButton none;
  EXPECT_FALSE(none.Attach(2004, &parent_));  // no "NothingU"
  BitmapButton missing;
  EXPECT_FALSE(missing.Attach(2999, &parent_));
}

TEST_F(ControlsTest, LinkColoursFollowHoverAndVisit) {
  CHyperLink link;
  ASSERT_TRUE(link.Attach(2121, &parent_));
  EXPECT_EQ(link.GetURL(), CString(u"www.quilmo.example"));
  EXPECT_TRUE(link.GetStyle() & SS_NOTIFY);
  // Fitted to its text (the left edge kept).
  CRect r;
  link.GetWindowRect(&r);
  parent_.ScreenToClient(&r);
  EXPECT_EQ(r.left, 10);
  EXPECT_LT(r.Width(), 200);
  EXPECT_FALSE(link.IsUnderlined());
  EXPECT_EQ(ColourOf(link), CHyperLink::kLinkColour);

  // The pointer over it: hover colour and, in mode -1, the underline.
  link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_TRUE(link.IsOver());
  EXPECT_TRUE(link.IsUnderlined());
  EXPECT_EQ(ColourOf(link), CHyperLink::kHoverColour);
  link.SendMessage(WM_TIMER, CHyperLink::kHoverTimer, 0);
  EXPECT_TRUE(link.IsOver());  // still over it
  link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(500, 3));
  link.SendMessage(WM_TIMER, CHyperLink::kHoverTimer, 0);
  EXPECT_FALSE(link.IsOver());
  EXPECT_FALSE(link.IsUnderlined());

  link.SetUnderline(CHyperLink::kUnderlineAlways);
  EXPECT_TRUE(link.IsUnderlined());
  link.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  link.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(3, 3));  // the pen lifts
  link.SendMessage(WM_TIMER, CHyperLink::kHoverTimer, 0);
  EXPECT_FALSE(link.IsOver());
  EXPECT_TRUE(link.IsUnderlined());  // mode 1 keeps it

  // A tap opens the link with the shell and marks it visited.
  TapLink(link);
  EXPECT_TRUE(link.IsVisited());
  EXPECT_EQ(ColourOf(link), CHyperLink::kVisitedColour);
  bool opened = false;
  for (const ce::ScreenLogEntry& e : ce::ReadScreenLog())
    opened = opened || (e.caption == u"open" && e.text == u"www.quilmo.example");
  EXPECT_TRUE(opened);
}

TEST_F(ControlsTest, LinkThatCannotOpenBeepsAndSaysSo) {
  CHyperLink link;
  ASSERT_TRUE(link.Attach(2122, &parent_));
  ui::test::Automation a;
  a.ExpectBoxText(u"Unable to open hyperlink:\n\nThe operating system is out\nof memory or resources.", IDOK);
  EXPECT_FALSE(link.OnClicked());
  EXPECT_FALSE(link.IsVisited());
  EXPECT_TRUE(a.Failures().empty());
  EXPECT_TRUE(a.Done());
  bool beeped = false;
  for (const ce::ScreenLogEntry& e : ce::ReadScreenLog()) beeped = beeped || (e.caption == u"beep" && e.text == u"exclamation");
  EXPECT_TRUE(beeped);
}

TEST_F(ControlsTest, LinkOnAnotherPlatformOpensNothingAndCountsAsVisited) {
  ce::Profile p = dev_.device()->GetProfile();
  p.platform = u"Smartphone";
  ASSERT_TRUE(dev_.device()->SaveProfile(p));
  CHyperLink link;
  ASSERT_TRUE(link.Attach(2122, &parent_));  // "notes.txt" would fail to open
  EXPECT_TRUE(link.OnClicked());
  EXPECT_TRUE(link.IsVisited());
  for (const ce::ScreenLogEntry& e : ce::ReadScreenLog()) EXPECT_NE(e.caption, u"open");
}

}  // namespace
