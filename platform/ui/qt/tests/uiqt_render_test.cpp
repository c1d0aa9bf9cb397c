// The screen renderer, offscreen.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <set>

#include "testkit/TestDevice.h"
#include "ui/qt/Screen.h"

namespace {

// A dialog with one of each control, as the window layer writes it.
std::string ScreenXml(const std::string& editText = "******", const std::string& checked = "1",
                      const std::string& pos = "50", const std::string& title = "Quilmo Backup") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<screen width=\"240\" height=\"320\" workTop=\"26\" workBottom=\"294\" scale=\"1\" pid=\"42\""
         " program=\"\\Windows\\q.exe\">\n"
         " <window hwnd=\"65538\" class=\"#32770\" id=\"231\" title=\"" + title + "\" x=\"0\" y=\"26\""
         " width=\"240\" height=\"268\" style=\"0x90C80000\" focus=\"7\" active=\"1\">\n"
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

}  // namespace

TEST(ScreenRender, DrawsEveryControlAtTheScaledDeviceSize) {
  const QImage one = Render(ScreenXml());
  ASSERT_EQ(one.size(), QSize(240, 320));
  const QImage two = Render(ScreenXml(), 2);
  ASSERT_EQ(two.size(), QSize(480, 640));

  EXPECT_GT(Colours(one, 0, 0, 240, 26), 2u);     // the title strip with its title
  EXPECT_GT(Colours(one, 4, 30, 232, 18), 2u);    // label text
  EXPECT_GT(Colours(one, 4, 52, 232, 20), 2u);    // edit frame and stars
  EXPECT_GT(Colours(one, 4, 80, 150, 20), 2u);    // check box
  EXPECT_GT(Colours(one, 4, 108, 150, 24), 2u);   // combo box
  EXPECT_GT(Colours(one, 4, 260, 60, 22), 2u);    // OK button
  EXPECT_EQ(Colours(one, 70, 260, 60, 22), 1u);   // the hidden button is not drawn
  EXPECT_EQ(Colours(one, 4, 200, 200, 40), 1u);   // plain dialog background
  EXPECT_GT(Colours(one, 0, 294, 240, 26), 0u);
  // Scaled, the same parts are drawn.
  EXPECT_GT(Colours(two, 4, 52, 232, 20, 2), 2u);
  EXPECT_EQ(Colours(two, 70, 260, 60, 22, 2), 1u);
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
  // The file never carries a secret: the edit shows the '*' it holds, no
  // more and no less.
  const QImage masked = Render(ScreenXml("******"));
  const QImage empty = Render(ScreenXml(""));
  const QImage shorter = Render(ScreenXml("***"));
  EXPECT_FALSE(SameRegion(masked, empty, 4, 52, 232, 20));
  EXPECT_FALSE(SameRegion(masked, shorter, 4, 52, 232, 20));
  EXPECT_TRUE(SameRegion(masked, Render(ScreenXml("******")), 0, 0, 240, 320));
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
  EXPECT_FALSE(SameRegion(bare, tabs, 0, 290, 240, 24));
  EXPECT_GT(Colours(tabs, 0, 290, 120, 24), 3u);
}
