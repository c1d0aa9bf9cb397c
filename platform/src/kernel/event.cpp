// Events (ce/event.h). Unnamed events live in this process; named ones are
// rows of device.db, shared by every device process:
//   events(id, name_key, name, manual, signalled, boot)
//   event_holders(event_id, pid, start_time, handles)
// An event row lives while a holder row names it (or the boot holds it);
// holder rows of processes that have ended are dropped whenever a name is
// looked up, so an event whose last holder died does not outlive it.
#include "ce/event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "ce/errors.h"
#include "ce/handle.h"
#include "ce/process.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "cesim/event.h"
#include "cesim/process.h"
#include "clock/device_clock.h"
#include "kernel/event_table.h"
#include "window/window_state.h"

namespace ce {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS events("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, name_key TEXT NOT NULL UNIQUE, name TEXT NOT NULL,"
    " manual INTEGER NOT NULL, signalled INTEGER NOT NULL, boot INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS event_holders("
    " event_id INTEGER NOT NULL, pid INTEGER NOT NULL, start_time INTEGER NOT NULL,"
    " handles INTEGER NOT NULL, PRIMARY KEY(event_id, pid, start_time));";

bool EnsureTables(Device* d) { return d->EnsureSchema(kSchema); }

struct Holder {
  int64_t pid;
  int64_t start;
};

Holder SelfHolder() {
  const int pid = static_cast<int>(getpid());
  return Holder{pid, static_cast<int64_t>(HostProcessStartTime(pid))};
}

// Drops the holders that have ended and the events nobody holds any more.
// Runs inside a write transaction.
bool DropDeadHolders(Device* d) {
  std::vector<Holder> dead;
  {
    Stmt s(d->Db(), "SELECT DISTINCT pid, start_time FROM event_holders");
    while (s.Step()) {
      Holder h{s.Int(0), s.Int(1)};
      if (!HostProcessAlive(static_cast<int>(h.pid), static_cast<uint64_t>(h.start))) dead.push_back(h);
    }
  }
  for (const Holder& h : dead) {
    Stmt del(d->Db(), "DELETE FROM event_holders WHERE pid = ? AND start_time = ?");
    if (!del.Bind(1, h.pid).Bind(2, h.start).Run()) return false;
  }
  Stmt gone(d->Db(),
            "DELETE FROM events WHERE boot = 0 AND id NOT IN (SELECT event_id FROM event_holders)");
  return gone.Run();
}

// Adds one handle of this process to the event's holders (in a transaction).
bool AddHolder(Device* d, int64_t id) {
  Holder self = SelfHolder();
  Stmt s(d->Db(),
         "INSERT INTO event_holders(event_id, pid, start_time, handles) VALUES(?, ?, ?, 1)"
         " ON CONFLICT(event_id, pid, start_time) DO UPDATE SET handles = handles + 1");
  return s.Bind(1, id).Bind(2, self.pid).Bind(3, self.start).Run();
}

// Wakes the processes holding the event, so that a wait in the window
// layer (MsgWaitForMultipleObjects) looks at it at once.
void WakeHolders(Device* d, int64_t id) {
  std::vector<win::Owner> owners;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), "SELECT pid, start_time FROM event_holders WHERE event_id = ?");
    s.Bind(1, id);
    while (s.Step()) owners.push_back(win::Owner{static_cast<int>(s.Int(0)), static_cast<uint64_t>(s.Int(1))});
  }
  for (const win::Owner& o : owners) win::Wake(d, o);
}

class EventObject : public Waitable {
 public:
  virtual bool Set() = 0;
  virtual bool Reset() = 0;
};

