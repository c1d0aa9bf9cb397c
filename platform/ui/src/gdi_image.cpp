// Bitmap decoding and the record of what programs drew into windows.
#include "gdi_image.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>

#include "ce/bytes.h"

namespace ui::gdi {
namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kRgb = 0, kBitfields = 3;

// Position of the lowest set bit and the width of a colour mask.
void MaskShape(uint32_t mask, int* shift, int* bits) {
  *shift = 0;
  *bits = 0;
  if (mask == 0) return;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++*shift;
  }
  while (mask & 1u) {
    mask >>= 1;
    ++*bits;
  }
}

// A channel under a mask, scaled to 0..255.
uint32_t Channel(uint32_t v, uint32_t mask) {
  int shift, bits;
  MaskShape(mask, &shift, &bits);
  if (bits == 0) return 0;
  uint32_t c = (v & mask) >> shift;
  uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  return static_cast<uint32_t>(static_cast<uint64_t>(c) * 255 / max);
}

}  // namespace

bool DecodeDib(std::string_view dib, Image* out) {
  if (dib.size() < kInfoHeaderSize) return false;
  const uint32_t headerSize = ce::le::Get32(dib, 0);
  const int32_t width = static_cast<int32_t>(ce::le::Get32(dib, 4));
  const int32_t rawHeight = static_cast<int32_t>(ce::le::Get32(dib, 8));
  const uint16_t planes = ce::le::Get16(dib, 12);
  const uint16_t bits = ce::le::Get16(dib, 14);
  const uint32_t compression = ce::le::Get32(dib, 16);
  uint32_t colors = ce::le::Get32(dib, 32);
  if (headerSize < kInfoHeaderSize || headerSize > dib.size() || planes != 1) return false;
  if (width <= 0 || width > kMaxBitmapSide || rawHeight == 0 || rawHeight < -kMaxBitmapSide ||
      rawHeight > kMaxBitmapSide)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (compression != kRgb && !(compression == kBitfields && (bits == 16 || bits == 32))) return false;
  const bool topDown = rawHeight < 0;
  const int height = std::abs(rawHeight);

  uint64_t at = headerSize;
  uint32_t rMask = 0x00FF0000u, gMask = 0x0000FF00u, bMask = 0x000000FFu;
  if (bits == 16) rMask = 0x7C00u, gMask = 0x03E0u, bMask = 0x001Fu;
  if (compression == kBitfields) {
    const uint64_t masksAt = headerSize == kInfoHeaderSize ? at : 40;
    if (masksAt + 12 > dib.size()) return false;
    rMask = ce::le::Get32(dib, static_cast<size_t>(masksAt));
    gMask = ce::le::Get32(dib, static_cast<size_t>(masksAt + 4));
    bMask = ce::le::Get32(dib, static_cast<size_t>(masksAt + 8));
    if (headerSize == kInfoHeaderSize) at += 12;
  }
  std::vector<uint32_t> palette;
  if (bits <= 8) {
    if (colors == 0) colors = 1u << bits;
    if (colors > (1u << bits)) return false;
  } else if (colors > 256) {
    return false;
  }
  if (at + uint64_t{colors} * 4 > dib.size()) return false;
  for (uint32_t i = 0; i < colors && bits <= 8; ++i) {
    const size_t p = static_cast<size_t>(at + i * 4);
    palette.push_back(0xFF000000u | (static_cast<uint32_t>(static_cast<uint8_t>(dib[p + 2])) << 16) |
                      (static_cast<uint32_t>(static_cast<uint8_t>(dib[p + 1])) << 8) |
                      static_cast<uint8_t>(dib[p]));
  }
  at += uint64_t{colors} * 4;
  const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  if (at + stride * static_cast<uint64_t>(height) > dib.size()) return false;

  Image img;
  img.width = width;
  img.height = height;
  img.argb.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    const int srcRow = topDown ? y : height - 1 - y;
    const size_t row = static_cast<size_t>(at + stride * static_cast<uint64_t>(srcRow));
    for (int x = 0; x < width; ++x) {
      uint32_t px = 0;
      if (bits <= 8) {
        const size_t bit = static_cast<size_t>(x) * bits;
        const uint8_t byte = static_cast<uint8_t>(dib[row + bit / 8]);
        const uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        px = index < palette.size() ? palette[index] : 0xFF000000u;
      } else if (bits == 24) {
        const size_t p = row + static_cast<size_t>(x) * 3;
        px = 0xFF000000u | (static_cast<uint32_t>(static_cast<uint8_t>(dib[p + 2])) << 16) |
             (static_cast<uint32_t>(static_cast<uint8_t>(dib[p + 1])) << 8) | static_cast<uint8_t>(dib[p]);
      } else {
        const size_t p = row + static_cast<size_t>(x) * (bits / 8);
        const uint32_t v = bits == 16 ? ce::le::Get16(dib, p) : ce::le::Get32(dib, p);
        px = 0xFF000000u | (Channel(v, rMask) << 16) | (Channel(v, gMask) << 8) | Channel(v, bMask);
      }
      img.argb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = px;
    }
  }
  *out = std::move(img);
  return true;
}

