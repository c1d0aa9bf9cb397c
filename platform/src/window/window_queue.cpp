// Message queues, sent messages, timers, registered messages and the
// wake-up FIFOs.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "ce/controls.h"
#include "ce/errors.h"
#include "ce/handle.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/process.h"
#include "clock/device_clock.h"
#include "power/power_state.h"
#include "window/window_state.h"

namespace ce::win {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kQueueQuota = 10000;  // posted messages waiting per process
constexpr int kMaxSleepMs = 1000;       // a sleeping queue looks again at least this often

std::filesystem::path WakePath(Device* d, const Owner& o) {
  return d->Dir() / "msgq" / (std::to_string(o.pid) + "-" + std::to_string(o.start));
}

// The message filter of GetMessage/PeekMessage.
struct Filter {
  int64_t hwnd = 0;  // 0 any, -1 thread messages only, else one window
  UINT min = 0, max = 0;
  bool Takes(UINT msg) const { return (min == 0 && max == 0) || (msg >= min && msg <= max); }
  bool TakesWindow(int64_t h) const { return hwnd == 0 || (hwnd == -1 ? h == 0 : h == hwnd); }
};

// Runs the messages other processes sent to this one; returns how many.
int RunSentMessages(Device* d) {
  Owner self = Self();
  int count = 0;
  for (;;) {
    int64_t id = 0, hwnd = 0, wParam = 0, lParam = 0;
    UINT msg = 0;
    Owner sender;
    bool found = false, taken = false;
    // Read and claim in one write transaction: a read that is still open
    // when the write starts can fail at once when another process wrote.
    d->Transaction([&] {
      Stmt s(d->Db(),
             "SELECT id, hwnd, msg, wparam, lparam, sender_pid, sender_start FROM window_messages"
             " WHERE pid = ? AND start_time = ? AND kind = 1 AND state = 0 ORDER BY id LIMIT 1");
      s.Bind(1, self.pid).Bind(2, static_cast<int64_t>(self.start));
      if (!s.Step()) return true;
      found = true;
      id = s.Int(0);
      hwnd = s.Int(1);
      msg = static_cast<UINT>(s.Int(2));
      wParam = s.Int(3);
      lParam = s.Int(4);
      sender = Owner{static_cast<int>(s.Int(5)), static_cast<uint64_t>(s.Int(6))};
      s.Reset();
      Stmt take(d->Db(), "UPDATE window_messages SET state = 1 WHERE id = ? AND state = 0");
      taken = take.Bind(1, id).Run() && sqlite3_changes(d->Db()) == 1;
      return true;
    });
    if (!found) return count;
    if (!taken) continue;
    LRESULT result = CallOwn(d, ToHwnd(hwnd), msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    d->Transaction([&] {
      Stmt done(d->Db(), "UPDATE window_messages SET state = 2, result = ? WHERE id = ?");
      return done.Bind(1, static_cast<int64_t>(result)).Bind(2, id).Run() && clock::NoteChange(d);
    });
    Wake(d, sender);
    ++count;
  }
}

// The oldest posted message that passes the filter.
bool TakePosted(Device* d, const Filter& f, bool remove, MSG* out) {
  Owner self = Self();
  bool found = false;
  auto take = [&] {
    Stmt s(d->Db(),
           "SELECT id, hwnd, msg, wparam, lparam, time FROM window_messages"
           " WHERE pid = ?1 AND start_time = ?2 AND kind = 0"
           " AND (?3 = 0 OR (?3 = -1 AND hwnd = 0) OR hwnd = ?3)"
           " AND ((?4 = 0 AND ?5 = 0) OR msg BETWEEN ?4 AND ?5) ORDER BY id LIMIT 1");
    s.Bind(1, self.pid).Bind(2, static_cast<int64_t>(self.start)).Bind(3, f.hwnd);
    s.Bind(4, static_cast<int64_t>(f.min)).Bind(5, static_cast<int64_t>(f.max));
    if (!s.Step()) return true;
    int64_t id = s.Int(0);
    *out = MSG{ToHwnd(s.Int(1)), static_cast<UINT>(s.Int(2)), static_cast<WPARAM>(s.Int(3)),
               static_cast<LPARAM>(s.Int(4)), static_cast<DWORD>(s.Int(5)), POINT{0, 0}};
    s.Reset();
    if (remove) {
      Stmt del(d->Db(), "DELETE FROM window_messages WHERE id = ?");
      if (!del.Bind(1, id).Run()) return false;  // rolled back: taken next time
    }
    found = true;
    return true;
  };
  if (remove) {
    d->Transaction(take);
  } else {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    take();
  }
  return found;
}

// Milliseconds until the first timer the filter takes is due (INT_MAX for
// none, 0 when one is due).
int64_t NextTimerWait(Device* d, const Filter& f) {
  if (!f.Takes(WM_TIMER)) return INT_MAX;
  LocalState* st;
  auto lock = LockLocal(d, &st);
  if (st->timers.empty()) return INT_MAX;
  int64_t now = DeviceNowMs();
  int64_t best = INT_MAX;
  for (const Timer& t : st->timers) {
    if (f.TakesWindow(t.hwnd)) best = std::min(best, std::max<int64_t>(0, t.due - now));
  }
  return best;
}

// Sent messages, posted messages, the quit request, then a due timer.
bool Peek(Device* d, const Filter& f, bool remove, MSG* out) {
  DrainWake(OwnWakeFd(d));
  RunSentMessages(d);
  if (TakePosted(d, f, remove, out)) {
    RouteInput(d, out);
    return true;
  }
  LocalState* st;
  auto lock = LockLocal(d, &st);
  if (st->quit && f.Takes(WM_QUIT)) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(st->quitCode), 0, GetTickCount(), POINT{0, 0}};
    if (remove) st->quit = false;
    return true;
  }
  if (f.Takes(WM_PAINT) && f.hwnd != -1) {
    if (int64_t h = TakePaint(d, f.hwnd)) {
      *out = MSG{ToHwnd(h), WM_PAINT, 0, 0, GetTickCount(), POINT{0, 0}};
      if (remove) FindOwn(st, h)->needsPaint = false;
      return true;
    }
  }
  if (!st->timers.empty() && f.Takes(WM_TIMER)) {
    int64_t now = DeviceNowMs();
    Timer* first = nullptr;  // the longest overdue: a fast timer never starves the others
    for (Timer& t : st->timers) {
      if (f.TakesWindow(t.hwnd) && t.due <= now && (!first || t.due < first->due)) first = &t;
    }
    if (first) {
      *out = MSG{ToHwnd(first->hwnd), WM_TIMER, static_cast<WPARAM>(first->id),
                 reinterpret_cast<LPARAM>(first->proc), GetTickCount(), POINT{0, 0}};
      if (remove) first->due = now + first->elapse;
      return true;
    }
  }
  return false;
}

