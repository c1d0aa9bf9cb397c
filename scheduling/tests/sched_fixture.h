// Shared set-up of the scheduling tests: a scratch device in a given time
// zone with its clock set, the program's global state with the log started,
// and the device's local time as text.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ce/file.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/device.h"
#include "core/DateTime.h"
#include "engine/Global.h"
#include "testkit/LocalTime.h"
#include "testkit/TestDevice.h"

namespace schedtest {

// A zone with daylight saving: 2024 springs forward on Sunday 10 March at
// 02:00 and falls back on Sunday 3 November at 02:00.
inline constexpr const char* kDstZone = "EST5EDT,M3.2.0,M11.1.0";

inline ce::Profile ZoneProfile(const char* zone) {
  ce::Profile p;
  p.timeZone = zone;
  return p;
}

// "YYYY-MM-DD HH:MM:SS" in the device's local time.
inline std::string Local(const ADateTime& t) {
  SYSTEMTIME st{};
  if (!t.GetAsSystemTime(&st)) return "<none>";
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
  return text;
}

class DeviceTest : public ::testing::Test {
 protected:
  explicit DeviceTest(const char* zone = "UTC0") : dev_(ZoneProfile(zone)) {
    global_.g_Log.Open(false);
    dev_.MakeDir(u"\\My Documents");
    dev_.MakeDir(u"\\temp");
  }

  // Moves the device clock to a local time.
  static void SetClock(int year, int month, int day, int hour, int minute) {
    const SYSTEMTIME st = quilmo::test::At(year, month, day, hour, minute);
    ASSERT_TRUE(SetLocalTime(&st));
  }

  // The log text collected so far (the log buffers until flushed).
  std::string LogText() const { return global_.g_Log.GetBuffer(); }
  bool Logged(const std::string& text) const { return LogText().find(text) != std::string::npos; }
  // Where the log text ends now, and what was logged after such a mark.
  size_t Mark() const { return LogText().size(); }
  bool LoggedSince(size_t mark, const std::string& text) const {
    return LogText().find(text, mark) != std::string::npos;
  }
  int CountLogged(const std::string& text, size_t mark = 0) const {
    const std::string all = LogText().substr(mark);
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

  quilmo::test::TestDevice dev_;
  AGlobal global_;
};

}  // namespace schedtest
