// The device stand-ins on a device run by a kernel: the recorder, the
// wake-up service and Merrow. Times are device times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ce/event.h"
#include "ce/handle.h"
#include "ce/module.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/boot.h"
#include "cesim/msgbox.h"
#include "cesim/power.h"
#include "testkit/DeviceTimes.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kSettings = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings";

class StandinTest : public ::testing::Test {
 protected:
  StandinTest() {
    opt_.runTimeoutMs = 60000;
    SetClock(2006, 3, 7, 9, 0);
  }
  static void SetClock(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
    SYSTEMTIME st{y, mo, 0, d, h, mi, 0, 0};
    ASSERT_TRUE(SetLocalTime(&st));
  }
  void Install(const char* binary, std::u16string_view devicePath) {
    fs::path host = dev_.Host(devicePath);
    fs::create_directories(host.parent_path());
    fs::copy_file(std::string(QUILMO_BIN_DIR) + "/" + binary, host, fs::copy_options::overwrite_existing);
  }
  static void SetValue(const std::u16string& key, const std::u16string& name, DWORD type, const void* data,
                       DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
    ASSERT_EQ(RegSetValueExW(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size), 0);
    RegCloseKey(k);
  }
  static void SetDword(const std::u16string& key, const std::u16string& name, DWORD v) {
    SetValue(key, name, REG_DWORD, &v, sizeof v);
  }
  static void SetText(const std::u16string& key, const std::u16string& name, const std::u16string& text,
                      DWORD type = REG_SZ) {
    SetValue(key, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
  }
  static DWORD Dword(const std::u16string& key, const std::u16string& name) {
    HKEY k = nullptr;
    DWORD v = 0xFFFFFFFF, size = sizeof v;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != 0) return v;
    RegQueryValueExW(k, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
    RegCloseKey(k);
    return v;
  }
  std::string Lines() const {
    std::string all;
    for (const auto& l : rep_.lines) all += l + "\n";
    return all;
  }
  bool Run(const char16_t* program, const char16_t* cmd) {
    rep_ = {};
    return ce::RunOnDevice(program, cmd, opt_, &rep_);
  }
  // Runs the device until a local time ("2006-03-07 12:00"), starting a
  // program first when one is given.
  bool RunUntil(const char* until, const char16_t* program = nullptr, const char16_t* cmd = u"") {
    unsigned y, mo, d, h, mi;
    sscanf(until, "%u-%u-%u %u:%u", &y, &mo, &d, &h, &mi);
    SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d), static_cast<WORD>(h),
                  static_cast<WORD>(mi), 0, 0};
    FILETIME local{}, utc{};
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    const uint64_t ticks = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
    opt_.untilMs = static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
    rep_ = {};
    return program ? ce::RunOnDevice(program, cmd, opt_, &rep_) : ce::RunDevice(opt_, &rep_);
  }
  std::optional<DWORD> ExitOf(const std::u16string& program) const {
    for (const auto& p : rep_.started)
      if (p.program == program) return p.exitCode;
    return std::nullopt;
  }

  quilmo::test::TestDevice dev_;
  ce::BootOptions opt_;
  ce::BootReport rep_;
};

