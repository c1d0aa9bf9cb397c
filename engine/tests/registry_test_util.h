// Shared by the registry component tests: registry string values, a
// progress sink, and the pieces that back the registry up into an image and
// restore it from there.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ce/registry.h"
#include "core/Log.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "engine/RegistryComponent.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/ImageTail.h"
#include "testkit/TestDevice.h"

namespace regtest {

class TestProgress : public ITaskProgress {
 public:
  TestProgress() : ITaskProgress(&record) {}
  void UpdateProgress(bool force) override { forced += force ? 1 : 0; }
  TaskProgressRecord record;
  int forced = 0;
};

inline void SetString(HKEY root, const std::u16string& key, const std::u16string& name,
                      const std::u16string& value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

// The value's text, "<no key>" or "<no value>".
inline std::u16string GetString(HKEY root, const std::u16string& key, const std::u16string& name) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return u"<no key>";
  WCHAR data[128] = {};
  DWORD size = sizeof data - 2, type = 0;
  LONG error = RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(k);
  return error == ERROR_SUCCESS ? std::u16string(data) : u"<no value>";
}

// A scratch device with the hive locations in BootVars, the log open and an
// index whose registry part is the component under test.
class RegistryImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev.MakeDir(u"\\temp");
    SetLog(&log);
    log.Open(false);
    SetString(HKEY_LOCAL_MACHINE, u"init\\BootVars", u"SystemHive", u"Documents and Settings\\system.hv");
    SetString(HKEY_LOCAL_MACHINE, u"init\\BootVars", u"ProfileDir", u"Documents and Settings");
    ForgetLiveHivePaths();
    context.index = &index;
    context.compressor = &compressor;
    context.compressFlag = &compress;
    index.SetComponent(IndexOwner::Registry, &component);
    InitCipherKey(false, nullptr);
  }
  void TearDown() override {
    SetLog(nullptr);
    ForgetLiveHivePaths();
  }

  // An image holding the registry part alone: entries, index, tail.
  bool Backup() {
    index.Reset();
    IncludedKinds kinds{false, false, false, true};
    index.AddTopLevelComponents(&kinds);
    index.PopulateSelected();
    AImageFile image(CString(kImage), AImageFile::kBackup);
    if (!image.Open()) return false;
    ARegistry registry(context, &progress, &image);
    bool ok = registry.Backup();
    ok = ok && quilmo::test::StoreIndexAndTail(image, index, false);
    return image.Close() && ok;
  }

  // The registry part of the image restored with the index it holds.
  bool RestoreFromImage() {
    AImageFile image(CString(kImage), AImageFile::kRestore);
    if (!image.Open()) return false;
    if (!index.Locate(image, false)) return false;
    ARegistry registry(context, &progress, &image);
    bool ok = registry.Restore();
    return image.Close() && ok;
  }

  static constexpr const char16_t* kImage = u"\\Backup.qbk";
  quilmo::test::TestDevice dev;
  ALog log;
  Index index;
  ACompressor compressor{1};
  bool compress = false;
  FileSystemContext context;
  ARegistryComponent component;
  TestProgress progress;
};

}  // namespace regtest
