// The program's log: the front end every function reports through, and the
// writer `ALog` behind it.
//
// An entry is one line of 8-bit text in the ANSI code page:
//   <letter> <className> <line> : <text>[ <code>]\r\n
// with the letter "I" (information), "W" (warning), "E" (error) or "L"
// (ordinary) and the code only when non-zero, in signed decimal. An entry
// never exceeds 511 bytes (512 with the terminator): longer text is cut and
// the line still ends with CR LF.
//
// The writer collects text in memory until Flush decides whether this run
// starts a new "BackupLog.txt" (the previous one moves to
// "BackupLogOld.txt") or appends to it. Any failure of the log file shows
// "There was an error opening the log file <step> <error>" and ends the
// process with the step number as exit code:
//   1 create/open, 2 seek to the end, 3 disk full (not on a storage card),
//   6 disk full on a storage card, 7 other write error, 8 short write,
//   9 close.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ce/cstring.h"
#include "ce/types.h"

enum LogLevel {
  kLogInformation = 0,  // "I"
  kLogWarning = 1,      // "W"
  kLogError = 2,        // "E"
  kLogOrdinary = 3,     // "L"
};

class ALog {
 public:
  static constexpr size_t kLineBufferSize = 512;  // bytes, terminator included

  // Log paths from the LogFilePath setting; closed, buffering, not started.
  ALog();
  ~ALog();
  ALog(const ALog&) = delete;
  ALog& operator=(const ALog&) = delete;

  // Starts logging and writes the header (time, VerboseAppName, installed
  // versions, run path); commit mode applies from the next entry on.
  void Open(bool commitMode);
  // One entry at a level (LogLevel); dropped unless started. In commit
  // mode the file is closed after the entry (no footer) and reopened for
  // the next one.
  void Write(int level, DWORD code, LPCWSTR text);
  // While buffering: appends the bytes and CR LF to the buffer. Otherwise
  // appends the bytes (when any) to the file, opening it when closed.
  void WriteText(const char* bytes, size_t length);
  // Ends buffering. startNewLog: moves the log to the old log, starts the
  // log anew with the footer line, then writes the buffer; else appends
  // the buffer to the existing log. Touches no file unless started.
  void Flush(bool startNewLog);
  // Writes the footer "===== Log End =====" and closes the file when open.
  void Close();

  bool IsStarted() const { return started; }
  bool IsBuffering() const { return buffering; }
  bool IsCommitMode() const { return commitMode; }
  bool IsFileOpen() const { return file != INVALID_HANDLE_VALUE; }
  const CString& GetLogPath() const { return logPath; }
  const CString& GetOldLogPath() const { return oldLogPath; }
  const std::string& GetBuffer() const { return buffer; }

 private:
  // Opens the log for appending (truncate: created empty). Fails the
  // process on error.
  void OpenFile(bool truncate);
  // Writes to the open file; failures end the process.
  void WriteToFile(const char* bytes, DWORD length);
  // Closes the file (footer first when asked); failures end the process.
  void CloseFile(bool withFooter);
  // After a disk-full write: writes the footer only when it fits and
  // closes the file, ignoring any further failure.
  void CloseAfterDiskFull();
  // Shows the failure box and ends the process with the step number.
  [[noreturn]] void Fail(int step, DWORD error);
  CString LogFolder() const;

  HANDLE file = INVALID_HANDLE_VALUE;
  CString logPath;
  CString oldLogPath;
  bool started = false;
  bool commitMode = false;
  bool buffering = true;
  std::string buffer;
  bool failing = false;  // a failure is being reported: no further file work
};

// Converts wide text to the ANSI code page and cuts it to the 512-byte line
// buffer (at most 511 bytes); a cut text that ended with CR LF keeps it.
std::string ToLogBytes(std::u16string_view text);

// The process-wide log writer. Until an owner registers its own with
// SetLog, a built-in one is created on first use.
ALog& GetLog();
// Registers the process-wide log writer (null: the built-in one again).
// The owner keeps it alive while registered.
void SetLog(ALog* log);
// The registered writer, or null while the built-in one serves.
ALog* GetRegisteredLog();

// Receives the information, warning and error entries of the front end
// (the task report). level: 0, 1 or 2; text: the raw message. Without a
// sink these entries reach only the log.
using LogReportSink = std::function<void(int level, DWORD code, const CString& text)>;
void SetLogReportSink(LogReportSink sink);
const LogReportSink& GetLogReportSink();

// className + " " + line + " : " + text; the text alone without a class.
CString FormatLogText(const CString& text, LPCWSTR className, int line);

// The front end (core/LogFrontEnd.cpp; a program without a log links its
// own). Ordinary entry ("L"). Before the log is started it shows the message in
// the box "Quilmo Backup - Logging not started" instead.
void Log(DWORD code, const CString& text, LPCWSTR className, int line);
void Log(DWORD code, LPCWSTR text, LPCWSTR className, int line);
// Task report first, then the log ("E", "W", "I"); no box when the log is
// not started.
void LogError(DWORD code, const CString& text, LPCWSTR className, int line);
void LogError(DWORD code, LPCWSTR text, LPCWSTR className, int line);
void LogWarning(DWORD code, const CString& text, LPCWSTR className, int line);
void LogWarning(DWORD code, LPCWSTR text, LPCWSTR className, int line);
void LogInfo(DWORD code, const CString& text, LPCWSTR className, int line);
void LogInfo(DWORD code, LPCWSTR text, LPCWSTR className, int line);
