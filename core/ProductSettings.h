// The product settings: one getter per named value of the product's
// configuration key (HKLM "SOFTWARE\Quilmo Software\Quilmo Backup\Config"),
// each with its built-in default. Nothing is cached: every call opens the
// key, reads the value and closes the key again. Strings are read with at
// most 260 characters; booleans are DWORD values, non-zero meaning true.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"

// String settings (REG_SZ).
CString GetApplicationName();        // "ApplicationName", "Quilmo Backup"
CString GetApplicationDLLName();     // "ApplicationDLLName", "QuilmoRes.dll"
CString GetApplicationEXEName();     // "ApplicationEXEName", "Quilmo Backup.exe"
CString GetCorvaneEXEName();         // "CorvaneEXEName", "Lissent.exe"
CString GetOmbricExeName();          // "OmbricExeName", "Ombric.exe"
CString GetHelpFileName();           // "HelpFileName", "QuilmoBackup.htm"
CString GetLogFilePath();            // "LogFilePath", "\temp"
CString GetVerboseAppName();         // "VerboseAppName", "Backup Version not yet set"
CString GetCustomResourceDllName();  // "CustomResourceDllName", "customres.dll"
CString GetCustomResourceXmlName();  // "CustomResourceXmlName", "customres.xml"
CString GetVendorName();             // "VendorName", empty
CString GetVendorEditionName();      // "VendorEditionName", empty
CString GetVendorUrl();              // "VendorUrl", empty

// Boolean settings (REG_DWORD); the default follows each name.
bool GetBasicModeEnabled();                      // true
bool GetBasicModeDefault();                      // true
bool GetShowManageNetworkShares();               // false
bool GetAllowBackupPathSelection();              // true
bool GetUseVendorEditionName();                  // false
bool GetAllowBackupToMainMemory();               // true
bool GetAllowSmallFonts();                       // true
bool GetAllowUpgradeMode();                      // true
bool GetReverseProgressText();                   // false
bool GetNetworkingEnabled();                     // true
bool GetBackupCardVersion();                     // false
bool GetMerrowEnabled();                         // true
bool GetVendorProvidedVersion();                 // false
bool GetShowAdvancedOpts();                      // false
bool GetIncludeDatabases();                      // true
bool GetIncludeMail();                           // true
bool GetIncludeFileSystem();                     // true
bool GetIncludeRegistry();                       // true
bool GetAlwaysChooseBuiltInStorageInBasicMode(); // false
bool GetAllowLocalCommandLineOps();              // false
bool GetAllowRemoteCommandLineOps();             // false
bool GetAllowFileScheduling();                   // false
bool GetSwapStandardControlLocations();          // false
bool GetEnableLogging();                         // true
bool GetEnableLoggingCommitMode();               // false
bool GetKioskModeEnabled();                      // false

// Fixed values.
CString GetInstallFolderName();       // "\Quilmo Backup"
CString GetBackupEXEPathValueName();  // "csBackupEXEPath" (below the "Shared" key)
DWORD GetDefaultHostPort();           // 5533

// Layout scale of the screen: width / 320 in landscape (height < width),
// width / 240 otherwise, in integer division.
int GetDisplayScale();
// The running program's module path up to, not including, its last
// backslash (empty for a program in "\"); "\" when it holds no backslash.
CString GetRunningProgramFolder();
// A file named by the CorvaneEXEName setting exists in the running
// program's folder or in "\windows".
bool CorvaneProgramExists();
