// File bookkeeping in device.db: metadata rows, the share table and holds,
// volumes and their used bytes, storage card removal.
#include "files/filestate.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <unordered_map>

#include "boot/boot_state.h"
#include "ce/errors.h"
#include "cesim/file.h"
#include "files/holdmarks.h"

namespace fs = std::filesystem;

namespace ce::filestate {
namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS file_meta(key TEXT PRIMARY KEY, attributes INTEGER NOT NULL,"
    " ctime INTEGER NOT NULL, atime INTEGER NOT NULL, wtime INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS file_open(id INTEGER PRIMARY KEY AUTOINCREMENT, pid INTEGER NOT NULL,"
    " start INTEGER NOT NULL, key TEXT NOT NULL, access INTEGER NOT NULL, share INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS file_open_key ON file_open(key);";

// Start time of a process (clock ticks since boot), or -1 when it is gone.
int64_t ProcessStart(int64_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  if (!f) return -1;
  std::stringstream ss;
  ss << f.rdbuf();
  std::string s = ss.str();
  size_t close = s.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(s.substr(close + 1));
  std::string tok;
  // Fields after the command: state is field 3, start time field 22.
  for (int field = 3; fields >> tok; ++field) {
    if (field == 22) return std::stoll(tok);
  }
  return -1;
}

struct Self {
  int64_t pid;
  int64_t start;
};

Self CurrentProcess() {
  static std::mutex m;
  static Self cached{-1, -1};
  std::lock_guard<std::mutex> g(m);
  int64_t pid = Device::ProcessId();
  if (cached.pid != pid) cached = {pid, ProcessStart(pid)};  // refreshed after fork
  return cached;
}

bool Alive(int64_t pid, int64_t start) {
  if (pid == 0) return true;  // system hold
  Self self = CurrentProcess();
  if (pid == self.pid) return start == self.start;
  return ProcessStart(pid) == start;
}

DWORD ShareAsAccess(DWORD share) {
  return ((share & FILE_SHARE_READ) ? GENERIC_READ : 0) |
         ((share & FILE_SHARE_WRITE) ? GENERIC_WRITE : 0);
}

bool Conflicts(DWORD accessA, DWORD shareA, DWORD accessB, DWORD shareB) {
  return (accessA & ~ShareAsAccess(shareB)) != 0 || (accessB & ~ShareAsAccess(shareA)) != 0;
}

// The user hive is loaded once the boot's init phase is over.
bool UserHiveHeld(Device* dev) {
  DWORD saved = GetLastError();
  bool held = !boot::InInitPhase(dev);
  SetLastError(saved);
  return held;
}

std::u16string TreePrefix(const std::u16string& key) { return key == u"\\" ? key : key + u'\\'; }

// The first key after every key that starts with prefix (which ends in
// '\'): '\' is 0x5C and ']' 0x5D, so the keys below a folder are one range
// of the key index, [prefix, TreeEnd(prefix)).
std::u16string TreeEnd(std::u16string prefix) {
  prefix.back() = u']';
  return prefix;
}

struct UsedCache {
  std::mutex lock;
  struct Entry {
    uint64_t bytes;
    std::chrono::steady_clock::time_point until;  // walked again after this
  };
  std::map<std::string, Entry> entries;
};

UsedCache& Used() {
  static UsedCache* c = new UsedCache;
  return *c;
}

std::string CacheKey(Device* dev, const Volume& v) {
  return dev->Dir().string() + "|" + ToUtf8(v.key);
}

uint64_t WalkBytes(const fs::path& root, Device* dev, bool skipCards) {
  uint64_t total = 0;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (skipCards && it.depth() == 0 && it->is_directory(ec) &&
        IsCardRoot(dev, DeviceUpper(u"\\" + FromUtf8(it->path().filename().string())))) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) total += it->file_size(ec);
  }
  return total;
}

}  // namespace

void KillPoint(const char* point) {
  static const char* const at = getenv(kFilesKillEnv);  // read once: this runs on every call
  if (at && std::strcmp(at, point) == 0) kill(getpid(), SIGKILL);
}

