// The registry component: both hives through a real image, the restore
// queueing the boot-time replacement (and the boot putting it in place),
// the live hive paths and a damaged hive in the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "ce/boot.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "core/Log.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "engine/RegistryComponent.h"
#include "image/Cipher.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "registry_test_util.h"
#include "testkit/ImageTail.h"
#include "testkit/TaskSetup.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

using regtest::GetString;
using regtest::SetString;
using regtest::TestProgress;

class RegistryComponentTest : public regtest::RegistryImageTest {
 protected:
  void SetUp() override {
    RegistryImageTest::SetUp();
    SetLogReportSink([this](int level, DWORD, const CString& text) {
      report.push_back({level, text.str()});
    });
    RebootActions::Instance().SetHklmPath(u"");
    RebootActions::Instance().SetHkcuPath(u"");
  }
  void TearDown() override {
    SetLogReportSink(nullptr);
    RegistryImageTest::TearDown();
    RebootActions::Instance().SetHklmPath(u"");
    RebootActions::Instance().SetHkcuPath(u"");
  }

  bool Reported(const std::u16string& text) const {
    return std::any_of(report.begin(), report.end(),
                       [&](const auto& e) { return e.second.find(text) != std::u16string::npos; });
  }

  bool Restore() { return RestoreFromImage(); }

  std::vector<std::pair<int, std::u16string>> report;
};

TEST_F(RegistryComponentTest, TreeHasBothHivesWithTheNodesSelection) {
  for (bool selected : {true, false}) {
    index.Reset();
    IncludedKinds kinds{false, false, false, selected};
    index.AddTopLevelComponents(&kinds);
    int top = index.FindChildOfType(TREE_REGISTRY);
    index.PopulateChildren(top, selected);
    int a = index.FirstChild(top), b = index.NextSibling(a);
    ASSERT_NE(b, -1);
    EXPECT_EQ(index.NextSibling(b), -1);
    EXPECT_EQ(index.NodeName(a), u"\\temp\\HKLM.img");
    EXPECT_EQ(index.UserData(a), 1u);
    EXPECT_EQ(index.NodeName(b), u"\\temp\\HKCU.img");
    EXPECT_EQ(index.UserData(b), 2u);
    EXPECT_EQ(index.NodeType(b), static_cast<DWORD>(TREE_REGISTRY_ITEM));
    EXPECT_EQ(index.IsSelected(a), selected);
    EXPECT_EQ(index.IsSelected(b), selected);
    EXPECT_EQ(component.ImageSize(index, a), 0x40000u + 2 * 14 + 122);
    EXPECT_EQ(index.SizeOfSelected(top), selected ? 2 * (0x40000u + 2 * 14 + 122) : 0u);
    EXPECT_EQ(ARegistryComponent::StoredSize(index), selected ? 2 * 0x40000u : 0u);
  }
}

TEST_F(RegistryComponentTest, HiveFilesFromBootVarsIgnoringCase) {
  EXPECT_TRUE(IsHiveFile(u"\\documents and settings\\SYSTEM.HV"));
  EXPECT_TRUE(IsHiveFile(u"\\Documents and Settings\\default\\user.hv"));
  EXPECT_TRUE(IsHiveFile(u"\\TEMP\\hklm.img"));
  EXPECT_TRUE(IsHiveFile(u"\\temp\\HKCU.img"));
  EXPECT_FALSE(IsHiveFile(u"\\Documents and Settings\\other.hv"));
  EXPECT_FALSE(IsHiveFile(u""));

  // Without the key only the saved hive files are known; a warning says so.
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init\\BootVars"), ERROR_SUCCESS);
  ForgetLiveHivePaths();
  EXPECT_FALSE(IsHiveFile(u"\\Documents and Settings\\system.hv"));
  EXPECT_TRUE(IsHiveFile(u"\\temp\\HKLM.img"));
  EXPECT_TRUE(Reported(u"Couldn't open hive key"));

  // A missing value leaves its path alone empty.
  SetString(HKEY_LOCAL_MACHINE, u"init\\BootVars", u"ProfileDir", u"\\Profiles");
  ForgetLiveHivePaths();
  EXPECT_TRUE(LiveHivePaths().hklm.IsEmpty());
  EXPECT_EQ(LiveHivePaths().hkcu.str(), u"\\Profiles\\default\\user.hv");
  EXPECT_TRUE(Reported(u"Couldn't get hklm hive path"));
}

