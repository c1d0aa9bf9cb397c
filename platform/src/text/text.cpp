#include "ce/text.h"

#include <cstdint>

namespace ce {

namespace {
bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

// Strict UTF-8: overlong forms, encoded surrogates and values above
// U+10FFFF are invalid; each maximal invalid piece becomes one U+FFFD.
std::u16string FromUtf8(std::string_view s, bool* hadInvalid) {
  bool invalid = false;
  std::u16string out;
  out.reserve(s.size());
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
  if (hadInvalid) *hadInvalid = invalid;
  return out;
}

std::string ToUtf8(std::u16string_view s, bool* hadInvalid) {
  bool invalid = false;
  std::string out;
  out.reserve(s.size());
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
  if (hadInvalid) *hadInvalid = invalid;
  return out;
}

WCHAR UpperChar(WCHAR c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c;
  if (c == 0xB5) return 0x39C;
  if (c == 0xFF) return 0x178;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<WCHAR>(c - 32);
  // Latin Extended-A: pairs, upper case on the even code point, with the
  // ranges where the pairing is shifted by one.
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : static_cast<WCHAR>(c - 1);
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? static_cast<WCHAR>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<WCHAR>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<WCHAR>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<WCHAR>(c - 80);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<WCHAR>(c - 32);
  return c;
}

WCHAR LowerChar(WCHAR c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c;
  if (c == 0x178) return 0xFF;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<WCHAR>(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? static_cast<WCHAR>(c + 1) : c;
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c : static_cast<WCHAR>(c + 1);
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<WCHAR>(c + 32);
  if (c >= 0x410 && c <= 0x42F) return static_cast<WCHAR>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<WCHAR>(c + 80);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<WCHAR>(c + 32);
  return c;
}

std::u16string DeviceUpper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = UpperChar(c);
  return out;
}

std::u16string DeviceLower(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = LowerChar(c);
  return out;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

size_t StrLen(const WCHAR* s) {
  if (!s) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace ce
