// Clearing the product's pending user notifications at removal: every
// notification whose application path contains the starter's or the
// wake-up service's program name (SetupNames.h, exact case).
#pragma once

#include <memory>

#include "ce/types.h"

namespace Setup {

// Clears the product's notifications; the others stay. Notifications that
// cannot be read or cleared are skipped.
void RemoveScheduledNotifications();

// One notification's record (the platform's header with its trigger and
// texts in one buffer), read after asking for its size; null on failure.
std::unique_ptr<BYTE[]> GetUserNotificationInfo(HANDLE notification);

}  // namespace Setup