// Checks the filter window; -1 for a window that is not ours.
bool MakeFilter(Device* d, HWND hwnd, UINT min, UINT max, Filter* f) {
  f->hwnd = ToId(hwnd);
  f->min = min;
  f->max = max;
  if (f->hwnd == 0 || f->hwnd == -1 || IsLocalWindow(d, hwnd)) return true;
  auto row = LoadWindow(d, hwnd);
  if (!row || !(row->owner == Self())) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

// Sleeps on the FIFO (and the extra descriptors) for at most ms.
void Nap(int wakeFd, std::vector<pollfd> fds, int64_t ms) {
  if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
  int timeout = static_cast<int>(std::clamp<int64_t>(ms, 0, kMaxSleepMs));
  if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
    usleep(1000);  // never spin on a failing poll
  }
}

// Sends to one window and waits for the answer; the timeout counts from
// the call (INFINITE: none).
bool SendOne(Device* d, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeout, LRESULT* result) {
  if (IsLocalWindow(d, hwnd)) {
    *result = CallOwn(d, hwnd, msg, wParam, lParam);
    return true;
  }
  auto row = LoadWindow(d, hwnd);
  if (!row) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  Owner self = Self();
  if (row->owner == self) {
    *result = CallOwn(d, hwnd, msg, wParam, lParam);
    return true;
  }
  int fd = OwnWakeFd(d);
  int64_t id = 0;
  const int64_t tick = GetTickCount();
  bool inserted = d->Transaction([&] {
    Stmt s(d->Db(),
           "INSERT INTO window_messages(pid, start_time, hwnd, msg, wparam, lparam, time, kind,"
           " sender_pid, sender_start, state) VALUES(?, ?, ?, ?, ?, ?, ?, 1, ?, ?, 0)");
    bool ok = s.Bind(1, row->owner.pid)
                  .Bind(2, static_cast<int64_t>(row->owner.start))
                  .Bind(3, row->hwnd)
                  .Bind(4, static_cast<int64_t>(msg))
                  .Bind(5, static_cast<int64_t>(wParam))
                  .Bind(6, static_cast<int64_t>(lParam))
                  .Bind(7, tick)
                  .Bind(8, self.pid)
                  .Bind(9, static_cast<int64_t>(self.start))
                  .Run();
    if (!ok) return false;
    id = sqlite3_last_insert_rowid(d->Db());
    return clock::NoteChange(d);
  });
  if (!inserted) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  Wake(d, row->owner);
  auto withdraw = [&](DWORD error) {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), "DELETE FROM window_messages WHERE id = ?");
    s.Bind(1, id).Run();
    SetLastError(error);
    return false;
  };
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout == INFINITE ? 0 : timeout);
  clock::LayerWait layer(d);
  const int64_t deviceDeadline = timeout == INFINITE ? clock::kNoDeadline : DeviceNowMs() + timeout;
  for (;;) {
    layer.BeginRound();
    DrainWake(fd);
    RunSentMessages(d);  // answer whoever is sending to us meanwhile
    int64_t state = -1, answer = 0;
    {
      std::lock_guard<std::recursive_mutex> g(d->DbLock());
      Stmt s(d->Db(), "SELECT state, result FROM window_messages WHERE id = ?");
      s.Bind(1, id);
      if (s.Step()) {
        state = s.Int(0);
        answer = s.Int(1);
      }
    }
    if (state < 0) {  // purged: the owner ended
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (state == 2) {
      *result = static_cast<LRESULT>(answer);
      std::lock_guard<std::recursive_mutex> g(d->DbLock());
      Stmt del(d->Db(), "DELETE FROM window_messages WHERE id = ?");
      del.Bind(1, id).Run();
      return true;
    }
    if (!HostProcessAlive(row->owner.pid, row->owner.start) || !LoadWindow(d, hwnd))
      return withdraw(ERROR_INVALID_WINDOW_HANDLE);
    int64_t wait = 200;
    if (layer.OnDeviceClock()) {
      // The answer is due on the device clock, which may jump.
      if (DeviceNowMs() >= deviceDeadline) return withdraw(ERROR_TIMEOUT);
      if (!layer.Publish(deviceDeadline)) continue;
      wait = clock::LayerWait::RoundMs(deviceDeadline);
    } else if (timeout != INFINITE) {
      int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return withdraw(ERROR_TIMEOUT);
      wait = std::min(wait, left);
    }
    Nap(fd, {}, wait);
  }
}

LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeout, ULONG_PTR* result) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  LRESULT r = 0;
  if (hwnd == HWND_BROADCAST) {
    for (const Row& w : TopLevelWindows(d)) SendOne(d, ToHwnd(w.hwnd), msg, wParam, lParam, timeout, &r);
    if (result) *result = 0;
    return timeout == INFINITE ? 0 : TRUE;
  }
  bool ok = SendOne(d, hwnd, msg, wParam, lParam, timeout, &r);
  if (result) *result = static_cast<ULONG_PTR>(r);
  if (timeout == INFINITE) return ok ? r : 0;
  return ok ? TRUE : FALSE;
}

}  // namespace

// ------------------------------------------------------------ shared internals

int OwnWakeFd(Device* d) {
  LocalState* st;
  auto lock = LockLocal(d, &st);
  if (st->wakeFd >= 0) return st->wakeFd;
  std::filesystem::path path = WakePath(d, Self());
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return -1;
  // Read-write, so the FIFO never reports end-of-file without writers.
  st->wakeFd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return st->wakeFd;
}

void Wake(Device* d, const Owner& owner) {
  int fd = open(WakePath(d, owner).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;  // not listening yet: it looks at its queue before it sleeps
  char b = 1;
  ssize_t n = write(fd, &b, 1);  // a full FIFO is awake already
  (void)n;
  close(fd);
}

void DrainWake(int fd) {
  if (fd < 0) return;
  char buf[256];
  while (read(fd, buf, sizeof buf) > 0) {
  }
}

bool Enqueue(Device* d, const Owner& owner, int64_t hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD error = ERROR_GEN_FAILURE;
  const DWORD tick = GetTickCount();
  // Count and insert in one write transaction (see RunSentMessages).
  bool ok = d->Transaction([&] {
    Stmt count(d->Db(), "SELECT COUNT(*) FROM window_messages WHERE pid = ? AND start_time = ? AND kind = 0");
    count.Bind(1, owner.pid).Bind(2, static_cast<int64_t>(owner.start));
    if (!count.Step()) return false;
    if (count.Int(0) >= kQueueQuota) {
      error = ERROR_NOT_ENOUGH_QUOTA;
      return false;
    }
    count.Reset();
    Stmt s(d->Db(),
           "INSERT INTO window_messages(pid, start_time, hwnd, msg, wparam, lparam, time, kind)"
           " VALUES(?, ?, ?, ?, ?, ?, ?, 0)");
    return s.Bind(1, owner.pid)
               .Bind(2, static_cast<int64_t>(owner.start))
               .Bind(3, hwnd)
               .Bind(4, static_cast<int64_t>(msg))
               .Bind(5, static_cast<int64_t>(wParam))
               .Bind(6, static_cast<int64_t>(lParam))
               .Bind(7, static_cast<int64_t>(tick))
               .Run() &&
           clock::NoteChange(d);
  });
  if (!ok) {
    SetLastError(error);
    return false;
  }
  Wake(d, owner);
  return true;
}

void ForgetOwnWindow(Device* d, int64_t hwnd) {
  {
    Owner self = Self();
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), "DELETE FROM window_messages WHERE pid = ? AND start_time = ? AND kind = 0 AND hwnd = ?");
    s.Bind(1, self.pid).Bind(2, static_cast<int64_t>(self.start)).Bind(3, hwnd).Run();
  }
  LocalState* st;
  auto lock = LockLocal(d, &st);
  st->windows.erase(hwnd);
  std::erase_if(st->timers, [&](const Timer& t) { return t.hwnd == hwnd; });
}

}  // namespace ce::win

