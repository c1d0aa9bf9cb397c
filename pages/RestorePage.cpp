#include "pages/RestorePage.h"

#include <memory>

#include "app/MetaDataQuestions.h"
#include "app/PasswordDlg.h"
#include "ce/commctrl.h"
#include "ce/errors.h"
#include "ce/msgbox.h"
#include "ce/treeview.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/ResBitmap.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/LeftoverCopies.h"
#include "engine/RebootController.h"
#include "hostlink/HostConnection.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/MetaData.h"
#include "pages/FileDialogs.h"
#include "pages/MenuDialogs.h"
#include "pages/RestoreSeams.h"

namespace {

constexpr const WCHAR* kClass = u"CRestorePage";

constexpr DWORD kStrNoImage = 57721;
constexpr DWORD kStrLabel = 57688;
constexpr DWORD kStrRestore = 57722;
constexpr DWORD kStrLoading = 57758;
constexpr DWORD kStrNewerProgram = 144;
constexpr DWORD kStrNoHostStatus = 65059;
constexpr DWORD kStrNoRemoteFile = 65060;
constexpr DWORD kStrNoHost = 65058;
constexpr DWORD kStrUnreadable = 65048;
constexpr DWORD kStrNothingSelected = 57657;
constexpr DWORD kStrNoAnnotation = 65248;
constexpr DWORD kStrOptionsHeading = 65105;
constexpr DWORD kStrHandleMenu = 57763;
constexpr DWORD kStrNewDevice = 57766;
constexpr DWORD kStrDefaults = 57701;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;

constexpr UINT kStopBox = MB_OK | MB_ICONERROR;             // 16

constexpr DWORD kDiffRefusedOnLoad = kDiffAppMajorHigher | kDiffAppMidLower;            // 0x40 | 0x80

constexpr int kStartModeAtOnce = kStartAtOnce;

// Layout (pixels at scale 1).
constexpr int kMargin = 3;
constexpr int kLabelHeight = 16;
constexpr int kRowHeight = 22;
constexpr int kSmallButton = 26;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 23;

bool DesktopHostEnabled() { return GetGlobal().g_RemoteOptions.GetRemoteEnabled(); }

void MoveItem(CWnd& page, int id, int x, int y, int width, int height) {
  if (CWnd* item = page.GetDlgItem(id)) item->MoveWindow(x, y, width, height);
}

void ShowNewerProgramBox() { Localizer::FormattedResMessageBox(kStrNewerProgram, kStopBox); }

// The tree's images and check marks, made once per tree.
void AttachTreeImages(CComponentTree& tree) {
  if (tree.GetImageList(TVSIL_STATE) != nullptr) return;
  if (!tree.CreateImageLists(TRUE)) LogError(GetLastError(), u"The tree images could not be made", kClass, __LINE__);
}

}  // namespace

CRestorePage::CRestorePage() : CDynamicPropertyPage(IDD, kCaptionId) {}

void CRestorePage::SetBackupFile(const CString& path) {
  m_Path.Set(path, false);
  m_Path.SetLocationKind(kLocationLocal);
  m_csPathText = m_Path.GetDisplayName();
  if (m_hWnd) UpdateData(FALSE);
}

void CRestorePage::DoDataExchange(CDataExchange* dx) {
  CDynamicPropertyPage::DoDataExchange(dx);
  DDX_Text(dx, kPathId, m_csPathText);
}

// ---------------------------------------------------------------- opening

