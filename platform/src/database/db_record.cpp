#include "database/db_record.h"

#include <cstring>

#include "ce/bytes.h"
#include "ce/errors.h"

namespace ce::db {
namespace {

constexpr size_t kAlign = 8;

size_t Aligned(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

// Bytes a value takes in the data part of the read buffer.
size_t DataBytes(const PropView& p) {
  switch (TypeFromPropID(p.id)) {
    case CEVT_LPWSTR:
      return Aligned(p.value.size() + sizeof(WCHAR));
    case CEVT_BLOB:
    case CEVT_STREAM:
      return Aligned(p.value.size());
    default:
      return 0;
  }
}

}  // namespace

int FixedSize(WORD type) {
  switch (type) {
    case CEVT_I2:
    case CEVT_UI2:
      return 2;
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_BOOL:
    case CEVT_RECID:
    case CEVT_AUTO_I4:
      return 4;
    case CEVT_R8:
    case CEVT_FILETIME:
    case CEVT_AUTO_I8:
      return 8;
    case CEVT_LPWSTR:
    case CEVT_BLOB:
    case CEVT_STREAM:
      return 0;
    default:
      return -1;
  }
}

bool TypeAllowed(WORD type, bool edb) {
  switch (type) {
    case CEVT_I2:
    case CEVT_UI2:
    case CEVT_I4:
    case CEVT_UI4:
    case CEVT_R8:
    case CEVT_BOOL:
    case CEVT_FILETIME:
    case CEVT_LPWSTR:
    case CEVT_BLOB:
      return true;
    case CEVT_STREAM:
    case CEVT_RECID:
    case CEVT_AUTO_I4:
    case CEVT_AUTO_I8:
      return edb;
    default:
      return false;
  }
}

bool IsAutoType(WORD type) { return type == CEVT_AUTO_I4 || type == CEVT_AUTO_I8; }

bool DecodeViews(std::string_view blob, std::vector<PropView>* out) {
  out->clear();
  size_t at = 0;
  while (at < blob.size()) {
    if (blob.size() - at < 8) return false;
    PropView p;
    p.id = le::Get32(blob, at);
    const uint32_t n = le::Get32(blob, at + 4);
    at += 8;
    if (n > blob.size() - at) return false;
    const int fixed = FixedSize(TypeFromPropID(p.id));
    if (fixed < 0 || (fixed > 0 && n != static_cast<uint32_t>(fixed))) return false;
    if (TypeFromPropID(p.id) == CEVT_LPWSTR && n % 2) return false;
    if (out->size() == 0xFFFF) return false;  // more than a WORD can count
    p.value = blob.substr(at, n);
    at += n;
    out->push_back(p);
  }
  return true;
}

bool Decode(std::string_view blob, std::vector<Prop>* out) {
  out->clear();
  std::vector<PropView> views;
  if (!DecodeViews(blob, &views)) return false;
  out->reserve(views.size());
  for (const PropView& v : views) out->push_back(Prop{v.id, std::string(v.value)});
  return true;
}

std::string Encode(const std::vector<Prop>& props) {
  size_t total = 0;
  for (const Prop& p : props) total += 8 + p.value.size();
  std::string out;
  out.reserve(total);
  for (const Prop& p : props) {
    le::Put32(&out, p.id);
    le::Put32(&out, static_cast<uint32_t>(p.value.size()));
    out += p.value;
  }
  return out;
}

bool FromValue(const CEPROPVAL& v, Prop* out, DWORD* error) {
  out->id = v.propid;
  out->value.clear();
  const WORD type = TypeFromPropID(v.propid);
  switch (type) {
    case CEVT_I2:
      le::Put16(&out->value, static_cast<uint16_t>(v.val.iVal));
      return true;
    case CEVT_UI2:
      le::Put16(&out->value, v.val.uiVal);
      return true;
    case CEVT_I4:
    case CEVT_AUTO_I4:
      le::Put32(&out->value, static_cast<uint32_t>(v.val.lVal));
      return true;
    case CEVT_UI4:
    case CEVT_RECID:
      le::Put32(&out->value, v.val.ulVal);
      return true;
    case CEVT_BOOL:
      le::Put32(&out->value, static_cast<uint32_t>(v.val.boolVal));
      return true;
    case CEVT_FILETIME:
      le::Put32(&out->value, v.val.filetime.dwLowDateTime);
      le::Put32(&out->value, v.val.filetime.dwHighDateTime);
      return true;
    case CEVT_R8: {
      uint64_t bits;
      std::memcpy(&bits, &v.val.dblVal, sizeof bits);  // the 8 bytes as given, NaNs included
      le::Put64(&out->value, bits);
      return true;
    }
    case CEVT_AUTO_I8:
      le::Put64(&out->value, static_cast<uint64_t>(v.val.llVal));
      return true;
    case CEVT_LPWSTR: {
      if (!v.val.lpwstr) break;
      const WCHAR* s = v.val.lpwstr;
      for (; *s; ++s) le::Put16(&out->value, *s);
      return true;
    }
    case CEVT_BLOB:
    case CEVT_STREAM:
      if (v.val.blob.dwCount && !v.val.blob.lpb) break;
      out->value.assign(reinterpret_cast<const char*>(v.val.blob.lpb), v.val.blob.dwCount);
      return true;
    default:
      break;
  }
  *error = ERROR_INVALID_PARAMETER;
  return false;
}

size_t BufferSize(const std::vector<const PropView*>& props) {
  size_t n = Aligned(props.size() * sizeof(CEPROPVAL));
  for (const PropView* p : props)
    if (p) n += DataBytes(*p);
  return n;
}

void FillBuffer(const std::vector<const PropView*>& props, const std::vector<CEPROPID>& ids, BYTE* buffer) {
  auto* vals = reinterpret_cast<CEPROPVAL*>(buffer);
  BYTE* data = buffer + Aligned(props.size() * sizeof(CEPROPVAL));
  for (size_t i = 0; i < props.size(); ++i) {
    CEPROPVAL v{};
    const PropView* p = props[i];
    if (!p) {
      v.propid = ids[i];
      v.wFlags = CEDB_PROPNOTFOUND;
      vals[i] = v;
      continue;
    }
    v.propid = p->id;
    const std::string_view b = p->value;
    switch (TypeFromPropID(p->id)) {
      case CEVT_I2:
        v.val.iVal = static_cast<SHORT>(le::Get16(b, 0));
        break;
      case CEVT_UI2:
        v.val.uiVal = le::Get16(b, 0);
        break;
      case CEVT_I4:
      case CEVT_AUTO_I4:
        v.val.lVal = static_cast<LONG>(le::Get32(b, 0));
        break;
      case CEVT_UI4:
      case CEVT_RECID:
        v.val.ulVal = le::Get32(b, 0);
        break;
      case CEVT_BOOL:
        v.val.boolVal = static_cast<BOOL>(le::Get32(b, 0));
        break;
      case CEVT_FILETIME:
        v.val.filetime = FILETIME{le::Get32(b, 0), le::Get32(b, 4)};
        break;
      case CEVT_R8: {
        const uint64_t bits = le::Get64(b, 0);
        std::memcpy(&v.val.dblVal, &bits, sizeof bits);
        break;
      }
      case CEVT_AUTO_I8:
        v.val.llVal = static_cast<LONGLONG>(le::Get64(b, 0));
        break;
      case CEVT_LPWSTR: {
        auto* text = reinterpret_cast<WCHAR*>(data);
        const size_t chars = b.size() / 2;
        for (size_t c = 0; c < chars; ++c) text[c] = static_cast<WCHAR>(le::Get16(b, c * 2));
        text[chars] = 0;
        v.val.lpwstr = text;
        data += DataBytes(*p);
        break;
      }
      case CEVT_BLOB:
      case CEVT_STREAM:
        v.val.blob.dwCount = static_cast<DWORD>(b.size());
        if (!b.empty()) {
          std::memcpy(data, b.data(), b.size());
          v.val.blob.lpb = data;
        }
        data += DataBytes(*p);
        break;
      default:
        break;
    }
    vals[i] = v;
  }
}

}  // namespace ce::db
