#include "app/TaskProgressDlg.h"

#include <algorithm>
#include <string>

#include "app/QuilmoApp.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/sip.h"
#include "ce/sound.h"
#include "ce/time.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/BackupHistory.h"
#include "engine/DatabaseVolumes.h"
#include "engine/Global.h"
#include "engine/HalveyIF.h"
#include "engine/ImagingTask.h"
#include "engine/RebootActions.h"
#include "engine/RebootController.h"
#include "engine/TaskReport.h"
#include "ui/Loop.h"

namespace {

constexpr const WCHAR* kClass = u"CTaskProgressDlg";

// Texts of the window.
constexpr DWORD kStrBackupTitle = 57679;
constexpr DWORD kStrRestoreTitle = 65221;
constexpr DWORD kStrTitleTail = 65305;
constexpr DWORD kStrStart = 57712;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrRestart = 65366;
constexpr DWORD kStrCancel = 57686;
constexpr DWORD kStrViewReport = 65169;
constexpr DWORD kStrWaitRestore = 57713;
constexpr DWORD kStrWaitBackup = 57714;
constexpr DWORD kStrAutoRestore = 65304;
constexpr DWORD kStrAutoBackup = 65303;
constexpr DWORD kStrCardBackup = 65250;
constexpr DWORD kStrCardRestore = 65251;
constexpr DWORD kStrCompression = 65120;
constexpr DWORD kStrYes = 65121;
constexpr DWORD kStrNo = 65122;
constexpr DWORD kStrPassword = 65123;
constexpr DWORD kStrRestoreFrom = 65124;
constexpr DWORD kStrBackupTo = 65242;
constexpr DWORD kStrDone = 65125;
constexpr DWORD kStrOf = 65126;
constexpr DWORD kStrElapsed = 65127;
constexpr DWORD kStrHours = 65128;
constexpr DWORD kStrMinutes = 65129;
constexpr DWORD kStrSeconds = 65130;
constexpr DWORD kStrTaskReturned = 65296;
constexpr DWORD kStrCancelled = 65072;
constexpr DWORD kStrFailed = 57660;
constexpr DWORD kStrResetting = 65380;
constexpr DWORD kStrCancelQuestion = 65074;
constexpr DWORD kStrFinishedRestoreBox = 57670;
constexpr DWORD kStrResetBox = 65310;
constexpr DWORD kStrFailedAfterActions = 65367;
constexpr DWORD kStrBackupCancelled = 65377;
// Outcome texts by report result 1..3: restore, backup.
constexpr DWORD kStrRestoreOutcome[] = {129, 132, 143};
constexpr DWORD kStrBackupOutcome[] = {65144, 65145, 65146};
// Post-boot texts of the failure kinds.
constexpr DWORD kStrCrcMismatch = 65110;
constexpr DWORD kStrFailCode3 = 65203;
constexpr DWORD kStrHostUnreachable = 65058;
constexpr DWORD kStrImageNotOpened = 65226;
constexpr DWORD kStrLocationMissing = 130;
constexpr DWORD kStrOtherFailure = 65293;

// Report texts.
constexpr DWORD kStrReportResult = 65135;
constexpr DWORD kStrReportImage = 65136;
constexpr DWORD kStrReportStart = 65137;
constexpr DWORD kStrReportEnd = 65138;
constexpr DWORD kStrReportElapsed = 65139;
constexpr DWORD kStrReportKb = 65140;
constexpr DWORD kStrReportRate = 65141;
constexpr DWORD kStrReportRateUnit = 65142;
constexpr DWORD kStrBackupSucceeded = 65131;
constexpr DWORD kStrRestoreSucceeded = 65132;
constexpr DWORD kStrBackupFailed = 65133;
constexpr DWORD kStrRestoreFailed = 65134;
constexpr DWORD kStrItemPrefix[] = {57738, 57717, 57739};  // by item type

// Pictures.
constexpr DWORD kBitmapHost = 291;
constexpr DWORD kBitmapDevice = 292;
constexpr DWORD kBitmapCard = 293;
constexpr DWORD kBitmapOther = 402;
constexpr DWORD kBitmapBuiltIn = 403;

constexpr int kTextFontHeight = 11;   // times the scale
constexpr int kTextFontWeight = 400;
constexpr DWORD kCloseOptionIndex = 0;     // close running programs first
constexpr DWORD kCompressOptionIndex = 1;

CTaskProgressDlg::ResetFunction& ResetOverride() {
  static CTaskProgressDlg::ResetFunction reset;
  return reset;
}

CString Res(DWORD id) { return Localizer::LoadResString(id); }

int64_t Seconds(const ADateTime& from, const ADateTime& to) { return std::max<int64_t>(0, to - from); }

}  // namespace

