// The in-process window model: geometry, visibility, enabled state, focus,
// activation, z-order, sibling order, painting and the routing of screen
// input to controls.
#include <algorithm>
#include <functional>

#include "ce/controls.h"
#include "ce/errors.h"
#include "cesim/window.h"
#include "window/window_state.h"

namespace ce::win {
namespace {


BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// Own window or null (the last error set).
LocalWindow* Own(LocalState* st, HWND h) {
  LocalWindow* w = FindOwn(st, h);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

bool Contains(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

bool IsClass(const LocalWindow& w, std::u16string_view name) { return EqualNoCase(w.className, name); }

// The list area of a dropped combo box below its box (screen).
RECT DropRect(const RECT& box, size_t items) {
  const int64_t h = box.bottom - box.top;
  const int64_t bottom = box.bottom + h * static_cast<int64_t>(std::min<size_t>(items, INT32_MAX));
  return RECT{box.left, box.bottom, box.right, static_cast<LONG>(std::min<int64_t>(bottom, INT32_MAX))};
}

// Deepest visible child of parent under the screen point; disabled ones
// count (the caller drops input to them). Statics without SS_NOTIFY and
// group boxes only when nothing else is there.
int64_t HitChild(Device* d, LocalState* st, int64_t parent, POINT pt) {
  LocalWindow* p = FindOwn(st, parent);
  if (!p) return 0;
  int64_t weak = 0;
  for (int64_t c : p->children) {
    LocalWindow* w = FindOwn(st, c);
    if (!w || !(w->style & WS_VISIBLE)) continue;
    RECT r;
    if (!ScreenRect(d, ToHwnd(c), &r) || !Contains(r, pt)) continue;
    bool passive = (IsClass(*w, u"STATIC") && !(w->style & SS_NOTIFY)) ||
                   (IsClass(*w, u"BUTTON") && (w->style & BS_TYPEMASK) == BS_GROUPBOX);
    if (passive) {
      if (!weak) weak = c;
      continue;
    }
    if (!w->children.empty()) {
      int64_t deeper = HitChild(d, st, c, pt);
      return deeper ? deeper : c;
    }
    return c;
  }
  return weak;
}

// A local window and its local ancestors below top are all visible,
// enabled and not being destroyed.
bool TakesInput(LocalState* st, int64_t id, int64_t top) {
  for (int guard = 0; id && id != top && guard < 64; ++guard) {
    LocalWindow* w = FindOwn(st, id);
    if (!w || !w->local) return w != nullptr;
    if (w->destroying || !(w->style & WS_VISIBLE) || (w->style & WS_DISABLED)) return false;
    id = w->parent;
  }
  return true;
}

// A dropped combo box of the top-level window: its list takes a tap on it,
// and a tap anywhere else but on the box closes it (*outside set).
int64_t DroppedCombo(Device* d, LocalState* st, int64_t top, POINT pt, bool* outside) {
  for (auto& [id, w] : st->windows) {
    if (!w.local || !w.ctl.dropped || !IsClass(w, u"COMBOBOX")) continue;
    if (ToId(TopLevelOf(d, ToHwnd(id))) != top || !TakesInput(st, id, top)) continue;
    RECT r;
    if (!ScreenRect(d, ToHwnd(id), &r)) continue;
    *outside = !Contains(DropRect(r, w.ctl.items.size()), pt) && !Contains(r, pt);
    return id;
  }
  return 0;
}

// A menu bar of the top-level window with a menu open: it takes every tap
// (a tap beside its menus closes them).
int64_t OpenMenuBar(Device* d, LocalState* st, int64_t top) {
  for (auto& [id, w] : st->windows) {
    if (!w.local || w.ctl.menuBar.openButton < 0 || !IsClass(w, u"menu_worker")) continue;
    if (ToId(TopLevelOf(d, ToHwnd(id))) == top && TakesInput(st, id, top)) return id;
  }
  return 0;
}

void Descendants(LocalState* st, int64_t parent, std::vector<int64_t>* out) {
  LocalWindow* p = FindOwn(st, parent);
  if (!p) return;
  for (int64_t c : p->children) {
    out->push_back(c);
    Descendants(st, c, out);
  }
}

// The sibling list a window sits in (children of its parent, or the
// top-level z-order), null when none.
std::vector<int64_t>* Siblings(LocalState* st, int64_t id) {
  LocalWindow* w = FindOwn(st, id);
  if (!w) return nullptr;
  if (!w->local) return &st->zorder;
  LocalWindow* p = FindOwn(st, w->parent);
  return p ? &p->children : nullptr;
}

void Move(std::vector<int64_t>& v, int64_t id, std::ptrdiff_t to) {
  auto it = std::find(v.begin(), v.end(), id);
  if (it == v.end()) return;
  v.erase(it);
  to = std::clamp<std::ptrdiff_t>(to, 0, static_cast<std::ptrdiff_t>(v.size()));
  v.insert(v.begin() + to, id);
}

}  // namespace

LocalWindow* FindOwn(LocalState* st, int64_t id) {
  auto it = st->windows.find(id);
  return it == st->windows.end() ? nullptr : &it->second;
}

bool IsLocalWindow(Device* d, HWND h) {
  if (!IsLocalId(ToId(h))) return false;
  Locked st(d);
  LocalWindow* w = FindOwn(st, h);
  return w && w->local;
}

DWORD StyleOf(Device* d, HWND h) {
  {
    Locked st(d);
    LocalWindow* w = FindOwn(st, h);
    if (w && w->local) return w->style;
  }
  auto row = LoadWindow(d, h);
  return row ? row->style : 0;
}

std::u16string TextOf(Device* d, HWND h) {
  {
    Locked st(d);
    LocalWindow* w = FindOwn(st, h);
    if (w && w->local) return w->text;
  }
  auto row = LoadWindow(d, h);
  return row ? row->title : std::u16string();
}

void SetLocalText(Device* d, HWND h, std::u16string_view text) {
  Locked st(d);
  if (LocalWindow* w = FindOwn(st, h)) {
    w->text.assign(text);
    ++st->version;
  }
}

void Touch(Device* d) {
  Locked st(d);
  ++st->version;
}

HWND TopLevelOf(Device* d, HWND h) {
  Locked st(d);
  int64_t id = ToId(h);
  for (int guard = 0; guard < 64; ++guard) {
    LocalWindow* w = FindOwn(st, id);
    if (!w) return nullptr;
    if (!w->local) return ToHwnd(id);
    id = w->parent;
  }
  return nullptr;
}

bool ScreenRect(Device* d, HWND h, RECT* out) {
  Locked st(d);
  LocalWindow* w = FindOwn(st, h);
  if (!w) return false;
  RECT r = w->rect;
  int64_t parent = w->local ? w->parent : 0;
  while (parent) {
    LocalWindow* p = FindOwn(st, parent);
    if (!p) break;
    r.left += p->rect.left;
    r.right += p->rect.left;
    r.top += p->rect.top;
    r.bottom += p->rect.top;
    parent = p->local ? p->parent : 0;
  }
  *out = r;
  return true;
}

bool ReallyVisible(Device* d, HWND h) {
  int64_t id = ToId(h);
  {
    Locked st(d);
    for (int guard = 0; guard < 64; ++guard) {
      LocalWindow* w = FindOwn(st, id);
      if (!w) return false;
      if (!w->local) break;
      if (!(w->style & WS_VISIBLE)) return false;
      id = w->parent;
    }
  }
  auto row = LoadWindow(d, ToHwnd(id));
  return row && row->visible;
}

void ModelAdd(Device* d, int64_t id, int64_t parent, bool local) {
  Locked st(d);
  if (local) {
    if (LocalWindow* p = FindOwn(st, parent)) p->children.push_back(id);
  } else {
    st->zorder.push_back(id);
  }
  ++st->version;
}

void ModelRemove(Device* d, int64_t id) {
  Locked st(d);
  LocalWindow* w = FindOwn(st, id);
  if (!w) return;
  if (w->local) {
    if (LocalWindow* p = FindOwn(st, w->parent)) std::erase(p->children, id);
  }
  std::erase(st->zorder, id);
  if (st->focus == id) st->focus = 0;
  if (st->active == id) st->active = 0;
  if (st->capture == id) st->capture = 0;
  ++st->version;
}

void RouteInput(Device* d, MSG* msg) {
  const UINT m = msg->message;
  const bool mouse = m == WM_LBUTTONDOWN || m == WM_LBUTTONUP || m == WM_LBUTTONDBLCLK || m == WM_MOUSEMOVE;
  const bool key = m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR;
  if ((!mouse && !key) || !msg->hwnd) return;
  Locked st(d);
  LocalWindow* top = FindOwn(st, msg->hwnd);
  if (!top || top->local) return;  // only input posted to an own top-level window
  const int64_t topId = ToId(msg->hwnd);
  // A window under a modal one, or one on its way out (its WM_DESTROY
  // handler may pump), takes no input.
  if (top->destroying || (StyleOf(d, msg->hwnd) & WS_DISABLED)) {
    msg->message = WM_NULL;
    return;
  }
  int64_t target = topId;
  if (key) {
    // The focus control takes keys only while it can be seen and used: a
    // hidden or disabled one (or one on a hidden or disabled page) keeps the
    // focus but its keys go to the window itself.
    if (st->focus && ToId(TopLevelOf(d, ToHwnd(st->focus))) == topId && TakesInput(st, st->focus, topId))
      target = st->focus;
    msg->hwnd = ToHwnd(target);
    return;
  }
  // A tap on a window that is not shown reaches none of its controls.
  if (!(StyleOf(d, msg->hwnd) & WS_VISIBLE)) return;
  POINT pt{static_cast<SHORT>(LOWORD(msg->lParam)), static_cast<SHORT>(HIWORD(msg->lParam))};
  if (m == WM_LBUTTONUP && st->capture && ToId(TopLevelOf(d, ToHwnd(st->capture))) == topId) {
    target = st->capture;
  } else if (int64_t bar = OpenMenuBar(d, st, topId)) {
    target = bar;
  } else if (bool outside = false; int64_t combo = DroppedCombo(d, st, topId, pt, &outside)) {
    target = combo;
    if (outside && m != WM_LBUTTONDOWN) msg->message = WM_NULL;  // the tap that closed it ends there
  } else if (int64_t child = HitChild(d, st, topId, pt)) {
    target = child;
  }
  // Disabled or hidden controls (or controls of such a page) take no input;
  // a press they held ends there.
  if (!TakesInput(st, target, topId)) {
    if (target == st->capture) {
      st->capture = 0;
      if (LocalWindow* w = FindOwn(st, target)) w->ctl.pushed = false;
    }
    msg->message = WM_NULL;
    return;
  }
  // Only list views tell a double tap from two taps; the others get the
  // second press as a press.
  if (m == WM_LBUTTONDBLCLK) {
    LocalWindow* w = FindOwn(st, target);
    if (!w || !IsClass(*w, u"SysListView32")) msg->message = WM_LBUTTONDOWN;
  }
  RECT r{};
  ScreenRect(d, ToHwnd(target), &r);
  msg->hwnd = ToHwnd(target);
  msg->pt = pt;
  msg->lParam = MAKELPARAM(pt.x - r.left, pt.y - r.top);
}

int64_t TakePaint(Device* d, const int64_t filterHwnd) {
  Locked st(d);
  for (auto& [id, w] : st->windows) {
    if (!w.needsPaint || w.destroying || (filterHwnd && filterHwnd != id)) continue;
    if (w.local ? ReallyVisible(d, ToHwnd(id)) : (StyleOf(d, ToHwnd(id)) & WS_VISIBLE)) return id;
  }
  return 0;
}

}  // namespace ce::win

// ------------------------------------------------------------ ce::

namespace ce {

std::vector<HWND> OwnTopLevelWindows() {
  std::vector<HWND> out;
  Device* d = win::DeviceOrFail();
  if (!d) return out;
  win::Locked st(d);
  for (int64_t id : st->zorder) out.push_back(win::ToHwnd(id));
  return out;
}

bool DescribeWindow(HWND hwnd, ModelWindow* out) {
  Device* d = win::DeviceOrFail();
  if (!d) return false;
  win::Locked st(d);
  win::LocalWindow* w = win::FindOwn(st, hwnd);
  if (!w) return false;
  ModelWindow m;
  m.hwnd = hwnd;
  m.parent = win::ToHwnd(w->parent);
  m.className = w->className;
  if (w->local) {
    m.text = w->text;
    m.style = w->style;
    m.id = static_cast<int>(w->controlId);
  } else {
    auto row = win::LoadWindow(d, hwnd);
    if (!row) return false;
    m.text = row->title;
    m.style = row->style;
  }
  win::ScreenRect(d, hwnd, &m.rect);
  m.visible = (m.style & WS_VISIBLE) != 0;
  m.enabled = !(m.style & WS_DISABLED);
  m.check = w->ctl.check;
  m.hasTextColor = w->ctl.hasTextColor;
  m.textColor = w->ctl.textColor;
  for (const auto& item : w->ctl.items) m.items.push_back(item.text);
  m.curSel = w->ctl.curSel;
  m.dropped = w->ctl.dropped;
  m.pos = w->ctl.pos;
  m.min = w->ctl.min;
  m.max = w->ctl.max;
  for (int64_t c : w->children) m.children.push_back(win::ToHwnd(c));
  if (EqualNoCase(m.className, u"SysListView32")) win::DescribeListView(w->ctl.listView, m.style, &m.listView);
  *out = std::move(m);
  return true;
}

uint64_t WindowModelVersion() {
  Device* d = win::DeviceOrFail();
  if (!d) return 0;
  win::Locked st(d);
  return st->version;
}

void MarkWindowModelChanged() {
  if (Device* d = Device::Current()) win::Touch(d);
}

}  // namespace ce

// ------------------------------------------------------------ the API

using namespace ce;
using namespace ce::win;

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  {
    Locked st(d);
    if (!Own(st, hwnd)) return FALSE;
  }
  DWORD style = StyleOf(d, hwnd);
  const bool wasDisabled = (style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled ? TRUE : FALSE;
  SetStyle(d, hwnd, enable ? style & ~WS_DISABLED : style | WS_DISABLED);
  if (!enable) {
    HWND focus = GetFocus();
    if (focus && (focus == hwnd || IsChild(hwnd, focus))) SetFocus(nullptr);
  }
  CallOwn(d, hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  InvalidateRect(hwnd, nullptr, TRUE);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  if (!IsWindow(hwnd)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  return (StyleOf(d, hwnd) & WS_DISABLED) ? FALSE : TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  bool moved = false, sized = false;
  RECT now{};
  {
    Locked st(d);
    LocalWindow* w = Own(st, hwnd);
    if (!w) return FALSE;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE) && (r.left != x || r.top != y)) {
      r = RECT{x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
      moved = true;
    }
    if (!(flags & SWP_NOSIZE) && (r.right - r.left != width || r.bottom - r.top != height)) {
      r.right = r.left + std::max(0, width);
      r.bottom = r.top + std::max(0, height);
      sized = true;
    }
    w->rect = now = r;
    if (!(flags & SWP_NOZORDER)) {
      if (std::vector<int64_t>* sib = Siblings(st, ToId(hwnd))) {
        // Children: the front of the list is the top; top-level: the back.
        const bool top = insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST;
        const bool bottom = insertAfter == HWND_BOTTOM || insertAfter == HWND_NOTOPMOST;
        const auto end = static_cast<std::ptrdiff_t>(sib->size());
        if (w->local) {
          if (top) Move(*sib, ToId(hwnd), 0);
          else if (bottom) Move(*sib, ToId(hwnd), end);
          else {
            auto it = std::find(sib->begin(), sib->end(), ToId(insertAfter));
            if (it != sib->end()) {
              std::ptrdiff_t at = it - sib->begin();
              auto self = std::find(sib->begin(), sib->end(), ToId(hwnd)) - sib->begin();
              Move(*sib, ToId(hwnd), self < at ? at : at + 1);
            }
          }
        } else if (top) {
          Move(*sib, ToId(hwnd), end);
        } else if (bottom) {
          Move(*sib, ToId(hwnd), 0);
        }
      }
    }
    ++st->version;
  }
  if (moved) CallOwn(d, hwnd, WM_MOVE, 0, MAKELPARAM(now.left, now.top));
  if (sized) CallOwn(d, hwnd, WM_SIZE, 0, MAKELPARAM(now.right - now.left, now.bottom - now.top));
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  if ((moved || sized) && !(flags & SWP_NOREDRAW)) InvalidateRect(hwnd, nullptr, TRUE);
  return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  if (!rect) return Fail(ERROR_INVALID_PARAMETER);
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  return ScreenRect(d, hwnd, rect) ? TRUE : Fail(ERROR_INVALID_WINDOW_HANDLE);
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  RECT r;
  if (!GetWindowRect(hwnd, rect ? &r : nullptr)) return FALSE;
  *rect = RECT{0, 0, r.right - r.left, r.bottom - r.top};
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
  RECT r;
  if (!point) return Fail(ERROR_INVALID_PARAMETER);
  if (!GetWindowRect(hwnd, &r)) return FALSE;
  point->x += r.left;
  point->y += r.top;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
  RECT r;
  if (!point) return Fail(ERROR_INVALID_PARAMETER);
  if (!GetWindowRect(hwnd, &r)) return FALSE;
  point->x -= r.left;
  point->y -= r.top;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  RECT a{}, b{};
  if ((from && !GetWindowRect(from, &a)) || (to && !GetWindowRect(to, &b))) return 0;
  LONG dx = a.left - b.left, dy = a.top - b.top;
  for (UINT i = 0; points && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  SetLastError(ERROR_SUCCESS);
  return MAKELONG(dx, dy);
}

BOOL IsChild(HWND parent, HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d || !parent) return FALSE;
  Locked st(d);
  LocalWindow* w = FindOwn(st, hwnd);
  while (w && w->local) {
    if (w->parent == ToId(parent)) return TRUE;
    w = FindOwn(st, w->parent);
  }
  return FALSE;
}

HWND SetFocus(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  int64_t old;
  {
    Locked st(d);
    if (hwnd && !Own(st, hwnd)) return nullptr;
    old = st->focus;
    if (old == ToId(hwnd)) return ToHwnd(old);
    st->focus = ToId(hwnd);
    ++st->version;
    // The nearest dialog remembers its focus control for reactivation.
    for (LocalWindow* w = hwnd ? FindOwn(st, hwnd) : nullptr; w && w->local;) {
      LocalWindow* p = FindOwn(st, w->parent);
      if (p && p->isDialog) {
        p->lastFocus = ToId(hwnd);
        break;
      }
      w = p;
    }
  }
  if (hwnd) {
    HWND top = TopLevelOf(d, hwnd);
    if (top && GetActiveWindow() != top) SetActiveWindow(top);
  }
  if (old && IsWindow(ToHwnd(old))) CallOwn(d, ToHwnd(old), WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd && GetFocus() == hwnd) CallOwn(d, hwnd, WM_SETFOCUS, static_cast<WPARAM>(old), 0);
  return ToHwnd(old);
}

HWND GetFocus() {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  Locked st(d);
  return FindOwn(st, st->focus) ? ToHwnd(st->focus) : nullptr;
}

HWND GetActiveWindow() {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  std::vector<int64_t> order;
  int64_t active;
  {
    Locked st(d);
    order = st->zorder;
    active = FindOwn(st, st->active) ? st->active : 0;
  }
  if (active && (StyleOf(d, ToHwnd(active)) & WS_VISIBLE)) return ToHwnd(active);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    DWORD style = StyleOf(d, ToHwnd(*it));
    if ((style & WS_VISIBLE) && !(style & WS_DISABLED)) return ToHwnd(*it);
  }
  return nullptr;
}

HWND SetActiveWindow(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  int64_t old;
  {
    Locked st(d);
    old = FindOwn(st, st->active) ? st->active : 0;
    if (!hwnd) {
      st->active = 0;
      ++st->version;
      return ToHwnd(old);
    }
    LocalWindow* w = Own(st, hwnd);
    if (!w || w->local) return nullptr;
    Move(st->zorder, ToId(hwnd), static_cast<std::ptrdiff_t>(st->zorder.size()));
    ++st->version;
    if (old == ToId(hwnd)) return ToHwnd(old);
    st->active = ToId(hwnd);
  }
  if (old) CallOwn(d, ToHwnd(old), WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
  CallOwn(d, hwnd, WM_ACTIVATE, WA_ACTIVE, static_cast<LPARAM>(old));
  return ToHwnd(old);
}

HWND GetForegroundWindow() { return GetActiveWindow(); }

BOOL SetForegroundWindow(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  if (!IsWindow(hwnd)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  HWND top = TopLevelOf(d, hwnd);
  if (!top) return TRUE;  // another process's window: its owner decides
  SetActiveWindow(top);
  return TRUE;
}

BOOL BringWindowToTop(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  if (IsLocalWindow(d, hwnd))
    return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return SetForegroundWindow(hwnd);
}

HWND GetWindow(HWND hwnd, UINT command) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  Locked st(d);
  LocalWindow* w = FindOwn(st, hwnd);
  if (!w) {
    if (!IsWindow(hwnd)) return Fail(ERROR_INVALID_WINDOW_HANDLE), nullptr;
    return command == GW_OWNER ? GetParent(hwnd) : nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  if (command == GW_CHILD) return w->children.empty() ? nullptr : ToHwnd(w->children.front());
  if (command == GW_OWNER) return w->local ? nullptr : ToHwnd(w->parent);
  std::vector<int64_t>* sib = Siblings(st, ToId(hwnd));
  if (!sib || sib->empty()) return nullptr;
  // Siblings from the top down: children in list order, top-level windows
  // in reverse z-order.
  std::vector<int64_t> order = *sib;
  if (!w->local) std::reverse(order.begin(), order.end());
  auto it = std::find(order.begin(), order.end(), ToId(hwnd));
  switch (command) {
    case GW_HWNDFIRST: return ToHwnd(order.front());
    case GW_HWNDLAST: return ToHwnd(order.back());
    case GW_HWNDNEXT: return it != order.end() && it + 1 != order.end() ? ToHwnd(*(it + 1)) : nullptr;
    case GW_HWNDPREV: return it != order.end() && it != order.begin() ? ToHwnd(*(it - 1)) : nullptr;
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
  }
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
  if (!proc) return Fail(ERROR_INVALID_PARAMETER);
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  std::vector<int64_t> all;
  {
    Locked st(d);
    if (!FindOwn(st, parent)) return FALSE;
    Descendants(st, ToId(parent), &all);
  }
  for (int64_t c : all) {
    if (IsWindow(ToHwnd(c)) && !proc(ToHwnd(c), lParam)) return FALSE;
  }
  return TRUE;
}

int GetDlgCtrlID(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (!IsWindow(hwnd)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  return static_cast<int>(GetWindowLongPtrW(hwnd, GWL_ID));
}

HWND GetDlgItem(HWND dialog, int id) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  Locked st(d);
  LocalWindow* w = FindOwn(st, dialog);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE), nullptr;
  for (int64_t c : w->children) {
    LocalWindow* child = FindOwn(st, c);
    if (child && static_cast<int>(child->controlId) == id) return ToHwnd(c);
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  Locked st(d);
  if (!hwnd) {
    for (int64_t id : st->zorder) FindOwn(st, id)->needsPaint = true;
    return TRUE;
  }
  LocalWindow* w = Own(st, hwnd);
  if (!w) return FALSE;
  w->needsPaint = true;
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT*) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  Locked st(d);
  LocalWindow* w = Own(st, hwnd);
  if (!w) return FALSE;
  w->needsPaint = false;
  return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  {
    Locked st(d);
    LocalWindow* w = Own(st, hwnd);
    if (!w) return FALSE;
    if (!w->needsPaint) return TRUE;
    w->needsPaint = false;
  }
  CallOwn(d, hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

HWND WindowFromPoint(POINT point) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  Locked st(d);
  for (auto it = st->zorder.rbegin(); it != st->zorder.rend(); ++it) {
    if (!(StyleOf(d, ToHwnd(*it)) & WS_VISIBLE)) continue;
    RECT r;
    if (!ScreenRect(d, ToHwnd(*it), &r) || !Contains(r, point)) continue;
    int64_t child = HitChild(d, st, *it, point);
    return ToHwnd(child ? child : *it);
  }
  return nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT clientPoint) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  Locked st(d);
  LocalWindow* p = Own(st, parent);
  if (!p) return nullptr;
  if (clientPoint.x < 0 || clientPoint.y < 0 || clientPoint.x >= p->rect.right - p->rect.left ||
      clientPoint.y >= p->rect.bottom - p->rect.top)
    return nullptr;
  for (int64_t c : p->children) {
    LocalWindow* w = FindOwn(st, c);
    if (w && Contains(w->rect, clientPoint)) return ToHwnd(c);
  }
  return parent;
}

// ------------------------------------------------------------ rectangles

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
  if (!rect) return FALSE;
  *rect = RECT{left, top, right, bottom};
  return TRUE;
}
BOOL SetRectEmpty(LPRECT rect) { return SetRect(rect, 0, 0, 0, 0); }
BOOL CopyRect(LPRECT to, const RECT* from) {
  if (!to || !from) return FALSE;
  *to = *from;
  return TRUE;
}
BOOL OffsetRect(LPRECT rect, int dx, int dy) {
  if (!rect) return FALSE;
  rect->left += dx;
  rect->right += dx;
  rect->top += dy;
  rect->bottom += dy;
  return TRUE;
}
BOOL InflateRect(LPRECT rect, int dx, int dy) {
  if (!rect) return FALSE;
  rect->left -= dx;
  rect->right += dx;
  rect->top -= dy;
  rect->bottom += dy;
  return TRUE;
}
BOOL IsRectEmpty(const RECT* rect) {
  return !rect || rect->right <= rect->left || rect->bottom <= rect->top ? TRUE : FALSE;
}
BOOL PtInRect(const RECT* rect, POINT point) { return rect && Contains(*rect, point) ? TRUE : FALSE; }
BOOL EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(&r)) {
    SetRectEmpty(out);
    return FALSE;
  }
  *out = r;
  return TRUE;
}
BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  if (IsRectEmpty(a)) return CopyRect(out, b) && !IsRectEmpty(b);
  if (IsRectEmpty(b)) return CopyRect(out, a);
  *out = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
              std::max(a->bottom, b->bottom)};
  return TRUE;
}
