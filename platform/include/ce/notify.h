// User notifications: programs the device starts at a time or on an event.
//
// The device keeps its notifications as the records of the CEDB database
// "DB_notify_queue" in the notification volume (ce/notifyqueue.h holds the
// record form). Every call below mounts that volume, does its work and
// unmounts it again, so nothing holds the file between calls (a program
// may replace it while the device boots); the calls work while the device
// is down too. A device without the volume or the database gets empty ones
// at the first call.
//
// A notification's handle is its record id: never 0, never handed out
// twice on the device (also not after a volume file is put back from an
// older copy). Handles list in registration order; replacing a
// notification keeps its handle and its place.
//
// Triggers. dwSize is 52, the record's size on the device (the host's own
// sizeof is taken too). Two kinds are kept:
//   CNT_TIME  (2) start the application at stStartTime, a local time of the
//             device's time zone (stEndTime equals it; a zero end time is
//             taken as the start time). A start that a daylight-saving
//             change skips is due as soon as the clock passes it; one that
//             the change repeats is due at its first occurrence only.
//   CNT_EVENT (1) start the application whenever event dwEvent (not 0)
//             happens; the times are kept as zero.
// The application is a device path or a bare name (started through the
// device's program search); the arguments become the program's whole raw
// command line. When the device fires a timed notification it removes it;
// event notifications stay until cleared. A notification whose program
// cannot be started is dropped. Firings are written to the device's debug
// log. User-notification blocks (dialogs, sounds) are accepted and ignored:
// nothing is shown, and reads give a null block.
//
// Failures set the last error: ERROR_INVALID_PARAMETER for a missing or
// malformed trigger (another type, another size, a bad time, event 0, no
// application), an unknown handle, or a null pointer where one is needed;
// ERROR_INSUFFICIENT_BUFFER when a result does not fit; the database
// layer's errors when the volume cannot be reached (ERROR_SHARING_VIOLATION
// while another program holds the file).
#pragma once

#include "ce/types.h"

// Trigger types.
#define CNT_EVENT 1u
#define CNT_TIME 2u
#define CNT_PERIOD 3u        // not kept
#define CNT_CLASSICTIME 4u   // not kept

// Events.
#define NOTIFICATION_EVENT_NONE 0
#define NOTIFICATION_EVENT_RESTORE_END 10
#define NOTIFICATION_EVENT_WAKEUP 11

// The words CeRunAppAtEvent and CeRunAppAtTime give as the command line.
#define APP_RUN_AT_TIME u"AppRunAtTime"
#define APP_RUN_AFTER_RESTORE u"AppRunAfterRestore"
#define APP_RUN_AFTER_WAKEUP u"AppRunAfterWakeup"

// The trigger's size on the device.
#define CE_NOTIFICATION_TRIGGER_SIZE 52u

// dwStatus of a read notification: 0 while it waits.
#define CNS_SIGNALLED 1u

struct CE_NOTIFICATION_TRIGGER {
  DWORD dwSize;
  DWORD dwType;
  DWORD dwEvent;
  WCHAR* lpszApplication;
  WCHAR* lpszArguments;
  SYSTEMTIME stStartTime;
  SYSTEMTIME stEndTime;
};
typedef CE_NOTIFICATION_TRIGGER* PCE_NOTIFICATION_TRIGGER;

struct CE_USER_NOTIFICATION {
  DWORD ActionFlags;
  WCHAR* pwszDialogTitle;
  WCHAR* pwszDialogText;
  WCHAR* pwszSound;
  DWORD nMaxSound;
  DWORD dwReserved;
};
typedef CE_USER_NOTIFICATION* PCE_USER_NOTIFICATION;

// What CeGetUserNotification fills its buffer with: this header, then the
// trigger it points to, then the application's and the arguments' texts
// that the trigger points to, all inside the one buffer.
struct CE_NOTIFICATION_INFO_HEADER {
  HANDLE hNotification;
  DWORD dwStatus;
  CE_NOTIFICATION_TRIGGER* pcent;
  CE_USER_NOTIFICATION* pceun;  // always null
};
typedef CE_NOTIFICATION_INFO_HEADER* PCE_NOTIFICATION_INFO_HEADER;

// Registers the notification (hNotification null) or replaces the one of
// hNotification. Returns its handle; null on failure.
HANDLE CeSetUserNotificationEx(HANDLE hNotification, CE_NOTIFICATION_TRIGGER* pcnt, CE_USER_NOTIFICATION* pceun);
// The handles in registration order. *pcHandlesNeeded (required) receives
// their count; with cHandles at least that count, rghNotifications
// receives them. Fewer (a null array with 0 asks for the count): FALSE
// with ERROR_INSUFFICIENT_BUFFER and the first cHandles filled.
BOOL CeGetUserNotificationHandles(HANDLE* rghNotifications, DWORD cHandles, LPDWORD pcHandlesNeeded);
// Reads one notification into pBuffer (layout above). *pcBytesNeeded
// (required) receives the size needed; a smaller cBufferSize or a null
// buffer fails with ERROR_INSUFFICIENT_BUFFER.
BOOL CeGetUserNotification(HANDLE hNotification, DWORD cBufferSize, LPDWORD pcBytesNeeded, LPBYTE pBuffer);
BOOL CeClearUserNotification(HANDLE hNotification);

// Registers a timed notification of the application with the command line
// APP_RUN_AT_TIME; a null time clears every timed notification of the
// application (names compared ignoring case).
BOOL CeRunAppAtTime(WCHAR* pwszAppName, SYSTEMTIME* lpTime);
// Registers an event notification of the application with the event's
// word as its command line (NOTIFICATION_EVENT_WAKEUP:
// APP_RUN_AFTER_WAKEUP, NOTIFICATION_EVENT_RESTORE_END:
// APP_RUN_AFTER_RESTORE; other events: ERROR_INVALID_PARAMETER);
// NOTIFICATION_EVENT_NONE clears every event notification of the
// application.
BOOL CeRunAppAtEvent(WCHAR* pwszAppName, LONG lWhichEvent);
