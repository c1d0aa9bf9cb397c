// CString and the array collections.
#include <gtest/gtest.h>

#include <string>

#include "ce/collections.h"
#include "ce/cstring.h"
#include "ce/module.h"
#include "ce/rescontainer.h"
#include "ce/wstring.h"
#include "testkit/TestDevice.h"

namespace {

std::u16string S(const CString& s) { return s.str(); }

TEST(CString, ConstructionAndConversion) {
  EXPECT_TRUE(CString(static_cast<const WCHAR*>(nullptr)).IsEmpty());
  EXPECT_EQ(S(CString(u"abcdef", 3)), u"abc");
  EXPECT_EQ(S(CString(u'-', 3)), u"---");
  EXPECT_EQ(S(CString("caf\xE9 \x80")), u"caf\u00e9 \u20ac");  // narrow is code page 1252
  EXPECT_EQ(S(CString(std::u16string(u"x\0y", 3))), std::u16string(u"x\0y", 3));
  CString s = u"abc";
  LPCWSTR p = s;
  EXPECT_EQ(wcslen(p), 3u);
  EXPECT_EQ(wcslen(CString()), 0u);  // empty still gives a valid ""
  EXPECT_EQ(s[0], u'a');
  EXPECT_EQ(s[static_cast<size_t>(1)], u'b');
  EXPECT_EQ(s[static_cast<long>(2)], u'c');
  EXPECT_EQ(s[3], 0);
  EXPECT_EQ(s[-1], 0);
  EXPECT_EQ(s.GetAt(3), 0);
  EXPECT_EQ(s.GetAt(-1), 0);
  s.SetAt(1, u'B');
  s.SetAt(7, u'!');  // ignored
  EXPECT_EQ(S(s), u"aBc");
  s = static_cast<LPCWSTR>(s) + 1;  // assigning a pointer into itself
  EXPECT_EQ(S(s), u"Bc");
}

TEST(CString, ExtractionIsClamped) {
  CString s = u"Program Files";
  EXPECT_EQ(S(s.Left(7)), u"Program");
  EXPECT_EQ(S(s.Left(-1)), u"");
  EXPECT_EQ(S(s.Left(99)), u"Program Files");
  EXPECT_EQ(S(s.Right(5)), u"Files");
  EXPECT_EQ(S(s.Right(99)), u"Program Files");
  EXPECT_EQ(S(s.Right(-3)), u"");
  EXPECT_EQ(S(s.Mid(8)), u"Files");
  EXPECT_EQ(S(s.Mid(8, 2)), u"Fi");
  EXPECT_EQ(S(s.Mid(-4, 3)), u"Pro");
  EXPECT_EQ(S(s.Mid(11, 50)), u"es");
  EXPECT_EQ(S(s.Mid(13)), u"");
  EXPECT_EQ(S(s.Mid(40, 2)), u"");
  EXPECT_EQ(S(s.Mid(2, -1)), u"");
  EXPECT_EQ(S(s.SpanIncluding(u"Prgo")), u"Progr");
  EXPECT_EQ(S(s.SpanExcluding(u" ")), u"Program");
}

TEST(CString, Searching) {
  CString s = u"\\Windows\\StartUp\\a.lnk";
  EXPECT_EQ(s.Find(u'\\'), 0);
  EXPECT_EQ(s.Find(u'\\', 1), 8);
  EXPECT_EQ(s.Find(u'\\', 99), -1);
  EXPECT_EQ(s.Find(u'\\', -1), -1);
  EXPECT_EQ(s.Find(u"StartUp"), 9);
  EXPECT_EQ(s.Find(u"startup"), -1);
  EXPECT_EQ(s.Find(u"", 3), 3);
  EXPECT_EQ(s.Find(static_cast<LPCWSTR>(nullptr)), -1);
  EXPECT_EQ(s.ReverseFind(u'\\'), 16);
  EXPECT_EQ(s.ReverseFind(u'?'), -1);
  EXPECT_EQ(s.FindOneOf(u".U"), 14);
  EXPECT_EQ(s.FindOneOf(u""), -1);

  CString list = u";a;;bc;";
  int pos = 0;
  EXPECT_EQ(S(list.Tokenize(u";", pos)), u"a");
  EXPECT_EQ(S(list.Tokenize(u";", pos)), u"bc");
  EXPECT_EQ(S(list.Tokenize(u";", pos)), u"");
  EXPECT_EQ(pos, -1);
}

TEST(CString, TrimAndCase) {
  CString s = u" \t text \r\n";
  EXPECT_EQ(S(CString(s).TrimLeft()), u"text \r\n");
  EXPECT_EQ(S(CString(s).TrimRight()), u" \t text");
  EXPECT_EQ(S(s.Trim()), u"text");
  EXPECT_EQ(S(CString(u"xxaxx").Trim(u'x')), u"a");
  EXPECT_EQ(S(CString(u"\"quoted\"").TrimLeft(u"\"")), u"quoted\"");
  EXPECT_EQ(S(CString(u"   ").Trim()), u"");
  EXPECT_EQ(S(CString(u"Caf\u00e9").MakeUpper()), u"CAF\u00c9");
  EXPECT_EQ(S(CString(u"ABC\u00c9").MakeLower()), u"abc\u00e9");
  EXPECT_EQ(S(CString(u"abc").MakeReverse()), u"cba");
}

TEST(CString, EditingInPlace) {
  CString s = u"a.b.c";
  EXPECT_EQ(s.Replace(u'.', u'\\'), 2);
  EXPECT_EQ(S(s), u"a\\b\\c");
  CString t = u"%1 and %1";
  EXPECT_EQ(t.Replace(u"%1", u"%1%1"), 2);  // replacement is not searched again
  EXPECT_EQ(S(t), u"%1%1 and %1%1");
  EXPECT_EQ(t.Replace(u"", u"x"), 0);
  EXPECT_EQ(t.Replace(u"zz", u"y"), 0);
  CString self = u"abab";
  EXPECT_EQ(self.Replace(self.Mid(0, 2), self), 2);  // arguments built from the string itself
  EXPECT_EQ(S(self), u"ababab" u"ab");
  EXPECT_EQ(t.Remove(u'%'), 4);
  EXPECT_EQ(S(t), u"11 and 11");

  CString u = u"ace";
  EXPECT_EQ(u.Insert(1, u'b'), 4);
  EXPECT_EQ(u.Insert(99, u"fg"), 6);
  EXPECT_EQ(u.Insert(-5, u"_"), 7);
  EXPECT_EQ(S(u), u"_abcefg");
  EXPECT_EQ(u.Delete(4), 6);
  EXPECT_EQ(u.Delete(3, 99), 3);
  EXPECT_EQ(u.Delete(10, 1), 3);
  EXPECT_EQ(u.Delete(-2, 1), 2);
  EXPECT_EQ(S(u), u"ab");
}

TEST(CString, CompareAndOperators) {
  CString a = u"Alpha";
  EXPECT_EQ(a.Compare(u"Alpha"), 0);
  EXPECT_EQ(a.Compare(u"alpha"), -1);
  EXPECT_EQ(a.CompareNoCase(u"ALPHA"), 0);
  EXPECT_EQ(a.CompareNoCase(u"alphb"), -1);
  EXPECT_EQ(a.CompareNoCase(u"alph"), 1);
  EXPECT_EQ(a.Compare(nullptr), 1);
  EXPECT_TRUE(a == u"Alpha");
  EXPECT_TRUE(u"Alpha" == a);
  EXPECT_TRUE(a != CString(u"Beta"));
  EXPECT_TRUE(a < CString(u"Beta"));
  EXPECT_TRUE(a < u"Beta");
  EXPECT_FALSE(a == static_cast<LPCWSTR>(nullptr));
  CString b = a + u"\\" + CString(u"x") + u'y';
  EXPECT_EQ(S(b), u"Alpha\\xy");
  EXPECT_EQ(S(u"<" + a), u"<Alpha");
  EXPECT_EQ(S(u'<' + a), u"<Alpha");
  b += a;
  b += u'!';
  b += static_cast<LPCWSTR>(nullptr);
  EXPECT_EQ(S(b), u"Alpha\\xyAlpha!");
}

TEST(CString, FormatUsesDeviceRules) {
  CString s;
  s.Format(u"%s=%d (0x%08X) %hs", u"Size", 42, 42u, "ansi");
  EXPECT_EQ(S(s), u"Size=42 (0x0000002A) ansi");
  s.AppendFormat(u" %.2f", 1.005e2);
  EXPECT_EQ(S(s), u"Size=42 (0x0000002A) ansi 100.50");
  // Growth well past any fixed buffer.
  std::u16string big(5000, u'z');
  s.Format(u"[%s][%s]", big.c_str(), big.c_str());
  EXPECT_EQ(s.GetLength(), 10004);
  // String objects go as their text, also the string being formatted.
  CString p = u"path";
  p.Format(u"%s\\%s|%s", p, static_cast<LPCWSTR>(p), std::u16string(u"std"));
  EXPECT_EQ(S(p), u"path\\path|std");
  p.FormatMessage(u"%1!s! (%2!d!)", CString(u"name"), 3);
  EXPECT_EQ(S(p), u"name (3)");
  EXPECT_EQ(ce::Format(u"<%s>", p), u"<name (3)>");
}

TEST(CString, FormatMessageInserts) {
  CString s;
  s.FormatMessage(u"Welcome to %1. %1 is ready.", u"Quilmo Backup");
  EXPECT_EQ(S(s), u"Welcome to Quilmo Backup. Quilmo Backup is ready.");
  s.FormatMessage(u"%2 before %1", u"one", u"two");
  EXPECT_EQ(S(s), u"two before one");
  s.FormatMessage(u"%1!d! files, %2!08X!, %3!s!, %4!.1f!", 12, 0xABu, u"txt", 2.25);
  EXPECT_EQ(S(s), u"12 files, 000000AB, txt, 2.2");
  s.FormatMessage(u"100%% done%nnext%0 hidden");
  EXPECT_EQ(S(s), u"100% done\r\nnext");
  s.FormatMessage(u"%1 and 50% off%", static_cast<LPCWSTR>(nullptr));
  EXPECT_EQ(S(s), u"(null) and 50 off%");  // "% " is an escaped blank
}

TEST(CString, GetBufferReleaseBuffer) {
  CString s = u"abc";
  LPWSTR p = s.GetBuffer(260);
  EXPECT_EQ(std::u16string(p), u"abc");  // current text is kept
  wcscpy(p, u"\\Windows\\Start Menu");
  s.ReleaseBuffer();
  EXPECT_EQ(S(s), u"\\Windows\\Start Menu");
  EXPECT_EQ(s.GetLength(), 19);

  p = s.GetBuffer(0);
  p[3] = 0;
  s.ReleaseBuffer();  // up to the first NUL
  EXPECT_EQ(S(s), u"\\Wi");

  p = s.GetBufferSetLength(5);
  for (int i = 0; i < 5; ++i) p[i] = u'0' + i;
  s.ReleaseBuffer(4);
  EXPECT_EQ(S(s), u"0123");
  s.GetBuffer(10);
  s.ReleaseBuffer(999);  // longer than the buffer: nothing beyond is read
  EXPECT_LE(s.GetLength(), 10);
  EXPECT_EQ(S(s.Left(4)), u"0123");
}

TEST(Collections, ArraysBehaveLikeTheClassLibrary) {
  CStringArray names;
  EXPECT_EQ(names.Add(u"b"), 0);
  EXPECT_EQ(names.Add(CString(u"d")), 1);
  names.InsertAt(0, u"a");
  names.InsertAt(2, u"c");
  ASSERT_EQ(names.GetSize(), 4);
  EXPECT_EQ(S(names[2]), u"c");
  names.InsertAt(1, names[3], 2);  // an element of the array itself
  EXPECT_EQ(S(names.GetAt(1)), u"d");
  EXPECT_EQ(S(names.GetAt(2)), u"d");
  names.RemoveAt(1, 2);
  names.RemoveAt(10);  // ignored
  names.SetAt(0, u"A");
  names.SetAt(9, u"Z");  // ignored
  EXPECT_EQ(names.GetSize(), 4);
  EXPECT_EQ(S(names[0]), u"A");
  EXPECT_THROW(names.GetAt(4), std::out_of_range);
  EXPECT_THROW(names[-1], std::out_of_range);
  names.SetAtGrow(6, names[0]);
  EXPECT_EQ(names.GetSize(), 7);
  EXPECT_EQ(S(names[6]), u"A");
  EXPECT_TRUE(names[5].IsEmpty());
  names.RemoveAll();
  EXPECT_TRUE(names.IsEmpty());

  CDWordArray ids;
  ids.Add(7);
  ids.InsertAt(3, 9);  // past the end: grows with zeros first
  EXPECT_EQ(ids.GetSize(), 4);
  EXPECT_EQ(ids[1], 0u);
  EXPECT_EQ(ids[3], 9u);
  CPtrArray ptrs;
  int x = 0;
  ptrs.Add(&x);
  EXPECT_EQ(ptrs[0], &x);
}

}  // namespace

// ---- LoadString through the current resource module ----------------------

namespace {

TEST(CString, LoadStringFromResourceModule) {
  quilmo::test::TestDevice dev;
  const std::u16string text = u"Backup \u00e9";
  const ce::res::Resource r = ce::res::StringResource(57662, text);
  std::string bytes, error;
  ASSERT_TRUE(ce::res::BuildContainer({r}, &bytes, &error)) << error;
  bytes += ce::res::MakeTrailer(0, static_cast<uint32_t>(bytes.size()));
  dev.PutFile(u"\\Windows\\strings.dll", bytes);
  HMODULE h = LoadLibraryExW(u"\\Windows\\strings.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(h, nullptr);
  ce::SetResourceModule(h);

  CString s = u"old";
  EXPECT_TRUE(s.LoadString(57662));
  EXPECT_EQ(S(s), text);
  EXPECT_FALSE(s.LoadString(1));  // missing: unchanged
  EXPECT_EQ(S(s), text);
  EXPECT_EQ(S(CString(MAKEINTRESOURCE(57662))), text);  // the class library's id constructor

  ce::SetResourceModule(nullptr);
  FreeLibrary(h);
}

}  // namespace
