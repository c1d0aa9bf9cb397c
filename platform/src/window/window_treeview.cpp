// The tree view control "SysTreeView32". Its items live in the window
// model (TreeViewState); every notification is WM_NOTIFY to the parent,
// sent outside the model's lock, and every handle is looked up again after
// one (a handler may have deleted the item).
//
// Layout (client pixels), the same for hit testing and for the screen:
// rows of itemHeight from the top row `top`; an item of level L starts at
// x = (L + (TVS_LINESATROOT ? 1 : 0)) * indent, its expand button in the
// indent column before it; then the state image (when a state image list
// is set or TVS_CHECKBOXES), the image (when a normal image list is set)
// and the label. A scroll bar takes the right edge while the rows do not
// fit.
#include <algorithm>
#include <optional>
#include <utility>

#include "ce/dialog.h"
#include "ce/text.h"
#include "cesim/treeview.h"
#include "window/window_state.h"
#include "window/window_treeview.h"

namespace ce::win {
namespace {

HTREEITEM ToItem(uint32_t id) { return reinterpret_cast<HTREEITEM>(static_cast<uintptr_t>(id)); }
// 0 for null, the root and the insert positions (never item handles).
uint32_t FromItem(HTREEITEM h) {
  auto v = reinterpret_cast<uintptr_t>(h);
  return v <= 0xFFFFFFFFu ? static_cast<uint32_t>(v) : 0;
}

int Scale() { return GetDisplayScale(); }

// Runs fn on the tree's state (made on first use) with the model locked.
template <class Fn>
auto WithTree(HWND h, bool change, Fn fn) -> decltype(fn(std::declval<TreeViewState&>())) {
  return WithWindow(h, change, [&](LocalWindow& w) {
    if (!w.ctl.tree) w.ctl.tree = std::make_shared<TreeViewState>();
    return fn(*w.ctl.tree);
  });
}

DWORD StyleOf(HWND h) {
  return WithWindow(h, false, [](LocalWindow& w) { return w.style; });
}

// ---------------------------------------------------------------- geometry

struct Geometry {
  int indent = 0, itemHeight = 0, stateWidth = 0, imageWidth = 0;
  int width = 0, height = 0;  // client, without the scroll bar
  int rows = 1;               // rows in view
  bool linesAtRoot = false, buttons = false, scrollBar = false;
};

constexpr int kScrollBarWidth = 12;  // at scale 1
constexpr int kLabelPad = 2;

Geometry GeometryOf(HWND h, const TreeViewState& t, DWORD style, int totalRows) {
  Geometry g;
  const int s = Scale();
  g.indent = t.indent > 0 ? t.indent : 16 * s;
  // Image columns take the size of their image list (16 x scale when the
  // drawing layer does not know the list).
  int cx = 0, cy = 0, imageHeight = 0;
  g.stateWidth = (t.stateImages || (style & TVS_CHECKBOXES)) ? 16 * s : 0;
  if (ImageListSize(t.stateImages, &cx, &cy)) g.stateWidth = cx, imageHeight = cy;
  g.imageWidth = t.normal ? 16 * s : 0;
  if (ImageListSize(t.normal, &cx, &cy)) g.imageWidth = cx, imageHeight = std::max(imageHeight, cy);
  g.itemHeight = t.itemHeight > 0 ? t.itemHeight : std::max(18 * s, imageHeight + 2);
  g.linesAtRoot = style & TVS_LINESATROOT;
  g.buttons = style & TVS_HASBUTTONS;
  RECT r{};
  GetClientRect(h, &r);
  g.width = std::max<int>(0, r.right - r.left);
  g.height = std::max<int>(0, r.bottom - r.top);
  g.rows = std::max(1, g.height / g.itemHeight);
  g.scrollBar = totalRows > g.rows && !(style & TVS_NOSCROLL);
  if (g.scrollBar) g.width = std::max(0, g.width - kScrollBarWidth * s);
  return g;
}

// ---------------------------------------------------------------- rows

struct TreeRow {
  uint32_t id;
  int level;
};

bool HasChildren(const TreeItem& it) {
  return !it.children.empty() || (it.childrenGiven && it.cChildren != 0);
}

// The items in view order: the top level, each expanded item followed by
// its children.
std::vector<TreeRow> VisibleRows(const TreeViewState& t) {
  std::vector<TreeRow> out;
  std::vector<TreeRow> stack;
  for (auto it = t.roots.rbegin(); it != t.roots.rend(); ++it) stack.push_back({*it, 0});
  while (!stack.empty()) {
    TreeRow r = stack.back();
    stack.pop_back();
    auto f = t.items.find(r.id);
    if (f == t.items.end()) continue;
    out.push_back(r);
    if (f->second.state & TVIS_EXPANDED)
      for (auto c = f->second.children.rbegin(); c != f->second.children.rend(); ++c) stack.push_back({*c, r.level + 1});
  }
  return out;
}

int RowOf(const std::vector<TreeRow>& rows, uint32_t id) {
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].id == id) return static_cast<int>(i);
  return -1;
}

