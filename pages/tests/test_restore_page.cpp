// The Restore page in a property sheet, driven as a user would: an image
// chosen in the open dialog and loaded (its password asked), one folder
// ticked and restored; the metadata checks with their questions; the
// empty selection; the annotation button; a damaged image; a host image
// while the host link is off; the reset itself, and a resumed run that is
// past it. Also the restore options dialog.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/file.h"
#include "ce/text.h"
#include "cesim/power.h"
#include "core/ProductSettings.h"
#include "engine/RebootController.h"
#include "image/ImageFormat.h"
#include "page_fixture.h"
#include "pages/MenuDialogs.h"
#include "pages/ResetDialogs.h"
#include "pages/RestorePage.h"
#include "pages/VersionDialogs.h"
#include "testkit/DialogContract.h"
#include "testkit/RunCommand.h"

using ui::test::Automation;
using ui::test::Dialog;

namespace {

using pagetest::Res;

constexpr int kPage = CRestorePage::IDD;
constexpr int kOpen = 360;
constexpr int kPassword = 231;
constexpr int kOptions = CRestoreOptionsPage::IDD;
constexpr int kTree = CRestorePage::kTreeId;
const CString kImage = u"\\Storage Card\\Backup.pbf";
constexpr const char16_t* kOne = u"This device/Files/Docs/one";
constexpr const char16_t* kTwo = u"This device/Files/Docs/two";

// The page, with the reset it would make recorded instead, and what the
// run after the reset would find.
class TestRestorePage : public CRestorePage {
 public:
  int resets = 0;
  OperationDescriptor atReset;
  CString passwordAtReset;

 protected:
  void RequestRestoreReset() override {
    ++resets;
    atReset = GetGlobal().g_Operation;
    passwordAtReset = GetGlobal().g_csTaskPassword;
  }
};

// The names of the files a restore of the index reaches: selected, below
// selected folders only.
std::vector<std::u16string> ReachedFiles(const Index& index) {
  std::vector<std::u16string> names;
  for (int n = 0; n < index.NodeCount(); ++n) {
    if (index.NodeName(n).find(u".txt") == std::u16string::npos) continue;
    bool reached = true;
    for (int p = n; p >= 0 && reached; p = index.Parent(p)) reached = index.IsSelected(p);
    if (reached) names.push_back(index.NodeName(n));
  }
  return names;
}

class RestorePageTest : public pagetest::ImageTest {
 protected:
  RestorePageTest() {
    dev_.PutFile(u"\\Docs\\one\\first.txt", "first, as backed up");
    dev_.PutFile(u"\\Docs\\two\\second.txt", "second, as backed up");
    // The restart warning has its own tests; these run with it turned off.
    ABackupRegistrySettings settings(kSettingsKeyKind);
    EXPECT_TRUE(settings.WriteDWORD(kShowResetWarningValue, 0));
  }

  // Runs the page in a sheet of its own through the automation's steps;
  // the sheet's Cancel closes it after them.
  void Run(CRestorePage& page, Automation& a) {
    a.OnDialog(kPage, [](Dialog& d) { d.Click(IDCANCEL); });
    CPropertySheet sheet(u"Quilmo Backup");
    sheet.AddPage(&page);
    sheet.DoModal();
    ExpectClean(a);
  }

  // The first steps of most tests: the page opens on the image the
  // descriptor names and loads it on its timer. A test whose next step
  // waits for a dialog or a box of the load leaves the clock to the loop
  // (waitsForLoad false) and checks no status before it: the load timer
  // runs on device time, which passes with the host's, so on a loaded host
  // it may fire before the first step.
  static void Loaded(Automation& a, bool waitsForLoad = true) {
    if (!waitsForLoad) return;
    a.OnDialog(kPage, [](Dialog& d) { EXPECT_EQ(d.Text(2031), Res(57758)); });
    a.AdvanceClock(100);
  }
  void StartWith(const CString& image) { global_.g_Operation.imagePath.Set(image, false); }