BOOL CRestorePage::OnInitDialog() {
  m_Tree.SubclassDlgItem(kTreeId, this);
  if (!m_AnnotationButton.Attach(kAnnotationId, this))
    LogError(GetLastError(), u"The annotation button has no pictures", kClass, __LINE__);
  SetTexts();
  EnableItem(kAnnotationId, false);
  ShowTree(false);
  EnableItem(kRestoreId, false);

  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  op.operationKind = kOperationRestore;
  if (op.imagePath.IsEmpty()) {
    // The newest image's place: the default backup location.
    ABackupFilePath location;
    if (location.FindDefaultBackupLocation(true, false)) m_Path = location;
    else m_Path.Clear();
  } else {
    m_Path = op.imagePath;
  }
  Log(0, u"Initial Backup filename = " + m_Path.GetFullPath(), kClass, __LINE__);
  if (!DesktopHostEnabled() && m_Path.GetLocationKind() == kLocationRemoteHost) {
    m_Path.Clear();
    m_Path.SetLocationKind(kLocationLocal);
    op.hostMode = kHostModeLocal;
  }
  const BOOL result = CDynamicPropertyPage::OnInitDialog();
  if (m_Tree.m_hWnd) m_Tree.SetFocus();
  return result;
}

void CRestorePage::SetTexts() {
  Localizer::SetControlText(this, kStatusId, kStrNoImage);
  Localizer::SetControlText(this, kLabelId, kStrLabel);
  Localizer::SetControlText(this, kRestoreId, kStrRestore);
}

BOOL CRestorePage::OnSetActive() {
  const BOOL result = CDynamicPropertyPage::OnSetActive();
  RelayoutPage();
  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  if (!DesktopHostEnabled() && m_Path.GetLocationKind() == kLocationRemoteHost) {
    // A host image while the host link is off: forgotten. The kind goes
    // with it, so the load below does not reach for the host.
    m_Path.Clear();
    m_Path.SetLocationKind(kLocationLocal);
    op.hostMode = kHostModeLocal;
    LoadImage();
    UpdateData(FALSE);
  }
  const bool present = IsImagePresent();
  op.operationKind = kOperationRestore;
  op.imagePath = m_Path;
  if (present) {
    Log(0, u"Backup file found - " + m_Path.GetFullPath(), kClass, __LINE__);
    ShowPathText();
    ShowStatus(kStrLoading);
    m_nLoadTimer = SetTimer(kLoadTimer, kLoadTimerMs);
    if (m_nLoadTimer == 0) LoadImage();
  } else {
    Log(0, u"Backup file not found - " + m_Path.GetFullPath(), kClass, __LINE__);
    m_csPathText.Empty();
    m_Path.Clear();
    ShowStatus(kStrNoImage);
    EnableItem(kRestoreId, false);
  }
  UpdateData(FALSE);
  EnableItem(kBrowseId, true);
  return result;
}

bool CRestorePage::IsImagePresent() {
  if (m_Path.IsEmpty()) return false;
  if (m_Path.GetLocationKind() == kLocationLocal) {
    GetGlobal().g_Operation.hostMode = kHostModeLocal;
    return System::FileExists(m_Path.GetFullPath());
  }
  LoadHostDetails();
  return true;
}

void CRestorePage::LoadHostDetails() {
  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  const DWORD kind = m_Path.GetLocationKind();
  if (kind == kLocationLocal) {
    op.hostMode = kHostModeLocal;
    return;
  }
  if (kind == kLocationRemoteHost) AHostConnection::LoadHostAndPort(g.g_RemoteOptions);
  else AHostConnection::LoadServerHostDetails();
  g.g_HostDetailsSource = kind == kLocationRemoteHost ? kHostDetailsRemoteOptions : kHostDetailsAgentServer;
  op.hostMode = kHostModeRemote;
  op.SetHostName(AHostConnection::GetHostName().view());
  op.hostPort = AHostConnection::GetPort();
}

void CRestorePage::OnTimer(UINT_PTR id) {
  if (id != kLoadTimer) {
    CDynamicPropertyPage::OnTimer(id);
    return;
  }
  KillTimer(kLoadTimer);
  m_nLoadTimer = 0;
  EnableItem(kRestoreId, false);
  EnableItem(kBrowseId, false);
  // Restore stays as the load leaves it: enabled only for a loaded image.
  LoadImage();
  EnableItem(kBrowseId, true);
}

