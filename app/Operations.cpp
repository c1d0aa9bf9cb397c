#include "app/Operations.h"

#include <memory>

#include "app/TaskProgressDlg.h"
#include "ce/errors.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "hostlink/HostConnection.h"
#include "image/Cipher.h"
#include "ui/Mfc.h"

namespace {

constexpr const WCHAR* kClass = u"AOperation";
constexpr const WCHAR* kDefaultBackupFilename = u"csDefaultBackupFilename";

// Keys the image cipher with the current password (none: no cipher).
void KeyImageCipher() {
  AGlobal& g = GetGlobal();
  const bool encrypt = !g.g_csTaskPassword.IsEmpty();
  if (!InitCipherKey(encrypt, encrypt ? g.g_csTaskPassword.GetString() : nullptr))
    LogError(GetLastError(), u"InitCipherKey() failed", kClass, __LINE__);
}

// Runs the window modally; afterwards the application object does one
// idle-time pass. The caller frees task and window after this.
void RunModal(CTaskProgressDlg& window) {
  window.DoModal();
  if (CWinApp* app = AfxGetApp()) app->OnIdle(1);
}

}  // namespace

bool ABackupOperation::Execute() {
  AGlobal& g = GetGlobal();
  // A saved option word was applied to the backup options when the state
  // saved before the reset was restored.
  auto task = std::make_unique<AImagingTaskClient>(g.g_Operation, nullptr);
  auto window = std::make_unique<CTaskProgressDlg>(g.g_Operation.taskStartMode, this, task.get());
  task->SetProgress(window.get());
  KeyImageCipher();
  if (g.g_HostDetailsSource == kHostDetailsRemoteOptions) {
    AHostConnection::LoadHostAndPort(g.g_RemoteOptions);
  } else if (g.g_HostDetailsSource == kHostDetailsAgentServer) {
    Log(0, u"LoadServerHostToTaskDetails()", kClass, __LINE__);
    AHostConnection::LoadServerHostDetails();
  }
  g.g_WorkingIndex.PopulateSelected();
  ABackupRegistrySettings settings(kSettingsKeyKind);
  if (!settings.WriteString(kDefaultBackupFilename, g.g_Operation.imagePath.GetFullPath()))
    LogError(GetLastError(), u"Unable to store csDefaultBackupFilename", kClass, __LINE__);
  RunModal(*window);
  task.reset();
  window.reset();
  return true;
}

bool ARestoreOperation::Execute() {
  AGlobal& g = GetGlobal();
  KeyImageCipher();
  auto task = std::make_unique<AImagingTaskClient>(g.g_Operation, nullptr);
  auto window = std::make_unique<CTaskProgressDlg>(g.g_Operation.taskStartMode, this, task.get());
  task->SetProgress(window.get());
  RunModal(*window);
  task.reset();
  window.reset();
  return true;
}