// Backup of both hives, a change, the restore: the live registry keeps the
// change until the boot puts the restored hive in place.
TEST_F(RegistryComponentTest, BackupRestoreAndBootPutTheHivesBack) {
  SetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour", u"blue");
  SetString(HKEY_CURRENT_USER, u"Software\\Sample", u"Name", u"Ada");
  ASSERT_TRUE(Backup());
  EXPECT_FALSE(System::FileExists(u"\\temp\\HKLM.img"));
  EXPECT_FALSE(System::FileExists(u"\\temp\\HKCU.img"));
  EXPECT_GE(progress.forced, 2);
  int top = index.FindChildOfType(TREE_REGISTRY);
  for (int c = index.FirstChild(top); c != -1; c = index.NextSibling(c)) {
    EXPECT_TRUE(index.IsSelected(c));
    EXPECT_NE(index.NodeInfo(c).sizeInImage, 0x40000u);
    EXPECT_GT(index.NodeInfo(c).fileSize, 0u);
  }

  SetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour", u"red");
  SetString(HKEY_CURRENT_USER, u"Software\\Sample", u"Name", u"Bob");
  // An old file of the same name must not pass for the restored hive.
  dev.PutFile(u"\\temp\\HKLM.img", "stale");
  index.Reset();
  ASSERT_TRUE(Restore());
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour"), u"red");
  HKEY saved = nullptr;
  ASSERT_EQ(ce::RegOpenHiveFile(u"\\temp\\HKLM.img", HKEY_LOCAL_MACHINE, &saved), ERROR_SUCCESS);
  EXPECT_EQ(GetString(saved, u"Software\\Sample", u"Colour"), u"blue");
  RegCloseKey(saved);
  ASSERT_EQ(ce::RegOpenHiveFile(u"\\temp\\HKCU.img", HKEY_CURRENT_USER, &saved), ERROR_SUCCESS);
  EXPECT_EQ(GetString(saved, u"Software\\Sample", u"Name"), u"Ada");
  RegCloseKey(saved);

  ASSERT_TRUE(index.AddBootCopiesForRestore());
  EXPECT_EQ(RebootActions::Instance().HklmPath(), u"\\temp\\HKLM.img");
  EXPECT_EQ(RebootActions::Instance().HkcuPath(), u"\\temp\\HKCU.img");
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour"), u"red");

  // The boot-time runner's step for the system hive, then the boot.
  ASSERT_EQ(RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, u"\\temp\\HKLM.img", nullptr), ERROR_SUCCESS);
  ce::BootOptions options;
  options.runTimeoutMs = 20000;
  ce::BootReport bootReport;
  ASSERT_TRUE(ce::BootDevice(options, &bootReport));
  EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour"), u"blue");
}

TEST_F(RegistryComponentTest, WithoutBootVarsBackupAndRestoreStillWork) {
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"init\\BootVars"), ERROR_SUCCESS);
  ForgetLiveHivePaths();
  ASSERT_TRUE(Backup());
  index.Reset();
  ASSERT_TRUE(Restore());
  ASSERT_TRUE(index.AddBootCopiesForRestore());
  EXPECT_EQ(RebootActions::Instance().HklmPath(), u"\\temp\\HKLM.img");
}

// Only the user hive selected: the system hive is neither stored nor queued.
TEST_F(RegistryComponentTest, DeselectedHiveIsLeftOut) {
  index.Reset();
  IncludedKinds kinds{false, false, false, true};
  index.AddTopLevelComponents(&kinds);
  index.PopulateSelected();
  int top = index.FindChildOfType(TREE_REGISTRY);
  index.SetSelected(index.FirstChild(top), false);
  {
    AImageFile image(CString(kImage), AImageFile::kBackup);
    ASSERT_TRUE(image.Open());
    ARegistry registry(context, &progress, &image);
    ASSERT_TRUE(registry.Backup());
    ASSERT_TRUE(quilmo::test::StoreIndexAndTail(image, index, false));
    ASSERT_TRUE(image.Close());
  }
  index.Reset();
  ASSERT_TRUE(Restore());
  ASSERT_TRUE(index.AddBootCopiesForRestore());
  EXPECT_TRUE(RebootActions::Instance().HklmPath().empty());
  EXPECT_EQ(RebootActions::Instance().HkcuPath(), u"\\temp\\HKCU.img");
}

