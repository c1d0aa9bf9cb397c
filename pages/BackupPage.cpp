#include "pages/BackupPage.h"

#include <algorithm>

#include "app/PasswordDlg.h"
#include "ce/commctrl.h"
#include "ce/errors.h"
#include "ce/gdi.h"
#include "ce/msgbox.h"
#include "ce/sip.h"
#include "ce/time.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/ResBitmap.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/LeftoverCopies.h"
#include "engine/RebootController.h"
#include "hostlink/HostConnection.h"
#include "pages/BackupOptionDialogs.h"
#include "pages/FileDialogs.h"
#include "pages/ResetDialogs.h"
#include "ui/Mfc.h"

namespace {

constexpr const WCHAR* kClass = u"CBackupPage";

constexpr DWORD kStrLabel = 57688;
constexpr DWORD kStrBackupButton = 57690;
constexpr DWORD kStrNothingSelected = 57645;
constexpr DWORD kStrFileExists = 57646;
constexpr DWORD kStrNoLocation = 65326;
constexpr DWORD kStrWaitText = 57733;
constexpr DWORD kStrVendorWaitText = 65038;
constexpr DWORD kStrVendorName = 65306;
constexpr DWORD kStrResetFailed = 57660;

bool OptionOn(int option) { return GetGlobal().g_BackupOptions.IsOptionOn(option); }

// The tree's images and check marks, made once per tree.
void AttachTreeImages(CComponentTree& tree) {
  if (tree.GetImageList(TVSIL_STATE) != nullptr) return;
  if (!tree.CreateImageLists(TRUE)) LogError(GetLastError(), u"The tree images could not be made", kClass, __LINE__);
}

}  // namespace

CBackupPage::CBackupPage() : CDynamicPropertyPage(IDD, kCaptionId) {}

void CBackupPage::DoDataExchange(CDataExchange* dx) {
  CDynamicPropertyPage::DoDataExchange(dx);
  DDX_Control(dx, kTreeId, m_Tree);
  DDX_Text(dx, kLocationEditId, m_csLocationText);
}

// ---------------------------------------------------------------------------
// Opening and activation

BOOL CBackupPage::OnInitDialog() {
  m_bTreePopulated = false;
  Log(0, u"setting m_bTreePopulated false in OnInitDialog", kClass, __LINE__);
  Localizer::SetControlText(this, kLabelId, kStrLabel);
  Localizer::SetControlText(this, kBackupId, kStrBackupButton);
  if (!m_AnnotationButton.Attach(kAnnotationId, this))
    LogError(GetLastError(), u"The annotation button has no pictures", kClass, __LINE__);
  EnableControl(kBackupId, false);
  EnableControl(kBrowseId, false);
  m_bPathSelection = GetAllowBackupPathSelection();
  if (!m_bPathSelection) {
    ShowControl(kBrowseId, false);
    if (CWnd* edit = GetDlgItem(kLocationEditId)) {
      CRect r;
      edit->GetWindowRect(&r);
      ScreenToClient(&r);
      edit->MoveWindow(r.left, r.top, r.Width() + kNarrowEditWiden, r.Height());
      edit->SendMessage(EM_SETREADONLY, FALSE);
    }
  }
  if (!m_Location.FindDefaultBackupLocation(true, false)) m_Location = ABackupFilePath();
  CDynamicPropertyPage::OnInitDialog();
  SetFocus();
  FocusBackupButton();
  return FALSE;
}

BOOL CBackupPage::OnSetActive() {
  CDynamicPropertyPage::OnSetActive();
  RelayoutPage();
  m_bInputPanelFrozen = false;
  if (OptionOn(kOptionAppendDate) && !m_Location.IsEmpty()) m_Location.AppendDateSuffix();
  ShowLocation();
  AGlobal& g = GetGlobal();
  g.g_Operation.hostMode = m_Location.GetLocationKind() == kLocationRemoteHost ? kHostModeRemote : kHostModeLocal;
  SetWaitText();
  DecideTree();
  m_bInputPanelFrozen = true;
  SetFocus();
  FocusBackupButton();
  return TRUE;
}

BOOL CBackupPage::OnKillActive() {
  ShiftForInputPanel(false);
  m_DescriptorCopy = GetGlobal().g_Operation;
  return CDynamicPropertyPage::OnKillActive();
}

void CBackupPage::SetWaitText() {
  CString text;
  if (GetVendorProvidedVersion()) {
    text = Localizer::LoadResString(kStrVendorWaitText);
    text += Localizer::FormatResString(kStrVendorName, GetVendorName());
    text += GetVendorUrl();
  } else {
    text = Localizer::LoadResString(kStrWaitText);
  }
  SetDlgItemText(kWaitTextId, text);
}