Image Crop(const Image& src, int sx, int sy, int w, int h, int dw, int dh) {
  Image out;
  out.width = std::clamp(dw, 0, kMaxBitmapSide);
  out.height = std::clamp(dh, 0, kMaxBitmapSide);
  out.argb.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height), 0);
  if (w <= 0 || h <= 0) return out;
  for (int y = 0; y < out.height; ++y) {
    const int64_t from_y = sy + static_cast<int64_t>(y) * h / out.height;
    for (int x = 0; x < out.width; ++x) {
      const int64_t from_x = sx + static_cast<int64_t>(x) * w / out.width;
      if (from_x < 0 || from_y < 0 || from_x >= src.width || from_y >= src.height) continue;
      out.argb[static_cast<size_t>(y) * static_cast<size_t>(out.width) + static_cast<size_t>(x)] =
          src.At(static_cast<int>(from_x), static_cast<int>(from_y));
    }
  }
  return out;
}

namespace {

struct Drawings {
  std::mutex m;
  std::map<HWND, std::deque<DrawOp>> byWindow;
  std::atomic<uint64_t> version{1};
};
Drawings& D() {
  static Drawings* d = new Drawings;  // used at exit by the screen writer
  return *d;
}

}  // namespace

// Windows whose drawings are kept before the gone ones are swept out.
constexpr size_t kSweepAt = 64;

DrawOp ImageDraw(const RECT& dest, ImageRef image) {
  DrawOp op;
  op.kind = DrawOp::Kind::Image;
  op.rect = dest;
  op.image = std::move(image);
  return op;
}

void RecordDraw(HWND hwnd, DrawOp op) {
  if (!hwnd || (op.kind == DrawOp::Kind::Image && !op.image)) return;
  Drawings& d = D();
  std::lock_guard<std::mutex> g(d.m);
  if (d.byWindow.size() >= kSweepAt && !d.byWindow.count(hwnd)) {
    for (auto it = d.byWindow.begin(); it != d.byWindow.end();)
      it = IsWindow(it->first) ? std::next(it) : d.byWindow.erase(it);
  }
  auto& ops = d.byWindow[hwnd];
  ops.push_back(std::move(op));
  while (ops.size() > kMaxDrawOps) ops.pop_front();
  ++d.version;
}

void ClearDrawing(HWND hwnd) {
  Drawings& d = D();
  std::lock_guard<std::mutex> g(d.m);
  if (d.byWindow.erase(hwnd) != 0) ++d.version;
}

std::vector<DrawOp> DrawingOf(HWND hwnd) {
  Drawings& d = D();
  const bool live = IsWindow(hwnd) != FALSE;
  std::lock_guard<std::mutex> g(d.m);
  auto it = d.byWindow.find(hwnd);
  if (it == d.byWindow.end()) return {};
  if (!live) {  // a handle that went: its drawings go with it
    d.byWindow.erase(it);
    return {};
  }
  return std::vector<DrawOp>(it->second.begin(), it->second.end());
}

uint64_t DrawingVersion() { return D().version.load(); }

}  // namespace ui::gdi
