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
// reset budget is spent (the device is then down: the next run boots it).
//
// The run drives the device clock (cesim/clock.h): device time passes with
// the host's while a device process works; when every device process waits
// in the device API, the clock jumps to the earliest of their deadlines,
// the next timed notification, the idle-off time and the end of the run.
// Without an end time (BootOptions::untilMs) the run lasts until no device
// process is left and moves the clock only while some process waits for a
// time; with one it lasts until the device clock reaches it and every
// process waits, and the programs still running go on without the kernel
// (the next run finds them as running from before). Meanwhile the run
//   - prints what happens on the device, after its device time: programs
//     started and ended (with exit codes), power changes, wake-ups, events
//     and notification firings;
//   - turns the device off after the profile's idle-off minutes without
//     input (idle_off_minutes, 0 = never);
//   - on every turn-on from off (a wake-up) fires event 11 of the
//     notification store (cesim/notifystore.h) and waits for the programs
//     it starts, at most 30 s of device time, before timed notifications
//     fire; a timed notification that falls due while the device is off
//     turns it on first; a boot is no wake-up;
//   - fires the events queued by QueueNotificationEvent;
//   - stops (failing) when more than maxStartsPerMinute programs start
//     within one minute of device time: a program that keeps starting
//     programs. The host process that runs the boot is the
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
#include <string_view>
#include <vector>

#include "ce/boot.h"
#include "ce/types.h"
#include "cesim/calltrap.h"

namespace ce {

inline constexpr const char16_t* kStartupFolder = u"\\Windows\\StartUp";

struct BootOptions {
  DWORD signalTimeoutMs = 10000;  // per launch entry that others wait for
  int maxResets = 5;              // resets in one run before it gives up
  DWORD runTimeoutMs = 120000;    // the whole run in host time, until it is over
  // Device time (ms since 1970 UTC) at which the run ends; empty: when no
  // device process is left.
  std::optional<int64_t> untilMs;
  int maxStartsPerMinute = 100;   // program starts within one minute of device time
  // Receives every report line as it happens (may be empty).
  std::function<void(const std::string&)> onLine;
  // Counts the calls of the run's programs that change the device
  // (cesim/calltrap.h); resetAfter counts them too and resets the device
  // right after the Nth.
  bool countCalls = false;
  std::optional<ResetAfter> resetAfter;
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
  bool startLimitReached = false;  // too many programs started within a device minute
  bool programNotStarted = false;  // the run's program could not start (RunOnDevice)
  bool reachedEnd = false;         // the device clock reached untilMs
  int leftRunning = 0;             // device processes still running at the end
  std::vector<std::string> lines;  // UTF-8, in the order they happened
  std::vector<StartedProgram> started;
  std::optional<CallCounts> calls;   // when counted (countCalls, resetAfter)
  std::optional<TrapStrike> strike;  // where the reset trap struck

  // The lines, each ended by "\n".
  std::string Text() const {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
  }
  // Whether some line contains part.
  bool HasLine(std::string_view part) const {
    for (const auto& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
};

// Boots the current device and keeps it running until no device process
// is left (see above). False when the reset budget was spent, the time
// limit expired (the remaining processes are ended) or there is no device
// (ERROR_NOT_READY).
bool BootDevice(const BootOptions& options, BootReport* report);

// Starts program with the raw commandLine on the running device (booting
// it first when it is down), then keeps the device running, performing
// every reset and the boot after it. False as for BootDevice, or when the
// program cannot be started (the last error is CreateProcessW's).
bool RunOnDevice(std::u16string_view program, std::u16string_view commandLine, const BootOptions& options,
                 BootReport* report);
// Keeps the device running (booting it first when it is down) without
// starting a program: with an end time, the device clock runs up to it.
bool RunDevice(const BootOptions& options, BootReport* report);
// Whether the device is down: the next run boots it first.
bool DeviceIsDown();

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
