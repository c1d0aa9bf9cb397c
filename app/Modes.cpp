// The dispatch of the main program's modes, after the start-up: the resumed
// operation, the permission checks, kiosk deployments, and the scheduling,
// scheduled, command-line and interactive modes. Log class "CQuilmoApp".
#include <memory>

#include "app/ConfirmScheduledBackupDlg.h"
#include "app/MainSheetSeam.h"
#include "app/Operations.h"
#include "app/PasswordDlg.h"
#include "app/QuilmoApp.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/time.h"
#include "core/DeployOptions.h"
#include "core/DeployOptionsFormat.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/RebootController.h"
#include "hostlink/HostConnection.h"
#include "scheduling/Notify.h"
#include "scheduling/UnattendedBackup.h"
#include "scheduling/WakeUpService.h"

namespace {

constexpr const WCHAR* kClass = u"CQuilmoApp";
constexpr const WCHAR* kDummy = u"dummy";

bool LocalCommandLineWork(const AGlobal& g) {
  return (g.g_bCommandLineBackup || g.g_bCommandLineRestore) && !g.g_bRemote;
}
bool RemoteCommandLineWork(const AGlobal& g) {
  return (g.g_bCommandLineBackup || g.g_bCommandLineRestore) && g.g_bRemote;
}

// The host that the first half of a host-mode operation used, kept in the
// descriptor across the reset.
void RestoreHostOfOperation(const OperationDescriptor& op) {
  if (op.hostMode != kHostModeRemote || op.hostName[0] == 0) return;
  AHostConnection::SetHostAndPort(op.GetHostName(), static_cast<WORD>(op.hostPort));
}

// The command-line or scheduled work that the resumed operation carried out
// is done: the dispatch must not prepare it a second time (its image path is
// gone with the finished task).
void ForgetFinishedCommandLineWork(AGlobal& g) {
  g.g_bCommandLineBackup = false;
  g.g_bCommandLineRestore = false;
  g.g_bUnattended = false;
  g.g_bBatteryTriggered = false;
}

}  // namespace

void CQuilmoApp::DispatchModes() {
  AGlobal& g = GetGlobal();
  CleanUpOldRegistryFile();
  RebootController& controller = RebootController::Instance();
  if (controller.IsLoaded()) controller.RestorePersistedState();
  if (controller.HasPassedLocation(RebootController::kOperationLocation) && !ResumeOperation()) return;
  if (!CommandLineWorkPermitted()) return;
  if (GetKioskModeEnabled() && !g.g_bCommandLineBackup && !PrepareKiosk()) return;

  if (m_bEnableFileScheduling)
    EnableFileScheduling();
  else if (m_bDisableFileScheduling)
    DisableFileScheduling();
  else if (g.g_bUnattended)
    RunScheduledBackup();
  else if (g.g_bCommandLineBackup)
    RunCommandLineBackup();
  else if (g.g_bCommandLineRestore)
    RunCommandLineRestore();
  else if (m_bStartScheduling)
    StartScheduling();
  else
    RunInteractive();
}

bool CQuilmoApp::ResumeOperation() {
  AGlobal& g = GetGlobal();
  Log(0, u"detected that have done PRE_OPERATION", kClass, __LINE__);
  const int kind = g.g_Operation.operationKind;
  if (kind != kOperationBackup && kind != kOperationRestore) {
    LogError(0, u"No valid operation set", kClass, __LINE__);
    return false;
  }
  Log(0, u"about to set options key", kClass, __LINE__);
  RestoreHostOfOperation(g.g_Operation);
  std::unique_ptr<AOperation> operation;
  if (kind == kOperationRestore)
    operation = std::make_unique<ARestoreOperation>();
  else
    operation = std::make_unique<ABackupOperation>();
  operation->Execute();
  operation.reset();
  ForgetFinishedCommandLineWork(g);
  return true;
}

bool CQuilmoApp::PrepareKiosk() {
  AGlobal& g = GetGlobal();
  const CString path = System::GetProgramPath(false) + deploy::kFileName;
  if (!System::FileExists(path)) {
    Localizer::TextMessageBox(kNoDeployOptionsText, MB_OK);
    return false;
  }
  ADeployOptions options(path);
  if (options.GetAutorun()) {
    g.g_bKioskAutoRestore = true;
    g.g_nKioskMinutes = options.GetMinutesBetween();
    g.g_nKioskHours = options.GetHoursBetween();
    g.g_csKioskFileName = options.GetBackupFileName();
    g.g_csKioskLogin = options.GetLogin();
    g.g_Operation.imagePath.Set(g.g_csKioskFileName, false);
    Log(0, g.g_csKioskFileName, kClass, __LINE__);
    Log(0, u"Kiosk mode: AutoRestore set to true.", kClass, __LINE__);
  }
  DisplayKioskPassword();
  if (g.g_bKioskPasswordCorrect) {
    g.g_bKioskAutoRestore = false;
    Log(0, u"password correct and auto restore set to false", kClass, __LINE__);
  } else {
    Log(0, u"password wrong and auto restore set to true", kClass, __LINE__);
    g.g_bCommandLineRestore = true;
  }
  return true;
}

