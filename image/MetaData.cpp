#include "image/MetaData.h"

#include <zlib.h>

#include <algorithm>
#include <cassert>
#include <string>
#include <string_view>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "core/Log.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"

namespace {

using namespace MetaDataFormat;
constexpr const WCHAR* kClass = u"AMetaData";

// Copies text into a fixed field: at most chars - 1 characters, the rest
// zero.
template <size_t N>
void SetText(WCHAR (&field)[N], std::u16string_view text) {
  size_t n = std::min(text.size(), N - 1);
  for (size_t i = 0; i < N; ++i) field[i] = i < n ? text[i] : u'\0';
}

void PadTo(std::string* b, size_t offset) {
  assert(b->size() <= offset);
  b->resize(offset, '\0');
}

template <size_t N>
void PutText(std::string* b, size_t offset, const WCHAR (&field)[N]) {
  PadTo(b, offset);
  for (WCHAR c : field) ce::le::Put16(b, c);
}

template <size_t N>
void GetText(std::string_view b, size_t offset, WCHAR (&field)[N]) {
  for (size_t i = 0; i < N; ++i) field[i] = ce::le::Get16(b, offset + 2 * i);
  field[N - 1] = u'\0';
}

DWORD Crc(const BYTE* data, size_t length) {
  return static_cast<DWORD>(crc32(0L, data, static_cast<uInt>(length)));
}

LPCWSTR OnOff(bool on) { return on ? u"enabled" : u"disabled"; }
LPCWSTR TrueFalse(bool on) { return on ? u"true" : u"false"; }

}  // namespace

// ---- MetaDataBlock ------------------------------------------------------------

MetaDataBlock::Bytes MetaDataBlock::ToBytes() const {
  std::string b;
  b.reserve(kBlockSize);
  PutText(&b, kOwnerNameOffset, ownerName);
  PutText(&b, kPlatformOffset, platform);
  PutText(&b, kPlatformVersionOffset, platformVersion);
  PutText(&b, kOemInfoOffset, oemInfo);
  PadTo(&b, kOsVersionOffset);
  ce::le::Put32(&b, osVersion.dwOSVersionInfoSize);
  ce::le::Put32(&b, osVersion.dwMajorVersion);
  ce::le::Put32(&b, osVersion.dwMinorVersion);
  ce::le::Put32(&b, osVersion.dwBuildNumber);
  ce::le::Put32(&b, osVersion.dwPlatformId);
  PutText(&b, kOsVersionOffset + 20, osVersion.szCSDVersion);
  PutText(&b, kAnnotationOffset, annotation);
  PadTo(&b, kIncludedPartsOffset);
  ce::le::Put16(&b, includedParts);
  ce::le::Put16(&b, value);
  ce::le::Put16(&b, value2);
  PadTo(&b, kCompressionOffset);
  ce::le::Put32(&b, compression);
  ce::le::Put32(&b, encryption);
  ce::le::Put32(&b, passwordCheck);
  PutText(&b, kAppVersionTextOffset, appVersionText);
  ce::le::Put16(&b, appVersion1);
  ce::le::Put16(&b, appVersion2);
  ce::le::Put16(&b, appVersion3);
  PadTo(&b, kBlockSize);

  Bytes out{};
  std::copy(b.begin(), b.end(), out.begin());
  return out;
}

