// Wide C-string functions and the device printf engine.
#include <cwchar>
#include <cwctype>
#include <wchar.h>

#include <gtest/gtest.h>

#include <string>

#include "ce/wstring.h"

namespace {

std::u16string F(const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::u16string s;
  ce::FormatV(s, fmt, ap);
  va_end(ap);
  return s;
}

int FormatInto(std::u16string& out, const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = ce::FormatV(out, fmt, ap);
  va_end(ap);
  return r;
}

TEST(WString, CoexistsWithWcharOverloads) {
  EXPECT_EQ(wcslen(L"abc"), 3u);  // the C library's
  EXPECT_EQ(wcslen(u"abcd"), 4u);  // ours
  EXPECT_EQ(towupper(u'\u00e9'), u'\u00c9');
  EXPECT_EQ(towupper(static_cast<wint_t>(L'a')), static_cast<wint_t>(L'A'));
  const WCHAR* s = u"a\\b\\c";
  EXPECT_EQ(wcsrchr(s, u'\\') - s, 3);
  WCHAR buf[8] = u"xyz";
  WCHAR* hit = wcschr(buf, u'y');
  *hit = u'Y';
  EXPECT_EQ(std::u16string(buf), u"xYz");
}

TEST(WString, CopyConcatCompare) {
  WCHAR buf[16];
  wcscpy(buf, u"ab");
  wcscat(buf, u"cd");
  EXPECT_EQ(std::u16string(buf), u"abcd");
  wcsncat(buf, u"efgh", 2);
  EXPECT_EQ(std::u16string(buf), u"abcdef");

  WCHAR pad[6] = {u'x', u'x', u'x', u'x', u'x', u'x'};
  wcsncpy(pad, u"ab", 5);  // pads with NULs up to n, leaves the rest
  EXPECT_EQ(pad[2], 0);
  EXPECT_EQ(pad[4], 0);
  EXPECT_EQ(pad[5], u'x');
  wcsncpy(pad, u"abcdefg", 3);  // no terminator when the source is longer
  EXPECT_EQ(pad[3], 0);  // from the earlier padding, untouched
  EXPECT_EQ(pad[2], u'c');

  EXPECT_LT(wcscmp(u"abc", u"abd"), 0);
  EXPECT_GT(wcscmp(u"abc", u"ab"), 0);
  EXPECT_GT(wcscmp(u"\u00e9", u"z"), 0);  // unsigned code-unit order
  EXPECT_EQ(wcsncmp(u"abcX", u"abcY", 3), 0);
  EXPECT_EQ(_wcsicmp(u"Program Files\u00C9", u"PROGRAM files\u00e9"), 0);
  EXPECT_LT(_wcsicmp(u"_", u"A"), 0);  // compared lower-cased: '_' < 'a'
  EXPECT_EQ(_wcsnicmp(u"ABCx", u"abcy", 3), 0);
  EXPECT_NE(_wcsnicmp(u"ABCx", u"abcy", 4), 0);
  const WCHAR* hello = u"hello";
  EXPECT_EQ(wcsstr(hello, u""), hello);
  EXPECT_EQ(std::u16string(wcsstr(u"\\Windows\\StartUp", u"Start")), u"StartUp");
  EXPECT_EQ(wcsstr(u"abc", u"abcd"), nullptr);

  WCHAR up[] = u"Hello \u00e9\u0101";
  EXPECT_EQ(std::u16string(_wcsupr(up)), u"HELLO \u00c9\u0100");
  EXPECT_EQ(std::u16string(_wcslwr(up)), u"hello \u00e9\u0101");
}

TEST(WString, NumberParsing) {
  EXPECT_EQ(_wtoi(u"  -42xyz"), -42);
  EXPECT_EQ(_wtoi(u"abc"), 0);
  EXPECT_EQ(_wtoi(u"99999999999"), INT32_MAX);
  EXPECT_EQ(_wtol(u"-99999999999"), INT32_MIN);
  EXPECT_EQ(_wtoi64(u"12345678901"), 12345678901LL);
  WCHAR* end = nullptr;
  const WCHAR* s = u"0x1fZ";
  EXPECT_EQ(wcstoul(s, &end, 16), 0x1Fu);
  EXPECT_EQ(end, s + 4);
  EXPECT_EQ(wcstoul(u"0x10", nullptr, 0), 16u);
  EXPECT_EQ(wcstoul(u"010", nullptr, 0), 8u);
  EXPECT_EQ(wcstoul(u"FFFFFFFF", nullptr, 16), 0xFFFFFFFFu);
  EXPECT_EQ(wcstoul(u"100000000", nullptr, 16), 0xFFFFFFFFu);  // saturates at 32 bits
  EXPECT_EQ(wcstoul(u"-1", nullptr, 10), 0xFFFFFFFFu);
  EXPECT_EQ(wcstol(u"-2147483649", nullptr, 10), INT32_MIN);
  const WCHAR* none = u"  zz";
  EXPECT_EQ(wcstol(none, &end, 10), 0);
  EXPECT_EQ(end, none);  // nothing parsed: end is the start
  EXPECT_EQ(wcstoul(u"0xg", &end, 0), 0u);
}

TEST(WString, LstrFamilyToleratesNull) {
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrcpyW(nullptr, u"x"), nullptr);
  WCHAR buf[5];
  lstrcpynW(buf, u"abcdefgh", 5);
  EXPECT_EQ(std::u16string(buf), u"abcd");
  lstrcpynW(buf, u"ab", 5);
  EXPECT_EQ(std::u16string(buf), u"ab");
  lstrcpynW(buf, u"zz", 1);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(lstrcmpiW(u"ABC", u"abc"), 0);
  EXPECT_EQ(lstrcmpW(u"ABC", u"abc"), -1);
  EXPECT_EQ(lstrcmpW(nullptr, u""), -1);
  EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
}

