// The device's power and battery (see power/power_state.h).
#include "power/power_state.h"

#include <algorithm>

#include "ce/system.h"
#include "ce/time.h"

namespace ce::power {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS power_changes(id INTEGER PRIMARY KEY, ms INTEGER NOT NULL,"
    " is_on INTEGER NOT NULL, wake_up INTEGER NOT NULL, cause TEXT NOT NULL, pid INTEGER NOT NULL,"
    " taken INTEGER NOT NULL DEFAULT 0);";

bool ReadMeta(const char* key, Stmt* out) {
  out->Bind(1, std::string_view(key));
  return out->ok() && out->Step() && !out->IsNull(0);
}

int64_t MetaInt(Device* d, const char* key, int64_t fallback) {
  Stmt s(d->Db(), "SELECT value FROM meta WHERE key = ?");
  return ReadMeta(key, &s) ? s.Int(0) : fallback;
}

double MetaReal(Device* d, const char* key, double fallback) {
  Stmt s(d->Db(), "SELECT value FROM meta WHERE key = ?");
  return ReadMeta(key, &s) ? sqlite3_column_double(s.raw(), 0) : fallback;
}

bool PutMeta(Device* d, const char* key, int64_t value) {
  Stmt s(d->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
  return s.Bind(1, std::string_view(key)).Bind(2, value).Run();
}

bool PutMetaReal(Device* d, const char* key, double value) {
  Stmt s(d->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
  s.Bind(1, std::string_view(key));
  return s.ok() && sqlite3_bind_double(s.raw(), 2, value) == SQLITE_OK && s.Run();
}

}  // namespace

bool EnsureTables(Device* d) { return d && d->EnsureSchema(kSchema); }

bool IsOnState(DWORD flags) { return !(flags & (POWER_STATE_OFF | POWER_STATE_SUSPEND)); }

bool IsOn(Device* d) {
  if (!EnsureTables(d)) return true;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  return IsOnState(static_cast<DWORD>(MetaInt(d, "power_state_flags", POWER_STATE_ON)));
}

bool SetState(Device* d, const std::u16string& name, DWORD flags, const std::string& cause, int64_t pid) {
  if (!EnsureTables(d)) return false;
  return d->Transaction([&] {
    const bool wasOn = IsOnState(static_cast<DWORD>(MetaInt(d, "power_state_flags", POWER_STATE_ON)));
    const bool on = IsOnState(flags);
    Stmt n(d->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES('power_state_name', ?)");
    if (!n.Bind(1, std::u16string_view(name)).Run() || !PutMeta(d, "power_state_flags", flags)) return false;
    if (wasOn == on) return true;
    const int64_t now = DeviceNowMs();
    Stmt c(d->Db(), "INSERT INTO power_changes(ms, is_on, wake_up, cause, pid) VALUES(?, ?, ?, ?, ?)");
    if (!c.Bind(1, now).Bind(2, on ? 1 : 0).Bind(3, on ? 1 : 0).Bind(4, std::string_view(cause)).Bind(5, pid).Run())
      return false;
    return !on || PutMeta(d, "idle_since_ms", now);
  });
}

bool Switch(Device* d, bool on, const std::string& cause, int64_t pid) {
  return on ? SetState(d, u"on", POWER_STATE_ON, cause, pid)
            : SetState(d, u"suspend", POWER_STATE_SUSPEND, cause, pid);
}

void NoteActivity(Device* d) {
  if (!EnsureTables(d)) return;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  PutMeta(d, "idle_since_ms", DeviceNowMs());  // a failure only lets idle-off come early
}

int64_t IdleSinceMs(Device* d) {
  if (!EnsureTables(d)) return DeviceNowMs();
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    const int64_t stored = MetaInt(d, "idle_since_ms", -1);
    if (stored >= 0) return stored;
  }
  int64_t since = DeviceNowMs();
  d->Transaction([&] {
    const int64_t stored = MetaInt(d, "idle_since_ms", -1);
    if (stored >= 0) {
      since = stored;
      return true;
    }
    return PutMeta(d, "idle_since_ms", since);  // counts from the first look
  });
  return since;
}

std::vector<Change> TakeChanges(Device* d) {
  std::vector<Change> out;
  if (!EnsureTables(d)) return out;
  {
    // Most looks find nothing: they take no write lock.
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt any(d->Db(), "SELECT 1 FROM power_changes WHERE taken = 0 LIMIT 1");
    if (!any.ok() || !any.Step()) return out;
  }
  d->Transaction([&] {
    out.clear();
    Stmt s(d->Db(), "SELECT ms, is_on, wake_up, cause, pid FROM power_changes WHERE taken = 0 ORDER BY id");
    while (s.Step()) out.push_back(Change{s.Int(0), s.Int(1) != 0, s.Int(2) != 0, s.Text(3), s.Int(4)});
    Stmt t(d->Db(), "UPDATE power_changes SET taken = 1 WHERE taken = 0");
    return t.Run();
  });
  return out;
}

void DropChanges(Device* d) {
  if (!EnsureTables(d)) return;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt t(d->Db(), "UPDATE power_changes SET taken = 1 WHERE taken = 0");
  t.Run();  // a failure leaves them for the kernel to print
}

Battery ReadBattery(Device* d) {
  Battery b;
  const Profile& p = d->GetProfile();
  b.percent = p.batteryPercent;
  b.ac = p.batteryAc;
  b.drainPerHour = p.batteryDrain;
  if (!EnsureTables(d)) return b;
  const int64_t now = DeviceNowMs();
  d->Transaction([&] {
    if (MetaInt(d, "battery_ref_ms", -1) < 0) {
      // First use: the profile's battery, from now on.
      if (!PutMeta(d, "battery_ref_ms", now) || !PutMetaReal(d, "battery_ref_percent", b.percent) ||
          !PutMeta(d, "battery_ac", b.ac ? 1 : 0) || !PutMetaReal(d, "battery_drain", b.drainPerHour))
        return false;
    }
    const int64_t ref = MetaInt(d, "battery_ref_ms", now);
    b.ac = MetaInt(d, "battery_ac", 1) != 0;
    b.drainPerHour = MetaReal(d, "battery_drain", 0);
    b.percent = MetaReal(d, "battery_ref_percent", 100);
    // Drained by whole device seconds, so that a charge just set reads as set.
    if (!b.ac && now > ref) b.percent -= b.drainPerHour * static_cast<double>((now - ref) / 1000) / 3600.0;
    b.percent = std::clamp(b.percent, 0.0, 100.0);
    return true;
  });
  return b;
}

bool WriteBattery(Device* d, const Battery& b) {
  if (!EnsureTables(d)) return false;
  return d->Transaction([&] {
    return PutMeta(d, "battery_ref_ms", DeviceNowMs()) && PutMetaReal(d, "battery_ref_percent", b.percent) &&
           PutMeta(d, "battery_ac", b.ac ? 1 : 0) && PutMetaReal(d, "battery_drain", b.drainPerHour);
  });
}

}  // namespace ce::power
