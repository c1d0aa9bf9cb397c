// Opening databases and their records: open, seek, read, write, delete.
#include <algorithm>
#include <cstring>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/text.h"
#include "database/db_common.h"
#include "database/db_faults.h"
#include "database/db_mounts.h"
#include "database/db_record.h"

namespace ce::db {
namespace {

// Opens a database by OID or name for a call of generation gen.
HANDLE OpenDatabase(int gen, HANDLE hSession, PCEGUID pGuid, PCEOID pOid, LPWSTR lpszName, SORTORDERSPECEX* pSort,
                    DWORD dwFlags) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(DbCall::kOpen)) return INVALID_HANDLE_VALUE;
  if (hSession || pSort) return Fail(ERROR_NOT_SUPPORTED, INVALID_HANDLE_VALUE);
  const CEOID byOid = pOid ? *pOid : 0;
  if (!byOid && !lpszName) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  Device* dev = ApiDevice();
  if (!dev) return INVALID_HANDLE_VALUE;
  Target t;
  DWORD err = ResolveTarget(dev, pGuid, gen, &t);
  if (err != ERROR_SUCCESS) return Fail(err, INVALID_HANDLE_VALUE);

  auto handle = std::make_shared<DbHandle>();
  handle->gen = gen;
  handle->autoIncrement = (dwFlags & CEDB_AUTOINCREMENT) != 0;
  DbRow row;
  bool found = byOid ? LoadDb(t.store, byOid, gen, &row) : FindDbByName(t.store, lpszName, gen, &row);
  if (found) {
    handle->host = t.store->Host();
    handle->key = t.store->Key();
    handle->objectStore = t.objectStore;
    handle->guid = t.guid;
    handle->oidFloor = t.oidFloor;
  } else if (!byOid && t.searchVolumes) {
    for (const Mount& m : ReadMounts(dev)) {
      if (m.edb != (gen == kGenEdb)) continue;
      ResolvedPath r;
      DWORD e = ERROR_SUCCESS;
      if (!dev->Resolve(m.path, &r)) continue;
      Store* s = OpenStore(r.host, m.key, gen, false, false, &e);
      if (!s || !FindDbByName(s, lpszName, gen, &row)) continue;
      found = true;
      handle->host = s->Host();
      handle->key = s->Key();
      handle->objectStore = false;
      handle->guid = m.guid;
      handle->oidFloor = m.floor;
      break;
    }
  }
  if (!found) return Fail(ERROR_NO_MORE_ITEMS, INVALID_HANDLE_VALUE);
  handle->oid = row.oid;
  if (pOid) *pOid = row.oid;
  SetLastError(ERROR_SUCCESS);
  return AddHandle(handle);
}

// The error for a handle whose database found nothing: its database may
// be gone.
DWORD MissError(Store* s, const DbHandle& h) {
  DbRow row;
  return LoadDb(s, h.oid, h.gen, &row) ? ERROR_NO_MORE_ITEMS : ERROR_INVALID_HANDLE;
}

// The position of the first record at or above cursor in order.
int64_t PositionOf(const std::vector<CEOID>& order, uint64_t cursor) {
  if (cursor > 0xFFFFFFFFull) return static_cast<int64_t>(order.size());
  return std::lower_bound(order.begin(), order.end(), static_cast<CEOID>(cursor)) - order.begin();
}

// Puts the read's properties into the caller's buffer, growing it when
// allowed.
bool DeliverBuffer(const std::vector<const PropView*>& props, const std::vector<CEPROPID>& ids, DWORD dwFlags,
                   LPBYTE* lplpBuffer, LPDWORD lpcbBuffer) {
  const size_t need = BufferSize(props);
  if (need > 0xFFFFFFFFu) return Fail(ERROR_OUTOFMEMORY, false);
  const DWORD have = *lplpBuffer ? *lpcbBuffer : 0;
  if (need > have) {
    if (!(dwFlags & CEDB_ALLOWREALLOC)) {
      *lpcbBuffer = static_cast<DWORD>(need);
      return Fail(ERROR_INSUFFICIENT_BUFFER, false);
    }
    HLOCAL grown = *lplpBuffer ? LocalReAlloc(*lplpBuffer, need, LMEM_MOVEABLE) : LocalAlloc(LMEM_FIXED, need);
    if (!grown) return Fail(ERROR_OUTOFMEMORY, false);
    *lplpBuffer = static_cast<LPBYTE>(grown);
    *lpcbBuffer = static_cast<DWORD>(need);
  }
  FillBuffer(props, ids, *lplpBuffer);
  return true;
}

