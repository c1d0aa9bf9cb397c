#include "core/System.h"

#include <cstring>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/handle.h"
#include "ce/module.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/wstring.h"
#include "core/Log.h"
#include "core/Path.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"

namespace {

const WCHAR kClass[] = u"System";

const WCHAR* const kProgramFiles[] = {u"Quilmo Backup.exe", u"Halvey.exe", u"QuilmoBackup.xml",
                                      u"Ombric.exe"};
const WCHAR* const kSupportFiles[] = {u"QuilmoRes.dll", u"QuilmoStart.exe", u"QuilmoInit.exe"};
const WCHAR* const kVersionListedFiles[] = {u"Merrow.exe", u"QuilmoStart.exe", u"Halvey.exe",
                                            u"Ombric.exe"};
const WCHAR* const kBuiltInStorageCandidates[] = {u"iPAQ File Store", u"\\Built-in Storage",
                                                  u"\\hp safe store",  u"\\NATE Store",
                                                  u"\\safestore",      u"\\swingstore"};

WORD g_platformVersionCode = 0;
CString g_programVersionText = u"Version not set";
CString g_resourceVersionText = u"Version not set";

bool EndsWithBackslash(const CString& s) {
  return !s.IsEmpty() && s[s.GetLength() - 1] == u'\\';
}

// A device path is rooted; names given without the root are taken below "\".
CString Rooted(const CString& s) {
  if (!s.IsEmpty() && s[0] == u'\\') return s;
  return CString(u"\\") + s;
}

CString SpecialFolder(int csidl) {
  WCHAR buf[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPath(nullptr, buf, csidl, FALSE)) return CString();
  return CString(buf);
}

template <size_t N>
bool CopyFiles(const WCHAR* const (&files)[N], const CString& source, const CString& destination) {
  for (const WCHAR* name : files) {
    if (System::FileExists(destination + name)) continue;
    CString text;
    if (CopyFileW(source + name, destination + name, FALSE)) {
      text.Format(u"Successfully copied %s to %s", name, static_cast<LPCWSTR>(destination));
      Log(0, text, kClass, __LINE__);
    } else {
      DWORD err = GetLastError();
      text.Format(u"Failed to copy %s to %s", name, static_cast<LPCWSTR>(destination));
      Log(err, text, kClass, __LINE__);
      return false;
    }
  }
  return true;
}

template <size_t N>
bool DeleteFiles(const WCHAR* const (&files)[N], const CString& folder) {
  for (const WCHAR* name : files) {
    CString path = folder + name;
    if (System::FileExists(path) && !DeleteFileW(path)) return false;
  }
  return true;
}

// The folder path without a trailing backslash ("\" stays).
CString WithoutTrailingBackslash(const CString& folder) {
  if (folder.GetLength() > 1 && EndsWithBackslash(folder)) return folder.Left(folder.GetLength() - 1);
  return folder;
}

// The card target folder of the program: first card + Program Files +
// "\Quilmo Backup\". Empty when no card is mounted.
bool CardTarget(CString& cardFolder, CString& target) {
  std::vector<CString> cards = System::FindStorageCard();
  if (cards.empty()) return false;
  cardFolder = cards.front() + SpecialFolder(CSIDL_PROGRAM_FILES);
  target = cardFolder + u"\\Quilmo Backup\\";
  return true;
}

}  // namespace

namespace System {

// Storage and paths -------------------------------------------------------

std::vector<CString> FindStorageCard() {
  std::vector<CString> cards;
  WIN32_FIND_DATAW fd{};
  HANDLE h = FindFirstFlashCard(&fd);
  if (h == INVALID_HANDLE_VALUE) return cards;
  do {
    if (fd.cFileName[0] != 0) cards.push_back(CString(u"\\") + fd.cFileName);
  } while (FindNextFlashCard(h, &fd));
  FindClose(h);
  return cards;
}

bool GetBuiltInStorageName(CString& name1, CString& name2, CString& name3, CString& name4,
                           bool trailingSlash) {
  CString* outs[4] = {&name1, &name2, &name3, &name4};
  int found = 0;
  auto take = [&](CString name) {
    if (found >= 4) return;
    name = Rooted(name);
    if (trailingSlash && !EndsWithBackslash(name)) name += u"\\";
    *outs[found++] = name;
  };

  for (const WCHAR* candidate : kBuiltInStorageCandidates)
    if (DirectoryExists(Rooted(candidate))) take(candidate);

  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\FlshDrv", 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    Log(static_cast<DWORD>(rc),
        u"System::GetBuiltInStorageName(): Unable to open Built-in flash drive Key", kClass,
        __LINE__);
  } else {
    WCHAR value[MAX_PATH + 1] = {};
    DWORD type = 0, size = MAX_PATH * sizeof(WCHAR);
    rc = RegQueryValueExW(key, u"FolderName", nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
      Log(static_cast<DWORD>(rc), u"System::GetBuiltInStorageName(): Error getting FolderName",
          kClass, __LINE__);
    } else {
      value[MAX_PATH] = 0;
      CString folder(value);
      if (!folder.IsEmpty() && IsOnStorageCard(folder)) take(folder);
    }
  }
  return found > 0;
}

