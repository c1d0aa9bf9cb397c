#include "ce/com.h"

#include "ce/xmldom.h"
#include "xml/xmldom_impl.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {
thread_local int t_initCount = 0;
}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid,
                         LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (t_initCount == 0) return CO_E_NOTINITIALIZED;
  if (outer) return CLASS_E_NOAGGREGATION;
  if ((clsContext & CLSCTX_SERVER) == 0) return E_INVALIDARG;
  if (IsEqualGUID(clsid, CLSID_DOMDocument)) return ce::detail::CreateDomDocument(iid, object);
  return REGDB_E_CLASSNOTREG;
}
