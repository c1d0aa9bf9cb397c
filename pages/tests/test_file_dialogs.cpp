// The program's file dialogs driven as a user would: the open dialog's list
// (which files and folders it searches, the row texts, the annotation of
// the chosen image, self-restoring images, the desktop host's folder) and
// the save dialog's places, folders, name rules and annotation.
#include <gtest/gtest.h>

#include <string>

#include "ce/file.h"
#include "ce/text.h"
#include "ce/winsock.h"
#include "core/ProductSettings.h"
#include "engine/TaskHostLink.h"
#include "hostlink/HostConnection.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFormat.h"
#include "page_fixture.h"
#include "pages/FileDialogs.h"
#include "testkit/DialogContract.h"

// The host service runner of the host-link tests.
#include "hostlink/tests/host_service_process.h"

using quilmo::test::ControlContract;
using ui::test::Automation;
using ui::test::Dialog;

namespace {

using pagetest::Res;

constexpr int kOpen = CNewOpenDlg::IDD;
constexpr int kSave = CNewSaveDlg::IDD;
constexpr int kList = CNewOpenDlg::kListId;

class FileDialogTest : public pagetest::ImageTest {
 protected:
  // The rows of the open dialog's list as "name|folder" lines, in order.
  static std::u16string Rows(Dialog& d) {
    std::u16string rows;
    HWND list = d.FindControl(kList);
    const int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) rows += d.ItemText(kList, i, 0) + u"|" + d.ItemText(kList, i, 2) + u"\n";
    return rows;
  }
  static void SetHidden(const char16_t* path, DWORD attributes) {
    EXPECT_TRUE(SetFileAttributesW(path, attributes));
  }
};

TEST(FileListSizes, EachFormFromItsFirstByteCount) {
  EXPECT_EQ(CNewFileListCtrl::FormatSize(0), CString(u"0b"));
  EXPECT_EQ(CNewFileListCtrl::FormatSize(1024), CString(u"1024b"));
  EXPECT_EQ(CNewFileListCtrl::FormatSize(1025), CString(u"  1.0k"));
  EXPECT_EQ(CNewFileListCtrl::FormatSize(1048576), CString(u"1024.0k"));
  EXPECT_EQ(CNewFileListCtrl::FormatSize(1048577), CString(u"1.00m"));
  EXPECT_EQ(CNewFileListCtrl::FormatSize(5ull << 30), CString(u"5120.00m"));
}

TEST_F(FileDialogTest, ContractWithTheResourceLibrary) {
  quilmo::test::ExpectDialogContract(
      kOpen,
      {{2128, u"STATIC"}, {2101, u"STATIC"}, {2102, u"STATIC"}, {2209, u"COMBOBOX"},
       {2106, u"SysListView32"}, {2158, u"EDIT"}, {140, u"BUTTON", BS_DEFPUSHBUTTON},
       {2, u"BUTTON", BS_PUSHBUTTON}},
      {65165, 65255, 65168, 57730, 65257, 57686, 57684, 57709, 65166, 65167, 65301, 65312});
  quilmo::test::ExpectDialogContract(
      kSave,
      {{2128, u"STATIC"}, {2036, u"STATIC"}, {2102, u"STATIC"}, {2105, u"COMBOBOX"}, {2099, u"STATIC"},
       {2103, u"COMBOBOX"}, {2098, u"EDIT"}, {2101, u"STATIC"}, {2158, u"EDIT"},
       {1, u"BUTTON", BS_DEFPUSHBUTTON}, {2, u"BUTTON", BS_PUSHBUTTON}},
      {65160, 65162, 65164, 65161, 65249, 57702, 57686, 65257, 65312, 65232, 57662, 65247, 65321, 65326});
}

