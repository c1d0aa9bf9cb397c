// The schedule pages driven as a user would: the times the schedule page
// shows, the schedule the change page registers (the notification the
// device fires, and the backup it starts), the password and file rules, and
// the schedule file's read-only view.
#include <filesystem>
#include <string>

#include <unistd.h>

#include "ce/datetime.h"
#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/time.h"
#include "core/DateTime.h"
#include "option_fixture.h"
#include "pages/OptionDialogs.h"
#include "pages/SchedulePage.h"
#include "scheduling/NotifyFormat.h"
#include "testkit/LocalTime.h"
#include "testkit/NotificationList.h"
#include "testkit/RunCommand.h"

namespace {

using namespace optiontest;
namespace fs = std::filesystem;

constexpr int kPage = CSchedulePage::IDD;
constexpr int kChange = CScheduleChangePage::IDD;
constexpr int kPassword = 231;
constexpr LPCWSTR kScheduling = u"Scheduling";
constexpr LPCWSTR kUnattended = u"Unattended";

class SchedulePagesTest : public OptionDialogTest {
 protected:
  SchedulePagesTest() {
    dev_.MakeDir(u"\\My Documents");
    SetClock(2006, 3, 14, 10, 0);  // a Tuesday
    global_.g_BackupOptions.SetOptionOn(kOptionAppendDate, false);
    // A stored set without a file: the page takes the default location.
    SetDword(u"dwUnattendedOptions", 0, kUnattended);
    SetText(u"csUnattendedFilename", u"", kUnattended);
    SetDword(u"bScheduledReset", 1, kUnattended);
    SetDword(u"bRemoteMode", 1, kUnattended);
  }
  static void SetClock(int year, int month, int day, int hour, int minute) {
    const SYSTEMTIME st = At(year, month, day, hour, minute);
    ASSERT_TRUE(SetLocalTime(&st));
  }
  static SYSTEMTIME At(int year, int month, int day, int hour, int minute) {
    return quilmo::test::At(year, month, day, hour, minute);
  }
  static std::vector<std::string> Scheduled() {
    std::vector<std::string> out;
    for (const std::string& t : quilmo::test::NotificationTexts())
      if (t.find("ScheduledBackup") != std::string::npos) out.push_back(t);
    return out;
  }
  // The change page from the schedule page's Change button, set to `period`
  // (combo index) at hour:minute of the given date (or today).
  static void Change(Automation& a, int periodIndex, const SYSTEMTIME& when, bool setDate = true) {
    a.OnDialog(kPage, [](Dialog& d) { d.Click(2047); });
    a.OnDialog(kChange, [=](Dialog& d) {
      d.SetCheck(2027, BST_CHECKED);
      d.Select(2054, periodIndex);
      if (setDate) d.SetDateTime(2022, when, true, false);
      d.SetDateTime(2023, when, false, true);
      d.Click(IDOK);
    });
  }
  static void AnswerPassword(Automation& a) {
    a.OnDialog(kPassword, [](Dialog& d) {
      d.SetText(2018, u"secret1");
      d.SetText(2021, u"secret1");
      d.Click(IDOK);
    });
  }
};

TEST_F(SchedulePagesTest, ADailyTimePastTodayIsRegisteredForTomorrowWithTheStoredRun) {
  Automation a;
  Change(a, 1, At(2006, 3, 14, 9, 30), false);
  AnswerPassword(a);
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_NE(d.Text(2061).find(u"9:30"), std::u16string::npos) << Utf8(d.Text(2061));
    d.Click(IDOK);
  });
  EXPECT_EQ(RunScheduleDialog(nullptr), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_EQ(Scheduled(), std::vector<std::string>{"timed 2006-03-15 09:30 \\Windows\\QuilmoStart.exe ScheduledBackup"});
  EXPECT_EQ(Dword(u"dwSchedulePeriod", kScheduling), 1);
  EXPECT_EQ(Dword(u"dwEnable", kScheduling), 1);
  EXPECT_EQ(Text(u"csUnattendedFilename", kUnattended), "\\My Documents\\Backup.pbf");
  EXPECT_EQ(Dword(u"dwUnattendedOptions", kUnattended), global_.g_BackupOptions.PackOptions());
  EXPECT_EQ(Dword(u"bRemoteMode", kUnattended), 0) << "the desktop host is off";
  EXPECT_EQ(Dword(u"bScheduledReset", kUnattended), 0);
}

