// Stored form of the database component's entries: the database entry (its
// header carries component type 30, the tree's database code), the record
// entries that follow it, and the common 2464-byte database information
// form that the database layer (engine/CeDatabase.h) also gives callers.
// Data only. All integers little-endian, texts UTF-16LE.
//
// Database entry
//   header   80 bytes: type 30; fixed-part size 2464; count 0; name byte
//            length = (volume name characters + 1) x 2; crc = crc32 of the
//            2464-byte information; record id 0.
//   body     information (DatabaseInfoRecord, 2464 bytes)
//            volume name, UTF-16 with its NUL, of the header's name byte
//              length: the volume path that held the database, or
//              "SystemHeap" for the object store
//            EDB only (information version 2): u16 n, then n times a
//              20-byte StoredPropertyDefinition and its 258-byte name
//              buffer (UTF-16, NUL-terminated, at most 128 characters,
//              zero after the NUL)
// Record entry (one per record, following its database entry; the first
// header of another type ends the database)
//   header   80 bytes: type 7 (RECORD_ENTRY); fixed-part size = the body's
//            byte length; count = number of properties; name byte length 0;
//            crc = the record crc below; record id = the record's OID.
//   body     per property, in the order the device gave them:
//              StoredPropertyValue (16 bytes)
//              text (type 31): u32 L = (characters + 1) x 2, then the text
//                and its NUL (L bytes)
//              blob or stream (65, 100): the bytes, as many as the value
//                record's count
//            other types carry nothing after their value record.
//   record crc: crc32 (initial 0) continued over every property's 16-byte
//            value record exactly as stored, a text's characters without
//            the NUL (L - 2 bytes), a blob's or stream's bytes. The u32 L
//            and the NUL count in the body's length, not in the crc.
//
// Cipher runs (image/ImageFormat.h): each header is a run of its own. A
// database body (information, volume name and, for EDB, the definitions)
// is one run, closed by its last write; each record body is one run,
// closed by its last write. A reader deciphers the same bytes in the same
// runs (where it splits its reads inside a run does not matter).
#pragma once

#include <cstddef>

#include "ce/types.h"

namespace DatabaseEntryFormat {

inline constexpr DWORD kDatabaseEntryType = 30;  // written in the database entry's header
inline constexpr DWORD kRecordEntryType = 7;     // RECORD_ENTRY
inline constexpr DWORD kInfoSize = 2464;
inline constexpr DWORD kValueRecordSize = 16;
inline constexpr DWORD kDefinitionSize = 20;
inline constexpr DWORD kDefinitionNameBytes = 258;  // 129 characters, the NUL included
inline constexpr DWORD kDefinitionNameCapacity = 128;  // the capacity word of a stored definition
inline constexpr DWORD kDefinitionStride = kDefinitionSize + kDefinitionNameBytes;  // 278
inline constexpr DWORD kTextLengthSize = 4;
// The volume name of a database in the object store.
inline constexpr char16_t kSystemHeap[] = u"SystemHeap";
// A volume name is a device path: at most MAX_PATH characters and the NUL.
inline constexpr DWORD kMaxVolumeNameBytes = 2 * (260 + 1);

// Estimates of the image size of one database entry (the volume name and
// the definitions are not counted).
inline constexpr DWORD kEstimateTextExtra = 11;  // text: 2 x (characters + 11)
inline constexpr DWORD kEstimateValue = 16;      // blob: count + 16; fixed types: 16

}  // namespace DatabaseEntryFormat

// One sort order of the information: 136 bytes.
struct DatabaseSortOrder {
  WORD version;
  WORD numProperties;
  WORD keyFlags;
  WORD reserved;
  DWORD propertyIds[16];
  DWORD propertyFlags[16];
};
static_assert(sizeof(DatabaseSortOrder) == 136);

// The common database information form, 2464 bytes. For a database (object
// type 3) the bytes from offset 4 on are the platform's extended database
// information; object information of a file (1) or folder (2) keeps the
// platform's 540- or 528-byte record from offset 4, that of a record (4)
// the u32 id of its database.
struct DatabaseInfoRecord {
  WORD version;        // 1 CEDB, 2 EDB
  WORD objectType;     // 3 database (1 file, 2 folder, 4 record)
  WORD infoVersion;    // the database information's own version
  WORD numSortOrders;
  DWORD flags;
  WCHAR name[128];     // NUL-padded
  DWORD type;
  DWORD numRecords;
  DWORD size;          // bytes
  FILETIME lastModified;
  DatabaseSortOrder sortOrders[16];
};
static_assert(sizeof(DatabaseInfoRecord) == DatabaseEntryFormat::kInfoSize);
static_assert(offsetof(DatabaseInfoRecord, infoVersion) == 4);
static_assert(offsetof(DatabaseInfoRecord, name) == 12);
static_assert(offsetof(DatabaseInfoRecord, type) == 268);
static_assert(offsetof(DatabaseInfoRecord, numRecords) == 272);
static_assert(offsetof(DatabaseInfoRecord, lastModified) == 280);
static_assert(offsetof(DatabaseInfoRecord, sortOrders) == 288);

inline constexpr WORD kDatabaseInfoVersionCedb = 1;
inline constexpr WORD kDatabaseInfoVersionEdb = 2;

// A property value as stored, 16 bytes. The device's value record holds a
// pointer where a text or blob lives; the image holds no pointers:
//   fixed types  value[0..] the value's own bytes (2 for types 2 and 18;
//                4 for 3, 19, 11, 101, 102; 8 for 5, 64, 103), the rest 0
//   text (31)    value all zero (the pointer slot); the text follows
//   blob (65),   value[0..3] u32 byte count, value[4..7] zero (the pointer
//   stream (100) slot); the bytes follow
// dataLength is 0 (the device's reads leave it 0; a restore ignores it).
// flags are the device's value flags as read: 0 (a property the device
// reports missing, 0x100, is never stored).
struct StoredPropertyValue {
  DWORD propertyId;  // low 16 bits the type, high 16 bits the property's number
  WORD dataLength;
  WORD flags;
  BYTE value[8];
};
static_assert(sizeof(StoredPropertyValue) == DatabaseEntryFormat::kValueRecordSize);

// An EDB property definition as stored, 20 bytes (its name follows in a
// 258-byte buffer).
struct StoredPropertyDefinition {
  DWORD version;       // 1
  DWORD propertyId;
  DWORD flags;
  DWORD nameReference;  // 0: the device's pointer has no meaning in an image
  DWORD nameCapacity;   // 128
};
static_assert(sizeof(StoredPropertyDefinition) == DatabaseEntryFormat::kDefinitionSize);
