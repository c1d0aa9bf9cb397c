// AResBitmap::CreateHandle, apart from the rest: it needs the drawing
// layer, which only windowed programs link.
#include <cstring>

#include "ce/bytes.h"
#include "core/ResBitmap.h"

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kRgb = 0, kBitfields = 3;

}  // namespace

HBITMAP AResBitmap::CreateHandle() const {
  if (IsEmpty()) return nullptr;
  const uint32_t headerSize = ce::le::Get32(m_Dib, 0);
  const uint16_t bits = GetBitCount();
  const uint32_t compression = ce::le::Get32(m_Dib, 16);
  if (compression != kRgb && compression != kBitfields) return nullptr;
  const uint32_t masks = compression == kBitfields ? 12 : 0;
  uint32_t colors = ce::le::Get32(m_Dib, 32);
  if (bits <= 8 && colors == 0) colors = 1u << bits;
  // The info as a 40-byte header followed by its masks and colour table
  // (larger headers carry the masks inside them, at the same place).
  std::string info = m_Dib.substr(0, kInfoHeaderSize);
  ce::le::Set32(&info, 0, kInfoHeaderSize);
  info += m_Dib.substr(kInfoHeaderSize, masks);
  const size_t table = headerSize + (headerSize == kInfoHeaderSize ? masks : 0);
  info += m_Dib.substr(table, size_t{colors} * 4);
  const size_t pixels = table + size_t{colors} * 4;
  const size_t stride = (static_cast<size_t>(GetWidth()) * bits + 31) / 32 * 4;
  const size_t rowsSize = stride * static_cast<size_t>(GetHeight());
  void* rows = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &rows, nullptr, 0);
  if (!bitmap || !rows || pixels + rowsSize > m_Dib.size()) {
    if (bitmap) DeleteObject(bitmap);
    return nullptr;
  }
  std::memcpy(rows, m_Dib.data() + pixels, rowsSize);
  return bitmap;
}
