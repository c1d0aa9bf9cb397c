// The command-line restore ("LocalRestore", "RemoteRestore", a kiosk's
// automatic restore) up to its reset: the image is opened and checked
// against the device, its password asked for, its content index loaded as
// the working index; then the boot-time copies are queued and the device
// reset. The restore itself runs when the program starts again after the
// reset (the resumed operation). Log class "CQuilmoApp".
#include "app/MetaDataQuestions.h"
#include "app/PasswordDlg.h"
#include "app/QuilmoApp.h"
#include "ce/errors.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/LeftoverCopies.h"
#include "engine/RebootController.h"
#include "hostlink/HostConnection.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/MetaData.h"

namespace {

constexpr const WCHAR* kClass = u"CQuilmoApp";
constexpr DWORD kHostConnectSeconds = 10;

constexpr DWORD kStrHostUnreachable = 65058;
constexpr DWORD kStrImageNotOpened = 65075;


// One command-line restore: the image, its host connection and the task
// client that checks the image, freed when the road ends.
class CommandLineRestore {
 public:
  explicit CommandLineRestore(AGlobal& g) : m_G(g) {}
  ~CommandLineRestore() {
    m_pTask.reset();
    if (m_pImage && m_pImage->IsOpen()) static_cast<void>(m_pImage->Close());  // read only: nothing to lose
    if (m_bConnected) AHostConnection::CloseProcessConnection();
  }

  // Up to the reset request; false when the road ended early (its failure
  // shown and logged).
  bool Prepare();

 private:
  bool Remote() const { return m_G.g_bRemote; }
  void LoadHostDetails();
  bool ConnectImage();
  bool OpenImageMetaData();
  bool AcceptMetaData(DWORD difference);
  bool AskImagePassword();
  bool LoadWorkingIndex();
  void CloseHostConnection();
  void RequestOperationReset();
  bool ImageOpenFailed();

