// Device services for the engine: closing the other running programs
// before a backup or restore, keeping the device from suspending during
// long transfers, and resetting the device after flushing the registry and
// the database volumes. Everything logs without a class name.
#pragma once

#include <functional>

#include "ce/collections.h"
#include "ce/cstring.h"
#include "ce/types.h"

class ITaskProgress;

// KillProcesses modes. Every mode spares the never-closed programs; modes
// 1 and 2 also spare the custom exclude list and the system programs; mode
// 1 also the connection programs. Backup and restore use mode 1.
enum KillProcessesMode {
  kKillAllButNeverClosed = 0,
  kKillKeepSystemAndConnection = 1,
  kKillKeepSystem = 2,
};

// Seconds each closing pass may take: product setting "KillProcessesDelay".
inline constexpr DWORD kDefaultKillProcessesDelay = 10;

// Closes every other device program that the mode does not spare: posts
// WM_CLOSE to one top-level window of each ("PMSNServer.exe" never gets
// one), waits up to KillProcessesDelay seconds for them, then terminates
// what still runs with exit code -1 and waits again as long. Does nothing
// (and succeeds) without the toolhelp library. False only when the
// process list cannot be read. `progress` is not used yet.
bool KillProcesses(int mode, ITaskProgress* progress);
// Appends the names of a process exclude file (8-bit text in the ANSI code
// page, one exe name per line, "%" starts a comment line, at most 100 lines
// read; CR LF or LF line ends, blanks around a name ignored). False when
// the file cannot be opened.
bool ReadProcessExcludeFile(const CString& path, CStringArray& list);
// Whether the process list can be read: the registered flag (the global
// state's, set by the start-up from the file "\windows\toolhelp.dll");
// without one the file is looked up on each call.
bool ToolhelpAvailable();
// Registers the flag ToolhelpAvailable answers (null: the file lookup
// again). The owner keeps it alive while registered.
void SetToolhelpFlag(const bool* flag);
const bool* GetToolhelpFlag();

// At most once a second (or when the tick counter wrapped): a silent key
// down and up of virtual key 1 and a reset of the idle timer. The first
// call only notes the time.
void KeepDeviceAwake();

// Flushes the registry roots and the database volumes as asked, then resets
// the device: with `reboot` through the shell (platform version 0x510 and
// later) or the reset power state first; in any case then through the
// kernel's reboot control. The log is closed before each attempt. Returns
// only when every attempt failed.
void RebootDevice(bool flushDatabases, bool flushRegistry, bool reboot);

// Flushes every mounted database volume. The database layer installs it;
// until then the flush step only logs.
using DatabaseVolumeFlusher = std::function<void()>;
void SetDatabaseVolumeFlusher(DatabaseVolumeFlusher flusher);
