// Module table, library loading and resource lookup.
#include "ce/module.h"

#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/rescontainer.h"
#include "ce/text.h"
#include "cesim/device.h"

#if __has_include("ce/process.h")
#include "ce/process.h"
#else
namespace ce {
const std::u16string& OwnProgramPath();
}
#endif

namespace ce {
namespace {

// One resource of a loaded module; HRSRC points at one of these.
struct ResEntry {
  uint32_t type = 0;
  uint32_t id = 0;
  std::u16string name;  // upper case; empty when numbered
  uint16_t language = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

struct Module {
  HMODULE handle = nullptr;
  std::u16string devicePath;  // stored case; empty for the running program
  std::u16string key;         // upper-cased device path + kind
  bool own = false;
  void* dl = nullptr;         // dlopen handle of a code library
  int refs = 1;
  std::string container;      // the container bytes (may be empty)
  std::vector<ResEntry> entries;

  bool Owns(HRSRC r) const {
    auto p = reinterpret_cast<const ResEntry*>(r);
    return !entries.empty() && p >= entries.data() && p < entries.data() + entries.size();
  }
};

constexpr uintptr_t kOwnHandle = 0x00010000;
constexpr uintptr_t kFirstHandle = 0x01000000;
constexpr uintptr_t kHandleStep = 0x00010000;

struct Table {
  std::mutex mu;
  std::map<uintptr_t, std::shared_ptr<Module>> modules;
  uintptr_t next = kFirstHandle;
};

Table& T() {
  static Table* t = new Table;  // never destroyed: modules may be used at exit
  return *t;
}

std::atomic<HMODULE> g_resourceModule{nullptr};

bool IsElf(const std::filesystem::path& host) {
  std::ifstream in(host, std::ios::binary);
  char m[4] = {};
  return in.read(m, 4) && std::memcmp(m, "\x7f" "ELF", 4) == 0;
}

// Reads and checks a module's container; false with the last error set.
bool LoadContainer(const std::filesystem::path& host, bool requireImage, Module* m) {
  const res::Locate l = res::ReadContainer(host, &m->container);
  if (l == res::Locate::kIoError) {
    SetLastError(errno ? ErrorFromErrno(errno) : ERROR_READ_FAULT);
    return false;
  }
  if (l == res::Locate::kNone) {
    if (requireImage && !IsElf(host)) {
      SetLastError(ERROR_BAD_EXE_FORMAT);
      return false;
    }
    return true;  // an image without resources
  }
  std::vector<res::EntryView> views;
  std::string error;
  if (!res::ParseContainer(m->container, &views, &error)) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return false;
  }
  m->entries.reserve(views.size());
  for (auto& v : views) m->entries.push_back({v.type, v.id, std::move(v.name), v.language, v.offset, v.size});
  return true;
}

std::shared_ptr<Module> OwnModule() {
  auto& t = T();
  auto it = t.modules.find(kOwnHandle);
  if (it != t.modules.end()) return it->second;
  auto m = std::make_shared<Module>();
  m->handle = reinterpret_cast<HMODULE>(kOwnHandle);
  m->own = true;
  const DWORD saved = GetLastError();
  if (!LoadContainer("/proc/self/exe", false, m.get())) m->entries.clear();
  SetLastError(saved);
  m->dl = dlopen(nullptr, RTLD_NOW);
  t.modules[kOwnHandle] = m;
  return m;
}

// The module behind a handle (null: the running program); caller holds mu.
std::shared_ptr<Module> FindLocked(HMODULE h) {
  const auto v = reinterpret_cast<uintptr_t>(h);
  if (v == 0 || v == kOwnHandle) return OwnModule();
  auto& t = T();
  auto it = t.modules.find(v);
  if (it == t.modules.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

std::shared_ptr<Module> Find(HMODULE h) {
  std::lock_guard<std::mutex> g(T().mu);
  return FindLocked(h);
}

// "x" -> "x.dll" when the last component has no dot; "/" -> "\".
std::u16string NormalizeName(std::u16string_view name) {
  std::u16string n(name);
  for (auto& c : n)
    if (c == u'/') c = u'\\';
  const size_t slash = n.rfind(u'\\');
  const size_t start = slash == std::u16string::npos ? 0 : slash + 1;
  if (n.find(u'.', start) == std::u16string::npos) n += u".dll";
  return n;
}

std::u16string FileNameOf(const std::u16string& path) {
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// Finds the device file of a module name; false with notFound (the error
// for a missing file) or the resolver's error set.
bool ResolveModule(LPCWSTR name, DWORD notFound, ResolvedPath* out) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Device* dev = Device::Current();
  if (!dev) {
    SetLastError(notFound);
    return false;
  }
  const std::u16string n = NormalizeName(name);
  std::vector<std::u16string> candidates;
  if (n[0] == u'\\') {
    candidates.push_back(n);
  } else {
    const std::u16string& own = OwnProgramPath();
    const size_t slash = own.rfind(u'\\');
    if (slash != std::u16string::npos) candidates.push_back(own.substr(0, slash + 1) + n);
    candidates.push_back(u"\\Windows\\" + n);
    candidates.push_back(u"\\" + n);
  }
  DWORD error = notFound;
  for (const auto& c : candidates) {
    ResolvedPath rp;
    if (!dev->Resolve(c, &rp)) {
      if (candidates.size() == 1) error = GetLastError();
      continue;
    }
    if (rp.exists && !rp.isDirectory) {
      *out = std::move(rp);
      return true;
    }
    if (candidates.size() == 1 && !rp.parentExists && notFound == ERROR_FILE_NOT_FOUND)
      error = ERROR_PATH_NOT_FOUND;
  }
  SetLastError(error);
  return false;
}

// A symbol of the library itself, not of the libraries it depends on.
void* OwnSymbol(const Module& m, const char* name) {
  if (!m.dl) return nullptr;
  void* sym = dlsym(m.dl, name);
  if (!sym || m.own) return sym;
  struct link_map* lm = nullptr;
  Dl_info info{};
  if (dlinfo(m.dl, RTLD_DI_LINKMAP, &lm) != 0 || !lm || dladdr(sym, &info) == 0) return sym;
  return info.dli_fbase == reinterpret_cast<void*>(lm->l_addr) ? sym : nullptr;
}

typedef BOOL (*DllMainFn)(HANDLE, DWORD, LPVOID);

// dlsym hands out code addresses as object pointers; on this platform the
// two have the same size and representation.
template <class Fn>
Fn CodeAddress(void* sym) {
  static_assert(sizeof(Fn) == sizeof(void*));
  Fn fn;
  std::memcpy(&fn, &sym, sizeof fn);
  return fn;
}

void CloseModule(const std::shared_ptr<Module>& m) {
  if (!m->dl) return;
  if (auto entry = CodeAddress<DllMainFn>(OwnSymbol(*m, "DllMain")))
    entry(reinterpret_cast<HANDLE>(m->handle), DLL_PROCESS_DETACH, nullptr);
  dlclose(m->dl);
  m->dl = nullptr;
}

HMODULE Load(LPCWSTR name, bool asData) {
  ResolvedPath rp;
  if (!ResolveModule(name, asData ? ERROR_FILE_NOT_FOUND : ERROR_MOD_NOT_FOUND, &rp)) return nullptr;
  const std::u16string key = rp.key + (asData ? u"|data" : u"|code");
  auto& t = T();
  {
    std::lock_guard<std::mutex> g(t.mu);
    for (auto& [h, m] : t.modules) {
      if (m->key == key) {
        ++m->refs;
        return m->handle;
      }
    }
  }

  auto m = std::make_shared<Module>();
  m->devicePath = rp.device;
  m->key = key;
  if (!LoadContainer(rp.host, true, m.get())) return nullptr;
  if (!asData) {
    if (!IsElf(rp.host)) {
      SetLastError(ERROR_BAD_EXE_FORMAT);
      return nullptr;
    }
    m->dl = dlopen(rp.host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m->dl) {
      SetLastError(ERROR_MOD_NOT_FOUND);  // a dependency or symbol is missing
      return nullptr;
    }
  }
  {
    std::lock_guard<std::mutex> g(t.mu);
    // Another thread may have loaded the same file meanwhile.
    for (auto& [h, other] : t.modules) {
      if (other->key == key) {
        ++other->refs;
        if (m->dl) dlclose(m->dl);
        return other->handle;
      }
    }
    m->handle = reinterpret_cast<HMODULE>(t.next | (asData ? 1 : 0));
    t.next += kHandleStep;
    t.modules[reinterpret_cast<uintptr_t>(m->handle)] = m;
  }
  if (m->dl) {
    if (auto entry = CodeAddress<DllMainFn>(OwnSymbol(*m, "DllMain"))) {
      if (!entry(reinterpret_cast<HANDLE>(m->handle), DLL_PROCESS_ATTACH, nullptr)) {
        {
          std::lock_guard<std::mutex> g(t.mu);
          t.modules.erase(reinterpret_cast<uintptr_t>(m->handle));
        }
        dlclose(m->dl);
        m->dl = nullptr;
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
      }
    }
  }
  return m->handle;
}

// Type or name argument: a number (MAKEINTRESOURCE or "#123") or a name.
struct ResKey {
  bool numbered = true;
  uint32_t id = 0;
  std::u16string name;  // ASCII upper case
};

ResKey ParseKey(LPCWSTR p) {
  ResKey k;
  if (IS_INTRESOURCE(p)) {
    k.id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
    return k;
  }
  std::u16string s(p);
  if (s.size() > 1 && s[0] == u'#') {
    uint32_t v = 0;
    bool digits = s.size() <= 6;
    for (size_t i = 1; i < s.size() && digits; ++i) {
      if (s[i] < u'0' || s[i] > u'9') digits = false;
      else v = v * 10 + (s[i] - u'0');
    }
    if (digits && v <= 0xFFFF) {
      k.id = v;
      return k;
    }
  }
  k.numbered = false;
  for (auto& c : s)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  k.name = std::move(s);
  return k;
}

bool Matches(const ResEntry& e, const ResKey& k) {
  return k.numbered ? e.name.empty() && e.id == k.id : e.name == k.name;
}

// languageMode: -1 = any (prefer en-US, then neutral); otherwise exact.
HRSRC FindIn(HMODULE h, LPCWSTR type, LPCWSTR name, int language) {
  if (!type || !name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto m = Find(h);
  if (!m) return nullptr;
  const ResKey t = ParseKey(type);
  const ResKey n = ParseKey(name);
  // Types are numbers only; a named type never matches.
  const ResEntry* best = nullptr;
  bool typeSeen = false, nameSeen = false;
  for (const auto& e : m->entries) {
    if (!t.numbered || e.type != t.id) continue;
    typeSeen = true;
    if (!Matches(e, n)) continue;
    nameSeen = true;
    if (language >= 0) {
      if (e.language == language) best = &e;
    } else if (!best || e.language == res::kDefaultLanguage ||
               (e.language == LANG_NEUTRAL && best->language != res::kDefaultLanguage)) {
      best = &e;
    }
    if (best && best->language == (language >= 0 ? language : res::kDefaultLanguage)) break;
  }
  if (!best) {
    SetLastError(!typeSeen ? ERROR_RESOURCE_TYPE_NOT_FOUND
                 : !nameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND
                             : ERROR_RESOURCE_LANG_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<ResEntry*>(best));
}

// The entry of r in module h; null with ERROR_INVALID_HANDLE otherwise.
std::shared_ptr<Module> CheckEntry(HMODULE h, HRSRC r, const ResEntry** out) {
  auto m = Find(h);
  if (!m) return nullptr;
  if (!r || !m->Owns(r)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  *out = reinterpret_cast<const ResEntry*>(r);
  return m;
}

}  // namespace

void SetResourceModule(HMODULE module) { g_resourceModule.store(module); }

HMODULE GetResourceModule() {
  HMODULE h = g_resourceModule.load();
  return h ? h : reinterpret_cast<HMODULE>(kOwnHandle);
}

}  // namespace ce

using namespace ce;

HMODULE LoadLibraryW(LPCWSTR name) { return Load(name, false); }

HMODULE LoadLibraryExW(LPCWSTR name, HANDLE hFile, DWORD flags) {
  if (hFile) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Load(name, (flags & (LOAD_LIBRARY_AS_DATAFILE | DONT_RESOLVE_DLL_REFERENCES)) != 0);
}

BOOL FreeLibrary(HMODULE module) {
  std::shared_ptr<Module> m;
  {
    auto& t = T();
    std::lock_guard<std::mutex> g(t.mu);
    const auto v = reinterpret_cast<uintptr_t>(module);
    if (v == kOwnHandle) return TRUE;
    auto it = t.modules.find(v);
    if (it == t.modules.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second->refs > 0) return TRUE;
    m = it->second;
    t.modules.erase(it);
  }
  CloseModule(m);
  return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  auto& t = T();
  std::lock_guard<std::mutex> g(t.mu);
  if (!name) return OwnModule()->handle;
  const std::u16string n = NormalizeName(name);
  const std::u16string own = OwnProgramPath();
  if (EqualNoCase(n, own) || EqualNoCase(n, FileNameOf(own))) return OwnModule()->handle;
  for (auto& [h, m] : t.modules) {
    if (m->own) continue;
    if (EqualNoCase(n, m->devicePath) || EqualNoCase(n, FileNameOf(m->devicePath))) return m->handle;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC GetProcAddressA(HMODULE module, LPCSTR procName) {
  auto m = Find(module);
  if (!m) return nullptr;
  if (!m->dl) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (IS_INTRESOURCE(procName) || !*procName) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* sym = OwnSymbol(*m, procName);
  if (!sym) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return CodeAddress<FARPROC>(sym);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
  if (IS_INTRESOURCE(procName)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  const std::string narrow = ToUtf8(procName);
  return GetProcAddressA(module, narrow.c_str());
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  std::u16string path;
  {
    auto m = Find(module);
    if (!m) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = m->own ? OwnProgramPath() : m->devicePath;
  }
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), (size - 1) * sizeof(WCHAR));
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.data(), path.size() * sizeof(WCHAR));
  buffer[path.size()] = 0;
  return static_cast<DWORD>(path.size());
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  return FindIn(module, type, name, -1);
}

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  return FindIn(module, type, name, language == LANG_NEUTRAL ? -1 : language);
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  const ResEntry* e = nullptr;
  auto m = CheckEntry(module, resource, &e);
  if (!m) return nullptr;
  return const_cast<char*>(m->container.data() + e->offset);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  const ResEntry* e = nullptr;
  return CheckEntry(module, resource, &e) ? e->size : 0;
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
  if (!buffer || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (size > 0) buffer[0] = 0;
  if (id > 0xFFFF) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  HRSRC r = FindIn(module, RT_STRING, MAKEINTRESOURCE(id), -1);
  if (!r) return 0;
  const ResEntry* e = reinterpret_cast<const ResEntry*>(r);
  auto m = Find(module);
  if (!m) return 0;
  auto text = reinterpret_cast<LPCWSTR>(m->container.data() + e->offset);
  const int length = static_cast<int>(e->size / sizeof(WCHAR)) - 1;
  if (size == 0) {
    *reinterpret_cast<LPCWSTR*>(buffer) = text;
    return length;
  }
  const int n = length < size - 1 ? length : size - 1;
  std::memcpy(buffer, text, n * sizeof(WCHAR));
  buffer[n] = 0;
  return n;
}
