// The operation descriptor (defaults, bounded texts, stored form) and the
// task progress interface.
#include <gtest/gtest.h>

#include <string>

#include "ce/bytes.h"
#include "engine/Operation.h"
#include "engine/OperationFormat.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::TestDevice;

std::u16string Field(std::string_view bytes, size_t at, size_t chars) {
  std::u16string text;
  for (size_t i = 0; i < chars; ++i) {
    char16_t c = ce::le::Get16(bytes, at + 2 * i);
    if (!c) break;
    text.push_back(c);
  }
  return text;
}

TEST(OperationDescriptor, Defaults) {
  TestDevice dev;
  OperationDescriptor d;
  EXPECT_EQ(d.imagePath.GetFullPath(), CString(u"\\temp\\Backup.pbf"));
  EXPECT_EQ(d.imagePath.GetFolder(), CString(u"\\temp\\"));
  EXPECT_EQ(d.imagePath.GetExtension(), CString(u"pbf"));
  EXPECT_EQ(d.imagePath.GetBaseName(), CString(u"Backup"));
  EXPECT_EQ(d.operationKind, kOperationNotSet);
  EXPECT_EQ(d.hostMode, kHostModeLocal);
  EXPECT_EQ(d.taskStartMode, kStartWaitForUser);
  EXPECT_EQ(d.imageId, 0);
  EXPECT_EQ(d.GetHostName(), CString());
}

TEST(OperationDescriptor, TextsAreCutToTheirFields) {
  TestDevice dev;
  OperationDescriptor d;
  d.SetHostName(std::u16string(127, u'h'));
  EXPECT_EQ(d.GetHostName().GetLength(), 127);
  d.SetHostName(std::u16string(300, u'h'));
  EXPECT_EQ(d.GetHostName().GetLength(), 127);
  d.SetAnnotation(std::u16string(255, u'a'));
  EXPECT_EQ(d.GetAnnotation().GetLength(), 255);
  d.SetAnnotation(std::u16string(256, u'a'));
  EXPECT_EQ(d.GetAnnotation().GetLength(), 255);
  d.SetAnnotation(u"short");  // a shorter text leaves nothing of the old one
  EXPECT_EQ(d.GetAnnotation(), CString(u"short"));
}

