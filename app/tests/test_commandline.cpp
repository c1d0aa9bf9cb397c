// Readings of the main program's command line and of its version text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/QuilmoApp.h"
#include "ce/text.h"
#include "engine/Global.h"
#include "testkit/TestDevice.h"

namespace {

struct Word {
  const char16_t* text;
  bool flag;
};

class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() {
    dev_.MakeDir(u"\\temp");
    global_ = std::make_unique<AGlobal>();
    app_ = std::make_unique<CQuilmoApp>();
    global_->g_Log.Open(false);  // entries stay in the log's buffer
  }

  // Reads the words as the splitter hands them over.
  void Parse(const std::vector<Word>& words) {
    CQuilmoCommandLineInfo info(app_.get());
    for (size_t i = 0; i < words.size(); ++i) info.ParseParam(words[i].text, words[i].flag, i + 1 == words.size());
    mode_ = info.GetMode();
    expects_ = info.ExpectsValue();
  }
  void Parse(std::initializer_list<const char16_t*> words) {
    std::vector<Word> list;
    for (const char16_t* w : words) list.push_back({w, false});
    Parse(list);
  }

  AGlobal& G() { return *global_; }
  std::string ImagePath() { return ce::ToUtf8(G().g_Operation.imagePath.GetFullPath().str().c_str()); }
  std::string Buffer() { return G().g_Log.GetBuffer(); }
  bool Logged(const std::string& text) { return Buffer().find(" : " + text + "\r\n") != std::string::npos; }

  quilmo::test::TestDevice dev_;
  std::unique_ptr<AGlobal> global_;
  std::unique_ptr<CQuilmoApp> app_;
  int mode_ = kCmdNone;
  bool expects_ = false;
};

TEST_F(CommandLineTest, AnEmptyCommandLineChangesNothing) {
  const std::string before = ImagePath();
  Parse(std::vector<Word>{});
  EXPECT_FALSE(G().g_bUnattended || G().g_bBatteryTriggered || G().g_bCommandLineBackup ||
               G().g_bCommandLineRestore || G().g_bRemote);
  EXPECT_FALSE(app_->m_bEnableFileScheduling || app_->m_bDisableFileScheduling || app_->m_bStartScheduling);
  EXPECT_EQ(ImagePath(), before);
  EXPECT_EQ(G().g_Operation.imageId, 0);
}

TEST_F(CommandLineTest, ScheduledAndMerrowKeywordsSetTheRunFlags) {
  Parse({u"ScheduledBackup"});
  EXPECT_TRUE(G().g_bUnattended);
  EXPECT_FALSE(G().g_bBatteryTriggered);
  EXPECT_TRUE(Logged("Unattended Backup"));
  EXPECT_EQ(mode_, kCmdScheduledBackup);
  EXPECT_FALSE(expects_);

  G().g_bUnattended = false;
  Parse({u"MerrowAutoBackup"});
  EXPECT_TRUE(G().g_bUnattended);
  EXPECT_TRUE(G().g_bBatteryTriggered);
  EXPECT_TRUE(Logged("Merrow Autobackup"));
  EXPECT_FALSE(G().g_bCommandLineBackup || G().g_bCommandLineRestore);
}

