#include <gtest/gtest.h>

#include "ce/errors.h"
#include "cesim/device.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

TEST(Device, ResolvesIgnoringCaseAndKeepsStoredCase) {
  TestDevice dev;
  dev.PutFile(u"\\My Documents\\Notes.TXT", "x");
  ce::ResolvedPath r;
  ASSERT_TRUE(dev.device()->Resolve(u"\\my documents\\notes.txt", &r));
  EXPECT_TRUE(r.exists);
  EXPECT_EQ(r.device, u"\\My Documents\\Notes.TXT");
  EXPECT_EQ(r.key, u"\\MY DOCUMENTS\\NOTES.TXT");
  ASSERT_TRUE(dev.device()->Resolve(u"\\MY DOCUMENTS\\new file.txt", &r));
  EXPECT_FALSE(r.exists);
  EXPECT_TRUE(r.parentExists);
  EXPECT_EQ(r.device, u"\\My Documents\\new file.txt");
  ASSERT_TRUE(dev.device()->Resolve(u"\\nowhere\\file", &r));
  EXPECT_FALSE(r.parentExists);
}

TEST(Device, RefusesPathsThatLeaveTheDevice) {
  TestDevice dev;
  ce::ResolvedPath r;
  EXPECT_FALSE(dev.device()->Resolve(u"\\..\\device.db", &r));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_FALSE(dev.device()->Resolve(u"", &r));
  EXPECT_FALSE(dev.device()->Resolve(u"..\\device.db", &r));
  EXPECT_FALSE(dev.device()->Resolve(u"\\a*b", &r));
  EXPECT_FALSE(dev.device()->Resolve(std::u16string(300, u'a').insert(0, u"\\"), &r));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  ASSERT_TRUE(dev.device()->Resolve(u"\\", &r));
  EXPECT_TRUE(r.isDirectory);
  EXPECT_EQ(r.device, u"\\");
}

TEST(Device, ProfileRoundTripsAndRejectsNonsense) {
  ce::Profile p;
  p.cards = {u"Storage Card"};
  p.capacities = {{u"\\Storage Card", 1000}};
  p.romFiles = {u"\\Windows\\stwater.gif"};
  p.systemVolumes = {{u"\\pim.vol", true}, {u"\\My Documents\\notes.vol", false}};
  ce::Profile q;
  std::string err;
  ASSERT_TRUE(ce::Profile::Parse(p.Serialize(), &q, &err)) << err;
  EXPECT_EQ(q.cards, p.cards);
  EXPECT_EQ(q.capacities[0].bytes, 1000u);
  EXPECT_EQ(q.romFiles, p.romFiles);
  ASSERT_EQ(q.systemVolumes.size(), 2u);
  EXPECT_TRUE(q.systemVolumes[0].edb);
  EXPECT_EQ(q.systemVolumes[1].path, u"\\My Documents\\notes.vol");
  EXPECT_FALSE(q.systemVolumes[1].edb);
  EXPECT_FALSE(ce::Profile::Parse("system_volume = \\pim.vol\n", &q, &err));
  EXPECT_FALSE(ce::Profile::Parse("system_volume = \\pim.vol|sql\n", &q, &err));
  EXPECT_FALSE(ce::Profile::Parse("screen_width = -3\n", &q, &err));
  EXPECT_FALSE(ce::Profile::Parse("bogus = 1\n", &q, &err));
  EXPECT_FALSE(ce::Profile::Parse("no equals sign\n", &q, &err));
}

TEST(Device, ProfileCarriesTheSecurityAgentsAnswers) {
  ce::Profile p;
  EXPECT_EQ(p.credantAnswers[0].code, 3);
  p.credantLibrary = true;
  p.credantAnswers[1] = {0, 500};
  p.credantAnswers[2] = {0, std::nullopt};
  p.credantAnswers[3] = {-7, std::nullopt};
  ce::Profile q;
  std::string err;
  ASSERT_TRUE(ce::Profile::Parse(p.Serialize(), &q, &err)) << err;
  EXPECT_TRUE(q.credantLibrary);
  EXPECT_EQ(q.credantAnswers[0], ce::CredantAnswer());
  EXPECT_EQ(q.credantAnswers[1], (ce::CredantAnswer{0, 500}));
  EXPECT_EQ(q.credantAnswers[2], (ce::CredantAnswer{0, std::nullopt}));
  EXPECT_EQ(q.credantAnswers[3].code, -7);
  ASSERT_TRUE(ce::Profile::Parse("credant_request_4 = 1\n", &q, &err)) << err;
  EXPECT_FALSE(q.credantLibrary);
  EXPECT_EQ(q.credantAnswers[3].code, 1);
  for (const char* bad : {"credant_request_5 = 3\n", "credant_request_1 = soon\n", "credant_request_1 = 0 reply\n",
                          "credant_request_1 = 0 reply -1\n", "credant_request_1 = 0 after 5\n",
                          "credant_request_1 = 0 reply 5 more\n", "credant_library = yes\n"})
    EXPECT_FALSE(ce::Profile::Parse(bad, &q, &err)) << bad;
}

TEST(Device, ClockOffsetIsKeptWithTheDevice) {
  TestDevice dev;
  EXPECT_EQ(dev.device()->ClockOffsetMs(), 0);
  dev.device()->SetClockOffsetMs(-86400000LL);
  EXPECT_EQ(dev.device()->ClockOffsetMs(), -86400000LL);
}

TEST(Text, Utf8RoundTripAndCaseFolding) {
  std::u16string s = u"Caf\u00e9 \u00c5ngstr\u00f6m \U0001F600";
  EXPECT_EQ(ce::FromUtf8(ce::ToUtf8(s)), s);
  EXPECT_TRUE(ce::EqualNoCase(u"\u00e9t\u00e9", u"\u00c9T\u00c9"));
  EXPECT_EQ(ce::FromUtf8("\xff"), u"\uFFFD");
  EXPECT_EQ(ce::DeviceUpper(u"\u0434\u043e\u043c"), u"\u0414\u041e\u041c");
}
