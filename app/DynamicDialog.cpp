#include "app/DynamicDialog.h"

#include "ce/process.h"
#include "ce/sip.h"
#include "ce/system.h"
#include "core/ProductSettings.h"
#include "core/ResBitmap.h"
#include "core/System.h"

namespace {

// The dialog item's window rectangle size; false when it is missing.
bool ItemSize(const CWnd& dialog, int id, int& width, int& height) {
  HWND item = ::GetDlgItem(dialog.m_hWnd, id);
  RECT r{};
  if (!item || !::GetWindowRect(item, &r)) return false;
  width = r.right - r.left;
  height = r.bottom - r.top;
  return true;
}

void MoveItem(const CWnd& dialog, int id, int x, int y, int width, int height) {
  if (HWND item = ::GetDlgItem(dialog.m_hWnd, id)) ::MoveWindow(item, x, y, width, height, TRUE);
}

}  // namespace

// ---------------------------------------------------------------- dialog

CDynamicDialog::CDynamicDialog(UINT templateId, CWnd* parent, LPCWSTR helpTopic, bool titleStyle,
                               bool dynamicLayout)
    : CDialog(templateId, parent),
      m_bTitleStyle(titleStyle),
      m_bDynamicLayout(dynamicLayout),
      m_csHelpTopic(helpTopic ? helpTopic : u"") {}

CDynamicDialog::~CDynamicDialog() {
  if (m_hBrush) ::DeleteObject(m_hBrush);
}

BOOL CDynamicDialog::OnInitDialog() {
  m_bLandscape = System::IsLandscape();
  SetWindowText(GetApplicationName());
  if (m_bTitleStyle) CreateTitleFont();
  if (m_bDynamicLayout) LayoutButtons();
  RelayoutDialog();
  return CDialog::OnInitDialog();
}

BOOL CDynamicDialog::RelayoutDialog() {
  if (m_bDynamicLayout) LayoutButtons();
  return TRUE;
}

void CDynamicDialog::CreateTitleFont() {
  const int scale = GetDisplayScale();
  LOGFONTW font{};
  font.lfHeight = (GetAllowSmallFonts() ? kSmallTitleHeight : kLargeTitleHeight) * scale;
  font.lfWeight = kTitleFontWeight;
  font.lfCharSet = DEFAULT_CHARSET;
  m_TitleFont.DeleteObject();
  if (!m_TitleFont.CreateFontIndirect(&font)) return;
  if (CWnd* title = GetDlgItem(kTitleControlId)) title->SetFont(&m_TitleFont);
}

void CDynamicDialog::LayoutButtons() {
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  RECT work{0, 0, screenWidth, screenHeight};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int above = work.top;
  const int below = screenHeight - work.bottom;
  MoveWindow(0, work.top, screenWidth, screenHeight - above - below);
  m_bLandscape = System::IsLandscape();

  int okWidth = 0, okHeight = 0;
  if (!ItemSize(*this, IDOK, okWidth, okHeight)) return;
  int width = okWidth;
  int thirdWidth = 0, thirdHeight = 0;
  const bool third = ItemSize(*this, kThirdButtonId, thirdWidth, thirdHeight);
  if (third && thirdWidth > width) width = thirdWidth;
  const int height = okHeight;

  CRect client;
  GetClientRect(&client);
  const int m = kButtonMargin;
  if (m_bLandscape) {
    const int x = client.Width() - width - m;
    int y = m;
    MoveItem(*this, IDOK, x, y, width, height);
    y += height + m;
    if (third) {
      MoveItem(*this, kThirdButtonId, x, y, width, height);
      y += height + m;
    }
    MoveItem(*this, IDCANCEL, x, y, width, height);
  } else {
    const int y = client.Height() - height - m;
    MoveItem(*this, IDOK, client.Width() - width - m, y, width, height);
    if (third) MoveItem(*this, kThirdButtonId, (client.Width() - width) / 2, y, width, height);
    MoveItem(*this, IDCANCEL, m, y, width, height);
  }
}

void CDynamicDialog::OnSettingChange(UINT flags, LPCWSTR section) {
  CDialog::OnSettingChange(flags, section);
  const bool landscape = System::IsLandscape();
  if (!System::IsSquareScreen()) {
    if (landscape != m_bLandscape) {
      RelayoutDialog();
      m_bLandscape = landscape;
      ModifyStyle(WS_VSCROLL, 0);
    }
    return;
  }
  if (m_bDynamicLayout) LayoutButtons();
  m_bLandscape = landscape;
  ModifyStyle(WS_VSCROLL, 0);
}

void CDynamicDialog::OnPaint() {
  CPaintDC dc(this);
  if (!m_bTitleStyle) return;
  const int y = kSeparatorY * GetDisplayScale();
  dc.MoveTo(0, y);
  dc.LineTo(::GetSystemMetrics(SM_CXSCREEN), y);
}

