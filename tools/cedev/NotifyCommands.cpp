#include "tools/cedev/NotifyCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/notify.h"
#include "ce/system.h"
#include "ce/text.h"

namespace cedev {
namespace {

int Fail(const std::string& msg) {
  std::cerr << "cedev: " << msg << "\n";
  return 1;
}

int Usage() {
  std::cerr << "usage: cedev notify DIR list\n"
               "       cedev notify DIR clear HANDLE\n";
  return 2;
}

HANDLE ToHandle(unsigned long v) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(v)); }
unsigned long FromHandle(HANDLE h) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)); }

// A handle as the user types it: decimal, or hex after "0x"; never 0.
bool ParseHandle(const std::string& text, HANDLE* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long v = strtoul(text.c_str(), &end, text.rfind("0x", 0) == 0 ? 16 : 10);
  if (*end || errno || v == 0 || v > 0xFFFFFFFFul) return false;
  *out = ToHandle(v);
  return true;
}

std::string FieldsText(const SYSTEMTIME& st) {
  char buf[40];
  snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  return buf;
}

// One line of the list: handle, kind, when, application, arguments.
std::string EntryLine(HANDLE h) {
  const std::string handle = std::to_string(FromHandle(h));
  DWORD needed = 0;
  if (CeGetUserNotification(h, 0, &needed, nullptr) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return handle + " (cannot be read: " + ce::DescribeError(GetLastError()) + ")";
  std::vector<BYTE> buffer(needed);
  if (!CeGetUserNotification(h, needed, &needed, buffer.data()))
    return handle + " (cannot be read: " + ce::DescribeError(GetLastError()) + ")";
  const auto* info = reinterpret_cast<const CE_NOTIFICATION_INFO_HEADER*>(buffer.data());
  const CE_NOTIFICATION_TRIGGER& t = *info->pcent;
  std::string when;
  if (t.dwType == CNT_TIME) {
    when = "time  " + FieldsText(t.stStartTime);
  } else if (t.dwType != CNT_EVENT) {
    when = "type  " + std::to_string(t.dwType);  // kept as found; never fires
  } else {
    when = "event " + std::to_string(t.dwEvent);
    if (t.dwEvent == NOTIFICATION_EVENT_WAKEUP) when += " (wake-up)";
    if (t.dwEvent == NOTIFICATION_EVENT_RESTORE_END) when += " (restore end)";
  }
  char head[64];
  snprintf(head, sizeof head, "%-8s %-26s ", handle.c_str(), when.c_str());
  return head + ce::ToUtf8(t.lpszApplication) + " \"" + ce::ToUtf8(t.lpszArguments) + "\"";
}

int List() {
  DWORD count = 0;
  // The list may grow between the two calls: ask again until it fits.
  std::vector<HANDLE> handles;
  for (;;) {
    handles.assign(count, nullptr);
    if (CeGetUserNotificationHandles(handles.data(), count, &count)) break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return Fail("the notifications cannot be read: " + ce::DescribeError(GetLastError()));
  }
  handles.resize(count);
  if (handles.empty()) {
    std::cout << "no notifications\n";
    return 0;
  }
  for (HANDLE h : handles) std::cout << EntryLine(h) << "\n";
  return 0;
}

int Clear(const std::string& text) {
  HANDLE h = nullptr;
  if (!ParseHandle(text, &h)) return Fail("bad notification handle '" + text + "'");
  if (!CeClearUserNotification(h)) {
    if (GetLastError() == ERROR_INVALID_PARAMETER) return Fail("no notification " + text);
    return Fail("notification " + text + " cannot be cleared: " + ce::DescribeError(GetLastError()));
  }
  std::cout << "notification " << FromHandle(h) << " cleared\n";
  return 0;
}

}  // namespace

int CmdNotify(int argc, char** argv) {
  const std::string verb = argc > 3 ? argv[3] : "";
  if (verb == "list" && argc == 4) return List();
  if (verb == "clear" && argc == 5) return Clear(argv[4]);
  return Usage();
}

}  // namespace cedev