// An unnamed event: its state in this process, an eventfd that is
// readable while the event is set.
class LocalEvent : public EventObject {
 public:
  LocalEvent(bool manual, bool initial) : manual_(manual), fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (initial) Set();
  }
  ~LocalEvent() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Valid() const { return fd_ >= 0; }
  int WaitFd() const override { return fd_; }
  bool Signalled() override {
    std::lock_guard<std::mutex> g(m_);
    if (!set_) return false;
    if (!manual_) Clear();
    return true;
  }
  bool Peek() override {
    std::lock_guard<std::mutex> g(m_);
    return set_;
  }
  bool Set() override {
    std::lock_guard<std::mutex> g(m_);
    if (set_) return true;
    const uint64_t one = 1;
    if (write(fd_, &one, sizeof one) != sizeof one) {
      SetLastError(ErrorFromErrno(errno));
      return false;
    }
    set_ = true;
    return true;
  }
  bool Reset() override {
    std::lock_guard<std::mutex> g(m_);
    if (set_) Clear();
    return true;
  }

 private:
  void Clear() {
    uint64_t v = 0;
    // Reading empties the eventfd; a failed read finds it empty already.
    ssize_t n = read(fd_, &v, sizeof v);
    (void)n;
    set_ = false;
  }
  const bool manual_;
  const int fd_;
  std::mutex m_;
  bool set_ = false;
};

// A named event: a row of device.db.
class NamedEvent : public EventObject {
 public:
  NamedEvent(Device* d, int64_t id) : d_(d), id_(id) {}
  int WaitFd() const override { return kPollState; }
  bool Signalled() override {
    bool taken = false;
    d_->Transaction([&] {
      Stmt s(d_->Db(), "SELECT manual, signalled FROM events WHERE id = ?");
      s.Bind(1, id_);
      if (!s.Step() || s.Int(1) == 0) return true;
      if (s.Int(0) != 0) {
        taken = true;
        return true;
      }
      s.Reset();
      Stmt take(d_->Db(), "UPDATE events SET signalled = 0 WHERE id = ? AND signalled = 1");
      taken = take.Bind(1, id_).Run() && sqlite3_changes(d_->Db()) == 1;
      return taken;
    });
    return taken;
  }
  bool Peek() override {
    std::lock_guard<std::recursive_mutex> g(d_->DbLock());
    Stmt s(d_->Db(), "SELECT signalled FROM events WHERE id = ?");
    s.Bind(1, id_);
    return s.Step() && s.Int(0) != 0;
  }
  bool Set() override {
    if (!Store(1)) return false;
    WakeHolders(d_, id_);
    return true;
  }
  bool Reset() override { return Store(0); }
  bool Close() override {
    Holder self = SelfHolder();
    // A failure leaves a holder row that goes once this process has ended.
    d_->Transaction([&] {
      Stmt dec(d_->Db(),
               "UPDATE event_holders SET handles = handles - 1 WHERE event_id = ? AND pid = ? AND start_time = ?");
      Stmt drop(d_->Db(), "DELETE FROM event_holders WHERE handles <= 0");
      Stmt gone(d_->Db(),
                "DELETE FROM events WHERE id = ? AND boot = 0 AND id NOT IN (SELECT event_id FROM event_holders)");
      return dec.Bind(1, id_).Bind(2, self.pid).Bind(3, self.start).Run() && drop.Run() && gone.Bind(1, id_).Run();
    });
    return true;
  }

