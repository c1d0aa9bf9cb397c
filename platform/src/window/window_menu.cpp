// Menus (HMENU handles of this process) and the shell's menu bar
// ("menu_worker"): ce/menu.h.
#include <algorithm>
#include <functional>
#include <map>
#include <mutex>

#include "ce/errors.h"
#include "ce/dialog.h"
#include "ce/menu.h"
#include "ce/menubar.h"
#include "ce/module.h"
#include "ce/resformat.h"
#include "cesim/menubar.h"
#include "window/window_state.h"

namespace ce::win {
namespace {

// ---------------------------------------------------------------- menus

struct MenuItem {
  UINT flags = 0;  // MF_POPUP, MF_SEPARATOR, MF_GRAYED, MF_DISABLED, MF_CHECKED
  UINT id = 0;
  std::u16string text;
  int64_t sub = 0;
};
struct Menu {
  int64_t holder = 0;  // the menu this one is a submenu of
  std::vector<MenuItem> items;
};
struct MenuStore {
  std::recursive_mutex m;
  std::map<int64_t, Menu> menus;
  int64_t next = 0x50000000;
};
MenuStore& Store() {
  static MenuStore* s = new MenuStore;
  return *s;
}

int64_t Id(HMENU h) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(h)); }
HMENU Handle(int64_t id) { return reinterpret_cast<HMENU>(static_cast<intptr_t>(id)); }

Menu* Find(MenuStore& s, int64_t id) {
  auto it = s.menus.find(id);
  return it == s.menus.end() ? nullptr : &it->second;
}

Menu* FindOrFail(MenuStore& s, HMENU h) {
  Menu* m = Find(s, Id(h));
  if (!m) SetLastError(ERROR_INVALID_MENU_HANDLE);
  return m;
}

// The item named by position or command (searched depth first through
// submenus); *owner receives the menu that holds it.
MenuItem* Locate(MenuStore& s, int64_t menu, UINT item, UINT flags, Menu** owner, int depth = 0) {
  Menu* m = Find(s, menu);
  if (!m || depth > 16) return nullptr;
  if (flags & MF_BYPOSITION) {
    if (item >= m->items.size()) return nullptr;
    *owner = m;
    return &m->items[item];
  }
  for (MenuItem& i : m->items) {
    if (!(i.flags & (MF_POPUP | MF_SEPARATOR)) && i.id == item) {
      *owner = m;
      return &i;
    }
  }
  for (MenuItem& i : m->items) {
    if (!(i.flags & MF_POPUP)) continue;
    if (MenuItem* found = Locate(s, i.sub, item, flags, owner, depth + 1)) return found;
  }
  return nullptr;
}

void DestroyTree(MenuStore& s, int64_t id) {
  Menu* m = Find(s, id);
  if (!m) return;
  std::vector<int64_t> subs;
  for (const MenuItem& i : m->items)
    if (i.flags & MF_POPUP) subs.push_back(i.sub);
  s.menus.erase(id);
  for (int64_t sub : subs) DestroyTree(s, sub);
}

// Whether `inner` is `outer` or lies inside it.
bool Holds(MenuStore& s, int64_t outer, int64_t inner) {
  for (int guard = 0; inner && guard < 64; ++guard) {
    if (inner == outer) return true;
    Menu* m = Find(s, inner);
    inner = m ? m->holder : 0;
  }
  return false;
}

HMENU NewMenu() {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  int64_t id = s.next++;
  s.menus[id] = Menu{};
  return Handle(id);
}

BOOL Insert(HMENU menu, int at, UINT flags, UINT_PTR idOrPopup, LPCWSTR text) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* m = FindOrFail(s, menu);
  if (!m) return FALSE;
  MenuItem item;
  item.flags = flags & (MF_POPUP | MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_CHECKED);
  if (flags & MF_SEPARATOR) {
    item.flags = MF_SEPARATOR;
  } else if (flags & MF_POPUP) {
    const int64_t sub = static_cast<int64_t>(idOrPopup);
    Menu* sm = Find(s, sub);
    if (!sm || sm->holder != 0 || Holds(s, sub, Id(menu))) {
      SetLastError(sm ? ERROR_INVALID_PARAMETER : ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    sm->holder = Id(menu);
    item.sub = sub;
  } else {
    item.id = static_cast<UINT>(idOrPopup & 0xFFFF);
  }
  if (!(flags & MF_SEPARATOR) && text) item.text = text;
  const int n = static_cast<int>(m->items.size());
  if (at < 0 || at > n) at = n;
  m->items.insert(m->items.begin() + at, std::move(item));
  return TRUE;
}

BOOL Take(HMENU menu, UINT position, UINT flags, bool destroySub) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  if (!FindOrFail(s, menu)) return FALSE;
  Menu* owner = nullptr;
  MenuItem* item = Locate(s, Id(menu), position, flags, &owner);
  if (!item) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int64_t sub = (item->flags & MF_POPUP) ? item->sub : 0;
  owner->items.erase(owner->items.begin() + (item - owner->items.data()));
  if (sub) {
    if (destroySub) DestroyTree(s, sub);
    else if (Menu* sm = Find(s, sub)) sm->holder = 0;
  }
  return TRUE;
}