bool IsOnStorageCard(const CString& path) {
  CString rest = path;
  if (!rest.IsEmpty() && rest[0] == u'\\') rest = rest.Mid(1);
  int slash = rest.Find(u'\\');
  CString root = CString(u"\\") + (slash < 0 ? rest : rest.Left(slash));
  if (root.GetLength() <= 1) return false;
  DWORD attrs = GetFileAttributesW(root);
  return attrs != 0xFFFFFFFFu && (attrs & FILE_ATTRIBUTE_TEMPORARY) != 0;
}

bool IsOnBuiltInStorage(const CString& path) {
  CString names[4];
  if (!GetBuiltInStorageName(names[0], names[1], names[2], names[3], false)) return false;
  for (const CString& n : names)
    if (!n.IsEmpty() && path.Find(n) >= 0) return true;
  return false;
}

CString GetProgramPath(bool fullPath) {
  WCHAR buf[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, buf, MAX_PATH);
  CString path(buf);
  if (fullPath) return path;
  return path.Left(path.ReverseFind(u'\\') + 1);
}

CString GetWindowsFolder() {
  CString folder = SpecialFolder(CSIDL_WINDOWS);
  if (folder.IsEmpty()) return u"\\Windows\\";
  if (!EndsWithBackslash(folder)) folder += u"\\";
  return folder;
}

CString GetQuilmoProgramPath(const CString& name) {
  CString windows = SpecialFolder(CSIDL_WINDOWS);
  if (windows.IsEmpty()) windows = u"\\Windows";
  CString candidates[3] = {windows + u"\\" + name, CString(u"\\") + name,
                           GetProgramPath(false) + name};
  for (const CString& c : candidates)
    if (FileExists(c)) return c;

  ABackupRegistrySettings shared(kSharedKeyKind, u"");
  CString exePath;
  shared.GetString(GetBackupEXEPathValueName(), exePath, u"", MAX_PATH);
  int slash = exePath.ReverseFind(u'\\');
  if (slash >= 0) {
    CString c = exePath.Left(slash + 1) + name;
    if (FileExists(c)) return c;
  }
  Log(0, CString(u"GetQuilmoProgramPath : Couldn't find ") + name, kClass, __LINE__);
  return name;
}

bool FileExists(const CString& path, WIN32_FIND_DATAW* findData) {
  if (path == u"\\") return true;
  return ::GetFindData(path, findData);
}

bool DirectoryExists(const CString& path, WIN32_FIND_DATAW* findData) {
  if (path.IsEmpty()) return true;
  WIN32_FIND_DATAW fd{};
  CString p = WithoutTrailingBackslash(path);
  if (p == u"\\") {
    fd.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  } else if (!FileExists(p, &fd) || !(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  if (findData) std::memcpy(findData, &fd, sizeof(WIN32_FIND_DATAW));
  return true;
}

// Time, screen, power, platform -------------------------------------------

ADateTime GetLocalTimeNow() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return ADateTime(st);
}

bool FormatDate(const ADateTime& dateTime, bool longForm, CString& text) {
  SYSTEMTIME st{};
  if (!dateTime.GetAsSystemTime(&st)) return false;
  WCHAR buf[256] = {};
  if (!GetDateFormatW(LOCALE_USER_DEFAULT, longForm ? DATE_LONGDATE : DATE_SHORTDATE, &st, nullptr,
                      buf, 256))
    return false;
  text = buf;
  return true;
}

bool FormatTime(const ADateTime& dateTime, CString& text) {
  SYSTEMTIME st{};
  if (!dateTime.GetAsSystemTime(&st)) return false;
  WCHAR buf[256] = {};
  if (!GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf, 256)) return false;
  text = buf;
  return true;
}

