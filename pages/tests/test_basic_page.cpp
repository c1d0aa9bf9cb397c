// The Basic page on a scratch device: the search for the newest image, the
// one-tap backup and the one-tap restore up to the restart that carries
// them, with their questions, refusals and the restart warning.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>

#include "app/tests/dlg_fixture.h"
#include "ce/file.h"
#include "ce/text.h"
#include "cesim/power.h"
#include "core/DateTime.h"
#include "core/Localizer.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "engine/FileSystemComponent.h"
#include "engine/ImagingTask.h"
#include "engine/RebootController.h"
#include "image/ImageFormat.h"
#include "pages/BasicPage.h"
#include "pages/ResetDialogs.h"
#include "pages/VersionDialogs.h"
#include "testkit/DialogContract.h"
#include "testkit/RunCommand.h"
#include "testkit/ScopedState.h"
#include "testkit/TaskSetup.h"
#include "ui/Automation.h"

using quilmo::test::ChildExit;
using quilmo::test::ChildProcess;
using ui::test::Automation;
using ui::test::Dialog;

namespace {

namespace fs = std::filesystem;

constexpr const char16_t* kProgram = u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";
constexpr const char16_t* kReboot = u"\\Program Files\\Quilmo Backup\\Reboot";
constexpr int kPage = CBasicPage::IDD;
constexpr int kWarning = ResetNotificationDlg::IDD;
constexpr int kSheetEnded = 10;
constexpr int kStepsFailed = 11;
const IncludedKinds kFileSystemOnly{true, false, false, false};

std::u16string Text(DWORD id) { return std::u16string(Localizer::LoadResString(id).view()); }

class BasicPageTest : public dlgtest::DialogTest {
 protected:
  BasicPageTest() : program_(kProgram), context_(MakeFileSystemContext(global_)), fileSystem_(context_) {
    fileSystem_.Register();
    dev_.MakeDir(u"\\My Documents");
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
    dev_.MakeDir(u"\\Windows\\StartUp");
    global_.g_bAdvancedMode = false;
    // Plain backups unless a test asks for more: no password, no date.
    global_.g_BackupOptions.UnpackOptions(0x1);
  }
  ~BasicPageTest() override {
    if (HasFailure()) std::cerr << LogText();
  }

  void InsertCard() {
    ce::Profile p = dev_.device()->GetProfile();
    p.cards = {u"Storage Card"};
    ASSERT_TRUE(dev_.device()->SaveProfile(p));
    dev_.MakeDir(u"\\Storage Card");
  }
  // A file that passes as a backup image (the image mark in its tail).
  void PutFakeImage(const std::u16string& path, const ADateTime& when, DWORD attributes = 0) {
    std::string bytes(ImageFormat::kHeaderSize, '\0');
    std::string tail(ImageFormat::kHeaderSize, '\0');
    tail.replace(0, ImageFormat::kMarkerLength, ImageFormat::kMarker, ImageFormat::kMarkerLength);
    dev_.PutFile(path, bytes + tail);
    SetTime(path, when);
    if (attributes) {
      ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    }
  }
  static void SetTime(const std::u16string& path, const ADateTime& when) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const FILETIME ft = when.GetAsFileTime();
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
    CloseHandle(h);
  }
  // A real image of the documents folder, made by the program's version
  // mid (and with a password when one is given).
  void MakeImage(const CString& path, WORD versionMid = 0, const CString& password = CString()) {
    dev_.PutFile(u"\\My Documents\\letter.txt", "the letter");
    const WORD mid = global_.g_wVersionMid;
    global_.g_wVersionMid = versionMid;
    quilmo::test::PrepareBackupOperation(global_, kFileSystemOnly, path, password);
    {
      AImagingTaskClient task(global_.g_Operation, nullptr);
      ASSERT_TRUE(task.RunBackup()) << ce::ToUtf8(task.GetFailureText().view());
    }
    global_.g_wVersionMid = mid;
    global_.g_Operation = OperationDescriptor();
    global_.g_bEncrypt = false;
    global_.g_csTaskPassword.Empty();
    global_.g_WorkingIndex.Reset();
  }

