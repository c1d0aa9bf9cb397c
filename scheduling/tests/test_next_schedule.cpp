// The next start of a schedule file: each kind's candidate, the choice
// among entries, a two-week walk, and daylight-saving changes (a weekly
// entry keeps its hour, a daily one moves with the clock).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sched_fixture.h"
#include "scheduling/ScheduleList.h"

namespace {

using schedtest::Local;
namespace fmt = ScheduleFormat;

constexpr const char16_t* kFile = u"\\My Documents\\schedule.xml";

class NextScheduleTest : public schedtest::DeviceTest {
 protected:
  explicit NextScheduleTest(const char* zone = "UTC0") : DeviceTest(zone) {}

  // Loads a schedule holding body (read on the clock's day).
  void LoadBody(const std::string& body) {
    dev_.PutFile(kFile, "<schedule>\n" + body + "</schedule>\n");
    ASSERT_TRUE(list_.Load()) << ce::ToUtf8(list_.GetError().str());
  }
  // The next start after a local time as "<time> <file>", or "none".
  std::string Next(const ADateTime& after) {
    ADateTime start;
    CString name;
    ScheduleItemOptions options;
    if (!list_.GetNextScheduleAfter(after, start, name, options)) return "none";
    return Local(start) + " " + ce::ToUtf8(name.str());
  }