bool GetDayName(const ADateTime& dateTime, CString& text) {
  SYSTEMTIME st{};
  if (!dateTime.GetAsSystemTime(&st)) return false;
  // The locale numbers the day names from Monday (1) to Sunday (7).
  DWORD item = LOCALE_SDAYNAME1 + (st.wDayOfWeek + 6) % 7;
  WCHAR buf[256] = {};
  if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, item, buf, 256)) return false;
  text = buf;
  return true;
}

bool IsLandscape() { return GetSystemMetrics(SM_CXSCREEN) > GetSystemMetrics(SM_CYSCREEN); }

bool IsSquareScreen() { return GetSystemMetrics(SM_CXSCREEN) == GetSystemMetrics(SM_CYSCREEN); }

bool PowerOnDevice() {
  if (SetSystemPowerState(u"on", POWER_STATE_ON, POWER_FORCE)) return true;
  return SetSystemPowerState(nullptr, POWER_STATE_ON, POWER_FORCE) != FALSE;
}

WORD GetPlatformVersionCode() {
  if (g_platformVersionCode != 0) return g_platformVersionCode;
  OSVERSIONINFOW vi{};
  vi.dwOSVersionInfoSize = sizeof(vi);
  if (!GetVersionExW(&vi)) return 0;
  WCHAR platform[MAX_PATH] = {};
  if (!SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof(platform), platform, 0)) return 0;

  WORD code = 0;
  if (_wcsicmp(platform, u"Smartphone") == 0) {
    if (vi.dwMajorVersion == 3) code = 0x300;
    else if (vi.dwMajorVersion == 4) code = 0x420;
    else if (vi.dwMajorVersion == 5) code = 0x510;
  } else if (_wcsicmp(platform, u"PocketPC") == 0) {
    if (vi.dwMajorVersion == 3) code = vi.dwMinorVersion == 0 ? 0x300 : vi.dwMinorVersion == 1 ? 0x310 : 0;
    else if (vi.dwMajorVersion == 4) code = vi.dwMinorVersion == 21 ? 0x421 : 0x420;
    else if (vi.dwMajorVersion == 5) code = 0x510;
  } else {
    Log(0, u"**Unable to determine version**", kClass, __LINE__);
    return 0;
  }
  if (code != 0x421) g_platformVersionCode = code;
  return code;
}

void ResetPlatformVersionCode() { g_platformVersionCode = 0; }

bool CheckFreeSpace(ULONGLONG& totalFree) {
  Log(0, u"Checking available space", kClass, __LINE__);
  ULARGE_INTEGER freeToCaller{}, total{}, free{};
  if (!GetDiskFreeSpaceExW(u"\\", &freeToCaller, &total, &free)) {
    DWORD err = GetLastError();
    Log(err, u"GetDiskFreeSpaceEx() failed", kClass, __LINE__);
    return err != ERROR_PATH_NOT_FOUND;
  }
  totalFree = free.QuadPart;
  return true;
}

// Processes ---------------------------------------------------------------

namespace {

// Walks an open snapshot; true when exeName is among the processes.
// logFirstFailure: a failing first step is logged.
bool WalkSnapshot(HANDLE snapshot, const CString& exeName, bool logFirstFailure) {
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  if (!Process32FirstW(snapshot, &pe)) {
    if (logFirstFailure) {
      DWORD err = GetLastError();
      CString text;
      text.Format(u"Process32First() failed (0x%08X)", err);
      Log(err, text, kClass, __LINE__);
    }
    return false;
  }
  do {
    if (_wcsicmp(pe.szExeFile, exeName) == 0) return true;
    pe.dwSize = sizeof(pe);
  } while (Process32NextW(snapshot, &pe));
  return false;
}

}  // namespace

bool IsProcessRunning(const CString& exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  bool found = WalkSnapshot(snapshot, exeName, false);
  CloseToolhelp32Snapshot(snapshot);
  return found;
}