TEST_F(SchedulePagesTest, WithoutAStoredSetOkAsksForAFileAndBrowseGivesOne) {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  ASSERT_TRUE(settings.DeleteKey(kUnattended));
  global_.g_BackupOptions.SetOptionOn(kOptionEncrypt, false);
  global_.g_RemoteOptions.SetRemoteEnabled(true);
  OptionSeams::SetSaveDialogRunner([](ABackupFilePath& path, bool nameEditable, bool host, bool note, CWnd*) {
    EXPECT_TRUE(nameEditable);
    EXPECT_TRUE(host) << "the desktop host is on";
    EXPECT_FALSE(note);
    path.Set(u"\\temp\\Nightly.pbf", false);
    return static_cast<INT_PTR>(IDOK);
  });
  Automation a;
  a.OnDialog(kChange, [](Dialog& d) {
    EXPECT_EQ(d.Text(1999), u"");
    d.SetCheck(2027, BST_CHECKED);
    d.Select(2054, 1);
    d.SetDateTime(2023, At(2006, 3, 14, 23, 0), false, true);
    d.Click(IDOK);
  });
  a.ExpectBox(65018, IDOK);
  a.InDialog([](Dialog& d) {
    d.Click(2000);
    EXPECT_EQ(d.Text(1999), u"\\temp\\Nightly.pbf");
    d.Click(IDOK);
  });
  CScheduleChangePage change;
  EXPECT_EQ(Run(change, a), IDOK);
  EXPECT_EQ(Text(u"csUnattendedFilename", kUnattended), "\\temp\\Nightly.pbf");
  EXPECT_EQ(Dword(u"bRemoteMode", kUnattended), 0) << "no stored set asked for the host";
  EXPECT_EQ(Scheduled(), std::vector<std::string>{"timed 2006-03-14 23:00 \\Windows\\QuilmoStart.exe ScheduledBackup"});
}

TEST_F(SchedulePagesTest, APastOnceScheduleIsRefusedAndACancelledPasswordDropsOptionTwo) {
  Automation a;
  a.OnDialog(kPage, [](Dialog& d) { d.Click(2047); });
  a.OnDialog(kChange, [](Dialog& d) {
    d.SetCheck(2027, BST_CHECKED);
    EXPECT_TRUE(d.IsEnabled(2022));
    d.Select(2054, 0);  // once, yesterday
    d.SetDateTime(2022, At(2006, 3, 13, 11, 0), true, false);
    d.SetDateTime(2023, At(2006, 3, 13, 11, 0), false, true);
    d.Click(IDOK);
  });
  a.OnDialog(kPassword, [](Dialog& d) { d.Click(IDCANCEL); });
  a.ExpectBox(57659, IDOK);
  a.OnDialog(kChange, [](Dialog& d) {
    EXPECT_TRUE(Scheduled().empty()) << "nothing stored for a refused time";
    d.Select(2054, 2);  // weekly, next Monday
    d.SetDateTime(2022, At(2006, 3, 20, 8, 15), true, false);
    d.SetDateTime(2023, At(2006, 3, 20, 8, 15), false, true);
    d.Click(IDOK);
  });
  a.OnDialog(kPassword, [](Dialog& d) { d.Click(IDCANCEL); });
  a.OnDialog(kPage, [](Dialog& d) { d.Click(IDCANCEL); });
  EXPECT_EQ(RunScheduleDialog(nullptr), IDCANCEL);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  ASSERT_GE(a.Boxes().size(), 1u);
  EXPECT_EQ(a.Boxes()[0].request.style & MB_ICONMASK, MB_ICONSTOP);
  EXPECT_EQ(Scheduled(), std::vector<std::string>{"timed 2006-03-20 08:15 \\Windows\\QuilmoStart.exe ScheduledBackup"});
  const long long stored = Dword(u"dwUnattendedOptions", kUnattended);
  EXPECT_EQ(stored & (1 << kOptionEncrypt), 0) << stored;
  EXPECT_EQ(stored | (1 << kOptionEncrypt), global_.g_BackupOptions.PackOptions());
  EXPECT_NE(LogText().find("Scheduled Password screen cancelled"), std::string::npos);
}

TEST_F(SchedulePagesTest, TurningOffRemovesTheNotificationButNotWhileTheScheduleFileRules) {
  global_.g_BackupOptions.SetOptionOn(kOptionEncrypt, false);
  Automation a;
  Change(a, 1, At(2006, 3, 14, 22, 0), false);
  a.OnDialog(kPage, [](Dialog& d) { d.Click(2047); });
  a.OnDialog(kChange, [](Dialog& d) {
    EXPECT_EQ(d.Text(2054), u"Every day");
    EXPECT_FALSE(d.IsEnabled(2022)) << "daily: no date";
    d.SetCheck(2027, BST_UNCHECKED);
    EXPECT_FALSE(d.IsEnabled(2054));
    EXPECT_FALSE(d.IsEnabled(2000));
    d.Click(IDOK);
  });
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(d.Text(2061), u"None");
    d.Click(IDOK);
  });
  EXPECT_EQ(RunScheduleDialog(nullptr), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_TRUE(Scheduled().empty());
  EXPECT_EQ(Dword(u"dwEnable", kScheduling), 0);

  // The schedule file in force: shown, not changeable.
  ANotify file(ANotifyValueObject(kPeriodScheduleFile, At(2006, 3, 15, 1, 0)), 1);
  ASSERT_TRUE(file.registerOptions());
  Automation b;
  b.OnDialog(kChange, [](Dialog& d) {
    EXPECT_FALSE(d.IsEnabled(IDOK));
    EXPECT_FALSE(d.IsEnabled(2027));
    EXPECT_FALSE(d.IsEnabled(2022));
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2054, CB_GETCURSEL, 0, 0), CB_ERR);
    d.Click(IDCANCEL);
  });
  CScheduleChangePage change;
  EXPECT_EQ(Run(change, b), IDCANCEL);
}

