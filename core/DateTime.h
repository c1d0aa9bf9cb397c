// The program's date-time value: a point in time held as 64-bit seconds
// since 1970-01-01 00:00:00 UTC, built from and shown as the device's
// local time. Daylight saving follows the device's time zone.
#pragma once

#include <compare>
#include <cstdint>

#include "ce/types.h"

class ADateTime {
 public:
  ADateTime() = default;
  explicit ADateTime(int64_t seconds) : seconds_(seconds) {}
  // Local wall-clock fields (month 1..12, day 1..31); an invalid date
  // gives the value 0.
  ADateTime(int year, int month, int day, int hour, int minute, int second);
  // Local time fields; milliseconds and the weekday are ignored.
  explicit ADateTime(const SYSTEMTIME& local);

  // Converts local fields; false (value untouched) when they are invalid.
  static bool FromLocalSystemTime(const SYSTEMTIME& local, ADateTime* out);
  static ADateTime FromFileTime(const FILETIME& utc);

  // The value as local fields (wDayOfWeek 0 = Sunday, milliseconds 0).
  bool GetAsSystemTime(SYSTEMTIME* local) const;
  FILETIME GetAsFileTime() const;  // UTC

  int64_t GetTime() const { return seconds_; }
  bool IsZero() const { return seconds_ == 0; }

  // Local fields; each returns 0 when the value cannot be converted.
  int GetYear() const;
  int GetDay() const;
  int GetHour() const;
  int GetDayOfWeek() const;  // 0 = Sunday ... 6 = Saturday

  ADateTime operator+(int64_t seconds) const { return ADateTime(seconds_ + seconds); }
  ADateTime operator-(int64_t seconds) const { return ADateTime(seconds_ - seconds); }
  ADateTime& operator+=(int64_t seconds) { seconds_ += seconds; return *this; }
  ADateTime& operator-=(int64_t seconds) { seconds_ -= seconds; return *this; }
  int64_t operator-(const ADateTime& other) const { return seconds_ - other.seconds_; }
  auto operator<=>(const ADateTime&) const = default;

 private:
  SYSTEMTIME Fields() const;
  int64_t seconds_ = 0;
};

// The shared name of the value type.
typedef ADateTime DateTimeValue;
