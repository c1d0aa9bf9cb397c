// ui::test::Dialog: input to a dialog's controls as a user would give it.
#include <string>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/text.h"
#include "ce/window.h"
#include "cesim/window.h"
#include "ui/Automation.h"

#ifndef LB_SETCURSEL
#define LB_SETCURSEL 0x0186u
#endif

namespace ui::test {
namespace {

std::u16string ClassOf(HWND h) {
  WCHAR name[64] = {};
  int n = GetClassNameW(h, name, 64);
  return std::u16string(name, n > 0 ? n : 0);
}

bool IsClass(HWND h, std::u16string_view cls) { return ce::EqualNoCase(ClassOf(h), cls); }

std::u16string TextOf(HWND h) {
  int len = GetWindowTextLengthW(h);
  if (len <= 0) return {};
  std::u16string s(static_cast<size_t>(len) + 1, u'\0');
  int n = GetWindowTextW(h, s.data(), len + 1);
  s.resize(n > 0 ? n : 0);
  return s;
}

std::string Id(int id) { return "control " + std::to_string(id); }

// The top-level window a (child) dialog belongs to.
HWND TopLevel(HWND h) {
  while (h && (static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE)) & WS_CHILD)) {
    HWND p = GetParent(h);
    if (!p) break;
    h = p;
  }
  return h;
}

// A descendant with that control id, a visible one first.
HWND FindDescendant(HWND parent, int id) {
  struct Search {
    int id;
    HWND visible = nullptr, any = nullptr;
  } s{id};
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (GetDlgCtrlID(h) != s->id) return TRUE;
        if (!s->any) s->any = h;
        if (IsWindowVisible(h)) {
          s->visible = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.visible ? s.visible : s.any;
}

void Notify(HWND control, int code) {
  HWND parent = GetParent(control);
  if (parent) SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code), (LPARAM)control);
}

}  // namespace

Dialog::Dialog(HWND hwnd, Sink sink) : hwnd_(hwnd), sink_(std::move(sink)) {}

int Dialog::TemplateId() const { return ce::GetDialogTemplateId(hwnd_); }

// A direct child first, then any descendant (controls of property pages),
// then the controls of the top-level dialog a page belongs to.
HWND Dialog::FindControl(int id) const {
  if (!IsWindow(hwnd_)) return nullptr;
  HWND h = GetDlgItem(hwnd_, id);
  if (!h) h = FindDescendant(hwnd_, id);
  HWND top = TopLevel(hwnd_);
  if (!h && top != hwnd_) h = FindDescendant(top, id);
  return h;
}

bool Dialog::Fail(const std::string& reason) {
  if (sink_) sink_(reason);
  return false;
}

// The control for an action; null (failure recorded) when it is missing or
// a user could not reach it.
HWND Dialog::Control(int id, const char* action, bool mustBeUsable) {
  if (!IsWindow(hwnd_)) {
    Fail(std::string(action) + " " + Id(id) + ": the dialog is gone");
    return nullptr;
  }
  HWND h = FindControl(id);
  if (!h) {
    Fail(std::string(action) + ": no " + Id(id));
    return nullptr;
  }
  if (mustBeUsable && !IsWindowVisible(h)) {
    Fail(std::string(action) + ": " + Id(id) + " is hidden");
    return nullptr;
  }
  if (mustBeUsable && !IsWindowEnabled(h)) {
    Fail(std::string(action) + ": " + Id(id) + " is disabled");
    return nullptr;
  }
  return h;
}

std::u16string Dialog::Text(int id) const {
  HWND h = FindControl(id);
  return h ? TextOf(h) : std::u16string();
}

bool Dialog::SetText(int id, std::u16string_view text) {
  HWND h = Control(id, "set", true);
  if (!h) return false;
  std::u16string s(text);
  const bool combo = IsClass(h, u"COMBOBOX");
  if (combo && (static_cast<UINT>(GetWindowLongW(h, GWL_STYLE)) & 3u) == CBS_DROPDOWNLIST)
    return Fail("set: " + Id(id) + " is a drop-down list (use select)");
  if (!combo && !IsClass(h, u"EDIT")) return Fail("set: " + Id(id) + " is not an edit");
  if (!combo) {
    if (GetWindowLongW(h, GWL_STYLE) & ES_READONLY) return Fail("set: " + Id(id) + " is read-only");
    // Typing stops at the edit's limit.
    LRESULT limit = SendMessageW(h, EM_GETLIMITTEXT, 0, 0);
    if (limit > 0 && s.size() > static_cast<size_t>(limit)) s.resize(static_cast<size_t>(limit));
  }
  // The window layer sends EN_CHANGE to the parent for an edit.
  if (!SetWindowTextW(h, s.c_str())) return Fail("set: " + Id(id) + " refused the text");
  return true;
}

