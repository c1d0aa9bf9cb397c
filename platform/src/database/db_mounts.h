// The device's mount table in device.db (private to the database layer):
//   db_mount(seq, guid, key, path, edb, count, system, hold, floor)
// one row per mounted volume, in mount order (seq); key is the upper-cased
// device path, hold the id of the share-table row that keeps the file
// from being opened while it is mounted, floor the store's OID mark when
// it was mounted.
//   db_oid_mark(key, top)
// per store key, the top of the OIDs the device has reserved for it: every
// OID it ever handed out lies at or below it. A volume file is replaced
// only while it is not mounted, so a mount's OIDs all lie above its floor
// and above the file's own last one, and a file put back from an older
// copy never hands an OID out twice.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ce/database.h"
#include "cesim/device.h"

namespace ce::db {

struct Mount {
  int64_t seq = 0;
  CEGUID guid{};
  std::u16string key;
  std::u16string path;
  bool edb = false;
  int count = 0;
  bool system = false;
  int64_t hold = 0;
  uint64_t floor = 0;
};

bool EnsureMountTable(Device* dev);
std::vector<Mount> ReadMounts(Device* dev);
bool FindMount(Device* dev, const CEGUID& guid, Mount* out);

// Whether the volume of guid is mounted (and its OID floor), from this
// process's copy of the table: refreshed on this process's own changes
// and otherwise at most a moment old.
bool StillMounted(Device* dev, const CEGUID& guid, uint64_t* floor = nullptr);
void ForgetMountCache();

// Raises the OID mark of a store key to at least atLeast plus a block;
// *top receives the new mark.
bool RaiseOidMark(Device* dev, const std::u16string& key, uint64_t atLeast, uint64_t* top);

// Mounts the volume at path (resolved) for generation edb: a new mount
// holds the file and checks (or makes) it through openStore, inside the
// table's transaction; a mounted one counts once more. forSystem marks the
// system's own hold (and adds no count).
DWORD MountVolume(Device* dev, const ResolvedPath& path, bool edb, bool forSystem,
                  const std::function<DWORD()>& openStore, CEGUID* guid);
// Drops one count; at zero (and no system hold) the volume goes:
// *closed receives its host path then.
DWORD UnmountVolume(Device* dev, const CEGUID& guid, std::filesystem::path* closed);
// Ends every mount (a reset): removes the rows and their holds.
bool EndAllMounts(Device* dev);

std::string GuidBytes(const CEGUID& g);
CEGUID GuidFromBytes(std::string_view b);

}  // namespace ce::db
