// CHyperLink (app/HyperLink.h).
#include "app/HyperLink.h"

#include <algorithm>

#include "ce/errors.h"
#include "ce/shell.h"
#include "ce/sound.h"
#include "ce/system.h"
#include "core/Localizer.h"
#include "core/Log.h"

namespace {
constexpr const WCHAR* kClass = u"CHyperLink";
constexpr int kPlatformTypeChars = 128;
}  // namespace

BOOL CHyperLink::Attach(UINT id, CWnd* parent) {
  if (!parent || !SubclassDlgItem(id, parent)) return FALSE;
  ModifyStyle(0, SS_NOTIFY);
  CString text;
  GetWindowText(text);
  if (m_csURL.IsEmpty()) m_csURL = text;
  if (text.IsEmpty()) SetWindowText(m_csURL);
  MakeFonts();
  PositionWindow();
  const int mode = m_nUnderline;
  m_nUnderline = mode == kUnderlineAlways ? kUnderlineNever : kUnderlineAlways;  // so that SetUnderline applies
  SetUnderline(mode);
  return TRUE;
}

void CHyperLink::MakeFonts() {
  HFONT base = nullptr;
  if (CFont* own = GetFont()) base = static_cast<HFONT>(own->m_hObject);
  if (!base) base = static_cast<HFONT>(::GetStockObject(SYSTEM_FONT));
  LOGFONTW lf{};
  if (!base || CFont::FromHandle(base)->GetLogFont(&lf) == 0) {
    Log(GetLastError(), u"The link's font could not be read", kClass, __LINE__);
    return;
  }
  m_NormalFont.DeleteObject();
  m_UnderlineFont.DeleteObject();
  lf.lfUnderline = FALSE;
  m_NormalFont.CreateFontIndirect(&lf);
  lf.lfUnderline = TRUE;
  m_UnderlineFont.CreateFontIndirect(&lf);
}

void CHyperLink::UseFont(bool underlined) {
  CFont& font = underlined ? m_UnderlineFont : m_NormalFont;
  if (!font.m_hObject) return;
  SetFont(&font, FALSE);
  m_bUnderlinedInUse = underlined;
}

void CHyperLink::PositionWindow() {
  if (!m_hWnd) return;
  CWnd* parent = GetParent();
  CRect rect;
  GetWindowRect(&rect);
  if (parent) parent->ScreenToClient(&rect);
  CString text;
  GetWindowText(text);
  CSize extent;
  {
    CClientDC dc(this);
    CFont* old = dc.SelectObject(m_NormalFont.m_hObject ? &m_NormalFont : GetFont());
    extent = dc.GetTextExtent(text);
    if (old) dc.SelectObject(old);
  }
  const LONG width = std::min<LONG>(extent.cx, rect.Width());
  const LONG height = std::min<LONG>(extent.cy, rect.Height());
  const DWORD style = GetStyle();
  if (style & SS_CENTERIMAGE) rect.top += (rect.Height() - height) / 2;
  switch (style & 0x3u) {
    case SS_CENTER: rect.left += (rect.Width() - width) / 2; break;
    case SS_RIGHT: rect.left = rect.right - width; break;
    default: break;
  }
  rect.right = rect.left + width;
  rect.bottom = rect.top + height;
  MoveWindow(&rect, TRUE);
}

void CHyperLink::SetURL(const CString& url) {
  m_csURL = url;
  if (m_hWnd) PositionWindow();
}

void CHyperLink::SetUnderline(int mode) {
  if (mode != m_nUnderline && m_hWnd) {
    UseFont(mode == kUnderlineAlways);
    Invalidate();
  }
  m_nUnderline = mode;
}

void CHyperLink::SetVisited(bool visited) {
  m_bVisited = visited;
  if (m_hWnd) Invalidate();
}

COLORREF CHyperLink::TextColour() const {
  if (m_bOverControl) return m_crHoverColour;
  return m_bVisited ? m_crVisitedColour : m_crLinkColour;
}

void CHyperLink::OnPointerMove(POINT client) {
  m_LastPointer = client;
  if (m_bOverControl) return;
  m_bOverControl = true;
  if (m_nUnderline == kUnderlineHover) UseFont(true);
  Invalidate();
  SetTimer(m_nTimerID, kHoverMs);
}

void CHyperLink::OnHoverTimer() {
  CRect client;
  GetClientRect(&client);
  if (client.PtInRect(m_LastPointer)) return;
  m_bOverControl = false;
  KillTimer(m_nTimerID);
  if (m_nUnderline != kUnderlineAlways) UseFont(false);
  Invalidate();
}

BOOL CHyperLink::GotoURL(const CString& url, int showCommand) {
  WCHAR platform[kPlatformTypeChars] = {};
  if (::SystemParametersInfoW(SPI_GETPLATFORMTYPE, kPlatformTypeChars, platform, 0) &&
      CString(platform) != kPocketPC)
    return TRUE;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpVerb = u"open";
  info.lpFile = url;
  info.nShow = showCommand;
  return ::ShellExecuteEx(&info);
}

BOOL CHyperLink::OnClicked() {
  m_bOverControl = false;
  if (GotoURL(m_csURL, SW_SHOW)) {
    SetVisited(true);
    return TRUE;
  }
  ::MessageBeep(MB_ICONEXCLAMATION);
  CString text(kOpenFailedText);
  text += kOutOfResourcesText;
  Localizer::TextMessageBox(text, MB_ICONEXCLAMATION | MB_OK);
  return FALSE;
}

LRESULT CHyperLink::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_MOUSEMOVE:
      OnPointerMove(POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))});
      break;
    case WM_LBUTTONUP:
      // A pen lifted from the screen leaves no pointer behind.
      m_LastPointer = POINT{-1, -1};
      break;
    case WM_TIMER:
      if (wParam == m_nTimerID) {
        OnHoverTimer();
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (m_hLinkCursor) {
        ::SetCursor(m_hLinkCursor);
        return TRUE;
      }
      break;
    case WM_ERASEBKGND: {
      CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(wParam));
      CRect client;
      GetClientRect(&client);
      if (dc) dc->FillSolidRect(&client, dc->GetBkColor());
      return TRUE;
    }
    default:
      break;
  }
  return CStatic::WindowProc(msg, wParam, lParam);
}

BOOL CHyperLink::OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg == WM_CTLCOLORSTATIC) {
    CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(wParam));
    if (dc) {
      dc->SetTextColor(TextColour());
      dc->SetBkMode(TRANSPARENT);
    }
    if (result) *result = reinterpret_cast<LRESULT>(::GetStockObject(HOLLOW_BRUSH));
    return TRUE;
  }
  if (msg == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
    OnClicked();
    if (result) *result = 0;
    return TRUE;
  }
  return CStatic::OnChildNotify(msg, wParam, lParam, result);
}
