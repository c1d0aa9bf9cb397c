// Pixels of the drawing layer: bitmaps decoded to 32-bit pixels, and what
// programs drew into their windows (lines, rectangles, texts, bitmap copies,
// image-list images) for the screen file. Internal to the drawing layer and the screen writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ce/gdi.h"

namespace ui::gdi {

// Top-down rows of 0xAARRGGBB; alpha 0 is transparent, 255 opaque.
struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> argb;
  uint32_t At(int x, int y) const { return argb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};
using ImageRef = std::shared_ptr<const Image>;

// Largest side of a bitmap the layer decodes.
inline constexpr int kMaxBitmapSide = 4096;

// Decodes a packed bitmap (uncompressed 1/4/8/16/24/32 bits per pixel,
// bottom-up or top-down). False for anything malformed or compressed.
bool DecodeDib(std::string_view dib, Image* out);
// The part (sx, sy, w, h) of an image scaled to dw x dh (nearest pixel);
// parts outside the image are transparent.
Image Crop(const Image& src, int sx, int sy, int w, int h, int dw, int dh);

// The decoded pixels of a live bitmap (null for none or undecodable).
ImageRef BitmapImage(HBITMAP bitmap);

// A DC's window for a drawing call, counted as one (null for a memory or
// screen DC; HWND(-1) with ERROR_INVALID_HANDLE for no DC).
HWND DrawTarget(HDC hdc);

// The images of a live image list (cx 0 and none for no list).
struct ImageListView {
  int cx = 0, cy = 0;
  std::vector<ImageRef> images;
};
ImageListView ImageListImages(const void* himl);
// The size of a live image list's images (false for none; no last error).
bool ImageListSize(const void* himl, int* cx, int* cy);

// Tells the window layer how this layer measures text and images (once).
void InstallDrawingMetrics();

// One drawing a program made into a window, in the window's client
// coordinates: what its last paint drew (BeginPaint starts it afresh) and
// whatever was drawn through GetDC since. Drawing on memory DCs is not kept.
struct DrawOp {
  enum class Kind {
    Line,   // from (rect.left, rect.top) to (rect.right, rect.bottom) in color
    Fill,   // rect filled with color
    Frame,  // rect outlined in color
    Text,   // text in rect in color and font; format: DT_* alignment
    Image,  // image copied into rect (image is rect's size)
  };
  Kind kind = Kind::Line;
  RECT rect{};
  COLORREF color = 0;
  std::u16string text;
  UINT format = 0;
  LONG fontHeight = 0;  // |lfHeight|; 0: the default
  bool bold = false, underline = false;
  ImageRef image;  // Kind::Image only
};
// An image copied into dest.
DrawOp ImageDraw(const RECT& dest, ImageRef image);
// Records a drawing into a window (kept at most kMaxDrawOps per window, the
// oldest dropped); nothing for a null window or an image draw without one.
inline constexpr size_t kMaxDrawOps = 256;
void RecordDraw(HWND hwnd, DrawOp op);
// Forgets a window's drawings (its paint starts afresh).
void ClearDrawing(HWND hwnd);
// The drawings of a live window, oldest first.
std::vector<DrawOp> DrawingOf(HWND hwnd);
// Grows whenever any window's drawing changes.
uint64_t DrawingVersion();

}  // namespace ui::gdi
