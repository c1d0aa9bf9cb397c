// Fuzz entry points of the property database stores:
//   FuzzVolumeFile    any bytes as a volume file: it either fails to mount
//                     (with an error, mounting nothing) or mounts, and then
//                     every database and record in it reads or fails with
//                     an error, and it unmounts again;
//   FuzzStoredRecord  any bytes as one record's stored properties: the read
//                     fails with ERROR_FILE_CORRUPT or gives properties whose
//                     texts and blobs lie inside the buffer it handed out.
// Never a crash, a leak or a hang.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ce/database.h"
#include "ce/errors.h"
#include "cesim/database.h"
#include "testkit/TestDevice.h"

namespace {

quilmo::test::TestDevice& Device() {
  static quilmo::test::TestDevice* dev = new quilmo::test::TestDevice();  // one for the whole run
  return *dev;
}

bool KnownType(WORD t) {
  switch (t) {
    case CEVT_I2: case CEVT_UI2: case CEVT_I4: case CEVT_UI4: case CEVT_R8: case CEVT_BOOL: case CEVT_FILETIME:
    case CEVT_LPWSTR: case CEVT_BLOB: case CEVT_STREAM: case CEVT_RECID: case CEVT_AUTO_I4: case CEVT_AUTO_I8:
      return true;
    default:
      return false;
  }
}

// Checks what a successful read handed out: known types, and every text
// and blob inside the buffer.
void CheckRead(const BYTE* buf, DWORD size, WORD count) {
  if (count && !buf) std::abort();
  if (count && LocalSize(const_cast<BYTE*>(buf)) < size) std::abort();
  if (static_cast<size_t>(count) * sizeof(CEPROPVAL) > size) std::abort();
  const auto* vals = reinterpret_cast<const CEPROPVAL*>(buf);
  const BYTE* end = buf + size;
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = vals[i];
    if (!KnownType(TypeFromPropID(v.propid)) || v.wFlags != 0) std::abort();
    if (TypeFromPropID(v.propid) == CEVT_LPWSTR) {
      const auto* p = reinterpret_cast<const BYTE*>(v.val.lpwstr);
      if (p < buf || p >= end) std::abort();
      const WCHAR* c = v.val.lpwstr;
      while (reinterpret_cast<const BYTE*>(c + 1) <= end && *c) ++c;
      if (reinterpret_cast<const BYTE*>(c + 1) > end) std::abort();  // no NUL inside the buffer
    } else if (TypeFromPropID(v.propid) == CEVT_BLOB || TypeFromPropID(v.propid) == CEVT_STREAM) {
      if (v.val.blob.dwCount == 0) continue;
      const BYTE* p = v.val.blob.lpb;
      if (p < buf || p > end || static_cast<size_t>(end - p) < v.val.blob.dwCount) std::abort();
    }
  }
}

// Reads every record of an open database the way the backup does.
void ReadAll(HANDLE h) {
  BY_HANDLE_DB_INFORMATION info{};
  if (!CeGetDBInformationByHandle(h, &info)) {
    if (GetLastError() == ERROR_SUCCESS) std::abort();
    return;
  }
  LPBYTE buf = nullptr;
  DWORD size = 0;
  CEOID id = CeSeekDatabaseEx(h, CEDB_SEEK_BEGINNING, 0, 0, nullptr);
  for (DWORD n = 0; id && n < info.infDatabase.dwNumRecords + 1; ++n) {
    WORD count = 0;
    if (CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buf, &size, nullptr))
      CheckRead(buf, size, count);
    else if (GetLastError() == ERROR_SUCCESS)
      std::abort();
    id = CeSeekDatabaseEx(h, CEDB_SEEK_CURRENT, 1, 0, nullptr);
  }
  LocalFree(buf);
  WORD defs = 0;
  if (info.wVersion == 2 && CeGetDatabaseProps(h, &defs, nullptr, nullptr) && defs) {
    std::vector<CEPROPSPEC> specs(defs);
    CeGetDatabaseProps(h, &defs, nullptr, specs.data());  // names left out: no buffers given
  }
}

