#include "core/DeviceServices.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/power.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "core/System.h"

namespace {

const WCHAR* const kNeverClosed[] = {
    u"NK.EXE",        u"services.exe",    u"srvtrust.exe",      u"cprog.exe",      u"telshell.exe",
    u"Credant.exe",   u"QuilmoAgent.exe", u"QuilmoAgentSP.exe", u"Smartphone.exe", u"STK.exe",
    u"IA_Caller_ID.exe", u"edm.exe",      u"rapiclnt",          u"smartss.exe",    u"hpshell.exe",
    u"shell.exe",     u"shell32.exe",     u"Pviewce.exe",       u"gigabar.exe",    u"aflashman.exe",
    u"cflashman.exe", u"nflashman.exe",   u"tflashman.exe",     u"INCSP20.exe",    u"PSPin.exe",
    u"Spider.exe",    u"pfaceBoot.exe",   u"Merrow.exe",        u"MessageUtil.exe", u"Corvane.exe",
    u"Lissent.exe",   u"tmail.exe",       u"FPN.exe",           u"BTTrayCE.exe",   u"mstli.exe"};
const WCHAR* const kSystemPrograms[] = {u"filesys.exe", u"gwes.exe",    u"device.exe",   u"home.exe",
                                        u"CEMGRC.EXE",  u"hptasksw.exe", u"HH_dm.exe",   u"QUtility.exe",
                                        u"flashman.exe", u"BatteryIndicator.exe"};
const WCHAR* const kConnectionPrograms[] = {u"BTsecmgr.exe", u"filesys.exe", u"repllog.exe", u"rapisrv.exe",
                                            u"rnaapp.exe",   u"udp2tcp.exe", u"connmgr.exe"};
const WCHAR* const kTerminatedWithoutClose[] = {u"PMSNServer.exe"};

constexpr int kMaxExcludeLines = 100;
constexpr DWORD kMaxExcludeFileBytes = 64 * 1024;
constexpr DWORD kWaitSliceMs = 1000;

DatabaseVolumeFlusher& Flusher() {
  static DatabaseVolumeFlusher flusher;
  return flusher;
}

void Say(const CString& text, DWORD code = 0) { Log(code, text, nullptr, __LINE__); }

template <size_t N>
bool OnList(const WCHAR* const (&list)[N], const CString& name) {
  return std::any_of(std::begin(list), std::end(list),
                     [&](const WCHAR* entry) { return name.CompareNoCase(entry) == 0; });
}

bool InArray(const CStringArray& list, const CString& name) {
  for (int i = 0; i < list.GetSize(); ++i)
    if (name.CompareNoCase(list[i]) == 0) return true;
  return false;
}

// One program to close.
struct ProcessRecord {
  PROCESSENTRY32W entry{};
  HANDLE process = nullptr;
  bool closeWithoutMessage = false;
  bool closeSent = false;
  bool ended = false;
  CString Name() const { return CString(entry.szExeFile); }
};

void ReadExcludeList(const CString& path, LPCWSTR reading, LPCWSTR missing, CStringArray& list) {
  if (!System::FileExists(path)) {
    Say(missing);
    return;
  }
  Say(reading);
  if (!ReadProcessExcludeFile(path, list)) Say(CString(u"Couldn't open process exclude list file ") + path, GetLastError());
}

// Posts WM_CLOSE to the first top-level window of each record's process.
BOOL SendCloseToWindow(HWND hwnd, LPARAM lParam) {
  auto* records = reinterpret_cast<std::vector<ProcessRecord>*>(lParam);
  DWORD pid = 0;
  if (!GetWindowThreadProcessId(hwnd, &pid)) return TRUE;
  for (ProcessRecord& r : *records) {
    if (r.entry.th32ProcessID != pid || r.closeWithoutMessage || r.closeSent) continue;
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    r.closeSent = true;
    Say(CString(u"Sending WM_CLOSE for ") + r.Name());
  }
  return TRUE;
}

// Waits until the awaited processes ended or delayMs passed since the
// pass began.
void WaitPass(std::vector<ProcessRecord>& records, std::vector<size_t> awaited, DWORD delayMs) {
  const DWORD start = GetTickCount();
  while (!awaited.empty()) {
    DWORD elapsed = GetTickCount() - start;  // unsigned: survives a wrap
    if (elapsed >= delayMs) break;
    std::vector<HANDLE> handles;
    for (size_t i = 0; i < awaited.size() && handles.size() < MAXIMUM_WAIT_OBJECTS; ++i)
      handles.push_back(records[awaited[i]].process);
    DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                     std::min(kWaitSliceMs, delayMs - elapsed));
    if (r == WAIT_TIMEOUT) continue;
    if (r - WAIT_OBJECT_0 < handles.size()) {  // WAIT_OBJECT_0 is 0
      ProcessRecord& done = records[awaited[r - WAIT_OBJECT_0]];
      done.ended = true;
      Say(done.Name() + u" terminated");
      awaited.erase(awaited.begin() + (r - WAIT_OBJECT_0));
      continue;
    }
    Say(u"WaitForMultipleEvents failed", GetLastError());
    break;
  }
}