bool FindProcess(const CString& exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    Log(GetLastError(), u"CreateToolhelp32Snapshot() failed retrying in 20 milliseconds", kClass,
        __LINE__);
    Sleep(20);
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
      DWORD err = GetLastError();
      CString text;
      text.Format(u"Unable to create toolhelp snapshot (0x%08X)", err);
      LogError(err, text, kClass, __LINE__);
      return false;
    }
  }
  bool found = WalkSnapshot(snapshot, exeName, true);
  CloseToolhelp32Snapshot(snapshot);
  return found;
}

bool IsHopperRunning() {
  if (FindProcess(u"Hopper.exe")) {
    Log(0, u"Hopper.exe found", kClass, __LINE__);
    return true;
  }
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Hopper", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    RegCloseKey(key);
    return true;
  }
  Log(0, u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Hopper key not found", kClass, __LINE__);
  return false;
}

// Copies of the program ---------------------------------------------------

bool CopyProgramFiles(const CString& sourceFolder, const CString& destinationFolder) {
  return CopyFiles(kProgramFiles, sourceFolder, destinationFolder);
}

bool CopySupportFiles(const CString& sourceFolder, const CString& destinationFolder) {
  return CopyFiles(kSupportFiles, sourceFolder, destinationFolder);
}

bool DeleteProgramFiles(const CString& folder) { return DeleteFiles(kProgramFiles, folder); }

bool DeleteSupportFiles(const CString& folder) { return DeleteFiles(kSupportFiles, folder); }

bool SupportFilesInWindows() {
  CString windows = GetWindowsFolder();
  for (const WCHAR* name : kSupportFiles)
    if (!FileExists(windows + name)) return false;
  return true;
}

bool InstallSupportFiles() { return CopySupportFiles(GetProgramPath(false), GetWindowsFolder()); }

bool CopyProgramToStorageCard() {
  CString ownFolder = GetProgramPath(false);
  CString cardFolder, target;
  if (!CardTarget(cardFolder, target)) {
    Log(0, u"No Storage Card present- not copying files", kClass, __LINE__);
    return true;
  }
  if (target == ownFolder) return CopySupportFiles(GetWindowsFolder(), target);
  CreateDirectoryW(cardFolder, nullptr);
  CreateDirectoryW(WithoutTrailingBackslash(target), nullptr);
  if (!CopySupportFiles(GetWindowsFolder(), target)) return false;
  return CopyProgramFiles(ownFolder, target);
}

bool RemoveProgramFromStorageCard() {
  CString ownFolder = GetProgramPath(false);
  CString cardFolder, target;
  if (!CardTarget(cardFolder, target)) {
    Log(0, u"No Storage Card present- not copying files", kClass, __LINE__);
    return true;
  }
  if (target == ownFolder) return DeleteSupportFiles(target);
  bool programOk = DeleteProgramFiles(target);
  bool supportOk = DeleteSupportFiles(target);
  bool folderOk = RemoveDirectoryW(WithoutTrailingBackslash(target)) != FALSE;
  return programOk && supportOk && folderOk;
}

// Starter program ---------------------------------------------------------

bool BuildStarterCommand(const CString& program, LPCWSTR args, bool withCards,
                         CString& starterPath, CString& commandLine) {
  starterPath = GetQuilmoProgramPath(u"QuilmoStart.exe");
  CString programPath =
      (!program.IsEmpty() && program[0] == u'\\') ? program : GetQuilmoProgramPath(program);
  commandLine.Empty();
  if (withCards)
    for (const CString& card : FindStorageCard())
      commandLine += CString(u"\"/scard=") + card + u"\" ";
  commandLine += CString(u"/run \"") + programPath + u"\"";
  if (args && args[0]) commandLine += CString(u" /args ") + args;
  return true;
}

