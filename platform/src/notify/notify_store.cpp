// The platform's notification store: what the kernel fires from the
// device's notification queue, and how a timed notification fires exactly
// once across resets and a killed kernel.
//
// Firing a timed notification records the firing in device.db first
// (notify_firing: the handle, its due time, the program and command line,
// and the last row of the process table), then starts the program, marks
// the firing started, removes the notification from the queue and only
// then forgets the firing. A kernel that stopped anywhere in between leaves
// the firing recorded; the next boot, and the next firing, settle it first.
// When the program was started (the start recorded, or a row for that
// program and command line after the recorded last row of the process
// table) the notification is only removed; otherwise it fires once now,
// unless it was cleared since.
#include "notify/notify_store.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "ce/errors.h"
#include "ce/notify.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"
#include "notify/notify_queue.h"
#include "process/process_table.h"

namespace ce::notify {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS notify_firing(handle INTEGER PRIMARY KEY, due_ms INTEGER NOT NULL,"
    " program TEXT NOT NULL, cmdline TEXT NOT NULL, process_mark INTEGER NOT NULL,"
    " started INTEGER NOT NULL DEFAULT 0);";

constexpr int64_t kUnixEpochMs = 11644473600000LL;  // 1601 to 1970

// ---- device time ----

int64_t LocalMsOf(uint64_t localTicks) { return static_cast<int64_t>(localTicks / 10000) - kUnixEpochMs; }

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// A timed notification's local time as the device-clock instant at which it
// falls due: the first instant at which the local clock reads that time or
// later. A time skipped by a daylight-saving change is due at the change;
// one that occurs twice, at its first occurrence.
int64_t DueMsOf(uint64_t localTicks) {
  const TimeZone& tz = DeviceTimeZone();
  const int64_t localMs = LocalMsOf(localTicks);
  const int64_t local = FloorDiv(localMs, 1000);
  const int64_t fraction = localMs - local * 1000;
  const int64_t offsets[2] = {tz.StdOffset(), tz.HasDst() ? tz.DstOffset() : tz.StdOffset()};
  bool found = false;
  int64_t best = 0;
  for (int64_t off : offsets) {
    const int64_t t = local - off;
    if (tz.OffsetAt(t) == off && (!found || t < best)) {
      best = t;
      found = true;
    }
  }
  if (found) return best * 1000 + fraction;
  // In a gap: the clock jumps past it; the first second whose local time
  // lies at or after it.
  int64_t lo = local - std::max(offsets[0], offsets[1]);
  int64_t hi = local - std::min(offsets[0], offsets[1]);
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (mid + tz.OffsetAt(mid) >= local)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo * 1000;
}

std::string TimeText(int64_t utcMs) {
  const int64_t s = FloorDiv(utcMs, 1000);
  const int64_t local = s + DeviceTimeZone().OffsetAt(s);
  const uint64_t ticks = static_cast<uint64_t>(local + kUnixEpochMs / 1000) * 10000000ull;
  const FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st{};
  if (!FileTimeToSystemTime(&ft, &st)) return "?";
  char buf[40];
  snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  return buf;
}

// ---- reports ----

std::string Describe(CEOID handle, const std::u16string& program, const std::u16string& args) {
  return "notification " + std::to_string(handle) + ": " + ToUtf8(program) + " \"" + ToUtf8(args) + "\"";
}

// A line for the kernel's report and the device's debug log.
void Tell(NotificationKernelPort& port, const std::string& line) {
  port.Report(line);
  OutputDebugStringW(FromUtf8(line).c_str());
}

// ---- kill points (tests of the protocol) ----

void MaybeKill(const char* point) {
  const char* at = getenv(kNotifyKillEnv);
  if (at && strcmp(at, point) == 0) kill(getpid(), SIGKILL);
}

// ---- the firing record ----

struct Firing {
  CEOID handle = 0;
  int64_t dueMs = 0;
  std::u16string program, cmdLine;
  int64_t processMark = 0;
  bool started = false;
};

bool Ready(Device* d) { return d && d->EnsureSchema(kSchema) && proc::EnsureTables(d); }

std::vector<Firing> Firings(Device* d) {
  std::vector<Firing> out;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT handle, due_ms, program, cmdline, process_mark, started FROM notify_firing"
                  " ORDER BY due_ms, handle");
  while (s.Step())
    out.push_back(Firing{static_cast<CEOID>(s.Int(0)), s.Int(1), s.Text16(2), s.Text16(3), s.Int(4), s.Int(5) != 0});
  return out;
}

int64_t LastProcessRow(Device* d) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT IFNULL(MAX(rowid), 0) FROM processes");
  return s.Step() ? s.Int(0) : 0;
}

