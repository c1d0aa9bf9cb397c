// Volumes: mount, unmount, the volume walk, flush; the boot's part.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "ce/errors.h"
#include "ce/text.h"
#include "database/db_boot.h"
#include "database/db_common.h"
#include "database/db_faults.h"
#include "database/db_mounts.h"

namespace ce::db {
namespace {

constexpr char16_t kObjectStoreName[] = u"SystemHeap";

BOOL MountCall(int gen, PCEGUID pGuid, LPWSTR lpszVol, DWORD dwFlags) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(DbCall::kMount)) return FALSE;
  if (!pGuid || !lpszVol || (dwFlags != OPEN_EXISTING && dwFlags != OPEN_ALWAYS))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Device* dev = ApiDevice();
  if (!dev) return FALSE;
  ResolvedPath r;
  if (!dev->Resolve(lpszVol, &r)) return FALSE;
  if (r.isDirectory || r.device == u"\\") return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!r.parentExists) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  if (!r.exists && dwFlags == OPEN_EXISTING) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  CEGUID guid{};
  DWORD err = MountVolume(dev, r, gen == kGenEdb, /*forSystem=*/false,
                          [&]() -> DWORD {
                            DWORD e = ERROR_SUCCESS;
                            return OpenStore(r.host, r.key, gen, dwFlags == OPEN_ALWAYS, true, &e) ? ERROR_SUCCESS
                                                                                                 : e;
                          },
                          &guid);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  *pGuid = guid;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

bool FlushPath(const std::filesystem::path& host) {
  Store s(host, u"");
  return s.Flush();
}

}  // namespace

bool MountSystemVolume(Device* dev, const SystemVolume& v, std::string* problem) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  ResolvedPath r;
  if (!dev->Resolve(v.path, &r) || !r.exists || r.isDirectory) {
    *problem = r.exists ? "it is a folder" : "the file is missing";
    return false;
  }
  const int gen = v.edb ? kGenEdb : kGenCedb;
  CEGUID guid{};
  DWORD err = MountVolume(dev, r, v.edb, /*forSystem=*/true,
                          [&]() -> DWORD {
                            DWORD e = ERROR_SUCCESS;
                            return OpenStore(r.host, r.key, gen, false, true, &e) ? ERROR_SUCCESS : e;
                          },
                          &guid);
  if (err != ERROR_SUCCESS) {
    *problem = DescribeError(err);
    return false;
  }
  return true;
}

std::vector<std::string> RecoverStores(Device* dev) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  std::vector<std::pair<std::u16string, std::filesystem::path>> files;
  for (const Mount& m : ReadMounts(dev)) {
    ResolvedPath r;
    if (dev->Resolve(m.path, &r)) files.emplace_back(r.device, r.host);
  }
  for (const SystemVolume& v : dev->GetProfile().systemVolumes) {
    ResolvedPath r;
    if (dev->Resolve(v.path, &r)) files.emplace_back(r.device, r.host);
  }
  files.emplace_back(u"the object store", ObjectStorePath(dev));
  std::vector<std::string> done;
  for (const auto& [name, host] : files) {
    // This process's connections from before the reset are stale.
    DropStore(host);
    std::error_code ec;
    const std::filesystem::path journal = host.string() + "-journal";
    if (!std::filesystem::exists(journal, ec)) continue;
    // The first read of a file with a hot journal rolls it back and
    // removes the journal.
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(host.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, "PRAGMA journal_mode=DELETE; SELECT count(*) FROM sqlite_master", nullptr, nullptr,
                           nullptr) == SQLITE_OK;
    sqlite3_close_v2(db);
    ok = ok && !std::filesystem::exists(journal, ec);
    done.push_back((ok ? "rolled back the unfinished write of " : "could not roll back the unfinished write of ") +
                   ToUtf8(name));
  }
  EndAllMounts(dev);
  return done;
}

}  // namespace ce::db

using namespace ce::db;

BOOL CeMountDBVol(PCEGUID pGuid, LPWSTR lpszVol, DWORD dwFlags) { return MountCall(kGenCedb, pGuid, lpszVol, dwFlags); }

