// The simulator's controls of the device's files: holds that stand for
// files the system keeps open, and storage cards taken out and put back.
#pragma once

#include <cstdint>
#include <string_view>

#include "ce/file.h"
#include "ce/types.h"

namespace ce {

// Registers a hold on a file as if it were open with the given access and
// share mode, so that conflicting opens, deletes and moves fail with
// ERROR_SHARING_VIOLATION. A hold made with forSystem stays until released
// (the system keeps the file open while the device runs, e.g. a mounted
// volume); otherwise it ends with this process. Returns a hold id (0 with
// the last error set on a conflict or failure).
int64_t HoldFileOpen(std::u16string_view devicePath, DWORD access, DWORD share,
                     bool forSystem = false);
bool ReleaseHold(int64_t holdId);

// Takes a storage card out (its folder moves aside, out of the device's
// file system) or puts it back. name is the card folder without "\".
bool RemoveStorageCard(std::u16string_view name);
bool InsertStorageCard(std::u16string_view name);

// Kill points (tests of a kill mid-transaction): a device process whose
// environment names one in this variable kills itself there, inside the
// call's device.db transaction after its writes and before its commit.
//   open    CreateFileW of an existing file that truncates it: the times
//           or the new row are written
//   create  CreateFileW of a new file: its row is written and its name
//           linked
//   share   CreateFileW of an existing file: its share is taken, its guard
//           still held (before any transaction)
//   times   SetFileTime: the times are written
//   close   CloseHandle of a file written to: its pending times are written
//   delete  DeleteFileW: the host file is gone, its rows deleted
//   move    MoveFileW: the host entry is renamed, its rows moved
//   replace DeleteAndRenameFile: the source is renamed over the dest, the
//           rows moved
inline constexpr const char* kFilesKillEnv = "QUILMO_FILES_KILL_AT";

}  // namespace ce