// The properties a write gives, checked against the database: types its
// generation takes and, for EDB, its definitions. Auto-increment values
// are left out (the database gives them); deletions go to *deletes.
DWORD TakeValues(const DbRow& db, const std::vector<DefRow>& defs, WORD count, const CEPROPVAL* vals,
                 std::vector<Prop>* out, std::vector<CEPROPID>* deletes) {
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = vals[i];
    const WORD type = TypeFromPropID(v.propid);
    if (!TypeAllowed(type, db.gen == kGenEdb)) return ERROR_INVALID_PARAMETER;
    if (db.gen == kGenEdb &&
        std::none_of(defs.begin(), defs.end(), [&](const DefRow& d) { return d.id == v.propid; }))
      return ERROR_INVALID_PARAMETER;
    if (v.wFlags & CEDB_PROPDELETE) {
      deletes->push_back(v.propid);
      continue;
    }
    if (IsAutoType(type)) continue;
    Prop p;
    DWORD err = ERROR_SUCCESS;
    if (!FromValue(v, &p, &err)) return err;
    out->push_back(std::move(p));
  }
  return ERROR_SUCCESS;
}

// Replaces properties of the same id in place and appends the others.
void Merge(std::vector<Prop>* record, std::vector<Prop>&& values) {
  for (Prop& v : values) {
    auto it = std::find_if(record->begin(), record->end(), [&](const Prop& p) { return p.id == v.id; });
    if (it != record->end())
      *it = std::move(v);
    else
      record->push_back(std::move(v));
  }
}

// The next auto-increment values of a new record, after its properties.
void AddAutoValues(const std::vector<DefRow>& defs, int64_t value, std::vector<Prop>* record) {
  for (const DefRow& d : defs) {
    const WORD type = TypeFromPropID(d.id);
    if (!IsAutoType(type)) continue;
    Prop p;
    p.id = d.id;
    if (type == CEVT_AUTO_I4)
      le::Put32(&p.value, static_cast<uint32_t>(value));
    else
      le::Put64(&p.value, static_cast<uint64_t>(value));
    record->push_back(std::move(p));
  }
}

}  // namespace
}  // namespace ce::db

using namespace ce::db;

HANDLE CeOpenDatabaseEx2(PCEGUID pGuid, PCEOID pOid, LPWSTR lpszName, SORTORDERSPECEX* pSort, DWORD dwFlags,
                         CENOTIFYREQUEST*) {
  return OpenDatabase(kGenCedb, nullptr, pGuid, pOid, lpszName, pSort, dwFlags);
}

HANDLE CeOpenDatabaseInSession(HANDLE hSession, PCEGUID pGuid, PCEOID pOid, LPWSTR lpszName, SORTORDERSPECEX* pSort,
                               DWORD dwFlags, CENOTIFYREQUEST*) {
  return OpenDatabase(kGenEdb, hSession, pGuid, pOid, lpszName, pSort, dwFlags);
}

