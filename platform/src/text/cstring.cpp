#include "ce/cstring.h"

#include <algorithm>
#include <vector>

#include "ce/codepage.h"
#include "ce/text.h"
#include "ce/wstring.h"

namespace {

bool IsWhite(WCHAR c) { return c == u' ' || (c >= 0x09 && c <= 0x0D); }

std::u16string_view View(const WCHAR* s) { return s ? std::u16string_view(s) : std::u16string_view(); }

bool InSet(WCHAR c, std::u16string_view set) { return set.find(c) != std::u16string_view::npos; }

}  // namespace

CString::CString(const WCHAR* s) {
  if (s && IS_INTRESOURCE(s)) {
    LoadString(static_cast<UINT>(reinterpret_cast<uintptr_t>(s)));
  } else if (s) {
    m_s = s;
  }
}

CString::CString(const WCHAR* s, int length) {
  if (s && length > 0) m_s.assign(s, static_cast<size_t>(length));
}

CString::CString(WCHAR ch, int repeat) {
  if (repeat > 0) m_s.assign(static_cast<size_t>(repeat), ch);
}

CString::CString(std::u16string_view s) : m_s(s) {}
CString::CString(const std::u16string& s) : m_s(s) {}
CString::CString(const char* s) {
  if (s) m_s = ce::FromAnsi(s);
}

CString& CString::operator=(const WCHAR* s) {
  if (s && IS_INTRESOURCE(s)) {
    *this = CString(s);
  } else {
    m_s = View(s);  // assigning from a view copes with s pointing into m_s
  }
  return *this;
}

CString& CString::operator=(WCHAR ch) {
  m_s.assign(1, ch);
  return *this;
}

CString& CString::operator=(std::u16string_view s) {
  m_s = std::u16string(s);
  return *this;
}

WCHAR CString::GetAt(int index) const {
  return (index >= 0 && index < GetLength()) ? m_s[static_cast<size_t>(index)] : WCHAR(0);
}