Device* Dev() {
  Device* dev = Device::Current();
  if (!dev) return nullptr;
  static std::mutex m;
  static std::set<std::pair<Device*, int64_t>> ready;
  std::lock_guard<std::mutex> g(m);
  auto id = std::make_pair(dev, static_cast<int64_t>(Device::ProcessId()));
  if (!ready.count(id)) {
    std::lock_guard<std::recursive_mutex> dg(dev->DbLock());
    if (!dev->Exec(kSchema)) {
      SetLastError(ERROR_GEN_FAILURE);
      return nullptr;
    }
    ready.insert(id);
  }
  return dev;
}

uint64_t TicksFromTimespec(const struct timespec& ts) {
  int64_t t = static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
  return kUnixEpochTicks + static_cast<uint64_t>(t);
}

uint64_t NowTicks(Device* dev) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return TicksFromTimespec(ts) + static_cast<uint64_t>(dev->ClockOffsetMs() * 10000);
}

bool ResolveArg(Device* dev, LPCWSTR path, ResolvedPath* out) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return dev->Resolve(std::u16string_view(path, StrLen(path)), out);
}

bool IsRomFile(Device* dev, const std::u16string& key) {
  for (const auto& p : dev->GetProfile().romFiles) {
    if (EqualNoCase(p, key)) return true;
  }
  return false;
}

bool IsCardRoot(Device* dev, const std::u16string& key) {
  if (key.size() < 2 || key[0] != u'\\' || key.find(u'\\', 1) != std::u16string::npos) return false;
  for (const auto& c : dev->GetProfile().cards) {
    if (EqualNoCase(c, std::u16string_view(key).substr(1))) return true;
  }
  return false;
}

bool IsMountRoot(Device* dev, const std::u16string& key) {
  static constexpr std::u16string_view kNetworkPrefix = u"\\NETWORK\\";
  const bool share = key.size() > kNetworkPrefix.size() && key.compare(0, kNetworkPrefix.size(), kNetworkPrefix) == 0 &&
                     key.find(u'\\', kNetworkPrefix.size()) == std::u16string::npos;
  return key == u"\\NETWORK" || share || IsCardRoot(dev, key);
}

bool ReadMetaRow(Device* dev, const std::u16string& key, MetaRow* row) {
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev, "SELECT attributes, ctime, atime, wtime FROM file_meta WHERE key=?");
  s.Bind(1, std::u16string_view(key));
  if (!s.Step()) return false;
  row->attributes = static_cast<DWORD>(s.Int(0));
  row->ctime = static_cast<uint64_t>(s.Int(1));
  row->atime = static_cast<uint64_t>(s.Int(2));
  row->wtime = static_cast<uint64_t>(s.Int(3));
  return true;
}

bool ReadMetaRowsBelow(Device* dev, const std::u16string& folderKey,
                       std::unordered_map<std::u16string, MetaRow>* rows) {
  std::u16string prefix = TreePrefix(folderKey);
  std::u16string end = TreeEnd(prefix);
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev, "SELECT key, attributes, ctime, atime, wtime FROM file_meta WHERE key>=?1 AND key<?2");
  s.Bind(1, std::u16string_view(prefix)).Bind(2, std::u16string_view(end));
  if (!s.ok()) return false;
  int rc;
  while ((rc = sqlite3_step(s.raw())) == SQLITE_ROW) {
    std::u16string key = s.Text16(0);
    if (key.size() <= prefix.size() || key.find(u'\\', prefix.size()) != std::u16string::npos) continue;
    MetaRow& row = (*rows)[key.substr(prefix.size())];
    row.attributes = static_cast<DWORD>(s.Int(1));
    row.ctime = static_cast<uint64_t>(s.Int(2));
    row.atime = static_cast<uint64_t>(s.Int(3));
    row.wtime = static_cast<uint64_t>(s.Int(4));
  }
  return rc == SQLITE_DONE;
}

EntryInfo EntryFromStat(Device* dev, const std::u16string& key, const struct stat& st, const MetaRow* row) {
  EntryInfo e;
  bool dir = S_ISDIR(st.st_mode);
  e.size = dir ? 0 : static_cast<uint64_t>(st.st_size);
  e.oid = static_cast<DWORD>(st.st_ino);
  uint64_t mtime = TicksFromTimespec(st.st_mtim);
  e.ctime = e.atime = e.wtime = mtime;
  DWORD stored = 0;
  if (row) {
    stored = row->attributes;
    e.ctime = row->ctime;
    e.atime = row->atime;
    e.wtime = row->wtime;
  }
  if (dir) {
    e.mountRoot = IsMountRoot(dev, key);
    e.attributes = e.mountRoot ? (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY)
                               : (FILE_ATTRIBUTE_DIRECTORY | (stored & kSettableAttributes));
  } else if (IsRomFile(dev, key)) {
    e.rom = true;
    e.attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_INROM;
    std::u16string ext = key.size() > 4 ? key.substr(key.size() - 4) : u"";
    if (ext == u".EXE" || ext == u".DLL") e.attributes |= FILE_ATTRIBUTE_ROMMODULE;
  } else if (!row) {
    e.attributes = FILE_ATTRIBUTE_ARCHIVE;
  } else {
    stored &= kSettableAttributes;
    e.attributes = stored ? stored : FILE_ATTRIBUTE_NORMAL;
  }
  return e;
}

