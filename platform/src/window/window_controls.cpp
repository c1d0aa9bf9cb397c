// The built-in control classes: STATIC, BUTTON, EDIT, COMBOBOX, LISTBOX,
// msctls_progress32 and msctls_updown32 (and SysListView32, whose own file
// is window_listview.cpp). Their state lives in the window
// model (LocalWindow::ctl); notifications go to the parent as WM_COMMAND
// (MAKEWPARAM(id, code), control) or, for up-down controls, WM_NOTIFY.
#include <algorithm>
#include <tuple>
#include <utility>
#include <cwctype>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/text.h"
#include "cesim/window.h"
#include "window/window_state.h"
#include "window/window_treeview.h"

namespace ce::win {
namespace {

// Sets a range control's limits and pulls its position into them.
void SetRange(LocalWindow& w, int min, int max) {
  w.ctl.min = min;
  w.ctl.max = max;
  w.ctl.pos = std::clamp(w.ctl.pos, std::min(min, max), std::max(min, max));
}
// The 32-bit form: the minimum in wParam, the maximum in lParam.
void SetRange32(LocalWindow& w, WPARAM wParam, LPARAM lParam) {
  SetRange(w, static_cast<int>(static_cast<INT_PTR>(wParam)), static_cast<int>(lParam));
}

int CopyOut(const std::u16string& text, LPWSTR out, size_t room) {
  if (!out) return static_cast<int>(text.size());
  size_t n = std::min(text.size(), room);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
  out[n] = 0;
  return static_cast<int>(n);
}

DWORD Style(HWND h) {
  return WithWindow(h, false, [](LocalWindow& w) { return w.style; });
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
// A surrogate pair starts at i of s.
bool PairAt(std::u16string_view s, size_t i) {
  return i + 1 < s.size() && IsHighSurrogate(s[i]) && IsLowSurrogate(s[i + 1]);
}

// Pixels of one character / one list row at the current scale.
int CharWidth() { return 8 * GetDisplayScale(); }
int RowHeight() { return 16 * GetDisplayScale(); }

PaintDcHooks& DcHooks() {
  static PaintDcHooks hooks;
  return hooks;
}

// ---------------------------------------------------------------- STATIC

// A static paints with the text colour its parent's WM_CTLCOLORSTATIC
// answer sets; the model keeps it for the screen.
void PaintStatic(HWND h) {
  ValidateRect(h, nullptr);
  const PaintDcHooks hooks = DcHooks();
  HWND parent = GetParent(h);
  if (!hooks.get || !hooks.release || !hooks.textColor || !parent) return;
  HDC dc = hooks.get(h);
  if (!dc) return;
  const COLORREF before = hooks.textColor(dc);
  SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(h));
  const COLORREF color = hooks.textColor(dc);
  hooks.release(h, dc);
  WithWindow(h, false, [&](LocalWindow& w) {
    w.ctl.hasTextColor = color != before;
    w.ctl.textColor = color;
    return 0;
  });
}

LRESULT StaticProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_GETDLGCODE: return DLGC_STATIC;
    case WM_PAINT: PaintStatic(h); return 0;
    case WM_LBUTTONUP:
      if (Style(h) & SS_NOTIFY) Notify(h, STN_CLICKED);
      return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

// ---------------------------------------------------------------- BUTTON

DWORD ButtonType(HWND h) { return Style(h) & BS_TYPEMASK; }

// The siblings of h's radio group (from the WS_GROUP control before it to
// the next one).
std::vector<HWND> RadioGroup(HWND h) {
  std::vector<HWND> out;
  HWND parent = GetParent(h);
  std::vector<HWND> sib;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) sib.push_back(c);
  auto it = std::find(sib.begin(), sib.end(), h);
  if (it == sib.end()) return out;
  auto first = it;
  while (first != sib.begin() && !(Style(*first) & WS_GROUP)) --first;
  for (auto c = first; c != sib.end(); ++c) {
    if (c != first && (Style(*c) & WS_GROUP)) break;
    out.push_back(*c);
  }
  return out;
}

void Click(HWND h) {
  switch (ButtonType(h)) {
    case BS_AUTOCHECKBOX:
      WithWindow(h, true, [](LocalWindow& w) { return w.ctl.check = w.ctl.check ? 0 : 1; });
      break;
    case BS_AUTO3STATE:
      WithWindow(h, true, [](LocalWindow& w) { return w.ctl.check = (w.ctl.check + 1) % 3; });
      break;
    case BS_AUTORADIOBUTTON:
      for (HWND c : RadioGroup(h)) {
        DWORD type = ButtonType(c);
        if (c != h && (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON))
          WithWindow(c, true, [](LocalWindow& w) { return w.ctl.check = 0; });
      }
      WithWindow(h, true, [](LocalWindow& w) { return w.ctl.check = 1; });
      break;
    default: break;
  }
  Notify(h, BN_CLICKED);
}

// Asks the parent to draw an owner-drawn button as it is now.
void DrawOwnerButton(HWND h) {
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_BUTTON;
  item.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
  item.itemAction = ODA_DRAWENTIRE;
  if (WithWindow(h, false, [](LocalWindow& w) { return w.ctl.pushed; })) item.itemState |= ODS_SELECTED;
  if (GetFocus() == h) item.itemState |= ODS_FOCUS;
  if (!IsWindowEnabled(h)) item.itemState |= ODS_DISABLED;
  item.hwndItem = h;
  GetClientRect(h, &item.rcItem);
  const PaintDcHooks hooks = DcHooks();
  if (hooks.get) item.hDC = hooks.get(h);
  SendMessageW(GetParent(h), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
  if (item.hDC && hooks.release) hooks.release(h, item.hDC);
}

// An owner-drawn button shows its state as drawn: a change repaints it.
void Repaint(HWND h) {
  if (ButtonType(h) == BS_OWNERDRAW) InvalidateRect(h, nullptr, FALSE);
}

LRESULT ButtonProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  const DWORD type = ButtonType(h);
  const bool checkable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                         type == BS_3STATE || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON;
  switch (msg) {
    case WM_GETDLGCODE:
      switch (type) {
        case BS_PUSHBUTTON: return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case BS_DEFPUSHBUTTON: return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: return DLGC_BUTTON | DLGC_RADIOBUTTON;
        case BS_GROUPBOX: return DLGC_STATIC;
        default: return DLGC_BUTTON;
      }
    case BM_GETCHECK:
      return checkable ? WithWindow(h, false, [](LocalWindow& w) { return w.ctl.check; }) : 0;
    case BM_SETCHECK: {
      if (!checkable) return 0;
      int v = static_cast<int>(wParam);
      if (v == BST_INDETERMINATE && type != BS_3STATE && type != BS_AUTO3STATE) v = BST_CHECKED;
      WithWindow(h, true, [&](LocalWindow& w) { return w.ctl.check = std::clamp(v, 0, 2); });
      return 0;
    }
    case BM_GETSTATE:
      return WithWindow(h, false, [](LocalWindow& w) { return w.ctl.check | (w.ctl.pushed ? 0x4 : 0); }) |
             (GetFocus() == h ? 0x8 : 0);
    case BM_SETSTATE:
      WithWindow(h, false, [&](LocalWindow& w) { return w.ctl.pushed = wParam != 0; });
      Repaint(h);
      return 0;
    case WM_PAINT:
      if (type != BS_OWNERDRAW) return DefWindowProcW(h, msg, wParam, lParam);
      ValidateRect(h, nullptr);
      DrawOwnerButton(h);
      return 0;
    case BM_SETSTYLE:
      WithWindow(h, true, [&](LocalWindow& w) { return w.style = (w.style & 0xFFFF0000u) | LOWORD(wParam); });
      return 0;
    case BM_CLICK:
      if (type == BS_GROUPBOX || !IsWindowEnabled(h)) return 0;
      SetFocus(h);
      Click(h);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      if (type == BS_GROUPBOX) return 0;
      Device* d = DeviceOrFail();
      if (!d) return 0;
      {
        LocalState* st;
        auto lock = LockLocal(d, &st);
        st->capture = ToId(h);
        if (LocalWindow* w = FindOwn(st, h)) w->ctl.pushed = true;
      }
      SetFocus(h);
      Repaint(h);
      return 0;
    }
    case WM_LBUTTONUP: {
      Device* d = DeviceOrFail();
      if (!d) return 0;
      bool pushed = false;
      {
        LocalState* st;
        auto lock = LockLocal(d, &st);
        if (st->capture == ToId(h)) st->capture = 0;
        if (LocalWindow* w = FindOwn(st, h)) pushed = std::exchange(w->ctl.pushed, false);
      }
      RECT r;
      GetClientRect(h, &r);
      POINT p{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
      if (pushed) Repaint(h);
      if (pushed && PtInRect(&r, p)) Click(h);
      return 0;
    }
    case WM_CHAR:
      if (wParam == VK_SPACE && type != BS_GROUPBOX) Click(h);
      return 0;
    case WM_SETFOCUS:
      Repaint(h);
      if (Style(h) & BS_NOTIFY) Notify(h, BN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      Repaint(h);
      if (Style(h) & BS_NOTIFY) Notify(h, BN_KILLFOCUS);
      return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

// ---------------------------------------------------------------- EDIT

// Replaces the selection with s (cut to the limit). Returns whether the
// text changed; *full tells that the limit cut something.
bool ReplaceSelection(HWND h, std::u16string s, bool* full) {
  *full = false;
  return WithWindow(h, true, [&](LocalWindow& w) {
    ControlState& c = w.ctl;
    int len = static_cast<int>(w.text.size());
    int a = std::clamp(std::min(c.selStart, c.selEnd), 0, len);
    int b = std::clamp(std::max(c.selStart, c.selEnd), 0, len);
    int64_t room = static_cast<int64_t>(c.limit) - (len - (b - a));
    if (room < static_cast<int64_t>(s.size())) {
      *full = true;
      s.resize(static_cast<size_t>(std::max<int64_t>(0, room)));
      if (!s.empty() && IsHighSurrogate(s.back())) s.pop_back();  // never half a pair
    }
    if (s.empty() && a == b) return false;
    w.text.replace(static_cast<size_t>(a), static_cast<size_t>(b - a), s);
    c.selStart = c.selEnd = a + static_cast<int>(s.size());
    c.modified = true;
    return true;
  });
}

// Deletes the selection, else one character before (back) or after the caret.
bool DeleteChar(HWND h, bool back) {
  return WithWindow(h, true, [&](LocalWindow& w) {
    ControlState& c = w.ctl;
    int len = static_cast<int>(w.text.size());
    int a = std::clamp(std::min(c.selStart, c.selEnd), 0, len);
    int b = std::clamp(std::max(c.selStart, c.selEnd), 0, len);
    if (a == b) {
      // A surrogate pair goes as one character.
      if (back && a > 0) a -= a >= 2 && PairAt(w.text, static_cast<size_t>(a - 2)) ? 2 : 1;
      else if (!back && b < len) b += PairAt(w.text, static_cast<size_t>(b)) ? 2 : 1;
      else return false;
    }
    w.text.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
    c.selStart = c.selEnd = a;
    c.modified = true;
    return true;
  });
}

void Typed(HWND h, std::u16string s) {
  bool full = false;
  bool changed = ReplaceSelection(h, std::move(s), &full);
  if (changed) {
    Notify(h, EN_UPDATE);
    Notify(h, EN_CHANGE);
  }
  if (full) Notify(h, EN_MAXTEXT);
}

LRESULT EditProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  const DWORD style = Style(h);
  switch (msg) {
    case WM_CREATE:
      WithWindow(h, false, [&](LocalWindow& w) {
        w.ctl.limit = 30000;
        w.ctl.passwordChar = (style & ES_PASSWORD) ? u'*' : 0;
        return 0;
      });
      return 0;
    case WM_GETDLGCODE: {
      LRESULT code = DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS;
      if ((style & ES_MULTILINE) && (style & ES_WANTRETURN)) code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_SETTEXT: {
      auto text = reinterpret_cast<LPCWSTR>(lParam);
      WithWindow(h, true, [&](LocalWindow& w) {
        w.text = text ? text : u"";
        w.ctl.selStart = w.ctl.selEnd = 0;
        w.ctl.modified = false;
        return 0;
      });
      Notify(h, EN_UPDATE);
      Notify(h, EN_CHANGE);
      return TRUE;
    }
    case WM_CHAR: {
      // A character outside UTF-16 or a half surrogate pair is never stored:
      // a high half waits for its low half and both go in together.
      const WCHAR high = WithWindow(h, false, [](LocalWindow& w) { return std::exchange(w.ctl.pendingHigh, 0); });
      if ((style & ES_READONLY) || wParam > 0xFFFF) return 0;
      WCHAR c = static_cast<WCHAR>(wParam);
      if (IsHighSurrogate(c)) {
        WithWindow(h, false, [&](LocalWindow& w) { return w.ctl.pendingHigh = c; });
        return 0;
      }
      if (IsLowSurrogate(c)) {
        if (high && !(style & ES_NUMBER)) Typed(h, std::u16string{high, c});
        return 0;
      }
      if (c == VK_BACK) {
        if (DeleteChar(h, true)) {
          Notify(h, EN_UPDATE);
          Notify(h, EN_CHANGE);
        }
        return 0;
      }
      if (c == u'\r') {
        if ((style & ES_MULTILINE) && (style & ES_WANTRETURN)) Typed(h, u"\r\n");
        return 0;
      }
      if (c < 0x20 || c == 0x7F) return 0;
      if ((style & ES_NUMBER) && (c < u'0' || c > u'9')) return 0;
      if (style & ES_UPPERCASE) c = static_cast<WCHAR>(std::towupper(c));
      if (style & ES_LOWERCASE) c = static_cast<WCHAR>(std::towlower(c));
      Typed(h, std::u16string(1, c));
      return 0;
    }
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_DELETE:
          if (!(style & ES_READONLY) && DeleteChar(h, false)) {
            Notify(h, EN_UPDATE);
            Notify(h, EN_CHANGE);
          }
          return 0;
        case VK_LEFT:
        case VK_RIGHT:
        case VK_HOME:
        case VK_END:
          WithWindow(h, false, [&](LocalWindow& w) {
            int len = static_cast<int>(w.text.size());
            int caret = w.ctl.selEnd;
            if (wParam == VK_LEFT) caret = std::max(0, std::min(w.ctl.selStart, w.ctl.selEnd) - (w.ctl.selStart == w.ctl.selEnd));
            if (wParam == VK_RIGHT) caret = std::min(len, std::max(w.ctl.selStart, w.ctl.selEnd) + (w.ctl.selStart == w.ctl.selEnd));
            // The caret never stands inside a surrogate pair.
            if (caret > 0 && caret < len && PairAt(w.text, static_cast<size_t>(caret - 1)))
              caret += wParam == VK_LEFT ? -1 : 1;
            if (wParam == VK_HOME) caret = 0;
            if (wParam == VK_END) caret = len;
            w.ctl.selStart = w.ctl.selEnd = caret;
            return 0;
          });
          return 0;
        default: return 0;
      }
    case WM_LBUTTONDOWN: {
      SetFocus(h);
      int x = static_cast<SHORT>(LOWORD(lParam));
      int cw = CharWidth();
      WithWindow(h, false, [&](LocalWindow& w) {
        int caret = std::clamp((x + cw / 2) / cw, 0, static_cast<int>(w.text.size()));
        w.ctl.selStart = w.ctl.selEnd = caret;
        return 0;
      });
      return 0;
    }
    case EM_GETSEL: {
      auto [a, b] = WithWindow(h, false, [](LocalWindow& w) {
        return std::pair<int, int>(std::min(w.ctl.selStart, w.ctl.selEnd), std::max(w.ctl.selStart, w.ctl.selEnd));
      });
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(a);
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(b);
      return MAKELONG(a, b);
    }
    case EM_SETSEL:
      WithWindow(h, false, [&](LocalWindow& w) {
        int len = static_cast<int>(w.text.size());
        int a = static_cast<int>(static_cast<INT_PTR>(wParam));
        int b = static_cast<int>(lParam);
        if (a == -1) {
          w.ctl.selStart = w.ctl.selEnd;  // deselect, keep the caret
          return 0;
        }
        if (b < 0 || b > len) b = len;
        w.ctl.selStart = std::clamp(a, 0, len);
        w.ctl.selEnd = b;
        return 0;
      });
      return 0;
    case EM_REPLACESEL: {
      auto text = reinterpret_cast<LPCWSTR>(lParam);
      Typed(h, text ? text : u"");
      return 0;
    }
    case EM_LIMITTEXT:
      WithWindow(h, false, [&](LocalWindow& w) { return w.ctl.limit = wParam ? static_cast<int>(std::min<WPARAM>(wParam, 0x7FFFFFFE)) : 0x7FFFFFFE; });
      return 0;
    case EM_GETLIMITTEXT: return WithWindow(h, false, [](LocalWindow& w) { return w.ctl.limit; });
    case EM_SETREADONLY:
      WithWindow(h, true, [&](LocalWindow& w) { return w.style = wParam ? w.style | ES_READONLY : w.style & ~ES_READONLY; });
      return TRUE;
    case EM_GETMODIFY: return WithWindow(h, false, [](LocalWindow& w) { return w.ctl.modified ? TRUE : FALSE; });
    case EM_SETMODIFY:
      WithWindow(h, false, [&](LocalWindow& w) { return w.ctl.modified = wParam != 0; });
      return 0;
    case EM_SETPASSWORDCHAR:
      WithWindow(h, true, [&](LocalWindow& w) {
        w.ctl.passwordChar = static_cast<WCHAR>(wParam);
        w.style = wParam ? w.style | ES_PASSWORD : w.style & ~ES_PASSWORD;
        return 0;
      });
      return 0;
    case EM_GETPASSWORDCHAR: return WithWindow(h, false, [](LocalWindow& w) { return static_cast<int>(w.ctl.passwordChar); });
    case EM_GETLINECOUNT:
      return WithWindow(h, false, [](LocalWindow& w) { return 1 + static_cast<int>(std::count(w.text.begin(), w.text.end(), u'\n')); });
    case EM_SCROLLCARET: return TRUE;
    case WM_SETFOCUS: Notify(h, EN_SETFOCUS); return 0;
    case WM_KILLFOCUS: Notify(h, EN_KILLFOCUS); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

// ---------------------------------------------------------------- COMBOBOX, LISTBOX

// The message numbers of one list kind.
struct ListMsgs {
  UINT add, insert, del, reset, count, getSel, setSel, getText, getTextLen, getData, setData, findExact, find,
      selectString;
  int selChange, setFocus, killFocus;
  DWORD sortStyle, notifyStyle;  // notifyStyle 0: always notify
  bool combo;
};
const ListMsgs kCombo{CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT, CB_GETCOUNT, CB_GETCURSEL,
                      CB_SETCURSEL, CB_GETLBTEXT, CB_GETLBTEXTLEN, CB_GETITEMDATA, CB_SETITEMDATA,
                      CB_FINDSTRINGEXACT, CB_FINDSTRING, CB_SELECTSTRING, CBN_SELCHANGE, CBN_SETFOCUS,
                      CBN_KILLFOCUS, CBS_SORT, 0, true};
const ListMsgs kList{LB_ADDSTRING, LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT, LB_GETCOUNT, LB_GETCURSEL,
                     LB_SETCURSEL, LB_GETTEXT, LB_GETTEXTLEN, LB_GETITEMDATA, LB_SETITEMDATA,
                     LB_FINDSTRINGEXACT, LB_FINDSTRING, LB_SELECTSTRING, LBN_SELCHANGE, 3 /*LBN_SETFOCUS*/,
                     4 /*LBN_KILLFOCUS*/, LBS_SORT, LBS_NOTIFY, false};

// Sets the selection (-1: none); the combo box shows the item's text.
// Returns whether it changed.
bool Select(HWND h, int index, bool combo) {
  return WithWindow(h, true, [&](LocalWindow& w) {
    int n = static_cast<int>(w.ctl.items.size());
    if (index < 0 || index >= n) index = -1;
    bool changed = w.ctl.curSel != index;
    w.ctl.curSel = index;
    if (combo) w.text = index >= 0 ? w.ctl.items[static_cast<size_t>(index)].text : u"";
    return changed;
  });
}

void UserSelect(HWND h, int index, const ListMsgs& m) {
  if (Select(h, index, m.combo) && (!m.notifyStyle || (Style(h) & m.notifyStyle))) Notify(h, m.selChange);
}

void SetDropped(HWND h, bool dropped) {
  bool was = WithWindow(h, true, [&](LocalWindow& w) { return std::exchange(w.ctl.dropped, dropped); });
  if (was != dropped) Notify(h, dropped ? CBN_DROPDOWN : CBN_CLOSEUP);
}

int Find(HWND h, int start, LPCWSTR text, bool exact) {
  if (!text) return -1;
  std::u16string key = DeviceUpper(text);
  return WithWindow(h, false, [&](LocalWindow& w) {
    int n = static_cast<int>(w.ctl.items.size());
    for (int k = 0; k < n; ++k) {
      int i = (start + 1 + k + n) % n;
      if (start < 0) i = k;
      std::u16string item = DeviceUpper(w.ctl.items[static_cast<size_t>(i)].text);
      if (exact ? item == key : item.compare(0, key.size(), key) == 0) return i;
    }
    return -1;
  });
}

LRESULT ListProc(const ListMsgs& m, HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  const int err = -1;
  if (msg == m.add || msg == m.insert) {
    auto text = reinterpret_cast<LPCWSTR>(lParam);
    const bool sorted = msg == m.add && (Style(h) & m.sortStyle);
    return WithWindow(h, true, [&](LocalWindow& w) {
      auto& items = w.ctl.items;
      int n = static_cast<int>(items.size());
      int at = msg == m.add ? n : static_cast<int>(static_cast<INT_PTR>(wParam));
      if (at == -1) at = n;
      if (at < 0 || at > n) return err;
      ControlState::Item item{text ? text : u"", 0};
      if (sorted) {
        std::u16string key = DeviceUpper(item.text);
        at = 0;
        while (at < n && DeviceUpper(items[static_cast<size_t>(at)].text) <= key) ++at;
      }
      items.insert(items.begin() + at, std::move(item));
      if (w.ctl.curSel >= at) ++w.ctl.curSel;
      return at;
    });
  }
  if (msg == m.del) {
    return WithWindow(h, true, [&](LocalWindow& w) {
      auto& items = w.ctl.items;
      int i = static_cast<int>(wParam);
      if (i < 0 || i >= static_cast<int>(items.size())) return err;
      items.erase(items.begin() + i);
      if (w.ctl.curSel == i) {
        w.ctl.curSel = -1;
        if (m.combo) w.text.clear();
      } else if (w.ctl.curSel > i) {
        --w.ctl.curSel;
      }
      return static_cast<int>(items.size());
    });
  }
  if (msg == m.reset) {
    WithWindow(h, true, [&](LocalWindow& w) {
      w.ctl.items.clear();
      w.ctl.curSel = -1;
      if (m.combo) w.text.clear();
      return 0;
    });
    return 0;
  }
  if (msg == m.count) return WithWindow(h, false, [](LocalWindow& w) { return static_cast<int>(w.ctl.items.size()); });
  if (msg == m.getSel) return WithWindow(h, false, [](LocalWindow& w) { return w.ctl.curSel; });
  if (msg == m.setSel) {
    int i = static_cast<int>(static_cast<INT_PTR>(wParam));
    Select(h, i, m.combo);
    int n = static_cast<int>(SendMessageW(h, m.count, 0, 0));
    return i >= 0 && i < n ? i : err;
  }
  if (msg == m.getText || msg == m.getTextLen) {
    return WithWindow(h, false, [&](LocalWindow& w) {
      int i = static_cast<int>(wParam);
      if (i < 0 || i >= static_cast<int>(w.ctl.items.size())) return err;
      const std::u16string& t = w.ctl.items[static_cast<size_t>(i)].text;
      if (msg == m.getTextLen) return static_cast<int>(t.size());
      return CopyOut(t, reinterpret_cast<LPWSTR>(lParam), t.size());
    });
  }
  if (msg == m.getData || msg == m.setData) {
    return WithWindow(h, false, [&](LocalWindow& w) -> LRESULT {
      int i = static_cast<int>(wParam);
      if (i < 0 || i >= static_cast<int>(w.ctl.items.size())) return err;
      LPARAM& data = w.ctl.items[static_cast<size_t>(i)].data;
      if (msg == m.getData) return data;
      data = lParam;
      return TRUE;
    });
  }
  if (msg == m.findExact || msg == m.find)
    return Find(h, static_cast<int>(static_cast<INT_PTR>(wParam)), reinterpret_cast<LPCWSTR>(lParam),
                msg == m.findExact);
  if (msg == m.selectString) {
    int i = Find(h, static_cast<int>(static_cast<INT_PTR>(wParam)), reinterpret_cast<LPCWSTR>(lParam), false);
    if (i >= 0) Select(h, i, m.combo);
    return i;
  }
  const int count = WithWindow(h, false, [](LocalWindow& w) { return static_cast<int>(w.ctl.items.size()); });
  const int sel = WithWindow(h, false, [](LocalWindow& w) { return w.ctl.curSel; });
  const bool dropped = WithWindow(h, false, [](LocalWindow& w) { return w.ctl.dropped; });
  switch (msg) {
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case CB_SHOWDROPDOWN:
      if (m.combo) SetDropped(h, wParam != 0);
      return TRUE;
    case CB_GETDROPPEDSTATE: return m.combo && dropped ? TRUE : FALSE;
    case CB_LIMITTEXT: return TRUE;
    case WM_LBUTTONDOWN: {
      SetFocus(h);
      int y = static_cast<SHORT>(HIWORD(lParam));
      if (!m.combo) {
        int i = y / RowHeight();
        if (i >= 0 && i < count) UserSelect(h, i, m);
        return 0;
      }
      if (!dropped) {
        SetDropped(h, true);
        return 0;
      }
      RECT r;
      GetClientRect(h, &r);
      int rowH = std::max<LONG>(1, r.bottom);
      int x = static_cast<SHORT>(LOWORD(lParam));
      if (x >= 0 && x < r.right && y >= rowH && y < rowH * (count + 1)) UserSelect(h, (y - rowH) / rowH, m);
      SetDropped(h, false);  // a tap on the box or outside only closes the list
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_DOWN || wParam == VK_UP) {
        int i = sel < 0 ? 0 : sel + (wParam == VK_DOWN ? 1 : -1);
        if (count > 0) UserSelect(h, std::clamp(i, 0, count - 1), m);
      } else if (m.combo && dropped && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
        SetDropped(h, false);
      }
      return 0;
    case WM_SETFOCUS:
      if (!m.notifyStyle || (Style(h) & m.notifyStyle)) Notify(h, m.setFocus);
      return 0;
    case WM_KILLFOCUS:
      if (m.combo && dropped) SetDropped(h, false);
      if (!m.notifyStyle || (Style(h) & m.notifyStyle)) Notify(h, m.killFocus);
      return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

LRESULT ComboProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) { return ListProc(kCombo, h, msg, wParam, lParam); }
LRESULT ListBoxProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) { return ListProc(kList, h, msg, wParam, lParam); }

// ---------------------------------------------------------------- progress bar

LRESULT ProgressProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      WithWindow(h, false, [](LocalWindow& w) {
        w.ctl.min = 0;
        w.ctl.max = 100;
        w.ctl.pos = 0;
        w.ctl.step = 10;
        return 0;
      });
      return 0;
    case PBM_SETRANGE:
    case PBM_SETRANGE32:
      return WithWindow(h, true, [&](LocalWindow& w) {
        LRESULT old = MAKELONG(w.ctl.min, w.ctl.max);
        if (msg == PBM_SETRANGE) SetRange(w, static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam)));
        else SetRange32(w, wParam, lParam);
        return old;
      });
    case PBM_GETRANGE:
      return WithWindow(h, false, [&](LocalWindow& w) {
        if (lParam) *reinterpret_cast<PBRANGE*>(lParam) = PBRANGE{w.ctl.min, w.ctl.max};
        return wParam ? w.ctl.min : w.ctl.max;
      });
    case PBM_SETPOS:
    case PBM_DELTAPOS:
    case PBM_STEPIT:
      return WithWindow(h, true, [&](LocalWindow& w) {
        int old = w.ctl.pos;
        int lo = std::min(w.ctl.min, w.ctl.max), hi = std::max(w.ctl.min, w.ctl.max);
        if (msg == PBM_SETPOS) w.ctl.pos = std::clamp(static_cast<int>(wParam), lo, hi);
        if (msg == PBM_DELTAPOS) w.ctl.pos = std::clamp(old + static_cast<int>(wParam), lo, hi);
        if (msg == PBM_STEPIT) {
          int next = old + w.ctl.step;
          w.ctl.pos = next > hi ? lo + (next - hi) : std::clamp(next, lo, hi);  // starts over past the end
          w.ctl.pos = std::clamp(w.ctl.pos, lo, hi);
        }
        return old;
      });
    case PBM_SETSTEP:
      return WithWindow(h, false, [&](LocalWindow& w) { return std::exchange(w.ctl.step, static_cast<int>(wParam)); });
    case PBM_GETPOS: return WithWindow(h, false, [](LocalWindow& w) { return w.ctl.pos; });
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

// ---------------------------------------------------------------- up-down

HWND Buddy(HWND h) {
  return ToHwnd(WithWindow(h, false, [](LocalWindow& w) { return w.ctl.buddy; }));
}

// Takes the buddy's number when it holds a valid one in range.
bool SyncFromBuddy(HWND h) {
  HWND buddy = Buddy(h);
  if (!buddy || !(Style(h) & UDS_SETBUDDYINT) || !IsWindow(buddy)) return true;
  WCHAR text[32];
  int n = GetWindowTextW(buddy, text, 32);
  std::u16string s(text, static_cast<size_t>(n));
  if (s.empty()) return false;
  int64_t v = 0;
  size_t i = s[0] == u'-' ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9' || v > 100000000) return false;
    v = v * 10 + (s[i] - u'0');
  }
  if (s[0] == u'-') v = -v;
  return WithWindow(h, false, [&](LocalWindow& w) {
    int lo = std::min(w.ctl.min, w.ctl.max), hi = std::max(w.ctl.min, w.ctl.max);
    if (v < lo || v > hi) return false;
    w.ctl.pos = static_cast<int>(v);
    return true;
  });
}

void ShowInBuddy(HWND h) {
  HWND buddy = Buddy(h);
  if (!buddy || !(Style(h) & UDS_SETBUDDYINT) || !IsWindow(buddy)) return;
  int pos = WithWindow(h, false, [](LocalWindow& w) { return w.ctl.pos; });
  std::u16string text = FromUtf8(std::to_string(pos));
  SetWindowTextW(buddy, text.c_str());
}

HWND SetBuddy(HWND h, HWND buddy) {
  HWND old = ToHwnd(WithWindow(h, true, [&](LocalWindow& w) { return std::exchange(w.ctl.buddy, ToId(buddy)); }));
  if (buddy && (Style(h) & (UDS_ALIGNRIGHT))) {
    // The control takes the right end of the buddy's rectangle.
    Device* d = DeviceOrFail();
    LocalState* st;
    auto lock = LockLocal(d, &st);
    LocalWindow* b = FindOwn(st, buddy);
    LocalWindow* u = FindOwn(st, h);
    if (b && u && b->parent == u->parent) {
      LONG width = std::max<LONG>(1, u->rect.right - u->rect.left);
      u->rect = RECT{b->rect.right - width, b->rect.top, b->rect.right, b->rect.bottom};
      b->rect.right = std::max(b->rect.left, b->rect.right - width);
    }
  }
  return old;
}

void Step(HWND h, bool up) {
  SyncFromBuddy(h);
  auto [pos, lo, hi] = WithWindow(h, false, [](LocalWindow& w) { return std::tuple(w.ctl.pos, w.ctl.min, w.ctl.max); });
  int delta = (up == (lo <= hi)) ? 1 : -1;
  int next = std::clamp(pos + delta, std::min(lo, hi), std::max(lo, hi));
  if (next == pos) return;
  NMUPDOWN nm{{h, static_cast<UINT_PTR>(GetDlgCtrlID(h)), UDN_DELTAPOS}, pos, delta};
  if (SendMessageW(GetParent(h), WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm))) return;
  WithWindow(h, true, [&](LocalWindow& w) { return w.ctl.pos = next; });
  ShowInBuddy(h);
  SendMessageW(GetParent(h), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, next), reinterpret_cast<LPARAM>(h));
}

