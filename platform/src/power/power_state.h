// The device's power and battery (private to the platform).
//
// The device is on or off. The power state name and bit that
// GetSystemPowerState reports live in device.db (meta power_state_name,
// power_state_flags); the states "suspend" and "off" mean off, every other
// state on. Each change between on and off is logged (table power_changes)
// with its cause, so that the kernel prints it and treats a turn-on from off
// as a wake-up. The idle-off timer counts from the last input, idle-timer
// reset or turn-on (meta idle_since_ms).
//
// The battery drains with device time: device.db keeps the charge at a
// reference time, the AC line and the drain rate (seeded from the profile
// on first use).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ce/types.h"
#include "cesim/device.h"

namespace ce::power {

bool EnsureTables(Device* d);

// Whether the state bit stands for on.
bool IsOnState(DWORD flags);
bool IsOn(Device* d);

// Sets the named state; logs a change with `cause` when it moves the device
// between on and off (and restarts the idle timer on a turn-on). pid is
// the process that asked (0: the kernel or the device tool).
bool SetState(Device* d, const std::u16string& name, DWORD flags, const std::string& cause, int64_t pid);
// Off: the state "suspend"; on: the state "on".
bool Switch(Device* d, bool on, const std::string& cause, int64_t pid);

// Restarts the idle-off timer (input, keys, SystemIdleTimerReset).
void NoteActivity(Device* d);
// Device time the idle-off timer counts from.
int64_t IdleSinceMs(Device* d);

struct Change {
  int64_t ms = 0;  // device clock
  bool on = false;
  bool wakeUp = false;  // a turn-on from off
  std::string cause;
  int64_t pid = 0;
};
// The changes nobody has taken yet, oldest first; they count as taken.
std::vector<Change> TakeChanges(Device* d);
// Marks every untaken change taken (a boot: what came before it is over).
void DropChanges(Device* d);

struct Battery {
  double percent = 100;      // now, not rounded
  bool ac = true;
  double drainPerHour = 0;   // percent per device hour while on battery
};
// The battery now (drained by the whole device seconds since it was set).
Battery ReadBattery(Device* d);
// Sets the charge now, the AC line and the drain rate.
bool WriteBattery(Device* d, const Battery& b);

}  // namespace ce::power
