// Internal: the share modes of open files across processes, kept as
// open-file-description locks on the open host files instead of rows in
// device.db. An open's access and share bits are shared locks on bytes far
// past any file's end; another process's open tests those bytes with
// fcntl. The kernel drops them when the open's descriptor closes or its
// process dies, so a dead holder never blocks anyone. Holds that outlive a
// process (system holds) stay rows in device.db (filestate.h).
//
// Lock order, everywhere: the tree lock, then a file's guard, then a
// device.db transaction.
#pragma once

#include <sys/stat.h>

#include <filesystem>

#include "cesim/device.h"
#include "ce/types.h"

namespace ce::filestate {

// A descriptor closed when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.Release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// The device's file tree, across processes: opens, creates, deletes and
// file moves hold it shared for the moment they check and change an
// entry; a folder move holds it alone, so that no open starts below the
// folder between the check of its files and the rename. Blocks (no busy
// wait) until granted; ok() is false when the lock could not be taken.
class TreeLock {
 public:
  TreeLock(Device* dev, bool exclusive);
  ~TreeLock();
  TreeLock(const TreeLock&) = delete;
  TreeLock& operator=(const TreeLock&) = delete;
  bool ok() const { return held_; }

 private:
  Device* dev_;
  bool exclusive_;
  bool held_ = false;
};

// One host file's guard: held while an open checks and takes its bits, and
// while a delete or move checks the file and changes its entry. Blocks
// until granted; ok() false when fd cannot be locked. A descriptor open
// for reading only (a host file this process may not write) can take the
// guard only shared: such opens exclude writers' guards but not each other.
class FileGuard {
 public:
  explicit FileGuard(int fd);
  // For a descriptor whose mode the caller knows (writable: not read-only).
  FileGuard(int fd, bool writable);
  ~FileGuard();
  FileGuard(const FileGuard&) = delete;
  FileGuard& operator=(const FileGuard&) = delete;
  bool ok() const { return held_; }

 private:
  void Take(bool writable);
  int fd_;
  bool held_ = false;
};

// Under the file's guard: whether an open of fd's file with access/share
// (kAccessDelete: conflicts with any open) conflicts with another open's
// bits. False (errno set) when the locks cannot be read.
bool BitsConflict(int fd, DWORD access, DWORD share, bool* conflict);
// Under the file's guard: takes the bits of an open with access/share on
// fd; they go when fd (and every copy of it) is closed. False on failure.
bool TakeBits(int fd, DWORD access, DWORD share);
// Removes an open's bits from fd's open file description (every copy of
// it, in this process or a forked child).
void DropBits(int fd);
// Forks made by this process (and by its parents before they made it) since
// the first call: a descriptor that no fork copied after it was opened is
// the only one of its open file description, and its close drops the bits.
uint64_t Forks();
// Whether some regular file in the host folder's tree carries an open's
// bits (or cannot be checked). Hold the tree lock alone for an answer
// that stands.
bool AnyBitsBelow(const std::filesystem::path& folder);

// Whether fd is still the file at host (not removed or replaced since it
// was opened); st gets fd's stat.
bool SameFile(int fd, const std::filesystem::path& host, struct stat* st);

}  // namespace ce::filestate