TEST_F(SchedulePagesTest, TheLastBackupIsTheTaskDialogsUtcStampShownInLocalTime) {
  ASSERT_TRUE(dev_.device()->UpdateProfile([](ce::Profile& p) { p.timeZone = "EST5EDT,M4.1.0,M10.5.0"; }));
  Automation a;
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(d.Text(2064), u"None");
    EXPECT_EQ(d.Text(2061), u"None");
    d.Click(IDOK);
  });
  CSchedulePage none;
  EXPECT_EQ(Run(none, a), IDOK);
  EXPECT_NE(LogText().find("LastBackupHigh Query failed. Assuming no previous backup"), std::string::npos);

  // 2006-03-14 15:45 UTC, as the task progress dialog stores its end time.
  const FILETIME end = ADateTime(1142351100).GetAsFileTime();
  SetDword(u"dwLastBackupHigh", end.dwHighDateTime);
  SetDword(u"dwLastBackupLow", end.dwLowDateTime);
  Automation b;
  b.OnDialog(kPage, [](Dialog& d) {
    const std::u16string text = d.Text(2064);
    EXPECT_NE(text.find(u"10:45"), std::u16string::npos) << Utf8(text);
    EXPECT_NE(text.find(u"Tuesday"), std::u16string::npos) << Utf8(text);
    d.Click(IDOK);
  });
  CSchedulePage page;
  EXPECT_EQ(Run(page, b), IDOK);
}

TEST_F(SchedulePagesTest, TheScheduleSetIsTheNotificationTheDeviceFiresAndItStartsTheScheduledBackup) {
  const std::string d = "'" + dev_.dir().string() + "'";
  auto cedev = [](const std::string& args) {
    return quilmo::test::RunCommand(std::string(QUILMO_BIN_DIR) + "/cedev " + args);
  };
  const quilmo::test::CommandResult installed = cedev("install " + d);
  ASSERT_EQ(installed.status, 0) << installed.output;
  // The recorder stands in for the main program that the starter starts.
  {
    ABackupRegistrySettings shared(kSharedKeyKind);
    ASSERT_TRUE(shared.WriteString(u"csBackupEXEPath", u"\\Windows\\recorder.exe"));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quilmo Test\\Recorder", 0, nullptr, 0, 0, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string log = u"\\temp\\recorder.log";
    RegSetValueExW(key, u"LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(log.c_str()),
                   static_cast<DWORD>((log.size() + 1) * 2));
    RegCloseKey(key);
  }
  // The dialog runs in a child process: a device run ends every program of
  // the device that is still up, and this test's process would be one.
  quilmo::test::ChildProcess child = quilmo::test::ChildProcess::Fork([this] {
    global_.g_BackupOptions.SetOptionOn(kOptionEncrypt, false);
    Automation a;
    Change(a, 0, At(2006, 3, 14, 11, 30));
    a.OnDialog(kPage, [](Dialog& d) { d.Click(IDOK); });
    if (RunScheduleDialog(nullptr) != IDOK || !a.Failures().empty()) _exit(1);
  });
  const quilmo::test::ChildExit exit = child.Wait();
  ASSERT_TRUE(exit.ExitedWith(quilmo::test::ChildProcess::kReturnedCode)) << exit.Describe();

  const quilmo::test::CommandResult listed = cedev("notify " + d + " list");
  EXPECT_NE(listed.output.find("2006-03-14 11:30:00"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("ScheduledBackup"), std::string::npos) << listed.output;
  const quilmo::test::CommandResult ran = cedev("run " + d + " --until 2006-03-14T11:35:00");
  EXPECT_EQ(ran.status, 0) << ran.output;
  const std::string recorded = dev_.ReadFile(u"\\temp\\recorder.log");
  EXPECT_NE(recorded.find("2006-03-14 11:30"), std::string::npos) << recorded << ran.output;
  EXPECT_NE(recorded.find("ScheduledBackup"), std::string::npos) << recorded;
}

}  // namespace
