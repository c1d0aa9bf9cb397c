// Control wrappers and the tab control window class.
#include <algorithm>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/module.h"
#include "mfc_internal.h"

namespace {
BOOL MakeControl(CWnd* w, LPCWSTR cls, LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return w->Create(cls, text, style | WS_CHILD, rect, parent, id);
}
}  // namespace

BOOL CStatic::Create(LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return MakeControl(this, u"STATIC", text, style, rect, parent, id);
}
BOOL CButton::Create(LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return MakeControl(this, u"BUTTON", text, style, rect, parent, id);
}
BOOL CEdit::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return MakeControl(this, u"EDIT", u"", style, rect, parent, id);
}
BOOL CComboBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return MakeControl(this, u"COMBOBOX", u"", style, rect, parent, id);
}
BOOL CListBox::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return MakeControl(this, u"LISTBOX", u"", style, rect, parent, id);
}
BOOL CProgressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return MakeControl(this, u"msctls_progress32", u"", style, rect, parent, id);
}
BOOL CSpinButtonCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return MakeControl(this, u"msctls_updown32", u"", style, rect, parent, id);
}
BOOL CTabCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  ui::RegisterTabControlClass();
  return MakeControl(this, WC_TABCONTROLW, u"", style, rect, parent, id);
}

void CEdit::SetSel(int start, int end, BOOL noScroll) {
  SendMessage(EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
  if (!noScroll) SendMessage(EM_SCROLLCARET);
}

void CEdit::GetSel(int& start, int& end) const {
  DWORD s = 0, e = 0;
  SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  start = static_cast<int>(s);
  end = static_cast<int>(e);
}

void CComboBox::GetLBText(int index, CString& text) const {
  int len = GetLBTextLen(index);
  if (len < 0) {
    text.Empty();
    return;
  }
  LPWSTR buf = text.GetBuffer(len);
  int got = GetLBText(index, buf);
  text.ReleaseBuffer(got < 0 ? 0 : got);
}

void CListBox::GetText(int index, CString& text) const {
  int len = GetTextLen(index);
  if (len < 0) {
    text.Empty();
    return;
  }
  LPWSTR buf = text.GetBuffer(len);
  int got = static_cast<int>(SendMessage(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf)));
  text.ReleaseBuffer(got < 0 ? 0 : got);
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
  PBRANGE range{0, 0};
  SendMessage(PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  lower = range.iLow;
  upper = range.iHigh;
}

void CSpinButtonCtrl::GetRange(int& lower, int& upper) const {
  SendMessage(UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower), reinterpret_cast<LPARAM>(&upper));
}

CWnd* CSpinButtonCtrl::SetBuddy(CWnd* buddy) {
  return CWnd::FromHandle(reinterpret_cast<HWND>(
      SendMessage(UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy != nullptr ? buddy->m_hWnd : nullptr))));
}

int CTabCtrl::InsertItem(int index, LPCWSTR text, int image) {
  TCITEMW item{};
  item.mask = TCIF_TEXT | (image >= 0 ? TCIF_IMAGE : 0u);
  item.pszText = const_cast<LPWSTR>(text);
  item.iImage = image;
  return static_cast<int>(SendMessage(TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

CString CTabCtrl::GetItemText(int index) const {
  WCHAR buf[256] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = buf;
  item.cchTextMax = 256;
  if (!GetItem(index, &item)) return CString();
  return CString(buf);
}

int CTabCtrl::HitTest(POINT clientPoint) const {
  TCHITTESTINFO info{clientPoint, 0};
  return static_cast<int>(SendMessage(TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
}

namespace ui {
// The tab control is built into the window layer: nothing to register.
bool RegisterTabControlClass() { return true; }
}  // namespace ui
