// A device program for the device-clock tests. Its command line is a list
// of steps separated by ";", each "VERB [ARG...]":
//   log TEXT          appends "NAME TIME TEXT" to "\clocktest.log" (TIME:
//                     the device's local time, YYYY-MM-DD HH:MM:SS)
//   sleep MS          Sleep(MS)
//   work MS           works MS of host time (no wait in the device API)
//   window MSG        makes a top-level window and runs GetMessage until the
//                     registered message MSG comes (logs "got MSG")
//   timer MS N        makes a window with a timer of MS and logs "tick K"
//                     for N ticks
//   post MSG          broadcasts the registered message MSG
//   key VK [up]       keybd_event(VK) down (or up)
//   idlereset         SystemIdleTimerReset
//   power NAME        SetSystemPowerState(NAME)
//   battery           logs "battery P ac A"
//   spawn PROG [ARGS] starts PROG with ARGS (up to the next ";", its own "|"
//                     standing for ";") and waits for it
//   start PROG [ARGS] the same without waiting
//   waitfile PATH     looks for the device path every 100 ms until it exists
//   waitwindows N     looks every 100 ms until N windows of these programs
//                     (other than its own) exist
//   notify S PROG [ARGS]  registers a timed notification of PROG with ARGS
//                     ("|" for ";") at the local time S seconds from now
//   event NAME        creates the auto-reset event NAME and holds it
//   setevent NAME     opens the event NAME and sets it
//   waitevent NAME MS opens the event NAME and waits for it MS ("inf": no
//                     limit); logs "NAME signalled", "NAME timeout" or
//                     "NAME missing"
//   exit N            ends with exit code N
// NAME is the program's exe name.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ce/errors.h"
#include "ce/event.h"
#include "ce/file.h"
#include "ce/notify.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/device.h"

