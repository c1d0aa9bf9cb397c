// Failures on demand for the database calls (cesim/database.h), private to
// the database layer.
#pragma once

#include <sqlite3.h>

#include "cesim/database.h"

namespace ce::db {

// True (last error set to the injected error) when this call of `call`
// is to fail.
bool Faulted(DbCall call);

// When a crash is armed for `call`: writes the open transaction's pages
// into the file (its journal keeps the old ones) and ends the process at
// once, as a reset would.
void CrashPoint(DbCall call, sqlite3* db);

}  // namespace ce::db
