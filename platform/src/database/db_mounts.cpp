#include "database/db_mounts.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <map>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "files/filestate.h"

namespace ce::db {
namespace {

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS db_mount(seq INTEGER PRIMARY KEY AUTOINCREMENT, guid BLOB NOT NULL UNIQUE,"
    " key TEXT NOT NULL UNIQUE, path TEXT NOT NULL, edb INTEGER NOT NULL, count INTEGER NOT NULL,"
    " system INTEGER NOT NULL, hold INTEGER NOT NULL, floor INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS db_oid_mark(key TEXT PRIMARY KEY, top INTEGER NOT NULL);";

// OIDs a store reserves in device.db at a time.
constexpr uint64_t kOidBlock = 256;

constexpr auto kCacheLife = std::chrono::milliseconds(100);

Mount RowOf(const Stmt& s) {
  Mount m;
  m.seq = s.Int(0);
  m.guid = GuidFromBytes(s.Blob(1));
  m.key = s.Text16(2);
  m.path = s.Text16(3);
  m.edb = s.Int(4) != 0;
  m.count = static_cast<int>(s.Int(5));
  m.system = s.Int(6) != 0;
  m.hold = s.Int(7);
  m.floor = static_cast<uint64_t>(s.Int(8));
  return m;
}

constexpr const char* kColumns = "SELECT seq, guid, key, path, edb, count, system, hold, floor FROM db_mount ";

struct MountCache {
  std::mutex lock;
  Device* dev = nullptr;
  std::chrono::steady_clock::time_point at;
  std::map<std::string, uint64_t> floors;  // by GUID bytes
  bool valid = false;
};

MountCache& Cache() {
  static MountCache* c = new MountCache;
  return *c;
}

bool Reserved(const CEGUID& g) {
  return CeGuidEqual(g, ZERO_CEGUID) || CeGuidEqual(g, CEDB_SYSTEMGUID) || CeGuidEqual(g, EDB_SYSTEMGUID);
}

// A random GUID that no mounted volume has.
bool NewGuid(Device* dev, CEGUID* out) {
  static std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    CEGUID g{rd(), rd(), rd(), rd()};
    if (Reserved(g)) continue;
    Stmt s(dev->Db(), "SELECT 1 FROM db_mount WHERE guid = ?");
    const std::string b = GuidBytes(g);
    if (s.BindBlob(1, b.data(), b.size()).Step()) continue;
    *out = g;
    return true;
  }
  return false;
}

}  // namespace

std::string GuidBytes(const CEGUID& g) {
  std::string b;
  le::Put32(&b, g.Data1);
  le::Put32(&b, g.Data2);
  le::Put32(&b, g.Data3);
  le::Put32(&b, g.Data4);
  return b;
}

CEGUID GuidFromBytes(std::string_view b) {
  if (b.size() != 16) return ZERO_CEGUID;
  return CEGUID{le::Get32(b, 0), le::Get32(b, 4), le::Get32(b, 8), le::Get32(b, 12)};
}

bool EnsureMountTable(Device* dev) { return dev && dev->EnsureSchema(kSchema); }

std::vector<Mount> ReadMounts(Device* dev) {
  std::vector<Mount> out;
  if (!EnsureMountTable(dev)) return out;
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev->Db(), (std::string(kColumns) + "ORDER BY seq").c_str());
  while (s.Step()) out.push_back(RowOf(s));
  return out;
}

bool FindMount(Device* dev, const CEGUID& guid, Mount* out) {
  if (!EnsureMountTable(dev)) return false;
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev->Db(), (std::string(kColumns) + "WHERE guid = ?").c_str());
  const std::string b = GuidBytes(guid);
  if (!s.BindBlob(1, b.data(), b.size()).Step()) return false;
  *out = RowOf(s);
  return true;
}

bool StillMounted(Device* dev, const CEGUID& guid, uint64_t* floor) {
  MountCache& c = Cache();
  std::lock_guard<std::mutex> g(c.lock);
  const auto now = std::chrono::steady_clock::now();
  if (!c.valid || c.dev != dev || now - c.at > kCacheLife) {
    c.floors.clear();
    for (const Mount& m : ReadMounts(dev)) c.floors[GuidBytes(m.guid)] = m.floor;
    c.dev = dev;
    c.at = now;
    c.valid = true;
  }
  auto it = c.floors.find(GuidBytes(guid));
  if (it == c.floors.end()) return false;
  if (floor) *floor = it->second;
  return true;
}

uint64_t OidMark(Device* dev, const std::u16string& key) {
  Stmt s(dev->Db(), "SELECT top FROM db_oid_mark WHERE key = ?");
  return s.Bind(1, std::u16string_view(key)).Step() ? static_cast<uint64_t>(s.Int(0)) : 0;
}

