// The dialog manager: dialogs from templates, the dialog class's
// procedure, the keyboard interface, dialog-item helpers and the
// message-filter hooks. (The modal loops live in the window layer library.)
#include <algorithm>
#include <utility>
#include <mutex>

#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/msgbox.h"
#include "ce/system.h"
#include "ce/text.h"
#include "cesim/window.h"
#include "window/window_state.h"

namespace ce::win {
namespace {

struct Hooks {
  std::mutex m;
  std::vector<std::pair<uintptr_t, HOOKPROC>> list;  // oldest first
  uintptr_t next = 1;
};
Hooks& HookList() {
  static Hooks* h = new Hooks;
  return *h;
}

// Runs fn on a dialog's model entry (lock held); R() when not a dialog.
template <class Fn>
auto WithDialog(HWND h, Fn fn) -> decltype(fn(std::declval<LocalWindow&>())) {
  using R = decltype(fn(std::declval<LocalWindow&>()));
  return WithWindow(h, false, [&](LocalWindow& w) { return w.isDialog ? fn(w) : R(); });
}

bool IsDialog(HWND h) {
  return WithDialog(h, [](LocalWindow&) { return true; });
}

// Usable for input: visible and enabled up to (not including) the dialog,
// which may itself still be hidden (WM_INITDIALOG comes before showing).
bool Usable(HWND dlg, HWND h) {
  for (HWND w = h; w && w != dlg; w = GetParent(w)) {
    DWORD style = static_cast<DWORD>(GetWindowLongW(w, GWL_STYLE));
    if (!(style & WS_VISIBLE) || (style & WS_DISABLED)) return false;
  }
  return true;
}

// The dialog's controls in tab order; child dialogs (property pages) are
// entered, not listed.
void Flatten(HWND parent, std::vector<HWND>* out) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (IsDialog(c)) Flatten(c, out);
    else out->push_back(c);
  }
}

bool IsEdit(HWND h) {
  WCHAR cls[16];
  return GetClassNameW(h, cls, 16) > 0 && EqualNoCase(cls, u"EDIT");
}

bool IsCombo(HWND h) {
  WCHAR cls[16];
  return GetClassNameW(h, cls, 16) > 0 && EqualNoCase(cls, u"COMBOBOX");
}

// Focus from the keyboard: an edit gets its text selected.
void FocusControl(HWND h) {
  SetFocus(h);
  if (IsEdit(h)) SendMessageW(h, EM_SETSEL, 0, -1);
}

// Sets the default button id: the old default push button loses its
// style, the new one gains it.
void SetDefId(HWND dlg, int id) {
  int old = WithDialog(dlg, [&](LocalWindow& w) { return std::exchange(w.defId, id); });
  auto restyle = [&](int which, DWORD type) {
    HWND b = which ? GetDlgItem(dlg, which) : nullptr;
    if (!b) return;
    DWORD t = static_cast<DWORD>(SendMessageW(b, WM_GETDLGCODE, 0, 0));
    if (t & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) SendMessageW(b, BM_SETSTYLE, type, TRUE);
  };
  if (old != id) restyle(old, BS_PUSHBUTTON);
  restyle(id, BS_DEFPUSHBUTTON);
}

void PressButton(HWND dlg, int id) {
  HWND b = GetDlgItem(dlg, id);
  if (b && !IsWindowEnabled(b)) return;  // a disabled button does nothing
  SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
}

bool ReturnsResultDirectly(UINT msg) {
  return msg == WM_INITDIALOG || (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) ||
         msg == 0x0039 /*WM_COMPAREITEM*/ || msg == 0x002E /*WM_VKEYTOITEM*/ || msg == 0x002F /*WM_CHARTOITEM*/ ||
         msg == 0x0037 /*WM_QUERYDRAGICON*/;
}

}  // namespace
}  // namespace ce::win

// ------------------------------------------------------------ ce::

