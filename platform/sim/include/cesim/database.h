// The simulator's controls of the property databases (ce/database.h):
// failures on demand, a look at the device's mounts, and the system's own
// volumes.
//
// Storage: each volume is one SQLite file at its device path; the object
// store (both generations) is DIR/objectstore.db beside device.db. Mounts,
// their counts and the record-id high-water marks live in device.db.
//
// The system's volumes are named by the profile's "system_volume" lines
// ("system_volume = \pim.vol|edb"), a list of their own, apart from
// "held_open": the boot mounts them (existing files only) once the init
// list has run and before the Startup folder, so the boot-time runner finds
// them free, and they stay mounted, held by the system, until the next
// reset. Before the init list runs, the boot rolls back every volume (and
// the object store) that a reset left in the middle of a write, then ends
// every mount of the previous boot.
#pragma once

#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/types.h"

namespace ce {

// The calls of ce/database.h that a test can make fail.
enum class DbCall {
  kCreate,          // CeCreateDatabaseEx, CeCreateDatabaseWithProps
  kOpen,            // CeOpenDatabaseEx2, CeOpenDatabaseInSession
  kSeek,            // CeSeekDatabaseEx
  kRead,            // CeReadRecordPropsEx
  kWrite,           // CeWriteRecordProps
  kDeleteRecord,    // CeDeleteRecord
  kFindFirst,       // CeFindFirstDatabaseEx, CeFindFirstDatabaseEx2
  kFindNext,        // CeFindNextDatabaseEx
  kOidInfo,         // CeOidGetInfoEx, CeOidGetInfoEx2
  kHandleInfo,      // CeGetDBInformationByHandle
  kSetInfo,         // CeSetDatabaseInfoEx, CeSetDatabaseInfoEx2
  kDeleteDatabase,  // CeDeleteDatabaseEx, CeDeleteDatabaseEx2
  kGetProps,        // CeGetDatabaseProps
  kAddProps,        // CeAddDatabaseProps
  kRemoveProps,     // CeRemoveDatabaseProps
  kMount,           // CeMountDBVol, CeMountDBVolEx
  kUnmount,         // CeUnmountDBVol
  kEnumVolumes,     // CeEnumDBVolumes
  kFlush,           // CeFlushDBVol
};

// In this process, the calls of `call` after the next `skip` ones fail
// with `error` (last error set, nothing changed), `count` times (-1: until
// cleared). A later injection for the same call replaces an earlier one.
void InjectDatabaseFault(DbCall call, DWORD error, int count = 1, int skip = 0);
void ClearDatabaseFaults();

// In this process, the next write that changes a volume (or the object
// store) ends the process with exit code `exitCode` in the middle of its
// transaction, as a reset would: the file keeps its rollback journal.
void InjectDatabaseCrash(DbCall call, int exitCode);

// A mounted volume as the device's mount table holds it.
struct MountedVolume {
  CEGUID guid{};
  bool edb = false;
  std::u16string path;  // device path in stored case
  int count = 0;        // mounts by programs, beside the system's own hold
  bool system = false;  // mounted by the boot; held until the next reset
};
// In mount order.
std::vector<MountedVolume> ListMountedVolumes();

}  // namespace ce
