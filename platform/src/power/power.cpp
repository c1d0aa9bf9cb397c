// Device resets (see ce/power.h).
#include "ce/power.h"

#include <unistd.h>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/time.h"
#include "cesim/device.h"
#include "cesim/power.h"
#include "cesim/process.h"

namespace ce {
namespace {

bool EnsureResetTable(Device* d) {
  // The same layout as the reset bookkeeping of ce/system.h.
  return d->Exec(
      "CREATE TABLE IF NOT EXISTS pending_reset(id INTEGER PRIMARY KEY, requested_ms INTEGER, pid INTEGER,"
      " state INTEGER);");
}

}  // namespace

bool RequestDeviceReset(DWORD how) {
  Device* d = Device::Current();
  if (!d) {
    SetLastError(ERROR_NOT_READY);
    return false;
  }
  bool recorded = false;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    if (EnsureResetTable(d)) {
      Stmt s(d->Db(), "INSERT INTO pending_reset(requested_ms, pid, state) VALUES(?, ?, ?)");
      recorded = s.Bind(1, DeviceNowMs()).Bind(2, static_cast<int64_t>(getpid())).Bind(3, int64_t{how}).Run();
    }
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