  // The device as a changed system version or a newer program sees it.
  void ChangeDevice(DWORD major, DWORD build) {
    ce::Profile p = dev_.device()->GetProfile();
    p.versionMajor = major;
    p.buildNumber = build;
    ASSERT_TRUE(dev_.device()->SaveProfile(p));
  }
};

TEST_F(RestorePageTest, ContractsWithTheResourceLibrary) {
  quilmo::test::ExpectDialogContract(
      kPage,
      {{2015, u"SysTreeView32"}, {1999, u"EDIT"}, {2000, u"BUTTON", BS_PUSHBUTTON},
       {2003, u"BUTTON", BS_PUSHBUTTON}, {2004, u"BUTTON", BS_OWNERDRAW}, {2031, u"STATIC"}, {2039, u"STATIC"}},
      {65221, 57721, 57688, 57722, 57758, 144, 65059, 65060, 65058, 65048, 57657, 65016, 57767, 65314, 65248});
  quilmo::test::ExpectDialogContract(
      kOptions,
      {{2128, u"STATIC"}, {2132, u"BUTTON", BS_AUTOCHECKBOX}, {2134, u"BUTTON", BS_AUTOCHECKBOX},
       {2057, u"BUTTON", BS_PUSHBUTTON}, {1, u"BUTTON", BS_DEFPUSHBUTTON}, {2, u"BUTTON", BS_PUSHBUTTON}},
      {65105, 57763, 57766, 57701, 57702, 57686});
}

// The road of an interactive restore up to its reset: the open dialog's
// choice, the image's password, one folder ticked, Restore.
TEST_F(RestorePageTest, ChosenImageAsksItsPasswordAndRestoresTheTickedFolderOnly) {
  const CString image = u"\\Storage Card\\Two folders.pbf";
  ASSERT_TRUE(MakeImage(image, u"two folders", u"secret1"));
  Automation a;
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(d.Text(2031), Res(57721));  // no image yet: the default place holds none
    EXPECT_TRUE(d.IsVisible(2031));
    EXPECT_FALSE(d.IsVisible(kTree));
    EXPECT_FALSE(d.IsEnabled(2003));
    EXPECT_FALSE(d.IsEnabled(2004));
    d.Click(2000);
  });
  a.OnDialog(kOpen, [](Dialog& d) {
    d.TapItem(2106, d.FindItem(2106, u"Two folders.pbf"));
    EXPECT_EQ(d.Text(2158), u"two folders");
    d.Click(140);
  });
  a.OnDialog(kPassword, [](Dialog& d) {
    d.SetText(2018, u"secret1");
    d.Click(IDOK);
  });
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_TRUE(d.IsVisible(kTree));
    EXPECT_FALSE(d.IsVisible(2031));
    EXPECT_TRUE(d.IsEnabled(2003));
    EXPECT_TRUE(d.IsEnabled(2004));
    EXPECT_EQ(d.Text(1999), u"\\Storage Card\\Two folders.pbf");
    EXPECT_EQ(d.TreeState(kTree, u"This device"), 2);
    d.TreeCheck(kTree, u"This device");  // untick everything
    d.TreeCheck(kTree, kOne);            // then the one folder
    EXPECT_EQ(d.TreeState(kTree, kTwo), 1);
    d.Click(2003);
  });
  TestRestorePage page;
  Run(page, a);
  EXPECT_EQ(page.resets, 1);
  const OperationDescriptor& op = page.atReset;
  EXPECT_EQ(op.operationKind, kOperationRestore);
  EXPECT_EQ(op.hostMode, kHostModeLocal);
  EXPECT_EQ(op.taskStartMode, kStartAtOnce);
  EXPECT_EQ(op.imagePath.GetFullPath(), image);
  EXPECT_EQ(op.includeFileSystem, 1);
  EXPECT_EQ(op.upgradeMode, 0);
  EXPECT_EQ(page.passwordAtReset, CString(u"secret1"));
  // The working index reaches what the marks show.
  EXPECT_EQ(ReachedFiles(global_.g_WorkingIndex), std::vector<std::u16string>{u"\\Docs\\one\\first.txt"});
}

TEST_F(RestorePageTest, CancelledPasswordLeavesNoImageChosen) {
  ASSERT_TRUE(MakeImage(kImage, u"locked", u"secret1"));
  StartWith(kImage);
  Automation a;
  Loaded(a, false);
  a.OnDialog(kPassword, [](Dialog& d) { d.Click(IDCANCEL); });
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(d.Text(2031), Res(57721));
    EXPECT_TRUE(d.IsVisible(2031));
    EXPECT_EQ(d.Text(1999), u"");
  });
  TestRestorePage page;
  Run(page, a);
  EXPECT_TRUE(page.GetBackupFile().IsEmpty());
  EXPECT_EQ(page.resets, 0);
}

// A newer program's image is refused when it loads; nothing restores it.
TEST_F(RestorePageTest, ImageOfANewerProgramIsRefusedOnLoading) {
  global_.g_wVersionMajor = 7;
  ASSERT_TRUE(MakeImage(kImage));
  global_.g_wVersionMajor = 6;
  StartWith(kImage);
  Automation a;
  Loaded(a, false);
  a.ExpectBox(144, IDOK);
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_FALSE(d.IsEnabled(2003));
    EXPECT_TRUE(d.IsEnabled(2000));
  });
  TestRestorePage page;
  Run(page, a);
  ASSERT_EQ(a.Boxes().size(), 1u);
  EXPECT_EQ(a.Boxes().front().request.style, UINT{MB_OK | MB_ICONERROR});
  EXPECT_EQ(a.Boxes().front().request.text, Localizer::FormatResString(144, GetApplicationName()).str());
  EXPECT_EQ(page.resets, 0);
}

