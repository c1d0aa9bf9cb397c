// Start entries on the built-in storage: which executables are listed with
// which kind, that only "S" entries start, the start after a hard reset,
// and the token kept out of the program's plain text.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "starter/SmartStartFile.h"
#include "start_fixture.h"

namespace {

using startertest::Dword;
using startertest::InstallBuilt;
using startertest::kSettingsKey;
using startertest::SetDword;

const std::u16string kLissent = std::u16string(kSettingsKey) + u"\\Lissent";

class StartEntriesTest : public startertest::StartTest {
 protected:
  void Entries() {
    InstallBuilt(dev_, "starter_recorder", u"\\Built-in Storage\\QSE-S\\a.exe");
    InstallBuilt(dev_, "starter_recorder", u"\\Built-in Storage\\apps\\qse-s\\B.EXE");
    dev_.PutFile(u"\\Built-in Storage\\QSE-A\\c.exe", "x");
    dev_.PutFile(u"\\Built-in Storage\\QSE-U\\d.exe", "x");
    dev_.PutFile(u"\\Built-in Storage\\QSE-S\\sub\\e.exe", "x");  // not directly in the folder
    dev_.PutFile(u"\\Built-in Storage\\QSE-S\\f.txt", "x");
    dev_.PutFile(u"\\Built-in Storage\\QSE-X\\g.exe", "x");
    dev_.PutFile(u"\\Built-in Storage\\QSE-S.exe", "x");
  }
  static std::vector<std::string> Listed(const SmartStartFile& s) {
    std::vector<std::string> out;
    for (const CString& e : s.GetStartEntries()) out.push_back(ce::ToUtf8(e.str()));
    std::sort(out.begin(), out.end());
    return out;
  }
  static StarterRunResult RunLine(const char16_t* line) {
    CQuilmoStartCommandLineInfo info;
    ACommandLineParser(line).ParseCommandLine(info);
    SmartStartFile start(&info);
    return start.Run();
  }
};

TEST_F(StartEntriesTest, ListsExecutablesDirectlyInTheKindFolders) {
  Entries();
  SmartStartFile s(nullptr);
  ASSERT_TRUE(s.FindStartEntries());
  EXPECT_EQ(Listed(s), (std::vector<std::string>{"A\\Built-in Storage\\QSE-A\\c.exe",
                                                 "S\\Built-in Storage\\QSE-S\\a.exe",
                                                 "S\\Built-in Storage\\apps\\qse-s\\B.EXE",
                                                 "U\\Built-in Storage\\QSE-U\\d.exe"}));
}

TEST_F(StartEntriesTest, StartsOnlyKindSWithTheArgumentString) {
  Entries();
  EXPECT_EQ(RunLine(u"/startup /args go"), kRunDone);
  std::vector<std::string> lines = WaitStarted(2);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"\\Built-in Storage\\QSE-S\\a.exe\t \"go\"",
                                             "\\Built-in Storage\\apps\\qse-s\\B.EXE\t \"go\""}));
  EXPECT_EQ(Settled().size(), 2u);
}

TEST_F(StartEntriesTest, AnEntryThatDoesNotStartFailsTheRun) {
  dev_.PutFile(u"\\Built-in Storage\\QSE-S\\broken.exe", "no program");
  EXPECT_EQ(RunLine(u"/startup"), kRunStartEntriesFailed);
}

TEST_F(StartEntriesTest, WithoutBuiltInStorageThereIsNothingToStart) {
  EXPECT_EQ(RunLine(u"/startup"), kRunStartEntriesFailed);
  SetDword(kLissent, u"bHardReset", 1);
  EXPECT_EQ(RunLine(u"AppRunAfterWakeup"), kRunStartEntriesAfterHardResetFailed);
  EXPECT_EQ(RunLine(u""), kRunNoAction);
}

TEST_F(StartEntriesTest, AHardResetStartsTheEntriesOnceAfterTheAction) {
  Entries();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLissent.c_str(), 0, 0, &key), ERROR_SUCCESS);
  RegDeleteValueW(key, u"bHardReset");  // absent: a hard reset happened
  RegCloseKey(key);
  EXPECT_EQ(RunLine(u"AppRunAfterWakeup"), kRunDone);
  EXPECT_EQ(WaitStarted(2).size(), 2u);
  EXPECT_EQ(Dword(kLissent, u"bHardReset"), 0);
  EXPECT_NE(Dword(std::u16string(kSettingsKey) + u"\\WakeUpService", u"dwStartTimeLow"), -1);
  EXPECT_EQ(RunLine(u"AppRunAfterWakeup"), kRunDone);
  EXPECT_EQ(Settled().size(), 2u);

  // The startup action runs them itself, not a second time.
  SetDword(kLissent, u"bHardReset", 1);
  EXPECT_EQ(RunLine(u"/startup"), kRunDone);
  EXPECT_EQ(WaitStarted(4).size(), 4u);
  EXPECT_EQ(Settled().size(), 4u);
}

TEST(StarterProgram, KeepsTheStartEntryTokenOutOfItsPlainText) {
  std::ifstream in(std::string(QUILMO_BIN_DIR) + "/QuilmoStart", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.find("QSE-"), std::string::npos);
  EXPECT_EQ(bytes.find(std::string("Q\0S\0E\0-\0", 8)), std::string::npos);
}

}  // namespace
