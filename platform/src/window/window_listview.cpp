// The list view "SysListView32" in report mode: a header of columns and one
// row per item, the label in column 0 and sub-item texts in the others.
// Selection and focus are item states; changes notify the parent with
// WM_NOTIFY (LVN_ITEMCHANGED, NM_CLICK, NM_DBLCLK, LVN_ITEMACTIVATE ...).
// Geometry: a header row (none with LVS_NOCOLUMNHEADER), then rows of equal
// height from the top item on; with full-row select or not, a tap anywhere
// across a row's columns hits that item.
#include <algorithm>
#include <mutex>
#include <utility>

#include "ce/commctrl.h"
#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/text.h"
#include "cesim/window.h"
#include "window/window_state.h"

namespace ce {
namespace {

std::mutex& MetricsLock() {
  static std::mutex m;
  return m;
}
DrawingMetrics& Metrics() {
  static DrawingMetrics m;
  return m;
}

}  // namespace

void SetDrawingMetrics(const DrawingMetrics& metrics) {
  std::lock_guard<std::mutex> g(MetricsLock());
  Metrics() = metrics;
}

namespace win {
bool ImageListSize(const void* imageList, int* cx, int* cy) {
  if (!imageList) return false;
  DrawingMetrics m;
  {
    std::lock_guard<std::mutex> g(MetricsLock());
    m = Metrics();
  }
  return m.imageSize && m.imageSize(imageList, cx, cy);
}
}  // namespace win

}  // namespace ce

namespace ce::win {
namespace {

// Largest number of rows and columns a list view keeps.
constexpr size_t kMaxItems = 100000;
constexpr size_t kMaxColumns = 64;
// Characters of a label or sub-item kept.
constexpr size_t kMaxText = 1024;

DrawingMetrics CurrentMetrics() {
  std::lock_guard<std::mutex> g(MetricsLock());
  return Metrics();
}

int TextWidth(HWND h, std::u16string_view text) {
  DrawingMetrics m = CurrentMetrics();
  if (m.textWidth) return m.textWidth(h, text);
  return static_cast<int>(text.size()) * 8;
}

int HeaderHeight(DWORD style) { return (style & LVS_NOCOLUMNHEADER) ? 0 : 18 * GetDisplayScale(); }
int RowHeight(const ListViewState& s) {
  int h = 16 * GetDisplayScale();
  DrawingMetrics m = CurrentMetrics();
  int cx = 0, cy = 0;
  if (s.smallImages && m.imageSize && m.imageSize(s.smallImages, &cx, &cy)) h = std::max(h, cy + 2);
  return h;
}

// A text from a caller's pointer: none for null and for the callback
// marker (this list view keeps its texts), cut to kMaxText.
std::u16string TextFrom(LPCWSTR p) {
  if (p == nullptr || p == LPSTR_TEXTCALLBACKW) return u"";
  std::u16string_view v(p);
  return std::u16string(v.substr(0, kMaxText));
}

// Copies text into a caller's buffer of `room` characters (with the
// terminating zero); returns the characters copied.
int CopyOut(const std::u16string& text, LPWSTR out, int room) {
  if (out == nullptr || out == LPSTR_TEXTCALLBACKW || room <= 0) return 0;
  const size_t n = std::min(text.size(), static_cast<size_t>(room - 1));
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), out);
  out[n] = 0;
  return static_cast<int>(n);
}

DWORD Style(HWND h) {
  return WithWindow(h, false, [](LocalWindow& w) { return w.style; });
}

template <class Fn>
auto WithList(HWND h, bool change, Fn fn) {
  return WithWindow(h, change, [&](LocalWindow& w) {
    if (change) ++w.ctl.listView.generation;
    return fn(w.ctl.listView);
  });
}

int Count(HWND h) {
  return WithList(h, false, [](ListViewState& s) { return static_cast<int>(s.items.size()); });
}

