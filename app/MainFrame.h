// The main program's frame window: a top-level window titled with the
// application name, the main window of the application object and the
// owner of the main property sheet. Its client, CChildView, fills it and
// paints nothing; the frame hands it the focus and offers it commands
// first.
#pragma once

#include "ui/Mfc.h"

class CChildView : public CWnd {
 public:
  static constexpr const WCHAR* kClassName = u"QuilmoChildView";
  static constexpr UINT kPaneId = 0xE900;  // the frame's first pane

  // Registers the view's window class once: redrawn on horizontal and
  // vertical resizes, the window colour as background.
  static bool RegisterViewClass();
  // A visible child of the frame filling its client area.
  BOOL CreateView(CWnd* frame);
  // Commands offered to the view before the frame: it handles none.
  BOOL HandleCommand(WPARAM wParam, LPARAM lParam);

 protected:
  void OnPaint() override;
};

class CMainFrame : public CFrameWnd {
 public:
  CMainFrame();
  ~CMainFrame() override;

  CChildView m_wndView;

 protected:
  int OnCreate(LPCREATESTRUCTW create) override;
  void OnSetFocus(CWnd* oldWnd) override;
  void OnSize(UINT type, int cx, int cy) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
};
