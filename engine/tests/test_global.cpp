// The global state object: defaults, the basic-mode rule, the end of a task,
// the metadata include flags, and that the log, task report, cipher,
// compressor and toolhelp flag the code uses are the object's own.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/DeviceServices.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/System.h"
#include "engine/Global.h"
#include "image/ImageFile.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

void SetConfigBool(LPCWSTR name, bool value) {
  ABackupRegistrySettings config(ProductConfigKey, u"");
  ASSERT_TRUE(config.WriteBool(name, value));
}

// A metadata block queried with exactly these parts included.
std::unique_ptr<AMetaData> MetaDataWithParts(bool registry, bool databases, bool fileSystem, bool mail,
                                             const CString& annotation = u"") {
  MetaDataGlobals globals;
  globals.includeRegistry = registry;
  globals.includeDatabases = databases;
  globals.includeFileSystem = fileSystem;
  globals.includeMail = mail;
  globals.annotation = annotation;
  auto metaData = std::make_unique<AMetaData>();
  EXPECT_TRUE(metaData->Query(globals));
  return metaData;
}

struct Flags {
  int registry, databases, fileSystem, mail;
  bool operator==(const Flags&) const = default;
};
Flags FlagsOf(const OperationDescriptor& op) {
  return {op.includeRegistry, op.includeDatabases, op.includeFileSystem, op.includeMail};
}

TEST(Global, ConstructionDefaults) {
  TestDevice dev;
  AGlobal g;
  EXPECT_FALSE(g.g_bCompress || g.g_bEncrypt || g.g_bCommandLineRestore || g.g_bCommandLineBackup ||
               g.g_bRemote || g.g_bToolhelpAvailable || g.g_bUnattended || g.g_bBatteryTriggered);
  EXPECT_TRUE(g.g_csFirstText.IsEmpty());
  EXPECT_TRUE(g.g_csTaskPassword.IsEmpty());
  EXPECT_EQ(g.g_csProgramVersion, CString(u"Version not set"));
  EXPECT_EQ(g.g_csResourceVersion, CString(u"Version not set"));
  EXPECT_EQ(g.g_wVersionMajor + g.g_wVersionMid + g.g_wVersionMinor, 0);
  EXPECT_EQ(g.g_dwTaskValue, 0u);
  EXPECT_EQ(g.g_dwTaskScope, 0u);
  EXPECT_EQ(g.g_Compressor.GetLevel(), 1);
  EXPECT_EQ(g.g_Operation.imagePath.GetFullPath(), CString(u"\\temp\\Backup.pbf"));
  EXPECT_EQ(g.g_RestoreOptions.GetRestoreKillFlag(), 0u);  // toolhelp not yet known
  EXPECT_TRUE(g.g_BackupOptions.IsOptionOn(kOptionCompress));
  EXPECT_EQ(g.g_WorkingIndex.NodeCount(), 1);
  EXPECT_FALSE(g.g_bAdvancedMode);  // both basic-mode settings default to on
}

TEST(Global, BasicModeOnlyWhenBothSettingsAreOn) {
  TestDevice dev;
  for (int enabled = 0; enabled < 2; ++enabled) {
    for (int byDefault = 0; byDefault < 2; ++byDefault) {
      SetConfigBool(u"BasicModeEnabled", enabled);
      SetConfigBool(u"BasicModeDefault", byDefault);
      AGlobal g;
      EXPECT_EQ(g.g_bAdvancedMode, !(enabled && byDefault)) << enabled << byDefault;
    }
  }
}

TEST(Global, ResetTaskClearsTheTaskStateOnly) {
  TestDevice dev;
  AGlobal g;
  g.g_bUnattended = g.g_bBatteryTriggered = g.g_bCompress = g.g_bEncrypt = true;
  g.g_bCommandLineBackup = g.g_bRemote = true;
  g.g_dwTaskScope = 7;
  g.g_dwTaskValue = 9;
  g.g_csTaskPassword = u"secret";
  g.g_Operation.operationKind = kOperationBackup;
  g.g_Operation.imagePath.Set(u"\\Storage Card\\Mine.pbf", false);

  g.ResetTask();
  EXPECT_FALSE(g.g_bUnattended || g.g_bBatteryTriggered || g.g_bCompress || g.g_bEncrypt);
  EXPECT_EQ(g.g_dwTaskScope, 0u);
  EXPECT_TRUE(g.g_Operation.imagePath.IsEmpty());
  // What the Part does not name survives.
  EXPECT_TRUE(g.g_bCommandLineBackup && g.g_bRemote);
  EXPECT_EQ(g.g_dwTaskValue, 9u);
  EXPECT_EQ(g.g_csTaskPassword, CString(u"secret"));
  EXPECT_EQ(g.g_Operation.operationKind, kOperationBackup);
}