bool RecordFiring(Device* d, const Firing& f) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "INSERT OR REPLACE INTO notify_firing(handle, due_ms, program, cmdline, process_mark, started)"
                  " VALUES(?, ?, ?, ?, ?, 0)");
  return s.Bind(1, static_cast<int64_t>(f.handle))
      .Bind(2, f.dueMs)
      .Bind(3, std::u16string_view(f.program))
      .Bind(4, std::u16string_view(f.cmdLine))
      .Bind(5, f.processMark)
      .Run();
}

bool RecordStart(Device* d, CEOID handle) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "UPDATE notify_firing SET started = 1 WHERE handle = ?");
  return s.Bind(1, static_cast<int64_t>(handle)).Run();
}

bool ForgetFiring(Device* d, CEOID handle) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "DELETE FROM notify_firing WHERE handle = ?");
  return s.Bind(1, static_cast<int64_t>(handle)).Run();
}

// The exe name the device's program search gives a program.
std::u16string ExeNameOf(const std::u16string& program) {
  std::u16string name = proc::BareName(program);
  if (name.find(u'.') == std::u16string::npos) name += u".exe";
  return name;
}

// Whether the process table shows the firing's program started after the
// firing was recorded.
bool StartedSince(Device* d, const Firing& f) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT 1 FROM processes WHERE rowid > ? AND cmdline = ? AND exe = ? COLLATE NOCASE LIMIT 1");
  return s.Bind(1, f.processMark)
      .Bind(2, std::u16string_view(f.cmdLine))
      .Bind(3, std::u16string_view(ExeNameOf(f.program)))
      .Step();
}

// ---- the due times, cached while the queue's file stays as it is ----

// What identifies one state of the volume file: a commit changes the
// database header's change counter (and the file's times and size).
struct FileState {
  std::u16string volume;
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  uint32_t counter = 0;
  bool operator==(const FileState&) const = default;
};

