// Toolhelp process snapshots over the device's process table.
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "ce/errors.h"
#include "ce/process.h"
#include "cesim/device.h"
#include "cesim/process.h"
#include "process/process_table.h"

namespace ce {
namespace {

class Snapshot : public HandleObject {
 public:
  std::mutex lock;
  std::vector<PROCESSENTRY32W> entries;
  size_t next = 0;
};

PROCESSENTRY32W MakeEntry(DWORD pid, DWORD parent, const std::u16string& exe) {
  PROCESSENTRY32W e{};
  e.dwSize = sizeof(PROCESSENTRY32W);
  e.cntUsage = 1;
  e.th32ProcessID = pid;
  e.cntThreads = 1;
  e.th32ParentProcessID = parent;
  e.pcPriClassBase = 3;  // normal priority
  size_t n = std::min<size_t>(exe.size(), MAX_PATH - 1);
  std::copy_n(exe.data(), n, e.szExeFile);
  e.szExeFile[n] = 0;
  return e;
}

BOOL Fill(HANDLE h, LPPROCESSENTRY32W entry, bool first) {
  auto snap = GetHandle<Snapshot>(h);
  if (!snap) return FALSE;
  if (!entry || entry->dwSize < sizeof(PROCESSENTRY32W)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(snap->lock);
  if (first) snap->next = 0;
  if (snap->next >= snap->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  DWORD size = entry->dwSize;
  *entry = snap->entries[snap->next++];
  entry->dwSize = size;
  return TRUE;
}

}  // namespace
}  // namespace ce

using namespace ce;

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  auto snap = std::make_shared<Snapshot>();
  if (flags & TH32CS_SNAPPROCESS) {
    DWORD saved = GetLastError();
    Device* d = Device::Current();
    SetLastError(saved);
    std::vector<std::u16string> resident = proc::ResidentNames(d);
    for (size_t i = 0; i < resident.size(); ++i) {
      DWORD pid = kResidentPidBase + static_cast<DWORD>(i);
      snap->entries.push_back(MakeEntry(pid, i == 0 ? 0 : kResidentPidBase, resident[i]));
    }
    if (d) {
      RegisterOwnProcess();
      for (const auto& r : proc::LiveRows(d)) {
        snap->entries.push_back(
            MakeEntry(static_cast<DWORD>(r.pid), static_cast<DWORD>(r.parentPid), r.exe));
      }
    } else {
      snap->entries.push_back(
          MakeEntry(GetCurrentProcessId(), 0, proc::BareName(OwnProgramPath())));
    }
  }
  return AddHandle(snap);
}

BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  return Fill(snapshot, entry, true);
}

BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  return Fill(snapshot, entry, false);
}

BOOL CloseToolhelp32Snapshot(HANDLE snapshot) {
  if (!GetHandle<Snapshot>(snapshot)) return FALSE;
  return CloseHandle(snapshot);
}
