// Databases as a whole: create, find, information, set information,
// delete, EDB property definitions.
#include <algorithm>
#include <cstring>
#include <set>

#include "ce/errors.h"
#include "ce/text.h"
#include "database/db_common.h"
#include "database/db_faults.h"
#include "database/db_mounts.h"
#include "database/db_record.h"

namespace ce::db {
namespace {

// A name from a fixed buffer: its characters up to the NUL, which must
// come within capacity; false for an empty or unterminated name.
bool NameFrom(const WCHAR* buffer, size_t capacity, std::u16string* out) {
  size_t n = 0;
  while (n < capacity && buffer[n]) ++n;
  if (n == 0 || n == capacity) return false;
  out->assign(buffer, n);
  return true;
}

// What a create or a set-information call gives.
struct NewInfo {
  DWORD valid = 0;
  std::u16string name;
  DWORD type = 0;
  DWORD flags = 0;
  std::vector<SORTORDERSPECEX> sorts;
  uint64_t modified = 0;
};

bool FromOlderForm(const CEDBASEINFO& in, NewInfo* out) {
  out->valid = in.dwFlags & CEDB_VALIDMASK;
  out->flags = in.dwFlags & ~CEDB_VALIDMASK;
  out->type = in.dwDbaseType;
  out->modified = (static_cast<uint64_t>(in.ftLastModified.dwHighDateTime) << 32) | in.ftLastModified.dwLowDateTime;
  if ((out->valid & CEDB_VALIDNAME) && !NameFrom(in.szDbaseName, CEDB_MAXDBASENAMELEN, &out->name)) return false;
  if (out->valid & CEDB_VALIDSORTSPEC) {
    if (in.wNumSortOrder > CEDB_MAXSORTORDER) return false;
    for (WORD i = 0; i < in.wNumSortOrder; ++i) {
      SORTORDERSPECEX s{};
      s.wNumProps = 1;
      s.rgPropID[0] = in.rgSortSpecs[i].propid;
      s.rgdwFlags[0] = in.rgSortSpecs[i].dwFlags;
      out->sorts.push_back(s);
    }
  }
  return true;
}

bool FromExtendedForm(const CEDBASEINFOEX& in, NewInfo* out) {
  out->valid = in.dwFlags & CEDB_VALIDMASK;
  out->flags = in.dwFlags & ~CEDB_VALIDMASK;
  out->type = in.dwDbaseType;
  out->modified = (static_cast<uint64_t>(in.ftLastModified.dwHighDateTime) << 32) | in.ftLastModified.dwLowDateTime;
  if ((out->valid & CEDB_VALIDNAME) && !NameFrom(in.szDbaseName, CEDB_EXMAXDBASENAMELEN, &out->name)) return false;
  if (out->valid & CEDB_VALIDSORTSPEC) {
    if (in.wNumSortOrder > CEDB_EXMAXSORTORDER) return false;
    for (WORD i = 0; i < in.wNumSortOrder; ++i) {
      if (in.rgSortSpecs[i].wNumProps > CEDB_MAXSORTPROP) return false;
      out->sorts.push_back(in.rgSortSpecs[i]);
    }
  }
  return true;
}

// Checks EDB definitions: the version, an EDB type, a name that fits, and
// (within one call) distinct ids.
DWORD CheckDefs(const CEPROPSPEC* defs, size_t n, std::vector<DefRow>* out) {
  std::set<CEPROPID> seen;
  for (size_t i = 0; i < n; ++i) {
    const CEPROPSPEC& d = defs[i];
    if (d.wVersion != CEPROPSPEC_VERSION || !TypeAllowed(TypeFromPropID(d.propid), true) ||
        !seen.insert(d.propid).second)
      return ERROR_INVALID_PARAMETER;
    DefRow r;
    r.id = d.propid;
    r.flags = d.dwFlags;
    if (d.pwszPropName) {
      r.hasName = true;
      r.name = d.pwszPropName;
      if (r.name.size() > CEDB_MAXPROPNAMELEN) return ERROR_INVALID_PARAMETER;
    }
    out->push_back(std::move(r));
  }
  return ERROR_SUCCESS;
}

bool SameDef(const DefRow& a, const DefRow& b) {
  return a.id == b.id && a.flags == b.flags && a.name == b.name;
}

DWORD InsertDefs(Store* s, CEOID db, const std::vector<DefRow>& defs) {
  for (const DefRow& d : defs) {
    Query q(s->Prep(
        "INSERT INTO propdef(db, propid, flags, name, ord)"
        " VALUES(?1, ?2, ?3, ?4, (SELECT coalesce(max(ord), 0) + 1 FROM propdef WHERE db = ?1))"));
    q.Bind(1, db).Bind(2, d.id).Bind(3, d.flags);
    if (d.hasName)
      q.Bind(4, NameBlob(d.name));
    else
      q.BindNull(4);
    if (!q.Run()) return s->LastError();
  }
  return ERROR_SUCCESS;
}

bool NameTaken(Store* s, const std::u16string& name, int gen, CEOID except) {
  DbRow other;
  return FindDbByName(s, name, gen, &other) && other.oid != except;
}

CEOID CreateDatabase(int gen, PCEGUID pGuid, const NewInfo& info, const std::vector<DefRow>& defs) {
  if (!(info.valid & CEDB_VALIDNAME)) return Fail(ERROR_INVALID_PARAMETER, CEOID{0});
  Device* dev = ApiDevice();
  if (!dev) return 0;
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, gen, &t);
  if (err != ERROR_SUCCESS) return Fail(err, CEOID{0});
  Store* s = t.store;
  CEOID oid = 0;
  bool ok = WriteTransaction(s, DbCall::kCreate, [&]() -> DWORD {
    if (NameTaken(s, info.name, gen, 0)) return ERROR_ALREADY_EXISTS;
    DWORD e = s->NewOid(dev, t.oidFloor, &oid);
    if (e != ERROR_SUCCESS) return e;
    Query q(s->Prep(
        "INSERT INTO dbase(oid, gen, name, uname, type, flags, sorts, nsort, modified, autoinc)"
        " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, 0)"));
    q.Bind(1, oid)
        .Bind(2, gen)
        .Bind(3, NameBlob(info.name))
        .Bind(4, NameBlob(DeviceUpper(info.name)))
        .Bind(5, (info.valid & CEDB_VALIDTYPE) ? info.type : 0)
        .Bind(6, (info.valid & CEDB_VALIDDBFLAGS) ? info.flags : 0)
        .Bind(7, SortsBlob(info.sorts))
        .Bind(8, static_cast<int64_t>(info.sorts.size()))
        .Bind(9, static_cast<int64_t>((info.valid & CEDB_VALIDMODTIME) ? info.modified : NowTicks()));
    if (!q.Run()) return s->LastError();
    return InsertDefs(s, oid, defs);
  });
  if (!ok) return 0;
  SetLastError(ERROR_SUCCESS);
  return oid;
}

BOOL SetInformation(int gen, PCEGUID pGuid, CEOID oid, const NewInfo& info) {
  Device* dev = ApiDevice();
  if (!dev) return FALSE;
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, gen, &t);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  Store* s = t.store;
  bool ok = WriteTransaction(s, DbCall::kSetInfo, [&]() -> DWORD {
    DbRow db;
    if (!LoadDb(s, oid, gen, &db)) return ERROR_INVALID_PARAMETER;
    if (info.valid & CEDB_VALIDNAME) {
      if (NameTaken(s, info.name, gen, oid)) return ERROR_ALREADY_EXISTS;
      db.name = info.name;
    }
    if (info.valid & CEDB_VALIDTYPE) db.type = info.type;
    if (info.valid & CEDB_VALIDDBFLAGS) db.flags = info.flags;
    if (info.valid & CEDB_VALIDSORTSPEC) db.sorts = info.sorts;
    db.modified = (info.valid & CEDB_VALIDMODTIME) ? info.modified : NowTicks();
    Query q(s->Prep(
        "UPDATE dbase SET name = ?, uname = ?, type = ?, flags = ?, sorts = ?, nsort = ?, modified = ? WHERE oid = ?"));
    q.Bind(1, NameBlob(db.name))
        .Bind(2, NameBlob(DeviceUpper(db.name)))
        .Bind(3, db.type)
        .Bind(4, db.flags)
        .Bind(5, SortsBlob(db.sorts))
        .Bind(6, static_cast<int64_t>(db.sorts.size()))
        .Bind(7, static_cast<int64_t>(db.modified))
        .Bind(8, oid);
    return q.Run() ? ERROR_SUCCESS : s->LastError();
  });
  if (!ok) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL DeleteDatabase(int gen, PCEGUID pGuid, CEOID oid) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(DbCall::kDeleteDatabase)) return FALSE;
  Device* dev = ApiDevice();
  if (!dev) return FALSE;
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, gen, &t);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  Store* s = t.store;
  bool ok = WriteTransaction(s, DbCall::kDeleteDatabase, [&]() -> DWORD {
    DbRow db;
    if (!LoadDb(s, oid, gen, &db)) return ERROR_INVALID_PARAMETER;
    Query r(s->Prep("DELETE FROM record WHERE db = ?"));
    Query p(s->Prep("DELETE FROM propdef WHERE db = ?"));
    Query d(s->Prep("DELETE FROM dbase WHERE oid = ?"));
    if (!r.Bind(1, oid).Run() || !p.Bind(1, oid).Run() || !d.Bind(1, oid).Run()) return s->LastError();
    return ERROR_SUCCESS;
  });
  if (!ok) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// A snapshot of one store's databases.
