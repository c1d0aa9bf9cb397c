// The schedule file reader: every kind with its attributes and options,
// the texts of bad elements and documents, and what a failed load leaves.
#include <gtest/gtest.h>

#include <string>

#include "sched_fixture.h"
#include "scheduling/ScheduleList.h"

namespace {

using schedtest::Local;
namespace fmt = ScheduleFormat;

constexpr const char16_t* kFile = u"\\My Documents\\schedule.xml";

class ScheduleFileTest : public schedtest::DeviceTest {
 protected:
  ScheduleFileTest() { SetClock(2024, 5, 6, 9, 15); }  // a Monday

  void Put(const std::string& xml) { dev_.PutFile(kFile, xml); }
  // A file whose schedule holds body.
  void PutBody(const std::string& body) { Put("<?xml version=\"1.0\"?>\n<schedule>\n" + body + "</schedule>\n"); }
};

TEST_F(ScheduleFileTest, ReadsEveryKindWithItsDayFileAndOptions) {
  PutBody(
      "  <!-- the first backup -->\n"
      "  <once at=\"10:30\" on=\"2024-06-07\" filename=\"\\temp\\Once.pbf\" compress=\"TRUE\" reset=\"yes\"/>\n"
      "  <daily at=\"23:05\" filename=\"\\Storage Card\\Daily.pbf\" autoname=\"true\" stopprocesses=\"\""
      " remotemode=\"True\" inclusionlist=\"\\My Documents\\Inclusion.XML\"/>\n"
      "  <weekly at=\"2:00\" dayofweek=\"Sunday\" filename=\"a\"/>\n"
      "  <weekly at=\"2:00\" dayofweek=\"SAT\" filename=\"b\"/>\n"
      "  <weekly at=\"2:00\" dayofweek=\"xyz\" filename=\"c\"/>\n"
      "  <weekly at=\"2:00\" dayofweek=\"wednesday\" filename=\"d\"/>\n"
      "  <weekly at=\"2:00\" dayofweek=\"Fr\" filename=\"e\"/>\n");
  AScheduleList list(kFile);
  ASSERT_TRUE(list.Load()) << ce::ToUtf8(list.GetError().str());
  EXPECT_TRUE(list.IsLoaded());
  EXPECT_TRUE(list.GetError().IsEmpty());
  const auto& e = list.GetEntries();
  ASSERT_EQ(e.size(), 7u);

  EXPECT_EQ(e[0].kind, fmt::kKindOnce);
  EXPECT_EQ(Local(e[0].startTime), "2024-06-07 10:30:00");
  EXPECT_EQ(e[0].dayOfWeek, 1);
  EXPECT_EQ(e[0].fileName, CString(u"\\temp\\Once.pbf"));
  EXPECT_EQ(e[0].options.compress, fmt::kOptionTrue);  // compared lower-cased
  EXPECT_EQ(e[0].options.reset, fmt::kOptionOther);
  EXPECT_EQ(e[0].options.autoname, fmt::kOptionAbsent);
  EXPECT_EQ(e[0].options.stopprocesses, fmt::kOptionAbsent);
  EXPECT_EQ(e[0].options.remotemode, fmt::kOptionAbsent);
  EXPECT_TRUE(e[0].options.inclusionList.IsEmpty());

  // Daily and weekly entries are dated the day the file was read.
  EXPECT_EQ(e[1].kind, fmt::kKindDaily);
  EXPECT_EQ(Local(e[1].startTime), "2024-05-06 23:05:00");
  EXPECT_EQ(e[1].options.autoname, fmt::kOptionTrue);
  EXPECT_EQ(e[1].options.stopprocesses, fmt::kOptionOther);  // present, but empty
  EXPECT_EQ(e[1].options.remotemode, fmt::kOptionTrue);
  EXPECT_EQ(e[1].options.compress, fmt::kOptionAbsent);
  EXPECT_EQ(e[1].options.inclusionList, CString(u"\\my documents\\inclusion.xml"));

  const int days[] = {7, 6, 1, 3, 1};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(e[2 + i].kind, fmt::kKindWeekly);
    EXPECT_EQ(Local(e[2 + i].startTime), "2024-05-06 02:00:00");
    EXPECT_EQ(e[2 + i].dayOfWeek, days[i]);
  }
}

