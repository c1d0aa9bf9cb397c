// The platform's own notification store (private to the platform).
//
// The kernel reaches the device's user notifications through
// ce::NotificationStore (cesim/notifystore.h). The platform's store lives
// in notify_store.cpp: PlatformNotificationStore() returns it; it fires the
// records of the notification queue (notify_queue.h).
#pragma once

#include "cesim/notifystore.h"

namespace ce::notify {

NotificationStore& PlatformNotificationStore();

// Events signalled for the kernel (cedev event), oldest first; taken once.
std::vector<DWORD> TakeQueuedEvents(Device* d);

}  // namespace ce::notify
