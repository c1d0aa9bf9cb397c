// Files, folders, finds, attributes, times, share modes, free space and
// storage cards of the device.
//
// Bookkeeping (device.db):
//   file_meta(key, attributes, ctime, atime, wtime)  per file or folder, keyed
//     by the upper-cased device path. A file without a row reports ARCHIVE
//     and its host modification time for all three times; a folder without
//     a row reports DIRECTORY.
//   file_open(id, pid, start, key, access, share)    one row per open file
//     handle or hold. Rows of processes that ended are purged (a reused pid
//     does not count: the row keeps the process start time).
//
// Attributes: a new file gets the attributes asked for at creation;
// FILE_ATTRIBUTE_NORMAL (or 0) alone gives FILE_ATTRIBUTE_ARCHIVE.
// SetFileAttributesW stores exactly what it is given; a file left with no
// bits reports FILE_ATTRIBUTE_NORMAL. Card folders, "\Network" and the shares
// connected in it (ce/netconn.h) report
// DIRECTORY|TEMPORARY. Files in the profile's ROM list report READONLY|INROM
// (plus ROMMODULE for .exe and .dll) and refuse writes, deletes, moves and
// attribute changes with ERROR_ACCESS_DENIED.
//
// Times: writes through a handle set the last-write (and last-access) time
// when the handle is flushed or closed, unless SetFileTime set that time on
// the handle afterwards. Reading never changes the last-access time.
//
// Sharing: an open is refused with ERROR_SHARING_VIOLATION unless its access
// lies within the share mode of every other open of the file and theirs
// within its own. The profile's held_open files and the two live hive files
// count as held open by the system with no sharing.
//
// Paths: "\"-rooted; "/" is taken as "\"; every component is found ignoring
// case; names keep the case they were created with; at most MAX_PATH
// characters. Names with ':', '*', '?', '"', '<', '>', '|' or control
// characters are invalid (ERROR_INVALID_NAME).
#pragma once

#include <string>
#include <string_view>

#include "ce/hivepaths.h"
#include "ce/handle.h"  // CloseHandle
#include "ce/types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_INROM 0x00000040u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define FILE_ATTRIBUTE_ROMMODULE 0x00002000u

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// The device's find record: 560 bytes, little-endian, no padding.
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;
static_assert(sizeof(WIN32_FIND_DATAW) == 560);
static_assert(offsetof(WIN32_FIND_DATAW, ftCreationTime) == 4);
static_assert(offsetof(WIN32_FIND_DATAW, ftLastAccessTime) == 12);
static_assert(offsetof(WIN32_FIND_DATAW, ftLastWriteTime) == 20);
static_assert(offsetof(WIN32_FIND_DATAW, nFileSizeHigh) == 28);
static_assert(offsetof(WIN32_FIND_DATAW, nFileSizeLow) == 32);
static_assert(offsetof(WIN32_FIND_DATAW, dwOID) == 36);
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 40);

// Open or create a file. Dispositions as on the device: CREATE_NEW fails
// with ERROR_FILE_EXISTS; CREATE_ALWAYS and OPEN_ALWAYS on an existing file
// succeed with last error ERROR_ALREADY_EXISTS (0 when they created it).
// A folder cannot be opened (ERROR_ACCESS_DENIED).
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov);
// Fails with ERROR_DISK_FULL, writing nothing, when the data would not fit
// in the volume's configured capacity.
BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov);
DWORD SetFilePointer(HANDLE h, LONG distance, PLONG distanceHigh, DWORD method);
BOOL SetEndOfFile(HANDLE h);
DWORD GetFileSize(HANDLE h, LPDWORD sizeHigh);
BOOL GetFileTime(HANDLE h, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite);
// Null arguments leave that time as it is. Needs GENERIC_WRITE.
BOOL SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
BOOL FlushFileBuffers(HANDLE h);

// A pattern whose last component holds '*' or '?' lists a folder (sorted by
// name ignoring case; "*.*" also matches names without a dot); a plain path
// finds that one entry. No "." or ".." entries. Empty folder or no match:
// ERROR_NO_MORE_FILES; missing folder: ERROR_PATH_NOT_FOUND; "\" itself
// cannot be found.
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE h);

// Mounted storage cards (the profile's card folders that exist, in profile
// order) as find records; closed with FindClose.
HANDLE FindFirstFlashCard(LPWIN32_FIND_DATAW data);
BOOL FindNextFlashCard(HANDLE h, LPWIN32_FIND_DATAW data);

DWORD GetFileAttributesW(LPCWSTR name);
BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes);

// One level; an existing folder or file fails with ERROR_ALREADY_EXISTS.
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES sa);
// Fails with ERROR_DIR_NOT_EMPTY when not empty; "\" and card folders
// cannot be removed (ERROR_ACCESS_DENIED).
BOOL RemoveDirectoryW(LPCWSTR name);
BOOL DeleteFileW(LPCWSTR name);
// Files and folders; keeps attributes and times. Target exists:
// ERROR_ALREADY_EXISTS.
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
// Carries attributes (without the ROM bits) and the three times. An
// existing target with failIfExists: ERROR_FILE_EXISTS; a read-only
// target: ERROR_ACCESS_DENIED.
BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
// Puts the file source in the place of the existing file dest in one step:
// dest then holds source's content, attributes and times, and source is
// gone; a reset finds either the old dest and source or the new dest. Both
// must be files on the same volume: a folder, a ROM file or a read-only
// dest ERROR_ACCESS_DENIED, a missing one ERROR_FILE_NOT_FOUND, different
// volumes ERROR_NOT_SAME_DEVICE, either held open without delete sharing
// ERROR_SHARING_VIOLATION.
BOOL DeleteAndRenameFile(LPCWSTR dest, LPCWSTR source);

// Free space of the volume holding path (a card when its first component is
// a card folder, else the object store). With a capacity in the profile the
// three figures are capacity minus the bytes of the volume's files;
// otherwise the host file system's figures. Missing path:
// ERROR_PATH_NOT_FOUND.
BOOL GetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree);

#define CreateFile CreateFileW
#define FindFirstFile FindFirstFileW
#define FindNextFile FindNextFileW
#define GetFileAttributes GetFileAttributesW
#define SetFileAttributes SetFileAttributesW
#define CreateDirectory CreateDirectoryW
#define RemoveDirectory RemoveDirectoryW
#define DeleteFile DeleteFileW
#define MoveFile MoveFileW
#define CopyFile CopyFileW
#define GetDiskFreeSpaceEx GetDiskFreeSpaceExW
typedef WIN32_FIND_DATAW WIN32_FIND_DATA;
typedef LPWIN32_FIND_DATAW LPWIN32_FIND_DATA;

// The live registry hive paths (held open by the system): ce/hivepaths.h.
// Holds and storage cards are the simulator's controls: cesim/file.h.
