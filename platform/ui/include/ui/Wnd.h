// CWnd: the class library's window object.
//
// A CWnd is attached to a window handle in one of two ways:
//   - permanent: Create/CreateEx, CDialog::DoModal/Create, SubclassWindow,
//     SubclassDlgItem, DDX_Control, Attach. The object receives the window's
//     messages through the virtual WindowProc, which routes them to the
//     virtual handlers below. Detached when the window is destroyed (after
//     OnDestroy), then PostNcDestroy runs.
//   - temporary: FromHandle of a window no CWnd is attached to makes a
//     wrapper that only forwards calls; it lives until idle clean-up finds
//     the window gone or a permanent object took the window over
//     (AfxDeleteTempObjects, run by CWinApp::OnIdle).
// The maps belong to the process and are used from its UI thread only.
//
// Handlers: a base handler that is not overridden passes the message on
// (Default(): the previous window procedure, or the dialog manager's
// default for dialogs). OnCommand/OnNotify return TRUE when they handled the
// message.
#pragma once

#include "ce/controls.h"
#include "ce/cstring.h"
#include "ce/dialog.h"  // before the class: its name macros apply to the members too
#include "ce/gdi.h"
#include "ce/msgbox.h"
#include "ce/window.h"
#include "ui/Gdi.h"

struct HELPINFO;
class CDataExchange;

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  // Destroys a window still attached permanently.
  virtual ~CWnd();

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }
  bool operator==(const CWnd& other) const { return m_hWnd == other.m_hWnd; }

  // The permanent object of the window, else a temporary wrapper; null for
  // a null handle.
  static CWnd* FromHandle(HWND hwnd);
  // The permanent object only (null otherwise).
  static CWnd* FromHandlePermanent(HWND hwnd);

  // Attach: binds without routing messages (FromHandle finds it). Detach
  // unbinds and returns the handle.
  BOOL Attach(HWND hwnd);
  HWND Detach();
  // Routes the window's messages through this object (the previous
  // procedure becomes Default()). FALSE when the window is bound already.
  BOOL SubclassWindow(HWND hwnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();

  // Registered class names (or a built-in class); className null uses the
  // class library's own window class. The object is attached before
  // WM_CREATE when its class is the library's own one.
  BOOL Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                      UINT id, LPVOID param = nullptr);
  BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                CWnd* parent, UINT id, LPVOID param = nullptr);
  virtual BOOL DestroyWindow();

  // ---- window state ----
  CWnd* GetDlgItem(int id) const;
  void GetDlgItem(int id, HWND* hwnd) const;
  int GetDlgCtrlID() const;
  CWnd* GetParent() const;
  CWnd* GetNextDlgTabItem(CWnd* control, BOOL previous = FALSE) const;
  void SetWindowText(LPCWSTR text);
  void GetWindowText(CString& text) const;
  int GetWindowText(LPWSTR text, int maxCount) const;
  int GetWindowTextLength() const;
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL ShowWindow(int command);
  BOOL IsWindowVisible() const;
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
  // insertAfter: a sibling or null (HWND_TOP); flags SWP_*.
  BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
  // GW_* relatives (temporary wrappers as FromHandle).
  CWnd* GetWindow(UINT command) const;
  BOOL IsChild(const CWnd* wnd) const;
  void MapWindowPoints(CWnd* to, LPPOINT points, UINT count) const;
  void MapWindowPoints(CWnd* to, LPRECT rect) const;
  void GetWindowRect(LPRECT rect) const;
  void GetClientRect(LPRECT rect) const;
  void ScreenToClient(LPPOINT point) const;
  void ScreenToClient(LPRECT rect) const;
  void ClientToScreen(LPPOINT point) const;
  void ClientToScreen(LPRECT rect) const;
  CWnd* SetFocus();
  static CWnd* GetFocus();
  static CWnd* GetActiveWindow();
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  // TRUE when the style changed.
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr);
  BOOL KillTimer(UINT_PTR id);
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
  void ValidateRect(LPCRECT rect);
  void UpdateWindow();
  BOOL SetForegroundWindow();
  void BringWindowToTop();
  // WM_SETFONT / WM_GETFONT; GetFont returns a temporary wrapper (null
  // without a font).
  void SetFont(CFont* font, BOOL redraw = TRUE);
  CFont* GetFont() const;

  // ---- dialog items ----
  LRESULT SendDlgItemMessage(int id, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  int GetDlgItemText(int id, CString& text) const;
  int GetDlgItemText(int id, LPWSTR text, int maxCount) const;
  void SetDlgItemText(int id, LPCWSTR text);
  // Decimal; *translated FALSE when the text is not a number (0 returned).
  UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const;
  void SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE);
  UINT IsDlgButtonChecked(int id) const;
  void CheckDlgButton(int id, UINT check);
  void CheckRadioButton(int firstId, int lastId, int checkId);
  // The checked radio button between the ids, 0 for none.
  int GetCheckedRadioButton(int firstId, int lastId) const;

  // ---- data exchange ----
  // saveAndValidate TRUE: controls -> members (FALSE when a DDV check
  // failed; the failing control has the focus). FALSE: members -> controls.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  virtual void DoDataExchange(CDataExchange* dx);

  // A box owned by this window; caption null: the application's name.
  int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK);

  // ---- message routing ----
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  // Called by the message loops (CWinApp::Run and the modal loops) for a
  // message of this window or a child before it is dispatched, innermost
  // window first; TRUE consumes it.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Calls PreTranslateMessage of the permanent objects from msg->hwnd up to
  // its top-level window; TRUE when one consumed the message.
  static BOOL WalkPreTranslateTree(MSG* msg);

 protected:
  // Passes the message being handled to the default processing.
  LRESULT Default();
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
  // A control's own notification, offered to the control's permanent
  // object before its parent's OnNotify (TRUE: handled, *result answers).
  virtual BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual void OnTimer(UINT_PTR id);
  virtual void OnSettingChange(UINT flags, LPCWSTR section);
  // Default: the previous procedure's painting, else BeginPaint/EndPaint
  // (validates).
  virtual void OnPaint();
  virtual HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
  virtual void OnSetFocus(CWnd* oldWnd);
  virtual void OnKillFocus(CWnd* newWnd);
  virtual void OnActivate(UINT state, CWnd* other, BOOL minimized);
  virtual BOOL OnHelpInfo(HELPINFO* info);
  virtual void OnDestroy();
  virtual int OnCreate(LPCREATESTRUCTW create);
  virtual void OnClose();
  virtual void OnSize(UINT type, int cx, int cy);
  // WM_INITDIALOG (CDialog answers with OnInitDialog).
  virtual LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
  // After the window is gone and the object detached (may delete this).
  virtual void PostNcDestroy();

  WNDPROC m_pfnSuper = nullptr;  // previous procedure of a subclassed window
  bool m_dlgRouted = false;      // messages arrive through the dialog procedure

 private:
  friend struct WndAccess;
  bool m_temporary = false;
};

// The class library's window procedure (windows of its own class and
// subclassed windows) and dialog procedure (lParam of WM_INITDIALOG: the
// CWnd; set by CDialog).
LRESULT AfxWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR AfxDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The class library's own window class name.
inline constexpr const WCHAR* kAfxWndClass = u"QuilmoAfxWnd";