TEST(Printf, DeviceStringRules) {
  EXPECT_EQ(F(u"[%s]", u"wide"), u"[wide]");
  EXPECT_EQ(F(u"[%ls|%ws]", u"a", u"b"), u"[a|b]");
  EXPECT_EQ(F(u"[%hs|%S]", "narrow", "N\xE9"), u"[narrow|N\u00e9]");
  EXPECT_EQ(F(u"%s %hs", static_cast<const WCHAR*>(nullptr), static_cast<const char*>(nullptr)),
            u"(null) (null)");
  EXPECT_EQ(F(u"[%5s][%-5s][%.2s]", u"ab", u"ab", u"abcdef"), u"[   ab][ab   ][ab]");
  EXPECT_EQ(F(u"[%c%c%C]", u'\u00e9', u'x', 'y'), u"[\u00e9xy]");
  EXPECT_EQ(F(u"%hc", static_cast<char>(0x80)), u"\u20ac");  // narrow, code page 1252
  // Precision bounds the read: an unterminated buffer is safe.
  const WCHAR unterminated[3] = {u'x', u'y', u'z'};
  EXPECT_EQ(F(u"%.3s", unterminated), u"xyz");
}

TEST(Printf, Numbers) {
  EXPECT_EQ(F(u"%08X", 0xBEEFu), u"0000BEEF");
  EXPECT_EQ(F(u"0x%08x", 0xABCDEFu), u"0x00abcdef");
  EXPECT_EQ(F(u"[%5d]", 42), u"[   42]");
  EXPECT_EQ(F(u"[%-5d|]", 42), u"[42   |]");
  EXPECT_EQ(F(u"%.2f", 3.14159), u"3.14");
  EXPECT_EQ(F(u"%02u:%04d", 7u, -5), u"07:-005");
  EXPECT_EQ(F(u"100%%"), u"100%");
  EXPECT_EQ(F(u"%I64d %I64u", -9000000000LL, 18000000000ULL), u"-9000000000 18000000000");
  EXPECT_EQ(F(u"%lld %llx", -1LL, 0x1234567890ULL), u"-1 1234567890");
  EXPECT_EQ(F(u"%ld %lu", static_cast<LONG>(-7), static_cast<DWORD>(0xFFFFFFFF)), u"-7 4294967295");
  EXPECT_EQ(F(u"%zu %Iu", static_cast<size_t>(5000000000ULL), static_cast<size_t>(1)), u"5000000000 1");
  EXPECT_EQ(F(u"%hd %hu %hhd", 70000, 70000, 300), u"4464 4464 44");
  EXPECT_EQ(F(u"%+d % d %#x %#o %o", 5, 5, 255, 8, 8), u"+5  5 0xff 010 10");
  EXPECT_EQ(F(u"[%*d][%-*d][%.*f]", 4, 1, 3, 2, 1, 2.25), u"[   1][2  ][2.2]");
  EXPECT_EQ(F(u"[%*d]", -3, 9), u"[9  ]");  // negative width: left-justified
  EXPECT_EQ(F(u"%.3d|%.0d|", 7, 0), u"007||");
  EXPECT_EQ(F(u"%e %g %G", 12345.678, 0.0001, 1e20), u"1.234568e+04 0.0001 1E+20");
  EXPECT_EQ(F(u"%p", reinterpret_cast<void*>(0x1234)), u"00001234");
  // Mixed widths keep the argument list in step.
  EXPECT_EQ(F(u"%d %I64d %d %f %s", 1, 2LL, 3, 4.5, u"x"), u"1 2 3 4.500000 x");
}

