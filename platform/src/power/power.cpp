// Device resets (see ce/power.h).
#include "ce/power.h"

#include <unistd.h>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/time.h"
#include "cesim/device.h"
#include "cesim/power.h"
#include "cesim/process.h"
#include "process/process_table.h"

namespace ce {
namespace {

bool EnsureResetTable(Device* d) {
  // The same layout as the reset bookkeeping of ce/system.h.
  return d->Exec(
      "CREATE TABLE IF NOT EXISTS pending_reset(id INTEGER PRIMARY KEY, requested_ms INTEGER, pid INTEGER,"
      " state INTEGER);"
      "CREATE TABLE IF NOT EXISTS reset_victims(request INTEGER NOT NULL, pid INTEGER NOT NULL,"
      " start_time INTEGER NOT NULL);");
}

}  // namespace

bool RequestDeviceReset(DWORD how) {
  Device* d = Device::Current();
  if (!d) {
    SetLastError(ERROR_NOT_READY);
    return false;
  }
  // The request names the processes it ends (this one among them), so
  // that the run can tell a program ended by a reset from one that failed.
  std::vector<proc::Row> victims = proc::LiveRows(d);
  const int self = static_cast<int>(getpid());
  proc::Row own;
  own.pid = self;
  own.startTime = HostProcessStartTime(self);
  victims.push_back(own);
  bool recorded = false;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    recorded = EnsureResetTable(d) && d->Transaction([&] {
      Stmt s(d->Db(), "INSERT INTO pending_reset(requested_ms, pid, state) VALUES(?, ?, ?)");
      if (!s.Bind(1, DeviceNowMs()).Bind(2, static_cast<int64_t>(self)).Bind(3, int64_t{how}).Run()) return false;
      const int64_t request = sqlite3_last_insert_rowid(d->Db());
      for (const proc::Row& v : victims) {
        Stmt e(d->Db(), "INSERT INTO reset_victims(request, pid, start_time) VALUES(?, ?, ?)");
        if (!e.Bind(1, request).Bind(2, v.pid).Bind(3, static_cast<int64_t>(v.startTime)).Run()) return false;
      }
      return true;
    });
  }
  if (!recorded) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  EndAllDeviceProcesses(true);  // does not return
  return true;
}

std::vector<ResetRequest> PendingResets() {
  std::vector<ResetRequest> out;
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  SetLastError(saved);
  if (!d) return out;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT requested_ms, pid, state FROM pending_reset ORDER BY id");
  while (s.ok() && s.Step()) out.push_back(ResetRequest{s.Int(0), s.Int(1), static_cast<DWORD>(s.Int(2))});
  return out;
}

}  // namespace ce

BOOL ExitWindowsEx(UINT flags, DWORD) {
  if ((flags & ~EWX_FORCE) != EWX_REBOOT) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return ce::RequestDeviceReset(EWX_REBOOT) ? TRUE : FALSE;
}

BOOL KernelIoControl(DWORD code, LPVOID, DWORD, LPVOID, DWORD, LPDWORD bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  if (code != IOCTL_HAL_REBOOT) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return ce::RequestDeviceReset(IOCTL_HAL_REBOOT) ? TRUE : FALSE;
}
