// The kernel's side of the notification store: the store in use and the
// events queued for the kernel (see cesim/notifystore.h).
#include <atomic>

#include "ce/errors.h"
#include "notify/notify_store.h"

namespace ce {
namespace {

std::atomic<NotificationStore*> gTestStore{nullptr};

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS notify_events(id INTEGER PRIMARY KEY, event INTEGER NOT NULL);";

}  // namespace

NotificationStore& DeviceNotificationStore() {
  NotificationStore* test = gTestStore.load();
  return test ? *test : notify::PlatformNotificationStore();
}

void SetNotificationStoreForTest(NotificationStore* store) { gTestStore = store; }

bool QueueNotificationEvent(DWORD n) {
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  SetLastError(saved);
  if (!d || !d->EnsureSchema(kSchema)) return false;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "INSERT INTO notify_events(event) VALUES(?)");
  return s.Bind(1, static_cast<int64_t>(n)).Run();
}

std::vector<DWORD> notify::TakeQueuedEvents(Device* d) {
  std::vector<DWORD> out;
  if (!d || !d->EnsureSchema(kSchema)) return out;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt any(d->Db(), "SELECT 1 FROM notify_events LIMIT 1");
    if (!any.ok() || !any.Step()) return out;
  }
  d->Transaction([&] {
    out.clear();
    Stmt s(d->Db(), "SELECT event FROM notify_events ORDER BY id");
    while (s.Step()) out.push_back(static_cast<DWORD>(s.Int(0)));
    Stmt del(d->Db(), "DELETE FROM notify_events");
    return del.Run();
  });
  return out;
}

}  // namespace ce
