#include "engine/BackupHistory.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/System.h"

namespace {

constexpr const WCHAR *kClass = u"ABackupHistoryHandler";

// The path up to and including its last backslash; empty without one.
CString FolderOf(const CString &path) {
  const int slash = path.ReverseFind(u'\\');
  return slash < 0 ? CString() : path.Left(slash + 1);
}

// The remembered folder, when the value is present and names a folder.
bool RememberedFolder(CString &folder) {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  return settings.ReadString(ABackupHistoryHandler::kFolderValue, folder) &&
         System::DirectoryExists(folder);
}

// The history folder beside the program recorded under "csBackupEXEPath".
bool FolderBesideRecordedProgram(CString &folder) {
  ABackupRegistrySettings shared(kSharedKeyKind);
  CString exePath;
  if (!shared.ReadString(GetBackupEXEPathValueName(), exePath))
    return false;
  folder = FolderOf(exePath) + ABackupHistoryHandler::kFolderName;
  return System::DirectoryExists(folder);
}

} // namespace

ABackupHistoryHandler::ABackupHistoryHandler() { Locate(); }

ABackupHistoryHandler::~ABackupHistoryHandler() = default;

void ABackupHistoryHandler::Locate() {
  m_csFolder.Empty();
  m_bFound = false;
  const CString programFolder = System::GetProgramPath(false);

  CString folder;
  if (RememberedFolder(folder)) {
    m_csFolder = folder;
    m_bFound = true;
    return;
  }
  if (FolderBesideRecordedProgram(folder)) {
    Remember(folder);
    return;
  }
  for (const CString &candidate :
       {programFolder + kFolderName, CString(u"\\Windows\\") + kFolderName}) {
    if (System::DirectoryExists(candidate)) {
      Remember(candidate);
      return;
    }
  }
}

bool ABackupHistoryHandler::CreateFolder() {
  const CString folder = System::GetProgramPath(false) + kFolderName;
  if (!System::DirectoryExists(folder) && !CreateDirectoryW(folder, nullptr)) {
    Log(GetLastError(), u"Unable to create the history folder " + folder,
        kClass, __LINE__);
    m_csFolder.Empty();
    return false;
  }
  Remember(folder);
  return true;
}

bool ABackupHistoryHandler::RotateReports() {
  if (!m_bFound)
    return false;
  bool ok = true;
  for (int n = kReportsKept - 1; n >= 0; --n) {
    const CString path = ReportPath(m_csFolder, n);
    if (!System::FileExists(path))
      continue;
    // A report that cannot be moved would be overwritten by the next one
    // down, so the rotation reports the failure.
    const BOOL moved = n == kReportsKept - 1
                           ? DeleteFileW(path)
                           : MoveFileW(path, ReportPath(m_csFolder, n + 1));
    if (!moved) {
      Log(GetLastError(), u"Unable to move the report " + path, kClass,
          __LINE__);
      ok = false;
    }
  }
  return ok;
}

CString ABackupHistoryHandler::ReportPath(const CString &folder, int number) {
  if (number == 0)
    return folder + kReportFileName;
  CString path;
  path.Format(u"%s%d.txt",
              static_cast<LPCWSTR>(folder + u"\\" + kReportBaseName), number);
  return path;
}

void ABackupHistoryHandler::Remember(const CString &folder) {
  m_csFolder = folder;
  m_bFound = true;
  ABackupRegistrySettings settings(kSettingsKeyKind);
  if (!settings.WriteString(kFolderValue, folder))
    Log(GetLastError(), u"Unable to remember the history folder", kClass,
        __LINE__);
}
