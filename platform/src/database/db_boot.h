// The boot's part of the database layer (private to the platform; the
// boot sequence calls it).
#pragma once

#include <string>
#include <vector>

#include "cesim/device.h"

namespace ce::db {

// Before the init list: rolls back every store a reset left in the middle
// of a write (the volumes mounted before it, the profile's system volumes,
// the object store), then ends every mount. Returns a line per store it
// found mid-write.
std::vector<std::string> RecoverStores(Device* dev);

// After the init list: mounts a system volume for the system (existing
// files only). False with *problem when it cannot.
bool MountSystemVolume(Device* dev, const SystemVolume& v, std::string* problem);

}  // namespace ce::db