  // The sheet with the page, modally, under the automation's steps.
  static INT_PTR RunSheet(CBasicPage& page) {
    CPropertySheet sheet(u"Quilmo Backup");
    sheet.AddPage(&page);
    return sheet.DoModal();
  }
  void RunPage(Automation& a, CBasicPage& page) {
    RunSheet(page);
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done()) << a.Remaining().front();
  }
  // The same in a child process, which a restart ends; the steps are added
  // there. before runs first (the program's state before the page).
  static ChildExit RunInChild(const std::function<void(Automation&)>& steps,
                              const std::function<void()>& before = {}) {
    ChildProcess child = ChildProcess::Fork([&] {
      if (before) before();
      static Automation a;
      steps(a);
      CBasicPage page;
      RunSheet(page);
      for (const auto& f : a.Failures()) std::cerr << f << "\n";
      _exit(a.Failures().empty() && a.Done() ? kSheetEnded : kStepsFailed);
    });
    return child.Wait();
  }
  // The next start of the program reads the saved operation back.
  void NextStart() {
    global_.g_Operation = OperationDescriptor();
    global_.g_WorkingIndex.Reset();
    RebootController next;
    EXPECT_EQ(next.GetLocation(), 2001);
    ASSERT_TRUE(next.IsLoaded());
    next.RestorePersistedState();
  }
  static std::u16string Setting(LPCWSTR name) {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    CString value;
    return settings.ReadString(name, value) ? std::u16string(value.view()) : u"<none>";
  }
  static DWORD SettingDword(LPCWSTR name) {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    DWORD value = 0xDEAD;
    return settings.ReadDWORD(name, value) ? value : 0xDEAD;
  }
  static void TapBackup(Automation& a) {
    a.OnDialog(kPage, [](Dialog& d) { d.Click(CBasicPage::kBackupButtonId); });
  }
  static void TapRestore(Automation& a) {
    a.OnDialog(kPage, [](Dialog& d) { d.Click(CBasicPage::kRestoreButtonId); });
  }
  static void CloseSheet(Automation& a) {
    a.OnDialog(kPage, [](Dialog& d) { d.Click(IDCANCEL); });
  }
  static std::u16string DateText(const ADateTime& when) {
    CString date, time;
    System::FormatDate(when, true, date);
    System::FormatTime(when, time);
    return std::u16string((date + u" \n" + time).view());
  }

  quilmo::test::ScopedOwnProgram program_;
  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

TEST_F(BasicPageTest, ContractOfThePage) {
  quilmo::test::ExpectDialogContract(
      kPage,
      {{2174, u"BUTTON", 0}, {2175, u"BUTTON", 0}, {2176, u"STATIC"}, {2177, u"STATIC"}, {2178, u"STATIC"},
       {2179, u"STATIC"}, {2211, u"STATIC"}, {2212, u"STATIC"}},
      {65229, 65230, 65231, 65232, 65238, 65239, 65312, 65326, 65370, 65016, 57767, 65314, 144},
      {318, 319, 388, 389});
}

// ---------------------------------------------------------------- search

