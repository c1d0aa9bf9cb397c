// The backup image path: date suffix, display form, the default-location
// search; old-image management by count and by space.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/file.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "image/BackupLocation.h"
#include "image/ImageFormat.h"
#include "testkit/LogCapture.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

// The texts the search and the display form use, from an override XML.
class Strings {
 public:
  explicit Strings(const TestDevice& dev) {
    dev.PutFile(u"\\strings.xml",
                "<?xml version=\"1.0\"?>\n<resources>"
                "<string id=\"57662\" value=\"Backup\"/>"
                "<string id=\"65257\" value=\"Desktop PC\"/>"
                "<string id=\"65312\" value=\"Shares\"/>"
                "</resources>");
    EXPECT_TRUE(LoadResOverrides(u"\\strings.xml"));
  }
  ~Strings() { GetResourceOverrides().RemoveAll(); }
};

std::u16string Full(const APath& p) { return p.GetFullPath().str(); }

CString StoredDefault() {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  CString value;
  settings.ReadString(u"csDefaultBackupFilename", value);
  return value;
}

void StoreDefault(LPCWSTR path) {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  ASSERT_TRUE(settings.WriteString(u"csDefaultBackupFilename", path));
}

// A file of size bytes that the image check takes for an image (marker in
// its last 80 bytes) or not, with the given last write time.
void PutImage(const TestDevice& dev, std::u16string_view path, size_t size, DWORD age,
              bool image = true) {
  std::string bytes(size, 'd');
  if (image) bytes.replace(size - 80, ImageFormat::kMarkerLength, ImageFormat::kMarker);
  dev.PutFile(path, bytes);
  HANDLE h = CreateFileW(std::u16string(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME t{age, 0x01D00000};
  ASSERT_TRUE(SetFileTime(h, &t, &t, &t));
  CloseHandle(h);
}

bool Exists(LPCWSTR path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

BackupOptionsBlock ByCount(DWORD max) {
  BackupOptionsBlock b{};
  b.manageFileQuantity = 1;
  b.manageFileQuantityQuantity = max;
  return b;
}

BackupOptionsBlock BySpace(DWORD megabytes) {
  BackupOptionsBlock b{};
  b.manageFileSize = 1;
  b.manageFileSizeSize = megabytes;
  return b;
}

constexpr ULONGLONG kKB = 1024;

}  // namespace

// ---- ABackupFilePath ----------------------------------------------------------

TEST(ABackupFilePath, DateSuffixHasLeadingZerosAndDoesNotStack) {
  ABackupFilePath path;
  EXPECT_TRUE(path.IsEmpty());
  path.SetFolder(u"\\Storage Card");
  path.SetFileName(u"Backup");
  path.SetExtension(u"pbf");
  path.AppendDateSuffix(2006, 3, 7);
  EXPECT_EQ(Full(path), u"\\Storage Card\\Backup_2006-03-07.pbf");
  path.AppendDateSuffix(2006, 3, 8);  // a later run replaces the date
  EXPECT_EQ(path.GetName(), CString(u"Backup_2006-03-08"));
  EXPECT_EQ(path.GetBaseName(), CString(u"Backup"));

  ABackupFilePath fresh;  // no name yet: the base name takes the date
  fresh.AppendDateSuffix(2010, 12, 31);
  EXPECT_EQ(fresh.GetName(), CString(u"Backup_2010-12-31"));

  ABackupFilePath copy = path;
  copy.SetOnHost(true);
  ABackupFilePath assigned;
  assigned = copy;
  EXPECT_EQ(Full(assigned), Full(path));
  EXPECT_TRUE(assigned.IsOnHost());
  EXPECT_EQ(assigned.GetLocationKind(), kLocationRemoteHost);
}

TEST(ABackupFilePath, DisplayNameNamesTheHost) {
  TestDevice dev;
  Strings strings(dev);
  ABackupFilePath path;
  path.Set(u"\\Backups\\Mine.pbf", false);
  EXPECT_EQ(path.GetDisplayName(), CString(u"\\Backups\\Mine.pbf"));
  path.SetLocationKind(kLocationAgentHost);
  EXPECT_EQ(path.GetDisplayName(), CString(u"Desktop PC: \\Backups\\Mine.pbf"));
}

TEST(ABackupFilePath, StorageCardBeatsBuiltInStorageAndNetworkFolders) {
  ce::Profile profile;
  profile.cards = {u"Built-in Storage", u"Network", u"Shares", u"Storage Card"};
  TestDevice dev(profile);
  for (auto* f : {u"\\Built-in Storage", u"\\Network", u"\\Shares", u"\\Storage Card"})
    dev.MakeDir(f);
  Strings strings(dev);

  ABackupFilePath path;
  path.SetOnHost(true);
  ASSERT_TRUE(path.FindDefaultBackupLocation(true, false));
  EXPECT_EQ(Full(path), u"\\Storage Card\\Backup.pbf");
  EXPECT_FALSE(path.IsOnHost());
  EXPECT_EQ(StoredDefault(), CString(u"\\Storage Card\\Backup.pbf"));  // written back

  // Without the card, the mounted built-in storage; network folders never.
  ASSERT_TRUE(ce::RemoveStorageCard(u"Storage Card"));
  ABackupFilePath second;
  ASSERT_TRUE(second.FindDefaultBackupLocation(false, false));
  EXPECT_EQ(Full(second), u"\\Built-in Storage\\Backup.pbf");
  EXPECT_EQ(StoredDefault(), CString(u"\\Storage Card\\Backup.pbf"));  // registry not used
}

TEST(ABackupFilePath, MainMemoryOnlyWhenAllowed) {
  ce::Profile profile;
  profile.cards = {u"Network"};
  TestDevice dev(profile);
  dev.MakeDir(u"\\Network");
  Strings strings(dev);

  ABackupFilePath path;
  ASSERT_TRUE(path.FindDefaultBackupLocation(false, false));
  EXPECT_EQ(Full(path), u"\\My Documents\\Backup.pbf");

  ABackupRegistrySettings config(kConfigKeyKind);
  ASSERT_TRUE(config.WriteDWORD(u"AllowBackupToMainMemory", 0));
  ABackupFilePath refused;
  EXPECT_FALSE(refused.FindDefaultBackupLocation(false, false));
}

TEST(ABackupFilePath, RegistryDefaultIsTakenWhenItsFolderExists) {
  ce::Profile profile;
  profile.cards = {u"Storage Card"};
  TestDevice dev(profile);
  dev.MakeDir(u"\\Storage Card");
  dev.MakeDir(u"\\Saved");
  Strings strings(dev);

  StoreDefault(u"\\Saved\\Mine.exe");
  ABackupFilePath path;
  ASSERT_TRUE(path.FindDefaultBackupLocation(true, false));
  EXPECT_EQ(Full(path), u"\\Saved\\Mine.pbf");
  EXPECT_FALSE(path.IsOnHost());
  EXPECT_EQ(path.GetBaseName(), CString(u"Mine"));

  StoreDefault(u"OnTheHost.pbf");  // no folder part: a host path
  ABackupFilePath host;
  ASSERT_TRUE(host.FindDefaultBackupLocation(true, false));
  EXPECT_EQ(Full(host), u"OnTheHost.pbf");
  EXPECT_TRUE(host.IsOnHost());

  StoreDefault(u"\\Gone\\Old.pbf");  // folder missing: search the cards
  ABackupFilePath searched;
  ASSERT_TRUE(searched.FindDefaultBackupLocation(true, false));
  EXPECT_EQ(Full(searched), u"\\Storage Card\\Backup.pbf");
  EXPECT_EQ(StoredDefault(), CString(u"\\Storage Card\\Backup.pbf"));
}

TEST(ABackupFilePath, BuiltInStorageOnly) {
  ce::Profile profile;
  profile.cards = {u"Storage Card"};
  TestDevice dev(profile);
  dev.MakeDir(u"\\Storage Card");
  Strings strings(dev);

  ABackupFilePath none;
  EXPECT_FALSE(none.FindDefaultBackupLocation(false, true));

  dev.MakeDir(u"\\Built-in Storage");
  ABackupFilePath path;
  path.SetOnHost(true);
  ASSERT_TRUE(path.FindDefaultBackupLocation(false, true));
  EXPECT_EQ(Full(path), u"\\Built-in Storage\\Backup.pbf");
  EXPECT_FALSE(path.IsOnHost());
}

// ---- AFileManagement ----------------------------------------------------------

class FileManagementTest : public ::testing::Test {
 protected:
  FileManagementTest() : dev(MakeProfile()) {
    dev.MakeDir(u"\\Storage Card");
    dev.MakeDir(u"\\Storage Card\\Backups");
  }
  static ce::Profile MakeProfile() {
    ce::Profile p;
    p.cards = {u"Storage Card"};
    // 2 MB for the allocation plus the 100 KB reserve.
    p.capacities.push_back({u"\\Storage Card", 2 * 1024 * kKB + 102400});
    return p;
  }
  // Three images of 300 KB, oldest first.
  void PutThree() {
    PutImage(dev, u"\\Storage Card\\Backups\\one.pbf", 300 * kKB, 100);
    PutImage(dev, u"\\Storage Card\\Backups\\two.exe", 300 * kKB, 200);
    PutImage(dev, u"\\Storage Card\\Backups\\three.pbf", 300 * kKB, 300);
  }
  TestDevice dev;
  const CString current = u"\\Storage Card\\Backups\\new.pbf";
};

TEST_F(FileManagementTest, CountRemovesOnlyTheOldest) {
  PutThree();
  AFileManagement report(ByCount(3), current);
  ULONGLONG bytes = 0;
  ASSERT_TRUE(report.CalculateSpaceOccupied(0, true, &bytes));
  EXPECT_EQ(bytes, 300 * kKB);
  EXPECT_TRUE(Exists(u"\\Storage Card\\Backups\\one.pbf"));  // report only

  AFileManagement manage(ByCount(3), current);
  ASSERT_TRUE(manage.RemoveOldBackupFiles(0, true, &bytes));
  EXPECT_EQ(bytes, 300 * kKB);
  EXPECT_FALSE(Exists(u"\\Storage Card\\Backups\\one.pbf"));
  EXPECT_TRUE(Exists(u"\\Storage Card\\Backups\\two.exe"));
  EXPECT_TRUE(Exists(u"\\Storage Card\\Backups\\three.pbf"));

  // Not adding one: two left under a maximum of 3, nothing to do.
  ASSERT_TRUE(manage.RemoveOldBackupFiles(0, false, &bytes));
  EXPECT_EQ(bytes, 0u);
}

TEST_F(FileManagementTest, OnlyLowerCaseImagesThatPassTheCheckAreCounted) {
  PutThree();
  // Older than all of them, yet never counted or removed.
  PutImage(dev, u"\\Storage Card\\Backups\\UPPER.PBF", 10 * kKB, 1);
  PutImage(dev, u"\\Storage Card\\Backups\\fake.pbf", 10 * kKB, 2, false);
  PutImage(dev, u"\\Storage Card\\Backups\\new.pbf", 10 * kKB, 3);  // the image being written
  PutImage(dev, u"\\Storage Card\\Backups\\notes.txt", 10 * kKB, 4);
  dev.MakeDir(u"\\Storage Card\\Backups\\sub.pbf");
  PutImage(dev, u"\\Storage Card\\Backups\\hidden.pbf", 10 * kKB, 5);
  SetFileAttributesW(u"\\Storage Card\\Backups\\hidden.pbf", FILE_ATTRIBUTE_HIDDEN);

  AFileManagement manage(ByCount(1), u"\\STORAGE CARD\\Backups\\NEW.pbf");
  ULONGLONG bytes = 0;
  ASSERT_TRUE(manage.RemoveOldBackupFiles(0, true, &bytes));
  EXPECT_EQ(bytes, 900 * kKB);  // the three real images
  for (auto* kept : {u"\\Storage Card\\Backups\\UPPER.PBF", u"\\Storage Card\\Backups\\fake.pbf",
                     u"\\Storage Card\\Backups\\new.pbf", u"\\Storage Card\\Backups\\notes.txt",
                     u"\\Storage Card\\Backups\\sub.pbf", u"\\Storage Card\\Backups\\hidden.pbf"})
    EXPECT_TRUE(Exists(kept)) << ce::ToUtf8(kept);
  EXPECT_FALSE(Exists(u"\\Storage Card\\Backups\\one.pbf"));
}

TEST_F(FileManagementTest, SpaceAllocationRemovesOldestUntilTheNewImageFits) {
  PutThree();
  // 1 MB allowed, new image 200 KB: 200 + 900 > 1024, removing one suffices.
  AFileManagement manage(BySpace(1), current);
  ULONGLONG bytes = 0;
  ASSERT_TRUE(manage.RemoveOldBackupFiles(200 * kKB, true, &bytes));
  EXPECT_EQ(bytes, 300 * kKB);
  EXPECT_FALSE(Exists(u"\\Storage Card\\Backups\\one.pbf"));
  EXPECT_TRUE(Exists(u"\\Storage Card\\Backups\\two.exe"));

  // A new image above the allocation counts as the allocation: all go.
  AFileManagement all(BySpace(1), current);
  ASSERT_TRUE(all.CalculateSpaceOccupied(5 * 1024 * kKB, true, &bytes));
  EXPECT_EQ(bytes, 600 * kKB);
}

TEST_F(FileManagementTest, ZeroAllocationIsWorkedOutFromTheFreeSpace) {
  PutThree();
  // Allocation = (free + occupied - 100 KB) / 1 MB = 2 MB; a 1500 KB image
  // leaves room for one old image of 300 KB.
  AFileManagement manage(BySpace(0), current);
  ULONGLONG bytes = 0;
  ASSERT_TRUE(manage.RemoveOldBackupFiles(1500 * kKB, true, &bytes));
  EXPECT_EQ(bytes, 600 * kKB);
  EXPECT_FALSE(Exists(u"\\Storage Card\\Backups\\one.pbf"));
  EXPECT_FALSE(Exists(u"\\Storage Card\\Backups\\two.exe"));
  EXPECT_TRUE(Exists(u"\\Storage Card\\Backups\\three.pbf"));
}

TEST_F(FileManagementTest, FailedDeleteFreesNothing) {
  PutThree();
  int64_t hold = ce::HoldFileOpen(u"\\Storage Card\\Backups\\one.pbf", GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(hold, 0);
  quilmo::test::LogCapture log;

  // By space the next oldest goes instead, and only its size is reported.
  AFileManagement manage(BySpace(1), current);
  ULONGLONG bytes = 0;
  ASSERT_TRUE(manage.RemoveOldBackupFiles(200 * kKB, true, &bytes));
  EXPECT_EQ(bytes, 300 * kKB);
  EXPECT_TRUE(Exists(u"\\Storage Card\\Backups\\one.pbf"));
  EXPECT_FALSE(Exists(u"\\Storage Card\\Backups\\two.exe"));
  EXPECT_TRUE(Exists(u"\\Storage Card\\Backups\\three.pbf"));
  ASSERT_FALSE(log.texts.empty());
  EXPECT_NE(log.texts.back().find(u"File Management: Error deleting old backup file"), std::u16string::npos);
  ce::ReleaseHold(hold);
}

TEST_F(FileManagementTest, RootFolderAndEmptyFolder) {
  PutImage(dev, u"\\old.pbf", 200 * kKB, 10);
  AFileManagement root(ByCount(0), u"\\Backup.pbf");
  ULONGLONG bytes = 0;
  ASSERT_TRUE(root.CalculateSpaceOccupied(0, false, &bytes));
  EXPECT_EQ(bytes, 200 * kKB);

  AFileManagement empty(ByCount(0), current);
  ASSERT_TRUE(empty.RemoveOldBackupFiles(0, true, &bytes));
  EXPECT_EQ(bytes, 0u);

  AFileManagement missing(ByCount(0), u"\\Nowhere\\Backup.pbf");
  ASSERT_TRUE(missing.CalculateSpaceOccupied(0, true, &bytes));
  EXPECT_EQ(bytes, 0u);
  AFileManagement host(ByCount(0), u"Backup.pbf");  // no folder: nothing to manage
  EXPECT_FALSE(host.CalculateSpaceOccupied(0, true, &bytes));
}
