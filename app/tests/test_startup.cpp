// The built "Quilmo Backup.exe" started on scratch devices: its log, its
// registry record and the conditions under which it refuses to start.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/QuilmoApp.h"
#include "ce/boot.h"
#include "ce/errors.h"
#include "ce/msgbox.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "cesim/registry.h"
#include "engine/Global.h"
#include "engine/RebootController.h"
#include "testkit/TestDevice.h"

#include "program_on_device.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kProgram = u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";
constexpr const char16_t* kProgramFolder = u"\\Program Files\\Quilmo Backup\\";
constexpr const char16_t* kSettingsKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings";
constexpr const char16_t* kConfigKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config";
constexpr const char16_t* kSharedKey = u"SOFTWARE\\Quilmo Software\\Shared";
constexpr const char* kResourcesMissingText =
    "The program's resources could not be loaded. Please reinstall the program.";

using quilmo::test::BinFile;

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Windows");
    Copy(BinFile("QuilmoBackup"), kProgram, true);
    opt_.runTimeoutMs = 60000;
  }

  void Copy(const fs::path& from, std::u16string_view devicePath, bool program) {
    quilmo::test::CopyToDevice(dev_, from, devicePath, program);
  }
  // The resource library and the two support programs in a folder ("\Windows\" or the program's).
  void PutSupportFiles(const std::u16string& folder) {
    Copy(BinFile("QuilmoRes.dll"), folder + u"QuilmoRes.dll", false);
    dev_.PutFile(folder + u"QuilmoStart.exe", "starter");
    dev_.PutFile(folder + u"QuilmoInit.exe", "boot actions");
  }

  // Runs the program to its end; its exit code (-1 when it did not end).
  long Run(std::u16string_view commandLine = u"") {
    rep_ = ce::BootReport{};
    bool ok = ce::RunOnDevice(kProgram, commandLine, opt_, &rep_);
    EXPECT_TRUE(ok) << "last error " << GetLastError();
    for (const auto& p : rep_.started)
      if (p.program == kProgram && p.exitCode) return static_cast<long>(*p.exitCode);
    return -1;
  }

  std::string LogText() const { return dev_.ReadFile(u"\\temp\\BackupLog.txt"); }
  // The lines of the log (split at CR LF; empty lines dropped).
  std::vector<std::string> LogLines() const { return quilmo::test::CrLfLines(LogText()); }
  // The first log line that matches the whole pattern, or "".
  std::string FindLine(const std::string& pattern) const {
    std::regex re(pattern);
    for (const auto& line : LogLines())
      if (std::regex_match(line, re)) return line;
    return "";
  }
  bool HasLine(const std::string& pattern) const { return !FindLine(pattern).empty(); }

  static std::vector<ce::ScreenLogEntry> Boxes() { return ce::ReadScreenLog(); }
  static std::string BoxTexts() {
    std::string all;
    for (const auto& b : Boxes()) all += ce::ToUtf8(b.caption) + ": " + ce::ToUtf8(b.text) + "\n";
    return all;
  }

  static bool ReadValue(const char16_t* key, const char16_t* name, DWORD* type, std::u16string* text,
                        DWORD* number) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, 0, &h) != ERROR_SUCCESS) return false;
    BYTE buf[1024] = {};
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExW(h, name, nullptr, type, buf, &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return false;
    if (text) *text = std::u16string(reinterpret_cast<const char16_t*>(buf));
    if (number) *number = size >= 4 ? *reinterpret_cast<const DWORD*>(buf) : 0;
    return true;
  }
  static std::string String(const char16_t* key, const char16_t* name) {
    DWORD type = 0;
    std::u16string text;
    if (!ReadValue(key, name, &type, &text, nullptr)) return "<none>";
    return type == REG_SZ ? ce::ToUtf8(text) : "<not a string>";
  }
  static long Dword(const char16_t* key, const char16_t* name) {
    DWORD type = 0, value = 0;
    if (!ReadValue(key, name, &type, nullptr, &value)) return -1;
    return type == REG_DWORD ? static_cast<long>(value) : -2;
  }
  static void SetDword(const char16_t* key, const char16_t* name, DWORD value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, 0, nullptr, &h, nullptr), ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(h);
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(StartupTest, FreshStartLogsEachStepRecordsTheVersionAndEndsWithCodeZero) {
  PutSupportFiles(u"\\Windows\\");
  ASSERT_EQ(Run(u"LocalBackup \"\\Storage Card\\my backup.pbf\""), 0) << BoxTexts();

  // A fresh log: the footer of the log it replaced, then the start-up text
  // collected before the reboot controller decided (blank line after each
  // entry), then single entries, then the footer.
  const std::string text = LogText();
  EXPECT_EQ(text.rfind("===== Log End =====\r\n==== Log Start ====\r\n\r\n", 0), 0u) << text.substr(0, 200);
  EXPECT_NE(text.find("\r\nRun Path:\\Program Files\\Quilmo Backup\\Quilmo Backup.exe\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nQuilmo Backup.exe : 6.1.0, Build 118\r\n"), std::string::npos) << text.substr(0, 600);
  EXPECT_NE(text.find("L CQuilmoApp "), std::string::npos);
  EXPECT_NE(text.find(" : WSAStartup result: \r\n\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 21), "===== Log End =====\r\n");

  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : WSAStartup result: )"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Getting Hardware and OS Info)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Hardware \(HWInfo\) .*)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Major Version \d+ Minor Version \d+ Build Number \d+ )"
                      R"(Platform ID 3 Additional information : )"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : System Power State: on \(00010000\))"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Default Backup options:  719)"));  // 0x2CF
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Resources loaded)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoCommandLineInfo \d+ : ParseParam:LocalBackup)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoCommandLineInfo \d+ : ParseParam:\\Storage Card\\my backup.pbf bLast = true)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Parsed commandline)"));
  EXPECT_FALSE(HasLine(R"(.*DLL not found.*)"));
  // After the reboot controller's decision entries have single line ends.
  EXPECT_NE(text.find(" : Parsed commandline\r\n===== Log End =====\r\n"), std::string::npos);

  EXPECT_EQ(String(kSettingsKey, u"csVersion"), "6.1.0, Build 118");
  EXPECT_EQ(Dword(kSettingsKey, u"dwMajor"), 6);
  EXPECT_EQ(Dword(kSettingsKey, u"dwMid"), 1);
  EXPECT_EQ(Dword(kSettingsKey, u"dwMinor"), 0);
  EXPECT_EQ(Dword(kSettingsKey, u"bMDMCard"), -1);
  EXPECT_EQ(String(kSharedKey, u"csBackupEXEPath"), ce::ToUtf8(kProgram));
  EXPECT_EQ(Dword(kSettingsKey, u"bCloseAllowed"), -1);  // true already (missing)
  // The only box is the dispatch's: command-line work is not permitted here.
  EXPECT_EQ(BoxTexts(), "Quilmo Backup: Invalid command line parameter\n");
}

