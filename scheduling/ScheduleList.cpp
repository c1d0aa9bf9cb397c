#include "scheduling/ScheduleList.h"

#include <cstdint>

#include "ce/time.h"
#include "core/Log.h"
#include "scheduling/ScheduleXML.h"

namespace {

namespace fmt = ScheduleFormat;

const WCHAR kClass[] = u"AScheduleList";

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kTicksPerSecond = 10000000;

// Local fields of a time; all zero when it cannot be converted.
SYSTEMTIME LocalFields(const ADateTime& time) {
  SYSTEMTIME st{};
  if (!time.GetAsSystemTime(&st)) st = SYSTEMTIME{};
  return st;
}

// 1 (Monday) .. 7 (Sunday).
int IsoWeekday(const SYSTEMTIME& st) { return st.wDayOfWeek == 0 ? 7 : st.wDayOfWeek; }

CString FormatFields(LPCWSTR prefix, const ADateTime& time) {
  const SYSTEMTIME st = LocalFields(time);
  CString text;
  text.Format(u"%s%04d-%02d-%02d %02d:%02d:%02d", prefix, st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
              st.wSecond);
  return text;
}

// The calendar date `days` after the date of st (no time zone involved);
// st unchanged when the date cannot be converted.
SYSTEMTIME AddDays(const SYSTEMTIME& st, int days) {
  SYSTEMTIME noon{};
  noon.wYear = st.wYear;
  noon.wMonth = st.wMonth;
  noon.wDay = st.wDay;
  noon.wHour = 12;
  FILETIME ft{};
  if (!SystemTimeToFileTime(&noon, &ft)) return st;
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  ticks += static_cast<uint64_t>(days) * kSecondsPerDay * kTicksPerSecond;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME out{};
  if (!FileTimeToSystemTime(&ft, &out)) return st;
  return out;
}

// The local time at date's day and time's time of day.
ADateTime At(const SYSTEMTIME& date, const SYSTEMTIME& time) {
  return ADateTime(date.wYear, date.wMonth, date.wDay, time.wHour, time.wMinute, time.wSecond);
}

}  // namespace

void AScheduleList::LoadEvent::operator()(int kind, const ADateTime& startTime, int dayOfWeek,
                                          const CString& fileName, const ScheduleItemOptions& options) {
  ScheduleEntry entry;
  entry.kind = kind;
  entry.startTime = startTime;
  entry.dayOfWeek = dayOfWeek;
  entry.fileName = fileName;
  entry.options = options;
  m_List.m_Entries.push_back(std::move(entry));
}

AScheduleList::AScheduleList(const CString& path) : m_Path(path) {}

AScheduleList::~AScheduleList() { Clear(); }

void AScheduleList::Clear() {
  m_Entries.clear();
  m_pLoadEvent.reset();
  m_Error.Empty();
  m_bLoaded = false;
}

bool AScheduleList::Load() {
  Clear();
  m_pLoadEvent = std::make_unique<LoadEvent>(*this);
  AScheduleXML reader;
  return Finish(reader.Read(*this, *m_pLoadEvent));
}

bool AScheduleList::LoadBytes(const void* data, size_t size) {
  Clear();
  m_pLoadEvent = std::make_unique<LoadEvent>(*this);
  AScheduleXML reader;
  return Finish(reader.ReadBytes(*this, *m_pLoadEvent, data, size));
}

bool AScheduleList::Finish(bool read) {
  if (!read) {
    CString text;
    text.Format(u"Failed to load xml file: %s", m_Error.GetString());
    LogError(0, text, kClass, __LINE__);
    return false;
  }
  m_bLoaded = true;
  return true;
}

ADateTime AScheduleList::CandidateAfter(const ScheduleEntry& entry, const ADateTime& after) const {
  const SYSTEMTIME afterFields = LocalFields(after);
  const SYSTEMTIME timeOfDay = LocalFields(entry.startTime);
  const ADateTime base = At(afterFields, timeOfDay);
  switch (entry.kind) {
    case fmt::kKindOnce:
      return entry.startTime;
    case fmt::kKindDaily:
      // Counted in seconds: across a daylight-saving change the next start
      // moves with the clock.
      return base > after ? base : base + kSecondsPerDay;
    case fmt::kKindWeekly: {
      const int today = IsoWeekday(afterFields);
      if (today == entry.dayOfWeek && base > after) return base;
      int days = (entry.dayOfWeek - today + 7) % 7;
      if (days == 0) days = 7;
      // Counted in calendar days: the start keeps its hour across a
      // daylight-saving change.
      return At(AddDays(afterFields, days), timeOfDay);
    }
    default:
      LogError(0, u"Processing unknown schedule type", kClass, __LINE__);
      return ADateTime(0);
  }
}

bool AScheduleList::GetNextScheduleAfter(const ADateTime& after, ADateTime& startTime, CString& fileName,
                                         ScheduleItemOptions& options) {
  if (!m_bLoaded) return false;
  Log(0, FormatFields(u"GetNextScheduleAfter() after ", after), kClass, __LINE__);

  const ScheduleEntry* best = nullptr;
  ADateTime bestTime;
  bool foundLater = false;
  for (const ScheduleEntry& entry : m_Entries) {
    const ADateTime candidate = CandidateAfter(entry, after);
    // Until one lies ahead every entry takes the place; then only an
    // earlier one ahead does (a tie keeps the entry met first).
    const bool take = !foundLater || (candidate > after && candidate < bestTime);
    if (!take) continue;
    best = &entry;
    bestTime = candidate;
    if (candidate > after) foundLater = true;
    Log(0, FormatFields(u"Set currentSchedule ", candidate), kClass, __LINE__);
  }
  if (!best || !(bestTime > after)) {
    LogError(0, u"Never found a schedule", kClass, __LINE__);
    return false;
  }
  startTime = bestTime;
  fileName = best->fileName;
  options = best->options;
  return true;
}
