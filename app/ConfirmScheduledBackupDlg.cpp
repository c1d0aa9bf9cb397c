#include "app/ConfirmScheduledBackupDlg.h"

#include "core/Localizer.h"
#include "ui/DataExchange.h"

namespace {

constexpr DWORD kStrExplanation = 146;
constexpr DWORD kStrPowerOff = 147;
constexpr DWORD kStrStart = 57712;
constexpr DWORD kStrCancel = 57686;

}  // namespace

ConfirmScheduledBackupDlg::ConfirmScheduledBackupDlg(CWnd* parent) : CDynamicDialog(kTemplateId, parent) {}

BOOL ConfirmScheduledBackupDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTextId, kStrExplanation);
  Localizer::SetControlText(this, kCheckId, kStrPowerOff);
  Localizer::SetControlText(this, IDOK, kStrStart);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  SendDlgItemMessage(kProgressId, PBM_SETRANGE32, 0, kSeconds);
  SendDlgItemMessage(kProgressId, PBM_SETPOS, 0);
  SetTimer(kTimerId, kTimerMs);
  return result;
}

void ConfirmScheduledBackupDlg::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  DDX_Check(dx, kCheckId, m_nCheck);
}

void ConfirmScheduledBackupDlg::OnTimer(UINT_PTR) {
  SendDlgItemMessage(kProgressId, PBM_DELTAPOS, 1);
  if (SendDlgItemMessage(kProgressId, PBM_GETPOS) > kSeconds - 1) OnOK();
}

void ConfirmScheduledBackupDlg::OnOK() {
  KillTimer(kTimerId);
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}
