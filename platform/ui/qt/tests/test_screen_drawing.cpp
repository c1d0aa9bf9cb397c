// What programs draw and set on controls, drawn by the renderer: separator
// lines, filled rectangles, text colours and fonts, owner-drawn buttons, the
// wait cursor.
#include <gtest/gtest.h>

#include <QImage>

#include <string>

#include "ui/qt/Screen.h"
#include "ui/qt/ScreenModel.h"

namespace {

std::string DrawingXml(const std::string& cursor = "arrow") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<screen width=\"240\" height=\"320\" workTop=\"26\" workBottom=\"320\" scale=\"1\" cursor=\"" + cursor + "\">\n"
         " <window hwnd=\"1\" class=\"#32770\" id=\"100\" title=\"About\" x=\"0\" y=\"26\" width=\"240\" height=\"294\">\n"
         "  <draw kind=\"line\" x=\"0\" y=\"60\" x2=\"240\" y2=\"60\" color=\"#FF0000\"/>\n"
         "  <control hwnd=\"2\" class=\"STATIC\" id=\"2128\" x=\"4\" y=\"30\" width=\"232\" height=\"24\""
         " style=\"0x50000000\" text=\"WWWWWWWWWW\" textColor=\"#0000FF\" fontHeight=\"20\" bold=\"1\"/>\n"
         "  <control hwnd=\"3\" class=\"BUTTON\" id=\"2215\" x=\"20\" y=\"100\" width=\"40\" height=\"40\""
         " style=\"0x5001000B\" text=\"about\">\n"
         "   <draw kind=\"fill\" x=\"20\" y=\"100\" x2=\"60\" y2=\"140\" color=\"#00C000\"/>\n"
         "  </control>\n"
         "  <draw kind=\"text\" x=\"4\" y=\"200\" x2=\"236\" y2=\"220\" color=\"#FF00FF\" text=\"MMMMMM\" format=\"0x20\"/>\n"
         " </window>\n"
         "</screen>\n";
}

int CountColour(const QImage& img, int x, int y, int w, int h, bool (*match)(QRgb)) {
  int n = 0;
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) n += match(img.pixel(i, j)) ? 1 : 0;
  return n;
}

bool Red(QRgb c) { return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60; }
bool Blue(QRgb c) { return qBlue(c) > 150 && qRed(c) < 100 && qGreen(c) < 100; }
bool Green(QRgb c) { return qGreen(c) > 150 && qRed(c) < 60 && qBlue(c) < 60; }
bool Magenta(QRgb c) { return qRed(c) > 150 && qBlue(c) > 150 && qGreen(c) < 100; }
bool Amber(QRgb c) { return qRed(c) > 200 && qGreen(c) > 160 && qBlue(c) < 140; }

TEST(ScreenDrawing, ParsesWhatWasDrawnAndTheControlsLook) {
  ui::qt::ScreenModel m;
  std::string error;
  ASSERT_TRUE(ui::qt::ParseScreen(DrawingXml("wait"), &m, &error)) << error;
  EXPECT_EQ(m.cursor, "wait");
  ASSERT_EQ(m.windows.size(), 1u);
  ASSERT_EQ(m.windows[0].drawing.size(), 2u);
  EXPECT_EQ(m.windows[0].drawing[0].kind, ui::qt::ScreenDraw::Kind::Line);
  EXPECT_EQ(m.windows[0].drawing[0].color, 0xFF0000u);
  const ui::qt::ScreenLook& look = m.windows[0].controls[0].look;
  EXPECT_TRUE(look.hasColor && look.bold);
  EXPECT_EQ(look.fontHeight, 20);
  EXPECT_EQ(m.windows[0].controls[1].drawing.size(), 1u);
  for (const char* bad : {"kind=\"line\" color=\"red\"", "kind=\"line\" color=\"#12345\"", "kind=\"circle\"",
                          "kind=\"text\" fontHeight=\"9999\""}) {
    std::string xml = "<screen width=\"240\" height=\"320\"><window hwnd=\"1\"><draw ";
    xml += bad;
    xml += "/></window></screen>";
    EXPECT_FALSE(ui::qt::ParseScreen(xml, &m, &error)) << bad;
  }
}

TEST(ScreenDrawing, LinesFillsTextColoursAndTheWaitCursorShowAtBothScales) {
  for (int scale : {1, 2}) {
    std::string error;
    QImage img = ui::qt::RenderScreen(DrawingXml("wait"), scale, &error);
    ASSERT_FALSE(img.isNull()) << error;
    const int s = scale;
    EXPECT_GT(CountColour(img, 10 * s, 60 * s, 200 * s, 1 * s, Red), 150 * s) << scale;
    EXPECT_GT(CountColour(img, 4 * s, 30 * s, 200 * s, 24 * s, Blue), 20 * s) << scale;  // the coloured title
    // The owner-drawn button shows what its parent drew, no button face.
    EXPECT_EQ(CountColour(img, 21 * s, 101 * s, 38 * s, 38 * s, Green), 38 * 38 * s * s) << scale;
    EXPECT_GT(CountColour(img, 4 * s, 200 * s, 120 * s, 20 * s, Magenta), 10 * s) << scale;
    EXPECT_GT(CountColour(img, 200 * s, 0, 40 * s, 26 * s, Amber), 4) << scale;  // hourglass
    QImage plain = ui::qt::RenderScreen(DrawingXml("arrow"), scale, &error);
    EXPECT_EQ(CountColour(plain, 200 * s, 0, 40 * s, 26 * s, Amber), 0) << scale;
  }
}

}  // namespace