// The location's display form in the edit, caret at its end.
void CBackupPage::ShowLocation() {
  m_csLocationText = m_Location.GetDisplayName();
  SetDlgItemText(kLocationEditId, m_csLocationText);
  const int end = m_csLocationText.GetLength();
  SendDlgItemMessage(kLocationEditId, EM_SETSEL, static_cast<WPARAM>(end), end);
}

// ---------------------------------------------------------------------------
// The tree

void CBackupPage::UpdateTreeState() {
  m_bRebuildRequested = true;
  if (m_hWnd != nullptr && IsWindowVisible()) DecideTree();
}

void CBackupPage::DecideTree() {
  bool rebuild = false;
  if (m_bFirstActivation) {
    m_bFirstActivation = false;
    rebuild = true;
  } else if (!(OptionOn(kOptionExcludeCards) && OptionOn(kOptionApplyExclusions)) && !m_bTreeIsCurrent) {
    m_bTreeIsCurrent = true;
    rebuild = true;
  } else if (m_bRebuildRequested) {
    m_bRebuildRequested = false;
    rebuild = true;
  }
  if (rebuild) StartTreeBuild();
}

void CBackupPage::StartTreeBuild() {
  for (int id : {kLocationEditId, kBrowseId, kBackupId, kAnnotationId, kTreeId}) EnableControl(id, true);
  ShowControl(kTreeId, false);
  ShowControl(kWaitTextId, true);
  if (!StartTreeTimer()) OnInitTree();
}

bool CBackupPage::StartTreeTimer() {
  m_nTimer = SetTimer(kTreeTimer, kTreeTimerMs);
  return m_nTimer != 0;
}

void CBackupPage::OnTimer(UINT_PTR id) {
  if (id != kTreeTimer) {
    CDynamicPropertyPage::OnTimer(id);
    return;
  }
  KillTimer(kTreeTimer);
  m_nTimer = 0;
  CRect client;
  GetClientRect(&client);
  SetWindowPos(nullptr, 0, 0, client.Width(), client.Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  UpdateWindow();
  OnInitTree();
}

void CBackupPage::OnInitTree() {
  Log(0, u"entering OnInitTree", kClass, __LINE__);
  CWaitCursor wait;
  EnableControl(kBackupId, false);
  EnableControl(kBrowseId, false);
  AGlobal& g = GetGlobal();
  g.g_WorkingIndex.Reset();

  LoadHostDetails();
  OperationDescriptor& op = g.g_Operation;
  op.includeDatabases = GetIncludeDatabases() ? 1 : 0;
  op.includeFileSystem = GetIncludeFileSystem() ? 1 : 0;
  op.includeRegistry = GetIncludeRegistry() ? 1 : 0;
  op.includeMail = GetIncludeMail() ? 1 : 0;
  op.operationKind = kOperationBackup;

  DWORD start = GetTickCount();
  g.UpdateExcludeOptions();
  g.g_WorkingIndex.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  CString text;
  text.Format(u"Index Population Time : %d", static_cast<int>(GetTickCount() - start));
  Log(0, text, kClass, __LINE__);

  start = GetTickCount();
  AttachTreeImages(m_Tree);
  m_Tree.SetComponentList(&g.g_WorkingIndex);
  text.Format(u"Tree Population Time : %d", static_cast<int>(GetTickCount() - start));
  Log(0, text, kClass, __LINE__);
  m_bTreePopulated = true;
  if (OptionOn(kOptionExcludeCards) && OptionOn(kOptionApplyExclusions)) m_bTreeIsCurrent = false;

  ShowControl(kWaitTextId, false);
  ShowControl(kTreeId, true);
  m_bInputPanelFrozen = true;
  if (m_Location.IsEmpty())
    Localizer::FormattedResMessageBox(kStrNoLocation, MB_OK);
  else
    EnableControl(kBackupId, true);
  EnableControl(kBrowseId, true);
  SetFocus();
  FocusBackupButton();
}

// Host mode and host details by the location's kind: the remote options'
// host (kind 1) or the desktop agent's server (kind 2); the host is kept in
// the descriptor for the run after the restart.
void CBackupPage::LoadHostDetails() {
  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  const DWORD kind = m_Location.GetLocationKind();
  if (kind == kLocationRemoteHost) {
    AHostConnection::LoadHostAndPort(g.g_RemoteOptions);
    g.g_HostDetailsSource = kHostDetailsRemoteOptions;
  } else if (kind == kLocationAgentHost) {
    AHostConnection::LoadServerHostDetails();
    g.g_HostDetailsSource = kHostDetailsAgentServer;
  } else {
    g.g_HostDetailsSource = kHostDetailsNone;
  }
  if (kind == kLocationRemoteHost || kind == kLocationAgentHost) {
    op.hostMode = kHostModeRemote;
    op.SetHostName(AHostConnection::GetHostName().view());
    op.hostPort = AHostConnection::GetPort();
  } else {
    op.hostMode = kHostModeLocal;
  }
}

// ---------------------------------------------------------------------------
// Commands

BOOL CBackupPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (code == BN_CLICKED) {
    switch (id) {
      case kBrowseId:
        OnBrowse();
        return TRUE;
      case kAnnotationId:
        OnAnnotation();
        return TRUE;
      case kBackupId:
        OnBackup();
        return TRUE;
      default:
        break;
    }
  }
  if (id == kLocationEditId && !m_bPathSelection && (code == EN_SETFOCUS || code == EN_KILLFOCUS)) {
    m_bEditHasFocus = code == EN_SETFOCUS;
    if (!m_bInputPanelFrozen) ::SHSipPreference(m_hWnd, m_bEditHasFocus ? SIP_UP : SIP_DOWN);
    return TRUE;
  }
  return CDynamicPropertyPage::OnCommand(wParam, lParam);
}

