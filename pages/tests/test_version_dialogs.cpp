// The installed-versions dialog, the backup history with its report list
// and the upgrade data dialog with the platform's file-open dialog.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/tests/dlg_fixture.h"
#include "app/tests/program_on_device.h"
#include "ce/file.h"
#include "core/DateTime.h"
#include "core/Localizer.h"
#include "core/System.h"
#include "engine/BackupHistory.h"
#include "pages/VersionDialogs.h"
#include "testkit/DialogContract.h"
#include "testkit/ScopedState.h"
#include "ui/Automation.h"

using quilmo::test::ExpectDialogContract;
using ui::test::Automation;
using ui::test::Dialog;

namespace {

constexpr const char16_t* kHistory = u"\\Program Files\\Quilmo Backup\\Quilmo Backup History";

class VersionDialogsTest : public dlgtest::DialogTest {
 protected:
  VersionDialogsTest() : program_(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe") {
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
  }
  // A report file written at a local time.
  void PutReport(const std::u16string& name, const ADateTime& when) {
    const std::u16string path = std::u16string(kHistory) + u"\\" + name;
    dev_.PutFile(path, "report");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const FILETIME ft = when.GetAsFileTime();
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
    CloseHandle(h);
  }
  // The starter's stand-in records what it was asked to start.
  std::string StarterRecord() const {
    for (int i = 0; i < 500; ++i) {
      if (std::filesystem::exists(dev_.Host(u"\\Recorder.log"))) {
        const std::string text = dev_.ReadFile(u"\\Recorder.log");
        if (!text.empty()) return text;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
  }
  static void ExpectClean(const Automation& a) {
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done());
  }

  quilmo::test::ScopedOwnProgram program_;
};

TEST_F(VersionDialogsTest, ContractsOfTheThreeDialogs) {
  ExpectDialogContract(377, {{2128, u"STATIC"}, {2159, u"EDIT"}, {1, u"BUTTON", 1}}, {65316, 57702});
  ExpectDialogContract(301,
                       {{2128, u"STATIC"}, {2158, u"STATIC"}, {2045, u"STATIC"}, {2043, u"STATIC"},
                        {142, u"BUTTON", 0}, {1, u"BUTTON", 1}, {2, u"BUTTON", 0}},
                       {57768, 57769, 65232, 65339, 57702, 57686});
  ExpectDialogContract(326,
                       {{2128, u"STATIC"}, {2049, u"STATIC"}, {2031, u"STATIC"}, {2180, u"SysListView32"},
                        {1, u"BUTTON", 1}},
                       {65337, 65338, 65259, 57709, 57702});
}

TEST_F(VersionDialogsTest, TheVersionDialogShowsTheInstalledVersionsReadOnly) {
  System::SetInstalledVersionTexts(u"2.1.0, Build 7", u"2.1.0, Build 3");
  Automation a;
  a.OnDialog(CVersionPage::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), Localizer::LoadResString(65316).view());
    const std::u16string text = d.Text(CVersionPage::kVersionsId);
    EXPECT_EQ(text, System::GetInstalledVersionsText().view());
    EXPECT_NE(text.find(u"2.1.0, Build 7"), std::u16string::npos) << ce::ToUtf8(text);
    EXPECT_TRUE(GetWindowLongW(d.FindControl(CVersionPage::kVersionsId), GWL_STYLE) & ES_READONLY);
    DWORD start = 1, end = 1;
    SendDlgItemMessageW(d.Hwnd(), CVersionPage::kVersionsId, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                        reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, end) << "nothing is selected";
    d.Click(IDOK);
  });
  EXPECT_EQ(RunVersionDialog(nullptr), IDOK);
  ExpectClean(a);
}

TEST_F(VersionDialogsTest, AnEmptyHistoryShowsAnEmptyListAndMakesTheFolder) {
  Automation a;
  a.OnDialog(CViewBackupHistoryDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), Localizer::LoadResString(65337).view());
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2180, LVM_GETITEMCOUNT, 0, 0), 0);
    d.Click(IDOK);
  });
  EXPECT_EQ(RunBackupHistoryDialog(nullptr), IDOK);
  ExpectClean(a);
  EXPECT_TRUE(std::filesystem::is_directory(dev_.Host(kHistory)));
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "Populating Ombric list"), 1) << log;
  EXPECT_EQ(Count(log, "No Backup History files found"), 1) << log;
  EXPECT_EQ(Count(log, "List populated"), 1) << log;
}

