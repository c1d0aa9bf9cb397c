// The inclusion list: the grammar with its error texts, the kind flags and
// which paths a walk takes in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/com.h"
#include "core/Log.h"
#include "image/InclusionList.h"
#include "testkit/LogCapture.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

class ComScope {
 public:
  ComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComScope() { CoUninitialize(); }
};

using Errors = quilmo::test::LogCapture;

// Loads the text from a device file; returns the list's error text ("" on
// success).
std::u16string LoadError(const TestDevice& dev, AInclusionList& list, const std::string& xml) {
  dev.PutFile(u"\\My Documents\\include.xml", xml);
  return list.Load() ? std::u16string() : list.GetError().str();
}

}  // namespace

TEST(AInclusionList, ReadsKindsAndNodesWithCommentsAnywhere) {
  TestDevice dev;
  ComScope com;
  AInclusionList list(u"\\My Documents\\include.xml");
  ASSERT_EQ(LoadError(dev, list,
                      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<!-- unattended -->\n"
                      "<inclusion-list>\n"
                      "  <!-- parts -->\n"
                      "  <toplevel name=\"filesystem\">\n"
                      "    <directory name=\"\\My Documents\\Music\"/>\n"
                      "    <!-- files -->\n"
                      "    <file name=\"\\Windows\\Quilmo.ini\"/>\n"
                      "    <file name=\"\\Temp\\*.log\"/>\n"
                      "    <file name=\"\\Notes\\*.*\"/>\n"
                      "  </toplevel>\n"
                      "  <toplevel name=\"mail\"/>\n"
                      "</inclusion-list>\n"),
            u"");
  EXPECT_TRUE(list.IncludesFileSystem());
  EXPECT_TRUE(list.IncludesMail());
  EXPECT_FALSE(list.IncludesDatabases());
  EXPECT_FALSE(list.IncludesRegistry());
  ASSERT_EQ(list.GetNodes().size(), 4u);
  EXPECT_EQ(list.GetNodes()[0].kind, AInclusionList::kDirectory);
  EXPECT_EQ(list.GetNodes()[1].kind, AInclusionList::kFile);

  // Inside the directory node, in any case.
  EXPECT_TRUE(list.Match(u"\\My Documents\\Music\\a.mp3"));
  EXPECT_TRUE(list.Match(u"\\MY DOCUMENTS\\music\\Live\\"));
  EXPECT_TRUE(list.Match(u"\\My Documents\\Music\\"));
  // Folders on the way down to a node.
  EXPECT_TRUE(list.Match(u"\\"));
  EXPECT_TRUE(list.Match(u"\\My Documents\\"));
  EXPECT_TRUE(list.Match(u"\\windows\\"));
  // A sibling whose name begins like the node's folder is not inside it.
  EXPECT_FALSE(list.Match(u"\\My Documents\\Music2\\"));
  EXPECT_FALSE(list.Match(u"\\My Documents\\Music2\\a.mp3"));
  EXPECT_FALSE(list.Match(u"\\My Documents\\a.doc"));
  // File nodes: the name, the extension under "*", every file under "*.*".
  EXPECT_TRUE(list.Match(u"\\WINDOWS\\quilmo.INI"));
  EXPECT_FALSE(list.Match(u"\\Windows\\other.ini"));
  EXPECT_FALSE(list.Match(u"\\Windows\\Sub\\Quilmo.ini"));
  EXPECT_TRUE(list.Match(u"\\Temp\\run.LOG"));
  EXPECT_FALSE(list.Match(u"\\Temp\\run.txt"));
  EXPECT_FALSE(list.Match(u"\\Temp\\Old\\"));  // not on the way to a node
  EXPECT_TRUE(list.Match(u"\\Notes\\anything.txt"));
}

