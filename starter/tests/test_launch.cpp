// A start from the boot list: the argument file of its launch number and
// the removal of the starter's own entry from HKLM "init".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ce/file.h"
#include "ce/text.h"
#include "starter/SmartStartFile.h"
#include "starter/StarterCommandLine.h"
#include "starter_fixture.h"

namespace {

using startertest::Raw;
using startertest::SetString;
using startertest::SetWords;
using startertest::Utf16;

constexpr const char16_t* kArgs7 = u"\\temp\\QuilmoStartArgs7.txt";
const std::u16string kInit = u"init";

std::string Words(std::initializer_list<WORD> words) {
  std::string out;
  for (WORD w : words) out += {static_cast<char>(w & 0xFF), static_cast<char>(w >> 8)};
  return out;
}

class ArgumentFileTest : public ::testing::Test {
 protected:
  ArgumentFileTest() { dev_.MakeDir(u"\\temp"); }

  // Writes the file's bytes and reads launch 7; "<refused>" when the read fails.
  std::string Read(const std::string& bytes) {
    dev_.PutFile(kArgs7, bytes);
    CString line;
    if (!ReadLaunchCommandLine(7, line)) return "<refused>";
    return ce::ToUtf8(line.str());
  }
  bool FileLeft() const { return std::filesystem::exists(dev_.Host(kArgs7)); }

  quilmo::test::TestDevice dev_;
};

TEST_F(ArgumentFileTest, ReadsTheFirstLineWithOrWithoutMarkAndDeletesTheFile) {
  const std::string bom = "\xFF\xFE";
  EXPECT_EQ(Read(bom + Utf16(u"/run \"\\x y.exe\"\r\n")), "/run \"\\x y.exe\"");
  EXPECT_FALSE(FileLeft());
  EXPECT_EQ(Read(Utf16(u"ScheduledBackup\n")), "ScheduledBackup");
  EXPECT_EQ(Read(Utf16(u"ScheduledBackup")), "ScheduledBackup");
  EXPECT_EQ(Read(bom + Utf16(u"first\r\nsecond\r\n")), "first");
  EXPECT_EQ(Read(Utf16(u"first\nsecond")), "first");
  EXPECT_EQ(Read(bom), "");
  EXPECT_EQ(Read(""), "");
  EXPECT_FALSE(FileLeft());
}

TEST_F(ArgumentFileTest, StripsOneLineEndAsAWhole) {
  // A CR without its LF is text; only one CR LF goes.
  EXPECT_EQ(Read(Utf16(u"a\r")), "a\r");
  EXPECT_EQ(Read(Utf16(u"a\r\r\n")), "a\r");
  EXPECT_EQ(Read(Utf16(u"a\n\n")), "a");
  EXPECT_EQ(Read(Utf16(u"\r\nlater")), "");
}

TEST_F(ArgumentFileTest, KeepsAtMost1023CharactersOfTheLine) {
  const std::u16string longLine(1030, u'x');
  EXPECT_EQ(Read(Utf16(longLine + u"\r\n")), std::string(1023, 'x'));
  // A line of 1022 characters keeps none of its line end.
  EXPECT_EQ(Read(Utf16(std::u16string(1022, u'y') + u"\r\n")), std::string(1022, 'y'));
}

TEST_F(ArgumentFileTest, MissingFileIsRefused) {
  CString line(u"kept");
  EXPECT_FALSE(ReadLaunchCommandLine(7, line));
  EXPECT_EQ(line, CString(u"kept"));
  // Another number's file is not taken.
  dev_.PutFile(u"\\temp\\QuilmoStartArgs17.txt", Utf16(u"x"));
  EXPECT_FALSE(ReadLaunchCommandLine(7, line));
  EXPECT_TRUE(std::filesystem::exists(dev_.Host(u"\\temp\\QuilmoStartArgs17.txt")));
}

class InitEntryTest : public ::testing::Test {
 protected:
  quilmo::test::TestDevice dev_;
};

TEST_F(InitEntryTest, RemovesOwnEntriesAndTheirNumberFromOtherWaitLists) {
  SetString(kInit, u"Launch7", u"\\windows\\quilmostart.exe");
  SetWords(kInit, u"Depend7", {20});
  SetString(kInit, u"Launch30", u"\\Windows\\other.exe");
  SetWords(kInit, u"Depend30", {20, 7, 21});
  SetString(kInit, u"Launch40", u"\\Windows\\third.exe");
  SetWords(kInit, u"Depend40", {7});
  SetString(kInit, u"Launch50", u"\\Windows\\fourth.exe");
  SetWords(kInit, u"Depend50", {20});
  RemoveInitLaunchEntry(CString(u"\\Windows\\QuilmoStart.exe"));

  EXPECT_EQ(Raw(kInit, u"Launch7"), "<none>");
  EXPECT_EQ(Raw(kInit, u"Depend7"), "<none>");
  EXPECT_EQ(Raw(kInit, u"Depend30"), Words({20, 21}));
  EXPECT_EQ(Raw(kInit, u"Depend40"), "");
  EXPECT_EQ(Raw(kInit, u"Depend50"), Words({20}));
  EXPECT_NE(Raw(kInit, u"Launch30"), "<none>");
}

TEST_F(InitEntryTest, LeavesOtherProgramsAndAMissingListAlone) {
  RemoveInitLaunchEntry(CString(u"\\Windows\\QuilmoStart.exe"));  // no "init" key: nothing to do
  SetString(kInit, u"Launch7", u"\\Windows\\QuilmoStart2.exe");
  RemoveInitLaunchEntry(CString(u"\\Windows\\QuilmoStart.exe"));
  EXPECT_NE(Raw(kInit, u"Launch7"), "<none>");
}

}  // namespace
