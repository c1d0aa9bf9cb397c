// The kernel's way to the device's user notifications: what the kernel
// (cesim/boot.h) asks of the notification store while it runs the device.
//
// The kernel drives the device clock: it asks the store when the next timed
// notification falls due and jumps no further than that; when one is due it
// turns the device on if it is off (a wake-up: event 11 fires first, and the
// programs that starts are waited for, at most 30 s of device time) and
// then asks the store to fire what is due. It fires an event when one
// happens (a wake-up, `cedev event`), and tells the store when a boot has
// finished, before anything that fell due meanwhile fires late.
//
// Starting a program goes through the kernel's port, so that the run
// tracks it and prints it; the store decides what to start, in which order,
// what to record and what to print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ce/types.h"
#include "cesim/device.h"

namespace ce {

// Events of event-triggered notifications the kernel fires.
inline constexpr DWORD kNotifyEventWakeUp = 11;

// What the kernel lends the store while it fires.
class NotificationKernelPort {
 public:
  virtual ~NotificationKernelPort() = default;
  // Starts a device program as a firing does (CreateProcessW: bare names
  // through the device's program search; commandLine is the whole raw
  // command line). origin names the cause in the run's report
  // ("notification 12"). False with the last error set when it cannot
  // start; *pid receives the new process id.
  virtual bool StartProgram(std::u16string_view program, std::u16string_view commandLine, const std::string& origin,
                            DWORD* pid) = 0;
  // A line for the run's report (a firing, a dropped entry); the kernel
  // puts the device time before it.
  virtual void Report(const std::string& line) = 0;
};

class NotificationStore {
 public:
  virtual ~NotificationStore() = default;
  // Device time (ms since 1970 UTC, the device clock) at which the earliest
  // timed notification falls due; empty when none is registered.
  virtual std::optional<int64_t> NextDueMs(Device* d) = 0;
  // Fires every timed notification due at or before nowMs, in the order
  // they fall due.
  virtual void FireDue(Device* d, int64_t nowMs, NotificationKernelPort& port) = 0;
  // Fires the notifications registered for event n; returns the process
  // ids of the programs started.
  virtual std::vector<DWORD> FireEvent(Device* d, DWORD n, NotificationKernelPort& port) = 0;
  // A boot has finished (the Startup folder has run); what fell due before
  // it fires late next.
  virtual void AfterBoot(Device* d, NotificationKernelPort& port) = 0;
};

// The store the kernel uses: the one installed for a test, else the
// platform's own.
NotificationStore& DeviceNotificationStore();
// Installs a store for tests (null: the platform's own again). The caller
// keeps it alive while installed.
void SetNotificationStoreForTest(NotificationStore* store);

// Tests of how a timed notification fires exactly once: a kernel whose
// environment sets this variable to one of the points below kills itself
// (SIGKILL) when a firing gets there:
//   recorded        the firing is recorded, its program not started yet
//   started         the program has started, the start is not recorded
//   start-recorded  the start is recorded, the notification still queued
//   removed         the notification is removed, the firing still recorded
inline constexpr const char* kNotifyKillEnv = "QUILMO_NOTIFY_KILL_AT";

// Signals event n for the device's notifications: the running kernel, or
// the next one, fires it. False when it cannot be recorded.
bool QueueNotificationEvent(DWORD n);

}  // namespace ce
