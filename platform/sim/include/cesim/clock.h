// The device clock as a running kernel drives it (cesim/boot.h).
//
// While a kernel runs the device, device time passes with the host's as
// long as one device process works; when every device process waits in a
// blocking call of the device API (Sleep, a timed wait, a message wait, a
// wait for a process), the kernel moves the clock to the earliest deadline
// of those waits and of its own. Programs on a device that a kernel has run
// never move the clock themselves (the window layer's headless loops then
// wait for their timers instead of jumping to them).
#pragma once

#include <memory>

namespace ce {

namespace clock {
class BusyHold;
}

// True while a kernel drives the current device's clock (and this process
// is not that kernel).
bool DeviceClockDriven();
// True once a kernel has driven the current device's clock.
bool DeviceClockEverDriven();

// While one lives, this process counts as working even while a thread of it
// waits (a worker thread computes beside it, a user looks at the screen):
// the kernel does not move the clock.
class ClockBusy {
 public:
  ClockBusy();
  ~ClockBusy();
  ClockBusy(const ClockBusy&) = delete;
  ClockBusy& operator=(const ClockBusy&) = delete;

 private:
  std::unique_ptr<clock::BusyHold> hold_;
};

}  // namespace ce
