// The simulator's power and battery controls (cesim/power.h).
#include "ce/errors.h"
#include "cesim/power.h"
#include "power/power_state.h"

namespace ce {
namespace {
Device* CurrentOrFail() {
  Device* d = Device::Current();
  if (!d) SetLastError(ERROR_NOT_READY);
  return d;
}
}  // namespace

bool SetDevicePower(bool on, const std::string& cause) {
  Device* d = CurrentOrFail();
  return d && power::Switch(d, on, cause, 0);
}

bool DeviceIsOn() {
  Device* d = CurrentOrFail();
  return !d || power::IsOn(d);
}

bool SetDeviceBattery(double percent, bool ac, double drainPerHour) {
  Device* d = CurrentOrFail();
  if (!d || percent < 0 || percent > 100) return false;
  power::Battery b = power::ReadBattery(d);
  b.percent = percent;
  b.ac = ac;
  if (drainPerHour >= 0) b.drainPerHour = drainPerHour;
  return power::WriteBattery(d, b);
}

}  // namespace ce
