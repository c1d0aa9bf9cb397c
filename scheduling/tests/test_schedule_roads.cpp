// Scheduled backups on a device that runs for days: the product installed
// by its package, the test as the driver that sets up a schedule, the
// device tool running the clock on, the starter started by the device's
// notifications and the recorder standing in for the main program. Each
// start is judged by what the recorder saw: its device time, command line,
// power state and the option and stamp keys of the product.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "cesim/msgbox.h"
#include "sched_fixture.h"
#include "scheduling/Notify.h"
#include "scheduling/WakeUpService.h"
#include "testkit/LocalTime.h"
#include "testkit/NotificationList.h"
#include "testkit/RunCommand.h"

namespace fs = std::filesystem;

namespace {

using schedtest::kDstZone;

constexpr const char16_t* kProductKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup";
constexpr const char16_t* kRecorder = u"\\Windows\\recorder.exe";
constexpr const char16_t* kRecorderLog = u"\\temp\\recorder.log";
constexpr const char16_t* kStarter = u"\\Windows\\QuilmoStart.exe";
constexpr const char16_t* kScheduleFile = u"\\My Documents\\schedule.xml";

using quilmo::test::At;

// One start as the recorder noted it.
struct RecordedStart {
  std::string when;     // "2006-03-08 02:00:10", device local time
  std::string program;  // its own device path
  std::string commandLine;
  std::string power;
  // "Subkey\value" (the last part of the key's path) -> "dword 0x..." etc.
  std::map<std::string, std::string> values;

  // The time with the last digit of the seconds as "x": a program starts
  // in host time, and device time runs on with it meanwhile.
  std::string Rough() const {
    std::string t = when;
    if (t.size() == 19) t[18] = 'x';
    return t;
  }
  std::string Value(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? "<none>" : it->second;
  }
  // A stamp of the subkey as seconds (FILETIME / 10^7); -1 when missing.
  int64_t Stamp(const std::string& subkey) const {
    unsigned high = 0, low = 0;
    if (std::sscanf(Value(subkey + "\\dwStartTimeHigh").c_str(), "dword 0x%x", &high) != 1 ||
        std::sscanf(Value(subkey + "\\dwStartTimeLow").c_str(), "dword 0x%x", &low) != 1)
      return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32 | low) / 10000000u);
  }
};

class ScheduleRoadsTest : public schedtest::DeviceTest {
 protected:
  explicit ScheduleRoadsTest(const char* zone = "UTC0") : DeviceTest(zone) {
    const quilmo::test::CommandResult r = Cedev("install " + D());
    EXPECT_EQ(r.status, 0) << r.output;
    SetText(std::u16string(u"SOFTWARE\\Quilmo Software\\Shared"), u"csBackupEXEPath", kRecorder);
    SetText(u"Software\\Quilmo Test\\Recorder", u"LogFile", kRecorderLog);
    const std::u16string settings = std::u16string(u"HKLM\\") + kProductKey + u"\\Settings\\";
    std::u16string keys = settings + u"WakeUpService" + u'\0' + settings + u"Unattended" + u'\0';
    SetValue(u"Software\\Quilmo Test\\Recorder", u"Keys", REG_MULTI_SZ, keys.c_str(),
             static_cast<DWORD>((keys.size() + 1) * 2));
  }

  std::string D() const { return "'" + dev_.dir().string() + "'"; }
  static quilmo::test::CommandResult Cedev(const std::string& args) {
    return quilmo::test::RunCommand(std::string(QUILMO_BIN_DIR) + "/cedev " + args);
  }
  // Runs cedev and expects it to succeed; its output.
  static std::string Expect(const std::string& args) {
    const quilmo::test::CommandResult r = Cedev(args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.output;
    return r.output;
  }
  // Runs the device on to the local time "YYYY-MM-DDTHH:MM:SS".
  std::string RunUntil(const std::string& iso) { return Expect("run " + D() + " --until " + iso); }

  void SetIdleOffMinutes(DWORD minutes) {
    ASSERT_TRUE(dev_.device()->UpdateProfile([&](ce::Profile& p) { p.idleOffMinutes = minutes; }));
  }
  static void SetValue(const std::u16string& key, const char16_t* name, DWORD type, const void* data, DWORD size) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(h);
  }
  static void SetText(const std::u16string& key, const char16_t* name, std::u16string_view text) {
    const std::u16string t(text);
    SetValue(key, name, REG_SZ, t.c_str(), static_cast<DWORD>((t.size() + 1) * 2));
  }

