// The unattended backup's run: the main program's side of AUnattendedBackup
// (built into the main program's library, beside the password dialog and
// the global state it fills).
#include <memory>

#include "app/PasswordDlg.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/LeftoverCopies.h"
#include "engine/RebootController.h"
#include "engine/TaskHostLink.h"
#include "hostlink/HostConnection.h"
#include "image/Cipher.h"
#include "image/InclusionList.h"
#include "scheduling/UnattendedBackup.h"

namespace {

const WCHAR kClass[] = u"AUnattendedBackup";

// Operation descriptions of the task: a scheduled and a battery-triggered
// backup.
constexpr DWORD kIdsScheduledBackup = 65288;
constexpr DWORD kIdsBatteryBackup = 65289;

bool Fail(const CString& text) {
  LogError(0, CString(u"AUnattendedBackup : ") + text, kClass, __LINE__);
  return false;
}

// The stored (or command-line) option set as the run reads it.
struct OptionSet {
  DWORD options = 0;
  CString fileName;
  bool reset = false;
  bool remote = false;
  CString inclusionList;
};

struct IncludedParts {
  bool databases = true;
  bool fileSystem = true;
  bool registry = true;
  bool mail = true;
};

IncludedParts ReadIncludedParts() {
  IncludedParts parts;
  parts.databases = GetIncludeDatabases();
  parts.fileSystem = GetIncludeFileSystem();
  parts.registry = GetIncludeRegistry();
  parts.mail = GetIncludeMail();
  return parts;
}

// The backup options and the image path; the date suffix for a stored
// path when the options ask for it.
bool ApplyOptionSet(AGlobal& g, const OptionSet& set, const CString& key, bool commandLine) {
  g.g_BackupOptions.UnpackOptions(set.options);
  ABackupFilePath& image = g.g_Operation.imagePath;
  image.Set(set.fileName, false);
  image.SetBaseName(image.GetName());
  CString text;
  text.Format(u"Read %s from key %s", image.GetFullPath().GetString(), key.GetString());
  Log(set.options, text, kClass, __LINE__);
  if (image.GetFullPath().IsEmpty()) return Fail(u"Run - BackupFilePath is empty");
  if (!commandLine && g.g_BackupOptions.IsOptionOn(kOptionAppendDate)) image.AppendDateSuffix();
  return true;
}

// The program's inclusion list from path (none for an empty path); none
// from an earlier run stays.
bool LoadInclusionList(AGlobal& g, const CString& path) {
  g.g_pInclusionList.reset();
  if (path.IsEmpty()) return true;
  Log(0, u"Run - InclusionList defined", kClass, __LINE__);
  g.g_pInclusionList = std::make_unique<AInclusionList>(path);
  if (!g.g_pInclusionList->Load()) {
    g.g_pInclusionList.reset();
    return Fail(path);
  }
  return true;
}

// The descriptor's annotation: the kind of run, the local time and the
// short date.
void SetOperationDescription(AGlobal& g) {
  CString text = Localizer::LoadResString(g.g_bBatteryTriggered ? kIdsBatteryBackup : kIdsScheduledBackup);
  const ADateTime now = System::GetLocalTimeNow();
  CString time, date;
  // A text the locale cannot give stays empty; the description is only shown.
  static_cast<void>(System::FormatTime(now, time));
  static_cast<void>(System::FormatDate(now, false, date));
  text += u" ";
  text += time;
  text += u" ";
  text += date;
  g.g_Operation.SetAnnotation(text.view());  // kept to 255 characters
}

// An unattended backup of the included parts, locally or through a host
// link: the command line's choice, else the stored remote mode.
void SetOperation(AGlobal& g, const IncludedParts& parts, bool commandLine, bool storedRemote) {
  OperationDescriptor& op = g.g_Operation;
  op.operationKind = kOperationBackup;
  op.includeDatabases = parts.databases ? 1 : 0;
  op.includeFileSystem = parts.fileSystem ? 1 : 0;
  op.includeRegistry = parts.registry ? 1 : 0;
  op.includeMail = parts.mail ? 1 : 0;
  op.taskStartMode = kStartAtOnce;
  const bool remote = commandLine ? g.g_bRemote : storedRemote;
  op.hostMode = remote ? kHostModeRemote : kHostModeLocal;
  int link = remote ? kHostDetailsRemoteOptions : kHostDetailsNone;
  if (commandLine && g.g_bServerBackup) {
    Log(0, u"Server backup detected", kClass, __LINE__);
    link = kHostDetailsAgentServer;
  }
  g.g_HostDetailsSource = link;
}

// The password: asked for on the command line, else the stored one of
// scheduled backups; without one the backup is not enciphered. Keys the
// image cipher.
bool SetUpEncryption(AGlobal& g, bool commandLine) {
  CString password;
  if (g.g_BackupOptions.IsOptionOn(kOptionEncrypt)) {
    Log(0, u"Encryption Flag set", kClass, __LINE__);
    if (commandLine) {
      CPasswordDlg dialog;
      if (dialog.DoModal() != IDOK) return Fail(u"User cancelled password dialog not performing command line backup");
      password = g.g_csTaskPassword;
    } else {
      Log(0, u"Not CommandLine", kClass, __LINE__);
      if (!CPasswordDlg::ReadScheduledPassword(password))
        Log(0, u"No scheduled password, disabling encryption", kClass, __LINE__);
    }
  }
  g.g_bEncrypt = !password.IsEmpty();
  g.SetTaskPassword(password);
  if (!InitCipherKey(g.g_bEncrypt, g.g_bEncrypt ? g.g_csTaskPassword.GetString() : nullptr))
    return Fail(u"Run - InitCipherKey failed");
  return true;
}

// The host in force, also kept in the descriptor for the run after the
// reset.
void LoadHostLink(AGlobal& g) {
  LoadTaskHostDetails(g);
  if (g.g_HostDetailsSource == kHostDetailsNone) return;
  g.g_Operation.SetHostName(AHostConnection::GetHostName().view());
  g.g_Operation.hostPort = AHostConnection::GetPort();
}

// Unless it has happened already, the operation's reset: location 2000,
// the boot-time copies, the state saved; the backup runs after it.
bool RequestOperationReset(AGlobal& g) {
  RebootController& controller = RebootController::Instance();
  if (controller.HasPassedLocation(RebootController::kOperationLocation)) return true;
  controller.AdvanceLocation(RebootController::kOperationLocation);
  RemoveLeftoverBootCopies();
  // Files whose copy could not be queued are left out as locked ones.
  if (!g.g_WorkingIndex.AddBootCopiesForBackup())
    LogError(0, u"AUnattendedBackup : Run - boot-time copies not registered", kClass, __LINE__);
  Log(0, u"Rebooting", kClass, __LINE__);
  if (!RebootSequence::Instance().ShutdownAndReboot(true, true)) return Fail(u"Run - the device was not reset");
  return true;
}

}  // namespace

bool AUnattendedBackup::Run() {
  AGlobal& g = GetGlobal();
  g.g_bUnattended = true;
  const IncludedParts parts = ReadIncludedParts();

  SetCommandLineMode(g.g_bCommandLineBackup, g.g_Operation.imagePath.GetFullPath());
  OptionSet set;
  if (!RetrieveScheduledBackupOptions(set.options, set.fileName, set.reset, set.remote, set.inclusionList))
    return ::Fail(u"Run - RetrieveScheduledBackupOptions failed");
  if (!ApplyOptionSet(g, set, m_Key, m_bCommandLine) || !LoadInclusionList(g, set.inclusionList)) return false;
  SetOperationDescription(g);
  SetOperation(g, parts, m_bCommandLine, set.remote);
  g.g_WorkingIndex.AddTopLevelComponents(g.g_pInclusionList.get());
  Log(0, u"Encryption testing..", kClass, __LINE__);
  if (!SetUpEncryption(g, m_bCommandLine)) return false;
  LoadHostLink(g);
  return RequestOperationReset(g);
}