TEST_F(BasicPageTest, TheSearchShowsTheNewestImageAndPassesOverWhatIsNoneOrHidden) {
  InsertCard();
  const ADateTime base(2026, 5, 1, 10, 0, 0);
  PutFakeImage(u"\\My Documents\\old.pbf", base);
  PutFakeImage(u"\\Storage Card\\Backups\\new.pbf", base + 3600);
  // Newer, but each is passed over.
  PutFakeImage(u"\\Storage Card\\Windows\\win.pbf", base + 7200);
  PutFakeImage(u"\\My Documents\\Deep\\ConnMgr\\conn.pbf", base + 7200);
  PutFakeImage(u"\\Storage Card\\hidden.pbf", base + 7200, FILE_ATTRIBUTE_HIDDEN);
  PutFakeImage(u"\\Storage Card\\system.exe", base + 7200, FILE_ATTRIBUTE_SYSTEM);
  PutFakeImage(u"\\Storage Card\\image.txt", base + 7200);
  dev_.PutFile(u"\\Storage Card\\tool.exe", std::string(400, 'x'));
  SetTime(u"\\Storage Card\\tool.exe", base + 7200);
  // Outside the documents folder and the cards nothing is searched.
  PutFakeImage(u"\\temp\\other.pbf", base + 7200);

  Automation a;
  a.OnDialog(kPage, [&](Dialog& d) {
    EXPECT_EQ(d.Text(2179), u"\\Storage Card\\Backups\\new.pbf");
    EXPECT_EQ(d.Text(2177), DateText(base + 3600));
    EXPECT_TRUE(d.IsEnabled(2175));
    EXPECT_EQ(d.Text(2174), Text(65238));
    EXPECT_EQ(d.Text(2176), Text(65229));
    EXPECT_EQ(d.Text(2178), Text(65230));
    d.Click(IDCANCEL);
  });
  CBasicPage page;
  RunPage(a, page);
  EXPECT_EQ(page.GetImagePath().GetFullPath(), CString(u"\\Storage Card\\Backups\\new.pbf"));
}

TEST_F(BasicPageTest, WithoutAnImageTheTextsSayNoneAndRestoreIsOff) {
  InsertCard();
  dev_.PutFile(u"\\Storage Card\\notes.pbf", "not an image");
  Automation a;
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(d.Text(2177), Text(65232));
    EXPECT_EQ(d.Text(2179), Text(65232));
    EXPECT_FALSE(d.IsEnabled(2175));
    d.Click(IDCANCEL);
  });
  CBasicPage page;
  RunPage(a, page);
}

TEST_F(BasicPageTest, OnEqualTimesTheDocumentsFolderWinsAndAKeptPathStaysWhileItsFileExists) {
  InsertCard();
  const ADateTime when(2026, 6, 2, 8, 30, 0);
  PutFakeImage(u"\\Storage Card\\card.pbf", when);
  PutFakeImage(u"\\My Documents\\docs.pbf", when);
  Automation a;
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(d.Text(2179), u"\\My Documents\\docs.pbf");
    d.Click(IDCANCEL);
  });
  CBasicPage first;
  RunPage(a, first);

  // A later search that finds nothing keeps the path it had.
  ASSERT_TRUE(DeleteFileW(u"\\Storage Card\\card.pbf"));
  PutFakeImage(u"\\temp\\kept.pbf", when + 60);
  fs::rename(dev_.Host(u"\\My Documents\\docs.pbf"), dev_.Host(u"\\temp\\gone.bin"));
  CBasicPage page;
  ABackupFilePath kept;
  kept.Set(u"\\temp\\kept.pbf", false);
  page.SetImagePath(kept);
  Automation b;
  b.OnDialog(kPage, [&](Dialog& d) {
    EXPECT_EQ(d.Text(2179), u"\\temp\\kept.pbf");
    EXPECT_EQ(d.Text(2177), DateText(when + 60));
    EXPECT_TRUE(d.IsEnabled(2175));
    d.Click(IDCANCEL);
  });
  RunPage(b, page);
}

// Both halves stay on the page, the backup half above the restore half,
// whichever way the screen is turned.
TEST_F(BasicPageTest, TheHalvesFitThePageInBothOrientations) {
  auto expectLayout = [](Dialog& d, const char* when) {
    RECT page{};
    GetWindowRect(d.Hwnd(), &page);
    for (int id : {2174, 2175, 2176, 2177, 2178, 2179, 2211, 2212}) {
      const RECT r = d.Rect(id);
      EXPECT_GE(r.left, page.left) << when << " " << id;
      EXPECT_LE(r.right, page.right) << when << " " << id;
      EXPECT_GE(r.top, page.top) << when << " " << id;
      EXPECT_LE(r.bottom, page.bottom) << when << " " << id;
    }
    EXPECT_LE(d.Rect(2177).bottom, d.Rect(2212).top) << when;
    EXPECT_LE(d.Rect(2177).bottom, d.Rect(2175).top) << when;
  };
  Automation a;
  a.OnDialog(kPage, [&](Dialog& d) {
    expectLayout(d, "portrait");
    const int before = Count(LogText(), "CBasicPage RelayoutDialog");
    Rotate(d.Hwnd());
    expectLayout(d, "landscape");
    const int turned = Count(LogText(), "CBasicPage RelayoutDialog");
    EXPECT_GT(turned, before);
    // A settings change that turns nothing lays nothing out again.
    SendMessageW(GetParent(d.Hwnd()), WM_SETTINGCHANGE, 0, 0);
    EXPECT_EQ(Count(LogText(), "CBasicPage RelayoutDialog"), turned);
    d.Click(IDCANCEL);
  });
  CBasicPage page;
  RunPage(a, page);
}

