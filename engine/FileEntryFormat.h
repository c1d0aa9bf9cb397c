// Stored form of FILE_ENTRY and DIRECTORY_ENTRY bodies (and of every entry
// other components store with this body: mail folders, registry hives,
// database volume files). Data only; the cipher runs are listed in
// image/ImageFormat.h.
//
//   header   80 bytes: type = the directory type when the attributes carry
//            FILE_ATTRIBUTE_DIRECTORY or the name is empty, else the file
//            type; fixed-part size = name bytes + 560; count 0; name byte
//            length = name bytes (NUL included); crc 0; record id 0.
//   name     full device path, UTF-16LE, NUL-terminated
//   block    FileEntryInfo, 40 bytes (the leading part of the find record)
//   data     FILE entries with a size only: zlib stream when the image is
//            compressed, else the raw bytes; its length ("stored size") is
//            kept in the index item, not in the header.
//
// Entry CRC (kept in the index item): crc32 over the name bytes without the
// NUL, continued over the block; raw data continues it over the data;
// compressed data adds (32-bit wrapping) the crc32 of the uncompressed bytes.
#pragma once

#include "ce/types.h"

struct FileEntryInfo {
  DWORD attributes;
  FILETIME creationTime;
  FILETIME lastAccessTime;
  FILETIME lastWriteTime;
  DWORD fileSizeHigh;
  DWORD fileSizeLow;
  DWORD oid;
};
static_assert(sizeof(FileEntryInfo) == 40);

namespace FileEntryFormat {

inline constexpr DWORD kBlockSize = 40;
inline constexpr DWORD kFindDataSize = 560;     // fixed-part size = name bytes + this
inline constexpr DWORD kHeadExtra = 80 + 40;    // header and block, beside the name bytes
inline constexpr DWORD kEstimateExtra = 122;    // estimate: size + 2 x characters + this
inline constexpr DWORD kRawBlockSize = 131072;  // raw data moves in 128 KB blocks
inline constexpr DWORD kChunkSize = 262144;     // the compressor's 256 KB chunks
inline constexpr DWORD kMaxNameBytes = 2 * (MAX_PATH + 1);

// ROM attribute bits: INROM | ROMMODULE.
inline constexpr DWORD kRomAttributes = 0x2040;
// The boot-time copy of a file in use: its path + this suffix.
inline constexpr char16_t kBootCopySuffix[] = u"c";
// Attributes of a boot-time copy made for a backup (hidden).
inline constexpr DWORD kBootCopyAttributes = 2;

}  // namespace FileEntryFormat
