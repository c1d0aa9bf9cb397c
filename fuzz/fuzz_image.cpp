// Fuzz entry points for the image readers. Each input is a whole image
// file, written to a scratch device made once per process.
//   FuzzHeaderCheck: IsBackupFile, the first header and the tail header.
//   FuzzIndexLoad:   Index::Load at the start and Index::Locate through the
//                    tail, plain and deciphered, then walks the tree.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_device.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"

namespace {

void Walk(Index& index) {
  if (index.NodeCount() == 0) return;
  int visited = 0;
  for (int n = index.NextInSubtree(0, 0); n != -1; n = index.NextInSubtree(0, n)) ++visited;
  if (visited >= index.NodeCount()) abort();  // the walk visits each node below the root once
  index.PopulateSelected();
  index.StoredSize();
}

}  // namespace

int FuzzHeaderCheck(const uint8_t* data, size_t size) {
  PutFuzzImage(data, size);
  AImageFile::IsBackupFile(kFuzzImagePath);
  AImageFile image(kFuzzImagePath, AImageFile::kRestore);
  if (!image.Open()) return 0;
  AImageFileHeader first;
  first.ReadPlain(image);
  if (image.SetFilePointer(-80, FILE_END)) {
    AImageFileHeader tail;
    tail.ReadPlain(image);
  }
  image.Close();
  return 0;
}

int FuzzIndexLoad(const uint8_t* data, size_t size) {
  PutFuzzImage(data, size);
  for (bool decipher : {false, true}) {
    InitCipherKey(decipher, decipher ? u"fuzz" : nullptr);
    AImageFile image(kFuzzImagePath, AImageFile::kRestore);
    if (!image.Open()) return 0;
    Index index;
    index.Load(image, decipher);
    Walk(index);
    index.Locate(image, decipher);
    Walk(index);
    image.Close();
  }
  return 0;
}
