// Menu-bar resources: the strict reader, the canonical form and the
// resource compiler's <menubar>.
#include <gtest/gtest.h>

#include <fstream>

#include "ce/menubar.h"
#include "ce/rescontainer.h"
#include "ce/resformat.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

std::string Error(const std::string& xml) {
  ce::MenuBarTemplate t;
  std::string error;
  EXPECT_FALSE(ce::ParseMenuBarTemplate(xml.data(), xml.size(), &t, &error)) << xml;
  return error;
}

std::string Nested(int depth) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) {
    open += "<popup text=\"p\">";
    close += "</popup>";
  }
  return "<menubar id=\"1\"><button id=\"2\" text=\"b\">" + open + "<item id=\"3\" text=\"i\"/>" + close +
         "</button></menubar>";
}

TEST(MenuBarTemplate, ReadsButtonsItemsAndSubmenusAndFormatsThemBack) {
  const std::string xml =
      "<menubar id=\"65361\"><button id=\"1\" text=\"OK\"/><button id=\"65359\" string=\"7\">"
      "<item id=\"32818\" string=\"65172\"/><separator/><popup text=\"More &amp; more\">"
      "<item id=\"5\" text=\"Deep\"/></popup></button><button id=\"9\" text=\"Empty\" menu=\"1\"/></menubar>";
  ce::MenuBarTemplate t;
  std::string error;
  ASSERT_TRUE(ce::ParseMenuBarTemplate(xml.data(), xml.size(), &t, &error)) << error;
  EXPECT_EQ(t.id, 65361);
  ASSERT_EQ(t.buttons.size(), 3u);
  EXPECT_FALSE(t.buttons[0].hasMenu);
  EXPECT_EQ(t.buttons[1].stringId, 7);
  ASSERT_EQ(t.buttons[1].items.size(), 3u);
  EXPECT_EQ(t.buttons[1].items[1].kind, ce::MenuTemplateItem::Kind::Separator);
  EXPECT_EQ(t.buttons[1].items[2].text, u"More & more");
  EXPECT_EQ(t.buttons[1].items[2].items[0].id, 5);
  EXPECT_TRUE(t.buttons[2].hasMenu);
  const std::string back = ce::FormatMenuBarTemplate(t);
  ce::MenuBarTemplate again;
  ASSERT_TRUE(ce::ParseMenuBarTemplate(back.data(), back.size(), &again, &error)) << error << back;
  EXPECT_EQ(ce::FormatMenuBarTemplate(again), back);
  EXPECT_TRUE(again.buttons[2].hasMenu);
}

TEST(MenuBarTemplate, RefusesWhatItDoesNotKnowAndLimitsSizes) {
  EXPECT_EQ(Error("<dialog id=\"1\"/>"), "the top element must be <menubar>");
  EXPECT_EQ(Error("<menubar/>"), "id missing in <menubar>");
  EXPECT_EQ(Error("<menubar id=\"1\"><button id=\"2\"/></menubar>"), "<button> needs text or string");
  EXPECT_EQ(Error("<menubar id=\"1\"><button id=\"2\" text=\"a\" string=\"3\"/></menubar>"),
            "<button> needs text or string");
  EXPECT_EQ(Error("<menubar id=\"1\"><button id=\"2\" text=\"a\"><item text=\"x\"/></button></menubar>"),
            "id missing in <item>");
  EXPECT_EQ(Error("<menubar id=\"1\"><button id=\"2\" text=\"a\"><item id=\"0\" text=\"x\"/></button></menubar>"),
            "bad id \"0\" (1..65535)");
  EXPECT_EQ(Error("<menubar id=\"1\"><button id=\"2\" text=\"a\"><frob/></button></menubar>"),
            "unknown element <frob>");
  EXPECT_EQ(Error("<menubar id=\"1\"><button id=\"2\" text=\"a\" colour=\"red\"/></menubar>"),
            "unknown attribute colour of <button>");
  EXPECT_EQ(Error("<menubar id=\"1\"><button id=\"2\" text=\"a\">words</button></menubar>"), "text inside a menu");
  EXPECT_EQ(Error(Nested(ce::kMaxMenuDepth)), "menus nested deeper than 4");
  ce::MenuBarTemplate t;
  const std::string ok = Nested(ce::kMaxMenuDepth - 1);
  EXPECT_TRUE(ce::ParseMenuBarTemplate(ok.data(), ok.size(), &t, nullptr));
  std::string many = "<menubar id=\"1\"><button id=\"2\" text=\"a\">";
  for (size_t i = 0; i <= ce::kMaxMenuItems; ++i) many += "<separator/>";
  EXPECT_EQ(Error(many + "</button></menubar>"), "more than 64 items in a menu");
  EXPECT_FALSE(ce::ParseMenuBarTemplate(nullptr, 4, &t, nullptr));
}

TEST(MenuBarTemplate, TheResourceCompilerStoresTheCanonicalForm) {
  quilmo::test::TestDevice dev;
  const fs::path src = dev.dir() / "bar.xml", out = dev.dir() / "bar.dll";
  auto compile = [&](const std::string& body) {
    std::ofstream(src, std::ios::binary | std::ios::trunc) << "<resources>" << body << "</resources>";
    return quilmo::test::RunCommand("'" + (fs::path(QUILMO_BIN_DIR) / "rescomp").string() + "' --out '" +
                                    out.string() + "' '" + src.string() + "'");
  };
  auto r = compile("<menubar id=\"65361\" language=\"0x0409\">\n  <button id=\"65359\" text=\"Menu\" menu=\"1\"/>\n"
                   "</menubar>");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string bytes, error;
  ASSERT_EQ(ce::res::ReadContainer(out, &bytes), ce::res::Locate::kFound);
  std::vector<ce::res::EntryView> entries;
  ASSERT_TRUE(ce::res::ParseContainer(bytes, &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].type, ce::res::kTypeMenuBar);
  EXPECT_EQ(entries[0].id, 65361u);
  ce::MenuBarTemplate t;
  ASSERT_TRUE(ce::ParseMenuBarTemplate(bytes.data() + entries[0].offset, entries[0].size, &t, &error)) << error;
  EXPECT_EQ(ce::FormatMenuBarTemplate(t), std::string(bytes.data() + entries[0].offset, entries[0].size));
  EXPECT_TRUE(t.buttons[0].hasMenu);
  // A malformed bar stops the compile with the reason.
  r = compile("<menubar id=\"5\"><button id=\"1\"/></menubar>");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("needs text or string"), std::string::npos) << r.output;
}

}  // namespace
