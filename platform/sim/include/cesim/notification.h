// The simulator's view of this process's notification bubbles (ce/shell.h),
// for automation, UI scripts and the window layer's stall report.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ce/com.h"
#include "ce/types.h"

namespace ce {

struct NotificationBubble {
  HWND hwnd = nullptr;  // its window (class kNotificationBubbleClass)
  CLSID clsid{};
  DWORD id = 0;
  HWND sink = nullptr;
  std::u16string title;
  std::u16string text;  // the HTML as plain text
  std::vector<std::pair<int, std::u16string>> buttons;  // command, label
};
// The bubbles this process shows, oldest first.
std::vector<NotificationBubble> OwnNotificationBubbles();
// Presses the button with that command on the newest bubble that has one,
// as a tap would (the sink hears WM_NOTIFY, then WM_COMMAND). False when
// no bubble of this process has such a button.
bool PressNotificationButton(int command);

}  // namespace ce
