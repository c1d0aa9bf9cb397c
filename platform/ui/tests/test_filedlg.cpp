// The platform's file open and save dialogs, answered by automation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/commdlg.h"
#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/msgbox.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"

namespace {

using ui::test::Automation;
using ui::test::Dialog;

std::vector<std::u16string> Rows(Dialog& d) {
  HWND list = d.FindControl(ce::kFileList);
  std::vector<std::u16string> rows;
  const int n = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    WCHAR buf[MAX_PATH] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
    rows.push_back(buf);
  }
  return rows;
}

class FileDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device.PutFile(u"\\My Documents\\Backup.sbu", "x");
    device.PutFile(u"\\My Documents\\notes.txt", "x");
    device.MakeDir(u"\\My Documents\\Older");
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFilter = u"Backup data (*.sbu)\0*.sbu;*.SBX\0All files\0*.*\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = u"sbu";
  }
  std::u16string Chosen() const { return file; }
  quilmo::test::TestDevice device;
  WCHAR file[MAX_PATH] = {};
  OPENFILENAMEW ofn{};
};

TEST_F(FileDialogTest, OpenListsTheFolderByFilterAndReturnsTheChosenFile) {
  Automation a;
  a.OnDialog(ce::kOpenFileDialogId, [](Dialog& d) {
    EXPECT_EQ(d.Text(ce::kFileFolderLabel), u"\\My Documents");
    EXPECT_EQ(Rows(d), (std::vector<std::u16string>{u"[..]", u"[Older]", u"Backup.sbu"}));
    EXPECT_TRUE(d.Select(ce::kFileTypeCombo, 1));
    EXPECT_EQ(Rows(d), (std::vector<std::u16string>{u"[..]", u"[Older]", u"Backup.sbu", u"notes.txt"}));
    EXPECT_TRUE(d.Select(ce::kFileList, 2));
    EXPECT_EQ(d.Text(ce::kFileNameEdit), u"Backup.sbu");
    d.Click(IDOK);
  });
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  ASSERT_TRUE(GetOpenFileNameW(&ofn));
  EXPECT_TRUE(a.Failures().empty());
  EXPECT_EQ(Chosen(), u"\\My Documents\\Backup.sbu");
  EXPECT_EQ(ofn.nFileOffset, 14);
  EXPECT_EQ(ofn.nFileExtension, 21);
  EXPECT_EQ(ofn.nFilterIndex, 2u);
  EXPECT_EQ(CommDlgExtendedError(), 0u);
}

TEST_F(FileDialogTest, OpenKeepsAskingForAMissingFileAndCancelChoosesNothing) {
  Automation a;
  a.OnDialog(ce::kOpenFileDialogId, [](Dialog& d) {
    d.SetText(ce::kFileNameEdit, u"gone");  // "gone.sbu" does not exist
    d.Click(IDOK);
    EXPECT_EQ(d.Text(ce::kFileMessage), u"The file does not exist.");
    d.SetText(ce::kFileNameEdit, u"Older");  // a folder opens
    d.Click(IDOK);
    EXPECT_EQ(d.Text(ce::kFileFolderLabel), u"\\My Documents\\Older");
    d.Click(IDCANCEL);
  });
  ofn.Flags = OFN_FILEMUSTEXIST;
  std::u16string before = u"\\My Documents\\keep.sbu";
  std::copy(before.begin(), before.end(), file);
  EXPECT_FALSE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  EXPECT_EQ(Chosen(), before);  // untouched
  EXPECT_TRUE(a.Done());
}

TEST_F(FileDialogTest, SaveAsksBeforeReplacingAndAddsTheDefaultExtension) {
  Automation a;
  a.OnDialog(ce::kSaveFileDialogId, [](Dialog& d) {
    d.SetText(ce::kFileNameEdit, u"backup");  // Backup.sbu exists
    d.Click(IDOK);
  });
  a.ExpectBoxText(u"backup.sbu already exists.", IDNO);
  a.InDialog([](Dialog& d) {
    EXPECT_EQ(d.Text(ce::kFileFolderLabel), u"\\My Documents");  // still open
    d.SetText(ce::kFileNameEdit, u"\\My Documents\\Older\\Fresh");
    d.Click(IDOK);
  });
  ofn.Flags = OFN_OVERWRITEPROMPT;
  ASSERT_TRUE(GetSaveFileNameW(&ofn));
  EXPECT_TRUE(a.Done());
  EXPECT_TRUE(a.Failures().empty());
  EXPECT_EQ(Chosen(), u"\\My Documents\\Older\\Fresh.sbu");
}

TEST_F(FileDialogTest, RefusedRecordsAndShortBuffersAndNoAnswer) {
  OPENFILENAMEW bad = ofn;
  bad.lStructSize = 8;
  EXPECT_FALSE(GetOpenFileNameW(&bad));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
  bad = ofn;
  bad.lpstrFile = nullptr;
  EXPECT_FALSE(GetSaveFileNameW(&bad));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_INITIALIZATION));

  {
    Automation a;
    a.OnDialog(ce::kOpenFileDialogId, [](Dialog& d) {
      d.SetText(ce::kFileNameEdit, u"Backup.sbu");
      d.Click(IDOK);
    });
    ofn.nMaxFile = 10;
    EXPECT_FALSE(GetOpenFileNameW(&ofn));
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
    EXPECT_EQ(file[0], 25);  // the room the path needs
  }
  // Nobody answers a headless dialog: it ends as cancelled, never hangs.
  ofn.nMaxFile = MAX_PATH;
  EXPECT_FALSE(GetSaveFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
}

}  // namespace