TEST_F(StandinTest, RecorderNotesEachStartWithTheKeysItsConfigurationNames) {
  Install("recorder", u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe");
  Install("recorder", u"\\Windows\\Other.exe");
  const std::u16string unattended = std::u16string(kSettings) + u"\\Unattended";
  SetDword(unattended, u"dwUnattendedOptions", 0x2CF);
  SetText(unattended, u"csUnattendedFilename", u"\\Storage Card\\x.pbf");
  const std::u16string keys = u"HKLM\\" + unattended + std::u16string(1, u'\0') + u"HKLM\\Software\\None" +
                              std::u16string(1, u'\0');
  SetText(u"Software\\Quilmo Test\\Recorder", u"Keys", keys, REG_MULTI_SZ);
  ASSERT_TRUE(Run(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe", u"ScheduledBackup")) << Lines();
  ASSERT_TRUE(SetSystemPowerState(u"suspend", 0, 0));
  ASSERT_TRUE(Run(u"Other.exe", u" \"/StartUp\"")) << Lines();
  EXPECT_EQ(dev_.ReadFile(u"\\Recorder.log"),
            "2006-03-07 09:00:00 \\Program Files\\Quilmo Backup\\Quilmo Backup.exe \"ScheduledBackup\" power=on\n"
            "  HKLM\\SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings\\Unattended\n"
            "    dwUnattendedOptions = dword 0x000002cf\n"
            "    csUnattendedFilename = sz \\Storage Card\\x.pbf\n"
            "  HKLM\\Software\\None (missing)\n"
            "2006-03-07 09:00:00 \\Windows\\Other.exe \" \"/StartUp\"\" power=suspend\n"
            "  HKLM\\SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings\\Unattended\n"
            "    dwUnattendedOptions = dword 0x000002cf\n"
            "    csUnattendedFilename = sz \\Storage Card\\x.pbf\n"
            "  HKLM\\Software\\None (missing)\n");
  // Its log may be put elsewhere.
  SetText(u"Software\\Quilmo Test\\Recorder", u"LogFile", u"\\My Log.txt");
  ASSERT_TRUE(Run(u"Other.exe", u"")) << Lines();
  EXPECT_NE(dev_.ReadFile(u"\\My Log.txt").find("\\Windows\\Other.exe \"\" power=suspend\n"), std::string::npos);
}

TEST_F(StandinTest, WakeUpServiceStampsTheLocalTimeAfterAWakeUp) {
  ASSERT_TRUE(dev_.device()->UpdateProfile([](ce::Profile& p) { p.timeZone = "EST5EDT,M3.2.0,M11.1.0"; }));
  ASSERT_TRUE(dev_.device()->ReloadProfile());
  SetClock(2006, 3, 7, 9, 0);
  Install("QuilmoWakeUpService", u"\\Windows\\QuilmoWakeUpService.exe");
  ASSERT_TRUE(Run(u"\\Windows\\QuilmoWakeUpService.exe", u"AppRunAfterWakeup")) << Lines();
  EXPECT_EQ(ExitOf(u"\\Windows\\QuilmoWakeUpService.exe"), std::optional<DWORD>(0));
  // 2006-03-07 09:00:00 local, no zone conversion.
  SYSTEMTIME local{2006, 3, 0, 7, 9, 0, 0, 0};
  FILETIME ft{};
  ASSERT_TRUE(SystemTimeToFileTime(&local, &ft));
  const std::u16string key = std::u16string(kSettings) + u"\\WakeUpService";
  const uint64_t stamp = (static_cast<uint64_t>(Dword(key, u"dwStartTimeHigh")) << 32) | Dword(key, u"dwStartTimeLow");
  const uint64_t expected = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  EXPECT_GE(stamp, expected);
  EXPECT_LT(stamp - expected, 5 * 10000000ull) << "more than 5 s after the wake-up";
  // Any other command line is refused.
  ASSERT_TRUE(Run(u"\\Windows\\QuilmoWakeUpService.exe", u"apprunafterwakeup")) << Lines();
  EXPECT_EQ(ExitOf(u"\\Windows\\QuilmoWakeUpService.exe"), std::optional<DWORD>(2));
}

// Merrow's log with each "battery N%" that reads one percent under the
// expected line's taken as that line's: the charge drains from the moment
// it is set, so a check a moment after a whole percent reads one less.
std::string WithDrainedPercents(const std::string& actual, const std::string& expected) {
  const auto percentAt = [](const std::string& line, size_t& at) {
    at = line.find("battery ");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 8);
  };
  std::vector<std::string> lines = quilmo::test::SplitLines(actual);
  const std::vector<std::string> wanted = quilmo::test::SplitLines(expected);
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t at = 0, wantAt = 0;
    const int got = percentAt(lines[i], at);
    const int want = i < wanted.size() ? percentAt(wanted[i], wantAt) : -1;
    if (got >= 0 && want >= 0 && got == want - 1)
      lines[i].replace(at + 8, std::to_string(got).size(), std::to_string(want));
    out += lines[i] + "\n";
  }
  return out;
}

class MerrowTest : public StandinTest {
 protected:
  MerrowTest() {
    Install("Merrow", u"\\Windows\\Merrow.exe");
    Install("recorder", u"\\Windows\\QuilmoStart.exe");
    Install("ceclock_testprog", u"\\Windows\\Poster.exe");
    merrow_ = std::u16string(kSettings) + u"\\Merrow";
  }
  std::string Log() const { return dev_.ReadFile(u"\\Windows\\Merrow.log"); }
  std::string Starts() const { return dev_.ReadFile(u"\\Recorder.log"); }
  void ExpectMerrowLog(const std::string& expected) const {
    EXPECT_TRUE(quilmo::test::TimedLinesAre(WithDrainedPercents(Log(), expected), expected)) << Log();
  }
  std::u16string merrow_;
};

TEST_F(MerrowTest, AsksForOneBackupPerFallBelowTheThreshold) {
  SetDword(merrow_, u"bAutoBackup", 1);
  // Below 30 from 09:30; the checks at 09:50 (29.3 %) and 10:10 (28.7 %)
  // read well inside a whole percent.
  ASSERT_TRUE(ce::SetDeviceBattery(31, false, 2));
  ASSERT_TRUE(RunUntil("2006-03-07 09:00", u"\\Windows\\Merrow.exe", u" \"/StartUp\"")) << Lines();
  EXPECT_EQ(rep_.leftRunning, 1) << Lines();
  ASSERT_TRUE(RunUntil("2006-03-07 12:00", u"Poster.exe",
                       u"sleep 3000000; post QuilmoMerrowForceCheck; sleep 1200000; post QuilmoMerrowForceCheck"))
      << Lines();
  ASSERT_TRUE(ce::SetDeviceBattery(45, false));  // charged: armed again
  ASSERT_TRUE(RunUntil("2006-03-07 13:00", u"Poster.exe", u"post QuilmoMerrowForceCheck")) << Lines();
  ASSERT_TRUE(ce::SetDeviceBattery(20, false));
  ASSERT_TRUE(RunUntil("2006-03-07 14:00", u"Poster.exe", u"post QuilmoMerrowForceCheck")) << Lines();
  ExpectMerrowLog(
            "2006-03-07 09:00:00 start \" \"/StartUp\"\"\n"
            "2006-03-07 09:00:00 settings: threshold 30%, auto backup on\n"
            "2006-03-07 09:00:00 check: battery 31%, threshold 30%: no backup\n"
            "2006-03-07 09:50:00 message QuilmoMerrowForceCheck\n"
            "2006-03-07 09:50:00 check: battery 29%, threshold 30%: below, started QuilmoStart.exe /runbackupapp "
            "/args MerrowAutoBackup\n"
            "2006-03-07 10:10:00 message QuilmoMerrowForceCheck\n"
            "2006-03-07 10:10:00 check: battery 28%, threshold 30%: below, backup asked for already\n"
            "2006-03-07 12:00:00 message QuilmoMerrowForceCheck\n"
            "2006-03-07 12:00:00 check: battery 45%, threshold 30%: no backup\n"
            "2006-03-07 13:00:00 message QuilmoMerrowForceCheck\n"
            "2006-03-07 13:00:00 check: battery 20%, threshold 30%: below, started QuilmoStart.exe /runbackupapp "
            "/args MerrowAutoBackup\n");
  EXPECT_TRUE(quilmo::test::TimedLinesAre(Starts(),
            "2006-03-07 09:50:00 \\Windows\\QuilmoStart.exe \"/runbackupapp /args MerrowAutoBackup\" power=on\n"
            "2006-03-07 13:00:00 \\Windows\\QuilmoStart.exe \"/runbackupapp /args MerrowAutoBackup\" power=on\n"));
}

TEST_F(MerrowTest, RereadsItsSettingsRunsOnceAndQuitsWhenTold) {
  ASSERT_TRUE(ce::SetDeviceBattery(45, true));
  ASSERT_TRUE(RunUntil("2006-03-07 09:00", u"\\Windows\\Merrow.exe")) << Lines();
  SetDword(merrow_, u"dwBatteryLifeThreshold", 50);
  SetDword(merrow_, u"bAutoBackup", 0);
  // The second Merrow starts a device second after the posts: the clock
  // moves on only once the first has taken its messages, so the log's order
  // does not hang on which process the host runs first.
  ASSERT_TRUE(RunUntil("2006-03-07 10:00", u"Poster.exe",
                       u"sleep 60000; post QuilmoMerrowForceCheck; post QuilmoMerrowUpdateSettings;"
                       u" post QuilmoMerrowForceCheck; sleep 1000; start \\Windows\\Merrow.exe; sleep 60000"))
      << Lines();
  EXPECT_EQ(rep_.leftRunning, 1) << Lines();  // the second Merrow ended at once
  opt_.untilMs.reset();
  rep_ = {};
  ASSERT_TRUE(ce::RunOnDevice(u"Poster.exe", u"post QuilmoMerrowQuit", opt_, &rep_)) << Lines();
  EXPECT_NE(Lines().find("\\Windows\\Merrow.exe ended: exit 0"), std::string::npos) << Lines();
  ExpectMerrowLog(
            "2006-03-07 09:00:00 start \"\"\n"
            "2006-03-07 09:00:00 settings: threshold 30%, auto backup off\n"
            "2006-03-07 09:00:00 check: battery 45%, threshold 30%: no backup\n"
            "2006-03-07 09:01:00 message QuilmoMerrowForceCheck\n"
            "2006-03-07 09:01:00 check: battery 45%, threshold 30%: no backup\n"
            "2006-03-07 09:01:00 message QuilmoMerrowUpdateSettings\n"
            "2006-03-07 09:01:00 settings: threshold 50%, auto backup off\n"
            "2006-03-07 09:01:00 message QuilmoMerrowForceCheck\n"
            "2006-03-07 09:01:00 check: battery 45%, threshold 50%: below, auto backup off\n"
            "2006-03-07 09:01:01 start \"\"\n"
            "2006-03-07 09:01:01 already running: ending\n"
            "2006-03-07 10:00:00 message QuilmoMerrowQuit: ending\n");
  EXPECT_EQ(Starts(), "");
}

TEST_F(MerrowTest, CarriesAVersionResource) {
  HMODULE m = LoadLibraryExW(u"\\Windows\\Merrow.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(m, nullptr);
  EXPECT_NE(FindResourceW(m, MAKEINTRESOURCE(1), RT_VERSION), nullptr);
  FreeLibrary(m);
}

// ---- Lissent, Corvane and the help viewer ----

class AgentTest : public StandinTest {
 protected:
  AgentTest() {
    Install("Lissent", u"\\Windows\\Lissent.exe");
    Install("Corvane", u"\\Windows\\Corvane.exe");
    Install("peghelp", u"\\Windows\\peghelp.exe");
    Install("ceclock_testprog", u"\\Windows\\Poster.exe");
  }
  // The screen log as "CAPTION: TEXT" lines, of one caption when given.
  static std::string ScreenLog(const std::string& caption = "") {
    std::string all;
    for (const auto& e : ce::ReadScreenLog())
      if (caption.empty() || ce::ToUtf8(e.caption) == caption)
        all += ce::ToUtf8(e.caption) + ": " + ce::ToUtf8(e.text) + "\n";
    return all;
  }
  static bool InitCompleteIsSet() {
    HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Lissent/SystemInitComplete");
    if (!h) return false;
    const bool set = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    CloseHandle(h);
    return set;
  }
};

TEST_F(AgentTest, EachRunsUntilItsOwnQuitMessageAndLissentSignalsItsInit) {
  ASSERT_TRUE(RunUntil("2006-03-07 09:00", u"\\Windows\\Lissent.exe", u"-initial")) << Lines();
  EXPECT_EQ(rep_.leftRunning, 1) << Lines();
  EXPECT_TRUE(InitCompleteIsSet());
  ASSERT_TRUE(RunUntil("2006-03-07 09:01", u"\\Windows\\Corvane.exe", u"")) << Lines();
  EXPECT_EQ(rep_.leftRunning, 2) << Lines();

  // A second Lissent ends at once; the broadcast quit of Lissent leaves Corvane running.
  ASSERT_TRUE(RunUntil("2006-03-07 09:02", u"\\Windows\\Poster.exe",
                       u"spawn \\Windows\\Lissent.exe; post QuilmoLissentQuit"))
      << Lines();
  EXPECT_NE(Lines().find("\\Windows\\Lissent.exe ended: exit 0"), std::string::npos) << Lines();
  EXPECT_EQ(rep_.leftRunning, 1) << Lines();
  EXPECT_FALSE(InitCompleteIsSet()) << "the event outlived Lissent";

  opt_.untilMs.reset();
  rep_ = {};
  ASSERT_TRUE(ce::RunOnDevice(u"\\Windows\\Poster.exe", u"post QuilmoCorvaneQuit", opt_, &rep_)) << Lines();
  EXPECT_EQ(rep_.leftRunning, 0) << Lines();
  EXPECT_EQ(FindWindowW(u"Corvane", nullptr), nullptr) << Lines();
  // The two programs take a broadcast in either order.
  EXPECT_EQ(ScreenLog("Lissent"),
            "Lissent: started \"-initial\"\n"
            "Lissent: already running\n"
            "Lissent: QuilmoLissentQuit: quitting\n");
  EXPECT_EQ(ScreenLog("Corvane"),
            "Corvane: started \"\"\n"
            "Corvane: QuilmoLissentQuit: not mine\n"
            "Corvane: QuilmoCorvaneQuit: quitting\n");
}

TEST_F(AgentTest, CloseEndsAnAgentToo) {
  ASSERT_TRUE(RunUntil("2006-03-07 09:00", u"\\Windows\\Corvane.exe", u"")) << Lines();
  HWND w = FindWindowW(u"Corvane", nullptr);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(PostMessageW(w, WM_CLOSE, 0, 0));
  opt_.untilMs.reset();
  rep_ = {};
  ASSERT_TRUE(ce::RunDevice(opt_, &rep_)) << Lines();
  EXPECT_EQ(ScreenLog(), "Corvane: started \"\"\nCorvane: WM_CLOSE: quitting\n");
}

TEST_F(AgentTest, HelpViewerRecordsItsCommandLineAndEnds) {
  ASSERT_TRUE(Run(u"\\Windows\\peghelp.exe", u"\\Windows\\QuilmoBackup.htm#report")) << Lines();
  EXPECT_EQ(ExitOf(u"\\Windows\\peghelp.exe"), std::optional<DWORD>(0));
  EXPECT_EQ(ScreenLog(), "peghelp: \\Windows\\QuilmoBackup.htm#report\n");
}

}  // namespace

