// The resource compiler's <dialog> element.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ce/commctrl.h"
#include "ce/controls.h"
#include "ce/dlgtemplate.h"
#include "ce/treeview.h"
#include "ce/module.h"
#include "ce/rescontainer.h"
#include "ce/window.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;
using quilmo::test::TestDevice;

namespace {

const fs::path kBin = QUILMO_BIN_DIR;

using Result = quilmo::test::CommandResult;

// Compiles source into a container file and returns rescomp's exit and output.
Result Compile(const fs::path& dir, const std::string& source, const fs::path& out) {
  std::ofstream(dir / "dlg.xml", std::ios::binary) << source;
  return quilmo::test::RunCommand("'" + (kBin / "rescomp").string() + "' --out '" + out.string() + "' '" +
                                   (dir / "dlg.xml").string() + "'");
}

// The template resource id of a compiled container, parsed.
bool ReadTemplate(const fs::path& file, uint32_t id, ce::DialogTemplate* out, std::string* error) {
  std::string bytes;
  if (ce::res::ReadContainer(file, &bytes) != ce::res::Locate::kFound) return false;
  std::vector<ce::res::EntryView> entries;
  if (!ce::res::ParseContainer(bytes, &entries, error)) return false;
  for (const auto& e : entries)
    if (e.type == ce::res::kTypeTemplate && e.id == id)
      return ce::ParseDialogTemplate(bytes.data() + e.offset, e.size, out, error);
  *error = "no template";
  return false;
}

}  // namespace

TEST(RescompDialog, CompilesClassAndStyleWordsToTheCanonicalForm) {
  TestDevice dev;
  const fs::path out = dev.dir() / "dlg.dll";
  auto r = Compile(dev.dir(),
                   "<resources>\n"
                   "<dialog id=\"231\" width=\"240\" height=\"294\" style=\"WS_POPUP|DS_MODALFRAME|0x4\""
                   " caption=\"Password\" font=\"12\">\n"
                   "  <control class=\"static\" x=\"4\" y=\"2\" width=\"232\" height=\"18\" text=\"Enter&#10;it\"/>\n"
                   "  <control class=\"static\" x=\"4\" y=\"20\" width=\"232\" height=\"18\" style=\"SS_CENTER\"/>\n"
                   "  <control id=\"2018\" class=\"edit\" x=\"-2\" y=\"40\" width=\"200\" height=\"20\""
                   " style=\" ES_PASSWORD | ES_AUTOHSCROLL|WS_TABSTOP \"/>\n"
                   "  <control id=\"2010\" class=\"checkbox\" x=\"4\" y=\"64\" width=\"200\" height=\"20\""
                   " style=\"hidden\" text=\"Remember\"/>\n"
                   "  <control id=\"1\" class=\"defbutton\" x=\"4\" y=\"90\" width=\"60\" height=\"22\""
                   " style=\"disabled\" text=\"OK\"/>\n"
                   "  <control id=\"2053\" class=\"combobox\" x=\"4\" y=\"120\" width=\"60\" height=\"80\"/>\n"
                   "  <control id=\"2054\" class=\"progress\" x=\"4\" y=\"200\" width=\"60\" height=\"10\""
                   " style=\"PBS_SMOOTH\"/>\n"
                   "  <control id=\"2055\" class=\"spin\" x=\"4\" y=\"220\" width=\"10\" height=\"10\"/>\n"
                   "  <control id=\"2056\" class=\"msctls_updown32\" x=\"4\" y=\"240\" width=\"10\" height=\"10\""
                   " style=\"0x20\"/>\n"
                   "</dialog>\n</resources>\n",
                   out);
  ASSERT_EQ(r.status, 0) << r.output;
  ce::DialogTemplate d;
  std::string error;
  ASSERT_TRUE(ReadTemplate(out, 231, &d, &error)) << error;
  EXPECT_EQ(d.style, WS_POPUP | DS_MODALFRAME | 0x4u);
  EXPECT_EQ(d.caption, u"Password");
  EXPECT_EQ(d.fontHeight, 12);
  ASSERT_EQ(d.controls.size(), 9u);
  const DWORD shown = WS_CHILD | WS_VISIBLE;
  EXPECT_EQ(d.controls[0].id, -1);
  EXPECT_EQ(d.controls[0].className, u"STATIC");
  EXPECT_EQ(d.controls[0].style, shown | SS_LEFT);
  EXPECT_EQ(d.controls[0].text, u"Enter\nit");
  EXPECT_EQ(d.controls[1].style, shown | SS_CENTER);
  EXPECT_EQ(d.controls[2].className, u"EDIT");
  EXPECT_EQ(d.controls[2].x, -2);
  EXPECT_EQ(d.controls[2].style, shown | ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER);
  EXPECT_EQ(d.controls[3].className, u"BUTTON");
  EXPECT_EQ(d.controls[3].style, WS_CHILD | BS_AUTOCHECKBOX | WS_TABSTOP);  // hidden: no WS_VISIBLE
  EXPECT_EQ(d.controls[4].style, shown | WS_DISABLED | BS_DEFPUSHBUTTON | WS_TABSTOP);
  EXPECT_EQ(d.controls[5].className, u"COMBOBOX");
  EXPECT_EQ(d.controls[5].style & 0xF, CBS_DROPDOWNLIST);
  EXPECT_EQ(d.controls[6].className, u"msctls_progress32");
  EXPECT_EQ(d.controls[6].style, shown | PBS_SMOOTH);
  EXPECT_EQ(d.controls[7].className, u"msctls_updown32");
  EXPECT_EQ(d.controls[8].style, shown | 0x20u);  // a class name adds no bits of its own
}

