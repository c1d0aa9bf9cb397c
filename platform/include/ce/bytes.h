// Little-endian byte helpers for the device's stored forms: every record
// that reaches a file or the wire is written field by field through these,
// never copied from a native struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ce::le {

inline uint16_t Get16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
inline uint32_t Get32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(Get16(b, at)) | static_cast<uint32_t>(Get16(b, at + 2)) << 16;
}
inline uint64_t Get64(std::string_view b, size_t at) {
  return static_cast<uint64_t>(Get32(b, at)) | static_cast<uint64_t>(Get32(b, at + 4)) << 32;
}
inline void Put16(std::string* b, uint16_t v) {
  b->push_back(static_cast<char>(v & 0xFF));
  b->push_back(static_cast<char>(v >> 8));
}
inline void Put32(std::string* b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v & 0xFFFF));
  Put16(b, static_cast<uint16_t>(v >> 16));
}
inline void Put64(std::string* b, uint64_t v) {
  Put32(b, static_cast<uint32_t>(v));
  Put32(b, static_cast<uint32_t>(v >> 32));
}
inline void Set32(std::string* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
// Pads with zero bytes to a multiple of 4.
inline void Align4(std::string* b) {
  while (b->size() % 4) b->push_back('\0');
}

}  // namespace ce::le
