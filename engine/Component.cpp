// Reading the entry an index item points at.
#include "engine/Component.h"

#include "ce/errors.h"
#include "core/Log.h"

bool ReadIndexedEntryHeader(AImageFile& image, const Index::Item& item, AImageFileHeader& header,
                            LPCWSTR className, const CString& readFailDetail) {
  if (!image.SetFilePointer(static_cast<LONG>(item.fileOffset), FILE_BEGIN)) {
    LogError(GetLastError(), u"Restore - SetFilePointer(FileOffset) failed", className, __LINE__);
    return false;
  }
  if (!header.ReadDeciphered(image)) {
    LogError(GetLastError(), CString(u"Restore - Read on Header to image file failed") + readFailDetail,
             className, __LINE__);
    return false;
  }
  if (header.ComponentType() != item.ComponentType) {
    CString text;
    text.Format(u"header mismatch Index Type %u Header type %u", item.ComponentType, header.ComponentType());
    LogError(0, text, className, __LINE__);
    return false;
  }
  return true;
}
