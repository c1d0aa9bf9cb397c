#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "ce/errors.h"
#include "ce/time.h"
#include "cesim/time.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st{};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

uint64_t U64(const FILETIME& ft) { return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }
FILETIME Ft(uint64_t v) { return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }

uint64_t ToFt(const SYSTEMTIME& st) {
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return U64(ft);
}

std::string Fmt(const SYSTEMTIME& st) {
  char buf[64];
  snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u dow%u", st.wYear, st.wMonth, st.wDay, st.wHour,
           st.wMinute, st.wSecond, st.wDayOfWeek);
  return buf;
}

std::string FromFt(uint64_t v) {
  FILETIME ft = Ft(v);
  SYSTEMTIME st{};
  EXPECT_TRUE(FileTimeToSystemTime(&ft, &st));
  return Fmt(st);
}

ce::Profile EasternProfile() {
  ce::Profile p;
  p.timeZone = "EST5EDT,M3.2.0,M11.1.0";
  return p;
}

constexpr uint64_t kSec = 10000000;

}  // namespace

TEST(Time, FileTimeEpochsAndLeapYears) {
  EXPECT_EQ(FromFt(0), "1601-01-01 00:00:00 dow1");  // a Monday
  EXPECT_EQ(ToFt(St(1970, 1, 1)), 116444736000000000ull);
  EXPECT_EQ(FromFt(116444736000000000ull), "1970-01-01 00:00:00 dow4");
  EXPECT_EQ(FromFt(ToFt(St(2000, 2, 29, 23, 59, 59))), "2000-02-29 23:59:59 dow2");
  EXPECT_EQ(FromFt(ToFt(St(2024, 2, 29, 12))), "2024-02-29 12:00:00 dow4");
  EXPECT_EQ(FromFt(ToFt(St(2024, 12, 31, 23, 59, 59)) + kSec), "2025-01-01 00:00:00 dow3");
  // milliseconds survive the round trip, wDayOfWeek on input is ignored
  SYSTEMTIME in = St(2038, 1, 19, 3, 14, 7, 999);
  in.wDayOfWeek = 6;
  FILETIME ft{};
  ASSERT_TRUE(SystemTimeToFileTime(&in, &ft));
  SYSTEMTIME out{};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
  EXPECT_EQ(out.wMilliseconds, 999);
  EXPECT_EQ(out.wDayOfWeek, 2);

  for (SYSTEMTIME bad : {St(1900, 2, 29), St(2100, 2, 29), St(2023, 2, 29), St(1600, 12, 31), St(2024, 13, 1),
                         St(2024, 4, 31), St(2024, 1, 1, 24), St(2024, 1, 1, 0, 60), St(2024, 1, 0)}) {
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft)) << Fmt(bad);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  FILETIME huge = Ft(0x8000000000000000ull);
  EXPECT_FALSE(FileTimeToSystemTime(&huge, &out));
  FILETIME a = Ft(5), b = Ft(0x100000000ull);
  EXPECT_EQ(CompareFileTime(&a, &b), -1);
  EXPECT_EQ(CompareFileTime(&b, &a), 1);
  EXPECT_EQ(CompareFileTime(&a, &a), 0);
}