void ClampTop(TreeViewState& t, int total, int inView) {
  t.top = std::clamp(t.top, 0, std::max(0, total - inView));
}

int ItemX(const Geometry& g, int level) { return (level + (g.linesAtRoot ? 1 : 0)) * g.indent; }
int LabelWidth(const std::u16string& text) { return static_cast<int>(text.size()) * 8 * Scale() + 2 * kLabelPad * Scale(); }

// ---------------------------------------------------------------- notifications

TVITEMW Describe(const TreeViewState& t, uint32_t id) {
  TVITEMW item{};
  item.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
  item.hItem = ToItem(id);
  auto f = t.items.find(id);
  if (f != t.items.end()) {
    item.state = f->second.state | (t.caret == id ? TVIS_SELECTED : 0u);
    item.stateMask = 0xFFFFu;
    item.lParam = f->second.data;
  }
  return item;
}

LRESULT SendNotify(HWND h, NMHDR* hdr) {
  HWND parent = GetParent(h);
  if (!parent) return 0;
  hdr->hwndFrom = h;
  hdr->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(h));
  return SendMessageW(parent, WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(hdr));
}

LRESULT NotifyTree(HWND h, UINT code, UINT action, uint32_t oldId, uint32_t newId) {
  NMTREEVIEWW nm{};
  WithTree(h, false, [&](TreeViewState& t) {
    if (oldId) nm.itemOld = Describe(t, oldId);
    if (newId) nm.itemNew = Describe(t, newId);
    return 0;
  });
  nm.hdr.code = code;
  nm.action = action;
  return SendNotify(h, &nm.hdr);
}

LRESULT NotifyPlain(HWND h, UINT code) {
  NMHDR hdr{nullptr, 0, code};
  return SendNotify(h, &hdr);
}

bool Exists(HWND h, uint32_t id) {
  return id && WithTree(h, false, [&](TreeViewState& t) { return t.items.count(id) > 0; });
}

// ---------------------------------------------------------------- changes

// Removes the item (0: every item) and its subtree; the parent hears
// TVN_DELETEITEM for each, children first. False for an unknown item.
bool DeleteItems(HWND h, uint32_t id, bool notify) {
  struct Gone {
    uint32_t id;
    LPARAM data;
  };
  std::vector<Gone> gone;
  bool ok = WithTree(h, true, [&](TreeViewState& t) {
    if (id && !t.items.count(id)) return false;
    std::vector<uint32_t> order;  // parents before children; reversed below
    std::vector<uint32_t> stack = id ? std::vector<uint32_t>{id} : t.roots;
    while (!stack.empty()) {
      uint32_t c = stack.back();
      stack.pop_back();
      auto f = t.items.find(c);
      if (f == t.items.end()) continue;
      order.push_back(c);
      for (uint32_t k : f->second.children) stack.push_back(k);
    }
    if (id) {
      TreeItem& it = t.items[id];
      std::vector<uint32_t>& siblings = it.parent ? t.items[it.parent].children : t.roots;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
      // An item whose last child went has nothing left to show open.
      if (it.parent && siblings.empty()) t.items[it.parent].state &= ~TVIS_EXPANDED;
    } else {
      t.roots.clear();
    }
    for (auto c = order.rbegin(); c != order.rend(); ++c) {
      gone.push_back({*c, t.items[*c].data});
      if (t.caret == *c) t.caret = 0;
      t.items.erase(*c);
    }
    return true;
  });
  if (!notify) return ok;
  for (const Gone& g : gone) {
    NMTREEVIEWW nm{};
    nm.hdr.code = TVN_DELETEITEMW;
    nm.itemOld.mask = TVIF_HANDLE | TVIF_PARAM;
    nm.itemOld.hItem = ToItem(g.id);
    nm.itemOld.lParam = g.data;
    SendNotify(h, &nm.hdr);
  }
  return ok;
}

// Keeps the row of id in view.
void ScrollTo(HWND h, uint32_t id) {
  const DWORD style = StyleOf(h);
  WithTree(h, true, [&](TreeViewState& t) {
    std::vector<TreeRow> rows = VisibleRows(t);
    Geometry g = GeometryOf(h, t, style, static_cast<int>(rows.size()));
    int r = RowOf(rows, id);
    if (r >= 0) {
      if (r < t.top) t.top = r;
      if (r >= t.top + g.rows) t.top = r - g.rows + 1;
    }
    ClampTop(t, static_cast<int>(rows.size()), g.rows);
    return 0;
  });
}

bool SelectItem(HWND h, uint32_t id, UINT action);

