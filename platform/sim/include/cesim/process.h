// The simulator's side of device processes: how a program is started on
// the device (its environment), the host processes behind device processes,
// and the controls that end them or change a process's identity.
#pragma once

#include <cstdint>
#include <string_view>

#include "ce/process.h"
#include "ce/types.h"

namespace ce {

inline constexpr DWORD kResidentPidBase = 0x40000000u;  // above every host pid
inline constexpr const char* kProgramEnv = "QUILMO_PROGRAM";
inline constexpr const char* kCmdLineEnv = "QUILMO_CMDLINE";
// The descriptor on which a started program learns that its starter
// recorded it in the process table: one byte; an end without it means the
// starter was ended before that, and the program ends at once unrun.
inline constexpr const char* kStartGateEnv = "QUILMO_START_GATE";
inline constexpr int kStartGateFd = 3;

// Replaces this process's identity (tests; not thread-safe against
// concurrent readers).
void SetOwnProgramForTest(std::u16string_view programPath, std::u16string_view commandLine);

// Calls hook in every read of the process table, after the read's snapshot
// began and before the liveness of its rows is looked at (tests; null: none).
void SetProcessTableReadHookForTest(void (*hook)());

// Calls hook with the new pid in CreateProcessW after the program is
// started and before it is recorded in the process table (tests; null:
// none).
void SetProcessStartHookForTest(void (*hook)(DWORD pid));

// Kernel start time of a host process (/proc/<pid>/stat field 22); 0 when
// the process does not exist.
uint64_t HostProcessStartTime(int pid);
// True while the host process with that start time exists and is not a
// zombie.
bool HostProcessAlive(int pid, uint64_t startTime);

// Adds this process to the current device's process table (no-op when it
// is there or there is no device). Called by the program entry and lazily
// by the process calls.
void RegisterOwnProcess();

// Kills every live process of the current device's table (its exit code
// becomes CE_EXIT_ABNORMAL unless one was recorded) and waits for them to
// end. With includingSelf this process ends too and the call never
// returns. True when every other process has ended.
bool EndAllDeviceProcesses(bool includingSelf);

}  // namespace ce
