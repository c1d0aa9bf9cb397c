#include "pages/FileManagementDlg.h"

#include <algorithm>

#include "ce/controls.h"
#include "core/Localizer.h"
#include "pages/OptionDialogSupport.h"
#include "ui/DataExchange.h"

namespace {

constexpr const WCHAR* kHelpTopic = u"BackupManagement";
constexpr DWORD kStrTitle = 65191;
constexpr DWORD kStrSizeCheck = 65182;
constexpr DWORD kStrCountCheck = 65183;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;

DWORD Clamp(DWORD value, DWORD top) { return std::clamp<DWORD>(value, 1, top); }

}  // namespace

LRESULT CNewEditCtrl::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_KEYDOWN && (wParam == VK_LEFT || wParam == VK_RIGHT)) {
    if (auto* dialog = dynamic_cast<CDialog*>(GetParent())) {
      if (wParam == VK_LEFT) dialog->PrevDlgCtrl();
      else dialog->NextDlgCtrl();
    }
  }
  return CEdit::WindowProc(msg, wParam, lParam);
}

CFileManagementDlg::CFileManagementDlg(const BackupOptionsBlock& options, CWnd* parent)
    : CDynamicDialog(IDD, parent, kHelpTopic), m_Options(options) {
  if (m_Options.options[kOptionReclaimSpace]) {
    if (!m_Options.manageFileSize) m_Options.manageFileSizeSize = kDefaultSize;
    if (!m_Options.manageFileQuantity) m_Options.manageFileQuantityQuantity = kDefaultCount;
  } else {
    m_Options.manageFileSize = 0;
    m_Options.manageFileQuantity = 0;
    m_Options.manageFileSizeSize = kDefaultSize;
    m_Options.manageFileQuantityQuantity = kDefaultCount;
  }
}

BOOL CFileManagementDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, kStrTitle);
  Localizer::SetControlText(this, kSizeCheckId, kStrSizeCheck);
  Localizer::SetControlText(this, kCountCheckId, kStrCountCheck);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  m_SizeEdit.SubclassDlgItem(kSizeEditId, this);
  m_CountEdit.SubclassDlgItem(kCountEditId, this);
  SendDlgItemMessage(kSizeSpinId, UDM_SETRANGE32, 1, kSpinMax);
  SendDlgItemMessage(kCountSpinId, UDM_SETRANGE32, 1, kSpinMax);
  EnableEdits();
  ClampValues();
  UpdateData(FALSE);
  return result;
}

void CFileManagementDlg::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  int size = m_Options.manageFileSize ? BST_CHECKED : BST_UNCHECKED;
  int count = m_Options.manageFileQuantity ? BST_CHECKED : BST_UNCHECKED;
  DDX_Check(dx, kSizeCheckId, size);
  DDX_Check(dx, kCountCheckId, count);
  m_Options.manageFileSize = size == BST_CHECKED ? 1 : 0;
  m_Options.manageFileQuantity = count == BST_CHECKED ? 1 : 0;
  // The numbers never fail the exchange: whatever is typed is clamped.
  if (dx->m_bSaveAndValidate) {
    TakeNumber(kSizeEditId);
    TakeNumber(kCountEditId);
  } else {
    SetDlgItemInt(kSizeEditId, m_Options.manageFileSizeSize, FALSE);
    SetDlgItemInt(kCountEditId, m_Options.manageFileQuantityQuantity, FALSE);
  }
}

void CFileManagementDlg::TakeNumber(int editId) {
  CString text;
  GetDlgItemText(editId, text);
  if (editId == kSizeEditId) m_Options.manageFileSizeSize = OptionDialogs::ClampedNumber(text, 1, kSizeMax);
  else m_Options.manageFileQuantityQuantity = OptionDialogs::ClampedNumber(text, 1, kCountMax);
}

void CFileManagementDlg::ClampValues() {
  m_Options.manageFileSizeSize = Clamp(m_Options.manageFileSizeSize, kSizeMax);
  m_Options.manageFileQuantityQuantity = Clamp(m_Options.manageFileQuantityQuantity, kCountMax);
}

void CFileManagementDlg::EnableEdits() {
  OptionDialogs::EnableControls(this, {kSizeEditId, kSizeSpinId}, m_Options.manageFileSize != 0);
  OptionDialogs::EnableControls(this, {kCountEditId, kCountSpinId}, m_Options.manageFileQuantity != 0);
}

BOOL CFileManagementDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if ((id == kSizeCheckId || id == kCountCheckId) && code == BN_CLICKED) {
    UpdateData(TRUE);
    EnableEdits();
    return TRUE;
  }
  if (id == kSizeEditId || id == kCountEditId) {
    if (code == EN_CHANGE) {
      TakeNumber(id);
      return TRUE;
    }
    if (code == EN_SETFOCUS) {
      OnInputPanelSetFocus(id);
      return TRUE;
    }
    if (code == EN_KILLFOCUS) {
      OnInputPanelKillFocus(id);
      UpdateData(TRUE);
      ClampValues();
      UpdateData(FALSE);
      return TRUE;
    }
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CFileManagementDlg::OnOK() {
  if (!UpdateData(TRUE)) return;
  ClampValues();
  m_Options.options[kOptionReclaimSpace] = (m_Options.manageFileSize || m_Options.manageFileQuantity) ? 1 : 0;
  EndDialog(IDOK);
}