// TVE_EXPAND / TVE_COLLAPSE / TVE_TOGGLE (| TVE_COLLAPSERESET). The parent
// may refuse at TVN_ITEMEXPANDING and may add children there.
bool ExpandItem(HWND h, uint32_t id, UINT code) {
  struct Now {
    bool found = false, expanded = false, hasChildren = false;
  };
  Now now = WithTree(h, false, [&](TreeViewState& t) {
    Now n;
    auto f = t.items.find(id);
    if (f == t.items.end()) return n;
    n.found = true;
    n.expanded = f->second.state & TVIS_EXPANDED;
    n.hasChildren = HasChildren(f->second);
    return n;
  });
  if (!now.found) return false;
  const UINT op = code & 0x3u;
  if (op == 0) return false;
  const bool expand = op == TVE_TOGGLE ? !now.expanded : op == TVE_EXPAND;
  const bool reset = !expand && (code & TVE_COLLAPSERESET);
  if (expand == now.expanded && !reset) return expand;  // already so
  if (expand && !now.hasChildren) return false;
  const UINT action = expand ? TVE_EXPAND : TVE_COLLAPSE;
  if (expand != now.expanded && NotifyTree(h, TVN_ITEMEXPANDINGW, action, 0, id)) return false;
  if (!Exists(h, id)) return false;
  bool caretInside = false;
  WithTree(h, true, [&](TreeViewState& t) {
    TreeItem& it = t.items[id];
    if (expand) {
      it.state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    } else {
      it.state &= ~TVIS_EXPANDED;
      if (reset) it.state &= ~TVIS_EXPANDEDONCE;
      for (uint32_t p = t.caret; p && !caretInside;) {
        auto f = t.items.find(p);
        if (f == t.items.end()) break;
        p = f->second.parent;
        caretInside = p == id;
      }
    }
    return 0;
  });
  // The caret never hides in a closed branch: it moves up to the item.
  if (caretInside) SelectItem(h, id, TVC_UNKNOWN);
  if (reset) {
    std::vector<uint32_t> kids = WithTree(h, false, [&](TreeViewState& t) {
      auto f = t.items.find(id);
      return f == t.items.end() ? std::vector<uint32_t>() : f->second.children;
    });
    for (uint32_t k : kids) DeleteItems(h, k, true);
  }
  ScrollTo(h, WithTree(h, false, [](TreeViewState& t) { return t.caret; }));
  if (Exists(h, id) && expand != now.expanded) NotifyTree(h, TVN_ITEMEXPANDEDW, action, 0, id);
  return true;
}

// Moves the caret (0: none). The parent may refuse at TVN_SELCHANGING.
bool SelectItem(HWND h, uint32_t id, UINT action) {
  if (id && !Exists(h, id)) return false;
  const uint32_t old = WithTree(h, false, [](TreeViewState& t) { return t.caret; });
  if (old == id) return true;
  if (NotifyTree(h, TVN_SELCHANGINGW, action, old, id)) return false;
  if (id && !Exists(h, id)) return false;
  // The item's branch opens so that it can be seen.
  std::vector<uint32_t> closed = WithTree(h, false, [&](TreeViewState& t) {
    std::vector<uint32_t> out;
    auto f = t.items.find(id);
    for (uint32_t p = f == t.items.end() ? 0 : f->second.parent; p;) {
      auto pf = t.items.find(p);
      if (pf == t.items.end()) break;
      if (!(pf->second.state & TVIS_EXPANDED)) out.push_back(p);
      p = pf->second.parent;
    }
    return out;
  });
  for (auto p = closed.rbegin(); p != closed.rend(); ++p) ExpandItem(h, *p, TVE_EXPAND);
  if (id && !Exists(h, id)) return false;
  WithTree(h, true, [&](TreeViewState& t) { return t.caret = id; });
  ScrollTo(h, id);
  NotifyTree(h, TVN_SELCHANGEDW, action, Exists(h, old) ? old : 0, id);
  return true;
}

HTREEITEM InsertItem(HWND h, const TVINSERTSTRUCTW* ins) {
  if (!ins) return nullptr;
  const uint32_t parent = ins->hParent == TVI_ROOT ? 0 : FromItem(ins->hParent);
  if (ins->hParent && ins->hParent != TVI_ROOT && !parent) return nullptr;
  const TVITEMW& in = ins->item;
  TreeItem item;
  item.parent = parent;
  if ((in.mask & TVIF_TEXT) && in.pszText && in.pszText != LPSTR_TEXTCALLBACKW) item.text = in.pszText;
  if (in.mask & TVIF_IMAGE) item.image = in.iImage;
  if (in.mask & TVIF_SELECTEDIMAGE) item.selectedImage = in.iSelectedImage;
  if (in.mask & TVIF_STATE) item.state = in.state & in.stateMask & ~(TVIS_SELECTED | TVIS_EXPANDED | TVIS_EXPANDEDONCE);
  if (in.mask & TVIF_PARAM) item.data = in.lParam;
  if (in.mask & TVIF_CHILDREN) {
    item.cChildren = in.cChildren;
    item.childrenGiven = true;
  }
  if (StyleOf(h) & TVS_CHECKBOXES && !(item.state & TVIS_STATEIMAGEMASK)) item.state |= INDEXTOSTATEIMAGEMASK(1);
  const uint32_t id = WithTree(h, true, [&](TreeViewState& t) -> uint32_t {
    if (parent && !t.items.count(parent)) return 0;
    std::vector<uint32_t>& siblings = parent ? t.items[parent].children : t.roots;
    auto at = siblings.end();
    if (ins->hInsertAfter == TVI_FIRST) {
      at = siblings.begin();
    } else if (ins->hInsertAfter == TVI_SORT) {
      std::u16string key = DeviceUpper(item.text);
      at = std::find_if(siblings.begin(), siblings.end(),
                        [&](uint32_t s) { return DeviceUpper(t.items[s].text) > key; });
    } else if (ins->hInsertAfter != TVI_LAST && ins->hInsertAfter) {
      // After a sibling; an item that is no sibling puts it last.
      auto f = std::find(siblings.begin(), siblings.end(), FromItem(ins->hInsertAfter));
      if (f != siblings.end()) at = f + 1;
    }
    const uint32_t nid = t.next++;
    siblings.insert(at, nid);
    t.items[nid] = std::move(item);
    return nid;
  });
  return id ? ToItem(id) : nullptr;
}