TEST(Global, IncludedPartsFollowTheMetaDataBits) {
  TestDevice dev;
  AGlobal g;
  for (int bits = 0; bits < 16; ++bits) {
    const bool r = bits & 1, d = bits & 2, f = bits & 4, m = bits & 8;
    auto md = MetaDataWithParts(r, d, f, m, u"note");
    ASSERT_EQ(md->GetIncludedParts(), (r ? 0x0001 : 0) | (d ? 0x0010 : 0) | (f ? 0x0100 : 0) | (m ? 0x1000 : 0));

    // Set: each flag takes its bit, whatever it was before.
    g.g_Operation.includeRegistry = g.g_Operation.includeDatabases = !r;
    g.g_Operation.includeFileSystem = g.g_Operation.includeMail = 1;
    g.SetIncludedPartsFromMetaData(*md);
    EXPECT_EQ(FlagsOf(g.g_Operation), (Flags{r, d, f, m})) << bits;

    // Limit: a 0 bit clears, a 1 bit keeps the flag as it is.
    g.g_Operation.includeRegistry = 1;
    g.g_Operation.includeDatabases = 0;
    g.g_Operation.includeFileSystem = 1;
    g.g_Operation.includeMail = 0;
    g.LimitIncludedPartsToMetaData(*md);
    EXPECT_EQ(FlagsOf(g.g_Operation), (Flags{r, 0, f, 0})) << bits;
  }
}

TEST(Global, MetaDataOperationsCopyVersionWordAndAnnotation) {
  TestDevice dev;
  AGlobal g;
  g.g_Operation.SetAnnotation(u"old");
  auto md = MetaDataWithParts(true, false, true, false, u"Before the trip");
  g.SetIncludedPartsFromMetaData(*md);
  EXPECT_EQ(g.g_Operation.metadataValue, 2001);
  EXPECT_EQ(g.g_Operation.GetAnnotation(), CString(u"Before the trip"));

  g.g_Operation.metadataValue = 0;
  g.g_Operation.SetAnnotation(u"old");
  auto empty = MetaDataWithParts(false, false, false, false);
  g.LimitIncludedPartsToMetaData(*empty);
  EXPECT_EQ(g.g_Operation.metadataValue, 2001);
  EXPECT_TRUE(g.g_Operation.GetAnnotation().IsEmpty());
}

TEST(Global, MetaDataGlobalsRoundTrip) {
  TestDevice dev;
  AGlobal g;
  g.g_bCompress = true;
  g.g_bEncrypt = true;
  g.SetTaskPassword(u"pass");
  EXPECT_EQ(g.g_dwPasswordCheck, AMetaData::PasswordCheckValue(u"pass"));
  g.g_Operation.includeFileSystem = 1;
  g.g_Operation.SetAnnotation(u"note");
  g.SetVersionTexts(u"1.2.3", u"4.5.6");
  g.g_wVersionMajor = 1;
  g.g_wVersionMid = 2;
  g.g_wVersionMinor = 3;

  MetaDataGlobals out = g.GetMetaDataGlobals();
  EXPECT_TRUE(out.compress && out.encrypt && out.includeFileSystem);
  EXPECT_FALSE(out.includeRegistry || out.includeDatabases || out.includeMail);
  EXPECT_EQ(out.passwordCheck, g.g_dwPasswordCheck);
  EXPECT_EQ(out.annotation, CString(u"note"));
  EXPECT_EQ(out.versionText, CString(u"1.2.3"));
  EXPECT_EQ(out.versionMajor, 1);
  EXPECT_EQ(out.versionMid, 2);
  EXPECT_EQ(out.versionMinor, 3);
  EXPECT_NE(System::GetInstalledVersionsText().Find(u"4.5.6"), -1);

  MetaDataGlobals read;
  read.passwordCheck = 0x1234;
  g.ApplyMetaDataGlobals(read);
  EXPECT_FALSE(g.g_bCompress || g.g_bEncrypt);
  EXPECT_EQ(g.g_dwPasswordCheck, 0x1234u);
  System::SetInstalledVersionTexts(u"Version not set", u"Version not set");
}

TEST(Global, LogEntriesReachTheObjectsLogAndReport) {
  TestDevice dev;
  AGlobal g;
  EXPECT_EQ(GetRegisteredLog(), &g.g_Log);
  EXPECT_EQ(&GetLog(), &g.g_Log);
  EXPECT_TRUE(g.g_TaskReport.IsConnectedToLog());

  g.g_Log.Open(false);  // buffering until the first flush
  LogError(5, u"disk gone", u"AFile", 12);
  LogWarning(0, u"slow card", u"AFile", 13);
  Log(0, u"ordinary", u"AFile", 14);
  ASSERT_EQ(g.g_TaskReport.GetCount(), 2);
  TaskReportItem item;
  ASSERT_TRUE(g.g_TaskReport.GetItem(item, 0));
  EXPECT_EQ(item.type, TaskReportItem::kError);
  EXPECT_EQ(item.value, 5u);
  EXPECT_NE(CString(item.text).Find(u"disk gone"), -1);
  ASSERT_TRUE(g.g_TaskReport.GetItem(item, 1));
  EXPECT_EQ(item.type, TaskReportItem::kWarning);

  const std::string& buffer = g.g_Log.GetBuffer();
  EXPECT_NE(buffer.find("E AFile 12 : disk gone 5"), std::string::npos) << buffer;
  EXPECT_NE(buffer.find("L AFile 14 : ordinary"), std::string::npos) << buffer;
}

