// The task progress window driven as a user (or the countdown) would: a
// backup run to its end with the report, the last-backup values, the sound,
// the post-boot popup and the reset; the automatic starts; cancels before
// and during a run; failed runs and their closing questions; the refresh
// throttle and the keep-alive pump. The text report is checked byte for
// byte. The device reset is replaced by a counter (a real one ends the
// process).
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "app/TaskProgressDlg.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/time.h"
#include "cesim/gdi.h"
#include "cesim/msgbox.h"
#include "core/Localizer.h"
#include "core/System.h"
#include "dlg_fixture.h"
#include "engine/BackupHistory.h"
#include "engine/FileSystemComponent.h"
#include "engine/HalveyIF.h"
#include "engine/ImagingTask.h"
#include "engine/TaskReport.h"
#include "testkit/Closable.h"
#include "testkit/TaskSetup.h"
#include "ui/Automation.h"

using ui::test::Automation;
using ui::test::Dialog;

namespace {

constexpr int kDlg = 132;
constexpr const char16_t* kHistory = u"\\Program Files\\Quilmo Backup\\Quilmo Backup History";
constexpr const char16_t* kReport = u"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport.txt";
const CString kImage = u"\\temp\\progress.pbf";
const CString kCardImage = u"\\Storage Card\\progress.pbf";
const IncludedKinds kFileSystem{true, false, false, false};

std::u16string Res(DWORD id) { return Localizer::LoadResString(id).str(); }

// The report's bytes as they must be: FF FE, then UTF-16LE.
std::string Utf16File(const std::u16string& text) {
  std::string bytes("\xFF\xFE", 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string FromUtf16(const std::string& bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return text;
}

class TaskProgressTest : public dlgtest::DialogTest {
 protected:
  TaskProgressTest() : context_(MakeFileSystemContext(global_)), fileSystem_(context_) {
    fileSystem_.Register();
    CTaskProgressDlg::SetResetFunctionForTest([this] { ++resets_; });
    dev_.PutFile(u"\\My Documents\\note.txt", std::string(3000, 'n'));
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
    dev_.MakeDir(u"\\Windows\\StartUp");
    dev_.MakeDir(u"\\temp");
  }
  ~TaskProgressTest() override {
    CTaskProgressDlg::SetResetFunctionForTest(nullptr);
    if (HasFailure()) std::cerr << LogText();
  }

  void PrepareBackup(const CString& image) {
    quilmo::test::PrepareBackupOperation(global_, kFileSystem, image, CString());
  }
  void PrepareRestore(const CString& image) {
    quilmo::test::SetOperation(global_, kOperationRestore, kFileSystem, image, CString(), kHostModeLocal);
  }

  INT_PTR Run(CTaskProgressDlg& dlg, Automation& a) {
    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done());
    return result;
  }

  // The post-boot popup's message, "<none>" without its shortcut.
  static std::u16string PopupMessage() {
    if (!AHalveyIF().ShortcutExists()) return u"<none>";
    return FromUtf16(quilmo::test::ReadDeviceFile(AHalveyIF::kMessageFile));
  }
  static int Sounds() {
    int n = 0;
    for (const auto& e : ce::ReadScreenLog()) n += e.caption == u"sound" && e.text == u"notify.wav";
    return n;
  }
  static DWORD Setting(LPCWSTR name) {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    DWORD value = 0xDEADBEEF;
    return settings.ReadDWORD(name, value) ? value : 0xDEADBEEF;
  }

  int resets_ = 0;
  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

// ------------------------------------------------------------ the report

TEST_F(TaskProgressTest, ReportIsExactlyUtf16WithMarkCrLfAndTheItemsInOrder) {
  ATaskReport report;
  report.AddItem(0, u"Backup started", TaskReportItem::kInformation);
  report.AddItem(5, u"File in use", TaskReportItem::kWarning);
  report.AddItem(0, u"not for the report", 3);
  report.AddItem(7, u"Could not read", TaskReportItem::kError);
  BackupReportFile::Run run;
  run.backup = true;
  run.succeeded = true;
  run.imagePath = u"\\Storage Card\\Backup.pbf";
  run.start = ADateTime(2006, 3, 14, 10, 0, 0);
  run.end = run.start + 3725;  // 1:02:05
  run.bytesProcessed = 5 * 1048576 + 512;
  int result = 0;
  const CString text = BackupReportFile::Compose(run, report, &result);
  const std::u16string expected =
      u"Result : Backup succeeded\r\n"
      u"Backup file : \\Storage Card\\Backup.pbf\r\n\r\n"
      u"Started : 3/14/2006, 10:00:00 AM\r\n"
      u"Finished : 3/14/2006, 11:02:05 AM\r\n\r\n"
      u"Elapsed time : 1:02:05 hours\r\n"
      u"Data processed : 5120 KB \r\n"
      u"Rate : 1 KB/s\r\n"  // 5243392 bytes / 3725 s / 1024
      u"\r\n"
      u"Information : Backup started\r\n"
      u"Warning : File in use\r\n"
      u"Error : Could not read\r\n";
  EXPECT_EQ(text.str(), expected);
  EXPECT_EQ(result, kReportErrors);
  const std::string bytes = BackupReportFile::Encode(text);
  EXPECT_EQ(bytes, Utf16File(expected));
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) EXPECT_FALSE(bytes[i] == 0 && bytes[i + 1] == 0) << i;
}

TEST_F(TaskProgressTest, ReportResultIsTheWorstItemWhateverTheOrder) {
  ATaskReport report;
  EXPECT_EQ(BackupReportFile::ResultOf(report), kReportClean);
  report.AddItem(0, u"info", TaskReportItem::kInformation);
  report.AddItem(0, u"skipped", 3);
  EXPECT_EQ(BackupReportFile::ResultOf(report), kReportClean);
  report.AddItem(0, u"warn", TaskReportItem::kWarning);
  EXPECT_EQ(BackupReportFile::ResultOf(report), kReportWarnings);
  report.Clear();
  report.AddItem(0, u"err", TaskReportItem::kError);
  report.AddItem(0, u"warn", TaskReportItem::kWarning);
  EXPECT_EQ(BackupReportFile::ResultOf(report), kReportErrors);
  int composed = 0;
  BackupReportFile::Compose(BackupReportFile::Run(), report, &composed);
  EXPECT_EQ(composed, kReportErrors);
}

TEST_F(TaskProgressTest, ZeroSecondRunsHaveRateZeroAndTheOutcomeLineFollowsTheRun) {
  ATaskReport report;
  BackupReportFile::Run run;
  run.start = run.end = ADateTime(2006, 3, 14, 10, 0, 0);
  run.bytesProcessed = 4096;
  auto lines = [&] {
    int result = 0;
    return BackupReportFile::Compose(run, report, &result).str();
  };
  run.backup = false;
  run.succeeded = false;
  std::u16string text = lines();
  EXPECT_EQ(text.substr(0, text.find(u"\r\n")), u"Result : Restore failed");
  EXPECT_NE(text.find(u"Elapsed time : 0 seconds\r\nData processed : 4 KB \r\nRate : 0 KB/s\r\n"),
            std::u16string::npos);
  run.succeeded = true;
  run.cancelled = true;
  text = lines();
  EXPECT_EQ(text.substr(0, text.find(u"\r\n")), u"Result : " + Res(65072));
  run.start = run.start - 75;
  EXPECT_NE(lines().find(u"Elapsed time : 1:15 minutes\r\n"), std::u16string::npos);
}

TEST_F(TaskProgressTest, WriteRotatesTheOldReportAndWritesTheNewOneWhole) {
  dev_.MakeDir(kHistory);
  const std::string old(5000, 'o');  // longer than the new report: truncated
  dev_.PutFile(kReport, old);
  ATaskReport report;
  report.AddItem(0, u"done", TaskReportItem::kWarning);
  BackupReportFile::Run run;
  run.succeeded = true;
  run.start = run.end = ADateTime(2006, 3, 14, 10, 0, 0);
  ABackupHistoryHandler history;
  CString path;
  EXPECT_EQ(BackupReportFile::Write(run, report, history, &path), kReportWarnings);
  EXPECT_EQ(path.str(), kReport);
  int result = 0;
  EXPECT_EQ(dev_.ReadFile(kReport), BackupReportFile::Encode(BackupReportFile::Compose(run, report, &result)));
  EXPECT_EQ(dev_.ReadFile(std::u16string(kHistory) + u"\\BackupReport1.txt"), old);
}

TEST_F(TaskProgressTest, WithoutAHistoryFolderOneIsMadeAndWhenItCannotBeTheResultIs4) {
  ATaskReport report;
  BackupReportFile::Run run;
  {
    ABackupHistoryHandler history;
    ASSERT_FALSE(history.Found());
    CString path;
    EXPECT_EQ(BackupReportFile::Write(run, report, history, &path), kReportClean);
    EXPECT_EQ(path.str(), kReport);
    EXPECT_EQ(dev_.ReadFile(kReport).substr(0, 2), "\xFF\xFE");
  }
  std::filesystem::remove_all(dev_.Host(kHistory));
  {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    settings.DeleteValue(ABackupHistoryHandler::kFolderValue);
  }
  dev_.PutFile(kHistory, "a file where the folder would go");
  ABackupHistoryHandler history;
  CString path;
  EXPECT_EQ(BackupReportFile::Write(run, report, history, &path), kReportNotWritten);
  EXPECT_TRUE(path.IsEmpty());
}

// ------------------------------------------------------------ the window

TEST_F(TaskProgressTest, BackupWaitsForStartRunsAndEndsWithReportPopupAndReset) {
  PrepareBackup(kImage);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), Res(57679) + u"  " + Res(65305));
    EXPECT_EQ(d.Text(1002), Res(57712));
    EXPECT_EQ(d.Text(2013), Res(57686));
    EXPECT_EQ(d.Text(1322), Res(57714));
    EXPECT_TRUE(d.IsEnabled(1002));
    EXPECT_FALSE(d.IsVisible(2097));
    EXPECT_FALSE(d.IsVisible(2137));
    EXPECT_FALSE(d.IsVisible(2138));
    d.Click(1002);
  });
  a.AdvanceClock(100);  // timer 1011
  a.InDialog([&](Dialog& d) {
    EXPECT_EQ(d.Text(2138), Res(65380));
    EXPECT_TRUE(d.IsVisible(2097));
    EXPECT_TRUE(d.IsEnabled(2097));
    EXPECT_TRUE(d.IsEnabled(1002));
    EXPECT_EQ(d.Text(1002), Res(57702));
    EXPECT_FALSE(d.IsVisible(1321));
    EXPECT_FALSE(d.IsVisible(2013));
    d.Click(1002);
  });
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  AImagingTaskClient task(global_.g_Operation, &dlg);
  dlg.SetTask(&task);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_TRUE(a.Boxes().empty());
  EXPECT_EQ(dlg.GetState(), CTaskProgressDlg::kFinished);
  // The running hives cannot be read: warnings of the run.
  EXPECT_EQ(dlg.GetReportResult(), kReportWarnings);
  EXPECT_EQ(dlg.GetReportPath().str(), kReport);
  EXPECT_NE(dlg.GetInformationText().str().find(Res(65242) + u"\\temp\\progress.pbf"), std::u16string::npos);
  EXPECT_TRUE(dlg.HasPictures());
  const std::u16string report = FromUtf16(dev_.ReadFile(kReport).substr(2));
  EXPECT_EQ(report.substr(0, report.find(u"\r\n")), u"Result : Backup succeeded");
  EXPECT_NE(report.find(u"\r\nWarning : " + Res(57734) + u"\\Documents and Settings\\system.hv\r\n"),
            std::u16string::npos);
  EXPECT_EQ(PopupMessage(), Res(65145));
  EXPECT_EQ(resets_, 1);
  EXPECT_EQ(Sounds(), 1);
  EXPECT_EQ(Setting(u"dwLastBackupResult"), 2u);
  EXPECT_GT(Setting(u"dwLastBackupSize"), 1528u);  // more than the metadata: the note is in
  EXPECT_NE(Setting(u"dwLastBackupHigh"), 0xDEADBEEF);
  EXPECT_NE(Setting(u"dwLastBackupLow"), 0xDEADBEEF);
  EXPECT_NE(LogText().find("Waiting for user input to start"), std::string::npos);
  EXPECT_NE(LogText().find("Operation completed"), std::string::npos);
}

