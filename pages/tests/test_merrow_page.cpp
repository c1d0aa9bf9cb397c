// The battery monitor settings driven as a user would: what it shows at the
// start, the threshold's range, the location rules and what OK leaves in
// Merrow's key, the "Merrow" option set and a running Merrow.
#include <filesystem>
#include <string>

#include "ce/file.h"
#include "ce/process.h"
#include "ce/time.h"
#include "ce/window.h"
#include "option_fixture.h"
#include "pages/MerrowPage.h"
#include "scheduling/NotifyFormat.h"

namespace {

using namespace optiontest;
namespace fs = std::filesystem;

constexpr int kDlg = CMerrowPage::IDD;
constexpr LPCWSTR kMerrow = MerrowNames::kKey;
constexpr LPCWSTR kUnattendedMerrow = u"Merrow";  // the option set shares the key name

class MerrowPageTest : public OptionDialogTest {
 protected:
  MerrowPageTest() { dev_.MakeDir(u"\\My Documents"); }
  ~MerrowPageTest() override {
    if (merrow_) {
      if (WaitForSingleObject(merrow_, 0) != WAIT_OBJECT_0) TerminateProcess(merrow_, 1);
      CloseHandle(merrow_);
    }
  }
  // The battery program running with its Startup shortcut: "set up".
  void StartMerrow() {
    const fs::path host = dev_.Host(u"\\Windows\\Merrow.exe");
    fs::create_directories(host.parent_path());
    fs::copy_file(fs::path(QUILMO_BIN_DIR) / "Merrow", host, fs::copy_options::overwrite_existing);
    dev_.MakeDir(u"\\Windows\\StartUp");
    dev_.PutFile(u"\\Windows\\StartUp\\Merrow.lnk", "21#\\Windows\\Merrow.exe");
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(u"\\Windows\\Merrow.exe", u"", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                               &pi));
    CloseHandle(pi.hThread);
    merrow_ = pi.hProcess;
    for (int i = 0; i < 500 && !FindWindowW(u"MerrowWindow", nullptr); ++i) Sleep(10);
    ASSERT_NE(FindWindowW(u"MerrowWindow", nullptr), nullptr);
  }
  // Merrow's log once it holds `part` (waits up to 5 s of host time).
  std::string MerrowLogWith(const std::string& part) const {
    std::string text;
    for (int i = 0; i < 500; ++i) {
      if (fs::exists(dev_.Host(u"\\Windows\\Merrow.log"))) text = dev_.ReadFile(u"\\Windows\\Merrow.log");
      if (text.find(part) != std::string::npos) break;
      Sleep(10);
    }
    return text;
  }

  HANDLE merrow_ = nullptr;
};

TEST_F(MerrowPageTest, OffAtFirstWithTheDocumentsFolderAsLocationAndTheGroupDisabled) {
  global_.g_BackupOptions.SetOptionOn(kOptionAppendDate, false);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2020), u"Watch the battery level");
    EXPECT_EQ(d.Text(2028), u"30");
    EXPECT_EQ(d.Text(2094), u"\\My Documents\\Backup.pbf");
    EXPECT_EQ(d.Text(2056), u"Back up automatically");
    for (int id : {2056, 2067, 2028, 2029, 2042, 2000, 2039, 2094}) EXPECT_FALSE(d.IsEnabled(id)) << id;
    EXPECT_TRUE(d.IsEnabled(IDOK));
    d.SetCheck(2020, BST_CHECKED);
    for (int id : {2056, 2067, 2028, 2029, 2042, 2000, 2039, 2094}) EXPECT_TRUE(d.IsEnabled(id)) << id;
    d.Select(2056, 1);  // only warn: the location goes grey
    for (int id : {2000, 2039, 2094}) EXPECT_FALSE(d.IsEnabled(id)) << id;
    EXPECT_TRUE(d.IsEnabled(2028));
    d.Click(IDCANCEL);
  });
  CMerrowPage dlg;
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
  EXPECT_EQ(Dword(u"bEnabled", kMerrow), -1) << "cancel writes nothing";
}

TEST_F(MerrowPageTest, ThresholdOutsideTenToNinetyIsRefusedEvenWhileDisabling) {
  SetDword(MerrowNames::kThreshold, 40, kMerrow);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    d.SetCheck(2020, BST_CHECKED);
    d.SetText(2028, u"9");
    d.Click(IDOK);
  });
  a.ExpectBox(57658, IDOK);
  a.InDialog([](Dialog& d) {
    d.SetText(2028, u"91");
    d.SetCheck(2020, BST_UNCHECKED);  // disabling does not lift the check
    EXPECT_FALSE(d.IsEnabled(2028));
    d.Click(IDOK);
  });
  a.ExpectBox(57658, IDOK);
  a.InDialog([](Dialog& d) {
    d.SetCheck(2020, BST_CHECKED);
    d.SetText(2028, u"90");
    d.SetCheck(2020, BST_UNCHECKED);
    d.Click(IDOK);
  });
  CMerrowPage dlg;
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(Dword(MerrowNames::kThreshold, kMerrow), 40) << "disabling keeps the stored threshold";
  EXPECT_EQ(Dword(MerrowNames::kEnabled, kMerrow), 0);
  EXPECT_NE(LogText().find("Disabling Merrow"), std::string::npos);
  EXPECT_EQ(Dword(u"dwUnattendedOptions", kUnattendedMerrow), -1) << "disabling stores no option set";
}

