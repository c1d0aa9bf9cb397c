// Automation strings and variants: BSTR (length-prefixed UTF-16, freed by
// its owner with SysFreeString) and VARIANT (cleared by its owner with
// VariantClear), with small owning wrappers.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "ce/com.h"
#include "ce/types.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef const OLECHAR* LPCOLESTR;
typedef SHORT VARIANT_BOOL;
typedef USHORT VARTYPE;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_UI4 = 19,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    ULONG ulVal;
    BYTE bVal;
    SHORT iVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    IUnknown* punkVal;
  };
};
typedef VARIANT VARIANTARG;

// Null text gives a null BSTR. Length in characters; the copy is ended by
// a NUL beyond the length. Null on allocation failure.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
// Characters (0 for null).
UINT SysStringLen(BSTR text);

// vt = VT_EMPTY.
void VariantInit(VARIANTARG* v);
// Frees the BSTR or releases the object held; vt = VT_EMPTY.
HRESULT VariantClear(VARIANTARG* v);
// Clears dest, then copies src (a new BSTR, an added reference).
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);

// An owned BSTR.
class CComBSTR {
 public:
  CComBSTR() = default;
  explicit CComBSTR(const OLECHAR* text) : m_str(SysAllocString(text)) {}
  explicit CComBSTR(std::u16string_view text)
      : m_str(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  CComBSTR(const CComBSTR& o) : m_str(o.m_str ? SysAllocStringLen(o.m_str, o.Length()) : nullptr) {}
  CComBSTR(CComBSTR&& o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
  ~CComBSTR() { SysFreeString(m_str); }
  CComBSTR& operator=(CComBSTR o) noexcept {
    std::swap(m_str, o.m_str);
    return *this;
  }

  UINT Length() const { return SysStringLen(m_str); }
  // For out parameters: frees what is held first.
  BSTR* operator&() {
    Empty();
    return &m_str;
  }
  void Empty() { SysFreeString(std::exchange(m_str, nullptr)); }
  BSTR Detach() { return std::exchange(m_str, nullptr); }
  operator BSTR() const { return m_str; }  // NOLINT(runtime/explicit)
  std::u16string_view view() const { return m_str ? std::u16string_view(m_str, Length()) : std::u16string_view(); }

  BSTR m_str = nullptr;
};

// An owned VARIANT, cleared when it goes.
class CComVariant : public VARIANT {
 public:
  CComVariant() { VariantInit(this); }
  explicit CComVariant(std::u16string_view text) {
    VariantInit(this);
    bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    vt = bstrVal ? VARTYPE(VT_BSTR) : VARTYPE(VT_EMPTY);
  }
  CComVariant(const CComVariant& o) {
    VariantInit(this);
    VariantCopy(this, &o);
  }
  CComVariant(CComVariant&& o) noexcept {
    *static_cast<VARIANT*>(this) = o;
    VariantInit(&o);
  }
  ~CComVariant() { VariantClear(this); }
  CComVariant& operator=(const CComVariant& o) {
    if (this != &o) VariantCopy(this, &o);
    return *this;
  }
  CComVariant& operator=(CComVariant&& o) noexcept {
    if (this != &o) {
      VariantClear(this);
      *static_cast<VARIANT*>(this) = o;
      VariantInit(&o);
    }
    return *this;
  }
  HRESULT Clear() { return VariantClear(this); }
  bool IsEmpty() const { return vt == VT_EMPTY; }
  // The text of a VT_BSTR value; empty for any other type.
  std::u16string_view Text() const {
    if (vt != VT_BSTR || !bstrVal) return {};
    return std::u16string_view(bstrVal, SysStringLen(bstrVal));
  }
};