namespace {

std::string gName;

std::string HostPath(std::u16string_view devicePath) {
  ce::ResolvedPath rp;
  ce::Device* d = ce::Device::Current();
  return d && d->Resolve(devicePath, &rp) ? rp.host.string() : std::string();
}

void Log(const std::string& text) {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  char when[40];
  snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  std::string line = gName + " " + when + " " + text + "\n";
  int fd = open(HostPath(u"\\clocktest.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  ssize_t w = write(fd, line.data(), line.size());
  (void)w;
  close(fd);
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

UINT gWanted = 0;
int gTicks = 0, gTickLimit = 0;

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (gWanted && msg == gWanted) {
    PostQuitMessage(0);
    return 0;
  }
  if (msg == WM_TIMER) {
    Log("tick " + std::to_string(++gTicks));
    if (gTicks >= gTickLimit) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// The program's one window.
HWND MakeWindow() {
  static HWND window = nullptr;
  if (window) return window;
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = u"ClockTest";
  RegisterClassW(&wc);
  std::u16string title = ce::FromUtf8(gName);
  window = CreateWindowExW(0, u"ClockTest", title.c_str(), WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                           nullptr);
  return window;
}

// The windows of the other programs of these tests.
int ClockTestWindows() {
  int count = 0;
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        WCHAR cls[16] = {};
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid != GetCurrentProcessId() && GetClassNameW(h, cls, 16) == 9 && std::u16string(cls) == u"ClockTest")
          ++*reinterpret_cast<int*>(p);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

void RunLoop() {
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
}

bool StartProgram(const std::string& rest, bool wait) {
  std::string prog = rest.substr(0, rest.find(' '));
  std::string args = rest.size() > prog.size() ? rest.substr(prog.size() + 1) : "";
  for (char& c : args)
    if (c == '|') c = ';';
  PROCESS_INFORMATION pi{};
  std::u16string p = ce::FromUtf8(prog), a = ce::FromUtf8(args);
  if (!CreateProcessW(p.c_str(), a.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
    Log("start failed " + std::to_string(GetLastError()));
    return false;
  }
  if (wait) WaitForSingleObject(pi.hProcess, INFINITE);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

// "S PROG [ARGS]": a timed notification S seconds ahead in local time.
void Notify(const std::string& rest) {
  const std::string seconds = rest.substr(0, rest.find(' '));
  const std::string what = rest.size() > seconds.size() ? rest.substr(seconds.size() + 1) : "";
  std::string prog = what.substr(0, what.find(' '));
  std::string args = what.size() > prog.size() ? what.substr(prog.size() + 1) : "";
  for (char& c : args)
    if (c == '|') c = ';';
  SYSTEMTIME st{};
  GetLocalTime(&st);
  st.wMilliseconds = 0;  // whole seconds, as a schedule gives them
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  ticks += std::strtoull(seconds.c_str(), nullptr, 10) * 10000000ull;
  ft = FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FileTimeToSystemTime(&ft, &st);
  std::u16string p = ce::FromUtf8(prog), a = ce::FromUtf8(args);
  CE_NOTIFICATION_TRIGGER t{};
  t.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  t.dwType = CNT_TIME;
  t.lpszApplication = p.data();
  t.lpszArguments = a.data();
  t.stStartTime = t.stEndTime = st;
  if (!CeSetUserNotificationEx(nullptr, &t, nullptr)) Log("notify failed " + std::to_string(GetLastError()));
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  const std::u16string& path = ce::OwnProgramPath();
  gName = ce::ToUtf8(path.substr(path.rfind(u'\\') + 1));
  std::string line = ce::ToUtf8(cmdLine);
  size_t pos = 0;
  while (pos <= line.size()) {
    size_t end = line.find(';', pos);
    if (end == std::string::npos) end = line.size();
    std::string step = Trim(line.substr(pos, end - pos));
    pos = end + 1;
    std::string verb = step.substr(0, step.find(' '));
    std::string arg = step.size() > verb.size() ? Trim(step.substr(verb.size())) : "";
    if (verb == "log") {
      Log(arg);
    } else if (verb == "sleep") {
      Sleep(static_cast<DWORD>(std::strtoul(arg.c_str(), nullptr, 10)));
    } else if (verb == "work") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(arg.c_str())));
    } else if (verb == "window") {
      gWanted = RegisterWindowMessageW(ce::FromUtf8(arg).c_str());
      MakeWindow();
      RunLoop();
      Log("got " + arg);
    } else if (verb == "timer") {
      gTickLimit = std::atoi(arg.substr(arg.find(' ') + 1).c_str());
      HWND w = MakeWindow();
      SetTimer(w, 1, static_cast<UINT>(std::atoi(arg.c_str())), nullptr);
      RunLoop();
    } else if (verb == "event") {
      if (!CreateEventW(nullptr, FALSE, FALSE, ce::FromUtf8(arg).c_str())) Log("event failed");
    } else if (verb == "setevent") {
      HANDLE h = OpenEventW(EVENT_MODIFY_STATE, FALSE, ce::FromUtf8(arg).c_str());
      if (!h || !SetEvent(h)) Log("setevent failed " + std::to_string(GetLastError()));
      if (h) CloseHandle(h);
    } else if (verb == "waitevent") {
      const std::string name = arg.substr(0, arg.find(' '));
      const std::string limit = arg.substr(arg.find(' ') + 1);
      HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, ce::FromUtf8(name).c_str());
      if (!h) {
        Log(name + " missing");
      } else {
        DWORD ms = limit == "inf" ? INFINITE : static_cast<DWORD>(std::strtoul(limit.c_str(), nullptr, 10));
        DWORD r = WaitForSingleObject(h, ms);
        Log(name + (r == WAIT_OBJECT_0 ? " signalled" : r == WAIT_TIMEOUT ? " timeout" : " failed"));
        CloseHandle(h);
      }
    } else if (verb == "post") {
      PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(ce::FromUtf8(arg).c_str()), 0, 0);
    } else if (verb == "key") {
      keybd_event(static_cast<BYTE>(std::strtoul(arg.c_str(), nullptr, 0)), 0,
                  arg.find("up") != std::string::npos ? KEYEVENTF_KEYUP : 0, 0);
    } else if (verb == "idlereset") {
      SystemIdleTimerReset();
    } else if (verb == "power") {
      std::u16string name = ce::FromUtf8(arg);
      SetSystemPowerState(name.c_str(), 0, 0);
    } else if (verb == "battery") {
      SYSTEM_POWER_STATUS_EX s{};
      GetSystemPowerStatusEx(&s, TRUE);
      Log("battery " + std::to_string(s.BatteryLifePercent) + " ac " + std::to_string(s.ACLineStatus));
    } else if (verb == "spawn" || verb == "start") {
      StartProgram(arg, verb == "spawn");
    } else if (verb == "waitfile") {
      std::u16string wanted = ce::FromUtf8(arg);
      while (GetFileAttributesW(wanted.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    } else if (verb == "waitwindows") {
      while (ClockTestWindows() < std::atoi(arg.c_str())) Sleep(100);
    } else if (verb == "notify") {
      Notify(arg);
    } else if (verb == "exit") {
      return std::atoi(arg.c_str());
    }
  }
  return 0;
}

CE_DEVICE_PROGRAM(WinMain)