bool RunQuilmoCommand(const CString& program, LPCWSTR args, bool withCards) {
  CString starterPath, commandLine;
  BuildStarterCommand(program, args, withCards, starterPath, commandLine);
  Log(0, CString(u"RunQuilmoCommand [") + starterPath + u"] with args [" + commandLine + u"]",
      kClass, __LINE__);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(starterPath, commandLine, nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, nullptr, &pi)) {
    DWORD err = GetLastError();
    Log(err, CString(u"Error running : ") + starterPath + u" - cannot find Ombric", kClass,
        __LINE__);
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool CreateQuilmoStartupShortcut(const CString& shortcutPath, const CString& program, LPCWSTR args,
                                 bool withCards) {
  CString starterPath, commandLine;
  BuildStarterCommand(program, args, withCards, starterPath, commandLine);
  Log(0,
      CString(u"CreateQuilmoStartupShortcut [") + starterPath + u"] with args [" + commandLine +
          u"]",
      kClass, __LINE__);
  CString target = CString(u"\"") + starterPath + u"\"";
  if (!commandLine.IsEmpty()) target += CString(u" ") + commandLine;
  CString link = shortcutPath;
  if (!SHCreateShortcut(link.GetBuffer(link.GetLength() + 1),
                        target.GetBuffer(target.GetLength() + 1))) {
    Log(GetLastError(), u"SHCreateShortcut failed.", kClass, __LINE__);
    return false;
  }
  return true;
}

// Versions and texts ------------------------------------------------------

CString FormatVersionText(const CString& text) {
  CString out;
  int commas = 0;
  for (int i = 0; i < text.GetLength(); ++i) {
    WCHAR c = text[i];
    if (c == u' ') continue;
    if (c == u',') {
      out += ++commas == 3 ? u", Build " : u".";
      continue;
    }
    out += CString(c, 1);
  }
  return out;
}

void SetInstalledVersionTexts(const CString& programVersion, const CString& resourceVersion) {
  g_programVersionText = programVersion;
  g_resourceVersionText = resourceVersion;
}

CString GetInstalledVersionsText() {
  CString text = GetApplicationEXEName() + u" : " + g_programVersionText + u"\r\n";
  text += GetApplicationDLLName() + u" : " + g_resourceVersionText + u"\r\n";
  for (const WCHAR* name : kVersionListedFiles) {
    if (wcscmp(name, u"Merrow.exe") == 0 && !GetMerrowEnabled()) continue;
    text += CString(name) + u" : ";
    CString path = GetQuilmoProgramPath(name);
    if (!FileExists(path)) {
      text += u"Not installed";
    } else if (HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
      VersionInfo info(module);
      if (info.IsLoaded() && info.FileVersion[0] != 0) text += FormatVersionText(info.FileVersion);
      FreeLibrary(module);
    } else {
      text += u"Error loading file";
    }
    text += u"\r\n";
  }
  return text;
}

CString ErrorCodeText(DWORD code) {
  CString text;
  text.Format(u"%d", static_cast<int>(code));
  return text;
}

int ToNarrowText(LPCWSTR wideText, char* buffer, int* inOutSize) {
  int capacity = *inOutSize;
  int result = WideCharToMultiByte(CP_ACP, 0, wideText, -1, buffer, capacity, nullptr, nullptr);
  if (result == 0 && capacity > 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    // Too long for the buffer: keep the longest prefix that fits and end it.
    int chars = static_cast<int>(ce::StrLen(wideText));
    if (chars > capacity - 1) chars = capacity - 1;
    int bytes = 0;
    for (; chars > 0; --chars) {
      bytes = WideCharToMultiByte(CP_ACP, 0, wideText, chars, nullptr, 0, nullptr, nullptr);
      if (bytes > 0 && bytes <= capacity - 1) break;
    }
    if (chars > 0) WideCharToMultiByte(CP_ACP, 0, wideText, chars, buffer, capacity - 1, nullptr, nullptr);
    else bytes = 0;
    buffer[bytes] = 0;
    result = bytes + 1;
  } else if (result == 0 && capacity > 0) {
    buffer[0] = 0;
    result = 1;
  }
  *inOutSize = result > 0 ? result - 1 : 0;
  return result;
}

}  // namespace System

// VersionInfo -------------------------------------------------------------

