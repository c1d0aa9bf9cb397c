// Dialog data exchange (ui/DataExchange.h).
#include <cwchar>
#include <limits>

#include "ce/wstring.h"
#include "mfc_internal.h"

namespace {

// Whole-text decimal parse: optional blanks, an optional sign (minus only
// when allowed), digits, optional blanks; no overflow.
bool ParseDecimal(const CString& text, bool allowMinus, long long minValue, long long maxValue, long long* out) {
  std::u16string_view s = text.view();
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) {
    negative = s[i] == u'-';
    if (negative && !allowMinus) return false;
    ++i;
  }
  size_t digits = 0;
  long long value = 0;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
    value = value * 10 + (s[i] - u'0');
    if (value > maxValue + 1) return false;
    ++i, ++digits;
  }
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  if (digits == 0 || i != s.size()) return false;
  if (negative) value = -value;
  if (value < minValue || value > maxValue) return false;
  *out = value;
  return true;
}

void FailWith(CDataExchange* dx, LPCWSTR text) {
  AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
  dx->Fail();
}

CString Text(HWND h) {
  CString text;
  int len = GetWindowTextLengthW(h);
  LPWSTR buf = text.GetBuffer(len);
  text.ReleaseBuffer(GetWindowTextW(h, buf, len + 1));
  return text;
}

bool IsClass(HWND h, const char16_t* cls) {
  WCHAR name[64] = {};
  GetClassNameW(h, name, 64);
  return _wcsicmp(name, cls) == 0;
}

}  // namespace

HWND CDataExchange::PrepareCtrl(int id) {
  HWND h = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
  if (h == nullptr) throw CUserException();
  m_hWndLastControl = h;
  m_bEditLastControl = false;
  return h;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
  HWND h = PrepareCtrl(id);
  m_bEditLastControl = true;
  return h;
}

void CDataExchange::Fail() {
  if (m_bSaveAndValidate && m_hWndLastControl != nullptr && IsWindow(m_hWndLastControl)) {
    ::SetFocus(m_hWndLastControl);
    if (m_bEditLastControl) ::SendMessageW(m_hWndLastControl, EM_SETSEL, 0, -1);
  }
  throw CUserException();
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  HWND h = dx->PrepareEditCtrl(id);
  if (dx->m_bSaveAndValidate) {
    value = Text(h);
  } else {
    SetWindowTextW(h, value);
  }
}

void DDX_Text(CDataExchange* dx, int id, int& value) {
  HWND h = dx->PrepareEditCtrl(id);
  if (dx->m_bSaveAndValidate) {
    long long v = 0;
    if (!ParseDecimal(Text(h), true, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), &v)) {
      FailWith(dx, u"Please enter an integer.");
    }
    value = static_cast<int>(v);
  } else {
    CString text;
    text.Format(u"%d", value);
    SetWindowTextW(h, text);
  }
}

void DDX_Text(CDataExchange* dx, int id, UINT& value) {
  HWND h = dx->PrepareEditCtrl(id);
  if (dx->m_bSaveAndValidate) {
    long long v = 0;
    if (!ParseDecimal(Text(h), false, 0, std::numeric_limits<UINT>::max(), &v)) {
      FailWith(dx, u"Please enter a positive integer.");
    }
    value = static_cast<UINT>(v);
  } else {
    CString text;
    text.Format(u"%u", value);
    SetWindowTextW(h, text);
  }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
  HWND h = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    value = static_cast<int>(SendMessageW(h, BM_GETCHECK, 0, 0));
  } else {
    SendMessageW(h, BM_SETCHECK, static_cast<WPARAM>(value), 0);
  }
}

void DDX_Radio(CDataExchange* dx, int firstId, int& value) {
  HWND first = dx->PrepareCtrl(firstId);
  if (dx->m_bSaveAndValidate) value = -1;
  int index = 0;
  for (HWND h = first; h != nullptr; h = GetWindow(h, GW_HWNDNEXT), ++index) {
    DWORD style = static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE));
    if (h != first && (style & WS_GROUP) != 0) break;
    if (!IsClass(h, u"BUTTON")) continue;
    DWORD type = style & BS_TYPEMASK;
    if (type != BS_RADIOBUTTON && type != BS_AUTORADIOBUTTON) continue;
    if (dx->m_bSaveAndValidate) {
      if (SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
    } else {
      SendMessageW(h, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }
}

void DDX_CBIndex(CDataExchange* dx, int id, int& index) {
  HWND h = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    index = static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0));
  } else {
    SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

void DDX_CBString(CDataExchange* dx, int id, CString& value) {
  HWND h = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    int sel = static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0));
    DWORD type = static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE)) & 0x3u;
    if (sel >= 0 && type == CBS_DROPDOWNLIST) {
      int len = static_cast<int>(SendMessageW(h, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0));
      LPWSTR buf = value.GetBuffer(len < 0 ? 0 : len);
      int got = static_cast<int>(SendMessageW(h, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(buf)));
      value.ReleaseBuffer(got < 0 ? 0 : got);
    } else {
      value = Text(h);
    }
  } else {
    LRESULT found = SendMessageW(h, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(value.GetString()));
    if (found >= 0) {
      SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
    } else {
      SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      SetWindowTextW(h, value);
    }
  }
}

void DDX_LBIndex(CDataExchange* dx, int id, int& index) {
  HWND h = dx->PrepareCtrl(id);
  if (dx->m_bSaveAndValidate) {
    index = static_cast<int>(SendMessageW(h, LB_GETCURSEL, 0, 0));
  } else {
    SendMessageW(h, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (control.m_hWnd != nullptr) return;
  HWND h = dx->PrepareCtrl(id);
  if (!control.SubclassWindow(h)) throw CUserException();
}

void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars) {
  if (dx->m_bSaveAndValidate) {
    if (value.GetLength() > maxChars) {
      CString text;
      text.Format(u"Enter no more than %d characters.", maxChars);
      FailWith(dx, text);
    }
  } else if (dx->m_hWndLastControl != nullptr) {
    bool combo = IsClass(dx->m_hWndLastControl, u"COMBOBOX");
    SendMessageW(dx->m_hWndLastControl, combo ? CB_LIMITTEXT : EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
  }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue) {
  if (dx->m_bSaveAndValidate && (value < minValue || value > maxValue)) {
    CString text;
    text.Format(u"Enter an integer between %d and %d.", minValue, maxValue);
    FailWith(dx, text);
  }
}

void DDV_MinMaxUInt(CDataExchange* dx, UINT value, UINT minValue, UINT maxValue) {
  if (dx->m_bSaveAndValidate && (value < minValue || value > maxValue)) {
    CString text;
    text.Format(u"Enter an integer between %u and %u.", minValue, maxValue);
    FailWith(dx, text);
  }
}
