// Helpers of the property database tests (header only).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/errors.h"

namespace dbtest {

// A property read back: its id, flags and value bytes (texts as UTF-16
// code units without the NUL).
struct Value {
  CEPROPID id = 0;
  WORD flags = 0;
  std::string bytes;
  bool operator==(const Value&) const = default;
};

inline std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

inline Value FromProp(const CEPROPVAL& v) {
  Value out{v.propid, v.wFlags, {}};
  if (v.wFlags & CEDB_PROPNOTFOUND) return out;
  switch (TypeFromPropID(v.propid)) {
    case CEVT_I2:
    case CEVT_UI2:
      out.bytes = Bytes(&v.val.uiVal, 2);
      break;
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
    case CEVT_RECID:
    case CEVT_AUTO_I4:
      out.bytes = Bytes(&v.val.ulVal, 4);
      break;
    case CEVT_R8:
    case CEVT_FILETIME:
    case CEVT_AUTO_I8:
      out.bytes = Bytes(&v.val.llVal, 8);
      break;
    case CEVT_LPWSTR: {
      size_t n = 0;
      while (v.val.lpwstr[n]) ++n;
      out.bytes = Bytes(v.val.lpwstr, n * 2);
      break;
    }
    case CEVT_BLOB:
    case CEVT_STREAM:
      out.bytes = Bytes(v.val.blob.lpb, v.val.blob.dwCount);
      break;
  }
  return out;
}

inline CEPROPVAL I4(WORD id, LONG v) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, CEVT_I4);
  p.val.lVal = v;
  return p;
}
inline CEPROPVAL Text(WORD id, const char16_t* s) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, CEVT_LPWSTR);
  p.val.lpwstr = const_cast<LPWSTR>(s);
  return p;
}
inline CEPROPVAL Blob(WORD id, const std::string& b, WORD type = CEVT_BLOB) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, type);
  p.val.blob.dwCount = static_cast<DWORD>(b.size());
  p.val.blob.lpb = b.empty() ? nullptr : reinterpret_cast<LPBYTE>(const_cast<char*>(b.data()));
  return p;
}

// Reads the current record's properties (every one, reallocating); the
// record's OID in *oid (0 with the last error on failure).
inline std::vector<Value> ReadAll(HANDLE h, CEOID* oid = nullptr) {
  LPBYTE buf = nullptr;
  DWORD size = 0;
  WORD count = 0;
  CEOID got = CeReadRecordPropsEx(h, CEDB_ALLOWREALLOC, &count, nullptr, &buf, &size, nullptr);
  std::vector<Value> out;
  if (got) {
    auto* vals = reinterpret_cast<CEPROPVAL*>(buf);
    for (WORD i = 0; i < count; ++i) out.push_back(FromProp(vals[i]));
  }
  DWORD err = GetLastError();
  LocalFree(buf);
  SetLastError(err);
  if (oid) *oid = got;
  return out;
}

inline CEDBASEINFO CedbInfo(const char16_t* name, DWORD type = 0) {
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE;
  std::u16string n(name);
  std::copy(n.begin(), n.end(), info.szDbaseName);
  info.dwDbaseType = type;
  return info;
}

inline CEDBASEINFOEX EdbInfo(const char16_t* name, DWORD type = 0) {
  CEDBASEINFOEX info{};
  info.wVersion = CEDBASEINFOEX_VERSION;
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE;
  std::u16string n(name);
  std::copy(n.begin(), n.end(), info.szDbaseName);
  info.dwDbaseType = type;
  return info;
}

inline CEPROPSPEC Def(CEPROPID id, const char16_t* name = nullptr) {
  CEPROPSPEC d{};
  d.wVersion = CEPROPSPEC_VERSION;
  d.propid = id;
  d.pwszPropName = const_cast<LPWSTR>(name);
  return d;
}

inline HANDLE OpenCedb(CEGUID guid, const char16_t* name, DWORD flags = CEDB_AUTOINCREMENT) {
  CEOID oid = 0;
  return CeOpenDatabaseEx2(&guid, &oid, const_cast<LPWSTR>(name), nullptr, flags, nullptr);
}

inline HANDLE OpenEdb(CEGUID guid, const char16_t* name, DWORD flags = CEDB_AUTOINCREMENT) {
  CEOID oid = 0;
  return CeOpenDatabaseInSession(nullptr, &guid, &oid, const_cast<LPWSTR>(name), nullptr, flags, nullptr);
}

}  // namespace dbtest
