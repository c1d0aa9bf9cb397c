// The simulator's controls of the device clock's tick counter.
#pragma once

#include "ce/time.h"
#include "ce/types.h"

namespace ce {

// Marks "now" as the device's boot: GetTickCount counts from here. The
// boot stamp lives in device.db; it is set on first use when missing.
void MarkDeviceBoot();
// Makes this process's GetTickCount read `tick` now (it keeps counting
// from there), so tests can let the counter wrap.
void SetTickBaseForTest(DWORD tick);

}  // namespace ce
