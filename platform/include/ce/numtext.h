// Whole-text integer parsing shared by the template, screen and resource readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ce {

// Decimal or "0x"/"0X" hex text and nothing else; a leading '-' (decimal only)
// when allowMinus. At most maxDigits digits after any prefix or sign. True, with
// *out set, when the value lies in [min, max].
inline bool ParseInteger(std::string_view s, int64_t min, int64_t max, int64_t* out, bool allowMinus = true,
                         size_t maxDigits = 10) {
  bool negative = false;
  uint64_t base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  } else if (allowMinus && !s.empty() && s[0] == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > maxDigits) return false;
  uint64_t v = 0;
  for (const char c : s) {
    uint64_t d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  if (v > static_cast<uint64_t>(INT64_MAX)) return false;
  const int64_t sv = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  if (sv < min || sv > max) return false;
  *out = sv;
  return true;
}

}  // namespace ce