// Start mode 3 keeps the start button disabled; the countdown's tick must
// still start the task.
TEST_F(TaskProgressTest, StartAtOnceRunsWithTheStartButtonDisabledAndAFailureAsksBeforeTheReset) {
  PrepareBackup(kCardImage);  // no card: the image folder is missing
  global_.g_bUnattended = true;  // a scheduled run: no sound, close when done
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_FALSE(d.IsEnabled(1002));
    EXPECT_EQ(d.Text(1322), Res(65303));
  });
  a.AdvanceClock(1000);
  a.AdvanceClock(100);
  a.InDialog([&](Dialog& d) {
    EXPECT_EQ(d.Text(2138), Res(65380));
    d.Click(1002);
  });
  a.ExpectBox(65310, IDCANCEL);
  CTaskProgressDlg dlg(kStartAtOnce, nullptr, nullptr);
  AImagingTaskClient task(global_.g_Operation, &dlg);
  dlg.SetTask(&task);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(dlg.GetState(), CTaskProgressDlg::kFailed);
  EXPECT_TRUE(dlg.IsCloseWhenDone());
  EXPECT_EQ(task.GetFailureKind(), kFailPathNotFound);
  EXPECT_EQ(PopupMessage(), task.GetFailureText().str());
  EXPECT_EQ(resets_, 1);  // the popup's; the question was declined
  EXPECT_EQ(Sounds(), 0);
  EXPECT_EQ(a.Boxes().at(0).request.style, static_cast<UINT>(MB_OKCANCEL | MB_ICONINFORMATION));
  EXPECT_NE(LogText().find("Performing Autostart, countdown set to 1"), std::string::npos);
  EXPECT_NE(LogText().find("Error occurred, backup unsuccessful"), std::string::npos);
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(TaskProgressTest, CountdownOfZeroStartsAtTheFirstTick) {
  {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    ASSERT_TRUE(settings.WriteDWORD(CTaskProgressDlg::kCountdownValue, 0));
  }
  global_.g_Operation.operationKind = kOperationNotSet;  // the task does nothing and fails
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) { EXPECT_TRUE(d.IsEnabled(1002)); });
  a.AdvanceClock(1000);
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) { d.Click(1002); });
  a.ExpectBox(65310, IDCANCEL);
  CTaskProgressDlg dlg(kStartCountdown, nullptr, nullptr);
  AImagingTaskClient task(global_.g_Operation, &dlg);
  dlg.SetTask(&task);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(dlg.GetState(), CTaskProgressDlg::kFailed);
  EXPECT_EQ(PopupMessage(), Res(65293));
  EXPECT_NE(LogText().find("Countdown delay set to 0"), std::string::npos);
}