void CBackupPage::OnBrowse() {
  ABackupFilePath chosen = m_Location;
  if (RunSaveDialog(chosen)) m_Location = chosen;
  EnableControl(kBackupId, !m_Location.IsEmpty());
  ShowLocation();
}

bool CBackupPage::RunSaveDialog(ABackupFilePath& location) {
  CNewSaveDlg dlg(location, true, GetGlobal().g_RemoteOptions.GetRemoteEnabled(), true, this);
  if (dlg.DoModal() != IDOK) return false;
  location = dlg.GetPath();
  return true;
}

void CBackupPage::OnAnnotation() {
  m_bAnnotationOpen = true;
  CAnnotationDlg dlg(1, this);
  dlg.DoModal();
  m_bAnnotationOpen = false;
  LowerInputPanel();
}

void CBackupPage::OnBackup() {
  if (!RunBackupSteps()) m_bInputPanelFrozen = true;
}

// The steps of the Backup button; false at every stop.
bool CBackupPage::RunBackupSteps() {
  m_bInputPanelFrozen = false;
  LowerInputPanel();
  ShiftForInputPanel(false);
  UpdateData(TRUE);
  // A writable location edit (no path selection) holds a typed path.
  if (!m_bPathSelection && m_csLocationText != m_Location.GetDisplayName()) {
    m_Location.Set(m_csLocationText, false);
    m_Location.SetLocationKind(kLocationLocal);
  }

  if (!m_Tree.IsRootChecked()) {
    Localizer::ResMessageBox(kStrNothingSelected, MB_OK | MB_ICONSTOP);
    return false;
  }

  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  LoadHostDetails();
  m_Location.SetExtension(ABackupFilePath::kImageExtension);
  op.imagePath = m_Location;

  if (!m_Location.IsOnHost() && System::FileExists(m_Location.GetFullPath()) &&
      Localizer::ResMessageBox(kStrFileExists, MB_YESNO) == IDNO)
    return false;

  // A backup without the password option carries no password of an
  // earlier one.
  g.g_bEncrypt = false;
  g.SetTaskPassword(CString());
  if (OptionOn(kOptionEncrypt)) {
    g.g_bEncrypt = true;
    const bool accepted = AskPassword();
    LowerInputPanel();
    if (!accepted) {
      g.g_bEncrypt = false;
      return false;
    }
  }

  m_Tree.UpdateSelectionFlags(op);
  op.operationKind = kOperationBackup;
  op.taskStartMode = kStartAtOnce;

  if (!ConfirmResetWarning(op.operationKind)) {
    FocusBackupButton();
    return false;
  }

  // The test is for the reset of this run's own request; a run resumed
  // after a reset (2001) starts a new operation.
  RebootController& controller = RebootController::Instance();
  if (controller.GetLocation() == RebootController::kOperationLocation) return false;
  controller.AdvanceLocation(RebootController::kOperationLocation);
  RemoveLeftoverBootCopies();
  // Files whose copy could not be queued are left out as locked ones.
  if (!g.g_WorkingIndex.AddBootCopiesForBackup())
    LogError(0, u"Boot-time copies not registered", kClass, __LINE__);
  ShutdownAndRestart();
  return false;
}

bool CBackupPage::ConfirmResetWarning(int operationKind) {
  if (!ShouldShowResetWarning()) return true;
  ResetNotificationDlg warning(operationKind, this);
  return warning.DoModal() == IDOK;
}

bool CBackupPage::AskPassword() {
  CPasswordDlg dlg(this);
  return dlg.DoModal() == IDOK;
}