HBRUSH CDynamicDialog::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
  HBRUSH brush = CDialog::OnCtlColor(dc, wnd, ctlColor);
  if (m_bTitleStyle && dc && wnd && wnd->GetDlgCtrlID() == kTitleControlId) {
    dc->SetTextColor(kTitleColour);
  }
  return brush;
}

LRESULT CDynamicDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_HELP) ShowHelp();
  return CDialog::WindowProc(msg, wParam, lParam);
}

BOOL CDynamicDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if ((code == EN_SETFOCUS || code == EN_KILLFOCUS) && m_inputPanelEdits.count(id)) {
    if (code == EN_SETFOCUS) {
      OnInputPanelSetFocus(id);
    } else {
      OnInputPanelKillFocus(id);
    }
    return TRUE;
  }
  return CDialog::OnCommand(wParam, lParam);
}

void CDynamicDialog::OnInputPanelSetFocus(int) { ::SHSipPreference(m_hWnd, SIP_UP); }

void CDynamicDialog::OnInputPanelKillFocus(int) { ::SHSipPreference(m_hWnd, SIP_DOWN); }

CString CDynamicDialog::HelpArgument(const CString& topic) {
  CString folder = System::GetWindowsFolder();
  CString file = GetHelpFileName();
  // One backslash joins the two, whatever either brings along.
  while (!folder.IsEmpty() && folder[folder.GetLength() - 1] == u'\\') {
    folder = folder.Left(folder.GetLength() - 1);
  }
  while (!file.IsEmpty() && file[0] == u'\\') file = file.Mid(1);
  CString argument = folder + u"\\" + file + u"#";
  argument += topic.IsEmpty() ? CString(kDefaultHelpTopic) : topic;
  return argument;
}

BOOL CDynamicDialog::ShowHelp() {
  const CString argument = HelpArgument(m_csHelpTopic);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(kHelpViewer, argument, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        nullptr, &pi)) {
    return FALSE;
  }
  if (pi.hThread) ::CloseHandle(pi.hThread);
  if (pi.hProcess) ::CloseHandle(pi.hProcess);
  return TRUE;
}

void CDynamicDialog::FitTextHeight(CWnd* control, CRect& rect, bool wrap, bool icon) {
  if (!control || !control->m_hWnd) return;
  WCHAR buffer[kMaxMeasuredText + 1] = {};
  const int length = control->GetWindowText(buffer, kMaxMeasuredText + 1);
  CClientDC dc(control);
  CFont* font = control->GetFont();
  CFont* old = font ? dc.SelectObject(font) : nullptr;
  const CSize extent = dc.GetTextExtent(buffer, length);
  if (old) dc.SelectObject(old);

  const int iconWidth = icon ? 20 : 0;
  int height = extent.cy + 3;
  int width;
  if (wrap) {
    width = rect.Width() - iconWidth;
    if (extent.cx > width) height = 2 * height + 3;
  } else {
    width = extent.cx + 3;
  }
  rect.right = rect.left + width + iconWidth;
  rect.bottom = rect.top + height;
}

// ------------------------------------------------------------------ page

CDynamicPropertyPage::CDynamicPropertyPage(UINT templateId, UINT captionId)
    : CPropertyPage(templateId, captionId) {}

BOOL CDynamicPropertyPage::OnInitDialog() {
  m_bLandscape = System::IsLandscape();
  SetWindowText(GetApplicationName());
  OnOrientationChange();
  return CPropertyPage::OnInitDialog();
}

BOOL CDynamicPropertyPage::RelayoutPage() {
  ModifyStyle(WS_VSCROLL, 0);
  Invalidate(TRUE);
  return CDynamicPropertyPage::OnOrientationChange();
}

BOOL CDynamicPropertyPage::OnOrientationChange() { return TRUE; }

void CDynamicPropertyPage::OnSettingChange(UINT flags, LPCWSTR section) {
  CPropertyPage::OnSettingChange(flags, section);
  const bool landscape = System::IsLandscape();
  if (!System::IsSquareScreen() && landscape != m_bLandscape) {
    OnOrientationChange();
    ModifyStyle(WS_VSCROLL, 0);
  }
  m_bLandscape = landscape;
}

void DrawBitmapOverControl(CDC& dc, CWnd& owner, int controlId, const AResBitmap& bitmap) {
  CWnd* frame = owner.GetDlgItem(controlId);
  if (!frame || bitmap.IsEmpty()) return;
  CRect rect;
  frame->GetWindowRect(&rect);
  owner.ScreenToClient(&rect);
  DrawPackedDib(dc, rect.left, rect.top, rect.Width(), rect.Height(), bitmap.Dib().data(),
                static_cast<DWORD>(bitmap.Dib().size()));
}
