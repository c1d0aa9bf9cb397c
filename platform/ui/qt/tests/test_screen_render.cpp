// The screen renderer, offscreen.
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>
#include <vector>

#include "testkit/TestDevice.h"
#include "ui/qt/Screen.h"

namespace {

// A dialog with one of each control, as the window layer writes it.
std::string ScreenXml(const std::string& editText = "******", const std::string& checked = "1",
                      const std::string& pos = "50", const std::string& title = "Quilmo Backup",
                      const std::string& focus = "7") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<screen width=\"240\" height=\"320\" workTop=\"26\" workBottom=\"294\" scale=\"1\" pid=\"42\""
         " program=\"\\Windows\\q.exe\">\n"
         " <window hwnd=\"65538\" class=\"#32770\" id=\"231\" title=\"" + title + "\" x=\"0\" y=\"26\""
         " width=\"240\" height=\"268\" style=\"0x90C80000\" focus=\"" + focus + "\" active=\"1\">\n"
         "  <control hwnd=\"5\" class=\"STATIC\" id=\"-1\" x=\"4\" y=\"30\" width=\"232\" height=\"18\""
         " style=\"0x50000000\" text=\"Enter the password\" visible=\"1\" enabled=\"1\"/>\n"
         "  <control hwnd=\"7\" class=\"EDIT\" id=\"2018\" x=\"4\" y=\"52\" width=\"232\" height=\"20\""
         " style=\"0x50810020\" text=\"" + editText + "\" visible=\"1\" enabled=\"1\"/>\n"
         "  <control hwnd=\"8\" class=\"BUTTON\" id=\"2010\" x=\"4\" y=\"80\" width=\"150\" height=\"20\""
         " style=\"0x50010003\" text=\"Remember\" visible=\"1\" enabled=\"1\" checked=\"" + checked + "\"/>\n"
         "  <control hwnd=\"9\" class=\"COMBOBOX\" id=\"2053\" x=\"4\" y=\"108\" width=\"150\" height=\"80\""
         " style=\"0x50210003\" text=\"\" visible=\"1\" enabled=\"1\" cursel=\"1\">\n"
         "   <item text=\"Daily\"/><item text=\"Weekly\"/>\n"
         "  </control>\n"
         "  <control hwnd=\"10\" class=\"msctls_progress32\" id=\"2054\" x=\"4\" y=\"140\" width=\"200\""
         " height=\"12\" style=\"0x50000001\" visible=\"1\" enabled=\"1\" pos=\"" + pos + "\" min=\"0\" max=\"100\"/>\n"
         "  <control hwnd=\"11\" class=\"BUTTON\" id=\"1\" x=\"4\" y=\"260\" width=\"60\" height=\"22\""
         " style=\"0x50010001\" text=\"OK\" visible=\"1\" enabled=\"1\" checked=\"0\"/>\n"
         "  <control hwnd=\"12\" class=\"BUTTON\" id=\"2\" x=\"70\" y=\"260\" width=\"60\" height=\"22\""
         " style=\"0x50010000\" text=\"Cancel\" visible=\"0\" enabled=\"1\" checked=\"0\"/>\n"
         " </window>\n"
         "</screen>\n";
}

// Distinct colours inside a rectangle of device pixels at scale s.
size_t Colours(const QImage& img, int x, int y, int w, int h, int s = 1) {
  std::set<QRgb> seen;
  for (int j = y * s; j < (y + h) * s; ++j)
    for (int i = x * s; i < (x + w) * s; ++i) seen.insert(img.pixel(i, j));
  return seen.size();
}

bool SameRegion(const QImage& a, const QImage& b, int x, int y, int w, int h) {
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i)
      if (a.pixel(i, j) != b.pixel(i, j)) return false;
  return true;
}

QImage Render(const std::string& xml, int scale = 1) {
  std::string error;
  QImage img = ui::qt::RenderScreen(xml, scale, &error);
  EXPECT_FALSE(img.isNull()) << error;
  return img;
}

// Kinds of pixel, told apart by plain thresholds: text and frames on the
// white dialog are dark, the title on its blue strip is light, the filled
// part of a progress bar is blue.
bool Dark(QRgb c) { return qGray(c) < 110; }
bool Light(QRgb c) { return qGray(c) > 200; }
bool Blue(QRgb c) { return qBlue(c) > qRed(c) + 60; }
bool Drawn(QRgb c) { return qGray(c) < 230; }  // anything but the white of the dialog
bool White(QRgb c) { return c == qRgb(255, 255, 255); }