  // Every start the recorder noted, oldest first.
  std::vector<RecordedStart> Starts() const {
    std::vector<RecordedStart> out;
    if (!fs::exists(dev_.Host(kRecorderLog))) return out;
    const std::string text = dev_.ReadFile(kRecorderLog);
    std::string subkey;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.substr(start, end - start);
      if (line.rfind("    ", 0) == 0 && !out.empty()) {
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos) out.back().values[subkey + "\\" + line.substr(4, eq - 4)] = line.substr(eq + 3);
      } else if (line.rfind("  ", 0) == 0) {
        subkey = line.substr(line.rfind('\\') + 1);
        if (const size_t blank = subkey.find(' '); blank != std::string::npos) subkey.resize(blank);
      } else if (line.size() > 20) {
        RecordedStart s;
        s.when = line.substr(0, 19);
        const size_t quote = line.find(" \"", 20);
        const size_t power = line.rfind("\" power=");
        if (quote == std::string::npos || power == std::string::npos || power < quote) continue;
        s.program = line.substr(20, quote - 20);
        s.commandLine = line.substr(quote + 2, power - quote - 2);
        s.power = line.substr(power + 8);
        out.push_back(s);
      }
    }
    return out;
  }
  std::vector<std::string> RoughTimes() const {
    std::vector<std::string> out;
    for (const RecordedStart& s : Starts()) out.push_back(s.Rough());
    return out;
  }
  void ForgetStarts() const { fs::remove(dev_.Host(kRecorderLog)); }

  // The boxes the starter showed: "caption: text".
  static std::vector<std::string> StarterBoxes() {
    std::vector<std::string> out;
    for (const auto& b : ce::ReadScreenLog())
      if (b.program == kStarter) out.push_back(ce::ToUtf8(b.caption) + ": " + ce::ToUtf8(b.text));
    return out;
  }

  // The device's notifications as `cedev notify list` prints them, without
  // the handle column, blanks squeezed, sorted.
  std::vector<std::string> NotifyList() const {
    std::vector<std::string> out;
    const std::string text = Expect("notify " + D() + " list");
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.substr(start, end - start);
      const size_t cut = line.find_first_not_of("0123456789");
      if (cut == std::string::npos || cut == 0) continue;
      std::string squeezed;
      for (size_t i = line.find_first_not_of(' ', cut); i < line.size(); ++i)
        if (line[i] != ' ' || squeezed.back() != ' ') squeezed += line[i];
      out.push_back(squeezed);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // The scheduled-backup entries the driver registers, as a user's
  // confirmed options would.
  static void Register(DWORD period, const SYSTEMTIME& first) {
    ANotify n(ANotifyValueObject(period, first), 1);
    ASSERT_TRUE(n.registerNotification());
  }
};

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(ScheduleRoadsTest, AWeekOfDailyBackupsEachStartedByAWakeUp) {
  SetIdleOffMinutes(3);
  SetClock(2006, 3, 7, 9, 0);
  Register(kPeriodDaily, At(2006, 3, 8, 2, 0));
  ASSERT_TRUE(AWakeUpServiceIF().Schedule());

  const std::string out = RunUntil("2006-03-14T09:00:00");

  const std::vector<RecordedStart> starts = Starts();
  std::vector<std::string> expected;
  for (int day = 8; day <= 14; ++day) expected.push_back("2006-03-" + std::to_string(day + 100).substr(1) + " 02:00:1x");
  EXPECT_EQ(RoughTimes(), expected) << out;
  for (const RecordedStart& s : starts) {
    EXPECT_EQ(s.program, "\\Windows\\recorder.exe");
    EXPECT_EQ(s.commandLine, "ScheduledBackup");
    EXPECT_EQ(s.power, "on");
    // The device was off; the wake-up stamp of this very wake-up lies
    // within the default dwWakeUpDelta (5 s) before the start's own stamp.
    const int64_t wake = s.Stamp("WakeUpService"), start = s.Stamp("Unattended");
    ASSERT_GT(wake, 0) << s.when;
    ASSERT_GT(start, 0) << s.when;
    EXPECT_GE(start - wake, 0) << s.when;
    EXPECT_LT(start - wake, 5) << s.when;
  }
  EXPECT_EQ(Count(out, "wake-up: event 11 fires"), 7) << out;

  EXPECT_EQ(NotifyList(),
            (std::vector<std::string>{"event 11 (wake-up) \\Windows\\QuilmoStart.exe \"AppRunAfterWakeup\"",
                                      "time 2006-03-15 02:00:00 \\Windows\\QuilmoStart.exe \"ScheduledBackup\""}));
}

