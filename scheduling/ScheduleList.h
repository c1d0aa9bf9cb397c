// The schedule list: the entries of a schedule file (ScheduleFormat.h) and
// the one question the scheduled backup asks of them: which entry starts
// first after a given time, with which image file and which options.
// Log lines carry the class "AScheduleList".
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"
#include "core/DateTime.h"
#include "scheduling/ScheduleFormat.h"

// An entry's options, each a ScheduleFormat::OptionState (absent until the
// file gives one), and its inclusion list file (empty: none).
struct ScheduleItemOptions {
  DWORD reset = ScheduleFormat::kOptionAbsent;
  DWORD compress = ScheduleFormat::kOptionAbsent;
  DWORD autoname = ScheduleFormat::kOptionAbsent;
  DWORD stopprocesses = ScheduleFormat::kOptionAbsent;
  DWORD remotemode = ScheduleFormat::kOptionAbsent;
  CString inclusionList;
};

struct ScheduleEntry {
  int kind = ScheduleFormat::kKindOnce;  // ScheduleFormat::ScheduleKind
  // Once: the start date and time. Daily and weekly: the day the file was
  // read at the entry's time; only the time of day counts.
  ADateTime startTime;
  int dayOfWeek = 1;  // 1 Monday .. 7 Sunday; 1 unless weekly
  CString fileName;   // the image to write
  ScheduleItemOptions options;
};

class AScheduleList {
 public:
  // The reader's callback for each accepted element: appends an entry to
  // its list.
  class LoadEvent {
   public:
    explicit LoadEvent(AScheduleList& list) : m_List(list) {}
    virtual ~LoadEvent() = default;
    virtual void operator()(int kind, const ADateTime& startTime, int dayOfWeek, const CString& fileName,
                            const ScheduleItemOptions& options);

   private:
    AScheduleList& m_List;
  };

  // An empty list for the schedule file at path; nothing is read yet.
  explicit AScheduleList(const CString& path);
  virtual ~AScheduleList();
  AScheduleList(const AScheduleList&) = delete;
  AScheduleList& operator=(const AScheduleList&) = delete;

  // Reads the file afresh (earlier entries are dropped). On failure logs
  // "Failed to load xml file: <error text>" and returns false; the entries
  // read before the failing element stay, but the list does not count as
  // loaded.
  bool Load();
  // The same from the bytes of a schedule file held in memory.
  bool LoadBytes(const void* data, size_t size);

  // The first start later than after of all entries (ties: the earlier
  // entry in the file), with that entry's file name and options. False,
  // outputs untouched, when the list is not loaded (no log) or no entry
  // starts later ("Never found a schedule").
  bool GetNextScheduleAfter(const ADateTime& after, ADateTime& startTime, CString& fileName,
                            ScheduleItemOptions& options);

  // Drops the entries, the load callback, the error text and the loaded
  // state.
  void Clear();

  const CString& GetPath() const { return m_Path; }
  // Why the last load failed (the reader's text, or the XML parser's).
  const CString& GetError() const { return m_Error; }
  void SetError(const CString& text) { m_Error = text; }
  bool IsLoaded() const { return m_bLoaded; }
  const std::vector<ScheduleEntry>& GetEntries() const { return m_Entries; }

 private:
  bool Finish(bool read);
  // An entry's next start after `after` (0 for a kind it does not know).
  ADateTime CandidateAfter(const ScheduleEntry& entry, const ADateTime& after) const;

  CString m_Path;
  CString m_Error;
  std::vector<ScheduleEntry> m_Entries;
  std::unique_ptr<LoadEvent> m_pLoadEvent;
  bool m_bLoaded = false;
};
