#include "core/OptionHandlers.h"

#include <algorithm>

#include "ce/file.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"

namespace {

constexpr const WCHAR* kBitFieldValue = u"dwBackupOptionsBitField";
constexpr const WCHAR* kManageSizeValue = u"bManageFileSize";
constexpr const WCHAR* kManageSizeSizeValue = u"dwManageFileSizeSize";
constexpr const WCHAR* kManageQuantityValue = u"bManageFileQuantity";
constexpr const WCHAR* kManageQuantityQuantityValue = u"dwManageFileQuantityQuantity";

constexpr const WCHAR* kRestoreKillValue = u"bRestoreKill";
constexpr const WCHAR* kHandleMenuValue = u"bHandleMenu";
constexpr const WCHAR* kNonDestructiveValue = u"bNonDestructiveRestore";
constexpr const WCHAR* kNewDeviceValue = u"bNewDeviceRestore";

constexpr const WCHAR* kHostNameValue = u"csHostName";
constexpr const WCHAR* kPortValue = u"dwPort";
constexpr const WCHAR* kUseDefaultPortValue = u"bUseDefaultPort";
constexpr const WCHAR* kRemoteEnabledValue = u"bRemoteEnabled";
constexpr const WCHAR* kMethodValue = u"bMethod";
constexpr const WCHAR* kDefaultHostName = u"ppp_peer";

constexpr const WCHAR* kCloseAllowedValue = u"bCloseAllowed";

// Reads a flag as 0 or 1 into word; false (word untouched) when missing.
bool ReadFlag(ARegistrySettings& settings, LPCWSTR name, DWORD& word) {
  bool value = false;
  if (!settings.ReadBool(name, value)) return false;
  word = value ? 1 : 0;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// ABackupOptionHandler

ABackupOptionHandler::ABackupOptionHandler() { SetDefaults(); }

bool ABackupOptionHandler::SetDefaults() {
  const bool cardVersion = GetBackupCardVersion();
  block_ = BackupOptionsBlock{};
  DWORD* o = block_.options;
  o[kOptionClosePrograms] = 1;
  o[kOptionCompress] = 1;
  o[kOptionEncrypt] = 1;
  o[kOptionExcludeImages] = 1;
  o[kOptionExcludePrograms] = 0;
  o[kOptionReserved5] = 0;
  o[kOptionExcludeCards] = cardVersion ? 0 : 1;
  o[kOptionAppendDate] = 1;
  o[kOptionCopyProgramToCard] = 0;
  o[kOptionApplyExclusions] = 1;
  o[kOptionReclaimSpace] = 0;
  return cardVersion;
}

DWORD ABackupOptionHandler::PackOptions() const {
  DWORD packed = 0;
  for (int i = 0; i < kBackupOptionCount; ++i) {
    if (block_.options[i] != 0) packed |= 1u << i;
  }
  return packed;
}

void ABackupOptionHandler::UnpackOptions(DWORD packed) {
  for (int i = 0; i < kBackupOptionCount; ++i) block_.options[i] = (packed >> i) & 1u;
}

bool ABackupOptionHandler::IsOptionOn(int index) const {
  return index >= 0 && index < kBackupOptionCount && block_.options[index] != 0;
}

void ABackupOptionHandler::SetOptionOn(int index, bool on) {
  if (index >= 0 && index < kBackupOptionCount) block_.options[index] = on ? 1 : 0;
}

bool ABackupOptionHandler::Load() {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  DWORD packed = 0;
  if (!settings.ReadDWORD(kBitFieldValue, packed)) return false;
  UnpackOptions(packed);
  if (!ReadFlag(settings, kManageSizeValue, block_.manageFileSize)) return false;
  if (!settings.ReadDWORD(kManageSizeSizeValue, block_.manageFileSizeSize)) return false;
  if (!ReadFlag(settings, kManageQuantityValue, block_.manageFileQuantity)) return false;
  return settings.ReadDWORD(kManageQuantityQuantityValue, block_.manageFileQuantityQuantity);
}

bool ABackupOptionHandler::Save() const {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  return settings.WriteDWORD(kBitFieldValue, PackOptions()) &&
         settings.WriteBool(kManageSizeValue, block_.manageFileSize != 0) &&
         settings.WriteDWORD(kManageSizeSizeValue, block_.manageFileSizeSize) &&
         settings.WriteBool(kManageQuantityValue, block_.manageFileQuantity != 0) &&
         settings.WriteDWORD(kManageQuantityQuantityValue, block_.manageFileQuantityQuantity);
}

void ABackupOptionHandler::SetCompression(bool on) {
  block_.options[kOptionCompress] = on ? 1 : 0;
  if (levelHook_) levelHook_(on ? 1 : 0);
}

DWORD ABackupOptionHandler::ClampManageLimit(DWORD value) {
  return std::clamp(value, kManageLimitMin, kManageLimitMax);
}

// ---------------------------------------------------------------------------
// ARestoreOptionHandler

void ARestoreOptionHandler::SetDefaults(bool toolhelpAvailable) {
  restoreKill_ = toolhelpAvailable ? 1 : 0;
  handleMenu_ = 1;
  nonDestructive_ = 1;
  newDevice_ = 0;
}

bool ARestoreOptionHandler::Load() {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  return ReadFlag(settings, kRestoreKillValue, restoreKill_) &&
         ReadFlag(settings, kHandleMenuValue, handleMenu_) &&
         ReadFlag(settings, kNonDestructiveValue, nonDestructive_) &&
         ReadFlag(settings, kNewDeviceValue, newDevice_);
}

bool ARestoreOptionHandler::Save() const {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  return settings.WriteBool(kRestoreKillValue, restoreKill_ != 0) &&
         settings.WriteBool(kHandleMenuValue, handleMenu_ != 0) &&
         settings.WriteBool(kNonDestructiveValue, nonDestructive_ != 0) &&
         settings.WriteBool(kNewDeviceValue, newDevice_ != 0);
}

bool ARestoreOptionHandler::ToolhelpLibraryExists() {
  return GetFileAttributesW(u"\\windows\\toolhelp.dll") != INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------------------
// ARemoteOptionHandler

void ARemoteOptionHandler::SetDefaults() {
  hostName_ = kDefaultHostName;
  port_ = GetDefaultHostPort();
  useDefaultPort_ = true;
  remoteEnabled_ = false;
  method_ = true;
}

void ARemoteOptionHandler::SetHostName(const CString& name) {
  hostName_ = name.GetLength() > kHostNameMax ? name.Left(kHostNameMax) : name;
}

bool ARemoteOptionHandler::Load() {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  settings.GetString(kHostNameValue, hostName_, kDefaultHostName, kHostNameMax);
  settings.GetDWORD(kPortValue, port_, GetDefaultHostPort());
  settings.GetBool(kUseDefaultPortValue, useDefaultPort_, true);
  settings.GetBool(kRemoteEnabledValue, remoteEnabled_, false);
  settings.GetBool(kMethodValue, method_, true);
  return true;
}

bool ARemoteOptionHandler::Save() const {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  return settings.WriteString(kHostNameValue, hostName_) &&
         settings.WriteBool(kUseDefaultPortValue, useDefaultPort_) &&
         settings.WriteDWORD(kPortValue, port_) &&
         settings.WriteBool(kRemoteEnabledValue, remoteEnabled_) &&
         settings.WriteBool(kMethodValue, method_);
}

DWORD ARemoteOptionHandler::ClampPort(DWORD port) { return std::clamp(port, kPortMin, kPortMax); }

// ---------------------------------------------------------------------------
// ACloseSignal

bool ACloseSignal::IsCloseAllowed() const {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  bool allowed = true;
  settings.GetBool(kCloseAllowedValue, allowed, true);
  return allowed;
}

bool ACloseSignal::SetCloseAllowed(bool allowed) const {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  bool stored = true;
  if (!settings.ReadBool(kCloseAllowedValue, stored)) stored = true;
  if (stored == allowed) return true;
  return settings.WriteBool(kCloseAllowedValue, allowed);
}
