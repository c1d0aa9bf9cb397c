// The device clock while a kernel drives it (see clock/device_clock.h).
#include "clock/device_clock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>

#include "ce/errors.h"
#include "ce/time.h"
#include "cesim/process.h"
#include "process/process_table.h"
#include "window/window_state.h"

namespace ce::clock {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS clock_waits(pid INTEGER NOT NULL, start_time INTEGER NOT NULL,"
    " deadline_ms INTEGER NOT NULL, epoch INTEGER NOT NULL, PRIMARY KEY(pid, start_time));"
    "INSERT OR IGNORE INTO meta(key, value) VALUES('clock_epoch', 0);";

std::filesystem::path DriverFifo(Device* d) { return d->Dir() / "msgq" / "clock-driver"; }

int64_t MetaInt(Device* d, const char* key, int64_t fallback) {
  Stmt s(d->Db(), "SELECT value FROM meta WHERE key = ?");
  s.Bind(1, std::string_view(key));
  return s.ok() && s.Step() && !s.IsNull(0) ? s.Int(0) : fallback;
}

int64_t Epoch(Device* d) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  return MetaInt(d, "clock_epoch", 0);
}

void PokeDriver(Device* d) {
  int fd = open(DriverFifo(d).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;  // no driver listening
  char b = 1;
  ssize_t n = write(fd, &b, 1);  // a full FIFO is awake already
  (void)n;
  close(fd);
}

// What this process has published, shared by its waiting threads.
struct ProcessWaits {
  std::mutex m;
  int pid = 0;
  std::map<const LayerWait*, int64_t> active;  // deadline of each waiting thread
  int busy = 0;
  Device* published = nullptr;  // the device whose row is ours
  int64_t pubEpoch = -1, pubDeadline = 0;
};
// This process's record, locked while *lock lives.
ProcessWaits& Waits(std::unique_lock<std::mutex>* lock) {
  static ProcessWaits* w = new ProcessWaits;
  *lock = std::unique_lock<std::mutex>(w->m);
  if (w->pid != getpid()) {  // a forked child publishes nothing of its parent's
    w->pid = getpid();
    w->active.clear();
    w->busy = 0;
    w->published = nullptr;
  }
  return *w;
}

// Removes this process's row; call with Waits().m held.
void Withdraw(ProcessWaits& w) {
  if (!w.published) return;
  Device* d = w.published;
  w.published = nullptr;
  win::Owner self = win::Self();
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "DELETE FROM clock_waits WHERE pid = ? AND start_time = ?");
  s.Bind(1, self.pid).Bind(2, static_cast<int64_t>(self.start)).Run();  // a failure leaves a stale row: never current
}

}  // namespace

bool EnsureTables(Device* d) { return d && d->EnsureSchema(kSchema); }

bool Driven(Device* d) {
  if (!EnsureTables(d)) return false;
  int64_t pid, start;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    pid = MetaInt(d, "clock_driver_pid", 0);
    start = MetaInt(d, "clock_driver_start", 0);
  }
  if (pid <= 0 || pid == getpid()) return false;
  return HostProcessAlive(static_cast<int>(pid), static_cast<uint64_t>(start));
}

bool EverDriven(Device* d) {
  if (!EnsureTables(d)) return false;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  return MetaInt(d, "clock_driven_once", 0) != 0;
}

bool NoteChange(Device* d) {
  if (!EnsureTables(d)) return false;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "UPDATE meta SET value = value + 1 WHERE key = 'clock_epoch'");
  return s.Run();
}

// ------------------------------------------------------------ LayerWait

LayerWait::LayerWait(Device* d) : d_(d) {
  DWORD saved = GetLastError();
  onDeviceClock_ = d_ && EverDriven(d_);
  SetLastError(saved);
}

LayerWait::~LayerWait() {
  if (!onDeviceClock_) return;
  DWORD saved = GetLastError();
  std::unique_lock<std::mutex> lock;
  ProcessWaits& w = Waits(&lock);
  w.active.erase(this);
  // Another waiting thread publishes again in its next round.
  Withdraw(w);
  SetLastError(saved);
}

