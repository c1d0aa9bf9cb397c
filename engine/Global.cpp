#include "engine/Global.h"

#include <algorithm>

#include "core/DeviceServices.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "image/MetaDataFormat.h"

namespace {

constexpr size_t kPtrMapHashSize = 17;

}  // namespace

namespace {

// The live objects, oldest first; the newest serves.
std::vector<AGlobal*>& LiveGlobals() {
  static std::vector<AGlobal*> live;
  return live;
}

}  // namespace

AGlobal::AGlobal()
    : g_bAdvancedMode(AdvancedModeFromSettings()),
      g_csProgramVersion(kVersionNotSet),
      g_csResourceVersion(kVersionNotSet),
      g_Compressor(1),
      g_RestoreOptions(g_bToolhelpAvailable) {
  g_ptrMap.reserve(kPtrMapHashSize);
  g_BackupOptions.SetCompressorLevelHook([this](int level) { g_Compressor.SetLevel(level); });
  UpdateExcludeOptions();
  LiveGlobals().push_back(this);
  SetLog(&g_Log);
  g_TaskReport.ConnectToLog();
  SetImageCipher(&g_Crypto);
  SetToolhelpFlag(&g_bToolhelpAvailable);
}

AGlobal::~AGlobal() {
  std::vector<AGlobal*>& live = LiveGlobals();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  // What is still this object's passes to the newest one left, or back to
  // the built-in defaults.
  AGlobal* next = live.empty() ? nullptr : live.back();
  if (GetToolhelpFlag() == &g_bToolhelpAvailable) SetToolhelpFlag(next ? &next->g_bToolhelpAvailable : nullptr);
  if (&GetImageCipher() == &g_Crypto) SetImageCipher(next ? &next->g_Crypto : nullptr);
  if (g_TaskReport.IsConnectedToLog()) {
    g_TaskReport.DisconnectFromLog();
    if (next) next->g_TaskReport.ConnectToLog();
  }
  if (GetRegisteredLog() == &g_Log) SetLog(next ? &next->g_Log : nullptr);
}

bool AGlobal::AdvancedModeFromSettings() { return !(GetBasicModeEnabled() && GetBasicModeDefault()); }

void AGlobal::ResetTask() {
  g_bUnattended = false;
  g_bBatteryTriggered = false;
  g_bCompress = false;
  g_bEncrypt = false;
  g_dwTaskScope = 0;
  g_Operation.imagePath.Clear();
}

namespace {

void CopyVersionAndAnnotation(const AMetaData& metaData, OperationDescriptor& operation) {
  operation.metadataValue = metaData.GetValue();
  operation.SetAnnotation(metaData.GetAnnotation().view());
}

}  // namespace

void AGlobal::SetIncludedPartsFromMetaData(const AMetaData& metaData) {
  const WORD parts = metaData.GetIncludedParts();
  g_Operation.includeRegistry = (parts & MetaDataFormat::kPartRegistry) ? 1 : 0;
  g_Operation.includeDatabases = (parts & MetaDataFormat::kPartDatabases) ? 1 : 0;
  g_Operation.includeFileSystem = (parts & MetaDataFormat::kPartFileSystem) ? 1 : 0;
  g_Operation.includeMail = (parts & MetaDataFormat::kPartMail) ? 1 : 0;
  CopyVersionAndAnnotation(metaData, g_Operation);
}

void AGlobal::LimitIncludedPartsToMetaData(const AMetaData& metaData) {
  const WORD parts = metaData.GetIncludedParts();
  if (!(parts & MetaDataFormat::kPartRegistry)) g_Operation.includeRegistry = 0;
  if (!(parts & MetaDataFormat::kPartDatabases)) g_Operation.includeDatabases = 0;
  if (!(parts & MetaDataFormat::kPartFileSystem)) g_Operation.includeFileSystem = 0;
  if (!(parts & MetaDataFormat::kPartMail)) g_Operation.includeMail = 0;
  CopyVersionAndAnnotation(metaData, g_Operation);
}

MetaDataGlobals AGlobal::GetMetaDataGlobals() const {
  MetaDataGlobals globals;
  globals.compress = g_bCompress;
  globals.encrypt = g_bEncrypt;
  globals.passwordCheck = g_dwPasswordCheck;
  globals.includeRegistry = g_Operation.includeRegistry != 0;
  globals.includeDatabases = g_Operation.includeDatabases != 0;
  globals.includeFileSystem = g_Operation.includeFileSystem != 0;
  globals.includeMail = g_Operation.includeMail != 0;
  globals.annotation = g_Operation.GetAnnotation();
  globals.versionText = g_csProgramVersion;
  globals.versionMajor = g_wVersionMajor;
  globals.versionMid = g_wVersionMid;
  globals.versionMinor = g_wVersionMinor;
  return globals;
}

void AGlobal::ApplyMetaDataGlobals(const MetaDataGlobals& globals) {
  g_bCompress = globals.compress;
  g_bEncrypt = globals.encrypt;
  g_dwPasswordCheck = globals.passwordCheck;
}

void AGlobal::SetTaskPassword(const CString& password) {
  g_csTaskPassword = password;
  g_dwPasswordCheck = AMetaData::PasswordCheckValue(password);
}

void AGlobal::SetVersionTexts(const CString& programVersion, const CString& resourceVersion) {
  g_csProgramVersion = programVersion;
  g_csResourceVersion = resourceVersion;
  System::SetInstalledVersionTexts(programVersion, resourceVersion);
}

void AGlobal::UpdateExcludeOptions() {
  AExcludeOptions options;
  options.applyExclusions = g_BackupOptions.IsOptionOn(kOptionApplyExclusions);
  options.excludeBackupImages = g_BackupOptions.IsOptionOn(kOptionExcludeImages);
  options.excludePrograms = g_BackupOptions.IsOptionOn(kOptionExcludePrograms);
  options.skipRomTest = g_bSkipRomTest;
  g_ExcludeHandler.SetOptions(options);
}

AGlobal& GetGlobal() {
  if (!LiveGlobals().empty()) return *LiveGlobals().back();
  static AGlobal global;
  return global;
}

RegistryHivePaths& GetRegistryHivePaths() {
  static RegistryHivePaths paths;
  return paths;
}
