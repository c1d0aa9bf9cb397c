// Device times read back from logs and report lines, checked against the
// device time a program's steps give.
//
// Device time passes with the host's while a device program works (starts
// up, computes, writes its log), so on a loaded machine what a program does
// lies some host time past the device time its sleeps and the clock's jumps
// give. A check allows up to kHostSlackMs later and nothing earlier: a wait
// never ends early, and every jump of the device clock these checks prove
// (minutes, hours, days) is far larger than the slack.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quilmo::test {

inline constexpr int64_t kHostSlackMs = 10000;

// Milliseconds since 1970 of "YYYY-MM-DD HH:MM:SS" read as UTC (a local
// time read this way keeps its differences within one zone offset); empty
// when text does not start with such a time.
inline std::optional<int64_t> DeviceTimeMs(std::string_view text) {
  if (text.size() < 19) return std::nullopt;
  const std::string head(text.substr(0, 19));
  int y, mo, d, h, mi, s;
  char tail = 0;
  if (sscanf(head.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return std::nullopt;
  // Days from 1970-01-01 of a civil date (proleptic Gregorian).
  const int yy = y - (mo <= 2);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  return ((days * 24 + h) * 60 + mi) * 60000 + static_cast<int64_t>(s) * 1000;
}

// Milliseconds of a time the test writes itself.
inline int64_t DeviceTimeMsOf(const char* text) {
  std::optional<int64_t> ms = DeviceTimeMs(text);
  EXPECT_TRUE(ms.has_value()) << text;
  return ms.value_or(0);
}

// "YYYY-MM-DD HH:MM:SS" of milliseconds since 1970.
inline std::string DeviceTimeText(int64_t ms) {
  int64_t secs = ms / 1000;
  const int64_t days = secs / 86400;
  secs %= 86400;
  // Civil date of days from 1970-01-01 (proleptic Gregorian).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);
  char out[160];  // room for any value gcc can think of
  snprintf(out, sizeof out, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
           static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(secs / 3600),
           static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  return out;
}

// Whether what happened at `actual` (whole seconds, as logged) happened at
// the device time `expected`: no earlier, and at most kHostSlackMs later.
inline ::testing::AssertionResult AtDeviceTime(std::optional<int64_t> actual, int64_t expected) {
  if (!actual) return ::testing::AssertionFailure() << "not found (expected at " << DeviceTimeText(expected) << ")";
  if (*actual < expected || *actual > expected + kHostSlackMs)
    return ::testing::AssertionFailure() << "at " << DeviceTimeText(*actual) << ", expected at "
                                         << DeviceTimeText(expected) << " or up to " << kHostSlackMs / 1000
                                         << " s of host time later";
  return ::testing::AssertionSuccess();
}

// The lines of text, a last one without its newline too.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// Whether the timed lines of `actual` ("YYYY-MM-DD HH:MM:SS text", one per
// line) are the expected ones: the same texts in the same order, each at its
// expected device time or up to kHostSlackMs later.
inline ::testing::AssertionResult TimedLinesAre(const std::string& actual, const std::string& expected) {
  const std::vector<std::string> got = SplitLines(actual);
  const std::vector<std::string> want = SplitLines(expected);
  if (got.size() != want.size())
    return ::testing::AssertionFailure() << got.size() << " lines, expected " << want.size() << ":\n" << actual;
  for (size_t i = 0; i < want.size(); ++i) {
    const std::string wantText = want[i].size() > 19 ? want[i].substr(19) : std::string();
    const std::string gotText = got[i].size() > 19 ? got[i].substr(19) : std::string();
    if (gotText != wantText)
      return ::testing::AssertionFailure() << "line " << i + 1 << " is \"" << got[i] << "\", expected \"" << want[i]
                                           << "\"";
    ::testing::AssertionResult at = AtDeviceTime(DeviceTimeMs(got[i]), DeviceTimeMsOf(want[i].c_str()));
    if (!at) return ::testing::AssertionFailure() << "line " << i + 1 << " \"" << got[i] << "\": " << at.message();
  }
  return ::testing::AssertionSuccess();
}

}  // namespace quilmo::test