namespace ce {

int GetDisplayScale() {
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  SetLastError(saved);
  if (!d) return 1;
  const Profile& p = d->GetProfile();
  int scale = p.screenWidth > p.screenHeight ? p.screenWidth / 320 : p.screenWidth / 240;
  return std::max(1, scale);
}

int GetDialogTemplateId(HWND dialog) {
  return win::WithDialog(dialog, [](win::LocalWindow& w) { return w.templateId; });
}

bool LoadDialogTemplate(HINSTANCE module, LPCWSTR templateName, DialogTemplate* out) {
  HRSRC res = FindResourceW(module, templateName, RT_TEMPLATE);
  if (!res) return false;
  HGLOBAL data = LoadResource(module, res);
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) return false;
  std::string error;
  if (!out || !ParseDialogTemplate(bytes, SizeofResource(module, res), out, &error)) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

bool DialogEndRequested(HWND dialog, INT_PTR* result) {
  return win::WithDialog(dialog, [&](win::LocalWindow& w) {
    if (w.endRequested && result) *result = w.endResult;
    return w.endRequested;
  });
}

void SetDialogModal(HWND dialog, bool modal) {
  win::WithDialog(dialog, [&](win::LocalWindow& w) { return w.modal = modal; });
}

}  // namespace ce

// ------------------------------------------------------------ the API

using namespace ce;
using namespace ce::win;

HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE, DWORD) {
  if (idHook != WH_MSGFILTER || !proc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Hooks& h = HookList();
  std::lock_guard<std::mutex> g(h.m);
  uintptr_t id = h.next++;
  h.list.emplace_back(id, proc);
  return reinterpret_cast<HHOOK>(id);
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  Hooks& h = HookList();
  std::lock_guard<std::mutex> g(h.m);
  auto id = reinterpret_cast<uintptr_t>(hook);
  auto it = std::find_if(h.list.begin(), h.list.end(), [&](auto& e) { return e.first == id; });
  if (it == h.list.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  h.list.erase(it);
  return TRUE;
}

BOOL CallMsgFilterW(LPMSG msg, int code) {
  std::vector<std::pair<uintptr_t, HOOKPROC>> hooks;
  {
    Hooks& h = HookList();
    std::lock_guard<std::mutex> g(h.m);
    hooks = h.list;
  }
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
    if (it->second(code, 0, reinterpret_cast<LPARAM>(msg))) return TRUE;
  }
  return FALSE;
}

HWND CreateDialogIndirectParamW(HINSTANCE module, const ce::DialogTemplate* t, HWND parent, DLGPROC proc,
                                LPARAM param) {
  if (!t) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  const int scale = GetDisplayScale();
  const bool child = (t->style & WS_CHILD) != 0;
  const int x = 0, y = child ? 0 : kTopBarHeight;
  HWND dlg = CreateWindowExW(0, u"#32770", t->caption.c_str(), t->style & ~WS_VISIBLE, x, y, t->width * scale,
                             t->height * scale, parent, nullptr, module, nullptr);
  if (!dlg) return nullptr;
  {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    LocalWindow* w = FindOwn(st, dlg);
    w->isDialog = true;
    w->dlgProc = reinterpret_cast<LONG_PTR>(proc);
    w->templateId = t->id;
  }
  int defId = 0;
  for (const ControlTemplate& c : t->controls) {
    HWND h = CreateWindowExW(0, c.className.c_str(), c.text.c_str(), c.style | WS_CHILD, c.x * scale,
                             c.y * scale, c.width * scale, c.height * scale, dlg,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(c.id)), module, nullptr);
    if (!h) {
      DWORD err = GetLastError();
      DestroyWindow(dlg);
      SetLastError(err);
      return nullptr;
    }
    if (!defId && EqualNoCase(c.className, u"BUTTON") && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) defId = c.id;
  }
  if (defId) SetDefId(dlg, defId);
  HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
  LRESULT r = proc ? proc(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) : TRUE;
  if (!IsWindow(dlg)) return nullptr;  // the procedure destroyed it
  if (r && first && IsWindow(first)) FocusControl(first);
  if (t->style & WS_VISIBLE) ShowWindow(dlg, SW_SHOW);
  return dlg;
}

HWND CreateDialogParamW(HINSTANCE module, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  DialogTemplate t;
  if (!LoadDialogTemplate(module, templateName, &t)) return nullptr;
  return CreateDialogIndirectParamW(module, &t, parent, proc, param);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  bool modal = false;
  {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    LocalWindow* w = FindOwn(st, dialog);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    w->endRequested = true;
    w->endResult = result;
    modal = w->modal;
  }
  if (!modal) ShowWindow(dialog, SW_HIDE);
  return TRUE;
}

