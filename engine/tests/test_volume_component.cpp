// The database volumes component: the volume list (named, registry-named
// and mounted volumes, sorted, once each, without the mail volume), the
// boot-time copies queued around a backup and a restore, the volumes
// through a real image from their copies into their restored copies, the
// two patches of the restored copies, a volume without its copy, a cancel
// between files and an entry under a name other than its copy's.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "cesim/database.h"
#include "volume_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace voltest;
using namespace DatabaseVolumeNames;

constexpr CEPROPID kCount = kSyncCountProp;
constexpr CEPROPID kName = kSyncNameProp;
constexpr CEPROPID kCountHigh = kSyncCountHighProp;
constexpr CEPROPID kContactName = MAKE_CEPROPID(1, CEVT_LPWSTR);

const FILETIME kOldDue{0x11111111u, 0x01C00000u};

std::vector<Record> SyncRecords() {
  return {
      {TextProp(kName, u"FolderSync:Inbox"), TextProp(kCount, u"12"), TextProp(kCountHigh, u"34")},
      {TextProp(kCount, u"5"), TextProp(kName, u"<<< Collection Counter >>>")},
      {TextProp(kName, u"Other state"), TextProp(kCount, u"7")},
      {TextProp(kCount, u"9")},  // no id-2 text
      {TextProp(kName, u"foldersync:lower case"), TextProp(kCount, u"1")},
      {TextProp(kName, u"FolderSync")},
  };
}

std::vector<Record> NotifyRecords() {
  std::string malformed = NotifyBlob(u"repllog.exe", u"", kOldDue);
  malformed[0] = static_cast<char>(0xF0);  // the name's offset lies beyond the blob
  return {
      {FileTimeProp(ce::notifyqueue::kNotifyTimeProp, kOldDue),
       BlobProp(ce::notifyqueue::kNotifyEntryProp, NotifyBlob(u"\\Windows\\calendar.exe", u"-alarm", kOldDue))},
      {FileTimeProp(ce::notifyqueue::kNotifyTimeProp, kOldDue),
       BlobProp(ce::notifyqueue::kNotifyEntryProp, NotifyBlob(u"repllog.exe", u"AppRunAtTime", kOldDue))},
      {FileTimeProp(ce::notifyqueue::kNotifyTimeProp, kOldDue), BlobProp(ce::notifyqueue::kNotifyEntryProp, malformed)},
  };
}

class VolumeComponentTest : public VolumeImageTest {
 protected:
  void TearDown() override {
    ce::ClearDatabaseFaults();
    VolumeImageTest::TearDown();
  }

  void MakeVolumes() {
    MakeVolume(u"\\pim.vol", true,
               {{u"SyncStateKeys", SyncRecords(), {kCount, kName, kCountHigh}},
                {u"Contacts", {{TextProp(kContactName, u"Zoë")}, {TextProp(kContactName, u"Ada")}}, {kContactName}}});
    MakeVolume(u"\\mxip_notify.vol", false, {{u"DB_notify_queue", NotifyRecords(), {}}});
    MakeVolume(u"\\mxip_system.vol", true, {{u"System", {{TextProp(kContactName, u"sys")}}, {kContactName}}});
    MakeVolume(u"\\mxip_lang.vol", false, {{u"Lang", {{I4Prop(MAKE_CEPROPID(1, CEVT_I4), 1031)}}, {}}});
    MakeVolume(u"\\cemail.vol", false, {{u"Messages", {{I4Prop(MAKE_CEPROPID(1, CEVT_I4), 1)}}, {}}});
    // Named without its leading backslash.
    regtestSet(HKEY_CURRENT_USER, kWindowsKey, kLangDbValue, u"mxip_lang.vol");
  }
  static void regtestSet(HKEY root, const std::u16string& key, const std::u16string& name, const std::u16string& value) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * 2)),
              ERROR_SUCCESS);
    RegCloseKey(k);
  }

  // What the boot-time runner does for a backup: every listed volume
  // copied to its boot-time copy.
  void MakeBootCopies() {
    for (const RebootAction& action : RebootActions::Instance().CopyActions())
      fs::copy_file(dev.Host(action.actualPath), dev.Host(action.backupPath), fs::copy_options::overwrite_existing);
  }

  std::vector<std::u16string> VolumeNames() {
    std::vector<std::u16string> out;
    for (const auto& [name, type] : Children(TREE_DBVOLUMES)) out.push_back(name);
    return out;
  }
};

