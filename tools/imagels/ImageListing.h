// What a backup image holds, as its content index says: one line per
// stored node, "KIND NAME" (file, directory, registry, mail, database ...),
// in the index's order. Used by the imagels tool, on the device in use.
#pragma once

#include <string>
#include <vector>

#include "ce/cstring.h"

namespace imagels {

// The lines of the image at path (a device path). password: the image's
// password, empty for an image without one. False with *error set when the
// image cannot be opened or its index not read (a wrong password reads as
// an unreadable index).
bool ListImage(const CString& path, const CString& password, std::vector<std::string>* lines,
               std::string* error);

// The word a node's kind prints as ("file", "directory", ... or its number).
std::string KindWord(unsigned type);

}  // namespace imagels
