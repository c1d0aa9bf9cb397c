// Registry restore end to end: both hives backed up into an image, changed,
// restored from it, the boot-time actions applied, and the device booted:
// QuilmoInit puts the user hive in place, queues the system hive and resets;
// the boot after the reset brings up both restored hives.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ce/boot.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "core/Log.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "engine/RegistryComponent.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "registry_test_util.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

using regtest::GetString;
using regtest::SetString;

void SetWords(const std::u16string& name, std::initializer_list<WORD> words) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  std::vector<BYTE> data;
  for (WORD w : words) data.insert(data.end(), {static_cast<BYTE>(w & 0xFF), static_cast<BYTE>(w >> 8)});
  RegSetValueExW(k, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(k);
}

// Every "init" value whose text names the runner.
int RunnerLaunchEntries() {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, KEY_READ, &k) != ERROR_SUCCESS) return -1;
  int found = 0;
  for (DWORD i = 0;; ++i) {
    WCHAR name[64] = {};
    BYTE data[512] = {};
    DWORD nameSize = 64, dataSize = sizeof data - 2, type = 0;
    if (RegEnumValueW(k, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    std::u16string text(reinterpret_cast<const char16_t*>(data));
    if (ce::DeviceUpper(text).find(u"QUILMOINIT") != std::u16string::npos) ++found;
  }
  RegCloseKey(k);
  return found;
}

class RegistryRestoreBootTest : public regtest::RegistryImageTest {
 protected:
  void SetUp() override {
    RegistryImageTest::SetUp();
    fs::path runner = dev.Host(u"\\Windows\\QuilmoInit.exe");
    fs::create_directories(runner.parent_path());
    fs::copy_file(fs::path(QUILMO_BIN_DIR) / "QuilmoInit", runner, fs::copy_options::overwrite_existing);
    // The resident system programs, the shell waiting for them.
    SetString(HKEY_LOCAL_MACHINE, u"init", u"Launch20", u"device.exe");
    SetString(HKEY_LOCAL_MACHINE, u"init", u"Launch50", u"shell32.exe");
    SetWords(u"Depend50", {20});
    RebootActions::Instance().Clear();
  }
  void TearDown() override {
    RegistryImageTest::TearDown();
    RebootActions::Instance().Clear();
  }

  bool Restore() {
    index.Reset();
    return RestoreFromImage() && index.AddBootCopiesForRestore();
  }
};

TEST_F(RegistryRestoreBootTest, BothHivesComeBackAfterTheBootsAndTheRunnerGoes) {
  SetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour", u"blue");
  SetString(HKEY_CURRENT_USER, u"Software\\Sample", u"Name", u"Ada");
  ASSERT_TRUE(Backup());

  SetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour", u"red");
  SetString(HKEY_CURRENT_USER, u"Software\\Sample", u"Name", u"Bob");
  SetString(HKEY_CURRENT_USER, u"Software\\Later", u"Made", u"after the backup");

  ASSERT_TRUE(Restore());
  ASSERT_EQ(RebootActions::Instance().HklmPath(), u"\\temp\\HKLM.img");
  ASSERT_EQ(RebootActions::Instance().HkcuPath(), u"\\temp\\HKCU.img");
  ASSERT_TRUE(RebootActions::Instance().Apply());
  const std::string savedUserHive = dev.ReadFile(u"\\temp\\HKCU.img");
  ASSERT_FALSE(savedUserHive.empty());
  ASSERT_EQ(RunnerLaunchEntries(), 1);
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"Software\\Sample", u"Name"), u"Bob");  // not before the boot

  ce::BootOptions options;
  options.signalTimeoutMs = 10000;
  options.runTimeoutMs = 40000;
  ce::BootReport report;
  ASSERT_TRUE(ce::BootDevice(options, &report));
  std::string lines;
  for (const auto& l : report.lines) lines += l + "\n";

  EXPECT_EQ(report.resets, 1) << lines;
  EXPECT_EQ(report.boots, 2) << lines;
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour"), u"blue") << lines;
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"Software\\Sample", u"Name"), u"Ada") << lines;
  EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"Software\\Later", u"Made"), u"<no key>");
  EXPECT_EQ(RunnerLaunchEntries(), 0) << lines;
  EXPECT_TRUE(fs::exists(dev.Host(u"\\QuilmoInitLog.txt"))) << lines;
  // The user hive went in as a file (not key by key after a refused copy),
  // and no hive step of the runner failed.
  EXPECT_TRUE(dev.ReadFile(u"\\Documents and Settings\\default\\user.hv") == savedUserHive);
  // (The program-wide queue may still hold copies other tests queued.)
  const std::string runnerLog = dev.ReadFile(u"\\QuilmoInitLog.txt");
  EXPECT_EQ(runnerLog.find("HKCU.img"), std::string::npos) << runnerLog;
  EXPECT_EQ(runnerLog.find("RegReplaceKey"), std::string::npos) << runnerLog;
  EXPECT_FALSE(fs::exists(dev.Host(u"\\temp\\HKCU.img")));
}

}  // namespace
