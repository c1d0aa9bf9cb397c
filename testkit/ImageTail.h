// Ends an image a test writes the way the imaging task ends a backup: the
// index stored, the write buffer flushed, the tail header written plain
// with the index body's length and the image's CRC (header only: the tests
// that use it link the image library).
#pragma once

#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"

namespace quilmo::test {

// The index enciphered when encipher is set. False when a step fails; the
// image stays open either way.
inline bool StoreIndexAndTail(AImageFile& image, Index& index, bool encipher) {
  DWORD length = 0;
  if (!index.Store(image, encipher, &length) || !image.FlushWriteBuffer()) return false;
  AImageFileHeader tail(END_OF_IMAGE, length, 0, 0, image.GetCRC(), 0);
  return tail.WritePlain(image);
}

}  // namespace quilmo::test
