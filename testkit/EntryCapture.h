// Collects the texts of ordinary log entries (shown as boxes while the log
// is not started) and of error entries (the report sink) while the object
// lives. Header only: the tests that use it link the core library.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "ce/msgbox.h"
#include "cesim/msgbox.h"
#include "core/Log.h"

namespace quilmo::test {

class EntryCapture {
 public:
  EntryCapture() {
    ce::SetMessageBoxService([this](const ce::MessageBoxRequest& r) {
      texts.push_back(r.text);
      return IDOK;
    });
    SetLogReportSink([this](int, DWORD, const CString& t) { texts.push_back(t.str()); });
  }
  ~EntryCapture() {
    ce::SetMessageBoxService(nullptr);
    SetLogReportSink(nullptr);
  }
  EntryCapture(const EntryCapture&) = delete;
  EntryCapture& operator=(const EntryCapture&) = delete;
  // True when an entry's whole text is `text`.
  bool Has(std::u16string_view text) const {
    return std::any_of(texts.begin(), texts.end(), [&](const std::u16string& t) { return t == text; });
  }
  std::vector<std::u16string> texts;
};

}  // namespace quilmo::test
