// The window in which every backup and restore runs, interactive or
// unattended (template 132), and the text report "\BackupReport.txt" it
// writes into the backup history folder.
//
// The dialog shows what will be done, waits for the user or counts down to
// the start, runs the imaging task inside its start handler (the task gives
// the window its turn through UpdateProgress), shows progress,
// elapsed time and the current item, writes the report, offers the report
// viewer and afterwards arranges the post-boot message and the reset of the
// device. It is the task's ITaskProgress and, while it lives, the newest
// KeepAliveConsumer (the host link's waits pump its messages).
//
// States: 1 waiting for the user, 2 counting down, 3 starting at once, 4
// running, 5 finished, 6 cancelled, 7 failed. Log class "CTaskProgressDlg".
#pragma once

#include <functional>
#include <string>

#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "ce/types.h"
#include "core/DateTime.h"
#include "core/ResBitmap.h"
#include "engine/Operation.h"
#include "hostlink/KeepAliveConsumer.h"

class AOperation;
class AImagingTaskClient;
class ATaskReport;
class ABackupHistoryHandler;

// Result of writing the text report.
enum ReportResult : int {
  kReportClean = 1,       // no warning, no error
  kReportWarnings = 2,    // the worst item is a warning
  kReportErrors = 3,      // an error item exists
  kReportNotWritten = 4,  // no history folder, rotation failed or an item unreadable
};

// The text report of one run: UTF-16LE with the byte-order mark FF FE,
// lines ended by CR LF, no terminating NUL.
class BackupReportFile {
 public:
  static constexpr const WCHAR* kFileName = u"\\BackupReport.txt";

  struct Run {
    bool backup = true;      // else a restore
    bool succeeded = false;  // the task's result
    bool cancelled = false;  // succeeded but cancelled
    CString imagePath;       // the image's full path
    ADateTime start;
    ADateTime end;
    DWORD bytesProcessed = 0;
  };

  // The report text without the byte-order mark, and the result the
  // items give (1..3; 4 when an item cannot be read: the text holds what
  // was composed before it).
  static CString Compose(const Run& run, const ATaskReport& report, int* result);
  // The result of the items alone (items of type 3 and above are skipped).
  static int ResultOf(const ATaskReport& report);
  // The file's bytes: FF FE, then the text as UTF-16LE.
  static std::string Encode(const CString& text);

  // Makes room in the history folder (rotation), creates "\BackupReport.txt"
  // there anew and writes the report. Returns the report result; 4 when
  // there is no history folder and none can be made, the rotation failed
  // with the folder present or the file could not be written whole.
  // *reportPath receives the file's path once it is created.
  static int Write(const Run& run, const ATaskReport& report, ABackupHistoryHandler& history,
                   CString* reportPath);
};

class CTaskProgressDlg : public CDynamicDialog, public ITaskProgress, public KeepAliveConsumer {
 public:
  static constexpr UINT kTemplateId = 132;
  static constexpr int kStartId = 1002;
  static constexpr int kCancelId = 2013;
  static constexpr int kViewReportId = 2097;
  static constexpr int kProgressId = 1321;
  static constexpr int kItemId = 1322;
  static constexpr int kElapsedId = 2137;
  static constexpr int kStatusId = 2138;
  static constexpr int kSourcePictureId = 2069;
  static constexpr int kDestinationPictureId = 2072;
  static constexpr int kInformationId = 2139;  // the information text
  // Layout at scale 1.
  static constexpr int kButtonWidth = 74;
  static constexpr int kButtonHeight = 23;
  static constexpr int kButtonGap = 5;
  static constexpr int kPictureSide = 48;
  static constexpr UINT_PTR kCountdownTimer = 1002;
  static constexpr UINT kCountdownMs = 1000;
  static constexpr UINT_PTR kFinishTimer = 1011;
  static constexpr UINT_PTR kInputPanelTimer = 1012;
  static constexpr UINT kShortTimerMs = 50;
  static constexpr DWORD kRefreshMs = 1000;
  static constexpr DWORD kResetDelayMs = 1000;
  static constexpr COLORREF kStatusColour = 0x0000FF;  // red
  static constexpr COLORREF kItemColour = 0x000000;
  static constexpr const WCHAR* kSoundFile = u"notify.wav";
  static constexpr const WCHAR* kCountdownValue = u"dwAutostartCountdown";

