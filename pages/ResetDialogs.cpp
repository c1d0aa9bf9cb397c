#include "pages/ResetDialogs.h"

#include <algorithm>
#include <optional>

#include "ce/errors.h"
#include "ce/system.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "engine/Global.h"

namespace {

constexpr const WCHAR* kClass = u"ResetNotificationDlg";

constexpr DWORD kStrWarning = 65379;
constexpr DWORD kStrWarningOff = 65378;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;
constexpr DWORD kStrOptionsReset = 136;

// The four bits as last read (none read yet: empty).
std::optional<DWORD> g_resetWarnings;

DWORD ReadResetWarnings() {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  DWORD value = kAllResetWarnings;
  settings.GetDWORD(kShowResetWarningValue, value, kAllResetWarnings);
  g_resetWarnings = value & kAllResetWarnings;
  return *g_resetWarnings;
}

// Both notes are plain dialogs over a portrait template: they fill the
// work area of the screen they open on or are turned to, their texts as
// wide as it, their buttons along its bottom (OK right, Cancel left).
void FitToScreen(CDialog& dialog) {
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  RECT work{0, 0, screenWidth, ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  dialog.MoveWindow(0, work.top, screenWidth, work.bottom - work.top);
  CRect client;
  dialog.GetClientRect(&client);
  const int margin = 3 * GetDisplayScale();
  for (HWND child = ::GetWindow(dialog.m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    RECT r{};
    ::GetWindowRect(child, &r);
    POINT at{r.left, r.top};
    ::ScreenToClient(dialog.m_hWnd, &at);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    switch (::GetDlgCtrlID(child)) {
      case IDOK:
        ::MoveWindow(child, client.Width() - width - margin, client.Height() - height - margin, width, height, TRUE);
        break;
      case IDCANCEL:
        ::MoveWindow(child, margin, client.Height() - height - margin, width, height, TRUE);
        break;
      default:
        ::MoveWindow(child, at.x, at.y, std::max(0, static_cast<int>(client.Width()) - 2 * at.x), height, TRUE);
        break;
    }
  }
}

DWORD CurrentCaseBit() {
  const AGlobal& g = GetGlobal();
  return ResetWarningBit(g.g_bAdvancedMode, g.g_Operation.operationKind);
}

}  // namespace

DWORD ResetWarningBit(bool advancedMode, int operationKind) {
  const DWORD restore = operationKind == kOperationRestore ? 1 : 0;
  return 1u << ((advancedMode ? 2 : 0) + restore);
}

bool ShouldShowResetWarning() { return (ReadResetWarnings() & CurrentCaseBit()) != 0; }

void ClearResetWarning() {
  // Read again: another window may have changed the value since the copy
  // was taken, and its bits must survive.
  const DWORD bits = ReadResetWarnings() & ~CurrentCaseBit();
  g_resetWarnings = bits;
  ABackupRegistrySettings settings(kSettingsKeyKind);
  if (!settings.WriteDWORD(kShowResetWarningValue, bits))
    LogError(GetLastError(), u"Unable to store ShowBackupResetWarning", kClass, __LINE__);
}

// ------------------------------------------------------------ warning

ResetNotificationDlg::ResetNotificationDlg(int operationKind, CWnd* parent)
    : CDialog(IDD, parent), m_nOperationKind(operationKind) {}

BOOL ResetNotificationDlg::OnInitDialog() {
  const BOOL result = CDialog::OnInitDialog();
  SetWindowText(GetApplicationName());
  Localizer::SetControlText(this, kWarningTextId, kStrWarning);
  Localizer::SetControlText(this, kWarningOffId, kStrWarningOff);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  // A restore always warns: the user cannot turn it off here.
  if (m_nOperationKind == kOperationRestore)
    if (CWnd* box = GetDlgItem(kWarningOffId)) box->ShowWindow(SW_HIDE);
  FitToScreen(*this);
  return result;
}

void ResetNotificationDlg::OnSettingChange(UINT flags, LPCWSTR section) {
  CDialog::OnSettingChange(flags, section);
  FitToScreen(*this);
}

void ResetNotificationDlg::OnOK() {
  // A restore's warning cannot be turned off: its box is never offered.
  m_bWarningOff = m_nOperationKind != kOperationRestore && IsDlgButtonChecked(kWarningOffId) == BST_CHECKED;
  if (m_bWarningOff) ClearResetWarning();
  EndDialog(IDOK);
}

// ------------------------------------------------------ options reset

CResetOptionsDisplayDlg::CResetOptionsDisplayDlg(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CResetOptionsDisplayDlg::OnInitDialog() {
  const BOOL result = CDialog::OnInitDialog();
  SetWindowText(GetApplicationName());
  Localizer::SetControlText(this, kTextId, kStrOptionsReset);
  FitToScreen(*this);
  return result;
}

void CResetOptionsDisplayDlg::OnSettingChange(UINT flags, LPCWSTR section) {
  CDialog::OnSettingChange(flags, section);
  FitToScreen(*this);
}

INT_PTR RunResetOptionsDisplayDialog(CWnd* parent) {
  CResetOptionsDisplayDlg dialog(parent);
  return dialog.DoModal();
}
