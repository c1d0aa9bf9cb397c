// User notifications: registering, listing, reading, replacing and clearing
// them, the run-at calls, what the device refuses, and how they live in the
// notification volume's "DB_notify_queue".
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ce/bytes.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/notify.h"
#include "ce/notifyqueue.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/database.h"
#include "testkit/LocalTime.h"
#include "testkit/NotificationList.h"
#include "testkit/TestDevice.h"

namespace fs = std::filesystem;
namespace nq = ce::notifyqueue;

namespace {

using quilmo::test::At;

using quilmo::test::EventTrigger;
using quilmo::test::TimedTrigger;

uintptr_t Id(HANDLE h) { return reinterpret_cast<uintptr_t>(h); }
HANDLE Handle(uintptr_t id) { return reinterpret_cast<HANDLE>(id); }

struct Read {
  DWORD type = 0, event = 0;
  std::u16string app, args;
  SYSTEMTIME start{}, end{};
  DWORD size = 0;
};

// One notification through the size query and the read.
bool ReadOne(HANDLE h, Read* out) {
  DWORD needed = 0;
  if (CeGetUserNotification(h, 0, &needed, nullptr) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  std::vector<BYTE> buf(needed);
  if (!CeGetUserNotification(h, needed, &needed, buf.data())) return false;
  CE_NOTIFICATION_INFO_HEADER hdr{};
  std::memcpy(&hdr, buf.data(), sizeof hdr);
  EXPECT_EQ(hdr.hNotification, h);
  EXPECT_EQ(hdr.dwStatus, 0u);
  EXPECT_EQ(hdr.pceun, nullptr);
  const auto* base = buf.data();
  const auto* trig = reinterpret_cast<const BYTE*>(hdr.pcent);
  EXPECT_TRUE(trig >= base && trig + sizeof(CE_NOTIFICATION_TRIGGER) <= base + needed) << "trigger inside the buffer";
  CE_NOTIFICATION_TRIGGER t{};
  std::memcpy(&t, trig, sizeof t);
  EXPECT_EQ(t.dwSize, CE_NOTIFICATION_TRIGGER_SIZE);
  const auto* app = reinterpret_cast<const BYTE*>(t.lpszApplication);
  const auto* args = reinterpret_cast<const BYTE*>(t.lpszArguments);
  EXPECT_TRUE(app > base && app < base + needed && args > base && args < base + needed) << "texts inside the buffer";
  out->type = t.dwType;
  out->event = t.dwEvent;
  out->app = t.lpszApplication;
  out->args = t.lpszArguments;
  out->start = t.stStartTime;
  out->end = t.stEndTime;
  out->size = needed;
  return true;
}

std::vector<HANDLE> Handles() {
  DWORD n = 0;
  if (!CeGetUserNotificationHandles(nullptr, 0, &n)) {
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  }
  std::vector<HANDLE> out(n);
  if (n > 0) {
    EXPECT_TRUE(CeGetUserNotificationHandles(out.data(), n, &n));
  }
  return out;
}

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
         a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

class NotifyTest : public ::testing::Test {
 protected:
  quilmo::test::TestDevice dev_;
};

TEST_F(NotifyTest, RegistersTimedAndEventEntriesAndReadsThemBack) {
  const SYSTEMTIME at = At(2024, 5, 6, 2, 0);
  CE_NOTIFICATION_TRIGGER timed = TimedTrigger(u"\\Windows\\QuilmoStart.exe", u"ScheduledBackup", at);
  CE_NOTIFICATION_TRIGGER event = EventTrigger(u"\\Windows\\QuilmoStart.exe", u"AppRunAfterWakeup", 11);
  event.stStartTime = At(2024, 1, 1, 1, 1);  // an event's times are not kept
  HANDLE h1 = CeSetUserNotificationEx(nullptr, &timed, nullptr);
  HANDLE h2 = CeSetUserNotificationEx(nullptr, &event, nullptr);
  ASSERT_NE(h1, nullptr);
  ASSERT_NE(h2, nullptr);
  EXPECT_LT(Id(h1), Id(h2));

  EXPECT_EQ(Handles(), (std::vector<HANDLE>{h1, h2}));
  Read r;
  ASSERT_TRUE(ReadOne(h1, &r));
  EXPECT_EQ(r.type, CNT_TIME);
  EXPECT_EQ(r.event, 0u);
  EXPECT_EQ(r.app, u"\\Windows\\QuilmoStart.exe");
  EXPECT_EQ(r.args, u"ScheduledBackup");
  EXPECT_TRUE(SameTime(r.start, at));
  EXPECT_TRUE(SameTime(r.end, at));
  EXPECT_EQ(r.start.wDayOfWeek, 1);  // a Monday
  ASSERT_TRUE(ReadOne(h2, &r));
  EXPECT_EQ(r.type, CNT_EVENT);
  EXPECT_EQ(r.event, 11u);
  EXPECT_EQ(r.args, u"AppRunAfterWakeup");
  EXPECT_TRUE(SameTime(r.start, SYSTEMTIME{}));

  // One byte short, or no size slot at all.
  DWORD needed = 0;
  std::vector<BYTE> buf(r.size);
  EXPECT_FALSE(CeGetUserNotification(h2, r.size - 1, &needed, buf.data()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(needed, r.size);
  EXPECT_FALSE(CeGetUserNotification(h2, r.size, nullptr, buf.data()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});

  // A handle array one short: the first ones, and the count.
  HANDLE one[1] = {};
  DWORD count = 0;
  EXPECT_FALSE(CeGetUserNotificationHandles(one, 1, &count));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(one[0], h1);
}

TEST_F(NotifyTest, RefusesWhatItDoesNotKeep) {
  const SYSTEMTIME at = At(2024, 5, 6, 2, 0);
  struct Case {
    const char* what;
    CE_NOTIFICATION_TRIGGER t;
  } cases[] = {
      {"periodic", TimedTrigger(u"\\a.exe", u"", at)},
      {"classic time", TimedTrigger(u"\\a.exe", u"", at)},
      {"size 40", TimedTrigger(u"\\a.exe", u"", at)},
      {"month 13", TimedTrigger(u"\\a.exe", u"", At(2024, 13, 1, 0, 0))},
      {"30 February", TimedTrigger(u"\\a.exe", u"", At(2024, 2, 30, 0, 0))},
      {"a bad end time", TimedTrigger(u"\\a.exe", u"", at)},
      {"event 0", EventTrigger(u"\\a.exe", u"", 0)},
      {"no application", TimedTrigger(nullptr, u"", at)},
      {"an empty application", TimedTrigger(u"", u"", at)},
  };
  cases[0].t.dwType = CNT_PERIOD;
  cases[1].t.dwType = CNT_CLASSICTIME;
  cases[2].t.dwSize = 40;
  cases[5].t.stEndTime = At(2024, 1, 32, 0, 0);
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(CeSetUserNotificationEx(nullptr, &c.t, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  }
  EXPECT_EQ(CeSetUserNotificationEx(nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_TRUE(Handles().empty());

  // The host's own size of the record is taken too.
  CE_NOTIFICATION_TRIGGER native = TimedTrigger(u"\\a.exe", u"", at);
  native.dwSize = sizeof(CE_NOTIFICATION_TRIGGER);
  EXPECT_NE(CeSetUserNotificationEx(nullptr, &native, nullptr), nullptr);
  // A zero end time is the start time.
  CE_NOTIFICATION_TRIGGER noEnd = TimedTrigger(u"\\a.exe", u"", at);
  noEnd.stEndTime = SYSTEMTIME{};
  HANDLE h = CeSetUserNotificationEx(nullptr, &noEnd, nullptr);
  Read r;
  ASSERT_TRUE(ReadOne(h, &r));
  EXPECT_TRUE(SameTime(r.end, at));
}

TEST_F(NotifyTest, StaleAndUnknownHandlesFailWithInvalidParameter) {
  CE_NOTIFICATION_TRIGGER t = TimedTrigger(u"\\a.exe", u"x", At(2024, 5, 6, 2, 0));
  HANDLE h = CeSetUserNotificationEx(nullptr, &t, nullptr);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(CeClearUserNotification(h));
  DWORD needed = 0;
  for (HANDLE bad : {h, Handle(0), Handle(0x7FFFFFF), INVALID_HANDLE_VALUE}) {
    SCOPED_TRACE(Id(bad));
    EXPECT_FALSE(CeClearUserNotification(bad));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_FALSE(CeGetUserNotification(bad, 0, &needed, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    if (bad != nullptr) {  // null registers a new one
      EXPECT_EQ(CeSetUserNotificationEx(bad, &t, nullptr), nullptr);
      EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    }
  }
  EXPECT_TRUE(Handles().empty());
}

TEST_F(NotifyTest, ReplacingKeepsHandleAndPlaceAndHandlesAreNeverReused) {
  CE_NOTIFICATION_TRIGGER a = TimedTrigger(u"\\a.exe", u"a", At(2024, 5, 6, 2, 0));
  CE_NOTIFICATION_TRIGGER b = TimedTrigger(u"\\b.exe", u"b", At(2024, 5, 7, 2, 0));
  HANDLE ha = CeSetUserNotificationEx(nullptr, &a, nullptr);
  HANDLE hb = CeSetUserNotificationEx(nullptr, &b, nullptr);
  CE_NOTIFICATION_TRIGGER a2 = EventTrigger(u"\\c.exe", u"c", 11);
  EXPECT_EQ(CeSetUserNotificationEx(ha, &a2, nullptr), ha);
  EXPECT_EQ(Handles(), (std::vector<HANDLE>{ha, hb}));
  Read r;
  ASSERT_TRUE(ReadOne(ha, &r));
  EXPECT_EQ(r.app, u"\\c.exe");
  EXPECT_EQ(r.type, CNT_EVENT);

  ASSERT_TRUE(CeClearUserNotification(hb));
  HANDLE hc = CeSetUserNotificationEx(nullptr, &b, nullptr);
  EXPECT_GT(Id(hc), Id(hb));

  // A notification volume put back from an older copy hands out no handle
  // twice either.
  const fs::path vol = dev_.Host(u"\\mxip_notify.vol");
  const fs::path old = dev_.dir() / "old.vol";
  fs::copy_file(vol, old);
  HANDLE hd = CeSetUserNotificationEx(nullptr, &b, nullptr);
  fs::copy_file(old, vol, fs::copy_options::overwrite_existing);
  EXPECT_EQ(Handles(), (std::vector<HANDLE>{ha, hc}));
  HANDLE he = CeSetUserNotificationEx(nullptr, &b, nullptr);
  EXPECT_GT(Id(he), Id(hd));
}

TEST_F(NotifyTest, RunAppAtTimeAndAtEventRegisterTheirWordsAndClearTheirKind) {
  SYSTEMTIME at = At(2024, 5, 6, 2, 0);
  WCHAR app[] = u"\\Windows\\repllog.exe";
  WCHAR sameAppOtherCase[] = u"\\WINDOWS\\REPLLOG.EXE";
  WCHAR other[] = u"\\Windows\\other.exe";
  ASSERT_TRUE(CeRunAppAtTime(app, &at));
  ASSERT_TRUE(CeRunAppAtEvent(app, NOTIFICATION_EVENT_WAKEUP));
  ASSERT_TRUE(CeRunAppAtEvent(app, NOTIFICATION_EVENT_RESTORE_END));
  ASSERT_TRUE(CeRunAppAtTime(other, &at));
  std::vector<HANDLE> all = Handles();
  ASSERT_EQ(all.size(), 4u);
  Read r;
  ASSERT_TRUE(ReadOne(all[0], &r));
  EXPECT_EQ(r.args, u"AppRunAtTime");
  EXPECT_EQ(r.type, CNT_TIME);
  ASSERT_TRUE(ReadOne(all[1], &r));
  EXPECT_EQ(r.args, u"AppRunAfterWakeup");
  EXPECT_EQ(r.event, 11u);
  ASSERT_TRUE(ReadOne(all[2], &r));
  EXPECT_EQ(r.args, u"AppRunAfterRestore");
  EXPECT_EQ(r.event, 10u);

  EXPECT_FALSE(CeRunAppAtEvent(app, 5));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_FALSE(CeRunAppAtTime(nullptr, &at));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});

  // A null time clears the application's timed entries (its name in any
  // case), event 0 its event entries; other programs keep theirs.
  ASSERT_TRUE(CeRunAppAtTime(sameAppOtherCase, nullptr));
  EXPECT_EQ(Handles(), (std::vector<HANDLE>{all[1], all[2], all[3]}));
  ASSERT_TRUE(CeRunAppAtEvent(app, NOTIFICATION_EVENT_NONE));
  EXPECT_EQ(Handles(), (std::vector<HANDLE>{all[3]}));
}

TEST_F(NotifyTest, EntriesAreRecordsOfTheQueueInTheVolumeTheRegistryNames) {
  // A device without the volume gets it at the first call.
  EXPECT_FALSE(fs::exists(dev_.Host(u"\\mxip_notify.vol")));
  EXPECT_TRUE(Handles().empty());
  EXPECT_TRUE(fs::exists(dev_.Host(u"\\mxip_notify.vol")));

  // The registry names another volume.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, nq::kVolumeKey, 0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string path = u"\\notify2.vol";
  ASSERT_EQ(RegSetValueExW(key, nq::kVolumeValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>((path.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const SYSTEMTIME at = At(2024, 5, 6, 2, 30, 15);
  CE_NOTIFICATION_TRIGGER t = TimedTrigger(u"repllog.exe", u"AppRunAtTime", at);
  HANDLE h = CeSetUserNotificationEx(nullptr, &t, nullptr);
  ASSERT_NE(h, nullptr);
  // Nothing stays mounted between calls: the file can be moved.
  EXPECT_TRUE(ce::ListMountedVolumes().empty());
  ASSERT_TRUE(MoveFileW(u"\\notify2.vol", u"\\notify3.vol"));
  ASSERT_TRUE(MoveFileW(u"\\notify3.vol", u"\\notify2.vol"));

  // The record: its id is the handle, the FILETIME mirrors the blob's start.
  CEGUID g{};
  ASSERT_TRUE(CeMountDBVol(&g, const_cast<LPWSTR>(u"\\notify2.vol"), OPEN_EXISTING));
  CEOID oid = 0;
  HANDLE db = CeOpenDatabaseEx2(&g, &oid, const_cast<LPWSTR>(nq::kDatabaseName), nullptr, 0, nullptr);
  ASSERT_NE(db, INVALID_HANDLE_VALUE);
  BYTE* buf = nullptr;
  DWORD size = 0;
  WORD count = 0;
  const CEOID rec = CeReadRecordPropsEx(db, CEDB_ALLOWREALLOC, &count, nullptr, &buf, &size, nullptr);
  EXPECT_EQ(rec, static_cast<CEOID>(Id(h)));
  ASSERT_EQ(count, 2);
  const auto* props = reinterpret_cast<const CEPROPVAL*>(buf);
  EXPECT_EQ(props[0].propid, nq::kNotifyTimeProp);
  ASSERT_EQ(props[1].propid, nq::kNotifyEntryProp);
  std::string_view blob(reinterpret_cast<const char*>(props[1].val.blob.lpb), props[1].val.blob.dwCount);
  FILETIME ft{};
  ASSERT_TRUE(SystemTimeToFileTime(&at, &ft));
  EXPECT_EQ(ce::le::Get32(blob, nq::kStartTimeAt), ft.dwLowDateTime);
  EXPECT_EQ(ce::le::Get32(blob, nq::kStartTimeAt + 4), ft.dwHighDateTime);
  EXPECT_EQ(props[0].val.filetime.dwLowDateTime, ft.dwLowDateTime);
  EXPECT_EQ(ce::le::Get32(blob, nq::kTriggerTypeAt), CNT_TIME);
  EXPECT_EQ(ce::le::Get32(blob, nq::kProgramOffsetAt), nq::kHeaderSize);
  LocalFree(buf);

  // A record written the platform's own way (as a restore puts it back)
  // reads through the calls; a malformed one lists but does not read.
  std::string raw;
  ce::le::Put32(&raw, nq::kHeaderSize);
  ce::le::Put32(&raw, CNT_EVENT);
  ce::le::Put64(&raw, 0);
  ce::le::Put64(&raw, 0);
  ce::le::Put32(&raw, 11);
  ce::le::Put32(&raw, nq::kHeaderSize + 2 * 6);
  for (char16_t c : std::u16string(u"x.exe")) ce::le::Put16(&raw, c);
  ce::le::Put16(&raw, 0);
  ce::le::Put16(&raw, 0);
  CEPROPVAL v[2] = {};
  v[0].propid = nq::kNotifyTimeProp;
  v[1].propid = nq::kNotifyEntryProp;
  v[1].val.blob.dwCount = static_cast<DWORD>(raw.size());
  v[1].val.blob.lpb = reinterpret_cast<LPBYTE>(raw.data());
  const CEOID restored = CeWriteRecordProps(db, 0, 2, v);
  ASSERT_NE(restored, 0u);
  std::string bad = raw.substr(0, 20);
  v[1].val.blob.dwCount = static_cast<DWORD>(bad.size());
  v[1].val.blob.lpb = reinterpret_cast<LPBYTE>(bad.data());
  const CEOID malformed = CeWriteRecordProps(db, 0, 2, v);
  ASSERT_NE(malformed, 0u);
  CloseHandle(db);
  ASSERT_TRUE(CeUnmountDBVol(&g));

  EXPECT_EQ(Handles(), (std::vector<HANDLE>{h, Handle(restored), Handle(malformed)}));
  Read r;
  ASSERT_TRUE(ReadOne(Handle(restored), &r));
  EXPECT_EQ(r.app, u"x.exe");
  EXPECT_EQ(r.args, u"");
  DWORD needed = 0;
  EXPECT_FALSE(CeGetUserNotification(Handle(malformed), 0, &needed, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_CORRUPT});
  EXPECT_TRUE(CeClearUserNotification(Handle(malformed)));
}

TEST_F(NotifyTest, AVolumeHeldByAnotherProgramFailsTheCallsAndChangesNothing) {
  CE_NOTIFICATION_TRIGGER t = TimedTrigger(u"\\a.exe", u"", At(2024, 5, 6, 2, 0));
  HANDLE h = CeSetUserNotificationEx(nullptr, &t, nullptr);
  ASSERT_NE(h, nullptr);
  HANDLE hold = CreateFileW(u"\\mxip_notify.vol", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeSetUserNotificationEx(nullptr, &t, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_FALSE(CeClearUserNotification(h));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  CloseHandle(hold);
  EXPECT_EQ(Handles(), (std::vector<HANDLE>{h}));
}

}  // namespace