TEST(Global, NewestLiveObjectServesAndRegistrationsPassBack) {
  TestDevice dev;
  auto outer = std::make_unique<AGlobal>();
  auto older = std::make_unique<AGlobal>();
  auto newer = std::make_unique<AGlobal>();
  EXPECT_EQ(&GetGlobal(), newer.get());

  older.reset();  // out of order: must not unhook the newer object
  EXPECT_EQ(&GetGlobal(), newer.get());
  EXPECT_EQ(GetRegisteredLog(), &newer->g_Log);
  EXPECT_EQ(&GetImageCipher(), &newer->g_Crypto);
  EXPECT_EQ(GetToolhelpFlag(), &newer->g_bToolhelpAvailable);
  LogInfo(0, u"to the newer", u"X", 1);
  EXPECT_EQ(newer->g_TaskReport.GetCount(), 1);

  newer.reset();  // everything goes back to the outer object
  EXPECT_EQ(&GetGlobal(), outer.get());
  EXPECT_EQ(GetRegisteredLog(), &outer->g_Log);
  EXPECT_EQ(&GetImageCipher(), &outer->g_Crypto);
  EXPECT_EQ(GetToolhelpFlag(), &outer->g_bToolhelpAvailable);
  LogInfo(0, u"to the outer", u"X", 2);
  EXPECT_EQ(outer->g_TaskReport.GetCount(), 1);

  const ACrypto* gone = &outer->g_Crypto;
  outer.reset();
  EXPECT_EQ(GetRegisteredLog(), nullptr);
  EXPECT_NE(&GetImageCipher(), gone);
  EXPECT_EQ(GetToolhelpFlag(), nullptr);
  LogInfo(0, u"after the end", u"X", 3);  // reaches no freed report
}

TEST(Global, ImageFileEnciphersWithTheObjectsCipher) {
  TestDevice dev;
  AGlobal g;
  ASSERT_FALSE(g.g_Crypto.HasKey());
  ASSERT_TRUE(InitCipherKey(true, u"pw"));
  EXPECT_TRUE(g.g_Crypto.HasKey());

  // Key the object's cipher directly; the image must use exactly that key.
  ASSERT_TRUE(g.g_Crypto.CreateKey(nullptr, 0, u"only mine"));
  const std::string plain = "sixteen byte msg and some more text";
  dev.MakeDir(u"\\temp");
  {
    AImageFile image(u"\\temp\\c.pbf", AImageFile::kBackup);
    ASSERT_TRUE(image.Open());
    ASSERT_TRUE(image.Write(plain.data(), static_cast<DWORD>(plain.size()), true, true));
    ASSERT_TRUE(image.Close());
  }
  std::string stored = dev.ReadFile(u"\\temp\\c.pbf");
  ASSERT_EQ(stored.size(), plain.size());
  EXPECT_NE(stored, plain);

  ACrypto other;
  ASSERT_TRUE(other.CreateKey(nullptr, 0, u"only mine"));
  ASSERT_TRUE(other.Decrypt(reinterpret_cast<const BYTE*>(stored.data()), reinterpret_cast<BYTE*>(stored.data()),
                            static_cast<DWORD>(stored.size()), true));
  EXPECT_EQ(stored, plain);
}

TEST(Global, CompressionOptionSetsTheObjectsCompressorLevel) {
  TestDevice dev;
  AGlobal g;
  g.g_BackupOptions.SetCompression(false);
  EXPECT_EQ(g.g_Compressor.GetLevel(), 0);
  g.g_BackupOptions.SetCompression(true);
  EXPECT_EQ(g.g_Compressor.GetLevel(), 1);
}

TEST(Global, ToolhelpAnswerIsTheObjectsFlag) {
  TestDevice dev;
  dev.PutFile(u"\\windows\\toolhelp.dll", "x");
  {
    AGlobal g;
    EXPECT_FALSE(ToolhelpAvailable());  // not yet set by the start-up
    g.g_bToolhelpAvailable = ARestoreOptionHandler::ToolhelpLibraryExists();
    EXPECT_TRUE(ToolhelpAvailable());
  }
  EXPECT_TRUE(ToolhelpAvailable());  // the file lookup again
}

TEST(Global, ExcludeOptionsFollowTheBackupOptions) {
  TestDevice dev;
  AGlobal g;
  g.g_BackupOptions.SetOptionOn(kOptionApplyExclusions, false);
  g.g_BackupOptions.SetOptionOn(kOptionExcludeImages, false);
  g.g_BackupOptions.SetOptionOn(kOptionExcludePrograms, true);
  g.g_bSkipRomTest = true;
  g.UpdateExcludeOptions();
  const AExcludeOptions& o = g.g_ExcludeHandler.GetOptions();
  EXPECT_FALSE(o.applyExclusions);
  EXPECT_FALSE(o.excludeBackupImages);
  EXPECT_TRUE(o.excludePrograms);
  EXPECT_TRUE(o.skipRomTest);
}

}  // namespace
