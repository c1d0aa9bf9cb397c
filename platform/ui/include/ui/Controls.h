// Control wrappers over the built-in window classes. Each Create makes the
// control as a child with the given style (WS_CHILD is added) and attaches
// the object permanently; DDX_Control/SubclassDlgItem attach to a dialog's
// control instead.
#pragma once

#include "ce/commctrl.h"  // HIMAGELIST
#include "ce/controls.h"
#include "ui/Wnd.h"

typedef ULONG_PTR DWORD_PTR;  // item data (a redeclaration elsewhere is harmless)

class CStatic : public CWnd {
 public:
  BOOL Create(LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF);
};

class CButton : public CWnd {
 public:
  BOOL Create(LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
  void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
  UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
  void SetState(BOOL highlight) { SendMessage(BM_SETSTATE, static_cast<WPARAM>(highlight)); }
  UINT GetButtonStyle() const { return GetStyle() & 0xFFFFu; }
  void SetButtonStyle(UINT style, BOOL redraw = TRUE) {
    SendMessage(BM_SETSTYLE, style, static_cast<LPARAM>(redraw));
  }
};

class CEdit : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void LimitText(int maxChars = 0) { SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(maxChars)); }
  void SetLimitText(UINT maxChars) { SendMessage(EM_LIMITTEXT, maxChars); }
  UINT GetLimitText() const { return static_cast<UINT>(SendMessage(EM_GETLIMITTEXT)); }
  void SetSel(int start, int end, BOOL noScroll = FALSE);
  void SetSel(DWORD selection, BOOL noScroll = FALSE) {
    SetSel(static_cast<short>(LOWORD(selection)), static_cast<short>(HIWORD(selection)), noScroll);
  }
  DWORD GetSel() const { return static_cast<DWORD>(SendMessage(EM_GETSEL)); }
  void GetSel(int& start, int& end) const;
  void ReplaceSel(LPCWSTR text, BOOL canUndo = FALSE) {
    SendMessage(EM_REPLACESEL, static_cast<WPARAM>(canUndo), reinterpret_cast<LPARAM>(text));
  }
  BOOL SetReadOnly(BOOL readOnly = TRUE) {
    return static_cast<BOOL>(SendMessage(EM_SETREADONLY, static_cast<WPARAM>(readOnly)));
  }
  BOOL GetModify() const { return static_cast<BOOL>(SendMessage(EM_GETMODIFY)); }
  void SetModify(BOOL modified = TRUE) { SendMessage(EM_SETMODIFY, static_cast<WPARAM>(modified)); }
  void SetPasswordChar(WCHAR ch) { SendMessage(EM_SETPASSWORDCHAR, ch); }
  WCHAR GetPasswordChar() const { return static_cast<WCHAR>(SendMessage(EM_GETPASSWORDCHAR)); }
  int GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
};

class CComboBox : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void ResetContent() { SendMessage(CB_RESETCONTENT); }
  // Index of the new item, CB_ERR / CB_ERRSPACE on failure.
  int AddString(LPCWSTR text) { return Int(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
  int InsertString(int index, LPCWSTR text) {
    return Int(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
  }
  int DeleteString(UINT index) { return Int(SendMessage(CB_DELETESTRING, index)); }
  int GetCount() const { return Int(SendMessage(CB_GETCOUNT)); }
  int GetCurSel() const { return Int(SendMessage(CB_GETCURSEL)); }
  int SetCurSel(int index) { return Int(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
  DWORD_PTR GetItemData(int index) const {
    return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(index)));
  }
  int SetItemData(int index, DWORD_PTR data) {
    return Int(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
  }
  // The item's text (empty for a bad index).
  void GetLBText(int index, CString& text) const;
  int GetLBText(int index, LPWSTR text) const {
    return Int(SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
  }
  int GetLBTextLen(int index) const { return Int(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index))); }
  int FindStringExact(int startAfter, LPCWSTR text) const {
    return Int(SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(startAfter), reinterpret_cast<LPARAM>(text)));
  }
  int SelectString(int startAfter, LPCWSTR text) {
    return Int(SendMessage(CB_SELECTSTRING, static_cast<WPARAM>(startAfter), reinterpret_cast<LPARAM>(text)));
  }
  BOOL LimitText(int maxChars) { return static_cast<BOOL>(SendMessage(CB_LIMITTEXT, static_cast<WPARAM>(maxChars))); }
  void ShowDropDown(BOOL show = TRUE) { SendMessage(CB_SHOWDROPDOWN, static_cast<WPARAM>(show)); }
  BOOL GetDroppedState() const { return static_cast<BOOL>(SendMessage(CB_GETDROPPEDSTATE)); }

 private:
  static int Int(LRESULT r) { return static_cast<int>(r); }
};

class CListBox : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void ResetContent() { SendMessage(LB_RESETCONTENT); }
  int AddString(LPCWSTR text) { return Int(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
  int InsertString(int index, LPCWSTR text) {
    return Int(SendMessage(LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
  }
  int DeleteString(UINT index) { return Int(SendMessage(LB_DELETESTRING, index)); }
  int GetCount() const { return Int(SendMessage(LB_GETCOUNT)); }
  int GetCurSel() const { return Int(SendMessage(LB_GETCURSEL)); }
  int SetCurSel(int index) { return Int(SendMessage(LB_SETCURSEL, static_cast<WPARAM>(index))); }
  DWORD_PTR GetItemData(int index) const {
    return static_cast<DWORD_PTR>(SendMessage(LB_GETITEMDATA, static_cast<WPARAM>(index)));
  }
  int SetItemData(int index, DWORD_PTR data) {
    return Int(SendMessage(LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
  }
  void GetText(int index, CString& text) const;
  int GetTextLen(int index) const { return Int(SendMessage(LB_GETTEXTLEN, static_cast<WPARAM>(index))); }
  int FindStringExact(int startAfter, LPCWSTR text) const {
    return Int(SendMessage(LB_FINDSTRINGEXACT, static_cast<WPARAM>(startAfter), reinterpret_cast<LPARAM>(text)));
  }

 private:
  static int Int(LRESULT r) { return static_cast<int>(r); }
};

class CProgressCtrl : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetRange(short lower, short upper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
  void SetRange32(int lower, int upper) {
    SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
  }
  void GetRange(int& lower, int& upper) const;
  // Return the previous position.
  int SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos))); }
  int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
  int OffsetPos(int delta) { return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(delta))); }
  int SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
  int StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }
};

