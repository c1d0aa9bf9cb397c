// The tab control ("SysTabControl32", ce/controls.h): its tabs live in the
// window model (ControlState::tab).
#include <algorithm>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "window/window_state.h"

namespace ce::win {
namespace {

constexpr int kPadding = 8;     // pixels either side of a caption, at scale 1
constexpr int kImageSide = 16;  // room for a tab's image, at scale 1
constexpr int kCharWidth = 8;   // one character of a caption, at scale 1

TabState StateOfTabs(HWND h) {
  return WithWindow(h, false, [](LocalWindow& w) { return w.ctl.tab; });
}

// The tabs' rectangles (client coordinates), left to right.
std::vector<RECT> TabRects(HWND h, const TabState& s) {
  RECT client{};
  GetClientRect(h, &client);
  const int scale = std::max(1, GetDisplayScale());
  std::vector<RECT> out;
  int x = 0;
  for (const auto& item : s.items) {
    int w = static_cast<int>(item.text.size()) * kCharWidth * scale + 2 * kPadding * scale;
    if (item.image >= 0 && s.imageList) w += (kImageSide + kPadding / 2) * scale;
    out.push_back(RECT{x, client.top, x + w, client.bottom});
    x += w;
  }
  return out;
}

int TabAt(HWND h, POINT p) {
  const std::vector<RECT> rects = TabRects(h, StateOfTabs(h));
  for (size_t i = 0; i < rects.size(); ++i) {
    const RECT& r = rects[i];
    if (p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom) return static_cast<int>(i);
  }
  return -1;
}

// Runs fn on the tab state and shows the selected caption as the text.
template <class Fn>
auto Change(HWND h, Fn fn) {
  return WithWindow(h, true, [&](LocalWindow& w) {
    auto r = fn(w.ctl.tab);
    const TabState& s = w.ctl.tab;
    w.text = s.cur >= 0 && s.cur < static_cast<int>(s.items.size()) ? s.items[static_cast<size_t>(s.cur)].text
                                                                      : std::u16string();
    return r;
  });
}

LRESULT NotifyParent(HWND h, UINT code) {
  NMHDR hdr{h, static_cast<UINT_PTR>(GetDlgCtrlID(h)), code};
  return SendMessageW(GetParent(h), WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
}

void TakeItem(TabState::Item* item, const TCITEMW& in) {
  if ((in.mask & TCIF_TEXT) && in.pszText) item->text = in.pszText;
  if (in.mask & TCIF_IMAGE) item->image = in.iImage;
  if (in.mask & TCIF_PARAM) item->param = in.lParam;
}

}  // namespace

LRESULT TabProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
  switch (msg) {
    case TCM_GETITEMCOUNT: return static_cast<LRESULT>(StateOfTabs(h).items.size());
    case TCM_GETCURSEL: return StateOfTabs(h).cur;
    case TCM_SETCURSEL:
      return Change(h, [&](TabState& s) {
        if (index < 0 || index >= static_cast<int>(s.items.size())) return -1;
        return std::exchange(s.cur, index);
      });
    case TCM_INSERTITEMW: {
      auto* in = reinterpret_cast<const TCITEMW*>(lParam);
      if (!in) return -1;
      return Change(h, [&](TabState& s) {
        const int at = std::clamp(index, 0, static_cast<int>(s.items.size()));
        TabState::Item item;
        TakeItem(&item, *in);
        s.items.insert(s.items.begin() + at, std::move(item));
        if (s.cur >= at) ++s.cur;
        return at;
      });
    }
    case TCM_SETITEMW: {
      auto* in = reinterpret_cast<const TCITEMW*>(lParam);
      if (!in) return FALSE;
      return Change(h, [&](TabState& s) {
        if (index < 0 || index >= static_cast<int>(s.items.size())) return FALSE;
        TakeItem(&s.items[static_cast<size_t>(index)], *in);
        return TRUE;
      });
    }
    case TCM_GETITEMW: {
      auto* out = reinterpret_cast<TCITEMW*>(lParam);
      const TabState s = StateOfTabs(h);
      if (!out || index < 0 || index >= static_cast<int>(s.items.size())) return FALSE;
      const TabState::Item& item = s.items[static_cast<size_t>(index)];
      if (out->mask & TCIF_TEXT) {
        if (!out->pszText || out->cchTextMax <= 0) return FALSE;
        const size_t n = std::min(item.text.size(), static_cast<size_t>(out->cchTextMax - 1));
        std::copy(item.text.begin(), item.text.begin() + static_cast<std::ptrdiff_t>(n), out->pszText);
        out->pszText[n] = 0;
      }
      if (out->mask & TCIF_IMAGE) out->iImage = item.image;
      if (out->mask & TCIF_PARAM) out->lParam = item.param;
      return TRUE;
    }
    case TCM_DELETEITEM:
      return Change(h, [&](TabState& s) {
        if (index < 0 || index >= static_cast<int>(s.items.size())) return FALSE;
        s.items.erase(s.items.begin() + index);
        if (s.cur == index) s.cur = -1;
        else if (s.cur > index) --s.cur;
        return TRUE;
      });
    case TCM_DELETEALLITEMS:
      return Change(h, [](TabState& s) {
        s.items.clear();
        s.cur = -1;
        return TRUE;
      });
    case TCM_SETIMAGELIST:
      return Change(h, [&](TabState& s) { return std::exchange(s.imageList, static_cast<intptr_t>(lParam)); });
    case TCM_GETIMAGELIST: return StateOfTabs(h).imageList;
    case TCM_GETITEMRECT: {
      auto* out = reinterpret_cast<RECT*>(lParam);
      const std::vector<RECT> rects = TabRects(h, StateOfTabs(h));
      if (!out || index < 0 || index >= static_cast<int>(rects.size())) return FALSE;
      *out = rects[static_cast<size_t>(index)];
      return TRUE;
    }
    case TCM_HITTEST: {
      auto* info = reinterpret_cast<TCHITTESTINFO*>(lParam);
      if (!info) return -1;
      const int at = TabAt(h, info->pt);
      info->flags = at >= 0 ? TCHT_ONITEM : TCHT_NOWHERE;
      return at;
    }
    case WM_SETTEXT: return FALSE;  // the selected caption is the text
    case WM_LBUTTONDOWN: {
      const POINT p{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
      const int at = TabAt(h, p);
      if (at < 0 || at == StateOfTabs(h).cur) return 0;
      if (NotifyParent(h, TCN_SELCHANGING) != 0) return 0;
      // The parent may have changed the tabs while it was asked.
      const bool moved = Change(h, [&](TabState& s) {
        if (at >= static_cast<int>(s.items.size())) return false;
        s.cur = at;
        return true;
      });
      if (moved) NotifyParent(h, TCN_SELCHANGE);
      return 0;
    }
    default: return DefWindowProcW(h, msg, wParam, lParam);
  }
}

}  // namespace ce::win
