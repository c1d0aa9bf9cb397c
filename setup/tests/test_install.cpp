// Installing and removing the product through the device's package
// installer and the product's setup library.
#include "setup/tests/install_fixture.h"

#include "ce/process.h"
#include "ce/time.h"
#include "cesim/device.h"

namespace setup_test {
namespace {

const std::u16string kResLib = u"\\Windows\\QuilmoRes.dll";
const std::u16string kMerrowLink = u"\\Windows\\StartUp\\Merrow.lnk";
const std::string kConfigBox = "There was a problem configuring Quilmo Backup, defaults will be used. Error: ";

TEST_F(InstallTest, ProductInstallSeedsConfigRecordsThePathAndPicksTheScreensLibrary) {
  Create();
  Write(kMerrowLink, "22#QuilmoStart.exe /run x");
  CommandResult r = Install();
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(r.output, "install: done")) << r.output;

  EXPECT_EQ(RegString(kConfigKey, u"VendorName"), u"Quilmo Software");
  EXPECT_EQ(RegDword(kConfigKey, u"EnableLogging"), 1u);
  EXPECT_EQ(RegString(kSharedKey, u"csBackupEXEPath"), kInstallFolder + u"\\Quilmo Backup.exe");
  EXPECT_EQ(RegDword(kSharedKey, u"bReportFileExists"), 0u);
  // The sample device has a QVGA screen.
  EXPECT_EQ(Read(kResLib), Read(u"\\Windows\\QuilmoResQVGA.dll"));
  EXPECT_TRUE(Has(DebugLog(), "Brenwick: copied \\Windows\\QuilmoResQVGA.dll to \\Windows\\QuilmoRes.dll"));
  EXPECT_FALSE(Exists(kInstallFolder + u"\\Brenwick.exe"));
  EXPECT_FALSE(Exists(kMerrowLink));
  EXPECT_TRUE(Exists(kInstallFolder + u"\\Quilmo Backup.exe"));
  EXPECT_TRUE(Exists(u"\\Windows\\QuilmoCESetup.dll"));
  EXPECT_TRUE(Exists(u"\\Windows\\Start Menu\\Programs\\Quilmo Backup.lnk"));
  EXPECT_TRUE(Exists(u"\\Windows\\AppMgr\\Quilmo Backup\\installed.txt"));
  EXPECT_EQ(ScreenLog().find("Quilmo Backup Install"), std::string::npos) << ScreenLog();
}

TEST_F(InstallTest, PopupAndViewerLieBesideTheMainProgramAndTheViewerInWindowsToo) {
  Create();
  CommandResult r = Install();
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Exists(kInstallFolder + u"\\Halvey.exe"));
  EXPECT_TRUE(Exists(kInstallFolder + u"\\Ombric.exe"));
  // The popup starts the viewer by bare name: the device looks in \Windows.
  EXPECT_TRUE(Exists(u"\\Windows\\Ombric.exe"));
  // A popup in \Windows would be found first by the starter's search and
  // look for the main program there.
  EXPECT_FALSE(Exists(u"\\Windows\\Halvey.exe"));

  r = Uninstall();
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(Exists(kInstallFolder + u"\\Halvey.exe"));
  EXPECT_FALSE(Exists(u"\\Windows\\Ombric.exe"));
}

TEST_F(InstallTest, NonPocketPcDeviceRefusesWithTheBoxAndKeepsNothing) {
  Create("Smartphone");
  CommandResult r = Install();
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r.output, "install: cancelled by the setup library")) << r.output;
  const std::string log = ScreenLog();
  EXPECT_TRUE(Has(log, "[Quilmo Backup Install] This program is intended for Pocket PCs.  Installation cannot "
                       "continue."))
      << log;
  EXPECT_FALSE(Exists(kInstallFolder));
  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoCESetup.dll"));
  EXPECT_FALSE(Exists(u"\\Windows\\AppMgr\\Quilmo Backup"));
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(KeyExists(kSharedKey));
}

TEST_F(InstallTest, MissingOrMalformedConfigurationShowsTheBoxAndInstallsWithDefaults) {
  Create();
  // A VGA screen gets the VGA candidate.
  ASSERT_TRUE(ce::Device::Current()->UpdateProfile([](ce::Profile& p) {
    p.screenWidth = 480;
    p.screenHeight = 640;
  }));
  const fs::path missing = CopyPackage("QuilmoBackup");
  fs::remove(missing / "quilmobackup.xml");
  EditManifest(missing, "quilmobackup.xml", "");
  CommandResult r = Install(missing);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Has(ScreenLog(), "[Quilmo Backup Install] " + kConfigBox)) << ScreenLog();
  EXPECT_FALSE(RegString(kConfigKey, u"VendorName").has_value());
  EXPECT_EQ(RegString(kSharedKey, u"csBackupEXEPath"), kInstallFolder + u"\\Quilmo Backup.exe");
  EXPECT_TRUE(Has(DebugLog(), "Brenwick: copied \\Windows\\QuilmoResVGA.dll to \\Windows\\QuilmoRes.dll"));

  // A malformed file leaves the Config key that was there before.
  SetRegString(kConfigKey, u"VendorName", u"Earlier");
  const fs::path malformed = root_ / "malformed";
  fs::copy(BuiltPackage("QuilmoBackup"), malformed, fs::copy_options::recursive);
  std::ofstream(malformed / "quilmobackup.xml", std::ios::trunc) << "<configuration><config name=\"A\" type=";
  r = Install(malformed);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(RegString(kConfigKey, u"VendorName"), u"Earlier");
  const std::string log = ScreenLog();
  const size_t first = log.find(kConfigBox);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_NE(log.find(kConfigBox, first + 1), std::string::npos) << log;
}

