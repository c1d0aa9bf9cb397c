#include "pages/MerrowPage.h"

#include "ce/errors.h"
#include "ce/controls.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "engine/Global.h"
#include "pages/OptionDialogSupport.h"
#include "pages/OptionSeams.h"
#include "scheduling/MerrowIF.h"
#include "scheduling/UnattendedBackup.h"
#include "ui/DataExchange.h"

namespace {

constexpr const WCHAR* kClass = u"CMerrowPage";
constexpr const WCHAR* kHelpTopic = u"BMonitor";

constexpr DWORD kStrTitle = 65107;
constexpr DWORD kStrEnabled = 65335;
constexpr DWORD kStrThresholdLabel = 65336;
constexpr DWORD kStrPercentLabel = 65460;
constexpr DWORD kStrLocationLabel = 57688;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;
constexpr DWORD kStrAutoBackupOn = 65302;
constexpr DWORD kStrAutoBackupOff = 65025;
constexpr DWORD kStrNoLocation = 65326;
constexpr DWORD kStrThresholdRange = 57658;
constexpr DWORD kStrLocationEmpty = 65018;

}  // namespace

CMerrowPage::CMerrowPage(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {}

BOOL CMerrowPage::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, kStrTitle);
  Localizer::SetControlText(this, kEnabledCheckId, kStrEnabled);
  Localizer::SetControlText(this, kThresholdLabelId, kStrThresholdLabel);
  Localizer::SetControlText(this, kPercentLabelId, kStrPercentLabel);
  Localizer::SetControlText(this, kLocationLabelId, kStrLocationLabel);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  SendDlgItemMessage(kAutoBackupComboId, CB_RESETCONTENT);
  SendDlgItemMessage(kAutoBackupComboId, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Localizer::LoadResString(kStrAutoBackupOn).GetString()));
  SendDlgItemMessage(kAutoBackupComboId, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Localizer::LoadResString(kStrAutoBackupOff).GetString()));
  SendDlgItemMessage(kAutoBackupComboId, CB_SETCURSEL, 0);

  AMerrowIF merrow;
  if (merrow.IsEnabled()) {
    m_bEnabled = TRUE;
    m_bAutoBackup = merrow.GetAutoBackup() ? TRUE : FALSE;
    m_nThreshold = static_cast<int>(merrow.GetThreshold());
  }
  SetControlStates();
  if (LoadLocation()) m_csLocation = m_Location.GetDisplayName();
  SendDlgItemMessage(kThresholdSpinId, UDM_SETRANGE32, kThresholdMin, kThresholdMax);
  UpdateData(FALSE);
  return result;
}

bool CMerrowPage::LoadLocation() {
  AUnattendedBackup options;
  options.UseMerrowKey();
  DWORD word = 0;
  CString fileName;
  CString inclusionList;
  bool reset = false;
  bool remote = false;
  const bool read = options.RetrieveScheduledBackupOptions(word, fileName, reset, remote, inclusionList);
  if (read && !fileName.IsEmpty()) {
    m_Location.Set(fileName, false);
    m_Location.SetBaseName(m_Location.GetName());
  } else if (!m_Location.FindDefaultBackupLocation(true, false)) {
    Localizer::TextMessageBox(Localizer::FormatResString(kStrNoLocation, GetApplicationName()), MB_OK);
    m_Location.Clear();
    m_csLocation.Empty();
    if (CWnd* ok = GetDlgItem(IDOK)) ok->EnableWindow(FALSE);
    return false;
  }
  const AGlobal& g = GetGlobal();
  if (g.g_BackupOptions.IsOptionOn(kOptionAppendDate)) m_Location.AppendDateSuffix();
  m_bRemote = read && remote && g.g_RemoteOptions.GetRemoteEnabled();
  return true;
}

void CMerrowPage::SetControlStates() {
  const bool enabled = m_bEnabled != FALSE;
  OptionDialogs::EnableControls(this, {kAutoBackupComboId, kThresholdLabelId, kThresholdEditId, kThresholdSpinId,
                                       kPercentLabelId},
                                enabled);
  const bool locationOn = enabled && m_bAutoBackup;
  OptionDialogs::EnableControls(this, {kBrowseButtonId, kLocationLabelId, kLocationEditId}, locationOn);
  if (enabled) SendDlgItemMessage(kAutoBackupComboId, CB_SETCURSEL, m_bAutoBackup ? 0 : 1);
  if (OptionDialogs::IsStorageCardEdition()) {
    // The storage-card edition lets the path be typed only while Merrow is
    // on without a backup of its own.
    SendDlgItemMessage(kLocationEditId, EM_SETREADONLY, (enabled && !m_bAutoBackup) ? FALSE : TRUE);
  }
}

