// Stored form of the metadata block that follows the plain METADATA_ENTRY
// header at the start of every image: exactly 1528 bytes, little-endian,
// text UTF-16LE (NUL-terminated inside its field), never enciphered. The
// header's CRCSum is crc32 (initial 0) of the 1528 bytes. Reserved ranges
// are written as zero and ignored on reading. Data only.
#pragma once

#include "ce/types.h"

namespace MetaDataFormat {

inline constexpr DWORD kBlockSize = 1528;

// Offsets and widths (characters for text, bytes otherwise).
inline constexpr DWORD kOwnerNameOffset = 0;          // 33 characters
inline constexpr DWORD kOwnerNameChars = 33;
inline constexpr DWORD kPlatformOffset = 66;          // 32 characters
inline constexpr DWORD kPlatformChars = 32;
inline constexpr DWORD kPlatformVersionOffset = 130;  // 16 characters
inline constexpr DWORD kPlatformVersionChars = 16;
inline constexpr DWORD kOemInfoOffset = 162;          // 165 characters
inline constexpr DWORD kOemInfoChars = 165;
// OSVERSIONINFO: u32 size (stored as 0xFFFFFFFF), major, minor, build,
// platform id, then 128 characters of additional information.
inline constexpr DWORD kOsVersionOffset = 492;
inline constexpr DWORD kOsVersionSize = 276;
inline constexpr DWORD kCsdVersionChars = 128;
inline constexpr DWORD kAnnotationOffset = 768;       // 256 characters
inline constexpr DWORD kAnnotationChars = 256;
inline constexpr DWORD kIncludedPartsOffset = 1280;   // u16 bit set
inline constexpr DWORD kValueOffset = 1282;           // u16, 2001
inline constexpr DWORD kValue2Offset = 1284;          // u16, 9
inline constexpr DWORD kCompressionOffset = 1300;     // u32 0/1
inline constexpr DWORD kEncryptionOffset = 1304;      // u32 0/1
inline constexpr DWORD kPasswordCheckOffset = 1308;   // u32 crc32 of the password
inline constexpr DWORD kAppVersionTextOffset = 1428;  // 32 characters
inline constexpr DWORD kAppVersionTextChars = 32;
inline constexpr DWORD kAppVersion1Offset = 1492;     // u16 major
inline constexpr DWORD kAppVersion2Offset = 1494;     // u16
inline constexpr DWORD kAppVersion3Offset = 1496;     // u16

// Bits of the included-parts word.
inline constexpr WORD kPartRegistry = 0x0001;
inline constexpr WORD kPartDatabases = 0x0010;
inline constexpr WORD kPartFileSystem = 0x0100;
inline constexpr WORD kPartMail = 0x1000;

// Fixed values written by every backup.
inline constexpr WORD kValue = 2001;
inline constexpr WORD kValue2 = 9;
inline constexpr DWORD kStoredVersionInfoSize = 0xFFFFFFFF;
inline constexpr const WCHAR* kOwnerName = u"Owner Name Not From Registry";
inline constexpr const WCHAR* kPlatform = u"WINDOWS CE";
inline constexpr const WCHAR* kPlatformVersion = u"3.0";
inline constexpr const WCHAR* kNoOemInfo = u"No OEM Info";
inline constexpr DWORD kOemQueryBytes = 512;

}  // namespace MetaDataFormat
