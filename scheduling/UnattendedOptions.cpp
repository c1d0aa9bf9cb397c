// The stored option sets of the unattended backup (shared with the small
// programs; the run itself is the main program's, UnattendedRun.cpp).
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/ProgramGlobals.h"
#include "core/RegistrySettings.h"
#include "scheduling/UnattendedBackup.h"

namespace {

const WCHAR kClass[] = u"AUnattendedBackup";
constexpr int kStoredTextMax = MAX_PATH;  // characters read back

}  // namespace

void AUnattendedBackup::UseUnattendedKey() { m_Key = UnattendedNames::kUnattendedKey; }
void AUnattendedBackup::UseNextScheduleKey() { m_Key = UnattendedNames::kNextScheduleKey; }
void AUnattendedBackup::UseMerrowKey() { m_Key = UnattendedNames::kMerrowKey; }
void AUnattendedBackup::UseCommandLineKey() { m_Key = UnattendedNames::kCommandLineKey; }

void AUnattendedBackup::SetCommandLineMode(bool commandLine, const CString& imagePath) {
  m_bCommandLine = commandLine;
  m_CommandLineImagePath = commandLine ? imagePath : CString();
}

bool AUnattendedBackup::Fail(LPCWSTR text) const {
  LogError(0, CString(u"AUnattendedBackup : ") + text, kClass, __LINE__);
  return false;
}

bool AUnattendedBackup::StoreScheduledBackupOptions(DWORD options, const CString& fileName, bool reset,
                                                    bool remote, const CString& inclusionList) {
  if (m_Key.IsEmpty()) return Fail(u"StoreScheduledBackupOptions m_Key not set");
  ABackupRegistrySettings settings(kSettingsKeyKind, m_Key);
  if (!settings.WriteDWORD(UnattendedNames::kOptions, options) ||
      !settings.WriteString(UnattendedNames::kFilename, fileName) ||
      !settings.WriteBool(UnattendedNames::kScheduledReset, reset) ||
      !settings.WriteBool(UnattendedNames::kRemoteMode, remote))
    return Fail(u"StoreScheduledBackupOptions() Error setting values");
  if (!settings.WriteString(UnattendedNames::kInclusionList, inclusionList))
    return Fail(u"StoreScheduledBackupOptions() Error setting InclusionList");
  return true;
}

bool AUnattendedBackup::RetrieveScheduledBackupOptions(DWORD& options, CString& fileName, bool& reset,
                                                       bool& remote, CString& inclusionList) {
  if (m_Key.IsEmpty()) return Fail(u"RetrieveScheduledBackupOptions m_Key not set");
  CString text;
  text.Format(u"Retrieving %s from key %s", UnattendedNames::kOptions, m_Key.GetString());
  Log(0, text, kClass, __LINE__);

  ABackupRegistrySettings settings(kSettingsKeyKind, m_Key);
  DWORD storedOptions = 0;
  if (!settings.ReadDWORD(UnattendedNames::kOptions, storedOptions)) {
    if (!m_bCommandLine) return Fail(u"RetrieveScheduledBackupOptions() Error getting unattended options");
    storedOptions = GetKioskModeEnabled() ? kKioskCommandLineOptions : kCommandLineOptions;
  }
  Log(storedOptions, u"options ", kClass, __LINE__);

  CString storedName;
  if (m_bCommandLine) {
    storedName = m_CommandLineImagePath;
  } else if (!settings.ReadString(UnattendedNames::kFilename, storedName, kStoredTextMax)) {
    return Fail(u"RetrieveScheduledBackupOptions() Error getting filename");
  }

  bool storedReset = false, storedRemote = false;
  if (!settings.ReadBool(UnattendedNames::kScheduledReset, storedReset)) {
    if (!m_bCommandLine) return Fail(u"RetrieveScheduledBackupOptions() Error getting scheduled reset");
    storedReset = false;
  }
  if (!settings.ReadBool(UnattendedNames::kRemoteMode, storedRemote)) {
    if (!m_bCommandLine) return Fail(u"RetrieveScheduledBackupOptions() Error getting scheduled remote mode");
    storedRemote = false;
  }

  CString storedList;
  if (!settings.ReadString(UnattendedNames::kInclusionList, storedList, kStoredTextMax)) storedList.Empty();

  options = storedOptions;
  fileName = storedName;
  reset = storedReset;
  remote = storedRemote;
  inclusionList = storedList;
  return true;
}
