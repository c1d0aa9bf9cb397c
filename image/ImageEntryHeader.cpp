#include "image/ImageEntryHeader.h"

#include <cstring>

#include "ce/errors.h"
#include "core/Log.h"
#include "image/ImageFile.h"

namespace {
const WCHAR kClass[] = u"AImageFileHeader";
}

AImageFileHeader::AImageFileHeader() { Zero(); }

AImageFileHeader::AImageFileHeader(DWORD componentType, DWORD fixedPartSize, DWORD countOrValue,
                                   DWORD nameByteLength, DWORD crcSum, DWORD recordId) {
  Zero();
  std::memcpy(m_Header.marker, ImageFormat::kMarker, ImageFormat::kMarkerLength);
  m_Header.componentType = componentType;
  m_Header.fixedPartSize = fixedPartSize;
  m_Header.countOrValue = countOrValue;
  m_Header.nameByteLength = nameByteLength;
  m_Header.crcSum = crcSum;
  m_Header.recordId = recordId;
}

void AImageFileHeader::Zero() { std::memset(&m_Header, 0, sizeof m_Header); }

LPCWSTR AImageFileHeader::TypeName(DWORD componentType) {
  switch (componentType) {
    case ENTRY_NOT_SET: return u"ENTRY_NOT_SET";
    case METADATA_ENTRY: return u"METADATA_ENTRY";
    case REGISTRY_ENTRY: return u"REGISTRY_ENTRY";
    case DIRECTORY_ENTRY: return u"DIRECTORY_ENTRY";
    case FILE_ENTRY: return u"FILE_ENTRY";
    case END_OF_FILESYSTEM: return u"END_OF_FILESYSTEM";
    case DATABASE_ENTRY: return u"DATABASE_ENTRY";
    case RECORD_ENTRY: return u"RECORD_ENTRY";
    case END_OF_DATABASES: return u"END_OF_DATABASES";
    case FLASH_ENTRY: return u"FLASH_ENTRY";
    case INDEX_ENTRY: return u"INDEX_ENTRY";
    case END_OF_IMAGE: return u"END_OF_IMAGE";
    case REGISTRY_KEY_ENTRY: return u"REGISTRY_KEY_ENTRY";
    default: return nullptr;
  }
}

void AImageFileHeader::AppendText(CString& text) const {
  text += u"ComponentType = ";
  if (LPCWSTR name = TypeName(m_Header.componentType)) {
    text += name;
  } else {
    text.AppendFormat(u"Unknown value = %u", m_Header.componentType);
  }
}

CString AImageFileHeader::Text() const {
  CString text;
  AppendText(text);
  return text;
}

bool AImageFileHeader::HasMarker(const BYTE* bytes) {
  return std::memcmp(bytes, ImageFormat::kMarker, ImageFormat::kMarkerLength) == 0;
}

bool AImageFileHeader::Write(AImageFile& image, bool encipher) const {
  if (image.Write(&m_Header, ImageFormat::kHeaderSize, encipher, true)) return true;
  CString text(u"Error writing header ");
  AppendText(text);
  LogError(GetLastError(), text, kClass, __LINE__);
  return false;
}

bool AImageFileHeader::WriteEnciphered(AImageFile& image) const { return Write(image, true); }

bool AImageFileHeader::WritePlain(AImageFile& image) const { return Write(image, false); }

bool AImageFileHeader::Read(AImageFile& image, bool decipher) {
  if (!image.Read(&m_Header, ImageFormat::kHeaderSize, decipher, true)) {
    CString text(u"Error reading header ");
    AppendText(text);
    LogError(GetLastError(), text, kClass, __LINE__);
    Zero();
    return false;
  }
  return CheckMarker(image);
}

bool AImageFileHeader::ReadDeciphered(AImageFile& image) { return Read(image, true); }

bool AImageFileHeader::ReadPlain(AImageFile& image) { return Read(image, false); }

bool AImageFileHeader::CheckMarker(AImageFile& image) {
  if (HasMarker(Bytes())) {
    image.SetLastHeader(*this);
    return true;
  }
  CString text(u"Error - invalid header marker - ");
  AppendText(text);
  LogError(0, text, kClass, __LINE__);
  Zero();
  return false;
}