// Every folder is searched but "Windows" and "ConnMgr" (exact case);
// only ".pbf" and ".exe" files (exact case) that are neither hidden nor
// system and that end like an image are listed.
TEST_F(FileDialogTest, ListsEveryImageOfTheDeviceByTheSearchRules) {
  ASSERT_TRUE(MakeImage(u"\\Storage Card\\card.pbf", u"on the card"));
  const std::string image = dev_.ReadFile(u"\\Storage Card\\card.pbf");
  dev_.PutFile(u"\\Deep\\er\\still\\deep.pbf", image);
  dev_.PutFile(u"\\windows2\\lower.pbf", image);
  dev_.MakeDir(u"\\Windows");
  dev_.PutFile(u"\\Windows\\skipped.pbf", image);
  dev_.PutFile(u"\\ConnMgr\\skipped.pbf", image);
  dev_.PutFile(u"\\Deep\\upper.PBF", image);
  dev_.PutFile(u"\\Deep\\text.pbf", std::string(400, 'x'));
  dev_.PutFile(u"\\Deep\\tiny.pbf", image.substr(image.size() - 100));
  dev_.PutFile(u"\\Deep\\hidden.pbf", image);
  dev_.PutFile(u"\\Deep\\system.pbf", image);
  dev_.PutFile(u"\\Deep\\copy.exe", image);
  SetHidden(u"\\Deep\\hidden.pbf", FILE_ATTRIBUTE_HIDDEN);
  SetHidden(u"\\Deep\\system.pbf", FILE_ATTRIBUTE_SYSTEM);

  Automation a;
  a.OnDialog(kOpen, [&](Dialog& d) {
    std::u16string rows = Rows(d);
    for (const char16_t* row : {u"card.pbf|\\Storage Card\\\n", u"deep.pbf|\\Deep\\er\\still\\\n",
                                u"lower.pbf|\\windows2\\\n", u"copy.exe|\\Deep\\\n"})
      EXPECT_NE(rows.find(row), std::u16string::npos) << ce::ToUtf8(row) << " missing from\n" << ce::ToUtf8(rows);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), u'\n'), 4) << ce::ToUtf8(rows);
    const int card = d.FindItem(kList, u"card.pbf");
    const int size = static_cast<int>(image.size());
    EXPECT_EQ(d.ItemText(kList, card, 3), CNewFileListCtrl::FormatSize(size).str());
    EXPECT_EQ(d.ItemText(kList, card, 1).find(u", ") != std::u16string::npos, true) << ce::ToUtf8(d.ItemText(kList, card, 1));
    EXPECT_EQ(d.Text(2128), Res(65165));
    EXPECT_FALSE(d.IsEnabled(140));
    // Without the desktop host there is no place to choose.
    EXPECT_FALSE(d.IsVisible(2209));
    EXPECT_FALSE(d.IsVisible(2102));
    d.Click(IDCANCEL);
  });
  CNewOpenDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ExpectClean(a);
  EXPECT_TRUE(dlg.GetPath().GetName().IsEmpty());
}

TEST_F(FileDialogTest, ChosenImageShowsItsAnnotationAndOpens) {
  ASSERT_TRUE(MakeImage(u"\\Storage Card\\first.pbf", u"before the trip"));
  ASSERT_TRUE(MakeImage(u"\\Storage Card\\second.pbf", u"after the trip"));
  Automation a;
  a.OnDialog(kOpen, [](Dialog& d) {
    d.TapItem(kList, d.FindItem(kList, u"second.pbf"));
    EXPECT_EQ(d.Text(2158), u"after the trip");
    EXPECT_TRUE(d.IsEnabled(140));
    d.TapItem(kList, d.FindItem(kList, u"first.pbf"));
    EXPECT_EQ(d.Text(2158), u"before the trip");
    d.Click(140);
  });
  CNewOpenDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_EQ(dlg.GetPath().GetFullPath(), CString(u"\\Storage Card\\first.pbf"));
  EXPECT_EQ(dlg.GetPath().GetLocationKind(), DWORD{kLocationLocal});
}