// ================================================================ report

int BackupReportFile::ResultOf(const ATaskReport& report) {
  int result = kReportClean;
  for (int i = 0; i < report.GetCount(); ++i) {
    TaskReportItem item;
    if (!report.GetItem(item, i)) return kReportNotWritten;
    if (item.type == TaskReportItem::kError) result = kReportErrors;
    else if (item.type == TaskReportItem::kWarning && result == kReportClean) result = kReportWarnings;
  }
  return result;
}

CString BackupReportFile::Compose(const Run& run, const ATaskReport& report, int* result) {
  CString text;
  DWORD outcome;
  if (run.succeeded && run.cancelled) outcome = kStrCancelled;
  else if (!run.succeeded) outcome = run.backup ? kStrBackupFailed : kStrRestoreFailed;
  else outcome = run.backup ? kStrBackupSucceeded : kStrRestoreSucceeded;
  text.AppendFormat(u"%s : %s\r\n", Res(kStrReportResult), Res(outcome));
  text.AppendFormat(u"%s : %s\r\n\r\n", Res(kStrReportImage), run.imagePath);

  auto dateAndTime = [](const ADateTime& when, CString& date, CString& time) {
    // A value the platform cannot convert leaves its text empty.
    if (!System::FormatDate(when, false, date)) date.Empty();
    if (!System::FormatTime(when, time)) time.Empty();
  };
  CString date, time;
  dateAndTime(run.start, date, time);
  text.AppendFormat(u"%s : %s, %s\r\n", Res(kStrReportStart), date, time);
  dateAndTime(run.end, date, time);
  text.AppendFormat(u"%s : %s, %s\r\n\r\n", Res(kStrReportEnd), date, time);

  const int64_t elapsed = Seconds(run.start, run.end);
  const int hours = static_cast<int>(elapsed / 3600);
  const int minutes = static_cast<int>(elapsed / 60 % 60);
  const int seconds = static_cast<int>(elapsed % 60);
  CString line;
  if (elapsed >= 3600) {
    line.Format(u"%s : %d:%02d:%02d %s", Res(kStrReportElapsed), hours, minutes, seconds, Res(kStrHours));
  } else if (elapsed >= 60) {
    line.Format(u"%s : %d:%02d %s", Res(kStrReportElapsed), minutes, seconds, Res(kStrMinutes));
  } else {
    line.Format(u"%s : %d %s", Res(kStrReportElapsed), seconds, Res(kStrSeconds));
  }
  text.AppendFormat(u"%s\r\n", line);
  text.AppendFormat(u"%s : %d KB \r\n", Res(kStrReportKb), static_cast<int>(run.bytesProcessed / 1024));
  const int rate = elapsed == 0 ? 0 : static_cast<int>(run.bytesProcessed / elapsed / 1024);
  text.AppendFormat(u"%s : %d %s\r\n", Res(kStrReportRate), rate, Res(kStrReportRateUnit));
  text += u"\r\n";

  *result = kReportClean;
  for (int i = 0; i < report.GetCount(); ++i) {
    TaskReportItem item;
    if (!report.GetItem(item, i)) {
      Log(0, u"GetItem Failed", kClass, __LINE__);
      *result = kReportNotWritten;
      return text;
    }
    if (item.type > TaskReportItem::kError) continue;
    if (item.type == TaskReportItem::kError) *result = kReportErrors;
    else if (item.type == TaskReportItem::kWarning && *result == kReportClean) *result = kReportWarnings;
    text.AppendFormat(u"%s : %s\r\n", Res(kStrItemPrefix[item.type]), CString(item.text));
  }
  return text;
}

std::string BackupReportFile::Encode(const CString& text) {
  std::string bytes("\xFF\xFE", 2);
  bytes.reserve(2 + 2 * static_cast<size_t>(text.GetLength()));
  for (char16_t c : text.view()) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

int BackupReportFile::Write(const Run& run, const ATaskReport& report, ABackupHistoryHandler& history,
                            CString* reportPath) {
  Log(0, u"Iterating history files", kClass, __LINE__);
  if (history.Found()) {
    const bool rotated = history.RotateReports();
    Log(0, u"History files iterated", kClass, __LINE__);
    if (!rotated) {
      LogError(GetLastError(), u"Error iterating history files", kClass, __LINE__);
      return kReportNotWritten;
    }
  } else {
    Log(0, u"No history folder to iterate", kClass, __LINE__);
    if (!history.CreateFolder()) return kReportNotWritten;
  }
  const CString path = history.Folder() + kFileName;
  int result = kReportClean;
  const std::string bytes = Encode(Compose(run, report, &result));

  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogError(GetLastError(), CString(u"Unable to create the report file ") + path, kClass, __LINE__);
    return kReportNotWritten;
  }
  if (reportPath) *reportPath = path;
  DWORD written = 0;
  const bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size();
  const DWORD error = GetLastError();
  const bool closed = CloseHandle(file);
  if (!whole || !closed) {
    LogError(whole ? GetLastError() : error, CString(u"Unable to write the report file ") + path, kClass,
             __LINE__);
    return kReportNotWritten;
  }
  return result;
}

