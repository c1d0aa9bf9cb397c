// Stored form of the content index (the INDEX_ENTRY block). Data only.
//
//   header   80-byte entry header, type INDEX_ENTRY (10), count word = the
//            number of selected nodes in the whole tree; enciphered exactly
//            when the block is.
//   body     one IndexRecord per stored node (order: see Index::Store),
//            then, only when enciphered, one zero end byte.
//
// Cipher runs: the header is a run of its own; the body is one run in which
// every field is written without the final flag and the end byte carries it.
// A plain body has no end byte. The image tail's fixed-part size is the
// body's byte length.
//
// IndexRecord, all integers little-endian:
//    0  4  item type (ComponentType)      36  (last access, continued)
//    4  4  file offset                    40  8  last write time (FILETIME)
//    8  4  crc value                      48  8  file size (u64)
//   12  4  size in image                  56  4  OID
//   16  4  user data                      60  4  children populated (1 or 0)
//   20  4  attributes                     64  4  child count (stored children)
//   24  8  creation time (FILETIME)       68  4  name length in characters
//   32  8  last access time               72  2 x length  name, UTF-16, no NUL
#pragma once

#include "ce/types.h"

namespace IndexRecord {

constexpr DWORD kFixedSize = 72;       // bytes before the name
constexpr DWORD kMaxNameLength = 259;  // characters; longer names are refused
constexpr DWORD kEndByteSize = 1;      // enciphered bodies only

constexpr DWORD kOffType = 0;
constexpr DWORD kOffFileOffset = 4;
constexpr DWORD kOffCrcValue = 8;
constexpr DWORD kOffSizeInImage = 12;
constexpr DWORD kOffUserData = 16;
constexpr DWORD kOffAttributes = 20;
constexpr DWORD kOffCreationTime = 24;
constexpr DWORD kOffLastAccessTime = 32;
constexpr DWORD kOffLastWriteTime = 40;
constexpr DWORD kOffFileSize = 48;
constexpr DWORD kOffOID = 56;
constexpr DWORD kOffChildrenPopulated = 60;
constexpr DWORD kOffChildCount = 64;
constexpr DWORD kOffNameLength = 68;

}  // namespace IndexRecord
