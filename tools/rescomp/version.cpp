#include "version.h"

#include <cstdio>
#include <string_view>

#include "ce/bytes.h"

namespace rescomp {

const char* const kStandardKeys[8] = {"CompanyName",      "FileDescription", "FileVersion",
                                      "InternalName",     "OriginalFilename", "ProductName",
                                      "ProductVersion",   "LegalCopyright"};

namespace {

using ce::le::Put16;
using ce::le::Put32;

void Pad(std::string* b) { ce::le::Align4(b); }

// One block: header, key, padding, value, then each child 4-aligned.
// wLength covers everything but trailing padding.
bool Block(std::u16string_view key, uint16_t valueLength, uint16_t type, const std::string& value,
           const std::vector<std::string>& children, std::string* out, std::string* error) {
  std::string b;
  Put16(&b, 0);
  Put16(&b, valueLength);
  Put16(&b, type);
  for (char16_t c : key) Put16(&b, c);
  Put16(&b, 0);
  Pad(&b);
  b += value;
  for (const auto& child : children) {
    Pad(&b);
    b += child;
  }
  if (b.size() > 0xFFFF) {
    *error = "version resource exceeds 65535 bytes";
    return false;
  }
  b[0] = static_cast<char>(b.size() & 0xFF);
  b[1] = static_cast<char>(b.size() >> 8);
  *out = std::move(b);
  return true;
}

uint32_t Ms(const uint16_t v[4]) { return static_cast<uint32_t>(v[0]) << 16 | v[1]; }
uint32_t Ls(const uint16_t v[4]) { return static_cast<uint32_t>(v[2]) << 16 | v[3]; }

}  // namespace

bool BuildVersionBlob(const VersionSpec& spec, std::string* out, std::string* error) {
  std::vector<std::string> strings;
  for (const auto& [key, value] : spec.strings) {
    std::string v;
    for (char16_t c : value) Put16(&v, c);
    if (!value.empty()) Put16(&v, 0);
    const size_t words = value.empty() ? 0 : value.size() + 1;
    if (words > 0x7FFF) {
      *error = "version string too long";
      return false;
    }
    std::string s;
    if (!Block(key, static_cast<uint16_t>(words), 1, v, {}, &s, error)) return false;
    strings.push_back(std::move(s));
  }
  char tableKey[9];
  std::snprintf(tableKey, sizeof tableKey, "%04X%04X", spec.language, spec.codePage);
  std::u16string tableKey16(tableKey, tableKey + 8);
  std::string table, stringInfo, var, varInfo;
  if (!Block(tableKey16, 0, 1, {}, strings, &table, error)) return false;
  if (!Block(u"StringFileInfo", 0, 1, {}, {table}, &stringInfo, error)) return false;
  std::string translation;
  Put16(&translation, spec.language);
  Put16(&translation, spec.codePage);
  if (!Block(u"Translation", 4, 0, translation, {}, &var, error)) return false;
  if (!Block(u"VarFileInfo", 0, 1, {}, {var}, &varInfo, error)) return false;

  std::string fixed;
  Put32(&fixed, kFixedSignature);
  Put32(&fixed, 0x00010000);  // structure version 1.0
  Put32(&fixed, Ms(spec.fileVersion));
  Put32(&fixed, Ls(spec.fileVersion));
  Put32(&fixed, Ms(spec.productVersion));
  Put32(&fixed, Ls(spec.productVersion));
  Put32(&fixed, 0x3F);        // file flags mask
  Put32(&fixed, 0);           // file flags
  Put32(&fixed, 0x00040004);  // VOS_NT_WINDOWS32
  Put32(&fixed, spec.fileType);
  Put32(&fixed, 0);  // subtype
  Put32(&fixed, 0);  // date, most significant
  Put32(&fixed, 0);  // date, least significant
  return Block(u"VS_VERSION_INFO", static_cast<uint16_t>(fixed.size()), 0, fixed,
               {stringInfo, varInfo}, out, error);
}

bool ParseVersionNumbers(const std::string& text, uint16_t out[4]) {
  uint16_t v[4] = {};
  size_t part = 0, i = 0;
  const size_t n = text.size();
  while (true) {
    while (i < n && text[i] == ' ') ++i;
    uint32_t x = 0;
    size_t digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
      x = x * 10 + static_cast<uint32_t>(text[i++] - '0');
      if (++digits > 5 || x > 0xFFFF) return false;
    }
    if (digits == 0) return false;
    v[part++] = static_cast<uint16_t>(x);
    while (i < n && text[i] == ' ') ++i;
    if (i == n) break;
    if ((text[i] != '.' && text[i] != ',') || part == 4) return false;
    ++i;
  }
  for (int k = 0; k < 4; ++k) out[k] = v[k];
  return true;
}

std::u16string VersionText(const uint16_t v[4]) {
  std::string s = std::to_string(v[0]) + ", " + std::to_string(v[1]) + ", " + std::to_string(v[2]) +
                  ", " + std::to_string(v[3]);
  return std::u16string(s.begin(), s.end());
}

}  // namespace rescomp
