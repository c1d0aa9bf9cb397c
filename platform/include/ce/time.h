// The device clock, time conversions, the tick counter and the en-US date
// and time formats.
//
// The device clock is the host clock plus the device's clock offset (kept
// in device.db, so every device process sees the same time). Local time
// follows the profile's POSIX TZ string ("EST5EDT,M3.2.0,M11.1.0"), parsed
// here and independent of the host process's TZ, or a zone name of the
// host's time-zone data ("America/New_York": the zone's current rule, the
// POSIX string its file ends with, taken for every year). A process
// without a device uses the host clock and UTC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ce/types.h"

typedef DWORD LCID;
typedef DWORD LCTYPE;

#define TIME_ZONE_ID_UNKNOWN 0u
#define TIME_ZONE_ID_STANDARD 1u
#define TIME_ZONE_ID_DAYLIGHT 2u
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu

#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif

// Bias fields are minutes, UTC = local + bias. StandardDate/DaylightDate
// use the "day in month" form: wYear 0, wMonth, wDayOfWeek, wDay = the
// week of the month from 1 to 5 (5: the last), wHour/wMinute the local
// switch time; all zero when the zone has no daylight time or its rule has
// no such form.
struct TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};
typedef TIME_ZONE_INFORMATION* LPTIME_ZONE_INFORMATION;
static_assert(sizeof(TIME_ZONE_INFORMATION) == 172);

void GetSystemTime(SYSTEMTIME* st);
void GetLocalTime(SYSTEMTIME* st);
// Move the device clock (for every device process). FALSE with
// ERROR_INVALID_PARAMETER for a null or invalid time.
BOOL SetSystemTime(const SYSTEMTIME* st);
BOOL SetLocalTime(const SYSTEMTIME* st);
void GetSystemTimeAsFileTime(FILETIME* ft);

// wDayOfWeek is filled in (0 = Sunday); FALSE with ERROR_INVALID_PARAMETER
// for file times at or above 0x8000000000000000.
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
// wDayOfWeek is ignored; FALSE with ERROR_INVALID_PARAMETER for a field out
// of range (year 1601..30827, a day the month does not have, ...).
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
// Convert with the zone's offset in force at that instant (not at the
// current time). A local time that does not exist (inside the spring-
// forward gap) is read as standard time; a local time that occurs twice is
// read as the standard-time (later) occurrence.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
// -1, 0 or 1.
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tzi);

// Milliseconds since the device's boot, measured on the device clock;
// wraps after 49.7 days.
DWORD GetTickCount();
// A real sleep; Sleep(0) yields the processor once.
void Sleep(DWORD ms);

// ---- en-US locale ----------------------------------------------------
#define LOCALE_NEUTRAL 0x0000u
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SYSTEM_DEFAULT 0x0800u
#define LOCALE_EN_US 0x0409u
#define LOCALE_NOUSEROVERRIDE 0x80000000u

#define DATE_SHORTDATE 0x00000001u
#define DATE_LONGDATE 0x00000002u
#define TIME_NOMINUTESORSECONDS 0x00000001u
#define TIME_NOSECONDS 0x00000002u
#define TIME_NOTIMEMARKER 0x00000004u
#define TIME_FORCE24HOURFORMAT 0x00000008u

#define LOCALE_ILANGUAGE 0x0001u
#define LOCALE_SLANGUAGE 0x0002u
#define LOCALE_SENGLANGUAGE 0x1001u
#define LOCALE_SCOUNTRY 0x0006u
#define LOCALE_SENGCOUNTRY 0x1002u
#define LOCALE_SLIST 0x000Cu
#define LOCALE_SDECIMAL 0x000Eu
#define LOCALE_STHOUSAND 0x000Fu
#define LOCALE_SDATE 0x001Du
#define LOCALE_STIME 0x001Eu
#define LOCALE_SSHORTDATE 0x001Fu
#define LOCALE_SLONGDATE 0x0020u
#define LOCALE_S1159 0x0028u
#define LOCALE_S2359 0x0029u
// Day names: 1 = Monday ... 7 = Sunday (see ce::DayNameItem).
#define LOCALE_SDAYNAME1 0x002Au
#define LOCALE_SDAYNAME7 0x0030u
#define LOCALE_SABBREVDAYNAME1 0x0031u
#define LOCALE_SABBREVDAYNAME7 0x0037u
#define LOCALE_SMONTHNAME1 0x0038u
#define LOCALE_SMONTHNAME12 0x0043u
#define LOCALE_SABBREVMONTHNAME1 0x0044u
#define LOCALE_SABBREVMONTHNAME12 0x004Fu
#define LOCALE_IDEFAULTANSICODEPAGE 0x1004u
#define LOCALE_STIMEFORMAT 0x1003u

