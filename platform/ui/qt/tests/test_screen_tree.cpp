// Drawing a tree view from the screen file: expand boxes, state check
// boxes, images, labels, the caret row and the scroll bar, each where the
// file's layout puts it.
#include <gtest/gtest.h>

#include <QImage>

#include <string>

#include "ui/qt/Screen.h"

namespace {

// A tree at (10, 40), 200 x 90: "Files" open with two children, the
// caret on "Files", more rows than fit (a scroll bar of 12).
std::string TreeXml(int width = 240, int height = 320, const std::string& selected = "1") {
  return "<screen width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
         "\" workTop=\"26\"><window hwnd=\"1\" x=\"0\" y=\"26\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height - 26) + "\">"
         "<control hwnd=\"2\" class=\"SysTreeView32\" id=\"2015\" x=\"10\" y=\"40\" width=\"200\" height=\"90\""
         " style=\"0x50000007\" focus=\"1\" top=\"0\" total=\"9\" inview=\"5\" indent=\"16\" itemheight=\"18\""
         " statewidth=\"16\" imagewidth=\"16\" scrollbar=\"12\">"
         "<row text=\"Files\" level=\"0\" x=\"16\" image=\"3\" state=\"2\" button=\"2\" selected=\"" + selected + "\"/>"
         "<row text=\"Documents\" level=\"1\" x=\"32\" image=\"1\" state=\"3\" button=\"1\"/>"
         "<row text=\"Mail\" level=\"1\" x=\"32\" image=\"12\" state=\"1\"/>"
         "</control></window></screen>";
}

QImage Render(const std::string& xml, int scale) {
  std::string error;
  QImage img = ui::qt::RenderScreen(xml, scale, &error);
  EXPECT_FALSE(img.isNull()) << error;
  return img;
}

bool Dark(QRgb c) { return qGray(c) < 110; }
bool Drawn(QRgb c) { return qGray(c) < 230; }
bool NotWhite(QRgb c) { return c != qRgb(255, 255, 255); }
bool Blue(QRgb c) { return qBlue(c) > qRed(c) + 60; }

// Pixels of a kind in a rectangle of device pixels at scale s.
template <class Kind>
int Count(const QImage& img, int s, int x, int y, int w, int h, Kind kind) {
  int n = 0;
  for (int j = y * s; j < (y + h) * s; ++j)
    for (int i = x * s; i < (x + w) * s; ++i) n += kind(img.pixel(i, j)) ? 1 : 0;
  return n;
}

QImage Cell(const QImage& img, int s, int x, int y, int w, int h) { return img.copy(x * s, y * s, w * s, h * s); }

TEST(ScreenTree, RowsAreDrawnWhereTheLayoutPutsThem) {
  for (int s : {1, 2}) {
    SCOPED_TRACE("scale " + std::to_string(s));
    const QImage img = Render(TreeXml(), s);
    // Row k spans y = 40 + 18k; "Files" starts at x = 10 + 16.
    // The expand box of "Files" sits in the indent before it, of the
    // child row in the indent before the child.
    EXPECT_GT(Count(img, s, 12, 42, 12, 14, Drawn), 4);
    EXPECT_GT(Count(img, s, 28, 60, 12, 14, Drawn), 4);
    EXPECT_EQ(Count(img, s, 28, 78, 12, 14, Drawn), 0);  // "Mail" has no children: no box
    // The three state check boxes: checked, partial and unchecked differ.
    const QImage checked = Cell(img, s, 26, 40, 16, 18);
    const QImage partial = Cell(img, s, 42, 58, 16, 18);
    const QImage unchecked = Cell(img, s, 42, 76, 16, 18);
    EXPECT_GT(Count(img, s, 26, 40, 16, 18, Drawn), 10);
    EXPECT_NE(checked, partial);
    EXPECT_NE(partial, unchecked);
    EXPECT_NE(checked, unchecked);
    // Images in their column, labels after them.
    EXPECT_GT(Count(img, s, 42, 40, 16, 18, Drawn), 10);
    EXPECT_GT(Count(img, s, 74, 58, 60, 18, Dark), 20);
    // The caret row's label is highlighted, the others are not.
    EXPECT_GT(Count(img, s, 58, 40, 30, 18, Blue), 50 * s * s);
    EXPECT_EQ(Count(img, s, 74, 58, 60, 18, Blue), 0);
    // The scroll bar at the right edge; nothing drawn right of the control.
    EXPECT_GT(Count(img, s, 199, 40, 10, 90, NotWhite), 500 * s * s);
    EXPECT_EQ(Count(img, s, 212, 40, 28, 90, NotWhite), 0);
  }
  // Without the caret no row is highlighted.
  EXPECT_EQ(Count(Render(TreeXml(240, 320, "0"), 1), 1, 58, 40, 30, 18, Blue), 0);
}

TEST(ScreenTree, LandscapeDrawsTheSameRows) {
  const QImage portrait = Render(TreeXml(), 1);
  const QImage landscape = Render(TreeXml(320, 240), 1);
  EXPECT_EQ(Cell(portrait, 1, 10, 40, 200, 90), Cell(landscape, 1, 10, 40, 200, 90));
}

TEST(ScreenTree, BadTreeAttributesAreRefused) {
  std::string error;
  ui::qt::ScreenModel m;
  std::string bad = TreeXml();
  bad.replace(bad.find("state=\"3\""), 9, "state=\"99\"");
  EXPECT_FALSE(ui::qt::ParseScreen(bad, &m, &error));
  EXPECT_NE(error.find("state"), std::string::npos);
  bad = TreeXml();
  bad.replace(bad.find("itemheight=\"18\""), 15, "itemheight=\"0\"");
  EXPECT_FALSE(ui::qt::ParseScreen(bad, &m, &error));
}

}  // namespace
