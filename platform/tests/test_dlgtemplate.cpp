#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ce/device.h"
#include "ce/dlgtemplate.h"
#include "testkit/TestDevice.h"

namespace {

bool Parse(const std::string& xml, ce::DialogTemplate* out = nullptr, std::string* error = nullptr) {
  ce::DialogTemplate d;
  std::string e;
  const bool ok = ce::ParseDialogTemplate(xml.data(), xml.size(), out ? out : &d, error ? error : &e);
  return ok;
}

std::string Dialog(const std::string& controls, const std::string& attrs = "") {
  return "<dialog id=\"231\" width=\"240\" height=\"294\"" + attrs + ">" + controls + "</dialog>";
}

std::string Control(int id, const std::string& extra = "") {
  return "<control id=\"" + std::to_string(id) +
         "\" class=\"STATIC\" x=\"4\" y=\"2\" width=\"50\" height=\"18\"" + extra + "/>";
}

}  // namespace

TEST(DialogTemplate, ParsesAndRoundTripsThroughTheCanonicalForm) {
  ce::DialogTemplate d;
  std::string error;
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<dialog id=\"0xE7\" width=\"240\" height=\"294\" style=\"0x80C80000\" "
      "caption=\"Pass &amp; word\" font=\"11\">\n"
      "  <control id=\"-1\" class=\"STATIC\" x=\"-4\" y=\"2\" width=\"232\" height=\"18\" "
      "text=\"Line one&#10;line &quot;two&quot;&#9;\xC3\xA9\"/>\n"
      "  <control id=\"65535\" class=\"STATIC\" x=\"0\" y=\"0\" width=\"0\" height=\"0\"/>\n"
      "  <control id=\"-1\" class=\"STATIC\" x=\"0\" y=\"0\" width=\"1\" height=\"1\"/>\n"
      "  <control id=\"2018\" class=\"EDIT\" x=\"4\" y=\"30\" width=\"232\" height=\"20\" "
      "style=\"1350631584\" text=\"&lt;x&gt;\"/>\n"
      "</dialog>\n";
  ASSERT_TRUE(ce::ParseDialogTemplate(xml.data(), xml.size(), &d, &error)) << error;
  EXPECT_EQ(d.id, 231);
  EXPECT_EQ(d.style, 0x80C80000u);
  EXPECT_EQ(d.caption, u"Pass & word");
  EXPECT_EQ(d.fontHeight, 11);
  ASSERT_EQ(d.controls.size(), 4u);
  EXPECT_EQ(d.controls[0].x, -4);
  EXPECT_EQ(d.controls[0].text, u"Line one\nline \"two\"\t\u00E9");
  EXPECT_EQ(d.controls[3].className, u"EDIT");
  EXPECT_EQ(d.controls[3].style, 1350631584u);
  EXPECT_EQ(d.controls[3].text, u"<x>");

  const std::string canonical = ce::FormatDialogTemplate(d);
  ce::DialogTemplate back;
  ASSERT_TRUE(ce::ParseDialogTemplate(canonical.data(), canonical.size(), &back, &error)) << error;
  EXPECT_EQ(ce::FormatDialogTemplate(back), canonical);
  EXPECT_EQ(back.caption, d.caption);
  ASSERT_EQ(back.controls.size(), d.controls.size());
  for (size_t i = 0; i < d.controls.size(); ++i) {
    EXPECT_EQ(back.controls[i].text, d.controls[i].text) << i;
    EXPECT_EQ(back.controls[i].id, d.controls[i].id) << i;
    EXPECT_EQ(back.controls[i].style, d.controls[i].style) << i;
  }
  EXPECT_NE(canonical.find("style=\"0x80C80000\""), std::string::npos);
}

TEST(DialogTemplate, ControlCharactersSurviveFormatting) {
  ce::DialogTemplate d;
  d.id = 5;
  d.controls.push_back({7, u"BUTTON", 0, 0, 10, 10, 0, u"a\r\nb\x01<&>\"'"});
  const std::string xml = ce::FormatDialogTemplate(d);
  ce::DialogTemplate back;
  std::string error;
  ASSERT_TRUE(ce::ParseDialogTemplate(xml.data(), xml.size(), &back, &error)) << error;
  ASSERT_EQ(back.controls.size(), 1u);
  EXPECT_EQ(back.controls[0].text, d.controls[0].text);
  EXPECT_EQ(back.fontHeight, ce::kDefaultTemplateFont);
}

