#include "registry/registry_hive.h"

#include <sys/stat.h>
#include <unistd.h>

#include "ce/errors.h"
#include "ce/text.h"

namespace ce::reg {

namespace {

// "QHV1" in the database header marks a hive file.
constexpr int kHiveApplicationId = 0x51485631;
constexpr int kBusyTimeoutMs = 10000;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS rkey("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"  // 0 for a root
    " name TEXT NOT NULL,"
    " uname TEXT NOT NULL,"      // name upper-cased: the lookup key
    " UNIQUE(parent, uname));"
    "CREATE TABLE IF NOT EXISTS rvalue("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " uname TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, uname));"
    "PRAGMA application_id = 1363695153;"
    "PRAGMA user_version = 1;";
static_assert(kHiveApplicationId == 1363695153);

}  // namespace

LONG ErrorFromSqlite(int rc, bool write) {
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
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return write ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

Hive::Hive(Device* device, std::u16string devicePath, std::vector<std::u16string> roots)
    : device_(device), devicePath_(std::move(devicePath)), roots_(std::move(roots)), live_(true) {}

Hive::Hive(std::filesystem::path host) : host_(std::move(host)) {}

Hive::~Hive() { Close(); }

void Hive::Close() {
  if (db_ && pid_ == getpid()) sqlite3_close_v2(db_);
  db_ = nullptr;
  writing_ = false;
}

bool Hive::Stat(const std::filesystem::path& p, Identity* id) {
  struct stat st;
  if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id->dev = st.st_dev;
  id->ino = st.st_ino;
  id->size = st.st_size;
  id->mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

bool Hive::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

LONG Hive::LastError() const { return db_ ? ErrorFromSqlite(sqlite3_errcode(db_), writing_) : ERROR_CANTOPEN; }

LONG Hive::Ensure() {
  if (db_ && pid_ != getpid()) {
    // A forked child must not use its parent's connection: leave it alone.
    db_ = nullptr;
    writing_ = false;
  }
  Identity now;
  bool present = !host_.empty() && Stat(host_, &now);
  if (db_ && present && now == identity_) return ERROR_SUCCESS;
  Close();
  return Open();
}

LONG Hive::Open() {
  if (live_) {
    // Folders may have been made or replaced since: map the path afresh.
    ResolvedPath rp;
    if (!device_->Resolve(devicePath_, &rp)) return ERROR_PATH_NOT_FOUND;
    host_ = rp.host;
    if (rp.isDirectory) return ERROR_ACCESS_DENIED;
    if (!rp.exists) {
      std::error_code ec;
      std::filesystem::create_directories(host_.parent_path(), ec);
      if (ec) return ErrorFromErrno(ec.value());
    }
  } else {
    Identity probe;
    if (!Stat(host_, &probe)) return ERROR_FILE_NOT_FOUND;
  }
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (live_ ? SQLITE_OPEN_CREATE : 0);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(host_.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return ErrorFromSqlite(rc, false);
  }
  db_ = db;
  pid_ = getpid();
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  LONG err = Prepare();
  if (err != ERROR_SUCCESS) {
    Close();
    return err;
  }
  if (!Stat(host_, &identity_)) {
    Close();
    return ERROR_FILE_NOT_FOUND;
  }
  ++generation_;
  return ERROR_SUCCESS;
}

// Sets the connection up and checks (a live hive: creates) the schema and
// the root rows.
LONG Hive::Prepare() {
  // No WAL: a rollback journal exists only while a write is under way.
  if (!Exec("PRAGMA journal_mode=DELETE") || !Exec("PRAGMA synchronous=OFF")) return LastError();
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool write = attempt == 1;
    LONG err = Begin(write);
    if (err != ERROR_SUCCESS) return err;
    int appId = 0, tables = 0;
    {
      Stmt a(db_, "PRAGMA application_id");
      Stmt t(db_, "SELECT count(*) FROM sqlite_master");
      if (!a.Step() || !t.Step()) {
        err = LastError();
        Rollback();
        return err == ERROR_SUCCESS ? ERROR_BADDB : err;
      }
      appId = static_cast<int>(a.Int(0));
      tables = static_cast<int>(t.Int(0));
    }
    bool fresh = appId == 0 && tables == 0;
    if (appId != kHiveApplicationId && !(live_ && fresh)) {
      Rollback();
      return ERROR_BADDB;
    }
    size_t missingRoots = 0;
    if (!fresh) {
      for (const auto& root : roots_) {
        Stmt s(db_, "SELECT 1 FROM rkey WHERE parent = 0 AND uname = ?");
        if (!s.Bind(1, DeviceUpper(root)).Step()) ++missingRoots;
      }
    }
    if (!fresh && missingRoots == 0) return Commit();
    if (!write) {
      Rollback();
      continue;  // again under the write lock
    }
    if (fresh && sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
      err = LastError();
      Rollback();
      return err;
    }
    for (const auto& root : roots_) {
      Stmt s(db_, "INSERT OR IGNORE INTO rkey(parent, name, uname) VALUES(0, ?, ?)");
      if (!s.Bind(1, root).Bind(2, DeviceUpper(root)).Run()) {
        err = LastError();
        Rollback();
        return err;
      }
    }
    return Commit();
  }
  return ERROR_BADDB;
}

LONG Hive::Begin(bool write) {
  writing_ = write;
  if (!Exec(write ? "BEGIN IMMEDIATE" : "BEGIN")) return LastError();
  return ERROR_SUCCESS;
}

LONG Hive::Commit() {
  if (!Exec("COMMIT")) {
    LONG err = LastError();
    Rollback();
    return err;
  }
  if (writing_) Stat(host_, &identity_);
  writing_ = false;
  return ERROR_SUCCESS;
}

void Hive::Rollback() {
  if (sqlite3_get_autocommit(db_) == 0) Exec("ROLLBACK");
  writing_ = false;
}

}  // namespace ce::reg
