#include "postboot/HalveyCommandLine.h"

#include "postboot/HalveyFormat.h"

namespace {

// A switch counts from the line's second character on: a line that starts
// with it is not honoured.
bool HoldsSwitch(const CString& line, LPCWSTR word) { return line.Find(word, 1) > 0; }

}  // namespace

std::vector<CString> HalveyCommandLine::SplitWords(const CString& line) {
  std::vector<CString> words;
  const int n = line.GetLength();
  int i = 0;
  while (i < n) {
    while (i < n && line[i] == u' ') ++i;
    if (i >= n) break;
    if (line[i] == u'"') {
      const int close = line.Find(u'"', i + 1);
      const int end = close < 0 ? n : close;
      words.push_back(line.Mid(i + 1, end - i - 1));
      i = close < 0 ? n : close + 1;
    } else {
      const int blank = line.Find(u' ', i);
      const int end = blank < 0 ? n : blank;
      words.push_back(line.Mid(i, end - i));
      i = end;
    }
  }
  return words;
}

HalveyCommandLine::HalveyCommandLine(const CString& line) {
  int plain = 0;
  for (const CString& word : SplitWords(line)) {
    if (!word.IsEmpty() && word[0] == u'/') continue;
    if (plain == 0) m_MessageFile = word;
    else if (plain == 1) m_ReportFile = word;
    ++plain;
  }
  // Each switch is looked for in the whole line: the main program writes
  // "/restore" before "/turnOff", so cutting the line at the first would
  // lose the second.
  m_bRestore = HoldsSwitch(line, halvey::kSwitchRestore);
  m_bTurnOff = HoldsSwitch(line, halvey::kSwitchTurnOff);
}
