// Internal: the file bookkeeping shared by file.cpp, fileops.cpp, find.cpp
// and filestate.cpp (metadata rows, share table, volumes).
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <unordered_map>

#include "ce/file.h"
#include "cesim/device.h"
#include "files/sharelock.h"

namespace ce::filestate {

// Ends this process at a kill point named in kFilesKillEnv (cesim/file.h).
void KillPoint(const char* point);

// Bits a caller may set; everything else is derived.
inline constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                             FILE_ATTRIBUTE_TEMPORARY;
inline constexpr DWORD kRomBits = FILE_ATTRIBUTE_INROM | FILE_ATTRIBUTE_ROMMODULE;
inline constexpr DWORD kAccessMask = GENERIC_READ | GENERIC_WRITE;
// Internal access bit for deletes and moves (conflicts with any open).
inline constexpr DWORD kAccessDelete = 0x00010000u;

// The current device with the file tables in place; null (last error set)
// when there is none.
Device* Dev();

// FILETIME <-> 100 ns ticks since 1601.
inline uint64_t Ticks(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME FromTicks(uint64_t t) {
  return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}
uint64_t TicksFromTimespec(const struct timespec& ts);
// The device clock now.
uint64_t NowTicks(Device* dev);

// Resolves and validates a device path (null -> ERROR_INVALID_PARAMETER).
bool ResolveArg(Device* dev, LPCWSTR path, ResolvedPath* out);

// What the device reports for an existing entry.
struct EntryInfo {
  DWORD attributes = 0;
  uint64_t ctime = 0, atime = 0, wtime = 0;
  uint64_t size = 0;
  DWORD oid = 0;
  bool rom = false;
  bool mountRoot = false;  // a card folder, "\Network" or a share in it
};
// Fills info for an existing resolved path (false + last error otherwise).
bool GetEntryInfo(Device* dev, const ResolvedPath& r, EntryInfo* info);

// A file_meta row: the stored settable attribute bits and the three times.
struct MetaRow {
  DWORD attributes = 0;
  uint64_t ctime = 0, atime = 0, wtime = 0;
};
// The row of key; false when there is none (or it cannot be read).
bool ReadMetaRow(Device* dev, const std::u16string& key, MetaRow* row);
// The rows of a folder's direct entries, by upper-cased name, in one read;
// false when they could not be read.
bool ReadMetaRowsBelow(Device* dev, const std::u16string& folderKey,
                       std::unordered_map<std::u16string, MetaRow>* rows);
// What the device reports for an entry of that stat and row (null: none).
EntryInfo EntryFromStat(Device* dev, const std::u16string& key, const struct stat& st, const MetaRow* row);
bool IsRomFile(Device* dev, const std::u16string& key);
// A card folder (by profile), "\Network" or a share folder below it.
bool IsMountRoot(Device* dev, const std::u16string& key);
bool IsCardRoot(Device* dev, const std::u16string& key);

// Metadata rows. attributes are the stored settable bits.
bool PutMeta(Device* dev, const std::u16string& key, DWORD attributes, uint64_t ctime,
             uint64_t atime, uint64_t wtime);
// Updates the given times of a row (creating it from the entry's current
// state when missing). Null pointers leave a time as it is.
bool SetMetaTimes(Device* dev, const ResolvedPath& r, const uint64_t* ctime,
                  const uint64_t* atime, const uint64_t* wtime);
bool DeleteMetaTree(Device* dev, const std::u16string& key);
bool MoveMetaTree(Device* dev, const std::u16string& fromKey, const std::u16string& toKey);

// The files the system keeps open with no sharing (the hives, the
// profile's held files).
bool IsSystemHeld(Device* dev, const std::u16string& key);
// Share table. Inside a transaction: whether an open of key with
// access/share conflicts with a live open or hold (dead processes'
// conflicting rows are removed); false on a database failure.
bool CheckShare(Device* dev, const std::u16string& key, DWORD access, DWORD share, bool* conflict);
// For an open of key with access/share, in one read: its row (haveRow
// false when there is none) and whether a live hold conflicts (the rows of
// dead holders that would are removed); false on a database failure.
bool ReadForOpen(Device* dev, const std::u16string& key, DWORD access, DWORD share, MetaRow* row, bool* haveRow,
                 bool* conflict);
// Inside a transaction: adds the open's row; its id, 0 on a failure.
int64_t InsertOpen(Device* dev, const std::u16string& key, DWORD access, DWORD share, bool forSystem);
// Removes an open's row (joins a transaction under way); false on failure.
bool DeleteOpenRow(Device* dev, int64_t id);
// Registers a hold of r with access/share as a row; 0 with
// ERROR_SHARING_VIOLATION on a conflict with a row or a live open (dead
// processes' rows are purged first). pid 0 rows are system holds.
int64_t RegisterOpen(Device* dev, const ResolvedPath& r, DWORD access, DWORD share,
                     bool forSystem = false);
// False (ERROR_GEN_FAILURE) when the row could not be removed.
bool UnregisterOpen(Device* dev, int64_t id);
// True when some open or hold of key (or below it, for folders) is live
// (or the share table cannot be read).
bool IsOpenBelow(Device* dev, const std::u16string& key);

// An open made as CreateFileW makes it (file.cpp): fd carries the open's
// share bits until it closes.
struct OpenedFile {
  UniqueFd fd;
  ResolvedPath path;
  DWORD access = 0;     // the access bits granted
  bool existed = false;
  EntryInfo before;     // the entry as it was, when it existed (its row only
                        // for a writer or a truncation: a reader's open reads none)
};
// Resolves name and opens or makes its file: the read-only check, holds
// and other opens (ERROR_SHARING_VIOLATION), truncation or the new file's
// row. False with the last error set.
bool OpenHostFile(Device* dev, LPCWSTR name, DWORD access, DWORD share, DWORD disposition, DWORD attrs,
                  OpenedFile* out);

// Volumes.
struct Volume {
  std::u16string root;          // "\" or "\<card>" (stored case)
  std::u16string key;           // upper-cased root
  bool hasCapacity = false;
  uint64_t capacity = 0;
};
Volume VolumeOf(Device* dev, const ResolvedPath& r);
// Bytes of the files in the volume (cached briefly per process).
uint64_t UsedBytes(Device* dev, const Volume& v);
// Adjusts the cached figure after this process grew or shrank a file.
void AddUsed(Device* dev, const Volume& v, int64_t delta);
// Forgets cached figures (after deletes, moves, copies).
void InvalidateUsed();
// False with ERROR_DISK_FULL when growing the volume by grow bytes would
// pass its capacity.
bool CheckRoom(Device* dev, const Volume& v, uint64_t grow);

}  // namespace ce::filestate
