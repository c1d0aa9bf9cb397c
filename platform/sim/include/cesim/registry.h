// The simulator's control of this process's hive connections.
#pragma once

#include "ce/registry.h"

namespace ce {

// Closes every hive connection this process keeps (handles stay valid and
// reconnect on their next use). For resets and tools that remove devices.
void RegCloseHives();

}  // namespace ce
