// The simulator's record of system calls that have no visible effect on
// the device: reset requests and input events.
#pragma once

#include <string>
#include <vector>

#include "ce/system.h"
#include "ce/types.h"

namespace ce {

// Reset requests recorded by SetSystemPowerState (device.db table
// pending_reset); 0 without a device.
int PendingResetRequests();

// A recorded keybd_event ("key") or SystemIdleTimerReset ("idle").
struct InputEvent {
  std::string kind;
  int vk = 0;
  DWORD flags = 0;
  long long pid = 0;
};
// Every input event recorded on the device, oldest first.
std::vector<InputEvent> RecordedInputEvents();

}  // namespace ce