void CloseAll(std::vector<ProcessRecord>& records) {
  for (ProcessRecord& r : records) {
    if (r.process) CloseHandle(r.process);
    r.process = nullptr;
  }
}

}  // namespace

namespace {
const bool* g_toolhelpFlag = nullptr;
}  // namespace

bool ToolhelpAvailable() {
  if (g_toolhelpFlag != nullptr) return *g_toolhelpFlag;
  return System::FileExists(u"\\windows\\toolhelp.dll");
}

void SetToolhelpFlag(const bool* flag) { g_toolhelpFlag = flag; }

const bool* GetToolhelpFlag() { return g_toolhelpFlag; }

bool ReadProcessExcludeFile(const CString& path, CStringArray& list) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string bytes(kMaxExcludeFileBytes, '\0');
  DWORD total = 0, got = 0;
  while (total < kMaxExcludeFileBytes &&
         ReadFile(file, bytes.data() + total, kMaxExcludeFileBytes - total, &got, nullptr) && got > 0)
    total += got;
  CloseHandle(file);
  bytes.resize(total);

  size_t pos = 0;
  for (int line = 0; line < kMaxExcludeLines && pos < bytes.size(); ++line) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(pos, end - pos);
    pos = end + 1;
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos || text[first] == '%') continue;
    text = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    WCHAR name[MAX_PATH + 1] = {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), name, MAX_PATH);
    if (n <= 0) continue;
    CString entry(name);
    list.Add(entry);
    Say(CString(u"Process name added from custom process exclude file : ") + entry);
  }
  return true;
}