void CBackupPage::ShutdownAndRestart() {
  if (RebootSequence::Instance().ShutdownAndReboot(true, true)) return;
  // Only a reset that could not be made comes back here.
  LogError(GetLastError(), u"The device was not reset for the backup", kClass, __LINE__);
  Localizer::ResMessageBox(kStrResetFailed, MB_OK | MB_ICONERROR);
}

// ---------------------------------------------------------------------------
// Layout and the input panel

BOOL CBackupPage::OnOrientationChange() {
  RelayoutDialog();
  return TRUE;
}

void CBackupPage::OnSize(UINT type, int cx, int cy) {
  CDynamicPropertyPage::OnSize(type, cx, cy);
  if (m_Tree.m_hWnd != nullptr) RelayoutDialog();
}

BOOL CBackupPage::RelayoutDialog() {
  Log(0, u"CBackupPage RelayoutDialog", kClass, __LINE__);
  CRect client;
  GetClientRect(&client);
  const int s = std::max(1, GetDisplayScale());
  const int m = kMargin;
  const int w = client.Width();
  const int h = client.Height();
  const int buttonH = 23 * s, editH = 20 * s, labelH = 16 * s;
  const int browseW = 27 * s, backupW = 80 * s;
  const int bottomTop = h - m - buttonH;
  const int editTop = bottomTop - m - 6 * s - editH;
  const int labelTop = editTop - 2 - labelH;
  const int treeBottom = labelTop - m;
  auto place = [this](int id, int x, int y, int cx, int cy) {
    if (CWnd* c = GetDlgItem(id)) c->MoveWindow(x, y, std::max(0, cx), std::max(0, cy));
  };
  place(kTreeId, m, m, w - 2 * m, treeBottom - m);
  place(kWaitTextId, m, m, w - 2 * m, treeBottom - m);
  place(kLabelId, m, labelTop, w - 2 * m, labelH);
  const int editW = m_bPathSelection ? w - 3 * m - browseW : w - 2 * m;
  place(kLocationEditId, m, editTop, editW, editH);
  place(kBrowseId, w - m - browseW, editTop, browseW, editH);
  CRect note(0, 0, 24 * s, 22 * s);
  if (CWnd* button = GetDlgItem(kAnnotationId)) {
    CRect r;
    button->GetWindowRect(&r);
    if (r.Width() > 0) note = CRect(0, 0, r.Width(), r.Height());
  }
  place(kAnnotationId, m, bottomTop, note.Width(), note.Height());
  place(kBackupId, w - m - backupW, bottomTop, backupW, buttonH);
  if (m_bShifted) {
    m_bShifted = false;
    ShiftForInputPanel(true);
  }
  return TRUE;
}

LRESULT CBackupPage::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_WINDOWPOSCHANGED) {
    const LRESULT result = CDynamicPropertyPage::WindowProc(msg, wParam, lParam);
    OnWindowPosChanged();
    return result;
  }
  return CDynamicPropertyPage::WindowProc(msg, wParam, lParam);
}

void CBackupPage::OnWindowPosChanged() {
  if (m_bAnnotationOpen) return;
  SIPINFO info{};
  info.cbSize = sizeof info;
  if (!SipGetInfo(&info)) {
    LogError(GetLastError(), u"BackupPage : Error querying sipinfo", kClass, __LINE__);
    return;
  }
  ShiftForInputPanel((info.fdwFlags & SIPF_ON) != 0);
}

// While the input panel is up the location, its label and the buttons
// stand 80 pixels higher and the tree is 80 pixels shorter; once each way.
void CBackupPage::ShiftForInputPanel(bool shown) {
  if (shown == m_bShifted) return;
  m_bShifted = shown;
  const int dy = shown ? -kInputPanelShift : kInputPanelShift;
  for (int id : {kLocationEditId, kLabelId, kAnnotationId, kBrowseId, kBackupId}) MoveControl(id, dy, 0);
  MoveControl(kTreeId, 0, dy);
}

void CBackupPage::MoveControl(int id, int dy, int dHeight) {
  CWnd* c = GetDlgItem(id);
  if (c == nullptr) return;
  CRect r;
  c->GetWindowRect(&r);
  ScreenToClient(&r);
  c->MoveWindow(r.left, r.top + dy, r.Width(), std::max(0, static_cast<int>(r.Height()) + dHeight));
}

void CBackupPage::LowerInputPanel() { ::SHSipPreference(m_hWnd, SIP_FORCEDOWN); }

void CBackupPage::EnableControl(int id, bool enable) {
  if (CWnd* c = GetDlgItem(id)) c->EnableWindow(enable ? TRUE : FALSE);
}

void CBackupPage::ShowControl(int id, bool show) {
  if (CWnd* c = GetDlgItem(id)) c->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CBackupPage::FocusBackupButton() {
  if (CWnd* c = GetDlgItem(kBackupId)) c->SetFocus();
}