TEST(OperationDescriptor, StoredFormIsLittleEndianAtFixedOffsets) {
  TestDevice dev;
  OperationDescriptor d;
  d.taskStartMode = 3;
  d.operationKind = kOperationRestore;
  d.hostMode = kHostModeRemote;
  d.includeFileSystem = 1;
  d.metadataValue = 0x1234;
  d.imageId = 0x01020304;
  d.SetHostName(u"desk");
  d.hostPort = 5533;
  d.turnOffAfterPopup = 1;
  std::string bytes;
  StoreOperationDescriptor(d, &bytes);
  ASSERT_EQ(bytes.size(), opfmt::kStoredSize);
  EXPECT_EQ(ce::le::Get32(bytes, opfmt::kStartModeOffset), 3u);
  EXPECT_EQ(ce::le::Get32(bytes, opfmt::kKindOffset), 2u);
  EXPECT_EQ(ce::le::Get32(bytes, opfmt::kHostModeOffset), 2u);
  EXPECT_EQ(bytes[opfmt::kIncludeRegistryOffset], 0);
  EXPECT_EQ(bytes[opfmt::kIncludeFileSystemOffset], 1);
  EXPECT_EQ(ce::le::Get16(bytes, opfmt::kMetadataValueOffset), 0x1234);
  EXPECT_EQ(bytes.substr(opfmt::kImageIdOffset, 4), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(Field(bytes, opfmt::kHostNameOffset, 128), u"desk");
  EXPECT_EQ(ce::le::Get32(bytes, opfmt::kHostPortOffset), 5533u);
  EXPECT_EQ(Field(bytes, opfmt::kFolderOffset, 260), u"\\temp\\");
  EXPECT_EQ(Field(bytes, opfmt::kFileNameOffset, 260), u"Backup.pbf");
  EXPECT_EQ(Field(bytes, opfmt::kBaseNameOffset, 260), u"Backup");
  EXPECT_EQ(Field(bytes, opfmt::kExtensionOffset, 4), u"pbf");
  EXPECT_EQ(bytes[opfmt::kUpgradeModeOffset], 0);
  EXPECT_EQ(bytes[opfmt::kTurnOffOffset], 1);
}

TEST(OperationDescriptor, StoreLoadRoundTripInsideALargerRecord) {
  TestDevice dev;
  OperationDescriptor d;
  d.operationKind = kOperationBackup;
  d.includeRegistry = d.includeDatabases = d.includeMail = 1;
  d.SetHostName(std::u16string(127, u'n'));
  d.SetAnnotation(std::u16string(255, u'z'));
  d.imagePath.Set(u"\\Storage Card\\Backups\\Backup_2006-03-07.pbf", false);
  d.imagePath.SetBaseName(u"Backup");
  d.upgradeMode = 1;

  std::string record(52, '\x7F');  // what precedes the block in its record
  StoreOperationDescriptor(d, &record);
  record.append(2, '\0');

  OperationDescriptor back;
  ASSERT_TRUE(LoadOperationDescriptor(record, 52, &back));
  EXPECT_EQ(back.operationKind, kOperationBackup);
  EXPECT_EQ(back.includeRegistry, 1);
  EXPECT_EQ(back.includeFileSystem, 0);
  EXPECT_EQ(back.includeMail, 1);
  EXPECT_EQ(back.GetHostName(), d.GetHostName());
  EXPECT_EQ(back.GetAnnotation(), d.GetAnnotation());
  EXPECT_EQ(back.imagePath.GetFullPath(), CString(u"\\Storage Card\\Backups\\Backup_2006-03-07.pbf"));
  EXPECT_EQ(back.imagePath.GetName(), CString(u"Backup_2006-03-07"));
  EXPECT_EQ(back.imagePath.GetBaseName(), CString(u"Backup"));
  EXPECT_EQ(back.upgradeMode, 1);

  OperationDescriptor untouched;
  EXPECT_FALSE(LoadOperationDescriptor(record, 55, &untouched));  // runs past the end
  EXPECT_FALSE(LoadOperationDescriptor(record, record.size() + 1, &untouched));
  EXPECT_EQ(untouched.operationKind, kOperationNotSet);
}

TEST(OperationDescriptor, OverlongExtensionIsCutInTheStoredForm) {
  TestDevice dev;
  OperationDescriptor d;
  d.imagePath.SetExtension(u"backup");
  std::string bytes;
  StoreOperationDescriptor(d, &bytes);
  ASSERT_EQ(bytes.size(), opfmt::kStoredSize);
  EXPECT_EQ(Field(bytes, opfmt::kExtensionOffset, 4), u"bac");
}

TEST(OperationDescriptor, Description) {
  TestDevice dev;
  OperationDescriptor d;
  d.operationKind = 7;
  d.hostMode = 0;
  d.imagePath.Clear();
  EXPECT_EQ(DescribeOperation(d),
            CString(u"Task Details - Operation : NOT SET; Mode : NOT SET; Including :; "
                    u"Backup Filename : NOT SET"));
  d.operationKind = kOperationMetadata;
  d.hostMode = kHostModeRemote;
  d.includeMail = d.includeRegistry = d.includeFileSystem = 1;
  d.imagePath.Set(u"\\temp\\Backup.pbf", false);
  EXPECT_EQ(DescribeOperation(d),
            CString(u"Task Details - Operation : Query Metadata; Mode : Host; Including : "
                    u"Registry FileSystem EMail; Backup Filename : \\temp\\Backup.pbf"));
}

class CountingProgress : public ITaskProgress {
 public:
  using ITaskProgress::ITaskProgress;
  void UpdateProgress(bool force) override { force ? ++forced : ++plain; }
  int forced = 0;
  int plain = 0;
};

TEST(TaskProgress, StatusTextIsCutAndTerminated) {
  TaskProgressRecord record;
  CountingProgress progress(&record);
  progress.SetStatusText(std::u16string(300, u's'));
  EXPECT_EQ(std::u16string(record.statusText), std::u16string(260, u's'));
  progress.SetStatusText(u"next");
  EXPECT_EQ(std::u16string(record.statusText), u"next");
  progress.AddBytesWritten(10);
  progress.AddBytesWritten(5);
  EXPECT_EQ(record.bytesWritten, 15u);

  CountingProgress detached;  // no record: reports nothing, fails nothing
  detached.SetStatusText(u"ignored");
  detached.AddBytesWritten(1);
  EXPECT_EQ(detached.GetRecord(), nullptr);
}

TEST(TaskProgress, SharedSlots) {
  CountingProgress p;
  ITaskProgress& i = p;
  i.SetFlag(1);
  i.SetValue(42);
  i.IncrementCount();
  i.IncrementCount();
  i.SetPhase(3);
  i.UpdateProgress(true);
  EXPECT_EQ(i.GetFlag(), 1);
  EXPECT_EQ(i.GetValue(), 42u);
  EXPECT_EQ(p.GetCount(), 2u);
  EXPECT_EQ(p.GetPhase(), 3);
  EXPECT_EQ(p.forced, 1);
}

}  // namespace
