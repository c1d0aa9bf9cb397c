// Device-wide helpers of the program: storage cards and built-in storage,
// program folders and companion files, existence checks, local time texts,
// screen and power, the platform version, free space, the process list,
// copies of the program, the starter command and version resources.
// Every log line carries the class "System".
#pragma once

#include <vector>

#include "ce/cstring.h"
#include "ce/file.h"
#include "ce/types.h"
#include "core/DateTime.h"

namespace System {

// Storage and paths -------------------------------------------------------

// Every mounted storage card as "\" + folder name, in enumeration order.
std::vector<CString> FindStorageCard();
// Up to four built-in flash folder names (unused outputs stay untouched);
// false when none was found.
bool GetBuiltInStorageName(CString& name1, CString& name2, CString& name3, CString& name4,
                           bool trailingSlash);
// The path's first folder exists and carries the temporary attribute.
bool IsOnStorageCard(const CString& path);
// The path contains one of the built-in storage names.
bool IsOnBuiltInStorage(const CString& path);
// The running program's module path (fullPath) or its folder with a
// trailing backslash.
CString GetProgramPath(bool fullPath);
// The Windows folder with a trailing backslash ("\Windows\" as fallback).
CString GetWindowsFolder();
// Full path of a companion file: Windows folder, "\", the program's
// folder, the folder recorded under "csBackupEXEPath"; the name unchanged
// when it is found nowhere.
CString GetQuilmoProgramPath(const CString& name);
// "\" always exists; otherwise a find on the path. findData may be null.
bool FileExists(const CString& path, WIN32_FIND_DATAW* findData = nullptr);
// An empty path exists; otherwise FileExists and the directory attribute.
bool DirectoryExists(const CString& path, WIN32_FIND_DATAW* findData = nullptr);

// Time, screen, power, platform -------------------------------------------

ADateTime GetLocalTimeNow();
bool FormatDate(const ADateTime& dateTime, bool longForm, CString& text);
bool FormatTime(const ADateTime& dateTime, CString& text);
bool GetDayName(const ADateTime& dateTime, CString& text);
bool IsLandscape();
bool IsSquareScreen();
bool PowerOnDevice();
// 0x300, 0x310, 0x420, 0x421, 0x510 or 0 (unknown). Cached after the first
// success, except 0x421.
WORD GetPlatformVersionCode();
// Forgets the cached platform version code (tests, a changed device).
void ResetPlatformVersionCode();
// Total free bytes of "\"; false only when the path is not found.
bool CheckFreeSpace(ULONGLONG& totalFree);

// Processes ---------------------------------------------------------------

bool IsProcessRunning(const CString& exeName);
bool FindProcess(const CString& exeName);
bool IsHopperRunning();

// Copies of the program ---------------------------------------------------

// Folders end with a backslash. Files already at the destination are kept.
bool CopyProgramFiles(const CString& sourceFolder, const CString& destinationFolder);
bool CopySupportFiles(const CString& sourceFolder, const CString& destinationFolder);
bool DeleteProgramFiles(const CString& folder);
bool DeleteSupportFiles(const CString& folder);
bool SupportFilesInWindows();
bool InstallSupportFiles();
bool CopyProgramToStorageCard();
bool RemoveProgramFromStorageCard();

// Starter program ---------------------------------------------------------

// args may be null. Always true.
bool BuildStarterCommand(const CString& program, LPCWSTR args, bool withCards,
                         CString& starterPath, CString& commandLine);
bool RunQuilmoCommand(const CString& program, LPCWSTR args, bool withCards);
bool CreateQuilmoStartupShortcut(const CString& shortcutPath, const CString& program,
                                 LPCWSTR args, bool withCards);

// Versions and texts ------------------------------------------------------

// "1, 2, 3, 4" -> "1.2.3, Build 4".
CString FormatVersionText(const CString& text);
// One "name : version" line per installed part, each ended by CR LF.
CString GetInstalledVersionsText();
// The program's and the resource library's version texts shown by
// GetInstalledVersionsText; "Version not set" until the start-up sets them.
void SetInstalledVersionTexts(const CString& programVersion, const CString& resourceVersion);
CString ErrorCodeText(DWORD code);
// Converts the NUL-terminated text to the ANSI code page into buffer
// (capacity *inOutSize bytes); *inOutSize receives the length without
// the terminator. Returns the bytes written including the terminator. A
// text too long for the buffer is cut to fit and still terminated.
int ToNarrowText(LPCWSTR wideText, char* buffer, int* inOutSize);

}  // namespace System

// The fixed file information block of a version resource.
struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // 0xFEEF04BD
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// The version resource (id 1, RT_VERSION) of a module, parsed.
class VersionInfo {
 public:
  static constexpr int kFieldChars = 128;

  // Null module: the running program.
  explicit VersionInfo(HMODULE module);
  // Parses a version resource block held in memory.
  VersionInfo(const void* block, DWORD size);

  bool IsLoaded() const { return loaded; }

  VS_FIXEDFILEINFO fixedInfo;
  WCHAR CompanyName[kFieldChars];
  WCHAR FileDescription[kFieldChars];
  WCHAR FileVersion[kFieldChars];
  WCHAR InternalName[kFieldChars];
  WCHAR OriginalFilename[kFieldChars];
  WCHAR ProductName[kFieldChars];
  WCHAR ProductVersion[kFieldChars];
  WCHAR LegalCopyright[kFieldChars];
  bool loaded;

 private:
  void Clear();
  bool Parse(const BYTE* data, DWORD size);
  WCHAR* FieldByName(const WCHAR* key, size_t keyLen);
};
