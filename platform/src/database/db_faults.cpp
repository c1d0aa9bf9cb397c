#include "database/db_faults.h"

#include <unistd.h>

#include <map>
#include <mutex>

#include "ce/errors.h"

namespace ce::db {
namespace {

struct Fault {
  DWORD error = 0;
  int count = 0;  // -1: until cleared
  int skip = 0;
};

struct Faults {
  std::mutex lock;
  std::map<DbCall, Fault> faults;
  std::map<DbCall, int> crashes;  // call -> exit code
};

Faults& State() {
  static Faults* f = new Faults;
  return *f;
}

}  // namespace

bool Faulted(DbCall call) {
  Faults& f = State();
  std::lock_guard<std::mutex> g(f.lock);
  auto it = f.faults.find(call);
  if (it == f.faults.end()) return false;
  Fault& fault = it->second;
  if (fault.skip > 0) {
    --fault.skip;
    return false;
  }
  const DWORD error = fault.error;
  if (fault.count > 0 && --fault.count == 0) f.faults.erase(it);
  SetLastError(error);
  return true;
}

void CrashPoint(DbCall call, sqlite3* db) {
  int code = 0;
  {
    Faults& f = State();
    std::lock_guard<std::mutex> g(f.lock);
    auto it = f.crashes.find(call);
    if (it == f.crashes.end()) return;
    code = it->second;
    f.crashes.erase(it);
  }
  sqlite3_db_cacheflush(db);  // a failure leaves the journal alone: the crash is still mid-write
  _exit(code);
}

}  // namespace ce::db

namespace ce {

void InjectDatabaseFault(DbCall call, DWORD error, int count, int skip) {
  db::Faults& f = db::State();
  std::lock_guard<std::mutex> g(f.lock);
  if (count == 0) {
    f.faults.erase(call);
    return;
  }
  f.faults[call] = db::Fault{error, count, skip};
}

void ClearDatabaseFaults() {
  db::Faults& f = db::State();
  std::lock_guard<std::mutex> g(f.lock);
  f.faults.clear();
  f.crashes.clear();
}

void InjectDatabaseCrash(DbCall call, int exitCode) {
  db::Faults& f = db::State();
  std::lock_guard<std::mutex> g(f.lock);
  f.crashes[call] = exitCode;
}

}  // namespace ce
