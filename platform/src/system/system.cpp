// System information, power states, debug output, memory and input no-ops.
#include "ce/system.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "ce/errors.h"
#include "ce/power.h"
#include "ce/time.h"
#include "cesim/device.h"
#include "cesim/power.h"
#include "cesim/system.h"
#include "power/power_state.h"

namespace {

struct KeepLastError {
  DWORD saved = GetLastError();
  ~KeepLastError() { SetLastError(saved); }
};

ce::Device* CurrentDevice() {
  KeepLastError keep;
  return ce::Device::Current();
}

const ce::Profile& CurrentProfile() {
  static const ce::Profile defaults;
  ce::Device* dev = CurrentDevice();
  return dev ? dev->GetProfile() : defaults;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// Copies text and terminator into a buffer of `bytes` bytes.
BOOL CopyTextBytes(const std::u16string& text, void* out, size_t bytes) {
  if (!out) return Fail(ERROR_INVALID_PARAMETER);
  if ((text.size() + 1) * sizeof(WCHAR) > bytes) return Fail(ERROR_INSUFFICIENT_BUFFER);
  auto* w = static_cast<WCHAR*>(out);
  text.copy(w, text.size());
  w[text.size()] = 0;
  return TRUE;
}

struct PowerState {
  const char16_t* name;
  DWORD flag;
};
const PowerState kPowerStates[] = {
    {u"on", POWER_STATE_ON},
    {u"useridle", POWER_STATE_USERIDLE},
    {u"systemidle", POWER_STATE_IDLE},
    {u"backlightoff", POWER_STATE_ON},
    {u"unattended", POWER_STATE_UNATTENDED},
    {u"resuming", POWER_STATE_ON},
    {u"suspend", POWER_STATE_SUSPEND},
    {u"off", POWER_STATE_OFF},
    {u"reset", POWER_STATE_RESET},
};

// Runs one statement after making sure the recording tables exist.
bool RecordSql(ce::Device* dev, const char* sql, const std::function<void(ce::Stmt&)>& bind) {
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  dev->Exec(
      "CREATE TABLE IF NOT EXISTS pending_reset(id INTEGER PRIMARY KEY, requested_ms INTEGER, pid INTEGER,"
      " state INTEGER);"
      "CREATE TABLE IF NOT EXISTS input_events(id INTEGER PRIMARY KEY, ms INTEGER, pid INTEGER, kind TEXT,"
      " vk INTEGER, flags INTEGER);");
  ce::Stmt s(dev->Db(), sql);
  if (!s.ok()) return false;
  bind(s);
  return s.Run();
}

void RecordInput(const char* kind, int vk, DWORD flags) {
  KeepLastError keep;
  ce::Device* dev = CurrentDevice();
  if (!dev) return;
  RecordSql(dev, "INSERT INTO input_events(ms, pid, kind, vk, flags) VALUES(?, ?, ?, ?, ?)", [&](ce::Stmt& s) {
    s.Bind(1, ce::DeviceNowMs()).Bind(2, static_cast<int64_t>(getpid())).Bind(3, std::string_view(kind));
    s.Bind(4, static_cast<int64_t>(vk)).Bind(5, static_cast<int64_t>(flags));
  });
}

}  // namespace

int GetSystemMetrics(int index) {
  const ce::Profile& p = CurrentProfile();
  switch (index) {
    case SM_CXSCREEN: return p.screenWidth;
    case SM_CYSCREEN: return p.screenHeight;
    case SM_CXICON:
    case SM_CYICON: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    default: return 0;
  }
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
  if (!info) return Fail(ERROR_INVALID_PARAMETER);
  if (info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const ce::Profile& p = CurrentProfile();
  info->dwMajorVersion = p.versionMajor;
  info->dwMinorVersion = p.versionMinor;
  info->dwBuildNumber = p.buildNumber;
  info->dwPlatformId = VER_PLATFORM_WIN32_CE;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  return TRUE;
}

BOOL SystemParametersInfoW(UINT action, UINT uiParam, void* pvParam, UINT) {
  const ce::Profile& p = CurrentProfile();
  switch (action) {
    case SPI_GETPLATFORMTYPE: return CopyTextBytes(p.platform, pvParam, uiParam);
    case SPI_GETOEMINFO: return CopyTextBytes(p.oemInfo, pvParam, uiParam);
    case SPI_GETWORKAREA: {
      if (!pvParam) return Fail(ERROR_INVALID_PARAMETER);
      const int top = p.screenHeight < ce::kTopBarHeight ? p.screenHeight : ce::kTopBarHeight;
      *static_cast<RECT*>(pvParam) = RECT{0, top, p.screenWidth, p.screenHeight};
      return TRUE;
    }
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL SetSystemPowerState(LPCWSTR name, DWORD state, DWORD) {
  const PowerState* target = nullptr;
  if (name) {
    for (const PowerState& s : kPowerStates) {
      if (ce::EqualNoCase(name, s.name)) target = &s;
    }
  } else {
    // The most drastic bit asked for wins.
    static const DWORD kOrder[] = {POWER_STATE_RESET, POWER_STATE_OFF, POWER_STATE_SUSPEND,
                                   POWER_STATE_UNATTENDED, POWER_STATE_IDLE, POWER_STATE_USERIDLE,
                                   POWER_STATE_ON};
    for (DWORD bit : kOrder) {
      if (!(state & bit)) continue;
      for (const PowerState& s : kPowerStates) {
        if (s.flag == bit) {
          target = &s;
          break;
        }
      }
      break;
    }
  }
  if (!target) return Fail(ERROR_INVALID_PARAMETER);
  ce::Device* dev = CurrentDevice();
  if (!dev) return Fail(ERROR_NOT_READY);
  bool ok;
  if (target->flag == POWER_STATE_RESET) {
    // Recorded in pending_reset, then every device process ends (this one
    // too); the boot emulation acts on the request.
    ok = ce::RequestDeviceReset(POWER_STATE_RESET);
  } else {
    ok = ce::power::SetState(dev, target->name, target->flag,
                             "SetSystemPowerState \"" + ce::ToUtf8(target->name) + "\" by pid " +
                                 std::to_string(getpid()),
                             getpid());
  }
  return ok ? TRUE : Fail(ERROR_GEN_FAILURE);
}

BOOL GetSystemPowerState(LPWSTR name, DWORD cch, DWORD* flags) {
  std::u16string current = u"on";
  DWORD bits = POWER_STATE_ON;
  if (ce::Device* dev = CurrentDevice()) {
    std::lock_guard<std::recursive_mutex> g(dev->DbLock());
    ce::Stmt n(dev->Db(), "SELECT value FROM meta WHERE key='power_state_name'");
    ce::Stmt f(dev->Db(), "SELECT value FROM meta WHERE key='power_state_flags'");
    if (n.ok() && n.Step()) current = n.Text16(0);
    if (f.ok() && f.Step()) bits = static_cast<DWORD>(f.Int(0));
  }
  if (name) {
    if (current.size() + 1 > cch) return Fail(ERROR_INSUFFICIENT_BUFFER);
    current.copy(name, current.size());
    name[current.size()] = 0;
  }
  if (flags) *flags = bits;
  return TRUE;
}

void OutputDebugStringW(LPCWSTR text) {
  if (!text) return;
  KeepLastError keep;
  std::string line = ce::ToUtf8(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  line += '\n';
  ce::Device* dev = CurrentDevice();
  int fd = dev ? open((dev->Dir() / "debug.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)
               : STDERR_FILENO;
  if (fd < 0) return;
  // One write per line keeps lines of several processes whole.
  ssize_t n = write(fd, line.data(), line.size());
  (void)n;
  if (fd != STDERR_FILENO) close(fd);
}

void GlobalMemoryStatus(MEMORYSTATUS* status) {
  if (!status) return;
  constexpr DWORD kMB = 1024 * 1024;
  *status = MEMORYSTATUS{sizeof(MEMORYSTATUS), 38, 64 * kMB, 40 * kMB, 0, 0, 32 * kMB, 26 * kMB};
}

BOOL GetSystemMemoryDivision(LPDWORD storePages, LPDWORD ramPages, LPDWORD pageSize) {
  if (!storePages || !ramPages || !pageSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  constexpr DWORD kPage = 4096;
  *pageSize = kPage;
  *ramPages = 64 * 1024 * 1024 / kPage;    // as GlobalMemoryStatus reports
  *storePages = 32 * 1024 * 1024 / kPage;  // the object store
  return TRUE;
}

// Blocks carry their size in a header of max_align_t size.
namespace {
constexpr size_t kLocalHeader = alignof(std::max_align_t);
size_t& LocalHeader(HLOCAL mem) { return *reinterpret_cast<size_t*>(static_cast<char*>(mem) - kLocalHeader); }
}  // namespace

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  char* raw = static_cast<char*>((flags & LMEM_ZEROINIT) ? std::calloc(1, bytes + kLocalHeader)
                                                          : std::malloc(bytes + kLocalHeader));
  if (!raw) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  *reinterpret_cast<size_t*>(raw) = bytes;
  return raw + kLocalHeader;
}

HLOCAL LocalReAlloc(HLOCAL mem, size_t bytes, UINT flags) {
  if (!mem) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const size_t old = LocalHeader(mem);
  char* raw = static_cast<char*>(std::realloc(static_cast<char*>(mem) - kLocalHeader, bytes + kLocalHeader));
  if (!raw) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  *reinterpret_cast<size_t*>(raw) = bytes;
  if ((flags & LMEM_ZEROINIT) && bytes > old) std::memset(raw + kLocalHeader + old, 0, bytes - old);
  return raw + kLocalHeader;
}

HLOCAL LocalFree(HLOCAL mem) {
  if (mem) std::free(static_cast<char*>(mem) - kLocalHeader);
  return nullptr;
}

size_t LocalSize(HLOCAL mem) { return mem ? LocalHeader(mem) : 0; }

void keybd_event(BYTE vk, BYTE, DWORD flags, ULONG_PTR) {
  RecordInput("key", vk, flags);
  KeepLastError keep;
  ce::Device* dev = CurrentDevice();
  if (!dev) return;
  ce::power::NoteActivity(dev);
  // The power key turns the device off when it goes down; it never turns
  // it on (the device wakes through other means).
  if (vk == VK_POWER && !(flags & KEYEVENTF_KEYUP))
    ce::power::Switch(dev, false, "the power key, pressed by pid " + std::to_string(getpid()), getpid());
}

void SystemIdleTimerReset() {
  RecordInput("idle", 0, 0);
  KeepLastError keep;
  if (ce::Device* dev = CurrentDevice()) ce::power::NoteActivity(dev);
}

BOOL GetSystemPowerStatusEx(PSYSTEM_POWER_STATUS_EX status, BOOL) {
  if (!status) return Fail(ERROR_INVALID_PARAMETER);
  ce::Device* dev = CurrentDevice();
  ce::power::Battery b;
  if (dev) b = ce::power::ReadBattery(dev);
  const BYTE percent = static_cast<BYTE>(b.percent);  // whole percent, rounded down
  *status = SYSTEM_POWER_STATUS_EX{};
  status->ACLineStatus = b.ac ? AC_LINE_ONLINE : AC_LINE_OFFLINE;
  status->BatteryFlag = percent < 5    ? BATTERY_FLAG_CRITICAL
                        : percent < 33 ? BATTERY_FLAG_LOW
                        : percent > 66 ? BATTERY_FLAG_HIGH
                                       : 0;
  if (b.ac && percent < 100) status->BatteryFlag |= BATTERY_FLAG_CHARGING;
  status->BatteryLifePercent = percent;
  status->BatteryLifeTime = BATTERY_LIFE_UNKNOWN;
  status->BatteryFullLifeTime = BATTERY_LIFE_UNKNOWN;
  if (!b.ac && b.drainPerHour > 0) {
    status->BatteryLifeTime = static_cast<DWORD>(b.percent / b.drainPerHour * 3600.0);
    status->BatteryFullLifeTime = static_cast<DWORD>(100.0 / b.drainPerHour * 3600.0);
  }
  status->BackupBatteryFlag = BATTERY_FLAG_HIGH;
  status->BackupBatteryLifePercent = 100;
  status->BackupBatteryLifeTime = BATTERY_LIFE_UNKNOWN;
  status->BackupBatteryFullLifeTime = BATTERY_LIFE_UNKNOWN;
  return TRUE;
}

namespace ce {

int PendingResetRequests() {
  KeepLastError keep;
  Device* dev = CurrentDevice();
  if (!dev) return 0;
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev->Db(), "SELECT COUNT(*) FROM pending_reset");
  return s.ok() && s.Step() ? static_cast<int>(s.Int(0)) : 0;  // no table: none asked
}

std::vector<InputEvent> RecordedInputEvents() {
  KeepLastError keep;
  std::vector<InputEvent> out;
  Device* dev = CurrentDevice();
  if (!dev) return out;
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev->Db(), "SELECT kind, vk, flags, pid FROM input_events ORDER BY id");
  while (s.ok() && s.Step()) {
    out.push_back(InputEvent{s.Text(0), static_cast<int>(s.Int(1)), static_cast<DWORD>(s.Int(2)), s.Int(3)});
  }
  return out;
}

}  // namespace ce