// ----------------------------------------------------------- image load

void CRestorePage::LoadImage() {
  UpdateData(TRUE);
  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  op.operationKind = kOperationRestore;
  op.imagePath = m_Path;
  const DWORD kind = m_Path.GetLocationKind();
  if (kind != kLocationLocal) {
    LoadHostDetails();
    AHostConnection::SetProcessConnection(AHostConnection::ConnectToDefaultHost(kHostConnectSeconds));
  }

  // The task client resets the task's globals when it goes: it lives
  // until the load is done.
  auto task = std::make_unique<AImagingTaskClient>(op, nullptr);
  const DWORD difference = task->CheckMetaData();
  const AMetaData& metaData = task->GetImageMetaData();
  if (!metaData.IsValid()) {
    ShowStatus(kind == kLocationRemoteHost ? kStrNoImage : kStrUnreadable);
    EnableItem(kRestoreId, false);
    return;
  }
  if (difference == 0) {
    Log(0, u"Metadata checked out ok", kClass, __LINE__);
  } else {
    Log(0, u"Meta Data Different", kClass, __LINE__);
    if (difference & kDiffRefusedOnLoad) {
      ShowNewerProgramBox();
      EnableItem(kRestoreId, false);
      return;
    }
  }
  if (metaData.IsEncrypted() && !AskImagePassword(*task)) {
    ForgetImage();
    return;
  }
  const bool encrypted = metaData.IsEncrypted();
  if (!InitCipherKey(encrypted, encrypted ? g.g_csTaskPassword.GetString() : nullptr))
    LogError(GetLastError(), u"InitCipherKey failed", kClass, __LINE__);
  int error = 0;
  if (InitTree(error)) ShowTreeLoaded();
  else ShowLoadFailure(error);
  UpdateAnnotationButton();
}

bool CRestorePage::AskImagePassword(const AImagingTaskClient& task) {
  const AMetaData& metaData = task.GetImageMetaData();
  AGlobal& g = GetGlobal();
  g.g_dwPasswordCheck = metaData.GetPasswordCheck();
  CPasswordDlg dialog(metaData.HasExtendedVersion(), true, this);
  return dialog.DoModal() == IDOK;
}

// A cancelled password: the page shows no image.
void CRestorePage::ForgetImage() {
  ShowStatus(kStrNoImage);
  if (m_Tree.m_hWnd) m_Tree.DeleteAllItems();
  m_Path.Clear();
  ShowPathText();
  EnableItem(kRestoreId, false);
  UpdateData(FALSE);
}

