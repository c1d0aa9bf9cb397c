// The 80-byte header that begins every entry of a backup image and the
// image's last 80 bytes (layout and codes in image/ImageFormat.h).
#pragma once

#include <bit>

#include "ce/cstring.h"
#include "ce/types.h"
#include "image/ImageFormat.h"

class AImageFile;

// The stored form, byte for byte (the device and this build are both
// little-endian).
struct ImageEntryHeader {
  char marker[ImageFormat::kMarkerLength];
  DWORD componentType;
  DWORD fixedPartSize;
  DWORD countOrValue;
  DWORD nameByteLength;
  DWORD crcSum;
  DWORD recordId;
  BYTE reserved[ImageFormat::kReservedSize];
};
static_assert(sizeof(ImageEntryHeader) == ImageFormat::kHeaderSize);
static_assert(std::endian::native == std::endian::little);

class AImageFileHeader {
 public:
  // All 80 bytes zero (type ENTRY_NOT_SET).
  AImageFileHeader();
  // Marker copied in, the five words in stored order, reserved bytes zero.
  AImageFileHeader(DWORD componentType, DWORD fixedPartSize, DWORD countOrValue,
                   DWORD nameByteLength, DWORD crcSum, DWORD recordId);
  AImageFileHeader(const AImageFileHeader&) = default;
  AImageFileHeader& operator=(const AImageFileHeader&) = default;

  DWORD ComponentType() const { return m_Header.componentType; }
  DWORD FixedPartSize() const { return m_Header.fixedPartSize; }
  DWORD CountOrValue() const { return m_Header.countOrValue; }
  DWORD NameByteLength() const { return m_Header.nameByteLength; }
  DWORD CRCSum() const { return m_Header.crcSum; }
  DWORD RecordId() const { return m_Header.recordId; }
  void SetCRCSum(DWORD crc) { m_Header.crcSum = crc; }
  void SetFixedPartSize(DWORD size) { m_Header.fixedPartSize = size; }
  void SetCountOrValue(DWORD value) { m_Header.countOrValue = value; }

  const ImageEntryHeader& Stored() const { return m_Header; }
  const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(&m_Header); }
  BYTE* Bytes() { return reinterpret_cast<BYTE*>(&m_Header); }

  // Appends "ComponentType = " and the code's name, or "Unknown value = "
  // and the code in decimal, to text (log lines only).
  void AppendText(CString& text) const;
  CString Text() const;

  // Each write is one complete cipher run. False after logging
  // "Error writing header ...".
  [[nodiscard]] bool WriteEnciphered(AImageFile& image) const;
  [[nodiscard]] bool WritePlain(AImageFile& image) const;
  // Read 80 bytes (one complete cipher run) and check the marker. A failed
  // read logs "Error reading header ..."; a failed read or a wrong marker
  // leaves all 80 bytes zero.
  [[nodiscard]] bool ReadDeciphered(AImageFile& image);
  [[nodiscard]] bool ReadPlain(AImageFile& image);
  // Compares the 32-byte marker. Equal: the image keeps a copy of this
  // header as its last header read. Different: logs "Error - invalid
  // header marker - ...", zeroes the header and returns false.
  bool CheckMarker(AImageFile& image);
  // The first 32 bytes of bytes equal the marker.
  static bool HasMarker(const BYTE* bytes);

  // The name of a code ("FILE_ENTRY"), null for a code without one.
  static LPCWSTR TypeName(DWORD componentType);

 private:
  bool Write(AImageFile& image, bool encipher) const;
  bool Read(AImageFile& image, bool decipher);
  void Zero();

  ImageEntryHeader m_Header;
};
