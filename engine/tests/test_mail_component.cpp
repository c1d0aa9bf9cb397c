// The mail component: the mail node's children with and without the MMS
// client, the file walk leaving mail and volume files to their components,
// the mail through a real image (folders byte for byte, the volume into its
// restored copy), a mail folder left out of the restore, and the files a
// restore puts back kept while their folder is emptied.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "volume_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace voltest;

constexpr char16_t kMms[] = u"\\My Documents\\MMS";

class MailComponentTest : public VolumeImageTest {
 protected:
  void MakeMail(bool withMms) {
    dev.PutFile(u"\\Windows\\Messaging\\Inbox\\msg1.mpb", "first message");
    dev.PutFile(u"\\Windows\\Messaging\\Inbox\\Attachments\\photo.jpg", std::string(70000, '\x7F'));
    dev.PutFile(u"\\Windows\\Messaging\\outbox.dat", "");
    MakeVolume(u"\\cemail.vol", false, {{u"Messages", {{I4Prop(MAKE_CEPROPID(1, CEVT_I4), 42)}}, {}}});
    if (withMms) {
      dev.PutFile(u"\\My Documents\\MMS\\slide.smil", "<smil/>");
      SetMms(kMms);
    }
  }
  void SetMms(const std::u16string& folder) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, MailNames::kMmsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, MailNames::kMmsValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * 2));
    RegCloseKey(k);
  }

  // Every file below the folder with its bytes.
  std::map<std::u16string, std::string> Files(const std::u16string& folder) {
    std::map<std::u16string, std::string> out;
    fs::path root = dev.Host(folder);
    if (!fs::exists(root)) return out;
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.is_regular_file())
        out[ce::FromUtf8(fs::relative(entry.path(), root).string())] = dev.ReadFile(
            folder + u"\\" + ce::FromUtf8(fs::relative(entry.path(), root).string()));
    return out;
  }
};

TEST_F(MailComponentTest, MailNodeHoldsTheFoldersAndTheVolume) {
  MakeMail(false);
  BuildIndex(false, true);
  using Named = std::vector<std::pair<std::u16string, DWORD>>;
  EXPECT_EQ(Children(TREE_MAIL), (Named{{u"\\Windows\\Messaging", DWORD{DIRECTORY_ENTRY}},
                                           {u"\\cemail.vol", DWORD{TREE_DBVOLUME_FILE}}}));
  EXPECT_TRUE(mail.LastPopulateSucceeded());
  // The folders' contents come from the file walk.
  EXPECT_NE(NodeNamed(u"\\Windows\\Messaging\\Inbox\\Attachments\\photo.jpg"), -1);

  // An MMS client whose folder is missing: logged, nothing added.
  SetMms(kMms);
  BuildIndex(false, true);
  EXPECT_EQ(Children(TREE_MAIL).size(), 2u);
  EXPECT_TRUE(mail.LastPopulateSucceeded());
  EXPECT_TRUE(Logged("MMS directory not found"));

  dev.PutFile(u"\\My Documents\\MMS\\a.txt", "a");
  BuildIndex(false, true);
  EXPECT_EQ(Children(TREE_MAIL), (Named{{u"\\Windows\\Messaging", DWORD{DIRECTORY_ENTRY}},
                                           {kMms, DWORD{DIRECTORY_ENTRY}},
                                           {u"\\cemail.vol", DWORD{TREE_DBVOLUME_FILE}}}));

  // Without the volume (or the folder) the node cannot be populated.
  fs::remove(dev.Host(u"\\cemail.vol"));
  fs::remove_all(dev.Host(u"\\Windows\\Messaging"));
  BuildIndex(false, true);
  EXPECT_FALSE(mail.LastPopulateSucceeded());
  EXPECT_TRUE(Logged("Mail volume not found"));
  EXPECT_TRUE(Logged("Mail directory not found"));
}

// The file walk leaves the mail folders, the mail volume, the volume files
// (the mounted ones too) and the volumes' boot-time copies to their own
// components.
TEST_F(MailComponentTest, FileWalkLeavesMailAndVolumesOut) {
  MakeMail(true);
  dev.PutFile(u"\\cemail.volc", "copy");
  MakeVolume(u"\\pim.vol", true, {});
  dev.PutFile(u"\\pim.volc", "copy");
  dev.MakeDir(u"\\My Documents");
  MakeVolume(u"\\My Documents\\notes.vol", false, {});
  dev.PutFile(u"\\My Documents\\notes.txt", "kept");
  CEGUID notes{};
  ASSERT_TRUE(CeMountDBVol(&notes, const_cast<LPWSTR>(u"\\My Documents\\notes.vol"), OPEN_EXISTING));

  index.Reset();
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  index.PopulateSelected();
  CeUnmountDBVol(&notes);

  int top = index.FindChildOfType(TREE_FILESYSTEM);
  std::vector<std::u16string> walked;
  for (int n = index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n))
    walked.push_back(index.NodeName(n));
  for (auto name : {u"\\Windows\\Messaging", u"\\My Documents\\MMS", u"\\cemail.vol", u"\\cemail.volc", u"\\pim.vol",
                    u"\\pim.volc", u"\\My Documents\\notes.vol"})
    EXPECT_EQ(std::count(walked.begin(), walked.end(), std::u16string(name)), 0) << ce::ToUtf8(name);
  EXPECT_EQ(std::count(walked.begin(), walked.end(), std::u16string(u"\\My Documents\\notes.txt")), 1);
  EXPECT_NE(NodeNamed(u"\\My Documents\\MMS\\slide.smil"), -1);  // under the mail node
}

