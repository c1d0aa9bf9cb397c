#include "database/db_common.h"

#include <algorithm>
#include <cstring>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/text.h"
#include "ce/time.h"
#include "database/db_mounts.h"
#include "files/filestate.h"

namespace ce::db {

std::recursive_mutex& ApiLock() {
  static std::recursive_mutex* m = new std::recursive_mutex;
  return *m;
}

Device* ApiDevice() {
  Device* dev = filestate::Dev();
  if (dev && !EnsureMountTable(dev)) {
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  return dev;
}

DWORD OpenObjectStore(Device* dev, Store** out) {
  DWORD err = ERROR_SUCCESS;
  *out = OpenStore(ObjectStorePath(dev), std::u16string(kObjectStoreKey), kGenObjectStore, true, false, &err);
  return *out ? ERROR_SUCCESS : err;
}

DWORD ResolveTarget(Device* dev, const CEGUID* pGuid, int gen, Target* out) {
  *out = Target{};
  const CEGUID& own = gen == kGenEdb ? EDB_SYSTEMGUID : CEDB_SYSTEMGUID;
  const CEGUID& other = gen == kGenEdb ? CEDB_SYSTEMGUID : EDB_SYSTEMGUID;
  if (!pGuid || CeGuidEqual(*pGuid, own) || CeGuidEqual(*pGuid, ZERO_CEGUID)) {
    out->searchVolumes = !pGuid || CeGuidEqual(*pGuid, own);
    return OpenObjectStore(dev, &out->store);
  }
  if (CeGuidEqual(*pGuid, other)) return ERROR_INVALID_PARAMETER;
  Mount m;
  if (!FindMount(dev, *pGuid, &m) || m.edb != (gen == kGenEdb)) return ERROR_INVALID_PARAMETER;
  ResolvedPath r;
  if (!dev->Resolve(m.path, &r)) return GetLastError();
  DWORD err = ERROR_SUCCESS;
  out->store = OpenStore(r.host, m.key, gen, false, false, &err);
  if (!out->store) return err;
  out->objectStore = false;
  out->guid = m.guid;
  out->oidFloor = m.floor;
  return ERROR_SUCCESS;
}

std::string NameBlob(std::u16string_view name) {
  std::string b;
  b.reserve(name.size() * 2);
  for (char16_t c : name) le::Put16(&b, c);
  return b;
}

std::u16string NameFromBlob(std::string_view b) {
  std::u16string s;
  for (size_t i = 0; i + 1 < b.size(); i += 2) s += static_cast<char16_t>(le::Get16(b, i));
  return s;
}

std::string SortsBlob(const std::vector<SORTORDERSPECEX>& sorts) {
  std::string b;
  for (const SORTORDERSPECEX& s : sorts) {
    le::Put16(&b, s.wVersion);
    le::Put16(&b, s.wNumProps);
    le::Put16(&b, s.wKeyFlags);
    le::Put16(&b, s.wReserved);
    for (DWORD id : s.rgPropID) le::Put32(&b, id);
    for (DWORD f : s.rgdwFlags) le::Put32(&b, f);
  }
  return b;
}

bool SortsFromBlob(std::string_view b, size_t n, std::vector<SORTORDERSPECEX>* out) {
  out->clear();
  if (n > CEDB_EXMAXSORTORDER || b.size() != n * sizeof(SORTORDERSPECEX)) return false;
  for (size_t i = 0; i < n; ++i) {
    const size_t at = i * sizeof(SORTORDERSPECEX);
    SORTORDERSPECEX s{};
    s.wVersion = le::Get16(b, at);
    s.wNumProps = le::Get16(b, at + 2);
    s.wKeyFlags = le::Get16(b, at + 4);
    s.wReserved = le::Get16(b, at + 6);
    for (size_t p = 0; p < CEDB_MAXSORTPROP; ++p) {
      s.rgPropID[p] = le::Get32(b, at + 8 + p * 4);
      s.rgdwFlags[p] = le::Get32(b, at + 8 + CEDB_MAXSORTPROP * 4 + p * 4);
    }
    out->push_back(s);
  }
  return true;
}

namespace {

constexpr const char* kDbColumns =
    "SELECT oid, gen, name, type, flags, sorts, nsort, modified, autoinc FROM dbase ";

bool RowFrom(const Query& q, DbRow* out) {
  out->oid = static_cast<CEOID>(q.Int(0));
  out->gen = static_cast<int>(q.Int(1));
  out->name = NameFromBlob(q.BlobView(2));
  out->type = static_cast<DWORD>(q.Int(3));
  out->flags = static_cast<DWORD>(q.Int(4));
  out->modified = static_cast<uint64_t>(q.Int(7));
  out->autoinc = q.Int(8);
  return SortsFromBlob(q.BlobView(5), static_cast<size_t>(std::max<int64_t>(0, q.Int(6))), &out->sorts);
}

}  // namespace

bool LoadDb(Store* s, CEOID oid, int gen, DbRow* out) {
  static const std::string sql = std::string(kDbColumns) + "WHERE oid = ? AND gen = ?";
  Query q(s->Prep(sql.c_str()));
  return q.Bind(1, oid).Bind(2, gen).Step() && RowFrom(q, out);
}

bool FindDbByName(Store* s, std::u16string_view name, int gen, DbRow* out) {
  static const std::string sql = std::string(kDbColumns) + "WHERE gen = ? AND uname = ?";
  Query q(s->Prep(sql.c_str()));
  return q.Bind(1, gen).Bind(2, NameBlob(DeviceUpper(name))).Step() && RowFrom(q, out);
}

std::vector<DefRow> LoadDefs(Store* s, CEOID db) {
  std::vector<DefRow> out;
  Query q(s->Prep("SELECT propid, flags, name FROM propdef WHERE db = ? ORDER BY ord"));
  q.Bind(1, db);
  while (q.Step()) {
    DefRow d;
    d.id = static_cast<CEPROPID>(q.Int(0));
    d.flags = static_cast<DWORD>(q.Int(1));
    d.hasName = !q.IsNull(2);
    d.name = NameFromBlob(q.BlobView(2));
    out.push_back(d);
  }
  return out;
}

void CountRecords(Store* s, CEOID db, DWORD* count, DWORD* bytes) {
  if (s->RecordStats(db, count, bytes)) return;
  *count = 0;
  *bytes = 0;
}

namespace {

constexpr DWORD kAllValid = CEDB_VALIDCREATE | CEDB_VALIDMODTIME;

void CopyName(std::u16string_view name, WCHAR* out, size_t capacity) {
  const size_t n = std::min(name.size(), capacity - 1);
  std::copy_n(name.begin(), n, out);
  out[n] = 0;
}

FILETIME Ft(uint64_t ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

}  // namespace

void FillInfoEx(Store* s, const DbRow& db, CEDBASEINFOEX* out) {
  std::memset(out, 0, sizeof *out);
  out->wVersion = static_cast<WORD>(db.gen);
  out->wNumSortOrder = static_cast<WORD>(db.sorts.size());
  out->dwFlags = kAllValid | db.flags;
  CopyName(db.name, out->szDbaseName, CEDB_EXMAXDBASENAMELEN);
  out->dwDbaseType = db.type;
  CountRecords(s, db.oid, &out->dwNumRecords, &out->dwSize);
  out->ftLastModified = Ft(db.modified);
  for (size_t i = 0; i < db.sorts.size(); ++i) out->rgSortSpecs[i] = db.sorts[i];
}

void FillInfo(Store* s, const DbRow& db, CEDBASEINFO* out) {
  std::memset(out, 0, sizeof *out);
  out->dwFlags = kAllValid | db.flags;
  CopyName(db.name, out->szDbaseName, CEDB_MAXDBASENAMELEN);
  out->dwDbaseType = db.type;
  DWORD count = 0, bytes = 0;
  CountRecords(s, db.oid, &count, &bytes);
  out->wNumRecords = static_cast<WORD>(std::min<DWORD>(count, 0xFFFF));
  out->wNumSortOrder = static_cast<WORD>(std::min<size_t>(db.sorts.size(), CEDB_MAXSORTORDER));
  out->dwSize = bytes;
  out->ftLastModified = Ft(db.modified);
  for (size_t i = 0; i < out->wNumSortOrder; ++i)
    out->rgSortSpecs[i] = SORTORDERSPEC{db.sorts[i].rgPropID[0], db.sorts[i].rgdwFlags[0]};
}

uint64_t NowTicks() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

DWORD EnterHandle(HANDLE h, std::shared_ptr<DbHandle>* out, Store** store) {
  auto obj = GetHandle<DbHandle>(h);
  if (!obj) return ERROR_INVALID_HANDLE;
  // The handle's open made the tables and checked the store.
  Device* dev = Device::Current();
  if (!dev) return ERROR_NOT_READY;
  if (!obj->objectStore && !StillMounted(dev, obj->guid)) return ERROR_INVALID_HANDLE;
  DWORD err = ERROR_SUCCESS;
  *store = OpenStore(obj->host, obj->key, obj->objectStore ? kGenObjectStore : obj->gen, obj->objectStore, false,
                     &err, /*trusted=*/true);
  if (!*store) return err;
  *out = std::move(obj);
  return ERROR_SUCCESS;
}

}  // namespace ce::db