// ================================================================ window

CTaskProgressDlg::CTaskProgressDlg(int startMode, AOperation* operation, AImagingTaskClient* task,
                                   CWnd* parent)
    : CDynamicDialog(kTemplateId, parent),
      ITaskProgress(&m_Record),
      m_nState(startMode >= kWaiting && startMode <= kStartingAtOnce ? startMode : kWaiting),
      m_pOperation(operation),
      m_pTask(task),
      m_bSmallFonts(GetAllowSmallFonts()),
      m_nScale(GetDisplayScale()),
      m_bReverseText(GetReverseProgressText()),
      m_csViewerName(GetOmbricExeName()) {
  m_Record = TaskProgressRecord();
}

CTaskProgressDlg::~CTaskProgressDlg() = default;

void CTaskProgressDlg::SetResetFunctionForTest(ResetFunction reset) { ResetOverride() = std::move(reset); }

bool CTaskProgressDlg::IsBackup() const { return GetGlobal().g_Operation.operationKind == kOperationBackup; }
bool CTaskProgressDlg::IsRestore() const { return GetGlobal().g_Operation.operationKind == kOperationRestore; }
bool CTaskProgressDlg::NeedsReset() const { return RebootActions::Instance().HasPending(); }

bool CTaskProgressDlg::IsStorageCardEdition() const {
  const auto* app = dynamic_cast<const CQuilmoApp*>(AfxGetApp());
  return GetBackupCardVersion() && app && app->m_bStorageCardEdition;
}

void CTaskProgressDlg::ShowControl(int id, bool show) {
  if (CWnd* w = GetDlgItem(id)) w->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CTaskProgressDlg::EnableControl(int id, bool enable) {
  if (CWnd* w = GetDlgItem(id)) w->EnableWindow(enable ? TRUE : FALSE);
}

void CTaskProgressDlg::SetStatus(const CString& text) { SetDlgItemText(kStatusId, text); }
void CTaskProgressDlg::SetStatus(DWORD stringId) { SetStatus(Res(stringId)); }

// ------------------------------------------------------------- opening

BOOL CTaskProgressDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  CString line;
  line.Format(u"CTaskProgressDlg::OnInitDialog() -> ITC::pTaskProgress=0x%08X",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(static_cast<ITaskProgress*>(this))));
  Log(0, line, kClass, __LINE__);

  CreateFonts();
  SetFixedTexts();
  ComposeInformation();
  LoadPictures();
  ShowControl(kViewReportId, false);
  ShowControl(kElapsedId, false);
  ShowControl(kStatusId, false);
  PrepareStartMode();

  SetTimer(kInputPanelTimer, kShortTimerMs);
  SetForegroundWindow();
  return result;
}

void CTaskProgressDlg::CreateFonts() {
  LOGFONTW font{};
  font.lfHeight = (m_bSmallFonts ? kSmallTitleHeight : kLargeTitleHeight) * m_nScale;
  font.lfWeight = kTitleFontWeight;
  font.lfCharSet = DEFAULT_CHARSET;
  // The title font is the base's; a font that cannot be made leaves the
  // control's own.
  if (m_SecondFont.CreateFontIndirect(&font)) {
    if (CWnd* w = GetDlgItem(kStatusId)) w->SetFont(&m_SecondFont);
  }
  font.lfHeight = kTextFontHeight * m_nScale;
  font.lfWeight = kTextFontWeight;
  if (m_TextFont.CreateFontIndirect(&font)) {
    for (int id : {kItemId, kElapsedId, kInformationId}) {
      if (CWnd* w = GetDlgItem(id)) w->SetFont(&m_TextFont);
    }
  }
}

void CTaskProgressDlg::SetFixedTexts() {
  SetDlgItemText(kTitleControlId, Res(IsRestore() ? kStrRestoreTitle : kStrBackupTitle) + u"  " +
                                      Res(kStrTitleTail));
  Localizer::SetControlText(this, kStartId, kStrStart);
  Localizer::SetControlText(this, kCancelId, kStrCancel);
  Localizer::SetControlText(this, kViewReportId, kStrViewReport);
  SetDlgItemText(kStatusId, u"");
  SetDlgItemText(kElapsedId, u"");
  SetDlgItemText(kItemId, u"");
  m_csLastItem.Empty();
  m_nPercent = 101;
  m_Record = TaskProgressRecord();
}