TEST_F(StartupTest, WithoutTheResourceLibraryTheBuiltInTextIsShownAndTheFailureLogged) {
  dev_.PutFile(u"\\Windows\\QuilmoStart.exe", "starter");
  dev_.PutFile(u"\\Windows\\QuilmoInit.exe", "boot actions");
  EXPECT_EQ(Run(), 0);

  std::vector<ce::ScreenLogEntry> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u) << BoxTexts();
  EXPECT_EQ(ce::ToUtf8(boxes[0].text), kResourcesMissingText);
  EXPECT_EQ(ce::ToUtf8(boxes[0].caption), "Quilmo Backup");
  EXPECT_EQ(boxes[0].style & MB_ICONMASK, MB_ICONERROR);
  // The bare name was tried through the library search, and what was
  // logged before the failure is in the log.
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : DLL not found in App Path, using standard search locations - )"
                      R"(\\Program Files\\Quilmo Backup\\QuilmoRes\.dll)"))
      << LogText();
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Failed to load resources -?\d+)")) << LogText();
  EXPECT_FALSE(HasLine(R"(.*Parsed commandline.*)"));
  EXPECT_EQ(String(kSettingsKey, u"csVersion"), "<none>");
}

TEST_F(StartupTest, AnUnreadableResourceLibraryIsReportedTwice) {
  dev_.PutFile(u"\\Windows\\QuilmoRes.dll", "not a resource library");
  dev_.PutFile(u"\\Windows\\QuilmoStart.exe", "starter");
  dev_.PutFile(u"\\Windows\\QuilmoInit.exe", "boot actions");
  EXPECT_EQ(Run(), 0);
  std::vector<ce::ScreenLogEntry> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u) << BoxTexts();
  EXPECT_EQ(ce::ToUtf8(boxes[0].text), "Error loading dll");  // its version, before the log opens
  EXPECT_EQ(ce::ToUtf8(boxes[1].text), kResourcesMissingText);
  EXPECT_FALSE(HasLine(R"(.*DLL not found.*)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Failed to load resources -?\d+)")) << LogText();
}