class FindHandle : public HandleObject {
 public:
  std::vector<CEOID> oids;
  size_t next = 0;
  CEGUID guid{};
};

HANDLE FindFirst(int gen, PCEGUID pGuid, DWORD type) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(DbCall::kFindFirst)) return INVALID_HANDLE_VALUE;
  Device* dev = ApiDevice();
  if (!dev) return INVALID_HANDLE_VALUE;
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, gen, &t);
  if (err != ERROR_SUCCESS) return Fail(err, INVALID_HANDLE_VALUE);
  auto f = std::make_shared<FindHandle>();
  f->guid = t.guid;
  Query q(t.store->Prep("SELECT oid FROM dbase WHERE gen = ?1 AND (?2 = 0 OR type = ?2) ORDER BY oid"));
  q.Bind(1, gen).Bind(2, type);
  while (q.Step()) f->oids.push_back(static_cast<CEOID>(q.Int(0)));
  if (q.rc() != SQLITE_DONE) return Fail(t.store->LastError(), INVALID_HANDLE_VALUE);
  SetLastError(ERROR_SUCCESS);
  return AddHandle(f);
}

// Looks an OID up in one store: a database of generation gen, or a record
// of one.
DWORD FindObject(int gen, PCEGUID pGuid, CEOID oid, Store** store, DbRow* db, bool* isRecord) {
  Device* dev = ApiDevice();
  if (!dev) return GetLastError();
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, gen, &t);
  if (err != ERROR_SUCCESS) return err;
  *store = t.store;
  if (!oid) return ERROR_INVALID_PARAMETER;
  if (LoadDb(t.store, oid, gen, db)) {
    *isRecord = false;
    return ERROR_SUCCESS;
  }
  Query q(t.store->Prep("SELECT db FROM record WHERE oid = ?"));
  if (q.Bind(1, oid).Step() && LoadDb(t.store, static_cast<CEOID>(q.Int(0)), gen, db)) {
    *isRecord = true;
    return ERROR_SUCCESS;
  }
  return ERROR_INVALID_PARAMETER;
}

}  // namespace
}  // namespace ce::db