// The pixels of one kind inside a rectangle of device pixels, with their
// bounds in device pixels (rounded outwards).
struct Ink {
  int count = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
};
template <class Kind>
Ink FindInk(const QImage& img, int s, int x, int y, int w, int h, Kind kind) {
  Ink ink;
  int l = INT_MAX, t = INT_MAX, r = -1, b = -1;
  for (int j = y * s; j < (y + h) * s; ++j)
    for (int i = x * s; i < (x + w) * s; ++i)
      if (kind(img.pixel(i, j))) {
        ++ink.count;
        l = std::min(l, i);
        t = std::min(t, j);
        r = std::max(r, i);
        b = std::max(b, j);
      }
  if (ink.count) ink = {ink.count, l / s, t / s, r / s, b / s};
  return ink;
}

// Runs of neighbouring image columns holding dark pixels within a
// rectangle of device pixels: the glyphs of a short text, one run each.
std::vector<std::pair<int, int>> InkRuns(const QImage& img, int s, int x, int y, int w, int h) {
  std::vector<std::pair<int, int>> runs;  // first and last image column
  for (int i = x * s; i < (x + w) * s; ++i) {
    bool dark = false;
    for (int j = y * s; j < (y + h) * s && !dark; ++j) dark = Dark(img.pixel(i, j));
    if (!dark) continue;
    if (!runs.empty() && runs.back().second == i - 1) runs.back().second = i;
    else runs.emplace_back(i, i);
  }
  return runs;
}

// The right edge of the filled part of a progress bar (device pixels, -1
// when nothing is filled), read along its middle row.
int ProgressFillEnd(const QImage& img, int s, int x, int y, int w, int h) {
  int end = -1;
  const int row = (y * 2 + h) * s / 2;
  for (int i = x * s; i < (x + w) * s; ++i)
    if (Blue(img.pixel(i, row))) end = i / s;
  return end;
}

}  // namespace

// The file's dialog at 240 x 320, drawn at scale 1 and 2: each control is
// drawn inside its own rectangle as its class draws it, and nothing
// elsewhere.
TEST(ScreenRender, DrawsEveryControlWhereTheFilePutsIt) {
  for (int s : {1, 2}) {
    SCOPED_TRACE("scale " + std::to_string(s));
    const QImage img = Render(ScreenXml(), s);
    ASSERT_EQ(img.size(), QSize(240 * s, 320 * s));

    // The title strip: blue, the last window's title in light letters at
    // its left end, nothing at its right end.
    EXPECT_TRUE(Blue(img.pixel(2 * s, 2 * s)) && Blue(img.pixel(237 * s, 23 * s)));
    const Ink title = FindInk(img, s, 0, 0, 240, 26, Light);
    ASSERT_GT(title.count, 50);
    EXPECT_LE(title.left, 8);
    EXPECT_GE(title.right, 50);   // "Quilmo Backup" is a dozen letters wide,
    EXPECT_LE(title.right, 130);  // not the strip's width
    EXPECT_GE(title.top, 4);
    EXPECT_LE(title.bottom, 22);

    // The label: dark text from its top left corner, one line high.
    const Ink label = FindInk(img, s, 4, 30, 232, 18, Dark);
    ASSERT_GT(label.count, 50);
    EXPECT_LE(label.left, 7);
    EXPECT_GE(label.top, 30);
    EXPECT_LE(label.top, 35);
    EXPECT_LE(label.bottom, 46);
    EXPECT_GE(label.right, 60);
    EXPECT_LE(label.right, 150);

    // The edit: a frame on all four sides around a white field.
    for (auto [x, y] : {std::pair{4, 62}, {235, 62}, {120, 52}, {120, 71}})
      EXPECT_TRUE(Drawn(img.pixel(x * s, y * s))) << "edit frame at " << x << "," << y;
    EXPECT_EQ(FindInk(img, s, 60, 55, 170, 14, Drawn).count, 0);  // past the text and the caret

    // The check box: its box at the left, a check mark inside it, the
    // label beside it.
    for (auto [x, y] : {std::pair{4, 90}, {17, 90}, {10, 83}, {10, 96}})
      EXPECT_TRUE(Drawn(img.pixel(x * s, y * s))) << "check box at " << x << "," << y;
    EXPECT_GT(FindInk(img, s, 6, 85, 10, 10, Dark).count, 5);
    const Ink remember = FindInk(img, s, 20, 80, 134, 20, Dark);
    EXPECT_GT(remember.count, 30);
    EXPECT_LE(remember.left, 26);
    EXPECT_LE(remember.right, 100);

    // The combo box: its frame, the selected item's text at the left, the
    // drop arrow at the right.
    for (auto [x, y] : {std::pair{4, 118}, {153, 118}, {80, 108}})
      EXPECT_TRUE(Drawn(img.pixel(x * s, y * s))) << "combo frame at " << x << "," << y;
    const Ink weekly = FindInk(img, s, 6, 110, 100, 18, Dark);
    EXPECT_GT(weekly.count, 30);
    EXPECT_LE(weekly.left, 12);
    EXPECT_GT(FindInk(img, s, 130, 110, 20, 18, Drawn).count, 0);

    // The progress bar at 50 of 0..100: filled over the left half of its
    // 200 pixels.
    EXPECT_NEAR(ProgressFillEnd(img, s, 4, 140, 200, 12), 4 + 100, 3);

    // The default button: its frame, "OK" in the middle.
    for (auto [x, y] : {std::pair{4, 271}, {63, 271}, {34, 260}, {34, 281}})
      EXPECT_TRUE(Drawn(img.pixel(x * s, y * s))) << "button frame at " << x << "," << y;
    const Ink ok = FindInk(img, s, 6, 262, 56, 18, Dark);
    ASSERT_GT(ok.count, 10);
    EXPECT_NEAR((ok.left + ok.right) / 2.0, 34, 3);
    EXPECT_NEAR((ok.top + ok.bottom) / 2.0, 271, 3);

    // The hidden button and the empty part of the dialog: white.
    EXPECT_EQ(FindInk(img, s, 70, 260, 60, 22, [](QRgb c) { return !White(c); }).count, 0);
    EXPECT_EQ(FindInk(img, s, 4, 160, 232, 95, [](QRgb c) { return !White(c); }).count, 0);

    // The dialog's border, and the bar below the work area in one colour.
    EXPECT_TRUE(Drawn(img.pixel(239 * s, 150 * s)));
    EXPECT_TRUE(Drawn(img.pixel(120 * s, 293 * s)));
    EXPECT_EQ(Colours(img, 0, 296, 240, 24, s), 1u);
    EXPECT_FALSE(White(img.pixel(120 * s, 310 * s)));
  }
}

