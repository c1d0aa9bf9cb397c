// Modules and their resources.
//
// A module is a device file: a host executable or shared object, or a
// stand-alone resource container. Its resources live in a container
// (ce/resformat.h), appended to the file or making up the whole file.
//
// Name search (LoadLibraryW, LoadLibraryExW): a name that starts with "\"
// is a device path; any other name is tried in the running program's folder,
// then in "\Windows", then in "\". A name whose last component has no "."
// gets ".dll" appended first.
//
// Module handles are never reused within a process: a handle freed to zero
// references fails later calls with ERROR_INVALID_HANDLE. Loading the same
// file again in the same way returns the same handle with one more
// reference. The running program is a module too (GetModuleHandleW(nullptr));
// a null module handle in the resource calls means the running program,
// whose container is read from its own executable.
#pragma once

#include "ce/types.h"

// Cast to the entry's real type before calling (void(*)() casts without warnings).
typedef void (*FARPROC)();

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002

#define RT_BITMAP MAKEINTRESOURCE(2)
#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_RCDATA MAKEINTRESOURCE(10)
#define RT_GROUP_ICON MAKEINTRESOURCE(14)
#define RT_VERSION MAKEINTRESOURCE(16)
// Our own dialog descriptions (readable templates for the window layer).
#define RT_TEMPLATE MAKEINTRESOURCE(256)

#define LANG_NEUTRAL 0x00
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

// Loads a code library: the device file is a host shared object, opened
// with dlopen; its resources (if any) are available too. Fails with
// ERROR_MOD_NOT_FOUND when no file is found and ERROR_BAD_EXE_FORMAT when
// it is not a loadable library.
HMODULE LoadLibraryW(LPCWSTR name);
// With LOAD_LIBRARY_AS_DATAFILE (or DONT_RESOLVE_DLL_REFERENCES) only the
// resources are mapped; no code runs. A data load fails with
// ERROR_FILE_NOT_FOUND when the file is missing and ERROR_BAD_EXE_FORMAT
// when it is neither an executable nor a resource container. hFile must be
// null (ERROR_INVALID_PARAMETER).
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE hFile, DWORD flags);
// Drops one reference; at zero the library is closed.
BOOL FreeLibrary(HMODULE module);
// nullptr: the running program. A name: a loaded module whose device path
// or file name equals it ignoring case (".dll" appended as above); null
// with ERROR_MOD_NOT_FOUND otherwise. No reference is added.
HMODULE GetModuleHandleW(LPCWSTR name);

// A code library may export `BOOL DllMain(HANDLE module, DWORD reason,
// LPVOID)`: it is called with DLL_PROCESS_ATTACH after loading (FALSE fails
// the load with ERROR_DLL_INIT_FAILED) and DLL_PROCESS_DETACH before the
// last FreeLibrary closes it.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

// C-linkage exports of a code library (or of the running program).
// Data modules and ordinals fail (ERROR_INVALID_HANDLE, ERROR_PROC_NOT_FOUND).
FARPROC GetProcAddressA(HMODULE module, LPCSTR procName);
FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);
inline FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  return GetProcAddressA(module, procName);
}
inline FARPROC GetProcAddress(HMODULE module, LPCWSTR procName) {
  return GetProcAddressW(module, procName);
}

// Device path of the module in stored case (nullptr: the running program).
// Copies at most size - 1 characters plus a NUL and returns the characters
// copied; when the path does not fit it is cut, ERROR_INSUFFICIENT_BUFFER is
// set and size is returned. 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

// name and type are MAKEINTRESOURCE ids or names ("#123" is id 123; names
// compare ignoring case). Fails with ERROR_RESOURCE_TYPE_NOT_FOUND when the
// module holds no resource of the type, else ERROR_RESOURCE_NAME_NOT_FOUND.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
// The same for one language (LANG_NEUTRAL accepts any); else
// ERROR_RESOURCE_LANG_NOT_FOUND.
HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
// The resource's bytes; valid while the module stays loaded.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// String id -> text. Copies at most size - 1 characters plus a NUL and
// returns the characters copied (0 when the string is missing or empty).
// size 0: *(LPCWSTR*)buffer receives a read-only pointer to the string
// (NUL-terminated, valid while the module stays loaded) and the full length
// is returned.
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);

#ifndef ERROR_RESOURCE_LANG_NOT_FOUND
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L
#endif
#ifndef ERROR_DLL_INIT_FAILED
#define ERROR_DLL_INIT_FAILED 1114L
#endif

namespace ce {

// The class library's current resource module: where resources of the
// running program's user interface are looked up. Starts as the running
// program; SetResourceModule(nullptr) goes back to it.
void SetResourceModule(HMODULE module);
HMODULE GetResourceModule();

}  // namespace ce
