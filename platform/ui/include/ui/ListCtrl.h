// Class-library wrappers of the list view, image lists and bitmaps.
#pragma once

#include "ce/commctrl.h"
#include "ui/Controls.h"
#include "ui/Gdi.h"

// A bitmap object (owns its handle unless detached).
class CBitmap : public CGdiObject {
 public:
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
  // Bitmap resource `id` / `name` of the class library's resource module.
  BOOL LoadBitmap(UINT id);
  BOOL LoadBitmap(LPCWSTR name);
  int GetBitmap(BITMAP* out) const { return GetObject(sizeof(BITMAP), out); }
  CSize GetBitmapDimension() const;
};

// An image list (owns its handle unless detached).
class CImageList {
 public:
  CImageList() = default;
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;
  ~CImageList() { DeleteImageList(); }
  HIMAGELIST m_hImageList = nullptr;
  operator HIMAGELIST() const { return m_hImageList; }
  HIMAGELIST GetSafeHandle() const { return m_hImageList; }

  BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
  BOOL DeleteImageList();
  BOOL Attach(HIMAGELIST list);
  HIMAGELIST Detach();
  int Add(CBitmap* bitmap, CBitmap* mask) {
    return ImageList_Add(m_hImageList, bitmap ? static_cast<HBITMAP>(*bitmap) : nullptr,
                         mask ? static_cast<HBITMAP>(*mask) : nullptr);
  }
  int Add(CBitmap* bitmap, COLORREF mask) {
    return ImageList_AddMasked(m_hImageList, bitmap ? static_cast<HBITMAP>(*bitmap) : nullptr, mask);
  }
  int Add(HICON icon) { return ImageList_ReplaceIcon(m_hImageList, -1, icon); }
  int Replace(int index, HICON icon) { return ImageList_ReplaceIcon(m_hImageList, index, icon); }
  BOOL Remove(int index) { return ImageList_Remove(m_hImageList, index); }
  int GetImageCount() const { return ImageList_GetImageCount(m_hImageList); }
  COLORREF SetBkColor(COLORREF color) { return ImageList_SetBkColor(m_hImageList, color); }
  BOOL Draw(CDC* dc, int image, POINT at, UINT style) {
    return ImageList_Draw(m_hImageList, image, dc ? dc->m_hDC : nullptr, at.x, at.y, style);
  }
};

// The list view in report mode.
class CListCtrl : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

  int GetItemCount() const { return Int(SendMessage(LVM_GETITEMCOUNT)); }
  int InsertItem(const LVITEMW* item) { return Int(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(item))); }
  int InsertItem(int index, LPCWSTR label);
  int InsertItem(int index, LPCWSTR label, int image);
  BOOL SetItem(const LVITEMW* item) { return static_cast<BOOL>(SendMessage(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(item))); }
  BOOL GetItem(LVITEMW* item) const { return static_cast<BOOL>(SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(item))); }
  BOOL SetItemText(int index, int subItem, LPCWSTR text);
  CString GetItemText(int index, int subItem) const;
  int GetItemText(int index, int subItem, LPWSTR buffer, int room) const;
  BOOL SetItemData(int index, DWORD_PTR data);
  DWORD_PTR GetItemData(int index) const;
  BOOL SetItemState(int index, UINT state, UINT mask);
  UINT GetItemState(int index, UINT mask) const {
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(index), static_cast<LPARAM>(mask)));
  }
  int GetNextItem(int start, int flags) const {
    return Int(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), static_cast<LPARAM>(flags)));
  }
  UINT GetSelectedCount() const { return static_cast<UINT>(SendMessage(LVM_GETSELECTEDCOUNT)); }
  BOOL DeleteItem(int index) { return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(index))); }
  BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
  BOOL EnsureVisible(int index, BOOL partialOk) {
    return static_cast<BOOL>(SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), partialOk));
  }
  int HitTest(LVHITTESTINFO* info) const { return Int(SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(info))); }
  int HitTest(POINT at, UINT* flags = nullptr) const;
  BOOL GetItemRect(int index, LPRECT rect, UINT code) const;
  BOOL SortItems(PFNLVCOMPARE compare, DWORD_PTR data) {
    return static_cast<BOOL>(SendMessage(LVM_SORTITEMS, static_cast<WPARAM>(data), reinterpret_cast<LPARAM>(compare)));
  }
  int FindItem(LVFINDINFOW* find, int start = -1) const {
    return Int(SendMessage(LVM_FINDITEMW, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(find)));
  }

  int InsertColumn(int index, const LVCOLUMNW* column) {
    return Int(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(column)));
  }
  int InsertColumn(int index, LPCWSTR heading, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
  BOOL DeleteColumn(int index) { return static_cast<BOOL>(SendMessage(LVM_DELETECOLUMN, static_cast<WPARAM>(index))); }
  int GetColumnWidth(int index) const { return Int(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(index))); }
  BOOL SetColumnWidth(int index, int width) {
    return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(index), MAKELPARAM(width, 0)));
  }
  BOOL GetColumn(int index, LVCOLUMNW* column) const {
    return static_cast<BOOL>(SendMessage(LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(column)));
  }
  int GetStringWidth(LPCWSTR text) const { return Int(SendMessage(LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text))); }

  // Returns the previous list's wrapper (a temporary that does not own it;
  // null for none).
  CImageList* SetImageList(CImageList* list, int which);
  HIMAGELIST GetImageList(int which) const {
    return reinterpret_cast<HIMAGELIST>(SendMessage(LVM_GETIMAGELIST, static_cast<WPARAM>(which)));
  }
  DWORD SetExtendedStyle(DWORD style) {
    return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style)));
  }
  DWORD GetExtendedStyle() const { return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE)); }

 private:
  static int Int(LRESULT r) { return static_cast<int>(r); }
  CImageList previous_;  // the wrapper SetImageList hands back
};
