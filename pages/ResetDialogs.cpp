#include "pages/ResetDialogs.h"

#include <optional>

#include "ce/errors.h"
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
  return result;
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
  return result;
}

INT_PTR RunResetOptionsDisplayDialog(CWnd* parent) {
  CResetOptionsDisplayDlg dialog(parent);
  return dialog.DoModal();
}
