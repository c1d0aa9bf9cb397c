// The user-notification calls of ce/notify.h over the notification queue.
#include <algorithm>
#include <cstring>

#include "ce/errors.h"
#include "ce/notify.h"
#include "ce/text.h"
#include "ce/time.h"
#include "notify/notify_queue.h"

namespace ce::notify {
namespace {

constexpr size_t kMaxProgramChars = MAX_PATH;

bool Invalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

HANDLE ToHandle(CEOID oid) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(oid)); }

bool FromHandle(HANDLE h, CEOID* oid) {
  const uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if (v == 0 || v > 0xFFFFFFFFu) return Invalid();
  *oid = static_cast<CEOID>(v);
  return true;
}

bool Ticks(const SYSTEMTIME& st, uint64_t* ticks) {
  FILETIME ft{};
  if (!SystemTimeToFileTime(&st, &ft)) return false;
  *ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return true;
}

bool IsZero(const SYSTEMTIME& st) {
  static const SYSTEMTIME kZero{};
  return std::memcmp(&st, &kZero, sizeof st) == 0;
}

SYSTEMTIME FieldsOf(uint64_t ticks) {
  SYSTEMTIME st{};
  if (ticks == 0) return st;
  const FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  if (!FileTimeToSystemTime(&ft, &st)) st = SYSTEMTIME{};
  return st;
}

// The entry a trigger describes; false (ERROR_INVALID_PARAMETER) for one
// the device does not keep.
bool EntryOf(const CE_NOTIFICATION_TRIGGER* t, Entry* e) {
  if (!t || (t->dwSize != CE_NOTIFICATION_TRIGGER_SIZE && t->dwSize != sizeof(CE_NOTIFICATION_TRIGGER)))
    return Invalid();
  if (!t->lpszApplication || !*t->lpszApplication) return Invalid();
  e->program = t->lpszApplication;
  if (e->program.size() > kMaxProgramChars) return Invalid();
  e->arguments = t->lpszArguments ? std::u16string(t->lpszArguments) : std::u16string();
  e->type = t->dwType;
  switch (t->dwType) {
    case CNT_TIME:
      e->event = 0;
      if (!Ticks(t->stStartTime, &e->start)) return Invalid();
      if (IsZero(t->stEndTime)) {
        e->end = e->start;
      } else if (!Ticks(t->stEndTime, &e->end)) {
        return Invalid();
      }
      return true;
    case CNT_EVENT:
      if (t->dwEvent == NOTIFICATION_EVENT_NONE) return Invalid();
      e->event = t->dwEvent;
      e->start = e->end = 0;
      return true;
    default:
      return Invalid();
  }
}

// Sizes and offsets of CeGetUserNotification's buffer.
struct InfoLayout {
  size_t trigger, program, arguments, total;
};

constexpr size_t AlignUp(size_t n, size_t a) { return (n + a - 1) / a * a; }

InfoLayout LayoutOf(const Entry& e) {
  InfoLayout l{};
  l.trigger = AlignUp(sizeof(CE_NOTIFICATION_INFO_HEADER), alignof(CE_NOTIFICATION_TRIGGER));
  l.program = l.trigger + sizeof(CE_NOTIFICATION_TRIGGER);
  l.arguments = l.program + (e.program.size() + 1) * sizeof(WCHAR);
  l.total = l.arguments + (e.arguments.size() + 1) * sizeof(WCHAR);
  return l;
}

// Clears the application's notifications of one trigger type.
bool ClearProgram(Queue& q, std::u16string_view program, DWORD type) {
  std::vector<Entry> entries;
  if (!q.List(&entries)) return false;
  for (const Entry& e : entries)
    if (e.type == type && EqualNoCase(e.program, program) && !q.Remove(e.handle)) return false;
  return true;
}

const char16_t* EventWord(LONG event) {
  switch (event) {
    case NOTIFICATION_EVENT_WAKEUP:
      return APP_RUN_AFTER_WAKEUP;
    case NOTIFICATION_EVENT_RESTORE_END:
      return APP_RUN_AFTER_RESTORE;
    default:
      return nullptr;
  }
}

}  // namespace
}  // namespace ce::notify

using ce::notify::Entry;
using ce::notify::Queue;

HANDLE CeSetUserNotificationEx(HANDLE hNotification, CE_NOTIFICATION_TRIGGER* pcnt, CE_USER_NOTIFICATION*) {
  Entry e;
  CEOID existing = 0;
  if ((hNotification && !ce::notify::FromHandle(hNotification, &existing)) || !ce::notify::EntryOf(pcnt, &e))
    return nullptr;
  Queue q;
  if (!q.Open()) return nullptr;
  CEOID handle = existing;
  if (existing ? !q.Replace(existing, e) : !q.Add(e, &handle)) return nullptr;
  SetLastError(ERROR_SUCCESS);
  return ce::notify::ToHandle(handle);
}