TEST_F(VolumeComponentTest, ListHoldsNamedAndMountedVolumesSortedOnceWithoutTheMailVolume) {
  MakeVolumes();
  MakeVolume(u"\\mxip_initdb.vol", false, {});  // "DbPath" is missing: its default
  dev.MakeDir(u"\\My Documents");
  MakeVolume(u"\\My Documents\\notes.vol", false, {{u"Notes", {}, {}}});
  CEGUID notes{}, pim{};
  ASSERT_TRUE(CeMountDBVol(&notes, const_cast<LPWSTR>(u"\\My Documents\\notes.vol"), OPEN_EXISTING));
  ASSERT_TRUE(CeMountDBVolEx(&pim, const_cast<LPWSTR>(u"\\pim.vol"), nullptr, OPEN_EXISTING));

  BuildIndex(true, false);

  EXPECT_EQ(VolumeNames(),
            (std::vector<std::u16string>{u"\\mxip_initdb.vol", u"\\mxip_lang.vol", u"\\mxip_notify.vol",
                                         u"\\mxip_system.vol", u"\\My Documents\\notes.vol", u"\\pim.vol"}));
  EXPECT_TRUE(volumes.LastPopulateSucceeded());
  for (const auto& [name, type] : Children(TREE_DBVOLUMES)) EXPECT_EQ(type, DWORD{TREE_DBVOLUME_FILE});
  int pimNode = NodeNamed(u"\\pim.vol");
  EXPECT_EQ(index.NodeInfo(pimNode).fileSize, fs::file_size(dev.Host(u"\\pim.vol")));
  EXPECT_EQ(volumes.ImageSize(index, pimNode), index.NodeInfo(pimNode).fileSize + 2 * 9 + 122);
  EXPECT_TRUE(ADatabaseVolumesComponent::IsVolumeFile(index, u"\\MY DOCUMENTS\\Notes.vol"));
  EXPECT_FALSE(ADatabaseVolumesComponent::IsVolumeFile(index, u"\\cemail.vol"));
  EXPECT_TRUE(IsPimVolume(u"\\PIM.vol"));

  CeUnmountDBVol(&notes);
  CeUnmountDBVol(&pim);
}

TEST_F(VolumeComponentTest, FailedVolumeWalkIsLoggedAndTheNamedVolumesStay) {
  MakeVolumes();
  ce::InjectDatabaseFault(ce::DbCall::kEnumVolumes, ERROR_OUTOFMEMORY, -1);
  BuildIndex(true, false);
  EXPECT_FALSE(volumes.LastPopulateSucceeded());
  EXPECT_TRUE(Logged("CeEnumDBVolumes failed"));
  // A named volume that is not there is logged and left out.
  EXPECT_TRUE(Logged("Couldn't get file information for \\mxip_initdb.vol"));
  EXPECT_EQ(VolumeNames().size(), 4u);
}

