// What the database calls share (private to the database layer): the
// layer's lock, finding a call's store, database rows and handles.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/handle.h"
#include "cesim/device.h"
#include "ce/errors.h"
#include "database/db_faults.h"
#include "database/db_store.h"

namespace ce::db {

// Every database call holds it for its whole run.
std::recursive_mutex& ApiLock();

// The device with the file tables in place; null (last error set) when
// there is none.
Device* ApiDevice();

// Fails a call: sets the last error and returns `result`.
template <class T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

inline int GenOf(bool edb) { return edb ? kGenEdb : kGenCedb; }

// A store as a call addresses it.
struct Target {
  Store* store = nullptr;
  bool objectStore = true;
  CEGUID guid{};  // the volume's GUID; zero for the object store
  uint64_t oidFloor = 0;  // the mount's OID floor (db_mounts.h)
  // An open by name with the object-store GUID (or none) searches the
  // mounted volumes too.
  bool searchVolumes = false;
};
// Finds the store that pGuid names for a call of generation gen.
DWORD ResolveTarget(Device* dev, const CEGUID* pGuid, int gen, Target* out);
// The object store, made on first use.
DWORD OpenObjectStore(Device* dev, Store** out);

struct DbRow {
  CEOID oid = 0;
  int gen = 0;
  std::u16string name;
  DWORD type = 0;
  DWORD flags = 0;  // the database's own flags (high word)
  std::vector<SORTORDERSPECEX> sorts;
  uint64_t modified = 0;  // FILETIME ticks
  int64_t autoinc = 0;    // the last auto-increment value handed out
};

struct DefRow {
  CEPROPID id = 0;
  DWORD flags = 0;
  bool hasName = false;
  std::u16string name;
};

// Loads a database of generation gen by OID or by name (ignoring case).
// False when there is none (or the row is damaged).
bool LoadDb(Store* s, CEOID oid, int gen, DbRow* out);
bool FindDbByName(Store* s, std::u16string_view name, int gen, DbRow* out);
std::vector<DefRow> LoadDefs(Store* s, CEOID db);
// Record count and stored bytes of a database.
void CountRecords(Store* s, CEOID db, DWORD* count, DWORD* bytes);

std::string SortsBlob(const std::vector<SORTORDERSPECEX>& sorts);
bool SortsFromBlob(std::string_view b, size_t n, std::vector<SORTORDERSPECEX>* out);
std::string NameBlob(std::u16string_view name);
std::u16string NameFromBlob(std::string_view b);

// The extended and the older information forms of a database.
void FillInfoEx(Store* s, const DbRow& db, CEDBASEINFOEX* out);
void FillInfo(Store* s, const DbRow& db, CEDBASEINFO* out);

// The device clock as FILETIME ticks.
uint64_t NowTicks();

// An open database.
class DbHandle : public HandleObject {
 public:
  std::filesystem::path host;
  std::u16string key;
  bool objectStore = true;
  CEGUID guid{};
  uint64_t oidFloor = 0;
  int gen = 0;
  CEOID oid = 0;
  bool autoIncrement = false;
  // The current record is the first one with an OID at or above this.
  uint64_t cursor = 0;
};

// The handle's object and its store; the error when the handle is no open
// database, its volume is no longer mounted, or its store cannot be
// reached.
DWORD EnterHandle(HANDLE h, std::shared_ptr<DbHandle>* out, Store** store);

// Runs body (returning an error number) in one write transaction of s
// and commits it; false with the last error set when either fails.
template <class Body>
bool WriteTransaction(Store* s, DbCall call, Body body) {
  DWORD err = s->Begin(true);
  if (err == ERROR_SUCCESS) err = body();
  if (err != ERROR_SUCCESS) {
    s->Rollback();
    return Fail(err, false);
  }
  CrashPoint(call, s->Db());
  err = s->Commit();
  if (err != ERROR_SUCCESS) return Fail(err, false);
  return true;
}

}  // namespace ce::db
