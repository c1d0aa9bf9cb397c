// The metadata block every image carries first: which device wrote it,
// which parts it holds, whether it is compressed and enciphered, the
// password check value and the application version (stored form in
// image/MetaDataFormat.h).
#pragma once

#include <array>

#include "ce/cstring.h"
#include "ce/system.h"
#include "ce/types.h"
#include "image/MetaDataFormat.h"

class AImageFile;

// The block's fields in memory. Texts are NUL-terminated inside their
// arrays; a block parsed from an image is terminated there even when the
// stored field was not.
struct MetaDataBlock {
  WCHAR ownerName[MetaDataFormat::kOwnerNameChars];
  WCHAR platform[MetaDataFormat::kPlatformChars];
  WCHAR platformVersion[MetaDataFormat::kPlatformVersionChars];
  WCHAR oemInfo[MetaDataFormat::kOemInfoChars];
  OSVERSIONINFOW osVersion;
  WCHAR annotation[MetaDataFormat::kAnnotationChars];
  WORD includedParts;
  WORD value;   // 2001; copied into the operation descriptor
  WORD value2;  // 9
  DWORD compression;
  DWORD encryption;
  DWORD passwordCheck;
  WCHAR appVersionText[MetaDataFormat::kAppVersionTextChars];
  WORD appVersion1;  // major
  WORD appVersion2;
  WORD appVersion3;

  using Bytes = std::array<BYTE, MetaDataFormat::kBlockSize>;
  // Field by field, little-endian; reserved ranges zero.
  Bytes ToBytes() const;
  static MetaDataBlock FromBytes(const Bytes& bytes);
};

// The process-wide values the metadata records (Query) and sets again on
// reading (Read: compression, encryption and the password check value).
// The global state object fills and applies them.
struct MetaDataGlobals {
  bool compress = false;
  bool encrypt = false;
  DWORD passwordCheck = 0;
  // The operation descriptor's include flags and annotation.
  bool includeRegistry = false;
  bool includeDatabases = false;
  bool includeFileSystem = false;
  bool includeMail = false;
  CString annotation;
  // The program's version text and words (major, mid, minor).
  CString versionText;
  WORD versionMajor = 0;
  WORD versionMid = 0;
  WORD versionMinor = 0;
};

class AMetaData {
 public:
  static constexpr DWORD kImageSize = 80 + MetaDataFormat::kBlockSize;  // 1608

  // The image file it is read from or written to (may be null: Query only).
  explicit AMetaData(AImageFile* image = nullptr);

  // Fills the block from the device and the globals; sets valid. With log
  // the block is dumped; copyOut (when given) receives the 1528 bytes.
  bool Query(const MetaDataGlobals& globals, void* copyOut = nullptr, bool log = false);
  // 1608 when valid, else 0.
  DWORD ImageSize() const { return m_bValid ? kImageSize : 0; }
  // The plain header, then the 1528 bytes plain as one final write.
  bool Write();
  // Reads the plain header (type 1 required) and the block, checks its
  // crc32 against the header; on success sets valid and, when apply is
  // given, its compression, encryption and password check value.
  bool Read(bool log = false, MetaDataGlobals* apply = nullptr);
  // Version word 1 above 1, or 1 with word 3 not 0.
  bool HasExtendedVersion() const;
  void Dump() const;

  bool IsValid() const { return m_bValid; }
  const MetaDataBlock& Block() const { return m_Block; }

  WORD GetIncludedParts() const { return m_Block.includedParts; }
  bool IncludesRegistry() const { return m_Block.includedParts & MetaDataFormat::kPartRegistry; }
  bool IncludesDatabases() const { return m_Block.includedParts & MetaDataFormat::kPartDatabases; }
  bool IncludesFileSystem() const { return m_Block.includedParts & MetaDataFormat::kPartFileSystem; }
  bool IncludesMail() const { return m_Block.includedParts & MetaDataFormat::kPartMail; }
  WORD GetValue() const { return m_Block.value; }
  bool IsCompressed() const { return m_Block.compression != 0; }
  bool IsEncrypted() const { return m_Block.encryption != 0; }
  DWORD GetPasswordCheck() const { return m_Block.passwordCheck; }
  CString GetOemInfo() const { return m_Block.oemInfo; }
  CString GetAnnotation() const { return m_Block.annotation; }
  CString GetAppVersionText() const { return m_Block.appVersionText; }
  const OSVERSIONINFOW& GetOsVersion() const { return m_Block.osVersion; }

  // crc32 (initial 0) of the password's UTF-16LE bytes without the NUL;
  // not wide: only the first (number of characters) bytes.
  static DWORD PasswordCheckValue(const CString& password, bool wide = true);

  void SetImageFile(AImageFile* image) { m_pImage = image; }

 private:
  MetaDataBlock m_Block{};
  MetaDataBlock::Bytes m_Bytes{};
  AImageFile* m_pImage;
  bool m_bValid = false;
};
