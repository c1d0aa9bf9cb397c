// Stored form of a backup image: entry header layout, entry-type codes,
// buffer sizes and the cipher runs inside every entry. Data only.
//
// An image is a sequence of entries, each an 80-byte header followed by a
// body, and ends with an END_OF_IMAGE header (always the last 80 bytes).
// All integers are little-endian; text is UTF-16LE.
//
// Cipher runs. The image cipher is a stream cipher that runs on across
// writes until a write with the final flag, after which the next write
// starts again from the key. A reader must read and decipher with exactly
// the run boundaries below (the lengths of the single reads inside a run
// do not matter, only where runs end). "enc" = enciphered when the image
// is, "plain" = never enciphered; "|" ends a run (the final flag).
//
//   METADATA_ENTRY   header plain | block (1528 bytes) plain
//   INDEX_ENTRY      header enc | records enc (no final) ... end byte 0 enc |
//                    (a plain index has no end byte)
//   FILE_ENTRY,      header enc | name enc | 40-byte block enc |
//   DIRECTORY_ENTRY  data enc, one run over the whole stored size, ended by
//   (and every entry its last write | (no data: no run)
//   with this body, whatever its type code: mail, registry hives, volumes)
//   database entry   header enc | body enc, one run over the information
//   (type 30)        block, the volume name and the EDB definitions, ended
//                    by its last write |
//   RECORD_ENTRY     header enc | body enc, one run over every property
//                    record and its text or bytes, ended by its last write |
//                    (layouts: engine/DatabaseEntryFormat.h)
//   END_OF_IMAGE     header plain
//
// Every entry therefore starts with a fresh run; the image file also ends
// any open run when it seeks, so a reader that positions itself on an
// entry always deciphers from the key.
#pragma once

#include "ce/types.h"

namespace ImageFormat {

// The 32 ASCII characters that begin every entry header (no NUL).
inline constexpr char kMarker[] = "POCKETPCIMAGE27743520_9C5B_4280_";
inline constexpr DWORD kMarkerLength = 32;
inline constexpr DWORD kHeaderSize = 80;
inline constexpr DWORD kReservedSize = 24;

// The smallest image: one entry header and the END_OF_IMAGE header.
inline constexpr DWORD kMinimumImageSize = 2 * kHeaderSize;

// Fixed-part sizes that writers put into the header.
inline constexpr DWORD kMetadataBlockSize = 1528;
inline constexpr DWORD kFindDataRecordSize = 560;  // FILE/DIRECTORY: name bytes + 560
inline constexpr DWORD kFileEntryBlockSize = 40;   // stored part of the find data
inline constexpr DWORD kDatabaseInfoSize = 2464;

// Image file buffers.
inline constexpr DWORD kWriteBufferSize = 0x8000;     // 32 KB
inline constexpr DWORD kReadAheadSize = 0x10000;      // 64 KB
// Compressor buffers (input and output, each).
inline constexpr DWORD kCompressorBufferSize = 0x40000;  // 256 KB

}  // namespace ImageFormat

// Entry-type codes, one code space for image entries and content-tree
// nodes (the TREE_ codes occur only in the tree).
enum ComponentType : DWORD {
  ENTRY_NOT_SET = 0,
  METADATA_ENTRY = 1,
  REGISTRY_ENTRY = 2,
  DIRECTORY_ENTRY = 3,
  FILE_ENTRY = 4,
  END_OF_FILESYSTEM = 5,
  DATABASE_ENTRY = 6,          // defined; database entries carry TREE_DATABASE (30)
  RECORD_ENTRY = 7,
  END_OF_DATABASES = 8,
  FLASH_ENTRY = 9,
  INDEX_ENTRY = 10,
  END_OF_IMAGE = 11,
  REGISTRY_KEY_ENTRY = 16,
  TREE_FILESYSTEM = 21,        // top-level node: file system
  TREE_REGISTRY = 23,          // top-level node: registry
  TREE_MAIL = 24,              // top-level node: mail
  TREE_DBVOLUME_FILE = 26,     // a database volume file
  TREE_DBVOLUMES = 27,         // top-level node: database volumes
  TREE_REGISTRY_ITEM = 28,     // registry item (image size counted by the registry component)
  TREE_DATABASE_GROUP = 29,    // a database group
  TREE_DATABASE = 30,          // one database
  TREE_DATABASES = 31,         // top-level node: databases
  TREE_ROOT = 255,             // the root of the content tree
};