void LayerWait::BeginRound() {
  if (!onDeviceClock_) return;
  DWORD saved = GetLastError();
  driven_ = clock::Driven(d_);
  if (driven_) epoch_ = Epoch(d_);
  SetLastError(saved);
}

bool LayerWait::Publish(int64_t deadlineMs) {
  if (!driven_) return true;
  DWORD saved = GetLastError();
  std::unique_lock<std::mutex> lock;
  ProcessWaits& w = Waits(&lock);
  w.active[this] = deadlineMs;
  if (w.busy > 0) {
    Withdraw(w);
    SetLastError(saved);
    return true;
  }
  int64_t earliest = kNoDeadline;
  for (const auto& [wait, deadline] : w.active) earliest = std::min(earliest, deadline);
  if (w.published == d_ && w.pubEpoch == epoch_ && w.pubDeadline == earliest) {
    SetLastError(saved);
    return true;
  }
  bool stale = false;
  win::Owner self = win::Self();
  bool ok = d_->Transaction([&] {
    if (MetaInt(d_, "clock_epoch", 0) != epoch_) {
      stale = true;
      return false;
    }
    Stmt s(d_->Db(), "INSERT OR REPLACE INTO clock_waits(pid, start_time, deadline_ms, epoch) VALUES(?, ?, ?, ?)");
    return s.Bind(1, self.pid).Bind(2, static_cast<int64_t>(self.start)).Bind(3, earliest).Bind(4, epoch_).Run();
  });
  if (ok) {
    w.published = d_;
    w.pubEpoch = epoch_;
    w.pubDeadline = earliest;
    PokeDriver(d_);
  }
  SetLastError(saved);
  // A row that could not be written leaves the process working: the clock
  // then keeps host time, which is slow but never wrong.
  return !stale;
}

int LayerWait::RoundMs(int64_t deadlineMs) {
  if (deadlineMs == kNoDeadline) return kRoundMs;
  return static_cast<int>(std::clamp<int64_t>(deadlineMs - DeviceNowMs(), 0, kRoundMs));
}

BusyHold::BusyHold() {
  std::unique_lock<std::mutex> lock;
  ProcessWaits& w = Waits(&lock);
  ++w.busy;
  Withdraw(w);
}

BusyHold::~BusyHold() {
  std::unique_lock<std::mutex> lock;
  ProcessWaits& w = Waits(&lock);
  if (w.busy > 0) --w.busy;
}

// ------------------------------------------------------------ Driver