bool Dialog::Click(int id) {
  if (IsWindow(hwnd_) && !FindControl(id) && (id == IDOK || id == IDCANCEL)) {
    SendMessageW(TopLevel(hwnd_), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    return true;
  }
  HWND h = Control(id, "click", true);
  if (!h) return false;
  if (!IsClass(h, u"BUTTON")) return Fail("click: " + Id(id) + " is not a button");
  SendMessageW(h, BM_CLICK, 0, 0);
  return true;
}

bool Dialog::TapControl(int id) {
  HWND h = Control(id, "tap", true);
  if (!h) return false;
  RECT r{};
  GetClientRect(h, &r);
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(h, WM_LBUTTONDOWN, 0x0001 /* MK_LBUTTON */, at);
  // The press may have closed the window (a button that ends its dialog).
  if (IsWindow(h)) SendMessageW(h, WM_LBUTTONUP, 0, at);
  return true;
}

bool Dialog::SetCheck(int id, int state) {
  HWND h = Control(id, "check", true);
  if (!h) return false;
  if (!IsClass(h, u"BUTTON")) return Fail("check: " + Id(id) + " is not a button");
  const UINT type = static_cast<UINT>(GetWindowLongW(h, GWL_STYLE)) & BS_TYPEMASK;
  auto current = [&] { return static_cast<int>(SendMessageW(h, BM_GETCHECK, 0, 0)); };
  if (current() == state) return true;
  if (type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON) {
    // Clicks, as many as a user needs (the control moves its own state).
    for (int i = 0; i < 3 && current() != state; ++i) SendMessageW(h, BM_CLICK, 0, 0);
  } else if (type == BS_CHECKBOX || type == BS_3STATE || type == BS_RADIOBUTTON) {
    SendMessageW(h, BM_SETCHECK, static_cast<WPARAM>(state), 0);
    Notify(h, BN_CLICKED);
  } else {
    return Fail("check: " + Id(id) + " is not a check box or radio button");
  }
  if (current() != state)
    return Fail("check: " + Id(id) + " did not reach state " + std::to_string(state) + " (it is " +
                std::to_string(current()) + ")");
  return true;
}

bool Dialog::Select(int id, int index) {
  HWND h = Control(id, "select", true);
  if (!h) return false;
  if (IsClass(h, u"SysListView32")) return TapItem(id, index);
  bool combo = IsClass(h, u"COMBOBOX");
  if (!combo && !IsClass(h, u"LISTBOX")) return Fail("select: " + Id(id) + " is not a combo or list box");
  LRESULT r = SendMessageW(h, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  if (r == CB_ERR || r != index) return Fail("select: " + Id(id) + " has no item " + std::to_string(index));
  Notify(h, combo ? CBN_SELCHANGE : LBN_SELCHANGE);
  return true;
}

bool Dialog::Focus(int id) {
  HWND h = Control(id, "focus", true);
  if (!h) return false;
  SetFocus(h);
  if (GetFocus() != h) return Fail("focus: " + Id(id) + " did not take the focus");
  return true;
}

bool Dialog::Key(UINT vk) {
  if (!IsWindow(hwnd_)) return Fail("key " + std::to_string(vk) + ": the dialog is gone");
  if (!PostMessageW(TopLevel(hwnd_), WM_KEYDOWN, vk, 0)) return Fail("key " + std::to_string(vk) + ": not delivered");
  return true;
}

bool Dialog::IsVisible(int id) const {
  HWND h = FindControl(id);
  return h && IsWindowVisible(h);
}

bool Dialog::IsEnabled(int id) const {
  HWND h = FindControl(id);
  return h && IsWindowEnabled(h);
}

RECT Dialog::Rect(int id) const {
  RECT r{0, 0, 0, 0};
  HWND h = FindControl(id);
  if (h) GetWindowRect(h, &r);
  return r;
}

}  // namespace ui::test
