// Typed access to one registry key below "SOFTWARE\Quilmo Software".
//
// A settings object opens (creating when missing) the key chosen by a key
// kind, a product folder and an optional subkey, and keeps it open until it
// is destroyed or reopened. Nothing here logs: failures come back as false
// (or null) and the caller decides. A failed open leaves the object usable:
// reads report a missing value, getters yield their defaults, writes fail.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"

// Key kinds and the key each opens (folder: the product folder given to the
// constructor, with a leading backslash added when missing):
enum RegistryKeyKind {
  kSettingsKeyKind = 0,  // HKLM root + folder + "\Settings"
  kConfigKeyKind = 1,    // HKLM root + folder + "\Config"
  kRootKeyKind = 2,      // HKLM root ("SOFTWARE\Quilmo Software")
  kSharedKeyKind = 3,    // HKLM root + "\Shared" (folder unused)
  kMachinePathKind = 5,  // HKLM, the folder argument as a full key path
  kUserPathKind = 6,     // HKCU, the folder argument as a full key path
  // any other kind: HKLM "Default"
};

// The product's configuration key (kind 1), filled from the XML
// configuration and read by the product settings.
inline constexpr int ProductConfigKey = kConfigKeyKind;

// Default maximum length of a string read, in characters.
inline constexpr int kRegistryStringMax = MAX_PATH;

class ARegistrySettings {
 public:
  static constexpr const WCHAR* kRoot = u"SOFTWARE\\Quilmo Software";

  // Opens the key of the kind through Open (subkey may be null or empty).
  ARegistrySettings(LPCWSTR folder, int kind, LPCWSTR subkey = nullptr);
  virtual ~ARegistrySettings();
  ARegistrySettings(const ARegistrySettings&) = delete;
  ARegistrySettings& operator=(const ARegistrySettings&) = delete;

  // Composes the key path of the kind, appends "\" + subkey when the subkey
  // is not empty and opens it through OpenKey. On failure the object holds
  // no key (earlier key closed).
  virtual bool Open(LPCWSTR folder, int kind, LPCWSTR subkey);
  // Creates or opens path below the kind's hive with read/write access;
  // replaces (closes) the key held so far when the new one opens.
  virtual bool OpenKey(LPCWSTR path, int kind);
  // False when not open, missing, or not a 4-byte REG_DWORD.
  virtual bool ReadDWORD(LPCWSTR name, DWORD& value);
  // A REG_SZ/REG_EXPAND_SZ value, at most maxChars characters (the longer
  // stored text is cut); false when not open or missing.
  virtual bool ReadString(LPCWSTR name, CString& value, int maxChars = kRegistryStringMax);
  // A DWORD value; any non-zero value is true.
  virtual bool ReadBool(LPCWSTR name, bool& value);
  virtual bool WriteDWORD(LPCWSTR name, DWORD value);
  virtual bool WriteString(LPCWSTR name, LPCWSTR text);
  // Writes 1 or 0 through WriteDWORD.
  virtual bool WriteBool(LPCWSTR name, bool value);
  virtual bool WriteBinary(LPCWSTR name, const BYTE* bytes, DWORD length);
  // The value's bytes in a buffer allocated with new[]; the caller frees it
  // with delete[]. length receives the byte count. Null when not open,
  // missing or unreadable.
  virtual BYTE* ReadBinary(LPCWSTR name, DWORD& length);

  // Getters: the stored value, or the default when the read fails. They
  // always return true.
  bool GetDWORD(LPCWSTR name, DWORD& value, DWORD defaultValue);
  bool GetBool(LPCWSTR name, bool& value, bool defaultValue);
  bool GetString(LPCWSTR name, CString& value, LPCWSTR defaultValue,
                 int maxChars = kRegistryStringMax);

  // Delete a subkey (with everything below it) or a value of the open key.
  bool DeleteKey(LPCWSTR subkey);
  bool DeleteValue(LPCWSTR name);

  bool IsOpen() const { return isOpen; }
  // The key path (below its hive) of a kind and folder, without subkey.
  static CString ComposeKeyPath(LPCWSTR folder, int kind);
  // The hive of a kind: HKEY_CURRENT_USER for kind 6, else HKEY_LOCAL_MACHINE.
  static HKEY HiveOfKind(int kind);

 protected:
  void CloseKey();

  HKEY key = nullptr;
  bool isOpen = false;
  CString root;
};

// Settings of the main product: the folder is GetInstallFolderName()
// ("\Quilmo Backup").
class ABackupRegistrySettings : public ARegistrySettings {
 public:
  explicit ABackupRegistrySettings(int kind = kSettingsKeyKind, LPCWSTR subkey = nullptr);
  ~ABackupRegistrySettings() override;
  // Opens another key of the product folder in this object.
  bool Reopen(int kind, LPCWSTR subkey = nullptr);
};
