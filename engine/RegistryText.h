// Reading the text values that name device paths (the shell's folders, the
// mail client's folder, the database volume files, the hive locations).
#pragma once

#include "ce/cstring.h"
#include "ce/registry.h"
#include "ce/types.h"

// A REG_SZ or REG_EXPAND_SZ value of at most maxBytes bytes (a longer one
// counts as missing); empty when the key, the value or its text is missing.
// The key is only read, never created.
CString ReadRegistryText(HKEY root, LPCWSTR keyPath, LPCWSTR valueName, DWORD maxBytes = 2 * MAX_PATH);

// The path with a leading backslash added when it has none (empty stays
// empty).
CString WithLeadingBackslash(const CString& path);