TEST_F(VolumeComponentTest, VolumesComeBackIntoTheirCopiesAndTwoCopiesArePatched) {
  MakeVolumes();
  regtestSet(HKEY_LOCAL_MACHINE, ce::notifyqueue::kVolumeKey, ce::notifyqueue::kVolumeValue, u"\\mxip_notify.vol");
  BuildIndex(true, false);
  ASSERT_TRUE(index.AddBootCopiesForBackup());
  const auto& queued = RebootActions::Instance().CopyActions();
  ASSERT_EQ(queued.size(), 4u);
  for (const RebootAction& action : queued) {
    EXPECT_EQ(action.kind, RebootAction::kBackupCopy);
    EXPECT_EQ(action.backupPath, action.actualPath + u"c");
    EXPECT_EQ(action.attributes, DWORD{FILE_ATTRIBUTE_HIDDEN});
  }
  MakeBootCopies();
  RebootActions::Instance().Clear();
  std::map<std::u16string, std::string> backedUp;
  for (auto name : VolumeNames()) backedUp[name] = dev.ReadFile(name);

  compress = true;
  ASSERT_TRUE(Backup());
  for (auto name : VolumeNames()) EXPECT_FALSE(fs::exists(dev.Host(name + u"c"))) << ce::ToUtf8(name);
  EXPECT_TRUE(report.empty()) << ce::ToUtf8(report.front().second);

  // The live volumes move on; the restore must not touch them.
  MakeVolume(u"\\mxip_system.vol", true, {{u"Later", {}, {}}});
  const std::string liveSystem = dev.ReadFile(u"\\mxip_system.vol");

  FILETIME before = LocalNow();
  ASSERT_TRUE(Restore());
  FILETIME after = LocalNow();
  EXPECT_EQ(dev.ReadFile(u"\\mxip_system.vol"), liveSystem);
  for (auto name : {u"\\mxip_system.vol", u"\\mxip_lang.vol"})
    EXPECT_EQ(dev.ReadFile(std::u16string(name) + u"c"), backedUp[name]) << ce::ToUtf8(name);

  // "\pim.vol": the folder-sync records stay with their counts reset.
  EXPECT_TRUE(Logged("Patching sync keys"));
  EXPECT_TRUE(Logged("Patching SyncStateKeys"));
  std::vector<Record> sync = ReadRecords(u"\\pim.volc", true, u"SyncStateKeys");
  EXPECT_EQ(sync, (std::vector<Record>{
                      {TextProp(kName, u"FolderSync:Inbox"), TextProp(kCount, u"0"), TextProp(kCountHigh, u"0")},
                      {TextProp(kCount, u"0"), TextProp(kName, u"<<< Collection Counter >>>")},
                      {TextProp(kName, u"FolderSync")},
                  }));
  EXPECT_EQ(ReadRecords(u"\\pim.volc", true, u"Contacts"),
            (std::vector<Record>{{TextProp(kContactName, u"Zoë")}, {TextProp(kContactName, u"Ada")}}));

  // The notification volume: only the "repllog.exe" entry moves, to now
  // plus one in the high word.
  EXPECT_TRUE(Logged("mxip_notify.vol restored now PatchREPLLOGTimeKeys()"));
  EXPECT_TRUE(Logged("Found Repllog DB entry"));
  std::vector<Record> notify = ReadRecords(u"\\mxip_notify.volc", false, u"DB_notify_queue");
  std::vector<Record> original = NotifyRecords();
  ASSERT_EQ(notify.size(), 3u);
  EXPECT_EQ(notify[0], original[0]);
  EXPECT_EQ(notify[2], original[2]);
  FILETIME due{};
  std::memcpy(&due, notify[1][0].bytes.data(), 8);
  EXPECT_GE(Ticks(due), Ticks(before) + (1ull << 32));
  EXPECT_LE(Ticks(due), Ticks(after) + (1ull << 32));
  std::string blob = notify[1][1].bytes;
  std::string expected = original[1][1].bytes;
  std::memcpy(&expected[ce::notifyqueue::kStartTimeAt], &due, 8);
  EXPECT_EQ(blob, expected);

  // Each restored copy replaces its volume at the next start.
  ASSERT_TRUE(index.AddBootCopiesForRestore());
  ASSERT_EQ(RebootActions::Instance().CopyActions().size(), 4u);
  for (const RebootAction& action : RebootActions::Instance().CopyActions()) {
    EXPECT_EQ(action.kind, RebootAction::kRestoreCopy);
    EXPECT_EQ(action.backupPath, action.actualPath + u"c");
    EXPECT_EQ(action.attributes, index.NodeInfo(NodeNamed(action.actualPath)).attributes);
  }
}

// A backup without the boot-time copies: a free volume is read from itself
// and a held one is left out; both are warnings of the run's report.
TEST_F(VolumeComponentTest, VolumeWithoutItsCopyIsAWarning) {
  MakeVolumes();
  BuildIndex(true, false);
  CEGUID held{};
  ASSERT_TRUE(CeMountDBVol(&held, const_cast<LPWSTR>(u"\\mxip_lang.vol"), OPEN_EXISTING));
  ASSERT_TRUE(Backup());
  CeUnmountDBVol(&held);

  EXPECT_TRUE(Reported(kLogWarning, u"No boot-time copy of \\pim.vol, stored from the volume itself"));
  EXPECT_TRUE(Reported(kLogWarning, u"\\mxip_lang.vol"));
  EXPECT_FALSE(index.IsSelected(NodeNamed(u"\\mxip_lang.vol")));
  EXPECT_FALSE(Reported(kLogWarning, u"No boot-time copy of \\mxip_lang.vol"));

  const std::string pim = dev.ReadFile(u"\\pim.vol");
  ASSERT_TRUE(Restore());
  EXPECT_FALSE(fs::exists(dev.Host(u"\\mxip_lang.volc")));
  EXPECT_EQ(ReadRecords(u"\\pim.volc", true, u"Contacts").size(), 2u);
  // A volume the restore did not write queues nothing.
  ASSERT_TRUE(index.AddBootCopiesForRestore());
  for (const RebootAction& action : RebootActions::Instance().CopyActions())
    EXPECT_NE(action.actualPath, u"\\mxip_lang.vol");
}