TEST_F(StartupTest, ABadCustomResourceXmlStopsTheStartWithItsMessage) {
  PutSupportFiles(u"\\Windows\\");
  dev_.PutFile(std::u16string(kProgramFolder) + u"customres.xml", "<strings><string id=\"1\" value=\"x\"/></strings>");
  EXPECT_EQ(Run(), 0);

  std::vector<ce::ScreenLogEntry> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u) << BoxTexts();
  EXPECT_EQ(ce::ToUtf8(boxes[0].text), "Contact Quilmo Support - bad resource XML");
  EXPECT_EQ(boxes[0].style & MB_ICONMASK, 0u);  // a plain box, unlike the resource-string errors
  EXPECT_TRUE(HasLine(R"(E CQuilmoApp \d+ : Unable to load custom resource XML)")) << LogText();
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Resources loaded)"));
  EXPECT_FALSE(HasLine(R"(.*Parsed commandline.*)"));
}

TEST_F(StartupTest, AGoodCustomResourceXmlIsTakenAndTheStartGoesOn) {
  PutSupportFiles(u"\\Windows\\");
  dev_.PutFile(std::u16string(kProgramFolder) + u"customres.xml",
               "<resources><string id=\"134\" value=\"overridden\"/></resources>");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), "");
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Parsed commandline)"));
}

TEST_F(StartupTest, WhileTheStressToolRunsTheProgramQuitsSilentlyAfterItsRecord) {
  PutSupportFiles(u"\\Windows\\");
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Hopper", 0, nullptr, 0, 0, nullptr, &h,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(BoxTexts(), "");
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Not OK to start - spider testing underway)")) << LogText();
  EXPECT_FALSE(HasLine(R"(.*Parsed commandline.*)"));
  EXPECT_EQ(Dword(kSettingsKey, u"dwMajor"), 6);
}

TEST_F(StartupTest, TheRunThatInstallsTheSupportFilesWritesNoRecordTheNextOneDoes) {
  PutSupportFiles(kProgramFolder);
  EXPECT_EQ(Run(), 0) << BoxTexts();
  EXPECT_TRUE(fs::exists(dev_.Host(u"\\Windows\\QuilmoRes.dll")));
  EXPECT_TRUE(fs::exists(dev_.Host(u"\\Windows\\QuilmoStart.exe")));
  EXPECT_TRUE(fs::exists(dev_.Host(u"\\Windows\\QuilmoInit.exe")));
  EXPECT_EQ(String(kSettingsKey, u"csVersion"), "<none>");
  EXPECT_EQ(String(kSharedKey, u"csBackupEXEPath"), "<none>");
  // The library was found through the search, in the program's folder.
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : DLL not found in App Path.*)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Resources loaded)"));
  EXPECT_EQ(BoxTexts(), "");

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(String(kSettingsKey, u"csVersion"), "6.1.0, Build 118");
  EXPECT_EQ(String(kSharedKey, u"csBackupEXEPath"), ce::ToUtf8(kProgram));
  // The second run started a fresh log and moved the first one aside.
  EXPECT_NE(dev_.ReadFile(u"\\temp\\BackupLogOld.txt").find("Parsed commandline"), std::string::npos);
}

TEST_F(StartupTest, SupportFilesThatCannotBeInstalledStopTheStart) {
  Copy(BinFile("QuilmoRes.dll"), u"\\Windows\\QuilmoRes.dll", false);  // no starter, no runner anywhere
  EXPECT_EQ(Run(), 0);
  std::vector<ce::ScreenLogEntry> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u) << BoxTexts();
  EXPECT_EQ(boxes[0].style & MB_ICONMASK, MB_ICONERROR);
  EXPECT_EQ(String(kSettingsKey, u"csVersion"), "<none>");
  EXPECT_FALSE(HasLine(R"(.*Parsed commandline.*)"));
}

TEST_F(StartupTest, AResumedRunSkipsTheSupportFilesAndWritesTheRecord) {
  PutSupportFiles(kProgramFolder);
  // What the run before the reset left: its state and the location past 2000.
  const std::u16string reboot = std::u16string(kProgramFolder) + u"Reboot";
  dev_.MakeDir(reboot);
  {
    AGlobal global;
    PersistantData state;
    ASSERT_TRUE(state.Save(reboot.c_str()));
  }
  dev_.PutFile(reboot + u"\\Location.txt", "2001\n");
  EXPECT_EQ(Run(), 0) << BoxTexts();
  EXPECT_FALSE(fs::exists(dev_.Host(u"\\Windows\\QuilmoStart.exe")));
  EXPECT_EQ(String(kSettingsKey, u"csVersion"), "6.1.0, Build 118");
  EXPECT_TRUE(HasLine(R"(L RebootController \d+ : Reboot complete to  2001)")) << LogText();
}