TEST_F(InstallTest, DetectorFailureUndoesTheWholeInstall) {
  Create();
  // The detector cannot write over a read-only library.
  Write(kResLib, "earlier library");
  ASSERT_TRUE(SetFileAttributesW(kResLib.c_str(), FILE_ATTRIBUTE_READONLY));
  Write(kMerrowLink, "22#QuilmoStart.exe /run x");
  SetRegString(kConfigKey, u"VendorName", u"Earlier");
  SetRegString(kSharedKey, u"csBackupEXEPath", u"\\Storage Card\\Quilmo Backup.exe");

  CommandResult r = Install();
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(Has(r.output, "install: undone at the setup library's request")) << r.output;
  EXPECT_TRUE(Has(ScreenLog(), "[Quilmo Backup Install] Failed to replace resources. Please re-install")) << ScreenLog();

  EXPECT_EQ(Read(kResLib), "earlier library");
  EXPECT_EQ(GetFileAttributesW(kResLib.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Read(kMerrowLink), "22#QuilmoStart.exe /run x");
  EXPECT_EQ(RegString(kConfigKey, u"VendorName"), u"Earlier");
  EXPECT_FALSE(RegString(kConfigKey, u"EnableLogging").has_value());
  EXPECT_EQ(RegString(kSharedKey, u"csBackupEXEPath"), u"\\Storage Card\\Quilmo Backup.exe");
  EXPECT_FALSE(RegDword(kSharedKey, u"bReportFileExists").has_value());
  EXPECT_FALSE(Exists(kInstallFolder));
  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoCESetup.dll"));
  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoResQVGA.dll"));
  EXPECT_FALSE(Exists(u"\\Windows\\Start Menu\\Programs\\Quilmo Backup.lnk"));
  EXPECT_FALSE(Exists(u"\\Windows\\AppMgr\\Quilmo Backup"));
}

TEST_F(InstallTest, UninstallQuitsMerrowAndRemovesTheProductButNotTheUsersFiles) {
  Create();
  ASSERT_EQ(Install().status, 0);
  // The starter is not built yet: a file of its name stands for it.
  Write(u"\\Windows\\QuilmoStart.exe", "starter");
  Write(u"\\My Documents\\Backup.pbf", "an image");
  Write(kInstallFolder + u"\\History.txt", "the user's history");
  // Merrow: a program that ends on the quit message.
  fs::copy_file(fs::path(QUILMO_BIN_DIR) / "closable", dir_ / "closable-host");
  ASSERT_EQ(Cedev("put " + Quote(dir_.string()) + " " + Quote((dir_ / "closable-host").string()) +
                  " '\\Windows\\Merrow.exe'")
                .status,
            0);
  PROCESS_INFORMATION merrow{};
  ASSERT_TRUE(CreateProcessW(u"\\Windows\\Merrow.exe", u"quit-on=QuilmoMerrowQuit", nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, nullptr, &merrow));
  Sleep(500);  // its window is up

  CommandResult r = Uninstall();
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(WaitForSingleObject(merrow.hProcess, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(merrow.hProcess, &code));
  EXPECT_EQ(code, 3u);  // ended by the quit message
  CloseHandle(merrow.hThread);
  CloseHandle(merrow.hProcess);

  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoStart.exe"));
  EXPECT_FALSE(Exists(kResLib));
  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoCESetup.dll"));
  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoResVGA.dll"));
  EXPECT_FALSE(Exists(kInstallFolder + u"\\Quilmo Backup.exe"));
  EXPECT_FALSE(Exists(u"\\Windows\\Start Menu\\Programs\\Quilmo Backup.lnk"));
  EXPECT_FALSE(KeyExists(kProductKey));
  EXPECT_FALSE(KeyExists(kSharedKey));
  EXPECT_FALSE(Exists(u"\\Windows\\AppMgr\\Quilmo Backup"));
  EXPECT_EQ(Read(u"\\My Documents\\Backup.pbf"), "an image");
  EXPECT_EQ(Read(kInstallFolder + u"\\History.txt"), "the user's history");
  EXPECT_TRUE(Has(Uninstall().output, "Quilmo Backup is not installed"));
}

}  // namespace
}  // namespace setup_test
