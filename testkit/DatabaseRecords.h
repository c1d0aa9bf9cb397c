// A device's databases read and changed by name, the way the whole-device
// tests and benchmarks check a backup and restore (header only, without the
// test framework: the benchmarks use it too).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ce/database.h"
#include "ce/time.h"

namespace quilmo::test {

// A record's properties: id and value bytes (texts as UTF-16 code units
// without the NUL, blobs and streams their bytes, the rest the 8 bytes of
// the value).
using RecordBytes = std::vector<std::pair<CEPROPID, std::string>>;

inline RecordBytes RecordFromValues(const CEPROPVAL* values, WORD count) {
  RecordBytes out;
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = values[i];
    std::string bytes;
    switch (TypeFromPropID(v.propid)) {
      case CEVT_LPWSTR:
        bytes.assign(reinterpret_cast<const char*>(v.val.lpwstr), std::u16string_view(v.val.lpwstr).size() * 2);
        break;
      case CEVT_BLOB:
      case CEVT_STREAM:
        bytes.assign(reinterpret_cast<const char*>(v.val.blob.lpb), v.val.blob.dwCount);
        break;
      default:
        bytes.assign(reinterpret_cast<const char*>(&v.val), 8);
    }
    out.emplace_back(v.propid, bytes);
  }
  return out;
}

// Opens a database by name: the object store, then the mounted volumes.
inline HANDLE OpenDatabaseByName(const std::u16string& name, bool edb) {
  CEGUID store = edb ? EDB_SYSTEMGUID : CEDB_SYSTEMGUID;
  CEOID oid = 0;
  std::u16string n(name);
  return edb ? CeOpenDatabaseInSession(nullptr, &store, &oid, n.data(), nullptr, CEDB_AUTOINCREMENT, nullptr)
             : CeOpenDatabaseEx2(&store, &oid, n.data(), nullptr, CEDB_AUTOINCREMENT, nullptr);
}

// Every record of the database in the device's order into *out; false
// (*out empty) when it cannot be opened.
inline bool ReadDatabaseRecords(const std::u16string& name, bool edb, std::vector<RecordBytes>* out) {
  out->clear();
  HANDLE h = OpenDatabaseByName(name, edb);
  if (h == INVALID_HANDLE_VALUE) return false;
  LPBYTE buffer = nullptr;
  DWORD size = 0;
  WORD count = 0;
  while (CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buffer, &size, nullptr))
    out->push_back(RecordFromValues(reinterpret_cast<const CEPROPVAL*>(buffer), count));
  LocalFree(buffer);
  CloseHandle(h);
  return true;
}

// The text property's value; "<none>" when the record lacks it.
inline std::u16string TextOf(const RecordBytes& record, CEPROPID id) {
  for (const auto& [pid, bytes] : record)
    if (pid == id) return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
  return u"<none>";
}

// The records change: the first one's texts edited, a copy of it added,
// the second one deleted. False (the last error set) when a step fails.
inline bool EditAddDelete(const std::u16string& database, bool edb) {
  HANDLE h = OpenDatabaseByName(database, edb);
  if (h == INVALID_HANDLE_VALUE) return false;
  LPBYTE buffer = nullptr;
  DWORD size = 0;
  WORD count = 0;
  CEOID first = CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buffer, &size, nullptr);
  CEOID second = first ? CeSeekDatabaseEx(h, CEDB_SEEK_CURRENT, 0, 0, nullptr) : 0;
  bool ok = first && second;
  if (ok) {
    auto* values = reinterpret_cast<CEPROPVAL*>(buffer);
    std::u16string changed = u"changed after the backup";
    for (WORD i = 0; i < count; ++i)
      if (TypeFromPropID(values[i].propid) == CEVT_LPWSTR) values[i].val.lpwstr = changed.data();
    ok = CeWriteRecordProps(h, first, count, values) && CeWriteRecordProps(h, 0, count, values) &&
         CeDeleteRecord(h, second);
  }
  LocalFree(buffer);
  CloseHandle(h);
  return ok;
}

// Deletes the object store's CEDB database of that name.
inline bool DeleteDatabaseByName(const std::u16string& name) {
  HANDLE h = OpenDatabaseByName(name, false);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_DB_INFORMATION info{};
  bool ok = CeGetDBInformationByHandle(h, &info);
  CloseHandle(h);
  CEGUID store = CEDB_SYSTEMGUID;
  return ok && CeDeleteDatabaseEx(&store, info.oidDbase);
}

// The device's local time in FILETIME ticks, as the notification entries
// hold their times.
inline ULONGLONG LocalTicks() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace quilmo::test