LRESULT SendNm(HWND h, UINT code, int item, int sub = 0, UINT newState = 0, UINT oldState = 0, UINT changed = 0,
               POINT at = {0, 0}, LPARAM data = 0) {
  HWND parent = GetParent(h);
  if (!parent) return 0;
  NMITEMACTIVATE nm{};
  nm.hdr = NMHDR{h, static_cast<UINT_PTR>(GetDlgCtrlID(h)), code};
  nm.iItem = item;
  nm.iSubItem = sub;
  nm.uNewState = newState;
  nm.uOldState = oldState;
  nm.uChanged = changed;
  nm.ptAction = at;
  nm.lParam = data;
  return SendMessageW(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
}

// ---------------------------------------------------------------- states

struct StateChange {
  int item;
  UINT oldState, newState;
  LPARAM data;
};

// Sets `state` under `mask` on item i (-1: every item), keeping one focused
// item and, with LVS_SINGLESEL, one selected item; then tells the parent of
// every item whose state changed.
bool SetState(HWND h, int i, UINT state, UINT mask) {
  mask &= LVIS_SELECTED | LVIS_FOCUSED;
  const bool single = Style(h) & LVS_SINGLESEL;
  std::vector<StateChange> changes;
  bool ok = WithList(h, true, [&](ListViewState& s) {
    const int n = static_cast<int>(s.items.size());
    if (i < -1 || i >= n) return false;
    std::vector<UINT> before;
    for (const auto& it : s.items) before.push_back(it.state);
    auto apply = [&](int k) {
      UINT& st = s.items[static_cast<size_t>(k)].state;
      st = (st & ~mask) | (state & mask);
    };
    if (i == -1) {
      for (int k = 0; k < n; ++k) apply(k);
      if (single && (mask & state & LVIS_SELECTED))  // one selected at most: the first
        for (int k = 1; k < n; ++k) s.items[static_cast<size_t>(k)].state &= ~LVIS_SELECTED;
      if (mask & state & LVIS_FOCUSED)
        for (int k = 1; k < n; ++k) s.items[static_cast<size_t>(k)].state &= ~LVIS_FOCUSED;
    } else {
      const UINT sole = (single ? (mask & state & LVIS_SELECTED) : 0u) | (mask & state & LVIS_FOCUSED);
      for (int k = 0; k < n; ++k)
        if (k != i) s.items[static_cast<size_t>(k)].state &= ~sole;
      apply(i);
    }
    for (int k = 0; k < n; ++k) {
      const auto& it = s.items[static_cast<size_t>(k)];
      if (it.state != before[static_cast<size_t>(k)]) changes.push_back({k, before[static_cast<size_t>(k)], it.state, it.data});
    }
    return true;
  });
  // Items losing a state are told first, as the user sees it go.
  std::stable_sort(changes.begin(), changes.end(),
                   [](const StateChange& a, const StateChange& b) { return a.newState < a.oldState && !(b.newState < b.oldState); });
  for (const auto& c : changes) SendNm(h, LVN_ITEMCHANGED, c.item, 0, c.newState, c.oldState, LVIF_STATE, {0, 0}, c.data);
  return ok;
}

// ---------------------------------------------------------------- geometry

int ColumnsWidth(const ListViewState& s) {
  int w = 0;
  for (const auto& c : s.columns) w += std::max(0, c.width);
  return w;
}

bool ItemRect(HWND h, int i, int part, RECT* out) {
  const DWORD style = Style(h);
  return WithList(h, false, [&](ListViewState& s) {
    if (i < 0 || i >= static_cast<int>(s.items.size())) return false;
    const int rowH = RowHeight(s);
    const int top = HeaderHeight(style) + (i - s.top) * rowH;
    RECT r{0, top, std::max(ColumnsWidth(s), 1), top + rowH};
    int icon = 0;
    DrawingMetrics m = CurrentMetrics();
    int cx = 0, cy = 0;
    if (s.smallImages && m.imageSize && m.imageSize(s.smallImages, &cx, &cy)) icon = cx + 2;
    const int first = s.columns.empty() ? r.right : std::max(0, s.columns[0].width);
    if (part == LVIR_ICON) r.right = std::min<LONG>(r.right, icon);
    if (part == LVIR_LABEL) {
      r.left = icon;
      r.right = std::max<LONG>(icon, first);
    }
    *out = r;
    return true;
  });
}

// The item and sub-item under a client point.
int HitTest(HWND h, LVHITTESTINFO* info) {
  const DWORD style = Style(h);
  RECT client;
  GetClientRect(h, &client);
  const POINT p = info->pt;
  info->flags = LVHT_NOWHERE;
  info->iItem = -1;
  info->iSubItem = 0;
  return WithList(h, false, [&](ListViewState& s) {
    if (p.y < 0) info->flags = LVHT_ABOVE;
    else if (p.y >= client.bottom) info->flags = LVHT_BELOW;
    else if (p.x < 0) info->flags = LVHT_TOLEFT;
    else if (p.x >= client.right) info->flags = LVHT_TORIGHT;
    const int header = HeaderHeight(style);
    const int rowH = RowHeight(s);
    if (info->flags != LVHT_NOWHERE || p.y < header) return -1;
    const int i = s.top + (p.y - header) / rowH;
    const int width = std::max(ColumnsWidth(s), 1);
    if (i >= static_cast<int>(s.items.size()) || p.x >= width) return -1;
    int x = 0;
    for (size_t c = 0; c < s.columns.size(); ++c) {
      x += std::max(0, s.columns[c].width);
      if (p.x < x) {
        info->iSubItem = static_cast<int>(c);
        break;
      }
    }
    DrawingMetrics m = CurrentMetrics();
    int cx = 0, cy = 0;
    const bool onIcon = s.smallImages && m.imageSize && m.imageSize(s.smallImages, &cx, &cy) && p.x < cx + 2;
    info->flags = onIcon ? LVHT_ONITEMICON : LVHT_ONITEMLABEL;
    info->iItem = i;
    return i;
  });
}

void EnsureVisible(HWND h, int i) {
  const DWORD style = Style(h);
  RECT client;
  GetClientRect(h, &client);
  WithList(h, true, [&](ListViewState& s) {
    const int n = static_cast<int>(s.items.size());
    if (i < 0 || i >= n) return 0;
    const int rows = std::max(1, (client.bottom - HeaderHeight(style)) / RowHeight(s));
    if (i < s.top) s.top = i;
    else if (i >= s.top + rows) s.top = i - rows + 1;
    return 0;
  });
}

// ---------------------------------------------------------------- items

int InsertItem(HWND h, const LVITEMW* item) {
  if (item == nullptr || item->iSubItem != 0 || item->iItem < 0) return -1;
  const DWORD style = Style(h);
  int at = WithList(h, true, [&](ListViewState& s) {
    if (s.items.size() >= kMaxItems) return -1;
    ListViewItem it;
    it.texts.push_back(item->mask & LVIF_TEXT ? TextFrom(item->pszText) : u"");
    if (item->mask & LVIF_IMAGE) it.image = item->iImage;
    if (item->mask & LVIF_PARAM) it.data = item->lParam;
    int n = static_cast<int>(s.items.size());
    int pos = std::min(item->iItem, n);
    if (style & (LVS_SORTASCENDING | LVS_SORTDESCENDING)) {
      const bool down = style & LVS_SORTDESCENDING;
      const std::u16string key = DeviceUpper(it.texts[0]);
      pos = 0;
      while (pos < n) {
        const std::u16string other = DeviceUpper(s.items[static_cast<size_t>(pos)].texts[0]);
        if (down ? key > other : key < other) break;
        ++pos;
      }
    }
    s.items.insert(s.items.begin() + pos, std::move(it));
    if (pos < s.top) ++s.top;  // the rows in view stay in view
    return pos;
  });
  if (at < 0) return -1;
  SendNm(h, LVN_INSERTITEM, at);
  if ((item->mask & LVIF_STATE) && (item->stateMask & item->state)) SetState(h, at, item->state, item->stateMask);
  return at;
}

bool SetItem(HWND h, const LVITEMW* item) {
  if (item == nullptr) return false;
  bool ok = WithList(h, true, [&](ListViewState& s) {
    if (item->iItem < 0 || item->iItem >= static_cast<int>(s.items.size())) return false;
    if (item->iSubItem < 0 || static_cast<size_t>(item->iSubItem) >= std::max<size_t>(s.columns.size(), 1))
      return false;
    ListViewItem& it = s.items[static_cast<size_t>(item->iItem)];
    if (item->mask & LVIF_TEXT) {
      const size_t sub = static_cast<size_t>(item->iSubItem);
      if (it.texts.size() <= sub) it.texts.resize(sub + 1);
      it.texts[sub] = TextFrom(item->pszText);
    }
    if (item->iSubItem == 0) {
      if (item->mask & LVIF_IMAGE) it.image = item->iImage;
      if (item->mask & LVIF_PARAM) it.data = item->lParam;
    }
    return true;
  });
  if (ok && (item->mask & LVIF_STATE) && item->iSubItem == 0) SetState(h, item->iItem, item->state, item->stateMask);
  return ok;
}

bool GetItem(HWND h, LVITEMW* item) {
  if (item == nullptr) return false;
  return WithList(h, false, [&](ListViewState& s) {
    if (item->iItem < 0 || item->iItem >= static_cast<int>(s.items.size()) || item->iSubItem < 0) return false;
    const ListViewItem& it = s.items[static_cast<size_t>(item->iItem)];
    if (item->mask & LVIF_TEXT) {
      const size_t sub = static_cast<size_t>(item->iSubItem);
      CopyOut(sub < it.texts.size() ? it.texts[sub] : u"", item->pszText, item->cchTextMax);
    }
    if (item->mask & LVIF_IMAGE) item->iImage = it.image;
    if (item->mask & LVIF_PARAM) item->lParam = it.data;
    if (item->mask & LVIF_STATE) item->state = it.state & item->stateMask;
    return true;
  });
}

int GetItemText(HWND h, int i, LVITEMW* item) {
  if (item == nullptr) return 0;
  return WithList(h, false, [&](ListViewState& s) {
    if (i < 0 || i >= static_cast<int>(s.items.size()) || item->iSubItem < 0) return 0;
    const auto& texts = s.items[static_cast<size_t>(i)].texts;
    const size_t sub = static_cast<size_t>(item->iSubItem);
    return CopyOut(sub < texts.size() ? texts[sub] : u"", item->pszText, item->cchTextMax);
  });
}

bool DeleteItem(HWND h, int i) {
  LPARAM data = 0;
  const bool exists = WithList(h, false, [&](ListViewState& s) {
    if (i < 0 || i >= static_cast<int>(s.items.size())) return false;
    data = s.items[static_cast<size_t>(i)].data;
    return true;
  });
  if (!exists) return false;
  SendNm(h, LVN_DELETEITEM, i, 0, 0, 0, 0, {0, 0}, data);
  return WithList(h, true, [&](ListViewState& s) {
    if (i >= static_cast<int>(s.items.size())) return false;  // the parent changed the rows
    s.items.erase(s.items.begin() + i);
    if (s.top > 0 && s.top >= static_cast<int>(s.items.size())) s.top = std::max(0, static_cast<int>(s.items.size()) - 1);
    return true;
  });
}

bool DeleteAll(HWND h) {
  // The parent answers TRUE to LVN_DELETEALLITEMS to be spared one
  // LVN_DELETEITEM per row.
  if (!SendNm(h, LVN_DELETEALLITEMS, -1)) {
    std::vector<LPARAM> data = WithList(h, false, [](ListViewState& s) {
      std::vector<LPARAM> d;
      for (const auto& it : s.items) d.push_back(it.data);
      return d;
    });
    for (size_t k = 0; k < data.size(); ++k) SendNm(h, LVN_DELETEITEM, static_cast<int>(k), 0, 0, 0, 0, {0, 0}, data[k]);
  }
  WithList(h, true, [](ListViewState& s) {
    s.items.clear();
    s.top = 0;
    return 0;
  });
  return true;
}

int NextItem(HWND h, int start, UINT flags) {
  return WithList(h, false, [&](ListViewState& s) {
    const int n = static_cast<int>(s.items.size());
    const UINT want = flags & (LVNI_SELECTED | LVNI_FOCUSED);
    const int step = (flags & LVNI_ABOVE) ? -1 : 1;
    int k = start < 0 ? (step > 0 ? 0 : -1) : start + step;
    for (; k >= 0 && k < n; k += step)
      if ((s.items[static_cast<size_t>(k)].state & want) == want) return k;
    return -1;
  });
}

int FindItem(HWND h, int start, const LVFINDINFOW* find) {
  if (find == nullptr) return -1;
  const std::u16string key = (find->flags & LVFI_STRING) ? DeviceUpper(TextFrom(find->psz)) : u"";
  return WithList(h, false, [&](ListViewState& s) {
    const int n = static_cast<int>(s.items.size());
    for (int k = std::max(0, start + 1); k < n; ++k) {
      const ListViewItem& it = s.items[static_cast<size_t>(k)];
      if (find->flags & LVFI_PARAM) {
        if (it.data == find->lParam) return k;
      } else if (find->flags & LVFI_STRING) {
        const std::u16string label = DeviceUpper(it.texts[0]);
        if ((find->flags & LVFI_PARTIAL) ? label.compare(0, key.size(), key) == 0 : label == key) return k;
      }
    }
    return -1;
  });
}

// Sorts the rows by the compare function on their data: a stable merge
// sort that stays within the rows whatever the function answers. The
// function runs outside the model's lock (it may read the list); when it
// changes the rows meanwhile, the sort is dropped.
bool SortItems(HWND h, LPARAM sortData, PFNLVCOMPARE compare) {
  if (compare == nullptr) return false;
  uint64_t generation = 0;
  std::vector<ListViewItem> rows = WithList(h, false, [&](ListViewState& s) {
    generation = s.generation;
    return s.items;
  });
  std::vector<ListViewItem> buffer(rows.size());
  for (size_t width = 1; width < rows.size(); width *= 2) {
    for (size_t lo = 0; lo < rows.size(); lo += 2 * width) {
      const size_t mid = std::min(lo + width, rows.size()), hi = std::min(lo + 2 * width, rows.size());
      size_t a = lo, b = mid, out = lo;
      while (a < mid && b < hi)
        buffer[out++] = std::move(compare(rows[b].data, rows[a].data, sortData) < 0 ? rows[b++] : rows[a++]);
      while (a < mid) buffer[out++] = std::move(rows[a++]);
      while (b < hi) buffer[out++] = std::move(rows[b++]);
    }
    rows.swap(buffer);
  }
  return WithList(h, true, [&](ListViewState& s) {
    if (s.generation != generation + 1) return false;  // changed while sorting (+1: this call)
    s.items = std::move(rows);
    return true;
  });
}

// ---------------------------------------------------------------- columns

int InsertColumn(HWND h, int at, const LVCOLUMNW* col) {
  if (col == nullptr || at < 0) return -1;
  return WithList(h, true, [&](ListViewState& s) {
    if (s.columns.size() >= kMaxColumns) return -1;
    ListViewColumn c;
    if (col->mask & LVCF_TEXT) c.text = TextFrom(col->pszText);
    if (col->mask & LVCF_WIDTH) c.width = std::max(0, col->cx);
    if (col->mask & LVCF_FMT) c.fmt = col->fmt;
    const int pos = std::min(at, static_cast<int>(s.columns.size()));
    s.columns.insert(s.columns.begin() + pos, std::move(c));
    // A column inserted before others moves their sub-item texts along.
    if (pos > 0)
      for (auto& it : s.items)
        if (it.texts.size() > static_cast<size_t>(pos)) it.texts.insert(it.texts.begin() + pos, u"");
    return pos;
  });
}

bool DeleteColumn(HWND h, int at) {
  return WithList(h, true, [&](ListViewState& s) {
    if (at < 0 || at >= static_cast<int>(s.columns.size())) return false;
    s.columns.erase(s.columns.begin() + at);
    for (auto& it : s.items) {
      if (at == 0) {
        // The label stays: column 0 always shows it.
        if (it.texts.size() > 1) it.texts.erase(it.texts.begin() + 1);
      } else if (it.texts.size() > static_cast<size_t>(at)) {
        it.texts.erase(it.texts.begin() + at);
      }
    }
    return true;
  });
}

bool GetColumn(HWND h, int at, LVCOLUMNW* col) {
  if (col == nullptr) return false;
  return WithList(h, false, [&](ListViewState& s) {
    if (at < 0 || at >= static_cast<int>(s.columns.size())) return false;
    const ListViewColumn& c = s.columns[static_cast<size_t>(at)];
    if (col->mask & LVCF_TEXT) CopyOut(c.text, col->pszText, col->cchTextMax);
    if (col->mask & LVCF_WIDTH) col->cx = c.width;
    if (col->mask & LVCF_FMT) col->fmt = c.fmt;
    if (col->mask & LVCF_SUBITEM) col->iSubItem = at;
    return true;
  });
}

bool SetColumn(HWND h, int at, const LVCOLUMNW* col) {
  if (col == nullptr) return false;
  return WithList(h, true, [&](ListViewState& s) {
    if (at < 0 || at >= static_cast<int>(s.columns.size())) return false;
    ListViewColumn& c = s.columns[static_cast<size_t>(at)];
    if (col->mask & LVCF_TEXT) c.text = TextFrom(col->pszText);
    if (col->mask & LVCF_WIDTH) c.width = std::max(0, col->cx);
    if (col->mask & LVCF_FMT) c.fmt = col->fmt;
    return true;
  });
}

bool SetColumnWidth(HWND h, int at, int width) {
  if (width == LVSCW_AUTOSIZE || width == LVSCW_AUTOSIZE_USEHEADER) {
    std::vector<std::u16string> texts = WithList(h, false, [&](ListViewState& s) {
      std::vector<std::u16string> t;
      if (at < 0 || at >= static_cast<int>(s.columns.size())) return t;
      if (width == LVSCW_AUTOSIZE_USEHEADER) t.push_back(s.columns[static_cast<size_t>(at)].text);
      for (const auto& it : s.items) t.push_back(static_cast<size_t>(at) < it.texts.size() ? it.texts[static_cast<size_t>(at)] : u"");
      return t;
    });
    int widest = 0;
    for (const auto& t : texts) widest = std::max(widest, TextWidth(h, t));
    width = widest + 12;
  }
  return WithList(h, true, [&](ListViewState& s) {
    if (at < 0 || at >= static_cast<int>(s.columns.size())) return false;
    s.columns[static_cast<size_t>(at)].width = std::max(0, width);
    return true;
  });
}

// ---------------------------------------------------------------- input

POINT PointOf(LPARAM lParam) { return POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))}; }