CEOID CeSeekDatabaseEx(HANDLE hDatabase, DWORD dwSeekType, DWORD dwValue, WORD, LPDWORD lpdwIndex) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kSeek)) return 0;
  std::shared_ptr<DbHandle> h;
  Store* s = nullptr;
  DWORD err = EnterHandle(hDatabase, &h, &s);
  if (err != ERROR_SUCCESS) return Fail(err, CEOID{0});
  const std::vector<CEOID>* order = s->RecordOrder(h->oid);
  if (!order) return Fail(s->LastError(), CEOID{0});
  const int64_t size = static_cast<int64_t>(order->size());
  int64_t at = -1;
  switch (dwSeekType) {
    case CEDB_SEEK_BEGINNING:
      at = dwValue;
      break;
    case CEDB_SEEK_CURRENT:
      at = PositionOf(*order, h->cursor) + static_cast<LONG>(dwValue);
      break;
    case CEDB_SEEK_END:
      at = size - 1 - static_cast<int64_t>(dwValue);
      break;
    case CEDB_SEEK_CEOID: {
      auto it = std::lower_bound(order->begin(), order->end(), dwValue);
      at = it != order->end() && *it == dwValue ? it - order->begin() : -1;
      break;
    }
    case CEDB_SEEK_VALUESMALLER:
    case CEDB_SEEK_VALUEFIRSTEQUAL:
    case CEDB_SEEK_VALUEGREATER:
    case CEDB_SEEK_VALUENEXTEQUAL:
    case CEDB_SEEK_VALUESMALLEROREQUAL:
    case CEDB_SEEK_VALUEGREATEROREQUAL:
      return Fail(ERROR_NOT_SUPPORTED, CEOID{0});
    default:
      return Fail(ERROR_INVALID_PARAMETER, CEOID{0});
  }
  const CEOID reached = at >= 0 && at < size ? (*order)[static_cast<size_t>(at)] : 0;
  if (!reached) return Fail(MissError(s, *h), CEOID{0});
  h->cursor = reached;
  if (lpdwIndex) *lpdwIndex = static_cast<DWORD>(at);
  SetLastError(ERROR_SUCCESS);
  return reached;
}

CEOID CeReadRecordPropsEx(HANDLE hDatabase, DWORD dwFlags, LPWORD lpcPropID, CEPROPID* rgPropID, LPBYTE* lplpBuffer,
                          LPDWORD lpcbBuffer, HANDLE hHeap) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kRead)) return 0;
  if (!lpcPropID || !lplpBuffer || !lpcbBuffer || hHeap || (rgPropID && *lpcPropID == 0))
    return Fail(ERROR_INVALID_PARAMETER, CEOID{0});
  std::shared_ptr<DbHandle> h;
  Store* s = nullptr;
  DWORD err = EnterHandle(hDatabase, &h, &s);
  if (err != ERROR_SUCCESS) return Fail(err, CEOID{0});
  const std::vector<CEOID>* order = s->RecordOrder(h->oid);
  if (!order) return Fail(s->LastError(), CEOID{0});
  const size_t at = static_cast<size_t>(PositionOf(*order, h->cursor));
  if (at >= order->size()) return Fail(MissError(s, *h), CEOID{0});
  const CEOID rec = (*order)[at];
  const std::string* data = s->RecordData(h->oid, rec, &err);
  if (!data) return Fail(err != ERROR_SUCCESS ? err : MissError(s, *h), CEOID{0});
  std::vector<PropView> props;
  if (!DecodeViews(*data, &props)) return Fail(ERROR_FILE_CORRUPT, CEOID{0});
  std::vector<const PropView*> chosen;
  std::vector<CEPROPID> ids;
  if (rgPropID) {
    ids.assign(rgPropID, rgPropID + *lpcPropID);
    for (CEPROPID id : ids) {
      auto it = std::find_if(props.begin(), props.end(), [&](const PropView& p) { return p.id == id; });
      chosen.push_back(it == props.end() ? nullptr : &*it);
    }
  } else {
    chosen.reserve(props.size());
    for (const PropView& p : props) chosen.push_back(&p);
  }
  if (!chosen.empty() && !DeliverBuffer(chosen, ids, dwFlags, lplpBuffer, lpcbBuffer)) return 0;
  *lpcPropID = static_cast<WORD>(chosen.size());
  h->cursor = h->autoIncrement ? static_cast<uint64_t>(rec) + 1 : rec;
  SetLastError(ERROR_SUCCESS);
  return rec;
}

