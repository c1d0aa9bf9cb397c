// Property values for the database tests: CEPROPVAL and CEPROPSPEC builders
// and a value's bytes as the tests compare them (header only).
#pragma once

#include <string>

#include "ce/database.h"
#include "ce/text.h"

namespace quilmo::test {

inline std::string Bytes(const void* p, size_t n) { return n ? std::string(static_cast<const char*>(p), n) : ""; }

// The value's bytes at the width of its type: 2, 4 or 8 bytes, a text's
// UTF-16 code units without the NUL, a blob's or stream's bytes.
inline std::string ValueBytes(const CEPROPVAL& v) {
  switch (TypeFromPropID(v.propid)) {
    case CEVT_I2:
    case CEVT_UI2: return Bytes(&v.val.uiVal, 2);
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
    case CEVT_RECID:
    case CEVT_AUTO_I4: return Bytes(&v.val.ulVal, 4);
    case CEVT_R8:
    case CEVT_FILETIME:
    case CEVT_AUTO_I8: return Bytes(&v.val.llVal, 8);
    case CEVT_LPWSTR: return Bytes(v.val.lpwstr, 2 * ce::StrLen(v.val.lpwstr));
    case CEVT_BLOB:
    case CEVT_STREAM: return Bytes(v.val.blob.lpb, v.val.blob.dwCount);
  }
  return {};
}

inline CEPROPVAL I2(WORD id, SHORT v) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, CEVT_I2);
  p.val.iVal = v;
  return p;
}
inline CEPROPVAL I4(WORD id, LONG v, WORD type = CEVT_I4) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, type);
  p.val.lVal = v;
  return p;
}
inline CEPROPVAL R8(WORD id, double v) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, CEVT_R8);
  p.val.dblVal = v;
  return p;
}
inline CEPROPVAL Time(WORD id, DWORD low, DWORD high) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, CEVT_FILETIME);
  p.val.filetime = FILETIME{low, high};
  return p;
}
// The text stays the caller's.
inline CEPROPVAL Text(WORD id, const char16_t* s) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, CEVT_LPWSTR);
  p.val.lpwstr = const_cast<LPWSTR>(s);
  return p;
}
// The bytes stay the caller's.
inline CEPROPVAL Blob(WORD id, const std::string& b, WORD type = CEVT_BLOB) {
  CEPROPVAL p{};
  p.propid = MAKE_CEPROPID(id, type);
  p.val.blob.dwCount = static_cast<DWORD>(b.size());
  p.val.blob.lpb = b.empty() ? nullptr : reinterpret_cast<LPBYTE>(const_cast<char*>(b.data()));
  return p;
}

inline CEPROPSPEC Def(CEPROPID id, const char16_t* name = nullptr, DWORD flags = 0) {
  CEPROPSPEC d{};
  d.wVersion = CEPROPSPEC_VERSION;
  d.propid = id;
  d.dwFlags = flags;
  d.pwszPropName = const_cast<LPWSTR>(name);
  return d;
}

}  // namespace quilmo::test
