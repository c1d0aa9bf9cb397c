// The starter's command line: splitting, switches and words, the argument
// string, and launch numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/text.h"
#include "starter/StarterCommandLine.h"
#include "testkit/TestDevice.h"

namespace {

std::vector<std::string> Split(const char16_t* line) {
  ACommandLineParser parser(line);
  std::vector<std::string> out;
  CString arg;
  while (parser.NextArgument(arg)) out.push_back(ce::ToUtf8(arg.str()));
  return out;
}

class StarterCommandLineTest : public ::testing::Test {
 protected:
  CQuilmoStartCommandLineInfo Parse(const char16_t* line) {
    CQuilmoStartCommandLineInfo info;
    ACommandLineParser(line).ParseCommandLine(info);
    return info;
  }
  quilmo::test::TestDevice dev_;  // the power-on words switch a device on
};

TEST_F(StarterCommandLineTest, SplitsAtBlankRunsAndKeepsQuotedBlanks) {
  EXPECT_EQ(Split(u"  a\t\t b  "), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Split(u"\"/run\" \"\\Program Files\\x.exe\"  y"),
            (std::vector<std::string>{"/run", "\\Program Files\\x.exe", "y"}));
  // A quoted part runs on to the next blank; only the outer quotes go.
  EXPECT_EQ(Split(u"\"a b\"c d"), (std::vector<std::string>{"a b\"c", "d"}));
  EXPECT_EQ(Split(u"a\"b c\""), (std::vector<std::string>{"a\"b", "c"}));
  // An unclosed quote runs to the end.
  EXPECT_EQ(Split(u"\"a b"), (std::vector<std::string>{"a b"}));
  EXPECT_TRUE(Split(u"").empty());
  EXPECT_TRUE(Split(u" \t ").empty());
}

TEST_F(StarterCommandLineTest, CountsTheArgumentsLeft) {
  ACommandLineParser parser(u"a \"b c\" d");
  EXPECT_EQ(parser.CountArguments(), 3);
  CString arg;
  ASSERT_TRUE(parser.NextArgument(arg));
  EXPECT_EQ(parser.CountArguments(), 2);
}

TEST_F(StarterCommandLineTest, SeesAtMost519Characters) {
  std::u16string line = u"/args ";
  line += std::u16string(519 - line.size() - 2, u'x');
  line += u" yz";  // "y" is character 519, "z" lies beyond the buffer
  CQuilmoStartCommandLineInfo info = Parse(line.c_str());
  ASSERT_EQ(info.m_ArgumentList.size(), 2u);
  EXPECT_EQ(info.m_ArgumentList[1], CString(u"y"));
}

TEST_F(StarterCommandLineTest, ActionsOfSwitchesAndWords) {
  EXPECT_EQ(Parse(u"/runbackupapp").m_Action, kActionRunBackupApp);
  EXPECT_EQ(Parse(u"-StartUp").m_Action, kActionStartup);
  EXPECT_EQ(Parse(u"BatteryForceCheck").m_Action, kActionBatteryForceCheck);
  EXPECT_EQ(Parse(u"ScheduledBackup").m_Action, kActionScheduledBackup);
  EXPECT_EQ(Parse(u"AppRunAfterWakeup").m_Action, kActionAppRunAfterWakeup);
  CQuilmoStartCommandLineInfo run = Parse(u"/RUN \"\\Windows\\Merrow.exe\"");
  EXPECT_TRUE(run.m_bParametersValid);
  EXPECT_EQ(run.m_Action, kActionRun);
  EXPECT_EQ(run.m_ProgramPath, CString(u"\\Windows\\Merrow.exe"));
  EXPECT_EQ(Parse(u"").m_Action, kActionNone);
  EXPECT_TRUE(Parse(u"").m_bParametersValid);
}

TEST_F(StarterCommandLineTest, WordsAreExactCaseAndUnknownItemsInvalid) {
  EXPECT_FALSE(Parse(u"scheduledbackup").m_bParametersValid);
  EXPECT_FALSE(Parse(u"SCHEDULEDBACKUP").m_bParametersValid);
  EXPECT_FALSE(Parse(u"/bogus").m_bParametersValid);
  EXPECT_FALSE(Parse(u"ScheduledBackup extra").m_bParametersValid);
  EXPECT_FALSE(Parse(u"/").m_bParametersValid);
}

TEST_F(StarterCommandLineTest, RunWithoutItsProgramIsInvalid) {
  EXPECT_FALSE(Parse(u"/run /args x").m_bParametersValid);
  EXPECT_FALSE(Parse(u"/run -startup").m_bParametersValid);
  EXPECT_FALSE(Parse(u"/run").m_bParametersValid);
}

TEST_F(StarterCommandLineTest, ArgsQuoteEachFollowingArgument) {
  CQuilmoStartCommandLineInfo info = Parse(u"/run x.exe /args -x y \"a b\" /run ScheduledBackup");
  EXPECT_TRUE(info.m_bParametersValid);
  EXPECT_EQ(info.m_Action, kActionRun);
  EXPECT_EQ(info.m_Arguments, CString(u" \"/x\" \"y\" \"a b\" \"/run\" \"ScheduledBackup\""));
  EXPECT_EQ(info.m_ArgumentList.front(), CString(u"/x"));
  EXPECT_EQ(Parse(u"/runbackupapp /args MerrowAutoBackup").m_Arguments, CString(u" \"MerrowAutoBackup\""));
}

TEST_F(StarterCommandLineTest, CardSwitchesAddTheirFolders) {
  CQuilmoStartCommandLineInfo info = Parse(u"\"/SCARD=\\Storage Card\" -sCard=\\SD /run \\x.exe");
  EXPECT_TRUE(info.m_bParametersValid);
  EXPECT_EQ(info.m_Cards, (std::vector<CString>{CString(u"\\Storage Card"), CString(u"\\SD")}));
  // Only the six characters are compared: the folder may be empty.
  EXPECT_EQ(Parse(u"/scard=").m_Cards.size(), 1u);
  EXPECT_FALSE(Parse(u"/scard").m_bParametersValid);
}

TEST(StarterLaunchNumber, OnlyAWholePositiveNumber) {
  int n = 0;
  EXPECT_TRUE(IsLaunchNumber(u"7", &n));
  EXPECT_EQ(n, 7);
  EXPECT_TRUE(IsLaunchNumber(u"021", &n));
  EXPECT_EQ(n, 21);
  n = -1;
  for (const char16_t* line : {u"0", u"", u" 7", u"7 ", u"-7", u"+7", u"7a", u"99999999999"})
    EXPECT_FALSE(IsLaunchNumber(line, &n)) << ce::ToUtf8(line);
  EXPECT_FALSE(IsLaunchNumber(nullptr, &n));
  EXPECT_EQ(n, -1);
}

}  // namespace