bool GetEntryInfo(Device* dev, const ResolvedPath& r, EntryInfo* info) {
  struct stat st;
  if (stat(r.host.c_str(), &st) != 0) {
    SetLastError(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  MetaRow row;
  bool haveRow = ReadMetaRow(dev, r.key, &row);
  *info = EntryFromStat(dev, r.key, st, haveRow ? &row : nullptr);
  return true;
}

bool PutMeta(Device* dev, const std::u16string& key, DWORD attributes, uint64_t ctime,
             uint64_t atime, uint64_t wtime) {
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev, "INSERT OR REPLACE INTO file_meta(key, attributes, ctime, atime, wtime) VALUES(?,?,?,?,?)");
  s.Bind(1, std::u16string_view(key))
      .Bind(2, static_cast<int64_t>(attributes & kSettableAttributes))
      .Bind(3, static_cast<int64_t>(ctime))
      .Bind(4, static_cast<int64_t>(atime))
      .Bind(5, static_cast<int64_t>(wtime));
  if (!s.Run()) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  return true;
}

bool SetMetaTimes(Device* dev, const ResolvedPath& r, const uint64_t* ctime, const uint64_t* atime,
                  const uint64_t* wtime) {
  // One statement, so one write: a missing row is made from the entry as it
  // stands, an existing one keeps what this call does not set (another
  // process may set its attributes or other times meanwhile).
  struct stat st;
  if (stat(r.host.c_str(), &st) != 0) {
    SetLastError(r.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  EntryInfo e = EntryFromStat(dev, r.key, st, nullptr);
  DWORD stored = e.rom ? 0 : e.attributes & kSettableAttributes;
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev,
         "INSERT INTO file_meta(key, attributes, ctime, atime, wtime) VALUES(?1,?2,?3,?4,?5)"
         " ON CONFLICT(key) DO UPDATE SET ctime=CASE WHEN ?6 THEN excluded.ctime ELSE ctime END,"
         " atime=CASE WHEN ?7 THEN excluded.atime ELSE atime END,"
         " wtime=CASE WHEN ?8 THEN excluded.wtime ELSE wtime END");
  s.Bind(1, std::u16string_view(r.key))
      .Bind(2, static_cast<int64_t>(stored))
      .Bind(3, static_cast<int64_t>(ctime ? *ctime : e.ctime))
      .Bind(4, static_cast<int64_t>(atime ? *atime : e.atime))
      .Bind(5, static_cast<int64_t>(wtime ? *wtime : e.wtime))
      .Bind(6, int64_t{ctime != nullptr})
      .Bind(7, int64_t{atime != nullptr})
      .Bind(8, int64_t{wtime != nullptr});
  if (!s.Run()) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  return true;
}

bool DeleteMetaTree(Device* dev, const std::u16string& key) {
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  std::u16string prefix = TreePrefix(key);
  Stmt s(dev, "DELETE FROM file_meta WHERE key=?1 OR (key>=?2 AND key<?3)");
  s.Bind(1, std::u16string_view(key))
      .Bind(2, std::u16string_view(prefix))
      .Bind(3, std::u16string_view(TreeEnd(prefix)));
  return s.Run();
}

bool MoveMetaTree(Device* dev, const std::u16string& fromKey, const std::u16string& toKey) {
  return dev->Transaction([&] {
    // Rows left behind at the target by files removed outside the device.
    if (!DeleteMetaTree(dev, toKey)) return false;
    std::u16string prefix = TreePrefix(fromKey);
    Stmt s(dev,
           "UPDATE file_meta SET key = ?3 || substr(key, length(?1) + 1)"
           " WHERE key=?1 OR (key>=?2 AND key<?4)");
    s.Bind(1, std::u16string_view(fromKey))
        .Bind(2, std::u16string_view(prefix))
        .Bind(3, std::u16string_view(toKey))
        .Bind(4, std::u16string_view(TreeEnd(prefix)));
    return s.Run();
  });
}

bool IsSystemHeld(Device* dev, const std::u16string& key) {
  if (EqualNoCase(kSystemHivePath, key)) return true;
  if (EqualNoCase(kUserHivePath, key)) return UserHiveHeld(dev);
  for (const auto& p : dev->GetProfile().heldOpen) {
    if (EqualNoCase(p, key)) return true;
  }
  return false;
}

bool CheckShare(Device* dev, const std::u16string& key, DWORD access, DWORD share, bool* conflict) {
  *conflict = false;
  if (IsSystemHeld(dev, key)) {
    *conflict = true;
    return true;
  }
  std::vector<int64_t> dead;
  {
    Stmt s(dev, "SELECT id, pid, start, access, share FROM file_open WHERE key=?");
    s.Bind(1, std::u16string_view(key));
    while (s.Step()) {
      if (!Conflicts(access, share, static_cast<DWORD>(s.Int(3)), static_cast<DWORD>(s.Int(4)))) continue;
      if (Alive(s.Int(1), s.Int(2))) {
        *conflict = true;
      } else {
        dead.push_back(s.Int(0));
      }
    }
  }
  for (int64_t d : dead)
    if (!Stmt(dev, "DELETE FROM file_open WHERE id=?").Bind(1, d).Run()) return false;
  return true;
}

bool ReadForOpen(Device* dev, const std::u16string& key, DWORD access, DWORD share, MetaRow* row, bool* haveRow,
                 bool* conflict) {
  *haveRow = *conflict = false;
  bool dead = false;
  {
    std::lock_guard<std::recursive_mutex> g(dev->DbLock());
    Stmt s(dev,
           "SELECT 0, attributes, ctime, atime, wtime, 0 FROM file_meta WHERE key=?1"
           " UNION ALL SELECT 1, id, pid, start, access, share FROM file_open WHERE key=?1");
    s.Bind(1, std::u16string_view(key));
    if (!s.ok()) return false;
    int rc;
    while ((rc = sqlite3_step(s.raw())) == SQLITE_ROW) {
      if (s.Int(0) == 0) {
        *haveRow = true;
        row->attributes = static_cast<DWORD>(s.Int(1));
        row->ctime = static_cast<uint64_t>(s.Int(2));
        row->atime = static_cast<uint64_t>(s.Int(3));
        row->wtime = static_cast<uint64_t>(s.Int(4));
      } else if (Conflicts(access, share, static_cast<DWORD>(s.Int(4)), static_cast<DWORD>(s.Int(5)))) {
        if (Alive(s.Int(2), s.Int(3))) *conflict = true;
        else dead = true;
      }
    }
    if (rc != SQLITE_DONE) return false;
  }
  if (*conflict || IsSystemHeld(dev, key)) {
    *conflict = true;
    return true;
  }
  // Dead holders' rows go in a write of their own.
  return !dead || dev->Transaction([&] { return CheckShare(dev, key, access, share, conflict); });
}

int64_t InsertOpen(Device* dev, const std::u16string& key, DWORD access, DWORD share, bool forSystem) {
  Self self = CurrentProcess();
  Stmt ins(dev, "INSERT INTO file_open(pid, start, key, access, share) VALUES(?,?,?,?,?)");
  ins.Bind(1, forSystem ? 0 : self.pid)
      .Bind(2, forSystem ? 0 : self.start)
      .Bind(3, std::u16string_view(key))
      .Bind(4, static_cast<int64_t>(access))
      .Bind(5, static_cast<int64_t>(share));
  if (!ins.Run()) return 0;
  return sqlite3_last_insert_rowid(dev->Db());
}

int64_t RegisterOpen(Device* dev, const ResolvedPath& r, DWORD access, DWORD share, bool forSystem) {
  const std::u16string& key = r.key;
  if (IsSystemHeld(dev, key)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return 0;
  }
  // Marked before the guard: an open that finds the mark clear under the
  // guard comes before this hold, and its bits show below.
  if (!MarkHold(dev, key)) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  bool conflict = false;
  // An existing file's live opens are met under its guard, held until the
  // row stands. (A mount registers inside its own transaction, so this
  // guard may come after the database lock there; the callers that take a
  // guard first only wait for that lock as long as its busy timeout.)
  UniqueFd fd;
  std::unique_ptr<FileGuard> guard;
  if (r.exists && !r.isDirectory) {
    fd = UniqueFd(open(r.host.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid() && errno == EACCES)
      fd = UniqueFd(open(r.host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.valid()) {
      guard = std::make_unique<FileGuard>(fd.get());
      if (!guard->ok() || !BitsConflict(fd.get(), access, share, &conflict)) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
      }
    }
    if (conflict) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return 0;
    }
  }
  int64_t id = 0;
  bool ok = dev->Transaction([&] {
    if (!CheckShare(dev, key, access, share, &conflict)) return false;
    if (conflict) return true;
    return (id = InsertOpen(dev, key, access, share, forSystem)) != 0;
  });
  if (!ok) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  if (conflict) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return 0;
  }
  return id;
}

bool DeleteOpenRow(Device* dev, int64_t id) {
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  return Stmt(dev, "DELETE FROM file_open WHERE id=?").Bind(1, id).Run();
}

bool UnregisterOpen(Device* dev, int64_t id) {
  if (id <= 0) return true;
  if (!DeleteOpenRow(dev, id)) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  return true;
}

bool IsOpenBelow(Device* dev, const std::u16string& key) {
  std::u16string prefix = TreePrefix(key);
  bool live = false;
  bool ok = dev->Transaction([&] {
    std::vector<int64_t> dead;
    {
      Stmt s(dev,
             "SELECT id, pid, start, key FROM file_open WHERE key=?1 OR (key>=?2 AND key<?3)");
      s.Bind(1, std::u16string_view(key))
          .Bind(2, std::u16string_view(prefix))
          .Bind(3, std::u16string_view(TreeEnd(prefix)));
      while (s.Step()) {
        if (Alive(s.Int(1), s.Int(2))) live = true;
        else dead.push_back(s.Int(0));
      }
    }
    for (int64_t d : dead)
      if (!DeleteOpenRow(dev, d)) return false;
    return true;
  });
  if (live || !ok) return true;  // unknown counts as open
  auto under = [&](const std::u16string& k) { return k == key || k.rfind(prefix, 0) == 0; };
  if (under(DeviceUpper(kSystemHivePath))) return true;
  if (under(DeviceUpper(kUserHivePath)) && UserHiveHeld(dev)) return true;
  for (const auto& p : dev->GetProfile().heldOpen)
    if (under(DeviceUpper(p))) return true;
  return false;
}

Volume VolumeOf(Device* dev, const ResolvedPath& r) {
  Volume v;
  v.root = u"\\";
  size_t end = r.device.find(u'\\', 1);
  std::u16string first = r.device.size() > 1 ? r.device.substr(0, end) : u"";
  if (!first.empty() && IsCardRoot(dev, DeviceUpper(first))) v.root = first;
  v.key = DeviceUpper(v.root);
  for (const auto& c : dev->GetProfile().capacities) {
    if (DeviceUpper(c.root) == v.key) {
      v.hasCapacity = true;
      v.capacity = c.bytes;
    }
  }
  return v;
}

uint64_t UsedBytes(Device* dev, const Volume& v) {
  UsedCache& c = Used();
  std::string ck = CacheKey(dev, v);
  const auto start = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> g(c.lock);
    auto it = c.entries.find(ck);
    if (it != c.entries.end() && start < it->second.until) return it->second.bytes;
  }
  uint64_t bytes = 0;
  if (v.key == u"\\") {
    bytes = WalkBytes(dev->FsRoot(), dev, true);
  } else {
    ResolvedPath r;
    if (dev->Resolve(v.root, &r) && r.isDirectory) bytes = WalkBytes(r.host, dev, false);
  }
  // The figure holds a second, or ten times as long as its walk took, so
  // that walking a large or slow volume never takes more than a tenth of
  // the writer's time.
  const auto end = std::chrono::steady_clock::now();
  const auto hold = std::max<std::chrono::steady_clock::duration>(std::chrono::seconds(1), (end - start) * 10);
  std::lock_guard<std::mutex> g(c.lock);
  c.entries[ck] = {bytes, end + hold};
  return bytes;
}

