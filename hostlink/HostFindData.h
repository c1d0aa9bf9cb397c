// One directory entry of a host folder listing: the desktop's wide
// find-data record, 592 bytes, little-endian.
//   0 attributes, 4 creation time, 12 last access, 20 last write (FILETIMEs),
//   28 size high, 32 size low, 36 reserved 0, 40 reserved 1,
//   44 name (260 UTF-16 characters, NUL-terminated), 564 short name (14).
#pragma once

#include <string>
#include <string_view>

#include "ce/types.h"

struct HOST_FIND_DATA {
  static constexpr DWORD kStoredSize = 592;
  static constexpr int kNameChars = MAX_PATH;
  static constexpr int kShortNameChars = 14;

  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime{};
  FILETIME ftLastAccessTime{};
  FILETIME ftLastWriteTime{};
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  DWORD dwReserved0 = 0;
  DWORD dwReserved1 = 0;
  WCHAR cFileName[kNameChars] = {};
  WCHAR cAlternateFileName[kShortNameChars] = {};

  // Both names end with a NUL even when the stored
  // ones fill their fields.
  // bytes must hold kStoredSize bytes from at.
  static HOST_FIND_DATA Parse(std::string_view bytes, size_t at);
  // Appends kStoredSize bytes.
  void Store(std::string* bytes) const;
};