// A hive damaged in the image is never queued to replace the live one.
TEST_F(RegistryComponentTest, DamagedHiveFailsTheRestore) {
  ASSERT_TRUE(Backup());
  // The first bytes of the system hive's data (after the entry's header,
  // name and block) are overwritten, its file magic with them.
  int hklm = index.FirstChild(index.FindChildOfType(TREE_REGISTRY));
  size_t data = index.NodeInfo(hklm).fileOffset + 80 + 30 + 40;
  std::string host = dev.ReadFile(kImage);
  ASSERT_GT(host.size(), data + 2000);
  for (size_t i = data; i < data + 2000; ++i) host[i] = static_cast<char>(host[i] ^ 0x5A);
  dev.PutFile(kImage, host);
  index.Reset();
  EXPECT_FALSE(Restore());
  EXPECT_TRUE(Reported(u"Restored hive is not usable"));
  EXPECT_FALSE(System::FileExists(u"\\temp\\HKLM.img"));
  ASSERT_TRUE(index.AddBootCopiesForRestore());
  EXPECT_TRUE(RebootActions::Instance().HklmPath().empty());
}

TEST_F(RegistryComponentTest, UnknownRootOrTypeFailsTheBackup) {
  index.Reset();
  IncludedKinds kinds{false, false, false, true};
  index.AddTopLevelComponents(&kinds);
  index.PopulateSelected();
  int top = index.FindChildOfType(TREE_REGISTRY);
  AImageFile image(CString(kImage), AImageFile::kBackup);
  ASSERT_TRUE(image.Open());
  ARegistry registry(context, &progress, &image);
  index.NodeInfo(index.FirstChild(top)).userData = 7;
  EXPECT_FALSE(registry.Backup());
  index.NodeInfo(index.FirstChild(top)).userData = 1;
  index.NodeInfo(index.FirstChild(top)).ComponentType = FILE_ENTRY;
  EXPECT_FALSE(registry.Backup());
  EXPECT_TRUE(Reported(u"Unexpected content type during registry backup"));
  EXPECT_TRUE(image.Close());
}


// The imaging task's registry step through the registered factory: the
// backup road stores both hives, the restore road writes them back.
TEST(RegistryComponentTask, RoadsUseTheRegisteredComponent) {
  TestDevice dev;
  dev.MakeDir(u"\\temp");
  AGlobal g;
  g.g_Log.Open(false);
  ForgetLiveHivePaths();
  RebootActions::Instance().SetHklmPath(u"");
  RegisterRegistryComponent();
  SetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour", u"green");

  const IncludedKinds registry{false, false, false, true};
  quilmo::test::PrepareBackupOperation(g, registry, u"\\Reg.qbk", CString());
  TestProgress progress;
  {
    AImagingTaskClient task(g.g_Operation, &progress);
    EXPECT_TRUE(task.Run()) << ce::ToUtf8(task.GetFailureText().view());
  }
  EXPECT_FALSE(System::FileExists(u"\\temp\\HKLM.img"));
  SetString(HKEY_LOCAL_MACHINE, u"Software\\Sample", u"Colour", u"grey");

  {
    ASSERT_TRUE(quilmo::test::PrepareRestoreOperation(g, registry, u"\\Reg.qbk", CString()));
    AImagingTaskClient task(g.g_Operation, &progress);
    EXPECT_TRUE(task.Run()) << ce::ToUtf8(task.GetFailureText().view());
  }
  HKEY saved = nullptr;
  ASSERT_EQ(ce::RegOpenHiveFile(u"\\temp\\HKLM.img", HKEY_LOCAL_MACHINE, &saved), ERROR_SUCCESS);
  EXPECT_EQ(GetString(saved, u"Software\\Sample", u"Colour"), u"green");
  RegCloseKey(saved);
  // The road itself queued the hive for the next boot.
  EXPECT_EQ(RebootActions::Instance().HklmPath(), u"\\temp\\HKLM.img");

  SetTaskComponentFactory(TaskPart::Registry, nullptr);
  g.g_WorkingIndex.SetComponent(IndexOwner::Registry, nullptr);
  RebootActions::Instance().SetHklmPath(u"");
  RebootActions::Instance().SetHkcuPath(u"");
  ForgetLiveHivePaths();
}

}  // namespace