// ---------------------------------------------------------------- the bar

constexpr int kRowHeight = 22;
constexpr int kSeparatorHeight = 7;
constexpr int kCharWidth = 7;
constexpr int kPaneMargin = 12;
constexpr int kMinPaneWidth = 100;

int Scale() { return std::max(1, GetDisplayScale()); }

struct Size {
  LONG cx = 0, cy = 0;
};

// The owner's client size.
Size OwnerClient(HWND bar) {
  RECT r{};
  GetClientRect(GetParent(bar), &r);
  return Size{r.right - r.left, r.bottom - r.top};
}

// The layout of the bar in its owner's client coordinates.
MenuBarView Layout(const MenuBarState& state, Size client) {
  const int s = Scale();
  MenuBarView v;
  v.bar = RECT{0, client.cy - kMenuBarHeight * s, client.cx, client.cy};
  const int n = static_cast<int>(state.buttons.size());
  MenuStore& store = Store();
  std::lock_guard<std::recursive_mutex> g(store.m);
  for (int i = 0; i < n; ++i) {
    const auto& b = state.buttons[static_cast<size_t>(i)];
    MenuEntryView e;
    e.id = b.menu ? 0 : b.id;
    e.text = b.text;
    e.rect = RECT{client.cx * i / n, v.bar.top, client.cx * (i + 1) / n, v.bar.bottom};
    e.popup = b.menu != 0;
    e.menu = Handle(b.menu);
    e.open = i == state.openButton;
    v.buttons.push_back(std::move(e));
  }
  // Panes: the button's menu rises from the bar at the button; a submenu
  // rises from its item's bottom, beside its parent pane where there is room.
  RECT anchor = state.openButton >= 0 && state.openButton < n ? v.buttons[static_cast<size_t>(state.openButton)].rect
                                                                : RECT{};
  bool first = true;
  for (size_t k = 0; k < state.open.size(); ++k) {
    Menu* m = Find(store, state.open[k]);
    if (!m) break;
    MenuPaneView p;
    p.menu = Handle(state.open[k]);
    int width = kMinPaneWidth * s;
    int height = 0;
    for (const MenuItem& i : m->items) {
      width = std::max(width, static_cast<int>(i.text.size()) * kCharWidth * s + 2 * kPaneMargin * s);
      height += ((i.flags & MF_SEPARATOR) ? kSeparatorHeight : kRowHeight) * s;
    }
    width = std::min<int>(width, client.cx);
    // A submenu overlaps its parent a little; both keep on the screen.
    int left = first ? anchor.left : anchor.right - 16 * s;
    left = std::clamp<int>(left, 0, std::max<int>(0, client.cx - width));
    int bottom = first ? v.bar.top : anchor.bottom;
    bottom = std::min<int>(bottom, v.bar.top);
    int top = std::max(0, bottom - height);
    bottom = top + height;
    p.rect = RECT{left, top, left + width, bottom};
    int y = top;
    const int64_t next = k + 1 < state.open.size() ? state.open[k + 1] : 0;
    for (const MenuItem& i : m->items) {
      MenuEntryView e;
      const int h = ((i.flags & MF_SEPARATOR) ? kSeparatorHeight : kRowHeight) * s;
      e.rect = RECT{left, y, left + width, y + h};
      y += h;
      e.separator = (i.flags & MF_SEPARATOR) != 0;
      e.popup = (i.flags & MF_POPUP) != 0;
      e.id = e.popup || e.separator ? 0 : static_cast<int>(i.id);
      e.text = i.text;
      e.enabled = !(i.flags & (MF_GRAYED | MF_DISABLED));
      e.checked = (i.flags & MF_CHECKED) != 0;
      e.menu = e.popup ? Handle(i.sub) : nullptr;
      e.open = e.popup && i.sub == next;
      if (e.open) anchor = e.rect;
      p.entries.push_back(std::move(e));
    }
    v.panes.push_back(std::move(p));
    first = false;
  }
  return v;
}

