#include "pages/BackupOptionDialogs.h"

#include <algorithm>
#include <vector>

#include "ce/commdlg.h"
#include "ce/errors.h"
#include "ce/sip.h"
#include "ce/time.h"
#include "core/DateTime.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/System.h"
#include "engine/Global.h"
#include "pages/MenuDialogs.h"
#include "scheduling/Notify.h"
#include "scheduling/UnattendedBackup.h"
#include "ui/Mfc.h"

namespace {

constexpr DWORD kOkText = 57702;
constexpr DWORD kCancelText = 57686;

void SetButtonTexts(CDialog* dlg) {
  Localizer::SetControlText(dlg, IDOK, kOkText);
  Localizer::SetControlText(dlg, IDCANCEL, kCancelText);
}

int AsCheck(DWORD option) { return option != 0 ? BST_CHECKED : BST_UNCHECKED; }

}  // namespace

// ---------------------------------------------------------------------------
// CBackupOptionsPage

namespace {
constexpr const WCHAR* kOptionsClass = u"CBackupOptionsPage";
}  // namespace

CBackupOptionsPage::CBackupOptionsPage(const BackupOptionsBlock& options, CWnd* parent)
    : CDynamicDialog(IDD, parent, u"BOptions"), m_Options(options) {}

BOOL CBackupOptionsPage::OnInitDialog() {
  Localizer::SetControlText(this, kTitleControlId, 65327);
  Localizer::SetControlText(this, kCompressId, 57691);
  Localizer::SetControlText(this, kPasswordId, 57693);
  Localizer::SetControlText(this, kDateSuffixId, 65155);
  Localizer::SetControlText(this, kCardCopyId, 133);
  Localizer::SetControlText(this, kDefaultsId, 57701);
  SetButtonTexts(this);
  CDynamicDialog::OnInitDialog();
  UpdateData(FALSE);
  m_dwCardCopyAtInit = m_Options.options[kOptionCopyProgramToCard];
  return TRUE;
}

void CBackupOptionsPage::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  const struct {
    int id;
    int option;
  } kChecks[] = {{kCompressId, kOptionCompress},
                 {kPasswordId, kOptionEncrypt},
                 {kDateSuffixId, kOptionAppendDate},
                 {kCardCopyId, kOptionCopyProgramToCard}};
  for (const auto& c : kChecks) {
    int check = AsCheck(m_Options.options[c.option]);
    DDX_Check(dx, c.id, check);
    m_Options.options[c.option] = check == BST_CHECKED ? 1 : 0;
  }
}

BOOL CBackupOptionsPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == kDefaultsId && HIWORD(wParam) == BN_CLICKED) {
    OnDefaults();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CBackupOptionsPage::OnDefaults() {
  for (int option : {kOptionClosePrograms, kOptionCompress, kOptionEncrypt, kOptionAppendDate})
    m_Options.options[option] = 1;
  m_Options.options[kOptionCopyProgramToCard] = 0;
  UpdateData(FALSE);
}

void CBackupOptionsPage::OnOK() {
  if (!UpdateData(TRUE)) return;
  if (m_Options.options[kOptionCopyProgramToCard] != m_dwCardCopyAtInit) UpdateCardCopy();
  EndDialog(IDOK);
}

void CBackupOptionsPage::UpdateCardCopy() {
  CWaitCursor wait;
  if (m_Options.options[kOptionCopyProgramToCard] != 0) {
    if (!System::CopyProgramToStorageCard())
      LogError(GetLastError(), u"Cannot copy Quilmo files to storageCard", kOptionsClass, __LINE__);
  } else if (!System::RemoveProgramFromStorageCard()) {
    LogError(GetLastError(), u"Cannot delete Quilmo files from storageCard", kOptionsClass, __LINE__);
  }
}

// ---------------------------------------------------------------------------
// CAdvancedOptDlg

namespace {
constexpr const WCHAR* kAdvancedClass = u"CAdvancedOptDlg";
}  // namespace

CAdvancedOptDlg::CAdvancedOptDlg(CWnd* parent) : CDynamicDialog(IDD, parent, u"BOptions") {}

BOOL CAdvancedOptDlg::OnInitDialog() {
  CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kScheduleFileCheckId, 65225);
  Localizer::SetControlText(this, kTitleControlId, 65224);
  SetButtonTexts(this);
  LoadRegisteredSchedule();
  UpdateData(FALSE);
  EnableFileControls();
  return TRUE;
}

