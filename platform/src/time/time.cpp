// The device clock, SYSTEMTIME/FILETIME conversions, the POSIX time zone
// and the tick counter.
#include "ce/time.h"

#include <atomic>
#include <cctype>
#include <fstream>
#include <iterator>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include <poll.h>

#include "ce/errors.h"
#include "cesim/device.h"
#include "cesim/time.h"
#include "clock/device_clock.h"
#include "window/window_state.h"

namespace ce {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;       // FILETIME units
constexpr int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 .. 1970-01-01
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFull;

// Restores the caller's last error when a call that cannot fail returns.
struct KeepLastError {
  DWORD saved = GetLastError();
  ~KeepLastError() { SetLastError(saved); }
};

Device* CurrentDevice() {
  KeepLastError keep;
  return Device::Current();
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

uint64_t ToU64(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
FILETIME FromU64(uint64_t v) {
  return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

// y-m-d from days since 1970-01-01.
void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool ValidSystemTime(const SYSTEMTIME& st) {
  return st.wYear >= 1601 && st.wYear <= 30827 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 &&
         st.wDay <= DaysInMonth(st.wYear, st.wMonth) && st.wHour < 24 && st.wMinute < 60 &&
         st.wSecond < 60 && st.wMilliseconds < 1000;
}

// Milliseconds since 1970 of a valid SYSTEMTIME.
int64_t SystemTimeToUnixMs(const SYSTEMTIME& st) {
  int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay);
  return ((days * 24 + st.wHour) * 60 + st.wMinute) * 60000 + st.wSecond * 1000LL + st.wMilliseconds;
}

SYSTEMTIME UnixMsToSystemTime(int64_t ms) {
  int64_t days = FloorDiv(ms, 86400000);
  int64_t rest = ms - days * 86400000;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  st.wHour = static_cast<WORD>(rest / 3600000);
  st.wMinute = static_cast<WORD>(rest / 60000 % 60);
  st.wSecond = static_cast<WORD>(rest / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(rest % 1000);
  return st;
}

int64_t HostNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// ---- POSIX TZ parsing ----
struct Cursor {
  std::string_view s;
  size_t i = 0;
  bool End() const { return i >= s.size(); }
  char Peek() const { return End() ? '\0' : s[i]; }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++i;
    return true;
  }
  bool Number(int* out, int maxDigits = 3) {
    int n = 0, digits = 0;
    while (!End() && digits < maxDigits && s[i] >= '0' && s[i] <= '9') {
      n = n * 10 + (s[i++] - '0');
      ++digits;
    }
    *out = n;
    return digits > 0;
  }
};

bool ParseName(Cursor& c, std::string* name) {
  size_t start = c.i;
  if (c.Eat('<')) {
    while (!c.End() && c.Peek() != '>') ++c.i;
    if (!c.Eat('>')) return false;
    *name = std::string(c.s.substr(start + 1, c.i - start - 2));
  } else {
    while (!c.End() && ((c.Peek() >= 'A' && c.Peek() <= 'Z') || (c.Peek() >= 'a' && c.Peek() <= 'z'))) ++c.i;
    *name = std::string(c.s.substr(start, c.i - start));
  }
  return name->size() >= 3;
}

// [+-]hh[:mm[:ss]] in seconds; hours up to 167 (the extended form).
bool ParseTime(Cursor& c, int64_t* seconds) {
  int sign = 1;
  if (c.Eat('-')) sign = -1;
  else c.Eat('+');
  int h = 0, m = 0, s = 0;
  if (!c.Number(&h) || h > 167) return false;
  if (c.Eat(':')) {
    if (!c.Number(&m, 2) || m > 59) return false;
    if (c.Eat(':') && (!c.Number(&s, 2) || s > 59)) return false;
  }
  *seconds = sign * (h * 3600LL + m * 60LL + s);
  return true;
}

bool ParseRule(Cursor& c, TimeZone::Rule* r) {
  int a = 0, b = 0, d = 0;
  if (c.Eat('J')) {
    if (!c.Number(&a) || a < 1 || a > 365) return false;
    r->kind = TimeZone::Rule::kJulian1;
    r->day = a;
  } else if (c.Eat('M')) {
    if (!c.Number(&a, 2) || !c.Eat('.') || !c.Number(&b, 1) || !c.Eat('.') || !c.Number(&d, 1)) return false;
    if (a < 1 || a > 12 || b < 1 || b > 5 || d > 6) return false;
    r->kind = TimeZone::Rule::kMonthWeekDay;
    r->month = a;
    r->week = b;
    r->day = d;
  } else {
    if (!c.Number(&a) || a > 365) return false;
    r->kind = TimeZone::Rule::kJulian0;
    r->day = a;
  }
  r->time = 7200;
  if (c.Eat('/') && !ParseTime(c, &r->time)) return false;
  return true;
}

}  // namespace

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, unsigned m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

bool TimeZone::Parse(std::string_view tz) {
  *this = TimeZone();
  TimeZone z;
  Cursor c{tz};
  int64_t west = 0;
  if (!ParseName(c, &z.stdName_) || !ParseTime(c, &west)) return false;
  z.stdOffset_ = -west;
  if (!c.End()) {
    if (!ParseName(c, &z.dstName_)) return false;
    z.hasDst_ = true;
    z.dstOffset_ = z.stdOffset_ + 3600;
    if (!c.End() && c.Peek() != ',') {
      if (!ParseTime(c, &west)) return false;
      z.dstOffset_ = -west;
    }
    if (c.End()) {  // no rules: the US rules
      z.start_ = Rule{Rule::kMonthWeekDay, 3, 2, 0, 7200};
      z.end_ = Rule{Rule::kMonthWeekDay, 11, 1, 0, 7200};
    } else if (!c.Eat(',') || !ParseRule(c, &z.start_) || !c.Eat(',') || !ParseRule(c, &z.end_) || !c.End()) {
      return false;
    }
  }
  *this = z;
  return true;
}

int64_t TimeZone::Transition(int year, const Rule& r, int64_t offsetBefore) const {
  int64_t day;  // days since 1970 of the rule's local date
  const int64_t jan1 = DaysFromCivil(year, 1, 1);
  if (r.kind == Rule::kJulian1) {
    day = jan1 + r.day - 1 + (IsLeapYear(year) && r.day >= 60 ? 1 : 0);
  } else if (r.kind == Rule::kJulian0) {
    day = jan1 + r.day;
  } else {
    const int64_t first = DaysFromCivil(year, r.month, 1);
    const int dowFirst = static_cast<int>(((first % 7) + 11) % 7);
    int dom = 1 + (r.day - dowFirst + 7) % 7 + (r.week - 1) * 7;
    while (dom > DaysInMonth(year, r.month)) dom -= 7;
    day = first + dom - 1;
  }
  return day * 86400 + r.time - offsetBefore;
}

int64_t TimeZone::OffsetAt(int64_t utcSeconds, bool* dst) const {
  bool inDst = false;
  if (hasDst_) {
    int64_t y;
    unsigned m, d;
    CivilFromDays(FloorDiv(utcSeconds + stdOffset_, 86400), &y, &m, &d);
    const int64_t s = Transition(static_cast<int>(y), start_, stdOffset_);
    const int64_t e = Transition(static_cast<int>(y), end_, dstOffset_);
    inDst = s < e ? (utcSeconds >= s && utcSeconds < e) : !(utcSeconds >= e && utcSeconds < s);
  }
  if (dst) *dst = inDst;
  return inDst ? dstOffset_ : stdOffset_;
}

int64_t TimeZone::LocalToUtc(int64_t localSeconds) const {
  const int64_t asStd = localSeconds - stdOffset_;
  if (!hasDst_) return asStd;
  bool dst = false;
  OffsetAt(asStd, &dst);
  if (!dst) return asStd;  // standard time (also the later of two occurrences)
  const int64_t asDst = localSeconds - dstOffset_;
  OffsetAt(asDst, &dst);
  return dst ? asDst : asStd;  // neither: inside the gap, read as standard
}

namespace {

// The POSIX rule at the end of a zone file of the host's time-zone data
// ("America/New_York"): a TZif file of version 2 or later ends with it
// between two newlines. False for a name that is no plain zone name or
// has no such file.
bool ZoneInfoRule(const std::string& name, std::string* rule) {
  if (name.empty() || name.size() > 64 || name[0] == '/' || name.find("..") != std::string::npos) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '/' && c != '_' && c != '-' && c != '+') return false;
  for (const char* root : {"/usr/share/zoneinfo/", "/usr/lib/zoneinfo/"}) {
    std::ifstream f(std::string(root) + name, std::ios::binary);
    if (!f) continue;
    std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (data.size() < 6 || data.compare(0, 4, "TZif") != 0 || data[4] < '2' || data.back() != '\n') return false;
    const size_t start = data.rfind('\n', data.size() - 2);
    if (start == std::string::npos) return false;
    *rule = data.substr(start + 1, data.size() - start - 2);
    return !rule->empty();
  }
  return false;
}

}  // namespace

const TimeZone& DeviceTimeZone() {
  static std::mutex lock;
  static std::map<std::string, TimeZone> zones;  // never erased: references stay valid
  static const TimeZone utc;
  Device* dev = CurrentDevice();
  if (!dev) return utc;
  const std::string& text = dev->GetProfile().timeZone;
  std::lock_guard<std::mutex> g(lock);
  auto it = zones.find(text);
  if (it == zones.end()) {
    TimeZone z;
    std::string rule;
    if (!z.Parse(text) && ZoneInfoRule(text, &rule)) z.Parse(rule);  // neither: UTC
    it = zones.emplace(text, z).first;
  }
  return it->second;
}

int64_t DeviceNowMs() {
  Device* dev = CurrentDevice();
  return HostNowMs() + (dev ? dev->ClockOffsetMs() : 0);
}

namespace {

std::atomic<int64_t> gTickAdjust{0};
std::mutex gBootLock;
Device* gBootDevice = nullptr;
int64_t gBootMs = 0;

// The device's boot stamp (device clock ms). Every device process ends at a
// reset, so a process may keep the value it read once.
int64_t BootMs() {
  std::lock_guard<std::mutex> g(gBootLock);
  Device* dev = CurrentDevice();
  if (gBootDevice == dev && gBootMs != 0) return gBootMs;
  int64_t boot = 0;
  if (dev) {
    std::lock_guard<std::recursive_mutex> dg(dev->DbLock());
    Stmt ins(dev->Db(), "INSERT OR IGNORE INTO meta(key, value) VALUES('boot_ms', ?)");
    ins.Bind(1, DeviceNowMs()).Run();
    Stmt sel(dev->Db(), "SELECT value FROM meta WHERE key='boot_ms'");
    if (sel.ok() && sel.Step()) boot = sel.Int(0);
  }
  if (boot == 0) boot = DeviceNowMs();
  gBootDevice = dev;
  gBootMs = boot;
  return boot;
}

}  // namespace

void MarkDeviceBoot() {
  KeepLastError keep;
  const int64_t now = DeviceNowMs();
  std::lock_guard<std::mutex> g(gBootLock);
  Device* dev = CurrentDevice();
  if (dev) {
    std::lock_guard<std::recursive_mutex> dg(dev->DbLock());
    Stmt s(dev->Db(), "INSERT OR REPLACE INTO meta(key, value) VALUES('boot_ms', ?)");
    s.Bind(1, now).Run();
  }
  gBootDevice = dev;
  gBootMs = now;
  gTickAdjust = 0;
}

void SetTickBaseForTest(DWORD tick) {
  KeepLastError keep;
  const int64_t boot = BootMs();  // first: it may write the stamp
  gTickAdjust = static_cast<int64_t>(tick) - (DeviceNowMs() - boot);
}

}  // namespace ce

