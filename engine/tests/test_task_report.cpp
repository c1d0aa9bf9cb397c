// The task report: items in order with their levels, the text limit, and
// the link to the log front end.
#include <gtest/gtest.h>

#include <string>

#include "core/Log.h"
#include "engine/TaskReport.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

CString Text(const TaskReportItem& item) { return CString(item.text); }

TEST(TaskReport, KeepsItemsInOrderAndCutsLongText) {
  TestDevice dev;
  ATaskReport report;
  report.AddItem(0, u"first", TaskReportItem::kInformation);
  report.AddItem(32, CString(std::u16string(600, u'x')), TaskReportItem::kError);
  report.AddItem(5, u"third", TaskReportItem::kWarning);
  ASSERT_EQ(report.GetCount(), 3);

  TaskReportItem item;
  ASSERT_TRUE(report.GetItem(item, 0));
  EXPECT_EQ(item.type, 0u);
  EXPECT_EQ(Text(item), CString(u"first"));
  ASSERT_TRUE(report.GetItem(item, 1));
  EXPECT_EQ(item.type, 2u);
  EXPECT_EQ(item.value, 32u);
  EXPECT_EQ(Text(item), CString(std::u16string(511, u'x')));
  EXPECT_EQ(item.text[511], 0);
  ASSERT_TRUE(report.GetItem(item, 2));
  EXPECT_EQ(item.type, 1u);
  EXPECT_EQ(Text(item), CString(u"third"));

  report.Clear();  // a new run
  EXPECT_EQ(report.GetCount(), 0);
  EXPECT_FALSE(report.GetItem(item, 0));
}

TEST(TaskReport, ReceivesTheLogEntriesWhileConnected) {
  TestDevice dev;
  {
    ATaskReport report;
    report.ConnectToLog();
    EXPECT_TRUE(report.IsConnectedToLog());
    LogError(87, u"broken", u"Test", __LINE__);
    LogWarning(0, u"careful", u"Test", __LINE__);
    LogInfo(0, u"fine", u"Test", __LINE__);
    ASSERT_EQ(report.GetCount(), 3);
    TaskReportItem item;
    report.GetItem(item, 0);
    EXPECT_EQ(item.type, 2u);
    EXPECT_EQ(item.value, 87u);
    EXPECT_EQ(Text(item), CString(u"broken"));  // the raw text, not the log line
    report.GetItem(item, 1);
    EXPECT_EQ(item.type, 1u);
    report.GetItem(item, 2);
    EXPECT_EQ(item.type, 0u);

    // An out-of-range read logs an error, which the connected report keeps.
    EXPECT_FALSE(report.GetItem(item, 7));
    ASSERT_EQ(report.GetCount(), 4);
    report.GetItem(item, 3);
    EXPECT_EQ(item.type, 2u);
    EXPECT_EQ(Text(item), CString(u"GetItem m_Summary.size() 3 7"));

    // A newer report takes over; the older one's disconnect leaves it alone.
    ATaskReport newer;
    newer.ConnectToLog();
    report.DisconnectFromLog();
    LogInfo(0, u"to newer", u"Test", __LINE__);
    EXPECT_EQ(report.GetCount(), 4);
    EXPECT_EQ(newer.GetCount(), 1);
  }
  LogError(0, u"after the reports are gone", u"Test", __LINE__);  // no receiver, no crash
}

}  // namespace
