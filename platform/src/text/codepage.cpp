#include "ce/codepage.h"

#include <cstdint>
#include <cstring>

#include "ce/errors.h"
#include "ce/text.h"

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

std::u16string DecodeUtf8(std::string_view s, bool& invalid) { return ce::FromUtf8(s, &invalid); }
std::string EncodeUtf8(std::u16string_view s, bool& invalid) { return ce::ToUtf8(s, &invalid); }

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