using ce::KeepLastError;

void GetSystemTime(SYSTEMTIME* st) {
  KeepLastError keep;
  if (st) *st = ce::UnixMsToSystemTime(ce::DeviceNowMs());
}

void GetLocalTime(SYSTEMTIME* st) {
  KeepLastError keep;
  if (!st) return;
  const int64_t now = ce::DeviceNowMs();
  const int64_t offset = ce::DeviceTimeZone().OffsetAt(ce::FloorDiv(now, 1000));
  *st = ce::UnixMsToSystemTime(now + offset * 1000);
}

namespace {
BOOL SetDeviceClock(int64_t utcMs) {
  ce::Device* dev = ce::CurrentDevice();
  if (!dev) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  if (!dev->SetClockOffsetMs(utcMs - ce::HostNowMs())) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}
}  // namespace

BOOL SetSystemTime(const SYSTEMTIME* st) {
  if (!st || !ce::ValidSystemTime(*st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return SetDeviceClock(ce::SystemTimeToUnixMs(*st));
}

BOOL SetLocalTime(const SYSTEMTIME* st) {
  if (!st || !ce::ValidSystemTime(*st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t localMs = ce::SystemTimeToUnixMs(*st);
  const int64_t localSec = ce::FloorDiv(localMs, 1000);
  const int64_t utcSec = ce::DeviceTimeZone().LocalToUtc(localSec);
  return SetDeviceClock(localMs + (utcSec - localSec) * 1000);
}

void GetSystemTimeAsFileTime(FILETIME* ft) {
  KeepLastError keep;
  if (!ft) return;
  const int64_t ms = ce::DeviceNowMs();
  *ft = ce::FromU64(static_cast<uint64_t>((ms + ce::kUnixEpochSeconds * 1000) * 10000));
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  if (!ft || !st || ce::ToU64(*ft) > ce::kMaxFileTime) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t ticks = static_cast<int64_t>(ce::ToU64(*ft));
  const int64_t ms = ticks / 10000 - ce::kUnixEpochSeconds * 1000;
  *st = ce::UnixMsToSystemTime(ms);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  if (!st || !ft || !ce::ValidSystemTime(*st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t ms = ce::SystemTimeToUnixMs(*st) + ce::kUnixEpochSeconds * 1000;
  *ft = ce::FromU64(static_cast<uint64_t>(ms) * 10000);
  return TRUE;
}

namespace {
// Shifts a FILETIME by whole seconds; FALSE when the result leaves the
// valid range.
BOOL ShiftFileTime(const FILETIME* in, int64_t seconds, FILETIME* out) {
  const int64_t v = static_cast<int64_t>(ce::ToU64(*in));  // at most kMaxFileTime
  const int64_t delta = seconds * ce::kTicksPerSecond;
  if ((delta < 0 && v < -delta) || (delta > 0 && v > static_cast<int64_t>(ce::kMaxFileTime) - delta)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *out = ce::FromU64(static_cast<uint64_t>(v + delta));
  return TRUE;
}
bool ValidFileTimeArgs(const FILETIME* a, FILETIME* b) {
  if (!a || !b || ce::ToU64(*a) > ce::kMaxFileTime) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}
}  // namespace

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (!ValidFileTimeArgs(utc, local)) return FALSE;
  const int64_t sec = static_cast<int64_t>(ce::ToU64(*utc)) / ce::kTicksPerSecond - ce::kUnixEpochSeconds;
  return ShiftFileTime(utc, ce::DeviceTimeZone().OffsetAt(sec), local);
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  if (!ValidFileTimeArgs(local, utc)) return FALSE;
  const int64_t sec = static_cast<int64_t>(ce::ToU64(*local)) / ce::kTicksPerSecond - ce::kUnixEpochSeconds;
  return ShiftFileTime(local, ce::DeviceTimeZone().LocalToUtc(sec) - sec, utc);
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  const uint64_t x = ce::ToU64(*a), y = ce::ToU64(*b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tzi) {
  if (!tzi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  KeepLastError keep;
  const ce::TimeZone& tz = ce::DeviceTimeZone();
  *tzi = TIME_ZONE_INFORMATION{};
  tzi->Bias = static_cast<LONG>(-tz.StdOffset() / 60);
  auto copyName = [](const std::string& s, WCHAR* out) {
    for (size_t i = 0; i < s.size() && i < 31; ++i) out[i] = static_cast<unsigned char>(s[i]);
  };
  copyName(tz.StdName(), tzi->StandardName);
  if (!tz.HasDst()) return TIME_ZONE_ID_UNKNOWN;
  copyName(tz.DstName(), tzi->DaylightName);
  tzi->DaylightBias = static_cast<LONG>(-(tz.DstOffset() - tz.StdOffset()) / 60);
  auto fillDate = [](const ce::TimeZone::Rule& r, SYSTEMTIME* st) {
    if (r.kind != ce::TimeZone::Rule::kMonthWeekDay || r.time < 0 || r.time >= 86400) return;
    st->wMonth = static_cast<WORD>(r.month);
    st->wDayOfWeek = static_cast<WORD>(r.day);
    st->wDay = static_cast<WORD>(r.week);
    st->wHour = static_cast<WORD>(r.time / 3600);
    st->wMinute = static_cast<WORD>(r.time / 60 % 60);
    st->wSecond = static_cast<WORD>(r.time % 60);
  };
  fillDate(tz.StartRule(), &tzi->DaylightDate);
  fillDate(tz.EndRule(), &tzi->StandardDate);
  bool dst = false;
  tz.OffsetAt(ce::FloorDiv(ce::DeviceNowMs(), 1000), &dst);
  return dst ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

DWORD GetTickCount() {
  KeepLastError keep;
  const int64_t boot = ce::BootMs();
  const int64_t elapsed = ce::DeviceNowMs() - boot;
  return static_cast<DWORD>(static_cast<uint64_t>(elapsed + ce::gTickAdjust.load()));
}

namespace {
// Sleep while a kernel drives the clock: until the device clock passes the
// deadline, published so that the clock may jump there.
void SleepOnDeviceClock(ce::Device* d, ce::clock::LayerWait& layer, DWORD ms) {
  const int64_t deadline = ms == INFINITE ? ce::clock::kNoDeadline : ce::DeviceNowMs() + ms;
  const int fd = ce::win::OwnWakeFd(d);
  for (;;) {
    layer.BeginRound();
    if (ce::DeviceNowMs() >= deadline) return;
    if (!layer.Publish(deadline)) continue;
    pollfd p{fd, POLLIN, 0};
    poll(&p, fd >= 0 ? 1 : 0, ce::clock::LayerWait::RoundMs(deadline));
    ce::win::DrainWake(fd);
  }
}
}  // namespace

void Sleep(DWORD ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  {
    KeepLastError keep;
    ce::Device* d = ce::Device::Current();
    ce::clock::LayerWait layer(d);
    if (layer.OnDeviceClock()) {
      SleepOnDeviceClock(d, layer, ms);
      return;
    }
  }
  if (ms == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
