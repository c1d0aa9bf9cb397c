// What a program paints and sets on its controls reaches the screen file:
// separator lines and text of its paint, the fonts and text colours of its
// controls, an owner-drawn button's drawing, the cursor.
#include <gtest/gtest.h>

#include <string>

#include "ce/gdi.h"
#include "testkit/TestDevice.h"
#include "ui/ScreenFile.h"
#include "win32_support.h"

using namespace w32test;

namespace {

HFONT g_bold = nullptr;

LRESULT SheetProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0x80));
      HGDIOBJ old = SelectObject(dc, pen);
      MoveToEx(dc, 0, 20, nullptr);
      LineTo(dc, 240, 20);
      SelectObject(dc, old);
      DeleteObject(pen);
      RECT r{4, 200, 236, 216};
      SetTextColor(dc, RGB(0xFF, 0, 0));
      DrawTextW(dc, u"Notice", -1, &r, DT_CENTER | DT_SINGLELINE);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == 2128) {
        SetTextColor(reinterpret_cast<HDC>(wParam), 0x960000);  // a dark blue
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(HOLLOW_BRUSH));
      }
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      HBRUSH brush = CreateSolidBrush((item->itemState & ODS_SELECTED) ? RGB(0, 0xFF, 0) : RGB(0, 0x80, 0));
      FillRect(item->hDC, &item->rcItem, brush);
      DeleteObject(brush);
      return TRUE;
    }
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

TEST(GdiScreen, PaintFontsColoursAndOwnerDrawingReachTheScreenFile) {
  quilmo::test::TestDevice dev;
  WNDCLASSW wc{};
  wc.lpfnWndProc = SheetProc;
  wc.lpszClassName = u"GdiSheet";
  RegisterClassW(&wc);
  HWND sheet = CreateWindowExW(0, u"GdiSheet", u"Sheet", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr,
                               nullptr);
  ASSERT_NE(sheet, nullptr);
  HWND title = Child(sheet, u"STATIC", u"Backup", 0, 2128, 4, 2, 232, 16);
  HWND plain = Child(sheet, u"STATIC", u"plain", 0, 2129, 4, 40, 232, 16);
  HWND annot = Child(sheet, u"BUTTON", u"annot", BS_OWNERDRAW, 2002, 10, 80, 32, 32);
  ASSERT_TRUE(title && plain && annot);
  LOGFONTW lf{};
  lf.lfHeight = -16;
  lf.lfWeight = FW_BOLD;
  lf.lfUnderline = 1;
  g_bold = CreateFontIndirectW(&lf);
  SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(g_bold), TRUE);
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  ui::PumpMessages();

  const std::string xml = ui::FormatScreen();
  // The separator in screen pixels (client y 20 is screen y 46).
  EXPECT_NE(xml.find("<draw kind=\"line\" x=\"0\" y=\"46\" x2=\"240\" y2=\"46\" color=\"#000080\""), std::string::npos)
      << xml;
  EXPECT_NE(xml.find("kind=\"text\" x=\"4\" y=\"226\" x2=\"236\" y2=\"242\" color=\"#FF0000\" text=\"Notice\""),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("text=\"Backup\" visible=\"1\" enabled=\"1\" fontHeight=\"16\" bold=\"1\" underline=\"1\" "
                     "textColor=\"#000096\""),
            std::string::npos)
      << xml;
  EXPECT_EQ(xml.find("text=\"plain\" visible=\"1\" enabled=\"1\" textColor"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<draw kind=\"fill\" x=\"10\" y=\"106\" x2=\"42\" y2=\"138\" color=\"#008000\""),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("cursor=\"wait\""), std::string::npos);

  // A new paint replaces what the last one drew.
  InvalidateRect(sheet, nullptr, TRUE);
  ui::PumpMessages();
  const std::string again = ui::FormatScreen();
  size_t lines = 0;
  for (size_t at = again.find("kind=\"line\""); at != std::string::npos; at = again.find("kind=\"line\"", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  DestroyWindow(sheet);
  DeleteObject(g_bold);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Lines, fills and bitmap copies share one record per window: in the order
// drawn, at most 256 kept (the oldest dropped), all gone with the next paint.
TEST(GdiScreen, ShapesAndBitmapsShareOneBoundedRecordPerWindow) {
  quilmo::test::TestDevice dev;
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = u"GdiCanvas";
  RegisterClassW(&wc);
  HWND host = CreateWindowExW(0, u"GdiCanvas", u"", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(host, nullptr);
  HDC dc = GetDC(host);
  RECT r{0, 0, 10, 10};
  FillRect(dc, &r, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 2;
  info.bmiHeader.biHeight = 2;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP pic = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(pic, nullptr);
  HDC mem = CreateCompatibleDC(dc);
  SelectObject(mem, pic);
  ASSERT_TRUE(BitBlt(dc, 20, 20, 2, 2, mem, 0, 0, SRCCOPY));
  MoveToEx(dc, 0, 0, nullptr);
  LineTo(dc, 5, 5);
  std::string xml = ui::FormatScreen();
  const size_t fill = xml.find("<draw kind=\"fill\" x=\"0\" y=\"26\" x2=\"10\" y2=\"36\"");
  const size_t image = xml.find("<draw kind=\"image\" x=\"20\" y=\"46\" x2=\"22\" y2=\"48\" image=\"0\"");
  const size_t line = xml.find("<draw kind=\"line\" x=\"0\" y=\"26\" x2=\"5\" y2=\"31\"");
  ASSERT_NE(fill, std::string::npos) << xml;
  ASSERT_NE(image, std::string::npos) << xml;
  ASSERT_NE(line, std::string::npos) << xml;
  EXPECT_LT(fill, image);
  EXPECT_LT(image, line);

  // A program that keeps drawing through GetDC without painting keeps at
  // most 256 records: the oldest (the fill and the copy) go first.
  for (int i = 0; i < 300; ++i) LineTo(dc, i, 100);
  xml = ui::FormatScreen();
  EXPECT_EQ(Count(xml, "<draw "), 256u);
  EXPECT_EQ(Count(xml, "kind=\"fill\""), 0u);
  EXPECT_EQ(Count(xml, "kind=\"image\""), 0u);
  EXPECT_NE(xml.find("x2=\"299\" y2=\"126\""), std::string::npos);

  PAINTSTRUCT ps;
  BeginPaint(host, &ps);
  EndPaint(host, &ps);
  EXPECT_EQ(Count(ui::FormatScreen(), "<draw "), 0u);
  DeleteDC(mem);
  ReleaseDC(host, dc);
  DeleteObject(pic);
  DestroyWindow(host);
}

}  // namespace
