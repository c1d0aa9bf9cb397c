#include "postboot/HalveyShell.h"

#include "ce/errors.h"
#include "ce/event.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "postboot/HalveyFormat.h"

void WaitForReadyEvents() {
  for (const WCHAR* name : halvey::kReadyEvents) {
    HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, name);
    if (!event) continue;
    // Without limit: the popup has nothing to show before the shell is up.
    WaitForSingleObject(event, INFINITE);
    CloseHandle(event);
  }
}

bool AddHalveyBubble(const HalveyBubble& bubble) {
  SHNOTIFICATIONDATA data{};
  data.cbStruct = sizeof(data);
  data.dwID = bubble.id;
  data.npPriority = bubble.priority;
  data.csDuration = bubble.durationSeconds;
  data.hicon = bubble.icon;
  data.grfFlags = bubble.flags;
  data.clsid = halvey::kBubbleClass;
  data.hwndSink = bubble.sink;
  data.pszHTML = bubble.html;
  data.pszTitle = bubble.title;
  return SHNotificationAdd(&data) == ERROR_SUCCESS;
}