// The four command-line operations: which flag, remote or not, the default
// image and the host mode (touched only by the remote ones).
TEST_F(CommandLineTest, OperationKeywordsSetTheirFlagsTheDefaultImageAndTheHostMode) {
  struct Row {
    const char16_t* keyword;
    bool restore, remote;
  } rows[] = {{u"LocalRestore", true, false},
              {u"RemoteRestore", true, true},
              {u"LocalBackup", false, false},
              {u"RemoteBackup", false, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(ce::ToUtf8(r.keyword));
    G().g_bCommandLineRestore = G().g_bCommandLineBackup = false;
    G().g_bRemote = !r.remote;
    G().g_Operation.hostMode = kHostModeRemote;
    G().g_Operation.imagePath.Set(u"\\elsewhere\\x.pbf", false);
    Parse({r.keyword});
    EXPECT_EQ(G().g_bCommandLineRestore, r.restore);
    EXPECT_EQ(G().g_bCommandLineBackup, !r.restore);
    EXPECT_EQ(G().g_bRemote, r.remote);
    EXPECT_EQ(ImagePath(), "\\temp\\Backup.pbf");
    EXPECT_EQ(G().g_Operation.hostMode, r.remote ? kHostModeLocal : kHostModeRemote);
    EXPECT_TRUE(expects_);
  }
}

TEST_F(CommandLineTest, SchedulingKeywordsReachTheApplicationObject) {
  Parse({u"EnableFileScheduling", u"\\ignored.xml"});
  EXPECT_TRUE(app_->m_bEnableFileScheduling);
  EXPECT_EQ(ImagePath(), "\\My Documents\\schedule.xml");

  Parse({u"DisableFileScheduling"});
  EXPECT_TRUE(app_->m_bDisableFileScheduling);
  EXPECT_FALSE(expects_);

  Parse({u"StartScheduling"});
  EXPECT_TRUE(app_->m_bStartScheduling);
  EXPECT_TRUE(Logged("START_SCHEDULING"));
  EXPECT_EQ(mode_, kCmdStartScheduling);
}

TEST_F(CommandLineTest, ValuesFollowTheLastKeyword) {
  // A plain word without a keyword, or after one that takes no value, is the image.
  Parse({u"\\Storage Card\\plain.pbf"});
  EXPECT_EQ(ImagePath(), "\\Storage Card\\plain.pbf");
  Parse({u"ScheduledBackup", u"\\SD\\after.pbf"});
  EXPECT_EQ(ImagePath(), "\\SD\\after.pbf");

  // The last of several values wins.
  Parse({u"LocalBackup", u"\\a\\first.pbf", u"\\b\\second.pbf"});
  EXPECT_EQ(ImagePath(), "\\b\\second.pbf");

  // Image id: decimal, leading zeros, not a number gives 0, too large is held.
  Parse({u"RemoteRestore", u"ImageId", u"0012"});
  EXPECT_EQ(G().g_Operation.imageId, 12);
  EXPECT_EQ(ImagePath(), "\\temp\\Backup.pbf");
  EXPECT_TRUE(G().g_bRemote);
  Parse({u"ImageId", u"twelve"});
  EXPECT_EQ(G().g_Operation.imageId, 0);
  Parse({u"ImageId", u"7", u"99999999999999999999"});
  EXPECT_EQ(G().g_Operation.imageId, 2147483647);

  // Signature: the owner's text; the image path stays.
  Parse({u"LocalRestore", u"\\SD\\img.pbf", u"Signature", u"3E9A7041C2B5F"});
  EXPECT_EQ(ce::ToUtf8(app_->m_csSignature.str().c_str()), "3E9A7041C2B5F");
  EXPECT_EQ(ImagePath(), "\\SD\\img.pbf");
  EXPECT_TRUE(G().g_bCommandLineRestore);
}

TEST_F(CommandLineTest, KeywordsAreExactCaseAndTheFlagSignIsIgnored) {
  Parse({Word{u"LocalBackup", true}});
  EXPECT_TRUE(G().g_bCommandLineBackup);
  EXPECT_TRUE(Logged("ParseParam:LocalBackup bFlag = true bLast = true"));

  G().g_bCommandLineBackup = false;
  Parse({u"localbackup"});
  EXPECT_FALSE(G().g_bCommandLineBackup);
  EXPECT_EQ(ImagePath(), "localbackup");
  EXPECT_EQ(CQuilmoCommandLineInfo::KeywordMode(u"Signature"), kCmdSignature);
  EXPECT_EQ(CQuilmoCommandLineInfo::KeywordMode(u"SIGNATURE"), kCmdNone);
}

TEST_F(CommandLineTest, EveryWordIsLoggedWithItsFlags) {
  Parse({Word{u"RemoteBackup", false}, Word{u"x.pbf", true}, Word{u"y.pbf", false}});
  const std::string log = Buffer();
  EXPECT_NE(log.find(" CQuilmoCommandLineInfo "), std::string::npos);
  EXPECT_TRUE(Logged("ParseParam:RemoteBackup"));
  EXPECT_TRUE(Logged("ParseParam:x.pbf bFlag = true"));
  EXPECT_TRUE(Logged("ParseParam:y.pbf bLast = true"));
}

TEST(VersionNumbersTest, TheFirstThreeNumbersAreTaken) {
  VersionNumbers v = ParseVersionNumbers(u"6, 0, 0, 118");
  EXPECT_EQ(v.major, 6);
  EXPECT_EQ(v.mid, 0);
  EXPECT_EQ(v.minor, 0);
  v = ParseVersionNumbers(u"4,10,2,9");
  EXPECT_EQ(v.major, 4);
  EXPECT_EQ(v.mid, 10);
  EXPECT_EQ(v.minor, 2);
  v = ParseVersionNumbers(u"3, 7");
  EXPECT_EQ(v.major, 3);
  EXPECT_EQ(v.mid, 7);
  EXPECT_EQ(v.minor, 0);
  v = ParseVersionNumbers(u"");
  EXPECT_EQ(v.major + v.mid + v.minor, 0);
}

}  // namespace