BOOL GetItem(HWND h, TVITEMW* out) {
  if (!out) return FALSE;
  return WithTree(h, false, [&](TreeViewState& t) -> BOOL {
    auto f = t.items.find(FromItem(out->hItem));
    if (f == t.items.end()) return FALSE;
    const TreeItem& it = f->second;
    if ((out->mask & TVIF_TEXT) && out->pszText && out->pszText != LPSTR_TEXTCALLBACKW && out->cchTextMax > 0) {
      size_t n = std::min(it.text.size(), static_cast<size_t>(out->cchTextMax - 1));
      std::copy(it.text.begin(), it.text.begin() + static_cast<std::ptrdiff_t>(n), out->pszText);
      out->pszText[n] = 0;
    }
    if (out->mask & TVIF_IMAGE) out->iImage = it.image;
    if (out->mask & TVIF_SELECTEDIMAGE) out->iSelectedImage = it.selectedImage;
    if (out->mask & TVIF_STATE) out->state = (it.state | (t.caret == f->first ? TVIS_SELECTED : 0u)) & out->stateMask;
    if (out->mask & TVIF_PARAM) out->lParam = it.data;
    if (out->mask & TVIF_CHILDREN) out->cChildren = it.childrenGiven ? it.cChildren : (it.children.empty() ? 0 : 1);
    return TRUE;
  });
}

BOOL SetItem(HWND h, const TVITEMW* in) {
  if (!in) return FALSE;
  return WithTree(h, true, [&](TreeViewState& t) -> BOOL {
    auto f = t.items.find(FromItem(in->hItem));
    if (f == t.items.end()) return FALSE;
    TreeItem& it = f->second;
    if (in->mask & TVIF_TEXT)
      it.text = in->pszText && in->pszText != LPSTR_TEXTCALLBACKW ? std::u16string(in->pszText) : std::u16string();
    if (in->mask & TVIF_IMAGE) it.image = in->iImage;
    if (in->mask & TVIF_SELECTEDIMAGE) it.selectedImage = in->iSelectedImage;
    if (in->mask & TVIF_STATE) {
      // The caret is moved by selecting, never by a state bit.
      const UINT mask = in->stateMask & ~TVIS_SELECTED;
      it.state = (it.state & ~mask) | (in->state & mask);
    }
    if (in->mask & TVIF_PARAM) it.data = in->lParam;
    if (in->mask & TVIF_CHILDREN) {
      it.cChildren = in->cChildren;
      it.childrenGiven = true;
    }
    return TRUE;
  });
}

HTREEITEM NextItem(HWND h, UINT code, uint32_t id) {
  return ToItem(WithTree(h, false, [&](TreeViewState& t) -> uint32_t {
    auto f = t.items.find(id);
    const TreeItem* it = f == t.items.end() ? nullptr : &f->second;
    auto siblingAt = [&](int delta) -> uint32_t {
      if (!it) return 0;
      const std::vector<uint32_t>& s = it->parent ? t.items[it->parent].children : t.roots;
      auto p = std::find(s.begin(), s.end(), id);
      if (p == s.end()) return 0;
      auto i = (p - s.begin()) + delta;
      return i >= 0 && i < static_cast<std::ptrdiff_t>(s.size()) ? s[static_cast<size_t>(i)] : 0;
    };
    switch (code) {
      case TVGN_ROOT: return t.roots.empty() ? 0 : t.roots.front();
      case TVGN_NEXT: return siblingAt(1);
      case TVGN_PREVIOUS: return siblingAt(-1);
      case TVGN_PARENT: return it ? it->parent : 0;
      case TVGN_CHILD:
        if (id == 0) return t.roots.empty() ? 0 : t.roots.front();
        return it && !it->children.empty() ? it->children.front() : 0;
      case TVGN_CARET: return t.caret;
      case TVGN_FIRSTVISIBLE:
      case TVGN_LASTVISIBLE:
      case TVGN_NEXTVISIBLE:
      case TVGN_PREVIOUSVISIBLE: {
        std::vector<TreeRow> rows = VisibleRows(t);
        if (rows.empty()) return 0;
        if (code == TVGN_FIRSTVISIBLE) return rows[static_cast<size_t>(std::clamp<int>(t.top, 0, static_cast<int>(rows.size()) - 1))].id;
        if (code == TVGN_LASTVISIBLE) return rows.back().id;
        int r = RowOf(rows, id);
        if (r < 0) return 0;
        r += code == TVGN_NEXTVISIBLE ? 1 : -1;
        return r >= 0 && r < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(r)].id : 0;
      }
      default: return 0;
    }
  }));
}

