// Registry forms of the boot-time actions and of the boot launch list.
// Written by the main program before a reset, read by the boot-time action
// runner and the starter program. Data only.
#pragma once

#include "ce/registry.h"
#include "ce/types.h"

// HKEY_LOCAL_MACHINE "Software\Quilmo Software\RebootActions". Below it:
//   "CopyFile%u"    one copy-file action each, i = 0, 1, ... in queue order
//     "Operation"   REG_DWORD kOperationBackupCopy / kOperationRestoreCopy
//     "ActualPath"  REG_SZ
//     "BackupPath"  REG_SZ
//     "Attributes"  REG_DWORD, attributes of the file the copy creates
//   "SetRegValue%u" one registry-value action each, k = 0, 1, ...
//     "RootKey"     REG_DWORD root code (kRootKey...)
//     "KeyName"     REG_SZ, key path below the root
//     "ValueName"   REG_SZ
//     "Data"        the action's own type and bytes
//   "HklmPath"      REG_SZ, hive file to replace HKEY_LOCAL_MACHINE (only when set)
//   "HkcuPath"      REG_SZ, hive file to replace the user hive (only when set)
// Readers take the indices from 0 upward and stop at the first missing one.
struct RebootActionsKey {
  static inline const HKEY kRoot = HKEY_LOCAL_MACHINE;
  static constexpr const WCHAR* kPath = u"Software\\Quilmo Software\\RebootActions";

  static constexpr const WCHAR* kCopyFilePrefix = u"CopyFile";
  static constexpr const WCHAR* kSetRegValuePrefix = u"SetRegValue";
  // Subkey name: prefix followed by the index, decimal, no padding.
  static constexpr const WCHAR* kSubkeyFormat = u"%s%u";

  static constexpr const WCHAR* kOperation = u"Operation";
  static constexpr const WCHAR* kActualPath = u"ActualPath";
  static constexpr const WCHAR* kBackupPath = u"BackupPath";
  static constexpr const WCHAR* kAttributes = u"Attributes";
  static constexpr DWORD kOperationBackupCopy = 1;   // actual path -> backup path
  static constexpr DWORD kOperationRestoreCopy = 2;  // backup path -> actual path, then delete it

  static constexpr const WCHAR* kRootKey = u"RootKey";
  static constexpr const WCHAR* kKeyName = u"KeyName";
  static constexpr const WCHAR* kValueName = u"ValueName";
  static constexpr const WCHAR* kData = u"Data";
  static constexpr DWORD kRootKeyLocalMachine = 1;
  static constexpr DWORD kRootKeyUsers = 2;
  static constexpr DWORD kRootKeyCurrentUser = 3;
  static constexpr DWORD kRootKeyClassesRoot = 4;
  static constexpr DWORD kRootKeyOther = static_cast<DWORD>(-1);

  static constexpr const WCHAR* kHklmPath = u"HklmPath";
  static constexpr const WCHAR* kHkcuPath = u"HkcuPath";
};

// HKEY_LOCAL_MACHINE "init": the programs the platform starts at boot.
//   "Launch%d" REG_SZ     program path of launch number N (1..99)
//   "Depend%d" REG_BINARY 16-bit little-endian launch numbers N waits for
//                         (2 bytes each, 0 bytes for none)
struct InitLaunchEntries {
  static inline const HKEY kRoot = HKEY_LOCAL_MACHINE;
  static constexpr const WCHAR* kPath = u"init";
  static constexpr const WCHAR* kLaunchPrefix = u"Launch";
  static constexpr const WCHAR* kDependPrefix = u"Depend";
  static constexpr const WCHAR* kLaunchFormat = u"Launch%d";
  static constexpr const WCHAR* kDependFormat = u"Depend%d";
  static constexpr int kFirstNumber = 1;
  static constexpr int kLastNumber = 99;
  // Buffers of the enumeration: value names in characters, data in bytes.
  static constexpr DWORD kNameChars = 80;
  static constexpr DWORD kDataBytes = 256;
};
