// Helpers of the property database tests (header only).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ce/database.h"
#include "ce/errors.h"
#include "testkit/PropertyValues.h"

namespace dbtest {

// A property read back: its id, flags and value bytes (texts as UTF-16
// code units without the NUL).
struct Value {
  CEPROPID id = 0;
  WORD flags = 0;
  std::string bytes;
  bool operator==(const Value&) const = default;
};

using quilmo::test::Blob;
using quilmo::test::Bytes;
using quilmo::test::I4;
using quilmo::test::Text;

// A property the record lacks (CEDB_PROPNOTFOUND) has no bytes.
inline Value FromProp(const CEPROPVAL& v) {
  if (v.wFlags & CEDB_PROPNOTFOUND) return {v.propid, v.wFlags, {}};
  return {v.propid, v.wFlags, quilmo::test::ValueBytes(v)};
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

using quilmo::test::Def;

inline HANDLE OpenCedb(CEGUID guid, const char16_t* name, DWORD flags = CEDB_AUTOINCREMENT) {
  CEOID oid = 0;
  return CeOpenDatabaseEx2(&guid, &oid, const_cast<LPWSTR>(name), nullptr, flags, nullptr);
}

inline HANDLE OpenEdb(CEGUID guid, const char16_t* name, DWORD flags = CEDB_AUTOINCREMENT) {
  CEOID oid = 0;
  return CeOpenDatabaseInSession(nullptr, &guid, &oid, const_cast<LPWSTR>(name), nullptr, flags, nullptr);
}

}  // namespace dbtest