namespace ce {
namespace {
struct IdleSlot {
  std::mutex m;
  IdleHandler handler;
};
IdleSlot& Idle() {
  static IdleSlot* s = new IdleSlot;
  return *s;
}
}  // namespace

void SetIdleHandler(IdleHandler handler) {
  std::lock_guard<std::mutex> g(Idle().m);
  Idle().handler = std::move(handler);
}

IdleResult RunIdleHandler() {
  IdleHandler h;
  {
    std::lock_guard<std::mutex> g(Idle().m);
    h = Idle().handler;
  }
  return h ? h() : IdleResult::kWait;
}

bool NextTimerDue(int64_t* dueMs) {
  Device* d = win::DeviceOrFail();
  if (!d) return false;
  win::LocalState* st;
  auto lock = win::LockLocal(d, &st);
  if (st->timers.empty()) return false;
  int64_t best = INT64_MAX;
  for (const win::Timer& t : st->timers) best = std::min(best, t.due);
  if (dueMs) *dueMs = best;
  return true;
}

}  // namespace ce

// ------------------------------------------------------------ the API

using namespace ce;
using namespace ce::win;

UINT RegisterWindowMessageW(LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Device* d = DeviceOrFail();
  if (!d) return 0;
  std::u16string key = DeviceUpper(name);
  int64_t id = 0;
  bool full = false;
  bool ok = d->Transaction([&] {
    Stmt find(d->Db(), "SELECT id FROM window_message_names WHERE name_key = ?");
    find.Bind(1, std::u16string_view(key));
    if (find.Step()) {
      id = find.Int(0);
      return true;
    }
    Stmt next(d->Db(), "SELECT IFNULL(MAX(id) + 1, ?) FROM window_message_names");
    next.Bind(1, int64_t{WM_REGISTERED_FIRST});
    if (!next.Step()) return false;
    id = next.Int(0);
    if (id > WM_REGISTERED_LAST) {
      full = true;
      return false;
    }
    Stmt add(d->Db(), "INSERT INTO window_message_names(id, name_key, name) VALUES(?, ?, ?)");
    return add.Bind(1, id).Bind(2, std::u16string_view(key)).Bind(3, std::u16string_view(name)).Run();
  });
  if (!ok) {
    SetLastError(full ? ERROR_NOT_ENOUGH_MEMORY : ERROR_GEN_FAILURE);
    return 0;
  }
  return static_cast<UINT>(id);
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  // Taps and keys (what the screen posts) restart the idle-off time.
  if ((msg >= WM_KEYDOWN && msg <= 0x0109u) || (msg >= 0x0200u && msg <= 0x020Eu)) power::NoteActivity(d);
  if (hwnd == HWND_BROADCAST) {
    for (const Row& w : TopLevelWindows(d)) Enqueue(d, w.owner, w.hwnd, msg, wParam, lParam);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (!hwnd) return Enqueue(d, Self(), 0, msg, wParam, lParam) ? TRUE : FALSE;
  if (IsLocalWindow(d, hwnd)) return Enqueue(d, Self(), ToId(hwnd), msg, wParam, lParam) ? TRUE : FALSE;
  auto row = LoadWindow(d, hwnd);
  if (!row) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return Enqueue(d, row->owner, row->hwnd, msg, wParam, lParam) ? TRUE : FALSE;
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return Send(hwnd, msg, wParam, lParam, INFINITE, nullptr);
}

LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT, UINT timeout,
                            ULONG_PTR* result) {
  return Send(hwnd, msg, wParam, lParam, timeout == INFINITE ? INFINITE - 1 : timeout, result);
}