TEST_F(VersionDialogsTest, ReportsAreListedNewestFirstAndATapOnOneOpensItInTheViewer) {
  quilmo::test::CopyToDevice(dev_, quilmo::test::BinFile("recorder"), u"\\Windows\\QuilmoStart.exe", true);
  dev_.MakeDir(kHistory);
  const ADateTime oldest(2026, 1, 3, 9, 15, 0), middle(2026, 2, 10, 18, 40, 0), newest(2026, 11, 28, 7, 5, 0);
  // Written in an order that is neither the names' nor the times'.
  PutReport(u"BackupReport1.txt", middle);
  PutReport(u"BackupReport2.txt", oldest);
  PutReport(u"BackupReport.txt", newest);
  Automation a;
  a.OnDialog(CViewBackupHistoryDlg::IDD, [&](Dialog& d) {
    ASSERT_EQ(SendDlgItemMessageW(d.Hwnd(), 2180, LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(d.ItemText(2180, 0, 0), CHistoryListCtrl::RowText(newest.GetAsFileTime()).view());
    EXPECT_EQ(d.ItemText(2180, 1, 0), CHistoryListCtrl::RowText(middle.GetAsFileTime()).view());
    EXPECT_EQ(d.ItemText(2180, 2, 0), CHistoryListCtrl::RowText(oldest.GetAsFileTime()).view());
    d.TapItem(2180, 1);
  });
  a.InDialog([](Dialog& d) { d.Click(IDOK); });
  EXPECT_EQ(RunBackupHistoryDialog(nullptr), IDOK);
  ExpectClean(a);
  const std::string record = StarterRecord();
  EXPECT_NE(record.find("Ombric.exe"), std::string::npos) << record;
  EXPECT_NE(record.find("\"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport1.txt\""),
            std::string::npos)
      << record;
}

TEST_F(VersionDialogsTest, ARowTextIsTheTimeAndTheLongDate) {
  const ADateTime when(2026, 3, 7, 14, 30, 0);
  CString time, date;
  ASSERT_TRUE(System::FormatTime(when, time));
  ASSERT_TRUE(System::FormatDate(when, true, date));
  EXPECT_EQ(CHistoryListCtrl::RowText(when.GetAsFileTime()), time + u", " + date);
}

// The platform's file-open dialog (its template, name edit and buttons).
constexpr int kOpenDialog = 1536;
constexpr int kOpenName = 1152;

TEST_F(VersionDialogsTest, AChosenUpgradeFileEndsWithOkAndACancelledBrowseLeavesNone) {
  dev_.PutFile(u"\\My Documents\\phones.sbu", "\\My Documents\\letter.txt\r\n");
  Automation a;
  a.OnDialog(CUpgradeDataDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), Localizer::LoadResString(57768).view());
    EXPECT_EQ(d.Text(2158), Localizer::LoadResString(57769).view());
    EXPECT_EQ(d.Text(2043), Localizer::LoadResString(65232).view());
    d.Click(CUpgradeDataDlg::kBrowseId);
  });
  // Without an extension the dialog's default one is added.
  a.OnDialog(kOpenDialog, [](Dialog& d) {
    d.SetText(kOpenName, u"\\My Documents\\phones");
    d.Click(IDOK);
  });
  a.OnDialog(CUpgradeDataDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2043), u"\\My Documents\\phones.sbu");
    d.Click(IDOK);
  });
  CUpgradeDataDlg chosen;
  EXPECT_EQ(chosen.DoModal(), IDOK);
  EXPECT_EQ(chosen.GetFileName(), CString(u"\\My Documents\\phones.sbu"));
  EXPECT_EQ(Count(LogText(), "Upgrade Filename: \\My Documents\\phones.sbu"), 1) << LogText();

  Automation b;
  b.OnDialog(CUpgradeDataDlg::IDD, [](Dialog& d) { d.Click(CUpgradeDataDlg::kBrowseId); });
  b.OnDialog(kOpenDialog, [](Dialog& d) { d.Click(IDCANCEL); });
  b.OnDialog(CUpgradeDataDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2043), Localizer::LoadResString(65232).view());
    d.Click(IDOK);
  });
  CUpgradeDataDlg cancelled;
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  ExpectClean(a);
  ExpectClean(b);
}

}  // namespace
