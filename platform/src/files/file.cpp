// CreateFile and the calls on an open file handle.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "ce/errors.h"
#include "ce/handle.h"
#include "files/filestate.h"
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
  int64_t openId = 0;
  uint64_t pos = 0;
  bool dirty = false;        // written since the times were last stamped
  bool fixedWrite = false;   // SetFileTime chose the last-write time
  bool fixedAccess = false;  // SetFileTime chose the last-access time
  std::mutex lock;

  ~FileObject() override { Release(); }

  // False (last error set) when the times or the release could not be
  // recorded; the handle is gone either way. The pending times and the
  // release are one transaction.
  bool Close() override {
    std::lock_guard<std::mutex> g(lock);
    if (fd >= 0) close(fd);
    fd = -1;
    DWORD stampError = ERROR_SUCCESS;
    const bool pending = dirty;
    bool released = dev->Transaction([&] {
      // A stamp that fails still lets the release commit.
      if (!StampTimes()) stampError = GetLastError();
      if (openId && !DeleteOpenRow(dev, openId)) return false;
      KillPoint("close");
      return true;
    });
    if (!released) {
      // Nothing of the transaction stands: the release on its own.
      if (pending && stampError == ERROR_SUCCESS) stampError = ERROR_GEN_FAILURE;
      released = UnregisterOpen(dev, openId);
    }
    openId = 0;
    if (!released) return false;
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
  bool Release() {
    if (fd >= 0) close(fd);
    fd = -1;
    bool ok = !openId || UnregisterOpen(dev, openId);
    openId = 0;
    return ok;
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

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE) {
  trap::BeforeCall();
  Device* dev = Dev();
  if (!dev) return INVALID_HANDLE_VALUE;
  ResolvedPath r;
  if (!ResolveArg(dev, name, &r)) return INVALID_HANDLE_VALUE;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  access &= kAccessMask;
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (r.exists && disposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  if (r.isDirectory) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!r.exists) {
    if (!r.parentExists) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
  }
  bool existed = r.exists;
  bool truncate = existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
  DWORD attrs = flagsAndAttributes & kSettableAttributes;
  if (!attrs) attrs = FILE_ATTRIBUTE_ARCHIVE;

  // The checks, the share row, the host open and the file's row are one
  // transaction: another process sees all of it or none.
  EntryInfo before;
  int fd = -1;
  int64_t openId = 0;
  DWORD error = ERROR_SUCCESS;
  bool ok = dev->Transaction([&] {
    if (existed) {
      if (!GetEntryInfo(dev, r, &before)) {
        error = GetLastError();
        return false;
      }
      if ((before.attributes & FILE_ATTRIBUTE_READONLY) && ((access & GENERIC_WRITE) || truncate)) {
        error = ERROR_ACCESS_DENIED;
        return false;
      }
    }
    bool conflict = false;
    if (!CheckShare(dev, r.key, access, share, &conflict)) return false;
    if (conflict) {
      error = ERROR_SHARING_VIOLATION;
      return true;  // keeps the removal of dead holders' rows
    }
    if (!(openId = InsertOpen(dev, r.key, access, share, false))) return false;
    int flags = O_CLOEXEC | (truncate ? O_TRUNC : 0) | (existed ? 0 : O_CREAT | O_EXCL);
    fd = open(r.host.c_str(), O_RDWR | flags, 0666);
    if (fd < 0 && errno == EACCES && !(access & GENERIC_WRITE) && !truncate)
      fd = open(r.host.c_str(), O_RDONLY | flags, 0666);
    if (fd < 0) {
      error = errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno);
      return false;
    }
    // An open of an existing file as it stands writes no times.
    uint64_t now = existed && !truncate ? 0 : NowTicks(dev);
    bool recorded = true;
    if (!existed) {
      recorded = PutMeta(dev, r.key, attrs, now, now, now);
    } else if (disposition == CREATE_ALWAYS) {
      recorded = PutMeta(dev, r.key, attrs, before.ctime, now, now);
    } else if (truncate) {
      recorded = SetMetaTimes(dev, r, nullptr, &now, &now);
    }
    if (!recorded) {
      error = GetLastError();
      return false;
    }
    KillPoint("open");
    return true;
  });
  if (!ok || error != ERROR_SUCCESS) {
    if (fd >= 0) {
      close(fd);
      if (!existed) unlink(r.host.c_str());  // no new file without its row
    }
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }

  auto f = std::make_shared<FileObject>();
  f->dev = dev;
  f->fd = fd;
  f->path = r;
  f->path.exists = true;
  f->volume = VolumeOf(dev, r);
  f->access = access;
  f->openId = openId;
  if (truncate) AddUsed(dev, f->volume, -static_cast<int64_t>(before.size));
  HANDLE h = AddHandle(f);
  bool reportExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  if (!existed || truncate) trap::AfterCall(CallKind::kFile, "CreateFileW");
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