namespace {

WORD ReadWord(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

DWORD Align4(DWORD offset) { return (offset + 3) & ~3u; }

// A NUL-terminated UTF-16 text at offset, bounded by end; its length in
// characters (without the NUL) goes to *chars.
std::u16string ReadText(const BYTE* data, DWORD offset, DWORD end, DWORD* chars) {
  std::u16string s;
  while (offset + 2 <= end) {
    WCHAR c = ReadWord(data + offset);
    if (c == 0) break;
    s.push_back(c);
    offset += 2;
  }
  *chars = static_cast<DWORD>(s.size());
  return s;
}

}  // namespace

VersionInfo::VersionInfo(HMODULE module) {
  Clear();
  HRSRC res = FindResourceW(module, MAKEINTRESOURCE(1), MAKEINTRESOURCE(16));
  if (!res) return;
  HGLOBAL global = LoadResource(module, res);
  if (!global) return;
  const void* data = LockResource(global);
  DWORD size = SizeofResource(module, res);
  if (data && size) loaded = Parse(static_cast<const BYTE*>(data), size);
}

VersionInfo::VersionInfo(const void* block, DWORD size) {
  Clear();
  if (block && size) loaded = Parse(static_cast<const BYTE*>(block), size);
}

void VersionInfo::Clear() {
  std::memset(&fixedInfo, 0, sizeof(fixedInfo));
  for (WCHAR* f : {CompanyName, FileDescription, FileVersion, InternalName, OriginalFilename,
                   ProductName, ProductVersion, LegalCopyright})
    std::memset(f, 0, sizeof(WCHAR) * kFieldChars);
  loaded = false;
}

WCHAR* VersionInfo::FieldByName(const WCHAR* key, size_t keyLen) {
  struct Field {
    std::u16string_view name;
    WCHAR* field;
  } fields[] = {{u"CompanyName", CompanyName},     {u"FileDescription", FileDescription},
                {u"FileVersion", FileVersion},     {u"InternalName", InternalName},
                {u"OriginalFilename", OriginalFilename}, {u"ProductName", ProductName},
                {u"ProductVersion", ProductVersion}, {u"LegalCopyright", LegalCopyright}};
  std::u16string_view k(key, keyLen);
  for (const Field& f : fields)
    if (f.name == k) return f.field;
  return nullptr;
}

bool VersionInfo::Parse(const BYTE* data, DWORD size) {
  static const char16_t kRootKey[] = u"VS_VERSION_INFO";
  bool keyOk = size >= 6 + 15 * 2;
  for (int i = 0; keyOk && i < 15; ++i) keyOk = ReadWord(data + 6 + 2 * i) == kRootKey[i];
  if (!keyOk) {
    OutputDebugStringW(u"Invalid KEY expected VS_VERSION_INFO\n");
    return false;
  }
  // Every offset stays inside the block as the resource and its own length
  // describe it.
  DWORD total = ReadWord(data);
  if (total == 0 || total > size) total = size;
  DWORD pos = 40;
  if (ReadWord(data + 2) != 0) {
    if (total < 92) return false;
    std::memcpy(&fixedInfo, data + 40, sizeof(fixedInfo));
    if (fixedInfo.dwSignature != 0xFEEF04BDu) return false;
    pos = 92;
  }
  while (pos + 6 <= total) {
    DWORD childLen = ReadWord(data + pos);
    if (childLen < 6) break;
    DWORD childEnd = pos + childLen < total ? pos + childLen : total;
    DWORD keyChars = 0;
    std::u16string key = ReadText(data, pos + 6, childEnd, &keyChars);
    if (key == u"StringFileInfo") {
      DWORD table = Align4(pos + 6 + (keyChars + 1) * 2);
      if (table + 6 <= childEnd) {
        DWORD tableLen = ReadWord(data + table);
        DWORD tableEnd = tableLen >= 6 && table + tableLen < childEnd ? table + tableLen : childEnd;
        DWORD tableKeyChars = 0;
        ReadText(data, table + 6, tableEnd, &tableKeyChars);
        DWORD entry = Align4(table + 6 + (tableKeyChars + 1) * 2);
        while (entry + 6 <= tableEnd) {
          DWORD entryLen = ReadWord(data + entry);
          if (entryLen < 6) break;
          DWORD entryEnd = entry + entryLen < tableEnd ? entry + entryLen : tableEnd;
          DWORD valueLen = ReadWord(data + entry + 2);
          DWORD nameChars = 0;
          std::u16string name = ReadText(data, entry + 6, entryEnd, &nameChars);
          std::u16string value;
          if (valueLen != 0) {
            DWORD valueChars = 0;
            value = ReadText(data, Align4(entry + 6 + (nameChars + 1) * 2), entryEnd, &valueChars);
            if (value.size() > valueLen) value.resize(valueLen);
          }
          if (WCHAR* field = FieldByName(name.data(), name.size())) {
            size_t n = value.size() < kFieldChars - 1 ? value.size() : kFieldChars - 1;
            std::memcpy(field, value.data(), n * sizeof(WCHAR));
            field[n] = 0;
          }
          entry = Align4(entry + entryLen);
        }
      }
    }
    pos = Align4(pos + childLen);
  }
  return true;
}