using namespace ce::db;

CEOID CeCreateDatabaseEx(PCEGUID pGuid, CEDBASEINFO* pInfo) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kCreate)) return 0;
  NewInfo info;
  if (!pInfo || !FromOlderForm(*pInfo, &info)) return Fail(ERROR_INVALID_PARAMETER, CEOID{0});
  return CreateDatabase(kGenCedb, pGuid, info, {});
}

CEOID CeCreateDatabaseWithProps(PCEGUID pGuid, CEDBASEINFOEX* pInfo, DWORD cPropDef, CEPROPSPEC* rgPropDef) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kCreate)) return 0;
  NewInfo info;
  std::vector<DefRow> defs;
  if (!pInfo || !FromExtendedForm(*pInfo, &info) || (cPropDef && !rgPropDef) || cPropDef > 0xFFFF ||
      CheckDefs(rgPropDef, cPropDef, &defs) != ERROR_SUCCESS)
    return Fail(ERROR_INVALID_PARAMETER, CEOID{0});
  return CreateDatabase(kGenEdb, pGuid, info, defs);
}

HANDLE CeFindFirstDatabaseEx(PCEGUID pGuid, DWORD dwDbaseType) { return FindFirst(kGenCedb, pGuid, dwDbaseType); }

HANDLE CeFindFirstDatabaseEx2(PCEGUID pGuid, DWORD dwDbaseType) { return FindFirst(kGenEdb, pGuid, dwDbaseType); }

CEOID CeFindNextDatabaseEx(HANDLE hEnum, PCEGUID pGuid) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kFindNext)) return 0;
  auto f = ce::GetHandle<FindHandle>(hEnum);
  if (!f) return 0;
  if (f->next >= f->oids.size()) return Fail(ERROR_NO_MORE_ITEMS, CEOID{0});
  if (pGuid) *pGuid = f->guid;
  SetLastError(ERROR_SUCCESS);
  return f->oids[f->next++];
}

