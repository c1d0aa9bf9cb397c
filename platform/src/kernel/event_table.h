// The boot's side of named events (private to the platform; ce/event.h).
#pragma once

#include <string_view>

#include "cesim/device.h"

namespace ce::event {

// Forgets every named event and holder: a boot starts with none.
bool ClearAll(Device* d);
// Makes (or takes over) the named event as one the booted device holds
// until the next boot, in the state given.
bool HoldForBoot(Device* d, std::u16string_view name, bool manual, bool set);

}  // namespace ce::event
