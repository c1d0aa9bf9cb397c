// The boot-time actions: file copies, registry hive replacements and
// registry values that can only be done while no program holds them. The
// components queue them during an operation; Apply writes them under the
// RebootActionsKey and puts the boot-time action runner into the boot
// launch list just before the device is reset. Registry forms:
// formats/RebootActionsFormat.h. Log lines carry the class "RebootActions".
#pragma once

#include <string>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"
#include "formats/RebootActionsFormat.h"

// One copy-file action.
struct RebootAction {
  enum Kind : uint8_t {
    kBackupCopy = 0,   // copy the actual file to the backup path at boot
    kRestoreCopy = 1,  // copy the backup path over the actual file, then delete it
  };
  uint8_t kind = kBackupCopy;
  std::u16string actualPath;
  std::u16string backupPath;
  DWORD attributes = 0;  // of the file the copy creates
};

// One registry-value action: set keyName\valueName below rootKey.
struct RebootRegistryValue {
  HKEY rootKey = nullptr;
  std::u16string keyName;
  std::u16string valueName;
  DWORD type = 0;
  std::vector<BYTE> data;  // data.size() is the data size
};

class RebootActions {
 public:
  // The program's single queue, created on first use.
  static RebootActions& Instance();

  RebootActions() = default;
  RebootActions(const RebootActions&) = delete;
  RebootActions& operator=(const RebootActions&) = delete;

  // Queues a copy of a file in use to backupPath at boot (kind 0).
  void AddBackupCopy(const CString& actualPath, const CString& backupPath, DWORD attributes);
  // Queues putting backupPath in place of actualPath at boot (kind 1).
  // Note the order: the restored copy first, then the file it replaces.
  void AddRestoreCopy(const CString& backupPath, const CString& actualPath, DWORD attributes);
  // Queues setting a registry value at boot; copies size bytes of data.
  void AddRegistryValue(HKEY rootKey, const CString& keyName, const CString& valueName, DWORD type,
                        const BYTE* data, DWORD size);
  // Hive files that replace the running hives at boot (empty: none).
  void SetHklmPath(const CString& path) { hklmPath = path.str(); }
  void SetHkcuPath(const CString& path) { hkcuPath = path.str(); }

  // A hive path is set or a restore copy is queued: the boot changes what
  // the running system holds.
  bool HasPending() const;

  // Writes every queued action under the RebootActionsKey (subkeys
  // "CopyFile"/"SetRegValue" + index in queue order, "HklmPath" and
  // "HkcuPath" when set), takes away entries an earlier, never carried out
  // Apply left beyond them, and adds "QuilmoInit.exe" to the boot launch
  // list after "device.exe" (later entries wait for it when a copy or a
  // hive path was written). With nothing queued it touches nothing. False
  // with a log line at the first failure; what was written stays.
  [[nodiscard]] bool Apply();

  // RootKey code of a registry root: 1 HKEY_LOCAL_MACHINE, 2 HKEY_USERS,
  // 3 HKEY_CURRENT_USER, 4 HKEY_CLASSES_ROOT, else 0xFFFFFFFF (-1).
  static DWORD ToRootKeyCode(HKEY root);

  // Drops everything queued (copies, registry values, hive paths).
  void Clear();

  const std::vector<RebootAction>& CopyActions() const { return copyActions; }
  const std::u16string& HklmPath() const { return hklmPath; }
  const std::u16string& HkcuPath() const { return hkcuPath; }

 private:
  bool WriteCopyAction(HKEY parent, size_t index, const RebootAction& action);
  bool WriteRegistryValue(HKEY parent, size_t index, const RebootRegistryValue& action);
  bool RemoveLeftovers(HKEY parent);

  std::vector<RebootAction> copyActions;
  std::u16string hklmPath;
  std::u16string hkcuPath;
  std::vector<RebootRegistryValue> registryValues;
};
