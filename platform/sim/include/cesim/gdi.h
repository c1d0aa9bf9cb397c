// What tests see of the simulator's drawing: the count of drawing calls and
// the pixels of bitmaps and image lists. What was drawn on windows goes to
// the screen file.
#pragma once

#include <cstdint>
#include <vector>

#include "ce/gdi.h"

namespace ce {

// Drawing calls made so far by this process.
uint64_t GdiDrawCallCount();

// The pixels of a live bitmap as the screen shows them: top-down rows of
// 0xAARRGGBB (alpha 255). False for no bitmap or one that does not decode.
bool BitmapPixels(HBITMAP bitmap, int* width, int* height, std::vector<uint32_t>* pixels);
// The same for image i of an image list (alpha 0 where it is transparent).
bool ImageListPixels(const void* imageList, int i, int* width, int* height, std::vector<uint32_t>* pixels);

}  // namespace ce
