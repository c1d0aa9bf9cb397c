#include "core/RegistrySettings.h"

#include <algorithm>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "core/ProductSettings.h"

namespace {

// KEY_ALL_ACCESS as the device spells it: read and write.
constexpr DWORD kReadWriteAccess = 0x2001F;

bool IsEmpty(LPCWSTR s) { return s == nullptr || *s == 0; }

}  // namespace

ARegistrySettings::ARegistrySettings(LPCWSTR folder, int kind, LPCWSTR subkey) : root(kRoot) {
  ARegistrySettings::Open(folder, kind, subkey);
}

ARegistrySettings::~ARegistrySettings() { CloseKey(); }

void ARegistrySettings::CloseKey() {
  if (key != nullptr) RegCloseKey(key);
  key = nullptr;
  isOpen = false;
}

CString ARegistrySettings::ComposeKeyPath(LPCWSTR folder, int kind) {
  CString productFolder = folder != nullptr ? folder : u"";
  if (!productFolder.IsEmpty() && productFolder[0] != u'\\') productFolder = u"\\" + productFolder;
  CString root(kRoot);
  switch (kind) {
    case kSettingsKeyKind:
      return root + productFolder + u"\\" + u"Settings";
    case kConfigKeyKind:
      return root + productFolder + u"\\Config";
    case kRootKeyKind:
      return root;
    case kSharedKeyKind:
      return root + u"\\" + u"Shared";
    case kMachinePathKind:
    case kUserPathKind:
      return folder != nullptr ? CString(folder) : CString();
    default:
      return CString(u"Default");
  }
}

HKEY ARegistrySettings::HiveOfKind(int kind) {
  return kind == kUserPathKind ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

bool ARegistrySettings::Open(LPCWSTR folder, int kind, LPCWSTR subkey) {
  CString path = ComposeKeyPath(folder, kind);
  if (!IsEmpty(subkey)) path += CString(u"\\") + subkey;
  if (OpenKey(path, kind)) {
    isOpen = true;
    return true;
  }
  // Never leave an earlier key in place: reads and writes would reach the
  // wrong key.
  CloseKey();
  return false;
}

bool ARegistrySettings::OpenKey(LPCWSTR path, int kind) {
  HKEY newKey = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExW(HiveOfKind(kind), path, 0, nullptr, 0, kReadWriteAccess, nullptr,
                            &newKey, &disposition);
  if (rc != ERROR_SUCCESS || newKey == nullptr) return false;
  CloseKey();
  key = newKey;
  return true;
}

bool ARegistrySettings::ReadDWORD(LPCWSTR name, DWORD& value) {
  if (!isOpen) return false;
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
      ERROR_SUCCESS)
    return false;
  if (type != REG_DWORD || size != sizeof(data)) return false;
  value = data;
  return true;
}

bool ARegistrySettings::ReadString(LPCWSTR name, CString& value, int maxChars) {
  if (!isOpen) return false;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // Room for the stored bytes plus a terminator, whatever the stored size.
  std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 2, 0);
  DWORD got = size;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) !=
      ERROR_SUCCESS)
    return false;
  size_t chars = std::min<size_t>(got / sizeof(WCHAR), buffer.size() - 1);
  size_t len = 0;
  while (len < chars && buffer[len] != 0) ++len;
  if (maxChars >= 0 && len > static_cast<size_t>(maxChars)) len = static_cast<size_t>(maxChars);
  value = CString(buffer.data(), static_cast<int>(len));
  return true;
}

bool ARegistrySettings::ReadBool(LPCWSTR name, bool& value) {
  DWORD data = 0;
  if (!ReadDWORD(name, data)) return false;
  value = data != 0;
  return true;
}

bool ARegistrySettings::WriteDWORD(LPCWSTR name, DWORD value) {
  if (!isOpen) return false;
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value)) == ERROR_SUCCESS;
}

bool ARegistrySettings::WriteString(LPCWSTR name, LPCWSTR text) {
  if (!isOpen) return false;
  if (text == nullptr) text = u"";
  DWORD bytes = static_cast<DWORD>((ce::StrLen(text) + 1) * sizeof(WCHAR));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
         ERROR_SUCCESS;
}

bool ARegistrySettings::WriteBool(LPCWSTR name, bool value) { return WriteDWORD(name, value ? 1 : 0); }

bool ARegistrySettings::WriteBinary(LPCWSTR name, const BYTE* bytes, DWORD length) {
  if (!isOpen) return false;
  return RegSetValueExW(key, name, 0, REG_BINARY, bytes, length) == ERROR_SUCCESS;
}

BYTE* ARegistrySettings::ReadBinary(LPCWSTR name, DWORD& length) {
  if (!isOpen) return nullptr;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return nullptr;
  // At least one byte so that an empty value still yields a buffer.
  BYTE* buffer = new BYTE[size > 0 ? size : 1];
  DWORD got = size;
  if (RegQueryValueExW(key, name, nullptr, &type, buffer, &got) != ERROR_SUCCESS) {
    delete[] buffer;
    return nullptr;
  }
  length = got;
  return buffer;
}

bool ARegistrySettings::GetDWORD(LPCWSTR name, DWORD& value, DWORD defaultValue) {
  if (!ReadDWORD(name, value)) value = defaultValue;
  return true;
}

bool ARegistrySettings::GetBool(LPCWSTR name, bool& value, bool defaultValue) {
  if (!ReadBool(name, value)) value = defaultValue;
  return true;
}

bool ARegistrySettings::GetString(LPCWSTR name, CString& value, LPCWSTR defaultValue,
                                  int maxChars) {
  if (!ReadString(name, value, maxChars)) value = defaultValue != nullptr ? defaultValue : u"";
  return true;
}

bool ARegistrySettings::DeleteKey(LPCWSTR subkey) {
  if (!isOpen) return false;
  return RegDeleteKeyW(key, subkey) == ERROR_SUCCESS;
}

bool ARegistrySettings::DeleteValue(LPCWSTR name) {
  if (!isOpen) return false;
  return RegDeleteValueW(key, name) == ERROR_SUCCESS;
}

ABackupRegistrySettings::ABackupRegistrySettings(int kind, LPCWSTR subkey)
    : ARegistrySettings(GetInstallFolderName(), kind, subkey) {}

ABackupRegistrySettings::~ABackupRegistrySettings() = default;

bool ABackupRegistrySettings::Reopen(int kind, LPCWSTR subkey) {
  return Open(GetInstallFolderName(), kind, subkey);
}