TEST_F(FileDialogTest, ATapBesideTheRowsTakesTheChoiceBackAndADoubleTapOpens) {
  ASSERT_TRUE(MakeImage(u"\\Storage Card\\only.pbf", u"the one"));
  Automation a;
  a.OnDialog(kOpen, [](Dialog& d) {
    d.TapItem(kList, 0);
    EXPECT_TRUE(d.IsEnabled(140));
    // A tap below the last row hits no row.
    HWND list = d.FindControl(kList);
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = kList;
    click.hdr.code = NM_CLICK;
    click.iItem = -1;
    SendMessageW(d.Hwnd(), WM_NOTIFY, kList, reinterpret_cast<LPARAM>(&click));
    EXPECT_FALSE(d.IsEnabled(140));
    EXPECT_EQ(d.Text(2158), u"");
    d.DoubleTapItem(kList, 0);
  });
  CNewOpenDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_EQ(dlg.GetPath().GetFullPath(), CString(u"\\Storage Card\\only.pbf"));
}

// A self-restoring program carries its image at its end; a file that only
// looks like one (a marker in its last 80 bytes, no image tail) is no
// choice at all.
TEST_F(FileDialogTest, ExeImagesAreReadThroughTheirTail) {
  ASSERT_TRUE(MakeImage(u"\\Storage Card\\image.pbf", u"inside a program"));
  dev_.PutFile(u"\\Storage Card\\restore.exe", dev_.ReadFile(u"\\Storage Card\\image.pbf"));
  std::string fake(160, '\0');
  fake.replace(80, ImageFormat::kMarkerLength, ImageFormat::kMarker, ImageFormat::kMarkerLength);
  fake[80 + ImageFormat::kMarkerLength] = 1;  // a metadata header where the tail belongs
  dev_.PutFile(u"\\Storage Card\\other.exe", fake);
  Automation a;
  a.OnDialog(kOpen, [](Dialog& d) {
    d.TapItem(kList, d.FindItem(kList, u"restore.exe"));
    EXPECT_EQ(d.Text(2158), u"inside a program");
    d.TapItem(kList, d.FindItem(kList, u"other.exe"));
    EXPECT_EQ(d.Text(2158), u"");
    d.Click(140);
  });
  CNewOpenDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);  // the choice was emptied
  ExpectClean(a);
  EXPECT_TRUE(dlg.GetPath().IsEmpty());
  EXPECT_GE(Count(LogText(), "Error moving filepointer! Exe does not contain a backup"), 1) << LogText();
}

// The desktop host as the place: its backup folder's files with "PC" as
// their folder; the choice is the bare name, on the host.
TEST_F(FileDialogTest, DesktopHostPlaceListsTheHostFolder) {
  static const bool started = [] {
    ce::ws::WSADATA data{};
    return ce::ws::WSAStartup(0x0101, &data) == 0;
  }();
  ASSERT_TRUE(started);
  hosttest::HostServiceProcess host;
  ASSERT_TRUE(host.Started()) << "hostservice not built or did not start";
  ASSERT_TRUE(MakeImage(u"\\Storage Card\\made.pbf", u"made here"));
  {
    std::ofstream out(host.folder() / "On the PC.pbf", std::ios::binary);
    out << dev_.ReadFile(u"\\Storage Card\\made.pbf");
  }
  global_.g_RemoteOptions.SetRemoteEnabled(true);
  global_.g_RemoteOptions.SetHostName(u"127.0.0.1");
  global_.g_RemoteOptions.SetUseDefaultPort(false);
  global_.g_RemoteOptions.SetPort(host.port());
  Automation a;
  a.OnDialog(kOpen, [](Dialog& d) {
    EXPECT_TRUE(d.IsVisible(2209));
    EXPECT_NE(d.FindItem(kList, u"made.pbf"), -1);
    d.Select(2209, 1);
    EXPECT_EQ(Rows(d), u"On the PC.pbf|PC\n");
    d.TapItem(kList, 0);
    EXPECT_EQ(d.Text(2158), u"");  // nothing is read from the host
    d.Click(140);
  });
  CNewOpenDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_EQ(dlg.GetPath().GetFullPath(), CString(u"On the PC.pbf"));
  EXPECT_EQ(dlg.GetPath().GetLocationKind(), DWORD{kLocationRemoteHost});
  EXPECT_EQ(AHostConnection::GetProcessConnection(), nullptr);
}

