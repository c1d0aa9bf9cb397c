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

}  // namespace

bool AUnattendedBackup::Run() {
  AGlobal& g = GetGlobal();
  g.g_bUnattended = true;
  const IncludedParts parts = ReadIncludedParts();

  SetCommandLineMode(g.g_bCommandLineBackup, g.g_Operation.imagePath.GetFullPath());
  DWORD options = 0;
  CString fileName, inclusionPath;
  bool reset = false, remote = false;
  if (!RetrieveScheduledBackupOptions(options, fileName, reset, remote, inclusionPath))
    return Fail(u"Run - RetrieveScheduledBackupOptions failed");

  // The options and the image path.
  g.g_BackupOptions.UnpackOptions(options);
  ABackupFilePath& image = g.g_Operation.imagePath;
  image.Set(fileName, false);
  image.SetBaseName(image.GetName());
  CString text;
  text.Format(u"Read %s from key %s", image.GetFullPath().GetString(), m_Key.GetString());
  Log(options, text, kClass, __LINE__);
  if (image.GetFullPath().IsEmpty()) return Fail(u"Run - BackupFilePath is empty");
  if (!m_bCommandLine && g.g_BackupOptions.IsOptionOn(kOptionAppendDate)) image.AppendDateSuffix();

  // The inclusion list limits the selection; none from an earlier run stays.
  g.g_pInclusionList.reset();
  if (!inclusionPath.IsEmpty()) {
    Log(0, u"Run - InclusionList defined", kClass, __LINE__);
    g.g_pInclusionList = std::make_unique<AInclusionList>(inclusionPath);
    if (!g.g_pInclusionList->Load()) {
      g.g_pInclusionList.reset();
      return Fail(inclusionPath);
    }
  }

  SetOperationDescription(g);

  // The operation: an unattended backup, locally or through a host link.
  OperationDescriptor& op = g.g_Operation;
  op.operationKind = kOperationBackup;
  op.includeDatabases = parts.databases ? 1 : 0;
  op.includeFileSystem = parts.fileSystem ? 1 : 0;
  op.includeRegistry = parts.registry ? 1 : 0;
  op.includeMail = parts.mail ? 1 : 0;
  op.taskStartMode = kStartAtOnce;
  int link = kHostDetailsNone;
  if (m_bCommandLine) {
    op.hostMode = g.g_bRemote ? kHostModeRemote : kHostModeLocal;
    if (g.g_bRemote) link = kHostDetailsRemoteOptions;
    if (g.g_bServerBackup) {
      Log(0, u"Server backup detected", kClass, __LINE__);
      link = kHostDetailsAgentServer;
    }
  } else {
    op.hostMode = remote ? kHostModeRemote : kHostModeLocal;
    if (remote) link = kHostDetailsRemoteOptions;
  }
  g.g_HostDetailsSource = link;

  g.g_WorkingIndex.AddTopLevelComponents(g.g_pInclusionList.get());
  Log(0, u"Encryption testing..", kClass, __LINE__);

  // The password: asked for on the command line, else the stored one of
  // scheduled backups; without one the backup is not enciphered.
  CString password;
  if (g.g_BackupOptions.IsOptionOn(kOptionEncrypt)) {
    Log(0, u"Encryption Flag set", kClass, __LINE__);
    if (m_bCommandLine) {
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

  // The host in force, also kept in the descriptor for the run after the
  // reset.
  LoadTaskHostDetails(g);
  if (link != kHostDetailsNone) {
    op.SetHostName(AHostConnection::GetHostName().view());
    op.hostPort = AHostConnection::GetPort();
  }

  // The backup itself runs after the operation's reset.
  RebootController& controller = RebootController::Instance();
  if (controller.HasPassedLocation(RebootController::kOperationLocation)) return true;
  controller.AdvanceLocation(RebootController::kOperationLocation);
  if (!g.g_WorkingIndex.AddBootCopiesForBackup())
    LogError(0, u"AUnattendedBackup : Run - boot-time copies not registered", kClass, __LINE__);
  Log(0, u"Rebooting", kClass, __LINE__);
  if (!RebootSequence::Instance().ShutdownAndReboot(true, true)) return Fail(u"Run - the device was not reset");
  return true;
}
