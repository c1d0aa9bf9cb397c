// Shared pieces of the window-layer tests: a recording top-level window and
// a few shortcuts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/window.h"
#include "ui/Loop.h"

namespace w32test {

struct Note {
  int id;
  int code;
  HWND from;
  bool operator==(const Note&) const = default;
};

// Every WM_COMMAND a host window got, and every other message by number.
inline std::vector<Note>& Notes() {
  static std::vector<Note> notes;
  return notes;
}
inline std::vector<UINT>& HostMessages() {
  static std::vector<UINT> msgs;
  return msgs;
}

inline LRESULT HostProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  HostMessages().push_back(msg);
  if (msg == WM_COMMAND) {
    Notes().push_back({LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)});
    return 0;
  }
  return DefWindowProcW(h, msg, wParam, lParam);
}

// A visible top-level window at (0, 26), 240 x 294, registered once per device.
inline HWND MakeHost(const char16_t* title = u"Host") {
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostProc;
  wc.lpszClassName = u"W32TestHost";
  RegisterClassW(&wc);  // fails harmlessly when already there
  Notes().clear();
  HostMessages().clear();
  return CreateWindowExW(0, u"W32TestHost", title, WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr, nullptr);
}

inline HWND Child(HWND parent, const char16_t* cls, const char16_t* text, DWORD style, int id, int x, int y, int w,
                  int h) {
  return CreateWindowExW(0, cls, text, style | WS_CHILD | WS_VISIBLE, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
}

inline std::u16string Text(HWND h) {
  WCHAR buf[256];
  int n = GetWindowTextW(h, buf, 256);
  return std::u16string(buf, static_cast<size_t>(n));
}

// Posts a tap at the centre of a control, in screen pixels, to its
// top-level window (as the screen front end does).
inline void Tap(HWND top, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(top, WM_LBUTTONDOWN, 0, at);
  PostMessageW(top, WM_LBUTTONUP, 0, at);
}
inline void TapAt(HWND top, int x, int y) {
  PostMessageW(top, WM_LBUTTONDOWN, 0, MAKELPARAM(x, y));
  PostMessageW(top, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}
inline void Type(HWND top, std::u16string_view text) {
  for (char16_t c : text) PostMessageW(top, WM_CHAR, c, 0);
}

}  // namespace w32test
