#include "tools/pkginstall/Installer.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/module.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/text.h"
#include "setup/SetupHooks.h"
#include "tools/pkginstall/Package.h"
#include "tools/pkginstall/PackageFormat.h"

namespace pkg {

namespace fmt = PackageFormat;
namespace hooks = SetupHooks;

namespace {

std::string U8(const std::u16string& s) { return ce::ToUtf8(s); }
std::string ErrorText(DWORD code) { return ce::DescribeError(code); }

bool Exists(const std::u16string& path) { return GetFileAttributesW(path.c_str()) != 0xFFFFFFFFu; }
bool IsFolder(const std::u16string& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != 0xFFFFFFFFu && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::u16string ParentOf(const std::u16string& path) {
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos || slash == 0 ? std::u16string() : path.substr(0, slash);
}

std::optional<std::string> ReadWholeFile(const std::u16string& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string data;
  std::vector<char> buf(65536);
  DWORD got = 0;
  bool ok;
  while ((ok = ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) && got > 0)
    data.append(buf.data(), got);
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return data;
}

// A fresh file (the old one is deleted first, so a program or library
// still mapped from it keeps its own copy).
bool WriteWholeFile(const std::u16string& path, const std::string& data, DWORD attributes) {
  if (Exists(path)) {
    (void)SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) return false;
  }
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = data.empty() ||
            (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size());
  if (!CloseHandle(h)) ok = false;
  if (ok && attributes != FILE_ATTRIBUTE_NORMAL) ok = SetFileAttributesW(path.c_str(), attributes) != FALSE;
  return ok;
}

// Copies a package file over a target: refused (as the device refuses it)
// when the target is read-only.
bool CopyInto(const std::u16string& source, const std::u16string& target) {
  const DWORD a = GetFileAttributesW(target.c_str());
  if (a != 0xFFFFFFFFu && (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::optional<std::string> data = ReadWholeFile(source);
  return data && WriteWholeFile(target, *data, FILE_ATTRIBUTE_NORMAL);
}

// ---------------------------------------------------------------- registry

struct KeyPath {
  HKEY hive = nullptr;
  std::u16string path;
};

KeyPath SplitKey(const std::u16string& full) {
  KeyPath k;
  k.hive = full.rfind(u"HKCU\\", 0) == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  k.path = full.substr(5);
  return k;
}

struct SavedValue {
  std::u16string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct SavedKey {
  bool exists = false;
  std::vector<SavedValue> values;
  std::vector<std::pair<std::u16string, SavedKey>> subkeys;
};

bool ReadValue(HKEY key, const std::u16string& name, SavedValue* out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  out->name = name;
  out->type = type;
  out->data.resize(size);
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, out->data.data(), &size) != ERROR_SUCCESS) return false;
  out->data.resize(size);
  return true;
}

SavedKey SaveKey(HKEY hive, const std::u16string& path) {
  SavedKey saved;
  HKEY key = nullptr;
  if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return saved;
  saved.exists = true;
  WCHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = 256;
    if (RegEnumValueW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    SavedValue v;
    if (ReadValue(key, std::u16string(name, len), &v)) saved.values.push_back(std::move(v));
  }
  std::vector<std::u16string> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD len = 256;
    if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.emplace_back(name, len);
  }
  RegCloseKey(key);
  for (const auto& s : subkeys) saved.subkeys.emplace_back(s, SaveKey(hive, path + u"\\" + s));
  return saved;
}

bool WriteKey(HKEY hive, const std::u16string& path, const SavedKey& saved) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (const auto& v : saved.values)
    ok = RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size())) ==
             ERROR_SUCCESS &&
         ok;
  RegCloseKey(key);
  for (const auto& [name, sub] : saved.subkeys) ok = WriteKey(hive, path + u"\\" + name, sub) && ok;
  return ok;
}

