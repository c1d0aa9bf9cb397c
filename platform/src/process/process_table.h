// The device's process table in device.db (shared by the process calls,
// toolhelp and the message-box service).
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "ce/types.h"
#include "cesim/device.h"

namespace ce::proc {

struct Row {
  int pid = 0;
  uint64_t startTime = 0;
  std::u16string path;     // device path, stored case
  std::u16string exe;      // bare exe name, stored case
  std::u16string cmdLine;  // raw command line
  int parentPid = 0;
};

// Creates the tables this part owns (once per connection).
bool EnsureTables(Device* d);
// Device clock in milliseconds since 1970 UTC.
int64_t DeviceNowMs(Device* d);
// Adds a row unless (pid, start) is there already; false when the row
// could not be written.
bool Insert(Device* d, const Row& row);
// A process by its host identity: pid and kernel start time.
using Key = std::pair<int, uint64_t>;

// Rows without an exit code whose host process is alive, in start order.
// Complete: every program that a process ended meanwhile had started is
// among them while it lives (see ReadLiveRows).
std::vector<Row> LiveRows(Device* d);
// One read of the table, in the caller's read transaction when it holds
// one. The liveness of each row is looked at after the read's snapshot
// began, so a process that ended in between may have started programs the
// snapshot lacks: *gone receives the rows without an exit code whose
// process is gone. A read is complete only when each of them was already
// seen gone before the read began.
std::vector<Row> ReadLiveRows(Device* d, std::vector<Key>* gone);

// The kernel: the host process that runs the device (ce/boot.h). While one
// runs, every process started on the device is noted as belonging to it;
// when a kernel ends without ending its processes (killed), the next one
// finds them by that note.
bool SetKernel(Device* d, int pid, uint64_t start);
// Forgets the kernel, if it is still the one given.
void ClearKernel(Device* d, int pid, uint64_t start);
// Notes (pid, start) as belonging to the running kernel (none: nothing).
bool NoteKernel(Device* d, int pid, uint64_t start);
// Forgets that (pid, start) belongs to a kernel: a kernel that ends while
// the process goes on running lets it go.
void ReleaseFromKernel(Device* d, int pid, uint64_t start);
// Live rows that belong to a kernel whose host process is gone.
struct Orphan {
  Row row;
  int kernelPid = 0;
};
std::vector<Orphan> Orphans(Device* d);
// Stores code unless a code is recorded already; returns the stored code
// (nullopt when there is no row or the code could not be stored).
std::optional<DWORD> RecordExit(Device* d, int pid, uint64_t start, DWORD code);
std::optional<DWORD> ExitCode(Device* d, int pid, uint64_t start);
// Removes a code that RecordExit stored when the kill failed.
void UndoExit(Device* d, int pid, uint64_t start, DWORD code);
// Where the programs this process starts write their stdout and stderr
// (a descriptor of this process; -1: they inherit this process's own, with
// its stdin). The kernel sets it, so that programs that outlive it hold
// none of its output.
void SetChildOutput(int fd);
int ChildOutput();
// The device's resident programs (profile, else the default set).
std::vector<std::u16string> ResidentNames(Device* d);
// Last component of a device path.
std::u16string BareName(const std::u16string& devicePath);

}  // namespace ce::proc