TEST_F(RestorePageTest, BuildNumberAloneRestoresWithoutAQuestion) {
  ASSERT_TRUE(MakeImage(kImage));
  ChangeDevice(5, 15000);
  StartWith(kImage);
  Automation a;
  Loaded(a);
  a.OnDialog(kPage, [](Dialog& d) { d.Click(2003); });
  TestRestorePage page;
  Run(page, a);
  EXPECT_EQ(page.resets, 1);
  EXPECT_TRUE(a.Boxes().empty());
}

// Another system version asks first; No changes nothing, Yes goes on and
// may switch the upgrade mode on (its file choice not made: off again).
TEST_F(RestorePageTest, OtherSystemAsksAndNoLeavesEverythingAsItWas) {
  ASSERT_TRUE(MakeImage(kImage));
  ChangeDevice(6, 14847);
  StartWith(kImage);
  Automation a;
  Loaded(a);
  a.OnDialog(kPage, [](Dialog& d) { d.Click(2003); });
  a.ExpectBox(65016, IDNO);
  a.OnDialog(kPage, [](Dialog& d) { d.Click(2003); });
  a.ExpectBox(65016, IDYES);
  a.ExpectBox(57767, IDYES);
  a.OnDialog(CUpgradeDataDlg::IDD, [](Dialog& d) { d.Click(IDCANCEL); });
  TestRestorePage page;
  global_.g_Operation.taskStartMode = kStartWaitForUser;
  Run(page, a);
  ASSERT_EQ(a.Boxes().size(), 3u);
  EXPECT_EQ(a.Boxes()[0].request.style, UINT{MB_YESNO | MB_ICONWARNING});
  EXPECT_EQ(page.resets, 1);
  EXPECT_EQ(global_.g_Operation.upgradeMode, 0);
  EXPECT_EQ(Count(LogText(), "upgrade mode set to true"), 1) << LogText();
  EXPECT_EQ(Count(LogText(), "Cancelled file upgrade file selection"), 1) << LogText();
}

TEST_F(RestorePageTest, NewerMiddleVersionAsksAndNoStops) {
  global_.g_wVersionMid = 2;
  ASSERT_TRUE(MakeImage(kImage));
  global_.g_wVersionMid = 1;
  StartWith(kImage);
  Automation a;
  Loaded(a);
  a.OnDialog(kPage, [](Dialog& d) { d.Click(2003); });
  a.ExpectBox(65314, IDNO);
  a.OnDialog(kPage, [](Dialog& d) { d.Click(2003); });
  a.ExpectBox(65314, IDYES);
  TestRestorePage page;
  Run(page, a);
  EXPECT_EQ(a.Boxes().front().request.style, UINT{MB_YESNO | MB_ICONERROR});
  EXPECT_EQ(page.resets, 1);
}

TEST_F(RestorePageTest, NothingTickedIsRefused) {
  ASSERT_TRUE(MakeImage(kImage));
  StartWith(kImage);
  Automation a;
  Loaded(a);
  a.OnDialog(kPage, [](Dialog& d) {
    d.TreeCheck(kTree, u"This device");
    d.Click(2003);
  });
  a.ExpectBox(57657, IDOK);
  TestRestorePage page;
  Run(page, a);
  EXPECT_EQ(a.Boxes().front().request.style, UINT{MB_OK | MB_ICONERROR});
  EXPECT_EQ(page.resets, 0);
}

TEST_F(RestorePageTest, AnnotationButtonOnlyForARealAnnotation) {
  struct Case {
    CString annotation;
    bool enabled;
  } cases[] = {{CString(), false}, {CString(Res(65248)), false}, {CString(u"a real note"), true}};
  for (const Case& c : cases) {
    ASSERT_TRUE(MakeImage(kImage, c.annotation));
    StartWith(kImage);
    Automation a;
    Loaded(a);
    a.OnDialog(kPage, [&](Dialog& d) { EXPECT_EQ(d.IsEnabled(2004), c.enabled) << ce::ToUtf8(c.annotation.view()); });
    TestRestorePage page;
    Run(page, a);
  }
}

