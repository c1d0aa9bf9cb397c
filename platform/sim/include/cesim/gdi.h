// The simulator's count of drawing calls (nothing is rasterised, so the
// count is what shows that a program drew).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ce/gdi.h"

namespace ce {

// Drawing calls made so far by this process.
uint64_t GdiDrawCallCount();

// What a window shows of what was drawn on it: the drawing of its last
// paint (BeginPaint starts it afresh) and whatever was drawn through GetDC
// since, in the window's client coordinates, for the screen file. Drawing
// on memory DCs is not kept.
struct DrawOp {
  enum class Kind {
    Line,   // from (rect.left, rect.top) to (rect.right, rect.bottom) in color
    Fill,   // rect filled with color
    Frame,  // rect outlined in color
    Text,   // text in rect in color and font; format: DT_* alignment
  };
  Kind kind = Kind::Line;
  RECT rect{};
  COLORREF color = 0;
  std::u16string text;
  UINT format = 0;
  LONG fontHeight = 0;  // |lfHeight|; 0: the default
  bool bold = false, underline = false;
};
std::vector<DrawOp> WindowDrawing(HWND hwnd);

}  // namespace ce
