// The component object model of the device, as far as the program uses it:
// result codes, class and interface identifiers, IUnknown, per-thread
// initialisation and object creation by class identifier.
//
// The only creatable class is the XML DOM document (ce/xmldom.h).
// CoCreateInstance fails with CO_E_NOTINITIALIZED on a thread that has not
// called CoInitialize(Ex), as on the device.
#pragma once

#include <memory>
#include <utility>

#include "ce/types.h"

#define S_OK ((HRESULT)0L)
#define S_FALSE ((HRESULT)1L)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_ACCESSDENIED ((HRESULT)0x80070005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_FROM_WIN32(x) \
  ((HRESULT)(x) <= 0 ? (HRESULT)(x) : (HRESULT)(((x) & 0x0000FFFF) | 0x80070000))

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

// Objects are released, never deleted through an interface.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

extern const IID IID_IUnknown;  // {00000000-0000-0000-C000-000000000046}

// S_OK the first time on a thread, S_FALSE when already initialised.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
HRESULT CoInitialize(LPVOID reserved);
// Balances one successful CoInitialize(Ex).
void CoUninitialize();
// Creates an object of a known class and asks it for iid. Aggregation is
// not supported (CLASS_E_NOAGGREGATION); unknown classes give
// REGDB_E_CLASSNOTREG; *object is null on every failure.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid,
                         LPVOID* object);

// A counted interface pointer: releases what it holds when it goes.
template <class T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(T* p) : p_(p) {  // NOLINT(runtime/explicit): adds a reference
    if (p_) p_->AddRef();
  }
  CComPtr(const CComPtr& o) : CComPtr(o.p_) {}
  CComPtr(CComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~CComPtr() { Release(); }
  CComPtr& operator=(const CComPtr& o) {
    CComPtr copy(o);
    std::swap(p_, copy.p_);
    return *this;
  }
  CComPtr& operator=(CComPtr&& o) noexcept {
    if (this != std::addressof(o)) {
      Release();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }

  // Drops the reference held.
  void Release() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Takes over a pointer whose reference the caller owns.
  void Attach(T* p) {
    Release();
    p_ = p;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  // For out parameters: releases what is held first.
  T** operator&() {
    Release();
    return &p_;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  operator T*() const { return p_; }  // NOLINT(runtime/explicit)
  explicit operator bool() const { return p_ != nullptr; }

  template <class Q>
  HRESULT QueryInterface(REFIID iid, Q** out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, reinterpret_cast<void**>(out));
  }

 private:
  T* p_ = nullptr;
};