FileState StateOf(Device* d, const std::u16string& volume) {
  FileState st;
  st.volume = volume;
  ResolvedPath rp;
  if (!d->Resolve(volume, &rp) || !rp.exists) return st;
  const int fd = open(rp.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return st;
  struct stat s {};
  unsigned char b[4] = {};
  if (fstat(fd, &s) == 0 && pread(fd, b, 4, 24) == 4) {
    st.exists = true;
    st.dev = s.st_dev;
    st.ino = s.st_ino;
    st.size = s.st_size;
    st.mtimeNs = static_cast<int64_t>(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
    st.counter = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
  }
  close(fd);
  return st;
}

struct Due {
  int64_t dueMs;
  Entry entry;
};

class PlatformStore : public NotificationStore {
 public:
  std::optional<int64_t> NextDueMs(Device* d) override;
  void FireDue(Device* d, int64_t nowMs, NotificationKernelPort& port) override;
  std::vector<DWORD> FireEvent(Device* d, DWORD n, NotificationKernelPort& port) override;
  void AfterBoot(Device* d, NotificationKernelPort& port) override;

 private:
  // The timed notifications in the order they fall due (ties by handle).
  bool TimedEntries(Queue& q, std::vector<Due>* out);
  // Settles firings a stopped kernel left behind.
  void Settle(Device* d, NotificationKernelPort& port);
  // Fires one timed notification through the protocol above.
  void FireTimed(Device* d, Queue& q, const Due& due, NotificationKernelPort& port);
  // Starts an entry's program; false (reported, the entry dropped) when
  // it cannot start.
  bool Start(Queue& q, const Entry& e, NotificationKernelPort& port, DWORD* pid);

  std::mutex lock_;
  bool cached_ = false;
  FileState state_;
  std::optional<int64_t> next_;
};

bool PlatformStore::TimedEntries(Queue& q, std::vector<Due>* out) {
  std::vector<Entry> entries;
  if (!q.List(&entries)) return false;
  out->clear();
  for (Entry& e : entries)
    if (e.type == CNT_TIME) out->push_back(Due{DueMsOf(e.start), std::move(e)});
  std::stable_sort(out->begin(), out->end(), [](const Due& a, const Due& b) {
    return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.entry.handle < b.entry.handle;
  });
  return true;
}

std::optional<int64_t> PlatformStore::NextDueMs(Device* d) {
  std::lock_guard<std::mutex> g(lock_);
  if (!Ready(d)) return std::nullopt;
  std::optional<int64_t> next;
  for (const Firing& f : Firings(d)) next = next ? std::min(*next, f.dueMs) : f.dueMs;
  const FileState now = StateOf(d, VolumePath());
  if (!cached_ || !(now == state_)) {
    // The queue cannot be read now (a program holds the volume): nothing
    // falls due until it can.
    Queue q;
    std::vector<Due> due;
    cached_ = false;
    next_.reset();
    if (!q.Open() || !TimedEntries(q, &due)) return next;
    if (!due.empty()) next_ = due.front().dueMs;
    // Opening the queue may have made the file: take its state afterwards.
    state_ = StateOf(d, VolumePath());
    cached_ = true;
  }
  if (next_) next = next ? std::min(*next, *next_) : *next_;
  return next;
}

bool PlatformStore::Start(Queue& q, const Entry& e, NotificationKernelPort& port, DWORD* pid) {
  const std::string what = Describe(e.handle, e.program, e.arguments);
  if (port.StartProgram(e.program, e.arguments, "notification " + std::to_string(e.handle), pid)) {
    OutputDebugStringW(FromUtf8(what + " started").c_str());
    return true;
  }
  const DWORD error = GetLastError();
  Tell(port, what + " cannot start (error " + std::to_string(error) + "); the notification is dropped");
  if (!q.Remove(e.handle) && GetLastError() != ERROR_INVALID_PARAMETER)
    Tell(port, "notification " + std::to_string(e.handle) + " could not be removed (error " +
                   std::to_string(GetLastError()) + ")");
  return false;
}

void PlatformStore::FireTimed(Device* d, Queue& q, const Due& due, NotificationKernelPort& port) {
  const Entry& e = due.entry;
  Firing f{e.handle, due.dueMs, e.program, e.arguments, LastProcessRow(d), false};
  if (!RecordFiring(d, f)) {
    // Without the record a reset could start it twice: it waits.
    Tell(port, Describe(e.handle, e.program, e.arguments) + ": the firing cannot be recorded; it waits");
    return;
  }
  MaybeKill("recorded");
  Tell(port, Describe(e.handle, e.program, e.arguments) + " fires (due " + TimeText(due.dueMs) + ")");
  DWORD pid = 0;
  if (Start(q, e, port, &pid)) {
    MaybeKill("started");
    // A start that is not recorded is still found in the process table.
    RecordStart(d, e.handle);
    MaybeKill("start-recorded");
    if (!q.Remove(e.handle) && GetLastError() != ERROR_INVALID_PARAMETER) {
      // The firing stays recorded as started: the next settling removes it.
      Tell(port, "notification " + std::to_string(e.handle) + " could not be removed (error " +
                     std::to_string(GetLastError()) + ")");
      return;
    }
    MaybeKill("removed");
  }
  ForgetFiring(d, e.handle);
}

void PlatformStore::Settle(Device* d, NotificationKernelPort& port) {
  std::vector<Firing> firings = Firings(d);
  if (firings.empty()) return;
  Queue q;
  if (!q.Open()) return;  // settled when the queue can be reached
  for (const Firing& f : firings) {
    if (f.started || StartedSince(d, f)) {
      if (!q.Remove(f.handle) && GetLastError() != ERROR_INVALID_PARAMETER) continue;
      Tell(port, Describe(f.handle, f.program, f.cmdLine) + " was started before the device stopped; not again");
      ForgetFiring(d, f.handle);
      continue;
    }
    Entry e;
    if (!q.Find(f.handle, &e)) {
      // Cleared since it was recorded (or no longer an entry): nothing to start.
      ForgetFiring(d, f.handle);
      continue;
    }
    Tell(port, Describe(f.handle, f.program, f.cmdLine) + " was due when the device stopped; it fires now");
    FireTimed(d, q, Due{f.dueMs, e}, port);
  }
  cached_ = false;
}

void PlatformStore::FireDue(Device* d, int64_t nowMs, NotificationKernelPort& port) {
  std::lock_guard<std::mutex> g(lock_);
  if (!Ready(d)) return;
  Settle(d, port);
  // A firing settling could not finish (its entry would not go) may have
  // started its program already: it waits for the next settling.
  std::set<CEOID> unsettled;
  for (const Firing& f : Firings(d)) unsettled.insert(f.handle);
  Queue q;
  std::vector<Due> due;
  if (!q.Open() || !TimedEntries(q, &due)) return;
  for (const Due& x : due) {
    if (x.dueMs > nowMs) break;
    if (unsettled.count(x.entry.handle) == 0) FireTimed(d, q, x, port);
  }
  cached_ = false;
}

std::vector<DWORD> PlatformStore::FireEvent(Device* d, DWORD n, NotificationKernelPort& port) {
  std::lock_guard<std::mutex> g(lock_);
  std::vector<DWORD> pids;
  if (!Ready(d)) return pids;
  Queue q;
  std::vector<Entry> entries;
  if (!q.Open() || !q.List(&entries)) return pids;
  for (const Entry& e : entries) {
    if (e.type != CNT_EVENT || e.event != n) continue;
    Tell(port, Describe(e.handle, e.program, e.arguments) + " fires (event " + std::to_string(n) + ")");
    DWORD pid = 0;
    if (Start(q, e, port, &pid)) pids.push_back(pid);
  }
  cached_ = false;
  return pids;
}

void PlatformStore::AfterBoot(Device* d, NotificationKernelPort& port) {
  std::lock_guard<std::mutex> g(lock_);
  if (Ready(d)) Settle(d, port);
}

}  // namespace

NotificationStore& PlatformNotificationStore() {
  static PlatformStore* store = new PlatformStore;
  return *store;
}

}  // namespace ce::notify
