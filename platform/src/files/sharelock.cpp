// Share modes as open-file-description locks on the open host files.
#include "files/sharelock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "files/filestate.h"

namespace ce::filestate {
namespace {

// The bytes that stand for an open's bits, far past any file's end (locks
// past the end are allowed and never touch the data). An open holds one
// byte: the one of its access and share bits together, so that taking its
// share is one lock and testing it mostly one test.
constexpr off_t kBitsBase = off_t{1} << 62;
constexpr off_t kGuardByte = kBitsBase;
constexpr off_t kFirstBit = kBitsBase + 1;
constexpr int kReadBit = 1, kWriteBit = 2, kShareReadBit = 4, kShareWriteBit = 8;
constexpr off_t kBitCount = 16;  // every combination of the four

int KindOf(DWORD access, DWORD share) {
  return ((access & GENERIC_READ) ? kReadBit : 0) | ((access & GENERIC_WRITE) ? kWriteBit : 0) |
         ((share & FILE_SHARE_READ) ? kShareReadBit : 0) | ((share & FILE_SHARE_WRITE) ? kShareWriteBit : 0);
}

// Whether opens of kinds a and b cannot stand together: one reads or
// writes what the other does not share.
bool KindsConflict(int a, int b) {
  auto refuses = [](int x, int y) {
    return ((x & kReadBit) && !(y & kShareReadBit)) || ((x & kWriteBit) && !(y & kShareWriteBit));
  };
  return refuses(a, b) || refuses(b, a);
}

// The tree lock's byte in the device's lock file.
constexpr off_t kTreeByte = 0;
constexpr const char* kLockFileName = "files.lock";

int Lock(int fd, short type, off_t at, off_t len, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = len;
  int rc;
  do {
    rc = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Whether another open file description holds a lock on [at, at+len).
bool Locked(int fd, off_t at, off_t len, bool* locked) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = at;
  fl.l_len = len;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  *locked = fl.l_type != F_UNLCK;
  return true;
}

// This process's side of a device's tree lock: one descriptor (its own
// after a fork), the in-process readers and writer, and how many threads
// share the one kernel lock.
struct TreeState {
  std::shared_mutex threads;
  std::mutex count;
  int sharers = 0;
  UniqueFd fd;
};

TreeState* StateOf(Device* dev) {
  static std::mutex m;
  static std::map<std::pair<Device*, int>, std::unique_ptr<TreeState>> states;
  std::lock_guard<std::mutex> g(m);
  auto& s = states[{dev, Device::ProcessId()}];
  if (!s) {
    s = std::make_unique<TreeState>();
    s->fd = UniqueFd(open((dev->Dir() / kLockFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  }
  return s.get();
}

}  // namespace

void UniqueFd::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

TreeLock::TreeLock(Device* dev, bool exclusive) : dev_(dev), exclusive_(exclusive) {
  TreeState* s = StateOf(dev);
  if (!s->fd.valid()) return;
  if (exclusive) {
    s->threads.lock();
    if (Lock(s->fd.get(), F_WRLCK, kTreeByte, 1, true) != 0) {
      s->threads.unlock();
      return;
    }
  } else {
    s->threads.lock_shared();
    std::lock_guard<std::mutex> g(s->count);
    if (s->sharers == 0 && Lock(s->fd.get(), F_RDLCK, kTreeByte, 1, true) != 0) {
      s->threads.unlock_shared();
      return;
    }
    ++s->sharers;
  }
  held_ = true;
}

TreeLock::~TreeLock() {
  if (!held_) return;
  TreeState* s = StateOf(dev_);
  if (exclusive_) {
    Lock(s->fd.get(), F_UNLCK, kTreeByte, 1, false);
    s->threads.unlock();
    return;
  }
  {
    std::lock_guard<std::mutex> g(s->count);
    if (--s->sharers == 0) Lock(s->fd.get(), F_UNLCK, kTreeByte, 1, false);
  }
  s->threads.unlock_shared();
}

FileGuard::FileGuard(int fd) : fd_(fd) {
  // An exclusive lock needs a descriptor open for writing.
  int mode = fcntl(fd, F_GETFL);
  Take(mode >= 0 && (mode & O_ACCMODE) != O_RDONLY);
}

FileGuard::FileGuard(int fd, bool writable) : fd_(fd) { Take(writable); }

void FileGuard::Take(bool writable) {
  held_ = Lock(fd_, writable ? F_WRLCK : F_RDLCK, kGuardByte, 1, true) == 0;
}

FileGuard::~FileGuard() {
  if (held_) Lock(fd_, F_UNLCK, kGuardByte, 1, false);
}

namespace {

// Whether another open holds one of the kinds in mask (bit k: kind k)
// within [from, to]: one test of the whole span, split around a lock of a
// kind that does not count.
bool KindLocked(int fd, unsigned mask, int from, int to, bool* locked) {
  while (from <= to && !(mask & (1u << from))) ++from;
  while (to >= from && !(mask & (1u << to))) --to;
  if (from > to) return true;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kFirstBit + from;
  fl.l_len = to - from + 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  if (fl.l_type == F_UNLCK) return true;
  const int first = static_cast<int>(std::max<off_t>(fl.l_start - kFirstBit, from));
  const int last = fl.l_len == 0 ? to : static_cast<int>(std::min<off_t>(fl.l_start + fl.l_len - 1 - kFirstBit, to));
  for (int k = first; k <= last; ++k) {
    if (mask & (1u << k)) {
      *locked = true;
      return true;
    }
  }
  return KindLocked(fd, mask, from, first - 1, locked) && (*locked || KindLocked(fd, mask, last + 1, to, locked));
}

}  // namespace

bool BitsConflict(int fd, DWORD access, DWORD share, bool* conflict) {
  *conflict = false;
  if (access & kAccessDelete) return Locked(fd, kFirstBit, kBitCount, conflict);
  const int kind = KindOf(access, share);
  unsigned mask = 0;
  for (int other = 0; other < kBitCount; ++other)
    if (KindsConflict(kind, other)) mask |= 1u << other;
  return KindLocked(fd, mask, 0, kBitCount - 1, conflict);
}

bool TakeBits(int fd, DWORD access, DWORD share) {
  return Lock(fd, F_RDLCK, kFirstBit + KindOf(access, share), 1, false) == 0;
}

void DropBits(int fd) {
  // A failure leaves the bits to the descriptor's close.
  Lock(fd, F_UNLCK, kFirstBit, kBitCount, false);
}

namespace {

std::atomic<uint64_t> gForks{0};

void CountFork() { gForks.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

uint64_t Forks() {
  // Counted in the parent before the fork, so the child sees it too.
  static const bool registered = pthread_atfork(CountFork, nullptr, nullptr) == 0;
  // Unregistered, every call differs: the bits are always dropped.
  return registered ? gForks.load(std::memory_order_relaxed) : gForks.fetch_add(1, std::memory_order_relaxed);
}

bool AnyBitsBelow(const std::filesystem::path& folder) {
  std::error_code ec;
  namespace fs = std::filesystem;
  fs::recursive_directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
    UniqueFd fd(open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) {
      if (errno == ENOENT) continue;
      return true;  // unknown counts as open
    }
    bool locked = false;
    if (!Locked(fd.get(), kFirstBit, kBitCount, &locked) || locked) return true;
  }
  return static_cast<bool>(ec);
}

bool SameFile(int fd, const std::filesystem::path& host, struct stat* st) {
  struct stat at;
  if (fstat(fd, st) != 0 || stat(host.c_str(), &at) != 0) return false;
  return st->st_ino == at.st_ino && st->st_dev == at.st_dev && st->st_nlink > 0;
}

}  // namespace ce::filestate
