// The main program's process-wide state: the option handlers, compressor,
// cipher, task report and log that several subsystems share, the working
// content index with its exclusion handler, the operation descriptor of the
// current task and the mode flags of the start-up.
//
// Members are built in declaration order and destroyed in reverse. While it
// lives, the object is the process's log writer (core/Log.h), its task
// report receives the log's information, warning and error entries, its
// cipher is the image cipher (image/Cipher.h), its compressor follows the
// compression option, and its toolhelp flag answers ToolhelpAvailable
// (core/DeviceServices.h). Of several live objects the newest serves (a
// test builds its own on its scratch device); a destroyed object hands what
// is still registered as its own to the newest one left.
//
// Fixed texts of the program (placeholders, keys, value names) are in
// core/ProgramGlobals.h.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "ce/collections.h"
#include "ce/cstring.h"
#include "ce/types.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "engine/Operation.h"
#include "engine/TaskReport.h"
#include "image/Cipher.h"
#include "image/Compressor.h"
#include "image/ExclusionList.h"
#include "image/InclusionList.h"
#include "image/Index.h"
#include "image/MetaData.h"


// Where the host connection takes its host details from.
enum HostDetailsSource : int {
  kHostDetailsNone = 0,
  kHostDetailsRemoteOptions = 1,  // host name and port of the remote options
  kHostDetailsAgentServer = 2,    // the server host of the desktop agent
};

class AGlobal {
 public:
  static constexpr const WCHAR* kVersionNotSet = u"Version not set";

  // Builds the members in order and reads the two basic-mode settings;
  // registers the log, the task report, the cipher, the compressor hook and
  // the toolhelp flag.
  AGlobal();
  virtual ~AGlobal();
  AGlobal(const AGlobal&) = delete;
  AGlobal& operator=(const AGlobal&) = delete;

  // The basic-mode rule: Basic (false) when both BasicModeEnabled and
  // BasicModeDefault are set, else Advanced (true).
  static bool AdvancedModeFromSettings();

  // Ends an imaging task: clears the unattended and battery-triggered
  // flags, the compress and encrypt flags and the task scope value, and
  // empties the descriptor's image path.
  void ResetTask();
  // Include flags of the descriptor from bits 0, 4, 8 and 12 (registry,
  // databases, file system, mail) of the metadata's included-parts word;
  // the metadata's version word and annotation into the descriptor.
  void SetIncludedPartsFromMetaData(const AMetaData& metaData);
  // Clears each include flag whose bit is 0 (set flags may only clear),
  // then copies the version word and annotation as above.
  void LimitIncludedPartsToMetaData(const AMetaData& metaData);

  // What the metadata records of this process (AMetaData::Query), and
  // taking back what a read block tells (AMetaData::Read: compression,
  // encryption, password check value).
  MetaDataGlobals GetMetaDataGlobals() const;
  void ApplyMetaDataGlobals(const MetaDataGlobals& globals);

  // The task password and its check value (crc32 of its UTF-16 bytes).
  void SetTaskPassword(const CString& password);
  // Both version texts, also for the installed-versions text.
  void SetVersionTexts(const CString& programVersion, const CString& resourceVersion);
  // The exclusion handler's options from backup options 9, 3 and 4 and the
  // ROM-test switch. Run before a file-system walk.
  void UpdateExcludeOptions();

  // Members, in the order of construction ----------------------------------
  bool g_bCompress = false;             // compress the current task (backup option 1 at start)
  bool g_bEncrypt = false;              // the current task uses a password
  bool g_bCommandLineRestore = false;   // "LocalRestore" / "RemoteRestore"
  bool g_bCommandLineBackup = false;    // "LocalBackup" / "RemoteBackup"
  bool g_bRemote = false;               // the command line asked for the host
  bool g_bServerBackup = false;         // a command-line backup goes to the desktop agent's server
  CString g_csFirstText;
  CString g_csTaskPassword;
  CDWordArray g_dwArray;
  CPtrArray g_ptrArray;
  std::unordered_map<void*, void*> g_ptrMap;
  // Database restore state.
  CString g_csDbRestoreText1;
  CString g_csDbRestoreText2;
  std::vector<BYTE> g_dbRestoreData;
  bool g_bToolhelpAvailable = false;    // "\windows\toolhelp.dll" exists (set by the start-up)
  bool g_bUnattended = false;           // "ScheduledBackup" or "MerrowAutoBackup"
  bool g_bBatteryTriggered = false;     // "MerrowAutoBackup"
  bool g_bAdvancedMode;                 // the basic-mode rule at construction
  bool g_bSkipRomTest = false;          // switches the exclusion test's ROM list off
  WORD g_wVersionMinor = 0;
  WORD g_wVersionMid = 0;
  WORD g_wVersionMajor = 0;
  CString g_csProgramVersion;           // "csVersion"
  CString g_csResourceVersion;
  DWORD g_dwPasswordCheck = 0;          // check value of the task password
  CString g_csKioskLogin;               // the deploy options' "login"
  bool g_bKioskPasswordCorrect = false; // the kiosk password dialog accepted it
  bool g_bKioskAutoRestore = false;     // kiosk "autorun": restore the kiosk file unless the password is right
  int g_nKioskMinutes = 0;              // the deploy options' "minutesbetween"
  int g_nKioskHours = 0;                // the deploy options' "hoursbetween"
  CString g_csKioskFileName;            // the deploy options' "backupfilename"
  DWORD g_dwValue2 = 0;
  DWORD g_dwValue3 = 0;
  DWORD g_dwTaskValue = 0;              // saved with the persisted state
  OperationDescriptor g_Operation;
  int g_HostDetailsSource = kHostDetailsNone;
  ATaskReport g_TaskReport;
  ALog g_Log;
  DWORD g_dwTaskScope = 0;              // set by the unattended backup
  ACompressor g_Compressor;             // level 1
  ACrypto g_Crypto;
  ABackupOptionHandler g_BackupOptions;
  ARestoreOptionHandler g_RestoreOptions;
  ARemoteOptionHandler g_RemoteOptions;
  Index g_WorkingIndex;
  AExcludeHandler g_ExcludeHandler;
  // The inclusion list of an unattended backup (none: everything); set by
  // the unattended run, whose selection it limits.
  std::unique_ptr<AInclusionList> g_pInclusionList;
};

// The newest live AGlobal; when none lives, the process's own, created on
// first use and destroyed at exit (the main program's static
// initialisation calls this first).
AGlobal& GetGlobal();

// The live registry hive paths of the registry component: empty until read
// from HKLM "init\BootVars" (an unreadable value leaves its path empty).
struct RegistryHivePaths {
  CString hklm;
  CString hkcu;
};
RegistryHivePaths& GetRegistryHivePaths();