// ---------------------------------------------------------------- backup

TEST_F(BasicPageTest, ABackupWithNowhereToGoSaysSoAndChangesNothing) {
  SetConfigDWORD(u"AllowBackupToMainMemory", 0);
  Automation a;
  TapBackup(a);
  a.ExpectBoxText(Localizer::FormatResString(65326, GetApplicationName()).str(), IDOK);
  CloseSheet(a);
  CBasicPage page;
  RunPage(a, page);
  EXPECT_EQ(global_.g_Operation.operationKind, kOperationNotSet);
  EXPECT_EQ(Setting(CBasicPage::kDefaultFileValue), u"<none>");
  EXPECT_TRUE(ce::PendingResets().empty());
}

TEST_F(BasicPageTest, ABackupIntoTheDocumentsFolderIsAskedForAndNoLeavesAllAsItWas) {
  // No card: the documents folder is the location left.
  Automation a;
  TapBackup(a);
  a.ExpectBox(65370, IDNO);
  CloseSheet(a);
  CBasicPage page;
  RunPage(a, page);
  ASSERT_EQ(a.Boxes().size(), 1u);
  EXPECT_EQ(a.Boxes()[0].request.style, static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION));
  EXPECT_EQ(global_.g_Operation.operationKind, kOperationNotSet);
  EXPECT_EQ(Setting(CBasicPage::kDefaultFileValue), u"<none>");
  EXPECT_EQ(Setting(u"csDefaultBackupFilename"), u"<none>");
  EXPECT_TRUE(ce::PendingResets().empty());
}

TEST_F(BasicPageTest, DecliningThePasswordLeavesTheWarningUnaskedAndTheDeviceRunning) {
  InsertCard();
  global_.g_BackupOptions.UnpackOptions(1u << kOptionEncrypt);
  Automation a;
  TapBackup(a);
  a.OnDialog(231, [](Dialog& d) { d.Click(IDCANCEL); });
  CloseSheet(a);  // a warning dialog here would be an unexpected step
  CBasicPage page;
  RunPage(a, page);
  EXPECT_FALSE(global_.g_bEncrypt);
  EXPECT_EQ(Setting(CBasicPage::kDefaultFileValue), u"<none>");
  EXPECT_TRUE(ce::PendingResets().empty());
}

TEST_F(BasicPageTest, ACancelledWarningReturnsToTheBackupButton) {
  InsertCard();
  Automation a;
  TapBackup(a);
  a.OnDialog(kWarning, [](Dialog& d) { d.Click(IDCANCEL); });
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(GetFocus(), d.FindControl(CBasicPage::kBackupButtonId));
    d.Click(IDCANCEL);
  });
  CBasicPage page;
  RunPage(a, page);
  EXPECT_TRUE(ce::PendingResets().empty());
  EXPECT_FALSE(fs::exists(dev_.Host(kReboot)));
}

