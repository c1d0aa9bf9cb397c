#include "image/BackupLocation.h"

#include <algorithm>

#include "ce/errors.h"
#include "ce/shell.h"
#include "ce/time.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/Localizer.h"
#include "core/System.h"
#include "image/File.h"
#include "image/ImageFile.h"

namespace {

constexpr const WCHAR* kManagementClass = u"AFileManagement";
constexpr const WCHAR* kDefaultPathValue = u"csDefaultBackupFilename";
constexpr const WCHAR* kStandardNetworkFolder = u"\\Network";
constexpr UINT kIdsDefaultFileName = 57662;
constexpr UINT kIdsHostPlace = 65257;
constexpr UINT kIdsNetworkFolder = 65312;
constexpr int kDateSuffixLength = 11;  // "_YYYY-MM-DD"
constexpr ULONGLONG kKB = 1024;
constexpr ULONGLONG kMB = 1024 * 1024;
constexpr ULONGLONG kAllocationReserve = 102400;
constexpr DWORD kSkippedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_INROM |
                                     FILE_ATTRIBUTE_TEMPORARY;

// Logs of the default-location search carry no class name.
void LogPlain(const CString& text, int line) { Log(0, text, nullptr, line); }

bool IsDigit(WCHAR c) { return c >= u'0' && c <= u'9'; }

bool EndsWithDateSuffix(const CString& name) {
  if (name.GetLength() < kDateSuffixLength) return false;
  CString tail = name.Right(kDateSuffixLength);
  for (int i = 0; i < kDateSuffixLength; ++i) {
    WCHAR c = tail[i];
    bool ok = (i == 0) ? c == u'_' : (i == 5 || i == 8) ? c == u'-' : IsDigit(c);
    if (!ok) return false;
  }
  return true;
}

// The four built-in storage names, "Not set" where one is missing.
void ReadBuiltInStorageNames(CString names[4]) {
  for (int i = 0; i < 4; ++i) names[i] = u"Not set";
  System::GetBuiltInStorageName(names[0], names[1], names[2], names[3], false);
  CString text;
  text.Format(u"Looking for built-in storage: %s, %s, %s, %s", names[0].GetString(),
              names[1].GetString(), names[2].GetString(), names[3].GetString());
  LogPlain(text, __LINE__);
}

bool IsBuiltInStorageName(const CString& folder, const CString names[4]) {
  for (int i = 0; i < 4; ++i)
    if (folder.CompareNoCase(names[i]) == 0) return true;
  return false;
}

// Calls visit for every entry of the root folder until it returns false.
template <class Visit>
void WalkRoot(Visit visit) {
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(u"\\*.*", &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (!visit(data)) break;
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

ULONGLONG FileTimeValue(const FILETIME& t) {
  return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

int AsInt(ULONGLONG value) {
  return static_cast<int>(std::min<ULONGLONG>(value, 0x7FFFFFFF));
}

}  // namespace

// ---- ABackupFilePath --------------------------------------------------------

ABackupFilePath::ABackupFilePath() : m_FileName(kDefaultFileName) {}

void ABackupFilePath::SetFileName(const CString& name) {
  SetName(name, false);
  m_FileName = GetName();
}

void ABackupFilePath::AppendDateSuffix() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  AppendDateSuffix(now.wYear, now.wMonth, now.wDay);
}

void ABackupFilePath::AppendDateSuffix(int year, int month, int day) {
  CString name = GetName();
  if (name.IsEmpty()) name = m_FileName;
  if (EndsWithDateSuffix(name)) name = name.Left(name.GetLength() - kDateSuffixLength);
  name.AppendFormat(u"_%04d-%02d-%02d", year, month, day);
  SetName(name, false);
}

CString ABackupFilePath::GetDisplayName() const {
  if (!IsOnHost()) return GetFullPath();
  return Localizer::LoadResString(kIdsHostPlace) + u": " + GetFullPath();
}

bool ABackupFilePath::FindDefaultBackupLocation(bool useRegistry, bool builtInStorageOnly) {
  LogPlain(u"Generating default backup filename", __LINE__);
  CString text;
  bool located = false;

  if (builtInStorageOnly) {
    SetFileName(Localizer::LoadResString(kIdsDefaultFileName));
    CString names[4];
    ReadBuiltInStorageNames(names);
    WalkRoot([&](const WIN32_FIND_DATAW& data) {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
      CString folder = CString(u"\\") + data.cFileName;
      LogPlain(CString(u"Checking - ") + folder, __LINE__);
      if (!IsBuiltInStorageName(folder, names)) return true;
      LogPlain(u"Built-in storage located", __LINE__);
      SetFolder(folder);
      located = true;
      return false;
    });
    if (!located) return false;
    SetOnHost(false);
  } else {
    if (useRegistry) {
      LogPlain(u"Searching registry for default", __LINE__);
      ABackupRegistrySettings settings(kSettingsKeyKind);
      CString stored;
      if (settings.ReadString(kDefaultPathValue, stored, MAX_PATH) && !stored.IsEmpty()) {
        ABackupFilePath candidate;
        candidate.Set(stored, false);
        if (System::DirectoryExists(candidate.GetFolder(false))) {
          text.Format(u"Default location from registry: %s", stored.GetString());
          LogPlain(text, __LINE__);
          Set(stored, false);
          m_FileName = GetName();
          SetOnHost(GetFolder().IsEmpty());
          located = true;
        }
      }
    }
    if (!located) {
      LogPlain(u"Searching for storage cards, IPSM", __LINE__);
      SetFileName(Localizer::LoadResString(kIdsDefaultFileName));
      CString localizedNetwork = CString(u"\\") + Localizer::LoadResString(kIdsNetworkFolder);
      text.Format(u"Standard Network Folder: %s, Localized Network Folder: %s",
                  kStandardNetworkFolder, localizedNetwork.GetString());
      LogPlain(text, __LINE__);
      CString names[4];
      ReadBuiltInStorageNames(names);

      CString candidate;
      WalkRoot([&](const WIN32_FIND_DATAW& data) {
        const DWORD mounted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
        if ((data.dwFileAttributes & mounted) != mounted) return true;
        CString folder = CString(u"\\") + data.cFileName;
        if (folder.CompareNoCase(kStandardNetworkFolder) == 0 ||
            folder.CompareNoCase(localizedNetwork) == 0)
          return true;
        text.Format(u"Found : %s", folder.GetString());
        LogPlain(text, __LINE__);
        candidate = folder;
        if (IsBuiltInStorageName(folder, names)) return true;
        LogPlain(u"Folder is not IPSM, must be storage card", __LINE__);
        return false;
      });

      if (candidate.IsEmpty()) {
        if (!GetAllowBackupToMainMemory()) {
          LogPlain(u"No valid backup locations located", __LINE__);
          return false;
        }
        WCHAR documents[MAX_PATH + 1] = {};
        if (!SHGetSpecialFolderPath(nullptr, documents, CSIDL_PERSONAL, FALSE)) {
          LogPlain(u"No valid backup locations located", __LINE__);
          return false;
        }
        candidate = documents;
        // The folder without a trailing backslash (SetFolder adds one).
        candidate.TrimRight(u'\\');
        if (candidate.IsEmpty()) candidate = u"\\";
      }
      SetFolder(candidate);
      SetOnHost(false);
    }
  }

  SetExtension(kImageExtension);
  text.Format(u"Extension has been set to %s", GetExtension().GetString());
  LogPlain(text, __LINE__);
  if (useRegistry) {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    settings.WriteString(kDefaultPathValue, GetFullPath());
  }
  text.Format(u"Backup location located: %s", GetFullPath().GetString());
  LogPlain(text, __LINE__);
  return true;
}

// ---- AFileManagement --------------------------------------------------------

AFileManagement::AFileManagement(const BackupOptionsBlock& options, const CString& currentImagePath)
    : m_Options(options), m_CurrentImage(currentImagePath, false) {}

bool AFileManagement::CalculateSpaceOccupied(ULONGLONG newImageSize, bool addingOne,
                                             ULONGLONG* bytes) {
  return ProcessBackupFiles(newImageSize, addingOne, false, bytes);
}

bool AFileManagement::RemoveOldBackupFiles(ULONGLONG newImageSize, bool addingOne,
                                           ULONGLONG* bytes) {
  return ProcessBackupFiles(newImageSize, addingOne, true, bytes);
}

bool AFileManagement::ListBackupFiles() {
  m_Files.clear();
  CString folder = m_CurrentImage.GetFolder(false);
  if (folder.IsEmpty()) {
    LogError(0, u"File Management: no backup folder", kManagementClass, __LINE__);
    return false;
  }
  if (folder != u"\\") folder += u"\\";
  CString current = m_CurrentImage.GetFullPath();

  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(folder + u"*.*", &data);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // An empty or missing folder holds no old images.
    if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND ||
        error == ERROR_PATH_NOT_FOUND)
      return true;
    LogError(error, CString(u"File Management: cannot list ") + folder, kManagementClass,
             __LINE__);
    return false;
  }
  do {
    if (data.dwFileAttributes & kSkippedAttributes) continue;
    CString path = folder + data.cFileName;
    if (path.CompareNoCase(current) == 0) continue;
    CString ending = CString(data.cFileName).Right(3);
    if (ending != u"exe" && ending != u"pbf") continue;
    if (!AImageFile::IsBackupFile(path)) continue;
    m_Files.push_back(sArrayData{path, data});
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

bool AFileManagement::RemoveOldest(bool remove, ULONGLONG* size) {
  auto oldest = m_Files.begin();
  for (auto it = m_Files.begin(); it != m_Files.end(); ++it)
    if (FileTimeValue(it->findData.ftLastWriteTime) <
        FileTimeValue(oldest->findData.ftLastWriteTime))
      oldest = it;
  *size = oldest->Size();
  bool removed = true;
  if (remove) {
    AFile file(oldest->path);
    if (file.Delete()) {
      Log(0, CString(u"Old Backup File Deleted - ") + oldest->path, kManagementClass, __LINE__);
    } else {
      LogError(file.GetError(), u"File Management: Error deleting old backup file",
               kManagementClass, __LINE__);
      removed = false;
    }
  }
  m_Files.erase(oldest);
  return removed;
}

bool AFileManagement::ProcessBackupFiles(ULONGLONG newImageSize, bool addingOne, bool remove,
                                         ULONGLONG* bytes) {
  *bytes = 0;
  Log(0,
      remove ? u"Removing old backup files" : u"Calculating space occupied by old backup files",
      kManagementClass, __LINE__);
  if (!ListBackupFiles()) return false;

  ULONGLONG occupied = 0;
  for (const sArrayData& f : m_Files) occupied += f.Size();
  CString text;
  text.Format(u"Space Occupied by %d Backup Files: %d KB", static_cast<int>(m_Files.size()),
              AsInt(occupied / kKB));
  Log(0, text, kManagementClass, __LINE__);

  if (m_Options.manageFileQuantity) {
    text.Format(u"File Management: Max. Backup files = %d",
                AsInt(m_Options.manageFileQuantityQuantity));
    Log(0, text, kManagementClass, __LINE__);
    LONGLONG excess = static_cast<LONGLONG>(m_Files.size()) + (addingOne ? 1 : 0) -
                      static_cast<LONGLONG>(m_Options.manageFileQuantityQuantity);
    for (; excess > 0 && !m_Files.empty(); --excess) {
      ULONGLONG size = 0;
      if (RemoveOldest(remove, &size)) *bytes += size;
    }
  }

  if (m_Options.manageFileSize) {
    ULONGLONG allocationMB = m_Options.manageFileSizeSize;
    text.Format(u"File Management: Backup space allocated = %d KB", AsInt(allocationMB * kKB));
    Log(0, text, kManagementClass, __LINE__);
    if (allocationMB == 0) {
      ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
      CString folder = m_CurrentImage.GetFolder(false);
      if (!GetDiskFreeSpaceExW(folder, &freeToCaller, &total, &totalFree)) {
        LogError(GetLastError(), CString(u"GetDiskFreeSpaceEx failed on ") + folder,
                 kManagementClass, __LINE__);
        return false;
      }
      ULONGLONG available = freeToCaller.QuadPart + occupied;
      // Below the reserve nothing can be allocated (no unsigned wrap).
      allocationMB = available > kAllocationReserve ? (available - kAllocationReserve) / kMB : 0;
      text.Format(u"Set size to : %dKB ", AsInt(allocationMB * kKB));
      Log(0, text, kManagementClass, __LINE__);
      text.Format(u"backups : %d", AsInt(occupied / kKB));
      Log(0, text, kManagementClass, __LINE__);
      text.Format(u"freespace : %d", AsInt(freeToCaller.QuadPart / kKB));
      Log(0, text, kManagementClass, __LINE__);
      Log(0, folder, kManagementClass, __LINE__);
    }
    ULONGLONG allocationKB = allocationMB * kMB / kKB;
    ULONGLONG newKB = std::min(newImageSize / kKB, allocationKB);
    ULONGLONG listedKB = 0;
    for (const sArrayData& f : m_Files) listedKB += f.Size() / kKB;
    LONGLONG excessKB = static_cast<LONGLONG>(newKB + listedKB) - static_cast<LONGLONG>(allocationKB);
    while (excessKB > 0 && !m_Files.empty()) {
      ULONGLONG size = 0;
      if (!RemoveOldest(remove, &size)) continue;  // still occupies its space
      *bytes += size;
      excessKB -= static_cast<LONGLONG>(size / kKB);
    }
  }
  return true;
}
