// User notifications: programs the device starts at a time or on an event.
#pragma once

#include "ce/types.h"

#define NOTIFICATION_EVENT_NONE 0
#define NOTIFICATION_EVENT_RESTORE_END 10
#define NOTIFICATION_EVENT_WAKEUP 11

// Registers appName (a device path) to run on event `whichEvent`, with the
// event's word as its command line; NOTIFICATION_EVENT_NONE clears the
// program's event entries. FALSE with the last error set on failure
// (ERROR_CALL_NOT_IMPLEMENTED until the device keeps notifications).
BOOL CeRunAppAtEvent(WCHAR* appName, LONG whichEvent);
