#include "core/Log.h"

#include <cstdlib>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/handle.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/time.h"
#include "core/ProductSettings.h"
#include "core/System.h"

namespace {

constexpr char kFooter[] = "===== Log End =====\r\n";
constexpr DWORD kFooterLength = sizeof(kFooter) - 1;
constexpr const WCHAR* kDayNames[] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                      u"Thursday", u"Friday", u"Saturday"};

ALog* g_registeredLog = nullptr;
ALog* g_builtInLog = nullptr;

LogReportSink& ReportSink() {
  static LogReportSink* sink = new LogReportSink();
  return *sink;
}

void CloseBuiltInLog() {
  if (g_builtInLog != nullptr) g_builtInLog->Close();
}

void WriteHeaderItem(ALog& log, std::u16string_view text) {
  std::string bytes = ToLogBytes(text);
  log.WriteText(bytes.data(), bytes.size());
}

}  // namespace

std::string ToLogBytes(std::u16string_view text) {
  std::string bytes;
  if (text.empty()) return bytes;
  int wideLength = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return bytes;
  bytes.resize(static_cast<size_t>(size));
  size = WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, bytes.data(), size, nullptr,
                             nullptr);
  bytes.resize(size > 0 ? static_cast<size_t>(size) : 0);
  const size_t maxBytes = ALog::kLineBufferSize - 1;
  if (bytes.size() > maxBytes) {
    bool lineEnd = bytes.ends_with("\r\n");
    bytes.resize(lineEnd ? maxBytes - 2 : maxBytes);
    if (lineEnd) bytes += "\r\n";
  }
  return bytes;
}

// ALog ---------------------------------------------------------------------

ALog::ALog() {
  CString folder = GetLogFilePath();
  logPath = folder + u"\\BackupLog.txt";
  oldLogPath = folder + u"\\BackupLogOld.txt";
}

ALog::~ALog() { Close(); }

CString ALog::LogFolder() const {
  int lastBackslash = logPath.ReverseFind(u'\\');
  if (lastBackslash <= 0) return CString(u"\\");
  return logPath.Left(lastBackslash);
}

void ALog::Open(bool commit) {
  started = true;
  commitMode = false;
  WriteHeaderItem(*this, u"==== Log Start ====\r\n");
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  CString stamp(kDayNames[now.wDayOfWeek % 7]);
  stamp.AppendFormat(u" %u/%u/%u  %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                     now.wMinute, now.wSecond);
  WriteHeaderItem(*this, (stamp + u"\r\n").str());
  WriteHeaderItem(*this, (GetVerboseAppName() + u"\r\n").str());
  // Composing the versions text may log: its entries precede this item.
  CString versions = System::GetInstalledVersionsText();
  WriteHeaderItem(*this, (CString(u"Version Info:\r\n") + versions).str());
  WriteHeaderItem(*this, (CString(u"Run Path:") + System::GetProgramPath(true) + u"\r\n").str());
  commitMode = commit;
}

void ALog::Write(int level, DWORD code, LPCWSTR text) {
  if (!started || failing) return;
  static constexpr char16_t kLetters[] = u"IWEL";
  std::u16string line(1, level >= 0 && level <= 3 ? kLetters[level] : u'L');
  line += u' ';
  if (text != nullptr) line += text;
  if (code != 0) {
    CString number;
    number.Format(u" %d", static_cast<int>(code));
    line += number.str();
  }
  line += u"\r\n";
  std::string bytes = ToLogBytes(line);
  WriteText(bytes.data(), bytes.size());
  if (commitMode) CloseFile(false);
}

void ALog::WriteText(const char* bytes, size_t length) {
  if (failing) return;
  if (buffering) {
    buffer.append(bytes, length);
    buffer += "\r\n";
    return;
  }
  if (length == 0) return;
  if (!IsFileOpen()) OpenFile(false);
  WriteToFile(bytes, static_cast<DWORD>(length));
}

void ALog::Flush(bool startNewLog) {
  buffering = false;
  // Without logging there is no log file to rotate or create.
  if (!started || failing) {
    buffer.clear();
    return;
  }
  if (startNewLog) {
    CloseFile(true);
    // The first run has no log to keep: a failed copy is of no concern.
    CopyFileW(logPath, oldLogPath, FALSE);
    OpenFile(true);
    CloseFile(true);
  }
  std::string pending;
  pending.swap(buffer);
  WriteText(pending.data(), pending.size());
}

void ALog::Close() {
  if (failing) return;
  CloseFile(true);
}

void ALog::OpenFile(bool truncate) {
  file = CreateFileW(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                     truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(1, GetLastError());
  SetLastError(NO_ERROR);
  if (SetFilePointer(file, 0, nullptr, FILE_END) == 0xFFFFFFFFu && GetLastError() != NO_ERROR)
    Fail(2, GetLastError());
}

void ALog::WriteToFile(const char* bytes, DWORD length) {
  DWORD written = 0;
  if (!WriteFile(file, bytes, length, &written, nullptr)) {
    DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL) {
      failing = true;
      bool onCard = System::IsOnStorageCard(LogFolder());
      CloseAfterDiskFull();
      Fail(onCard ? 6 : 3, error);
    }
    Fail(7, error);
  }
  if (written < length) Fail(8, GetLastError());
}

void ALog::CloseFile(bool withFooter) {
  if (!IsFileOpen()) return;
  if (withFooter) WriteToFile(kFooter, kFooterLength);
  HANDLE handle = file;
  file = INVALID_HANDLE_VALUE;
  if (!CloseHandle(handle)) Fail(9, GetLastError());
}

void ALog::CloseAfterDiskFull() {
  if (!IsFileOpen()) return;
  ULARGE_INTEGER freeToCaller = {}, total = {}, totalFree = {};
  if (GetDiskFreeSpaceExW(LogFolder(), &freeToCaller, &total, &totalFree) &&
      freeToCaller.QuadPart >= kFooterLength) {
    DWORD written = 0;
    WriteFile(file, kFooter, kFooterLength, &written, nullptr);
  }
  CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
}

void ALog::Fail(int step, DWORD error) {
  failing = true;
  if (IsFileOpen()) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  CString text(u"There was an error opening the log file");
  text.AppendFormat(u" %d %d", step, static_cast<int>(error));
  MessageBoxW(nullptr, text, u"Quilmo Backup", MB_OK | MB_ICONERROR);
  ExitProcess(static_cast<UINT>(step));
}

// Process-wide writer ------------------------------------------------------

ALog& GetLog() {
  if (g_registeredLog != nullptr) return *g_registeredLog;
  if (g_builtInLog == nullptr) {
    g_builtInLog = new ALog();
    std::atexit(CloseBuiltInLog);
  }
  return *g_builtInLog;
}

void SetLog(ALog* log) { g_registeredLog = log; }

ALog* GetRegisteredLog() { return g_registeredLog; }

void SetLogReportSink(LogReportSink sink) { ReportSink() = std::move(sink); }

const LogReportSink& GetLogReportSink() { return ReportSink(); }

// Front end ------------------------------------------------------------------

CString FormatLogText(const CString& text, LPCWSTR className, int line) {
  if (className == nullptr || *className == 0) return text;
  CString formatted(className);
  formatted.AppendFormat(u" %i : ", line);
  return formatted + text;
}