MenuBarState StateOf(HWND bar) {
  return WithWindow(bar, false, [](LocalWindow& w) { return w.ctl.menuBar; });
}

// Puts the bar at the bottom of its owner, grown upwards over its open
// menus, and on top of its siblings (the screen draws it last).
void Place(HWND bar) {
  const Size client = OwnerClient(bar);
  const MenuBarView v = Layout(StateOf(bar), client);
  RECT r = v.bar;
  for (const auto& p : v.panes) r.top = std::min(r.top, p.rect.top);
  Device* d = DeviceOrFail();
  if (!d) return;
  Locked st(d);
  LocalWindow* w = FindOwn(st, bar);
  if (!w) return;
  w->rect = r;
  if (LocalWindow* parent = FindOwn(st, w->parent)) {
    auto& c = parent->children;
    auto it = std::find(c.begin(), c.end(), ToId(bar));
    if (it != c.end()) std::rotate(c.begin(), it, it + 1);  // the top: taps reach it first
  }
  ++st->version;
}

void SetOpen(HWND bar, int button, std::vector<int64_t> open) {
  WithWindow(bar, true, [&](LocalWindow& w) {
    w.ctl.menuBar.openButton = button;
    w.ctl.menuBar.open = std::move(open);
    return 0;
  });
  Place(bar);
}

void Command(HWND bar, int id) {
  SetOpen(bar, -1, {});
  PostMessageW(GetParent(bar), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool Inside(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

// A tap at p (owner client coordinates).
void Tap(HWND bar, POINT p) {
  const MenuBarState state = StateOf(bar);
  const MenuBarView v = Layout(state, OwnerClient(bar));
  for (size_t k = v.panes.size(); k-- > 0;) {
    const MenuPaneView& pane = v.panes[k];
    if (!Inside(pane.rect, p)) continue;
    for (const MenuEntryView& e : pane.entries) {
      if (!Inside(e.rect, p)) continue;
      if (e.separator || !e.enabled) return;
      if (e.popup) {
        std::vector<int64_t> open(state.open.begin(), state.open.begin() + static_cast<std::ptrdiff_t>(k + 1));
        if (!e.open) open.push_back(Id(e.menu));
        SetOpen(bar, state.openButton, std::move(open));
        return;
      }
      Command(bar, e.id);
      return;
    }
    return;
  }
  for (size_t i = 0; i < v.buttons.size(); ++i) {
    const MenuEntryView& b = v.buttons[i];
    if (!Inside(b.rect, p)) continue;
    if (b.open) return SetOpen(bar, -1, {});
    if (b.popup) return SetOpen(bar, static_cast<int>(i), {Id(b.menu)});
    return Command(bar, state.buttons[i].id);
  }
  SetOpen(bar, -1, {});  // a tap beside the menus closes them
}

LRESULT BarCreate(HWND h) {
  HMENU barMenu = CreateMenu();
  WithWindow(h, false, [&](LocalWindow& w) { return w.ctl.menuBar.barMenu = Id(barMenu); });
  return 0;
}

}  // namespace

LRESULT MenuBarProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE: return BarCreate(h);
    case WM_DESTROY: {
      int64_t menu = WithWindow(h, false, [](LocalWindow& w) { return std::exchange(w.ctl.menuBar.barMenu, 0); });
      if (menu) DestroyMenu(Handle(menu));
      return 0;
    }
    case WM_LBUTTONDOWN: {
      RECT r{};
      Device* d = DeviceOrFail();
      if (d) {
        Locked st(d);
        if (LocalWindow* w = FindOwn(st, h)) r = w->rect;
      }
      POINT p{static_cast<SHORT>(LOWORD(lParam)) + r.left, static_cast<SHORT>(HIWORD(lParam)) + r.top};
      Tap(h, p);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) SetOpen(h, -1, {});
      return 0;
    case WM_SETTINGCHANGE:
    case WM_SIZE:
      Place(h);
      return 0;
    case SHCMBM_GETSUBMENU: {
      const MenuBarState s = StateOf(h);
      for (const auto& b : s.buttons)
        if (b.id == static_cast<int>(lParam) && b.menu) return reinterpret_cast<LRESULT>(Handle(b.menu));
      return 0;
    }
    case SHCMBM_GETMENU:
      return reinterpret_cast<LRESULT>(Handle(StateOf(h).barMenu));
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

namespace {

std::u16string LabelOf(HINSTANCE module, const std::u16string& text, int stringId) {
  if (stringId == 0) return text;
  LPCWSTR s = nullptr;
  int len = LoadStringW(module, static_cast<UINT>(stringId), reinterpret_cast<LPWSTR>(&s), 0);
  return len > 0 && s ? std::u16string(s, static_cast<size_t>(len)) : std::u16string();
}

bool Fill(HMENU menu, HINSTANCE module, const std::vector<MenuTemplateItem>& items) {
  for (const auto& i : items) {
    const std::u16string text = LabelOf(module, i.text, i.stringId);
    switch (i.kind) {
      case MenuTemplateItem::Kind::Separator:
        if (!AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)) return false;
        break;
      case MenuTemplateItem::Kind::Item:
        if (!AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(i.id), text.c_str())) return false;
        break;
      case MenuTemplateItem::Kind::Popup: {
        HMENU sub = CreatePopupMenu();
        if (!Fill(sub, module, i.items) ||
            !AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), text.c_str())) {
          DestroyMenu(sub);
          return false;
        }
        break;
      }
    }
  }
  return true;
}

