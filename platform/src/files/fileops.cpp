// Attributes, folders, delete, move and copy.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "ce/errors.h"
#include "files/filestate.h"
#include "files/sharelock.h"
#include "files/spares.h"
#include "trap/call_trap.h"

using namespace ce;
using namespace ce::filestate;

namespace {

// Resolves an existing entry: ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND
// when a folder on the way is missing.
bool ResolveExisting(Device* dev, LPCWSTR name, ResolvedPath* r) {
  if (!ResolveArg(dev, name, r)) return false;
  if (!r->exists) {
    SetLastError(r->parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

// The last component of a path as the caller typed it.
std::u16string LastComponent(LPCWSTR path) {
  std::u16string s(path, StrLen(path));
  while (s.size() > 1 && (s.back() == u'\\' || s.back() == u'/')) s.pop_back();
  size_t cut = s.find_last_of(u"\\/");
  return cut == std::u16string::npos ? s : s.substr(cut + 1);
}

bool IsEmptyFolder(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::directory_iterator(p, ec) == std::filesystem::directory_iterator() && !ec;
}

// Copies what is left of in to out; the first error is reported.
bool CopyFd(int in, int out) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(ErrorFromErrno(errno));
    if (n == 0) return true;
    for (ssize_t off = 0; off < n;) {
      ssize_t w = write(out, buf.data() + off, static_cast<size_t>(n - off));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return Fail(ErrorFromErrno(w < 0 ? errno : ENOSPC));
      off += w;
    }
  }
}

// Copies the bytes of one host file over another; the target is removed
// when the copy fails.
bool CopyBytes(const std::filesystem::path& from, const std::filesystem::path& to) {
  UniqueFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return Fail(ErrorFromErrno(errno));
  UniqueFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!out.valid()) return Fail(ErrorFromErrno(errno));
  bool ok = CopyFd(in.get(), out.get());
  if (close(out.Release()) != 0 && ok) ok = Fail(ErrorFromErrno(errno));
  if (!ok) unlink(to.c_str());
  return ok;
}

// A descriptor on an existing host file for its guard and its opens'
// bits (writable where the host allows, for an exclusive guard); invalid
// with errno set when it cannot be opened.
UniqueFd OpenToCheck(const std::filesystem::path& host, bool* writable) {
  *writable = true;
  UniqueFd fd(open(host.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid() && errno == EACCES) {
    *writable = false;
    fd = UniqueFd(open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  }
  return fd;
}

// Under fd's guard: whether the host file is still the one resolved and no
// open of it is live; false with the last error set otherwise.
bool FreeToChange(int fd, const ResolvedPath& r, struct stat* st) {
  if (!SameFile(fd, r.host, st)) return Fail(ERROR_FILE_NOT_FOUND);
  bool conflict = false;
  if (!BitsConflict(fd, kAccessDelete, 0, &conflict)) return Fail(ERROR_GEN_FAILURE);
  return conflict ? Fail(ERROR_SHARING_VIOLATION) : true;
}

// A file held for a delete, a move or a replace: its descriptor and its
// guard (released before the descriptor closes), and its stat.
struct HeldForChange {
  UniqueFd fd;
  std::unique_ptr<FileGuard> guard;
  struct stat st {};
  bool writable = false;  // fd may change the file's bytes
};

// Opens r's host file, takes its guard and checks that no open of it is
// live; false with the last error set otherwise.
bool HoldForChange(const ResolvedPath& r, HeldForChange* held) {
  held->fd = OpenToCheck(r.host, &held->writable);
  if (!held->fd.valid()) return Fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
  held->guard = std::make_unique<FileGuard>(held->fd.get(), held->writable);
  if (!held->guard->ok()) return Fail(ERROR_GEN_FAILURE);
  return FreeToChange(held->fd.get(), r, &held->st);
}

// The cached used bytes after a move: a file that changed volumes takes
// its bytes along (moved: the source's entry as it was, null when the move
// failed); anything else that may have changed is counted again.
void UsedAfterMove(Device* dev, const ResolvedPath& src, const ResolvedPath& dst, const EntryInfo* moved) {
  if (!moved || src.isDirectory) {
    if (!moved || VolumeOf(dev, src).key != VolumeOf(dev, dst).key) InvalidateUsed();
    return;
  }
  Volume from = VolumeOf(dev, src), to = VolumeOf(dev, dst);
  if (from.key == to.key) return;
  AddUsed(dev, from, -static_cast<int64_t>(moved->size));
  AddUsed(dev, to, static_cast<int64_t>(moved->size));
}

}  // namespace

DWORD GetFileAttributesW(LPCWSTR name) {
  Device* dev = Dev();
  ResolvedPath r;
  EntryInfo e;
  if (!dev || !ResolveExisting(dev, name, &r) || !GetEntryInfo(dev, r, &e))
    return INVALID_FILE_ATTRIBUTES;
  return e.attributes;
}

static BOOL SetAttributes(LPCWSTR name, DWORD attributes) {
  Device* dev = Dev();
  ResolvedPath r;
  if (!dev || !ResolveExisting(dev, name, &r)) return FALSE;
  // Read and rewrite in one write transaction: another process may set the
  // times of the row meanwhile.
  DWORD error = ERROR_GEN_FAILURE;
  bool ok = dev->Transaction([&] {
    EntryInfo e;
    if (!GetEntryInfo(dev, r, &e)) {
      error = GetLastError();
      return false;
    }
    if (e.rom || e.mountRoot || r.key == u"\\") {
      error = ERROR_ACCESS_DENIED;
      return false;
    }
    return PutMeta(dev, r.key, attributes & kSettableAttributes, e.ctime, e.atime, e.wtime);
  });
  return ok ? TRUE : Fail(error);
}

static BOOL CreateFolder(LPCWSTR name) {
  Device* dev = Dev();
  ResolvedPath r;
  if (!dev || !ResolveArg(dev, name, &r)) return FALSE;
  if (r.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (!r.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (mkdir(r.host.c_str(), 0777) != 0)
    return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno));
  uint64_t now = NowTicks(dev);
  // Rows of an earlier folder removed outside the device go first.
  bool recorded = dev->Transaction(
      [&] { return DeleteMetaTree(dev, r.key) && PutMeta(dev, r.key, 0, now, now, now); });
  if (!recorded) {
    rmdir(r.host.c_str());  // no new folder without its row
    return Fail(ERROR_GEN_FAILURE);
  }
  return TRUE;
}

static BOOL RemoveFolder(LPCWSTR name) {
  Device* dev = Dev();
  ResolvedPath r;
  EntryInfo e;
  if (!dev || !ResolveExisting(dev, name, &r) || !GetEntryInfo(dev, r, &e)) return FALSE;
  if (!r.isDirectory) return Fail(ERROR_DIRECTORY);
  if (r.key == u"\\" || e.mountRoot) return Fail(ERROR_ACCESS_DENIED);
  if (e.attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (!IsEmptyFolder(r.host)) return Fail(ERROR_DIR_NOT_EMPTY);
  if (rmdir(r.host.c_str()) != 0)
    return Fail(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno));
  return DeleteMetaTree(dev, r.key) ? TRUE : Fail(ERROR_GEN_FAILURE);
}

static BOOL DeleteOneFile(LPCWSTR name) {
  Device* dev = Dev();
  if (!dev) return FALSE;
  TreeLock tree(dev, false);
  if (!tree.ok()) return Fail(ERROR_GEN_FAILURE);
  ResolvedPath r;
  EntryInfo e;
  if (!ResolveExisting(dev, name, &r) || !GetEntryInfo(dev, r, &e)) return FALSE;
  if (r.isDirectory || (e.attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  // Under the file's guard and in one transaction: no open can start
  // between the check and the unlink.
  HeldForChange held;
  if (!HoldForChange(r, &held)) return FALSE;
  DWORD err = ERROR_SUCCESS;
  bool ok = dev->Transaction([&] {
    bool conflict = false;
    if (!CheckShare(dev, r.key, kAccessDelete, 0, &conflict)) return false;
    if (conflict) {
      err = ERROR_SHARING_VIOLATION;
      return true;  // keeps the removal of dead holders' rows
    }
    if (unlink(r.host.c_str()) != 0) {
      err = ErrorFromErrno(errno);
      return true;
    }
    if (!DeleteMetaTree(dev, r.key)) return false;
    KillPoint("delete");
    return true;
  });
  if (!ok && err == ERROR_SUCCESS) err = ERROR_GEN_FAILURE;
  if (err == ERROR_SUCCESS) AddUsed(dev, VolumeOf(dev, r), -static_cast<int64_t>(e.size));
  else InvalidateUsed();
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

static BOOL MoveEntry(LPCWSTR from, LPCWSTR to) {
  Device* dev = Dev();
  if (!dev) return FALSE;
  // A folder moves with the tree to itself: no open below it starts while
  // its files are checked and it moves.
  ResolvedPath src, dst;
  if (!ResolveExisting(dev, from, &src)) return FALSE;
  TreeLock tree(dev, src.isDirectory);
  if (!tree.ok()) return Fail(ERROR_GEN_FAILURE);
  EntryInfo e;
  if (!ResolveExisting(dev, from, &src) || !GetEntryInfo(dev, src, &e)) return FALSE;
  if (!ResolveArg(dev, to, &dst)) return FALSE;
  if (src.key == u"\\" || e.mountRoot || e.rom) return Fail(ERROR_ACCESS_DENIED);
  if (!dst.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  bool sameEntry = dst.key == src.key;  // a change of letter case only
  if (!sameEntry && dst.key.rfind(src.key + u'\\', 0) == 0) return Fail(ERROR_ACCESS_DENIED);
  // A file moves under its guard, once no open of it is live.
  HeldForChange held;
  if (!src.isDirectory && !HoldForChange(src, &held)) return FALSE;

  // The checks, the rename and the rows are one transaction, so no open
  // starts in between (a copy across volumes holds it for the copy).
  DWORD err = ERROR_SUCCESS;
  auto refuse = [&](DWORD error) {
    err = error;
    return true;  // keeps the removal of dead holders' rows
  };
  bool ok = dev->Transaction([&] {
    bool conflict = false;
    if (!CheckShare(dev, dst.key, kAccessDelete, 0, &conflict)) return false;
    if (conflict) return refuse(ERROR_SHARING_VIOLATION);
    if (dst.exists && !sameEntry) return refuse(ERROR_ALREADY_EXISTS);
    if (src.isDirectory) {
      if (IsOpenBelow(dev, src.key) || AnyBitsBelow(src.host)) return refuse(ERROR_ACCESS_DENIED);
    } else if (!sameEntry) {
      if (!CheckShare(dev, src.key, kAccessDelete, 0, &conflict)) return false;
      if (conflict) return refuse(ERROR_SHARING_VIOLATION);
      Volume sv = VolumeOf(dev, src), dv = VolumeOf(dev, dst);
      if (sv.key != dv.key && !CheckRoom(dev, dv, e.size)) return refuse(GetLastError());
    }
    std::filesystem::path target = dst.host.parent_path() / ToUtf8(LastComponent(to));
    if (rename(src.host.c_str(), target.c_str()) != 0) {
      int error = errno;
      if (error != EXDEV || src.isDirectory)
        return refuse(error == EXDEV ? ERROR_ACCESS_DENIED : ErrorFromErrno(error));
      if (!CopyBytes(src.host, target)) return refuse(GetLastError());
      if (unlink(src.host.c_str()) != 0) return refuse(ErrorFromErrno(errno));
    }
    if (!sameEntry && !MoveMetaTree(dev, src.key, dst.key)) {
      err = ERROR_GEN_FAILURE;
      return false;
    }
    KillPoint("move");
    return true;
  });
  if (!ok && err == ERROR_SUCCESS) err = ERROR_GEN_FAILURE;
  UsedAfterMove(dev, src, dst, err == ERROR_SUCCESS ? &e : nullptr);
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

// Puts the file at src in dst's place. With a spare offered, the two
// swap names and the old file goes to the spare's place (*spared), or is
// removed when it cannot; otherwise src is renamed over dst. False with
// errno set when dst still holds the old file.
static bool PutInPlace(const std::filesystem::path& src, const std::filesystem::path& dst, const SpareOffer& spare,
                       bool* spared) {
  if (!spare.made() || renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_EXCHANGE) != 0)
    return rename(src.c_str(), dst.c_str()) == 0;
  *spared = PutSpare(spare, src);
  if (*spared || unlink(src.c_str()) == 0) return true;
  // The old file would stay under the source's name: swapped back, the
  // call fails as a whole. (Should that fail too, the new file is in place
  // and the old one stays under the source's name.)
  const int error = errno;
  if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_EXCHANGE) != 0) return true;
  errno = error;
  return false;
}

static BOOL ReplaceFile(LPCWSTR dest, LPCWSTR source) {
  Device* dev = Dev();
  if (!dev) return FALSE;
  TreeLock tree(dev, false);
  if (!tree.ok()) return Fail(ERROR_GEN_FAILURE);
  ResolvedPath src, dst;
  if (!ResolveExisting(dev, source, &src) || !ResolveExisting(dev, dest, &dst)) return FALSE;
  // Files only (no folder, card or ROM file); the dest's row tells whether
  // it is read-only.
  MetaRow destRow;
  if (src.isDirectory || dst.isDirectory || IsRomFile(dev, src.key) || IsRomFile(dev, dst.key) ||
      src.key == dst.key ||
      (ReadMetaRow(dev, dst.key, &destRow) && (destRow.attributes & FILE_ATTRIBUTE_READONLY)))
    return Fail(ERROR_ACCESS_DENIED);
  if (VolumeOf(dev, src).key != VolumeOf(dev, dst).key) return Fail(ERROR_NOT_SAME_DEVICE);
  // Both files change under their guards, once no open of either is live;
  // the guards are taken in key order, so two replaces cannot wait on each
  // other.
  const bool srcFirst = src.key < dst.key;
  HeldForChange first, second;
  if (!HoldForChange(srcFirst ? src : dst, &first) || !HoldForChange(srcFirst ? dst : src, &second)) return FALSE;

  // The file replaced keeps its inode for this process's next new file.
  const HeldForChange& replaced = srcFirst ? second : first;
  SpareOffer spare = OfferSpare(dev, replaced.st);
  bool spared = false;

  // As a move: the checks, the rename over dest and the rows are one
  // transaction.
  DWORD err = ERROR_SUCCESS;
  bool ok = dev->Transaction([&] {
    bool conflict = false;
    for (const std::u16string* key : {&dst.key, &src.key}) {
      if (!CheckShare(dev, *key, kAccessDelete, 0, &conflict)) return false;
      if (conflict) {
        err = ERROR_SHARING_VIOLATION;
        return true;
      }
    }
    if (!PutInPlace(src.host, dst.host, spare, &spared)) {
      err = ErrorFromErrno(errno);
      return true;
    }
    if (!MoveMetaTree(dev, src.key, dst.key)) {
      err = ERROR_GEN_FAILURE;
      return false;
    }
    KillPoint("replace");
    return true;
  });
  if (!ok && err == ERROR_SUCCESS) err = ERROR_GEN_FAILURE;
  // A spare put in its place stays one even when the rows failed: the old
  // file is off its name either way.
  SettleSpare(dev, std::move(spare), spared, replaced.fd.get(), replaced.writable);
  // The replaced file's bytes are free; the source's stay in the volume.
  if (err == ERROR_SUCCESS) AddUsed(dev, VolumeOf(dev, dst), -static_cast<int64_t>(replaced.st.st_size));
  else InvalidateUsed();
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

static BOOL CopyOneFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  Device* dev = Dev();
  ResolvedPath src, dst;
  EntryInfo se, de;
  if (!dev || !ResolveExisting(dev, from, &src) || !GetEntryInfo(dev, src, &se)) return FALSE;
  if (!ResolveArg(dev, to, &dst)) return FALSE;
  if (src.isDirectory) return Fail(ERROR_ACCESS_DENIED);
  if (!dst.parentExists) return Fail(ERROR_PATH_NOT_FOUND);
  if (dst.exists) {
    if (dst.isDirectory) return Fail(ERROR_ACCESS_DENIED);
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (!GetEntryInfo(dev, dst, &de)) return FALSE;
    if (de.attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  }
  uint64_t old = dst.exists ? de.size : 0;
  if (se.size > old && !CheckRoom(dev, VolumeOf(dev, dst), se.size - old)) return FALSE;
  // Both ends open as a reader and a writer would open them, so that the
  // copy meets other opens' share modes and holds theirs while it runs.
  DWORD attrs = se.attributes & ~kRomBits & kSettableAttributes;
  OpenedFile in, out;
  if (!OpenHostFile(dev, from, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &in)) return FALSE;
  if (!OpenHostFile(dev, to, GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS, attrs, &out))
    return FALSE;
  bool ok = CopyFd(in.fd.get(), out.fd.get());
  if (!ok) {
    DWORD err = GetLastError();
    // Nothing of a failed copy stays behind; the first error is reported.
    if (unlink(out.path.host.c_str()) == 0) DeleteMetaTree(dev, out.path.key);
    SetLastError(err);
  }
  if (ok) ok = PutMeta(dev, out.path.key, attrs, se.ctime, se.atime, se.wtime);
  if (ok) AddUsed(dev, VolumeOf(dev, out.path), static_cast<int64_t>(se.size) - static_cast<int64_t>(old));
  else InvalidateUsed();
  return ok ? TRUE : FALSE;
}

// The calls that change the device's files count for the run's call
// counter (cesim/calltrap.h).

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  trap::BeforeCall();
  const BOOL ok = SetAttributes(name, attributes);
  if (ok) trap::AfterCall(CallKind::kFile, "SetFileAttributesW");
  return ok;
}

BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) {
  trap::BeforeCall();
  const BOOL ok = CreateFolder(name);
  if (ok) trap::AfterCall(CallKind::kFile, "CreateDirectoryW");
  return ok;
}

BOOL RemoveDirectoryW(LPCWSTR name) {
  trap::BeforeCall();
  const BOOL ok = RemoveFolder(name);
  if (ok) trap::AfterCall(CallKind::kFile, "RemoveDirectoryW");
  return ok;
}

BOOL DeleteFileW(LPCWSTR name) {
  trap::BeforeCall();
  const BOOL ok = DeleteOneFile(name);
  if (ok) trap::AfterCall(CallKind::kFile, "DeleteFileW");
  return ok;
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
  trap::BeforeCall();
  const BOOL ok = MoveEntry(from, to);
  if (ok) trap::AfterCall(CallKind::kFile, "MoveFileW");
  return ok;
}

BOOL DeleteAndRenameFile(LPCWSTR dest, LPCWSTR source) {
  trap::BeforeCall();
  const BOOL ok = ReplaceFile(dest, source);
  if (ok) trap::AfterCall(CallKind::kFile, "DeleteAndRenameFile");
  return ok;
}

BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  trap::BeforeCall();
  const BOOL ok = CopyOneFile(from, to, failIfExists);
  if (ok) trap::AfterCall(CallKind::kFile, "CopyFileW");
  return ok;
}
