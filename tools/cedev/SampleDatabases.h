// The property databases of the sample device: the object store's PIM
// databases, the personal-information volume, the mail store, the system
// volumes with the notification queue, and a notes volume. Made through
// the device API from a fixed seed, so two sample devices hold the same
// bytes.
#pragma once

#include <string>
#include <vector>

#include "cesim/device.h"

namespace cedev {

// The volumes the sample device's system holds (the profile's
// system_volume lines).
std::vector<ce::SystemVolume> SampleSystemVolumes();

// Fills the databases of the current device (its files and registry made
// already). False with a message.
bool CreateSampleDatabases(std::string* error);

}  // namespace cedev
