// The date-time picker (ce/datetime.h): its value lives in the window model
// (ControlState::dateTime); the window text is the value as shown.
#include <algorithm>

#include "ce/datetime.h"
#include "ce/errors.h"
#include "ce/time.h"
#include "window/window_state.h"

namespace ce::win {
namespace {

bool IsTimeStyle(DWORD style) { return (style & DTS_TIMEFORMAT) == DTS_TIMEFORMAT; }

DWORD StyleOfPicker(HWND h) {
  return WithWindow(h, false, [](LocalWindow& w) { return w.style; });
}

bool Valid(const SYSTEMTIME& t) {
  return t.wYear >= 1601 && t.wYear <= 30827 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
         t.wDay <= DaysInMonth(t.wYear, t.wMonth) && t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 &&
         t.wMilliseconds < 1000;
}

// The weekday filled in (1601-01-01 was a Monday).
SYSTEMTIME Normal(SYSTEMTIME t) {
  const int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay);  // days since 1970-01-01, a Thursday
  t.wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);
  return t;
}

std::u16string Shown(DWORD style, const DateTimeState& s) {
  if (!s.valid) return u"";
  const LPCWSTR picture = s.format.empty() ? nullptr : s.format.c_str();
  WCHAR buf[128] = {};
  int n = 0;
  if (IsTimeStyle(style)) {
    n = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &s.time, picture, buf, 128);
  } else {
    const DWORD flags = picture ? 0 : ((style & DTS_LONGDATEFORMAT) ? DATE_LONGDATE : DATE_SHORTDATE);
    n = GetDateFormatW(LOCALE_USER_DEFAULT, flags, &s.time, picture, buf, 128);
  }
  return n > 0 ? std::u16string(buf, static_cast<size_t>(n - 1)) : std::u16string();
}

// Stores the value (and the picture) and shows it.
void Store(HWND h, const DateTimeState& next) {
  WithWindow(h, true, [&](LocalWindow& w) {
    w.ctl.dateTime = next;
    w.text = Shown(w.style, next);
    return 0;
  });
}

DateTimeState StateOfPicker(HWND h) {
  return WithWindow(h, false, [](LocalWindow& w) { return w.ctl.dateTime; });
}

void NotifyChange(HWND h) {
  const DateTimeState s = StateOfPicker(h);
  NMDATETIMECHANGE nm{};
  nm.nmhdr = NMHDR{h, static_cast<UINT_PTR>(GetDlgCtrlID(h)), DTN_DATETIMECHANGE};
  nm.dwFlags = s.valid ? GDT_VALID : GDT_NONE;
  nm.st = s.time;
  SendMessageW(GetParent(h), WM_NOTIFY, nm.nmhdr.idFrom, reinterpret_cast<LPARAM>(&nm));
}

// One step of the arrow keys: a day for a date, a minute for a time.
void Step(HWND h, int delta) {
  DateTimeState s = StateOfPicker(h);
  if (!s.valid) return;
  const bool time = IsTimeStyle(StyleOfPicker(h));
  SYSTEMTIME& t = s.time;
  if (time) {
    int minutes = (t.wHour * 60 + t.wMinute + delta + 24 * 60) % (24 * 60);
    t.wHour = static_cast<WORD>(minutes / 60);
    t.wMinute = static_cast<WORD>(minutes % 60);
  } else {
    FILETIME ft{};
    if (!SystemTimeToFileTime(&t, &ft)) return;
    uint64_t v = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    v += static_cast<uint64_t>(static_cast<int64_t>(delta) * 864000000000LL);
    ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
    ft.dwLowDateTime = static_cast<DWORD>(v);
    SYSTEMTIME next{};
    if (!FileTimeToSystemTime(&ft, &next) || !Valid(next)) return;
    t = next;
  }
  s.time = Normal(t);
  Store(h, s);
  NotifyChange(h);
}

}  // namespace

LRESULT DateTimeProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: {
      DateTimeState s;
      GetLocalTime(&s.time);
      s.time.wMilliseconds = 0;
      s.valid = true;
      Store(h, s);
      return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTARROWS;
    case DTM_GETSYSTEMTIME: {
      auto* out = reinterpret_cast<SYSTEMTIME*>(lParam);
      if (!out) return GDT_ERROR;
      const DateTimeState s = StateOfPicker(h);
      if (!s.valid) return GDT_NONE;
      *out = s.time;
      return GDT_VALID;
    }
    case DTM_SETSYSTEMTIME: {
      DateTimeState s = StateOfPicker(h);
      if (static_cast<int>(wParam) == GDT_NONE) {
        if (!(StyleOfPicker(h) & DTS_SHOWNONE)) return FALSE;
        s.valid = false;
      } else {
        auto* in = reinterpret_cast<const SYSTEMTIME*>(lParam);
        if (static_cast<int>(wParam) != GDT_VALID || !in || !Valid(*in)) return FALSE;
        s.time = Normal(*in);
        s.valid = true;
      }
      Store(h, s);
      return TRUE;
    }
    case DTM_SETFORMATW: {
      DateTimeState s = StateOfPicker(h);
      auto* picture = reinterpret_cast<LPCWSTR>(lParam);
      s.format = picture ? picture : u"";
      Store(h, s);
      return TRUE;
    }
    case WM_SETTEXT: return FALSE;  // the value decides what it shows
    case WM_LBUTTONDOWN:
      SetFocus(h);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_UP || wParam == VK_DOWN) Step(h, wParam == VK_UP ? 1 : -1);
      return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

}  // namespace ce::win
