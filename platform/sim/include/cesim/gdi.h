// The simulator's count of drawing calls (nothing is rasterised, so the
// count is what shows that a program drew).
#pragma once

#include <cstdint>

#include "ce/gdi.h"

namespace ce {

// Drawing calls made so far by this process.
uint64_t GdiDrawCallCount();

}  // namespace ce