  enum State : int {
    kWaiting = 1,
    kCountingDown = 2,
    kStartingAtOnce = 3,
    kRunning = 4,
    kFinished = 5,
    kCancelled = 6,
    kFailed = 7,
  };

  // startMode 1..3 (TaskStartMode); operation: the operation that runs the
  // dialog (may be null); task: the task it runs (may be null before the
  // operation hands it over, SetTask). Clears the shared progress record.
  CTaskProgressDlg(int startMode, AOperation* operation, AImagingTaskClient* task,
                   CWnd* parent = nullptr);
  ~CTaskProgressDlg() override;

  void SetTask(AImagingTaskClient* task) { m_pTask = task; }

  // ITaskProgress: refreshes item text, bar, status and elapsed texts, at
  // most once per second unless forced, then pumps the pending messages.
  void UpdateProgress(bool force) override;
  // KeepAliveConsumer: pumps the pending messages while the window exists;
  // false when the quit message was among them (posted again).
  bool KeepAlive() override;

  // Writes the text report of the finished run; its result (1..4).
  int WriteReport(bool succeeded);
  // Starts the report viewer on the report (quoted): through the starter,
  // else directly from the program folder.
  void LaunchReportViewer();

  int GetState() const { return m_nState; }
  int GetReportResult() const { return m_nReportResult; }
  const CString& GetReportPath() const { return m_csReportPath; }
  const CString& GetInformationText() const { return m_csInformation; }
  bool IsCloseWhenDone() const { return m_bCloseWhenDone; }
  // The post-boot message for the finished state (empty for a restore
  // cancelled before its start, and for other unknown cases).
  CString ComposePostBootMessage() const;
  // Both pictures loaded.
  bool HasPictures() const { return !m_SourceBitmap.IsEmpty() && !m_DestinationBitmap.IsEmpty(); }

  // The device reset that follows an operation (the reset sequence without
  // saving state). Tests replace it; null restores the real one. The reset
  // does not return when it succeeds.
  using ResetFunction = std::function<void()>;
  static void SetResetFunctionForTest(ResetFunction reset);

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnTimer(UINT_PTR id) override;
  void OnPaint() override;
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) override;
  BOOL RelayoutDialog() override;
  void OnOK() override;
  void OnCancel() override;

  void OnStart();
  void OnCancelButton();

 private:
  bool IsBackup() const;
  bool IsRestore() const;
  bool NeedsReset() const;
  bool IsStorageCardEdition() const;
  void CreateFonts();
  void SetFixedTexts();
  void ComposeInformation();
  void LoadPictures();
  void PrepareStartMode();
  int ReadCountdownSeconds() const;
  void OnCountdownTick();
  void RunTask();
  void ShowRunning();
  void ShowFinished();
  void RecordOutcome(bool succeeded);
  void StoreLastBackup();
  void OnFinishTimer();
  void LaunchPostBootPopup(const CString& message, bool turnOff);
  void AskClosingQuestion();
  void ResetDevice();
  void SetStatus(const CString& text);
  void SetStatus(DWORD stringId);
  CString ElapsedText(int64_t seconds) const;
  // Status and post-boot text of a finished run by report result.
  DWORD OutcomeText() const;
  void ShowControl(int id, bool show);
  void EnableControl(int id, bool enable);

  int m_nState;
  AOperation* m_pOperation;
  AImagingTaskClient* m_pTask;
  TaskProgressRecord m_Record;
  CString m_csLastItem;
  int m_nPercent = 101;
  bool m_bSmallFonts;
  int m_nScale;
  bool m_bReverseText;
  CString m_csViewerName;
  CString m_csReportPath;
  CString m_csInformation;
  ADateTime m_StartTime;
  ADateTime m_EndTime;
  int m_nReportResult = 0;
  bool m_bCloseWhenDone = false;
  bool m_bSucceeded = false;
  bool m_bRan = false;              // the task was started
  bool m_bCancelRequested = false;  // the user cancelled the running backup
  bool m_bCancelledRun = false;     // the run ended cancelled
  DWORD m_dwLastRefresh = 0;
  bool m_bRefreshed = false;
  CFont m_SecondFont;
  CFont m_TextFont;
  AResBitmap m_SourceBitmap;
  AResBitmap m_DestinationBitmap;
};
