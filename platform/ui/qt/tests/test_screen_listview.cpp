// The screen renderer's list views, icons and drawn bitmaps.
#include <gtest/gtest.h>

#include <QImage>

#include <string>
#include <vector>

#include "ui/Base64.h"
#include "ui/qt/Screen.h"

namespace {

using ui::screen::Base64;

// A w x h image of one colour (R, G, B, A), left half only when `half`.
std::string Image(int key, int w, int h, uint8_t r, uint8_t g, uint8_t b, bool half) {
  std::vector<uint8_t> px;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool on = !half || x < w / 2;
      px.insert(px.end(), {r, g, b, static_cast<uint8_t>(on ? 255 : 0)});
    }
  return "<image key=\"" + std::to_string(key) + "\" width=\"" + std::to_string(w) + "\" height=\"" +
         std::to_string(h) + "\" rgba=\"" + Base64(px) + "\"/>\n";
}

// An open dialog: a list view at (0, 40) 240 x 150 with two columns, three
// rows (the second selected, red half icons), and a green 8 x 8 picture
// drawn at (100, 220) into the window.
std::string ListScreen(const std::string& extraRowAttrs = "") {
  return "<screen width=\"240\" height=\"320\" workTop=\"26\" workBottom=\"320\" scale=\"1\">\n"
         " <window hwnd=\"65538\" class=\"#32770\" id=\"360\" title=\"Open\" x=\"0\" y=\"26\" width=\"240\""
         " height=\"294\" style=\"0x90C80000\" focus=\"7\" active=\"1\">\n"
         "  <draw kind=\"image\" x=\"100\" y=\"220\" x2=\"108\" y2=\"228\" image=\"1\"/>\n"
         "  <control hwnd=\"7\" class=\"SysListView32\" id=\"2106\" x=\"0\" y=\"40\" width=\"240\" height=\"150\""
         " style=\"0x50800005\" text=\"\" visible=\"1\" enabled=\"1\" top=\"0\" headerHeight=\"18\" rowHeight=\"18\">\n"
         "   <column text=\"Name\" width=\"170\"/><column text=\"Size\" width=\"50\"/>\n"
         "   <row icon=\"0\"" + extraRowAttrs + "><cell text=\"alpha.pbf\"/><cell text=\"1b\"/></row>\n"
         "   <row icon=\"0\" selected=\"1\" focused=\"1\"><cell text=\"beta.pbf\"/><cell text=\"2.0k\"/></row>\n"
         "   <row><cell text=\"gamma.pbf\"/></row>\n"
         "  </control>\n"
         " </window>\n" +
         Image(0, 16, 16, 255, 0, 0, true) + Image(1, 4, 4, 0, 200, 0, false) + "</screen>\n";
}

TEST(ScreenListView, RowsIconsSelectionAndDrawnBitmaps) {
  for (int scale : {1, 2}) {
    std::string error;
    const QImage img = ui::qt::RenderScreen(ListScreen(), scale, &error);
    ASSERT_FALSE(img.isNull()) << error;
    auto at = [&](int x, int y) { return QColor(img.pixel(x * scale + scale / 2, y * scale + scale / 2)); };
    // The picture, stretched over its 8 x 8 rectangle.
    EXPECT_EQ(at(101, 221), QColor(0, 200, 0));
    EXPECT_EQ(at(107, 227), QColor(0, 200, 0));
    EXPECT_NE(at(109, 229), QColor(0, 200, 0));
    // Row 0 starts below the 18-pixel header; its icon's left half is red,
    // the right half lets the row's ground through.
    const int row0 = 40 + 18;
    EXPECT_EQ(at(3, row0 + 8), QColor(255, 0, 0));
    EXPECT_EQ(at(14, row0 + 8), QColor(Qt::white));
    // The selected row is highlighted across its columns, not beyond them.
    const int row1 = row0 + 18;
    const QColor highlight = at(200, row1 + 9);
    EXPECT_NE(highlight, QColor(Qt::white));
    EXPECT_EQ(at(160, row1 + 9), highlight);
    EXPECT_NE(at(230, row1 + 9), highlight);
    // The header is not the ground.
    EXPECT_NE(at(200, 40 + 9), QColor(Qt::white));
  }
}

TEST(ScreenListView, BadImagesAreRefused) {
  std::string error;
  std::string xml = ListScreen();
  // A row naming an image that is not there.
  std::string missing = xml;
  missing.replace(missing.find("icon=\"0\""), 8, "icon=\"9\"");
  EXPECT_TRUE(ui::qt::RenderScreen(missing, 1, &error).isNull());
  EXPECT_NE(error.find("no image with key 9"), std::string::npos) << error;
  // Pixel data of the wrong length.
  std::string shortData = xml;
  const size_t rgba = shortData.find("rgba=\"") + 6;
  shortData.erase(rgba, 4);
  EXPECT_TRUE(ui::qt::RenderScreen(shortData, 1, &error).isNull());
  EXPECT_NE(error.find("rgba"), std::string::npos) << error;
  // An image larger than a screen image may be.
  std::string large = xml;
  large.replace(large.find("width=\"4\" height=\"4\""), 20, "width=\"5000\" height=\"4\"");
  EXPECT_TRUE(ui::qt::RenderScreen(large, 1, &error).isNull());
}

}  // namespace
