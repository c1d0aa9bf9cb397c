#include "setup/ScheduledNotifications.h"

#include <string_view>
#include <vector>

#include "ce/errors.h"
#include "ce/notify.h"
#include "setup/SetupNames.h"


namespace Setup {

namespace {

bool IsProductApplication(const WCHAR* application) {
  if (!application) return false;
  const std::u16string_view path(application);
  for (const WCHAR* name : SetupNames::kProductNotificationPrograms)
    if (path.find(name) != std::u16string_view::npos) return true;
  return false;
}

std::vector<HANDLE> NotificationHandles() {
  DWORD needed = 0;
  if (!CeGetUserNotificationHandles(nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
  std::vector<HANDLE> handles(needed);
  if (needed == 0) return handles;
  DWORD got = 0;
  if (!CeGetUserNotificationHandles(handles.data(), needed, &got)) return {};
  handles.resize(got < needed ? got : needed);
  return handles;
}

}  // namespace

std::unique_ptr<BYTE[]> GetUserNotificationInfo(HANDLE notification) {
  DWORD needed = 0;
  if (!CeGetUserNotification(notification, 0, &needed, nullptr) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return nullptr;
  if (needed < sizeof(CE_NOTIFICATION_INFO_HEADER)) return nullptr;
  auto buffer = std::make_unique<BYTE[]>(needed);
  DWORD size = needed;
  if (!CeGetUserNotification(notification, size, &needed, buffer.get())) return nullptr;
  return buffer;
}

void RemoveScheduledNotifications() {
  for (HANDLE handle : NotificationHandles()) {
    std::unique_ptr<BYTE[]> info = GetUserNotificationInfo(handle);
    if (!info) continue;
    const auto* header = reinterpret_cast<const CE_NOTIFICATION_INFO_HEADER*>(info.get());
    if (!header->pcent || !IsProductApplication(header->pcent->lpszApplication)) continue;
    // One that cannot be cleared stays; the others still go.
    (void)CeClearUserNotification(handle);
  }
}

}  // namespace Setup
