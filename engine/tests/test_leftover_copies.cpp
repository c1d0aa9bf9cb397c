// Boot-time copies that an interrupted operation left: removed before the
// next operation queues its own, unless a queued copy-back still needs them.
#include <gtest/gtest.h>

#include <filesystem>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "engine/LeftoverCopies.h"
#include "engine/RebootActions.h"
#include "formats/RebootActionsFormat.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

void QueueCopyBackInRegistry(DWORD index, const WCHAR* backupPath, DWORD operation) {
  CString path;
  path.Format(u"%s\\CopyFile%u", RebootActionsKey::kPath, index);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, RebootActionsKey::kOperation, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&operation),
                           sizeof operation),
            ERROR_SUCCESS);
  const CString text(backupPath);
  ASSERT_EQ(RegSetValueExW(key, RebootActionsKey::kBackupPath, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.GetString()),
                           static_cast<DWORD>((text.GetLength() + 1) * sizeof(WCHAR))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

class LeftoverCopiesTest : public ::testing::Test {
 protected:
  void TearDown() override { RebootActions::Instance().Clear(); }
  bool Exists(std::u16string_view path) const { return std::filesystem::exists(dev.Host(path)); }

  TestDevice dev;
};

TEST_F(LeftoverCopiesTest, CopiesNothingWillUseAreRemovedWhateverTheirAttributes) {
  dev.PutFile(u"\\pim.vol", "volume");
  dev.PutFile(u"\\pim.volc", "stale copy");
  dev.PutFile(u"\\mxip_lang.volc", "copy of a volume that is gone");
  ASSERT_TRUE(SetFileAttributesW(u"\\pim.volc", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  dev.PutFile(u"\\My Documents\\notes.volc", "a file of the user's, no copy of a listed file");

  EXPECT_EQ(RemoveLeftoverBootCopies({CString(u"\\pim.vol"), CString(u"\\mxip_lang.vol"), CString(u"\\cemail.vol")}), 2);
  EXPECT_FALSE(Exists(u"\\pim.volc"));
  EXPECT_FALSE(Exists(u"\\mxip_lang.volc"));
  EXPECT_TRUE(Exists(u"\\pim.vol"));
  EXPECT_TRUE(Exists(u"\\My Documents\\notes.volc"));
}

TEST_F(LeftoverCopiesTest, ACopyThatAQueuedCopyBackNamesWaitsForItsBoot) {
  dev.PutFile(u"\\pim.volc", "restored, written under the actions key");
  dev.PutFile(u"\\cemail.volc", "restored, queued by this program");
  dev.PutFile(u"\\mxip_system.volc", "a backup copy the actions key names: made at boot anyway");
  QueueCopyBackInRegistry(0, u"\\PIM.VOLC", RebootActionsKey::kOperationRestoreCopy);
  QueueCopyBackInRegistry(1, u"\\mxip_system.volc", RebootActionsKey::kOperationBackupCopy);
  RebootActions::Instance().AddRestoreCopy(CString(u"\\cemail.volc"), CString(u"\\cemail.vol"), 0);

  EXPECT_EQ(RemoveLeftoverBootCopies(
                {CString(u"\\pim.vol"), CString(u"\\cemail.vol"), CString(u"\\mxip_system.vol")}),
            1);
  EXPECT_TRUE(Exists(u"\\pim.volc"));
  EXPECT_TRUE(Exists(u"\\cemail.volc"));
  EXPECT_FALSE(Exists(u"\\mxip_system.volc"));
}

}  // namespace