void CTaskProgressDlg::ComposeInformation() {
  AGlobal& g = GetGlobal();
  bool compressed;
  bool enciphered;
  DWORD whereLabel;
  if (IsRestore()) {
    // What the image's metadata told before the window opened.
    compressed = g.g_bCompress;
    enciphered = g.g_bEncrypt;
    whereLabel = kStrRestoreFrom;
  } else {
    compressed = g.g_BackupOptions.IsOptionOn(kCompressOptionIndex);
    enciphered = g.g_bEncrypt;
    whereLabel = kStrBackupTo;
  }
  m_csInformation = Res(kStrCompression) + Res(compressed ? kStrYes : kStrNo) + u"\n" + Res(kStrPassword) +
                    Res(enciphered ? kStrYes : kStrNo) + u"\n" + Res(whereLabel) +
                    g.g_Operation.imagePath.GetDisplayName();
  SetDlgItemText(kInformationId, m_csInformation);
}

void CTaskProgressDlg::LoadPictures() {
  const ABackupFilePath& image = GetGlobal().g_Operation.imagePath;
  const CString path = image.GetFullPath();
  DWORD other = kBitmapOther;
  if (image.IsOnHost() || GetGlobal().g_Operation.hostMode == kHostModeRemote) other = kBitmapHost;
  else if (System::IsOnBuiltInStorage(path)) other = kBitmapBuiltIn;
  else if (System::IsOnStorageCard(path)) other = kBitmapCard;
  const DWORD source = IsRestore() ? other : kBitmapDevice;
  const DWORD destination = IsRestore() ? kBitmapDevice : other;
  if (!LoadResBitmap(source, m_SourceBitmap)) LogError(GetLastError(), u"Error loading source bitmap", kClass, __LINE__);
  if (!LoadResBitmap(destination, m_DestinationBitmap))
    LogError(GetLastError(), u"Error loading destination bitmap", kClass, __LINE__);
}

int CTaskProgressDlg::ReadCountdownSeconds() const {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  DWORD seconds = 1;
  if (!settings.ReadDWORD(kCountdownValue, seconds)) {
    Log(0, u"GetAutostartCountdownSeconds::Not set", kClass, __LINE__);
    seconds = 1;
  }
  // The bar counts in a signed 32-bit range.
  return static_cast<int>(std::min<DWORD>(seconds, 0x7FFFFFFF));
}

void CTaskProgressDlg::PrepareStartMode() {
  AGlobal& g = GetGlobal();
  const bool card = IsStorageCardEdition();
  if (m_nState == kWaiting) {
    Log(0, u"Waiting for user input to start", kClass, __LINE__);
    if (card) Localizer::ResMessageBox(IsRestore() ? kStrCardRestore : kStrCardBackup, MB_OK | MB_ICONINFORMATION);
    SetDlgItemText(kItemId, Res(IsRestore() ? kStrWaitRestore : kStrWaitBackup));
    EnableControl(kStartId, true);
    return;
  }
  int seconds = 1;
  if (m_nState == kCountingDown) {
    Log(0, u"Performing Autostart", kClass, __LINE__);
  } else {
    Log(0, u"Performing Autostart, countdown set to 1", kClass, __LINE__);
  }
  if (card) {
    if (IsRestore() && !g.g_bUnattended && !g.g_bCommandLineRestore) {
      Localizer::ResMessageBox(kStrCardRestore, MB_OK | MB_ICONINFORMATION);
    } else if (IsBackup() && !g.g_bUnattended && !g.g_bCommandLineBackup) {
      Localizer::ResMessageBox(kStrCardBackup, MB_OK | MB_ICONINFORMATION);
    }
  }
  SetDlgItemText(kItemId, Res(IsRestore() ? kStrAutoRestore : kStrAutoBackup));
  if (m_nState == kCountingDown) {
    seconds = ReadCountdownSeconds();
    CString line;
    line.Format(u"Countdown delay set to %d", seconds);
    Log(0, line, kClass, __LINE__);
  }
  SendDlgItemMessage(kProgressId, PBM_SETRANGE32, 0, seconds);
  SendDlgItemMessage(kProgressId, PBM_SETPOS, seconds);
  SendDlgItemMessage(kProgressId, PBM_SETSTEP, static_cast<WPARAM>(-1));
  SetTimer(kCountdownTimer, kCountdownMs);
  EnableControl(kStartId, m_nState == kCountingDown);
}

