#include "core/Resources.h"

#include "ce/errors.h"
#include "ce/module.h"

#ifndef ERROR_TOO_MANY_MODULES
#define ERROR_TOO_MANY_MODULES 214L
#endif

namespace {

struct ResourceState {
  HMODULE main = nullptr;
  HMODULE extra[kMaxResourceLibraries] = {};
  int count = 0;
  AResourceXML overrides;
};

ResourceState& State() {
  static ResourceState state;
  return state;
}

bool Given(LPCWSTR path) { return path && *path; }

HMODULE LoadAsData(LPCWSTR path) { return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE); }

bool StringFrom(HMODULE module, DWORD id, CString& text) {
  if (!module || id > 0xFFFF) return false;
  LPCWSTR found = nullptr;
  const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&found), 0);
  if (length <= 0 || !found) return false;
  text = CString(found, length);
  return true;
}

bool BitmapFrom(HMODULE module, LPCWSTR name, AResBitmap& bitmap) {
  if (!module || !name) return false;
  const HMODULE previous = ce::GetResourceModule();
  ce::SetResourceModule(module);
  const bool ok = bitmap.LoadBitmap(name);
  const DWORD error = GetLastError();
  ce::SetResourceModule(previous);
  SetLastError(error);
  return ok;
}

}  // namespace

bool InitResources(LPCWSTR mainLibrary, LPCWSTR customLibrary, LPCWSTR customXml) {
  ResourceState& s = State();
  if (Given(mainLibrary)) {
    HMODULE module = LoadAsData(mainLibrary);
    if (!module) return false;
    if (s.main) {
      const DWORD error = GetLastError();
      FreeLibrary(s.main);
      SetLastError(error);
    }
    s.main = module;
  }
  if (Given(customLibrary) && !AddResourceLibrary(customLibrary)) return false;
  s.overrides.RemoveAll();
  if (Given(customXml) && !LoadResOverrides(customXml)) return false;
  return true;
}

bool AddResourceLibrary(LPCWSTR path) {
  ResourceState& s = State();
  if (s.count >= kMaxResourceLibraries) {
    SetLastError(ERROR_TOO_MANY_MODULES);
    return false;
  }
  HMODULE module = LoadAsData(path);
  if (!module) return false;
  s.extra[s.count++] = module;
  return true;
}

void UnloadResourceLibraries(bool freeMain) {
  ResourceState& s = State();
  if (freeMain && s.main) {
    FreeLibrary(s.main);
    s.main = nullptr;
  }
  for (int i = 0; i < s.count; ++i) {
    FreeLibrary(s.extra[i]);
    s.extra[i] = nullptr;
  }
  s.count = 0;
}

bool LoadResOverrides(LPCWSTR path) { return State().overrides.Load(path); }

bool LookupResString(DWORD id, CString& text) {
  ResourceState& s = State();
  if (s.overrides.HasStrings() && s.overrides.LookupString(id, text)) return true;
  for (int i = s.count - 1; i >= 0; --i)
    if (StringFrom(s.extra[i], id, text)) return true;
  if (StringFrom(s.main, id, text)) return true;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

bool LoadResBitmap(DWORD id, AResBitmap& bitmap) {
  ResourceState& s = State();
  if (s.overrides.HasImages() && s.overrides.HasImage(id) && s.overrides.LoadBitmap(id, bitmap))
    return true;
  if (id > 0xFFFF) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  return LoadResBitmap(MAKEINTRESOURCE(id), bitmap);
}

bool LoadResBitmap(LPCWSTR name, AResBitmap& bitmap) {
  ResourceState& s = State();
  for (int i = s.count - 1; i >= 0; --i)
    if (BitmapFrom(s.extra[i], name, bitmap)) return true;
  if (BitmapFrom(s.main, name, bitmap)) return true;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return false;
}

HMODULE GetMainResourceLibrary() { return State().main; }
int GetResourceLibraryCount() { return State().count; }
AResourceXML& GetResourceOverrides() { return State().overrides; }