void CMerrowPage::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  DDX_Check(dx, kEnabledCheckId, m_bEnabled);
  DDX_Text(dx, kThresholdEditId, m_nThreshold);
  DDX_Text(dx, kLocationEditId, m_csLocation);
}

BOOL CMerrowPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (id == kEnabledCheckId && code == BN_CLICKED) {
    OnEnabledClicked();
    return TRUE;
  }
  // A tap on an entry selects it and closes the list: both say the same.
  if (id == kAutoBackupComboId && (code == CBN_CLOSEUP || code == CBN_SELCHANGE)) {
    OnAutoBackupCloseUp();
    return TRUE;
  }
  if (id == kBrowseButtonId && code == BN_CLICKED) {
    OnBrowse();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CMerrowPage::OnEnabledClicked() {
  if (!UpdateData(TRUE)) return;
  SetControlStates();
  UpdateData(FALSE);
}

void CMerrowPage::OnAutoBackupCloseUp() {
  const int selected = static_cast<int>(SendDlgItemMessage(kAutoBackupComboId, CB_GETCURSEL));
  if (selected < 0) return;
  CString text;
  const int length = static_cast<int>(SendDlgItemMessage(kAutoBackupComboId, CB_GETLBTEXTLEN, selected));
  if (length > 0) {
    std::u16string buffer(static_cast<size_t>(length) + 1, u'\0');
    SendDlgItemMessage(kAutoBackupComboId, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(buffer.data()));
    text = buffer.c_str();
  }
  if (text == Localizer::LoadResString(kStrAutoBackupOn)) m_bAutoBackup = TRUE;
  if (text == Localizer::LoadResString(kStrAutoBackupOff)) m_bAutoBackup = FALSE;
  SetControlStates();
}

void CMerrowPage::OnBrowse() {
  ABackupFilePath chosen = m_Location;
  const bool nameEditable = !GetGlobal().g_BackupOptions.IsOptionOn(kOptionAppendDate);
  if (OptionSeams::RunSaveDialog(chosen, nameEditable, false, false, this) == IDOK) m_Location = chosen;
  if (CWnd* ok = GetDlgItem(IDOK)) ok->EnableWindow(m_Location.IsEmpty() ? FALSE : TRUE);
  m_csLocation = m_Location.IsEmpty() ? CString() : m_Location.GetDisplayName();
  UpdateData(FALSE);
  OptionDialogs::CaretToEnd(this, kLocationEditId);
}

void CMerrowPage::OnOK() {
  if (!UpdateData(TRUE)) return;
  if (m_nThreshold < kThresholdMin || m_nThreshold > kThresholdMax) {
    Localizer::ResMessageBox(kStrThresholdRange, MB_OK);
    return;
  }
  AMerrowIF merrow;
  if (m_bEnabled) {
    Log(0, u"Enabling Merrow", kClass, __LINE__);
    merrow.SetEnabled(true);
    if (m_csLocation.IsEmpty()) {
      Localizer::ResMessageBox(kStrLocationEmpty, MB_OK | MB_ICONSTOP);
      return;
    }
    StoreEnabledSettings();
  } else {
    Log(0, u"Disabling Merrow", kClass, __LINE__);
    merrow.SetEnabled(false);
    merrow.Disable();
  }
  EndDialog(IDOK);
}

bool CMerrowPage::StoreEnabledSettings() {
  AMerrowIF merrow;
  const DWORD word = GetGlobal().g_BackupOptions.PackOptions();
  if (!merrow.SetThreshold(static_cast<DWORD>(m_nThreshold)))
    LogError(GetLastError(), u"Failed to set battery threshold", kClass, __LINE__);
  if (!merrow.SetAutoBackup(m_bAutoBackup != FALSE))
    LogError(GetLastError(), u"Failed to set Merrow autobackup", kClass, __LINE__);
  m_Location.SetExtension(ABackupFilePath::kImageExtension);
  AUnattendedBackup options;
  options.UseMerrowKey();
  // A battery-triggered backup always stays on the device.
  const bool stored = options.StoreScheduledBackupOptions(word, m_Location.GetFullPath(), false, false, CString());
  // Merrow set up before (its shortcut exists) rereads; otherwise it starts.
  const bool told = merrow.IsEnabled() ? merrow.SignalUpdateSettings() : merrow.Enable();
  return stored && told;
}

void CMerrowPage::OnPaint() {
  CDynamicDialog::OnPaint();
  CClientDC dc(this);
  OptionDialogs::DrawSeparatorBelow(dc, this, kEnabledCheckId);
  OptionDialogs::DrawSeparatorBelow(dc, this, kLocationEditId);
}