// ---------------------------------------------------------------- timers

void CTaskProgressDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kCountdownTimer: OnCountdownTick(); break;
    case kFinishTimer: OnFinishTimer(); break;
    case kInputPanelTimer:
      KillTimer(kInputPanelTimer);
      SHSipPreference(m_hWnd, SIP_FORCEDOWN);
      break;
    default: CDynamicDialog::OnTimer(id); break;
  }
}

void CTaskProgressDlg::OnCountdownTick() {
  SendDlgItemMessage(kProgressId, PBM_STEPIT);
  if (SendDlgItemMessage(kProgressId, PBM_GETPOS) > 0) return;
  KillTimer(kCountdownTimer);
  if (m_nState != kCountingDown && m_nState != kStartingAtOnce) return;  // cancelled meanwhile
  // Mode 3 keeps the start button disabled: the countdown starts the task
  // itself rather than pressing a button no one may press.
  if (m_nState == kStartingAtOnce) {
    OnStart();
    return;
  }
  CWnd* start = GetDlgItem(kStartId);
  SendMessage(WM_COMMAND, MAKEWPARAM(kStartId, BN_CLICKED), reinterpret_cast<LPARAM>(start ? start->m_hWnd : nullptr));
}

// ------------------------------------------------------------- commands

BOOL CTaskProgressDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case kStartId: OnStart(); return TRUE;
      case kCancelId: OnCancelButton(); return TRUE;
      case kViewReportId: LaunchReportViewer(); return TRUE;
      default: break;
    }
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

// The window has no OK button: Enter does nothing. Cancel from the
// keyboard or the shell acts as the cancel button.
void CTaskProgressDlg::OnOK() {}
void CTaskProgressDlg::OnCancel() {
  if (m_nState == kRunning) {
    OnCancelButton();
  } else if (m_nState >= kFinished) {
    EndDialog(IDOK);
  } else {
    OnCancelButton();
  }
}

void CTaskProgressDlg::OnStart() {
  if (m_nState >= kWaiting && m_nState <= kStartingAtOnce) {
    KillTimer(kCountdownTimer);
    m_StartTime = System::GetLocalTimeNow();
    if (IsStorageCardEdition() && !ACloseSignal().SetCloseAllowed(false))
      Log(GetLastError(), u"Unable to tell other programs not to close this one", kClass, __LINE__);
    RunTask();
    if (GetGlobal().g_bUnattended) m_bCloseWhenDone = true;
    return;
  }
  if (m_nState == kRunning) return;
  if (m_bRan && NeedsReset()) {
    if (m_nState == kFailed) {
      const CString message = Res(kStrFailedAfterActions);
      Log(0, CString(u"Adding Halvey Message ") + message, kClass, __LINE__);
      LaunchPostBootPopup(message, false);
    }
    ResetDevice();
  }
  if (m_bRan) AskClosingQuestion();
  if (m_bCloseWhenDone) AfxPostQuitMessage(0);
  EndDialog(IDOK);
}