// Picture strings: d dd ddd dddd M MM MMM MMMM y yy yyyy (date), h hh H HH
// m mm s ss t tt (time), text in single quotes ('' is a quote). Letters of
// the other kind are copied as they stand. A null format uses the locale's
// (short or long date; "h:mm:ss tt"), a null time the current local time.
// Returns the characters written including the terminator; with cch 0 the
// size needed. Failures return 0: ERROR_INSUFFICIENT_BUFFER,
// ERROR_INVALID_PARAMETER (bad time, unknown locale), ERROR_INVALID_FLAGS
// (flags with an explicit format, both date flags).
int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR out,
                   int cch);
int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR out,
                   int cch);
// Same return rules; an unknown item fails with ERROR_INVALID_FLAGS.
int GetLocaleInfoW(LCID locale, LCTYPE item, LPWSTR out, int cch);

#define GetDateFormat GetDateFormatW
#define GetTimeFormat GetTimeFormatW
#define GetLocaleInfo GetLocaleInfoW

namespace ce {

// A parsed POSIX TZ string: std offset [dst [offset] [,start[/time],end[/time]]]
// with Mm.w.d, Jn and n rules. A DST name without rules takes the US rules
// (M3.2.0,M11.1.0).
class TimeZone {
 public:
  // False (and UTC) when the text is not a valid TZ string.
  bool Parse(std::string_view tz);

  // Seconds to add to UTC to get local time at the UTC instant t (Unix
  // seconds); *dst tells whether daylight time is in force.
  int64_t OffsetAt(int64_t utcSeconds, bool* dst = nullptr) const;
  // UTC instant of a local time, with the gap and overlap rules of
  // LocalFileTimeToFileTime.
  int64_t LocalToUtc(int64_t localSeconds) const;

  bool HasDst() const { return hasDst_; }
  int64_t StdOffset() const { return stdOffset_; }  // local - UTC, seconds
  int64_t DstOffset() const { return dstOffset_; }
  const std::string& StdName() const { return stdName_; }
  const std::string& DstName() const { return dstName_; }

  struct Rule {
    enum Kind { kJulian1, kJulian0, kMonthWeekDay } kind = kMonthWeekDay;
    int month = 0, week = 0, day = 0;  // Mm.w.d, or day for Jn / n
    int64_t time = 7200;               // local seconds after midnight
  };
  const Rule& StartRule() const { return start_; }
  const Rule& EndRule() const { return end_; }

 private:
  // UTC instants of the year's DST start and end.
  int64_t Transition(int year, const Rule& r, int64_t offsetBefore) const;
  std::string stdName_ = "UTC", dstName_;
  int64_t stdOffset_ = 0, dstOffset_ = 0;
  bool hasDst_ = false;
  Rule start_, end_;
};

// The current device's time zone (UTC without a device).
const TimeZone& DeviceTimeZone();

// Device clock in milliseconds since 1970-01-01 UTC.
int64_t DeviceNowMs();

// Calendar helpers on Unix seconds (proleptic Gregorian, UTC).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d);
bool IsLeapYear(int64_t y);
int DaysInMonth(int64_t y, unsigned m);

// The LOCALE_SDAYNAMEx item for a SYSTEMTIME wDayOfWeek (0 = Sunday ->
// LOCALE_SDAYNAME7, 1 = Monday -> LOCALE_SDAYNAME1, ...).
inline LCTYPE DayNameItem(WORD dayOfWeek) {
  return LOCALE_SDAYNAME1 + (dayOfWeek + 6u) % 7u;
}
inline LCTYPE AbbrevDayNameItem(WORD dayOfWeek) {
  return LOCALE_SABBREVDAYNAME1 + (dayOfWeek + 6u) % 7u;
}

}  // namespace ce