bool LoadBar(HINSTANCE module, UINT id, MenuBarTemplate* out) {
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(res::kTypeMenuBar));
  if (!res) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return false;
  }
  HGLOBAL data = LoadResource(module, res);
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes || !ParseMenuBarTemplate(bytes, SizeofResource(module, res), out, nullptr)) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

}  // namespace
}  // namespace ce::win

using namespace ce;
using namespace ce::win;

HMENU CreateMenu() { return NewMenu(); }
HMENU CreatePopupMenu() { return NewMenu(); }

BOOL IsMenu(HMENU menu) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  return Find(s, Id(menu)) ? TRUE : FALSE;
}

BOOL DestroyMenu(HMENU menu) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* m = FindOrFail(s, menu);
  if (!m) return FALSE;
  if (Menu* holder = Find(s, m->holder)) {
    auto& items = holder->items;
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const MenuItem& i) { return (i.flags & MF_POPUP) && i.sub == Id(menu); }),
                items.end());
  }
  DestroyTree(s, Id(menu));
  return TRUE;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCWSTR text) {
  return Insert(menu, -1, flags, idOrPopup, text);
}

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, LPCWSTR text) {
  int at = -1;
  if (flags & MF_BYPOSITION) {
    at = position == 0xFFFFFFFFu ? -1 : static_cast<int>(position);
  } else {
    MenuStore& s = Store();
    std::lock_guard<std::recursive_mutex> g(s.m);
    Menu* m = FindOrFail(s, menu);
    if (!m) return FALSE;
    for (size_t i = 0; i < m->items.size(); ++i)
      if (!(m->items[i].flags & (MF_POPUP | MF_SEPARATOR)) && m->items[i].id == position) at = static_cast<int>(i);
  }
  return Insert(menu, at, flags & ~MF_BYPOSITION, idOrPopup, text);
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) { return Take(menu, position, flags, false); }
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) { return Take(menu, position, flags, true); }

int GetMenuItemCount(HMENU menu) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* m = FindOrFail(s, menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

HMENU GetSubMenu(HMENU menu, int position) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* m = FindOrFail(s, menu);
  if (!m || position < 0 || position >= static_cast<int>(m->items.size())) return nullptr;
  const MenuItem& i = m->items[static_cast<size_t>(position)];
  return (i.flags & MF_POPUP) ? Handle(i.sub) : nullptr;
}

UINT GetMenuItemID(HMENU menu, int position) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* m = FindOrFail(s, menu);
  if (!m || position < 0 || position >= static_cast<int>(m->items.size())) return 0xFFFFFFFFu;
  const MenuItem& i = m->items[static_cast<size_t>(position)];
  if (i.flags & MF_POPUP) return 0xFFFFFFFFu;
  return (i.flags & MF_SEPARATOR) ? 0 : i.id;
}