// Puts a key tree back as it was saved (gone when it did not exist).
bool RestoreKey(HKEY hive, const std::u16string& path, const SavedKey& saved) {
  const LONG rc = RegDeleteKeyW(hive, path.c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
  return !saved.exists || WriteKey(hive, path, saved);
}

bool WriteRegEntry(const RegEntry& e) {
  const KeyPath k = SplitKey(e.key);
  HKEY key = nullptr;
  if (RegCreateKeyExW(k.hive, k.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG rc;
  if (e.type == fmt::kTypeDword) {
    const DWORD v = static_cast<DWORD>(std::stoul("0" + U8(e.data)));
    rc = RegSetValueExW(key, e.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  } else {
    rc = RegSetValueExW(key, e.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(e.data.c_str()),
                        static_cast<DWORD>((e.data.size() + 1) * sizeof(char16_t)));
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool KeyCreatable(const RegEntry& e) {
  const KeyPath k = SplitKey(e.key);
  HKEY key = nullptr;
  if (RegCreateKeyExW(k.hive, k.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void DeleteRegEntry(const RegEntry& e) {
  const KeyPath k = SplitKey(e.key);
  HKEY key = nullptr;
  if (RegOpenKeyExW(k.hive, k.path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  (void)RegDeleteValueW(key, e.name.c_str());  // a value already gone is what removal wants
  RegCloseKey(key);
}

// ---------------------------------------------------------------- what an install saves

struct SavedFile {
  std::u16string path;
  bool existed = false;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  std::string data;
};

struct SavedRegValue {
  RegEntry entry;
  bool existed = false;
  SavedValue value;
};

// The device's state an install may change, taken before the setup
// library is first called.
struct Snapshot {
  std::vector<std::pair<std::u16string, SavedKey>> keys;
  std::vector<SavedRegValue> values;
  std::vector<SavedFile> files;
  std::vector<std::u16string> missingFolders;  // folders that did not exist, outermost first

  void SaveFile(const std::u16string& path) {
    for (const auto& f : files)
      if (ce::EqualNoCase(f.path, path)) return;
    SavedFile f;
    f.path = path;
    const DWORD a = GetFileAttributesW(path.c_str());
    if (a != 0xFFFFFFFFu && !(a & FILE_ATTRIBUTE_DIRECTORY)) {
      std::optional<std::string> data = ReadWholeFile(path);
      if (data) {
        f.existed = true;
        f.attributes = a & ~FILE_ATTRIBUTE_INROM;
        f.data = std::move(*data);
      }
    }
    files.push_back(std::move(f));
  }
  void NoteFolders(const std::u16string& path) {
    std::vector<std::u16string> chain;
    for (std::u16string p = path; !p.empty(); p = ParentOf(p)) chain.push_back(p);
    std::reverse(chain.begin(), chain.end());
    for (const auto& p : chain) {
      if (IsFolder(p)) continue;
      if (std::none_of(missingFolders.begin(), missingFolders.end(),
                       [&](const std::u16string& m) { return ce::EqualNoCase(m, p); }))
        missingFolders.push_back(p);
    }
  }

  // Puts everything back; false when a part could not be.
  bool Restore() const {
    bool ok = true;
    for (const auto& [full, saved] : keys) {
      const KeyPath k = SplitKey(full);
      ok = RestoreKey(k.hive, k.path, saved) && ok;
    }
    for (const auto& v : values) {
      if (v.existed) {
        const KeyPath k = SplitKey(v.entry.key);
        HKEY key = nullptr;
        if (RegCreateKeyExW(k.hive, k.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
          ok = RegSetValueExW(key, v.value.name.c_str(), 0, v.value.type, v.value.data.data(),
                              static_cast<DWORD>(v.value.data.size())) == ERROR_SUCCESS &&
               ok;
          RegCloseKey(key);
        } else {
          ok = false;
        }
      } else {
        DeleteRegEntry(v.entry);
      }
    }
    for (const auto& f : files) {
      if (f.existed) {
        ok = WriteWholeFile(f.path, f.data, f.attributes) && ok;
      } else if (Exists(f.path)) {
        (void)SetFileAttributesW(f.path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ok = DeleteFileW(f.path.c_str()) && ok;
      }
    }
    for (auto it = missingFolders.rbegin(); it != missingFolders.rend(); ++it)
      if (IsFolder(*it)) (void)RemoveDirectoryW(it->c_str());  // one the user filled meanwhile stays
    return ok;
  }
};

// ---------------------------------------------------------------- setup library

class SetupLibrary {
 public:
  SetupLibrary() = default;
  ~SetupLibrary() { Free(); }
  SetupLibrary(const SetupLibrary&) = delete;
  SetupLibrary& operator=(const SetupLibrary&) = delete;

  bool Load(const std::u16string& path) {
    module_ = LoadLibraryW(path.c_str());
    return module_ != nullptr;
  }
  void Free() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }
  template <class Fn>
  Fn Entry(const char* name) const {
    return module_ ? reinterpret_cast<Fn>(GetProcAddress(module_, name)) : nullptr;
  }

 private:
  HMODULE module_ = nullptr;
};

std::u16string RecordFolder(const std::u16string& name) { return std::u16string(fmt::kRecordRoot) + u"\\" + name; }

bool MakeFolderChain(const std::u16string& folder, std::vector<std::u16string>* made) {
  if (folder.empty() || IsFolder(folder)) return true;
  if (!MakeFolderChain(ParentOf(folder), made)) return false;
  if (!CreateDirectoryW(folder.c_str(), nullptr)) return GetLastError() == ERROR_ALREADY_EXISTS;
  if (made) made->push_back(folder);
  return true;
}

bool ReadManifestFile(const std::u16string& path, Manifest* m, const Report& report) {
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) {
    report(U8(path) + ": cannot read (" + ErrorText(GetLastError()) + ")");
    return false;
  }
  std::string error;
  if (!ParseManifest(*text, m, &error)) {
    report(U8(path) + ": " + error);
    return false;
  }
  return true;
}

struct Counts {
  WORD folders = 0, files = 0, keys = 0, values = 0, shortcuts = 0;
  bool Any() const { return folders || files || keys || values || shortcuts; }
};

template <class T, class Same>
void AddUnique(std::vector<T>* list, const T& item, Same same) {
  if (std::none_of(list->begin(), list->end(), [&](const T& x) { return same(x, item); })) list->push_back(item);
}

// The install's own work between the hooks: folders, files, values,
// shortcuts; failures are counted and reported, the rest goes on.
Counts PlaceEverything(const std::u16string& packageFolder, const Manifest& m, Manifest* record,
                       const Report& report) {
  Counts c;
  std::vector<std::u16string> made;
  if (!MakeFolderChain(m.folder, &made)) {
    report("cannot make the folder " + U8(m.folder) + " (" + ErrorText(GetLastError()) + ")");
    ++c.folders;
  }
  for (const auto& f : m.files) {
    if (!MakeFolderChain(ParentOf(f.target), &made)) {
      report("cannot make the folder " + U8(ParentOf(f.target)) + " (" + ErrorText(GetLastError()) + ")");
      ++c.folders;
      ++c.files;
      continue;
    }
    if (!CopyInto(packageFolder + u"\\" + f.source, f.target)) {
      report("cannot copy " + U8(f.source) + " to " + U8(f.target) + " (" + ErrorText(GetLastError()) + ")");
      ++c.files;
      continue;
    }
    report("copied " + U8(f.source) + " to " + U8(f.target));
    AddUnique(&record->files, FileEntry{u"", f.target},
              [](const FileEntry& a, const FileEntry& b) { return ce::EqualNoCase(a.target, b.target); });
  }
  for (const auto& v : m.values) {
    if (!KeyCreatable(v)) {
      report("cannot make the key " + U8(v.key));
      ++c.keys;
      continue;
    }
    if (!WriteRegEntry(v)) {
      report("cannot write " + U8(v.key) + " " + U8(v.name));
      ++c.values;
      continue;
    }
    AddUnique(&record->values, v, [](const RegEntry& a, const RegEntry& b) {
      return ce::EqualNoCase(a.key, b.key) && ce::EqualNoCase(a.name, b.name);
    });
  }
  for (const auto& s : m.shortcuts) {
    if (Exists(s.path)) (void)DeleteFileW(s.path.c_str());  // replaced below; a failure shows there
    if (!MakeFolderChain(ParentOf(s.path), &made) || !SHCreateShortcut(s.path.c_str(), s.target.c_str())) {
      report("cannot make the shortcut " + U8(s.path) + " (" + ErrorText(GetLastError()) + ")");
      ++c.shortcuts;
      continue;
    }
    AddUnique(&record->shortcuts, s,
              [](const ShortcutEntry& a, const ShortcutEntry& b) { return ce::EqualNoCase(a.path, b.path); });
  }
  for (const auto& d : made)
    AddUnique(&record->madeFolders, d, [](const std::u16string& a, const std::u16string& b) {
      return ce::EqualNoCase(a, b);
    });
  return c;
}

Snapshot TakeSnapshot(const Manifest& m, const std::u16string& recordFolder) {
  Snapshot s;
  for (const auto* list : {&m.keys, &m.guardKeys}) {
    for (const auto& k : *list) {
      const KeyPath kp = SplitKey(k);
      s.keys.emplace_back(k, SaveKey(kp.hive, kp.path));
    }
  }
  for (const auto& v : m.values) {
    SavedRegValue saved;
    saved.entry = v;
    const KeyPath kp = SplitKey(v.key);
    HKEY key = nullptr;
    if (RegOpenKeyExW(kp.hive, kp.path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      saved.existed = ReadValue(key, v.name, &saved.value);
      RegCloseKey(key);
    }
    s.values.push_back(std::move(saved));
  }
  for (const auto& g : m.guards) s.SaveFile(g);
  for (const auto& f : m.files) s.SaveFile(f.target);
  for (const auto& sc : m.shortcuts) s.SaveFile(sc.path);
  s.SaveFile(recordFolder + u"\\" + fmt::kSetupCopyName);
  s.SaveFile(recordFolder + u"\\" + fmt::kRecordName);
  s.NoteFolders(recordFolder);
  s.NoteFolders(m.folder);
  for (const auto& f : m.files) s.NoteFolders(ParentOf(f.target));
  for (const auto& sc : m.shortcuts) s.NoteFolders(ParentOf(sc.path));
  return s;
}

InstallResult Undo(const Snapshot& snapshot, InstallResult result, const Report& report) {
  if (!snapshot.Restore()) report("the device could not be put back as it was in every part");
  return result;
}

}  // namespace

InstallResult InstallPackage(const std::u16string& packageFolder, HWND parent, const Report& report) {
  Manifest m;
  if (!ReadManifestFile(packageFolder + u"\\" + fmt::kManifestNameW, &m, report)) return kFailed;
  const std::u16string recordFolder = RecordFolder(m.name);
  const std::u16string recordPath = recordFolder + u"\\" + fmt::kRecordName;
  const std::u16string setupCopy = recordFolder + u"\\" + fmt::kSetupCopyName;

  Manifest record;
  const bool previouslyInstalled = Exists(recordPath);
  if (previouslyInstalled && !ReadManifestFile(recordPath, &record, report)) return kFailed;
  record.name = m.name;
  record.folder = m.folder;
  for (const auto& k : m.keys)
    AddUnique(&record.keys, k, [](const std::u16string& a, const std::u16string& b) {
      return ce::EqualNoCase(a, b);
    });

  const Snapshot snapshot = TakeSnapshot(m, recordFolder);
  report("installing " + U8(m.name) + " into " + U8(m.folder) + (previouslyInstalled ? " (installed before)" : ""));

  SetupLibrary setup;
  if (!m.setup.empty()) {
    std::vector<std::u16string> made;
    if (!MakeFolderChain(recordFolder, &made) || !CopyInto(packageFolder + u"\\" + m.setup, setupCopy)) {
      report("cannot place the setup library " + U8(m.setup) + " (" + ErrorText(GetLastError()) + ")");
      return Undo(snapshot, kFailed, report);
    }
    if (!setup.Load(setupCopy)) {
      report("cannot load the setup library " + U8(m.setup) + " (" + ErrorText(GetLastError()) + ")");
      return Undo(snapshot, kFailed, report);
    }
    record.setup = setupCopy;
  }

  if (auto init = setup.Entry<hooks::InstallInitFn>(hooks::kInstallInit)) {
    if (init(parent, TRUE, previouslyInstalled, m.folder.c_str()) != hooks::kInstallInitContinue) {
      setup.Free();
      report("the setup library cancelled the install");
      return Undo(snapshot, kCancelled, report);
    }
  }

  const Counts failed = PlaceEverything(packageFolder, m, &record, report);

  if (auto exit = setup.Entry<hooks::InstallExitFn>(hooks::kInstallExit)) {
    if (exit(parent, m.folder.c_str(), failed.folders, failed.files, failed.keys, failed.values,
             failed.shortcuts) != hooks::kInstallExitDone) {
      setup.Free();
      report("the setup library asked to undo the install");
      return Undo(snapshot, kRolledBack, report);
    }
  }
  setup.Free();

  std::vector<std::u16string> made;
  if (!MakeFolderChain(recordFolder, &made) || !WriteWholeFile(recordPath, FormatManifest(record), FILE_ATTRIBUTE_NORMAL)) {
    report("cannot write the install record " + U8(recordPath) + " (" + ErrorText(GetLastError()) + ")");
    return Undo(snapshot, kFailed, report);
  }
  report("installed " + U8(m.name) + (failed.Any() ? " (some parts failed)" : ""));
  return kInstalled;
}

InstallResult UninstallPackage(const std::u16string& name, HWND parent, const Report& report) {
  const std::u16string recordFolder = RecordFolder(name);
  const std::u16string recordPath = recordFolder + u"\\" + fmt::kRecordName;
  Manifest record;
  if (!Exists(recordPath)) {
    report(U8(name) + " is not installed");
    return kFailed;
  }
  if (!ReadManifestFile(recordPath, &record, report)) return kFailed;

  SetupLibrary setup;
  if (!record.setup.empty() && !setup.Load(record.setup))
    report("cannot load the setup library " + U8(record.setup) + " (" + ErrorText(GetLastError()) + "); removing without it");
  if (auto init = setup.Entry<hooks::UninstallInitFn>(hooks::kUninstallInit)) {
    if (init(parent, record.folder.c_str()) != hooks::kUninstallInitContinue) {
      report("the setup library refused the removal");
      return kRefused;
    }
  }

  for (const auto& f : record.files) {
    (void)SetFileAttributesW(f.target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(f.target.c_str()))
      report("removed " + U8(f.target));
    else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
      report("cannot remove " + U8(f.target) + " (" + ErrorText(GetLastError()) + ")");
  }
  for (const auto& s : record.shortcuts) (void)DeleteFileW(s.path.c_str());  // one already gone is fine
  for (const auto& v : record.values) DeleteRegEntry(v);
  for (const auto& k : record.keys) {
    const KeyPath kp = SplitKey(k);
    (void)RegDeleteKeyW(kp.hive, kp.path.c_str());  // a key already gone is fine
  }

  if (auto exit = setup.Entry<hooks::UninstallExitFn>(hooks::kUninstallExit)) (void)exit(parent);  // always 0
  setup.Free();

  // Folders the install made go when nothing else lives in them (the
  // user's images and history stay, and their folders with them).
  std::vector<std::u16string> folders = record.madeFolders;
  std::sort(folders.begin(), folders.end(),
            [](const std::u16string& a, const std::u16string& b) { return a.size() > b.size(); });
  if (!record.setup.empty()) (void)DeleteFileW(record.setup.c_str());
  (void)DeleteFileW(recordPath.c_str());
  for (const auto& d : folders) (void)RemoveDirectoryW(d.c_str());
  (void)RemoveDirectoryW(recordFolder.c_str());
  report("removed " + U8(name));
  return kInstalled;
}

}  // namespace pkg
