// Option handlers and the close signal against the product's "Settings" key.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "core/OptionHandlers.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

constexpr const WCHAR* kSettingsPath = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings";
constexpr const WCHAR* kConfigPath = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config";

void WriteDword(LPCWSTR path, LPCWSTR name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void WriteSz(LPCWSTR path, LPCWSTR name, const std::u16string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// The stored DWORD, or nothing when the value is missing.
std::optional<DWORD> ReadDword(LPCWSTR name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, value = 0, size = 4;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
  return value;
}

std::vector<DWORD> Options(const ABackupOptionHandler& h) {
  const auto& o = h.GetBlock().options;
  return std::vector<DWORD>(o, o + kBackupOptionCount);
}

TEST(BackupOptions, DefaultsPackByEdition) {
  TestDevice dev;
  ABackupOptionHandler standard;
  EXPECT_EQ(standard.PackOptions(), 0x2CFu);
  EXPECT_EQ(standard.GetBlock().manageFileSize, 0u);
  EXPECT_EQ(standard.GetBlock().manageFileQuantityQuantity, 0u);

  WriteDword(kConfigPath, u"BackupCardVersion", 1);
  ABackupOptionHandler card;
  EXPECT_EQ(card.PackOptions(), 0x28Fu);
  EXPECT_TRUE(card.SetDefaults());
  EXPECT_FALSE(card.IsOptionOn(kOptionExcludeCards));
}

TEST(BackupOptions, UnpackTakesElevenBitsAndPackIgnoresTheRest) {
  TestDevice dev;
  ABackupOptionHandler h;
  h.UnpackOptions(0x7FF);
  EXPECT_EQ(Options(h), std::vector<DWORD>(11, 1));
  h.UnpackOptions(0x400);
  std::vector<DWORD> only10(11, 0);
  only10[10] = 1;
  EXPECT_EQ(Options(h), only10);
  h.UnpackOptions(0xFFFFF803u);  // bits above 10 ignored
  EXPECT_EQ(h.PackOptions(), 0x3u);
  h.Block().options[kOptionCopyProgramToCard] = 7;  // any non-zero word is a set bit
  EXPECT_EQ(h.PackOptions(), 0x103u);
  EXPECT_EQ(h.GetOption(), 7u);
}

TEST(BackupOptions, LoadWithNothingStoredKeepsDefaults) {
  TestDevice dev;
  ABackupOptionHandler h;
  EXPECT_FALSE(h.Load());
  EXPECT_EQ(h.PackOptions(), 0x2CFu);
  EXPECT_EQ(h.GetBlock().manageFileSizeSize, 0u);
}

TEST(BackupOptions, LoadStopsAtFirstMissingValue) {
  TestDevice dev;
  WriteDword(kSettingsPath, u"dwBackupOptionsBitField", 0x400);
  WriteDword(kSettingsPath, u"bManageFileSize", 5);  // non-zero reads as 1
  // "dwManageFileSizeSize" missing: the two after it are not read.
  WriteDword(kSettingsPath, u"bManageFileQuantity", 1);
  WriteDword(kSettingsPath, u"dwManageFileQuantityQuantity", 9);
  ABackupOptionHandler h;
  EXPECT_FALSE(h.Load());
  EXPECT_EQ(h.PackOptions(), 0x400u);
  EXPECT_EQ(h.GetBlock().manageFileSize, 1u);
  EXPECT_EQ(h.GetBlock().manageFileQuantity, 0u);
  EXPECT_EQ(h.GetBlock().manageFileQuantityQuantity, 0u);
}

TEST(BackupOptions, SaveThenLoadRoundTrips) {
  TestDevice dev;
  ABackupOptionHandler h;
  BackupOptionsBlock block{};
  block.options[kOptionCompress] = 1;
  block.options[kOptionReclaimSpace] = 1;
  block.manageFileSize = 3;  // stored as 1
  block.manageFileSizeSize = 250;
  block.manageFileQuantity = 1;
  block.manageFileQuantityQuantity = 4;
  h.SetBlock(block);
  ASSERT_TRUE(h.Save());
  EXPECT_EQ(ReadDword(u"dwBackupOptionsBitField"), 0x402u);
  EXPECT_EQ(ReadDword(u"bManageFileSize"), 1u);

  ABackupOptionHandler loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.PackOptions(), 0x402u);
  EXPECT_EQ(loaded.GetBlock().manageFileSize, 1u);
  EXPECT_EQ(loaded.GetBlock().manageFileSizeSize, 250u);
  EXPECT_EQ(loaded.GetBlock().manageFileQuantity, 1u);
  EXPECT_EQ(loaded.GetBlock().manageFileQuantityQuantity, 4u);
}

TEST(BackupOptions, SetCompressionDrivesTheCompressorLevel) {
  TestDevice dev;
  ABackupOptionHandler h;
  std::vector<int> levels;
  h.SetCompression(false);  // no hook yet: only the option changes
  EXPECT_FALSE(h.IsOptionOn(kOptionCompress));
  h.SetCompressorLevelHook([&](int level) { levels.push_back(level); });
  h.SetCompression(true);
  h.SetCompression(false);
  EXPECT_EQ(levels, (std::vector<int>{1, 0}));
  EXPECT_FALSE(h.IsOptionOn(kOptionCompress));
}

TEST(BackupOptions, ClampsManageLimits) {
  EXPECT_EQ(ABackupOptionHandler::ClampManageLimit(0), 1u);
  EXPECT_EQ(ABackupOptionHandler::ClampManageLimit(37), 37u);
  EXPECT_EQ(ABackupOptionHandler::ClampManageLimit(5000), 1000u);
}

TEST(RestoreOptions, DefaultsFollowToolhelp) {
  TestDevice dev;
  ARestoreOptionHandler none;
  EXPECT_EQ(none.GetRestoreKillFlag(), 0u);
  EXPECT_EQ(none.GetHandleMenuFlag(), 1u);
  EXPECT_EQ(none.GetNonDestructiveRestoreFlag(), 1u);
  EXPECT_EQ(none.GetNewDeviceRestoreFlag(), 0u);

  EXPECT_FALSE(ARestoreOptionHandler::ToolhelpLibraryExists());
  dev.PutFile(u"\\Windows\\toolhelp.dll", "x");
  EXPECT_TRUE(ARestoreOptionHandler::ToolhelpLibraryExists());
  ARestoreOptionHandler with(ARestoreOptionHandler::ToolhelpLibraryExists());
  EXPECT_EQ(with.GetRestoreKillFlag(), 1u);
}

TEST(RestoreOptions, LoadStopsAtFirstMissingAndSaveRoundTrips) {
  TestDevice dev;
  WriteDword(kSettingsPath, u"bRestoreKill", 1);
  WriteDword(kSettingsPath, u"bNonDestructiveRestore", 0);  // after the missing one
  ARestoreOptionHandler h;
  EXPECT_FALSE(h.Load());
  EXPECT_EQ(h.GetRestoreKillFlag(), 1u);
  EXPECT_EQ(h.GetNonDestructiveRestoreFlag(), 1u);

  h.SetHandleMenuFlag(false);
  h.SetNonDestructiveRestoreFlag(false);
  h.SetNewDeviceRestoreFlag(true);
  ASSERT_TRUE(h.Save());
  ARestoreOptionHandler loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.GetRestoreKillFlag(), 1u);
  EXPECT_EQ(loaded.GetHandleMenuFlag(), 0u);
  EXPECT_EQ(loaded.GetNonDestructiveRestoreFlag(), 0u);
  EXPECT_EQ(loaded.GetNewDeviceRestoreFlag(), 1u);
}