bool KillProcesses(int mode, ITaskProgress*) {
  Say(u"Killing processes");
  if (!ToolhelpAvailable()) {
    Say(u"Killing processes complete");
    return true;
  }
  const bool keepSystem = mode == kKillKeepSystemAndConnection || mode == kKillKeepSystem;
  const bool keepConnection = mode == kKillKeepSystemAndConnection;

  CStringArray custom;
  CString folder = System::GetProgramPath(false);
  ReadExcludeList(folder + u"UserProcessesToExclude.txt", u"Reading user process exclude list",
                  u"User process exclude list not found", custom);
  ReadExcludeList(folder + u"QuilmoProcessListOEM.ini", u"Reading OEM process exclude list",
                  u"OEM process exclude list not found", custom);
  Say(u"Exclude list populated");

  HANDLE snapshot = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt) Sleep(20);
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) break;
  }
  if (snapshot == INVALID_HANDLE_VALUE) {
    LogError(GetLastError(), u"Create process snapshot failed", nullptr, __LINE__);
    return false;
  }

  std::vector<ProcessRecord> records;
  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) continue;
    CString name(entry.szExeFile);
    if (OnList(kNeverClosed, name)) continue;
    bool keep = false;
    if (keepSystem && InArray(custom, name)) {
      Say(CString(u"Process in custom process exclude file, not killing : ") + name);
      keep = true;
    }
    if (keepSystem && OnList(kSystemPrograms, name)) keep = true;
    if (keepConnection && OnList(kConnectionPrograms, name)) keep = true;
    if (keep) {
      Say(CString(u"Not killing ") + name);
      continue;
    }
    ProcessRecord record;
    record.entry = entry;
    record.process = OpenProcess(0, FALSE, entry.th32ProcessID);
    if (!record.process) Say(CString(u"Couldn't get process handle for ") + name, GetLastError());
    record.closeWithoutMessage = OnList(kTerminatedWithoutClose, name);
    records.push_back(record);
  }
  DWORD walkError = GetLastError();
  CloseToolhelp32Snapshot(snapshot);
  if (walkError != ERROR_NO_MORE_FILES) {
    Say(u"Process32 failed", walkError);
    CloseAll(records);
    return false;
  }

  DWORD delay = kDefaultKillProcessesDelay;
  ABackupRegistrySettings config(ProductConfigKey, u"");
  config.GetDWORD(u"KillProcessesDelay", delay, kDefaultKillProcessesDelay);
  CString text;
  text.Format(u"Delaying killing of processes %d secs", static_cast<int>(delay));
  Say(text);
  const DWORD delayMs = delay > 0xFFFFFFFFu / 1000 ? 0xFFFFFFFFu : delay * 1000;

  if (!EnumWindows(SendCloseToWindow, reinterpret_cast<LPARAM>(&records))) Say(u"EnumWindows failed", GetLastError());

  // First pass: the programs asked to close.
  std::vector<size_t> awaited;
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].closeSent && records[i].process) awaited.push_back(i);
  WaitPass(records, awaited, delayMs);

  // Second pass: terminate the rest.
  awaited.clear();
  for (size_t i = 0; i < records.size(); ++i) {
    ProcessRecord& r = records[i];
    if (!r.process || r.ended) continue;
    Say(CString(u"Terminating process ") + r.Name());
    if (TerminateProcess(r.process, static_cast<UINT>(-1))) awaited.push_back(i);
    else Say(CString(u"Couldn't terminate process ") + r.Name(), GetLastError());
  }
  WaitPass(records, awaited, delayMs);

  CloseAll(records);
  Say(u"Killing processes complete");
  return true;
}

void KeepDeviceAwake() {
  static bool started = false;
  static DWORD lastTick = 0;
  DWORD now = GetTickCount();
  if (!started) {
    started = true;
    lastTick = now;
    return;
  }
  if (now - lastTick > 1000 || now < lastTick) {
    keybd_event(1, 0, KEYEVENTF_SILENT, 0);
    keybd_event(1, 0, KEYEVENTF_SILENT | KEYEVENTF_KEYUP, 0);
    SystemIdleTimerReset();
    lastTick = now;
  }
}

void SetDatabaseVolumeFlusher(DatabaseVolumeFlusher flusher) { Flusher() = std::move(flusher); }

void RebootDevice(bool flushDatabases, bool flushRegistry, bool reboot) {
  if (flushRegistry) {
    Say(u"About to flush local machine");
    RegFlushKey(HKEY_LOCAL_MACHINE);
    Say(u"About to flush current user");
    RegFlushKey(HKEY_CURRENT_USER);
  }
  if (flushDatabases) {
    Say(u"About to flush DB vols");
    if (Flusher()) Flusher()();
  }
  if (reboot) {
    Say(u"About to get windows version");
    if (System::GetPlatformVersionCode() >= 0x510) {
      Say(u"Reboot via EWX_REBOOT");
      GetLog().Close();
      if (ExitWindowsEx(EWX_REBOOT, 0)) Sleep(10000);
      Say(u"Reboot via EWX_REBOOT failed", GetLastError());
    } else {
      Say(u"Reboot via POWER_STATE_RESET");
      GetLog().Close();
      SetSystemPowerState(nullptr, POWER_STATE_RESET, POWER_FORCE);
      Say(u"Reboot via POWER_STATE_RESET failed", GetLastError());
    }
  }
  Say(u"Reboot via IOCTL_HAL_REBOOT");
  GetLog().Close();
  KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
  Say(u"Reboot via IOCTL_HAL_REBOOT failed", GetLastError());
}