TEST_F(MerrowPageTest, EnablingStoresThresholdChoiceAndALocalOptionSetAndRunningMerrowRereads) {
  StartMerrow();
  SetDword(MerrowNames::kThreshold, 30, kMerrow);
  SetDword(MerrowNames::kAutoBackup, 0, kMerrow);
  SetDword(MerrowNames::kEnabled, 1, kMerrow);
  // The stored set asks for the host and the host link is on: the battery
  // backup still stays on the device.
  global_.g_RemoteOptions.SetRemoteEnabled(true);
  SetDword(u"dwUnattendedOptions", 0x2CF, kUnattendedMerrow);
  SetText(u"csUnattendedFilename", u"\\temp\\Battery.pbf", kUnattendedMerrow);
  SetDword(u"bScheduledReset", 0, kUnattendedMerrow);
  SetDword(u"bRemoteMode", 1, kUnattendedMerrow);
  global_.g_BackupOptions.SetOptionOn(kOptionAppendDate, false);
  global_.g_BackupOptions.SetOptionOn(kOptionExcludePrograms, true);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.IsEnabled(2028), true) << "Merrow is set up: the page opens enabled";
    EXPECT_EQ(d.Text(2056), u"Only warn");
    EXPECT_EQ(d.Text(2094), u"\\temp\\Battery.pbf");
    d.SetText(2028, u"45");
    d.Select(2056, 0);
    d.Click(IDOK);
  });
  CMerrowPage dlg;
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(Dword(MerrowNames::kThreshold, kMerrow), 45);
  EXPECT_EQ(Dword(MerrowNames::kAutoBackup, kMerrow), 1);
  EXPECT_EQ(Dword(MerrowNames::kEnabled, kMerrow), 1);
  EXPECT_EQ(Dword(u"dwUnattendedOptions", kUnattendedMerrow), global_.g_BackupOptions.PackOptions());
  EXPECT_EQ(Text(u"csUnattendedFilename", kUnattendedMerrow), "\\temp\\Battery.pbf");
  EXPECT_EQ(Dword(u"bRemoteMode", kUnattendedMerrow), 0);
  EXPECT_EQ(Dword(u"bScheduledReset", kUnattendedMerrow), 0);
  EXPECT_TRUE(dlg.m_bRemote) << "the stored set's host wish is seen, and not kept";
  const std::string log = MerrowLogWith("threshold 45%");
  EXPECT_NE(log.find("settings: threshold 45%, auto backup on"), std::string::npos) << log;
}

TEST_F(MerrowPageTest, WithoutAnyLocationOkWaitsForBrowseAndAnEmptyLocationIsRefused) {
  // No documents folder and no card: nowhere to back up.
  fs::remove_all(dev_.Host(u"\\My Documents"));
  SetConfigDWORD(u"AllowBackupToMainMemory", 0);
  int browsed = 0;
  OptionSeams::SetSaveDialogRunner([&](ABackupFilePath& path, bool nameEditable, bool host, bool note, CWnd*) {
    ++browsed;
    EXPECT_FALSE(host);
    EXPECT_FALSE(note);
    EXPECT_FALSE(nameEditable) << "the date suffix option is on by default";
    path.Set(u"\\temp\\Chosen.pbf", false);
    return static_cast<INT_PTR>(IDOK);
  });
  Automation a;
  a.ExpectBoxText(u"let Quilmo Backup back up", IDOK);  // 65326 with the name
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_FALSE(d.IsEnabled(IDOK));
    EXPECT_EQ(d.Text(2094), u"");
    d.SetCheck(2020, BST_CHECKED);
    d.Select(2056, 1);  // only warn: browse is grey, yet OK needs a location
    EXPECT_FALSE(d.IsEnabled(2000));
    // The title bar's OK sends IDOK whatever the button's state.
    SendMessageW(d.Hwnd(), WM_COMMAND, IDOK, 0);
  });
  a.ExpectBox(65018, IDOK);
  a.InDialog([](Dialog& d) {
    d.Select(2056, 0);
    d.Click(2000);
    EXPECT_TRUE(d.IsEnabled(IDOK));
    EXPECT_EQ(d.Text(2094), u"\\temp\\Chosen.pbf");
    d.Click(IDCANCEL);
  });
  CMerrowPage dlg;
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
  EXPECT_EQ(browsed, 1);
  ASSERT_GE(a.Boxes().size(), 2u);
  EXPECT_EQ(a.Boxes()[1].request.style & MB_ICONMASK, MB_ICONSTOP);
  EXPECT_EQ(Dword(u"dwUnattendedOptions", kUnattendedMerrow), -1);
}

}  // namespace
