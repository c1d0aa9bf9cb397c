#include "tools/imagels/ImageListing.h"

#include "ce/text.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"

namespace imagels {

std::string KindWord(unsigned type) {
  switch (type) {
    case DIRECTORY_ENTRY:
      return "directory";
    case FILE_ENTRY:
      return "file";
    case REGISTRY_KEY_ENTRY:
    case TREE_REGISTRY_ITEM:
      return "registry";
    case TREE_FILESYSTEM:
      return "filesystem";
    case TREE_REGISTRY:
      return "registry-root";
    case TREE_MAIL:
      return "mail";
    case TREE_DBVOLUME_FILE:
      return "volume";
    case TREE_DBVOLUMES:
      return "volumes";
    case TREE_DATABASE_GROUP:
      return "database-group";
    case TREE_DATABASE:
      return "database";
    case TREE_DATABASES:
      return "databases";
    case TREE_ROOT:
      return "root";
    default:
      return std::to_string(type);
  }
}

bool ListImage(const CString& path, const CString& password, std::vector<std::string>* lines,
               std::string* error) {
  const bool encrypted = !password.IsEmpty();
  if (!InitCipherKey(encrypted, encrypted ? password.GetString() : nullptr)) {
    *error = "the cipher key could not be made";
    return false;
  }
  AImageFile image(AImageFile::kRestore, AImageFile::kLocal);
  image.SetFileName(path);
  if (!image.Open()) {
    *error = "cannot open " + ce::ToUtf8(path.GetString());
    return false;
  }
  Index index;
  const bool loaded = index.Locate(image, true);
  // Opened for reading only: a failed close loses nothing.
  (void)image.Close();
  if (!loaded) {
    *error = "no content index could be read from " + ce::ToUtf8(path.GetString());
    return false;
  }
  lines->clear();
  for (int n = 0; n < index.NodeCount(); ++n)
    lines->push_back(KindWord(index.NodeType(n)) + " " + ce::ToUtf8(index.NodeName(n)));
  return true;
}

}  // namespace imagels