LRESULT UpDownProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: {
      WithWindow(h, false, [](LocalWindow& w) {
        w.ctl.min = 100;  // the classic default range: 100 down to 0
        w.ctl.max = 0;
        w.ctl.pos = 0;
        return 0;
      });
      if (Style(h) & UDS_AUTOBUDDY) {
        HWND prev = GetWindow(h, GW_HWNDPREV);
        if (prev) SetBuddy(h, prev);
      }
      return 0;
    }
    case UDM_SETRANGE:
    case UDM_SETRANGE32:
      WithWindow(h, true, [&](LocalWindow& w) {
        if (msg == UDM_SETRANGE) SetRange(w, static_cast<SHORT>(HIWORD(lParam)), static_cast<SHORT>(LOWORD(lParam)));
        else SetRange32(w, wParam, lParam);
        return 0;
      });
      return 0;
    case UDM_GETRANGE: return WithWindow(h, false, [](LocalWindow& w) { return MAKELONG(w.ctl.max, w.ctl.min); });
    case UDM_GETRANGE32:
      WithWindow(h, false, [&](LocalWindow& w) {
        if (wParam) *reinterpret_cast<int*>(wParam) = w.ctl.min;
        if (lParam) *reinterpret_cast<int*>(lParam) = w.ctl.max;
        return 0;
      });
      return 0;
    case UDM_SETPOS:
    case UDM_SETPOS32: {
      int v = msg == UDM_SETPOS ? static_cast<SHORT>(LOWORD(lParam)) : static_cast<int>(lParam);
      int old = WithWindow(h, true, [&](LocalWindow& w) {
        int lo = std::min(w.ctl.min, w.ctl.max), hi = std::max(w.ctl.min, w.ctl.max);
        return std::exchange(w.ctl.pos, std::clamp(v, lo, hi));
      });
      ShowInBuddy(h);
      return old;
    }
    case UDM_GETPOS:
    case UDM_GETPOS32: {
      bool ok = SyncFromBuddy(h);
      int pos = WithWindow(h, false, [](LocalWindow& w) { return w.ctl.pos; });
      if (msg == UDM_GETPOS32) {
        if (lParam) *reinterpret_cast<BOOL*>(lParam) = ok ? FALSE : TRUE;
        return pos;
      }
      return MAKELONG(pos, ok ? 0 : 1);
    }
    case UDM_SETBUDDY: return reinterpret_cast<LRESULT>(SetBuddy(h, reinterpret_cast<HWND>(wParam)));
    case UDM_GETBUDDY: return reinterpret_cast<LRESULT>(Buddy(h));
    case WM_LBUTTONDOWN: {
      RECT r;
      GetClientRect(h, &r);
      Step(h, static_cast<SHORT>(HIWORD(lParam)) < r.bottom / 2);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_UP || wParam == VK_DOWN) Step(h, wParam == VK_UP);
      return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

}  // namespace