void CRestorePage::ShowTreeLoaded() {
  const OperationDescriptor& op = GetGlobal().g_Operation;
  const bool anything = op.includeRegistry || op.includeDatabases || op.includeFileSystem || op.includeMail;
  EnableItem(kRestoreId, anything);
  ShowTree(true);
  if (CWnd* path = GetDlgItem(kPathId)) {
    // The caret at the end keeps the file name in view.
    const int length = m_csPathText.GetLength();
    path->SendMessage(EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
  }
  UpdateData(FALSE);
}

void CRestorePage::ShowLoadFailure(int error) {
  EnableItem(kRestoreId, false);
  ShowTree(false);
  ShowPathText();
  UpdateData(FALSE);
  if (m_Path.GetLocationKind() != kLocationRemoteHost) {
    ShowStatus(kStrUnreadable);
    Localizer::ResMessageBox(kStrUnreadable, kStopBox);
    return;
  }
  if (error == kNoHostConnection) {
    Log(0, u"Unable to connect to host PC", kClass, __LINE__);
    ShowStatus(kStrNoHostStatus);
    Localizer::ResMessageBox(kStrNoHost, kStopBox);
  } else if (error == static_cast<int>(ERROR_FILE_NOT_FOUND)) {
    Log(0, u"Failed to read remote file (FILE_NOT_FOUND)", kClass, __LINE__);
    ShowStatus(kStrNoRemoteFile);
  } else {
    ShowStatus(kStrUnreadable);
    Localizer::ResMessageBox(kStrUnreadable, kStopBox);
  }
}

void CRestorePage::UpdateAnnotationButton() {
  const CString annotation = GetGlobal().g_Operation.GetAnnotation();
  EnableItem(kAnnotationId, !annotation.IsEmpty() && annotation != Localizer::LoadResString(kStrNoAnnotation));
}

bool CRestorePage::InitTree(int& error) {
  error = 0;
  AGlobal& g = GetGlobal();
  const bool host = m_Path.GetLocationKind() != kLocationLocal;
  AImageFile image(AImageFile::kRestore, host ? AImageFile::kHost : AImageFile::kLocal);
  image.SetFileName(m_Path.GetFullPath());
  if (host) image.SetHost(AHostConnection::GetHostName(), AHostConnection::GetPort());
  const bool opened = image.Open();
  if (!opened && host) {
    error = AHostConnection::GetProcessConnection() ? static_cast<int>(GetLastError()) : kNoHostConnection;
    return false;
  }
  // A local image that did not open fails at its index below.
  g.g_WorkingIndex.Reset();
  const bool loaded = opened && g.g_WorkingIndex.Locate(image, true);
  if (opened && !image.Close()) LogError(GetLastError(), u"Closing the image failed", kClass, __LINE__);
  if (!loaded) {
    LogError(0, u"CRestorePage::InitTree() Error loading restore index", kClass, __LINE__);
    return false;
  }
  if (!m_Tree.m_hWnd) return false;
  AttachTreeImages(m_Tree);
  return m_Tree.SetComponentList(&g.g_WorkingIndex) != FALSE;
}

// ----------------------------------------------------------------- Browse

void CRestorePage::OnBrowse() {
  Log(0, u"Here 1", kClass, __LINE__);
  CNewOpenDlg dialog(this);
  if (dialog.DoModal() == IDOK) {
    m_Path = dialog.GetPath();
    ShowPathText();
    UpdateData(FALSE);
    LoadHostDetails();
    LoadImage();
  }
  if (CWnd* browse = GetDlgItem(kBrowseId)) browse->SetFocus();
}

// ---------------------------------------------------------------- Restore

void CRestorePage::OnRestore() {
  UpdateData(TRUE);
  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  op.imagePath = m_Path;
  if (!m_Tree.m_hWnd || !m_Tree.IsRootChecked()) {
    Localizer::ResMessageBox(kStrNothingSelected, kStopBox);
    return;
  }
  op.operationKind = kOperationRestore;
  m_Tree.UpdateSelectionFlags(op);
  LoadHostDetails();
  op.upgradeMode = g.g_RestoreOptions.GetNewDeviceRestoreFlag() ? 1 : 0;
  Log(0, CString(u"Upgrade mode set to ") + (op.upgradeMode ? u"true" : u"false"), kClass, __LINE__);

  auto task = std::make_unique<AImagingTaskClient>(op, nullptr);
  if (!AcceptMetaData(*task)) return;
  m_Tree.UpdateSelectionFlags(op);
  if (op.upgradeMode) ChooseUpgradeFiles();
  op.taskStartMode = kStartModeAtOnce;
  if (ShouldShowRestoreResetWarning() && RunRestoreResetNotification(this) != IDOK) {
    if (CWnd* restore = GetDlgItem(kRestoreId)) restore->SetFocus();
    return;
  }
  RequestRestoreReset();
}

bool CRestorePage::AcceptMetaData(AImagingTaskClient& task) {
  AGlobal& g = GetGlobal();
  const DWORD difference = task.CheckMetaData();
  if (!task.GetImageMetaData().IsValid()) {
    Log(1, u"CheckMetaData failed", kClass, __LINE__);
    return false;
  }
  return AcceptMetaDataDifference(difference, g.g_Operation, kClass);
}

void CRestorePage::ChooseUpgradeFiles() {
  AGlobal& g = GetGlobal();
  Log(0, u"unselecting upgrade file items", kClass, __LINE__);
  CString fileName;
  if (RunUpgradeDataDialog(this, fileName) == IDOK) {
    Log(0, u"Dialog OK", kClass, __LINE__);
    if (!g.g_WorkingIndex.LoadUpgradeFileList(fileName, true))
      LogError(GetLastError(), u"The upgrade file list could not be loaded", kClass, __LINE__);
  } else {
    g.g_Operation.upgradeMode = 0;
    Log(0, u"Cancelled file upgrade file selection", kClass, __LINE__);
  }
}

void CRestorePage::RequestRestoreReset() {
  RebootController& controller = RebootController::Instance();
  // A resumed run is already past the operation's reset.
  if (controller.HasPassedLocation(RebootController::kOperationLocation)) return;
  controller.AdvanceLocation(RebootController::kOperationLocation);
  RemoveLeftoverBootCopies();
  // Files whose copy could not be queued are restored while in use.
  if (!GetGlobal().g_WorkingIndex.AddBootCopiesForBackup())
    LogError(0, u"Boot-time copies not registered", kClass, __LINE__);
  if (!RebootSequence::Instance().ShutdownAndReboot(true, true))
    LogError(0, u"The device was not reset for the restore", kClass, __LINE__);
}

void CRestorePage::OnAnnotation() { RunAnnotationViewer(this); }

// --------------------------------------------------------------- commands

BOOL CRestorePage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case kBrowseId:
        OnBrowse();
        return TRUE;
      case kRestoreId:
        OnRestore();
        return TRUE;
      case kAnnotationId:
        OnAnnotation();
        return TRUE;
      default:
        break;
    }
  }
  return CDynamicPropertyPage::OnCommand(wParam, lParam);
}