void WalkVolume(CEGUID g, bool edb) {
  HANDLE f = edb ? CeFindFirstDatabaseEx2(&g, 0) : CeFindFirstDatabaseEx(&g, 0);
  if (f == INVALID_HANDLE_VALUE) return;
  for (int n = 0; n < 64; ++n) {
    CEOID oid = CeFindNextDatabaseEx(f, nullptr);
    if (!oid) break;
    if (edb) {
      CEOIDINFOEX oi{};
      oi.wVersion = CEOIDINFOEX_VERSION;
      CeOidGetInfoEx2(&g, oid, &oi);
    } else {
      CEOIDINFO oi{};
      CeOidGetInfoEx(&g, oid, &oi);
    }
    CEOID open = oid;
    HANDLE h = edb ? CeOpenDatabaseInSession(nullptr, &g, &open, nullptr, nullptr, 0, nullptr)
                   : CeOpenDatabaseEx2(&g, &open, nullptr, nullptr, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    ReadAll(h);
    CloseHandle(h);
  }
  CloseHandle(f);
}

}  // namespace

int FuzzVolumeFile(const uint8_t* data, size_t size) {
  quilmo::test::TestDevice& dev = Device();
  {
    std::ofstream out(dev.Host(u"\\fuzz.vol"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::error_code ec;
  std::filesystem::remove(dev.Host(u"\\fuzz.vol").string() + "-journal", ec);
  for (bool edb : {false, true}) {
    CEGUID g{};
    LPWSTR path = const_cast<LPWSTR>(u"\\fuzz.vol");
    bool mounted = edb ? CeMountDBVolEx(&g, path, nullptr, OPEN_EXISTING) : CeMountDBVol(&g, path, OPEN_EXISTING);
    if (!mounted) {
      if (GetLastError() == ERROR_SUCCESS || !ce::ListMountedVolumes().empty()) std::abort();
      continue;
    }
    WalkVolume(g, edb);
    if (!CeUnmountDBVol(&g) || !ce::ListMountedVolumes().empty()) std::abort();
  }
  return 0;
}

int FuzzStoredRecord(const uint8_t* data, size_t size) {
  static sqlite3* raw = nullptr;
  static HANDLE db = INVALID_HANDLE_VALUE;
  static CEOID record = 0;
  if (db == INVALID_HANDLE_VALUE) {
    Device();
    CEDBASEINFO info{};
    info.dwFlags = CEDB_VALIDNAME;
    std::u16string name = u"Fuzzed";
    std::copy(name.begin(), name.end(), info.szDbaseName);
    CEGUID g = CEDB_SYSTEMGUID;
    CEOID oid = CeCreateDatabaseEx(&g, &info);
    db = CeOpenDatabaseEx2(&g, &oid, nullptr, nullptr, 0, nullptr);
    CEPROPVAL v{};
    v.propid = MAKE_CEPROPID(1, CEVT_I4);
    record = CeWriteRecordProps(db, 0, 1, &v);
    if (!record || sqlite3_open((Device().dir() / "objectstore.db").c_str(), &raw) != SQLITE_OK) std::abort();
  }
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(raw, "UPDATE record SET data = ? WHERE oid = ?", -1, &s, nullptr);
  sqlite3_bind_blob(s, 1, size ? data : reinterpret_cast<const uint8_t*>(""), static_cast<int>(size), SQLITE_STATIC);
  sqlite3_bind_int64(s, 2, record);
  if (sqlite3_step(s) != SQLITE_DONE) std::abort();
  sqlite3_finalize(s);
  if (CeSeekDatabaseEx(db, CEDB_SEEK_CEOID, record, 0, nullptr) != record) std::abort();
  LPBYTE buf = nullptr;
  DWORD bytes = 0;
  WORD count = 0;
  if (CeReadRecordPropsEx(db, CEDB_ALLOWREALLOC, &count, nullptr, &buf, &bytes, nullptr))
    CheckRead(buf, bytes, count);
  else if (GetLastError() != ERROR_FILE_CORRUPT)
    std::abort();
  LocalFree(buf);
  return 0;
}