TEST(ScreenRender, CheckStateAndProgressComeFromTheFile) {
  const QImage unchecked = Render(ScreenXml("******", "0"));
  EXPECT_EQ(FindInk(unchecked, 1, 6, 85, 10, 10, Dark).count, 0);  // an empty box
  EXPECT_GT(FindInk(unchecked, 1, 20, 80, 134, 20, Dark).count, 30);  // its label stays
  EXPECT_EQ(ProgressFillEnd(Render(ScreenXml("******", "1", "0")), 1, 4, 140, 200, 12), -1);
  EXPECT_NEAR(ProgressFillEnd(Render(ScreenXml("******", "1", "25")), 1, 4, 140, 200, 12), 4 + 50, 3);
  EXPECT_NEAR(ProgressFillEnd(Render(ScreenXml("******", "1", "100")), 1, 4, 140, 200, 12), 4 + 199, 3);
}

// A check box with BS_MULTILINE breaks a label too long for one line into
// lines inside its box instead of cutting it at the right edge.
TEST(ScreenRender, AMultilineCheckBoxWrapsItsLabel) {
  std::string xml = ScreenXml();
  const std::string single = "width=\"150\" height=\"20\" style=\"0x50010003\" text=\"Remember\"";
  const size_t at = xml.find(single);
  ASSERT_NE(at, std::string::npos);
  xml.replace(at, single.size(),
              "width=\"150\" height=\"28\" style=\"0x50012003\" text=\"Close the programs before a restore\"");
  for (int s : {1, 2}) {
    const QImage img = Render(xml, s);
    const Ink label = FindInk(img, s, 20, 80, 134, 28, Dark);
    ASSERT_GT(label.count, 0) << "scale " << s;
    EXPECT_GT(label.bottom - label.top, 14) << "scale " << s << ": one line only";
    EXPECT_EQ(FindInk(img, s, 154, 80, 30, 28, Dark).count, 0) << "scale " << s << ": beyond the box";
  }
}