 private:
  bool Store(int signalled) {
    bool found = false;
    bool ok = d_->Transaction([&] {
      Stmt s(d_->Db(), "UPDATE events SET signalled = ? WHERE id = ?");
      if (!s.Bind(1, signalled).Bind(2, id_).Run()) return false;
      found = sqlite3_changes(d_->Db()) == 1;
      return !found || clock::NoteChange(d_);
    });
    if (!ok) {
      SetLastError(ERROR_GEN_FAILURE);
      return false;
    }
    if (!found) {  // cannot happen while this handle holds it
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return true;
  }
  Device* d_;
  int64_t id_;
};

enum class Lookup { kCreate, kOpen };

// Finds (or makes) the named event and adds this process as a holder.
HANDLE NamedHandle(std::u16string_view name, bool manual, bool initial, Lookup how) {
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  SetLastError(saved);
  if (!d) {
    SetLastError(ERROR_NOT_READY);
    return nullptr;
  }
  if (!EnsureTables(d)) {
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  const std::u16string key = DeviceUpper(name);
  int64_t id = 0;
  bool existed = false, missing = false;
  bool ok = d->Transaction([&] {
    if (!DropDeadHolders(d)) return false;
    Stmt find(d->Db(), "SELECT id FROM events WHERE name_key = ?");
    find.Bind(1, std::u16string_view(key));
    if (find.Step()) {
      id = find.Int(0);
      existed = true;
    } else if (how == Lookup::kOpen) {
      missing = true;
      return false;
    } else {
      Stmt add(d->Db(), "INSERT INTO events(name_key, name, manual, signalled) VALUES(?, ?, ?, ?)");
      if (!add.Bind(1, std::u16string_view(key)).Bind(2, name).Bind(3, manual ? 1 : 0).Bind(4, initial ? 1 : 0).Run())
        return false;
      id = sqlite3_last_insert_rowid(d->Db());
      if (initial && !clock::NoteChange(d)) return false;
    }
    return AddHolder(d, id);
  });
  if (!ok) {
    SetLastError(missing ? ERROR_FILE_NOT_FOUND : ERROR_GEN_FAILURE);
    return nullptr;
  }
  HANDLE h = AddHandle(std::make_shared<NamedEvent>(d, id));
  SetLastError(existed && how == Lookup::kCreate ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

bool CheckName(LPCWSTR name) {
  if (std::char_traits<char16_t>::length(name) > kMaxEventName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

namespace event {

bool ClearAll(Device* d) {
  if (!EnsureTables(d)) return false;
  return d->Transaction([&] {
    return d->Exec("DELETE FROM event_holders") && d->Exec("DELETE FROM events") && clock::NoteChange(d);
  });
}

bool HoldForBoot(Device* d, std::u16string_view name, bool manual, bool set) {
  if (!EnsureTables(d)) return false;
  const std::u16string key = DeviceUpper(name);
  return d->Transaction([&] {
    Stmt s(d->Db(),
           "INSERT INTO events(name_key, name, manual, signalled, boot) VALUES(?, ?, ?, ?, 1)"
           " ON CONFLICT(name_key) DO UPDATE SET boot = 1, signalled = excluded.signalled");
    return s.Bind(1, std::u16string_view(key)).Bind(2, name).Bind(3, manual ? 1 : 0).Bind(4, set ? 1 : 0).Run() &&
           clock::NoteChange(d);
  });
}

}  // namespace event

std::vector<NamedEventInfo> ListNamedEvents() {
  std::vector<NamedEventInfo> out;
  Device* d = Device::Current();
  if (!d || !EnsureTables(d)) return out;
  // Forget the events of ended processes first, as a lookup does.
  d->Transaction([&] { return DropDeadHolders(d); });
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(),
         "SELECT e.name, e.manual, e.signalled, e.boot,"
         " (SELECT COUNT(*) FROM event_holders h WHERE h.event_id = e.id)"
         " FROM events e ORDER BY e.id");
  while (s.Step()) {
    NamedEventInfo e;
    e.name = s.Text16(0);
    e.manualReset = s.Int(1) != 0;
    e.signalled = s.Int(2) != 0;
    e.heldByBoot = s.Int(3) != 0;
    e.holders = static_cast<int>(s.Int(4));
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace ce

HANDLE CreateEventW(LPVOID, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (name && *name) {
    if (!ce::CheckName(name)) return nullptr;
    return ce::NamedHandle(name, manualReset != FALSE, initialState != FALSE, ce::Lookup::kCreate);
  }
  auto e = std::make_shared<ce::LocalEvent>(manualReset != FALSE, initialState != FALSE);
  if (!e->Valid()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE h = ce::AddHandle(std::move(e));
  SetLastError(ERROR_SUCCESS);
  return h;
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!ce::CheckName(name)) return nullptr;
  return ce::NamedHandle(name, false, false, ce::Lookup::kOpen);
}

BOOL SetEvent(HANDLE event) {
  auto e = ce::GetHandle<ce::EventObject>(event);
  return e && e->Set() ? TRUE : FALSE;
}

BOOL ResetEvent(HANDLE event) {
  auto e = ce::GetHandle<ce::EventObject>(event);
  return e && e->Reset() ? TRUE : FALSE;
}
