// The post-boot popup's command line, as the main program writes it: the
// message file and the report file (each in double quotes), then the
// switches "/restore" and "/turnOff".
#pragma once

#include <vector>

#include "ce/cstring.h"

class HalveyCommandLine {
 public:
  // Splits the line: words are separated by blanks; a word that begins
  // with a double quote runs to the next one, may hold blanks and loses
  // its quotes. The first word that does not begin with "/" is the
  // message file, the second the report file.
  explicit HalveyCommandLine(const CString& line);

  const CString& GetMessageFile() const { return m_MessageFile; }
  const CString& GetReportFile() const { return m_ReportFile; }
  // "/restore" somewhere after the line's first character.
  bool IsRestore() const { return m_bRestore; }
  // "/turnOff" somewhere after the line's first character, before or
  // after "/restore".
  bool IsTurnOff() const { return m_bTurnOff; }

  static std::vector<CString> SplitWords(const CString& line);

 private:
  CString m_MessageFile;
  CString m_ReportFile;
  bool m_bRestore = false;
  bool m_bTurnOff = false;
};
