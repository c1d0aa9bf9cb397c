// Fuzz entry point of the kiosk deployment's options reader: the entries of
// any bytes applied to the kiosk configuration key of a scratch device
// (a bad file comes back as false instead of ending the program), then the
// getters read the key back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/DeployOptions.h"
#include "fuzz_device.h"

int FuzzDeployOptions(const uint8_t* data, size_t size) {
  FuzzDevice();
  ADeployOptions options;
  options.Apply(std::string_view(reinterpret_cast<const char*>(data), size));
  options.GetAutorun();
  options.GetLogin();
  options.GetBackupFileName();
  options.GetHoursBetween();
  options.GetMinutesBetween();
  return 0;
}
