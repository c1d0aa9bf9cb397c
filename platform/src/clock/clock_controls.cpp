// The simulator's view of the driven device clock (cesim/clock.h).
#include "cesim/clock.h"

#include "ce/errors.h"
#include "clock/device_clock.h"

namespace ce {

bool DeviceClockDriven() {
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  bool driven = d && clock::Driven(d);
  SetLastError(saved);
  return driven;
}

bool DeviceClockEverDriven() {
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  bool once = d && clock::EverDriven(d);
  SetLastError(saved);
  return once;
}

ClockBusy::ClockBusy() : hold_(std::make_unique<clock::BusyHold>()) {}
ClockBusy::~ClockBusy() = default;

}  // namespace ce