TEST_F(BasicPageTest, OneTapBackupSavesTheWholeDeviceBackupAndRestarts) {
  InsertCard();
  global_.g_BackupOptions.UnpackOptions((1u << kOptionAppendDate) | 0x1);
  SetConfigDWORD(u"IncludeMail", 0);
  const ChildExit run = RunInChild([](Automation& a) {
    TapBackup(a);
    a.OnDialog(kWarning, [](Dialog& d) {
      EXPECT_TRUE(d.IsVisible(2201));
      d.SetCheck(2201, BST_CHECKED);
      d.Click(IDOK);
    });
  });
  ASSERT_EQ(ce::PendingResets().size(), 1u) << run.Describe();
  SYSTEMTIME now{};
  GetLocalTime(&now);
  CString expected;
  expected.Format(u"\\Storage Card\\%s_%04d-%02d-%02d.pbf", Localizer::LoadResString(57662).GetString(),
                  now.wYear, now.wMonth, now.wDay);
  EXPECT_EQ(Setting(CBasicPage::kDefaultFileValue), expected.view());
  EXPECT_EQ(SettingDword(kShowResetWarningValue), 14u);

  NextStart();
  const OperationDescriptor& op = global_.g_Operation;
  EXPECT_EQ(op.operationKind, kOperationBackup);
  EXPECT_EQ(op.hostMode, kHostModeLocal);
  EXPECT_EQ(op.taskStartMode, kStartAtOnce);
  EXPECT_EQ(op.imagePath.GetFullPath(), expected);
  EXPECT_EQ(op.includeFileSystem, 1);
  EXPECT_EQ(op.includeRegistry, 1);
  EXPECT_EQ(op.includeDatabases, 1);
  EXPECT_EQ(op.includeMail, 0);
  EXPECT_GT(global_.g_WorkingIndex.NodeCount(), 1);
}

TEST_F(BasicPageTest, AfterAResumedOperationATapRestartsAgainButNotWhileAtTheResetsOwnMark) {
  InsertCard();
  auto steps = [](Automation& a) {
    TapBackup(a);
    a.OnDialog(kWarning, [](Dialog& d) { d.Click(IDOK); });
    CloseSheet(a);  // only reached when no restart ended the run
  };
  // At 2000 the reset is already under way: nothing more happens.
  const ChildExit at2000 =
      RunInChild(steps, [] { RebootController::Instance().SetLocation(RebootController::kOperationLocation); });
  EXPECT_TRUE(at2000.ExitedWith(kSheetEnded)) << at2000.Describe();
  EXPECT_TRUE(ce::PendingResets().empty());
  // A resumed run reads 2001: a new backup makes its own restart.
  const ChildExit resumed = RunInChild(steps, [] { RebootController::Instance().SetLocation(2001); });
  ASSERT_EQ(ce::PendingResets().size(), 1u) << resumed.Describe();
  NextStart();
  EXPECT_EQ(global_.g_Operation.operationKind, kOperationBackup);
}

// --------------------------------------------------------------- restore

TEST_F(BasicPageTest, OneTapRestoreLoadsTheNewestImagesIndexAndRestarts) {
  InsertCard();
  MakeImage(u"\\Storage Card\\device.pbf");
  const ChildExit run = RunInChild([](Automation& a) {
    a.OnDialog(kPage, [](Dialog& d) {
      EXPECT_EQ(d.Text(2179), u"\\Storage Card\\device.pbf");
      d.Click(CBasicPage::kRestoreButtonId);
    });
    a.OnDialog(kWarning, [](Dialog& d) {
      EXPECT_FALSE(d.IsVisible(2201));
      d.Click(IDOK);
    });
  });
  ASSERT_EQ(ce::PendingResets().size(), 1u) << run.Describe();
  NextStart();
  const OperationDescriptor& op = global_.g_Operation;
  EXPECT_EQ(op.operationKind, kOperationRestore);
  EXPECT_EQ(op.hostMode, kHostModeLocal);
  EXPECT_EQ(op.taskStartMode, kStartAtOnce);
  EXPECT_EQ(op.imagePath.GetFullPath(), CString(u"\\Storage Card\\device.pbf"));
  EXPECT_NE(global_.g_WorkingIndex.FindChildOfType(TREE_FILESYSTEM), -1);
  EXPECT_EQ(SettingDword(kShowResetWarningValue), 0xDEADu);
}