// ---------------------------------------------------------------- hit test

struct Hit {
  uint32_t id = 0;
  UINT flags = TVHT_NOWHERE;
};

Hit HitTest(HWND h, POINT p) {
  const DWORD style = StyleOf(h);
  return WithTree(h, false, [&](TreeViewState& t) {
    Hit hit;
    std::vector<TreeRow> rows = VisibleRows(t);
    Geometry g = GeometryOf(h, t, style, static_cast<int>(rows.size()));
    UINT outside = 0;
    if (p.y < 0) outside |= TVHT_ABOVE;
    if (p.y >= g.height) outside |= TVHT_BELOW;
    if (p.x < 0) outside |= TVHT_TOLEFT;
    if (p.x >= g.width) outside |= TVHT_TORIGHT;
    if (outside) {
      hit.flags = outside;
      return hit;
    }
    int r = t.top + p.y / g.itemHeight;
    if (r < 0 || r >= static_cast<int>(rows.size())) return hit;
    const TreeItem& it = t.items.at(rows[static_cast<size_t>(r)].id);
    hit.id = rows[static_cast<size_t>(r)].id;
    int x = ItemX(g, rows[static_cast<size_t>(r)].level);
    const bool button = g.buttons && HasChildren(it) && x >= g.indent;
    if (p.x < x) {
      hit.flags = button && p.x >= x - g.indent ? TVHT_ONITEMBUTTON : TVHT_ONITEMINDENT;
      return hit;
    }
    if (p.x < x + g.stateWidth) {
      hit.flags = TVHT_ONITEMSTATEICON;
      return hit;
    }
    x += g.stateWidth;
    if (p.x < x + g.imageWidth) {
      hit.flags = TVHT_ONITEMICON;
      return hit;
    }
    x += g.imageWidth;
    hit.flags = p.x < x + LabelWidth(it.text) ? TVHT_ONITEMLABEL : TVHT_ONITEMRIGHT;
    return hit;
  });
}

// The label's (textOnly) or the row's rectangle; false when not in view.
bool ItemRect(HWND h, uint32_t id, bool textOnly, RECT* out) {
  const DWORD style = StyleOf(h);
  return WithTree(h, false, [&](TreeViewState& t) {
    std::vector<TreeRow> rows = VisibleRows(t);
    Geometry g = GeometryOf(h, t, style, static_cast<int>(rows.size()));
    int r = RowOf(rows, id);
    if (r < t.top || r >= t.top + g.rows + 1) return false;
    const int y = (r - t.top) * g.itemHeight;
    *out = RECT{0, y, g.width, y + g.itemHeight};
    if (textOnly) {
      const int x = ItemX(g, rows[static_cast<size_t>(r)].level) + g.stateWidth + g.imageWidth;
      *out = RECT{x, y, x + LabelWidth(t.items.at(id).text), y + g.itemHeight};
    }
    return true;
  });
}

// ---------------------------------------------------------------- input

void Scroll(HWND h, int rowsBy, std::optional<int> to = std::nullopt) {
  const DWORD style = StyleOf(h);
  WithTree(h, true, [&](TreeViewState& t) {
    std::vector<TreeRow> rows = VisibleRows(t);
    Geometry g = GeometryOf(h, t, style, static_cast<int>(rows.size()));
    t.top = to ? *to : t.top + rowsBy;
    ClampTop(t, static_cast<int>(rows.size()), g.rows);
    return 0;
  });
}

int RowsInView(HWND h) {
  const DWORD style = StyleOf(h);
  return WithTree(h, false, [&](TreeViewState& t) {
    return GeometryOf(h, t, style, static_cast<int>(VisibleRows(t).size())).rows;
  });
}

