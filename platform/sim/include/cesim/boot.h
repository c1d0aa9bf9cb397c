// The device's boot and the run that follows it (the simulator's boot
// emulation; device programs see only SignalStarted in ce/boot.h).
//
// A boot (BootDevice, or the boot after a reset inside RunOnDevice) goes
// through these phases, in this order:
//   - ending what is left: every device process still running ends (a boot
//     follows a reset);
//   - hive replacements: pending replacements (RegReplaceKeyW) are put in
//     place, before any process opens the registry;
//   - the boot mark: GetTickCount counts from here;
//   - resident programs: the resident system programs are taken as started;
//   - the launch list: the HKLM "init" launch list runs in ascending launch
//     number N. Each entry starts once every number in its "Depend" list has
//     signalled (SignalStarted). Entries naming a resident program count as
//     signalled at once; any other program is started with N as its whole
//     command line and is waited for (when another entry depends on it)
//     until it signals, ends, or the signal time limit expires;
//   - the startup folder: when the shell is up, every file of
//     "\Windows\StartUp" starts: a shortcut's target is split into its
//     program (quoted or bare; bare names go through the device's program
//     search) and the raw command line; a program file there is started
//     without a command line.
// A program may reset the device at any moment, also during the boot: the
// run then ends everything, counts the reset and boots again, until the
// reset budget is spent. The host process that runs the boot is the
// device's kernel: it never appears in the device's process table and
// survives every reset. One process at a time runs a device (it locks
// DIR/kernel.lock); another one fails with ERROR_LOCK_VIOLATION. A kernel
// that starts ends the programs an earlier kernel left running when it was
// killed, and names the programs it finds running from before (a run waits
// for them as for its own).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ce/boot.h"
#include "ce/types.h"

namespace ce {

inline constexpr const char16_t* kStartupFolder = u"\\Windows\\StartUp";

struct BootOptions {
  DWORD signalTimeoutMs = 10000;  // per launch entry that others wait for
  int maxResets = 5;              // resets in one run before it gives up
  DWORD runTimeoutMs = 120000;    // the whole run, until the device is idle
  // Receives every report line as it happens (may be empty).
  std::function<void(const std::string&)> onLine;
};

struct StartedProgram {
  DWORD pid = 0;
  std::u16string program;  // device path in stored case (as given when it could not be found)
  std::u16string commandLine;
  std::string origin;  // "init 21", "startup \Windows\StartUp\x.lnk", "run"
  int boot = 0;        // the boot it belongs to (0: before the first boot)
  std::optional<DWORD> exitCode;  // empty while still running
  // What ended it when the run or a reset did ("the time limit", "reset 2",
  // "a reset beyond the reset budget"); empty when it ended by itself or
  // still runs.
  std::string endedBy;
};

struct BootReport {
  int boots = 0;
  int resets = 0;  // resets performed during the run
  bool resetBudgetSpent = false;
  bool timedOut = false;
  std::vector<std::string> lines;  // UTF-8, in the order they happened
  std::vector<StartedProgram> started;
};

// Boots the current device and keeps it running until no device process
// is left (see above). False when the reset budget was spent, the time
// limit expired (the remaining processes are ended) or there is no device
// (ERROR_NOT_READY).
bool BootDevice(const BootOptions& options, BootReport* report);

// Starts program with the raw commandLine on the running device, then keeps
// the device running until idle, performing every reset and the boot after
// it. False as for BootDevice, or when the program cannot be started (the
// last error is CreateProcessW's).
bool RunOnDevice(std::u16string_view program, std::u16string_view commandLine, const BootOptions& options,
                 BootReport* report);

// A live entry of the device's process table (resident programs first).
struct DeviceProcess {
  DWORD pid = 0;
  DWORD parentPid = 0;
  std::u16string exe;
  std::u16string path;
  std::u16string commandLine;
  bool resident = false;
};
std::vector<DeviceProcess> ListDeviceProcesses();

// The launch numbers that have signalled since the last boot, ascending.
std::vector<DWORD> SignalledLaunches();

}  // namespace ce