TEST(RescompDialog, ListViewsByWordAndByClassWithTheirStyles) {
  TestDevice dev;
  const fs::path out = dev.dir() / "dlg.dll";
  auto r = Compile(dev.dir(),
                   "<resources>\n<dialog id=\"360\" width=\"240\" height=\"294\">\n"
                   "  <control id=\"2106\" class=\"listview\" x=\"0\" y=\"40\" width=\"240\" height=\"120\"/>\n"
                   "  <control id=\"2180\" class=\"SysListView32\" x=\"0\" y=\"40\" width=\"240\" height=\"120\""
                   " style=\"LVS_REPORT|LVS_NOCOLUMNHEADER\"/>\n"
                   "</dialog>\n</resources>\n",
                   out);
  ASSERT_EQ(r.status, 0) << r.output;
  ce::DialogTemplate d;
  std::string error;
  ASSERT_TRUE(ReadTemplate(out, 360, &d, &error)) << error;
  ASSERT_EQ(d.controls.size(), 2u);
  EXPECT_EQ(d.controls[0].className, u"SysListView32");
  EXPECT_EQ(d.controls[0].style & (LVS_TYPEMASK | LVS_SINGLESEL | WS_BORDER), LVS_REPORT | LVS_SINGLESEL | WS_BORDER);
  EXPECT_EQ(d.controls[1].style, WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_NOCOLUMNHEADER);
  // A list view's styles are its own: an edit's word is refused.
  r = Compile(dev.dir(),
              "<resources>\n<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"listview\" x=\"0\" "
              "y=\"0\" width=\"10\" height=\"10\" style=\"ES_PASSWORD\"/></dialog></resources>\n",
              out);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("does not belong"), std::string::npos) << r.output;
}

TEST(RescompDialog, TreeWordMakesATreeViewWithItsOwnStyles) {
  TestDevice dev;
  const fs::path out = dev.dir() / "tree.dll";
  auto r = Compile(dev.dir(),
                   "<resources>\n<dialog id=\"200\" width=\"240\" height=\"200\">\n"
                   "  <control id=\"2015\" class=\"tree\" x=\"3\" y=\"3\" width=\"234\" height=\"112\"/>\n"
                   "  <control id=\"2016\" class=\"SysTreeView32\" x=\"3\" y=\"3\" width=\"234\" height=\"112\""
                   " style=\"TVS_HASBUTTONS|TVS_CHECKBOXES\"/>\n"
                   "</dialog>\n</resources>\n",
                   out);
  ASSERT_EQ(r.status, 0) << r.output;
  ce::DialogTemplate d;
  std::string error;
  ASSERT_TRUE(ReadTemplate(out, 200, &d, &error)) << error;
  ASSERT_EQ(d.controls.size(), 2u);
  EXPECT_EQ(d.controls[0].className, u"SysTreeView32");
  EXPECT_EQ(d.controls[0].style & (TVS_HASBUTTONS | TVS_LINESATROOT | WS_TABSTOP),
            TVS_HASBUTTONS | TVS_LINESATROOT | WS_TABSTOP);
  EXPECT_EQ(d.controls[1].style, WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_CHECKBOXES);
  r = Compile(dev.dir(),
              "<resources>\n<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"tree\" x=\"0\" "
              "y=\"0\" width=\"10\" height=\"10\" style=\"LVS_REPORT\"/></dialog></resources>\n",
              out);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("does not belong"), std::string::npos) << r.output;
}