TEST(ScreenRender, DrawsWhatTheFileSays) {
  const QImage base = Render(ScreenXml());
  // Check state, progress and title each change only their own part.
  const QImage unchecked = Render(ScreenXml("******", "0"));
  EXPECT_FALSE(SameRegion(base, unchecked, 4, 80, 150, 20));
  EXPECT_TRUE(SameRegion(base, unchecked, 4, 140, 200, 12));
  const QImage full = Render(ScreenXml("******", "1", "100"));
  EXPECT_FALSE(SameRegion(base, full, 4, 140, 200, 12));
  EXPECT_TRUE(SameRegion(base, full, 4, 80, 150, 20));
  const QImage renamed = Render(ScreenXml("******", "1", "50", "Other title"));
  EXPECT_FALSE(SameRegion(base, renamed, 0, 0, 240, 26));
  EXPECT_TRUE(SameRegion(base, renamed, 0, 26, 240, 294));
}

TEST(ScreenRender, PasswordEditShowsTheMaskTheFileHolds) {
  // The file never carries a secret: the edit shows the '*' it holds, one
  // glyph each, no more and no less (drawn at scale 2, where neighbouring
  // stars stand apart). The edit's text area: inside its frame, left of 60.
  auto stars = [](const std::string& text) {
    const QImage img = Render(ScreenXml(text, "1", "50", "Quilmo Backup", "0"), 2);
    return InkRuns(img, 2, 6, 54, 54, 16);
  };
  const auto six = stars("******");
  ASSERT_EQ(six.size(), 6u);
  for (const auto& run : six) EXPECT_EQ(run.second - run.first, six[0].second - six[0].first);  // one glyph
  EXPECT_EQ(stars("***").size(), 3u);
  EXPECT_TRUE(stars("").empty());

  // Focused, the caret follows the text: a thin line as tall as the text
  // line, right of the last star.
  const QImage focused = Render(ScreenXml("******"), 2);
  const auto withCaret = InkRuns(focused, 2, 6, 54, 54, 16);
  ASSERT_EQ(withCaret.size(), 7u);
  const auto caret = withCaret.back();
  EXPECT_LE(caret.second - caret.first, 2);
  const Ink caretInk = FindInk(focused, 1, caret.first, 104, caret.second - caret.first + 1, 40, Dark);
  EXPECT_GE(caretInk.bottom - caretInk.top, 20);  // 2 x the font's 11 pixels, less a little
}

TEST(ScreenRender, MalformedFilesGiveAnErrorNotACrash) {
  const std::string good = ScreenXml();
  const std::string cases[] = {
      "",
      "not xml at all",
      "<screen width=\"240\" height=\"320\">",
      "<display width=\"240\" height=\"320\"/>",
      "<screen height=\"320\"/>",
      "<screen width=\"0\" height=\"320\"/>",
      "<screen width=\"99999\" height=\"320\"/>",
      "<screen width=\"240\" height=\"320\" workTop=\"400\"/>",
      "<screen width=\"240\" height=\"320\"><window x=\"0\"/></screen>",
      "<screen width=\"240\" height=\"320\"><window hwnd=\"1\" style=\"0xZZ\"/></screen>",
      "<screen width=\"240\" height=\"320\"><window hwnd=\"1\"><control hwnd=\"2\" checked=\"7\"/></window></screen>",
      "<screen width=\"240\" height=\"320\"><window hwnd=\"1\"><control hwnd=\"2\" width=\"-3\"/></window></screen>",
      good.substr(0, good.size() / 2),
  };
  for (const auto& xml : cases) {
    std::string error;
    EXPECT_TRUE(ui::qt::RenderScreen(xml, 1, &error).isNull()) << xml;
    EXPECT_FALSE(error.empty()) << xml;
  }
  std::string error;
  EXPECT_TRUE(ui::qt::RenderScreen(good, 0, &error).isNull());
  EXPECT_TRUE(ui::qt::RenderScreen(good, 9, &error).isNull());
  EXPECT_TRUE(ui::qt::RenderScreen("<screen width=\"4096\" height=\"4096\"/>", 4, &error).isNull());
  // Odd but well-formed: out-of-range selections, an inverted progress range,
  // unknown classes and zero-sized controls are drawn without complaint.
  const std::string odd =
      "<screen width=\"240\" height=\"320\"><window hwnd=\"1\" x=\"-50\" y=\"0\" width=\"500\" height=\"500\">"
      "<control hwnd=\"2\" class=\"COMBOBOX\" cursel=\"99\" width=\"50\" height=\"50\" dropped=\"1\"/>"
      "<control hwnd=\"3\" class=\"LISTBOX\" cursel=\"5\" width=\"50\" height=\"5\"><item text=\"a\"/></control>"
      "<control hwnd=\"4\" class=\"msctls_progress32\" min=\"10\" max=\"0\" pos=\"-4\" width=\"50\" height=\"5\"/>"
      "<control hwnd=\"5\" class=\"SysListView32\" width=\"50\" height=\"50\"/>"
      "<control hwnd=\"6\" class=\"EDIT\" width=\"0\" height=\"0\" style=\"0x50800004\"/>"
      "<control hwnd=\"7\" class=\"msctls_updown32\" x=\"60\" width=\"12\" height=\"20\"/>"
      "</window></screen>";
  EXPECT_FALSE(ui::qt::RenderScreen(odd, 1, &error).isNull()) << error;
}

