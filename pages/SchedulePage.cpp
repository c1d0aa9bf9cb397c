#include "pages/SchedulePage.h"

#include "app/PasswordDlg.h"
#include "ce/errors.h"
#include "ce/controls.h"
#include "ce/datetime.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/System.h"
#include "engine/Global.h"
#include "pages/OptionDialogSupport.h"
#include "pages/OptionSeams.h"
#include "scheduling/UnattendedBackup.h"
#include "ui/DataExchange.h"

namespace {

constexpr const WCHAR* kPageClass = u"CSchedulePage";
constexpr const WCHAR* kChangeClass = u"CScheduleChangePage";
constexpr const WCHAR* kHelpTopic = u"Schedule";
constexpr const WCHAR* kTimeFormat = u"HH:mm";
constexpr int64_t kDaySeconds = 86400;

constexpr DWORD kStrPageTitle = 65106;
constexpr DWORD kStrTimesLabel = 65065;
constexpr DWORD kStrNextLabel = 65063;
constexpr DWORD kStrLastLabel = 65064;
constexpr DWORD kStrChange = 65332;
constexpr DWORD kStrNone = 65030;
constexpr DWORD kStrChangeTitle = 65333;
constexpr DWORD kStrEnabled = 57703;
constexpr DWORD kStrFrequencyLabel = 57704;
constexpr DWORD kStrWhenLabel = 65066;
constexpr DWORD kStrFileLabel = 57688;
constexpr DWORD kStrOnce = 57705;
constexpr DWORD kStrDaily = 57706;
constexpr DWORD kStrWeekly = 57707;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;
constexpr DWORD kStrNoFile = 65018;
constexpr DWORD kStrNotInFuture = 57659;
constexpr DWORD kStrNoLocation = 65326;

constexpr int kSmallValueHeight = 13;
constexpr int kLargeValueHeight = 16;

void MakeFont(CFont& font, int height, int weight) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  font.DeleteObject();
  font.CreateFontIndirect(&lf);
}

}  // namespace

// ---- CSchedulePage ------------------------------------------------------------

CSchedulePage::CSchedulePage(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {}

BOOL CSchedulePage::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, kStrPageTitle);
  Localizer::SetControlText(this, kTimesLabelId, kStrTimesLabel);
  Localizer::SetControlText(this, kNextLabelId, kStrNextLabel);
  Localizer::SetControlText(this, kLastLabelId, kStrLastLabel);
  Localizer::SetControlText(this, kChangeButtonId, kStrChange);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  CreateFonts();
  ShowTimes();
  return result;
}

void CSchedulePage::CreateFonts() {
  const int scale = GetDisplayScale();
  const int height = (GetAllowSmallFonts() ? kSmallValueHeight : kLargeValueHeight) * scale;
  MakeFont(m_Font1, height, 400);
  MakeFont(m_Font2, height, kTitleFontWeight);
  for (int id : {kNextTextId, kLastTextId})
    if (CWnd* value = GetDlgItem(id)) value->SetFont(&m_Font1);
  for (int id : {kTimesLabelId, kNextLabelId, kLastLabelId})
    if (CWnd* label = GetDlgItem(id)) label->SetFont(&m_Font2);
}

CString CSchedulePage::FormatWhen(const ADateTime& when) {
  CString day, date, time;
  if (!System::GetDayName(when, day) || !System::FormatDate(when, false, date) || !System::FormatTime(when, time))
    return Localizer::LoadResString(kStrNone);
  CString text;
  text.Format(u"%s %s %s", day.GetString(), date.GetString(), time.GetString());
  return text;
}

CString CSchedulePage::NextBackupText() {
  ANotify schedule;
  if (!schedule.LoadOptions() || !schedule.IsEnabled()) return Localizer::LoadResString(kStrNone);
  ADateTime when;
  if (!ADateTime::FromLocalSystemTime(schedule.GetValueObject().GetTime(), &when))
    return Localizer::LoadResString(kStrNone);
  return FormatWhen(when);
}

CString CSchedulePage::LastBackupText() {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  FILETIME last{};
  DWORD high = 0;
  DWORD low = 0;
  if (!settings.ReadDWORD(u"dwLastBackupHigh", high) || !settings.ReadDWORD(u"dwLastBackupLow", low)) {
    Log(0, u"LastBackupHigh Query failed. Assuming no previous backup", kPageClass, __LINE__);
    return Localizer::LoadResString(kStrNone);
  }
  last.dwHighDateTime = high;
  last.dwLowDateTime = low;
  // Stored in UTC by the task progress dialog; shown in local time.
  return FormatWhen(ADateTime::FromFileTime(last));
}

