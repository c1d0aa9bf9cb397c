// The user's backup, restore and remote (desktop host) options, held in
// memory and moved to and from the product's "Settings" key
// (HKLM "SOFTWARE\Quilmo Software\Quilmo Backup\Settings"), and the
// "bCloseAllowed" signal of the same key. Nothing here logs: Load and Save
// report false and the caller logs.
#pragma once

#include <functional>

#include "ce/cstring.h"
#include "ce/types.h"

// Indexes of the eleven one-bit backup options (option i is bit i of the
// packed word "dwBackupOptionsBitField").
enum BackupOption {
  kOptionClosePrograms = 0,     // close running programs before the operation
  kOptionCompress = 1,          // compress entry data
  kOptionEncrypt = 2,           // protect the backup with a password
  kOptionExcludeImages = 3,     // exclude "pbf" files and "exe" backup images
  kOptionExcludePrograms = 4,   // exclude "exe" and "dll" files
  kOptionReserved5 = 5,         // stored and loaded, no effect of its own
  kOptionExcludeCards = 6,      // exclude storage cards from the file system
  kOptionAppendDate = 7,        // append "_%04d-%02d-%02d" to the file name
  kOptionCopyProgramToCard = 8, // copy the program files to the storage card
  kOptionApplyExclusions = 9,   // options 3, 4, 6 and the list apply only when on
  kOptionReclaimSpace = 10,     // delete old backup images before a backup
  kBackupOptionCount = 11,
};

// The backup options block: fifteen 32-bit words, copied whole by the option
// dialogs and the file management. Flags hold 0 or 1.
struct BackupOptionsBlock {
  DWORD options[kBackupOptionCount];
  DWORD manageFileSize;              // "bManageFileSize"
  DWORD manageFileSizeSize;          // "dwManageFileSizeSize" (MB)
  DWORD manageFileQuantity;          // "bManageFileQuantity"
  DWORD manageFileQuantityQuantity;  // "dwManageFileQuantityQuantity"
};
static_assert(sizeof(BackupOptionsBlock) == 15 * 4);

class ABackupOptionHandler {
 public:
  static constexpr DWORD kPackedMask = (1u << kBackupOptionCount) - 1;  // 0x7FF
  // Range of the file-management limits in the dialogs.
  static constexpr DWORD kManageLimitMin = 1;
  static constexpr DWORD kManageLimitMax = 1000;

  // Sets the defaults (reads the BackupCardVersion setting).
  ABackupOptionHandler();
  virtual ~ABackupOptionHandler() = default;

  // Defaults: options 0, 1, 2, 3, 6, 7, 9 on, the rest and the four
  // file-management words 0; in the storage-card edition option 6 is off.
  // Returns the BackupCardVersion setting.
  bool SetDefaults();

  // Options 0..10 as bits 0..10 (any non-zero option is a set bit).
  DWORD PackOptions() const;
  // Bits 0..10 into options 0..10 (0 or 1); higher bits are ignored.
  void UnpackOptions(DWORD packed);

  // Reads "dwBackupOptionsBitField", "bManageFileSize",
  // "dwManageFileSizeSize", "bManageFileQuantity",
  // "dwManageFileQuantityQuantity" in this order and stops at the first
  // missing value; what is not read keeps its value. True when all five
  // were read.
  bool Load();
  // Writes the five values in the same order (flags as 0 or 1), stopping at
  // the first failure. True when all were written.
  bool Save() const;

  // Option 8 (copy the program files to the storage card).
  DWORD GetOption() const { return block_.options[kOptionCopyProgramToCard]; }

  bool IsOptionOn(int index) const;
  void SetOptionOn(int index, bool on);

  // Sets option 1 and hands the compressor level (1 on, 0 off) to the hook.
  void SetCompression(bool on);
  // The owner of the global compressor registers how its level is set.
  void SetCompressorLevelHook(std::function<void(int level)> hook) { levelHook_ = std::move(hook); }

  const BackupOptionsBlock& GetBlock() const { return block_; }
  void SetBlock(const BackupOptionsBlock& block) { block_ = block; }
  BackupOptionsBlock& Block() { return block_; }

