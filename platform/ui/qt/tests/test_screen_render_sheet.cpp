// Drawing the menu bar with an open menu, tab images and date-time pickers
// from a screen file, at scale 1 and 2.
#include <gtest/gtest.h>

#include <QImage>

#include <string>

#include <vector>

#include "ui/Base64.h"
#include "ui/qt/Screen.h"

namespace {

bool Blue(QRgb c) { return qBlue(c) > qRed(c) + 60; }
bool Dark(QRgb c) { return qGray(c) < 110; }
bool Green(QRgb c) { return qGreen(c) > 150 && qRed(c) < 80 && qBlue(c) < 80; }

int Count(const QImage& img, int x, int y, int w, int h, bool (*kind)(QRgb)) {
  int n = 0;
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) n += kind(img.pixel(i, j));
  return n;
}

// A window with a tab strip (an image on the first tab), a time picker and
// a menu bar whose menu is open; coordinates at scale s.
std::string Screen(int s, bool open) {
  auto n = [s](int v) { return std::to_string(v * s); };
  std::string pane = open ? "<pane x=\"" + n(100) + "\" y=\"" + n(230) + "\" width=\"" + n(140) + "\" height=\"" + n(64) +
                                "\"><item id=\"5\" text=\"About\" x=\"" + n(100) + "\" y=\"" + n(230) + "\" width=\"" +
                                n(140) + "\" height=\"" + n(22) + "\"/><item separator=\"1\" x=\"" + n(100) + "\" y=\"" +
                                n(252) + "\" width=\"" + n(140) + "\" height=\"" + n(7) + "\"/><item text=\"More\" popup=\"1\" x=\"" +
                                n(100) + "\" y=\"" + n(259) + "\" width=\"" + n(140) + "\" height=\"" + n(22) + "\"/></pane>"
                          : "";
  return "<screen width=\"" + n(240) + "\" height=\"" + n(320) + "\" workTop=\"" + n(26) + "\" scale=\"" +
         std::to_string(s) + "\"><window hwnd=\"1\" x=\"0\" y=\"" + n(26) + "\" width=\"" + n(240) + "\" height=\"" +
         n(294) + "\">"
         "<control hwnd=\"2\" class=\"SysTabControl32\" x=\"0\" y=\"" + n(26) + "\" width=\"" + n(240) +
         "\" height=\"" + n(24) + "\" cursel=\"0\"><item text=\"Backup\" image=\"0\" x=\"0\" y=\"" + n(26) +
         "\" width=\"" + n(80) + "\" height=\"" + n(24) + "\"/><item text=\"Restore\" x=\"" + n(80) + "\" y=\"" + n(26) +
         "\" width=\"" + n(72) + "\" height=\"" + n(24) + "\"/></control>"
         "<control hwnd=\"3\" class=\"SysDateTimePick32\" style=\"0x50010009\" x=\"" + n(10) + "\" y=\"" + n(100) +
         "\" width=\"" + n(80) + "\" height=\"" + n(20) + "\" text=\"18:30\"/>"
         "<control hwnd=\"4\" class=\"menu_worker\" x=\"0\" y=\"" + n(open ? 230 : 294) + "\" width=\"" + n(240) +
         "\" height=\"" + n(open ? 90 : 26) + "\"><item text=\"Done\" x=\"0\" y=\"" + n(294) + "\" width=\"" + n(120) +
         "\" height=\"" + n(26) + "\"/><item text=\"Menu\" popup=\"1\" open=\"" + (open ? "1" : "0") + "\" x=\"" +
         n(120) + "\" y=\"" + n(294) + "\" width=\"" + n(120) + "\" height=\"" + n(26) + "\"/>" + pane +
         "</control></window></screen>";
}

TEST(ScreenRenderSheet, MenuBarOpenMenuTabImageAndPickerAreDrawnAtBothScales) {
  for (int s : {1, 2}) {
    std::string error;
    const QImage closed = ui::qt::RenderScreen(Screen(s, false), 1, &error);
    ASSERT_FALSE(closed.isNull()) << error;
    const QImage open = ui::qt::RenderScreen(Screen(s, true), 1, &error);
    ASSERT_FALSE(open.isNull()) << error;
    // The bar is a blue strip along the bottom with its labels in white.
    const int barArea = 240 * s * 26 * s;
    EXPECT_GT(Count(closed, 0, 294 * s, 240 * s, 26 * s, Blue), barArea / 2);
    // Closed, nothing is drawn above the bar where the menu would be; open,
    // the menu's entries are text on white there.
    EXPECT_EQ(Count(closed, 110 * s, 232 * s, 120 * s, 18 * s, Dark), 0);
    EXPECT_GT(Count(open, 110 * s, 232 * s, 120 * s, 18 * s, Dark), 15 * s);
    EXPECT_GT(Count(open, 110 * s, 261 * s, 120 * s, 18 * s, Dark), 15 * s);
    // The picker shows its text; the first tab its image mark.
    EXPECT_GT(Count(closed, 12 * s, 102 * s, 50 * s, 16 * s, Dark), 10 * s);
    EXPECT_GT(Count(closed, 2 * s, 28 * s, 18 * s, 20 * s, Blue), 10 * s);
    EXPECT_EQ(Count(closed, 82 * s, 28 * s, 12 * s, 20 * s, Blue), 0);
  }
}

// A tab whose image list's picture the file holds shows that picture
// instead of the numbered mark.
TEST(ScreenRenderSheet, ATabShowsTheImageListsPicture) {
  std::vector<uint8_t> green;
  for (int i = 0; i < 16 * 16; ++i) green.insert(green.end(), {0, 200, 0, 255});
  const std::string picture =
      "<image key=\"0\" width=\"16\" height=\"16\" rgba=\"" + ui::screen::Base64(green) + "\"/>";
  for (int s : {1, 2}) {
    std::string xml = Screen(s, false);
    const std::string tab = "<item text=\"Backup\" image=\"0\"";
    const size_t at = xml.find(tab);
    ASSERT_NE(at, std::string::npos);
    std::string error;
    const QImage marked = ui::qt::RenderScreen(xml, 1, &error);
    ASSERT_FALSE(marked.isNull()) << error;
    EXPECT_EQ(Count(marked, 2 * s, 28 * s, 18 * s, 20 * s, Green), 0);
    xml.insert(at + tab.size(), " icon=\"0\"");
    xml.insert(xml.rfind("</screen>"), picture);
    const QImage drawn = ui::qt::RenderScreen(xml, 1, &error);
    ASSERT_FALSE(drawn.isNull()) << error;
    EXPECT_GT(Count(drawn, 2 * s, 28 * s, 18 * s, 20 * s, Green), 100 * s * s) << "scale " << s;
  }
}

}  // namespace
