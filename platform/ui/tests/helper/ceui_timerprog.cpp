// A windowed device program for the window layer's device-clock tests: a
// window with a timer, run by the layer's message loop. Command line:
// "ELAPSE-MS TICKS"; each tick appends "tick K HH:MM:SS" (device local time)
// to "\uiclock.log"; after TICKS ticks the program ends.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/device.h"
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

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    Log("tick " + std::to_string(++gTicks));
    if (gTicks >= gLimit) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  std::string line = ce::ToUtf8(cmdLine);
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