TEST(AInclusionList, EmptyFileSystemPartMatchesNothing) {
  TestDevice dev;
  ComScope com;
  AInclusionList list(u"\\My Documents\\include.xml");
  ASSERT_EQ(LoadError(dev, list,
                      "<inclusion-list><toplevel name=\"filesystem\"/>"
                      "<toplevel name=\"registry\"/><toplevel name=\"databases\"/></inclusion-list>"),
            u"");
  EXPECT_TRUE(list.IncludesFileSystem());
  EXPECT_TRUE(list.IncludesRegistry());
  EXPECT_TRUE(list.IncludesDatabases());
  EXPECT_FALSE(list.IncludesMail());
  EXPECT_TRUE(list.GetNodes().empty());
  EXPECT_FALSE(list.Match(u"\\"));
  EXPECT_FALSE(list.Match(u"\\My Documents\\a.doc"));
}

TEST(AInclusionList, GrammarErrorsFailTheLoadWithTheirTexts) {
  TestDevice dev;
  ComScope com;
  struct Case {
    const char* xml;
    std::u16string error;
  } cases[] = {
      {"<Inclusion-List/>", u"Toplevel element must be inclusion-list not Inclusion-List"},
      {"<inclusion-list><top name=\"mail\"/></inclusion-list>", u"Undefined element top found"},
      {"<inclusion-list>text</inclusion-list>",
       u"Processing inclusion-list expecting NODE_ELEMENT element type, got a 3"},
      {"<inclusion-list><toplevel/></inclusion-list>",
       u"No name attribute found on inclusion item"},
      {"<inclusion-list><toplevel Name=\"mail\"/></inclusion-list>",
       u"No name attribute found on inclusion item"},
      {"<inclusion-list><toplevel name=\"Mail\"/></inclusion-list>",
       u"Unknown toplevel element Mail"},
      {"<inclusion-list><toplevel name=\"filesystem\"><![CDATA[x]]></toplevel></inclusion-list>",
       u"Processing <filesystem>, expected NODE_ELEMENT element type, got a 4"},
      {"<inclusion-list><toplevel name=\"filesystem\"><directory/></toplevel></inclusion-list>",
       u"No name attribute found on <directory> element"},
      {"<inclusion-list><toplevel name=\"filesystem\"><file path=\"\\a\"/></toplevel>"
       "</inclusion-list>",
       u"No name attribute found on <file> element"},
      {"<inclusion-list><toplevel name=\"filesystem\"><folder name=\"\\a\"/></toplevel>"
       "</inclusion-list>",
       u"Undefined element folder found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    Errors errors;
    AInclusionList list(u"\\My Documents\\include.xml");
    EXPECT_EQ(LoadError(dev, list, c.xml), c.error);
    EXPECT_EQ(errors.texts, (std::vector<std::u16string>{u"Error reading inclusion list XML file"}));
  }
}

TEST(AInclusionList, ParseFailureTakesTheDocumentsReason) {
  TestDevice dev;
  ComScope com;
  Errors errors;
  AInclusionList list(u"\\My Documents\\include.xml");
  std::u16string error = LoadError(dev, list, "<inclusion-list><toplevel name=\"mail\">");
  EXPECT_FALSE(error.empty());
  ASSERT_EQ(errors.texts.size(), 1u);
  EXPECT_NE(errors.texts[0].find(error), std::u16string::npos);  // the wrapper's entry

  AInclusionList missing(u"\\nothing.xml");
  EXPECT_FALSE(missing.Load());
  EXPECT_EQ(missing.GetError(), u"The file was not found");
  EXPECT_FALSE(missing.Match(u"\\"));
}

TEST(AInclusionList, ReloadStartsAfresh) {
  TestDevice dev;
  ComScope com;
  AInclusionList list(u"\\My Documents\\include.xml");
  ASSERT_EQ(LoadError(dev, list,
                      "<inclusion-list><toplevel name=\"filesystem\"><directory name=\"\\a\"/>"
                      "</toplevel><toplevel name=\"mail\"/></inclusion-list>"),
            u"");
  ASSERT_EQ(LoadError(dev, list, "<inclusion-list><toplevel name=\"registry\"/></inclusion-list>"),
            u"");
  EXPECT_FALSE(list.IncludesFileSystem());
  EXPECT_FALSE(list.IncludesMail());
  EXPECT_TRUE(list.IncludesRegistry());
  EXPECT_TRUE(list.GetNodes().empty());
}
