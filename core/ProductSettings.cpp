#include "core/ProductSettings.h"

#include "ce/file.h"
#include "ce/module.h"
#include "ce/system.h"
#include "core/RegistrySettings.h"

namespace {

CString ReadConfigString(LPCWSTR name, LPCWSTR defaultValue) {
  ABackupRegistrySettings config(ProductConfigKey, u"");
  CString value;
  config.GetString(name, value, defaultValue, MAX_PATH);
  return value;
}

bool ReadConfigBool(LPCWSTR name, bool defaultValue) {
  ABackupRegistrySettings config(ProductConfigKey, u"");
  bool value = defaultValue;
  config.GetBool(name, value, defaultValue);
  return value;
}

bool IsExistingFile(const CString& path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

#define QUILMO_STRING_SETTING(getter, name, def) \
  CString getter() { return ReadConfigString(name, def); }
#define QUILMO_BOOL_SETTING(getter, name, def) \
  bool getter() { return ReadConfigBool(name, def); }

QUILMO_STRING_SETTING(GetApplicationName, u"ApplicationName", u"Quilmo Backup")
QUILMO_STRING_SETTING(GetApplicationDLLName, u"ApplicationDLLName", u"QuilmoRes.dll")
QUILMO_STRING_SETTING(GetApplicationEXEName, u"ApplicationEXEName", u"Quilmo Backup.exe")
QUILMO_STRING_SETTING(GetCorvaneEXEName, u"CorvaneEXEName", u"Lissent.exe")
QUILMO_STRING_SETTING(GetOmbricExeName, u"OmbricExeName", u"Ombric.exe")
QUILMO_STRING_SETTING(GetHelpFileName, u"HelpFileName", u"QuilmoBackup.htm")
QUILMO_STRING_SETTING(GetLogFilePath, u"LogFilePath", u"\\temp")
QUILMO_STRING_SETTING(GetVerboseAppName, u"VerboseAppName", u"Backup Version not yet set")
QUILMO_STRING_SETTING(GetCustomResourceDllName, u"CustomResourceDllName", u"customres.dll")
QUILMO_STRING_SETTING(GetCustomResourceXmlName, u"CustomResourceXmlName", u"customres.xml")
QUILMO_STRING_SETTING(GetVendorName, u"VendorName", u"")
QUILMO_STRING_SETTING(GetVendorEditionName, u"VendorEditionName", u"")
QUILMO_STRING_SETTING(GetVendorUrl, u"VendorUrl", u"")

QUILMO_BOOL_SETTING(GetBasicModeEnabled, u"BasicModeEnabled", true)
QUILMO_BOOL_SETTING(GetBasicModeDefault, u"BasicModeDefault", true)
QUILMO_BOOL_SETTING(GetShowManageNetworkShares, u"ShowManageNetworkShares", false)
QUILMO_BOOL_SETTING(GetAllowBackupPathSelection, u"AllowBackupPathSelection", true)
QUILMO_BOOL_SETTING(GetUseVendorEditionName, u"UseVendorEditionName", false)
QUILMO_BOOL_SETTING(GetAllowBackupToMainMemory, u"AllowBackupToMainMemory", true)
QUILMO_BOOL_SETTING(GetAllowSmallFonts, u"AllowSmallFonts", true)
QUILMO_BOOL_SETTING(GetAllowUpgradeMode, u"AllowUpgradeMode", true)
QUILMO_BOOL_SETTING(GetReverseProgressText, u"ReverseProgressText", false)
QUILMO_BOOL_SETTING(GetNetworkingEnabled, u"NetworkingEnabled", true)
QUILMO_BOOL_SETTING(GetBackupCardVersion, u"BackupCardVersion", false)
QUILMO_BOOL_SETTING(GetMerrowEnabled, u"MerrowEnabled", true)
QUILMO_BOOL_SETTING(GetVendorProvidedVersion, u"VendorProvidedVersion", false)
QUILMO_BOOL_SETTING(GetShowAdvancedOpts, u"ShowAdvancedOpts", false)
QUILMO_BOOL_SETTING(GetIncludeDatabases, u"IncludeDatabases", true)
QUILMO_BOOL_SETTING(GetIncludeMail, u"IncludeMail", true)
QUILMO_BOOL_SETTING(GetIncludeFileSystem, u"IncludeFileSystem", true)
QUILMO_BOOL_SETTING(GetIncludeRegistry, u"IncludeRegistry", true)
QUILMO_BOOL_SETTING(GetAlwaysChooseBuiltInStorageInBasicMode,
                    u"AlwaysChooseBuiltInStorageInBasicMode", false)
QUILMO_BOOL_SETTING(GetAllowLocalCommandLineOps, u"AllowLocalCommandLineOps", false)
QUILMO_BOOL_SETTING(GetAllowRemoteCommandLineOps, u"AllowRemoteCommandLineOps", false)
QUILMO_BOOL_SETTING(GetAllowFileScheduling, u"AllowFileScheduling", false)
QUILMO_BOOL_SETTING(GetSwapStandardControlLocations, u"SwapStandardControlLocations", false)
QUILMO_BOOL_SETTING(GetEnableLogging, u"EnableLogging", true)
QUILMO_BOOL_SETTING(GetEnableLoggingCommitMode, u"EnableLoggingCommitMode", false)
QUILMO_BOOL_SETTING(GetKioskModeEnabled, u"KioskModeEnabled", false)

#undef QUILMO_STRING_SETTING
#undef QUILMO_BOOL_SETTING

CString GetInstallFolderName() { return CString(u"\\Quilmo Backup"); }

CString GetBackupEXEPathValueName() { return CString(u"csBackupEXEPath"); }

DWORD GetDefaultHostPort() { return 5533; }

int GetDisplayScale() {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  return height < width ? width / 320 : width / 240;
}

CString GetRunningProgramFolder() {
  WCHAR path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  CString modulePath(path);
  int lastBackslash = modulePath.ReverseFind(u'\\');
  if (lastBackslash < 0) return CString(u"\\");
  return modulePath.Left(lastBackslash);
}

bool CorvaneProgramExists() {
  CString name = GetCorvaneEXEName();
  if (IsExistingFile(GetRunningProgramFolder() + u"\\" + name)) return true;
  return IsExistingFile(CString(u"\\windows\\") + name);
}
