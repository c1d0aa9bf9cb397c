// The boot launch list's start signal. (The boot itself belongs to the
// simulator: cesim/boot.h.)
#pragma once

#include "ce/types.h"

// A program started from the boot launch list tells the boot that launch
// number n has started.
void SignalStarted(DWORD n);
