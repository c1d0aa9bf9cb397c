// Internal: spare host files, so that a replace frees no inode and the next
// new file allocates none.
//
// A restore writes each file beside its place and moves it over the old
// one: every file is a new host inode and the old one is freed. Some host
// file systems (ext4 without a journal) make each new inode skip every
// inode freed in the last seconds, so that cost grows with the files just
// restored. Here the file a replace takes off its name is kept instead:
// the replace exchanges the two files' names and moves the old file into
// the device's spare folder ("spares" in the device folder, outside fs/),
// where it is emptied and taken as this process's next new file, which
// then gets its name by a rename that replaces nothing. (A rename over an
// existing file also makes some host file systems write the new file's
// data out at once; the exchange does not.)
//
// A spare is only ever a file no open of the device holds: the replace
// checked that under the file's guard. Its name in the spare folder holds
// the process id, and only the process that put it there takes it (and not
// after a fork). A spare with another name too is never taken; a boot
// empties the folder of the spares of processes that ended.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "cesim/device.h"
#include "files/sharelock.h"

namespace ce::filestate {

// Where a replace may put the file it takes off its name; empty when no
// spare is wanted (this process has enough, or the file is not one to
// keep).
struct SpareOffer {
  std::filesystem::path path;
  bool made() const { return !path.empty(); }
};

// A place in dev's spare folder for the file about to be replaced (st: its
// stat under the guard).
SpareOffer OfferSpare(Device* dev, const struct stat& st);
// Moves the file at host (the replaced one, exchanged to the source's
// name) to the offered place; false with errno set.
bool PutSpare(const SpareOffer& offer, const std::filesystem::path& host);
// After the replace: when the file was put in its place, empties it (fd: a
// descriptor of it, writable when so) and keeps it for the next new file;
// else, or when it cannot be emptied, removes it.
void SettleSpare(Device* dev, SpareOffer offer, bool put, int fd, bool writable);

// A spare taken as a new file: open for reading and writing, empty, with a
// new file's mode, named only in the spare folder.
struct Spare {
  UniqueFd fd;
  std::filesystem::path path;
};

// Takes one of this process's spares for a new file in folder (a host
// folder on the spare folder's file system); false when none fits.
bool TakeSpare(Device* dev, const std::filesystem::path& folder, Spare* out);
// Names a taken spare at host without replacing anything; false with errno
// set (EEXIST when host exists, EXDEV when it lies on another file system).
bool NameSpare(const Spare& spare, const std::filesystem::path& host);
// Removes a taken spare that was not named.
void DropSpare(Spare* spare);

// Empties dev's spare folder (at a boot: no process of the last one runs).
void ClearSpares(Device* dev);

}  // namespace ce::filestate