TEST(RescompDialog, AppendedTemplateLoadsFromTheModule) {
  TestDevice dev;
  std::ifstream in(kBin / "libquilmo_testmodule.so", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  dev.PutFile(u"\\Windows\\TestMod.dll", ss.str());
  HMODULE h = LoadLibraryExW(u"TestMod.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr);
  HRSRC res = FindResourceW(h, MAKEINTRESOURCE(300), RT_TEMPLATE);
  ASSERT_NE(res, nullptr);
  const void* data = LockResource(LoadResource(h, res));
  ce::DialogTemplate d;
  std::string error;
  ASSERT_TRUE(ce::ParseDialogTemplate(data, SizeofResource(h, res), &d, &error)) << error;
  EXPECT_EQ(d.caption, u"Fixture & dialog");
  ASSERT_EQ(d.controls.size(), 3u);
  EXPECT_EQ(d.controls[1].id, 1001);
  EXPECT_TRUE(d.controls[1].style & ES_PASSWORD);
  FreeLibrary(h);
}

TEST(RescompDialog, BadDialogsNameTheLine) {
  TestDevice dev;
  const std::string ctl = "x=\"0\" y=\"0\" width=\"10\" height=\"10\"";
  const struct {
    std::string body;
    const char* message;
  } cases[] = {
      {"<dialog width=\"1\" height=\"1\"/>", ":2: <dialog> needs id"},
      {"<dialog id=\"1\" width=\"1\"/>", ":2: <dialog> needs height"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\" style=\"WS_POPUP|ES_PASSWORD\"/>", "does not belong"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\" colour=\"red\"/>", "unexpected attribute colour"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"button\" " + ctl +
           " style=\"ES_PASSWORD\"/></dialog>",
       ":3: style ES_PASSWORD does not belong"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"edit\" " + ctl +
           " style=\"ES_PASWORD\"/></dialog>",
       ":3: unknown style word \"ES_PASWORD\""},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"edit\" " + ctl +
           " style=\"WS_TABSTOP||ES_NUMBER\"/></dialog>",
       ":3: empty style word"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"slider\" " + ctl + "/></dialog>",
       ":3: unknown control class \"slider\""},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"edit\" x=\"0\" y=\"0\" width=\"-3\""
       " height=\"1\"/></dialog>",
       ":3: bad width \"-3\""},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"edit\" x=\"1e3\" y=\"0\" width=\"3\""
       " height=\"1\"/></dialog>",
       ":3: bad x"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control id=\"5\" class=\"edit\" " + ctl +
           "/>\n\n<control id=\"5\" class=\"button\" " + ctl + "/></dialog>",
       ":5: duplicate control id 5 (first at line 3)"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<control class=\"edit\" " + ctl + " text=\"" +
           std::string(1025, 'a') + "\"/></dialog>",
       ":3: text is longer than 1024"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\">\n<button/></dialog>", ":3: unknown element <button>"},
      {"<dialog id=\"1\" width=\"1\" height=\"1\"/>\n<dialog id=\"1\" width=\"1\" height=\"1\"/>",
       ":3: duplicate <dialog>"},
  };
  for (const auto& c : cases) {
    auto r = Compile(dev.dir(), "<resources>\n" + c.body + "\n</resources>\n", dev.dir() / "bad.dll");
    EXPECT_EQ(r.status, 1) << c.body;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.body << "\n" << r.output;
    EXPECT_FALSE(fs::exists(dev.dir() / "bad.dll"));
  }

  std::string many = "<dialog id=\"1\" width=\"1\" height=\"1\">\n";
  for (int i = 0; i < 257; ++i) many += "<control class=\"static\" " + ctl + "/>\n";
  auto r = Compile(dev.dir(), "<resources>\n" + many + "</dialog></resources>\n", dev.dir() / "bad.dll");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(":259: more than 256 controls"), std::string::npos) << r.output;
}