BOOL CeGetUserNotificationHandles(HANDLE* rghNotifications, DWORD cHandles, LPDWORD pcHandlesNeeded) {
  if (!pcHandlesNeeded || (cHandles > 0 && !rghNotifications)) return ce::notify::Invalid();
  Queue q;
  std::vector<Entry> entries;
  std::vector<CEOID> malformed;
  if (!q.Open() || !q.List(&entries, &malformed)) return FALSE;
  // Records that hold no entry are notifications too: they list, and
  // reading them fails.
  std::vector<CEOID> handles;
  for (const Entry& e : entries) handles.push_back(e.handle);
  handles.insert(handles.end(), malformed.begin(), malformed.end());
  std::sort(handles.begin(), handles.end());
  *pcHandlesNeeded = static_cast<DWORD>(handles.size());
  for (size_t i = 0; i < handles.size() && i < cHandles; ++i)
    rghNotifications[i] = ce::notify::ToHandle(handles[i]);
  if (cHandles < handles.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeGetUserNotification(HANDLE hNotification, DWORD cBufferSize, LPDWORD pcBytesNeeded, LPBYTE pBuffer) {
  CEOID handle = 0;
  if (!ce::notify::FromHandle(hNotification, &handle)) return FALSE;
  if (!pcBytesNeeded) return ce::notify::Invalid();
  Queue q;
  Entry e;
  if (!q.Open() || !q.Find(handle, &e)) return FALSE;
  const ce::notify::InfoLayout l = ce::notify::LayoutOf(e);
  *pcBytesNeeded = static_cast<DWORD>(l.total);
  if (!pBuffer || cBufferSize < l.total) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(pBuffer, 0, l.total);
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = e.type;
  t.dwEvent = e.event;
  t.lpszApplication = reinterpret_cast<WCHAR*>(pBuffer + l.program);
  t.lpszArguments = reinterpret_cast<WCHAR*>(pBuffer + l.arguments);
  t.stStartTime = ce::notify::FieldsOf(e.start);
  t.stEndTime = ce::notify::FieldsOf(e.end);
  CE_NOTIFICATION_INFO_HEADER h{};
  h.hNotification = hNotification;
  h.dwStatus = 0;
  h.pcent = reinterpret_cast<CE_NOTIFICATION_TRIGGER*>(pBuffer + l.trigger);
  h.pceun = nullptr;
  std::memcpy(pBuffer, &h, sizeof h);
  std::memcpy(pBuffer + l.trigger, &t, sizeof t);
  std::memcpy(pBuffer + l.program, e.program.c_str(), (e.program.size() + 1) * sizeof(WCHAR));
  std::memcpy(pBuffer + l.arguments, e.arguments.c_str(), (e.arguments.size() + 1) * sizeof(WCHAR));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeClearUserNotification(HANDLE hNotification) {
  CEOID handle = 0;
  if (!ce::notify::FromHandle(hNotification, &handle)) return FALSE;
  Queue q;
  if (!q.Open() || !q.Remove(handle)) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeRunAppAtTime(WCHAR* pwszAppName, SYSTEMTIME* lpTime) {
  if (!pwszAppName || !*pwszAppName) return ce::notify::Invalid();
  Queue q;
  if (!q.Open()) return FALSE;
  if (!lpTime) {
    if (!ce::notify::ClearProgram(q, pwszAppName, CNT_TIME)) return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = CNT_TIME;
  t.lpszApplication = pwszAppName;
  t.lpszArguments = const_cast<WCHAR*>(APP_RUN_AT_TIME);
  t.stStartTime = t.stEndTime = *lpTime;
  Entry e;
  CEOID handle = 0;
  if (!ce::notify::EntryOf(&t, &e) || !q.Add(e, &handle)) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeRunAppAtEvent(WCHAR* pwszAppName, LONG lWhichEvent) {
  if (!pwszAppName || !*pwszAppName) return ce::notify::Invalid();
  const char16_t* word = ce::notify::EventWord(lWhichEvent);
  if (lWhichEvent != NOTIFICATION_EVENT_NONE && !word) return ce::notify::Invalid();
  Queue q;
  if (!q.Open()) return FALSE;
  if (lWhichEvent == NOTIFICATION_EVENT_NONE) {
    if (!ce::notify::ClearProgram(q, pwszAppName, CNT_EVENT)) return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = CNT_EVENT;
  t.dwEvent = static_cast<DWORD>(lWhichEvent);
  t.lpszApplication = pwszAppName;
  t.lpszArguments = const_cast<WCHAR*>(word);
  Entry e;
  CEOID handle = 0;
  if (!ce::notify::EntryOf(&t, &e) || !q.Add(e, &handle)) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