void CString::SetAt(int index, WCHAR ch) {
  if (index >= 0 && index < GetLength()) m_s[static_cast<size_t>(index)] = ch;
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  first = std::max(first, 0);
  count = std::max(count, 0);
  if (first >= GetLength()) return CString();
  count = std::min(count, GetLength() - first);
  return CString(m_s.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Left(int count) const { return Mid(0, count); }

CString CString::Right(int count) const {
  count = std::clamp(count, 0, GetLength());
  return Mid(GetLength() - count, count);
}

CString CString::SpanIncluding(LPCWSTR set) const {
  size_t n = m_s.find_first_not_of(View(set));
  return CString(std::u16string_view(m_s).substr(0, n));
}

CString CString::SpanExcluding(LPCWSTR set) const {
  size_t n = m_s.find_first_of(View(set));
  return CString(std::u16string_view(m_s).substr(0, n));
}

CString CString::Tokenize(LPCWSTR delimiters, int& pos) const {
  std::u16string_view delims = View(delimiters);
  if (pos >= 0 && pos < GetLength()) {
    size_t start = m_s.find_first_not_of(delims, static_cast<size_t>(pos));
    if (start != std::u16string::npos) {
      size_t end = m_s.find_first_of(delims, start);
      if (end == std::u16string::npos) end = m_s.size();
      pos = static_cast<int>(std::min(end + 1, m_s.size()));
      return CString(std::u16string_view(m_s).substr(start, end - start));
    }
  }
  pos = -1;
  return CString();
}

int CString::Find(WCHAR ch, int start) const {
  if (start < 0 || start >= GetLength()) return -1;
  size_t i = m_s.find(ch, static_cast<size_t>(start));
  return i == std::u16string::npos ? -1 : static_cast<int>(i);
}

int CString::Find(LPCWSTR sub, int start) const {
  if (!sub || start < 0 || start > GetLength()) return -1;
  size_t i = m_s.find(View(sub), static_cast<size_t>(start));
  return i == std::u16string::npos ? -1 : static_cast<int>(i);
}

int CString::ReverseFind(WCHAR ch) const {
  size_t i = m_s.rfind(ch);
  return i == std::u16string::npos ? -1 : static_cast<int>(i);
}

int CString::FindOneOf(LPCWSTR set) const {
  if (!set || !*set) return -1;
  size_t i = m_s.find_first_of(View(set));
  return i == std::u16string::npos ? -1 : static_cast<int>(i);
}

CString& CString::MakeUpper() {
  for (auto& c : m_s) c = ce::UpperChar(c);
  return *this;
}

CString& CString::MakeLower() {
  for (auto& c : m_s) c = ce::LowerChar(c);
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(m_s.begin(), m_s.end());
  return *this;
}

namespace {

template <typename Pred>
void TrimL(std::u16string& s, Pred p) {
  size_t i = 0;
  while (i < s.size() && p(s[i])) ++i;
  s.erase(0, i);
}

template <typename Pred>
void TrimR(std::u16string& s, Pred p) {
  size_t n = s.size();
  while (n > 0 && p(s[n - 1])) --n;
  s.resize(n);
}

}  // namespace

CString& CString::TrimLeft() {
  TrimL(m_s, IsWhite);
  return *this;
}

CString& CString::TrimLeft(WCHAR ch) {
  TrimL(m_s, [ch](WCHAR c) { return c == ch; });
  return *this;
}

CString& CString::TrimLeft(LPCWSTR set) {
  std::u16string_view v = View(set);
  TrimL(m_s, [v](WCHAR c) { return InSet(c, v); });
  return *this;
}

CString& CString::TrimRight() {
  TrimR(m_s, IsWhite);
  return *this;
}

CString& CString::TrimRight(WCHAR ch) {
  TrimR(m_s, [ch](WCHAR c) { return c == ch; });
  return *this;
}

CString& CString::TrimRight(LPCWSTR set) {
  std::u16string_view v = View(set);
  TrimR(m_s, [v](WCHAR c) { return InSet(c, v); });
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(WCHAR ch) { return TrimRight(ch).TrimLeft(ch); }
CString& CString::Trim(LPCWSTR set) { return TrimRight(set).TrimLeft(set); }

int CString::Replace(WCHAR oldCh, WCHAR newCh) {
  int n = 0;
  for (auto& c : m_s) {
    if (c == oldCh) {
      c = newCh;
      ++n;
    }
  }
  return n;
}

int CString::Replace(LPCWSTR oldText, LPCWSTR newText) {
  const std::u16string from(View(oldText)), to(View(newText));  // copies: either may point into m_s
  if (from.empty()) return 0;
  std::u16string out;
  int n = 0;
  size_t pos = 0;
  for (size_t hit; (hit = m_s.find(from, pos)) != std::u16string::npos; pos = hit + from.size(), ++n) {
    out.append(m_s, pos, hit - pos);
    out += to;
  }
  if (n) {
    out.append(m_s, pos, std::u16string::npos);
    m_s.swap(out);
  }
  return n;
}

int CString::Remove(WCHAR ch) {
  size_t before = m_s.size();
  std::erase(m_s, ch);
  return static_cast<int>(before - m_s.size());
}

int CString::Insert(int index, WCHAR ch) {
  index = std::clamp(index, 0, GetLength());
  m_s.insert(static_cast<size_t>(index), 1, ch);
  return GetLength();
}

int CString::Insert(int index, LPCWSTR text) {
  index = std::clamp(index, 0, GetLength());
  m_s.insert(static_cast<size_t>(index), std::u16string(View(text)));
  return GetLength();
}

int CString::Delete(int index, int count) {
  index = std::max(index, 0);
  if (count > 0 && index < GetLength()) {
    m_s.erase(static_cast<size_t>(index), static_cast<size_t>(std::min(count, GetLength() - index)));
  }
  return GetLength();
}

void CString::FormatV(LPCWSTR fmt, va_list args) { ce::FormatV(m_s, fmt, args); }

void CString::FormatArgs(LPCWSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  FormatV(fmt, ap);
  va_end(ap);
}

void CString::AppendFormatV(LPCWSTR fmt, va_list args) {
  std::u16string more;
  ce::FormatV(more, fmt, args);
  m_s += more;
}

void CString::AppendFormatArgs(LPCWSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  AppendFormatV(fmt, ap);
  va_end(ap);
}

namespace {

// One insert argument of a message format, read by the type its spec
// names.
struct InsertArg {
  enum Kind { Ptr, Int, LongLong, Double } kind = Ptr;
  std::u16string spec = u"s";
  const void* p = nullptr;
  int i = 0;
  long long ll = 0;
  double d = 0;
};

InsertArg::Kind KindOf(std::u16string_view spec) {
  WCHAR conv = spec.empty() ? u's' : spec.back();
  switch (conv) {
    case u'd': case u'i': case u'u': case u'x': case u'X': case u'o': case u'c': case u'C':
      return (spec.find(u"ll") != spec.npos || spec.find(u"I64") != spec.npos) ? InsertArg::LongLong
                                                                                : InsertArg::Int;
    case u'e': case u'E': case u'f': case u'F': case u'g': case u'G': case u'a': case u'A':
      return InsertArg::Double;
    default:
      return InsertArg::Ptr;
  }
}

bool IsDigit(WCHAR c) { return c >= u'0' && c <= u'9'; }

// Reads an insert reference at p (just after '%', at a digit 1-9): its
// index, and spec when written as !spec!. Advances p.
int ParseInsert(const WCHAR*& p, std::u16string* spec) {
  int index = *p++ - u'0';
  if (IsDigit(*p)) index = index * 10 + (*p++ - u'0');
  if (*p == u'!') {
    const WCHAR* end = wcschr(p + 1, u'!');
    if (end) {
      if (spec) spec->assign(p + 1, static_cast<size_t>(end - p - 1));
      p = end + 1;
    }
  }
  return index;
}

}  // namespace

void CString::FormatMessageV(LPCWSTR fmt, va_list args) {
  if (!fmt) {
    m_s.clear();
    return;
  }
  // First pass: which arguments exist and how each is read.
  std::vector<InsertArg> inserts;
  for (const WCHAR* p = fmt; *p;) {
    if (*p++ != u'%') continue;
    if (*p >= u'1' && *p <= u'9') {
      std::u16string spec;
      int index = ParseInsert(p, &spec);
      if (inserts.size() < static_cast<size_t>(index)) inserts.resize(static_cast<size_t>(index));
      InsertArg& a = inserts[static_cast<size_t>(index - 1)];
      if (!spec.empty() && spec.find(u'*') == spec.npos) {
        a.spec = spec;
        a.kind = KindOf(spec);
      }
    } else if (*p) {
      ++p;
    }
  }
  va_list ap;
  va_copy(ap, args);
  for (InsertArg& a : inserts) {
    switch (a.kind) {
      case InsertArg::Ptr: a.p = va_arg(ap, const void*); break;
      case InsertArg::Int: a.i = va_arg(ap, int); break;
      case InsertArg::LongLong: a.ll = va_arg(ap, long long); break;
      case InsertArg::Double: a.d = va_arg(ap, double); break;
    }
  }
  va_end(ap);
  // Second pass: the text.
  std::u16string out;
  for (const WCHAR* p = fmt; *p;) {
    if (*p != u'%') {
      out += *p++;
      continue;
    }
    ++p;
    if (*p >= u'1' && *p <= u'9') {
      const InsertArg& a = inserts[static_cast<size_t>(ParseInsert(p, nullptr) - 1)];
      std::u16string f = u"%" + a.spec;
      switch (a.kind) {
        case InsertArg::Ptr: out += ce::Format(f.c_str(), a.p); break;
        case InsertArg::Int: out += ce::Format(f.c_str(), a.i); break;
        case InsertArg::LongLong: out += ce::Format(f.c_str(), a.ll); break;
        case InsertArg::Double: out += ce::Format(f.c_str(), a.d); break;
      }
      continue;
    }
    WCHAR c = *p;
    if (c == u'0') break;
    if (!c) {
      out += u'%';
      break;
    }
    ++p;
    switch (c) {
      case u'n': out += u"\r\n"; break;
      case u'r': out += u'\r'; break;
      case u't': out += u'\t'; break;
      case u'%': case u'.': case u'!': case u' ': out += c; break;
      default: out += u'%'; out += c; break;
    }
  }
  m_s.swap(out);
}

void CString::FormatMessageArgs(LPCWSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  FormatMessageV(fmt, ap);
  va_end(ap);
}

int CString::Compare(LPCWSTR other) const {
  std::u16string_view o = View(other);
  int r = std::u16string_view(m_s).compare(o);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CString::CompareNoCase(LPCWSTR other) const {
  int r = _wcsicmp(m_s.c_str(), other ? other : u"");
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

LPWSTR CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) m_s.resize(static_cast<size_t>(minLength));
  return m_s.data();
}

LPWSTR CString::GetBufferSetLength(int length) {
  m_s.resize(static_cast<size_t>(std::max(length, 0)));
  return m_s.data();
}

void CString::ReleaseBuffer(int newLength) {
  size_t n = newLength < 0 ? m_s.find(u'\0') : static_cast<size_t>(newLength);
  if (n < m_s.size()) m_s.resize(n);
}

CString& CString::operator+=(const WCHAR* s) {
  m_s += View(s);
  return *this;
}

void CString::Append(LPCWSTR s, int length) {
  if (s && length > 0) m_s.append(s, static_cast<size_t>(length));
}

CString operator+(const CString& a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const CString& a, const WCHAR* b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const WCHAR* a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const CString& a, WCHAR b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(WCHAR a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
bool operator==(const CString& a, const WCHAR* b) { return a.view() == View(b); }
bool operator==(const WCHAR* a, const CString& b) { return View(a) == b.view(); }
bool operator!=(const CString& a, const CString& b) { return !(a == b); }
bool operator!=(const CString& a, const WCHAR* b) { return !(a == b); }
bool operator!=(const WCHAR* a, const CString& b) { return !(a == b); }
bool operator<(const CString& a, const CString& b) { return a.str() < b.str(); }
bool operator<(const CString& a, const WCHAR* b) { return a.view() < View(b); }
bool operator<(const WCHAR* a, const CString& b) { return View(a) < b.view(); }
bool operator>(const CString& a, const CString& b) { return b < a; }
bool operator<=(const CString& a, const CString& b) { return !(b < a); }
bool operator>=(const CString& a, const CString& b) { return !(a < b); }