// ---------------------------------------------------------------- display

void CRestorePage::ShowStatus(DWORD stringId) {
  Localizer::SetControlText(this, kStatusId, stringId);
  ShowTree(false);
}

// One of the status text and the tree shows at a time.
void CRestorePage::ShowTree(bool show) {
  if (CWnd* tree = GetDlgItem(kTreeId)) tree->ShowWindow(show ? SW_SHOW : SW_HIDE);
  if (CWnd* status = GetDlgItem(kStatusId)) status->ShowWindow(show ? SW_HIDE : SW_SHOW);
}

void CRestorePage::ShowPathText() { m_csPathText = m_Path.IsEmpty() ? CString() : m_Path.GetDisplayName(); }

void CRestorePage::EnableItem(int id, bool enable) {
  if (CWnd* item = GetDlgItem(id)) item->EnableWindow(enable ? TRUE : FALSE);
}

void CRestorePage::OnSize(UINT type, int cx, int cy) {
  CDynamicPropertyPage::OnSize(type, cx, cy);
  if (m_Tree.m_hWnd != nullptr) RelayoutDialog();
}

BOOL CRestorePage::RelayoutDialog() {
  CRect client;
  GetClientRect(&client);
  if (client.Width() <= 0 || client.Height() <= 0) return TRUE;
  const int s = GetDisplayScale();
  const int m = kMargin * s;
  const int small = kSmallButton * s;
  const int row = kRowHeight * s;
  const int width = client.Width() - 2 * m;
  MoveItem(*this, kLabelId, m, m, width, kLabelHeight * s);
  const int y = m + kLabelHeight * s + m;
  MoveItem(*this, kPathId, m, y, width - 2 * (small + m), row);
  MoveItem(*this, kBrowseId, client.Width() - 2 * (small + m), y, small, row);
  MoveItem(*this, kAnnotationId, client.Width() - small - m, y, small, row);
  const int top = y + row + m;
  const int buttonTop = client.Height() - kButtonHeight * s - m;
  if (System::IsLandscape()) {
    // The Restore button beside the tree keeps the tree tall.
    const int buttonLeft = client.Width() - kButtonWidth * s - m;
    MoveItem(*this, kTreeId, m, top, buttonLeft - 2 * m, client.Height() - top - m);
    MoveItem(*this, kStatusId, m, top, buttonLeft - 2 * m, client.Height() - top - m);
    MoveItem(*this, kRestoreId, buttonLeft, buttonTop, kButtonWidth * s, kButtonHeight * s);
  } else {
    MoveItem(*this, kTreeId, m, top, width, buttonTop - m - top);
    MoveItem(*this, kStatusId, m, top, width, buttonTop - m - top);
    MoveItem(*this, kRestoreId, client.Width() - kButtonWidth * s - m, buttonTop, kButtonWidth * s,
             kButtonHeight * s);
  }
  return TRUE;
}

