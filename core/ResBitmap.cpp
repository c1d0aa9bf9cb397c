#include "core/ResBitmap.h"

#include <cstdint>
#include <cstdlib>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/handle.h"
#include "ce/module.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
// Compressions: BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS.
constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3;

int32_t Signed(uint32_t v) { return static_cast<int32_t>(v); }

}  // namespace

bool AResBitmap::IsWellFormed(std::string_view dib) {
  if (dib.size() < kInfoHeaderSize || dib.size() > kMaxBytes) return false;
  const uint32_t headerSize = ce::le::Get32(dib, 0);
  const int32_t width = Signed(ce::le::Get32(dib, 4));
  const int32_t height = Signed(ce::le::Get32(dib, 8));
  const uint16_t planes = ce::le::Get16(dib, 12);
  const uint16_t bits = ce::le::Get16(dib, 14);
  const uint32_t compression = ce::le::Get32(dib, 16);
  const uint32_t colorsUsed = ce::le::Get32(dib, 32);
  if (headerSize < kInfoHeaderSize || headerSize > dib.size()) return false;
  if (width <= 0 || height == 0 || height == INT32_MIN || planes != 1) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (compression == kRle8 && bits != 8) return false;
  if (compression == kRle4 && bits != 4) return false;
  if (compression == kBitfields && bits != 16 && bits != 32) return false;
  if (compression > kBitfields) return false;

  uint64_t need = headerSize;
  if (compression == kBitfields && headerSize == kInfoHeaderSize) need += 12;  // the three masks
  uint64_t colors = colorsUsed;
  if (bits <= 8) {
    if (colors == 0) colors = 1u << bits;
    if (colors > (1u << bits)) return false;
  } else if (colors > 256) {
    return false;
  }
  need += colors * 4;
  if (compression == kRgb || compression == kBitfields) {
    const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    need += stride * static_cast<uint64_t>(std::llabs(height));
  }
  return need <= dib.size();
}

LONG AResBitmap::GetWidth() const {
  return IsEmpty() ? 0 : Signed(ce::le::Get32(m_Dib, 4));
}

LONG AResBitmap::GetHeight() const {
  return IsEmpty() ? 0 : static_cast<LONG>(std::llabs(Signed(ce::le::Get32(m_Dib, 8))));
}

WORD AResBitmap::GetBitCount() const {
  return IsEmpty() ? 0 : ce::le::Get16(m_Dib, 14);
}

bool AResBitmap::SetDib(std::string dib) {
  if (!IsWellFormed(dib)) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  m_Dib = std::move(dib);
  return true;
}

bool AResBitmap::LoadBitmap(UINT id) { return LoadBitmap(MAKEINTRESOURCE(id)); }

bool AResBitmap::LoadBitmap(LPCWSTR name) {
  HMODULE module = ce::GetResourceModule();
  HRSRC resource = FindResourceW(module, name, RT_BITMAP);
  if (!resource) return false;
  HGLOBAL data = LoadResource(module, resource);
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) return false;
  const DWORD size = SizeofResource(module, resource);
  return SetDib(std::string(static_cast<const char*>(bytes), size));
}

bool AResBitmap::LoadBitmapFile(LPCWSTR path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetFileSize(file, &high);
  DWORD error = ERROR_SUCCESS;
  std::string bytes;
  if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
    error = GetLastError();
  } else if (high != 0 || size > kMaxBytes + kFileHeaderSize) {
    error = ERROR_INVALID_DATA;
  } else {
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size, &read, nullptr)) error = GetLastError();
    else if (read != size) error = ERROR_INVALID_DATA;
  }
  CloseHandle(file);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  if (bytes.size() < kFileHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  return SetDib(bytes.substr(kFileHeaderSize));
}