// The check box of TVS_CHECKBOXES: unchecked (1) and checked (2) swap.
void ToggleCheck(HWND h, uint32_t id) {
  WithTree(h, true, [&](TreeViewState& t) {
    auto f = t.items.find(id);
    if (f == t.items.end()) return 0;
    UINT s = STATEIMAGEMASKTOINDEX(f->second.state) == 2 ? 1 : 2;
    f->second.state = (f->second.state & ~TVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(s);
    return 0;
  });
}

void MoveCaret(HWND h, UINT key) {
  const uint32_t caret = WithTree(h, false, [](TreeViewState& t) { return t.caret; });
  auto rel = [&](UINT code) { return FromItem(NextItem(h, code, caret)); };
  const bool expanded = WithTree(h, false, [&](TreeViewState& t) {
    auto f = t.items.find(caret);
    return f != t.items.end() && (f->second.state & TVIS_EXPANDED);
  });
  uint32_t to = 0;
  switch (key) {
    case VK_DOWN: to = caret ? rel(TVGN_NEXTVISIBLE) : FromItem(NextItem(h, TVGN_ROOT, 0)); break;
    case VK_UP: to = rel(TVGN_PREVIOUSVISIBLE); break;
    case VK_HOME: to = FromItem(NextItem(h, TVGN_ROOT, 0)); break;
    case VK_END: to = FromItem(NextItem(h, TVGN_LASTVISIBLE, 0)); break;
    case VK_LEFT:
      if (expanded) {
        ExpandItem(h, caret, TVE_COLLAPSE);
        return;
      }
      to = rel(TVGN_PARENT);
      break;
    case VK_RIGHT:
      if (caret && !expanded) {
        ExpandItem(h, caret, TVE_EXPAND);
        return;
      }
      to = rel(TVGN_CHILD);
      break;
    case VK_PRIOR:
    case VK_NEXT: {
      to = caret;
      for (int i = 0, n = std::max(1, RowsInView(h) - 1); i < n; ++i) {
        uint32_t step = FromItem(NextItem(h, key == VK_NEXT ? TVGN_NEXTVISIBLE : TVGN_PREVIOUSVISIBLE, to));
        if (!step) break;
        to = step;
      }
      break;
    }
    default: return;
  }
  if (to) SelectItem(h, to, TVC_BYKEYBOARD);
}

void OnKeyDown(HWND h, UINT key) {
  NMTVKEYDOWN nm{};
  nm.hdr.code = TVN_KEYDOWN;
  nm.wVKey = static_cast<WORD>(key);
  SendNotify(h, &nm.hdr);
  switch (key) {
    case VK_RETURN: NotifyPlain(h, NM_RETURN); return;
    case VK_SPACE:
      if (StyleOf(h) & TVS_CHECKBOXES) ToggleCheck(h, WithTree(h, false, [](TreeViewState& t) { return t.caret; }));
      return;
    default: MoveCaret(h, key); return;
  }
}

void OnButtonDown(HWND h, POINT p, bool twice) {
  SetFocus(h);
  const DWORD style = StyleOf(h);
  // A tap on the scroll bar pages up (upper half) or down.
  RECT client{};
  GetClientRect(h, &client);
  const bool scrollBar = WithTree(h, false, [&](TreeViewState& t) {
    return GeometryOf(h, t, style, static_cast<int>(VisibleRows(t).size())).scrollBar;
  });
  if (scrollBar && p.x >= client.right - kScrollBarWidth * Scale() && p.x < client.right) {
    const int page = std::max(1, RowsInView(h) - 1);
    Scroll(h, p.y < client.bottom / 2 ? -page : page);
    return;
  }
  Hit hit = HitTest(h, p);
  if (!hit.id) return;
  if (hit.flags & TVHT_ONITEMBUTTON) {
    ExpandItem(h, hit.id, TVE_TOGGLE);
    return;
  }
  const bool onItem = (hit.flags & TVHT_ONITEM) || ((style & TVS_FULLROWSELECT) && (hit.flags & TVHT_ONITEMRIGHT));
  if (!onItem) return;
  if ((hit.flags & TVHT_ONITEMSTATEICON) && (style & TVS_CHECKBOXES)) ToggleCheck(h, hit.id);
  SelectItem(h, hit.id, TVC_BYMOUSE);
  if (twice) {
    if (!NotifyPlain(h, NM_DBLCLK) && Exists(h, hit.id)) ExpandItem(h, hit.id, TVE_TOGGLE);
    return;
  }
  NotifyPlain(h, NM_CLICK);
}

}  // namespace

