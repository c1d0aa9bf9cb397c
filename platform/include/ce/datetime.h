// The date-time picker ("SysDateTimePick32"): one SYSTEMTIME shown as a
// short or long date or, with DTS_TIMEFORMAT, a time; DTM_SETFORMATW sets a
// picture of the style's kind (ce/time.h: date pictures for a date picker,
// time pictures such as "HH:mm" for a time picker). A new picker holds the
// current local time. The window text is what it shows. Changes by the user
// (the arrow keys step the day or the minute) send the parent WM_NOTIFY
// DTN_DATETIMECHANGE; DTM_SETSYSTEMTIME does not.
#pragma once

#include "ce/controls.h"
#include "ce/types.h"

#define DATETIMEPICK_CLASSW u"SysDateTimePick32"

#define DTS_UPDOWN 0x0001u
#define DTS_SHOWNONE 0x0002u
#define DTS_SHORTDATEFORMAT 0x0000u
#define DTS_LONGDATEFORMAT 0x0004u
#define DTS_TIMEFORMAT 0x0009u
#define DTS_APPCANPARSE 0x0010u
#define DTS_RIGHTALIGN 0x0020u

#define DTM_FIRST 0x1000u
// wParam 0, lParam SYSTEMTIME* -> GDT_VALID, GDT_NONE (DTS_SHOWNONE, no
// date), GDT_ERROR (no room).
#define DTM_GETSYSTEMTIME (DTM_FIRST + 1)
// wParam GDT_VALID with lParam SYSTEMTIME*, or GDT_NONE (only with
// DTS_SHOWNONE) -> TRUE; an invalid date or time is refused (FALSE).
#define DTM_SETSYSTEMTIME (DTM_FIRST + 2)
// lParam the picture (null: the style's own) -> TRUE.
#define DTM_SETFORMATW (DTM_FIRST + 50)
#define DTM_SETFORMAT DTM_SETFORMATW

#define GDT_ERROR (-1)
#define GDT_VALID 0
#define GDT_NONE 1

#define DTN_FIRST (0u - 760u)
#define DTN_DATETIMECHANGE (DTN_FIRST + 1u)
struct NMDATETIMECHANGE {
  NMHDR nmhdr;
  DWORD dwFlags;  // GDT_VALID or GDT_NONE
  SYSTEMTIME st;
};
typedef NMDATETIMECHANGE* LPNMDATETIMECHANGE;
