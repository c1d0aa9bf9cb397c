// A bitmap held in memory in the form a resource library keeps it: the
// bitmap info header, any colour masks and colour table, then the pixel
// rows (a bitmap file without its 14-byte file header). The drawing layer
// turns it into a device bitmap when it shows one.
#pragma once

#include <string>
#include <string_view>

#include "ce/gdi.h"
#include "ce/types.h"

class AResBitmap {
 public:
  // Largest bitmap file or resource accepted, in bytes.
  static constexpr DWORD kMaxBytes = 16u * 1024 * 1024;

  bool IsEmpty() const { return m_Dib.empty(); }
  // 0 when empty. The height is given without its sign (bottom-up and
  // top-down rows alike).
  LONG GetWidth() const;
  LONG GetHeight() const;
  WORD GetBitCount() const;
  // The packed bitmap (empty when none is loaded).
  const std::string& Dib() const { return m_Dib; }

  // Bitmap resource `id` of the class library's current resource module
  // (ce::GetResourceModule). On failure the bitmap is unchanged and the
  // last error set: the module's lookup error, or ERROR_INVALID_DATA for
  // a malformed bitmap.
  bool LoadBitmap(UINT id);
  // The same for a named bitmap resource (or MAKEINTRESOURCE(id)).
  bool LoadBitmap(LPCWSTR name);
  // A bitmap file at a device path. On failure the bitmap is unchanged and
  // the last error set: the file error, or ERROR_INVALID_DATA when the file
  // is not a well-formed bitmap of at most kMaxBytes.
  bool LoadBitmapFile(LPCWSTR path);
  // Takes the bytes when they form a well-formed bitmap (else
  // ERROR_INVALID_DATA, unchanged).
  bool SetDib(std::string dib);

  // The checks every bitmap passes: a Windows info header (40 bytes or
  // more) with one plane, 1/4/8/16/24/32 bits per pixel, a known
  // compression, a width above 0, a non-zero height, and enough bytes for
  // the colour table and (uncompressed) every pixel row.
  static bool IsWellFormed(std::string_view dib);

  // A new bitmap handle of the same pixels for the drawing layer (image
  // lists, BitBlt); the caller deletes it (DeleteObject). Null when empty
  // or compressed.
  HBITMAP CreateHandle() const;

 private:
  std::string m_Dib;
};
