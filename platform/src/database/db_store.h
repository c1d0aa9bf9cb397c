// One store's SQLite file and this process's connection to it (private to
// the database layer): a volume file in the device tree or the object
// store beside device.db. Callers hold the layer's lock.
//
// Schema (application_id "QVOL", user_version 1):
//   meta(k PRIMARY KEY, v)      "generation": 0 the object store, 1 CEDB,
//                               2 EDB; "last_oid": the last OID handed out;
//                               "reserved_oid": the top of the last OID
//                               block this file reserved in device.db
//   dbase(oid PRIMARY KEY, gen, name, uname, type, flags, sorts, nsort,
//         modified, autoinc)    one row per database; name and uname (the
//                               upper-cased name, unique per generation)
//                               as UTF-16LE bytes; sorts the sort orders in
//                               the 136-byte form; modified FILETIME ticks;
//                               autoinc the last auto-increment value
//   propdef(db, propid, flags, name, ord)   EDB definitions
//   record(oid PRIMARY KEY, db, data)       data: db_record.h's stored form
// OIDs of databases and records come from one counter per store and only
// grow, so OID order is creation order.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ce/database.h"
#include "cesim/device.h"

namespace ce::db {

inline constexpr int kGenObjectStore = 0;
inline constexpr int kGenCedb = 1;
inline constexpr int kGenEdb = 2;

// The key of the object store in the high-water table (volumes use their
// upper-cased device path).
inline constexpr std::u16string_view kObjectStoreKey = u":OBJECTSTORE";

// Maps an SQLite result code onto a device error number.
DWORD ErrorFromSqlite(int rc);

// A cached statement in use: reset (bindings cleared) when it goes.
class Query {
 public:
  explicit Query(sqlite3_stmt* s) : s_(s) {}
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  bool ok() const { return s_ != nullptr; }
  Query& Bind(int i, int64_t v);
  Query& Bind(int i, std::string_view blob);  // bound as a BLOB
  Query& BindNull(int i);
  bool Step();  // a row is ready
  bool Run();   // ran to the end
  int64_t Int(int col) const;
  std::string Blob(int col) const;
  std::string_view BlobView(int col) const;  // valid until the next step
  bool IsNull(int col) const;
  int rc() const { return rc_; }

 private:
  sqlite3_stmt* s_;
  int rc_ = SQLITE_OK;
};

class Store {
 public:
  Store(std::filesystem::path host, std::u16string key);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens the file (creating it as an empty store of generation gen when
  // create is set and it does not exist) and checks that it is a store.
  // With check set, also reads every page (a mount's check). An existing
  // file of another generation, or no store: ERROR_FILE_CORRUPT.
  DWORD Open(int gen, bool create, bool check);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  // Opened by this process (not inherited through a fork).
  bool OpenHere() const;
  // True while the file at the host path is still the one open here.
  bool SameFile() const;

  int Generation() const { return gen_; }
  const std::filesystem::path& Host() const { return host_; }
  const std::u16string& Key() const { return key_; }
  sqlite3* Db() const { return db_; }

  // A statement from this connection's cache (null when it cannot be
  // prepared: a damaged file).
  sqlite3_stmt* Prep(const char* sql);
  DWORD Begin(bool write);
  DWORD Commit();
  void Rollback();
  DWORD LastError() const;

  // Inside a write transaction: the next OID, above both this file's last
  // one and floor (the store's OID mark when it was mounted; see
  // db_mounts.h), within a block reserved in device.db.
  DWORD NewOid(Device* dev, uint64_t floor, CEOID* out);

  // fsyncs the file.
  bool Flush();

  // Reads of records go through a cache that lives while the file's
  // change counter stays as it was: any commit, this connection's or
  // another process's, drops it (checked on every call through OpenStore).
  // The counter is read without a lock: an old counter during another
  // process's commit serves the state just before that commit.
  void CheckCache();
  // The OIDs of a database's records in order; null on a read failure
  // (LastError).
  const std::vector<CEOID>* RecordOrder(CEOID db);
  // The stored properties of a record of db; null when it is gone or on a
  // read failure (*error then set).
  const std::string* RecordData(CEOID db, CEOID record, DWORD* error);
  // The record count and stored bytes of a database; false on a read
  // failure.
  bool RecordStats(CEOID db, DWORD* count, DWORD* bytes);

 private:
  bool Exec(const char* sql);
  DWORD Prepare(int gen, bool create);

  std::filesystem::path host_;
  std::u16string key_;
  sqlite3* db_ = nullptr;
  pid_t pid_ = 0;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  int gen_ = -1;
  bool writing_ = false;
  std::map<const char*, sqlite3_stmt*> stmts_;

  struct DbCache {
    bool ordered = false;
    std::vector<CEOID> order;
    std::unordered_map<CEOID, std::string> data;
    size_t bytes = 0;
    bool counted = false;
    DWORD recordCount = 0;
    DWORD recordBytes = 0;
  };
  int counterFd_ = -1;
  uint32_t counter_ = 0;
  std::map<CEOID, DbCache> cache_;
};

// This process's connection to the store at host (opened or reopened as
// needed: a new process, a replaced file). Null with *error set. With
// trusted set, a connection this process has open is taken without
// looking at the file again: for handles, whose store was checked when
// they were opened and cannot be replaced while it stays mounted.
Store* OpenStore(const std::filesystem::path& host, const std::u16string& key, int gen, bool create, bool check,
                 DWORD* error, bool trusted = false);

// This process's id, kept across calls (and renewed in a forked child).
pid_t ProcessId();
// Forgets this process's connection to host (after the last unmount).
void DropStore(const std::filesystem::path& host);

// The object store's file of a device.
std::filesystem::path ObjectStorePath(Device* dev);

}  // namespace ce::db