LRESULT DefDlgProcW(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  DLGPROC proc = reinterpret_cast<DLGPROC>(WithDialog(dlg, [](LocalWindow& w) {
    w.msgResult = 0;
    return w.dlgProc;
  }));
  if (proc) {
    INT_PTR r = proc(dlg, msg, wParam, lParam);
    if (ReturnsResultDirectly(msg)) {
      if (r || msg == WM_INITDIALOG) return r;
    } else if (r) {
      return WithDialog(dlg, [](LocalWindow& w) { return w.msgResult; });
    }
  }
  switch (msg) {
    case WM_CLOSE: PressButton(dlg, IDCANCEL); return 0;
    case DM_GETDEFID: {
      int id = WithDialog(dlg, [](LocalWindow& w) { return w.defId; });
      return id ? MAKELONG(id, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID: SetDefId(dlg, static_cast<int>(wParam)); return TRUE;
    case WM_NEXTDLGCTL: {
      HWND to = lParam ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(dlg, GetFocus(), wParam != 0);
      if (to) FocusControl(to);
      return 0;
    }
    case WM_ACTIVATE:
    case WM_SETFOCUS: {
      if (msg == WM_ACTIVATE && LOWORD(wParam) == WA_INACTIVE) return 0;
      HWND last = ToHwnd(WithDialog(dlg, [](LocalWindow& w) { return w.lastFocus; }));
      if (!last || !IsWindow(last) || !IsChild(dlg, last)) last = GetNextDlgTabItem(dlg, nullptr, FALSE);
      HWND focus = GetFocus();
      if (last && focus != last && (msg == WM_SETFOCUS || !focus || !IsChild(dlg, focus))) SetFocus(last);
      return 0;
    }
    case WM_GETDLGCODE: return 0;
    default: return DefWindowProcW(dlg, msg, wParam, lParam);
  }
}

BOOL IsDialogMessageW(HWND dlg, LPMSG msg) {
  if (!msg || !dlg || !msg->hwnd) return FALSE;
  if (msg->hwnd != dlg && !IsChild(dlg, msg->hwnd)) return FALSE;
  const UINT m = msg->message;
  if (m != WM_KEYDOWN && m != WM_CHAR) {
    DispatchMessageW(msg);
    return TRUE;
  }
  HWND h = msg->hwnd;
  auto code = static_cast<DWORD>(SendMessageW(h, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg)));
  const bool comboOpen = IsCombo(h) && SendMessageW(h, CB_GETDROPPEDSTATE, 0, 0);
  if (m == WM_CHAR) {
    WPARAM c = msg->wParam;
    bool swallow = (c == u'\t' && !(code & (DLGC_WANTTAB | DLGC_WANTALLKEYS))) ||
                   ((c == u'\r' || c == 0x1B) && !(code & DLGC_WANTALLKEYS));
    if (!swallow) DispatchMessageW(msg);
    return TRUE;
  }
  switch (msg->wParam) {
    case VK_TAB:
      if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) break;
      if (HWND next = GetNextDlgTabItem(dlg, GetFocus(), FALSE)) FocusControl(next);
      return TRUE;
    case VK_RETURN: {
      if ((code & DLGC_WANTALLKEYS) || comboOpen) break;
      if (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
        PressButton(GetParent(h), GetDlgCtrlID(h));  // the focused push button
        return TRUE;
      }
      int id = IDOK;
      LRESULT def = SendMessageW(dlg, DM_GETDEFID, 0, 0);
      if (HIWORD(def) == DC_HASDEFID) id = LOWORD(def);
      PressButton(dlg, id);
      return TRUE;
    }
    case VK_ESCAPE:
      if ((code & DLGC_WANTALLKEYS) || comboOpen) break;
      PressButton(dlg, IDCANCEL);
      return TRUE;
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
      if (code & DLGC_WANTARROWS) break;
      if (HWND next = GetNextDlgGroupItem(dlg, h, msg->wParam == VK_LEFT || msg->wParam == VK_UP)) {
        SetFocus(next);
        DWORD nextCode = static_cast<DWORD>(SendMessageW(next, WM_GETDLGCODE, 0, 0));
        if ((nextCode & DLGC_RADIOBUTTON) && next != h) SendMessageW(next, BM_CLICK, 0, 0);
      }
      return TRUE;
    default: break;
  }
  DispatchMessageW(msg);
  return TRUE;
}