TEST(Time, PosixZoneRules) {
  ce::TimeZone tz;
  ASSERT_TRUE(tz.Parse("EST5EDT,M3.2.0,M11.1.0"));
  const int64_t springUtc = 1710054000;  // 2024-03-10 07:00:00 UTC
  const int64_t fallUtc = 1730613600;    // 2024-11-03 06:00:00 UTC
  bool dst = true;
  EXPECT_EQ(tz.OffsetAt(springUtc - 1, &dst), -5 * 3600);
  EXPECT_FALSE(dst);
  EXPECT_EQ(tz.OffsetAt(springUtc, &dst), -4 * 3600);
  EXPECT_TRUE(dst);
  EXPECT_EQ(tz.OffsetAt(fallUtc - 1), -4 * 3600);
  EXPECT_EQ(tz.OffsetAt(fallUtc), -5 * 3600);
  // a local time in the spring gap reads as standard time; a repeated one
  // in the autumn as its standard (second) occurrence
  EXPECT_EQ(tz.LocalToUtc(springUtc - 5 * 3600 + 1800), springUtc + 1800);
  EXPECT_EQ(tz.LocalToUtc(fallUtc - 5 * 3600 + 1800), fallUtc + 1800);  // 01:30
  EXPECT_EQ(tz.LocalToUtc(fallUtc - 5 * 3600 - 1), fallUtc - 3601);     // 00:59:59, before the overlap

  ce::TimeZone south;  // the southern summer spans the new year
  ASSERT_TRUE(south.Parse("AEST-10AEDT,M10.1.0,M4.1.0/3"));
  EXPECT_EQ(south.OffsetAt(1704067200), 11 * 3600);  // 2024-01-01
  EXPECT_EQ(south.OffsetAt(1719792000), 10 * 3600);  // 2024-07-01

  ce::TimeZone odd;
  ASSERT_TRUE(odd.Parse("<+0530>-5:30"));
  EXPECT_EQ(odd.OffsetAt(0), 5 * 3600 + 1800);
  EXPECT_FALSE(odd.HasDst());
  ASSERT_TRUE(odd.Parse("CET-1CEST"));  // no rules: the default ones
  EXPECT_TRUE(odd.HasDst());
  EXPECT_EQ(odd.DstOffset(), 7200);
  EXPECT_FALSE(odd.Parse("nonsense"));
  EXPECT_FALSE(odd.Parse("EST5EDT,M3.2.0"));
  EXPECT_FALSE(odd.Parse("EST5EDT,M13.2.0,M11.1.0"));
  EXPECT_EQ(odd.OffsetAt(0), 0);  // a failed parse leaves UTC
}

TEST(Time, LocalFileTimesUseTheProfileZone) {
  TestDevice dev(EasternProfile());
  const uint64_t spring = ToFt(St(2024, 3, 10, 7));  // UTC of the switch to daylight time
  FILETIME utc = Ft(spring - kSec), local{};
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(FromFt(U64(local)), "2024-03-10 01:59:59 dow0");
  utc = Ft(spring);
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(FromFt(U64(local)), "2024-03-10 03:00:00 dow0");

  const uint64_t fall = ToFt(St(2024, 11, 3, 6));
  utc = Ft(fall - kSec);
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(FromFt(U64(local)), "2024-11-03 01:59:59 dow0");
  utc = Ft(fall);
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(FromFt(U64(local)), "2024-11-03 01:00:00 dow0");

  for (auto [l, u] : {std::pair{St(2024, 7, 1, 12), St(2024, 7, 1, 16)},
                      std::pair{St(2024, 1, 15, 12), St(2024, 1, 15, 17)},
                      std::pair{St(2024, 3, 10, 2, 30), St(2024, 3, 10, 7, 30)}}) {
    FILETIME lf = Ft(ToFt(l)), uf{};
    ASSERT_TRUE(LocalFileTimeToFileTime(&lf, &uf));
    EXPECT_EQ(U64(uf), ToFt(u)) << Fmt(l);
  }
  FILETIME tiny = Ft(kSec), out{};
  EXPECT_FALSE(FileTimeToLocalFileTime(&tiny, &out));  // would fall before 1601

  TIME_ZONE_INFORMATION tzi{};
  const DWORD id = GetTimeZoneInformation(&tzi);
  EXPECT_TRUE(id == TIME_ZONE_ID_STANDARD || id == TIME_ZONE_ID_DAYLIGHT);
  EXPECT_EQ(tzi.Bias, 300);
  EXPECT_EQ(tzi.DaylightBias, -60);
  EXPECT_EQ(std::u16string(tzi.DaylightName), u"EDT");
  EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
  EXPECT_EQ(tzi.DaylightDate.wDay, 2);
  EXPECT_EQ(tzi.StandardDate.wMonth, 11);
  EXPECT_EQ(tzi.StandardDate.wHour, 2);
}

