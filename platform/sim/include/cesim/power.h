// The simulator's side of device resets: the request every reset call ends
// in, and the requests recorded for the boot emulation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ce/power.h"
#include "ce/types.h"

namespace ce {

// Records a reset request made by `how` and ends every device process, this
// one too. Returns (false, ERROR_NOT_READY) only when there is no device;
// when the request cannot be recorded it returns false with
// ERROR_GEN_FAILURE and ends nothing.
bool RequestDeviceReset(DWORD how);
// The `how` of a reset made by the run's reset trap (cesim/calltrap.h).
inline constexpr DWORD kResetByTrap = 0x54524150u;

struct ResetRequest {
  int64_t requestedMs = 0;  // device clock
  int64_t pid = 0;
  DWORD how = 0;  // POWER_STATE_RESET, EWX_REBOOT, IOCTL_HAL_REBOOT or kResetByTrap
};
// The recorded reset requests, oldest first.
std::vector<ResetRequest> PendingResets();

// ---- power and battery (see ce/system.h) ----
// Turns the current device on or off as a user would; cause goes into the
// run's report ("cedev power on"). A turn-on from off is a wake-up: the
// running kernel, or the next one, fires the wake-up event. False when
// there is no device or the change cannot be recorded.
bool SetDevicePower(bool on, const std::string& cause);
bool DeviceIsOn();
// The battery from now on: its charge, the AC line and the drain rate in
// percent per device hour (negative: unchanged).
bool SetDeviceBattery(double percent, bool ac, double drainPerHour = -1);

}  // namespace ce
