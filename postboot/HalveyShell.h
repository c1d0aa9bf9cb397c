// The device shell as the post-boot popup meets it: the named events a
// starting device sets when its window system and shell are up, and the
// notification bubble that shows the message.
#pragma once

#include "ce/cstring.h"
#include "ce/window.h"

// One bubble as the popup fills it.
struct HalveyBubble {
  DWORD id = 0;
  DWORD priority = 0;
  DWORD durationSeconds = 0;
  DWORD flags = 0;
  HICON icon = nullptr;
  HWND sink = nullptr;
  CString html;
  CString title;
};

// For each of halvey::kReadyEvents that can be opened: waits for it
// without limit and closes it. Events that do not exist are skipped.
void WaitForReadyEvents();

// Shows the bubble; false when the shell refused it.
bool AddHalveyBubble(const HalveyBubble& bubble);