// A tap: the item under it becomes the selected and focused one (a tap
// beside the items clears the selection), then NM_CLICK names the item.
int Tap(HWND h, POINT p) {
  SetFocus(h);
  LVHITTESTINFO hit{p, 0, -1, 0};
  const int i = HitTest(h, &hit);
  if (i >= 0) SetState(h, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  else SetState(h, -1, 0, LVIS_SELECTED);
  SendNm(h, NM_CLICK, i, hit.iSubItem, 0, 0, 0, p);
  return i;
}

void Activate(HWND h, int i, POINT p) {
  if (i < 0) return;
  LVITEMW item{};
  item.mask = LVIF_PARAM | LVIF_STATE;
  item.iItem = i;
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  if (!GetItem(h, &item)) return;
  SendNm(h, LVN_ITEMACTIVATE, i, 0, item.state, item.state, 0, p, item.lParam);
}

void MoveCaret(HWND h, int delta) {
  const int n = Count(h);
  if (n == 0) return;
  int cur = NextItem(h, -1, LVNI_FOCUSED);
  int next = cur < 0 ? 0 : std::clamp(cur + delta, 0, n - 1);
  SetState(h, next, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  EnsureVisible(h, next);
}

LRESULT ListViewProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      WithWindow(h, false, [](LocalWindow& w) {
        w.ctl.listView = ListViewState{};
        return 0;
      });
      return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case LVM_GETITEMCOUNT: return Count(h);
    case LVM_INSERTITEMW: return InsertItem(h, reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_SETITEMW: return SetItem(h, reinterpret_cast<const LVITEMW*>(lParam)) ? TRUE : FALSE;
    case LVM_GETITEMW: return GetItem(h, reinterpret_cast<LVITEMW*>(lParam)) ? TRUE : FALSE;
    case LVM_SETITEMTEXTW: {
      auto* item = reinterpret_cast<LVITEMW*>(lParam);
      if (item == nullptr) return FALSE;
      LVITEMW copy = *item;
      copy.mask = LVIF_TEXT;
      copy.iItem = static_cast<int>(wParam);
      return SetItem(h, &copy) ? TRUE : FALSE;
    }
    case LVM_GETITEMTEXTW: return GetItemText(h, static_cast<int>(wParam), reinterpret_cast<LVITEMW*>(lParam));
    case LVM_SETITEMSTATE: {
      auto* item = reinterpret_cast<const LVITEMW*>(lParam);
      if (item == nullptr) return FALSE;
      return SetState(h, static_cast<int>(static_cast<INT_PTR>(wParam)), item->state, item->stateMask) ? TRUE : FALSE;
    }
    case LVM_GETITEMSTATE:
      return WithList(h, false, [&](ListViewState& s) -> LRESULT {
        const size_t i = wParam;
        return i < s.items.size() ? (s.items[i].state & static_cast<UINT>(lParam)) : 0;
      });
    case LVM_DELETEITEM: return DeleteItem(h, static_cast<int>(wParam)) ? TRUE : FALSE;
    case LVM_DELETEALLITEMS: return DeleteAll(h) ? TRUE : FALSE;
    case LVM_GETNEXTITEM:
      return NextItem(h, static_cast<int>(static_cast<INT_PTR>(wParam)), static_cast<UINT>(LOWORD(lParam)));
    case LVM_GETSELECTEDCOUNT:
      return WithList(h, false, [](ListViewState& s) {
        return static_cast<int>(std::count_if(s.items.begin(), s.items.end(), [](const ListViewItem& it) { return it.state & LVIS_SELECTED; }));
      });
    case LVM_FINDITEMW:
      return FindItem(h, static_cast<int>(static_cast<INT_PTR>(wParam)), reinterpret_cast<const LVFINDINFOW*>(lParam));
    case LVM_GETITEMRECT: {
      auto* r = reinterpret_cast<RECT*>(lParam);
      if (r == nullptr) return FALSE;
      return ItemRect(h, static_cast<int>(wParam), r->left, r) ? TRUE : FALSE;
    }
    case LVM_HITTEST:
    case LVM_SUBITEMHITTEST: {
      auto* info = reinterpret_cast<LVHITTESTINFO*>(lParam);
      return info ? HitTest(h, info) : -1;
    }
    case LVM_ENSUREVISIBLE: EnsureVisible(h, static_cast<int>(wParam)); return TRUE;
    case LVM_GETTOPINDEX: return WithList(h, false, [](ListViewState& s) { return s.top; });
    case LVM_GETCOUNTPERPAGE: {
      RECT client;
      GetClientRect(h, &client);
      const DWORD style = Style(h);
      return WithList(h, false, [&](ListViewState& s) {
        return std::max(0, static_cast<int>((client.bottom - HeaderHeight(style)) / RowHeight(s)));
      });
    }
    case LVM_SORTITEMS:
      return SortItems(h, static_cast<LPARAM>(wParam), reinterpret_cast<PFNLVCOMPARE>(lParam)) ? TRUE : FALSE;
    case LVM_INSERTCOLUMNW:
      return InsertColumn(h, static_cast<int>(wParam), reinterpret_cast<const LVCOLUMNW*>(lParam));
    case LVM_DELETECOLUMN: return DeleteColumn(h, static_cast<int>(wParam)) ? TRUE : FALSE;
    case LVM_GETCOLUMNW: return GetColumn(h, static_cast<int>(wParam), reinterpret_cast<LVCOLUMNW*>(lParam)) ? TRUE : FALSE;
    case LVM_SETCOLUMNW:
      return SetColumn(h, static_cast<int>(wParam), reinterpret_cast<const LVCOLUMNW*>(lParam)) ? TRUE : FALSE;
    case LVM_GETCOLUMNWIDTH:
      return WithList(h, false, [&](ListViewState& s) {
        return wParam < s.columns.size() ? s.columns[wParam].width : 0;
      });
    case LVM_SETCOLUMNWIDTH:
      return SetColumnWidth(h, static_cast<int>(wParam), static_cast<SHORT>(LOWORD(lParam))) ? TRUE : FALSE;
    case LVM_GETSTRINGWIDTHW: {
      auto text = reinterpret_cast<LPCWSTR>(lParam);
      return text ? TextWidth(h, text) : 0;
    }
    case LVM_SETIMAGELIST:
    case LVM_GETIMAGELIST:
      return WithList(h, msg == LVM_SETIMAGELIST, [&](ListViewState& s) -> LRESULT {
        const void** slot = wParam == LVSIL_SMALL ? &s.smallImages : wParam == LVSIL_STATE ? &s.stateImages : &s.normalImages;
        if (wParam > LVSIL_STATE) return 0;
        if (msg == LVM_GETIMAGELIST) return reinterpret_cast<LRESULT>(*slot);
        return reinterpret_cast<LRESULT>(std::exchange(*slot, reinterpret_cast<const void*>(lParam)));
      });
    case LVM_SETEXTENDEDLISTVIEWSTYLE:
      return WithList(h, true, [&](ListViewState& s) -> LRESULT {
        const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
        return std::exchange(s.exStyle, (s.exStyle & ~mask) | (static_cast<DWORD>(lParam) & mask));
      });
    case LVM_GETEXTENDEDLISTVIEWSTYLE: return WithList(h, false, [](ListViewState& s) { return s.exStyle; });
    case WM_LBUTTONDOWN: Tap(h, PointOf(lParam)); return 0;
    case WM_LBUTTONDBLCLK: {
      const POINT p = PointOf(lParam);
      const int i = Tap(h, p);
      SendNm(h, NM_DBLCLK, i, 0, 0, 0, 0, p);
      if (IsWindow(h)) Activate(h, i, p);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_DOWN || wParam == VK_UP) MoveCaret(h, wParam == VK_DOWN ? 1 : -1);
      if (wParam == VK_HOME) MoveCaret(h, -Count(h));
      if (wParam == VK_END) MoveCaret(h, Count(h));
      if (wParam == VK_RETURN) {
        Activate(h, NextItem(h, -1, LVNI_FOCUSED), POINT{0, 0});
        if (IsWindow(h)) SendNm(h, NM_RETURN, -1);
      }
      return 0;
    case WM_SETFOCUS: SendNm(h, NM_SETFOCUS, -1); return 0;
    case WM_KILLFOCUS: SendNm(h, NM_KILLFOCUS, -1); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

}  // namespace

WNDPROC ListViewClass() { return ListViewProc; }

void DescribeListView(const ListViewState& s, DWORD style, ModelListView* out) {
  ModelListView m;
  for (const auto& c : s.columns) m.columns.push_back(ModelListColumn{c.text, c.width});
  for (const auto& it : s.items) {
    ModelListItem row;
    row.texts = it.texts;
    row.image = s.smallImages ? it.image : -1;
    row.selected = it.state & LVIS_SELECTED;
    row.focused = it.state & LVIS_FOCUSED;
    m.items.push_back(std::move(row));
  }
  m.smallImages = s.smallImages;
  m.top = s.top;
  m.headerHeight = HeaderHeight(style);
  m.rowHeight = RowHeight(s);
  *out = std::move(m);
}

}  // namespace ce::win
