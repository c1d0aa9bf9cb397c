// A windowed device program for the window layer's device-clock tests: a
// window with a timer, run by the layer's message loop. Command line:
// "ELAPSE-MS TICKS"; each tick appends "tick K HH:MM:SS" (device local time)
// to "\uiclock.log"; after TICKS ticks the program ends.
// "bubble SECONDS": a hidden window shows a notification bubble (buttons
// 123 and 124, up for SECONDS) with itself as the sink, as the post-boot
// popup does; a button logs "command N", removes the bubble and ends the
// program; an ended loop logs "loop ended".
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/device.h"
#include "ui/Automation.h"
#include "ui/Loop.h"

namespace {

int gTicks = 0, gLimit = 1;

void Log(const std::string& text) {
  ce::ResolvedPath rp;
  ce::Device* d = ce::Device::Current();
  if (!d || !d->Resolve(u"\\uiclock.log", &rp)) return;
  SYSTEMTIME st{};
  GetLocalTime(&st);
  char line[80];
  snprintf(line, sizeof line, "%s %02u:%02u:%02u\n", text.c_str(), st.wHour, st.wMinute, st.wSecond);
  int fd = open(rp.host.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  ssize_t w = write(fd, line, strlen(line));
  (void)w;
  close(fd);
}

const CLSID kBubbleClsid{0x51C0FFEE, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && (LOWORD(wParam) == 123 || LOWORD(wParam) == 124)) {
    Log("command " + std::to_string(LOWORD(wParam)));
    SHNotificationRemove(&kBubbleClsid, 1);
    PostQuitMessage(0);
    return 0;
  }
  if (msg == WM_TIMER) {
    Log("tick " + std::to_string(++gTicks));
    if (gTicks >= gLimit) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int ShowBubble(DWORD seconds) {
  if (!ui::InitFromEnvironment()) return 3;
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = u"UiBubbleSink";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, u"UiBubbleSink", u"Sink", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  SHNOTIFICATIONDATA d{};
  d.cbStruct = sizeof d;
  d.dwID = 1;
  d.npPriority = SHNP_INFORM;
  d.csDuration = seconds;
  d.clsid = kBubbleClsid;
  d.hwndSink = w;
  d.pszTitle = u"Restore";
  d.pszHTML = u"<p>The restore is done.</p><input type=button name='cmd:123' value='Report'>"
              u"<input type=button name='cmd:124' value='Close'>";
  if (SHNotificationAdd(&d) != ERROR_SUCCESS) return 2;
  ui::RunMessageLoop();
  Log("loop ended");
  return ui::ScriptExitCode();
}

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  std::string line = ce::ToUtf8(cmdLine);
  if (line.rfind("bubble ", 0) == 0) return ShowBubble(static_cast<DWORD>(std::strtoul(line.c_str() + 7, nullptr, 10)));
  const UINT elapse = static_cast<UINT>(std::strtoul(line.c_str(), nullptr, 10));
  gLimit = std::atoi(line.substr(line.find(' ') + 1).c_str());
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = u"UiClock";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, u"UiClock", u"UiClock", WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  SetTimer(w, 1, elapse, nullptr);
  return ui::RunMessageLoop();
}

CE_DEVICE_PROGRAM(WinMain)
