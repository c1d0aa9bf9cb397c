// What a layout test checks of an open window: every visible control lies
// inside the client area of the window that holds it and on the screen. A
// control outside either could not be seen whole or reached by a tap.
#pragma once

#include <string>
#include <vector>

#include "ce/window.h"

namespace layouttest {

// One line per visible child of window that leaves its client area or the
// screen ("control 2003 at (3,301)-(83,324) outside the client 0x0-240x212").
inline std::vector<std::string> Misplaced(HWND window) {
  std::vector<std::string> out;
  RECT client{};
  ::GetClientRect(window, &client);
  const int screenW = ::GetSystemMetrics(SM_CXSCREEN);
  const int screenH = ::GetSystemMetrics(SM_CYSCREEN);
  auto rectText = [](LONG l, LONG t, LONG r, LONG b) {
    return "(" + std::to_string(l) + "," + std::to_string(t) + ")-(" + std::to_string(r) + "," +
           std::to_string(b) + ")";
  };
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!::IsWindowVisible(child)) continue;
    RECT r{};
    ::GetWindowRect(child, &r);
    POINT topLeft{r.left, r.top};
    POINT bottomRight{r.right, r.bottom};
    ::ScreenToClient(window, &topLeft);
    ::ScreenToClient(window, &bottomRight);
    const std::string name = "control " + std::to_string(::GetDlgCtrlID(child));
    if (topLeft.x < client.left || topLeft.y < client.top || bottomRight.x > client.right ||
        bottomRight.y > client.bottom)
      out.push_back(name + " at " + rectText(topLeft.x, topLeft.y, bottomRight.x, bottomRight.y) +
                    " outside the client " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    if (r.left < 0 || r.top < 0 || r.right > screenW || r.bottom > screenH)
      out.push_back(name + " at " + rectText(r.left, r.top, r.right, r.bottom) + " off the screen " +
                    std::to_string(screenW) + "x" + std::to_string(screenH));
  }
  return out;
}

}  // namespace layouttest
