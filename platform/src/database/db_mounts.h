// The device's mount table in device.db (private to the database layer):
//   db_mount(seq, guid, key, path, edb, count, system, hold)
// one row per mounted volume, in mount order (seq); key is the upper-cased
// device path, hold the id of the share-table row that keeps the file
// from being opened while it is mounted.
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
};

bool EnsureMountTable(Device* dev);
std::vector<Mount> ReadMounts(Device* dev);
bool FindMount(Device* dev, const CEGUID& guid, Mount* out);

// Whether the volume of guid is mounted, from this process's copy of the
// table: refreshed on this process's own changes and otherwise at most a
// moment old.
bool StillMounted(Device* dev, const CEGUID& guid);
void ForgetMountCache();

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
