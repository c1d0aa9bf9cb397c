// CListCtrl, CImageList and CBitmap (ui/ListCtrl.h).
#include "ui/ListCtrl.h"

#include <vector>

#include "ce/module.h"
#include "ui/App.h"

BOOL CBitmap::LoadBitmap(UINT id) { return LoadBitmap(MAKEINTRESOURCE(id)); }

BOOL CBitmap::LoadBitmap(LPCWSTR name) {
  HBITMAP bitmap = ::LoadBitmapW(AfxGetResourceHandle(), name);
  return bitmap != nullptr && Attach(bitmap);
}

CSize CBitmap::GetBitmapDimension() const {
  BITMAP b{};
  if (GetBitmap(&b) == 0) return CSize(0, 0);
  return CSize(b.bmWidth, b.bmHeight);
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  DeleteImageList();
  m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
  return m_hImageList != nullptr;
}

BOOL CImageList::DeleteImageList() {
  if (m_hImageList == nullptr) return FALSE;
  BOOL ok = ImageList_Destroy(m_hImageList);
  m_hImageList = nullptr;
  return ok;
}

BOOL CImageList::Attach(HIMAGELIST list) {
  if (list == nullptr) return FALSE;
  DeleteImageList();
  m_hImageList = list;
  return TRUE;
}

HIMAGELIST CImageList::Detach() {
  HIMAGELIST list = m_hImageList;
  m_hImageList = nullptr;
  return list;
}

BOOL CListCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(WC_LISTVIEWW, u"", style | WS_CHILD, rect, parent, id);
}

int CListCtrl::InsertItem(int index, LPCWSTR label) {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = const_cast<LPWSTR>(label);
  return InsertItem(&item);
}

int CListCtrl::InsertItem(int index, LPCWSTR label, int image) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = index;
  item.pszText = const_cast<LPWSTR>(label);
  item.iImage = image;
  return InsertItem(&item);
}

BOOL CListCtrl::SetItemText(int index, int subItem, LPCWSTR text) {
  LVITEMW item{};
  item.iSubItem = subItem;
  item.pszText = const_cast<LPWSTR>(text);
  return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

int CListCtrl::GetItemText(int index, int subItem, LPWSTR buffer, int room) const {
  LVITEMW item{};
  item.iSubItem = subItem;
  item.pszText = buffer;
  item.cchTextMax = room;
  return Int(SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

CString CListCtrl::GetItemText(int index, int subItem) const {
  // Grows the buffer until the text fits (a full buffer may have cut it).
  for (int room = 256; room <= (1 << 16); room *= 4) {
    std::vector<WCHAR> buffer(static_cast<size_t>(room), 0);
    const int n = GetItemText(index, subItem, buffer.data(), room);
    if (n < room - 1) return CString(buffer.data());
  }
  return CString();
}

BOOL CListCtrl::SetItemData(int index, DWORD_PTR data) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  item.lParam = static_cast<LPARAM>(data);
  return SetItem(&item);
}

DWORD_PTR CListCtrl::GetItemData(int index) const {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  return GetItem(&item) ? static_cast<DWORD_PTR>(item.lParam) : 0;
}

BOOL CListCtrl::SetItemState(int index, UINT state, UINT mask) {
  LVITEMW item{};
  item.state = state;
  item.stateMask = mask;
  return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

int CListCtrl::HitTest(POINT at, UINT* flags) const {
  LVHITTESTINFO info{at, 0, -1, 0};
  const int i = HitTest(&info);
  if (flags) *flags = info.flags;
  return i;
}

BOOL CListCtrl::GetItemRect(int index, LPRECT rect, UINT code) const {
  if (rect == nullptr) return FALSE;
  rect->left = static_cast<LONG>(code);
  return static_cast<BOOL>(SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(rect)));
}

int CListCtrl::InsertColumn(int index, LPCWSTR heading, int format, int width, int subItem) {
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT | LVCF_FMT;
  col.fmt = format;
  col.pszText = const_cast<LPWSTR>(heading);
  if (width >= 0) {
    col.mask |= LVCF_WIDTH;
    col.cx = width;
  }
  if (subItem >= 0) {
    col.mask |= LVCF_SUBITEM;
    col.iSubItem = subItem;
  }
  return InsertColumn(index, &col);
}

CImageList* CListCtrl::SetImageList(CImageList* list, int which) {
  HIMAGELIST old = reinterpret_cast<HIMAGELIST>(
      SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(list ? list->m_hImageList : nullptr)));
  previous_.Detach();
  if (old == nullptr) return nullptr;
  previous_.m_hImageList = old;
  return &previous_;
}