TEST_F(ScheduleFileTest, NumbersThatAreNoNumbersReadAsZero) {
  PutBody(
      "  <daily at=\"x:y\" filename=\"a\"/>\n"
      "  <daily at=\" 7:5 minutes\" filename=\"b\"/>\n"
      "  <daily at=\"9:\" filename=\"c\"/>\n"
      "  <once at=\"12:00\" on=\"2024-02-29th\" filename=\"d\"/>\n");
  AScheduleList list(kFile);
  ASSERT_TRUE(list.Load());
  const auto& e = list.GetEntries();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(Local(e[0].startTime), "2024-05-06 00:00:00");
  EXPECT_EQ(Local(e[1].startTime), "2024-05-06 07:05:00");
  EXPECT_EQ(Local(e[2].startTime), "2024-05-06 09:00:00");
  EXPECT_EQ(Local(e[3].startTime), "2024-02-29 12:00:00");
}

// The first failing element ends the read with its text; the entries before
// it stay, but the list does not count as loaded.
TEST_F(ScheduleFileTest, BadElementsGiveTheirTextAndKeepTheEntriesBefore) {
  struct Case {
    const char* element;
    const char16_t* text;
  } cases[] = {
      {"<daily filename=\"a\"/>", u"No at attribute found on schedule item"},
      {"<daily AT=\"1:00\" filename=\"a\"/>", u"No at attribute found on schedule item"},
      {"<once filename=\"a\" dayofweek=\"x\"/>", u"No at attribute found on schedule item"},
      {"<daily at=\"1030\" filename=\"a\"/>", u"Bad time value on attribute at"},
      {"<daily at=\"24:00\" filename=\"a\"/>", u"Bad time value on attribute at"},
      {"<daily at=\"10:60\" filename=\"a\"/>", u"Bad time value on attribute at"},
      {"<daily at=\"-1:00\" filename=\"a\"/>", u"Bad time value on attribute at"},
      {"<daily at=\"65538:00\" filename=\"a\"/>", u"Bad time value on attribute at"},
      {"<weekly at=\"1:00\" on=\"2024-01-01\" dayofweek=\"mon\" filename=\"a\"/>",
       u"Unexpected element on in <daily> or <weekly> element"},
      {"<daily at=\"1:00\" on=\"\" filename=\"a\"/>", u"Unexpected element on in <daily> or <weekly> element"},
      {"<once at=\"1:00\" filename=\"a\"/>", u"Attribute on expected in <once> element"},
      {"<once at=\"1:00\" on=\"2024/01/01\" filename=\"a\"/>", u"Bad date value on attribute on"},
      {"<once at=\"1:00\" on=\"2024-0101\" filename=\"a\"/>", u"Bad date value on attribute on"},
      {"<once at=\"1:00\" on=\"2023-02-29\" filename=\"a\"/>", u"Bad date value on attribute on"},
      {"<once at=\"1:00\" on=\"2024-13-01\" filename=\"a\"/>", u"Bad date value on attribute on"},
      {"<once at=\"1:00\" on=\"x-y-z\" filename=\"a\"/>", u"Bad date value on attribute on"},
      {"<weekly at=\"1:00\" filename=\"a\"/>", u"Expected element dayofweek in <weekly> element"},
      {"<daily at=\"1:00\" dayofweek=\"mon\" filename=\"a\"/>",
       u"Unexpected element dayofweek in <daily> or <once> element"},
      {"<once at=\"1:00\" on=\"2030-1-1\" dayofweek=\"mon\" filename=\"a\"/>",
       u"Unexpected element dayofweek in <daily> or <once> element"},
      {"<daily at=\"1:00\"/>", u"No filename attribute found on schedule item"},
      {"<daily at=\"1:00\" FileName=\"a\"/>", u"No filename attribute found on schedule item"},
      {"<hourly at=\"1:00\" filename=\"a\"/>", u"Scheduling frequency hourly is not supported"},
      {"<Daily at=\"1:00\" filename=\"a\"/>", u"Scheduling frequency Daily is not supported"},
      {"loose text", u"Expecting NODE_ELEMENT element type, got a 3"},
      {"<![CDATA[x]]>", u"Expecting NODE_ELEMENT element type, got a 4"},
      {"<?pi x?>", u"Expecting NODE_ELEMENT element type, got a 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.element);
    PutBody(std::string("  <daily at=\"10:00\" filename=\"first\"/>\n  ") + c.element +
            "\n  <daily at=\"11:00\" filename=\"after\"/>\n");
    const size_t mark = Mark();
    AScheduleList list(kFile);
    EXPECT_FALSE(list.Load());
    EXPECT_EQ(list.GetError().str(), c.text);
    EXPECT_FALSE(list.IsLoaded());
    ASSERT_EQ(list.GetEntries().size(), 1u);
    EXPECT_EQ(list.GetEntries()[0].fileName, CString(u"first"));
    EXPECT_TRUE(LoggedSince(mark, "E AScheduleXML ")) << LogText();
    EXPECT_TRUE(LoggedSince(mark, "Error reading schedule XML file"));
    EXPECT_TRUE(LoggedSince(mark, "E AScheduleList "));
    EXPECT_TRUE(LoggedSince(mark, "Failed to load xml file: " + ce::ToUtf8(c.text))) << LogText();
    // A list that did not load answers nothing, silently.
    ADateTime start(7);
    CString name(u"kept");
    ScheduleItemOptions options;
    options.reset = 9;
    EXPECT_FALSE(list.GetNextScheduleAfter(ADateTime(2024, 5, 6, 9, 0, 0), start, name, options));
    EXPECT_EQ(start.GetTime(), 7);
    EXPECT_EQ(name, CString(u"kept"));
    EXPECT_EQ(options.reset, 9u);
    EXPECT_FALSE(LoggedSince(mark, "GetNextScheduleAfter()"));
  }
}

// Documents the grammar refuses, and files the XML parser cannot load: the
// parser's reason, with line and position, is the error text.
TEST_F(ScheduleFileTest, BadDocumentsAndUnreadableFilesFailWithTheirReason) {
  struct Case {
    const char* name;
    const char* xml;  // null: no file
    const char16_t* text;
    bool grammar;  // refused by the reader, not the parser
  } cases[] = {
      {"wrong root", "<schedules><daily at=\"1:00\" filename=\"a\"/></schedules>",
       u"Toplevel element must be schedule not schedules", true},
      {"root in another case", "<Schedule/>", u"Toplevel element must be schedule not Schedule", true},
      {"empty file", "", u"No document element found (line 1, position 1)", false},
      {"only a comment", "<!-- nothing -->\n", u"No document element found (line 2, position 1)", false},
      {"unclosed element", "<schedule>\n  <daily at=\"1:00\" filename=\"a\">\n</schedule>\n", u"(line 3, position ",
       false},
      {"repeated attribute", "<schedule>\n <daily at=\"1:00\" at=\"2:00\" filename=\"a\"/>\n</schedule>",
       u"Attribute \"at\" appears twice (line 2, position ", false},
      {"missing file", nullptr, u"The file was not found", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(kFile);
    if (c.xml) Put(c.xml);
    const size_t mark = Mark();
    AScheduleList list(kFile);
    EXPECT_FALSE(list.Load());
    EXPECT_NE(list.GetError().str().find(c.text), std::u16string::npos) << ce::ToUtf8(list.GetError().str());
    EXPECT_TRUE(list.GetEntries().empty());
    EXPECT_TRUE(LoggedSince(mark, "Failed to load xml file: " + ce::ToUtf8(list.GetError().str()))) << LogText();
    EXPECT_EQ(LoggedSince(mark, "Error reading schedule XML file"), c.grammar);
  }
}

TEST_F(ScheduleFileTest, ReloadingReplacesTheEntriesAndUtf16FilesLoad) {
  PutBody("  <daily at=\"1:00\" filename=\"a\"/>\n  <daily at=\"2:00\" filename=\"b\"/>\n");
  AScheduleList list(kFile);
  ASSERT_TRUE(list.Load());
  ASSERT_TRUE(list.Load());
  EXPECT_EQ(list.GetEntries().size(), 2u);

  // UTF-16 with a byte-order mark.
  const std::u16string text =
      u"<schedule><weekly at=\"3:00\" dayofweek=\"Dienstag\" filename=\"\\temp\\Caf\u00e9.pbf\"/></schedule>";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  Put(bytes);
  ASSERT_TRUE(list.Load());
  ASSERT_EQ(list.GetEntries().size(), 1u);
  EXPECT_EQ(list.GetEntries()[0].fileName.str(), u"\\temp\\Caf\u00e9.pbf");
  EXPECT_EQ(list.GetEntries()[0].dayOfWeek, 1);  // "die" is no day name here

  list.Clear();
  EXPECT_FALSE(list.IsLoaded());
  EXPECT_TRUE(list.GetEntries().empty());
}

}  // namespace
