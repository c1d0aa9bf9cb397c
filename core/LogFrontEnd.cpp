// The log front end: what every function of the product reports through
// (core/Log.h). A program that writes no log links a front end of its own
// in place of this file (see starter/program/SilentLog.cpp): it must define every
// function defined here.
#include "ce/msgbox.h"
#include "core/Log.h"

namespace {

void Report(int level, DWORD code, const CString& text, LPCWSTR className, int line) {
  const LogReportSink& sink = GetLogReportSink();
  if (sink) sink(level, code, text);
  GetLog().Write(level, code, FormatLogText(text, className, line));
}

}  // namespace

void Log(DWORD code, const CString& text, LPCWSTR className, int line) {
  ALog& log = GetLog();
  if (!log.IsStarted()) {
    MessageBoxW(nullptr, text, u"Quilmo Backup - Logging not started", MB_OK);
    return;
  }
  log.Write(kLogOrdinary, code, FormatLogText(text, className, line));
}

void Log(DWORD code, LPCWSTR text, LPCWSTR className, int line) {
  Log(code, CString(text), className, line);
}

void LogError(DWORD code, const CString& text, LPCWSTR className, int line) {
  Report(kLogError, code, text, className, line);
}
void LogError(DWORD code, LPCWSTR text, LPCWSTR className, int line) {
  Report(kLogError, code, CString(text), className, line);
}
void LogWarning(DWORD code, const CString& text, LPCWSTR className, int line) {
  Report(kLogWarning, code, text, className, line);
}
void LogWarning(DWORD code, LPCWSTR text, LPCWSTR className, int line) {
  Report(kLogWarning, code, CString(text), className, line);
}
void LogInfo(DWORD code, const CString& text, LPCWSTR className, int line) {
  Report(kLogInformation, code, text, className, line);
}
void LogInfo(DWORD code, LPCWSTR text, LPCWSTR className, int line) {
  Report(kLogInformation, code, CString(text), className, line);
}