class CSpinButtonCtrl : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetRange(short lower, short upper) { SendMessage(UDM_SETRANGE, 0, MAKELPARAM(upper, lower)); }
  void SetRange32(int lower, int upper) {
    SendMessage(UDM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
  }
  void GetRange(int& lower, int& upper) const;
  int SetPos(int pos) { return static_cast<int>(SendMessage(UDM_SETPOS32, 0, static_cast<LPARAM>(pos))); }
  int GetPos() const { return static_cast<int>(SendMessage(UDM_GETPOS32)); }
  CWnd* SetBuddy(CWnd* buddy);
  CWnd* GetBuddy() const { return CWnd::FromHandle(reinterpret_cast<HWND>(SendMessage(UDM_GETBUDDY))); }
};

// The tab strip ("SysTabControl32", ce/controls.h): a tap on a tab sends
// WM_NOTIFY TCN_SELCHANGING to the parent (a nonzero answer keeps the
// selection), then TCN_SELCHANGE. SetCurSel changes the selection without
// notifying. Images are indexes into the image list set on the control.
class CTabCtrl : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  // Index of the new item or -1; image -1: none.
  int InsertItem(int index, LPCWSTR text, int image = -1);
  BOOL DeleteItem(int index) { return static_cast<BOOL>(SendMessage(TCM_DELETEITEM, static_cast<WPARAM>(index))); }
  BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(TCM_DELETEALLITEMS)); }
  int GetItemCount() const { return static_cast<int>(SendMessage(TCM_GETITEMCOUNT)); }
  int GetCurSel() const { return static_cast<int>(SendMessage(TCM_GETCURSEL)); }
  // Returns the previous selection (-1 for a bad index).
  int SetCurSel(int index) { return static_cast<int>(SendMessage(TCM_SETCURSEL, static_cast<WPARAM>(index))); }
  BOOL GetItem(int index, TCITEMW* item) const {
    return static_cast<BOOL>(SendMessage(TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item)));
  }
  BOOL SetItem(int index, TCITEMW* item) {
    return static_cast<BOOL>(SendMessage(TCM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item)));
  }
  BOOL GetItemRect(int index, LPRECT rect) const {
    return static_cast<BOOL>(SendMessage(TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(rect)));
  }
  // Returns the previous list.
  HIMAGELIST SetImageList(HIMAGELIST list) {
    return reinterpret_cast<HIMAGELIST>(SendMessage(TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list)));
  }
  HIMAGELIST GetImageList() const { return reinterpret_cast<HIMAGELIST>(SendMessage(TCM_GETIMAGELIST)); }
  // The item's text (empty for a bad index).
  CString GetItemText(int index) const;
  // The tab under a client point, -1 for none.
  int HitTest(POINT clientPoint) const;
};

namespace ui {
// Kept for callers: the tab control is built into the window layer.
bool RegisterTabControlClass();
}  // namespace ui
