// Collects the texts of the error, warning and information entries the log
// reports while the object lives (header only: the tests that use it link
// the core library).
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/Log.h"

namespace quilmo::test {

class LogCapture {
 public:
  LogCapture() {
    SetLogReportSink([this](int, DWORD, const CString& t) { texts.push_back(t.str()); });
  }
  ~LogCapture() { SetLogReportSink(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  bool Has(std::u16string_view text) const {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::u16string& t) { return t.find(text) != t.npos; });
  }
  std::vector<std::u16string> texts;
};

}  // namespace quilmo::test
