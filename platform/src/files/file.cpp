// CreateFile and the calls on an open file handle.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "ce/errors.h"
#include "ce/handle.h"
#include "files/filestate.h"
#include "files/holdmarks.h"
#include "files/sharelock.h"
#include "files/spares.h"
#include "trap/call_trap.h"

#ifndef ERROR_NEGATIVE_SEEK
#define ERROR_NEGATIVE_SEEK 131L
#endif

namespace ce {
namespace {

using namespace filestate;

class FileObject : public HandleObject {
 public:
  Device* dev = nullptr;
  int fd = -1;
  ResolvedPath path;
  Volume volume;
  DWORD access = 0;
  uint64_t pos = 0;
  bool dirty = false;        // written since the times were last stamped
  bool fixedWrite = false;   // SetFileTime chose the last-write time
  bool fixedAccess = false;  // SetFileTime chose the last-access time
  uint64_t forks = 0;        // Forks() before the open
  std::mutex lock;

  ~FileObject() override { Release(); }

  // False (last error set) when the pending times could not be recorded;
  // the handle and its share bits are gone either way. The times are
  // written before the descriptor (and with it the share) goes.
  bool Close() override {
    std::lock_guard<std::mutex> g(lock);
    DWORD stampError = ERROR_SUCCESS;
    if (dirty) {
      bool stamped = dev->Transaction([&] {
        if (!StampTimes()) {
          stampError = GetLastError();
          return false;
        }
        KillPoint("close");
        return true;
      });
      if (!stamped && stampError == ERROR_SUCCESS) stampError = ERROR_GEN_FAILURE;
    }
    Release();
    if (stampError != ERROR_SUCCESS) SetLastError(stampError);
    return stampError == ERROR_SUCCESS;
  }

  // The times a stamp now writes: last write and last access become now
  // unless SetFileTime chose them; null where nothing is pending.
  void PendingTimes(uint64_t* now, const uint64_t** atime, const uint64_t** wtime) {
    *atime = *wtime = nullptr;
    if (!dirty) return;
    *now = NowTicks(dev);
    if (!fixedAccess) *atime = now;
    if (!fixedWrite) *wtime = now;
  }

  // Writes the pending last-write/last-access times of this handle; false
  // (last error set, still pending) when they could not be written. A file
  // removed behind the device's back has nothing left to stamp.
  bool StampTimes() {
    if (!dirty) return true;
    uint64_t now = 0;
    const uint64_t *atime, *wtime;
    PendingTimes(&now, &atime, &wtime);
    if ((atime || wtime) && !SetMetaTimes(dev, path, nullptr, atime, wtime)) {
      DWORD err = GetLastError();
      if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) return false;
    }
    dirty = false;
    return true;
  }

  bool Size(uint64_t* size) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
      SetLastError(ErrorFromErrno(errno));
      return false;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }

 private:
  // The bits go explicitly once a fork came after the open: a child forked
  // without an exec shares this descriptor's open file description, and
  // either copy's close ends the open's share, as a close ends it for the
  // handle's one owner.
  void Release() {
    if (fd >= 0) {
      if (Forks() != forks) DropBits(fd);
      close(fd);
    }
    fd = -1;
  }
};

std::shared_ptr<FileObject> GetFile(HANDLE h) { return GetHandle<FileObject>(h); }

bool NeedAccess(const FileObject& f, DWORD bit) {
  if (f.access & bit) return true;
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

}  // namespace
}  // namespace ce

using namespace ce;
using namespace ce::filestate;