TEST_F(RestorePageTest, UnreadableIndexShowsTheUnreadableBox) {
  ASSERT_TRUE(MakeImage(kImage));
  std::string bytes = dev_.ReadFile(kImage.str());
  // The tail's fixed-part size (the index body's length) points before
  // the file's start.
  const size_t field = bytes.size() - ImageFormat::kHeaderSize + ImageFormat::kMarkerLength + 4;
  bytes.replace(field, 4, "\xF0\xFF\xFF\x7F", 4);
  dev_.PutFile(kImage.str(), bytes);
  StartWith(kImage);
  Automation a;
  Loaded(a, false);
  a.ExpectBox(65048, IDOK);
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_TRUE(d.IsVisible(2031));
    EXPECT_FALSE(d.IsVisible(kTree));
    EXPECT_EQ(d.Text(1999), u"\\Storage Card\\Backup.pbf");
  });
  TestRestorePage page;
  Run(page, a);
  EXPECT_EQ(Count(LogText(), "CRestorePage::InitTree() Error loading restore index"), 1) << LogText();
}

// A host image named while the host link is off is forgotten: no image,
// and no attempt to reach the host.
TEST_F(RestorePageTest, HostImageWhileTheHostIsOffIsForgotten) {
  global_.g_Operation.imagePath.Set(u"remote.pbf", false);
  global_.g_Operation.imagePath.SetLocationKind(kLocationRemoteHost);
  Automation a;
  a.OnDialog(kPage, [](Dialog& d) {
    EXPECT_EQ(d.Text(2031), Res(57721));
    EXPECT_EQ(d.Text(1999), u"");
    EXPECT_FALSE(d.IsEnabled(2003));
  });
  TestRestorePage page;
  Run(page, a);
  EXPECT_TRUE(page.GetBackupFile().IsEmpty());
  EXPECT_EQ(global_.g_Operation.hostMode, kHostModeLocal);
}

// The reset for real (in a child process, which the reset ends): the state
// is saved for the run after it. A resumed run is past the location and
// does not reset again.
TEST_F(RestorePageTest, RestoreResetsOnceAndAResumedRunIsPastIt) {
  ASSERT_TRUE(MakeImage(kImage));
  dev_.MakeDir(u"\\Windows\\StartUp");
  StartWith(kImage);
  auto restore = [this](int location) {
    RebootController::Instance().AdvanceLocation(location);
    Automation a;
    Loaded(a);
    a.OnDialog(kPage, [](Dialog& d) { d.Click(2003); });
    CRestorePage page;
    CPropertySheet sheet(u"Quilmo Backup");
    sheet.AddPage(&page);
    sheet.DoModal();
  };
  EXPECT_TRUE(quilmo::test::ReturnsInChild([&] { restore(2001); }));
  EXPECT_TRUE(ce::PendingResets().empty());
  EXPECT_FALSE(quilmo::test::ReturnsInChild([&] { restore(0); }));
  EXPECT_EQ(ce::PendingResets().size(), 1u);
  RebootController next;
  EXPECT_EQ(next.GetLocation(), 2001);
  EXPECT_TRUE(next.IsLoaded());
}

// ------------------------------------------------------- options dialog

TEST_F(RestorePageTest, OptionsDialogShowsAndResetsTheFourOptions) {
  RestoreOptionFlags flags;
  flags.restoreKill = 0;
  flags.handleMenu = 0;
  flags.newDeviceRestore = 1;
  Automation a;
  a.OnDialog(kOptions, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), Res(65105));
    EXPECT_EQ(SendMessageW(d.FindControl(2132), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageW(d.FindControl(2134), BM_GETCHECK, 0, 0), BST_CHECKED);
    d.Click(2057);
    EXPECT_EQ(SendMessageW(d.FindControl(2132), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(d.FindControl(2134), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    d.SetCheck(2134, BST_CHECKED);
    d.Click(IDOK);
  });
  EXPECT_EQ(RunRestoreOptionsDialog(nullptr, flags), IDOK);
  ExpectClean(a);
  EXPECT_EQ(flags.restoreKill, 0u);  // the defaults (no toolhelp)
  EXPECT_EQ(flags.handleMenu, 1u);
  EXPECT_EQ(flags.nonDestructiveRestore, 1u);
  EXPECT_EQ(flags.newDeviceRestore, 1u);
}

TEST_F(RestorePageTest, OptionsDialogForcesKillAndHidesTheUpgradeWithoutUpgradeMode) {
  SetConfigDWORD(u"AllowUpgradeMode", 0);
  Automation a;
  a.OnDialog(kOptions, [](Dialog& d) {
    EXPECT_FALSE(d.IsVisible(2134));
    d.Click(IDOK);
  });
  CRestoreOptionsPage dialog(0, 1, 0, 1);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_EQ(dialog.m_bRestoreKill, 1u);
  EXPECT_EQ(dialog.m_bHandleMenu, 1u);
  EXPECT_EQ(dialog.m_bNonDestructiveRestore, 0u);
  EXPECT_EQ(dialog.m_bNewDeviceRestore, 0u);
}

}  // namespace