TEST_F(ScheduleRoadsTest, AStartElevenMinutesLateIsMissedAndTheNextDayRegistered) {
  SetClock(2006, 3, 7, 9, 0);
  Register(kPeriodDaily, At(2006, 3, 8, 2, 0));
  Expect("clock " + D() + " set 2006-03-08T02:11:00");
  const std::string out = Expect("clock " + D() + " advance 0");

  EXPECT_NE(out.find("\\Windows\\QuilmoStart.exe"), std::string::npos) << out;
  const std::vector<std::string> boxes = StarterBoxes();
  ASSERT_EQ(boxes.size(), 1u) << out;
  EXPECT_NE(boxes[0].find("A scheduled backup was missed"), std::string::npos) << boxes[0];
  EXPECT_TRUE(Starts().empty()) << out;
  EXPECT_EQ(NotifyList(),
            std::vector<std::string>{"time 2006-03-09 02:00:00 \\Windows\\QuilmoStart.exe \"ScheduledBackup\""});
}

class DstRoadsTest : public ScheduleRoadsTest {
 protected:
  DstRoadsTest() : ScheduleRoadsTest(kDstZone) {}

  // Registers the schedule at first (the clock a day before it), runs the
  // device to until and gives the recorder's start times.
  std::vector<std::string> Season(DWORD period, const SYSTEMTIME& first, const std::string& until) {
    ForgetStarts();
    SetClock(first.wYear, first.wMonth, first.wDay - 1, 12, 0);
    Register(period, first);
    const std::string out = RunUntil(until);
    EXPECT_TRUE(StarterBoxes().empty()) << out;
    return RoughTimes();
  }
};

// The zone springs forward on Sunday 10 March 2024 and falls back on Sunday
// 3 November 2024, both at 02:00.
TEST_F(DstRoadsTest, AWeeklyScheduleKeepsItsHourAcrossBothChanges) {
  EXPECT_EQ(Season(kPeriodWeekly, At(2024, 3, 3, 9, 0), "2024-03-17T12:00:00"),
            (std::vector<std::string>{"2024-03-03 09:00:1x", "2024-03-10 09:00:1x", "2024-03-17 09:00:1x"}));
  EXPECT_EQ(Season(kPeriodWeekly, At(2024, 10, 27, 9, 0), "2024-11-10T12:00:00"),
            (std::vector<std::string>{"2024-10-27 09:00:1x", "2024-11-03 09:00:1x", "2024-11-10 09:00:1x"}));
  // In 2025 the clock springs forward on 9 March and skips 02:30: that
  // start comes as the clock passes it, once, and the next week is at 02:30
  // again.
  EXPECT_EQ(Season(kPeriodWeekly, At(2025, 3, 2, 2, 30), "2025-03-17T12:00:00"),
            (std::vector<std::string>{"2025-03-02 02:30:1x", "2025-03-09 03:00:1x", "2025-03-16 02:30:1x"}));
  EXPECT_EQ(NotifyList(),
            std::vector<std::string>{"time 2025-03-23 02:30:00 \\Windows\\QuilmoStart.exe \"ScheduledBackup\""});
}

TEST_F(DstRoadsTest, ADailyScheduleMovesWithEachChange) {
  EXPECT_EQ(Season(kPeriodDaily, At(2024, 3, 9, 9, 0), "2024-03-11T12:00:00"),
            (std::vector<std::string>{"2024-03-09 09:00:1x", "2024-03-10 10:00:1x", "2024-03-11 10:00:1x"}));
  EXPECT_EQ(Season(kPeriodDaily, At(2024, 11, 2, 9, 0), "2024-11-04T12:00:00"),
            (std::vector<std::string>{"2024-11-02 09:00:1x", "2024-11-03 08:00:1x", "2024-11-04 08:00:1x"}));
  EXPECT_EQ(NotifyList(),
            std::vector<std::string>{"time 2024-11-05 08:00:00 \\Windows\\QuilmoStart.exe \"ScheduledBackup\""});
}

