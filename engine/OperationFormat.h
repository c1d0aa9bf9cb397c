// Stored form of the operation descriptor: a 2366-byte little-endian block
// kept inside the persisted operation state (which places it at offset 52).
// Texts are UTF-16 with a terminating NUL inside their field; a longer text
// is cut to fit.
#pragma once

#include <cstddef>

namespace opfmt {

inline constexpr size_t kStartModeOffset = 0;        // i32
inline constexpr size_t kKindOffset = 4;             // i32
inline constexpr size_t kHostModeOffset = 8;         // i32
inline constexpr size_t kIncludeRegistryOffset = 12; // u8
inline constexpr size_t kIncludeDatabasesOffset = 13;
inline constexpr size_t kIncludeFileSystemOffset = 14;
inline constexpr size_t kIncludeMailOffset = 15;
inline constexpr size_t kMetadataValueOffset = 16;   // u16, then 2 padding
inline constexpr size_t kImageIdOffset = 20;         // i32
inline constexpr size_t kHostNameOffset = 24;        // 128 characters
inline constexpr size_t kHostPortOffset = 280;       // u32
inline constexpr size_t kAnnotationOffset = 284;     // 256 characters
inline constexpr size_t kFolderOffset = 796;         // 260 characters
inline constexpr size_t kFileNameOffset = 1316;      // 260: name with extension
inline constexpr size_t kBaseNameOffset = 1836;      // 260: the path's base name
inline constexpr size_t kExtensionOffset = 2356;     // 4 characters, no dot
inline constexpr size_t kUpgradeModeOffset = 2364;   // u8
inline constexpr size_t kTurnOffOffset = 2365;       // u8
inline constexpr size_t kStoredSize = 2366;

inline constexpr size_t kHostNameChars = 128;
inline constexpr size_t kAnnotationChars = 256;
inline constexpr size_t kPathTextChars = 260;
inline constexpr size_t kExtensionChars = 4;

}  // namespace opfmt
