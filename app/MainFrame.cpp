#include "app/MainFrame.h"

#include "ce/errors.h"
#include "ce/gdi.h"
#include "core/Log.h"

namespace {
constexpr const WCHAR* kClass = u"CMainFrame";
}  // namespace

bool CChildView::RegisterViewClass() {
  static bool registered = false;  // classes are registered per process
  if (registered) return true;
  WNDCLASSW wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = kClassName;
  registered = ::RegisterClassW(&wc) != 0;
  return registered;
}

BOOL CChildView::HandleCommand(WPARAM, LPARAM) { return FALSE; }

BOOL CChildView::CreateView(CWnd* frame) {
  if (!RegisterViewClass()) return FALSE;
  CRect client;
  frame->GetClientRect(&client);
  return CreateEx(0, kClassName, u"", WS_CHILD | WS_VISIBLE, client, frame, kPaneId);
}

void CChildView::OnPaint() {
  CPaintDC dc(this);  // nothing to draw: the sheet covers the frame
}

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() = default;

int CMainFrame::OnCreate(LPCREATESTRUCTW create) {
  if (CFrameWnd::OnCreate(create) == -1) return -1;
  if (!m_wndView.CreateView(this)) {
    LogError(GetLastError(), u"Failed to create view window", kClass, __LINE__);
    return -1;
  }
  return 0;
}

void CMainFrame::OnSetFocus(CWnd*) {
  if (m_wndView.m_hWnd) m_wndView.SetFocus();
}

void CMainFrame::OnSize(UINT type, int cx, int cy) {
  CFrameWnd::OnSize(type, cx, cy);
  if (m_wndView.m_hWnd) m_wndView.MoveWindow(0, 0, cx, cy);
}

BOOL CMainFrame::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (m_wndView.m_hWnd && m_wndView.HandleCommand(wParam, lParam)) return TRUE;
  return CFrameWnd::OnCommand(wParam, lParam);
}
