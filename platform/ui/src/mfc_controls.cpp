// Control wrappers and the tab control window class.
#include <algorithm>
#include <string>
#include <unordered_map>
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

int CTabCtrl::InsertItem(int index, LPCWSTR text) {
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<LPWSTR>(text);
  return static_cast<int>(SendMessage(TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

CString CTabCtrl::GetItemText(int index) const {
  CString text;
  SendMessage(ui::kTcmGetItemText, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text));
  return text;
}

int CTabCtrl::HitTest(POINT clientPoint) const {
  return static_cast<int>(SendMessage(ui::kTcmHitTest, 0, reinterpret_cast<LPARAM>(&clientPoint)));
}

// ---- the tab control ----

namespace {

struct TabState {
  std::vector<std::u16string> items;
  int cur = -1;
};

std::unordered_map<HWND, TabState>& Tabs() {
  static std::unordered_map<HWND, TabState> tabs;
  return tabs;
}

constexpr int kTabPadding = 8;  // pixels around a tab's caption

// Tabs are laid out left to right, each its caption's width plus padding.
int TabAt(HWND hwnd, const TabState& s, POINT p) {
  RECT client{};
  GetClientRect(hwnd, &client);
  if (p.y < client.top || p.y >= client.bottom) return -1;
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(GetParent(hwnd), WM_GETFONT, 0, 0));
  int x = 0;
  for (size_t i = 0; i < s.items.size(); ++i) {
    int w = ce::TextWidth(font, static_cast<int>(s.items[i].size())) + 2 * kTabPadding;
    if (p.x >= x && p.x < x + w) return static_cast<int>(i);
    x += w;
  }
  return -1;
}

LRESULT Notify(HWND hwnd, UINT code) {
  NMHDR hdr{hwnd, static_cast<UINT_PTR>(GetDlgCtrlID(hwnd)), code};
  return SendMessageW(GetParent(hwnd), WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
}

void ShowCurrent(HWND hwnd, const TabState& s) {
  // The window text is the selected tab's caption (what the screen shows).
  std::u16string text = s.cur >= 0 ? s.items[static_cast<size_t>(s.cur)] : std::u16string();
  DefWindowProcW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT TabProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TabState& s = Tabs()[hwnd];
  const int count = static_cast<int>(s.items.size());
  switch (msg) {
    case TCM_GETITEMCOUNT:
      return count;
    case TCM_GETCURSEL:
      return s.cur;
    case TCM_SETCURSEL: {
      int index = static_cast<int>(wParam);
      if (index < 0 || index >= count) return -1;
      int previous = s.cur;
      s.cur = index;
      ShowCurrent(hwnd, s);
      return previous;
    }
    case TCM_INSERTITEMW: {
      auto* item = reinterpret_cast<const TCITEMW*>(lParam);
      if (item == nullptr) return -1;
      int index = std::clamp(static_cast<int>(wParam), 0, count);
      s.items.insert(s.items.begin() + index,
                     (item->mask & TCIF_TEXT) != 0 && item->pszText != nullptr ? item->pszText : u"");
      if (s.cur >= index) ++s.cur;
      ShowCurrent(hwnd, s);
      return index;
    }
    case TCM_DELETEITEM: {
      int index = static_cast<int>(wParam);
      if (index < 0 || index >= count) return FALSE;
      s.items.erase(s.items.begin() + index);
      if (s.cur == index) {
        s.cur = -1;
      } else if (s.cur > index) {
        --s.cur;
      }
      ShowCurrent(hwnd, s);
      return TRUE;
    }
    case TCM_DELETEALLITEMS:
      s.items.clear();
      s.cur = -1;
      ShowCurrent(hwnd, s);
      return TRUE;
    case ui::kTcmGetItemText: {
      auto* out = reinterpret_cast<CString*>(lParam);
      int index = static_cast<int>(wParam);
      if (out == nullptr) return FALSE;
      *out = (index >= 0 && index < count) ? CString(s.items[static_cast<size_t>(index)]) : CString();
      return TRUE;
    }
    case ui::kTcmHitTest:
      return lParam != 0 ? TabAt(hwnd, s, *reinterpret_cast<const POINT*>(lParam)) : -1;
    case WM_LBUTTONDOWN: {
      POINT p{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};  // client coordinates
      int index = TabAt(hwnd, s, p);
      if (index < 0 || index == s.cur) return 0;
      if (Notify(hwnd, TCN_SELCHANGING) != 0) return 0;
      TabState& again = Tabs()[hwnd];  // the parent may have changed the items
      if (index >= static_cast<int>(again.items.size())) return 0;
      again.cur = index;
      ShowCurrent(hwnd, again);
      Notify(hwnd, TCN_SELCHANGE);
      return 0;
    }
    case WM_DESTROY:
      Tabs().erase(hwnd);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace

namespace ui {
bool RegisterTabControlClass() {
  // Class tables belong to the current device: register whenever asked.
  WNDCLASSW wc{};
  wc.lpfnWndProc = &TabProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = WC_TABCONTROLW;
  return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
}  // namespace ui