HWND GetNextDlgTabItem(HWND dlg, HWND ctrl, BOOL previous) {
  std::vector<HWND> all;
  Flatten(dlg, &all);
  if (previous) std::reverse(all.begin(), all.end());
  auto eligible = [&](HWND h) { return (GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) && Usable(dlg, h); };
  auto start = ctrl ? std::find(all.begin(), all.end(), ctrl) : all.end();
  const size_t n = all.size();
  size_t from = start == all.end() ? n - 1 : static_cast<size_t>(start - all.begin());
  for (size_t k = 1; k <= n; ++k) {
    HWND h = all[(from + k) % n];
    if (eligible(h)) return h;
  }
  return nullptr;
}

HWND GetNextDlgGroupItem(HWND dlg, HWND ctrl, BOOL previous) {
  if (!ctrl) return GetNextDlgTabItem(dlg, nullptr, previous);
  HWND parent = GetParent(ctrl);
  std::vector<HWND> sib;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) sib.push_back(c);
  auto it = std::find(sib.begin(), sib.end(), ctrl);
  if (it == sib.end()) return nullptr;
  auto first = it;
  while (first != sib.begin() && !(GetWindowLongW(*first, GWL_STYLE) & WS_GROUP)) --first;
  std::vector<HWND> group;
  for (auto c = first; c != sib.end(); ++c) {
    if (c != first && (GetWindowLongW(*c, GWL_STYLE) & WS_GROUP)) break;
    group.push_back(*c);
  }
  if (previous) std::reverse(group.begin(), group.end());
  auto pos = std::find(group.begin(), group.end(), ctrl) - group.begin();
  for (size_t k = 1; k <= group.size(); ++k) {
    HWND h = group[(static_cast<size_t>(pos) + k) % group.size()];
    if (Usable(dlg, h)) return h;
  }
  return ctrl;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  HWND h = GetDlgItem(dialog, id);
  return h ? SetWindowTextW(h, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int maxCount) {
  if (text && maxCount > 0) text[0] = 0;
  HWND h = GetDlgItem(dialog, id);
  return h ? static_cast<UINT>(GetWindowTextW(h, text, maxCount)) : 0;
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string s = isSigned ? std::to_string(static_cast<int32_t>(value)) : std::to_string(value);
  return SetDlgItemTextW(dialog, id, FromUtf8(s).c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated) *translated = FALSE;
  HWND h = GetDlgItem(dialog, id);
  if (!h) return 0;
  int len = GetWindowTextLengthW(h);
  std::u16string s(static_cast<size_t>(len) + 1, u'\0');
  s.resize(static_cast<size_t>(GetWindowTextW(h, s.data(), len + 1)));
  size_t i = 0, end = s.size();
  while (i < end && (s[i] == u' ' || s[i] == u'\t')) ++i;
  while (end > i && (s[end - 1] == u' ' || s[end - 1] == u'\t')) --end;
  bool negative = false;
  if (isSigned && i < end && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  if (i == end) return 0;
  uint64_t v = 0;
  for (; i < end; ++i) {
    if (s[i] < u'0' || s[i] > u'9') return 0;
    v = v * 10 + static_cast<uint64_t>(s[i] - u'0');
    if (v > (isSigned ? (negative ? 0x80000000ull : 0x7FFFFFFFull) : 0xFFFFFFFFull)) return 0;
  }
  if (translated) *translated = TRUE;
  return negative ? static_cast<UINT>(-static_cast<int64_t>(v)) : static_cast<UINT>(v);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND h = GetDlgItem(dialog, id);
  if (!h) return FALSE;
  SendMessageW(h, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND h = GetDlgItem(dialog, id);
  return h ? static_cast<UINT>(SendMessageW(h, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
  for (int id = first; id <= last; ++id) {
    if (HWND h = GetDlgItem(dialog, id)) SendMessageW(h, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  return TRUE;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND h = GetDlgItem(dialog, id);
  return h ? SendMessageW(h, msg, wParam, lParam) : 0;
}
