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
#include "core/Log.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "engine/RegistryComponent.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

class NullProgress : public ITaskProgress {
 public:
  NullProgress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {}
  TaskProgressRecord record;
};

void SetString(HKEY root, const std::u16string& key, const std::u16string& name, const std::u16string& value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

void SetWords(const std::u16string& name, std::initializer_list<WORD> words) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  std::vector<BYTE> data;
  for (WORD w : words) data.insert(data.end(), {static_cast<BYTE>(w & 0xFF), static_cast<BYTE>(w >> 8)});
  RegSetValueExW(k, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(k);
}

std::u16string GetString(HKEY root, const std::u16string& key, const std::u16string& name) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return u"<no key>";
  WCHAR data[128] = {};
  DWORD size = sizeof data - 2, type = 0;
  LONG error = RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(k);
  return error == ERROR_SUCCESS ? std::u16string(data) : u"<no value>";
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

class RegistryRestoreBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev.MakeDir(u"\\temp");
    fs::path runner = dev.Host(u"\\Windows\\QuilmoInit.exe");
    fs::create_directories(runner.parent_path());
    fs::copy_file(fs::path(QUILMO_BIN_DIR) / "QuilmoInit", runner, fs::copy_options::overwrite_existing);
    SetLog(&log);
    log.Open(false);
    SetString(HKEY_LOCAL_MACHINE, u"init\\BootVars", u"SystemHive", u"Documents and Settings\\system.hv");
    SetString(HKEY_LOCAL_MACHINE, u"init\\BootVars", u"ProfileDir", u"Documents and Settings");
    // The resident system programs, the shell waiting for them.
    SetString(HKEY_LOCAL_MACHINE, u"init", u"Launch20", u"device.exe");
    SetString(HKEY_LOCAL_MACHINE, u"init", u"Launch50", u"shell32.exe");
    SetWords(u"Depend50", {20});
    ForgetLiveHivePaths();
    RebootActions::Instance().Clear();
    context.index = &index;
    context.compressor = &compressor;
    context.compressFlag = &compress;
    index.SetComponent(IndexOwner::Registry, &component);
    InitCipherKey(false, nullptr);
  }
  void TearDown() override {
    SetLog(nullptr);
    ForgetLiveHivePaths();
    RebootActions::Instance().Clear();
  }

  bool Backup() {
    index.Reset();
    IncludedKinds kinds{false, false, false, true};
    index.AddTopLevelComponents(&kinds);
    index.PopulateSelected();
    AImageFile image(CString(kImage), AImageFile::kBackup);
    if (!image.Open()) return false;
    ARegistry registry(context, &progress, &image);
    bool ok = registry.Backup();
    DWORD length = 0;
    ok = ok && index.Store(image, false, &length);
    ok = ok && image.FlushWriteBuffer();
    AImageFileHeader tail(END_OF_IMAGE, length, 0, 0, image.GetCRC(), 0);
    ok = ok && tail.WritePlain(image);
    return image.Close() && ok;
  }

  bool Restore() {
    index.Reset();
    AImageFile image(CString(kImage), AImageFile::kRestore);
    if (!image.Open()) return false;
    if (!index.Locate(image, false)) return false;
    ARegistry registry(context, &progress, &image);
    bool ok = registry.Restore();
    image.Close();
    return ok && index.AddBootCopiesForRestore();
  }

  static constexpr const char16_t* kImage = u"\\Backup.qbk";
  quilmo::test::TestDevice dev;
  ALog log;
  Index index;
  ACompressor compressor{1};
  bool compress = false;
  FileSystemContext context;
  ARegistryComponent component;
  NullProgress progress;
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