bool RaiseOidMark(Device* dev, const std::u16string& key, uint64_t atLeast, uint64_t* top) {
  if (!EnsureMountTable(dev)) return false;
  return dev->Transaction([&] {
    *top = std::max(OidMark(dev, key), atLeast) + kOidBlock;
    Stmt w(dev->Db(), "INSERT OR REPLACE INTO db_oid_mark(key, top) VALUES(?, ?)");
    return w.Bind(1, std::u16string_view(key)).Bind(2, static_cast<int64_t>(*top)).Run();
  });
}

void ForgetMountCache() {
  MountCache& c = Cache();
  std::lock_guard<std::mutex> g(c.lock);
  c.valid = false;
}

DWORD MountVolume(Device* dev, const ResolvedPath& path, bool edb, bool forSystem,
                  const std::function<DWORD()>& openStore, CEGUID* guid) {
  if (!EnsureMountTable(dev)) return ERROR_GEN_FAILURE;
  DWORD err = ERROR_SUCCESS;
  bool ok = dev->Transaction([&] {
    {
      Stmt s(dev->Db(), (std::string(kColumns) + "WHERE key = ?").c_str());
      if (s.Bind(1, std::u16string_view(path.key)).Step()) {
        Mount m = RowOf(s);
        if (m.edb != edb) {
          err = ERROR_FILE_CORRUPT;  // a volume of the other generation
          return false;
        }
        *guid = m.guid;
        Stmt u(dev->Db(), forSystem ? "UPDATE db_mount SET system = 1 WHERE seq = ?"
                                    : "UPDATE db_mount SET count = count + 1 WHERE seq = ?");
        return u.Bind(1, m.seq).Run();
      }
    }
    const int64_t hold =
        filestate::RegisterOpen(dev, path, GENERIC_READ | GENERIC_WRITE, 0, /*forSystem=*/true);
    if (!hold) {
      err = GetLastError();
      return false;
    }
    err = openStore();
    if (err != ERROR_SUCCESS) return false;
    CEGUID g{};
    if (!NewGuid(dev, &g)) {
      err = ERROR_GEN_FAILURE;
      return false;
    }
    const std::string b = GuidBytes(g);
    Stmt ins(dev->Db(),
             "INSERT INTO db_mount(guid, key, path, edb, count, system, hold, floor) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    ins.BindBlob(1, b.data(), b.size())
        .Bind(2, std::u16string_view(path.key))
        .Bind(3, std::u16string_view(path.device))
        .Bind(4, int64_t{edb})
        .Bind(5, int64_t{forSystem ? 0 : 1})
        .Bind(6, int64_t{forSystem})
        .Bind(7, hold)
        .Bind(8, static_cast<int64_t>(OidMark(dev, path.key)));
    if (!ins.Run()) return false;
    *guid = g;
    return true;
  });
  ForgetMountCache();
  if (ok) return ERROR_SUCCESS;
  return err != ERROR_SUCCESS ? err : ERROR_GEN_FAILURE;
}

DWORD UnmountVolume(Device* dev, const CEGUID& guid, std::filesystem::path* closed) {
  if (!EnsureMountTable(dev)) return ERROR_GEN_FAILURE;
  DWORD err = ERROR_SUCCESS;
  bool gone = false;
  Mount m;
  bool ok = dev->Transaction([&] {
    {
      Stmt s(dev->Db(), (std::string(kColumns) + "WHERE guid = ?").c_str());
      const std::string b = GuidBytes(guid);
      if (!s.BindBlob(1, b.data(), b.size()).Step()) {
        err = ERROR_INVALID_PARAMETER;
        return false;
      }
      m = RowOf(s);
    }
    if (m.count <= 0) {
      err = ERROR_ACCESS_DENIED;  // only the system's own hold is left
      return false;
    }
    if (m.count > 1 || m.system) {
      return Stmt(dev->Db(), "UPDATE db_mount SET count = count - 1 WHERE seq = ?").Bind(1, m.seq).Run();
    }
    gone = true;
    return Stmt(dev->Db(), "DELETE FROM db_mount WHERE seq = ?").Bind(1, m.seq).Run() &&
           Stmt(dev->Db(), "DELETE FROM file_open WHERE id = ?").Bind(1, m.hold).Run();
  });
  ForgetMountCache();
  if (!ok) return err != ERROR_SUCCESS ? err : ERROR_GEN_FAILURE;
  if (gone && closed) {
    ResolvedPath r;
    if (dev->Resolve(m.path, &r)) *closed = r.host;
  }
  return ERROR_SUCCESS;
}

bool EndAllMounts(Device* dev) {
  if (!EnsureMountTable(dev)) return false;
  bool ok = dev->Transaction([&] {
    return Stmt(dev->Db(), "DELETE FROM file_open WHERE id IN (SELECT hold FROM db_mount)").Run() &&
           Stmt(dev->Db(), "DELETE FROM db_mount").Run();
  });
  ForgetMountCache();
  return ok;
}

}  // namespace ce::db