// A restore cancelled before its start changed nothing: no message, no
// reset, also when the window is then closed.
TEST_F(TaskProgressTest, RestoreCancelledBeforeItsStartNeitherLeavesAMessageNorResets) {
  PrepareRestore(kImage);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), Res(65221) + u"  " + Res(65305));
    EXPECT_EQ(d.Text(1322), Res(57713));
    d.Click(2013);
  });
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) {
    EXPECT_EQ(d.Text(2138), Res(65072));
    EXPECT_TRUE(d.IsEnabled(1002));
    d.Click(1002);
  });
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(dlg.GetState(), CTaskProgressDlg::kCancelled);
  EXPECT_TRUE(a.Boxes().empty());
  EXPECT_EQ(PopupMessage(), u"<none>");
  EXPECT_EQ(resets_, 0);
  EXPECT_TRUE(dlg.GetReportPath().IsEmpty());
}

TEST_F(TaskProgressTest, BackupCancelledBeforeItsStartStillTellsThePopupAndResets) {
  PrepareBackup(kImage);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) { d.Click(2013); });
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) { d.Click(1002); });
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(PopupMessage(), Res(65377));
  EXPECT_EQ(resets_, 1);
  EXPECT_EQ(GetFileAttributesW(kImage), INVALID_FILE_ATTRIBUTES);
}

