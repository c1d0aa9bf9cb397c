// Code-page conversions: Windows-1252 as the ANSI code page, and UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "ce/codepage.h"
#include "ce/errors.h"

namespace {

TEST(CodePage, Ansi1252RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  std::u16string wide = ce::FromAnsi(all);
  ASSERT_EQ(wide.size(), 255u);
  EXPECT_EQ(wide[0x80 - 1], u'\u20ac');
  EXPECT_EQ(wide[0x92 - 1], u'\u2019');
  EXPECT_EQ(wide[0x9F - 1], u'\u0178');
  EXPECT_EQ(wide[0xA0 - 1], u'\u00a0');
  EXPECT_EQ(wide[0xFF - 1], u'\u00ff');
  for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(wide[b - 1], b);  // undefined bytes: same code point
  EXPECT_EQ(ce::ToAnsi(wide), all);
}

TEST(CodePage, UnmappableBecomesDefaultChar) {
  EXPECT_EQ(ce::ToAnsi(u"a\u0100b\u4e2dc\u0080"), "a?b?c?");
  EXPECT_EQ(ce::ToAnsi(u"x\U0001F600y"), "x?y");  // a surrogate pair is one character

  const WCHAR* text = u"\u00e9\u0100";
  char out[8] = {};
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, &used), 3);
  EXPECT_STREQ(out, "\xE9?");
  EXPECT_TRUE(used);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, "#", &used), 3);
  EXPECT_STREQ(out, "\xE9#");
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ok", -1, out, sizeof out, nullptr, &used), 3);
  EXPECT_FALSE(used);
}

TEST(CodePage, Win32SizeAndTerminatorRules) {
  const char* narrow = "Log line";
  // -1: the terminator is converted and counted.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0), 9);
  WCHAR wide[9];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 9), 9);
  EXPECT_EQ(std::u16string(wide), u"Log line");
  // An explicit length converts exactly that many, no terminator.
  WCHAR two[2] = {u'#', u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, 1, two, 2), 1);
  EXPECT_EQ(two[1], u'#');

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char small[4];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcd", -1, small, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcd", -1, nullptr, 0, nullptr, nullptr), 5);

  for (auto call : {+[] { return MultiByteToWideChar(CP_ACP, 0, nullptr, -1, nullptr, 0); },
                    +[] { return MultiByteToWideChar(CP_ACP, 0, "x", 0, nullptr, 0); },
                    +[] { return MultiByteToWideChar(CP_ACP, 0, "x", -2, nullptr, 0); },
                    +[] { return MultiByteToWideChar(CP_ACP, 0, "x", 1, nullptr, 4); },
                    +[] { return MultiByteToWideChar(437, 0, "x", 1, nullptr, 0); },
                    +[] { return WideCharToMultiByte(CP_UTF8, 0, u"x", 1, nullptr, 0, "?", nullptr); }}) {
    SetLastError(0);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "x", 1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(CodePage, Utf8) {
  const char* utf8 = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80";
  WCHAR wide[16];
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 16);
  EXPECT_EQ(std::u16string(wide, n - 1), u"Gr\u00fc\u00df \u20ac \U0001F600");
  char back[32];
  int m = WideCharToMultiByte(CP_UTF8, 0, wide, -1, back, sizeof back, nullptr, nullptr);
  EXPECT_EQ(m, static_cast<int>(std::string(utf8).size()) + 1);
  EXPECT_STREQ(back, utf8);

  // Invalid input: one U+FFFD per maximal invalid piece, or failure with
  // the strict flag. Overlong forms and encoded surrogates are invalid.
  const char* bad = "a\xC0\xAF" "b\xED\xA0\x80" "c\xE2\x82";
  n = MultiByteToWideChar(CP_UTF8, 0, bad, static_cast<int>(std::string(bad).size()), wide, 16);
  EXPECT_EQ(std::u16string(wide, n), u"a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFDc\uFFFD");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, -1, wide, 16), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

  const WCHAR lone[] = {u'x', 0xD800, u'y', 0};
  m = WideCharToMultiByte(CP_UTF8, 0, lone, -1, back, sizeof back, nullptr, nullptr);
  EXPECT_STREQ(back, "x\xEF\xBF\xBDy");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, back, sizeof back, nullptr, nullptr), 0);
}

}  // namespace
