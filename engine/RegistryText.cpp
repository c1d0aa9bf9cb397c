#include "engine/RegistryText.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ce/errors.h"

CString ReadRegistryText(HKEY root, LPCWSTR keyPath, LPCWSTR valueName, DWORD maxBytes) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return CString();
  std::vector<BYTE> data(maxBytes + 2, 0);
  DWORD type = 0;
  DWORD size = maxBytes;
  LONG r = RegQueryValueExW(key, valueName, nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return CString();
  std::u16string text(std::min(size, maxBytes) / 2, u'\0');
  std::copy_n(data.data(), text.size() * 2, reinterpret_cast<BYTE*>(text.data()));
  return CString(text.c_str());  // up to the first NUL
}

CString WithLeadingBackslash(const CString& path) {
  if (path.IsEmpty() || path[0] == u'\\') return path;
  return CString(u"\\") + path;
}