// The cancel button's click waits in the queue until the running task
// gives the window its turn; the question is asked there.
TEST_F(TaskProgressTest, RunningBackupIsCancelledAfterTheQuestionAndLeavesNoImage) {
  PrepareBackup(kImage);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    PostMessageW(d.Hwnd(), WM_COMMAND, MAKEWPARAM(2013, BN_CLICKED), reinterpret_cast<LPARAM>(d.FindControl(2013)));
    d.Click(1002);
  });
  a.ExpectBox(65074, IDYES);
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) { d.Click(1002); });
  a.ExpectBox(65310, IDCANCEL);
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  AImagingTaskClient task(global_.g_Operation, &dlg);
  dlg.SetTask(&task);
  EXPECT_EQ(Run(dlg, a), IDOK);
  ASSERT_GE(a.Boxes().size(), 1u);
  EXPECT_EQ(a.Boxes()[0].request.style, static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2));
  EXPECT_EQ(dlg.GetState(), CTaskProgressDlg::kCancelled);
  EXPECT_EQ(GetFileAttributesW(kImage), INVALID_FILE_ATTRIBUTES);
  const std::u16string report = FromUtf16(dev_.ReadFile(kReport).substr(2));
  EXPECT_EQ(report.substr(0, report.find(u"\r\n")), u"Result : " + Res(65072));
  EXPECT_EQ(PopupMessage(), Res(65377));
}

