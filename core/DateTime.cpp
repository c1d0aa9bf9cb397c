#include "core/DateTime.h"

#include "ce/time.h"

namespace {

constexpr int64_t kUnixEpochTicks = 116444736000000000LL;  // 1970-01-01 in FILETIME ticks
constexpr int64_t kTicksPerSecond = 10000000LL;

int64_t Ticks(const FILETIME& ft) {
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME MakeFileTime(int64_t ticks) {
  uint64_t u = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(u & 0xFFFFFFFFu), static_cast<DWORD>(u >> 32)};
}

}  // namespace

ADateTime::ADateTime(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FromLocalSystemTime(st, this);
}

ADateTime::ADateTime(const SYSTEMTIME& local) { FromLocalSystemTime(local, this); }

bool ADateTime::FromLocalSystemTime(const SYSTEMTIME& local, ADateTime* out) {
  SYSTEMTIME st = local;
  st.wMilliseconds = 0;
  st.wDayOfWeek = 0;
  FILETIME localFt{}, utcFt{};
  if (!SystemTimeToFileTime(&st, &localFt)) return false;
  if (!LocalFileTimeToFileTime(&localFt, &utcFt)) return false;
  out->seconds_ = (Ticks(utcFt) - kUnixEpochTicks) / kTicksPerSecond;
  return true;
}

ADateTime ADateTime::FromFileTime(const FILETIME& utc) {
  int64_t rel = Ticks(utc) - kUnixEpochTicks;
  // Round toward minus infinity so times before 1970 stay in their second.
  int64_t secs = rel / kTicksPerSecond;
  if (rel % kTicksPerSecond < 0) --secs;
  return ADateTime(secs);
}

FILETIME ADateTime::GetAsFileTime() const {
  return MakeFileTime(seconds_ * kTicksPerSecond + kUnixEpochTicks);
}

bool ADateTime::GetAsSystemTime(SYSTEMTIME* local) const {
  FILETIME utc = GetAsFileTime(), localFt{};
  if (!FileTimeToLocalFileTime(&utc, &localFt)) return false;
  return FileTimeToSystemTime(&localFt, local) != FALSE;
}

SYSTEMTIME ADateTime::Fields() const {
  SYSTEMTIME st{};
  if (!GetAsSystemTime(&st)) st = SYSTEMTIME{};
  return st;
}

int ADateTime::GetYear() const { return Fields().wYear; }
int ADateTime::GetDay() const { return Fields().wDay; }
int ADateTime::GetHour() const { return Fields().wHour; }
int ADateTime::GetDayOfWeek() const { return Fields().wDayOfWeek; }
