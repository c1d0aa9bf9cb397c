// The property database layer over both generations of the device's calls.
#include "engine/CeDatabase.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "ce/errors.h"
#include "ce/system.h"
#include "ce/text.h"
#include "core/Log.h"

namespace {

const WCHAR kClass[] = u"CeDatabase";
constexpr DWORD kVolumeNameChars = 260;  // the volume walk's name buffer
// Room kept ahead for a snapshot; larger databases grow the array.
constexpr size_t kSnapshotReserve = 1u << 16;

CeDatabase::ErrorCallback& ErrorCallbackSlot() {
  static CeDatabase::ErrorCallback callback;
  return callback;
}

bool IsZeroGuid(const CEGUID& guid) { return CeGuidEqual(guid, ZERO_CEGUID); }

// The extended information's layout is the information record's from
// offset 4 on.
static_assert(sizeof(CEDBASEINFOEX) + 4 == sizeof(DatabaseInfoRecord));
static_assert(offsetof(CEDBASEINFOEX, szDbaseName) + 4 == offsetof(DatabaseInfoRecord, name));
static_assert(offsetof(CEDBASEINFOEX, dwNumRecords) + 4 == offsetof(DatabaseInfoRecord, numRecords));
static_assert(offsetof(CEDBASEINFOEX, rgSortSpecs) + 4 == offsetof(DatabaseInfoRecord, sortOrders));
static_assert(sizeof(CEOIDINFOEX) == sizeof(DatabaseInfoRecord));

void FromHandleInformation(const BY_HANDLE_DB_INFORMATION& in, DatabaseInfoRecord& out) {
  std::memset(&out, 0, sizeof out);
  out.version = in.wVersion;
  out.objectType = OBJTYPE_DATABASE;
  std::memcpy(&out.infoVersion, &in.infDatabase, sizeof in.infDatabase);
}

// CEDB's older database information, field by field; a sort order holds
// the one property its older form has.
void FromOlderDatabaseInfo(const CEDBASEINFO& in, DatabaseInfoRecord& out) {
  out.infoVersion = kDatabaseInfoVersionCedb;
  out.numSortOrders = std::min<WORD>(in.wNumSortOrder, CEDB_MAXSORTORDER);
  out.flags = in.dwFlags;
  for (size_t i = 0; i < CEDB_MAXDBASENAMELEN && in.szDbaseName[i]; ++i) out.name[i] = in.szDbaseName[i];
  out.type = in.dwDbaseType;
  out.numRecords = in.wNumRecords;
  out.size = in.dwSize;
  out.lastModified = in.ftLastModified;
  for (WORD i = 0; i < out.numSortOrders; ++i) {
    out.sortOrders[i].numProperties = 1;
    out.sortOrders[i].propertyIds[0] = in.rgSortSpecs[i].propid;
    out.sortOrders[i].propertyFlags[0] = in.rgSortSpecs[i].dwFlags;
  }
}

void FromOlderObjectInfo(const CEOIDINFO& in, DatabaseInfoRecord& out) {
  std::memset(&out, 0, sizeof out);
  out.version = BY_HANDLE_DB_INFORMATION_VERSION_CEDB;
  out.objectType = in.wObjType;
  BYTE* body = reinterpret_cast<BYTE*>(&out) + offsetof(DatabaseInfoRecord, infoVersion);
  switch (in.wObjType) {
    case OBJTYPE_FILE: std::memcpy(body, &in.infFile, sizeof in.infFile); break;
    case OBJTYPE_DIRECTORY: std::memcpy(body, &in.infDirectory, sizeof in.infDirectory); break;
    case OBJTYPE_DATABASE: FromOlderDatabaseInfo(in.infDatabase, out); break;
    case OBJTYPE_RECORD: std::memcpy(body, &in.infRecord.oidParent, sizeof in.infRecord.oidParent); break;
    default: break;
  }
}

}  // namespace

bool CeDatabaseCompareBase::Accept(CEOID) { return true; }

