// CString: the class library's wide string, over std::u16string.
// Positions and counts are ints as in the class library; out-of-range
// arguments are clamped (Mid, Left, Right, Insert, Delete) or ignored
// (SetAt), never undefined. Format uses the device printf rules of
// <ce/wstring.h> (%s takes a wide string).
#pragma once

#include <concepts>
#include <cstdarg>
#include <string>
#include <string_view>
#include <type_traits>

#include "ce/types.h"
#include "ce/wstring.h"

class CString {
 public:
  CString() = default;
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  // A null pointer gives an empty string; a resource id made with
  // MAKEINTRESOURCE loads that string (LoadString).
  CString(const WCHAR* s);  // NOLINT(runtime/explicit): implicit as in the class library
  CString(const WCHAR* s, int length);
  explicit CString(WCHAR ch, int repeat = 1);
  CString(std::u16string_view s);  // NOLINT(runtime/explicit)
  CString(const std::u16string& s);  // NOLINT(runtime/explicit)
  // Narrow text in the ANSI code page (Windows-1252).
  explicit CString(const char* s);
  ~CString() = default;

  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const WCHAR* s);
  CString& operator=(WCHAR ch);
  CString& operator=(std::u16string_view s);
  CString& operator=(const std::u16string& s) { return *this = std::u16string_view(s); }

  // Access.
  int GetLength() const { return static_cast<int>(m_s.size()); }
  bool IsEmpty() const { return m_s.empty(); }
  void Empty() { m_s.clear(); }
  // 0 when index is out of range.
  WCHAR GetAt(int index) const;
  // Any integer type indexes (an exact match, so never ambiguous with the
  // pointer conversion).
  template <std::integral I>
  WCHAR operator[](I index) const {
    if constexpr (std::is_signed_v<I>) {
      if (index < 0) return 0;
    }
    return static_cast<unsigned long long>(index) < m_s.size() ? m_s[static_cast<size_t>(index)] : WCHAR(0);
  }
  // Ignored when index is out of range.
  void SetAt(int index, WCHAR ch);
  operator LPCWSTR() const { return m_s.c_str(); }
  LPCWSTR GetString() const { return m_s.c_str(); }
  const std::u16string& str() const { return m_s; }
  std::u16string_view view() const { return m_s; }

  // Extraction (clamped to the string).
  CString Left(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Right(int count) const;
  CString SpanIncluding(LPCWSTR set) const;
  CString SpanExcluding(LPCWSTR set) const;
  // Next token after pos, skipping leading delimiters; pos becomes -1 and
  // the result empty when no token remains.
  CString Tokenize(LPCWSTR delimiters, int& pos) const;

  // Searching: position or -1.
  int Find(WCHAR ch, int start = 0) const;
  int Find(LPCWSTR sub, int start = 0) const;
  int ReverseFind(WCHAR ch) const;
  int FindOneOf(LPCWSTR set) const;

  // Changes in place.
  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  // White space is space and \t \n \v \f \r.
  CString& TrimLeft();
  CString& TrimLeft(WCHAR ch);
  CString& TrimLeft(LPCWSTR set);
  CString& TrimRight();
  CString& TrimRight(WCHAR ch);
  CString& TrimRight(LPCWSTR set);
  CString& Trim();
  CString& Trim(WCHAR ch);
  CString& Trim(LPCWSTR set);
  // Return the number of replacements / removals; an empty old text
  // replaces nothing.
  int Replace(WCHAR oldCh, WCHAR newCh);
  int Replace(LPCWSTR oldText, LPCWSTR newText);
  int Remove(WCHAR ch);
  // Return the new length.
  int Insert(int index, WCHAR ch);
  int Insert(int index, LPCWSTR text);
  int Delete(int index, int count = 1);

  // Formatting with the device printf rules; the previous contents are
  // replaced (Append* adds). A CString argument may be passed as it is.
  template <typename... Args>
  void Format(LPCWSTR fmt, const Args&... args) {
    FormatArgs(fmt, ce::detail::VarArg(args)...);
  }
  void FormatV(LPCWSTR fmt, va_list args);
  template <typename... Args>
  void AppendFormat(LPCWSTR fmt, const Args&... args) {
    AppendFormatArgs(fmt, ce::detail::VarArg(args)...);
  }
  void AppendFormatV(LPCWSTR fmt, va_list args);
  // Message-format inserts: %1..%99 take the arguments in order (strings
  // unless written %n!printf-spec!, e.g. %1!d!); %% gives %, %n (not
  // followed by a digit) gives a line break, %r a CR, %t a tab, %0 ends
  // the text, %. and %! and "% " the character itself.
  template <typename... Args>
  void FormatMessage(LPCWSTR fmt, const Args&... args) {
    FormatMessageArgs(fmt, ce::detail::VarArg(args)...);
  }
  void FormatMessageV(LPCWSTR fmt, va_list args);

  // Loads string resource id of the running program; FALSE (and the
  // string unchanged) when there is none.
  BOOL LoadString(UINT id);

  // Comparison: ordinal; NoCase by the device's lower-case mapping.
  int Compare(LPCWSTR other) const;
  int CompareNoCase(LPCWSTR other) const;
  int Collate(LPCWSTR other) const { return Compare(other); }
  int CollateNoCase(LPCWSTR other) const { return CompareNoCase(other); }

  // Direct buffer access. GetBuffer(n) gives a writable buffer of at least
  // n characters plus a terminator, holding the current text; after
  // writing, ReleaseBuffer(len) sets the length (-1: up to the first NUL
  // within the buffer). The pointer is valid until the next change.
  LPWSTR GetBuffer(int minLength = 0);
  LPWSTR GetBufferSetLength(int length);
  void ReleaseBuffer(int newLength = -1);
  void FreeExtra() { m_s.shrink_to_fit(); }
  void Preallocate(int length) {
    if (length > 0) m_s.reserve(static_cast<size_t>(length));
  }

  // Appending.
  CString& operator+=(const CString& s) {
    m_s += s.m_s;
    return *this;
  }
  CString& operator+=(const WCHAR* s);
  CString& operator+=(WCHAR ch) {
    m_s += ch;
    return *this;
  }
  CString& operator+=(std::u16string_view s) {
    m_s += s;
    return *this;
  }
  CString& operator+=(const std::u16string& s) {
    m_s += s;
    return *this;
  }
  void Append(LPCWSTR s) { *this += s; }
  void Append(LPCWSTR s, int length);
  void AppendChar(WCHAR ch) { m_s += ch; }

 private:
  void FormatArgs(LPCWSTR fmt, ...);
  void AppendFormatArgs(LPCWSTR fmt, ...);
  void FormatMessageArgs(LPCWSTR fmt, ...);

  std::u16string m_s;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const WCHAR* b);
CString operator+(const WCHAR* a, const CString& b);
CString operator+(const CString& a, WCHAR b);
CString operator+(WCHAR a, const CString& b);

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, const WCHAR* b);
bool operator==(const WCHAR* a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, const WCHAR* b);
bool operator!=(const WCHAR* a, const CString& b);
bool operator<(const CString& a, const CString& b);
bool operator<(const CString& a, const WCHAR* b);
bool operator<(const WCHAR* a, const CString& b);
bool operator>(const CString& a, const CString& b);
bool operator<=(const CString& a, const CString& b);
bool operator>=(const CString& a, const CString& b);
