// The kiosk deployment's options file: its entries, what each writes into
// the kiosk configuration key, the getters, and the bad files that end the
// program with exit code 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/msgbox.h"
#include "ce/registry.h"
#include "cesim/msgbox.h"
#include "core/DeployOptions.h"
#include "core/DeployOptionsFormat.h"
#include "core/Log.h"
#include "testkit/EntryCapture.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ChildProcess;
using quilmo::test::TestDevice;

constexpr const WCHAR* kOptionsFile = u"\\Program Files\\Quilmo Backup\\DeployOptions.txt";

using quilmo::test::EntryCapture;

struct KioskValue {
  bool found = false;
  DWORD type = 0;
  std::u16string text;
};

KioskValue ReadKiosk(LPCWSTR name) {
  KioskValue v;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, deploy::KioskConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  WCHAR buffer[512] = {};
  DWORD size = sizeof buffer;
  v.found = RegQueryValueExW(key, name, nullptr, &v.type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  if (v.found) {
    v.text.assign(buffer, size / sizeof(WCHAR));
    // The stored text carries its NUL.
    EXPECT_TRUE(!v.text.empty() && v.text.back() == u'\0') << "value " << ce::ToUtf8(name);
    if (!v.text.empty()) v.text.pop_back();
  }
  return v;
}

std::u16string Kiosk(LPCWSTR name) { return ReadKiosk(name).text; }

class DeployOptionsTest : public ::testing::Test {
 protected:
  // Writes the file and reads it in a child process; its exit.
  quilmo::test::ChildExit ReadInChild(const std::string& bytes) {
    dev_.PutFile(kOptionsFile, bytes);
    ChildProcess child = ChildProcess::Fork([] { ADeployOptions options(kOptionsFile); });
    return child.Wait();
  }

  TestDevice dev_;
};

TEST(DeployOptionEntries, CommentsLineEndsAndTheFirstLineWithoutAnEqualsSign) {
  const auto entries = ReadDeployOptionEntries(
      u"  \r\n// a comment = not an entry\r\n AUTORUN = TRUE \r\nKIOSKPWD=\r\nLAST=x=y\nno equals sign\r\n"
      u"AUTORESET=TRUE\r\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].key.str(), u"AUTORUN");
  EXPECT_EQ(entries[0].value.str(), u"TRUE");
  EXPECT_EQ(entries[1].key.str(), u"KIOSKPWD");
  EXPECT_EQ(entries[1].value.str(), u"");
  // The first "=" divides; a lone LF ends an entry too.
  EXPECT_EQ(entries[2].key.str(), u"LAST");
  EXPECT_EQ(entries[2].value.str(), u"x=y");

  EXPECT_TRUE(ReadDeployOptionEntries(u"").empty());
  EXPECT_TRUE(ReadDeployOptionEntries(u"// only a comment").empty());
  ASSERT_EQ(ReadDeployOptionEntries(u"A=1").size(), 1u);  // the last entry may end the text
}

TEST_F(DeployOptionsTest, EveryKnownOptionIsCopiedIntoTheKioskKey) {
  EntryCapture log;
  dev_.PutFile(kOptionsFile,
               "AUTORUN=TRUE\r\nAUTORESET=FALSE\r\nUSEMARKERFILE=TRUE\r\nCONFIRMTEXT=<DEFAULT>\r\n"
               "SUCCESSTEXT=All done\\nThanks\r\nBACKUPFILENAME=\\Storage Card\\new\\kiosk.pbf\r\n"
               "KIOSKPWD=open\\nsesame\r\nHOURSBETWEENDEPLOYS=0\r\nMINUTESBETWEENDEPLOYS=15\r\n"
               "KIOSKDEMOAPP=demo.exe\r\nCOLOUR=blue\r\n");
  ADeployOptions options(kOptionsFile);

  EXPECT_EQ(Kiosk(u"autorun"), u"true");
  EXPECT_EQ(ReadKiosk(u"autorun").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Kiosk(u"autoreset"), u"false");
  EXPECT_EQ(Kiosk(u"usemarkerfile"), u"true");
  EXPECT_EQ(Kiosk(u"confirmtext"), u"true");
  EXPECT_EQ(Kiosk(u"defaultsuccessmessage"), u"false");
  // A path keeps its backslashes: "\new" is a folder, not a line feed.
  EXPECT_EQ(Kiosk(u"backupfilename"), u"\\Storage Card\\new\\kiosk.pbf");
  EXPECT_EQ(Kiosk(u"login"), u"open\nsesame");
  EXPECT_EQ(Kiosk(u"hoursbetween"), u"0");
  EXPECT_EQ(Kiosk(u"minutesbetween"), u"15");
  EXPECT_FALSE(ReadKiosk(u"COLOUR").found);

  EXPECT_TRUE(options.GetFileAutorun());
  EXPECT_FALSE(options.GetFileAutoreset());
  EXPECT_TRUE(options.UsesDefaultConfirmText());
  EXPECT_FALSE(options.UsesDefaultSuccessText());
  EXPECT_EQ(options.GetSuccessText().str(), u"All done\nThanks");
  EXPECT_EQ(options.GetFileMinutesBetween(), 15);
  EXPECT_EQ(options.GetKioskDemoApp().str(), u"demo.exe");

  EXPECT_TRUE(log.Has(u"Deploy Options Found"));
  EXPECT_TRUE(log.Has(u"writen autorun"));
  EXPECT_TRUE(log.Has(u"Not using demo mode hours"));
  EXPECT_FALSE(log.Has(u"Not using demo mode minutes"));
  EXPECT_TRUE(log.Has(u"Kiosk App to exclude found"));
  EXPECT_TRUE(log.Has(u"Unknown option"));
}

TEST_F(DeployOptionsTest, AnEntryFollowedByACommentWritesOnlyThatEntry) {
  dev_.PutFile(kOptionsFile, "AUTORUN=TRUE\r\n// KIOSKPWD=secret\r\n");
  ADeployOptions options(kOptionsFile);
  EXPECT_EQ(Kiosk(u"autorun"), u"true");
  EXPECT_FALSE(ReadKiosk(u"login").found);
}

TEST_F(DeployOptionsTest, KeysAndWordsMatchWithoutRegardToCaseAndEmptyValuesAreWritten) {
  dev_.PutFile(kOptionsFile, "autorun = true\r\nSuccessText=<default>\r\nkioskpwd =\r\n");
  ADeployOptions options(kOptionsFile);
  EXPECT_EQ(Kiosk(u"autorun"), u"true");
  EXPECT_EQ(Kiosk(u"defaultsuccessmessage"), u"true");
  const KioskValue login = ReadKiosk(u"login");
  EXPECT_TRUE(login.found);
  EXPECT_EQ(login.text, u"");
}

TEST_F(DeployOptionsTest, ALineWithoutAnEqualsSignEndsTheOptions) {
  dev_.PutFile(kOptionsFile, "AUTORUN=FALSE\r\nthis line has none\r\nKIOSKPWD=late\r\n");
  ADeployOptions options(kOptionsFile);
  EXPECT_EQ(Kiosk(u"autorun"), u"false");
  EXPECT_FALSE(ReadKiosk(u"login").found);
}

TEST_F(DeployOptionsTest, ANonAsciiPasswordIsReadInTheAnsiCodePage) {
  dev_.PutFile(kOptionsFile, "KIOSKPWD=caf\xe9\r\n");
  ADeployOptions options(kOptionsFile);
  EXPECT_EQ(Kiosk(u"login"), u"caf\u00e9");
}

TEST_F(DeployOptionsTest, AFileOfExactly32KBIsReadAndOneByteMoreEndsTheProgram) {
  std::string text = "AUTORUN=TRUE\r\n";
  text += std::string(deploy::kMaxFileBytes - text.size(), ' ');
  ASSERT_EQ(text.size(), 32768u);
  quilmo::test::ChildExit fits = ReadInChild(text);
  EXPECT_TRUE(fits.ExitedWith(ChildProcess::kReturnedCode)) << fits.Describe();
  EXPECT_EQ(Kiosk(u"autorun"), u"true");

  quilmo::test::ChildExit tooLarge = ReadInChild("AUTORUN=FALSE\r\n" + std::string(32769 - 15, ' '));
  EXPECT_TRUE(tooLarge.ExitedWith(ADeployOptions::kBadFileExitCode)) << tooLarge.Describe();
  EXPECT_EQ(Kiosk(u"autorun"), u"true");  // nothing of the large file was applied
}

TEST_F(DeployOptionsTest, AUnicodeFileEndsTheProgram) {
  quilmo::test::ChildExit exit = ReadInChild(std::string("\xFF\xFE" "A\0=\0", 6));
  EXPECT_TRUE(exit.ExitedWith(ADeployOptions::kBadFileExitCode)) << exit.Describe();
  EntryCapture log;
  ADeployOptions options;
  EXPECT_FALSE(options.Apply(std::string("\xFF\xFE", 2)));
  EXPECT_TRUE(log.Has(u"Options File is Unicode - plain text is expected"));
}

TEST_F(DeployOptionsTest, ABadFlagValueEndsTheProgramAndKeepsWhatWasWrittenBefore) {
  quilmo::test::ChildExit exit = ReadInChild("KIOSKPWD=first\r\nAUTORESET=YES\r\nAUTORUN=TRUE\r\n");
  EXPECT_TRUE(exit.ExitedWith(ADeployOptions::kBadFileExitCode)) << exit.Describe();
  EXPECT_EQ(Kiosk(u"login"), u"first");
  EXPECT_FALSE(ReadKiosk(u"autoreset").found);
  EXPECT_FALSE(ReadKiosk(u"autorun").found);

  const struct {
    const char* entry;
    const char16_t* line;
  } cases[] = {
      {"AUTORUN=1", u"Unknown AutoRun value in deploy options file"},
      {"AUTORESET=", u"Unknown AutoReset value in deploy options file"},
      {"USEMARKERFILE=TRUE!", u"Unknown UseMarkerFile value in deploy options file"},
  };
  for (const auto& c : cases) {
    EntryCapture log;
    ADeployOptions options;
    EXPECT_FALSE(options.Apply(c.entry)) << c.entry;
    EXPECT_TRUE(log.Has(c.line)) << c.entry;
  }
}

TEST_F(DeployOptionsTest, GettersReadTheKeyBack) {
  EntryCapture log;
  ADeployOptions options;
  EXPECT_FALSE(options.GetAutorun());
  EXPECT_TRUE(log.Has(u"autorun cant read"));
  EXPECT_TRUE(log.Has(u"autorun in registry found to be false"));
  EXPECT_EQ(options.GetHoursBetween(), -1);
  EXPECT_EQ(options.GetLogin().str(), u"");

  ASSERT_TRUE(options.Apply("AUTORUN=TRUE\r\nHOURSBETWEENDEPLOYS=12\r\nKIOSKPWD=pin\r\nBACKUPFILENAME=\\k.pbf"));
  EXPECT_TRUE(options.GetAutorun());
  EXPECT_TRUE(log.Has(u"autorun in registry found to be true"));
  EXPECT_EQ(options.GetHoursBetween(), 12);
  EXPECT_EQ(options.GetMinutesBetween(), -1);
  EXPECT_EQ(options.GetLogin().str(), u"pin");
  EXPECT_EQ(options.GetBackupFileName().str(), u"\\k.pbf");

  // Only the first four characters count, without regard to case.
  ASSERT_TRUE(options.WriteStringRegValue(u"autorun", u"TRUEISH"));
  EXPECT_TRUE(options.GetAutorun());
  ASSERT_TRUE(options.WriteStringRegValue(u"autorun", u"tru"));
  EXPECT_FALSE(options.GetAutorun());
}

TEST_F(DeployOptionsTest, AFileThatCannotBeReadAppliesNothing) {
  EntryCapture log;
  ADeployOptions options(u"\\nowhere\\DeployOptions.txt");
  EXPECT_TRUE(log.Has(u"Deploy Options Found"));
  EXPECT_FALSE(ReadKiosk(u"autorun").found);
}

}  // namespace
