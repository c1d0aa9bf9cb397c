// The device registry.
//
// Each hive is one SQLite file inside the device tree at its live hive path:
// HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT and HKEY_USERS share the system hive,
// HKEY_CURRENT_USER has the user hive. HKLM "init\BootVars" holds the matching
// "SystemHive" = "Documents and Settings\system.hv" and "ProfileDir" =
// "Documents and Settings" (written by the device tool). A hive file is made on
// first use. Hive files use a rollback journal, so no side file stays beside
// them while the registry is idle; several processes may use one hive at once.
// A hive file replaced as a file (copy, restore, boot) is picked up on the next
// call.
//
// Key and value names compare ignoring case and keep the case they were made
// with. Subkey paths are "\"-separated; empty components are skipped. Keys and
// values enumerate in creation order (a value set again keeps its place).
// Every call returns an error number (ERROR_SUCCESS on success) and sets the
// last error to it as well.
#pragma once

#include <string_view>

#include "ce/hivepaths.h"
#include "ce/types.h"

typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)(LONG)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)(LONG)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)(LONG)0x80000002)
#define HKEY_USERS ((HKEY)(ULONG_PTR)(LONG)0x80000003)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7

#define REG_CREATED_NEW_KEY 1L
#define REG_OPENED_EXISTING_KEY 2L

#define REG_OPTION_NON_VOLATILE 0L
#define REG_OPTION_VOLATILE 1L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0xF003F

// Access masks and options are accepted and not enforced (as on the device).
// Security-attribute arguments take null or a SECURITY_ATTRIBUTES pointer and
// are ignored.

// Opens subKey below key, creating every missing level. disposition (may be
// null) receives REG_CREATED_NEW_KEY when the last level was made.
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM sam, LPVOID securityAttributes, HKEY* result, LPDWORD disposition);
// Opens an existing key; ERROR_FILE_NOT_FOUND when any level is missing.
// A null or empty subKey opens a new handle to key itself.
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, HKEY* result);
// Closing a predefined root succeeds and does nothing.
LONG RegCloseKey(HKEY key);

// Reads a value (null or "" names the default value). With data null and
// dataSize given, reports the size. A buffer too small gives ERROR_MORE_DATA
// with the needed size in *dataSize; a missing value ERROR_FILE_NOT_FOUND.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
// Stores dataSize raw bytes of any type (REG_SZ callers include the NUL).
// A value name over 255 characters gives ERROR_INVALID_PARAMETER.
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
// Deletes subKey with everything below it. An empty subKey deletes key itself
// (a hive's root cannot be deleted: ERROR_ACCESS_DENIED). Handles still open
// on a deleted key then fail with ERROR_KEY_DELETED.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);

// Enumerates subkeys by index. *nameSize holds the buffer size in characters
// (NUL included) and receives the name length (NUL excluded). A buffer too
// small gives ERROR_MORE_DATA and *nameSize = the name length; past the end
// ERROR_NO_MORE_ITEMS. Class and time outputs are returned empty.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                   LPWSTR keyClass, LPDWORD classSize, LPFILETIME lastWriteTime);
// Enumerates values by index; name as for RegEnumKeyExW, data as for
// RegQueryValueExW (ERROR_MORE_DATA when either buffer is too small).
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD dataSize);
// Counts and maximum lengths (names in characters without the NUL, data in
// bytes); class, security and time outputs are returned empty.
LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                      LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values,
                      LPDWORD maxValueNameLen, LPDWORD maxValueLen, LPDWORD securityDescriptorSize,
                      LPFILETIME lastWriteTime);
// Every change is committed when its call returns; this only checks the key.
LONG RegFlushKey(HKEY key);

// Writes a consistent copy of the whole hive holding key to the device path
// file, in the live hive format (a copy can be put in place as a live hive or
// opened with ce::RegOpenHiveFile). An existing file gives
// ERROR_ALREADY_EXISTS, a missing folder ERROR_PATH_NOT_FOUND.
LONG RegSaveKeyW(HKEY key, LPCWSTR file, LPVOID securityAttributes);

// Replaces the system hive with newFile at the next boot, before any
// process opens the registry (the file is copied into place; it stays
// where it is). Only HKEY_LOCAL_MACHINE with no subKey and no oldFile is
// supported (else ERROR_INVALID_PARAMETER). newFile must be a hive file:
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing, ERROR_BADDB
// when it is none. A later call replaces an earlier pending one.
LONG RegReplaceKeyW(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile);

namespace ce {

// The live registry hive paths (held open by the system): ce/hivepaths.h.

// Opens a hive file (a saved hive, or a live one) at a device path and returns
// a handle to one of its roots: root is HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT,
// HKEY_USERS or HKEY_CURRENT_USER, or null for the hive's first root. The
// handle works with every call above and is closed with RegCloseKey.
// ERROR_FILE_NOT_FOUND when the file or that root is missing, ERROR_BADDB
// when the file is no hive.
LONG RegOpenHiveFile(LPCWSTR file, HKEY root, HKEY* result);

}  // namespace ce