void CTaskProgressDlg::OnCancelButton() {
  if (m_nState == kRunning) {
    if (!IsBackup() || !m_pTask) return;  // a running restore is not cancelled
    if (Localizer::ResMessageBox(kStrCancelQuestion, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES) {
      m_bCancelRequested = true;
      m_pTask->Cancel();
      EnableControl(kCancelId, false);
    }
    return;
  }
  if (m_nState > kRunning) return;
  KillTimer(kCountdownTimer);
  Log(0, u"Operation cancelled", kClass, __LINE__);
  // No task reads the copies the reset before the operation made.
  DiscardVolumeBootCopies(GetGlobal().g_WorkingIndex);
  m_nState = kCancelled;
  ShowControl(kStatusId, true);
  SetStatus(kStrCancelled);
  EnableControl(kCancelId, false);
  UpdateWindow();
  SetTimer(kFinishTimer, kShortTimerMs);
}

// ------------------------------------------------------------- the run

void CTaskProgressDlg::ShowRunning() {
  m_nState = kRunning;
  ShowControl(kElapsedId, true);
  ShowControl(kStatusId, true);
  Localizer::SetControlText(this, kStartId, IsRestore() && NeedsReset() ? kStrRestart : kStrOk);
  EnableControl(kStartId, false);
  SendDlgItemMessage(kProgressId, PBM_SETRANGE32, 0, 100);
  SendDlgItemMessage(kProgressId, PBM_SETPOS, 0);
  if (IsRestore()) EnableControl(kCancelId, false);
}

void CTaskProgressDlg::ShowFinished() {
  for (int id : {kElapsedId, kCancelId, kItemId, kProgressId}) ShowControl(id, false);
  EnableControl(kCancelId, false);
  EnableControl(kViewReportId, false);
  ShowControl(kViewReportId, true);
}

void CTaskProgressDlg::RunTask() {
  m_bRan = true;
  ShowRunning();
  bool succeeded = false;
  if (m_pTask) {
    succeeded = m_pTask->Run();
  } else {
    LogError(0, u"No task to run", kClass, __LINE__);
  }
  m_EndTime = System::GetLocalTimeNow();
  if (m_EndTime < m_StartTime) m_EndTime = m_StartTime;
  // A backup that failed or was cancelled did not read every copy.
  if (IsBackup()) DiscardVolumeBootCopies(GetGlobal().g_WorkingIndex);
  // A cancel reaches the task as the failure kind "cancelled": the run
  // counts as succeeded but cancelled.
  m_bCancelledRun = m_bCancelRequested || (m_pTask && m_pTask->GetFailureKind() == kFailCancelled);
  if (m_bCancelledRun) succeeded = true;
  m_bSucceeded = succeeded;
  SetStatus(kStrTaskReturned);
  ShowFinished();
  m_nReportResult = WriteReport(succeeded);
  RecordOutcome(succeeded);
  SetTimer(kFinishTimer, kShortTimerMs);
  if (!GetGlobal().g_bUnattended && !PlaySoundW(kSoundFile, nullptr, SND_FILENAME | SND_ASYNC))
    Log(GetLastError(), u"Unable to play the notification sound", kClass, __LINE__);
}

void CTaskProgressDlg::RecordOutcome(bool succeeded) {
  if (succeeded && m_bCancelledRun) {
    Log(0, u"Operation cancelled", kClass, __LINE__);
    m_nState = kCancelled;
    SetStatus(kStrCancelled);
  } else if (succeeded) {
    Log(0, u"Operation completed", kClass, __LINE__);
    m_nState = kFinished;
    SetStatus(OutcomeText());
    if (IsBackup()) StoreLastBackup();
  } else {
    Log(0, u"Error occurred, backup unsuccessful", kClass, __LINE__);
    m_nState = kFailed;
    SetStatus(kStrFailed);
  }
}

DWORD CTaskProgressDlg::OutcomeText() const {
  // A report that could not be written says nothing of the items: the
  // outcome is not shown as clean.
  const int result = m_nReportResult >= kReportClean && m_nReportResult <= kReportErrors ? m_nReportResult
                                                                                          : kReportWarnings;
  return IsRestore() ? kStrRestoreOutcome[result - 1] : kStrBackupOutcome[result - 1];
}

void CTaskProgressDlg::StoreLastBackup() {
  Log(0, u"Set last backup time", kClass, __LINE__);
  const FILETIME end = m_EndTime.GetAsFileTime();
  ABackupRegistrySettings settings(kSettingsKeyKind);
  const bool stored = settings.WriteDWORD(u"dwLastBackupHigh", end.dwHighDateTime) &&
                      settings.WriteDWORD(u"dwLastBackupLow", end.dwLowDateTime) &&
                      settings.WriteDWORD(u"dwLastBackupResult", static_cast<DWORD>(m_nReportResult)) &&
                      settings.WriteDWORD(u"dwLastBackupSize", m_Record.bytesWritten);
  if (!stored) LogError(GetLastError(), u"Unable to store the last backup", kClass, __LINE__);
}

int CTaskProgressDlg::WriteReport(bool succeeded) {
  const AGlobal& g = GetGlobal();
  BackupReportFile::Run run;
  run.backup = !IsRestore();
  run.succeeded = succeeded;
  run.cancelled = m_bCancelledRun;
  run.imagePath = g.g_Operation.imagePath.GetFullPath();
  run.start = m_StartTime;
  run.end = m_EndTime;
  run.bytesProcessed = m_Record.bytesWritten;
  ABackupHistoryHandler history;
  return BackupReportFile::Write(run, g.g_TaskReport, history, &m_csReportPath);
}

// ------------------------------------------------------- after the run

CString CTaskProgressDlg::ComposePostBootMessage() const {
  const bool restore = IsRestore();
  switch (m_nState) {
    case kFinished: return Res(OutcomeText());
    case kCancelled: return restore ? CString() : Res(kStrBackupCancelled);
    case kFailed: break;
    default: return CString();
  }
  const int code = m_pTask ? m_pTask->GetFailureKind() : kFailGeneral;
  const CString errorText = m_pTask ? m_pTask->GetFailureText() : CString();
  switch (code) {
    case 1: return Res(kStrCrcMismatch);
    case 2:
    case 4: return errorText;
    case 3: return Res(kStrFailCode3);
    case 5: return Res(kStrHostUnreachable);
    case 6: {
      const CString folder = GetGlobal().g_Operation.imagePath.GetFolder(false);
      return Res(System::DirectoryExists(folder) ? kStrImageNotOpened : kStrLocationMissing);
    }
    case 0:
      if (restore) return errorText.IsEmpty() ? Res(kStrOtherFailure) : errorText;
      return Res(kStrOtherFailure);
    default: return restore ? CString() : Res(kStrOtherFailure);
  }
}

void CTaskProgressDlg::OnFinishTimer() {
  KillTimer(kFinishTimer);
  const CString message = ComposePostBootMessage();
  EnableControl(kStartId, true);
  if (!(IsRestore() && NeedsReset())) EnableControl(kViewReportId, true);
  // A restore cancelled before its start changed nothing: no message, no
  // reset.
  if (IsRestore() && m_nState == kCancelled) return;
  LaunchPostBootPopup(message, GetGlobal().g_Operation.turnOffAfterPopup != 0);
}

void CTaskProgressDlg::LaunchPostBootPopup(const CString& message, bool turnOff) {
  AHalveyIF halvey;
  if (!halvey.Launch(message, IsRestore(), turnOff)) {
    LogWarning(GetLastError(), u"Unable to create postreboot popup shortcut", kClass, __LINE__);
    return;
  }
  ShowControl(kStatusId, true);
  SetStatus(kStrResetting);
  UpdateWindow();
  Sleep(kResetDelayMs);
  ResetDevice();
}

void CTaskProgressDlg::ResetDevice() {
  if (ResetOverride()) {
    ResetOverride()();
    return;
  }
  if (!RebootSequence::Instance().ShutdownAndReboot(false, false))
    LogError(GetLastError(), u"The device could not be reset", kClass, __LINE__);
}

void CTaskProgressDlg::AskClosingQuestion() {
  AGlobal& g = GetGlobal();
  if (IsRestore()) {
    Localizer::ResMessageBox(m_nState == kFinished ? kStrFinishedRestoreBox : kStrResetBox,
                             MB_OK | MB_ICONINFORMATION);
    ResetDevice();
    return;
  }
  if (!g.g_BackupOptions.IsOptionOn(kCloseOptionIndex)) return;
  if (g.g_bUnattended && !g.g_bBatteryTriggered && AImagingTask::IsScheduledReset()) return;
  const bool ask = m_nState == kCancelled ||
                   (m_nState == kFailed && (!m_pTask || m_pTask->GetFailureKind() != kFailDiskFull));
  if (ask && Localizer::ResMessageBox(kStrResetBox, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK) ResetDevice();
}

// ------------------------------------------------------------- progress

CString CTaskProgressDlg::ElapsedText(int64_t seconds) const {
  const int hours = static_cast<int>(seconds / 3600 % 24);
  const int minutes = static_cast<int>(seconds / 60 % 60);
  const int secs = static_cast<int>(seconds % 60);
  CString time;
  DWORD unit;
  if (seconds >= 3600) {
    time.Format(u"%d:%02d:%02d", hours, minutes, secs);
    unit = kStrHours;
  } else if (seconds >= 60) {
    time.Format(u"%d:%02d", minutes, secs);
    unit = kStrMinutes;
  } else {
    time.Format(u"%d", secs);
    unit = kStrSeconds;
  }
  return Res(kStrElapsed) + time + u" " + Res(unit);
}

void CTaskProgressDlg::UpdateProgress(bool force) {
  const DWORD now = GetTickCount();
  // A tick count that wrapped (now below the last refresh) refreshes.
  if (!force && m_bRefreshed && now >= m_dwLastRefresh && now - m_dwLastRefresh < kRefreshMs) return;
  m_dwLastRefresh = now;
  m_bRefreshed = true;
  if (!m_hWnd) return;

  const CString item(m_Record.statusText);
  if (item != m_csLastItem) {
    m_csLastItem = item;
    SetDlgItemText(kItemId, item);
  }
  const DWORD done = m_Record.bytesWritten;
  if (m_Record.estimatedImageSize < done) m_Record.estimatedImageSize = done;
  const DWORD total = m_Record.estimatedImageSize;
  int percent = 0;
  if (done != 0 && total != 0) percent = std::min(100, static_cast<int>(double(done) / double(total) * 100.0));
  if (percent != m_nPercent) {
    m_nPercent = percent;
    SendDlgItemMessage(kProgressId, PBM_SETPOS, static_cast<WPARAM>(percent));
  }
  const double doneMb = done / 1048576.0;
  const double totalMb = total / 1048576.0;
  CString status;
  if (m_bReverseText) {
    status.Format(u"%s %.2fM %s %.2fM\n", Res(kStrDone), totalMb, Res(kStrOf), doneMb);
  } else {
    status.Format(u"%s %.2f M %s %.2f M\n", Res(kStrDone), doneMb, Res(kStrOf), totalMb);
  }
  SetStatus(status);
  SetDlgItemText(kElapsedId, ElapsedText(Seconds(m_StartTime, System::GetLocalTimeNow())));
  Invalidate(FALSE);
  UpdateWindow();
  // A quit met here is posted again: the program still ends after the run.
  ui::PumpMessages();
}

bool CTaskProgressDlg::KeepAlive() {
  if (!m_hWnd || !::IsWindow(m_hWnd)) return true;
  return ui::PumpMessages();
}

// ------------------------------------------------------------ the viewer

void CTaskProgressDlg::LaunchReportViewer() {
  const CString argument = CString(u"\"") + m_csReportPath + u"\"";
  if (System::RunQuilmoCommand(m_csViewerName, argument, false)) return;
  const CString program = System::GetProgramPath(false) + m_csViewerName;
  Log(0, CString(u"Launching report viewer ") + program, kClass, __LINE__);
  if (CreateProcessW(program, argument, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr))
    return;
  Log(GetLastError(), CString(u"Error running : Ombric.exe - cannot find ") + program, kClass, __LINE__);
}

// ------------------------------------------------------------- drawing

void CTaskProgressDlg::OnPaint() {
  CDynamicDialog::OnPaint();
  CClientDC dc(this);
  DrawBitmapOverControl(dc, *this, kSourcePictureId, m_SourceBitmap);
  DrawBitmapOverControl(dc, *this, kDestinationPictureId, m_DestinationBitmap);
}

HBRUSH CTaskProgressDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
  HBRUSH brush = CDynamicDialog::OnCtlColor(dc, wnd, ctlColor);
  if (!dc || !wnd) return brush;
  const int id = wnd->GetDlgCtrlID();
  if (id == kStatusId && m_nState >= kFinished) dc->SetTextColor(kStatusColour);
  else if (id == kItemId) dc->SetTextColor(kItemColour);
  return brush;
}

BOOL CTaskProgressDlg::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  CRect client;
  GetClientRect(&client);
  const int s = m_nScale;
  const int margin = 4 * s;
  const bool landscape = System::IsLandscape();
  auto move = [this](int id, int x, int y, int width, int height) {
    if (CWnd* w = GetDlgItem(id)) w->MoveWindow(x, y, std::max(0, width), std::max(0, height));
  };
  // The three buttons along the bottom in portrait, stacked at the right
  // edge in landscape, where the rest stands to their left.
  const int buttonWidth = kButtonWidth * s;
  const int buttonHeight = kButtonHeight * s;
  const int buttons[] = {kStartId, kCancelId, kViewReportId};
  int right = client.Width() - margin;
  for (int i = 0; i < 3; ++i) {
    if (landscape) {
      const int x = client.Width() - buttonWidth - kButtonMargin * s;
      move(buttons[i], x, kButtonMargin * s + i * (buttonHeight + kButtonMargin * s), buttonWidth, buttonHeight);
      right = x - margin;
    } else {
      move(buttons[i], margin + i * (buttonWidth + kButtonGap * s), client.Height() - buttonHeight - kButtonMargin * s,
           buttonWidth, buttonHeight);
    }
  }
  // Rows at scale 1: the portrait rows of the template, packed closer in
  // landscape; the pictures at the left and right end of the picture row
  // with the information text between them in landscape.
  struct Row {
    int id, portraitTop, landscapeTop, height;
  };
  const Row rows[] = {{kTitleControlId, 2, 2, 16}, {kInformationId, 78, 22, 48}, {kItemId, 130, 74, 30},
                      {kProgressId, 164, 106, 14}, {kElapsedId, 182, 122, 16}, {kStatusId, 202, 140, 44}};
  const int picture = kPictureSide * s;
  for (const Row& row : rows) {
    int left = margin;
    int width = right - margin;
    if (landscape && row.id == kInformationId) {
      left = margin + picture + margin;
      width = right - picture - margin - left;
    }
    move(row.id, left, (landscape ? row.landscapeTop : row.portraitTop) * s, width, row.height * s);
  }
  const int pictureTop = (landscape ? 22 : 26) * s;
  move(kSourcePictureId, margin + (landscape ? 0 : margin), pictureTop, picture, picture);
  move(kDestinationPictureId, right - picture - (landscape ? 0 : margin), pictureTop, picture, picture);
  return TRUE;
}