TEST_F(TaskProgressTest, FailedRestoreAsksWithOkOnlyAndResets) {
  PrepareRestore(kImage);  // no such image
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) { d.Click(1002); });
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) {
    EXPECT_FALSE(d.IsEnabled(2013));
    d.Click(1002);
  });
  a.ExpectBox(65310, IDOK);
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  AImagingTaskClient task(global_.g_Operation, &dlg);
  dlg.SetTask(&task);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(dlg.GetState(), CTaskProgressDlg::kFailed);
  EXPECT_EQ(a.Boxes().at(0).request.style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(resets_, 2);  // the popup's and the closing question's
  EXPECT_NE(PopupMessage(), u"<none>");
  EXPECT_EQ(Setting(u"dwLastBackupResult"), 0xDEADBEEF);  // only backups record it
}

TEST_F(TaskProgressTest, ProgressRefreshesOncePerSecondUnlessForced) {
  Automation a;
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  TaskProgressRecord& record = *dlg.GetRecord();
  a.OnDialog(kDlg, [&](Dialog& d) {
    dlg.SetStatusText(u"first");
    record.bytesWritten = 3 * 1048576;
    record.estimatedImageSize = 2 * 1048576;  // below what is done: raised
    dlg.UpdateProgress(false);
    EXPECT_EQ(d.Text(1322), u"first");
    EXPECT_EQ(d.Text(2138), Res(65125) + u" 3.00 M " + Res(65126) + u" 3.00 M\n");
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 1321, PBM_GETPOS, 0, 0), 100);
    dlg.SetStatusText(u"second");
    dlg.UpdateProgress(false);
    EXPECT_EQ(d.Text(1322), u"first");
    dlg.UpdateProgress(true);
    EXPECT_EQ(d.Text(1322), u"second");
    dlg.SetStatusText(u"third");
  });
  // The device clock also runs with the host's here: only a second later
  // is certain.
  a.AdvanceClock(1000);
  a.InDialog([&](Dialog& d) {
    dlg.UpdateProgress(false);
    EXPECT_EQ(d.Text(1322), u"third");
    d.Click(2013);
  });
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) { d.Click(1002); });
  EXPECT_EQ(Run(dlg, a), IDOK);
}

TEST_F(TaskProgressTest, KeepAliveReportsAQuitAndPostsItAgain) {
  Automation a;
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  EXPECT_TRUE(dlg.KeepAlive());  // no window yet
  a.OnDialog(kDlg, [&](Dialog&) {
    EXPECT_TRUE(KeepAliveConsumer::NotifyNewest());
    PostQuitMessage(0);
    EXPECT_FALSE(KeepAliveConsumer::NotifyNewest());
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
  });
  // The quit ends the modal loop.
  Run(dlg, a);
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// The viewer starts through the starter program when there is one, else
// straight from the program folder, with the report path in quotes.
TEST_F(TaskProgressTest, ReportViewerGetsTheQuotedReportPath) {
  quilmo::test::InstallClosable(dev_, u"\\Program Files\\Quilmo Backup\\Ombric.exe");
  global_.g_Operation.operationKind = kOperationNotSet;
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) { d.Click(1002); });
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) { d.Click(2097); });
  a.InDialog([](Dialog& d) { d.Click(1002); });
  a.ExpectBox(65310, IDCANCEL);
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  AImagingTaskClient task(global_.g_Operation, &dlg);
  dlg.SetTask(&task);
  EXPECT_EQ(Run(dlg, a), IDOK);
  const std::vector<std::u16string> started = quilmo::test::StartedAs(dev_, "Ombric.exe");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], u"\"" + std::u16string(kReport) + u"\"");
  EXPECT_NE(LogText().find("Launching report viewer \\Program Files\\Quilmo Backup\\Ombric.exe"),
            std::string::npos);
}

// The pictures are copied into their frames whenever the window paints.
TEST_F(TaskProgressTest, PaintingCopiesBothPictures) {
  Automation a;
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  a.OnDialog(kDlg, [&](Dialog& d) {
    const uint64_t before = ce::GdiDrawCallCount();
    InvalidateRect(d.Hwnd(), nullptr, TRUE);
    UpdateWindow(d.Hwnd());
    // The separator's line and the two pictures.
    EXPECT_EQ(ce::GdiDrawCallCount() - before, 3u);
    d.Click(2013);
  });
  a.AdvanceClock(100);
  a.InDialog([](Dialog& d) { d.Click(1002); });
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_TRUE(dlg.HasPictures());
}

}  // namespace