void CAdvancedOptDlg::LoadRegisteredSchedule() {
  ANotify schedule;
  if (!schedule.LoadOptions()) return;
  m_bScheduleFile = schedule.IsEnabled() ? 1 : 0;
  if (schedule.GetValueObject().GetFlags() == kPeriodScheduleFile) {
    Log(0, u"Is FROM_FILE schedule period", kAdvancedClass, __LINE__);
    CString text;
    text.Format(u"enable = %d", m_bScheduleFile);
    Log(0, text, kAdvancedClass, __LINE__);
    m_csScheduleFile = schedule.GetScheduleFile();
  } else {
    Log(0, u"Not FROM_FILE schedule period", kAdvancedClass, __LINE__);
    m_bScheduleFile = 0;
  }
}

void CAdvancedOptDlg::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  DDX_Check(dx, kScheduleFileCheckId, m_bScheduleFile);
  DDX_Text(dx, kScheduleFileEditId, m_csScheduleFile);
}

// The path and its browse button are live only while the check is on.
void CAdvancedOptDlg::EnableFileControls() {
  const BOOL on = m_bScheduleFile != 0 ? TRUE : FALSE;
  if (CWnd* edit = GetDlgItem(kScheduleFileEditId)) edit->EnableWindow(on);
  if (CWnd* browse = GetDlgItem(kBrowseId)) browse->EnableWindow(on);
}

BOOL CAdvancedOptDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case kScheduleFileCheckId:
        UpdateData(TRUE);
        EnableFileControls();
        return TRUE;
      case kBrowseId:
        OnBrowse();
        return TRUE;
      default:
        break;
    }
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

// The platform's open dialog, starting from the current path; Cancel keeps
// the path.
void CAdvancedOptDlg::OnBrowse() {
  static constexpr WCHAR kFilter[] = u".xml\0*.xml\0";  // the literal's NUL ends the list
  UpdateData(TRUE);
  std::vector<WCHAR> file(MAX_PATH + 1, 0);
  const std::u16string_view current = m_csScheduleFile.view().substr(0, MAX_PATH);
  std::copy(current.begin(), current.end(), file.begin());
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = m_hWnd;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = u"pbf";
  if (GetOpenFileNameW(&ofn)) m_csScheduleFile = file.data();
  UpdateData(FALSE);
}

void CAdvancedOptDlg::OnOK() {
  if (!UpdateData(TRUE)) return;
  if (m_bScheduleFile != 0 && m_csScheduleFile.IsEmpty()) {
    Localizer::ResMessageBox(65018, MB_OK | MB_ICONSTOP);
    return;
  }
  if (m_bScheduleFile != 0)
    StoreScheduleFile();
  else
    RemoveSchedule();
  UpdateData(FALSE);
  EndDialog(IDOK);
}

void CAdvancedOptDlg::StoreScheduleFile() {
  AGlobal& g = GetGlobal();
  const DWORD options = g.g_BackupOptions.PackOptions();
  SYSTEMTIME now{};
  if (!System::GetLocalTimeNow().GetAsSystemTime(&now)) GetLocalTime(&now);
  ANotify schedule(ANotifyValueObject(kPeriodScheduleFile, now), 1);
  schedule.SetScheduleFile(m_csScheduleFile);
  if (!schedule.registerOptions())
    LogError(GetLastError(), u"Unable to store the schedule file options", kAdvancedClass, __LINE__);
  CString text;
  text.Format(u"Storing saved options %d to NextSchedule", static_cast<int>(options));
  Log(0, text, kAdvancedClass, __LINE__);
  AUnattendedBackup unattended;
  unattended.UseNextScheduleKey();
  if (!unattended.StoreScheduledBackupOptions(options, m_csScheduleFile, false, false, CString()))
    LogError(GetLastError(), u"Unable to store the NextSchedule options", kAdvancedClass, __LINE__);
  unattended.UseUnattendedKey();
  if (!unattended.StoreScheduledBackupOptions(options, m_csScheduleFile, false, false, CString()))
    LogError(GetLastError(), u"Unable to store the Unattended options", kAdvancedClass, __LINE__);
  if (!schedule.Reschedule())
    LogError(GetLastError(), u"Unable to schedule from the schedule file", kAdvancedClass, __LINE__);
}

