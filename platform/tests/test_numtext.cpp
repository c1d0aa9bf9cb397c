// Whole-text integer parsing.
#include <gtest/gtest.h>

#include "ce/numtext.h"

namespace {

int64_t Parse(const char* s, int64_t min, int64_t max, bool minus = true, size_t digits = 10) {
  int64_t v = 12345;
  return ce::ParseInteger(s, min, max, &v, minus, digits) ? v : 12345;
}

TEST(NumText, DecimalHexSignAndRange) {
  EXPECT_EQ(Parse("42", 0, 100), 42);
  EXPECT_EQ(Parse("0x2A", 0, 100), 42);
  EXPECT_EQ(Parse("0XfF", 0, 1000), 255);
  EXPECT_EQ(Parse("-7", -10, 10), -7);
  EXPECT_EQ(Parse("-7", 0, 10), 12345);     // below the range
  EXPECT_EQ(Parse("101", 0, 100), 12345);   // above it
  EXPECT_EQ(Parse("-7", -10, 10, false), 12345);
  for (const char* bad : {"", "-", "0x", "-0x1", "1 ", " 1", "12a", "0x1g", "+1"})
    EXPECT_EQ(Parse(bad, INT64_MIN, INT64_MAX), 12345) << bad;
}

TEST(NumText, DigitLimitAndOverflow) {
  EXPECT_EQ(Parse("0xFFFFFFFF", 0, 0xFFFFFFFFll), 0xFFFFFFFFll);
  EXPECT_EQ(Parse("00000000001", 0, 10), 12345);  // eleven digits
  EXPECT_EQ(Parse("00000000001", 0, 10, true, 20), 1);
  EXPECT_EQ(Parse("9223372036854775807", 0, INT64_MAX, true, 20), INT64_MAX);
  EXPECT_EQ(Parse("9223372036854775808", INT64_MIN, INT64_MAX, true, 20), 12345);
  EXPECT_EQ(Parse("0xFFFFFFFFFFFFFFFF", INT64_MIN, INT64_MAX, true, 20), 12345);
  EXPECT_EQ(Parse("99999999999999999999", INT64_MIN, INT64_MAX, true, 20), 12345);
}

}  // namespace