LRESULT TreeViewProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      WithWindow(h, false, [](LocalWindow& w) {
        w.ctl.tree = std::make_shared<TreeViewState>();
        return 0;
      });
      return 0;
    case WM_DESTROY:
      // The parent is going too: the items go without notifications.
      WithWindow(h, true, [](LocalWindow& w) {
        w.ctl.tree.reset();
        return 0;
      });
      return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case TVM_INSERTITEMW: return reinterpret_cast<LRESULT>(InsertItem(h, reinterpret_cast<const TVINSERTSTRUCTW*>(lParam)));
    case TVM_DELETEITEM: {
      auto item = reinterpret_cast<HTREEITEM>(lParam);
      if (!item || item == TVI_ROOT) return DeleteItems(h, 0, true) ? TRUE : FALSE;
      const uint32_t id = FromItem(item);
      return id && DeleteItems(h, id, true) ? TRUE : FALSE;
    }
    case TVM_EXPAND: return ExpandItem(h, FromItem(reinterpret_cast<HTREEITEM>(lParam)), static_cast<UINT>(wParam)) ? TRUE : FALSE;
    case TVM_GETITEMRECT: {
      auto* r = reinterpret_cast<RECT*>(lParam);
      if (!r) return FALSE;
      HTREEITEM item;
      static_assert(sizeof(HTREEITEM) <= sizeof(RECT));
      std::copy_n(reinterpret_cast<const unsigned char*>(r), sizeof item, reinterpret_cast<unsigned char*>(&item));
      return ItemRect(h, FromItem(item), wParam != 0, r) ? TRUE : FALSE;
    }
    case TVM_GETCOUNT: return WithTree(h, false, [](TreeViewState& t) { return static_cast<LRESULT>(t.items.size()); });
    case TVM_GETINDENT: {
      const DWORD style = StyleOf(h);
      return WithTree(h, false, [&](TreeViewState& t) { return static_cast<LRESULT>(GeometryOf(h, t, style, 0).indent); });
    }
    case TVM_SETINDENT:
      WithTree(h, true, [&](TreeViewState& t) { return t.indent = std::max(0, static_cast<int>(wParam)); });
      return 0;
    case TVM_GETITEMHEIGHT: {
      const DWORD style = StyleOf(h);
      return WithTree(h, false, [&](TreeViewState& t) { return static_cast<LRESULT>(GeometryOf(h, t, style, 0).itemHeight); });
    }
    case TVM_SETITEMHEIGHT: {
      const DWORD style = StyleOf(h);
      return WithTree(h, true, [&](TreeViewState& t) {
        LRESULT old = GeometryOf(h, t, style, 0).itemHeight;
        const int v = static_cast<int>(static_cast<INT_PTR>(wParam));
        t.itemHeight = v == -1 ? 0 : std::max(1, v);
        return old;
      });
    }
    case TVM_GETIMAGELIST:
    case TVM_SETIMAGELIST:
      return WithTree(h, msg == TVM_SETIMAGELIST, [&](TreeViewState& t) -> LRESULT {
        HIMAGELIST* slot = wParam == TVSIL_NORMAL ? &t.normal : wParam == TVSIL_STATE ? &t.stateImages : nullptr;
        if (!slot) return 0;
        if (msg == TVM_GETIMAGELIST) return reinterpret_cast<LRESULT>(*slot);
        return reinterpret_cast<LRESULT>(std::exchange(*slot, reinterpret_cast<HIMAGELIST>(lParam)));
      });
    case TVM_GETNEXTITEM:
      return reinterpret_cast<LRESULT>(NextItem(h, static_cast<UINT>(wParam), FromItem(reinterpret_cast<HTREEITEM>(lParam))));
    case TVM_SELECTITEM: {
      const uint32_t id = FromItem(reinterpret_cast<HTREEITEM>(lParam));
      if (lParam && !Exists(h, id)) return FALSE;
      if (wParam == TVGN_CARET) return SelectItem(h, id, TVC_UNKNOWN) ? TRUE : FALSE;
      if (wParam == TVGN_FIRSTVISIBLE) {
        if (!id) return FALSE;
        SendMessageW(h, TVM_ENSUREVISIBLE, 0, lParam);
        const int row = WithTree(h, false, [&](TreeViewState& t) { return RowOf(VisibleRows(t), id); });
        if (row < 0) return FALSE;
        Scroll(h, 0, row);
        return TRUE;
      }
      return wParam == TVGN_DROPHILITE ? TRUE : FALSE;
    }
    case TVM_GETVISIBLECOUNT: return RowsInView(h);
    case TVM_HITTEST: {
      auto* info = reinterpret_cast<TVHITTESTINFO*>(lParam);
      if (!info) return 0;
      Hit hit = HitTest(h, info->pt);
      info->flags = hit.flags;
      info->hItem = ToItem(hit.id);
      return reinterpret_cast<LRESULT>(info->hItem);
    }
    case TVM_ENSUREVISIBLE: {
      const uint32_t id = FromItem(reinterpret_cast<HTREEITEM>(lParam));
      if (!Exists(h, id)) return FALSE;
      std::vector<uint32_t> closed = WithTree(h, false, [&](TreeViewState& t) {
        std::vector<uint32_t> out;
        for (uint32_t p = t.items.at(id).parent; p && t.items.count(p); p = t.items.at(p).parent)
          if (!(t.items.at(p).state & TVIS_EXPANDED)) out.push_back(p);
        return out;
      });
      for (auto p = closed.rbegin(); p != closed.rend(); ++p) ExpandItem(h, *p, TVE_EXPAND);
      ScrollTo(h, id);
      return TRUE;
    }
    case TVM_SORTCHILDREN:
      return WithTree(h, true, [&](TreeViewState& t) -> LRESULT {
        const uint32_t id = lParam == reinterpret_cast<LPARAM>(TVI_ROOT) ? 0 : FromItem(reinterpret_cast<HTREEITEM>(lParam));
        if (id && !t.items.count(id)) return FALSE;
        std::vector<uint32_t> todo{id};
        while (!todo.empty()) {
          uint32_t p = todo.back();
          todo.pop_back();
          std::vector<uint32_t>& kids = p ? t.items[p].children : t.roots;
          std::stable_sort(kids.begin(), kids.end(), [&](uint32_t a, uint32_t b) {
            return DeviceUpper(t.items[a].text) < DeviceUpper(t.items[b].text);
          });
          if (wParam)
            for (uint32_t k : kids) todo.push_back(k);
        }
        return TRUE;
      });
    case TVM_GETITEMSTATE:
      return WithTree(h, false, [&](TreeViewState& t) -> LRESULT {
        const uint32_t id = FromItem(reinterpret_cast<HTREEITEM>(wParam));
        auto f = t.items.find(id);
        if (f == t.items.end()) return 0;
        return (f->second.state | (t.caret == id ? TVIS_SELECTED : 0u)) & static_cast<UINT>(lParam);
      });
    case TVM_GETITEMW: return GetItem(h, reinterpret_cast<TVITEMW*>(lParam));
    case TVM_SETITEMW: return SetItem(h, reinterpret_cast<const TVITEMW*>(lParam));
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      OnButtonDown(h, POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))},
                   msg == WM_LBUTTONDBLCLK);
      return 0;
    case WM_KEYDOWN:
      OnKeyDown(h, static_cast<UINT>(wParam));
      return 0;
    case WM_CHAR: return 0;
    case WM_VSCROLL:
      switch (LOWORD(wParam)) {
        case SB_LINEUP: Scroll(h, -1); break;
        case SB_LINEDOWN: Scroll(h, 1); break;
        case 2 /*SB_PAGEUP*/: Scroll(h, -std::max(1, RowsInView(h) - 1)); break;
        case 3 /*SB_PAGEDOWN*/: Scroll(h, std::max(1, RowsInView(h) - 1)); break;
        case SB_THUMBPOSITION:
        case 5 /*SB_THUMBTRACK*/: Scroll(h, 0, static_cast<int>(HIWORD(wParam))); break;
        case 6 /*SB_TOP*/: Scroll(h, 0, 0); break;
        case 7 /*SB_BOTTOM*/: Scroll(h, 0, 1 << 30); break;
        default: break;
      }
      return 0;
    case WM_SETFOCUS: NotifyPlain(h, NM_SETFOCUS); return 0;
    case WM_KILLFOCUS: NotifyPlain(h, NM_KILLFOCUS); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

}  // namespace ce::win