void AddUsed(Device* dev, const Volume& v, int64_t delta) {
  UsedCache& c = Used();
  std::lock_guard<std::mutex> g(c.lock);
  auto it = c.entries.find(CacheKey(dev, v));
  if (it == c.entries.end()) return;
  int64_t b = static_cast<int64_t>(it->second.bytes) + delta;
  it->second.bytes = b < 0 ? 0 : static_cast<uint64_t>(b);
}

void InvalidateUsed() {
  UsedCache& c = Used();
  std::lock_guard<std::mutex> g(c.lock);
  c.entries.clear();
}

bool CheckRoom(Device* dev, const Volume& v, uint64_t grow) {
  if (!v.hasCapacity || grow == 0) return true;
  uint64_t used = UsedBytes(dev, v);
  if (used + grow > v.capacity) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  return true;
}

}  // namespace ce::filestate

namespace ce {

using namespace filestate;

int64_t HoldFileOpen(std::u16string_view devicePath, DWORD access, DWORD share, bool forSystem) {
  Device* dev = Dev();
  if (!dev) return 0;
  TreeLock tree(dev, false);
  ResolvedPath r;
  if (!tree.ok() || !dev->Resolve(devicePath, &r)) return 0;
  return RegisterOpen(dev, r, access & kAccessMask, share, forSystem);
}

bool ReleaseHold(int64_t holdId) {
  Device* dev = Dev();
  if (!dev) return false;
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev, "DELETE FROM file_open WHERE id=?");
  if (!s.Bind(1, holdId).Run() || sqlite3_changes(dev->Db()) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

namespace {

fs::path CardsAside(Device* dev) { return dev->Dir() / "cards_removed"; }

}  // namespace

bool RemoveStorageCard(std::u16string_view name) {
  Device* dev = Dev();
  if (!dev) return false;
  ResolvedPath r;
  if (!dev->Resolve(u"\\" + std::u16string(name), &r)) return false;
  if (!r.isDirectory || !IsCardRoot(dev, r.key)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::error_code ec;
  fs::create_directories(CardsAside(dev), ec);
  fs::path aside = CardsAside(dev) / r.host.filename();
  if (fs::exists(aside, ec)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  fs::rename(r.host, aside, ec);
  InvalidateUsed();
  if (ec) {
    SetLastError(ErrorFromErrno(ec.value()));
    return false;
  }
  return true;
}

bool InsertStorageCard(std::u16string_view name) {
  Device* dev = Dev();
  if (!dev) return false;
  std::error_code ec;
  std::u16string want = DeviceUpper(name);
  for (const auto& e : fs::directory_iterator(CardsAside(dev), ec)) {
    std::string stored = e.path().filename().string();
    if (DeviceUpper(FromUtf8(stored)) != want) continue;
    ResolvedPath r;
    if (!dev->Resolve(u"\\" + FromUtf8(stored), &r)) return false;
    if (r.exists) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return false;
    }
    fs::rename(e.path(), dev->FsRoot() / stored, ec);
    InvalidateUsed();
    if (ec) {
      SetLastError(ErrorFromErrno(ec.value()));
      return false;
    }
    return true;
  }
  SetLastError(ERROR_PATH_NOT_FOUND);
  return false;
}

}  // namespace ce

BOOL GetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree) {
  using namespace ce::filestate;
  ce::Device* dev = Dev();
  if (!dev) return FALSE;
  ce::ResolvedPath r;
  if (!ResolveArg(dev, path ? path : u"\\", &r)) return FALSE;
  if (!r.exists) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  Volume v = VolumeOf(dev, r);
  uint64_t cap = 0, freeCaller = 0, freeAll = 0;
  if (v.hasCapacity) {
    ce::filestate::InvalidateUsed();  // a fresh figure for the caller
    uint64_t used = UsedBytes(dev, v);
    cap = v.capacity;
    freeCaller = freeAll = used >= cap ? 0 : cap - used;
  } else {
    std::error_code ec;
    auto sp = std::filesystem::space(r.host, ec);
    if (ec) {
      SetLastError(ErrorFromErrno(ec.value()));
      return FALSE;
    }
    cap = sp.capacity;
    freeAll = sp.free;
    freeCaller = sp.available;
  }
  if (freeToCaller) freeToCaller->QuadPart = freeCaller;
  if (total) total->QuadPart = cap;
  if (totalFree) totalFree->QuadPart = freeAll;
  return TRUE;
}