TEST_F(MailComponentTest, MailComesBackAndTheVolumeWaitsInItsCopy) {
  MakeMail(true);
  BuildIndex(false, true);
  ASSERT_TRUE(index.AddBootCopiesForBackup());
  ASSERT_EQ(RebootActions::Instance().CopyActions().size(), 1u);
  const RebootAction queued = RebootActions::Instance().CopyActions()[0];
  EXPECT_EQ(queued.actualPath, u"\\cemail.vol");
  EXPECT_EQ(queued.backupPath, u"\\cemail.volc");
  EXPECT_EQ(queued.attributes, DWORD{FILE_ATTRIBUTE_HIDDEN});
  RebootActions::Instance().Clear();
  fs::copy_file(dev.Host(u"\\cemail.vol"), dev.Host(u"\\cemail.volc"));
  const std::string volume = dev.ReadFile(u"\\cemail.vol");
  const auto messaging = Files(u"\\Windows\\Messaging");
  const auto mms = Files(kMms);

  compress = true;
  ASSERT_TRUE(Backup());
  EXPECT_FALSE(fs::exists(dev.Host(u"\\cemail.volc")));

  dev.PutFile(u"\\Windows\\Messaging\\Inbox\\msg1.mpb", "edited");
  dev.PutFile(u"\\Windows\\Messaging\\Inbox\\msg2.mpb", "arrived later");
  fs::remove(dev.Host(u"\\Windows\\Messaging\\outbox.dat"));
  fs::remove(dev.Host(u"\\My Documents\\MMS\\slide.smil"));
  MakeVolume(u"\\cemail.vol", false, {{u"Drafts", {}, {}}});
  const std::string liveVolume = dev.ReadFile(u"\\cemail.vol");

  ASSERT_TRUE(Restore());
  EXPECT_EQ(Files(u"\\Windows\\Messaging"), messaging);
  EXPECT_EQ(Files(kMms), mms);
  EXPECT_EQ(dev.ReadFile(u"\\cemail.volc"), volume);
  EXPECT_EQ(dev.ReadFile(u"\\cemail.vol"), liveVolume);
  ASSERT_TRUE(index.AddBootCopiesForRestore());
  ASSERT_EQ(RebootActions::Instance().CopyActions().size(), 1u);
  EXPECT_EQ(RebootActions::Instance().CopyActions()[0].kind, RebootAction::kRestoreCopy);
  EXPECT_EQ(RebootActions::Instance().CopyActions()[0].backupPath, u"\\cemail.volc");
}

// A mail folder that the restore leaves out keeps what the device holds.
TEST_F(MailComponentTest, MailFolderLeftOutOfTheRestoreIsNotEmptied) {
  MakeMail(false);
  BuildIndex(false, true);
  ASSERT_TRUE(Backup());
  dev.PutFile(u"\\Windows\\Messaging\\Inbox\\msg2.mpb", "arrived later");
  const auto now = Files(u"\\Windows\\Messaging");

  AImageFile image(CString(kImage), AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  index.Reset();
  ASSERT_TRUE(index.Locate(image, false));
  index.SetSelected(NodeNamed(u"\\Windows\\Messaging"), false);
  AMail component(context, &progress, &image);
  ASSERT_TRUE(component.Restore());
  ASSERT_TRUE(image.Close());
  EXPECT_EQ(Files(u"\\Windows\\Messaging"), now);
  EXPECT_TRUE(fs::exists(dev.Host(u"\\cemail.volc")));
}

// The mail folders are emptied before their files come back, but a file the
// image puts back stays until its restored content replaces it: a reset in
// between finds it old or new, never gone.
TEST_F(MailComponentTest, EmptyingAMailFolderKeepsTheFilesTheImagePutsBack) {
  MakeMail(false);
  BuildIndex(false, true);
  ASSERT_TRUE(Backup());
  const std::string photo = dev.ReadFile(u"\\Windows\\Messaging\\Inbox\\Attachments\\photo.jpg");
  dev.PutFile(u"\\Windows\\Messaging\\Inbox\\msg2.mpb", "arrived later");

  AImageFile image(CString(kImage), AImageFile::kRestore);
  ASSERT_TRUE(image.Open());
  index.Reset();
  ASSERT_TRUE(index.Locate(image, false));
  const CString folder(u"\\Windows\\Messaging");
  ADirectory directory(context, folder, &progress, &image);
  directory.KeepRestoreTargets(NodeNamed(u"\\Windows\\Messaging"));
  ASSERT_TRUE(directory.DeleteContents(folder));
  static_cast<void>(image.Close());  // only read
  EXPECT_EQ(dev.ReadFile(u"\\Windows\\Messaging\\Inbox\\Attachments\\photo.jpg"), photo);
  EXPECT_EQ(dev.ReadFile(u"\\Windows\\Messaging\\Inbox\\msg1.mpb"), "first message");
  EXPECT_FALSE(fs::exists(dev.Host(u"\\Windows\\Messaging\\Inbox\\msg2.mpb")));
}

}  // namespace
