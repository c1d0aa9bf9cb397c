#include "ce/oleauto.h"

#include <cstdlib>
#include <cstring>

// A BSTR is preceded by its length in bytes (u32) and followed by a NUL.

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > 0x3FFFFFF0u) return nullptr;
  size_t bytes = size_t(length) * sizeof(OLECHAR);
  auto* block = static_cast<BYTE*>(std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  DWORD prefix = static_cast<DWORD>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* s = reinterpret_cast<BSTR>(block + sizeof(DWORD));
  if (text && length) std::memcpy(s, text, bytes);
  else if (length) std::memset(s, 0, bytes);
  s[length] = 0;
  return s;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<BYTE*>(text) - sizeof(DWORD));
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  DWORD bytes;
  std::memcpy(&bytes, reinterpret_cast<BYTE*>(text) - sizeof(DWORD), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANTARG* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v) {
  if (!v) return E_INVALIDARG;
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  else if (v->vt == VT_UNKNOWN && v->punkVal) v->punkVal->Release();
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VariantClear(dest);
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if (src->vt == VT_UNKNOWN && src->punkVal) {
    src->punkVal->AddRef();
  }
  *dest = copy;
  return S_OK;
}