BOOL CeMountDBVolEx(PCEGUID pGuid, LPWSTR lpszVol, CEVOLUMEOPTIONS*, DWORD dwFlags) {
  return MountCall(kGenEdb, pGuid, lpszVol, dwFlags);
}

BOOL CeUnmountDBVol(PCEGUID pGuid) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kUnmount)) return FALSE;
  if (!pGuid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ce::Device* dev = ApiDevice();
  if (!dev) return FALSE;
  std::filesystem::path closed;
  DWORD err = UnmountVolume(dev, *pGuid, &closed);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  if (!closed.empty()) {
    // The volume closes: what it holds goes to storage, and this process
    // lets the file go.
    DropStore(closed);
    if (!FlushPath(closed)) return Fail(ERROR_WRITE_FAULT, FALSE);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeEnumDBVolumes(PCEGUID pGuid, LPWSTR lpBuf, DWORD dwSize) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kEnumVolumes)) return FALSE;
  if (!pGuid || !lpBuf) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ce::Device* dev = ApiDevice();
  if (!dev) return FALSE;
  if (CeGuidEqual(*pGuid, ZERO_CEGUID)) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
  const std::vector<Mount> mounts = ReadMounts(dev);
  bool edb = false;
  int64_t after = 0;
  if (CeGuidEqual(*pGuid, EDB_SYSTEMGUID) || CeGuidEqual(*pGuid, CEDB_SYSTEMGUID)) {
    edb = CeGuidEqual(*pGuid, EDB_SYSTEMGUID);
  } else {
    auto it = std::find_if(mounts.begin(), mounts.end(), [&](const Mount& m) { return CeGuidEqual(m.guid, *pGuid); });
    if (it == mounts.end()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    edb = it->edb;
    after = it->seq;
  }
  CEGUID next = ZERO_CEGUID;
  std::u16string name = kObjectStoreName;
  for (const Mount& m : mounts) {
    if (m.edb == edb && m.seq > after) {
      next = m.guid;
      name = m.path;
      break;
    }
  }
  if (name.size() + 1 > dwSize) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  std::copy(name.begin(), name.end(), lpBuf);
  lpBuf[name.size()] = 0;
  *pGuid = next;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeFlushDBVol(PCEGUID pGuid) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kFlush)) return FALSE;
  ce::Device* dev = ApiDevice();
  if (!dev) return FALSE;
  std::vector<std::filesystem::path> files;
  const bool objectStore = pGuid && (CeGuidEqual(*pGuid, ZERO_CEGUID) || CeGuidEqual(*pGuid, CEDB_SYSTEMGUID) ||
                                     CeGuidEqual(*pGuid, EDB_SYSTEMGUID));
  if (!pGuid || objectStore) {
    std::error_code ec;
    if (std::filesystem::exists(ObjectStorePath(dev), ec)) files.push_back(ObjectStorePath(dev));
  }
  if (!objectStore) {
    bool found = !pGuid;
    for (const Mount& m : ReadMounts(dev)) {
      if (pGuid && !CeGuidEqual(m.guid, *pGuid)) continue;
      ce::ResolvedPath r;
      if (dev->Resolve(m.path, &r)) files.push_back(r.host);
      found = true;
    }
    if (!found) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  for (const auto& f : files)
    if (!FlushPath(f)) return Fail(ERROR_WRITE_FAULT, FALSE);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

namespace ce {

std::vector<MountedVolume> ListMountedVolumes() {
  std::vector<MountedVolume> out;
  std::lock_guard<std::recursive_mutex> lock(db::ApiLock());
  Device* dev = db::ApiDevice();
  if (!dev) return out;
  for (const db::Mount& m : db::ReadMounts(dev)) {
    MountedVolume v;
    v.guid = m.guid;
    v.edb = m.edb;
    v.path = m.path;
    v.count = m.count;
    v.system = m.system;
    out.push_back(std::move(v));
  }
  return out;
}

}  // namespace ce