TEST(RemoteOptions, DefaultsAndLoadOfMissingValues) {
  TestDevice dev;
  ARemoteOptionHandler h;
  h.SetHostName(u"somewhere");
  h.SetPort(7000);
  EXPECT_TRUE(h.Load());  // nothing stored: every field takes its default
  EXPECT_EQ(h.GetHostName(), CString(u"ppp_peer"));
  EXPECT_EQ(h.GetPort(), 5533u);
  EXPECT_TRUE(h.GetUseDefaultPort());
  EXPECT_FALSE(h.GetRemoteEnabled());
  EXPECT_TRUE(h.GetMethod());
}

TEST(RemoteOptions, SaveLoadRoundTripAndHostNameLimit) {
  TestDevice dev;
  ARemoteOptionHandler h;
  h.SetHostName(u"desk-01");
  h.SetPort(6000);
  h.SetUseDefaultPort(false);
  h.SetRemoteEnabled(true);
  h.SetMethod(false);
  ASSERT_TRUE(h.Save());
  ARemoteOptionHandler loaded;
  loaded.Load();
  EXPECT_EQ(loaded.GetHostName(), CString(u"desk-01"));
  EXPECT_EQ(loaded.GetPort(), 6000u);
  EXPECT_FALSE(loaded.GetUseDefaultPort());
  EXPECT_TRUE(loaded.GetRemoteEnabled());
  EXPECT_FALSE(loaded.GetMethod());

  const std::u16string longName(200, u'h');
  WriteSz(kSettingsPath, u"csHostName", longName);
  loaded.Load();
  EXPECT_EQ(loaded.GetHostName().GetLength(), 128);
  loaded.SetHostName(CString(longName));
  EXPECT_EQ(loaded.GetHostName().GetLength(), 128);
}

TEST(RemoteOptions, ClampsPort) {
  EXPECT_EQ(ARemoteOptionHandler::ClampPort(0), 1024u);
  EXPECT_EQ(ARemoteOptionHandler::ClampPort(5533), 5533u);
  EXPECT_EQ(ARemoteOptionHandler::ClampPort(70000), 65535u);
}

TEST(CloseSignal, WritesOnlyWhenTheStoredFlagDiffers) {
  TestDevice dev;
  ACloseSignal signal;
  EXPECT_TRUE(signal.IsCloseAllowed());
  EXPECT_TRUE(signal.SetCloseAllowed(true));
  EXPECT_FALSE(ReadDword(u"bCloseAllowed").has_value());  // missing counts as true

  EXPECT_TRUE(signal.SetCloseAllowed(false));
  EXPECT_EQ(ReadDword(u"bCloseAllowed"), 0u);
  EXPECT_FALSE(signal.IsCloseAllowed());
  EXPECT_TRUE(signal.SetCloseAllowed(true));
  EXPECT_EQ(ReadDword(u"bCloseAllowed"), 1u);
  EXPECT_TRUE(signal.IsCloseAllowed());
}

}  // namespace
