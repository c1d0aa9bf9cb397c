// Registry settings classes and the product settings over a scratch device.
#include <gtest/gtest.h>

#include <memory>

#include "ce/cstring.h"
#include "ce/process.h"
#include "ce/errors.h"
#include "ce/registry.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

// A DWORD stored at hive\path\name, read without the classes under test.
bool ReadRawDWORD(HKEY hive, LPCWSTR path, LPCWSTR name, DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(hive, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = sizeof(DWORD);
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD;
}

void WriteRawString(HKEY hive, LPCWSTR path, LPCWSTR name, const std::u16string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(hive, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void WriteRawDWORD(HKEY hive, LPCWSTR path, LPCWSTR name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(hive, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

constexpr const WCHAR* kConfigPath = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config";

TEST(RegistrySettings, EachKindOpensItsKey) {
  TestDevice dev;
  struct Case {
    LPCWSTR folder;
    int kind;
    LPCWSTR subkey;
    HKEY hive;
    LPCWSTR path;
  } cases[] = {
      {u"\\Quilmo Backup", 0, nullptr, HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings"},
      {u"Quilmo Agent", 0, u"Sub", HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Quilmo Software\\Quilmo Agent\\Settings\\Sub"},
      {u"\\Quilmo Backup", 1, u"", HKEY_LOCAL_MACHINE, kConfigPath},
      {u"\\Quilmo Backup", 2, nullptr, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software"},
      {u"\\Quilmo Backup", 2, u"RebootActions", HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Quilmo Software\\RebootActions"},
      {u"\\Quilmo Backup", 3, nullptr, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Shared"},
      {u"Comm\\Redir", 5, nullptr, HKEY_LOCAL_MACHINE, u"Comm\\Redir"},
      {u"Comm\\Redir\\Connections", 6, u"Share", HKEY_CURRENT_USER,
       u"Comm\\Redir\\Connections\\Share"},
      {u"\\Quilmo Backup", 9, nullptr, HKEY_LOCAL_MACHINE, u"Default"},
  };
  DWORD marker = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(ce::ToUtf8(c.path));
    ARegistrySettings settings(c.folder, c.kind, c.subkey);
    ASSERT_TRUE(settings.IsOpen());
    ASSERT_TRUE(settings.WriteDWORD(u"dwMarker", ++marker));
    DWORD stored = 0;
    EXPECT_TRUE(ReadRawDWORD(c.hive, c.path, u"dwMarker", &stored));
    EXPECT_EQ(stored, marker);
  }
  // Kind 6 lives in the user hive only.
  DWORD stored = 0;
  EXPECT_FALSE(ReadRawDWORD(HKEY_LOCAL_MACHINE, u"Comm\\Redir\\Connections\\Share", u"dwMarker",
                            &stored));
}

TEST(RegistrySettings, TypedReadsAndDefaults) {
  TestDevice dev;
  ABackupRegistrySettings settings(kSettingsKeyKind);
  ASSERT_TRUE(settings.IsOpen());
  ASSERT_TRUE(settings.WriteDWORD(u"dwTwo", 2));
  ASSERT_TRUE(settings.WriteDWORD(u"dwZero", 0));
  ASSERT_TRUE(settings.WriteString(u"csText", u"hello"));
  ASSERT_TRUE(settings.WriteBool(u"bOn", true));

  bool flag = false;
  EXPECT_TRUE(settings.ReadBool(u"dwTwo", flag));
  EXPECT_TRUE(flag);
  DWORD raw = 9;
  EXPECT_TRUE(settings.ReadDWORD(u"bOn", raw));
  EXPECT_EQ(raw, 1u);

  // Defaults stand in only for failed reads.
  settings.GetBool(u"dwZero", flag, true);
  EXPECT_FALSE(flag);
  settings.GetBool(u"missing", flag, true);
  EXPECT_TRUE(flag);
  DWORD number = 0;
  EXPECT_TRUE(settings.GetDWORD(u"missing", number, 77));
  EXPECT_EQ(number, 77u);
  // A value of the wrong type is not a DWORD and not a string.
  EXPECT_FALSE(settings.ReadDWORD(u"csText", number));
  CString text;
  EXPECT_FALSE(settings.ReadString(u"dwTwo", text));
  settings.GetString(u"dwTwo", text, u"fallback");
  EXPECT_EQ(text, CString(u"fallback"));
  settings.GetString(u"csText", text, u"fallback");
  EXPECT_EQ(text, CString(u"hello"));
}

TEST(RegistrySettings, LongStringIsCutToTheMaximum) {
  TestDevice dev;
  std::u16string longText(700, u'a');
  for (size_t i = 0; i < longText.size(); ++i) longText[i] = u'a' + i % 26;
  ABackupRegistrySettings settings(kSettingsKeyKind);
  ASSERT_TRUE(settings.WriteString(u"csLong", longText.c_str()));
  CString text;
  ASSERT_TRUE(settings.ReadString(u"csLong", text, 260));
  EXPECT_EQ(text.str(), longText.substr(0, 260));
  settings.GetString(u"csLong", text, u"", 5);
  EXPECT_EQ(text, CString(u"abcde"));
  ASSERT_TRUE(settings.ReadString(u"csLong", text, 1000));
  EXPECT_EQ(text.str(), longText);
}

TEST(RegistrySettings, BinaryDeleteAndReopen) {
  TestDevice dev;
  ABackupRegistrySettings settings(kSettingsKeyKind, u"Unattended");
  const BYTE bytes[] = {0, 1, 2, 0xFF, 0x80};
  ASSERT_TRUE(settings.WriteBinary(u"bin", bytes, sizeof(bytes)));
  DWORD length = 0;
  std::unique_ptr<BYTE[]> got(settings.ReadBinary(u"bin", length));
  ASSERT_NE(got, nullptr);
  ASSERT_EQ(length, sizeof(bytes));
  EXPECT_EQ(0, memcmp(got.get(), bytes, sizeof(bytes)));
  EXPECT_EQ(settings.ReadBinary(u"none", length), nullptr);

  EXPECT_TRUE(settings.DeleteValue(u"bin"));
  EXPECT_FALSE(settings.DeleteValue(u"bin"));

  // Reopen moves the object to another key of the product.
  ASSERT_TRUE(settings.Reopen(kSettingsKeyKind));
  ASSERT_TRUE(settings.WriteDWORD(u"dwOuter", 1));
  EXPECT_TRUE(settings.DeleteKey(u"Unattended"));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings\\Unattended", 0,
                          KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(settings.Reopen(kSharedKeyKind));
  ASSERT_TRUE(settings.WriteString(GetBackupEXEPathValueName(), u"\\Program Files\\x.exe"));
  DWORD outer = 0;
  EXPECT_TRUE(ReadRawDWORD(HKEY_LOCAL_MACHINE,
                           u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings", u"dwOuter",
                           &outer));
  CString shared;
  ARegistrySettings sharedKey(u"", kSharedKeyKind);
  EXPECT_TRUE(sharedKey.ReadString(u"csBackupEXEPath", shared));
  EXPECT_EQ(shared, CString(u"\\Program Files\\x.exe"));
}

TEST(RegistrySettings, FailedOpenGivesDefaultsAndRefusesWrites) {
  TestDevice dev;
  // A folder where the user hive belongs: the user hive cannot open.
  dev.MakeDir(ce::kUserHivePath);
  ARegistrySettings settings(u"Comm\\Redir\\Connections", kUserPathKind);
  EXPECT_FALSE(settings.IsOpen());
  DWORD number = 0;
  EXPECT_FALSE(settings.ReadDWORD(u"x", number));
  settings.GetDWORD(u"x", number, 42);
  EXPECT_EQ(number, 42u);
  CString text;
  settings.GetString(u"x", text, u"def");
  EXPECT_EQ(text, CString(u"def"));
  DWORD length = 0;
  EXPECT_EQ(settings.ReadBinary(u"x", length), nullptr);
  EXPECT_FALSE(settings.WriteDWORD(u"x", 1));
  EXPECT_FALSE(settings.WriteString(u"x", u"y"));
  EXPECT_FALSE(settings.DeleteValue(u"x"));

  // A failed reopen drops the key held before: nothing reaches it anymore.
  ARegistrySettings moving(u"\\Quilmo Backup", kSettingsKeyKind);
  ASSERT_TRUE(moving.IsOpen());
  EXPECT_FALSE(moving.Open(u"Comm", kUserPathKind, nullptr));
  EXPECT_FALSE(moving.IsOpen());
  EXPECT_FALSE(moving.WriteDWORD(u"dwStray", 1));
  DWORD stray = 0;
  EXPECT_FALSE(ReadRawDWORD(HKEY_LOCAL_MACHINE,
                            u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings", u"dwStray",
                            &stray));
}

// Product settings -----------------------------------------------------------

TEST(ProductSettings, EmptyKeyGivesEveryDefault) {
  TestDevice dev;
  struct StringCase {
    CString (*getter)();
    const char16_t* expected;
  } strings[] = {
      {GetApplicationName, u"Quilmo Backup"},
      {GetApplicationDLLName, u"QuilmoRes.dll"},
      {GetApplicationEXEName, u"Quilmo Backup.exe"},
      {GetCorvaneEXEName, u"Lissent.exe"},
      {GetOmbricExeName, u"Ombric.exe"},
      {GetHelpFileName, u"QuilmoBackup.htm"},
      {GetLogFilePath, u"\\temp"},
      {GetVerboseAppName, u"Backup Version not yet set"},
      {GetCustomResourceDllName, u"customres.dll"},
      {GetCustomResourceXmlName, u"customres.xml"},
      {GetVendorName, u""},
      {GetVendorEditionName, u""},
      {GetVendorUrl, u""},
  };
  for (const auto& c : strings) EXPECT_EQ(c.getter().str(), std::u16string(c.expected));

  bool (*trueByDefault[])() = {
      GetBasicModeEnabled,      GetBasicModeDefault, GetAllowBackupPathSelection,
      GetAllowBackupToMainMemory, GetAllowSmallFonts, GetAllowUpgradeMode,
      GetNetworkingEnabled,     GetMerrowEnabled,    GetIncludeDatabases,
      GetIncludeMail,           GetIncludeFileSystem, GetIncludeRegistry,
      GetEnableLogging};
  bool (*falseByDefault[])() = {
      GetShowManageNetworkShares, GetUseVendorEditionName, GetReverseProgressText,
      GetBackupCardVersion,       GetVendorProvidedVersion, GetShowAdvancedOpts,
      GetAlwaysChooseBuiltInStorageInBasicMode, GetAllowLocalCommandLineOps,
      GetAllowRemoteCommandLineOps, GetAllowFileScheduling, GetSwapStandardControlLocations,
      GetEnableLoggingCommitMode, GetKioskModeEnabled};
  for (size_t i = 0; i < std::size(trueByDefault); ++i) EXPECT_TRUE(trueByDefault[i]()) << i;
  for (size_t i = 0; i < std::size(falseByDefault); ++i) EXPECT_FALSE(falseByDefault[i]()) << i;

  EXPECT_EQ(GetInstallFolderName(), CString(u"\\Quilmo Backup"));
  EXPECT_EQ(GetDefaultHostPort(), 5533u);
}

TEST(ProductSettings, StoredValuesWin) {
  TestDevice dev;
  WriteRawDWORD(HKEY_LOCAL_MACHINE, kConfigPath, u"IncludeMail", 0);
  WriteRawDWORD(HKEY_LOCAL_MACHINE, kConfigPath, u"KioskModeEnabled", 5);
  WriteRawString(HKEY_LOCAL_MACHINE, kConfigPath, u"ApplicationName", u"Fleet Backup");
  std::u16string longPath = u"\\" + std::u16string(300, u'p');
  WriteRawString(HKEY_LOCAL_MACHINE, kConfigPath, u"LogFilePath", longPath);
  // A setting of the wrong type falls back to its default.
  WriteRawString(HKEY_LOCAL_MACHINE, kConfigPath, u"EnableLogging", u"false");

  EXPECT_FALSE(GetIncludeMail());
  EXPECT_TRUE(GetIncludeDatabases());
  EXPECT_TRUE(GetKioskModeEnabled());
  EXPECT_TRUE(GetEnableLogging());
  EXPECT_EQ(GetApplicationName(), CString(u"Fleet Backup"));
  EXPECT_EQ(GetLogFilePath().str(), longPath.substr(0, 260));
}

TEST(ProductSettings, DisplayScale) {
  struct Case {
    int width, height, scale;
  } cases[] = {{240, 320, 1}, {480, 640, 2}, {320, 240, 1}, {640, 480, 2}, {480, 480, 2}};
  for (const Case& c : cases) {
    ce::Profile profile;
    profile.screenWidth = c.width;
    profile.screenHeight = c.height;
    TestDevice dev(profile);
    EXPECT_EQ(GetDisplayScale(), c.scale) << c.width << "x" << c.height;
  }
}

TEST(ProductSettings, ProgramFolderAndCorvane) {
  TestDevice dev;
  const quilmo::test::ScopedOwnProgram program(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe");
  EXPECT_EQ(GetRunningProgramFolder(), CString(u"\\Program Files\\Quilmo Backup"));
  EXPECT_FALSE(CorvaneProgramExists());
  dev.PutFile(u"\\Windows\\Lissent.exe", "x");
  EXPECT_TRUE(CorvaneProgramExists());

  WriteRawString(HKEY_LOCAL_MACHINE, kConfigPath, u"CorvaneEXEName", u"Corvane.exe");
  EXPECT_FALSE(CorvaneProgramExists());
  dev.PutFile(u"\\Program Files\\Quilmo Backup\\corvane.EXE", "x");
  EXPECT_TRUE(CorvaneProgramExists());

  ce::SetOwnProgramForTest(u"Alone.exe", u"");
  EXPECT_EQ(GetRunningProgramFolder(), CString(u"\\"));
  ce::SetOwnProgramForTest(u"\\Root.exe", u"");
  EXPECT_EQ(GetRunningProgramFolder(), CString(u""));
}

}  // namespace
