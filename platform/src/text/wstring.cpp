#include "ce/wstring.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ce/text.h"

size_t wcslen(const WCHAR* s) {
  const WCHAR* p = s;
  while (*p) ++p;
  return static_cast<size_t>(p - s);
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
  WCHAR* d = dst;
  while ((*d++ = *src++) != 0) {
  }
  return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i]; ++i) dst[i] = src[i];
  for (; i < n; ++i) dst[i] = 0;
  return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t n) {
  WCHAR* d = dst + wcslen(dst);
  size_t i = 0;
  for (; i < n && src[i]; ++i) d[i] = src[i];
  d[i] = 0;
  return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) ++a, ++b;
  return static_cast<int>(*a) - static_cast<int>(*b);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i] || !a[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  }
  return 0;
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int ca = ce::LowerChar(a[i]);
    int cb = ce::LowerChar(b[i]);
    if (ca != cb || !ca) return ca - cb;
  }
  return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, SIZE_MAX); }

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
  for (;; ++s) {
    if (*s == c) return s;
    if (!*s) return nullptr;
  }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
  const WCHAR* found = nullptr;
  for (;; ++s) {
    if (*s == c) found = s;
    if (!*s) return found;
  }
}

WCHAR* wcsrchr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsstr(const WCHAR* s, const WCHAR* needle) {
  size_t n = wcslen(needle);
  if (n == 0) return s;
  for (; *s; ++s) {
    if (*s == *needle && wcsncmp(s, needle, n) == 0) return s;
  }
  return nullptr;
}

WCHAR* wcsstr(WCHAR* s, const WCHAR* needle) {
  return const_cast<WCHAR*>(wcsstr(static_cast<const WCHAR*>(s), needle));
}

WCHAR* _wcsupr(WCHAR* s) {
  for (WCHAR* p = s; *p; ++p) *p = ce::UpperChar(*p);
  return s;
}

WCHAR* _wcslwr(WCHAR* s) {
  for (WCHAR* p = s; *p; ++p) *p = ce::LowerChar(*p);
  return s;
}

WCHAR towupper(WCHAR c) { return ce::UpperChar(c); }
WCHAR towlower(WCHAR c) { return ce::LowerChar(c); }

namespace {

bool IsSpace(WCHAR c) { return c == u' ' || (c >= 0x09 && c <= 0x0D); }

int DigitValue(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

// Parses an integer in the C manner. magnitude saturates at limit; the
// return value is false when no digits were found (then *end = s).
bool ParseInteger(const WCHAR* s, WCHAR** end, int base, uint64_t limit, bool& negative, uint64_t& magnitude,
                  bool& overflow) {
  negative = false;
  overflow = false;
  magnitude = 0;
  const WCHAR* p = s;
  if (end) *end = const_cast<WCHAR*>(s);
  if (!s || base < 0 || base == 1 || base > 36) return false;
  while (IsSpace(*p)) ++p;
  if (*p == u'+' || *p == u'-') negative = (*p++ == u'-');
  if ((base == 0 || base == 16) && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X') && DigitValue(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = (p[0] == u'0') ? 8 : 10;
  }
  const WCHAR* digits = p;
  for (int d; (d = DigitValue(*p)) < base; ++p) {
    if (magnitude > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
      overflow = true;
      magnitude = limit;
    } else if (!overflow) {
      magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
  }
  if (p == digits) return false;
  if (end) *end = const_cast<WCHAR*>(p);
  return true;
}

int64_t SignedParse(const WCHAR* s, WCHAR** end, int base, int64_t max) {
  bool neg, overflow;
  uint64_t mag;
  // A negative value may reach one further than the positive maximum.
  if (!ParseInteger(s, end, base, static_cast<uint64_t>(max) + 1, neg, mag, overflow)) return 0;
  if (neg) return mag > static_cast<uint64_t>(max) ? -max - 1 : -static_cast<int64_t>(mag);
  return mag > static_cast<uint64_t>(max) ? max : static_cast<int64_t>(mag);
}

}  // namespace

ULONG wcstoul(const WCHAR* s, WCHAR** end, int base) {
  bool neg, overflow;
  uint64_t mag;
  if (!ParseInteger(s, end, base, 0xFFFFFFFFu, neg, mag, overflow)) return 0;
  if (overflow) return 0xFFFFFFFFu;
  return neg ? static_cast<ULONG>(0u - static_cast<uint32_t>(mag)) : static_cast<ULONG>(mag);
}

LONG wcstol(const WCHAR* s, WCHAR** end, int base) {
  return static_cast<LONG>(SignedParse(s, end, base, INT32_MAX));
}

int _wtoi(const WCHAR* s) { return static_cast<int>(SignedParse(s, nullptr, 10, INT32_MAX)); }
LONG _wtol(const WCHAR* s) { return static_cast<LONG>(SignedParse(s, nullptr, 10, INT32_MAX)); }
LONGLONG _wtoi64(const WCHAR* s) { return SignedParse(s, nullptr, 10, INT64_MAX); }

int lstrlenW(LPCWSTR s) { return s ? static_cast<int>(wcslen(s)) : 0; }

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
  if (!dst || !src) return nullptr;
  return wcscpy(dst, src);
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max) {
  if (!dst) return nullptr;
  if (max <= 0) return dst;
  int i = 0;
  if (src) {
    for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
  }
  dst[i] = 0;
  return dst;
}

LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src) {
  if (!dst || !src) return nullptr;
  return wcscat(dst, src);
}

static int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  return Sign(wcscmp(a, b));
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  return Sign(_wcsicmp(a, b));
}

// ---- formatted output into caller buffers -------------------------------

int wvsprintfW(LPWSTR buf, LPCWSTR fmt, va_list args) {
  constexpr size_t kLimit = 1024;
  if (!buf) return 0;
  std::u16string out;
  ce::FormatV(out, fmt, args);
  size_t n = std::min(out.size(), kLimit - 1);
  std::copy_n(out.data(), n, buf);
  buf[n] = 0;
  return static_cast<int>(n);
}

int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = wvsprintfW(buf, fmt, ap);
  va_end(ap);
  return r;
}

int _vsnwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, va_list args) {
  std::u16string out;
  if (ce::FormatV(out, fmt, args) < 0 || (!buf && count)) return -1;
  size_t n = std::min(out.size(), count);
  std::copy_n(out.data(), n, buf);
  if (out.size() < count) buf[n] = 0;
  return out.size() <= count ? static_cast<int>(out.size()) : -1;
}

int _snwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = _vsnwprintf(buf, count, fmt, ap);
  va_end(ap);
  return r;
}

int vswprintf(WCHAR* buf, size_t n, const WCHAR* fmt, va_list args) {
  std::u16string out;
  if (ce::FormatV(out, fmt, args) < 0 || !buf || n == 0) {
    if (buf && n) buf[0] = 0;
    return -1;
  }
  size_t len = std::min(out.size(), n - 1);
  std::copy_n(out.data(), len, buf);
  buf[len] = 0;
  return out.size() < n ? static_cast<int>(out.size()) : -1;
}

int swprintf(WCHAR* buf, size_t n, const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = vswprintf(buf, n, fmt, ap);
  va_end(ap);
  return r;
}