void CQuilmoApp::RunScheduledBackup() {
  AGlobal& g = GetGlobal();
  ConfirmScheduledBackupDlg confirm;
  if (confirm.DoModal() != IDOK) {
    Log(0, u"Scheduled Backup cancelled", kClass, __LINE__);
    return;
  }
  const bool powerOff = confirm.GetCheck() == 1;
  g.g_Operation.turnOffAfterPopup = powerOff ? 1 : 0;
  Log(0, powerOff ? u"Device will be powered off after scheduled backup" : u"Device will be left on after scheduled backup",
      kClass, __LINE__);
  AUnattendedBackup backup;
  if (g.g_bBatteryTriggered) {
    Log(0, u"Merrow Autobackup starting", kClass, __LINE__);
    backup.UseMerrowKey();
  } else {
    Log(0, u"Scheduled Backup starting", kClass, __LINE__);
    backup.UseUnattendedKey();
  }
  if (!backup.Run()) Log(0, u"Unattended backup failed", kClass, __LINE__);
}

void CQuilmoApp::CleanUpOldRegistryFile() {
  if (!System::FileExists(kOldRegistryImage)) return;
  Log(0, u"Cleaning up old registry file", kClass, __LINE__);
  if (!DeleteFileW(kOldRegistryImage))
    LogError(GetLastError(), u"Unable to delete the old registry file", kClass, __LINE__);
  Log(0, u"Cleaning done", kClass, __LINE__);
}

bool CQuilmoApp::CommandLineWorkPermitted() {
  if (m_csSignature == kAccessCode) return true;
  const AGlobal& g = GetGlobal();
  const bool refused = (LocalCommandLineWork(g) && !GetAllowLocalCommandLineOps()) ||
                       (RemoteCommandLineWork(g) && !GetAllowRemoteCommandLineOps()) ||
                       ((m_bEnableFileScheduling || m_bDisableFileScheduling) && !GetAllowFileScheduling());
  if (!refused) return true;
  Localizer::TextMessageBox(kInvalidCommandLineText, MB_OK);
  return false;
}

void CQuilmoApp::EnableFileScheduling() {
  AGlobal& g = GetGlobal();
  Log(0, u"Enabling File Scheduling from command line", kClass, __LINE__);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  ANotify schedule(ANotifyValueObject(kPeriodScheduleFile, now), 1);
  schedule.SetScheduleFile(g.g_Operation.imagePath.GetFullPath());
  if (!schedule.registerOptions()) LogError(0, u"Unable to store the file schedule", kClass, __LINE__);

  const DWORD options = g.g_BackupOptions.PackOptions();
  CString text;
  text.Format(u"Storing saved options %d to NextSchedule", static_cast<int>(options));
  Log(0, text, kClass, __LINE__);
  AUnattendedBackup unattended;
  unattended.UseNextScheduleKey();
  if (!unattended.StoreScheduledBackupOptions(options, kDummy, false, false, kDummy))
    LogError(0, u"Unable to store the NextSchedule options", kClass, __LINE__);
  unattended.UseUnattendedKey();
  if (!unattended.StoreScheduledBackupOptions(options, kDummy, false, false, kDummy))
    LogError(0, u"Unable to store the Unattended options", kClass, __LINE__);
}

void CQuilmoApp::DisableFileScheduling() {
  Log(0, u"Disabling File Scheduling from command line", kClass, __LINE__);
}

void CQuilmoApp::RunCommandLineBackup() {
  AUnattendedBackup backup;
  Log(0, u"Command Line Backup starting", kClass, __LINE__);
  backup.UseCommandLineKey();
  if (!backup.Run()) Log(0, u"Command Line backup failed", kClass, __LINE__);
}

void CQuilmoApp::StartScheduling() {
  Log(0, u"Starting Scheduled Backup from Setup Wizard", kClass, __LINE__);
  ANotify schedule;
  if (!schedule.LoadOptions() || schedule.GetValueObject().GetFlags() != kPeriodDaily) {
    Log(0, u"Could not start scheduled backup", kClass, __LINE__);
    return;
  }
  if (!schedule.registerNotification())
    LogError(0, u"Unable to register the scheduled backup", kClass, __LINE__);
  AWakeUpServiceIF wakeUp;
  if (!wakeUp.Schedule()) LogError(0, u"Unable to register the wake-up entry", kClass, __LINE__);
}

void CQuilmoApp::RunInteractive() {
  AGlobal& g = GetGlobal();
  if (GetBasicModeEnabled()) {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    bool advanced = !GetBasicModeDefault();
    if (!settings.ReadBool(u"bAdvancedMode", advanced)) advanced = !GetBasicModeDefault();
    g.g_bAdvancedMode = advanced;
  }
  RunMainSheet();
  UnloadResourceLibraries(false);
}

namespace {
MainSheetRunner g_mainSheetRunner = nullptr;
}  // namespace

void SetMainSheetRunner(MainSheetRunner runner) { g_mainSheetRunner = runner; }
MainSheetRunner GetMainSheetRunner() { return g_mainSheetRunner; }

void CQuilmoApp::RunMainSheet() {
  if (g_mainSheetRunner == nullptr) {
    Log(0, u"No interactive main window is installed", kClass, __LINE__);
    return;
  }
  g_mainSheetRunner(*this);
}