Driver::Driver(Device* d) : d_(d) {
  if (!EnsureTables(d_)) return;
  const int64_t pid = getpid();
  const int64_t start = static_cast<int64_t>(HostProcessStartTime(getpid()));
  d_->Transaction([&] {
    // Waits published for an earlier kernel count only once published anew.
    Stmt clear(d_->Db(), "DELETE FROM clock_waits");
    if (!NoteChange(d_)) return false;
    Stmt p(d_->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES('clock_driver_pid', ?)");
    Stmt t(d_->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES('clock_driver_start', ?)");
    Stmt once(d_->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES('clock_driven_once', 1)");
    return clear.Run() && p.Bind(1, pid).Run() && t.Bind(1, start).Run() && once.Run();
  });
  std::error_code ec;
  std::filesystem::create_directories(DriverFifo(d_).parent_path(), ec);
  if (mkfifo(DriverFifo(d_).c_str(), 0600) == 0 || errno == EEXIST)
    fd_ = open(DriverFifo(d_).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  for (const proc::Row& r : proc::LiveRows(d_)) win::Wake(d_, win::Owner{r.pid, r.startTime});
}

Driver::~Driver() {
  if (fd_ >= 0) close(fd_);
  if (!d_) return;
  const int64_t pid = getpid();
  d_->Transaction([&] {
    Stmt clear(d_->Db(), "DELETE FROM clock_waits");
    Stmt s(d_->Db(),
           "DELETE FROM meta WHERE key IN ('clock_driver_pid', 'clock_driver_start') AND"
           " (SELECT value FROM meta WHERE key = 'clock_driver_pid') = ?");
    return clear.Run() && s.Bind(1, pid).Run() && NoteChange(d_);
  });
  // Waits still in progress go on in host time: wake them to notice.
  for (const proc::Row& r : proc::LiveRows(d_)) win::Wake(d_, win::Owner{r.pid, r.startTime});
}

void Driver::Drain() { win::DrainWake(fd_); }

bool Driver::AllWaiting(int64_t* earliest) {
  struct Published {
    int64_t deadline, epoch;
  };
  std::map<std::pair<int, uint64_t>, Published> rows;
  int64_t epoch = 0;
  std::vector<proc::Row> live;
  std::vector<proc::Key> ended;
  {
    // One read snapshot: the change count, the published waits and the
    // live processes agree.
    std::lock_guard<std::recursive_mutex> g(d_->DbLock());
    if (!proc::EnsureTables(d_) || !d_->Exec("BEGIN")) return false;
    epoch = MetaInt(d_, "clock_epoch", 0);
    Stmt s(d_->Db(), "SELECT pid, start_time, deadline_ms, epoch FROM clock_waits");
    while (s.Step())
      rows[{static_cast<int>(s.Int(0)), static_cast<uint64_t>(s.Int(1))}] = Published{s.Int(2), s.Int(3)};
    s.Reset();
    live = proc::ReadLiveRows(d_, &ended);
    d_->Exec("COMMIT");  // a read: nothing to lose
  }
  // A process that ended after the snapshot began may have started one the
  // snapshot lacks, which is not waiting: the next look sees it.
  bool complete = true;
  for (const proc::Key& k : ended)
    if (seenGone_.insert(k).second) complete = false;
  if (!complete) return false;
  // A process gone without its end recorded may end another one's wait.
  std::vector<int> pids;
  for (const proc::Row& r : live) pids.push_back(r.pid);
  std::sort(pids.begin(), pids.end());
  std::vector<int> gone;
  std::set_difference(lastLive_.begin(), lastLive_.end(), pids.begin(), pids.end(), std::back_inserter(gone));
  lastLive_ = pids;
  if (!gone.empty()) {
    d_->Transaction([&] { return NoteChange(d_); });
    return false;
  }
  const int64_t now = DeviceNowMs();
  bool all = true;
  int64_t first = kNoDeadline;
  for (const proc::Row& r : live) {
    auto it = rows.find({r.pid, r.startTime});
    if (it == rows.end()) {
      all = false;
      continue;
    }
    if (it->second.epoch != epoch) {
      win::Wake(d_, win::Owner{r.pid, r.startTime});  // look again and publish anew
      all = false;
      continue;
    }
    if (it->second.deadline <= now) {
      all = false;  // waking up
      continue;
    }
    first = std::min(first, it->second.deadline);
  }
  if (all && earliest) *earliest = first;
  return all;
}

bool Driver::JumpTo(int64_t ms) {
  bool moved = d_->Transaction([&] {
    const int64_t now = DeviceNowMs();
    return ms <= now || d_->SetClockOffsetMs(d_->ClockOffsetMs() + (ms - now));
  });
  if (!moved) return false;
  std::vector<win::Owner> due;
  {
    std::lock_guard<std::recursive_mutex> g(d_->DbLock());
    Stmt s(d_->Db(), "SELECT pid, start_time FROM clock_waits WHERE deadline_ms <= ?");
    s.Bind(1, ms);
    while (s.Step()) due.push_back(win::Owner{static_cast<int>(s.Int(0)), static_cast<uint64_t>(s.Int(1))});
  }
  for (const win::Owner& o : due) win::Wake(d_, o);
  return true;
}

}  // namespace ce::clock
