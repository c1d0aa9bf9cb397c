// The maker's personal-data programs outside the product, Lissent and its
// agent Corvane: one source, built as "Lissent.exe" (AGENT_LISSENT) and as
// "Corvane.exe". The product starts them (Lissent with "-initial" at its
// first start) and stops them by broadcasting the registered messages
// "QuilmoLissentQuit" and "QuilmoCorvaneQuit" to every top-level window.
//
// Each owns one top-level window (class and title: its name) and runs until
// its own quit message or WM_CLOSE. It records in the device's screen log,
// under its name as the caption:
//   started "COMMAND-LINE"        at each start
//   already running               a second start, which ends at once
//   QuilmoLissentQuit: quitting   its own quit message
//   QuilmoCorvaneQuit: not mine   the other one's (it goes on)
//   WM_CLOSE: quitting
// Lissent also makes the manual-reset event "Lissent/SystemInitComplete"
// and sets it once its window is up; the event lives while Lissent runs.
#include <string>

#include "ce/event.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/window.h"
#include "cesim/msgbox.h"

namespace {

#ifdef AGENT_LISSENT
constexpr const char16_t* kName = u"Lissent";
constexpr const char16_t* kOwnQuit = u"QuilmoLissentQuit";
constexpr const char16_t* kOtherQuit = u"QuilmoCorvaneQuit";
#else
constexpr const char16_t* kName = u"Corvane";
constexpr const char16_t* kOwnQuit = u"QuilmoCorvaneQuit";
constexpr const char16_t* kOtherQuit = u"QuilmoLissentQuit";
#endif
constexpr const char16_t* kInitCompleteEvent = u"Lissent/SystemInitComplete";

UINT g_ownQuit = 0, g_otherQuit = 0;

void Note(const std::u16string& text) {
  // The screen log is where tests and users look; a program without one
  // has nothing else to tell.
  if (!ce::AddScreenLogEntry(kName, text)) OutputDebugStringW((std::u16string(kName) + u": " + text).c_str());
}

LRESULT AgentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != 0 && msg == g_ownQuit) {
    Note(std::u16string(kOwnQuit) + u": quitting");
    DestroyWindow(hwnd);
    return 0;
  }
  if (msg != 0 && msg == g_otherQuit) {
    Note(std::u16string(kOtherQuit) + u": not mine");
    return 0;
  }
  switch (msg) {
    case WM_CLOSE:
      Note(u"WM_CLOSE: quitting");
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR cmdLine, int) {
  if (FindWindowW(kName, nullptr)) {
    Note(u"already running");
    return 0;
  }
  Note(u"started \"" + std::u16string(cmdLine ? cmdLine : u"") + u"\"");
  g_ownQuit = RegisterWindowMessageW(kOwnQuit);
  g_otherQuit = RegisterWindowMessageW(kOtherQuit);
  WNDCLASSW wc{};
  wc.lpfnWndProc = AgentProc;
  wc.hInstance = instance;
  wc.lpszClassName = kName;
  if (!RegisterClassW(&wc)) return 10;
  if (!CreateWindowExW(0, kName, kName, WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr, instance, nullptr)) return 11;
  HANDLE initComplete = nullptr;
#ifdef AGENT_LISSENT
  initComplete = CreateEventW(nullptr, TRUE, FALSE, kInitCompleteEvent);
  if (!initComplete || !SetEvent(initComplete)) Note(u"cannot set " + std::u16string(kInitCompleteEvent));
#endif
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 12;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (initComplete) CloseHandle(initComplete);
  return static_cast<int>(msg.wParam);
}

CE_DEVICE_PROGRAM(WinMain)
