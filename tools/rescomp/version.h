// The binary version resource (VS_VERSIONINFO) as the device lays it out:
//   WORD wLength, WORD wValueLength, WORD wType, "VS_VERSION_INFO" + NUL,
//   padding to 4, the 52-byte fixed file information (signature 0xFEEF04BD)
//   at offset 40, then the children from offset 92: "StringFileInfo" with
//   one string table keyed by language and code page ("040904B0"), and
//   "VarFileInfo" with "Translation". Every block starts 4-aligned.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rescomp {

inline constexpr uint32_t kFixedSignature = 0xFEEF04BD;
inline constexpr uint32_t kFileTypeApp = 1;  // VFT_APP
inline constexpr uint32_t kFileTypeDll = 2;  // VFT_DLL

struct VersionSpec {
  uint16_t fileVersion[4] = {};
  uint16_t productVersion[4] = {};
  uint32_t fileType = kFileTypeApp;
  uint16_t language = 0x0409;
  uint16_t codePage = 1200;  // UTF-16
  // Key/value pairs of the string table, in order.
  std::vector<std::pair<std::u16string, std::u16string>> strings;
};

// The eight names the programs read, in their conventional order.
extern const char* const kStandardKeys[8];

// Builds the blob; false (error set) when it outgrows the 16-bit lengths.
bool BuildVersionBlob(const VersionSpec& spec, std::string* out, std::string* error);

// "1.2.3.4" or "1, 2, 3, 4" (one to four parts, each 0..65535; missing
// parts are 0).
bool ParseVersionNumbers(const std::string& text, uint16_t out[4]);
// "1, 2, 3, 4": the classic text form of a version.
std::u16string VersionText(const uint16_t v[4]);

}  // namespace rescomp