namespace ce::filestate {
namespace {

// How one try at an open ended: kRetry when the entry changed under it
// (removed, replaced or made by another process) and the path must be
// resolved again.
enum class OpenTry { kOpened, kFailed, kRetry };

struct OpenRequest {
  DWORD access = 0;
  DWORD share = 0;
  DWORD disposition = 0;
  DWORD attrs = 0;  // for a new or replaced file
};

// Opens an existing host file: under its guard, the read-only check, the
// holds, the other opens' bits; then this open's bits, and the truncation
// with its rows in one transaction. An unchecked path (ResolveUnchecked)
// that does not open as a regular file is a retry with a full resolve.
OpenTry OpenExisting(Device* dev, const ResolvedPath& r, const OpenRequest& q, bool unchecked, OpenedFile* out,
                     DWORD* error) {
  const bool truncate = q.disposition == CREATE_ALWAYS || q.disposition == TRUNCATE_EXISTING;
  bool writable = true;
  UniqueFd fd(open(r.host.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid() && errno == EACCES && !(q.access & GENERIC_WRITE) && !truncate) {
    writable = false;
    fd = UniqueFd(open(r.host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  }
  if (!fd.valid()) {
    if (errno == ENOENT || unchecked) return OpenTry::kRetry;
    *error = errno == EISDIR ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno);
    return OpenTry::kFailed;
  }
  FileGuard guard(fd.get(), writable);
  if (!guard.ok()) {
    *error = ERROR_GEN_FAILURE;
    return OpenTry::kFailed;
  }
  struct stat st;
  if (!SameFile(fd.get(), r.host, &st) || (unchecked && !S_ISREG(st.st_mode))) return OpenTry::kRetry;
  MetaRow row;
  bool haveRow = false, conflict = false;
  if (!(q.access & GENERIC_WRITE) && !truncate && !MayHaveHold(dev, r.key)) {
    // A reader needs no row (the read-only bit does not stop it), and no
    // hold of the key exists: device.db is not read at all.
    conflict = IsSystemHeld(dev, r.key);
  } else if (!ReadForOpen(dev, r.key, q.access, q.share, &row, &haveRow, &conflict)) {
    // The row and the holds in one read.
    *error = ERROR_GEN_FAILURE;
    return OpenTry::kFailed;
  }
  out->before = EntryFromStat(dev, r.key, st, haveRow ? &row : nullptr);
  if ((out->before.attributes & FILE_ATTRIBUTE_READONLY) && ((q.access & GENERIC_WRITE) || truncate)) {
    *error = ERROR_ACCESS_DENIED;
    return OpenTry::kFailed;
  }
  if (!conflict && !BitsConflict(fd.get(), q.access, q.share, &conflict)) {
    *error = ERROR_GEN_FAILURE;
    return OpenTry::kFailed;
  }
  if (conflict) {
    *error = ERROR_SHARING_VIOLATION;
    return OpenTry::kFailed;
  }
  if (!TakeBits(fd.get(), q.access, q.share)) {
    *error = ERROR_GEN_FAILURE;
    return OpenTry::kFailed;
  }
  KillPoint("share");
  if (truncate) {
    if (ftruncate(fd.get(), 0) != 0) {
      *error = ErrorFromErrno(errno);
      return OpenTry::kFailed;
    }
    bool recorded = dev->Transaction([&] {
      const uint64_t now = NowTicks(dev);  // the clock's offset read inside: no read of its own
      bool done = q.disposition == CREATE_ALWAYS
                      ? PutMeta(dev, r.key, q.attrs, out->before.ctime, now, now)
                      : SetMetaTimes(dev, r, nullptr, &now, &now);
      if (!done) {
        *error = GetLastError();
        return false;
      }
      KillPoint("open");
      return true;
    });
    if (!recorded) {
      if (*error == ERROR_SUCCESS) *error = ERROR_GEN_FAILURE;
      return OpenTry::kFailed;
    }
  }
  out->fd = std::move(fd);
  return OpenTry::kOpened;
}

// Links a new file made nameless (O_TMPFILE) at host.
bool LinkAt(int fd, const std::filesystem::path& host) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, host.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Makes a new file: nameless in its folder with this open's bits and
// guard, then its row and its name in one transaction, so that another
// process finds the file only with its row and its share mode in place.
// Host folders that cannot hold a nameless file get the file by name in
// the transaction instead.
OpenTry CreateNew(Device* dev, const ResolvedPath& r, const OpenRequest& q, OpenedFile* out,
                  DWORD* error) {
  const std::filesystem::path folder = r.host.parent_path();
  // A spare kept from a replace is as private as a nameless file: only
  // this process knows its name in the spare folder.
  Spare spare;
  UniqueFd fd;
  if (TakeSpare(dev, folder, &spare)) fd = std::move(spare.fd);
  else fd = UniqueFd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
  const bool nameless = fd.valid();
  const bool fromSpare = !spare.path.empty();
  if (!nameless && errno == ENOENT) return OpenTry::kRetry;  // the folder went
  std::unique_ptr<FileGuard> guard;
  if (nameless) {
    guard = std::make_unique<FileGuard>(fd.get(), true);
    if (!guard->ok() || !TakeBits(fd.get(), q.access, q.share)) {
      *error = ERROR_GEN_FAILURE;
      return OpenTry::kFailed;
    }
  }
  bool named = false;
  bool ok = dev->Transaction([&] {
    const uint64_t now = NowTicks(dev);  // the clock's offset read inside: no read of its own
    bool conflict = false;
    if (!CheckShare(dev, r.key, q.access, q.share, &conflict)) return false;
    if (conflict) {
      *error = ERROR_SHARING_VIOLATION;
      return false;
    }
    if (!PutMeta(dev, r.key, q.attrs, now, now, now)) {
      *error = GetLastError();
      return false;
    }
    bool byName = !nameless;
    if (fromSpare) {
      named = NameSpare(spare, r.host);
      if (named) spare.path.clear();
      // A folder on another file system than the spare folder (a mount
      // inside the tree) gets the file by name.
      byName = !named && errno == EXDEV;
    } else if (nameless) {
      named = LinkAt(fd.get(), r.host);
    }
    if (byName) {
      guard.reset();
      fd = UniqueFd(open(r.host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      named = fd.valid();
      if (named) {
        guard = std::make_unique<FileGuard>(fd.get(), true);
        if (!guard->ok() || !TakeBits(fd.get(), q.access, q.share)) {
          *error = ERROR_GEN_FAILURE;
          return false;
        }
      }
    }
    if (!named) {
      *error = errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno);
      return false;
    }
    KillPoint("create");
    return true;
  });
  DropSpare(&spare);  // not named: the spare goes
  if (!ok) {
    if (named) unlink(r.host.c_str());  // no new file without its row
    if (*error == ERROR_FILE_EXISTS && q.disposition != CREATE_NEW) {
      *error = ERROR_SUCCESS;
      return OpenTry::kRetry;  // made by another process meanwhile
    }
    if (*error == ERROR_SUCCESS) *error = ERROR_GEN_FAILURE;
    return OpenTry::kFailed;
  }
  out->fd = std::move(fd);
  return OpenTry::kOpened;
}

}  // namespace

bool OpenHostFile(Device* dev, LPCWSTR name, DWORD access, DWORD share, DWORD disposition, DWORD attrs,
                  OpenedFile* out) {
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  OpenRequest q{access & kAccessMask, share, disposition, attrs & kSettableAttributes};
  if (!q.attrs) q.attrs = FILE_ATTRIBUTE_ARCHIVE;
  if (disposition == TRUNCATE_EXISTING && !(q.access & GENERIC_WRITE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  TreeLock tree(dev, false);
  if (!tree.ok()) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  // Another process may remove, replace or make the entry between the
  // resolve and the open: a few tries, each from a fresh resolve.
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 16; ++attempt) {
    ResolvedPath r;
    // A name in a folder found before is opened at once; when that fails,
    // the next try resolves the path in full.
    const bool unchecked = attempt == 0 && name && disposition != CREATE_NEW &&
                           dev->ResolveUnchecked(std::u16string_view(name, StrLen(name)), &r);
    if (!unchecked && !ResolveArg(dev, name, &r)) return false;
    if (r.exists && disposition == CREATE_NEW) {
      SetLastError(ERROR_FILE_EXISTS);
      return false;
    }
    if (r.isDirectory) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (!r.exists) {
      if (!r.parentExists) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
      }
      if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
      }
    }
    error = ERROR_SUCCESS;
    out->existed = r.exists;
    out->before = EntryInfo{};
    OpenTry t = r.exists ? OpenExisting(dev, r, q, unchecked, out, &error) : CreateNew(dev, r, q, out, &error);
    if (t == OpenTry::kRetry) continue;
    if (t == OpenTry::kFailed) {
      SetLastError(error);
      return false;
    }
    out->path = r;
    out->path.exists = true;
    out->access = q.access;
    return true;
  }
  SetLastError(error != ERROR_SUCCESS ? error : ERROR_SHARING_VIOLATION);
  return false;
}

}  // namespace ce::filestate

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE) {
  trap::BeforeCall();
  Device* dev = Dev();
  if (!dev) return INVALID_HANDLE_VALUE;
  const uint64_t forks = Forks();
  OpenedFile o;
  if (!OpenHostFile(dev, name, access, share, disposition, flagsAndAttributes, &o))
    return INVALID_HANDLE_VALUE;
  const bool truncate = o.existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
  auto f = std::make_shared<FileObject>();
  f->dev = dev;
  f->fd = o.fd.Release();
  f->forks = forks;
  f->path = o.path;
  f->volume = VolumeOf(dev, o.path);
  f->access = o.access;
  if (truncate) AddUsed(dev, f->volume, -static_cast<int64_t>(o.before.size));
  HANDLE h = AddHandle(f);
  bool reportExisting = o.existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  if (!o.existed || truncate) trap::AfterCall(CallKind::kFile, "CreateFileW");
  return h;
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  auto f = GetFile(h);
  if (read) *read = 0;
  if (!f) return FALSE;
  std::lock_guard<std::mutex> g(f->lock);
  if (!NeedAccess(*f, GENERIC_READ)) return FALSE;
  if (!buffer && toRead) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  while (done < toRead) {
    ssize_t n = pread(f->fd, static_cast<char*>(buffer) + done, toRead - done,
                      static_cast<off_t>(f->pos + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastError(ErrorFromErrno(errno));
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  f->pos += done;
  if (read) *read = done;
  return TRUE;
}

static BOOL WriteToFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written) {
  auto f = GetFile(h);
  if (written) *written = 0;
  if (!f) return FALSE;
  std::lock_guard<std::mutex> g(f->lock);
  if (!NeedAccess(*f, GENERIC_WRITE)) return FALSE;
  if (!buffer && toWrite) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!toWrite) return TRUE;
  uint64_t size = 0;
  if (!f->Size(&size)) return FALSE;
  uint64_t end = f->pos + toWrite;
  uint64_t grow = end > size ? end - size : 0;
  if (!CheckRoom(f->dev, f->volume, grow)) return FALSE;
  DWORD done = 0;
  while (done < toWrite) {
    ssize_t n = pwrite(f->fd, static_cast<const char*>(buffer) + done, toWrite - done,
                       static_cast<off_t>(f->pos + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : ENOSPC;
      // What a failed write appended does not stay behind.
      if (grow && ftruncate(f->fd, static_cast<off_t>(size)) != 0) {
        // The first error is the one reported.
      }
      SetLastError(ErrorFromErrno(err));
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  AddUsed(f->dev, f->volume, static_cast<int64_t>(grow));
  f->pos = end;
  f->dirty = true;
  if (written) *written = done;
  return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  trap::BeforeCall();
  const BOOL ok = WriteToFile(h, buffer, toWrite, written);
  if (ok && toWrite) trap::AfterCall(CallKind::kFile, "WriteFile");
  return ok;
}

DWORD SetFilePointer(HANDLE h, LONG distance, PLONG distanceHigh, DWORD method) {
  auto f = GetFile(h);
  if (!f) return INVALID_SET_FILE_POINTER;
  std::lock_guard<std::mutex> g(f->lock);
  int64_t move = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(
                                                          static_cast<uint32_t>(*distanceHigh))
                                                      << 32) |
                                                     static_cast<uint32_t>(distance))
                              : static_cast<int64_t>(distance);
  int64_t base = 0;
  if (method == FILE_BEGIN) {
    base = 0;
  } else if (method == FILE_CURRENT) {
    base = static_cast<int64_t>(f->pos);
  } else if (method == FILE_END) {
    uint64_t size = 0;
    if (!f->Size(&size)) return INVALID_SET_FILE_POINTER;
    base = static_cast<int64_t>(size);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t pos = base + move;
  if (pos < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  f->pos = static_cast<uint64_t>(pos);
  if (distanceHigh) *distanceHigh = static_cast<LONG>(f->pos >> 32);
  DWORD low = static_cast<DWORD>(f->pos);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

static BOOL SetEndOfOpenFile(HANDLE h) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  std::lock_guard<std::mutex> g(f->lock);
  if (!NeedAccess(*f, GENERIC_WRITE)) return FALSE;
  uint64_t size = 0;
  if (!f->Size(&size)) return FALSE;
  if (f->pos > size && !CheckRoom(f->dev, f->volume, f->pos - size)) return FALSE;
  if (ftruncate(f->fd, static_cast<off_t>(f->pos)) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  AddUsed(f->dev, f->volume, static_cast<int64_t>(f->pos) - static_cast<int64_t>(size));
  f->dirty = true;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE h) {
  trap::BeforeCall();
  const BOOL ok = SetEndOfOpenFile(h);
  if (ok) trap::AfterCall(CallKind::kFile, "SetEndOfFile");
  return ok;
}

DWORD GetFileSize(HANDLE h, LPDWORD sizeHigh) {
  auto f = GetFile(h);
  if (!f) return INVALID_FILE_SIZE;
  std::lock_guard<std::mutex> g(f->lock);
  uint64_t size = 0;
  if (!f->Size(&size)) return INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL GetFileTime(HANDLE h, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  std::lock_guard<std::mutex> g(f->lock);
  if (!f->StampTimes()) return FALSE;
  EntryInfo e;
  if (!GetEntryInfo(f->dev, f->path, &e)) return FALSE;
  if (creation) *creation = FromTicks(e.ctime);
  if (lastAccess) *lastAccess = FromTicks(e.atime);
  if (lastWrite) *lastWrite = FromTicks(e.wtime);
  return TRUE;
}

static BOOL SetOpenFileTime(HANDLE h, const FILETIME* creation, const FILETIME* lastAccess,
                            const FILETIME* lastWrite) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  std::lock_guard<std::mutex> g(f->lock);
  if (!NeedAccess(*f, GENERIC_WRITE)) return FALSE;
  // The times pending from writes go into the same one write.
  uint64_t c = creation ? Ticks(*creation) : 0, a = lastAccess ? Ticks(*lastAccess) : 0,
           w = lastWrite ? Ticks(*lastWrite) : 0, now = 0;
  DWORD error = ERROR_GEN_FAILURE;
  bool ok = f->dev->Transaction([&] {
    const uint64_t *pa, *pw;
    f->PendingTimes(&now, &pa, &pw);
    if (lastAccess) pa = &a;
    if (lastWrite) pw = &w;
    if (!SetMetaTimes(f->dev, f->path, creation ? &c : nullptr, pa, pw)) {
      error = GetLastError();
      return false;
    }
    KillPoint("times");
    return true;
  });
  if (!ok) {
    SetLastError(error);
    return FALSE;
  }
  f->dirty = false;
  if (lastWrite) f->fixedWrite = true;
  if (lastAccess) f->fixedAccess = true;
  return TRUE;
}

BOOL SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite) {
  trap::BeforeCall();
  const BOOL ok = SetOpenFileTime(h, creation, lastAccess, lastWrite);
  if (ok) trap::AfterCall(CallKind::kFile, "SetFileTime");
  return ok;
}

BOOL FlushFileBuffers(HANDLE h) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  std::lock_guard<std::mutex> g(f->lock);
  if (!NeedAccess(*f, GENERIC_WRITE)) return FALSE;
  if (fsync(f->fd) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return f->StampTimes() ? TRUE : FALSE;
}