// --------------------------------------------------------- options dialog

CRestoreOptionsPage::CRestoreOptionsPage(DWORD bRestoreKill, DWORD bHandleMenu, DWORD bNonDestructiveRestore,
                                         DWORD bNewDeviceRestore, CWnd* parent)
    : CDynamicDialog(IDD, parent, u"ROptions"),
      m_bRestoreKill(bRestoreKill),
      m_bHandleMenu(bHandleMenu),
      m_bNonDestructiveRestore(bNonDestructiveRestore),
      m_bNewDeviceRestore(bNewDeviceRestore) {}

BOOL CRestoreOptionsPage::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, kStrOptionsHeading);
  Localizer::SetControlText(this, kHandleMenuId, kStrHandleMenu);
  Localizer::SetControlText(this, kNewDeviceId, kStrNewDevice);
  Localizer::SetControlText(this, kThirdButtonId, kStrDefaults);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  m_bRestoreKill = 1;
  PutValues();
  if (!GetAllowUpgradeMode()) {
    m_bNewDeviceRestore = 0;
    CheckDlgButton(kNewDeviceId, BST_UNCHECKED);
    if (CWnd* upgrade = GetDlgItem(kNewDeviceId)) upgrade->ShowWindow(SW_HIDE);
  }
  return result;
}

void CRestoreOptionsPage::PutValues() {
  CheckDlgButton(kHandleMenuId, m_bHandleMenu ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kNewDeviceId, m_bNewDeviceRestore ? BST_CHECKED : BST_UNCHECKED);
}

BOOL CRestoreOptionsPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == kThirdButtonId && HIWORD(wParam) == BN_CLICKED) {
    OnDefaults();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CRestoreOptionsPage::OnDefaults() {
  const ARestoreOptionHandler defaults(GetGlobal().g_bToolhelpAvailable);
  m_bRestoreKill = defaults.GetRestoreKillFlag();
  m_bHandleMenu = defaults.GetHandleMenuFlag();
  m_bNonDestructiveRestore = defaults.GetNonDestructiveRestoreFlag();
  m_bNewDeviceRestore = defaults.GetNewDeviceRestoreFlag();
  PutValues();
}

void CRestoreOptionsPage::OnOK() {
  m_bHandleMenu = IsDlgButtonChecked(kHandleMenuId) == BST_CHECKED ? 1 : 0;
  m_bNewDeviceRestore = IsDlgButtonChecked(kNewDeviceId) == BST_CHECKED ? 1 : 0;
  EndDialog(IDOK);
}

INT_PTR RunRestoreOptionsDialog(CWnd* parent, RestoreOptionFlags& options) {
  CRestoreOptionsPage dialog(options.restoreKill, options.handleMenu, options.nonDestructiveRestore,
                             options.newDeviceRestore, parent);
  const INT_PTR result = dialog.DoModal();
  if (result != IDOK) return result;
  options.restoreKill = dialog.m_bRestoreKill;
  options.handleMenu = dialog.m_bHandleMenu;
  options.nonDestructiveRestore = dialog.m_bNonDestructiveRestore;
  options.newDeviceRestore = dialog.m_bNewDeviceRestore;
  return result;
}
