// ui::test::Dialog actions on menu bars, tab strips and date-time pickers.
#include <string>

#include "ce/controls.h"
#include "ce/datetime.h"
#include "ce/menu.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/menubar.h"
#include "ui/Automation.h"

namespace ui::test {
namespace {

HWND TopOf(HWND h) {
  while (h && (static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE)) & WS_CHILD)) {
    HWND p = GetParent(h);
    if (!p) break;
    h = p;
  }
  return h;
}

bool IsClassOf(HWND h, std::u16string_view cls) {
  WCHAR name[64] = {};
  int n = GetClassNameW(h, name, 64);
  return n > 0 && ce::EqualNoCase(std::u16string_view(name, static_cast<size_t>(n)), cls);
}

// The first descendant of that class (creation order).
HWND FindClass(HWND parent, std::u16string_view cls) {
  struct Search {
    std::u16string_view cls;
    HWND found = nullptr;
  } s{cls};
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (!IsClassOf(h, s->cls)) return TRUE;
        s->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// Positions from `menu` down to command `id` (the last is the item's).
bool PathTo(HMENU menu, int id, std::vector<int>* path, int depth = 0) {
  const int n = GetMenuItemCount(menu);
  if (n < 0 || depth > 8) return false;
  for (int i = 0; i < n; ++i) {
    path->push_back(i);
    if (HMENU sub = GetSubMenu(menu, i)) {
      if (PathTo(sub, id, path, depth + 1)) return true;
    } else if (static_cast<int>(GetMenuItemID(menu, i)) == id && GetMenuItemID(menu, i) != 0) {
      return true;
    }
    path->pop_back();
  }
  return false;
}

// A tap at the centre of r (screen) on the bar.
void TapBar(HWND bar, const RECT& r) {
  RECT b{};
  GetWindowRect(bar, &b);
  const int x = (r.left + r.right) / 2 - b.left, y = (r.top + r.bottom) / 2 - b.top;
  SendMessageW(bar, WM_LBUTTONDOWN, 0, MAKELPARAM(x, y));
  SendMessageW(bar, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

std::string Escape(const std::u16string& s) {
  std::string out;
  for (char c : ce::ToUtf8(s)) {
    if (c == '|' || c == '{' || c == '}' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

std::string MenuText(HMENU menu) {
  std::string out;
  const int n = GetMenuItemCount(menu);
  for (int i = 0; i < n; ++i) {
    if (i) out += '|';
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    WCHAR text[256] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
    if (state & MF_SEPARATOR) {
      out += '-';
      continue;
    }
    if (HMENU sub = GetSubMenu(menu, i)) {
      out += ">" + Escape(text) + "{" + MenuText(sub) + "}";
    } else {
      out += std::to_string(GetMenuItemID(menu, i)) + ":" + Escape(text);
    }
    if (state & (MF_GRAYED | MF_DISABLED)) out += "(off)";
    if (state & MF_CHECKED) out += "(on)";
  }
  return out;
}

bool Dialog::PickMenu(int command) {
  const std::string what = "menu " + std::to_string(command);
  if (!IsWindow(hwnd_)) return Fail(what + ": the dialog is gone");
  HWND bar = SHFindMenuBar(TopOf(hwnd_));
  if (!bar) bar = SHFindMenuBar(hwnd_);
  if (!bar || !IsWindowVisible(bar)) return Fail(what + ": the dialog has no menu bar");
  if (!IsWindowEnabled(bar)) return Fail(what + ": the menu bar is disabled");
  ce::MenuBarView v;
  if (!ce::DescribeMenuBar(bar, &v)) return Fail(what + ": the menu bar cannot be read");
  // A plain button, else the button whose menu holds the command.
  size_t button = v.buttons.size();
  std::vector<int> path;
  for (size_t i = 0; i < v.buttons.size() && button == v.buttons.size(); ++i) {
    const auto& b = v.buttons[i];
    if (!b.popup && b.id == command) button = i;
    else if (b.popup && PathTo(b.menu, command, &path)) button = i;
  }
  if (button == v.buttons.size()) return Fail(what + ": no such entry on the menu bar");
  if (v.panes.empty() || !v.buttons[button].open) TapBar(bar, v.buttons[button].rect);
  if (!v.buttons[button].popup) return true;
  for (size_t k = 0; k < path.size(); ++k) {
    if (!ce::DescribeMenuBar(bar, &v) || v.panes.size() <= k) {
      SendMessageW(bar, WM_KEYDOWN, VK_ESCAPE, 0);
      return Fail(what + ": a menu did not open");
    }
    const ce::MenuEntryView& e = v.panes[k].entries[static_cast<size_t>(path[k])];
    if (!e.enabled) {
      SendMessageW(bar, WM_KEYDOWN, VK_ESCAPE, 0);
      return Fail(what + ": \"" + ce::ToUtf8(e.text) + "\" is disabled");
    }
    if (!e.open) TapBar(bar, e.rect);
  }
  return true;
}

bool Dialog::ChooseTab(int index) {
  const std::string what = "tab " + std::to_string(index);
  if (!IsWindow(hwnd_)) return Fail(what + ": the dialog is gone");
  HWND tabs = FindClass(TopOf(hwnd_), WC_TABCONTROLW);
  if (!tabs) return Fail(what + ": the dialog has no tabs");
  if (!IsWindowVisible(tabs) || !IsWindowEnabled(tabs)) return Fail(what + ": the tabs are hidden or disabled");
  RECT r{};
  if (!SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r)))
    return Fail(what + ": no such tab");
  const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
  SendMessageW(tabs, WM_LBUTTONDOWN, 0, MAKELPARAM(x, y));
  SendMessageW(tabs, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  const int now = static_cast<int>(SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
  if (now != index) return Fail(what + ": the tab was not taken (tab " + std::to_string(now) + " stays)");
  return true;
}

bool Dialog::SetDateTime(int id, const SYSTEMTIME& value, bool hasDate, bool hasTime) {
  const std::string what = "datetime control " + std::to_string(id);
  if (!IsWindow(hwnd_)) return Fail(what + ": the dialog is gone");
  HWND h = FindControl(id);
  if (!h) return Fail("datetime: no control " + std::to_string(id));
  if (!IsWindowVisible(h) || !IsWindowEnabled(h)) return Fail(what + " is hidden or disabled");
  if (!IsClassOf(h, DATETIMEPICK_CLASSW)) return Fail(what + " is not a date-time picker");
  SYSTEMTIME t{};
  if (SendMessageW(h, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t)) != GDT_VALID) GetLocalTime(&t);
  if (hasDate) {
    t.wYear = value.wYear;
    t.wMonth = value.wMonth;
    t.wDay = value.wDay;
  }
  if (hasTime) {
    t.wHour = value.wHour;
    t.wMinute = value.wMinute;
    t.wSecond = 0;
    t.wMilliseconds = 0;
  }
  if (!SendMessageW(h, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&t)))
    return Fail(what + " refused the value");
  SendMessageW(h, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&t));
  NMDATETIMECHANGE nm{};
  nm.nmhdr = NMHDR{h, static_cast<UINT_PTR>(id), DTN_DATETIMECHANGE};
  nm.dwFlags = GDT_VALID;
  nm.st = t;
  SendMessageW(GetParent(h), WM_NOTIFY, nm.nmhdr.idFrom, reinterpret_cast<LPARAM>(&nm));
  return true;
}

bool Dialog::MenuOf(int button, std::string* text) const {
  if (!IsWindow(hwnd_)) return false;
  HWND bar = SHFindMenuBar(TopOf(hwnd_));
  if (!bar) bar = SHFindMenuBar(hwnd_);
  if (!bar) return false;
  HMENU menu = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, button));
  if (!menu) return false;
  *text = MenuText(menu);
  return true;
}

}  // namespace ui::test
