#include "process/process_table.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>

#include "ce/process.h"
#include "cesim/process.h"
#include "clock/device_clock.h"

namespace ce::proc {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS processes("
    " pid INTEGER NOT NULL, start_time INTEGER NOT NULL,"
    " path TEXT NOT NULL, exe TEXT NOT NULL, cmdline TEXT NOT NULL,"
    " parent_pid INTEGER, exit_code INTEGER, started_ms INTEGER,"
    " PRIMARY KEY(pid, start_time));"
    "CREATE TABLE IF NOT EXISTS screen_log("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, time_ms INTEGER NOT NULL, pid INTEGER NOT NULL,"
    " program TEXT NOT NULL, caption TEXT NOT NULL, text TEXT NOT NULL,"
    " style INTEGER NOT NULL, answer INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS msgbox_answers("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, match TEXT, answer INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS process_kernels("
    " pid INTEGER NOT NULL, start_time INTEGER NOT NULL,"
    " kernel_pid INTEGER NOT NULL, kernel_start INTEGER NOT NULL,"
    " PRIMARY KEY(pid, start_time));";

const char16_t* const kDefaultResident[] = {u"NK.EXE",       u"filesys.exe",  u"device.exe",
                                            u"gwes.exe",     u"services.exe", u"shell32.exe",
                                            u"connmgr.exe",  u"repllog.exe"};

std::atomic<void (*)()> gReadHook{nullptr};

}  // namespace

bool EnsureTables(Device* d) { return d->EnsureSchema(kSchema); }

int64_t DeviceNowMs(Device* d) {
  using namespace std::chrono;
  int64_t host = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return host + (d ? d->ClockOffsetMs() : 0);
}

bool Insert(Device* d, const Row& row) {
  if (!EnsureTables(d)) return false;
  int64_t now = DeviceNowMs(d);
  return d->Transaction([&] {
    Stmt s(d->Db(),
           "INSERT INTO processes(pid, start_time, path, exe, cmdline, parent_pid, exit_code,"
           " started_ms) VALUES(?, ?, ?, ?, ?, ?, NULL, ?) ON CONFLICT(pid, start_time) DO NOTHING");
    return s.Bind(1, row.pid)
               .Bind(2, static_cast<int64_t>(row.startTime))
               .Bind(3, std::u16string_view(row.path))
               .Bind(4, std::u16string_view(row.exe))
               .Bind(5, std::u16string_view(row.cmdLine))
               .Bind(6, row.parentPid)
               .Bind(7, now)
               .Run() &&
           NoteKernel(d, row.pid, row.startTime);
  });
}

bool SetKernel(Device* d, int pid, uint64_t start) {
  if (!EnsureTables(d)) return false;
  return d->Transaction([&] {
    Stmt p(d->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES('kernel_pid', ?)");
    Stmt t(d->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES('kernel_start', ?)");
    return p.Bind(1, pid).Run() && t.Bind(1, static_cast<int64_t>(start)).Run();
  });
}

void ClearKernel(Device* d, int pid, uint64_t start) {
  if (!EnsureTables(d)) return;
  // A failure leaves a record of a process that is gone, which counts as
  // no kernel (NoteKernel checks that it lives).
  d->Transaction([&] {
    Stmt s(d->Db(),
           "DELETE FROM meta WHERE key IN ('kernel_pid', 'kernel_start') AND"
           " (SELECT value FROM meta WHERE key = 'kernel_pid') = ? AND"
           " (SELECT value FROM meta WHERE key = 'kernel_start') = ?");
    return s.Bind(1, pid).Bind(2, static_cast<int64_t>(start)).Run();
  });
}

bool NoteKernel(Device* d, int pid, uint64_t start) {
  if (!EnsureTables(d)) return false;
  return d->Transaction([&] {
    Stmt k(d->Db(),
           "SELECT (SELECT value FROM meta WHERE key = 'kernel_pid'),"
           " (SELECT value FROM meta WHERE key = 'kernel_start')");
    if (!k.Step() || k.IsNull(0) || k.IsNull(1)) return true;
    const int kernelPid = static_cast<int>(k.Int(0));
    const uint64_t kernelStart = static_cast<uint64_t>(k.Int(1));
    if (!HostProcessAlive(kernelPid, kernelStart)) return true;  // left by a kernel that was killed
    Stmt s(d->Db(),
           "INSERT OR IGNORE INTO process_kernels(pid, start_time, kernel_pid, kernel_start)"
           " VALUES(?, ?, ?, ?)");
    return s.Bind(1, pid)
        .Bind(2, static_cast<int64_t>(start))
        .Bind(3, kernelPid)
        .Bind(4, static_cast<int64_t>(kernelStart))
        .Run();
  });
}

void ReleaseFromKernel(Device* d, int pid, uint64_t start) {
  if (!EnsureTables(d)) return;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "DELETE FROM process_kernels WHERE pid = ? AND start_time = ?");
  // A failure leaves the note: the next run then ends the process as left
  // by a killed kernel.
  s.Bind(1, pid).Bind(2, static_cast<int64_t>(start)).Run();
}

std::vector<Orphan> Orphans(Device* d) {
  std::vector<Orphan> out;
  if (!EnsureTables(d)) return out;
  std::vector<Row> live = LiveRows(d);
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  for (Row& r : live) {
    Stmt s(d->Db(), "SELECT kernel_pid, kernel_start FROM process_kernels WHERE pid = ? AND start_time = ?");
    if (!s.Bind(1, r.pid).Bind(2, static_cast<int64_t>(r.startTime)).Step()) continue;
    const int kernelPid = static_cast<int>(s.Int(0));
    if (HostProcessAlive(kernelPid, static_cast<uint64_t>(s.Int(1)))) continue;
    out.push_back({std::move(r), kernelPid});
  }
  return out;
}

std::vector<Row> ReadLiveRows(Device* d, std::vector<Key>* gone) {
  std::vector<Row> rows;
  if (!EnsureTables(d)) return rows;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  {
    Stmt s(d->Db(),
           "SELECT pid, start_time, path, exe, cmdline, parent_pid FROM processes"
           " WHERE exit_code IS NULL ORDER BY started_ms, rowid");
    while (s.Step()) {
      Row r;
      r.pid = static_cast<int>(s.Int(0));
      r.startTime = static_cast<uint64_t>(s.Int(1));
      r.path = s.Text16(2);
      r.exe = s.Text16(3);
      r.cmdLine = s.Text16(4);
      r.parentPid = static_cast<int>(s.Int(5));
      rows.push_back(std::move(r));
    }
  }
  if (void (*hook)() = gReadHook.load()) hook();
  std::vector<Row> live;
  for (Row& r : rows) {
    if (HostProcessAlive(r.pid, r.startTime))
      live.push_back(std::move(r));
    else if (gone)
      gone->emplace_back(r.pid, r.startTime);
  }
  return live;
}

std::vector<Row> LiveRows(Device* d) {
  // Each end found is seen before the next read begins, so the next read
  // holds whatever the ended process started; within a caller's
  // transaction the second read finds the same ends and stops.
  std::set<Key> seenGone;
  for (;;) {
    std::vector<Key> gone;
    std::vector<Row> live = ReadLiveRows(d, &gone);
    bool complete = true;
    for (const Key& k : gone)
      if (seenGone.insert(k).second) complete = false;
    if (complete) return live;
  }
}

std::optional<DWORD> ExitCode(Device* d, int pid, uint64_t start) {
  if (!EnsureTables(d)) return std::nullopt;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT exit_code FROM processes WHERE pid = ? AND start_time = ?");
  s.Bind(1, pid).Bind(2, static_cast<int64_t>(start));
  if (!s.Step() || s.IsNull(0)) return std::nullopt;
  return static_cast<DWORD>(s.Int(0));
}

std::optional<DWORD> RecordExit(Device* d, int pid, uint64_t start, DWORD code) {
  if (!EnsureTables(d)) return std::nullopt;
  // Store and read back in one write transaction, so the code returned is
  // the one that stands.
  std::optional<DWORD> stored;
  d->Transaction([&] {
    Stmt s(d->Db(),
           "UPDATE processes SET exit_code = ? WHERE pid = ? AND start_time = ?"
           " AND exit_code IS NULL");
    if (!s.Bind(1, static_cast<int64_t>(code)).Bind(2, pid).Bind(3, static_cast<int64_t>(start)).Run())
      return false;
    stored = ExitCode(d, pid, start);
    // Whoever waits for this process may go on.
    return clock::NoteChange(d);
  });
  return stored;
}

void UndoExit(Device* d, int pid, uint64_t start, DWORD code) {
  if (!EnsureTables(d)) return;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(),
         "UPDATE processes SET exit_code = NULL WHERE pid = ? AND start_time = ?"
         " AND exit_code = ?");
  s.Bind(1, pid).Bind(2, static_cast<int64_t>(start)).Bind(3, static_cast<int64_t>(code)).Run();
}

namespace {
std::atomic<int> gChildOutput{-1};
}  // namespace

void SetChildOutput(int fd) { gChildOutput = fd; }
int ChildOutput() { return gChildOutput.load(); }

std::vector<std::u16string> ResidentNames(Device* d) {
  if (d && !d->GetProfile().residentPrograms.empty()) return d->GetProfile().residentPrograms;
  return std::vector<std::u16string>(std::begin(kDefaultResident), std::end(kDefaultResident));
}

std::u16string BareName(const std::u16string& devicePath) {
  size_t slash = devicePath.find_last_of(u"\\/");
  return slash == std::u16string::npos ? devicePath : devicePath.substr(slash + 1);
}

}  // namespace ce::proc

namespace ce {
void SetProcessTableReadHookForTest(void (*hook)()) { proc::gReadHook = hook; }
}  // namespace ce
