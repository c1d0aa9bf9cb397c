// The device's user notifications as tests register and look at them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ce/notify.h"
#include "ce/text.h"

namespace quilmo::test {

// Triggers as the product fills them: a timed one (start = end) and an
// event one.
inline CE_NOTIFICATION_TRIGGER TimedTrigger(const char16_t* app, const char16_t* args, const SYSTEMTIME& at) {
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = CNT_TIME;
  t.lpszApplication = const_cast<WCHAR*>(app);
  t.lpszArguments = const_cast<WCHAR*>(args);
  t.stStartTime = t.stEndTime = at;
  return t;
}

inline CE_NOTIFICATION_TRIGGER EventTrigger(const char16_t* app, const char16_t* args, DWORD event) {
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = CNT_EVENT;
  t.dwEvent = event;
  t.lpszApplication = const_cast<WCHAR*>(app);
  t.lpszArguments = const_cast<WCHAR*>(args);
  return t;
}


struct Notification {
  HANDLE handle = nullptr;
  DWORD type = 0;
  DWORD event = 0;
  std::string app, args;
  SYSTEMTIME start{};
  // "timed 2024-05-06 02:00 \Windows\QuilmoStart.exe ScheduledBackup" or
  // "event 11 \Windows\QuilmoStart.exe AppRunAfterWakeup".
  std::string Text() const {
    char when[40];
    if (type == CNT_TIME) {
      std::snprintf(when, sizeof when, "timed %04u-%02u-%02u %02u:%02u", start.wYear, start.wMonth, start.wDay,
                    start.wHour, start.wMinute);
    } else {
      std::snprintf(when, sizeof when, "event %u", event);
    }
    return std::string(when) + " " + app + " " + args;
  }
};

inline std::vector<Notification> Notifications() {
  std::vector<Notification> out;
  DWORD n = 0;
  CeGetUserNotificationHandles(nullptr, 0, &n);
  std::vector<HANDLE> handles(n);
  if (n == 0 || !CeGetUserNotificationHandles(handles.data(), n, &n)) return out;
  for (HANDLE h : handles) {
    DWORD needed = 0;
    CeGetUserNotification(h, 0, &needed, nullptr);
    std::vector<BYTE> buf(needed);
    if (!CeGetUserNotification(h, needed, &needed, buf.data())) continue;
    const auto* hdr = reinterpret_cast<const CE_NOTIFICATION_INFO_HEADER*>(buf.data());
    Notification x;
    x.handle = h;
    x.type = hdr->pcent->dwType;
    x.event = hdr->pcent->dwEvent;
    x.app = ce::ToUtf8(hdr->pcent->lpszApplication);
    x.args = ce::ToUtf8(hdr->pcent->lpszArguments);
    x.start = hdr->pcent->stStartTime;
    out.push_back(x);
  }
  return out;
}

inline std::vector<std::string> NotificationTexts() {
  std::vector<std::string> out;
  for (const Notification& n : Notifications()) out.push_back(n.Text());
  return out;
}

}  // namespace quilmo::test