BOOL CeOidGetInfoEx(PCEGUID pGuid, CEOID oid, CEOIDINFO* pInfo) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kOidInfo)) return FALSE;
  if (!pInfo) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Store* s = nullptr;
  DbRow db;
  bool isRecord = false;
  DWORD err = FindObject(kGenCedb, pGuid, oid, &s, &db, &isRecord);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  std::memset(pInfo, 0, sizeof *pInfo);
  if (isRecord) {
    pInfo->wObjType = OBJTYPE_RECORD;
    pInfo->infRecord.oidParent = db.oid;
  } else {
    pInfo->wObjType = OBJTYPE_DATABASE;
    FillInfo(s, db, &pInfo->infDatabase);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeOidGetInfoEx2(PCEGUID pGuid, CEOID oid, CEOIDINFOEX* pInfo) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kOidInfo)) return FALSE;
  if (!pInfo || pInfo->wVersion != CEOIDINFOEX_VERSION) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Store* s = nullptr;
  DbRow db;
  bool isRecord = false;
  DWORD err = FindObject(kGenEdb, pGuid, oid, &s, &db, &isRecord);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  std::memset(pInfo, 0, sizeof *pInfo);
  pInfo->wVersion = CEOIDINFOEX_VERSION;
  if (isRecord) {
    pInfo->wObjType = OBJTYPE_RECORD;
    pInfo->infRecord.oidParent = db.oid;
  } else {
    pInfo->wObjType = OBJTYPE_DATABASE;
    FillInfoEx(s, db, &pInfo->infDatabase);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeGetDBInformationByHandle(HANDLE hDatabase, BY_HANDLE_DB_INFORMATION* pInfo) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kHandleInfo)) return FALSE;
  if (!pInfo) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::shared_ptr<DbHandle> h;
  Store* s = nullptr;
  DWORD err = EnterHandle(hDatabase, &h, &s);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  DbRow db;
  if (s->Begin(false) != ERROR_SUCCESS) return Fail(s->LastError(), FALSE);
  const bool found = LoadDb(s, h->oid, h->gen, &db);
  if (found) FillInfoEx(s, db, &pInfo->infDatabase);
  s->Commit();  // a read: nothing to keep
  if (!found) return Fail(ERROR_INVALID_HANDLE, FALSE);
  pInfo->wVersion = static_cast<WORD>(h->gen == kGenEdb ? BY_HANDLE_DB_INFORMATION_VERSION_EDB
                                                        : BY_HANDLE_DB_INFORMATION_VERSION_CEDB);
  pInfo->wReserved = 0;
  pInfo->guidVol = h->guid;
  pInfo->oidDbase = h->oid;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeSetDatabaseInfoEx(PCEGUID pGuid, CEOID oidDbase, CEDBASEINFO* pNewInfo) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kSetInfo)) return FALSE;
  NewInfo info;
  if (!pNewInfo || !FromOlderForm(*pNewInfo, &info)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return SetInformation(kGenCedb, pGuid, oidDbase, info);
}

BOOL CeSetDatabaseInfoEx2(PCEGUID pGuid, CEOID oidDbase, CEDBASEINFOEX* pNewInfo) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kSetInfo)) return FALSE;
  NewInfo info;
  if (!pNewInfo || !FromExtendedForm(*pNewInfo, &info)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return SetInformation(kGenEdb, pGuid, oidDbase, info);
}

BOOL CeDeleteDatabaseEx(PCEGUID pGuid, CEOID oidDbase) { return DeleteDatabase(kGenCedb, pGuid, oidDbase); }

BOOL CeDeleteDatabaseEx2(PCEGUID pGuid, CEOID oidDbase) { return DeleteDatabase(kGenEdb, pGuid, oidDbase); }

