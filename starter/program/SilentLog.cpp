// The starter's log front end: it writes no log, so every entry of the
// shared code is dropped here. Defines every function of
// core/LogFrontEnd.cpp, which is then never linked in.
#include "core/Log.h"

void Log(DWORD, const CString&, LPCWSTR, int) {}
void Log(DWORD, LPCWSTR, LPCWSTR, int) {}
void LogError(DWORD, const CString&, LPCWSTR, int) {}
void LogError(DWORD, LPCWSTR, LPCWSTR, int) {}
void LogWarning(DWORD, const CString&, LPCWSTR, int) {}
void LogWarning(DWORD, LPCWSTR, LPCWSTR, int) {}
void LogInfo(DWORD, const CString&, LPCWSTR, int) {}
void LogInfo(DWORD, LPCWSTR, LPCWSTR, int) {}