void CSchedulePage::ShowTimes() {
  SetDlgItemText(kNextTextId, NextBackupText());
  SetDlgItemText(kLastTextId, LastBackupText());
}

BOOL CSchedulePage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == kChangeButtonId && HIWORD(wParam) == BN_CLICKED) {
    CScheduleChangePage change(this);
    if (change.DoModal() == IDOK) ShowTimes();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CSchedulePage::OnPaint() {
  CDynamicDialog::OnPaint();
  CClientDC dc(this);
  OptionDialogs::DrawSeparatorBelow(dc, this, kLastTextId);
}

// ---- CScheduleChangePage -------------------------------------------------------

CScheduleChangePage::CScheduleChangePage(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {}

BOOL CScheduleChangePage::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Log(0, u"CScheduleChangePage::OnInitDialog()", kChangeClass, __LINE__);
  Localizer::SetControlText(this, kTitleControlId, kStrChangeTitle);
  Localizer::SetControlText(this, kEnabledCheckId, kStrEnabled);
  Localizer::SetControlText(this, kFrequencyLabelId, kStrFrequencyLabel);
  Localizer::SetControlText(this, kWhenLabelId, kStrWhenLabel);
  Localizer::SetControlText(this, kFileLabelId, kStrFileLabel);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  SendDlgItemMessage(kFrequencyComboId, CB_RESETCONTENT);
  const struct {
    DWORD text;
    DWORD period;
  } kEntries[] = {{kStrOnce, kPeriodOnce}, {kStrDaily, kPeriodDaily}, {kStrWeekly, kPeriodWeekly}};
  for (const auto& e : kEntries) {
    const LRESULT at = SendDlgItemMessage(kFrequencyComboId, CB_ADDSTRING, 0,
                                          reinterpret_cast<LPARAM>(Localizer::LoadResString(e.text).GetString()));
    if (at >= 0) SendDlgItemMessage(kFrequencyComboId, CB_SETITEMDATA, static_cast<WPARAM>(at), e.period);
  }
  SendDlgItemMessage(kFrequencyComboId, CB_SETCURSEL, 0);
  m_DatePicker.CreateOver(this, kDatePickerId);
  m_TimePicker.CreateOver(this, kTimePickerId, DTS_TIMEFORMAT);
  m_TimePicker.SetFormat(kTimeFormat);
  LoadSchedule();
  return result;
}

void CScheduleChangePage::LoadSchedule() {
  const ADateTime now = System::GetLocalTimeNow();
  ANotify schedule;
  const bool loaded = schedule.LoadOptions();
  m_bEnabled = schedule.IsEnabled() ? TRUE : FALSE;
  ADateTime stored = now;
  if (loaded) {
    m_SchedulePeriod = schedule.GetValueObject().GetFlags();
    m_bScheduleFile = m_SchedulePeriod == kPeriodScheduleFile && m_bEnabled;
    ADateTime::FromLocalSystemTime(schedule.GetValueObject().GetTime(), &stored);
    Log(0, u"Scheduling set.", kChangeClass, __LINE__);
  }
  if (!m_bEnabled) Log(0, u"Scheduling not enabled", kChangeClass, __LINE__);
  const ADateTime shown = stored < now ? now : stored;
  SYSTEMTIME shownFields{};
  SYSTEMTIME nowFields{};
  shown.GetAsSystemTime(&shownFields);
  now.GetAsSystemTime(&nowFields);
  m_TimePicker.SetTime(shownFields);
  m_DatePicker.SetTime(m_SchedulePeriod == kPeriodDaily ? nowFields : shownFields);

  if (!LoadPath()) {
    UpdateControls();
    return;
  }
  UpdateControls();
  m_csPathText = m_Path.GetDisplayName();
  UpdateData(FALSE);
}

bool CScheduleChangePage::LoadPath() {
  AUnattendedBackup unattended;
  unattended.UseUnattendedKey();
  DWORD options = 0;
  CString fileName;
  CString inclusionList;
  bool reset = false;
  bool remote = false;
  if (unattended.RetrieveScheduledBackupOptions(options, fileName, reset, remote, inclusionList)) {
    if (!fileName.IsEmpty()) {
      m_Path.Set(fileName, false);
      m_Path.SetBaseName(m_Path.GetName());
    } else if (!m_Path.FindDefaultBackupLocation(true, false)) {
      Localizer::TextMessageBox(Localizer::FormatResString(kStrNoLocation, GetApplicationName()), MB_OK);
      m_Path.Clear();
      m_csPathText.Empty();
      if (CWnd* ok = GetDlgItem(IDOK)) ok->EnableWindow(FALSE);
      return false;
    }
  }
  const AGlobal& g = GetGlobal();
  if (g.g_BackupOptions.IsOptionOn(kOptionAppendDate) && !m_Path.IsEmpty()) m_Path.AppendDateSuffix();
  // Fixed here: a later Browse does not change where the run goes.
  m_bRemote = remote && g.g_RemoteOptions.GetRemoteEnabled();
  return true;
}

void CScheduleChangePage::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  DDX_Check(dx, kEnabledCheckId, m_bEnabled);
  DDX_Text(dx, kPathEditId, m_csPathText);
}

