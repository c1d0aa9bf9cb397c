#include "ce/cstring.h"
#include "ce/module.h"

// Looks the string up in the current resource module (the running program
// unless switched).
BOOL CString::LoadString(UINT id) {
  LPCWSTR text = nullptr;
  int length = LoadStringW(static_cast<HINSTANCE>(ce::GetResourceModule()), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return FALSE;
  m_s.assign(text, static_cast<size_t>(length));
  return TRUE;
}
