// The main frame: its client view fills it, paints nothing and takes the
// focus the frame is given.
#include "app/MainFrame.h"
#include "ce/window.h"
#include "dlg_fixture.h"

namespace {

class MainFrameTest : public dlgtest::DialogTest {};

TEST_F(MainFrameTest, TheViewFillsTheFrameAndTakesItsFocus) {
  auto* frame = new CMainFrame;  // deletes itself with its window
  ASSERT_TRUE(frame->LoadFrame(128, WS_OVERLAPPEDWINDOW));
  HWND view = ::GetDlgItem(frame->m_hWnd, CChildView::kPaneId);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view, frame->m_wndView.m_hWnd);
  WCHAR cls[64] = {};
  ASSERT_GT(GetClassNameW(view, cls, 64), 0);
  EXPECT_EQ(std::u16string(cls), std::u16string(CChildView::kClassName));
  EXPECT_TRUE(::IsWindowVisible(view) || !(GetWindowLongW(frame->m_hWnd, GWL_STYLE) & WS_VISIBLE));
  CRect client, viewRect;
  frame->GetClientRect(&client);
  frame->m_wndView.GetClientRect(&viewRect);
  EXPECT_EQ(viewRect.Width(), client.Width());
  EXPECT_EQ(viewRect.Height(), client.Height());
  frame->SetFocus();
  EXPECT_EQ(::GetFocus(), view);
  // A second frame shares the view's class.
  auto* second = new CMainFrame;
  EXPECT_TRUE(second->LoadFrame(128, WS_OVERLAPPEDWINDOW));
  EXPECT_NE(::GetDlgItem(second->m_hWnd, CChildView::kPaneId), nullptr);
  second->DestroyWindow();
  frame->DestroyWindow();
}

}  // namespace