void PostQuitMessage(int exitCode) {
  Device* d = DeviceOrFail();
  if (!d) return;
  {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    st->quit = true;
    st->quitCode = exitCode;
  }
  Wake(d, Self());  // in case another thread of ours waits in GetMessage
}

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  Device* d = DeviceOrFail();
  if (!d) return -1;
  Filter f;
  if (!MakeFilter(d, hwnd, filterMin, filterMax, &f)) return -1;
  clock::LayerWait layer(d);
  for (;;) {
    layer.BeginRound();
    if (Peek(d, f, true, msg)) return msg->message == WM_QUIT ? FALSE : TRUE;
    switch (RunIdleHandler()) {
      case IdleResult::kProgress: continue;
      case IdleResult::kQuit:
        *msg = MSG{nullptr, WM_QUIT, 0, 0, GetTickCount(), POINT{0, 0}};
        return FALSE;
      case IdleResult::kWait: break;
    }
    int64_t wait = NextTimerWait(d, f);
    if (layer.OnDeviceClock()) {
      const int64_t due = wait == INT_MAX ? clock::kNoDeadline : DeviceNowMs() + wait;
      if (!layer.Publish(due)) continue;
      wait = clock::LayerWait::RoundMs(due);
    }
    ce::win::Nap(OwnWakeFd(d), {}, wait);
  }
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  Filter f;
  if (!MakeFilter(d, hwnd, filterMin, filterMax, &f)) return FALSE;
  return Peek(d, f, (removeFlags & PM_REMOVE) != 0, msg) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || msg->message != WM_KEYDOWN) return FALSE;
  WPARAM vk = msg->wParam;
  WPARAM ch = 0;
  if ((vk >= '0' && vk <= '9') || vk == 0x20 || vk == 0x0D || vk == 0x08 || vk == 0x1B) ch = vk;
  else if (vk >= 'A' && vk <= 'Z') ch = vk - 'A' + 'a';
  if (!ch) return FALSE;
  return PostMessageW(msg->hwnd, WM_CHAR, ch, msg->lParam);
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    // Only a procedure this process registered with SetTimer is called.
    TIMERPROC proc = nullptr;
    {
      LocalState* st;
      auto lock = LockLocal(d, &st);
      for (const Timer& t : st->timers) {
        if (t.hwnd == ToId(msg->hwnd) && t.id == msg->wParam &&
            reinterpret_cast<LPARAM>(t.proc) == msg->lParam)
          proc = t.proc;
      }
    }
    if (proc) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  // The pointer over a window asks it (and its parents) for the cursor
  // before the mouse message arrives.
  if (msg->message == WM_MOUSEMOVE || msg->message == WM_LBUTTONDOWN || msg->message == WM_LBUTTONUP) {
    CallOwn(d, msg->hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(msg->hwnd), MAKELPARAM(HTCLIENT, msg->message));
  }
  return CallOwn(d, msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (hwnd) {
    std::optional<Row> row;
    if (IsLocalWindow(d, hwnd)) {
      row.emplace();
      row->owner = Self();
    } else {
      row = LoadWindow(d, hwnd);
    }
    if (!row || !(row->owner == Self())) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (id == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  }
  LocalState* st;
  auto lock = LockLocal(d, &st);
  Timer t{ToId(hwnd), id, std::max<UINT>(elapse, 1), 0, proc};
  t.due = DeviceNowMs() + t.elapse;
  auto same = std::find_if(st->timers.begin(), st->timers.end(),
                           [&](const Timer& x) { return x.hwnd == t.hwnd && x.id == id; });
  if (same == st->timers.end() || (!hwnd && id == 0)) {
    if (!hwnd) t.id = st->nextTimerId++;
    st->timers.push_back(t);
  } else {
    *same = t;
  }
  return t.id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  LocalState* st;
  auto lock = LockLocal(d, &st);
  auto it = std::find_if(st->timers.begin(), st->timers.end(),
                         [&](const Timer& t) { return t.hwnd == ToId(hwnd) && t.id == id; });
  if (it == st->timers.end()) {
    SetLastError(ERROR_TIMER_NOT_FOUND);
    return FALSE;
  }
  st->timers.erase(it);
  return TRUE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD) {
  if (waitAll || count >= MAXIMUM_WAIT_OBJECTS || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  Device* d = DeviceOrFail();
  if (!d) return WAIT_FAILED;
  std::vector<std::shared_ptr<Waitable>> objs;
  for (DWORD i = 0; i < count; ++i) {
    auto w = GetHandle<Waitable>(handles[i]);
    if (!w) return WAIT_FAILED;
    objs.push_back(std::move(w));
  }
  Filter all;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  clock::LayerWait layer(d);
  const int64_t deviceDeadline = milliseconds == INFINITE ? clock::kNoDeadline : DeviceNowMs() + milliseconds;
  for (;;) {
    layer.BeginRound();
    for (DWORD i = 0; i < count; ++i)
      if (objs[i]->Signalled()) return WAIT_OBJECT_0 + i;
    int fd = OwnWakeFd(d);
    DrainWake(fd);
    MSG m;
    if (TakePosted(d, all, false, &m) || NextTimerWait(d, all) == 0) return WAIT_OBJECT_0 + count;
    {
      Owner self = Self();
      std::lock_guard<std::recursive_mutex> g(d->DbLock());
      Stmt s(d->Db(), "SELECT 1 FROM window_messages WHERE pid = ? AND start_time = ? AND kind = 1 AND state = 0");
      s.Bind(1, self.pid).Bind(2, static_cast<int64_t>(self.start));
      if (s.Step()) return WAIT_OBJECT_0 + count;
    }
    {
      LocalState* st;
      auto lock = LockLocal(d, &st);
      if (st->quit) return WAIT_OBJECT_0 + count;
    }
    int64_t wait = NextTimerWait(d, all);
    if (layer.OnDeviceClock()) {
      // The time-out and the timers count on the device clock, which may jump.
      if (DeviceNowMs() >= deviceDeadline) return WAIT_TIMEOUT;
      const int64_t due = std::min(deviceDeadline, wait == INT_MAX ? clock::kNoDeadline : DeviceNowMs() + wait);
      if (!layer.Publish(due)) continue;
      wait = clock::LayerWait::RoundMs(due);
    } else if (milliseconds != INFINITE) {
      int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                         .count();
      if (left <= 0) return WAIT_TIMEOUT;
      wait = std::min(wait, left);
    }
    std::vector<pollfd> fds;
    for (auto& o : objs) {
      int ofd = o->WaitFd();
      if (ofd >= 0) fds.push_back({ofd, POLLIN, 0});
      else if (ofd == Waitable::kPollState) wait = std::min<int64_t>(wait, 10);
    }
    ce::win::Nap(fd, std::move(fds), wait);
  }
}