TEST_F(StartupTest, AnUnsupportedSecurityAgentStopsTheStartWithString134) {
  PutSupportFiles(u"\\Windows\\");
  Copy(BinFile("CMGLib.dll"), u"\\Windows\\CMGLib.dll", false);
  EXPECT_EQ(Run(), 0);
  std::vector<ce::ScreenLogEntry> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u) << BoxTexts();
  EXPECT_NE(ce::ToUtf8(boxes[0].text).find("security program"), std::string::npos);  // string 134
  EXPECT_EQ(boxes[0].style & MB_ICONMASK, MB_ICONERROR);
  EXPECT_TRUE(HasLine(R"(L ACredantIF \d+ : Credant library loaded)")) << LogText();
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Credant has been detected but is not supported\.\.\.exiting\.\.\.)"));
  EXPECT_FALSE(HasLine(R"(.*Parsed commandline.*)"));
}

TEST_F(StartupTest, AnAgentLibraryWithoutItsRequestEntryIsNotTakenForTheAgent) {
  PutSupportFiles(u"\\Windows\\");
  Dl_info info{};  // any loadable library without the entry: the compression library
  ASSERT_NE(dladdr(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(&crc32)), &info), 0);
  ASSERT_NE(info.dli_fname, nullptr);
  Copy(info.dli_fname, u"\\Windows\\CMGLib.dll", false);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), "");
  EXPECT_TRUE(HasLine(R"(L ACredantIF \d+ : Credant library loaded)")) << LogText();
  EXPECT_TRUE(HasLine(R"(E ACredantIF \d+ : Error retrieving CMG_Request entry point( -?\d+)?)"));
  EXPECT_FALSE(HasLine(R"(.*Credant has been detected.*)"));
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Parsed commandline)"));
}

TEST_F(StartupTest, AnAgentFileThatDoesNotLoadIsLoggedAndTheStartGoesOn) {
  PutSupportFiles(u"\\Windows\\");
  dev_.PutFile(u"\\Windows\\CMGLib.dll", "not a library");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), "");
  EXPECT_TRUE(HasLine(R"(E ACredantIF \d+ : Error loading CMGLIB.DLL -?\d+)")) << LogText();
  EXPECT_TRUE(HasLine(R"(L CQuilmoApp \d+ : Parsed commandline)"));
}

TEST_F(StartupTest, WithoutLoggingNoLogIsWrittenAndOrdinaryLinesBecomeBoxes) {
  PutSupportFiles(u"\\Windows\\");
  SetDword(kConfigKey, u"EnableLogging", 0);
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(fs::exists(dev_.Host(u"\\temp\\BackupLog.txt")));
  bool sawWsa = false;
  for (const auto& b : Boxes()) {
    EXPECT_EQ(ce::ToUtf8(b.caption), "Quilmo Backup - Logging not started");
    sawWsa = sawWsa || ce::ToUtf8(b.text) == "WSAStartup result: ";
  }
  EXPECT_TRUE(sawWsa) << BoxTexts();
  EXPECT_EQ(String(kSettingsKey, u"csVersion"), "6.1.0, Build 118");
}

// A registry that cannot be written: the record is given up with one
// ordinary log line (no error entry, no code) and the caller goes on.
TEST(StoreExePathTest, AFailedWriteIsLoggedAsAnOrdinaryLine) {
  quilmo::test::TestDevice dev;
  dev.MakeDir(u"\\temp");
  AGlobal global;
  CQuilmoApp app;
  global.g_Log.Open(false);
  ce::RegCloseHives();
  dev.PutFile(ce::kSystemHivePath, std::string(4096, 'x'));
  EXPECT_FALSE(app.StoreExePathInRegistry());
  const std::string log = global.g_Log.GetBuffer();
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\r\nL CQuilmoApp \d+ : CQuilmoApp::StoreExePathInRegistry\(\) )"
                                                R"(Error setting value\r\n)")))
      << log;
  EXPECT_EQ(log.find("E CQuilmoApp"), std::string::npos);
  ce::RegCloseHives();
}

}  // namespace
