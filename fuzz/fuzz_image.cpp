// Fuzz entry points for the image readers. Each input is a whole image
// file, written to a scratch device made once per process.
//   FuzzHeaderCheck: IsBackupFile, the first header and the tail header.
//   FuzzIndexLoad:   Index::Load at the start and Index::Locate through the
//                    tail, plain and deciphered, then walks the tree.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "ce/msgbox.h"
#include "cesim/device.h"
#include "cesim/msgbox.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"

namespace {

const WCHAR kImagePath[] = u"\\fuzz.pbf";

class FuzzDevice {
 public:
  FuzzDevice() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quilmo-fuzz-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) abort();
    dir_ = tmpl;
    std::string error;
    if (!ce::Device::Create(dir_, ce::Profile{}, &error) || !ce::Device::Use(dir_)) abort();
    // Boxes of the log front end answer at once.
    ce::SetMessageBoxService([](const ce::MessageBoxRequest&) { return IDOK; });
  }
  ~FuzzDevice() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void Put(const uint8_t* data, size_t size) const {
    std::ofstream f(dir_ / "fs" / "fuzz.pbf", std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

 private:
  std::filesystem::path dir_;
};

const FuzzDevice& Device() {
  static FuzzDevice device;
  return device;
}

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
  Device().Put(data, size);
  AImageFile::IsBackupFile(kImagePath);
  AImageFile image(kImagePath, AImageFile::kRestore);
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
  Device().Put(data, size);
  for (bool decipher : {false, true}) {
    InitCipherKey(decipher, decipher ? u"fuzz" : nullptr);
    AImageFile image(kImagePath, AImageFile::kRestore);
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
