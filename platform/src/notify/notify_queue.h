// The device's user notifications as the records of "DB_notify_queue"
// (ce/notifyqueue.h), reached through the database calls (private to the
// platform). The notification calls and the device's firing share it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ce/database.h"
#include "ce/types.h"

namespace ce::notify {

struct Entry {
  CEOID handle = 0;
  DWORD type = 0;       // CNT_TIME or CNT_EVENT
  DWORD event = 0;      // CNT_EVENT: the event
  uint64_t start = 0;   // local FILETIME ticks; 0 for events
  uint64_t end = 0;
  std::u16string program;
  std::u16string arguments;
};

// The record's blob of an entry, and back. DecodeEntry is false for a blob
// that holds no entry (too short, a text offset outside it, a text without
// its terminator).
std::string EncodeEntry(const Entry& e);
bool DecodeEntry(std::string_view blob, Entry* e);

// The device path of the notification volume: HKLM "System\GWE\Notify"
// "volume", else the default.
std::u16string VolumePath();

// The notification volume mounted for one piece of work: Open mounts it
// (making the file and the database when missing) and opens the database;
// the destructor closes and unmounts. Every call is false with the last
// error set on failure.
class Queue {
 public:
  Queue() = default;
  ~Queue();
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  bool Open();
  // Every record in order. Records that hold no entry are left out (their
  // handles go to *malformed when given).
  bool List(std::vector<Entry>* out, std::vector<CEOID>* malformed = nullptr);
  // An unknown handle: ERROR_INVALID_PARAMETER (also for a record that
  // holds no entry: ERROR_FILE_CORRUPT).
  bool Find(CEOID handle, Entry* out);
  bool Add(const Entry& e, CEOID* handle);
  bool Replace(CEOID handle, const Entry& e);
  // Unknown: ERROR_INVALID_PARAMETER.
  bool Remove(CEOID handle);

 private:
  // Makes handle the current record; unknown: ERROR_INVALID_PARAMETER.
  bool Seek(CEOID handle);
  bool ReadCurrent(Entry* out, CEOID* oid);
  bool Write(CEOID handle, const Entry& e, CEOID* written);

  CEGUID guid_{};
  bool mounted_ = false;
  HANDLE db_ = INVALID_HANDLE_VALUE;
};

}  // namespace ce::notify