TEST(Time, ZoneNamesTakeTheRuleOfTheHostsZoneData) {
  if (!std::filesystem::exists("/usr/share/zoneinfo/America/New_York")) GTEST_SKIP() << "no time-zone data (tzdata)";
  ce::Profile p;
  p.timeZone = "America/New_York";
  TestDevice dev(p);
  const uint64_t spring = ToFt(St(2024, 3, 10, 7));
  FILETIME utc = Ft(spring - kSec), local{};
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(FromFt(U64(local)), "2024-03-10 01:59:59 dow0");
  utc = Ft(spring);
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(FromFt(U64(local)), "2024-03-10 03:00:00 dow0");
  TIME_ZONE_INFORMATION tzi{};
  GetTimeZoneInformation(&tzi);
  EXPECT_EQ(tzi.Bias, 300);
  EXPECT_EQ(std::u16string(tzi.DaylightName), u"EDT");

  // Names that are no zone, or leave the zone data, are UTC.
  for (const char* name : {"Nowhere/At_All", "../../etc/passwd", "/usr/share/zoneinfo/UTC"}) {
    ce::Profile bad;
    bad.timeZone = name;
    TestDevice other(bad);
    utc = Ft(spring);
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(U64(local), spring) << name;
  }
}

TEST(Time, SettingTheClockMovesEveryDeviceProcess) {
  TestDevice dev(EasternProfile());
  SYSTEMTIME set = St(2024, 7, 4, 16, 0, 0);
  ASSERT_TRUE(SetSystemTime(&set));
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_EQ(Fmt(St(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute)), Fmt(St(2024, 7, 4, 12)));
  EXPECT_LT(now.wSecond, 5);
  EXPECT_EQ(now.wDayOfWeek, 4);

  SYSTEMTIME local = St(2030, 1, 1, 8);
  ASSERT_TRUE(SetLocalTime(&local));
  GetSystemTime(&now);
  EXPECT_EQ(now.wYear, 2030);
  EXPECT_EQ(now.wHour, 13);

  // another device process sees the same clock
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t child = fork();
  if (child == 0) {
    SYSTEMTIME c{};
    GetLocalTime(&c);
    WORD v[2] = {c.wYear, c.wHour};
    ssize_t n = write(fds[1], v, sizeof v);
    _exit(n == sizeof v ? 0 : 1);
  }
  WORD v[2] = {};
  ASSERT_EQ(read(fds[0], v, sizeof v), static_cast<ssize_t>(sizeof v));
  int status = 0;
  waitpid(child, &status, 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(v[0], 2030);
  EXPECT_EQ(v[1], 8);

  SYSTEMTIME bad = St(2024, 2, 30);
  EXPECT_FALSE(SetSystemTime(&bad));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // reading the clock never disturbs the caller's last error
  SetLastError(1234);
  GetLocalTime(&now);
  GetSystemTime(&now);
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  GetTickCount();
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(Time, TickCounterWrapsAndFollowsTheDeviceClock) {
  TestDevice dev;
  const quilmo::test::ScopedTickBase tick(0xFFFFFFFFu - 100);
  const DWORD before = GetTickCount();
  Sleep(250);
  const DWORD after = GetTickCount();
  EXPECT_LT(after, before);  // wrapped
  EXPECT_GE(static_cast<DWORD>(after - before), 250u);
  EXPECT_LT(static_cast<DWORD>(after - before), 5000u);

  SYSTEMTIME now{};
  GetSystemTime(&now);
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&now, &ft));
  ft = Ft(U64(ft) + 60 * kSec);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &now));
  const DWORD t0 = GetTickCount();
  ASSERT_TRUE(SetSystemTime(&now));
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - t0), 59000u);
}