BOOL CeGetDatabaseProps(HANDLE hDatabase, WORD* pcPropID, CEPROPID* rgPropID, CEPROPSPEC* prgProps) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kGetProps)) return FALSE;
  if (!pcPropID || (rgPropID && !prgProps)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::shared_ptr<DbHandle> h;
  Store* s = nullptr;
  DWORD err = EnterHandle(hDatabase, &h, &s);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  DbRow db;
  if (!LoadDb(s, h->oid, h->gen, &db)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (db.gen != kGenEdb) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::vector<DefRow> all = LoadDefs(s, db.oid);
  std::vector<const DefRow*> chosen;
  if (rgPropID) {
    for (WORD i = 0; i < *pcPropID; ++i) {
      auto it = std::find_if(all.begin(), all.end(), [&](const DefRow& d) { return d.id == rgPropID[i]; });
      if (it == all.end()) return Fail(ERROR_NOT_FOUND, FALSE);
      chosen.push_back(&*it);
    }
  } else {
    for (const DefRow& d : all) chosen.push_back(&d);
    if (!prgProps) {
      *pcPropID = static_cast<WORD>(chosen.size());
      SetLastError(ERROR_SUCCESS);
      return TRUE;
    }
    if (*pcPropID < chosen.size()) {
      *pcPropID = static_cast<WORD>(chosen.size());
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
  }
  for (size_t i = 0; i < chosen.size(); ++i) {
    CEPROPSPEC& out = prgProps[i];
    if (out.pwszPropName && chosen[i]->name.size() + 1 > out.cchPropName)
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  for (size_t i = 0; i < chosen.size(); ++i) {
    CEPROPSPEC& out = prgProps[i];
    out.wVersion = CEPROPSPEC_VERSION;
    out.propid = chosen[i]->id;
    out.dwFlags = chosen[i]->flags;
    if (out.pwszPropName) {
      std::copy(chosen[i]->name.begin(), chosen[i]->name.end(), out.pwszPropName);
      out.pwszPropName[chosen[i]->name.size()] = 0;
    }
  }
  *pcPropID = static_cast<WORD>(chosen.size());
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeAddDatabaseProps(PCEGUID pGuid, CEOID oidDbase, CEPROPSPEC* rgProps, WORD cProps) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kAddProps)) return FALSE;
  std::vector<DefRow> defs;
  if ((cProps && !rgProps) || CheckDefs(rgProps, cProps, &defs) != ERROR_SUCCESS)
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ce::Device* dev = ApiDevice();
  if (!dev) return FALSE;
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, kGenEdb, &t);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  Store* s = t.store;
  bool ok = WriteTransaction(s, ce::DbCall::kAddProps, [&]() -> DWORD {
    DbRow db;
    if (!LoadDb(s, oidDbase, kGenEdb, &db)) return ERROR_INVALID_PARAMETER;
    const std::vector<DefRow> have = LoadDefs(s, db.oid);
    std::vector<DefRow> fresh;
    for (const DefRow& d : defs) {
      auto it = std::find_if(have.begin(), have.end(), [&](const DefRow& o) { return o.id == d.id; });
      if (it == have.end())
        fresh.push_back(d);
      else if (!SameDef(*it, d))
        return ERROR_ALREADY_EXISTS;
    }
    return InsertDefs(s, db.oid, fresh);
  });
  if (!ok) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CeRemoveDatabaseProps(PCEGUID pGuid, CEOID oidDbase, WORD cPropID, CEPROPID* rgPropID) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kRemoveProps)) return FALSE;
  if (cPropID && !rgPropID) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ce::Device* dev = ApiDevice();
  if (!dev) return FALSE;
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, kGenEdb, &t);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  Store* s = t.store;
  const std::set<CEPROPID> gone(rgPropID, rgPropID + cPropID);
  bool ok = WriteTransaction(s, ce::DbCall::kRemoveProps, [&]() -> DWORD {
    DbRow db;
    if (!LoadDb(s, oidDbase, kGenEdb, &db)) return ERROR_INVALID_PARAMETER;
    const std::vector<DefRow> have = LoadDefs(s, db.oid);
    for (CEPROPID id : gone)
      if (std::none_of(have.begin(), have.end(), [&](const DefRow& d) { return d.id == id; }))
        return ERROR_NOT_FOUND;
    for (CEPROPID id : gone) {
      Query d(s->Prep("DELETE FROM propdef WHERE db = ? AND propid = ?"));
      if (!d.Bind(1, db.oid).Bind(2, id).Run()) return s->LastError();
    }
    // The records lose those properties. A malformed record stays as it
    // is: its reads fail either way.
    std::vector<std::pair<CEOID, std::string>> changed;
    {
      Query q(s->Prep("SELECT oid, data FROM record WHERE db = ? ORDER BY oid"));
      q.Bind(1, db.oid);
      std::vector<Prop> props;
      while (q.Step()) {
        if (!Decode(q.BlobView(1), &props)) continue;
        const size_t before = props.size();
        std::erase_if(props, [&](const Prop& p) { return gone.count(p.id) != 0; });
        if (props.size() != before) changed.emplace_back(static_cast<CEOID>(q.Int(0)), Encode(props));
      }
      if (q.rc() != SQLITE_DONE) return s->LastError();
    }
    for (const auto& [oid, data] : changed) {
      Query u(s->Prep("UPDATE record SET data = ? WHERE oid = ?"));
      if (!u.Bind(1, data).Bind(2, oid).Run()) return s->LastError();
    }
    return ERROR_SUCCESS;
  });
  if (!ok) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