TEST(DialogTemplate, RefusesMalformedValues) {
  std::string error;
  EXPECT_FALSE(Parse("", nullptr, &error));
  EXPECT_FALSE(Parse("<dialog id=\"1\" width=\"1\" height=\"1\">", nullptr, &error));  // unclosed
  EXPECT_FALSE(Parse("<dlg id=\"1\" width=\"1\" height=\"1\"/>"));
  EXPECT_FALSE(Parse("<dialog width=\"1\" height=\"1\"/>"));                 // no id
  EXPECT_FALSE(Parse(Dialog("", " font=\"0\"")));
  EXPECT_FALSE(Parse(Dialog("", " style=\"12z\"")));
  EXPECT_FALSE(Parse(Dialog("", " style=\"0x100000000\"")));
  EXPECT_FALSE(Parse(Dialog("", " style=\"-1\"")));
  EXPECT_FALSE(Parse(Dialog("", " color=\"red\"")));
  EXPECT_FALSE(Parse(Dialog("text")));
  EXPECT_FALSE(Parse(Dialog("<button/>")));
  EXPECT_FALSE(Parse(Dialog(Control(3, " style=\" 1\""))));
  EXPECT_FALSE(Parse(Dialog(Control(3, " style=\"\""))));
  EXPECT_FALSE(Parse(Dialog(Control(3, " tabindex=\"1\""))));
  EXPECT_FALSE(Parse(Dialog("<control id=\"3\" x=\"0\" y=\"0\" width=\"1\" height=\"1\"/>")));  // no class
  EXPECT_FALSE(Parse(Dialog("<control id=\"3\" class=\"\" x=\"0\" y=\"0\" width=\"1\" height=\"1\"/>")));
  EXPECT_FALSE(Parse(Dialog("<control id=\"3\" class=\"EDIT\" x=\"0\" y=\"0\" width=\"1\"/>")));
  EXPECT_FALSE(Parse(Dialog("<control id=\"-2\" class=\"EDIT\" x=\"0\" y=\"0\" width=\"1\" height=\"1\"/>")));
  EXPECT_FALSE(Parse(Dialog("<control id=\"3\" class=\"EDIT\" x=\"0\" y=\"0\" width=\"-1\" height=\"1\"/>",
                            "")));
  EXPECT_FALSE(Parse("<dialog id=\"1\" width=\"1\" height=\"-5\"/>", nullptr, &error));
  EXPECT_NE(error.find("height"), std::string::npos) << error;
  EXPECT_FALSE(Parse(Dialog(Control(3, ">x</control><control id=\"4\" class=\"A\" x=\"0\" y=\"0\" "
                                      "width=\"1\" height=\"1\""))));  // content in a control
  EXPECT_FALSE(Parse(Dialog("", " caption=\"\xC3\x28\"")));  // invalid UTF-8
  EXPECT_FALSE(Parse(Dialog("") + "<dialog id=\"2\" width=\"1\" height=\"1\"/>"));
}

TEST(DialogTemplate, RefusesDuplicateIdsButLetsLabelsShareTheUnnamedIds) {
  std::string error;
  EXPECT_TRUE(Parse(Dialog(Control(-1) + Control(-1) + Control(0xFFFF) + Control(0xFFFF) + Control(3)), nullptr,
                    &error))
      << error;
  EXPECT_FALSE(Parse(Dialog(Control(3) + Control(4) + Control(3)), nullptr, &error));
  EXPECT_NE(error.find("duplicate control id 3"), std::string::npos) << error;
  EXPECT_FALSE(Parse(Dialog(Control(0) + Control(0))));
}

TEST(DialogTemplate, EnforcesCountAndTextLimits) {
  std::string controls;
  for (int i = 0; i < 256; ++i) controls += Control(i + 100);
  ce::DialogTemplate d;
  EXPECT_TRUE(Parse(Dialog(controls), &d));
  EXPECT_EQ(d.controls.size(), 256u);
  EXPECT_FALSE(Parse(Dialog(controls + Control(-1))));

  // 1024 characters (counted in UTF-16: U+00E9 is one, two UTF-8 bytes).
  std::string text;
  for (int i = 0; i < 1024; ++i) text += "\xC3\xA9";
  EXPECT_TRUE(Parse(Dialog(Control(1, " text=\"" + text + "\""), " caption=\"" + text + "\"")));
  EXPECT_FALSE(Parse(Dialog(Control(1, " text=\"" + text + "x\""))));
  EXPECT_FALSE(Parse(Dialog("", " caption=\"" + text + "x\"")));
}

TEST(DeviceProfile, ReloadPicksUpAnotherWritersProfile) {
  quilmo::test::TestDevice dev;
  ce::Device* device = dev.device();
  ASSERT_EQ(device->GetProfile().screenWidth, 240);
  ce::Profile p = device->GetProfile();
  std::swap(p.screenWidth, p.screenHeight);
  {
    std::ofstream out(dev.dir() / "profile.txt", std::ios::binary | std::ios::trunc);
    out << p.Serialize();
  }
  EXPECT_EQ(device->GetProfile().screenWidth, 240);  // not until reloaded
  ASSERT_TRUE(device->ReloadProfile());
  EXPECT_EQ(device->GetProfile().screenWidth, 320);
  EXPECT_EQ(device->GetProfile().screenHeight, 240);

  {
    std::ofstream out(dev.dir() / "profile.txt", std::ios::binary | std::ios::trunc);
    out << "screen_width = wide\n";
  }
  EXPECT_FALSE(device->ReloadProfile());
  EXPECT_EQ(device->GetProfile().screenWidth, 320);  // the old copy stays
  std::filesystem::remove(dev.dir() / "profile.txt");
  EXPECT_FALSE(device->ReloadProfile());
  device->SaveProfile(ce::Profile());
}
