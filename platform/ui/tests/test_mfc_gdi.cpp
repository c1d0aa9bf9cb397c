// GDI-lite: deterministic text metrics, object lifetimes, DC state, fonts
// of windows.
#include <gtest/gtest.h>

#include "ce/errors.h"
#include "mfc_test_support.h"

namespace {

using namespace mfctest;

TEST(MfcGdi, TextExtentFollowsTheSelectedFont) {
  quilmo::test::TestDevice device;
  CClientDC dc(nullptr);
  ASSERT_NE(dc.m_hDC, nullptr);
  // The system font: 13 pixels high, round(7.8) = 8 per character.
  EXPECT_EQ(dc.GetTextExtent(u"abcde", 5), CSize(40, 13));
  EXPECT_EQ(dc.GetTextExtent(CString()), CSize(0, 13));

  LOGFONTW lf{};
  lf.lfHeight = -16;  // round(9.6) = 10
  CFont font;
  ASSERT_TRUE(font.CreateFontIndirect(&lf));
  CFont* previous = dc.SelectObject(&font);
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(previous->m_hObject, GetStockObject(SYSTEM_FONT));
  EXPECT_EQ(dc.GetTextExtent(CString(u"abc")), CSize(30, 16));
  lf.lfHeight = 25;  // positive heights count the same: round(15.0)
  CFont big;
  big.CreateFontIndirect(&lf);
  dc.SelectObject(&big);
  EXPECT_EQ(dc.GetTextExtent(u"ab", 2), CSize(30, 25));

  // DT_CALCRECT wraps at blanks inside the width.
  dc.SelectObject(previous);
  CRect r(0, 0, 80, 0);  // 10 characters of 8 pixels
  EXPECT_EQ(dc.DrawText(CString(u"one two three four"), &r, DT_CALCRECT | DT_WORDBREAK), 26);
  EXPECT_EQ(r, CRect(0, 0, 80, 26));  // "one two" / "three four"
  r.SetRect(0, 0, 20, 0);              // a word longer than the width is broken
  EXPECT_EQ(dc.DrawText(CString(u"abcdefg"), &r, DT_CALCRECT | DT_WORDBREAK), 13 * 4);
  EXPECT_EQ(r.Width(), 16);

  SIZE size{};
  EXPECT_FALSE(GetTextExtentPoint32W(nullptr, u"a", 1, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(MfcGdi, ObjectsLiveUntilDeletedAndStockObjectsForever) {
  LOGFONTW lf{};
  lf.lfHeight = -11;
  lf.lfWeight = FW_BOLD;
  std::u16string face = u"Tahoma";
  face.copy(lf.lfFaceName, face.size());
  HFONT h = CreateFontIndirectW(&lf);
  LOGFONTW back{};
  EXPECT_EQ(GetObjectW(h, sizeof(back), &back), static_cast<int>(sizeof(LOGFONTW)));
  EXPECT_EQ(back.lfHeight, -11);
  EXPECT_EQ(back.lfWeight, FW_BOLD);
  EXPECT_EQ(std::u16string(back.lfFaceName), u"Tahoma");
  EXPECT_EQ(GetObjectW(h, 0, nullptr), static_cast<int>(sizeof(LOGFONTW)));
  EXPECT_TRUE(DeleteObject(h));
  EXPECT_FALSE(DeleteObject(h));
  EXPECT_EQ(GetObjectW(h, sizeof(back), &back), 0);

  HGDIOBJ hollow = GetStockObject(HOLLOW_BRUSH);
  EXPECT_EQ(hollow, GetStockObject(NULL_BRUSH));
  EXPECT_TRUE(DeleteObject(hollow));
  EXPECT_TRUE(ce::IsGdiObject(hollow));
  EXPECT_EQ(GetStockObject(99), nullptr);
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_PEN)), static_cast<DWORD>(OBJ_PEN));

  {
    CBrush brush(RGB(1, 2, 3));
    h = reinterpret_cast<HFONT>(brush.m_hObject);
    EXPECT_TRUE(ce::IsGdiObject(h));
  }
  EXPECT_FALSE(ce::IsGdiObject(h));  // the wrapper deleted it

  // DC state answers with the previous values.
  HDC dc = GetDC(nullptr);
  EXPECT_EQ(SetTextColor(dc, RGB(255, 0, 0)), RGB(0, 0, 0));
  EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetBkMode(dc, 7), 0);
  POINT prev{};
  MoveToEx(dc, 3, 4, nullptr);
  MoveToEx(dc, 5, 6, &prev);
  EXPECT_EQ(prev.x, 3);
  EXPECT_EQ(prev.y, 4);
  RECT rc{0, 0, 5, 5};
  EXPECT_EQ(FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_PEN))), 0);  // not a brush
  EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
  EXPECT_EQ(SetTextColor(dc, 0), 0xFFFFFFFFu);
  EXPECT_EQ(MulDiv(9, 96, 72), 12);
  EXPECT_EQ(MulDiv(-5, 1, 2), -3);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(MfcGdi, WindowsKeepTheirFontAndDcsStartWithIt) {
  quilmo::test::TestDevice device;
  LOGFONTW lf{};
  lf.lfHeight = -20;
  CFont font;
  font.CreateFontIndirect(&lf);
  CStatic label;
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, u"parent", WS_POPUP, CRect(0, 0, 100, 100), nullptr, 0));
  ASSERT_TRUE(label.Create(u"hello", WS_VISIBLE, CRect(0, 0, 50, 20), &parent, 7));
  label.SetFont(&font);
  ASSERT_NE(label.GetFont(), nullptr);
  EXPECT_EQ(label.GetFont()->m_hObject, font.m_hObject);
  CClientDC dc(&label);
  EXPECT_EQ(dc.GetTextExtent(u"hello", 5), CSize(60, 20));
  EXPECT_TRUE(parent.DestroyWindow());
  EXPECT_EQ(label.m_hWnd, nullptr);  // detached with its window
  EXPECT_EQ(parent.m_hWnd, nullptr);
}

}  // namespace