  // A file-management limit brought into 1..1000 (0 gives 1).
  static DWORD ClampManageLimit(DWORD value);

 private:
  BackupOptionsBlock block_{};
  std::function<void(int level)> levelHook_;
};

class ARestoreOptionHandler {
 public:
  // The defaults; bRestoreKill follows toolhelpAvailable (the start-up's
  // test for "\windows\toolhelp.dll", kept in the global state).
  explicit ARestoreOptionHandler(bool toolhelpAvailable = false) { SetDefaults(toolhelpAvailable); }
  virtual ~ARestoreOptionHandler() = default;

  void SetDefaults(bool toolhelpAvailable);
  // Reads "bRestoreKill", "bHandleMenu", "bNonDestructiveRestore",
  // "bNewDeviceRestore" in this order, stopping at the first missing value
  // (what is not read keeps its value); true when all four were read.
  bool Load();
  // Writes them in the same order, stopping at the first failure.
  bool Save() const;

  // The file "\windows\toolhelp.dll" exists on the device.
  static bool ToolhelpLibraryExists();

  DWORD GetRestoreKillFlag() const { return restoreKill_; }
  DWORD GetHandleMenuFlag() const { return handleMenu_; }
  DWORD GetNonDestructiveRestoreFlag() const { return nonDestructive_; }
  DWORD GetNewDeviceRestoreFlag() const { return newDevice_; }
  void SetRestoreKillFlag(bool on) { restoreKill_ = on ? 1 : 0; }
  void SetHandleMenuFlag(bool on) { handleMenu_ = on ? 1 : 0; }
  void SetNonDestructiveRestoreFlag(bool on) { nonDestructive_ = on ? 1 : 0; }
  void SetNewDeviceRestoreFlag(bool on) { newDevice_ = on ? 1 : 0; }

 private:
  DWORD restoreKill_ = 0;
  DWORD handleMenu_ = 1;
  DWORD nonDestructive_ = 1;
  DWORD newDevice_ = 0;
};

class ARemoteOptionHandler {
 public:
  static constexpr int kHostNameMax = 128;  // characters
  static constexpr DWORD kPortMin = 1024;
  static constexpr DWORD kPortMax = 65535;

  ARemoteOptionHandler() { SetDefaults(); }
  virtual ~ARemoteOptionHandler() = default;

  // Host "ppp_peer", the default host port, use default port on, remote
  // disabled, method on.
  void SetDefaults();
  // Reads "csHostName", "dwPort", "bUseDefaultPort", "bRemoteEnabled",
  // "bMethod", each with its default when missing. Always true.
  bool Load();
  // Writes host name, use default port, port, remote enabled, method in
  // this order, stopping at the first failure.
  bool Save() const;

  const CString& GetHostName() const { return hostName_; }
  // Kept to its first 128 characters.
  void SetHostName(const CString& name);
  DWORD GetPort() const { return port_; }
  void SetPort(DWORD port) { port_ = port; }
  bool GetUseDefaultPort() const { return useDefaultPort_; }
  void SetUseDefaultPort(bool on) { useDefaultPort_ = on; }
  bool GetRemoteEnabled() const { return remoteEnabled_; }
  void SetRemoteEnabled(bool on) { remoteEnabled_ = on; }
  bool GetMethod() const { return method_; }
  void SetMethod(bool on) { method_ = on; }

  // A port brought into 1024..65535.
  static DWORD ClampPort(DWORD port);

 private:
  CString hostName_;
  DWORD port_ = 0;
  bool useDefaultPort_ = true;
  bool remoteEnabled_ = false;
  bool method_ = true;
};

// The "bCloseAllowed" flag of the "Settings" key: a signal to other
// programs whether this one may be closed. Stateless.
class ACloseSignal {
 public:
  virtual ~ACloseSignal() = default;
  // The stored flag; true when missing.
  bool IsCloseAllowed() const;
  // Writes the flag only when the stored value (missing counts as true)
  // differs; true when nothing had to be written or the write succeeded.
  bool SetCloseAllowed(bool allowed) const;
};
