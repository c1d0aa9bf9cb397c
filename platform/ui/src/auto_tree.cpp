// ui::test::Dialog on tree views: items named by the path of their texts,
// reached and tapped as a user does.
#include <string>
#include <vector>

#include "ce/text.h"
#include "ce/treeview.h"
#include "ce/window.h"
#include "cesim/treeview.h"
#include "ui/Automation.h"

namespace ui::test {
namespace {

bool IsTree(HWND h) {
  WCHAR name[64] = {};
  int n = GetClassNameW(h, name, 64);
  return ce::EqualNoCase(std::u16string_view(name, n > 0 ? static_cast<size_t>(n) : 0), WC_TREEVIEWW);
}

std::vector<std::u16string> Split(std::u16string_view path) {
  std::vector<std::u16string> out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'/', start);
    if (end == std::u16string_view::npos) end = path.size();
    out.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

HTREEITEM Next(HWND tree, HTREEITEM item, UINT code) {
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(item)));
}

std::u16string ItemText(HWND tree, HTREEITEM item) {
  std::u16string buf(1024, u'\0');
  TVITEMW it{};
  it.mask = TVIF_HANDLE | TVIF_TEXT;
  it.hItem = item;
  it.pszText = buf.data();
  it.cchTextMax = static_cast<int>(buf.size());
  if (!SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return {};
  buf.resize(std::char_traits<char16_t>::length(buf.c_str()));
  return buf;
}

UINT State(HWND tree, HTREEITEM item) {
  return static_cast<UINT>(SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), 0xFFFF));
}

// Where a part of the item's row lies in client coordinates, the item
// scrolled into view first; false when it is not in view.
enum class Part { Button, StateIcon, Label };
bool PointOf(HWND tree, HTREEITEM item, Part part, POINT* out, std::string* why) {
  SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
  ce::ModelTree t;
  if (!ce::DescribeTree(tree, &t)) {
    *why = "the tree cannot be read";
    return false;
  }
  for (size_t k = 0; k < t.rows.size(); ++k) {
    const ce::ModelTreeRow& r = t.rows[k];
    if (r.item != item) continue;
    const int y = static_cast<int>(k) * t.itemHeight + t.itemHeight / 2;
    switch (part) {
      case Part::Button:
        if (!r.button) {
          *why = "has no expand button";
          return false;
        }
        *out = POINT{r.x - t.indent / 2, y};
        return true;
      case Part::StateIcon:
        if (t.stateWidth <= 0 || r.stateImage == 0) {
          *why = "has no state icon";
          return false;
        }
        *out = POINT{r.x + t.stateWidth / 2, y};
        return true;
      case Part::Label:
        *out = POINT{r.x + t.stateWidth + t.imageWidth + 4, y};
        return true;
    }
  }
  *why = "is not in view";
  return false;
}

void Tap(HWND tree, POINT p, bool twice = false) {
  const LPARAM at = MAKELPARAM(p.x, p.y);
  SendMessageW(tree, twice ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, 0, at);
  if (IsWindow(tree)) SendMessageW(tree, WM_LBUTTONUP, 0, at);
}

// Opens the item's branch as a user does: its expand button, else a double
// tap on its label.
bool Open(HWND tree, HTREEITEM item, std::string* why) {
  if (State(tree, item) & TVIS_EXPANDED) return true;
  POINT p;
  std::string noButton;
  if (PointOf(tree, item, Part::Button, &p, &noButton)) {
    Tap(tree, p);
  } else if (PointOf(tree, item, Part::Label, &p, why)) {
    Tap(tree, p, true);
  } else {
    return false;
  }
  if (IsWindow(tree) && (State(tree, item) & TVIS_EXPANDED)) return true;
  *why = "did not open";
  return false;
}

// The item at path; null with *why. open: closed branches on the way are
// opened.
HTREEITEM Find(HWND tree, std::u16string_view path, bool open, std::string* why) {
  HTREEITEM parent = nullptr;
  std::u16string walked;
  for (const std::u16string& text : Split(path)) {
    if (parent && open && !Open(tree, parent, why)) {
      *why = "\"" + ce::ToUtf8(walked) + "\" " + *why;
      return nullptr;
    }
    HTREEITEM found = nullptr;
    for (HTREEITEM c = parent ? Next(tree, parent, TVGN_CHILD) : Next(tree, nullptr, TVGN_ROOT); c && !found;
         c = Next(tree, c, TVGN_NEXT))
      if (ItemText(tree, c) == text) found = c;
    walked += (walked.empty() ? u"" : u"/") + text;
    if (!found) {
      *why = "no item \"" + ce::ToUtf8(walked) + "\"";
      return nullptr;
    }
    parent = found;
  }
  return parent;
}

}  // namespace

bool Dialog::TreeCheck(int id, std::u16string_view path) {
  HWND h = Control(id, "tree-check", true);
  if (!h) return false;
  const std::string what = "tree-check control " + std::to_string(id) + ": ";
  if (!IsTree(h)) return Fail(what + "not a tree view");
  std::string why;
  HTREEITEM item = Find(h, path, true, &why);
  POINT p;
  if (!item) return Fail(what + why);
  if (!PointOf(h, item, Part::StateIcon, &p, &why)) return Fail(what + "\"" + ce::ToUtf8(path) + "\" " + why);
  Tap(h, p);
  return true;
}

bool Dialog::TreeExpand(int id, std::u16string_view path) {
  HWND h = Control(id, "tree-expand", true);
  if (!h) return false;
  const std::string what = "tree-expand control " + std::to_string(id) + ": ";
  if (!IsTree(h)) return Fail(what + "not a tree view");
  std::string why;
  HTREEITEM item = Find(h, path, true, &why);
  if (!item) return Fail(what + why);
  if (!Open(h, item, &why)) return Fail(what + "\"" + ce::ToUtf8(path) + "\" " + why);
  return true;
}

bool Dialog::TreeSelect(int id, std::u16string_view path) {
  HWND h = Control(id, "tree-select", true);
  if (!h) return false;
  const std::string what = "tree-select control " + std::to_string(id) + ": ";
  if (!IsTree(h)) return Fail(what + "not a tree view");
  std::string why;
  HTREEITEM item = Find(h, path, true, &why);
  POINT p;
  if (!item) return Fail(what + why);
  if (!PointOf(h, item, Part::Label, &p, &why)) return Fail(what + "\"" + ce::ToUtf8(path) + "\" " + why);
  Tap(h, p);
  if (reinterpret_cast<HTREEITEM>(Next(h, nullptr, TVGN_CARET)) != item)
    return Fail(what + "\"" + ce::ToUtf8(path) + "\" did not become the selected item");
  return true;
}

int Dialog::TreeState(int id, std::u16string_view path) const {
  HWND h = FindControl(id);
  if (!h || !IsTree(h)) return -1;
  std::string why;
  HTREEITEM item = Find(h, path, false, &why);
  return item ? static_cast<int>(STATEIMAGEMASKTOINDEX(State(h, item))) : -1;
}

}  // namespace ui::test
