// CTreeCtrl (ui/TreeCtrl.h).
#include "ui/TreeCtrl.h"

#include <algorithm>
#include <cstring>

BOOL CTreeCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_TREEVIEWW, u"", style | WS_CHILD, rect, parent, id);
}

HTREEITEM CTreeCtrl::InsertItem(UINT mask, LPCWSTR text, int image, int selectedImage, UINT state, UINT stateMask,
                                LPARAM data, HTREEITEM parent, HTREEITEM after) {
  TVINSERTSTRUCTW ins{};
  ins.hParent = parent;
  ins.hInsertAfter = after;
  ins.item.mask = mask;
  ins.item.pszText = const_cast<LPWSTR>(text);
  ins.item.iImage = image;
  ins.item.iSelectedImage = selectedImage;
  ins.item.state = state;
  ins.item.stateMask = stateMask;
  ins.item.lParam = data;
  return InsertItem(&ins);
}

BOOL CTreeCtrl::SetItem(HTREEITEM item, UINT mask, LPCWSTR text, int image, int selectedImage, UINT state,
                        UINT stateMask, LPARAM data) {
  TVITEMW it{};
  it.mask = mask | TVIF_HANDLE;
  it.hItem = item;
  it.pszText = const_cast<LPWSTR>(text);
  it.iImage = image;
  it.iSelectedImage = selectedImage;
  it.state = state;
  it.stateMask = stateMask;
  it.lParam = data;
  return SetItem(&it);
}

BOOL CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
  TVITEMW it{};
  it.mask = TVIF_HANDLE | TVIF_CHILDREN;
  it.hItem = item;
  return GetItem(&it) && it.cChildren != 0;
}

CString CTreeCtrl::GetItemText(HTREEITEM item) const {
  // Grows the buffer until the text fits.
  for (int room = 256; room <= (1 << 20); room *= 4) {
    CString text;
    TVITEMW it{};
    it.mask = TVIF_HANDLE | TVIF_TEXT;
    it.hItem = item;
    it.pszText = text.GetBuffer(room);
    it.cchTextMax = room + 1;
    it.pszText[0] = 0;
    const BOOL ok = GetItem(&it);
    int len = 0;
    while (ok && len < room && it.pszText[len]) ++len;
    text.ReleaseBuffer(len);
    if (!ok || len < room) return ok ? text : CString();
  }
  return CString();
}

DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM item) const {
  TVITEMW it{};
  it.mask = TVIF_HANDLE | TVIF_PARAM;
  it.hItem = item;
  return GetItem(&it) ? static_cast<DWORD_PTR>(it.lParam) : 0;
}

BOOL CTreeCtrl::GetItemImage(HTREEITEM item, int& image, int& selectedImage) const {
  TVITEMW it{};
  it.mask = TVIF_HANDLE | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  it.hItem = item;
  if (!GetItem(&it)) return FALSE;
  image = it.iImage;
  selectedImage = it.iSelectedImage;
  return TRUE;
}

BOOL CTreeCtrl::GetItemRect(HTREEITEM item, LPRECT rect, BOOL textOnly) const {
  if (!rect) return FALSE;
  static_assert(sizeof(HTREEITEM) <= sizeof(RECT));
  std::memcpy(rect, &item, sizeof item);  // the control reads the item from the rectangle
  return static_cast<BOOL>(SendMessage(TVM_GETITEMRECT, static_cast<WPARAM>(textOnly), reinterpret_cast<LPARAM>(rect)));
}

HTREEITEM CTreeCtrl::HitTest(POINT point, UINT* flags) const {
  TVHITTESTINFO info{};
  info.pt = point;
  HTREEITEM item = HitTest(&info);
  if (flags) *flags = info.flags;
  return item;
}
