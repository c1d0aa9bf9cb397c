// The DOM wrappers: failures become one error entry and an empty result,
// the document refuses work once it is not valid, and a good file walks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "core/XmlDom.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

class Entries {
 public:
  Entries() {
    SetLogReportSink([this](int level, DWORD code, const CString& t) {
      texts.push_back(t.str());
      codes.push_back(code);
      levels.push_back(level);
    });
  }
  ~Entries() { SetLogReportSink(nullptr); }
  std::vector<std::u16string> texts;
  std::vector<DWORD> codes;
  std::vector<int> levels;
};

}  // namespace

TEST(ADOMDocument, FailedCreationMakesEveryCallRefuse) {
  Entries log;
  ADOMDocument doc;  // COM not initialised on this thread
  EXPECT_FALSE(doc.IsValid());
  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_EQ(log.texts[0], u"CoCreateInstance() failed");
  EXPECT_EQ(log.codes[0], static_cast<DWORD>(CO_E_NOTINITIALIZED));
  EXPECT_EQ(log.levels[0], kLogError);

  EXPECT_FALSE(doc.LoadFile(u"\\a.xml"));
  EXPECT_EQ(log.texts.back(), u"ADOMParser object not valid to perform LoadFile() operation");
  EXPECT_TRUE(doc.GetDocumentElement().IsEmpty());
  EXPECT_EQ(log.texts.back(),
            u"ADOMParser object not valid to perform GetDocumentElement() operation");
  EXPECT_EQ(doc.GetParseErrorReason(), u"Unknown");
}

TEST(ADOMDocument, FailedLoadLogsPathAndReasonAndInvalidates) {
  TestDevice dev;
  ComScope com;
  Entries log;
  dev.PutFile(u"\\bad.xml", "<a><b></a>");
  ADOMDocument doc;
  ASSERT_TRUE(doc.IsValid());
  EXPECT_FALSE(doc.LoadFile(u"\\bad.xml"));
  ASSERT_EQ(log.texts.size(), 1u);
  const std::u16string reason = doc.GetParseErrorReason().str();
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(log.texts[0], u"Failed to load XML document \\bad.xml: " + reason);
  EXPECT_EQ(log.codes[0], static_cast<DWORD>(S_FALSE));
  EXPECT_FALSE(doc.IsValid());
  EXPECT_FALSE(doc.LoadFile(u"\\bad.xml"));  // refused, not retried
  EXPECT_EQ(log.texts.back(), u"ADOMParser object not valid to perform LoadFile() operation");

  ADOMDocument missing;
  EXPECT_FALSE(missing.LoadFile(u"\\none.xml"));
  EXPECT_EQ(log.texts.back(), u"Failed to load XML document \\none.xml: The file was not found");
}

TEST(ADOMDocument, WalksElementsCommentsAndAttributes) {
  TestDevice dev;
  ComScope com;
  Entries log;
  dev.PutFile(u"\\c.xml",
              "<?xml version=\"1.0\"?>\r\n<root>\r\n  <!-- skip -->\r\n"
              "  <item name=\"one\" value=\"\"/>\r\n  <item name=\"two\"/>\r\n</root>\r\n");
  ADOMDocument doc;
  ASSERT_TRUE(doc.LoadFile(u"\\c.xml"));
  AXMLDOMNode root = doc.GetDocumentElement();
  ASSERT_FALSE(root.IsEmpty());
  EXPECT_EQ(root.GetnodeName(), u"root");
  EXPECT_EQ(root.hasChildNode(), VARIANT_TRUE);

  std::vector<std::u16string> seen;
  for (AXMLDOMNode n = root.GetfirstChild(); !n.IsEmpty(); n = n.GetnextSibling()) {
    if (n.GetnodeType() == NODE_COMMENT) {
      seen.push_back(u"comment");
      continue;
    }
    ASSERT_EQ(n.GetnodeType(), NODE_ELEMENT);
    CString name;
    ASSERT_TRUE(n.GetAttributeText(u"name", name));
    seen.push_back(name.str());
    CString value;
    bool hasValue = n.GetAttributeText(u"value", value);
    EXPECT_EQ(hasValue, name == u"one");
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_EQ(n.hasChildNode(), 0);
  }
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"comment", u"one", u"two"}));

  // A missing attribute is empty without an entry; its value read anyway
  // is an empty variant with one.
  AXMLDOMAttribute absent = root.GetfirstChild().GetnextSibling().Getattributes().getNamedItem(u"x");
  EXPECT_TRUE(absent.IsEmpty());
  EXPECT_TRUE(log.texts.empty());
  CComVariant v = absent.get_value();
  EXPECT_TRUE(v.IsEmpty());
  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_EQ(log.texts[0], u"AXMLDOMAttribute::get_value() failed");

  // Calls on an empty node fail with their own entries.
  AXMLDOMNode empty;
  EXPECT_TRUE(empty.GetnodeName().IsEmpty());
  EXPECT_TRUE(empty.GetfirstChild().IsEmpty());
  EXPECT_TRUE(empty.GetnextSibling().IsEmpty());
  EXPECT_TRUE(empty.Getattributes().IsEmpty());
  EXPECT_EQ(empty.hasChildNode(), 0);
  EXPECT_EQ(log.texts,
            (std::vector<std::u16string>{
                u"AXMLDOMAttribute::get_value() failed", u"AXMLDOMNode::GetnodeName() failed",
                u"IXMLDOMNode::GetfirstChild() failed", u"IXMLDOMNode::GetnextSibling() failed",
                u"AXMLDOMNode::Getattributes() failed", u"IXMLDOMNode::hasChildNode() failed"}));
}

TEST(ADOMDocument, LoadsBytesFromMemory) {
  ComScope com;
  Entries log;
  ADOMDocument doc;
  const char text[] = "<a k=\"v\"/>";
  ASSERT_TRUE(doc.LoadBytes(text, sizeof text - 1));
  CString v;
  EXPECT_TRUE(doc.GetDocumentElement().GetAttributeText(u"k", v));
  EXPECT_EQ(v, u"v");
  ADOMDocument bad;
  EXPECT_FALSE(bad.LoadBytes("<", 1));
  ASSERT_FALSE(log.texts.empty());
  EXPECT_EQ(log.texts.back().rfind(u"Failed to load XML document <memory>: ", 0), 0u);
}