WNDPROC BuiltinClass(std::u16string_view name, std::u16string* canonical) {
  static const struct {
    const char16_t* name;
    WNDPROC proc;
  } kClasses[] = {
      {u"STATIC", StaticProc},
      {u"BUTTON", ButtonProc},
      {u"EDIT", EditProc},
      {u"COMBOBOX", ComboProc},
      {u"LISTBOX", ListBoxProc},
      {u"msctls_progress32", ProgressProc},
      {u"msctls_updown32", UpDownProc},
      {WC_TREEVIEWW, TreeViewProc},
      {u"menu_worker", MenuBarProc},
      {u"SysDateTimePick32", DateTimeProc},
      {u"SysTabControl32", TabProc},
      {u"SysListView32", ListViewClass()},
      {u"#32770", DefDlgProcW},
  };
  for (const auto& c : kClasses) {
    if (EqualNoCase(name, c.name)) {
      if (canonical) *canonical = c.name;
      return c.proc;
    }
  }
  return nullptr;
}

void Notify(HWND h, int code) {
  HWND parent = GetParent(h);
  if (!parent) return;
  int id = GetDlgCtrlID(h);
  SendMessageW(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(h));
}

}  // namespace ce::win

void InitCommonControls() {}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) {
  if (!icc || icc->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

namespace ce {
void SetPaintDcHooks(PaintDcHooks hooks) { win::DcHooks() = hooks; }
}  // namespace ce