namespace ce {

bool DescribeTree(HWND hwnd, ModelTree* out) {
  using namespace win;
  if (!out) return false;
  const DWORD style = StyleOf(hwnd);
  struct Result {
    bool ok = false;
    ModelTree tree;
  };
  Result r = WithWindow(hwnd, false, [&](LocalWindow& w) {
    Result res;
    if (!w.ctl.tree) return res;
    TreeViewState& t = *w.ctl.tree;
    std::vector<TreeRow> rows = VisibleRows(t);
    Geometry g = GeometryOf(hwnd, t, style, static_cast<int>(rows.size()));
    ModelTree& m = res.tree;
    m.top = t.top;
    m.total = static_cast<int>(rows.size());
    m.inView = g.rows;
    m.indent = g.indent;
    m.itemHeight = g.itemHeight;
    m.stateWidth = g.stateWidth;
    m.imageWidth = g.imageWidth;
    m.scrollBarWidth = g.scrollBar ? kScrollBarWidth * Scale() : 0;
    m.normalImages = t.normal;
    m.stateImages = t.stateImages;
    for (int i = t.top; i < static_cast<int>(rows.size()) && i <= t.top + g.rows; ++i) {
      const TreeRow& row = rows[static_cast<size_t>(i)];
      const TreeItem& it = t.items.at(row.id);
      ModelTreeRow mr;
      mr.item = ToItem(row.id);
      mr.level = row.level;
      mr.x = ItemX(g, row.level);
      mr.text = it.text;
      mr.image = it.image;
      mr.selectedImage = it.selectedImage;
      mr.stateImage = static_cast<int>(STATEIMAGEMASKTOINDEX(it.state));
      mr.button = g.buttons && HasChildren(it) && mr.x >= g.indent ? ((it.state & TVIS_EXPANDED) ? 2 : 1) : 0;
      mr.selected = t.caret == row.id;
      m.rows.push_back(std::move(mr));
    }
    res.ok = true;
    return res;
  });
  if (!r.ok) return false;
  *out = std::move(r.tree);
  return true;
}

}  // namespace ce