TEST(Printf, OddFormats) {
  EXPECT_EQ(F(u"%y|%"), u"%y|%");  // unknown conversion and a trailing '%' stay as written
  int n = 99;
  EXPECT_EQ(F(u"ab%ncd", &n), u"abcd");
  EXPECT_EQ(n, 99);  // %n stores nothing
  std::u16string s = u"x";
  EXPECT_EQ(FormatInto(s, nullptr), -1);
  EXPECT_TRUE(s.empty());
  std::u16string big = F(u"%9999999d", 1);  // absurd width is capped, not a crash
  EXPECT_EQ(big.size(), static_cast<size_t>(1 << 20));
  // The output string may be one of the arguments.
  std::u16string out = u"seed";
  EXPECT_EQ(FormatInto(out, u"%s+%s", out.c_str(), out.c_str()), 9);
  EXPECT_EQ(out, u"seed+seed");
}

TEST(Printf, BufferFunctions) {
  WCHAR buf[8];
  EXPECT_EQ(swprintf(buf, 8, u"%d", 1234567), 7);
  EXPECT_EQ(std::u16string(buf), u"1234567");
  EXPECT_EQ(swprintf(buf, 8, u"%d", 12345678), -1);  // did not fit: cut and terminated
  EXPECT_EQ(std::u16string(buf), u"1234567");

  WCHAR sn[5] = {u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(_snwprintf(sn, 4, u"%s", u"ab"), 2);
  EXPECT_EQ(std::u16string(sn), u"ab");
  sn[4] = u'#';
  EXPECT_EQ(_snwprintf(sn, 4, u"%s", u"abcd"), 4);  // exactly full: no terminator
  EXPECT_EQ(sn[3], u'd');
  EXPECT_EQ(sn[4], u'#');
  EXPECT_EQ(_snwprintf(sn, 4, u"%s", u"abcdef"), -1);
  EXPECT_EQ(sn[4], u'#');

  WCHAR big[2048];
  std::u16string longText(3000, u'q');
  EXPECT_EQ(wsprintfW(big, u"%s", longText.c_str()), 1023);  // device limit of 1024 with the NUL
  EXPECT_EQ(big[1023], 0);
  EXPECT_EQ(wsprintfW(big, u"%s=%lu", u"Size", static_cast<DWORD>(12)), 7);
  EXPECT_EQ(std::u16string(big), u"Size=12");
}

}  // namespace