// What one schedule-file entry should leave in "Unattended" for its start.
struct EntryRun {
  std::string when;  // rough start time
  std::string file;
  unsigned optionBits;  // close programs (bit 0), compress (1), date suffix (7)
  bool reset, remote;
  std::string inclusionList;
};

TEST_F(ScheduleRoadsTest, AScheduleFileOverTwoWeeksStartsEachEntryWithItsOwnOptions) {
  SetClock(2006, 3, 7, 9, 0);  // a Tuesday
  dev_.PutFile(kScheduleFile,
               "<?xml version=\"1.0\"?>\n"
               "<schedule>\n"
               "  <daily at=\"23:30\" filename=\"\\temp\\daily.pbf\" compress=\"TRUE\"/>\n"
               "  <!-- every Wednesday at noon -->\n"
               "  <weekly at=\"12:00\" dayofweek=\"Wednesday\" filename=\"\\temp\\weekly.pbf\" reset=\"true\"\n"
               "          autoname=\"yes\"/>\n"
               "  <once at=\"6:15\" on=\"2006-3-10\" filename=\"\\temp\\once.pbf\" remotemode=\"true\"\n"
               "        stopprocesses=\"true\" inclusionlist=\"\\My Documents\\Incl.xml\"/>\n"
               "</schedule>\n");
  ANotify start(ANotifyValueObject(kPeriodScheduleFile, At(2006, 3, 7, 9, 0)), 1);
  start.SetScheduleFile(kScheduleFile);
  ASSERT_TRUE(start.Reschedule());

  const std::string out = RunUntil("2006-03-21T09:00:00");

  std::vector<EntryRun> expected;
  for (int day = 7; day <= 20; ++day) {
    const std::string date = "2006-03-" + std::to_string(day + 100).substr(1);
    if (day == 8 || day == 15) expected.push_back({date + " 12:00:1x", "\\temp\\weekly.pbf", 0x00, true, false, ""});
    if (day == 10)
      expected.push_back({date + " 06:15:1x", "\\temp\\once.pbf", 0x01, false, true, "\\my documents\\incl.xml"});
    expected.push_back({date + " 23:30:1x", "\\temp\\daily.pbf", 0x02, false, false, ""});
  }
  const std::vector<RecordedStart> starts = Starts();
  ASSERT_EQ(starts.size(), expected.size()) << out;
  unsigned otherBits = 0;
  for (size_t i = 0; i < starts.size(); ++i) {
    const RecordedStart& s = starts[i];
    const EntryRun& e = expected[i];
    EXPECT_EQ(s.Rough(), e.when);
    EXPECT_EQ(s.commandLine, "ScheduledBackup") << e.when;
    EXPECT_EQ(s.Value("Unattended\\csUnattendedFilename"), "sz " + e.file) << e.when;
    unsigned word = 0;
    ASSERT_EQ(std::sscanf(s.Value("Unattended\\dwUnattendedOptions").c_str(), "dword 0x%x", &word), 1) << e.when;
    EXPECT_EQ(word & 0x83u, e.optionBits) << e.when;
    if (i == 0) otherBits = word & ~0x83u;
    EXPECT_EQ(word & ~0x83u, otherBits) << e.when;  // the saved options' other bits stay
    EXPECT_EQ(s.Value("Unattended\\bScheduledReset"), e.reset ? "dword 0x00000001" : "dword 0x00000000") << e.when;
    EXPECT_EQ(s.Value("Unattended\\bRemoteMode"), e.remote ? "dword 0x00000001" : "dword 0x00000000") << e.when;
    EXPECT_EQ(s.Value("Unattended\\csInclusionList"), "sz " + e.inclusionList) << e.when;
  }
  EXPECT_TRUE(StarterBoxes().empty()) << out;
  EXPECT_EQ(NotifyList(),
            std::vector<std::string>{"time 2006-03-21 23:30:00 \\Windows\\QuilmoStart.exe \"ScheduledBackup\""});
}

}  // namespace
