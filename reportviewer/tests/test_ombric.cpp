// The report viewer: where a report name leads, how a report is read, and
// the dialog from Ombric's own resources (text, error box, fit, help).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ce/file.h"
#include "ce/module.h"
#include "ce/process.h"
#include "ce/system.h"
#include "cesim/device.h"
#include "reportviewer/Ombric.h"
#include "testkit/Closable.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"

namespace {

namespace fs = std::filesystem;
using ui::test::Automation;
using ui::test::Dialog;

constexpr const char16_t* kHistory = u"\\Windows\\Quilmo Backup History";

std::string Utf16(std::u16string_view text) {
  std::string bytes;
  for (char16_t ch : text) {
    bytes.push_back(static_cast<char>(ch & 0xFF));
    bytes.push_back(static_cast<char>(ch >> 8));
  }
  return bytes;
}

std::string Report(std::u16string_view text) { return "\xFF\xFE" + Utf16(text); }

class OmbricTest : public ::testing::Test {
 protected:
  quilmo::test::TestDevice dev_;
};

TEST_F(OmbricTest, NamesLeadIntoTheHistoryFolderUnchangedAndPathsStayAsGiven) {
  CString path;
  EXPECT_FALSE(ResolveReportPath(u"BackupReport.txt", &path));  // no history folder anywhere
  EXPECT_FALSE(ResolveReportPath(u"", &path));
  EXPECT_TRUE(ResolveReportPath(u"\\temp\\x", &path));
  EXPECT_EQ(path, CString(u"\\temp\\x"));

  dev_.MakeDir(kHistory);
  ASSERT_TRUE(ResolveReportPath(u"", &path));
  EXPECT_EQ(path, CString(u"\\Windows\\Quilmo Backup History\\backupreport.txt"));
  ASSERT_TRUE(ResolveReportPath(u"BackupReport3", &path));
  EXPECT_EQ(path, CString(u"\\Windows\\Quilmo Backup History\\BackupReport3"));
  ASSERT_TRUE(ResolveReportPath(u"\\Storage Card\\r", &path));
  EXPECT_EQ(path, CString(u"\\Storage Card\\r"));
}

TEST_F(OmbricTest, ReadsAfterTheByteOrderMarkInBlocksOf2048Bytes) {
  auto blocks = [](const CString& path) {
    std::vector<CString> out;
    EXPECT_TRUE(ReadReportBlocks(path, [&](const CString& t) { out.push_back(t); }));
    return out;
  };
  const std::u16string exact(1024, u'a');  // 2048 bytes after the mark
  dev_.PutFile(u"\\temp\\exact.txt", Report(exact));
  const auto one = blocks(u"\\temp\\exact.txt");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0], CString(exact));

  std::u16string longer = exact + u"bc";
  dev_.PutFile(u"\\temp\\longer.txt", Report(longer) + "\x7A");  // an odd last byte
  const auto two = blocks(u"\\temp\\longer.txt");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1], CString(u"bc"));

  dev_.PutFile(u"\\temp\\mark.txt", "\xFF\xFE");
  EXPECT_TRUE(blocks(u"\\temp\\mark.txt").empty());
  EXPECT_FALSE(ReadReportBlocks(u"\\temp\\none.txt", [](const CString&) {}));
}

// The dialog needs Ombric's own resources: the built program, loaded as
// data and made the resource module.
class OmbricDialogTest : public OmbricTest {
 protected:
  void SetUp() override {
    const fs::path built = fs::path(QUILMO_BIN_DIR) / "Ombric";
    ASSERT_TRUE(fs::exists(built)) << built << " is not built";
    std::ifstream in(built, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    dev_.PutFile(u"\\Windows\\Ombric.exe", bytes);
    module_ = LoadLibraryExW(u"\\Windows\\Ombric.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr);
    ce::SetResourceModule(module_);
  }
  void TearDown() override {
    ce::SetResourceModule(nullptr);
    if (module_) FreeLibrary(module_);
  }
  static RECT WorkArea() {
    RECT r{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    return r;
  }
  HMODULE module_ = nullptr;
};

TEST_F(OmbricDialogTest, ShowsTheReportWithoutItsMarkFittedToTheWorkArea) {
  dev_.PutFile(u"\\temp\\r.txt", Report(u"Backup finished\r\nNo errors"));
  COmbricDlg dlg(u"\\temp\\r.txt");
  Automation a;
  std::u16string shown, title;
  RECT dialogRect{}, editRect{};
  DWORD styleAfterChange = WS_VSCROLL;
  a.OnDialog(102, [&](Dialog& d) {
    shown = d.Text(129);
    title.resize(64);
    title.resize(static_cast<size_t>(GetWindowTextW(d.Hwnd(), title.data(), 64)));
    GetWindowRect(d.Hwnd(), &dialogRect);
    editRect = d.Rect(129);
    // A rotation refits the dialog and drops its vertical scroll style.
    SetWindowLongW(d.Hwnd(), GWL_STYLE, GetWindowLongW(d.Hwnd(), GWL_STYLE) | WS_VSCROLL);
    SendMessageW(d.Hwnd(), WM_SETTINGCHANGE, 0, 0);
    styleAfterChange = static_cast<DWORD>(GetWindowLongW(d.Hwnd(), GWL_STYLE));
    d.Click(IDOK);
  });
  dlg.DoModal();
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(shown, u"Backup finished\r\nNo errors");
  EXPECT_EQ(title, u"Quilmo Backup");
  const RECT work = WorkArea();
  EXPECT_EQ(dialogRect.left, work.left);
  EXPECT_EQ(dialogRect.top, work.top);
  EXPECT_EQ(dialogRect.right - dialogRect.left, work.right - work.left);
  EXPECT_EQ(dialogRect.bottom - dialogRect.top, work.bottom - 2 * work.top);
  EXPECT_EQ(editRect.left, dialogRect.left);
  EXPECT_EQ(editRect.right - editRect.left, work.right);
  EXPECT_EQ(styleAfterChange & WS_VSCROLL, 0u);
}

TEST_F(OmbricDialogTest, AReportThatDoesNotOpenLeavesTheDialogEmptyAfterItsBox) {
  COmbricDlg dlg(u"\\temp\\gone.txt");
  Automation a;
  std::u16string shown = u"?";
  a.ExpectBoxText(u"Ombric: Error opening report file - \\temp\\gone.txt", IDOK);
  a.OnDialog(102, [&](Dialog& d) {
    shown = d.Text(129);
    d.Click(IDOK);
  });
  dlg.DoModal();
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(shown, u"");
}

TEST_F(OmbricDialogTest, HelpStartsTheViewerOnTheReportTopic) {
  COmbricDlg dlg(u"\\temp\\r.txt");
  EXPECT_FALSE(dlg.OnHelp());  // no viewer on the device
  quilmo::test::InstallClosable(dev_, u"\\Windows\\peghelp.exe");
  ASSERT_TRUE(dlg.OnHelp());
  const std::vector<std::u16string> lines = quilmo::test::StartedAs(dev_, "peghelp.exe");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], u"\\Windows\\QuilmoBackup.htm#report");
}

}  // namespace