TEST_F(BasicPageTest, AnImageOfAnOlderMiddleVersionIsRefusedAndANewerOneIsAskedFor) {
  InsertCard();
  global_.g_wVersionMid = 4;
  MakeImage(u"\\Storage Card\\older.pbf", 3);
  Automation a;
  TapRestore(a);
  a.ExpectBoxText(Localizer::FormatResString(144, GetApplicationName()).str(), IDOK);
  CloseSheet(a);
  CBasicPage page;
  RunPage(a, page);
  ASSERT_EQ(a.Boxes().size(), 1u);
  EXPECT_EQ(a.Boxes()[0].request.style, static_cast<UINT>(MB_OK | MB_ICONSTOP));

  ASSERT_TRUE(DeleteFileW(u"\\Storage Card\\older.pbf"));
  MakeImage(u"\\Storage Card\\newer.pbf", 5);
  Automation b;
  TapRestore(b);
  b.ExpectBoxText(Localizer::FormatResString(65314, GetApplicationName()).str(), IDNO);
  CloseSheet(b);
  CBasicPage again;
  RunPage(b, again);
  ASSERT_EQ(b.Boxes().size(), 1u);
  EXPECT_EQ(b.Boxes()[0].request.style, static_cast<UINT>(MB_YESNO | MB_ICONSTOP));
  EXPECT_TRUE(ce::PendingResets().empty());
}

TEST_F(BasicPageTest, ABuildNumberAloneIsNoQuestionButAnotherSystemIs) {
  InsertCard();
  MakeImage(u"\\Storage Card\\device.pbf");
  ce::Profile p = dev_.device()->GetProfile();
  p.buildNumber += 1;
  ASSERT_TRUE(dev_.device()->SaveProfile(p));
  Automation a;
  TapRestore(a);
  a.OnDialog(kWarning, [](Dialog& d) { d.Click(IDCANCEL); });
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(GetFocus(), d.FindControl(CBasicPage::kRestoreButtonId));
    d.Click(IDCANCEL);
  });
  CBasicPage page;
  RunPage(a, page);
  EXPECT_TRUE(a.Boxes().empty());

  p.versionMinor += 1;
  ASSERT_TRUE(dev_.device()->SaveProfile(p));
  SetConfigDWORD(u"AllowUpgradeMode", 0);
  Automation b;
  TapRestore(b);
  b.ExpectBox(65016, IDNO);
  CloseSheet(b);
  CBasicPage other;
  RunPage(b, other);
  EXPECT_EQ(Count(LogText(), "Meta Data Different OS"), 1);
  EXPECT_EQ(Count(LogText(), "upgrade mode not set"), 1);
}

TEST_F(BasicPageTest, APasswordImageAsksForItsPasswordAndCancelStops) {
  InsertCard();
  MakeImage(u"\\Storage Card\\secret.pbf", 0, u"secret77");
  Automation a;
  TapRestore(a);
  a.OnDialog(231, [](Dialog& d) {
    EXPECT_FALSE(d.IsVisible(2021)) << "image mode asks once";
    d.Click(IDCANCEL);
  });
  CloseSheet(a);
  CBasicPage page;
  RunPage(a, page);
  EXPECT_EQ(global_.g_WorkingIndex.NodeCount(), 1) << "the index is not loaded";
  EXPECT_TRUE(ce::PendingResets().empty());
}

TEST_F(BasicPageTest, ARestoreOntoANewDeviceAsksForTheUpgradeDataAndCancelDropsTheUpgrade) {
  InsertCard();
  MakeImage(u"\\Storage Card\\device.pbf");
  global_.g_RestoreOptions.SetNewDeviceRestoreFlag(true);
  Automation a;
  TapRestore(a);
  a.OnDialog(CUpgradeDataDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2043), Text(65232));
    d.Click(IDOK);  // no file chosen: ends as Cancel
  });
  a.OnDialog(kWarning, [](Dialog& d) { d.Click(IDCANCEL); });
  CloseSheet(a);
  CBasicPage page;
  RunPage(a, page);
  EXPECT_EQ(global_.g_Operation.upgradeMode, 0);
  EXPECT_EQ(Count(LogText(), "Cancelled file upgrade file selection"), 1) << LogText();
}

}  // namespace
