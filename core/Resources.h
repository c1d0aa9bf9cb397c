// Where the program's texts and bitmaps come from. The search asks, in
// this order, and the first hit wins:
//   - the override table of the custom resource XML (only when it holds
//     any entry of the kind asked for);
//   - the extra resource libraries (at most kMaxResourceLibraries, the
//     custom resource library among them), newest first;
//   - the main resource library.
// Libraries are loaded as data files. The state is process-wide.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "core/ResBitmap.h"
#include "core/ResourceXML.h"

inline constexpr int kMaxResourceLibraries = 10;

// Each argument may be null or empty for none. Loads the main library
// (replacing one loaded before), adds the custom library, empties the
// override table and reads the custom XML. False at the first step that
// fails (the last error tells why for a library).
bool InitResources(LPCWSTR mainLibrary, LPCWSTR customLibrary, LPCWSTR customXml);
// Appends an extra library. False when kMaxResourceLibraries are held
// (ERROR_TOO_MANY_MODULES) or the library does not load.
bool AddResourceLibrary(LPCWSTR path);
// Frees the extra libraries (count 0) and, when asked, the main library.
void UnloadResourceLibraries(bool freeMain);
// Reads a custom resource XML into the override table (see
// AResourceXML::Load).
bool LoadResOverrides(LPCWSTR path);

// The text of a string id; false (text unchanged) when no source has it.
bool LookupResString(DWORD id, CString& text);
// The bitmap of an id. An override whose file does not load is logged and
// the libraries are searched next; the class library's resource module is
// switched to each library for its load and restored afterwards.
bool LoadResBitmap(DWORD id, AResBitmap& bitmap);
// A named bitmap: each extra library, newest first, then the main library
// (the override file maps ids only).
bool LoadResBitmap(LPCWSTR name, AResBitmap& bitmap);

// The main library (null before InitResources loaded one), the number of
// extra libraries, and the process-wide override table.
HMODULE GetMainResourceLibrary();
int GetResourceLibraryCount();
AResourceXML& GetResourceOverrides();