namespace CeDatabase {

CEGUID ObjectStoreGuid(bool edb) { return edb ? EDB_SYSTEMGUID : CEDB_SYSTEMGUID; }

CString InfoName(const DatabaseInfoRecord& info) {
  size_t n = 0;
  while (n < std::size(info.name) && info.name[n]) ++n;
  return CString(info.name, static_cast<int>(n));
}

void ReportError(DWORD code, const CString& text) {
  Log(0, u"ERROR CeDatabase :-", kClass, __LINE__);
  Log(code, text, kClass, __LINE__);
  if (ErrorCallbackSlot()) ErrorCallbackSlot()(code, text);
}

void SetErrorCallback(ErrorCallback callback) { ErrorCallbackSlot() = std::move(callback); }

HANDLE OpenDatabase(const CEGUID* volume, const CString& name, bool edb, DWORD notifyFlags) {
  CEGUID guid = volume ? *volume : ObjectStoreGuid(edb);
  CEOID oid = 0;
  std::u16string text = name.str();
  // Change notifications are asked for as given; the device takes and
  // ignores them.
  CENOTIFYREQUEST request{sizeof(CENOTIFYREQUEST), nullptr, notifyFlags, nullptr, 0};
  CENOTIFYREQUEST* notify = notifyFlags ? &request : nullptr;
  if (edb)
    return CeOpenDatabaseInSession(nullptr, &guid, &oid, text.data(), nullptr, CEDB_AUTOINCREMENT, notify);
  return CeOpenDatabaseEx2(&guid, &oid, text.data(), nullptr, CEDB_AUTOINCREMENT, notify);
}

bool CloseDatabase(HANDLE database) {
  if (database == INVALID_HANDLE_VALUE || database == nullptr) return false;
  return CloseHandle(database) != FALSE;
}

bool DatabaseExists(const CEGUID* volume, const CString& name) {
  for (bool edb : {false, true}) {
    HANDLE h = OpenDatabase(volume, name, edb);
    if (h != INVALID_HANDLE_VALUE) {
      CloseDatabase(h);
      return true;
    }
  }
  return false;
}

HANDLE OpenDatabaseWithInfo(const CEGUID* volume, const CString& name, bool edb, DatabaseInfoRecord& info,
                            DatabaseLocation* location) {
  HANDLE h = OpenDatabase(volume, name, edb);
  if (h == INVALID_HANDLE_VALUE) return h;
  BY_HANDLE_DB_INFORMATION byHandle{};
  if (!CeGetDBInformationByHandle(h, &byHandle)) {
    DWORD error = GetLastError();
    CloseDatabase(h);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  FromHandleInformation(byHandle, info);
  if (location) {
    location->volume = byHandle.guidVol;
    location->oid = byHandle.oidDbase;
  }
  return h;
}

bool GetOidInfo(const CEGUID& volume, CEOID oid, bool edb, DatabaseInfoRecord& info) {
  CEGUID guid = volume;
  if (edb) {
    CEOIDINFOEX ex{};
    ex.wVersion = CEOIDINFOEX_VERSION;
    if (!CeOidGetInfoEx2(&guid, oid, &ex)) {
      DWORD error = GetLastError();
      if (error != ERROR_INVALID_PARAMETER) ReportError(error, u"GetOidInfo(): CeOidGetInfoEx() failed");
      SetLastError(error);
      return false;
    }
    std::memcpy(&info, &ex, sizeof info);
    return true;
  }
  CEOIDINFO older{};
  if (!CeOidGetInfoEx(&guid, oid, &older)) {
    DWORD error = GetLastError();
    ReportError(error, u"GetOidInfo(): CeOidGetInfoEx() failed");
    SetLastError(error);
    return false;
  }
  FromOlderObjectInfo(older, info);
  return true;
}

bool EnumVolumesOf(bool edb, const VolumeCallback& callback, bool* stopped) {
  if (stopped) *stopped = false;
  WCHAR name[kVolumeNameChars] = {};
  CEGUID guid = ObjectStoreGuid(edb);
  for (;;) {
    if (!CeEnumDBVolumes(&guid, name, kVolumeNameChars)) return GetLastError() == ERROR_NO_MORE_ITEMS;
    name[kVolumeNameChars - 1] = 0;
    if (callback(guid, CString(name)) == kStop) {
      if (stopped) *stopped = true;
      return true;
    }
  }
}

bool EnumVolumes(const VolumeCallback& callback) {
  bool stopped = false;
  if (!EnumVolumesOf(true, callback, &stopped)) return false;
  return stopped || EnumVolumesOf(false, callback);
}

CEGUID FindVolumeGuid(const CString& name) {
  CEGUID found = ZERO_CEGUID;
  EnumVolumes([&](const CEGUID& guid, const CString& volume) {
    CString path = volume;
    if (path.IsEmpty() || path[0] != u'\\') path = CString(u"\\") + path;
    if (!ce::EqualNoCase(path.view(), name.view())) return kContinue;
    found = guid;
    return kStop;
  });
  return found;
}

bool EnumDatabases(const CEGUID& volume, const DatabaseCallback& callback, bool edb, void* user) {
  CEGUID guid = volume;
  HANDLE find = edb ? CeFindFirstDatabaseEx2(&guid, 0) : CeFindFirstDatabaseEx(&guid, 0);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    ReportError(error, error == ERROR_OUTOFMEMORY ? u"EnumDatabases(): Out of memory."
                                                  : u"EnumDatabases(): Unknown error.");
    SetLastError(error);
    return false;
  }
  bool ok = true;
  for (;;) {
    CEGUID where{};
    CEOID oid = CeFindNextDatabaseEx(find, &where);
    if (!oid) {
      ok = GetLastError() == ERROR_NO_MORE_ITEMS;
      break;
    }
    if (callback(where, oid, edb, user) == kStop) break;
  }
  DWORD error = GetLastError();
  CloseHandle(find);  // a find handle: nothing to keep if the close fails
  SetLastError(error);
  return ok;
}

bool EnumDatabasesAnywhere(const DatabaseCallback& callback, void* user, const CEGUID* volume, bool edb) {
  if (volume) return EnumDatabases(*volume, callback, edb, user);
  bool stopped = false;
  auto watch = [&](const CEGUID& guid, CEOID oid, bool flag, void* u) {
    int answer = callback(guid, oid, flag, u);
    stopped = answer == kStop;
    return answer;
  };
  if (!EnumDatabases(EDB_SYSTEMGUID, watch, true, user)) return false;
  if (stopped) return true;
  return EnumDatabases(CEDB_SYSTEMGUID, watch, false, user);
}

bool ListDatabaseNames(const CEGUID& volume, std::vector<CString>& names, bool edb) {
  return EnumDatabases(
      volume,
      [&](const CEGUID& where, CEOID oid, bool flag, void*) {
        DatabaseInfoRecord info;
        // A database gone since the walk began is passed over.
        if (GetOidInfo(where, oid, flag, info) && info.objectType == OBJTYPE_DATABASE)
          names.push_back(InfoName(info));
        return kContinue;
      },
      edb);
}

bool GetDatabaseVolumeName(bool edb, const CString& databaseName, CString& volumeName) {
  DatabaseInfoRecord info;
  DatabaseLocation location;
  HANDLE h = OpenDatabaseWithInfo(nullptr, databaseName, edb, info, &location);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseDatabase(h);
  bool found = false;
  EnumVolumes([&](const CEGUID& guid, const CString& name) {
    if (!CeGuidEqual(guid, location.volume)) return kContinue;
    if (IsZeroGuid(guid)) {
      if (!DatabaseExists(&ZERO_CEGUID, databaseName)) return kContinue;
      volumeName = DatabaseEntryFormat::kSystemHeap;
    } else {
      volumeName = name;
    }
    found = true;
    return kStop;
  });
  return found;
}

std::vector<CEOID> SnapshotRecordIds(HANDLE database, DWORD recordCount) {
  std::vector<CEOID> ids;
  if (recordCount == 0) return ids;
  ids.reserve(std::min<size_t>(recordCount, kSnapshotReserve));
  CEOID id = CeSeekDatabaseEx(database, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  if (!id) return ids;
  ids.push_back(id);
  while (ids.size() < recordCount) {
    id = CeSeekDatabaseEx(database, CEDB_SEEK_CURRENT, 1, 0, nullptr);
    if (!id) break;
    ids.push_back(id);
  }
  DWORD error = GetLastError();
  // Back to the first record; the walk seeks to each id itself.
  CeSeekDatabaseEx(database, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  SetLastError(error);
  return ids;
}

bool EnumRecords(HANDLE database, DWORD recordCount, const RecordCallback& callback, void* user) {
  const std::vector<CEOID> ids = SnapshotRecordIds(database, recordCount);
  CeRecordBuffer record;
  bool ok = true;
  for (CEOID id : ids) {
    if (!CeSeekDatabaseEx(database, CEDB_SEEK_CEOID, id, 0, nullptr)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) continue;  // deleted during the walk
      return false;
    }
    if (!record.Read(database)) return false;
    if (callback(database, id, record.Properties(), record.Count(), user) == kDeleteRecord &&
        !CeDeleteRecord(database, id))
      ok = false;
  }
  return ok;
}

bool EnumRecordsByName(const CEGUID* volume, const CString& name, bool edb, const RecordCallback& callback,
                       void* user) {
  DatabaseInfoRecord info;
  HANDLE h = OpenDatabaseWithInfo(volume, name, edb, info);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = EnumRecords(h, info.numRecords, callback, user);
  DWORD error = GetLastError();
  CloseDatabase(h);
  SetLastError(error);
  return ok;
}

bool DeleteAllRecords(const CString& name, bool edb, CeDatabaseCompareBase& selector, const CEGUID* volume) {
  return EnumRecordsByName(volume, name, edb, [&](HANDLE, CEOID oid, CEPROPVAL*, WORD, void*) {
    return selector.Accept(oid) ? kDeleteRecord : kKeepRecord;
  });
}

bool DeleteDatabase(const CEGUID* volume, const CString& name, bool edb) {
  DatabaseInfoRecord info;
  DatabaseLocation location;
  HANDLE h = OpenDatabaseWithInfo(volume, name, edb, info, &location);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseDatabase(h);
  CEGUID guid = location.volume;
  if (edb ? CeDeleteDatabaseEx2(&guid, location.oid) : CeDeleteDatabaseEx(&guid, location.oid)) return true;
  // The records at least go: those of the store the database was found in
  // (16 zero bytes: the object store alone), not a namesake's elsewhere.
  CeDatabaseCompareBase all;
  return DeleteAllRecords(name, edb, all, &location.volume);
}

}  // namespace CeDatabase

CeRecordBuffer::~CeRecordBuffer() {
  if (m_pBuffer) LocalFree(m_pBuffer);
}

CEOID CeRecordBuffer::Read(HANDLE database) {
  WORD count = 0;
  CEOID oid = CeReadRecordPropsEx(database, CEDB_ALLOWREALLOC, &count, nullptr, &m_pBuffer, &m_Size, nullptr);
  m_Count = oid ? count : 0;
  return oid;
}