void CScheduleChangePage::UpdateControls() {
  const bool on = m_bEnabled != FALSE;
  OptionDialogs::EnableControls(this, {kFrequencyLabelId, kFrequencyComboId, kWhenLabelId, kDatePickerId,
                                       kTimePickerId, kFileLabelId, kPathEditId, kBrowseButtonId},
                                on);
  if (on && m_SchedulePeriod == kPeriodDaily) OptionDialogs::EnableControls(this, {kDatePickerId}, false);
  if (m_bScheduleFile) OptionDialogs::EnableControls(this, {kEnabledCheckId, kDatePickerId, IDOK}, false);
  int select = -1;
  const int count = static_cast<int>(SendDlgItemMessage(kFrequencyComboId, CB_GETCOUNT));
  for (int i = 0; i < count; ++i)
    if (static_cast<DWORD>(SendDlgItemMessage(kFrequencyComboId, CB_GETITEMDATA, static_cast<WPARAM>(i))) ==
        m_SchedulePeriod)
      select = i;
  SendDlgItemMessage(kFrequencyComboId, CB_SETCURSEL, static_cast<WPARAM>(select));
}

BOOL CScheduleChangePage::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (id == kEnabledCheckId && code == BN_CLICKED) {
    UpdateData(TRUE);
    UpdateControls();
    UpdateData(FALSE);
    return TRUE;
  }
  // A tap on an entry selects it and closes the list: both say the same.
  if (id == kFrequencyComboId && (code == CBN_CLOSEUP || code == CBN_SELCHANGE)) {
    OnFrequencyCloseUp();
    return TRUE;
  }
  if (id == kBrowseButtonId && code == BN_CLICKED) {
    OnBrowse();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CScheduleChangePage::OnFrequencyCloseUp() {
  const LRESULT selected = SendDlgItemMessage(kFrequencyComboId, CB_GETCURSEL);
  if (selected < 0) return;
  m_SchedulePeriod = static_cast<DWORD>(SendDlgItemMessage(kFrequencyComboId, CB_GETITEMDATA,
                                                           static_cast<WPARAM>(selected)));
  CString line;
  line.Format(u"OnCloseupFrequency() m_SchedulePeriod = %d", static_cast<int>(m_SchedulePeriod));
  Log(0, line, kChangeClass, __LINE__);
  UpdateControls();
}

void CScheduleChangePage::OnBrowse() {
  const AGlobal& g = GetGlobal();
  ABackupFilePath chosen = m_Path;
  const bool nameEditable = !g.g_BackupOptions.IsOptionOn(kOptionAppendDate);
  if (OptionSeams::RunSaveDialog(chosen, nameEditable, g.g_RemoteOptions.GetRemoteEnabled(), false, this) != IDOK)
    return;
  m_Path = chosen;
  // The schedule file keeps OK off whatever is chosen.
  if (!m_Path.IsEmpty() && !m_bScheduleFile)
    if (CWnd* ok = GetDlgItem(IDOK)) ok->EnableWindow(TRUE);
  UpdateData(TRUE);
  m_csPathText = m_Path.GetDisplayName();
  UpdateData(FALSE);
  OptionDialogs::CaretToEnd(this, kPathEditId);
}

DWORD CScheduleChangePage::ScheduledOptions() {
  DWORD options = GetGlobal().g_BackupOptions.PackOptions();
  if (options & (1u << kOptionEncrypt)) {
    CPasswordDlg password(this);
    if (password.DoModal() != IDOK) {
      Log(1, u"Scheduled Password screen cancelled", kChangeClass, __LINE__);
      options &= ~(1u << kOptionEncrypt);
    }
  }
  return options;
}

bool CScheduleChangePage::ScheduledTime(ADateTime* when) {
  const ADateTime now = System::GetLocalTimeNow();
  SYSTEMTIME date{};
  SYSTEMTIME time{};
  now.GetAsSystemTime(&date);
  if (m_SchedulePeriod != kPeriodDaily && m_DatePicker.GetTime(date) != GDT_VALID) now.GetAsSystemTime(&date);
  if (m_TimePicker.GetTime(time) != GDT_VALID) now.GetAsSystemTime(&time);
  date.wHour = time.wHour;
  date.wMinute = time.wMinute;
  date.wSecond = 0;
  date.wMilliseconds = 0;
  ADateTime scheduled;
  if (!ADateTime::FromLocalSystemTime(date, &scheduled)) scheduled = now;
  if (scheduled <= now) {
    if (m_SchedulePeriod != kPeriodDaily) {
      Localizer::ResMessageBox(kStrNotInFuture, MB_OK | MB_ICONSTOP);
      return false;
    }
    scheduled += kDaySeconds;
  }
  *when = scheduled;
  return true;
}

bool CScheduleChangePage::StoreSchedule(const ADateTime& when, DWORD options) {
  CString line;
  line.Format(u"Before setting m_SchedulePeriod = %d", static_cast<int>(m_SchedulePeriod));
  Log(0, line, kChangeClass, __LINE__);
  SYSTEMTIME fields{};
  when.GetAsSystemTime(&fields);
  fields.wMilliseconds = 0;
  ANotify schedule(ANotifyValueObject(m_SchedulePeriod, fields), 1);
  const bool registered = schedule.registerNotification();
  if (!registered) LogError(GetLastError(), u"Failed to register the scheduled backup", kChangeClass, __LINE__);
  m_Path.SetExtension(ABackupFilePath::kImageExtension);
  line.Format(u"Extension set to %s", m_Path.GetExtension().GetString());
  Log(0, line, kChangeClass, __LINE__);
  AUnattendedBackup unattended;
  unattended.UseUnattendedKey();
  const bool stored = unattended.StoreScheduledBackupOptions(options, m_Path.GetFullPath(), false, m_bRemote,
                                                             CString());
  return registered && stored;
}

void CScheduleChangePage::OnOK() {
  if (!UpdateData(TRUE)) return;
  CString line;
  line.Format(u"OnOK() m_SchedulePeriod = %d", static_cast<int>(m_SchedulePeriod));
  Log(0, line, kChangeClass, __LINE__);
  if (m_bEnabled && !m_bScheduleFile) {
    if (m_csPathText.IsEmpty()) {
      Localizer::ResMessageBox(kStrNoFile, MB_OK | MB_ICONSTOP);
      return;
    }
    const DWORD options = ScheduledOptions();
    ADateTime when;
    if (!ScheduledTime(&when)) return;
    StoreSchedule(when, options);
  } else if (m_SchedulePeriod != kPeriodScheduleFile) {
    ANotify schedule;
    schedule.SetEnabled(false);
    schedule.removeNotification();
  }
  EndDialog(IDOK);
}

void CScheduleChangePage::OnPaint() {
  CDynamicDialog::OnPaint();
  CClientDC dc(this);
  OptionDialogs::DrawSeparatorBelow(dc, this, kEnabledCheckId);
  OptionDialogs::DrawSeparatorBelow(dc, this, kTimePickerId);
}

BOOL CScheduleChangePage::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  // Landscape: the buttons take a column on the right; the fields narrow to
  // leave it free.
  CWnd* ok = GetDlgItem(IDOK);
  if (ok == nullptr) return TRUE;
  CRect client, okRect;
  GetClientRect(&client);
  ok->GetWindowRect(&okRect);
  ScreenToClient(&okRect);
  const int right = (IsLandscapeLayout() ? okRect.left : client.right) - kButtonMargin;
  for (int id : {kTitleControlId, kEnabledCheckId, kFrequencyLabelId, kFrequencyComboId, kWhenLabelId,
                 kFileLabelId}) {
    CWnd* control = GetDlgItem(id);
    if (control == nullptr) continue;
    CRect r;
    control->GetWindowRect(&r);
    ScreenToClient(&r);
    control->MoveWindow(r.left, r.top, right - r.left, r.Height());
  }
  CWnd* path = GetDlgItem(kPathEditId);
  CWnd* browse = GetDlgItem(kBrowseButtonId);
  if (path != nullptr && browse != nullptr) {
    CRect p, b;
    path->GetWindowRect(&p);
    ScreenToClient(&p);
    browse->GetWindowRect(&b);
    ScreenToClient(&b);
    browse->MoveWindow(right - b.Width(), b.top, b.Width(), b.Height());
    path->MoveWindow(p.left, p.top, right - b.Width() - kButtonMargin - p.left, p.Height());
  }
  return TRUE;
}