  AGlobal& m_G;
  std::unique_ptr<AImageFile> m_pImage;
  std::unique_ptr<AImagingTaskClient> m_pTask;
  bool m_bConnected = false;
  AMetaData m_MetaData;
};

bool CommandLineRestore::Prepare() {
  OperationDescriptor& op = m_G.g_Operation;
  Log(0, u"Starting Command Line Restore", kClass, __LINE__);
  if (op.imageId != 0) m_G.g_HostDetailsSource = kHostDetailsAgentServer;
  else if (Remote()) m_G.g_HostDetailsSource = kHostDetailsRemoteOptions;
  else m_G.g_HostDetailsSource = kHostDetailsNone;
  CString text;
  text.Format(u"Restore of imageid %d", op.imageId);
  Log(0, text, kClass, __LINE__);
  LoadHostDetails();
  if (!ConnectImage()) return false;

  op.operationKind = kOperationRestore;
  op.hostMode = Remote() ? kHostModeRemote : kHostModeLocal;
  Log(0, u"Creating task", kClass, __LINE__);
  m_pTask = std::make_unique<AImagingTaskClient>(op, nullptr);
  Log(0, u"Openning image file to read index", kClass, __LINE__);
  if (!OpenImageMetaData()) return false;

  Log(0, u"Peforming metadata check", kClass, __LINE__);
  if (!AcceptMetaData(m_pTask->CheckMetaData())) return false;
  Log(0, u"Metadata check done", kClass, __LINE__);
  text.Format(u"Peforming Command Line Restore for %s in Mode:%d", op.imagePath.GetFullPath().GetString(),
              Remote() ? 1 : 0);
  Log(0, text, kClass, __LINE__);

  if (m_MetaData.IsEncrypted() && !AskImagePassword()) return false;
  if (!LoadWorkingIndex()) return false;
  CloseHostConnection();
  // Every road through the pre-operation reset starts its task at once
  // after the reset, a local restore as much as a remote or kiosk one.
  op.taskStartMode = kStartAtOnce;
  RequestOperationReset();
  return true;
}

// The host in force, kept in the descriptor for the run after the reset.
void CommandLineRestore::LoadHostDetails() {
  if (m_G.g_HostDetailsSource == kHostDetailsRemoteOptions)
    AHostConnection::LoadHostAndPort(m_G.g_RemoteOptions);
  else if (m_G.g_HostDetailsSource == kHostDetailsAgentServer)
    AHostConnection::LoadServerHostDetails();
  else
    return;
  m_G.g_Operation.SetHostName(AHostConnection::GetHostName().view());
  m_G.g_Operation.hostPort = AHostConnection::GetPort();
}

bool CommandLineRestore::ConnectImage() {
  const CString path = m_G.g_Operation.imagePath.GetFullPath();
  m_pImage = std::make_unique<AImageFile>(AImageFile::kRestore, Remote() ? AImageFile::kHost : AImageFile::kLocal);
  m_pImage->SetFileName(path);
  if (!Remote()) return true;
  // The image's remote file and the task reach the host through the
  // process-wide connection.
  m_bConnected = AHostConnection::ConnectProcessConnection(kHostConnectSeconds);
  if (!m_bConnected) {
    LogError(GetLastError(), u"Unable to connect to host Server", kClass, __LINE__);
    Localizer::ResMessageBox(kStrHostUnreachable, MB_OK | MB_ICONERROR);
    return false;
  }
  Log(0, u"Created HostConnection", kClass, __LINE__);
  m_pImage->SetHost(AHostConnection::GetHostName(), AHostConnection::GetPort());
  return true;
}

bool CommandLineRestore::ImageOpenFailed() {
  const DWORD error = GetLastError();
  Localizer::ResMessageBox(kStrImageNotOpened, MB_OK | MB_ICONERROR);
  LogError(error, u"pathImageFile.Open() failed", kClass, __LINE__);
  return false;
}

// Opens the image once, which also reads its metadata (compression,
// encryption and the password's check value taken into the globals).
bool CommandLineRestore::OpenImageMetaData() {
  if (!m_pImage->Open()) return ImageOpenFailed();
  m_MetaData.SetImageFile(m_pImage.get());
  MetaDataGlobals globals = m_G.GetMetaDataGlobals();
  if (m_MetaData.Read(false, &globals)) m_G.ApplyMetaDataGlobals(globals);
  if (!m_pImage->Close()) LogError(GetLastError(), u"Closing the image failed", kClass, __LINE__);
  return true;
}

bool CommandLineRestore::AcceptMetaData(DWORD difference) {
  return AcceptMetaDataDifference(difference, m_G.g_Operation, kClass);
}

bool CommandLineRestore::AskImagePassword() {
  CPasswordDlg dialog(m_MetaData.HasExtendedVersion(), true);
  const INT_PTR answer = dialog.DoModal();
  AfxGetApp()->OnIdle(1);
  if (answer == IDOK) return true;
  Log(1, u"Password screen cancelled", kClass, __LINE__);
  return false;
}

bool CommandLineRestore::LoadWorkingIndex() {
  if (!InitCipherKey(m_G.g_bEncrypt, m_G.g_bEncrypt ? m_G.g_csTaskPassword.GetString() : nullptr))
    LogError(0, u"InitCipherKey failed", kClass, __LINE__);
  if (!m_pImage->Open()) return ImageOpenFailed();
  // The image's entries are always enciphered (the key table, and the
  // password when there is one).
  const bool loaded = m_G.g_WorkingIndex.Locate(*m_pImage, true);
  if (!m_pImage->Close()) LogError(GetLastError(), u"Closing the image failed", kClass, __LINE__);
  if (!loaded) {
    LogError(0, u"Global.g_WorkingIndex.Load() failed", kClass, __LINE__);
    return false;
  }
  return true;
}

void CommandLineRestore::CloseHostConnection() {
  if (m_G.g_HostDetailsSource == kHostDetailsNone) return;
  if (m_bConnected) AHostConnection::CloseProcessConnection();
  m_bConnected = false;
}

void CommandLineRestore::RequestOperationReset() {
  RebootController& controller = RebootController::Instance();
  if (controller.HasPassedLocation(RebootController::kOperationLocation)) return;
  controller.AdvanceLocation(RebootController::kOperationLocation);
  RemoveLeftoverBootCopies();
  // Files whose copy could not be queued are restored while they are in use.
  if (!m_G.g_WorkingIndex.AddBootCopiesForBackup())
    LogError(0, u"Boot-time copies not registered", kClass, __LINE__);
  if (!RebootSequence::Instance().ShutdownAndReboot(true, true))
    LogError(0, u"The device was not reset for the restore", kClass, __LINE__);
}

}  // namespace

void CQuilmoApp::RunCommandLineRestore() {
  CommandLineRestore restore(GetGlobal());
  if (restore.Prepare()) RunInteractive();
}