TEST_F(VolumeComponentTest, CancelEndsTheBackupAfterTheCurrentFile) {
  MakeVolumes();
  BuildIndex(true, false);
  progress.onUpdate = [this] {
    if (runningVolumes) runningVolumes->Cancel();
  };
  ASSERT_TRUE(Backup());
  std::vector<std::u16string> names = VolumeNames();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_NE(index.NodeInfo(NodeNamed(names[0])).sizeInImage, 0u);
  for (size_t i = 1; i < names.size(); ++i) EXPECT_EQ(index.NodeInfo(NodeNamed(names[i])).sizeInImage, 0u);

  // The one volume written is whole.
  int first = NodeNamed(names[0]);
  const std::string bytes = dev.ReadFile(names[0]);
  for (size_t i = 1; i < names.size(); ++i) index.SetSelected(NodeNamed(names[i]), false);
  AImageFile image(CString(kImage), AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  AImageFileHeader header;
  ASSERT_TRUE(ReadIndexedEntryHeader(image, index.NodeInfo(first), header, u"test"));
  ASSERT_TRUE(RestoreVolumeFile(context, &progress, &image, first));
  EXPECT_TRUE(image.Close());
  EXPECT_EQ(dev.ReadFile(names[0] + u"c"), bytes);
}

// An operation that does not run leaves no copy behind: the copies of the
// selected volumes go, the live volumes and what is not a copy of a
// selected volume stay.
TEST_F(VolumeComponentTest, UnusedBootCopiesOfTheSelectedVolumesAreDiscarded) {
  MakeVolumes();
  BuildIndex(true, false);
  ASSERT_TRUE(index.AddBootCopiesForBackup());
  MakeBootCopies();
  RebootActions::Instance().Clear();
  std::vector<std::u16string> names = VolumeNames();
  ASSERT_EQ(names.size(), 4u);
  const std::u16string kept = names[1];
  index.SetSelected(NodeNamed(kept), false);
  std::map<std::u16string, std::string> live;
  for (const auto& name : names) live[name] = dev.ReadFile(name);

  EXPECT_EQ(DiscardVolumeBootCopies(index), 3);
  for (const auto& name : names) {
    EXPECT_EQ(fs::exists(dev.Host(name + u"c")), name == kept) << ce::ToUtf8(name);
    EXPECT_EQ(dev.ReadFile(name), live[name]) << ce::ToUtf8(name);
  }
  EXPECT_EQ(DiscardVolumeBootCopies(index), 0);
}

// A patch that cannot mount its copy is logged; the restore goes on. An
// entry that holds another file than the node's copy is refused and
// writes nothing.
TEST_F(VolumeComponentTest, FailedPatchKeepsTheRestoreAndAForeignEntryIsRefused) {
  dev.PutFile(u"\\pim.vol", "not a volume at all");
  MakeVolume(u"\\mxip_system.vol", true, {{u"System", {}, {}}});
  BuildIndex(true, false);
  ASSERT_TRUE(Backup());
  ASSERT_TRUE(Restore());
  EXPECT_EQ(dev.ReadFile(u"\\pim.volc"), "not a volume at all");
  EXPECT_TRUE(Logged("Error mounting volume"));

  fs::remove(dev.Host(u"\\pim.volc"));
  fs::remove(dev.Host(u"\\mxip_system.volc"));
  AImageFile image(CString(kImage), AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  index.Reset();
  ASSERT_TRUE(index.Locate(image, false));
  ASSERT_TRUE(image.Close());
  // The system volume's node now points at the entry of "\pim.vol".
  int pim = NodeNamed(u"\\pim.vol");
  int system = NodeNamed(u"\\mxip_system.vol");
  Index::Item& item = index.NodeInfo(system);
  item.fileOffset = index.NodeInfo(pim).fileOffset;
  item.sizeInImage = index.NodeInfo(pim).sizeInImage;
  item.crcValue = index.NodeInfo(pim).crcValue;
  index.SetSelected(pim, false);
  ASSERT_TRUE(image.Open());
  ADatabaseVolumes component(context, &progress, &image);
  EXPECT_FALSE(component.Restore());
  EXPECT_TRUE(image.Close());
  EXPECT_FALSE(fs::exists(dev.Host(u"\\pim.volc")));
  EXPECT_FALSE(fs::exists(dev.Host(u"\\mxip_system.volc")));
  EXPECT_TRUE(Logged("Entry holds \\pim.volc instead of \\mxip_system.volc"));
}

}  // namespace
