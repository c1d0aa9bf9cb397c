// The program's date-time value against the device's local time.
#include <gtest/gtest.h>

#include "core/DateTime.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {
ce::Profile EasternProfile() {
  ce::Profile p;
  p.timeZone = "EST5EDT,M3.2.0,M11.1.0";
  return p;
}
}  // namespace

TEST(DateTime, LocalFieldsFollowTheDeviceTimeZone) {
  TestDevice dev(EasternProfile());
  ADateTime summer(2006, 7, 1, 12, 0, 0);
  EXPECT_EQ(summer.GetTime(), 1151769600);  // 16:00 UTC
  ADateTime winter(2006, 1, 15, 12, 0, 0);
  EXPECT_EQ(winter.GetTime(), 1137344400);  // 17:00 UTC

  SYSTEMTIME st{};
  ASSERT_TRUE(summer.GetAsSystemTime(&st));
  EXPECT_EQ(st.wYear, 2006);
  EXPECT_EQ(st.wMonth, 7);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wHour, 12);
  EXPECT_EQ(st.wDayOfWeek, 6);  // Saturday
  EXPECT_EQ(summer.GetDayOfWeek(), 6);
  EXPECT_EQ(ADateTime(st), summer);
}

TEST(DateTime, ArithmeticAndFileTimes) {
  TestDevice dev(EasternProfile());
  ADateTime t(2006, 3, 7, 9, 5, 3);
  ADateTime next = t + 86400;
  EXPECT_EQ(next.GetDay(), 8);
  EXPECT_EQ(next - t, 86400);
  EXPECT_LT(t, next);
  EXPECT_EQ(ADateTime::FromFileTime(t.GetAsFileTime()), t);
  // Milliseconds are dropped, invalid dates leave the value at zero.
  SYSTEMTIME st{2006, 3, 0, 7, 9, 5, 3, 999};
  EXPECT_EQ(ADateTime(st), t);
  EXPECT_TRUE(ADateTime(2006, 2, 30, 0, 0, 0).IsZero());
  ADateTime kept(42);
  SYSTEMTIME bad{2006, 13, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(ADateTime::FromLocalSystemTime(bad, &kept));
  EXPECT_EQ(kept.GetTime(), 42);
}
