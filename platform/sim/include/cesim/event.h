// The simulator's view of the device's named events (ce/event.h).
#pragma once

#include <string>
#include <vector>

namespace ce {

struct NamedEventInfo {
  std::u16string name;     // as first created
  bool manualReset = false;
  bool signalled = false;
  bool heldByBoot = false; // held by the booted device until the next boot
  int holders = 0;         // processes holding a handle to it
};
// The named events of the current device, oldest first (those of ended
// processes are dropped first). Empty without a device.
std::vector<NamedEventInfo> ListNamedEvents();

}  // namespace ce
