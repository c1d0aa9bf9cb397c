#include "database/db_store.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "ce/errors.h"
#include "ce/text.h"
#include "database/db_mounts.h"

namespace ce::db {
namespace {

namespace fs = std::filesystem;

// "QVOL" in the database header marks a store file.
constexpr int kStoreApplicationId = 0x51564F4C;
constexpr int kStoreVersion = 1;
constexpr int kBusyTimeoutMs = 10000;
constexpr uint64_t kMaxOid = 0xFFFFFFFFull;
// Records the cache reads ahead at a time, and the bytes it keeps per
// database before it starts afresh.
constexpr int64_t kReadAhead = 256;
constexpr size_t kCacheBytes = 16u << 20;
// Where the database header keeps the file change counter (big-endian).
constexpr off_t kChangeCounterAt = 24;

const char* const kSchema =
    "CREATE TABLE meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL);"
    "CREATE TABLE dbase(oid INTEGER PRIMARY KEY, gen INTEGER NOT NULL, name BLOB NOT NULL,"
    " uname BLOB NOT NULL, type INTEGER NOT NULL, flags INTEGER NOT NULL, sorts BLOB NOT NULL,"
    " nsort INTEGER NOT NULL, modified INTEGER NOT NULL, autoinc INTEGER NOT NULL, UNIQUE(gen, uname));"
    "CREATE TABLE propdef(db INTEGER NOT NULL, propid INTEGER NOT NULL, flags INTEGER NOT NULL, name BLOB,"
    " ord INTEGER NOT NULL, PRIMARY KEY(db, propid));"
    "CREATE TABLE record(oid INTEGER PRIMARY KEY, db INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE INDEX record_db ON record(db, oid);";

// Statements that must prepare on a store's schema.
const char* const kProbes[] = {
    "SELECT k, v FROM meta",
    "SELECT oid, gen, name, uname, type, flags, sorts, nsort, modified, autoinc FROM dbase",
    "SELECT db, propid, flags, name, ord FROM propdef",
    "SELECT oid, db, data FROM record",
};


struct Connections {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<Store>> stores;
};

Connections& Cache() {
  static Connections* c = new Connections;  // outlives every static user
  return *c;
}

pid_t gPid = 0;

void RenewPid() { gPid = getpid(); }

}  // namespace

pid_t ProcessId() {
  static const bool registered = [] {
    RenewPid();
    return pthread_atfork(nullptr, nullptr, RenewPid) == 0;
  }();
  return registered ? gPid : getpid();
}

DWORD ErrorFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_TIMEOUT;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA:
    case SQLITE_FORMAT:
    case SQLITE_MISMATCH:
      return ERROR_FILE_CORRUPT;
    case SQLITE_CANTOPEN:
      return ERROR_FILE_NOT_FOUND;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// ---------------------------------------------------------------- Query

Query::~Query() {
  if (s_) {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
}

Query& Query::Bind(int i, int64_t v) {
  if (s_) sqlite3_bind_int64(s_, i, v);
  return *this;
}

Query& Query::Bind(int i, std::string_view blob) {
  if (s_) sqlite3_bind_blob64(s_, i, blob.empty() ? "" : blob.data(), blob.size(), SQLITE_TRANSIENT);
  return *this;
}

Query& Query::BindNull(int i) {
  if (s_) sqlite3_bind_null(s_, i);
  return *this;
}

bool Query::Step() {
  if (!s_) return false;
  rc_ = sqlite3_step(s_);
  return rc_ == SQLITE_ROW;
}

bool Query::Run() {
  if (!s_) return false;
  while ((rc_ = sqlite3_step(s_)) == SQLITE_ROW) {
  }
  return rc_ == SQLITE_DONE;
}

int64_t Query::Int(int col) const { return s_ ? sqlite3_column_int64(s_, col) : 0; }

std::string_view Query::BlobView(int col) const {
  if (!s_) return {};
  const void* b = sqlite3_column_blob(s_, col);
  const int n = sqlite3_column_bytes(s_, col);
  return b ? std::string_view(static_cast<const char*>(b), static_cast<size_t>(n)) : std::string_view();
}

std::string Query::Blob(int col) const { return std::string(BlobView(col)); }

bool Query::IsNull(int col) const { return !s_ || sqlite3_column_type(s_, col) == SQLITE_NULL; }

// ---------------------------------------------------------------- Store

Store::Store(fs::path host, std::u16string key) : host_(std::move(host)), key_(std::move(key)) {}

Store::~Store() { Close(); }

void Store::Close() {
  if (db_ && pid_ == ProcessId()) {
    for (auto& [sql, s] : stmts_) sqlite3_finalize(s);
    sqlite3_close_v2(db_);
  }
  // A forked child leaves its parent's connection alone.
  stmts_.clear();
  cache_.clear();
  if (counterFd_ >= 0) close(counterFd_);
  counterFd_ = -1;
  db_ = nullptr;
  gen_ = -1;
  writing_ = false;
}

bool Store::OpenHere() const { return db_ && pid_ == ProcessId(); }

bool Store::SameFile() const {
  if (!db_ || pid_ != ProcessId()) return false;
  struct stat st;
  return stat(host_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
}

bool Store::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

DWORD Store::LastError() const {
  if (!db_) return ERROR_FILE_NOT_FOUND;
  DWORD e = ErrorFromSqlite(sqlite3_errcode(db_));
  return e == ERROR_SUCCESS ? ERROR_GEN_FAILURE : e;
}

sqlite3_stmt* Store::Prep(const char* sql) {
  auto it = stmts_.find(sql);
  if (it != stmts_.end()) return it->second;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return nullptr;
  }
  stmts_[sql] = s;
  return s;
}

DWORD Store::Open(int gen, bool create, bool check) {
  Close();
  std::error_code ec;
  const bool exists = fs::exists(host_, ec);
  if (!exists && !create) return ERROR_FILE_NOT_FOUND;
  if (exists && !fs::is_regular_file(host_, ec)) return ERROR_ACCESS_DENIED;
  // An existing file is never made into a store, even an empty one.
  const bool fresh = !exists;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (fresh ? SQLITE_OPEN_CREATE : 0);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(host_.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return ErrorFromSqlite(rc);
  }
  db_ = db;
  pid_ = ProcessId();
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  DWORD err = Prepare(gen, fresh);
  if (err == ERROR_SUCCESS && check) {
    Query q(Prep("PRAGMA quick_check"));
    if (!q.Step() || q.BlobView(0) != "ok") err = ERROR_FILE_CORRUPT;
  }
  struct stat st;
  if (err == ERROR_SUCCESS && stat(host_.c_str(), &st) != 0) err = ERROR_FILE_NOT_FOUND;
  if (err != ERROR_SUCCESS) {
    Close();
    if (fresh) fs::remove(host_, ec);  // a store that could not be made leaves nothing
    return err;
  }
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  counterFd_ = open(host_.c_str(), O_RDONLY | O_CLOEXEC);  // without it nothing is kept in the cache
  CheckCache();
  return ERROR_SUCCESS;
}

// Sets the connection up, makes the schema of a new file and checks that
// the file is a store of generation gen (-1: any).
DWORD Store::Prepare(int gen, bool fresh) {
  // No WAL: a rollback journal exists only while a write is under way.
  // Durability is CeFlushDBVol's (an fsync); a process that ends mid-write
  // leaves a journal that the next reader rolls back.
  if (!Exec("PRAGMA journal_mode=DELETE") || !Exec("PRAGMA synchronous=OFF")) return ERROR_FILE_CORRUPT;
  if (fresh) {
    if (gen < 0) return ERROR_INVALID_PARAMETER;
    DWORD err = Begin(true);
    if (err != ERROR_SUCCESS) return err;
    Query id(Prep("PRAGMA application_id = 1364610892"));
    Query ver(Prep("PRAGMA user_version = 1"));
    static_assert(kStoreApplicationId == 1364610892 && kStoreVersion == 1);
    if (!Exec(kSchema) || !id.Run() || !ver.Run()) {
      err = LastError();
      Rollback();
      return err;
    }
    Query meta(Prep("INSERT INTO meta(k, v) VALUES('generation', ?), ('last_oid', 0), ('reserved_oid', 0)"));
    if (!meta.Bind(1, gen).Run()) {
      err = LastError();
      Rollback();
      return err;
    }
    err = Commit();
    if (err != ERROR_SUCCESS) return err;
  }
  DWORD err = Begin(false);
  if (err != ERROR_SUCCESS) return err == ERROR_TIMEOUT ? err : ERROR_FILE_CORRUPT;
  int appId = 0, version = 0, stored = -1;
  bool probes = true;
  {
    Query a(Prep("PRAGMA application_id"));
    Query v(Prep("PRAGMA user_version"));
    if (a.Step()) appId = static_cast<int>(a.Int(0));
    if (v.Step()) version = static_cast<int>(v.Int(0));
  }
  for (const char* sql : kProbes) probes = probes && Prep(sql) != nullptr;
  if (appId == kStoreApplicationId && version == kStoreVersion && probes) {
    Query g(Prep("SELECT v FROM meta WHERE k = 'generation'"));
    if (g.Step()) stored = static_cast<int>(g.Int(0));
  }
  Commit();  // a read: nothing to keep
  if (stored < kGenObjectStore || stored > kGenEdb) return ERROR_FILE_CORRUPT;
  if (gen >= 0 && stored != gen) return ERROR_FILE_CORRUPT;
  gen_ = stored;
  return ERROR_SUCCESS;
}

DWORD Store::Begin(bool write) {
  writing_ = write;
  if (!Exec(write ? "BEGIN IMMEDIATE" : "BEGIN")) return LastError();
  return ERROR_SUCCESS;
}

DWORD Store::Commit() {
  if (sqlite3_get_autocommit(db_)) return ERROR_SUCCESS;
  if (!Exec("COMMIT")) {
    DWORD err = LastError();
    Rollback();
    return err;
  }
  writing_ = false;
  return ERROR_SUCCESS;
}

void Store::Rollback() {
  if (db_ && !sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
  writing_ = false;
}

DWORD Store::NewOid(Device* dev, uint64_t floor, CEOID* out) {
  uint64_t last = 0, reserved = 0;
  {
    Query q(Prep("SELECT (SELECT v FROM meta WHERE k = 'last_oid'), (SELECT v FROM meta WHERE k = 'reserved_oid')"));
    if (!q.Step() || q.IsNull(0) || q.IsNull(1)) return ERROR_FILE_CORRUPT;
    last = static_cast<uint64_t>(q.Int(0));
    reserved = static_cast<uint64_t>(q.Int(1));
  }
  const uint64_t oid = std::max(last, floor) + 1;
  if (oid > kMaxOid) return ERROR_DISK_FULL;
  if (oid > reserved) {
    uint64_t top = 0;
    if (!RaiseOidMark(dev, key_, oid, &top)) return ERROR_GEN_FAILURE;
    Query r(Prep("UPDATE meta SET v = ? WHERE k = 'reserved_oid'"));
    if (!r.Bind(1, static_cast<int64_t>(top)).Run()) return LastError();
  }
  Query w(Prep("UPDATE meta SET v = ? WHERE k = 'last_oid'"));
  if (!w.Bind(1, static_cast<int64_t>(oid)).Run()) return LastError();
  *out = static_cast<CEOID>(oid);
  return ERROR_SUCCESS;
}

void Store::CheckCache() {
  unsigned char b[4];
  const bool read = counterFd_ >= 0 && pread(counterFd_, b, 4, kChangeCounterAt) == 4;
  const uint32_t now = read ? (uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]) : 0;
  if (!read || now != counter_) cache_.clear();
  counter_ = now;
}

const std::vector<CEOID>* Store::RecordOrder(CEOID db) {
  DbCache& c = cache_[db];
  if (c.ordered) return &c.order;
  c.order.clear();
  Query q(Prep("SELECT oid FROM record WHERE db = ? ORDER BY oid"));
  q.Bind(1, db);
  while (q.Step()) c.order.push_back(static_cast<CEOID>(q.Int(0)));
  if (q.rc() != SQLITE_DONE) {
    cache_.erase(db);
    return nullptr;
  }
  c.ordered = counterFd_ >= 0;
  return &c.order;
}

const std::string* Store::RecordData(CEOID db, CEOID record, DWORD* error) {
  DbCache& c = cache_[db];
  auto it = c.data.find(record);
  if (it != c.data.end()) return &it->second;
  if (c.bytes > kCacheBytes) {
    c.data.clear();
    c.bytes = 0;
  }
  // This record and the ones after it, as a walk reads them next.
  Query q(Prep("SELECT oid, data FROM record WHERE db = ? AND oid >= ? ORDER BY oid LIMIT ?"));
  q.Bind(1, db).Bind(2, record).Bind(3, counterFd_ >= 0 ? kReadAhead : 1);
  while (q.Step()) {
    auto [slot, fresh] = c.data.emplace(static_cast<CEOID>(q.Int(0)), q.Blob(1));
    if (fresh) c.bytes += slot->second.size();
  }
  if (q.rc() != SQLITE_DONE) {
    *error = LastError();
    cache_.erase(db);
    return nullptr;
  }
  it = c.data.find(record);
  *error = ERROR_SUCCESS;
  return it == c.data.end() ? nullptr : &it->second;
}

bool Store::RecordStats(CEOID db, DWORD* count, DWORD* bytes) {
  DbCache& c = cache_[db];
  if (!c.counted) {
    Query q(Prep("SELECT count(*), coalesce(sum(length(data)), 0) FROM record WHERE db = ?"));
    if (!q.Bind(1, db).Step()) return false;
    c.recordCount = static_cast<DWORD>(q.Int(0));
    c.recordBytes = static_cast<DWORD>(std::min<int64_t>(q.Int(1), 0xFFFFFFFF));
    c.counted = counterFd_ >= 0;
  }
  *count = c.recordCount;
  *bytes = c.recordBytes;
  return true;
}

bool Store::Flush() {
  int fd = open(host_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

// ---------------------------------------------------------------- cache

Store* OpenStore(const fs::path& host, const std::u16string& key, int gen, bool create, bool check, DWORD* error,
                 bool trusted) {
  Connections& c = Cache();
  std::lock_guard<std::mutex> g(c.lock);
  std::unique_ptr<Store>& slot = c.stores[host.string()];
  if (!slot) slot = std::make_unique<Store>(host, key);
  Store* s = slot.get();
  if (trusted && s->IsOpen() && s->OpenHere() && !check && (gen < 0 || s->Generation() == gen)) {
    s->CheckCache();
    return s;
  }
  if (s->SameFile() && !check && (gen < 0 || s->Generation() == gen)) {
    s->CheckCache();
    return s;
  }
  if (s->SameFile() && !check && gen >= 0 && s->Generation() != gen) {
    *error = ERROR_FILE_CORRUPT;
    return nullptr;
  }
  DWORD err = s->Open(gen, create, check);
  if (err != ERROR_SUCCESS) {
    *error = err;
    return nullptr;
  }
  return s;
}

void DropStore(const fs::path& host) {
  Connections& c = Cache();
  std::lock_guard<std::mutex> g(c.lock);
  c.stores.erase(host.string());
}

fs::path ObjectStorePath(Device* dev) { return dev->Dir() / "objectstore.db"; }

}  // namespace ce::db
