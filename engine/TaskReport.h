// The summary lines of the running backup or restore: every information,
// warning and error entry of the log front end, in the order written. The
// task progress window reads them after the run to show the outcome and
// write the text report. Log lines carry the class "ATaskReport".
#pragma once

#include <memory>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"

// One summary line; a fixed record that readers copy whole.
struct TaskReportItem {
  static constexpr int kTextChars = 512;  // NUL included: at most 511 kept

  enum Type : DWORD { kInformation = 0, kWarning = 1, kError = 2 };

  DWORD type = kInformation;  // the log entry's level
  DWORD value = 0;            // the error code the entry carried, 0 when none
  WCHAR text[kTextChars] = {};
};

class ATaskReport {
 public:
  ATaskReport() = default;
  // Clears the items and, when this report receives the log's entries,
  // detaches it from the log front end.
  virtual ~ATaskReport();
  ATaskReport(const ATaskReport&) = delete;
  ATaskReport& operator=(const ATaskReport&) = delete;

  // Appends an item of the type (0 information, 1 warning, 2 error) with
  // the code and the text cut to 511 characters.
  void AddItem(DWORD value, const CString& text, DWORD type);
  // Copies the item at index; false, and the error "GetItem m_Summary.size()
  // <count> <index>" logged, when the index is at or beyond the count.
  bool GetItem(TaskReportItem& item, int index) const;
  int GetCount() const { return static_cast<int>(m_Summary.size()); }
  // Frees every item.
  void Clear();

  // Makes this report the receiver of the log front end's information,
  // warning and error entries (one report at a time; the newest wins).
  void ConnectToLog();
  // Stops receiving them when this report is the receiver.
  void DisconnectFromLog();
  bool IsConnectedToLog() const;

 private:
  std::vector<std::unique_ptr<TaskReportItem>> m_Summary;
};
