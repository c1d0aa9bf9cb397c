// Creation of the XML DOM document for CoCreateInstance.
#pragma once

#include "ce/com.h"

namespace ce::detail {

HRESULT CreateDomDocument(REFIID iid, void** object);

}  // namespace ce::detail