TEST(ScreenRender, WritesAPngOfTheScreenFile) {
  quilmo::test::TestDevice dev;
  const auto xml = dev.dir() / "screen.xml";
  std::ofstream(xml, std::ios::binary) << ScreenXml();
  const auto png = dev.dir() / "shot.png";
  std::string error;
  ASSERT_TRUE(ui::qt::WriteScreenshot(xml, png, 3, &error)) << error;
  QImage back(QString::fromStdString(png.string()));
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.size(), QSize(720, 960));
  EXPECT_FALSE(ui::qt::WriteScreenshot(dev.dir() / "absent.xml", png, 1, &error));
  EXPECT_NE(error.find("absent.xml"), std::string::npos);
}

TEST(ScreenRender, PagesAreBackgroundAndTabsShowTheirItems) {
  auto xml = [](const std::string& tabItems) {
    return "<screen width=\"240\" height=\"320\" workTop=\"26\"><window hwnd=\"1\" x=\"0\" y=\"26\" width=\"240\""
           " height=\"294\"><control hwnd=\"2\" class=\"#32770\" x=\"0\" y=\"26\" width=\"240\" height=\"260\"/>"
           "<control hwnd=\"3\" class=\"SysTabControl32\" x=\"0\" y=\"290\" width=\"240\" height=\"24\""
           " cursel=\"1\">" + tabItems + "</control></window></screen>";
  };
  const QImage bare = Render(xml(""));
  EXPECT_EQ(Colours(bare, 0, 30, 240, 250), 1u);  // a page draws no frame of its own
  const QImage tabs = Render(xml("<item text=\"General\"/><item text=\"Options\"/>"));
  // Side by side from the left, each as wide as its label: "General" on a
  // filled tab, the selected "Options" on a white one open to its page;
  // past them only the line along the top.
  const Ink general = FindInk(tabs, 1, 0, 292, 58, 18, Dark);
  EXPECT_GT(general.count, 20);
  EXPECT_GE(general.left, 2);
  const Ink options = FindInk(tabs, 1, 60, 292, 64, 18, Dark);
  EXPECT_GT(options.count, 20);
  EXPECT_FALSE(White(tabs.pixel(4, 293)));
  EXPECT_TRUE(White(tabs.pixel(64, 293)));
  EXPECT_TRUE(Drawn(tabs.pixel(200, 290)));
  EXPECT_EQ(FindInk(tabs, 1, 130, 292, 110, 22, Drawn).count, 0);
}

namespace {

TEST(ScreenRender, ABubbleIsDrawnOverTheWindowsAndLeavesTheTopBarToThem) {
  const std::string below = ScreenXml();
  std::string withBubble = below;
  withBubble.insert(withBubble.rfind("</screen>"),
                    " <window hwnd=\"65540\" class=\"SHNotificationBubble\" id=\"0\" title=\"Restore\" x=\"0\""
                    " y=\"26\" width=\"240\" height=\"60\" style=\"0x90800000\" focus=\"0\" active=\"0\">\n"
                    "  <control hwnd=\"20\" class=\"STATIC\" id=\"65521\" x=\"4\" y=\"30\" width=\"232\""
                    " height=\"14\" style=\"0x50000000\" text=\"The restore is done.\" visible=\"1\" enabled=\"1\"/>\n"
                    "  <control hwnd=\"21\" class=\"BUTTON\" id=\"123\" x=\"4\" y=\"52\" width=\"60\" height=\"20\""
                    " style=\"0x50010000\" text=\"Report\" visible=\"1\" enabled=\"1\" checked=\"0\"/>\n"
                    " </window>\n");
  const QImage plain = Render(below), img = Render(withBubble);
  // Its ground, away from its text and button.
  EXPECT_EQ(img.pixel(200, 80), qRgb(0xFF, 0xFB, 0xE0));
  EXPECT_NE(plain.pixel(200, 80), img.pixel(200, 80));
  // The top bar still names the dialog below.
  EXPECT_TRUE(SameRegion(plain, img, 0, 0, 240, 26));
  EXPECT_GT(Colours(img, 4, 30, 120, 14), 2u);  // the text is drawn
}

}  // namespace
