// APath splitting and joining, and the path helpers beside it.
#include <gtest/gtest.h>

#include "ce/errors.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "cesim/msgbox.h"
#include "cesim/process.h"
#include "core/Path.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {
std::u16string S(const CString& s) { return s.str(); }
}  // namespace

TEST(APath, SplitsAFilePath) {
  APath p(u"\\Storage Card\\Backup_2006-03-07.pbf", false);
  EXPECT_EQ(S(p.GetFolder()), u"\\Storage Card\\");
  EXPECT_EQ(S(p.GetName()), u"Backup_2006-03-07");
  EXPECT_EQ(S(p.GetExtension()), u"pbf");
  EXPECT_EQ(S(p.GetFileName()), u"Backup_2006-03-07.pbf");
  EXPECT_EQ(S(p.GetFullPath()), u"\\Storage Card\\Backup_2006-03-07.pbf");
  EXPECT_EQ(S(p.GetRootFolder()), u"\\Storage Card");
}

TEST(APath, DotsInFoldersAndNames) {
  APath p(u"\\a.b\\file", false);
  EXPECT_EQ(S(p.GetExtension()), u"");
  EXPECT_EQ(S(p.GetName()), u"file");
  EXPECT_EQ(S(p.GetFullPath()), u"\\a.b\\file");

  APath q(u"\\temp\\my.backup.pbf", false);
  EXPECT_EQ(S(q.GetName()), u"my.backup");
  EXPECT_EQ(S(q.GetExtension()), u"pbf");

  q.SetName(u"Backup.old", false);
  EXPECT_EQ(S(q.GetName()), u"Backup");
  EXPECT_EQ(S(q.GetExtension()), u"pbf");
  q.SetName(u"\\Image.exe", true);
  EXPECT_EQ(S(q.GetName()), u"Image");
  EXPECT_EQ(S(q.GetExtension()), u"exe");
  q.SetExtension(u".pbf");
  EXPECT_EQ(S(q.GetFullPath()), u"\\temp\\Image.pbf");
}

TEST(APath, FoldersKeepTheirBackslashes) {
  APath p;
  EXPECT_TRUE(p.IsEmpty());
  p.SetFolder(u"Temp");
  EXPECT_EQ(S(p.GetFolder()), u"\\Temp\\");
  EXPECT_EQ(S(p.GetFolder(false)), u"\\Temp");
  EXPECT_FALSE(p.IsEmpty());
  EXPECT_EQ(S(p.GetRootFolder()), u"\\Temp");

  p.SetFolder(u"\\");
  EXPECT_EQ(S(p.GetFolder(false)), u"\\");
  EXPECT_EQ(S(p.GetRootFolder()), u"\\");

  APath f(u"\\Storage Card\\Backups", true);
  EXPECT_EQ(S(f.GetFolder()), u"\\Storage Card\\Backups\\");
  EXPECT_EQ(S(f.GetFileName()), u"");
  EXPECT_EQ(S(f.GetRootFolder()), u"\\Storage Card");
  f.Clear();
  EXPECT_TRUE(f.IsEmpty());
}

TEST(APath, FilesBelowTheRootAndBareNames) {
  APath root(u"\\Backup.pbf", false);
  EXPECT_EQ(S(root.GetFullPath()), u"\\Backup.pbf");
  EXPECT_EQ(S(root.GetName()), u"Backup");

  APath bare(u"Backup.pbf", false);
  EXPECT_EQ(S(bare.GetFolder()), u"");
  EXPECT_EQ(S(bare.GetFullPath()), u"Backup.pbf");
  EXPECT_EQ(S(bare.GetRootFolder()), u"");
}

TEST(APath, PrefixAndFolderTestsIgnoreCase) {
  APath p(u"\\Storage Card\\Backups\\Backup.pbf", false);
  EXPECT_TRUE(p.IsPrefixOf(u"\\storage card\\backups\\BACKUP.PBF.tmp"));
  EXPECT_FALSE(p.IsPrefixOf(u"\\storage card\\backups"));
  EXPECT_TRUE(p.IsInFolder(u"\\STORAGE CARD"));
  EXPECT_TRUE(p.IsInFolder(u"\\storage card\\backups\\"));
  EXPECT_FALSE(p.IsInFolder(u"\\temp"));
}

TEST(APath, StorageCardAndBuiltInStorage) {
  ce::Profile prof;
  prof.cards = {u"Storage Card"};
  TestDevice dev(prof);
  ce::SetMessageBoxService([](const ce::MessageBoxRequest&) { return IDOK; });
  dev.MakeDir(u"\\Built-in Storage\\Backups");
  dev.MakeDir(u"\\temp");
  EXPECT_TRUE(APath(u"\\Storage Card\\Backups\\a.pbf", false).IsOnStorageCard());
  EXPECT_FALSE(APath(u"\\temp\\a.pbf", false).IsOnStorageCard());
  EXPECT_FALSE(APath(u"\\Built-in Storage\\a.pbf", false).IsOnStorageCard());
  EXPECT_TRUE(APath(u"\\Built-in Storage\\Backups\\a.pbf", false).IsOnBuiltInStorage());
  // The comparison is exact in case.
  EXPECT_FALSE(APath(u"\\built-in storage\\a.pbf", false).IsOnBuiltInStorage());
  EXPECT_FALSE(APath(u"\\temp\\a.pbf", false).IsOnBuiltInStorage());
  ce::SetMessageBoxService(nullptr);
}

TEST(PathHelpers, FindDataStartupParentAndCorvanePath) {
  TestDevice dev;
  dev.PutFile(u"\\temp\\a.txt", "abc");
  WIN32_FIND_DATAW fd{};
  EXPECT_TRUE(GetFindData(u"\\temp\\a.txt", &fd));
  EXPECT_EQ(fd.nFileSizeLow, 3u);
  EXPECT_TRUE(GetFindData(u"\\temp\\*.txt", nullptr));
  EXPECT_FALSE(GetFindData(u"\\temp\\b.txt", &fd));

  EXPECT_EQ(S(GetStartupParentFolder()), u"\\");

  ce::SetOwnProgramForTest(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe", u"");
  EXPECT_EQ(S(GetLocalCorvaneEXEPath()), u"\\Program Files\\Quilmo Backup\\Lissent.exe");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config",
                            0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char16_t name[] = u"Corvane.exe";
  RegSetValueExW(key, u"CorvaneEXEName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof(name));
  RegCloseKey(key);
  EXPECT_EQ(S(GetLocalCorvaneEXEPath()), u"\\Program Files\\Quilmo Backup\\Corvane.exe");
}
