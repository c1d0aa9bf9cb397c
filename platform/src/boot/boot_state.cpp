#include "boot/boot_state.h"

#include "ce/process.h"
#include "ce/time.h"
#include "cesim/process.h"

namespace ce::boot {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS pending_hive(id INTEGER PRIMARY KEY, path TEXT NOT NULL, requested_ms INTEGER);"
    "CREATE TABLE IF NOT EXISTS boot_signal(n INTEGER PRIMARY KEY, pid INTEGER, time_ms INTEGER);"
    "CREATE TABLE IF NOT EXISTS pending_reset(id INTEGER PRIMARY KEY, requested_ms INTEGER, pid INTEGER,"
    " state INTEGER);"
    "CREATE TABLE IF NOT EXISTS reset_victims(request INTEGER NOT NULL, pid INTEGER NOT NULL,"
    " start_time INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS boot_phase(id INTEGER PRIMARY KEY CHECK(id = 1), pid INTEGER NOT NULL,"
    " start INTEGER NOT NULL);";

bool Ensure(Device* d) { return d && d->EnsureSchema(kSchema); }

}  // namespace

bool RecordHiveReplacement(Device* d, const std::u16string& newFile) {
  if (!Ensure(d)) return false;
  return d->Transaction([&] {
    Stmt del(d->Db(), "DELETE FROM pending_hive");
    Stmt ins(d->Db(), "INSERT INTO pending_hive(path, requested_ms) VALUES(?, ?)");
    return del.Run() && ins.Bind(1, std::u16string_view(newFile)).Bind(2, DeviceNowMs()).Run();
  });
}

std::vector<std::u16string> HiveReplacements(Device* d) {
  std::vector<std::u16string> out;
  if (!Ensure(d)) return out;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt sel(d->Db(), "SELECT path FROM pending_hive ORDER BY id");
  while (sel.Step()) out.push_back(sel.Text16(0));
  return out;
}

bool ClearHiveReplacements(Device* d) {
  if (!Ensure(d)) return false;
  return d->Transaction([&] { return Stmt(d->Db(), "DELETE FROM pending_hive").Run(); });
}

bool RecordSignal(Device* d, DWORD n, int64_t pid) {
  if (!Ensure(d)) return false;
  return d->Transaction([&] {
    Stmt s(d->Db(), "INSERT OR REPLACE INTO boot_signal(n, pid, time_ms) VALUES(?, ?, ?)");
    return s.Bind(1, int64_t{n}).Bind(2, pid).Bind(3, DeviceNowMs()).Run();
  });
}

bool ClearSignals(Device* d) {
  if (!Ensure(d)) return false;
  return d->Transaction([&] { return Stmt(d->Db(), "DELETE FROM boot_signal").Run(); });
}

std::vector<DWORD> Signals(Device* d) {
  std::vector<DWORD> out;
  if (!Ensure(d)) return out;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT n FROM boot_signal ORDER BY n");
  while (s.Step()) out.push_back(static_cast<DWORD>(s.Int(0)));
  return out;
}

int TakeResetRequests(Device* d) {
  int n = 0;
  if (!Ensure(d)) return 0;
  d->Transaction([&] {
    Stmt c(d->Db(), "SELECT count(*) FROM pending_reset");
    n = c.Step() ? static_cast<int>(c.Int(0)) : 0;
    return Stmt(d->Db(), "DELETE FROM pending_reset").Run() && Stmt(d->Db(), "DELETE FROM reset_victims").Run();
  });
  return n;
}

std::vector<int64_t> ResetVictims(Device* d) {
  std::vector<int64_t> out;
  if (!Ensure(d)) return out;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(),
         "SELECT DISTINCT pid FROM reset_victims WHERE request IN (SELECT id FROM pending_reset) ORDER BY pid");
  while (s.Step()) out.push_back(s.Int(0));
  return out;
}

bool EnterInitPhase(Device* d, int64_t kernelPid, int64_t kernelStart) {
  if (!Ensure(d)) return false;
  return d->Transaction([&] {
    Stmt s(d->Db(), "INSERT OR REPLACE INTO boot_phase(id, pid, start) VALUES(1, ?, ?)");
    return s.Bind(1, kernelPid).Bind(2, kernelStart).Run();
  });
}

bool LeaveInitPhase(Device* d) {
  if (!Ensure(d)) return false;
  return d->Transaction([&] { return Stmt(d->Db(), "DELETE FROM boot_phase").Run(); });
}

bool InInitPhase(Device* d) {
  if (!Ensure(d)) return false;
  int64_t pid = 0, start = 0;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), "SELECT pid, start FROM boot_phase WHERE id = 1");
    if (!s.Step()) return false;
    pid = s.Int(0);
    start = s.Int(1);
  }
  return pid > 0 && HostProcessAlive(static_cast<int>(pid), static_cast<uint64_t>(start));
}

}  // namespace ce::boot
