// The resource container: the resources of one module, either appended to a
// host executable or shared object after linking, or standing alone as a
// file (a resource library such as "QuilmoRes.dll").
//
// All numbers are little-endian; all offsets are relative to the container
// start unless noted.
//
//   header   16 bytes   magic[8] = "QRESCONT", u32 format version (1),
//                       u32 entry count
//   entries  24 bytes each, sorted by (type, named, id or name, language):
//              u32 type        resource type (kType* below)
//              u32 id          numeric id; 0 for a named resource
//              u32 nameOffset  0 for a numbered resource; otherwise the
//                              offset of the name: u16 length + UTF-16 chars
//              u16 language    e.g. 0x0409
//              u16 flags       kEntryNamed when the resource has a name
//              u32 offset      data offset
//              u32 size        data size in bytes
//   data     names and resource data, each item starting 4-aligned
//   trailer  16 bytes, the last bytes of the file:
//              magic[8] = "QRESTAIL", u32 container offset in the file,
//              u32 container size (header + entries + data)
//
// A container is valid only when container offset + size + trailer size is
// the file size, so that a stray magic cannot be mistaken for one.
//
// String resources hold one string each (type kTypeString, id = string id):
// UTF-16 characters followed by one NUL, so the size is (length + 1) * 2.
#pragma once

#include <cstdint>

namespace ce::res {

inline constexpr char kHeaderMagic[8] = {'Q', 'R', 'E', 'S', 'C', 'O', 'N', 'T'};
inline constexpr char kTrailerMagic[8] = {'Q', 'R', 'E', 'S', 'T', 'A', 'I', 'L'};
inline constexpr uint32_t kFormatVersion = 1;

inline constexpr uint32_t kHeaderSize = 16;
inline constexpr uint32_t kEntrySize = 24;
inline constexpr uint32_t kTrailerSize = 16;

// Entry field offsets within an entry.
inline constexpr uint32_t kEntryType = 0;
inline constexpr uint32_t kEntryId = 4;
inline constexpr uint32_t kEntryNameOffset = 8;
inline constexpr uint32_t kEntryLanguage = 12;
inline constexpr uint32_t kEntryFlags = 14;
inline constexpr uint32_t kEntryDataOffset = 16;
inline constexpr uint32_t kEntryDataSize = 20;

inline constexpr uint16_t kEntryNamed = 0x0001;

// Resource types (the classic numbers; our own types start at 256).
inline constexpr uint32_t kTypeBitmap = 2;
inline constexpr uint32_t kTypeDialog = 5;
inline constexpr uint32_t kTypeString = 6;
inline constexpr uint32_t kTypeRcData = 10;
inline constexpr uint32_t kTypeVersion = 16;
// A dialog description in our own readable form (for the window layer).
inline constexpr uint32_t kTypeTemplate = 256;
// A menu bar (ce/menubar.h).
inline constexpr uint32_t kTypeMenuBar = 257;

// Language of resources whose source names none: English (United States).
inline constexpr uint16_t kDefaultLanguage = 0x0409;

// Names are at most this many UTF-16 characters.
inline constexpr uint32_t kMaxNameLength = 255;

}  // namespace ce::res
