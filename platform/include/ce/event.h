// Events: CreateEventW, OpenEventW, SetEvent, ResetEvent, and waits on them
// through WaitForSingleObject, WaitForMultipleObjects and
// MsgWaitForMultipleObjects (ce/process.h, ce/window.h).
//
// Semantics on this device:
// - A named event is one object for every device process: the first
//   CreateEventW of a name makes it (with its manual-reset and initial
//   state); a later CreateEventW of the same name (names compare ignoring
//   case) returns a new handle to the same event, ignores its own
//   manual-reset and initial-state arguments and sets ERROR_ALREADY_EXISTS
//   (183). OpenEventW only opens an event that exists: without one,
//   ERROR_FILE_NOT_FOUND (2).
// - An unnamed event (null or empty name) belongs to the process that made
//   it and can be used by all its threads; no other process sees it.
// - Manual-reset: once set, the event stays set, and every wait on it ends,
//   until ResetEvent. Auto-reset: a set event ends exactly one wait (across
//   processes too) and is reset by it; with nobody waiting it stays set
//   until a wait takes it. WaitForMultipleObjects with waitAll takes the
//   auto-reset events only when every handle is signalled at once.
// - A named event lives while a process holds a handle to it: when the last
//   handle is closed (or the last holding process ends) it is gone, and a
//   later CreateEventW makes a new, unset one. Every boot of the device
//   starts with no events; the boot itself holds the events of the shell
//   ("SYSTEM/GweApiSetReady", "SYSTEM/ShellAPIReady", manual-reset, set
//   once the shell is up) until the next boot.
// - Waits count their time-out on the device clock: while a kernel runs the
//   device, a wait of a device program lets the clock jump like a Sleep,
//   and a wait without limit on an event nobody sets leaves the device
//   waiting as any wait for ever does (the run's end time, or its time
//   limit, ends it).
#pragma once

#include "ce/types.h"

#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x001F0003u

// The names the boot sets once the shell is up.
inline constexpr const char16_t* kGweApiSetReadyEvent = u"SYSTEM/GweApiSetReady";
inline constexpr const char16_t* kShellApiReadyEvent = u"SYSTEM/ShellAPIReady";

// Longest event name, in characters (longer: ERROR_INVALID_PARAMETER).
inline constexpr unsigned kMaxEventName = 260;

// The security attributes are ignored. Null on failure (last error set);
// on success the last error is ERROR_ALREADY_EXISTS when a named event
// existed, else ERROR_SUCCESS. A named event needs a device
// (ERROR_NOT_READY without one).
HANDLE CreateEventW(LPVOID securityAttributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
// Opens an existing named event (access and inheritance are ignored);
// null with ERROR_FILE_NOT_FOUND when no process holds one of that name,
// ERROR_INVALID_PARAMETER for a null or empty name.
HANDLE OpenEventW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name);
// ERROR_INVALID_HANDLE for a handle that is not an event.
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
