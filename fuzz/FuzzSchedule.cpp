// Fuzz entry point of the schedule file reader and the next-start choice.
// No device: documents load from memory and local time is UTC.
#include <cstddef>
#include <cstdint>

#include "core/DateTime.h"
#include "scheduling/ScheduleList.h"

// The reader on any bytes, then the next start after a few fixed times
// (a Monday noon, a leap day, the end of a year) and after the own start of
// each of the first entries.
int FuzzScheduleReader(const uint8_t* data, size_t size) {
  AScheduleList list(u"\\fuzz.xml");
  if (!list.LoadBytes(data, size)) {
    list.GetError();
    return 0;
  }
  ADateTime start;
  CString fileName;
  ScheduleItemOptions options;
  for (const ADateTime& after : {ADateTime(2024, 1, 1, 12, 0, 0), ADateTime(2024, 2, 29, 23, 59, 0),
                                 ADateTime(2030, 12, 31, 23, 30, 0), ADateTime(0)})
    list.GetNextScheduleAfter(after, start, fileName, options);
  constexpr size_t kEntriesTried = 32;
  const auto& entries = list.GetEntries();
  for (size_t i = 0; i < entries.size() && i < kEntriesTried; ++i)
    list.GetNextScheduleAfter(entries[i].startTime, start, fileName, options);
  return 0;
}
