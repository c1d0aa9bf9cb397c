#include "starter/StarterCommandLine.h"

#include "ce/file.h"
#include "core/System.h"
#include "starter/StarterFormat.h"

namespace fmt = StarterFormat;

ACommandLineParser::ACommandLineParser(LPCWSTR commandLine) {
  if (commandLine) m_Buffer = commandLine;
  if (m_Buffer.size() > static_cast<size_t>(fmt::kCommandLineChars - 1))
    m_Buffer.resize(static_cast<size_t>(fmt::kCommandLineChars - 1));
  m_Next = SkipSeparators(0);
}

size_t ACommandLineParser::SkipSeparators(size_t at) const {
  while (at < m_Buffer.size() && IsSeparator(m_Buffer[at])) ++at;
  return at;
}

size_t ACommandLineParser::ArgumentEnd(size_t at) const {
  size_t end = at;
  if (end < m_Buffer.size() && m_Buffer[end] == u'"') {
    const size_t close = m_Buffer.find(u'"', end + 1);
    end = close == std::u16string::npos ? m_Buffer.size() : close + 1;
  }
  while (end < m_Buffer.size() && !IsSeparator(m_Buffer[end])) ++end;
  return end;
}

int ACommandLineParser::CountArguments() const {
  int count = 0;
  for (size_t at = m_Next; at < m_Buffer.size(); at = SkipSeparators(ArgumentEnd(at))) ++count;
  return count;
}

bool ACommandLineParser::NextArgument(CString& argument) {
  if (m_Next >= m_Buffer.size()) return false;
  const size_t end = ArgumentEnd(m_Next);
  std::u16string arg = m_Buffer.substr(m_Next, end - m_Next);
  m_Next = SkipSeparators(end);
  if (!arg.empty() && arg.front() == u'"') arg.erase(0, 1);
  if (!arg.empty() && arg.back() == u'"') arg.pop_back();
  argument = CString(arg);
  return true;
}

void ACommandLineParser::ParseCommandLine(CQuilmoStartCommandLineInfo& info) {
  CString arg;
  while (NextArgument(arg)) {
    const bool isLast = CountArguments() == 0;
    const bool isSwitch = !arg.IsEmpty() && (arg[0] == u'-' || arg[0] == u'/');
    const CString param = isSwitch ? arg.Mid(1) : arg;
    info.ParseParam(param, isSwitch ? TRUE : FALSE, isLast ? TRUE : FALSE);
  }
}

void CQuilmoStartCommandLineInfo::ParseParam(const WCHAR* param, BOOL isSwitch, BOOL isLast) {
  const CString text(param ? param : u"");
  if (isSwitch) {
    ParseSwitch(text);
  } else {
    ParseWord(text);
  }
  // The line ended before run's program came.
  if (isLast && m_bExpectingProgram) m_bParametersValid = false;
}

void CQuilmoStartCommandLineInfo::ParseSwitch(const CString& name) {
  if (m_bExpectingProgram) {
    m_bParametersValid = false;
    return;
  }
  if (m_bArgsMode) {
    m_Arguments += CString(u" \"/") + name + u"\"";
    m_ArgumentList.push_back(CString(u"/") + name);
    return;
  }
  if (name.CompareNoCase(fmt::kRunBackupAppSwitch) == 0) {
    m_Action = kActionRunBackupApp;
  } else if (name.CompareNoCase(fmt::kRunSwitch) == 0) {
    m_Action = kActionRun;
    m_bExpectingProgram = true;
  } else if (name.CompareNoCase(fmt::kArgsSwitch) == 0) {
    m_bArgsMode = true;
  } else if (name.CompareNoCase(fmt::kStartupSwitch) == 0) {
    m_Action = kActionStartup;
  } else if (name.GetLength() >= fmt::kCardSwitchLength &&
             name.Left(fmt::kCardSwitchLength).CompareNoCase(fmt::kCardSwitch) == 0) {
    m_Cards.push_back(name.Mid(fmt::kCardSwitchLength));
  } else {
    m_bParametersValid = false;
  }
}

void CQuilmoStartCommandLineInfo::ParseWord(const CString& word) {
  if (m_bExpectingProgram) {
    m_ProgramPath = word;
    m_bExpectingProgram = false;
    return;
  }
  if (m_bArgsMode) {
    m_Arguments += CString(u" \"") + word + u"\"";
    m_ArgumentList.push_back(word);
    return;
  }
  if (word == fmt::kBatteryForceCheckWord) {
    System::PowerOnDevice();  // a device that stays off still gets the check
    m_Action = kActionBatteryForceCheck;
  } else if (word == fmt::kScheduledBackupWord) {
    System::PowerOnDevice();
    m_Action = kActionScheduledBackup;
  } else if (word == fmt::kAppRunAfterWakeupWord) {
    m_Action = kActionAppRunAfterWakeup;
  } else {
    m_bParametersValid = false;
  }
}

bool IsLaunchNumber(LPCWSTR commandLine, int* n) {
  if (!commandLine || !*commandLine) return false;
  int value = 0, digits = 0;
  for (const WCHAR* p = commandLine; *p; ++p) {
    if (*p < u'0' || *p > u'9' || ++digits > fmt::kMaxLaunchDigits) return false;
    value = value * 10 + (*p - u'0');
  }
  if (value <= 0) return false;
  *n = value;
  return true;
}

bool ReadLaunchCommandLine(int n, CString& commandLine) {
  CString path;
  path.Format(fmt::kArgumentFileFormat, n);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // A byte-order mark, the line's characters kept and a CR LF after them.
  std::vector<BYTE> bytes((fmt::kArgumentFileChars + 3) * sizeof(WCHAR));
  DWORD read = 0;
  const bool ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok) return false;
  DeleteFileW(path);  // one that stays is read again by the next start with this number
  std::u16string text;
  for (DWORD at = 0; at + 1 < read; at += 2) text.push_back(static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8));
  if (!text.empty() && text.front() == u'\xFEFF') text.erase(0, 1);
  const size_t lineEnd = text.find(u'\n');
  if (lineEnd != std::u16string::npos) {
    text.resize(lineEnd);
    if (!text.empty() && text.back() == u'\r') text.pop_back();
  }
  if (text.size() > static_cast<size_t>(fmt::kArgumentFileChars)) text.resize(fmt::kArgumentFileChars);
  commandLine = CString(text);
  return true;
}