TEST(Time, DateAndTimeFormats) {
  SYSTEMTIME st = St(2024, 3, 5, 14, 7, 9);
  st.wDayOfWeek = 0;  // wrong on purpose: the weekday comes from the date
  WCHAR buf[64];
  auto date = [&](DWORD flags, const char16_t* fmt) {
    int n = GetDateFormatW(LOCALE_USER_DEFAULT, flags, &st, fmt, buf, 64);
    return n ? std::u16string(buf) : u"<fail>";
  };
  auto time = [&](DWORD flags, const char16_t* fmt) {
    int n = GetTimeFormatW(LOCALE_USER_DEFAULT, flags, &st, fmt, buf, 64);
    return n ? std::u16string(buf) : u"<fail>";
  };
  EXPECT_EQ(date(DATE_SHORTDATE, nullptr), u"3/5/2024");
  EXPECT_EQ(date(0, nullptr), u"3/5/2024");
  EXPECT_EQ(date(DATE_LONGDATE, nullptr), u"Tuesday, March 05, 2024");
  EXPECT_EQ(date(0, u"ddd, d MMM yy 'o''clock' h:mm"), u"Tue, 5 Mar 24 o'clock h:mm");
  EXPECT_EQ(date(0, u"dd/MM/yyyy y"), u"05/03/2024 24");
  EXPECT_EQ(time(0, nullptr), u"2:07:09 PM");
  EXPECT_EQ(time(TIME_NOSECONDS, nullptr), u"2:07 PM");
  EXPECT_EQ(time(TIME_NOMINUTESORSECONDS, nullptr), u"2 PM");
  EXPECT_EQ(time(TIME_NOTIMEMARKER, nullptr), u"2:07:09");
  EXPECT_EQ(time(TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER, nullptr), u"14:07:09");
  EXPECT_EQ(time(0, u"HH'h'mm t yyyy"), u"14h07 P yyyy");
  st.wHour = 0;
  EXPECT_EQ(time(0, nullptr), u"12:07:09 AM");

  // size query, short buffer, bad input
  EXPECT_EQ(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &st, nullptr, nullptr, 0), 9);
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, u"d", buf, 64), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  SYSTEMTIME bad = St(2023, 2, 29);
  EXPECT_EQ(GetDateFormatW(LOCALE_USER_DEFAULT, 0, &bad, nullptr, buf, 64), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GetDateFormatW(0x0407, 0, &st, nullptr, buf, 64), 0);
}

TEST(Time, LocaleItemsAndDayNameMapping) {
  WCHAR buf[64];
  auto item = [&](LCTYPE t) {
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, t, buf, 64) ? std::u16string(buf) : u"<fail>";
  };
  EXPECT_EQ(item(ce::DayNameItem(0)), u"Sunday");
  EXPECT_EQ(item(ce::DayNameItem(1)), u"Monday");
  EXPECT_EQ(item(ce::DayNameItem(6)), u"Saturday");
  EXPECT_EQ(item(LOCALE_SDAYNAME1), u"Monday");
  EXPECT_EQ(item(LOCALE_SDAYNAME7), u"Sunday");
  EXPECT_EQ(item(ce::AbbrevDayNameItem(3)), u"Wed");
  EXPECT_EQ(item(LOCALE_SMONTHNAME1 + 11), u"December");
  EXPECT_EQ(item(LOCALE_SABBREVMONTHNAME1 + 8), u"Sep");
  EXPECT_EQ(item(LOCALE_SSHORTDATE), u"M/d/yyyy");
  EXPECT_EQ(item(LOCALE_SLONGDATE), u"dddd, MMMM dd, yyyy");
  EXPECT_EQ(item(LOCALE_STIMEFORMAT), u"h:mm:ss tt");
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDAYNAME1, nullptr, 0), 7);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, 0x7777, buf, 64), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}