CEOID CeWriteRecordProps(HANDLE hDatabase, CEOID oidRecord, WORD cPropID, CEPROPVAL* rgPropVal) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kWrite)) return 0;
  if (cPropID && !rgPropVal) return Fail(ERROR_INVALID_PARAMETER, CEOID{0});
  std::shared_ptr<DbHandle> h;
  Store* s = nullptr;
  DWORD err = EnterHandle(hDatabase, &h, &s);
  if (err != ERROR_SUCCESS) return Fail(err, CEOID{0});
  ce::Device* dev = ce::Device::Current();
  if (!dev) return Fail(ERROR_NOT_READY, CEOID{0});
  CEOID written = oidRecord;
  bool ok = WriteTransaction(s, ce::DbCall::kWrite, [&]() -> DWORD {
    DbRow db;
    if (!LoadDb(s, h->oid, h->gen, &db)) return ERROR_INVALID_HANDLE;
    const std::vector<DefRow> defs = db.gen == kGenEdb ? LoadDefs(s, db.oid) : std::vector<DefRow>{};
    std::vector<Prop> values;
    std::vector<CEPROPID> deletes;
    DWORD e = TakeValues(db, defs, cPropID, rgPropVal, &values, &deletes);
    if (e != ERROR_SUCCESS) return e;
    std::vector<Prop> record;
    if (oidRecord) {
      Query q(s->Prep("SELECT data FROM record WHERE oid = ? AND db = ?"));
      if (!q.Bind(1, oidRecord).Bind(2, db.oid).Step()) return ERROR_INVALID_PARAMETER;
      if (!Decode(q.BlobView(0), &record)) return ERROR_FILE_CORRUPT;
      std::erase_if(record, [&](const Prop& p) {
        return std::find(deletes.begin(), deletes.end(), p.id) != deletes.end();
      });
    } else {
      e = s->NewOid(dev, h->oidFloor, &written);
      if (e != ERROR_SUCCESS) return e;
    }
    Merge(&record, std::move(values));
    if (!oidRecord && std::any_of(defs.begin(), defs.end(), [](const DefRow& d) {
          return IsAutoType(TypeFromPropID(d.id));
        })) {
      AddAutoValues(defs, ++db.autoinc, &record);
      Query a(s->Prep("UPDATE dbase SET autoinc = ? WHERE oid = ?"));
      if (!a.Bind(1, db.autoinc).Bind(2, db.oid).Run()) return s->LastError();
    }
    if (record.size() > 0xFFFF) return ERROR_INVALID_PARAMETER;
    Query w(s->Prep(oidRecord ? "UPDATE record SET data = ?1 WHERE oid = ?2"
                              : "INSERT INTO record(data, oid, db) VALUES(?1, ?2, ?3)"));
    w.Bind(1, Encode(record)).Bind(2, written);
    if (!oidRecord) w.Bind(3, db.oid);
    if (!w.Run()) return s->LastError();
    Query m(s->Prep("UPDATE dbase SET modified = ? WHERE oid = ?"));
    if (!m.Bind(1, static_cast<int64_t>(NowTicks())).Bind(2, db.oid).Run()) return s->LastError();
    return ERROR_SUCCESS;
  });
  if (!ok) return 0;
  SetLastError(ERROR_SUCCESS);
  return written;
}

BOOL CeDeleteRecord(HANDLE hDatabase, CEOID oidRecord) {
  std::lock_guard<std::recursive_mutex> lock(ApiLock());
  if (Faulted(ce::DbCall::kDeleteRecord)) return FALSE;
  std::shared_ptr<DbHandle> h;
  Store* s = nullptr;
  DWORD err = EnterHandle(hDatabase, &h, &s);
  if (err != ERROR_SUCCESS) return Fail(err, FALSE);
  bool ok = WriteTransaction(s, ce::DbCall::kDeleteRecord, [&]() -> DWORD {
    DbRow db;
    if (!LoadDb(s, h->oid, h->gen, &db)) return ERROR_INVALID_HANDLE;
    Query d(s->Prep("DELETE FROM record WHERE oid = ? AND db = ?"));
    if (!d.Bind(1, oidRecord).Bind(2, db.oid).Run()) return s->LastError();
    if (sqlite3_changes(s->Db()) == 0) return ERROR_INVALID_PARAMETER;
    Query m(s->Prep("UPDATE dbase SET modified = ? WHERE oid = ?"));
    if (!m.Bind(1, static_cast<int64_t>(NowTicks())).Bind(2, db.oid).Run()) return s->LastError();
    return ERROR_SUCCESS;
  });
  if (!ok) return FALSE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