UINT EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* owner = nullptr;
  MenuItem* i = Locate(s, Id(menu), item, flags, &owner);
  if (!i) return 0xFFFFFFFFu;
  const UINT old = i->flags & (MF_GRAYED | MF_DISABLED);
  i->flags = (i->flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
  return old;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* owner = nullptr;
  MenuItem* i = Locate(s, Id(menu), item, flags, &owner);
  if (!i) return 0xFFFFFFFFu;
  const DWORD old = i->flags & MF_CHECKED;
  i->flags = (i->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
  return old;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* owner = nullptr;
  MenuItem* i = Locate(s, Id(menu), item, flags, &owner);
  return i ? i->flags : 0xFFFFFFFFu;
}

int GetMenuStringW(HMENU menu, UINT item, LPWSTR text, int maxChars, UINT flags) {
  MenuStore& s = Store();
  std::lock_guard<std::recursive_mutex> g(s.m);
  Menu* owner = nullptr;
  MenuItem* i = Locate(s, Id(menu), item, flags, &owner);
  if (!i) return 0;
  if (!text) return static_cast<int>(i->text.size());
  if (maxChars <= 0) return 0;
  const size_t n = std::min(i->text.size(), static_cast<size_t>(maxChars - 1));
  std::copy(i->text.begin(), i->text.begin() + static_cast<std::ptrdiff_t>(n), text);
  text[n] = 0;
  return static_cast<int>(n);
}

HWND SHFindMenuBar(HWND parent) {
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    WCHAR cls[16] = {};
    if (GetClassNameW(c, cls, 16) > 0 && EqualNoCase(cls, MENUBAR_CLASSW)) return c;
  }
  return nullptr;
}

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (!info || info->cbSize != sizeof(SHMENUBARINFO) || !IsWindow(info->hwndParent)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hwndMB = nullptr;
  HINSTANCE module = info->hInstRes ? info->hInstRes : GetModuleHandleW(nullptr);
  MenuBarTemplate t;
  if (!(info->dwFlags & SHCMBF_EMPTYBAR) && !LoadBar(module, info->nToolBarId, &t)) return FALSE;
  if (HWND old = SHFindMenuBar(info->hwndParent)) DestroyWindow(old);
  const DWORD style = WS_CHILD | ((info->dwFlags & SHCMBF_HIDDEN) ? 0 : WS_VISIBLE);
  HWND bar = CreateWindowExW(0, MENUBAR_CLASSW, u"", style, 0, 0, 0, 0, info->hwndParent,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(info->nToolBarId & 0xFFFF)), module, nullptr);
  if (!bar) return FALSE;
  HMENU barMenu = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETMENU, 0, 0));
  std::vector<MenuBarState::Button> buttons;
  for (const auto& b : t.buttons) {
    MenuBarState::Button out{b.id, LabelOf(module, b.text, b.stringId), 0};
    if (b.hasMenu) {
      HMENU sub = CreatePopupMenu();
      if (!Fill(sub, module, b.items) ||
          !AppendMenuW(barMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), out.text.c_str())) {
        DestroyMenu(sub);
        DestroyWindow(bar);
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
      }
      out.menu = Id(sub);
    }
    buttons.push_back(std::move(out));
  }
  WithWindow(bar, true, [&](LocalWindow& w) { return w.ctl.menuBar.buttons = std::move(buttons), 0; });
  Place(bar);
  info->hwndMB = bar;
  return TRUE;
}

namespace ce {

bool DescribeMenuBar(HWND bar, MenuBarView* out) {
  if (!win::IsLocalWindow(win::DeviceOrFail(), bar)) return false;
  WCHAR cls[16] = {};
  if (GetClassNameW(bar, cls, 16) <= 0 || !EqualNoCase(cls, MENUBAR_CLASSW)) return false;
  MenuBarView v = win::Layout(win::StateOf(bar), win::OwnerClient(bar));
  POINT origin{0, 0};
  ClientToScreen(GetParent(bar), &origin);
  auto shift = [&](RECT& r) { OffsetRect(&r, origin.x, origin.y); };
  shift(v.bar);
  for (auto& b : v.buttons) shift(b.rect);
  for (auto& p : v.panes) {
    shift(p.rect);
    for (auto& e : p.entries) shift(e.rect);
  }
  *out = std::move(v);
  return true;
}

}  // namespace ce
