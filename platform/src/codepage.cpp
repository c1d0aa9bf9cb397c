#include "ce/codepage.h"

#include <cstdint>
#include <cstring>

#include "ce/errors.h"

namespace {

// Windows-1252 bytes 0x80-0x9F. The five bytes the code page leaves
// undefined map to the code points of the same value.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t AnsiToWide(unsigned char b) { return (b >= 0x80 && b < 0xA0) ? kHigh[b - 0x80] : b; }

// Returns -1 when c has no byte in the code page.
int WideToAnsi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == c) return 0x80 + i;
  }
  return -1;
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Strict UTF-8: overlong forms, encoded surrogates and values above
// U+10FFFF are invalid; each maximal invalid piece becomes one U+FFFD.
std::u16string DecodeUtf8(std::string_view s, bool& invalid) {
  std::u16string out;
  out.reserve(s.size());
  invalid = false;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    int extra;
    uint32_t c;
    uint32_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) extra = 1, c = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, c = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, c = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      invalid = true;
      out += u'\uFFFD';
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= static_cast<size_t>(extra) && i + k < s.size(); ++k) {
      unsigned char n = static_cast<unsigned char>(s[i + k]);
      if (n < (k == 1 ? lo : 0x80) || n > (k == 1 ? hi : 0xBF)) break;
      c = (c << 6) | (n & 0x3F);
    }
    if (k <= static_cast<size_t>(extra)) {
      invalid = true;
      out += u'\uFFFD';
      i += k;
      continue;
    }
    i += k;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string EncodeUtf8(std::u16string_view s, bool& invalid) {
  std::string out;
  out.reserve(s.size());
  invalid = false;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (IsHigh(s[i]) && i + 1 < s.size() && IsLow(s[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (IsHigh(s[i]) || IsLow(s[i])) {
      invalid = true;
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string EncodeAnsi(std::u16string_view s, char defaultChar, bool& usedDefault) {
  std::string out;
  out.reserve(s.size());
  usedDefault = false;
  for (size_t i = 0; i < s.size(); ++i) {
    int b = WideToAnsi(s[i]);
    if (b < 0) {
      usedDefault = true;
      out += defaultChar;
      if (IsHigh(s[i]) && i + 1 < s.size() && IsLow(s[i + 1])) ++i;  // one character, one default
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

enum class Cp { Ansi, Utf8, Unknown };

Cp Resolve(UINT cp) {
  switch (cp) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
    case 1252: return Cp::Ansi;
    case CP_UTF8: return Cp::Utf8;
    default: return Cp::Unknown;
  }
}

template <typename Out>
int Deliver(const Out& result, typename Out::value_type* dst, int capacity) {
  if (result.size() > static_cast<size_t>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int n = static_cast<int>(result.size());
  if (capacity == 0) return n;
  if (n > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, result.data(), result.size() * sizeof(typename Out::value_type));
  return n;
}

}  // namespace

UINT GetACP() { return 1252; }
UINT GetOEMCP() { return 1252; }

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR src, int cb, LPWSTR dst, int cch) {
  Cp cp = Resolve(CodePage);
  if (!src || cb == 0 || cb < -1 || cch < 0 || (cch > 0 && !dst) || cp == Cp::Unknown) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD allowed = cp == Cp::Utf8 ? MB_ERR_INVALID_CHARS
                                 : MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
  if (dwFlags & ~allowed) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  std::string_view in(src, cb == -1 ? std::strlen(src) + 1 : static_cast<size_t>(cb));
  std::u16string out;
  if (cp == Cp::Utf8) {
    bool invalid;
    out = DecodeUtf8(in, invalid);
    if (invalid && (dwFlags & MB_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    out = ce::FromAnsi(in);
  }
  return Deliver(out, dst, cch);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR src, int cch, LPSTR dst, int cb, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar) {
  Cp cp = Resolve(CodePage);
  if (!src || cch == 0 || cch < -1 || cb < 0 || (cb > 0 && !dst) || cp == Cp::Unknown ||
      (cp == Cp::Utf8 && (lpDefaultChar || lpUsedDefaultChar))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwFlags & ~(cp == Cp::Utf8 ? WC_ERR_INVALID_CHARS
                                 : WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                                       WC_NO_BEST_FIT_CHARS)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t len = 0;
  if (cch == -1) {
    while (src[len]) ++len;
    ++len;
  } else {
    len = static_cast<size_t>(cch);
  }
  std::u16string_view in(src, len);
  std::string out;
  if (cp == Cp::Utf8) {
    bool invalid;
    out = EncodeUtf8(in, invalid);
    if (invalid && (dwFlags & WC_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    bool used;
    out = EncodeAnsi(in, lpDefaultChar ? *lpDefaultChar : '?', used);
    if (lpUsedDefaultChar) *lpUsedDefaultChar = used ? TRUE : FALSE;
  }
  return Deliver(out, dst, cb);
}

namespace ce {

std::string ToAnsi(std::u16string_view s) {
  bool used;
  return EncodeAnsi(s, '?', used);
}

std::u16string FromAnsi(std::string_view s) {
  std::u16string out(s.size(), u'\0');
  for (size_t i = 0; i < s.size(); ++i) out[i] = AnsiToWide(static_cast<unsigned char>(s[i]));
  return out;
}

}  // namespace ce