// ------------------------------------------------------------ save dialog

ABackupFilePath PathOf(const CString& text) {
  ABackupFilePath path;
  path.Set(text, false);
  return path;
}

TEST_F(FileDialogTest, SavePlacesAndFoldersFollowTheDevice) {
  dev_.MakeDir(u"\\Storage Card\\Backups\\Old");
  dev_.MakeDir(u"\\Storage Card\\Music");
  dev_.MakeDir(u"\\Storage Card\\Hidden");
  SetHidden(u"\\Storage Card\\Hidden", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
  dev_.MakeDir(u"\\My Documents\\Personal");
  Automation a;
  a.OnDialog(kSave, [](Dialog& d) {
    HWND places = d.FindControl(2105);
    std::u16string all;
    for (int i = 0; i < static_cast<int>(SendMessageW(places, CB_GETCOUNT, 0, 0)); ++i) {
      WCHAR text[64] = {};
      SendMessageW(places, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      all += std::u16string(text) + u"|";
    }
    // Storage cards (and the network folder), then the documents, then the host.
    EXPECT_NE(all.find(u"Storage Card|"), std::u16string::npos) << ce::ToUtf8(all);
    EXPECT_NE(all.find(u"My Documents|" + Res(65257) + u"|"), std::u16string::npos) << ce::ToUtf8(all);
    EXPECT_EQ(d.Text(2105), u"Storage Card");  // the path's own place
    EXPECT_EQ(d.Text(2103), u"Backups");       // and folder
    EXPECT_EQ(d.Text(2098), u"weekly");
    EXPECT_EQ(d.Text(2158), u"keep this");
    d.Select(2103, 0);
    EXPECT_EQ(d.Text(2103), Res(65232));
    d.Select(2105, static_cast<int>(SendMessageW(places, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                 reinterpret_cast<LPARAM>(Res(65257).c_str()))));
    EXPECT_FALSE(d.IsEnabled(2103));
    d.Select(2105, 0);
    EXPECT_TRUE(d.IsEnabled(2103));
    d.Click(IDCANCEL);
  });
  global_.g_Operation.SetAnnotation(u"keep this");
  CNewSaveDlg dlg(PathOf(u"\\Storage Card\\Backups\\weekly.pbf"), true, true, true);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ExpectClean(a);
}

TEST_F(FileDialogTest, SaveBuildsThePathFromPlaceFolderAndName) {
  dev_.MakeDir(u"\\Storage Card\\Backups\\Old");
  struct Case {
    const char16_t* folder;  // the folder entry to choose ("" for the root entry)
    const char16_t* name;
    const char16_t* expected;
  } cases[] = {
      {u"", u"plain", u"\\Storage Card\\plain.pbf"},
      {u"Backups", u"  spaced  ", u"\\Storage Card\\Backups\\spaced.pbf"},
  };
  for (const Case& c : cases) {
    Automation a;
    a.OnDialog(kSave, [&](Dialog& d) {
      HWND folders = d.FindControl(2103);
      const std::u16string entry = *c.folder ? std::u16string(c.folder) : Res(65232);
      d.Select(2103, static_cast<int>(SendMessageW(folders, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                   reinterpret_cast<LPARAM>(entry.c_str()))));
      d.SetText(2098, c.name);
      d.Click(IDOK);
    });
    CNewSaveDlg dlg(PathOf(u"\\Storage Card\\x.pbf"), true, false, false);
    EXPECT_EQ(dlg.DoModal(), IDOK);
    ExpectClean(a);
    EXPECT_EQ(dlg.GetPath().GetFullPath(), CString(c.expected)) << ce::ToUtf8(c.expected);
    EXPECT_EQ(dlg.GetPath().GetLocationKind(), DWORD{kLocationLocal});
  }
}

TEST_F(FileDialogTest, SaveNameRulesAndTheStoredAnnotation) {
  Automation a;
  a.OnDialog(kSave, [](Dialog& d) {
    EXPECT_EQ(d.Text(2158), Res(65247));
    d.Focus(2158);
    EXPECT_EQ(d.Text(2158), u"");
    d.Focus(2098);
    EXPECT_EQ(d.Text(2158), Res(65247));
    d.SetText(2158, std::u16string(300, u'a'));
    d.SetText(2098, u" :*?<>| ");
    d.Click(IDOK);
  });
  a.ExpectBox(65321, IDOK);
  CNewSaveDlg dlg(PathOf(u"\\Storage Card\\x.pbf"), true, false, true);
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_EQ(dlg.GetPath().GetFullPath(), CString(u"\\Storage Card\\") + Res(57662) + u".pbf");
  EXPECT_EQ(global_.g_Operation.GetAnnotation(), CString(std::u16string(255, u'a')));
  EXPECT_EQ(a.Boxes().front().request.style & MB_ICONMASK, MB_ICONINFORMATION);
}

TEST_F(FileDialogTest, SaveToTheHostHasNoFolder) {
  Automation a;
  a.OnDialog(kSave, [](Dialog& d) {
    EXPECT_EQ(d.Text(2105), Res(65257));  // the path is on the host
    EXPECT_FALSE(d.IsEnabled(2098));      // the name is not editable
    EXPECT_FALSE(d.IsVisible(2158));
    d.Click(IDOK);
  });
  ABackupFilePath onHost = PathOf(u"host.pbf");
  onHost.SetLocationKind(kLocationRemoteHost);
  CNewSaveDlg dlg(onHost, false, true, false);
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_EQ(dlg.GetPath().GetFullPath(), CString(u"host.pbf"));
  EXPECT_EQ(dlg.GetPath().GetLocationKind(), DWORD{kLocationRemoteHost});
  // Not shown, the annotation still becomes the placeholder.
  EXPECT_EQ(global_.g_Operation.GetAnnotation(), CString(Res(65247)));
}

TEST_F(FileDialogTest, NoPlaceToSaveClosesAtOnceWithAnEmptyPath) {
  ce::Profile p = dev_.device()->GetProfile();
  p.cards.clear();
  ASSERT_TRUE(dev_.device()->SaveProfile(p));
  SetConfigDWORD(u"AllowBackupToMainMemory", 0);
  Automation a;
  a.ExpectBoxText(Localizer::FormatResString(65326, GetApplicationName()).str(), IDOK);
  CNewSaveDlg dlg(PathOf(u"\\Storage Card\\x.pbf"), true, false, true);
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ExpectClean(a);
  EXPECT_TRUE(dlg.GetPath().IsEmpty());
}

}  // namespace

namespace {

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}
bool Overlap(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Turned to landscape, the open dialog keeps every control on the screen
// and apart: the buttons move to the right edge, the list keeps its room.
TEST_F(FileDialogTest, OpenDialogLaysItselfOutAgainWhenTheScreenTurns) {
  Automation a;
  a.OnDialog(kOpen, [this](Dialog& d) {
    Rotate(d.Hwnd());
    RECT dialog{};
    GetWindowRect(d.Hwnd(), &dialog);
    EXPECT_EQ(dialog.right - dialog.left, 320);
    for (int id : {2128, 2106, 2101, 2158, 140, 2})
      EXPECT_TRUE(Inside(d.Rect(id), dialog)) << "control " << id;
    for (int id : {2106, 2158})
      for (int button : {140, 2}) EXPECT_FALSE(Overlap(d.Rect(id), d.Rect(button))) << id << " and " << button;
    EXPECT_GT(d.Rect(140).left, d.Rect(2106).right);  // beside the list
    EXPECT_GT(d.Rect(2106).bottom - d.Rect(2106).top, 100);
    d.Click(IDCANCEL);
  });
  CNewOpenDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ExpectClean(a);
}

}  // namespace
