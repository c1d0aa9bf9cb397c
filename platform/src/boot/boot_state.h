// The boot's bookkeeping in device.db (private to the platform): pending
// hive replacements and the launch numbers that have signalled.
#pragma once

#include <string>
#include <vector>

#include "ce/types.h"
#include "cesim/device.h"

namespace ce::boot {

// Records newFile (a device path in stored case) to replace the system hive
// at the next boot; an earlier pending replacement is dropped.
bool RecordHiveReplacement(Device* d, const std::u16string& newFile);
// The pending replacements (at most one), and their removal once applied.
std::vector<std::u16string> HiveReplacements(Device* d);
bool ClearHiveReplacements(Device* d);

bool RecordSignal(Device* d, DWORD n, int64_t pid);
bool ClearSignals(Device* d);
std::vector<DWORD> Signals(Device* d);

// Deletes every recorded reset request; returns how many there were.
int TakeResetRequests(Device* d);
// The host pids of the processes the pending reset requests ended.
std::vector<int64_t> ResetVictims(Device* d);

// The boot's init phase: from the start of the launch list until the shell
// runs the Startup folder. The user hive is not loaded then, so the system
// does not hold its file. The phase is recorded with the kernel process
// (pid, start time) that runs the boot: a phase left by a kernel that is
// gone does not count.
bool EnterInitPhase(Device* d, int64_t kernelPid, int64_t kernelStart);
bool LeaveInitPhase(Device* d);
bool InInitPhase(Device* d);

}  // namespace ce::boot