MetaDataBlock MetaDataBlock::FromBytes(const Bytes& bytes) {
  std::string_view b(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  MetaDataBlock m{};
  GetText(b, kOwnerNameOffset, m.ownerName);
  GetText(b, kPlatformOffset, m.platform);
  GetText(b, kPlatformVersionOffset, m.platformVersion);
  GetText(b, kOemInfoOffset, m.oemInfo);
  m.osVersion.dwOSVersionInfoSize = ce::le::Get32(b, kOsVersionOffset);
  m.osVersion.dwMajorVersion = ce::le::Get32(b, kOsVersionOffset + 4);
  m.osVersion.dwMinorVersion = ce::le::Get32(b, kOsVersionOffset + 8);
  m.osVersion.dwBuildNumber = ce::le::Get32(b, kOsVersionOffset + 12);
  m.osVersion.dwPlatformId = ce::le::Get32(b, kOsVersionOffset + 16);
  GetText(b, kOsVersionOffset + 20, m.osVersion.szCSDVersion);
  GetText(b, kAnnotationOffset, m.annotation);
  m.includedParts = ce::le::Get16(b, kIncludedPartsOffset);
  m.value = ce::le::Get16(b, kValueOffset);
  m.value2 = ce::le::Get16(b, kValue2Offset);
  m.compression = ce::le::Get32(b, kCompressionOffset);
  m.encryption = ce::le::Get32(b, kEncryptionOffset);
  m.passwordCheck = ce::le::Get32(b, kPasswordCheckOffset);
  GetText(b, kAppVersionTextOffset, m.appVersionText);
  m.appVersion1 = ce::le::Get16(b, kAppVersion1Offset);
  m.appVersion2 = ce::le::Get16(b, kAppVersion2Offset);
  m.appVersion3 = ce::le::Get16(b, kAppVersion3Offset);
  return m;
}

// ---- AMetaData ----------------------------------------------------------------

AMetaData::AMetaData(AImageFile* image) : m_pImage(image) {}

bool AMetaData::Query(const MetaDataGlobals& globals, void* copyOut, bool log) {
  MetaDataBlock block{};
  SetText(block.ownerName, kOwnerName);
  SetText(block.platform, kPlatform);
  SetText(block.platformVersion, kPlatformVersion);

  WCHAR oem[kOemQueryBytes / sizeof(WCHAR)] = {};
  if (SystemParametersInfoW(SPI_GETOEMINFO, kOemQueryBytes, oem, 0)) {
    oem[std::size(oem) - 1] = u'\0';
    SetText(block.oemInfo, oem);
  } else {
    LogError(GetLastError(), u"SystemParam failed", kClass, __LINE__);
    SetText(block.oemInfo, kNoOemInfo);
  }

  block.osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  if (!GetVersionExW(&block.osVersion)) {
    LogError(GetLastError(), u"GetVersionEx failed", kClass, __LINE__);
    return false;
  }
  block.osVersion.dwOSVersionInfoSize = kStoredVersionInfoSize;
  block.osVersion.szCSDVersion[kCsdVersionChars - 1] = u'\0';

  SetText(block.annotation, globals.annotation.view());
  block.includedParts = static_cast<WORD>((globals.includeRegistry ? kPartRegistry : 0) |
                                          (globals.includeDatabases ? kPartDatabases : 0) |
                                          (globals.includeFileSystem ? kPartFileSystem : 0) |
                                          (globals.includeMail ? kPartMail : 0));
  block.value = kValue;
  block.value2 = kValue2;
  block.compression = globals.compress ? 1 : 0;
  block.encryption = globals.encrypt ? 1 : 0;
  block.passwordCheck = globals.passwordCheck;
  SetText(block.appVersionText, globals.versionText.view());
  block.appVersion1 = globals.versionMajor;
  block.appVersion2 = globals.versionMid;
  block.appVersion3 = globals.versionMinor;

  m_Bytes = block.ToBytes();
  m_Block = MetaDataBlock::FromBytes(m_Bytes);
  m_bValid = true;
  if (log) Dump();
  if (copyOut) std::copy(m_Bytes.begin(), m_Bytes.end(), static_cast<BYTE*>(copyOut));
  return true;
}

bool AMetaData::Write() {
  if (!m_bValid || !m_pImage) {
    LogError(GetLastError(), u"AMetaData::Write() AMetaData not Valid", kClass, __LINE__);
    return false;
  }
  AImageFileHeader header(METADATA_ENTRY, kBlockSize, 0, 0, Crc(m_Bytes.data(), m_Bytes.size()), 0);
  if (!header.WritePlain(*m_pImage)) {
    LogError(GetLastError(), u"AMetaData::Write() Header.Write() failed", kClass, __LINE__);
    return false;
  }
  if (!m_pImage->Write(m_Bytes.data(), kBlockSize, false, true)) {
    CString text;
    text.Format(u"AMetaData::Write() Write() failed %d", static_cast<int>(kBlockSize));
    LogError(GetLastError(), text, kClass, __LINE__);
    return false;
  }
  return true;
}

bool AMetaData::Read(bool log, MetaDataGlobals* apply) {
  if (!m_pImage) {
    LogError(0, u"AMetaData::Read() no image file", kClass, __LINE__);
    return false;
  }
  AImageFileHeader header;
  if (!header.ReadPlain(*m_pImage) || header.ComponentType() != METADATA_ENTRY) {
    CString text;
    text.Format(u"Header.ComponentType() != METADATA_ENTRY %u", header.ComponentType());
    LogError(GetLastError(), text, kClass, __LINE__);
    return false;
  }
  MetaDataBlock::Bytes bytes{};
  if (!m_pImage->Read(bytes.data(), kBlockSize, false, true)) {
    CString text;
    text.Format(u"AMetaData::Read() Read() failed %d", static_cast<int>(kBlockSize));
    LogError(GetLastError(), text, kClass, __LINE__);
    return false;
  }
  if (Crc(bytes.data(), bytes.size()) != header.CRCSum()) {
    LogError(GetLastError(), u"AMetaData::Read() CRCSum != Header.CRCSum()", kClass, __LINE__);
    return false;
  }
  m_Bytes = bytes;
  m_Block = MetaDataBlock::FromBytes(m_Bytes);
  if (apply) {
    apply->compress = m_Block.compression != 0;
    apply->encrypt = m_Block.encryption != 0;
    apply->passwordCheck = m_Block.passwordCheck;
  }
  m_bValid = true;
  if (log) Dump();
  return true;
}

bool AMetaData::HasExtendedVersion() const {
  return m_Block.appVersion1 > 1 || (m_Block.appVersion1 == 1 && m_Block.appVersion3 != 0);
}

void AMetaData::Dump() const {
  auto line = [](const CString& text, int at) { Log(0, text, kClass, at); };
  CString text;
  line(u"Metadata Info:", __LINE__);
  text.Format(u"Compression %s", OnOff(IsCompressed()));
  line(text, __LINE__);
  text.Format(u"Encryption %s", OnOff(IsEncrypted()));
  line(text, __LINE__);
  line(CString(u"Hardware (HWInfo) ") + m_Block.oemInfo, __LINE__);
  const OSVERSIONINFOW& v = m_Block.osVersion;
  text.Format(
      u"Major Version %d Minor Version %d Build Number %d Platform ID %d Additional information : %s",
      static_cast<int>(v.dwMajorVersion), static_cast<int>(v.dwMinorVersion),
      static_cast<int>(v.dwBuildNumber), static_cast<int>(v.dwPlatformId), v.szCSDVersion);
  line(text, __LINE__);
  line(u"Metadata includes:", __LINE__);
  text.Format(u"File System = %s", TrueFalse(IncludesFileSystem()));
  line(text, __LINE__);
  text.Format(u"Registry = %s", TrueFalse(IncludesRegistry()));
  line(text, __LINE__);
  text.Format(u"Databases = %s", TrueFalse(IncludesDatabases()));
  line(text, __LINE__);
  text.Format(u"Mail = %s", TrueFalse(IncludesMail()));
  line(text, __LINE__);
  text.Format(u"App Version = %d.%d, Version String = %s", static_cast<int>(m_Block.appVersion1),
              static_cast<int>(m_Block.appVersion2), m_Block.appVersionText);
  line(text, __LINE__);
}

DWORD AMetaData::PasswordCheckValue(const CString& password, bool wide) {
  std::string bytes;
  for (WCHAR c : password.view()) ce::le::Put16(&bytes, c);
  size_t length = wide ? bytes.size() : static_cast<size_t>(password.GetLength());
  return Crc(reinterpret_cast<const BYTE*>(bytes.data()), length);
}
