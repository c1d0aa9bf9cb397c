// A device program that owns one top-level window and runs a message
// loop, for tests that close, message or broadcast to other programs.
// Install it on a device under any name and start it with CreateProcessW.
//
// Command line: blank-separated words, in any order:
//   close          WM_CLOSE destroys the window and ends the program with
//                  exit code 0 (the default)
//   ignore         WM_CLOSE is ignored
//   nowindow       no window at all: the loop only waits
//   title=TEXT     window title (default: the program's exe name)
//   class=NAME     window class (default "QuilmoClosable")
//   quit-on=NAME   the registered message NAME ends the program with exit
//                  code 3 (repeatable)
// Messages it answers, for message tests:
//   WM_USER      (posted, lParam = a window) posts WM_USER + 1 back to that
//                window with wParam + 1
//   WM_USER + 2  (sent) returns wParam * 2
//   WM_USER + 3  (sent, lParam = a window) sends WM_USER + 2 to that window
//                with wParam and returns its answer + 1
#include <string>
#include <vector>

#include "ce/process.h"
#include "ce/text.h"
#include "ce/window.h"

namespace {

bool g_ignoreClose = false;
int g_exitCode = 0;
std::vector<UINT> g_quitMessages;

LRESULT ClosableProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  for (UINT quit : g_quitMessages) {
    if (msg == quit) {
      g_exitCode = 3;
      DestroyWindow(hwnd);
      return 0;
    }
  }
  switch (msg) {
    case WM_CLOSE:
      if (g_ignoreClose) return 0;
      break;
    case WM_DESTROY:
      PostQuitMessage(g_exitCode);
      return 0;
    case WM_USER:
      PostMessageW(reinterpret_cast<HWND>(lParam), WM_USER + 1, wParam + 1, 0);
      return 0;
    case WM_USER + 2:
      return static_cast<LRESULT>(wParam * 2);
    case WM_USER + 3:
      return SendMessageW(reinterpret_cast<HWND>(lParam), WM_USER + 2, wParam, 0) + 1;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR cmdLine, int) {
  std::string line = ce::ToUtf8(cmdLine ? cmdLine : u"");
  std::u16string program = ce::OwnProgramPath();
  std::u16string title = program.substr(program.find_last_of(u'\\') + 1);
  std::u16string className = u"QuilmoClosable";
  bool window = true;
  size_t pos = 0;
  while (pos < line.size()) {
    size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    std::string word = line.substr(pos, end - pos);
    pos = end + 1;
    if (word == "ignore") g_ignoreClose = true;
    else if (word == "close") g_ignoreClose = false;
    else if (word == "nowindow") window = false;
    else if (word.rfind("title=", 0) == 0) title = ce::FromUtf8(word.substr(6));
    else if (word.rfind("class=", 0) == 0) className = ce::FromUtf8(word.substr(6));
    else if (word.rfind("quit-on=", 0) == 0)
      g_quitMessages.push_back(RegisterWindowMessageW(ce::FromUtf8(word.substr(8)).c_str()));
  }
  if (window) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ClosableProc;
    wc.hInstance = instance;
    wc.lpszClassName = className.c_str();
    if (!RegisterClassW(&wc)) return 10;
    if (!CreateWindowExW(0, className.c_str(), title.c_str(), WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr,
                         instance, nullptr))
      return 11;
  }
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 12;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

CE_DEVICE_PROGRAM(WinMain)