  AScheduleList list_{kFile};
};

TEST_F(NextScheduleTest, EachKindStartsAtItsNextTime) {
  SetClock(2024, 5, 6, 9, 0);  // Monday
  LoadBody("  <weekly at=\"10:00\" dayofweek=\"mon\" filename=\"w\"/>\n");
  // Today's time still ahead: today; passed or exactly now: a week later.
  EXPECT_EQ(Next(ADateTime(2024, 5, 6, 9, 59, 59)), "2024-05-06 10:00:00 w");
  EXPECT_EQ(Next(ADateTime(2024, 5, 6, 10, 0, 0)), "2024-05-13 10:00:00 w");
  EXPECT_EQ(Next(ADateTime(2024, 5, 6, 18, 0, 0)), "2024-05-13 10:00:00 w");
  // Another day: the next such weekday, whatever the time.
  EXPECT_EQ(Next(ADateTime(2024, 5, 8, 1, 0, 0)), "2024-05-13 10:00:00 w");
  EXPECT_EQ(Next(ADateTime(2024, 5, 12, 23, 0, 0)), "2024-05-13 10:00:00 w");

  LoadBody("  <daily at=\"10:00\" filename=\"d\"/>\n");
  EXPECT_EQ(Next(ADateTime(2024, 5, 6, 9, 0, 0)), "2024-05-06 10:00:00 d");
  EXPECT_EQ(Next(ADateTime(2024, 5, 6, 10, 0, 0)), "2024-05-07 10:00:00 d");  // exactly its time: tomorrow
  EXPECT_EQ(Next(ADateTime(2024, 12, 31, 22, 0, 0)), "2025-01-01 10:00:00 d");

  LoadBody("  <once at=\"10:00\" on=\"2024-05-20\" filename=\"o\"/>\n");
  EXPECT_EQ(Next(ADateTime(2024, 5, 6, 9, 0, 0)), "2024-05-20 10:00:00 o");
  EXPECT_EQ(Next(ADateTime(2024, 5, 20, 10, 0, 0)), "none");
}

TEST_F(NextScheduleTest, PastOnceEntriesAreNeverChosen) {
  SetClock(2024, 5, 6, 9, 0);
  LoadBody(
      "  <once at=\"10:00\" on=\"2024-05-01\" filename=\"a\"/>\n"
      "  <once at=\"8:59\" on=\"2024-05-06\" filename=\"b\"/>\n");
  const size_t mark = Mark();
  ADateTime start(5);
  CString name(u"kept");
  ScheduleItemOptions options;
  EXPECT_FALSE(list_.GetNextScheduleAfter(ADateTime(2024, 5, 6, 9, 0, 0), start, name, options));
  EXPECT_EQ(start.GetTime(), 5);
  EXPECT_EQ(name, CString(u"kept"));
  EXPECT_TRUE(LoggedSince(mark, "L AScheduleList ")) << LogText();
  EXPECT_TRUE(LoggedSince(mark, "GetNextScheduleAfter() after 2024-05-06 09:00:00"));
  EXPECT_TRUE(LoggedSince(mark, "E AScheduleList "));
  EXPECT_TRUE(LoggedSince(mark, "Never found a schedule"));
}

// Until one entry lies ahead every entry takes the place; after that only
// an earlier one ahead does, and a tie keeps the entry met first. Its file
// name and options come along.
TEST_F(NextScheduleTest, TheEarliestStartWinsAndTiesKeepTheFileOrder) {
  SetClock(2024, 5, 6, 9, 0);
  LoadBody(
      "  <once at=\"10:00\" on=\"2024-01-01\" filename=\"past\"/>\n"
      "  <daily at=\"12:00\" filename=\"noon\" compress=\"true\"/>\n"
      "  <weekly at=\"13:00\" dayofweek=\"mon\" filename=\"later\"/>\n"
      "  <once at=\"11:00\" on=\"2024-05-06\" filename=\"eleven\" reset=\"true\" inclusionlist=\"\\I.xml\"/>\n"
      "  <weekly at=\"11:00\" dayofweek=\"mon\" filename=\"tie\"/>\n");
  const size_t mark = Mark();
  ADateTime start;
  CString name;
  ScheduleItemOptions options;
  ASSERT_TRUE(list_.GetNextScheduleAfter(ADateTime(2024, 5, 6, 9, 0, 0), start, name, options));
  EXPECT_EQ(Local(start), "2024-05-06 11:00:00");
  EXPECT_EQ(name, CString(u"eleven"));
  EXPECT_EQ(options.reset, fmt::kOptionTrue);
  EXPECT_EQ(options.compress, fmt::kOptionAbsent);
  EXPECT_EQ(options.inclusionList, CString(u"\\i.xml"));
  // Taken: the past entry, the noon one, the eleven o'clock one.
  EXPECT_EQ(CountLogged("Set currentSchedule ", mark), 3) << LogText();
  EXPECT_TRUE(LoggedSince(mark, "Set currentSchedule 2024-01-01 10:00:00"));
  EXPECT_TRUE(LoggedSince(mark, "Set currentSchedule 2024-05-06 12:00:00"));
  EXPECT_TRUE(LoggedSince(mark, "Set currentSchedule 2024-05-06 11:00:00"));
}

TEST_F(NextScheduleTest, AnUnknownKindIsReportedAndNeverChosen) {
  SetClock(2024, 5, 6, 9, 0);
  LoadBody("  <daily at=\"10:00\" filename=\"d\"/>\n");
  // Only the reader's callback can make such an entry.
  AScheduleList::LoadEvent append(list_);
  append(7, ADateTime(2030, 1, 1, 0, 0, 0), 1, u"unknown", ScheduleItemOptions());
  const size_t mark = Mark();
  EXPECT_EQ(Next(ADateTime(2024, 5, 6, 11, 0, 0)), "2024-05-07 10:00:00 d");
  EXPECT_TRUE(LoggedSince(mark, "Processing unknown schedule type"));
}

// Once, daily and weekly entries over two weeks, each start asked for after
// the one before, as the rescheduling after every scheduled run does.
TEST_F(NextScheduleTest, TwoWeeksOfStartsFollowTheFile) {
  SetClock(2024, 5, 6, 0, 0);  // Monday
  LoadBody(
      "  <daily at=\"2:00\" filename=\"\\temp\\Daily.pbf\"/>\n"
      "  <once at=\"14:30\" on=\"2024-05-08\" filename=\"\\temp\\Once.pbf\"/>\n"
      "  <weekly at=\"20:00\" dayofweek=\"Friday\" filename=\"\\temp\\Weekly.pbf\"/>\n");
  std::vector<std::string> starts;
  ADateTime after(2024, 5, 6, 0, 0, 0);
  const ADateTime end(2024, 5, 20, 0, 0, 0);
  for (;;) {
    ADateTime start;
    CString name;
    ScheduleItemOptions options;
    ASSERT_TRUE(list_.GetNextScheduleAfter(after, start, name, options));
    if (start >= end) break;
    starts.push_back(Local(start).substr(5, 11) + " " + ce::ToUtf8(name.Mid(6).str()));
    after = start;
  }
  const std::vector<std::string> expected = {
      "05-06 02:00 Daily.pbf",  "05-07 02:00 Daily.pbf",  "05-08 02:00 Daily.pbf",  "05-08 14:30 Once.pbf",
      "05-09 02:00 Daily.pbf",  "05-10 02:00 Daily.pbf",  "05-10 20:00 Weekly.pbf", "05-11 02:00 Daily.pbf",
      "05-12 02:00 Daily.pbf",  "05-13 02:00 Daily.pbf",  "05-14 02:00 Daily.pbf",  "05-15 02:00 Daily.pbf",
      "05-16 02:00 Daily.pbf",  "05-17 02:00 Daily.pbf",  "05-17 20:00 Weekly.pbf", "05-18 02:00 Daily.pbf",
      "05-19 02:00 Daily.pbf",
  };
  EXPECT_EQ(starts, expected);
}

class DaylightSavingTest : public NextScheduleTest {
 protected:
  DaylightSavingTest() : NextScheduleTest(schedtest::kDstZone) {}
};

// 2024: clocks go forward on Sunday 10 March and back on Sunday 3 November.
TEST_F(DaylightSavingTest, AWeeklyEntryKeepsItsHourAcrossBothChanges) {
  SetClock(2024, 3, 1, 12, 0);
  LoadBody(
      "  <weekly at=\"9:00\" dayofweek=\"mon\" filename=\"mon\"/>\n"
      "  <weekly at=\"1:30\" dayofweek=\"sun\" filename=\"sun\"/>\n");
  // Mondays: the week that holds the change in between.
  EXPECT_EQ(Next(ADateTime(2024, 3, 4, 10, 0, 0)), "2024-03-10 01:30:00 sun");
  EXPECT_EQ(Next(ADateTime(2024, 3, 10, 1, 30, 0)), "2024-03-11 09:00:00 mon");
  EXPECT_EQ(Next(ADateTime(2024, 10, 28, 10, 0, 0)), "2024-11-03 01:30:00 sun");
  EXPECT_EQ(Next(ADateTime(2024, 11, 3, 4, 0, 0)), "2024-11-04 09:00:00 mon");
  // Starting on the day of the change, after its time.
  EXPECT_EQ(Next(ADateTime(2024, 3, 10, 12, 0, 0)), "2024-03-11 09:00:00 mon");
  EXPECT_EQ(Next(ADateTime(2024, 3, 4, 9, 0, 0)), "2024-03-10 01:30:00 sun");
  LoadBody("  <weekly at=\"9:00\" dayofweek=\"mon\" filename=\"mon\"/>\n");
  EXPECT_EQ(Next(ADateTime(2024, 3, 4, 9, 0, 0)), "2024-03-11 09:00:00 mon");
  EXPECT_EQ(Next(ADateTime(2024, 10, 28, 9, 0, 0)), "2024-11-04 09:00:00 mon");
  // The hour of the change itself: 02:30 does not exist in spring and is
  // read as standard time, an hour later on the clock.
  LoadBody("  <weekly at=\"2:30\" dayofweek=\"sun\" filename=\"gap\"/>\n");
  EXPECT_EQ(Next(ADateTime(2024, 3, 3, 3, 0, 0)), "2024-03-10 03:30:00 gap");
  EXPECT_EQ(Next(ADateTime(2024, 3, 10, 4, 0, 0)), "2024-03-17 02:30:00 gap");
}

TEST_F(DaylightSavingTest, ADailyEntryMovesWithTheClockOnTheDayAfterAChange) {
  SetClock(2024, 3, 1, 12, 0);
  LoadBody("  <daily at=\"10:00\" filename=\"d\"/>\n");
  // The day's time has passed: 24 hours on, which the clock shows an hour
  // later in spring and an hour earlier in autumn.
  EXPECT_EQ(Next(ADateTime(2024, 3, 9, 11, 0, 0)), "2024-03-10 11:00:00 d");
  EXPECT_EQ(Next(ADateTime(2024, 11, 2, 11, 0, 0)), "2024-11-03 09:00:00 d");
  // Asked on the day itself, the start is at the entry's hour again.
  EXPECT_EQ(Next(ADateTime(2024, 3, 10, 9, 0, 0)), "2024-03-10 10:00:00 d");
  EXPECT_EQ(Next(ADateTime(2024, 3, 10, 11, 0, 0)), "2024-03-11 10:00:00 d");
}

}  // namespace