// Drops the registered notification, also when none was registered.
void CAdvancedOptDlg::RemoveSchedule() {
  ANotify schedule;
  // What is not stored keeps its defaults; only the enable value is written.
  if (!schedule.LoadOptions()) Log(0, u"No schedule registered", kAdvancedClass, __LINE__);
  schedule.SetEnabled(false);
  schedule.removeNotification();
}

// ---------------------------------------------------------------------------
// CAnnotationDlg

namespace {
constexpr const WCHAR* kAnnotationClass = u"CAnnotationDlg";
}  // namespace

CAnnotationDlg::CAnnotationDlg(int mode, CWnd* parent)
    : CDynamicDialog(IDD, parent, u"Main_Contents"), m_nMode(mode) {}

BOOL CAnnotationDlg::OnInitDialog() {
  CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, 65255);
  SetButtonTexts(this);
  const OperationDescriptor& op = GetGlobal().g_Operation;
  const CString annotation = op.GetAnnotation();
  CString text = Localizer::LoadResString(kPromptString);
  if (op.operationKind == kOperationRestore) {
    text = annotation;
    if (CWnd* cancel = GetDlgItem(IDCANCEL)) cancel->ShowWindow(SW_HIDE);
  } else if (!annotation.IsEmpty() && annotation != Localizer::LoadResString(kNoAnnotationString)) {
    text = annotation;
  }
  SetDlgItemText(kEditId, text);
  if (m_nMode == 0)
    SendDlgItemMessage(kEditId, EM_SETREADONLY, TRUE);
  else
    UseInputPanel(kEditId);
  SendDlgItemMessage(kEditId, EM_LIMITTEXT, kEditLimit);
  CString line;
  line.Format(u"CEdit textlimit %d", static_cast<int>(SendDlgItemMessage(kEditId, EM_GETLIMITTEXT)));
  Log(0, line, kAnnotationClass, __LINE__);
  // The prompt stays until the user taps the edit: the focus starts on OK.
  if (CWnd* ok = GetDlgItem(IDOK)) ok->SetFocus();
  return FALSE;
}

void CAnnotationDlg::OnInputPanelSetFocus(int editId) {
  CDynamicDialog::OnInputPanelSetFocus(editId);
  CString text;
  GetDlgItemText(kEditId, text);
  if (text == Localizer::LoadResString(kPromptString)) SetDlgItemText(kEditId, u"");
}

void CAnnotationDlg::OnOK() {
  ::SHSipPreference(m_hWnd, SIP_DOWN);
  CString text;
  GetDlgItemText(kEditId, text);
  if (text == Localizer::LoadResString(kPromptString) || text == Localizer::LoadResString(kNoAnnotationString))
    text = Localizer::LoadResString(kNoAnnotationString);
  GetGlobal().g_Operation.SetAnnotation(text.view().substr(0, kStoredChars));
  EndDialog(IDOK);
}

// ---------------------------------------------------------------------------
// CAddExclusionDlg

CAddExclusionDlg::CAddExclusionDlg(CWnd* parent) : CDynamicDialog(IDD, parent, u"EditExcludeList") {}

BOOL CAddExclusionDlg::OnInitDialog() {
  CDynamicDialog::OnInitDialog();
  // The shell's full-screen support for dialogs has nothing to do here: the
  // base already fills the screen below the title bar.
  Localizer::SetControlText(this, kLabelId, 65334);
  SetButtonTexts(this);
  ::SHSipPreference(m_hWnd, SIP_UP);
  return TRUE;
}

void CAddExclusionDlg::OnOK() {
  ::SHSipPreference(m_hWnd, SIP_DOWN);
  GetDlgItemText(kEditId, m_csExclusion);
  EndDialog(IDOK);
}

void CAddExclusionDlg::OnCancel() {
  ::SHSipPreference(m_hWnd, SIP_DOWN);
  EndDialog(IDCANCEL);
}

// ---------------------------------------------------------------------------
// Menu entries

INT_PTR RunBackupOptionsDialog(CWnd* parent, BackupOptionsBlock& options) {
  return RunOptionsBlockDialog<CBackupOptionsPage>(parent, options);
}

INT_PTR RunAdvancedOptionsDialog(CWnd* parent) {
  CAdvancedOptDlg dlg(parent);
  return dlg.DoModal();
}
