// The base of the engine's backup and restore components: the cancel flag
// that the imaging task sets and the component polls inside its loops.
#pragma once

#include "ce/cstring.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/Index.h"

class AComponent {
 public:
  virtual ~AComponent() = default;
  // Asks the running component to stop at its next check.
  virtual void Cancel() { m_bCancel = true; }
  void ClearCancel() { m_bCancel = false; }

 protected:
  bool m_bCancel = false;
};

// Moves the image to an index item's entry and reads the entry's header,
// which must be of the item's component type. False after logging the
// failure under className (readFailDetail follows the read failure's text).
bool ReadIndexedEntryHeader(AImageFile& image, const Index::Item& item, AImageFileHeader& header,
                            LPCWSTR className, const CString& readFailDetail = CString());
