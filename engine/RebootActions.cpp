#include "engine/RebootActions.h"

#include <algorithm>
#include <string_view>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/System.h"
#include "engine/InitLaunch.h"

namespace {

constexpr const WCHAR* kClass = u"RebootActions";
constexpr const WCHAR* kRunnerProgram = u"QuilmoInit.exe";
constexpr const WCHAR* kRunAfter = u"device.exe";

LONG SetDword(HKEY key, const WCHAR* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG SetString(HKEY key, const WCHAR* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

CString SubkeyName(const WCHAR* prefix, size_t index) {
  CString name;
  name.Format(RebootActionsKey::kSubkeyFormat, prefix, static_cast<unsigned>(index));
  return name;
}

// Closes a registry key when it goes out of scope.
class KeyHolder {
 public:
  ~KeyHolder() {
    if (key) RegCloseKey(key);
  }
  HKEY key = nullptr;
};

bool Failed(LONG rc, const WCHAR* text) {
  LogError(static_cast<DWORD>(rc), text, kClass, __LINE__);
  return false;
}

// The index of a subkey named prefix + decimal digits; -1 for other names.
long long IndexOf(std::u16string_view name, std::u16string_view prefix) {
  if (name.size() <= prefix.size() || !ce::EqualNoCase(name.substr(0, prefix.size()), prefix)) return -1;
  long long index = 0;
  for (char16_t c : name.substr(prefix.size())) {
    if (c < u'0' || c > u'9') return -1;
    index = std::min<long long>(index * 10 + (c - u'0'), 1LL << 40);
  }
  return index;
}

}  // namespace

RebootActions& RebootActions::Instance() {
  static RebootActions instance;
  return instance;
}

void RebootActions::AddBackupCopy(const CString& actualPath, const CString& backupPath, DWORD attributes) {
  copyActions.push_back({RebootAction::kBackupCopy, actualPath.str(), backupPath.str(), attributes});
}

void RebootActions::AddRestoreCopy(const CString& backupPath, const CString& actualPath, DWORD attributes) {
  copyActions.push_back({RebootAction::kRestoreCopy, actualPath.str(), backupPath.str(), attributes});
}

void RebootActions::AddRegistryValue(HKEY rootKey, const CString& keyName, const CString& valueName,
                                     DWORD type, const BYTE* data, DWORD size) {
  RebootRegistryValue action{rootKey, keyName.str(), valueName.str(), type, {}};
  if (data && size) action.data.assign(data, data + size);
  registryValues.push_back(std::move(action));
}

bool RebootActions::HasPending() const {
  if (!hklmPath.empty() || !hkcuPath.empty()) return true;
  for (const RebootAction& action : copyActions)
    if (action.kind == RebootAction::kRestoreCopy) return true;
  return false;
}

DWORD RebootActions::ToRootKeyCode(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return RebootActionsKey::kRootKeyLocalMachine;
  if (root == HKEY_USERS) return RebootActionsKey::kRootKeyUsers;
  if (root == HKEY_CURRENT_USER) return RebootActionsKey::kRootKeyCurrentUser;
  if (root == HKEY_CLASSES_ROOT) return RebootActionsKey::kRootKeyClassesRoot;
  return RebootActionsKey::kRootKeyOther;
}

bool RebootActions::WriteCopyAction(HKEY parent, size_t index, const RebootAction& action) {
  KeyHolder sub;
  LONG rc = RegCreateKeyExW(parent, SubkeyName(RebootActionsKey::kCopyFilePrefix, index), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &sub.key, nullptr);
  if (rc != ERROR_SUCCESS) return Failed(rc, u"Couldn't create key in registry");
  DWORD operation = action.kind == RebootAction::kRestoreCopy ? RebootActionsKey::kOperationRestoreCopy
                                                               : RebootActionsKey::kOperationBackupCopy;
  if ((rc = SetDword(sub.key, RebootActionsKey::kOperation, operation)) != ERROR_SUCCESS ||
      (rc = SetString(sub.key, RebootActionsKey::kActualPath, action.actualPath)) != ERROR_SUCCESS ||
      (rc = SetString(sub.key, RebootActionsKey::kBackupPath, action.backupPath)) != ERROR_SUCCESS ||
      (rc = SetDword(sub.key, RebootActionsKey::kAttributes, action.attributes)) != ERROR_SUCCESS)
    return Failed(rc, u"Couldn't set value in registry");
  return true;
}

bool RebootActions::WriteRegistryValue(HKEY parent, size_t index, const RebootRegistryValue& action) {
  KeyHolder sub;
  LONG rc = RegCreateKeyExW(parent, SubkeyName(RebootActionsKey::kSetRegValuePrefix, index), 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &sub.key, nullptr);
  if (rc != ERROR_SUCCESS) return Failed(rc, u"Couldn't create key in registry");
  static const BYTE kNone = 0;
  const BYTE* data = action.data.empty() ? &kNone : action.data.data();
  if ((rc = SetDword(sub.key, RebootActionsKey::kRootKey, ToRootKeyCode(action.rootKey))) != ERROR_SUCCESS ||
      (rc = SetString(sub.key, RebootActionsKey::kKeyName, action.keyName)) != ERROR_SUCCESS ||
      (rc = SetString(sub.key, RebootActionsKey::kValueName, action.valueName)) != ERROR_SUCCESS ||
      (rc = RegSetValueExW(sub.key, RebootActionsKey::kData, 0, action.type, data,
                           static_cast<DWORD>(action.data.size()))) != ERROR_SUCCESS)
    return Failed(rc, u"Couldn't set value in registry");
  return true;
}

// The runner carries out whatever it finds, so action subkeys beyond this
// write and hive paths no longer set (left by an Apply whose boot never
// ran the runner) must not stay.
bool RebootActions::RemoveLeftovers(HKEY parent) {
  std::vector<std::u16string> stale;
  WCHAR name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = 256;
    LONG rc = RegEnumKeyExW(parent, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) continue;  // longer than any action subkey name
    if (rc != ERROR_SUCCESS) return Failed(rc, u"Couldn't remove old actions in registry");
    std::u16string_view view(name, size);
    long long copy = IndexOf(view, RebootActionsKey::kCopyFilePrefix);
    long long value = IndexOf(view, RebootActionsKey::kSetRegValuePrefix);
    if ((copy >= 0 && static_cast<size_t>(copy) >= copyActions.size()) ||
        (value >= 0 && static_cast<size_t>(value) >= registryValues.size()))
      stale.emplace_back(view);
  }
  for (const std::u16string& key : stale) {
    LONG rc = RegDeleteKeyW(parent, key.c_str());
    if (rc != ERROR_SUCCESS) return Failed(rc, u"Couldn't remove old actions in registry");
  }
  const std::pair<const std::u16string*, const WCHAR*> hives[] = {
      {&hklmPath, RebootActionsKey::kHklmPath}, {&hkcuPath, RebootActionsKey::kHkcuPath}};
  for (const auto& [path, valueName] : hives) {
    if (!path->empty()) continue;
    LONG rc = RegDeleteValueW(parent, valueName);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
      return Failed(rc, u"Couldn't remove old actions in registry");
  }
  return true;
}

bool RebootActions::Apply() {
  if (copyActions.empty() && registryValues.empty() && hklmPath.empty() && hkcuPath.empty()) {
    Log(0, u"No reboot actions", kClass, __LINE__);
    return true;
  }
  Log(0, u"Setting up actions for reboot", kClass, __LINE__);

  KeyHolder parent;
  LONG rc = RegCreateKeyExW(RebootActionsKey::kRoot, RebootActionsKey::kPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &parent.key, nullptr);
  if (rc != ERROR_SUCCESS) return Failed(rc, u"Couldn't create parent key in registry");

  bool makeLaterWait = false;
  for (size_t i = 0; i < copyActions.size(); ++i) {
    if (!WriteCopyAction(parent.key, i, copyActions[i])) return false;
    makeLaterWait = true;
  }
  for (size_t k = 0; k < registryValues.size(); ++k)
    if (!WriteRegistryValue(parent.key, k, registryValues[k])) return false;

  if (!hklmPath.empty()) {
    if ((rc = SetString(parent.key, RebootActionsKey::kHklmPath, hklmPath)) != ERROR_SUCCESS)
      return Failed(rc, u"Couldn't set value in registry");
    makeLaterWait = true;
  }
  if (!hkcuPath.empty()) {
    if ((rc = SetString(parent.key, RebootActionsKey::kHkcuPath, hkcuPath)) != ERROR_SUCCESS)
      return Failed(rc, u"Couldn't set value in registry");
    makeLaterWait = true;
  }
  if (!RemoveLeftovers(parent.key)) return false;
  RegCloseKey(parent.key);
  parent.key = nullptr;
  // The actions count only once they survive the reset.
  if ((rc = RegFlushKey(HKEY_LOCAL_MACHINE)) != ERROR_SUCCESS) return Failed(rc, u"Couldn't flush registry");

  CString runner = System::GetQuilmoProgramPath(kRunnerProgram);
  if (!SetupInitLaunch(runner, {CString(kRunAfter)}, makeLaterWait, nullptr)) {
    LogError(0, u"Couldn't setup launch of QuilmoInit", kClass, __LINE__);
    return false;
  }
  return true;
}

void RebootActions::Clear() {
  copyActions.clear();
  registryValues.clear();
  hklmPath.clear();
  hkcuPath.clear();
}
