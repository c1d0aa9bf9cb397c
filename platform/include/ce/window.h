// Windows and window messages shared by every device process.
//
// The device keeps one window table in device.db: handle, owning process
// (host pid and kernel start time), class, title, parent, styles, control
// id and visibility. Every process sees every window; only the owning
// process runs a window's procedure, changes its procedure or destroys it.
// Window classes are registered per process (RegisterClassW).
//
// Messages: each process has one queue (device.db table window_messages)
// and a wake-up FIFO in DIR/msgq/, so a waiting GetMessageW sleeps in
// poll() and wakes as soon as another process posts. Windows and queued
// messages of processes that have ended are purged by whoever looks at
// them next (EnumWindows, FindWindowW, posting, IsWindow ...).
//
// Message parameters cross processes as plain integers: a pointer in
// wParam/lParam means nothing to another process (no marshalling, not even
// for WM_SETTEXT/WM_GETTEXT; GetWindowTextW reads another process's title
// from the table instead).
//
// Windows of this process also live in an in-process model (position,
// enabled state, focus, children in creation = tab order, control state).
// Top-level windows (no WS_CHILD) are in the device table as above; child
// windows (WS_CHILD: controls, child dialogs) exist only in their process:
// their handles are local (a separate range, never in device.db), other
// processes cannot see them, and every call below works on both kinds.
// Positions: a child's rectangle is in its parent's client coordinates, a
// top-level window's in screen coordinates; the client area of a window is
// the whole window (no non-client frame).
//
// All of this needs a device: without one the calls fail with
// ERROR_NOT_READY.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ce/system.h"  // RECT
#include "ce/types.h"

#ifndef ERROR_CANNOT_FIND_WND_CLASS
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#endif
#ifndef ERROR_CLASS_ALREADY_EXISTS
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#endif
#ifndef ERROR_CLASS_DOES_NOT_EXIST
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#endif
#ifndef ERROR_CLASS_HAS_WINDOWS
#define ERROR_CLASS_HAS_WINDOWS 1412L
#endif
#ifndef ERROR_TIMER_NOT_FOUND
#define ERROR_TIMER_NOT_FOUND 1402L
#endif
#ifndef ERROR_NOT_ENOUGH_QUOTA
#define ERROR_NOT_ENOUGH_QUOTA 1816L
#endif

struct HMENU__;
typedef HMENU__* HMENU;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
typedef WORD ATOM;

struct POINT {
  LONG x;
  LONG y;
};
typedef POINT* LPPOINT;

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);

// Class styles (kept with the class; every window redraws as a whole).
#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};
typedef WNDCLASSW WNDCLASS;

struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};
typedef CREATESTRUCTW* LPCREATESTRUCTW;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // GetTickCount when posted
  POINT pt;    // always 0, 0
};
typedef MSG* LPMSG;

// ---- messages ----
#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_MOVE 0x0003u
#define WM_SIZE 0x0005u
#define WM_ACTIVATE 0x0006u
#define WM_SETFOCUS 0x0007u
#define WM_KILLFOCUS 0x0008u
#define WM_ENABLE 0x000Au
#define WM_SETTEXT 0x000Cu
#define WM_GETTEXT 0x000Du
#define WM_GETTEXTLENGTH 0x000Eu
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_SHOWWINDOW 0x0018u
#define WM_SETTINGCHANGE 0x001Au
#define WM_NOTIFY 0x004Eu
// wParam ICON_SMALL or ICON_BIG, lParam the HICON; kept by DefWindowProcW
// only as far as answering 0.
#define WM_SETICON 0x0080u
#define ICON_SMALL 0
#define ICON_BIG 1
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_SYSKEYDOWN 0x0104u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_SYSCOMMAND 0x0112u
#define WM_TIMER 0x0113u
#define WM_HSCROLL 0x0114u
#define WM_VSCROLL 0x0115u
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u
#define WM_NEXTDLGCTL 0x0028u
#define WM_GETDLGCODE 0x0087u
#define WM_USER 0x0400u
#define WM_APP 0x8000u
// RegisterWindowMessageW hands out ids in this range.
#define WM_REGISTERED_FIRST 0xC000u
#define WM_REGISTERED_LAST 0xFFFFu

// ---- special handles ----
#define HWND_BROADCAST ((HWND)(uintptr_t)0xFFFF)
// PeekMessage/GetMessage filter: only messages posted with a null window.
#define HWND_THREAD_MESSAGES ((HWND)(intptr_t)-1)

// ---- styles ----
#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define CW_USEDEFAULT ((int)0x80000000)

// ---- ShowWindow ----
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWNA 8

// ---- SetWindowPos ----
#define HWND_TOP ((HWND)(intptr_t)0)
#define HWND_BOTTOM ((HWND)(intptr_t)1)
#define HWND_TOPMOST ((HWND)(intptr_t)-1)
#define HWND_NOTOPMOST ((HWND)(intptr_t)-2)
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOREDRAW 0x0008u
#define SWP_NOACTIVATE 0x0010u
#define SWP_FRAMECHANGED 0x0020u
#define SWP_SHOWWINDOW 0x0040u
#define SWP_HIDEWINDOW 0x0080u

// ---- GetWindow ----
#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5

// ---- WM_ACTIVATE ----
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2

// ---- PeekMessage ----
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u
#define PM_NOYIELD 0x0002u

// ---- window longs (own windows; GWL_STYLE and GWL_EXSTYLE of any) ----
#define GWL_WNDPROC (-4)
#define GWL_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define GWLP_WNDPROC GWL_WNDPROC
#define GWLP_ID GWL_ID
#define GWLP_USERDATA GWL_USERDATA

// ---- SendMessageTimeout ----
#define SMTO_NORMAL 0x0000u
#define SMTO_BLOCK 0x0001u
#define SMTO_ABORTIFHUNG 0x0002u

// ---- MsgWaitForMultipleObjects wake masks (every mask wakes on any message) ----
#define QS_KEY 0x0001u
#define QS_MOUSEMOVE 0x0002u
#define QS_MOUSEBUTTON 0x0004u
#define QS_POSTMESSAGE 0x0008u
#define QS_TIMER 0x0010u
#define QS_PAINT 0x0020u
#define QS_SENDMESSAGE 0x0040u
#define QS_ALLINPUT 0x00FFu
#define QS_ALLEVENTS 0x00BFu

// ---- classes ----
// Returns the class atom (0 on failure: ERROR_CLASS_ALREADY_EXISTS, or
// ERROR_INVALID_PARAMETER without a name or procedure). Class names ignore
// case; a class belongs to the registering process.
ATOM RegisterClassW(const WNDCLASSW* wc);
// ERROR_CLASS_DOES_NOT_EXIST, ERROR_CLASS_HAS_WINDOWS while windows use it.
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);

// ---- common controls ----
#define ICC_LISTVIEW_CLASSES 0x00000001u
#define ICC_TREEVIEW_CLASSES 0x00000002u
#define ICC_BAR_CLASSES 0x00000004u
#define ICC_TAB_CLASSES 0x00000008u
#define ICC_UPDOWN_CLASS 0x00000010u
#define ICC_PROGRESS_CLASS 0x00000020u
#define ICC_DATE_CLASSES 0x00000100u
struct INITCOMMONCONTROLSEX {
  DWORD dwSize;  // sizeof(INITCOMMONCONTROLSEX)
  DWORD dwICC;   // ICC_* classes wanted
};
typedef INITCOMMONCONTROLSEX* LPINITCOMMONCONTROLSEX;
// The built-in classes below are always registered: both calls only check
// their argument. InitCommonControlsEx fails with ERROR_INVALID_PARAMETER
// for a null record or a dwSize other than 8.
void InitCommonControls();
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc);

// ---- windows ----
// className: a registered class name or atom, or a built-in class
// ("STATIC", "BUTTON", "EDIT", "COMBOBOX", "LISTBOX", "msctls_progress32",
// "msctls_updown32", "#32770"). WM_CREATE is sent with a CREATESTRUCTW; a
// result of -1 destroys the window and fails the call. CW_USEDEFAULT
// counts as 0. A WS_CHILD window is local and needs an own parent; hMenu
// is its control id. A top-level window owned by a child window is owned
// by that child's top-level window. Errors: ERROR_CANNOT_FIND_WND_CLASS,
// ERROR_INVALID_WINDOW_HANDLE (bad parent), ERROR_NOT_READY (no device).
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
// Sends WM_DESTROY, destroys the child and owned windows, drops the
// window's timers and queued messages and removes it from the table. Only
// the owning process may destroy a window (else ERROR_ACCESS_DENIED).
// Destroying the last window does not quit the message loop.
BOOL DestroyWindow(HWND hwnd);
// A window of a live device process.
BOOL IsWindow(HWND hwnd);
// Fills *pid with the owner's process id and returns its thread id (the
// same number here); 0 with ERROR_INVALID_WINDOW_HANDLE for no window.
DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD pid);
// Calls proc for each top-level (not WS_CHILD) window of every live device
// process, newest first, until it returns FALSE (then FALSE is returned).
BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam);
// A top-level window whose class and title match, both ignoring case; a
// null argument matches any. Null with ERROR_FILE_NOT_FOUND when none
// matches.
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
// Own window: sends WM_GETTEXT (DefWindowProcW answers with the title).
// Another process's window: the title from the table. Returns the
// characters copied without the terminator (cut to maxCount - 1).
int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount);
int GetWindowTextLengthW(HWND hwnd);
// Own window: sends WM_SETTEXT; another process's window: stores the title.
BOOL SetWindowTextW(HWND hwnd, LPCWSTR text);
int GetClassNameW(HWND hwnd, LPWSTR name, int maxCount);
// The parent (or owner) window; null for none.
HWND GetParent(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
// SW_HIDE hides, every other command shows (and activates an own
// top-level window, except SW_SHOWNA/SW_MINIMIZE). Returns the previous
// visibility. IsWindowVisible of a child window needs WS_VISIBLE on it and
// every ancestor.
BOOL ShowWindow(HWND hwnd, int command);
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
// Returns the previous value (0 with the last error set on failure).
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
LONG GetWindowLongW(HWND hwnd, int index);
LONG SetWindowLongW(HWND hwnd, int index, LONG value);

// ---- messages ----
// Returns ids in 0xC000..0xFFFF: names ignore case; the same name gives the
// same id in every process of the device (0 with ERROR_INVALID_PARAMETER
// for a null or empty name, ERROR_NOT_ENOUGH_MEMORY when the range is
// used up).
UINT RegisterWindowMessageW(LPCWSTR name);
// Queues the message for the window's owner (any device process) and
// wakes it. HWND_BROADCAST: every top-level window; a null window: this
// process's queue as a thread message. ERROR_INVALID_WINDOW_HANDLE for
// no window, ERROR_NOT_ENOUGH_QUOTA when the owner has 10000 messages
// waiting.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Own window: calls the procedure at once. Another process's window: the
// message waits in the owner's queue until its GetMessageW/PeekMessageW
// (or SendMessageW wait) runs the procedure; meanwhile this process runs
// the messages sent to it. Waits without limit while the owner lives and
// the window exists (0 with ERROR_INVALID_WINDOW_HANDLE otherwise).
// HWND_BROADCAST sends to each top-level window in turn and returns 0.
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// As SendMessageW, giving up after `timeout` ms (0 with ERROR_TIMEOUT; a
// late answer is dropped). *result receives the procedure's result.
LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeout, ULONG_PTR* result);
void PostQuitMessage(int exitCode);
// Runs sent messages, then returns the oldest posted message that passes
// the filters (hwnd: null any, HWND_THREAD_MESSAGES only thread messages,
// else that window; min/max: a message range, 0/0 for all); then WM_QUIT
// after PostQuitMessage; then WM_PAINT for a window marked for painting;
// then the longest-overdue WM_TIMER. Mouse and key messages posted to an
// own top-level window are routed first: mouse messages (lParam = screen
// pixels) to the control under the point (lParam rewritten to its client
// coordinates), keys to the focus window inside it; input to a disabled
// window or control becomes WM_NULL. With nothing to return GetMessageW
// runs the idle handler (see SetIdleHandler), else blocks in poll().
// Returns 0 for WM_QUIT, -1 for a bad filter window, else 1.
BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
// The same without blocking; PM_NOREMOVE leaves the message queued.
BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
// WM_KEYDOWN of a digit, letter (lower case), space, return, backspace or
// escape key posts the matching WM_CHAR; TRUE then, else FALSE.
BOOL TranslateMessage(const MSG* msg);
// Calls the window's procedure (own windows only), or the TIMERPROC of a
// WM_TIMER created by SetTimer with one. Returns the procedure's result.
LRESULT DispatchMessageW(const MSG* msg);
// WM_CLOSE destroys the window; WM_SETTEXT, WM_GETTEXT and
// WM_GETTEXTLENGTH work on the stored title; WM_SETFONT/WM_GETFONT keep a
// font per window; WM_PAINT validates; everything else gives 0.
// A top-level window receiving WM_SETTINGCHANGE (posted, sent or
// dispatched) has the device profile read again first; its child dialogs
// then get the message too.
LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- timers (WM_TIMER on the device clock) ----
// With a window: (re)sets timer `id` of that window and returns id. With a
// null window: a new timer id. At most one WM_TIMER per timer is pending;
// GetMessageW/PeekMessageW make it when due. elapse 0 counts as 1 ms.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Waits for one of the handles (see ce/process.h) or a message for this
// process: WAIT_OBJECT_0 + i, WAIT_OBJECT_0 + count for a message,
// WAIT_TIMEOUT. waitAll must be FALSE (as on the device). A message
// already queued returns at once.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                DWORD wakeMask);

// ---- the window model (own windows of both kinds) ----
// WS_DISABLED windows get no mouse or keyboard input and are skipped by
// dialog navigation. Returns whether the window WAS disabled; sends
// WM_ENABLE; disabling the focus window (or its ancestor) drops the focus.
BOOL EnableWindow(HWND hwnd, BOOL enable);
// Enabled itself (an own window; another process's top-level window: its
// WS_DISABLED bit).
BOOL IsWindowEnabled(HWND hwnd);
// x, y: parent client coordinates for a child, screen for a top-level
// window. Sends WM_MOVE/WM_SIZE when they change.
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
// insertAfter: HWND_TOP/HWND_BOTTOM/HWND_TOPMOST/HWND_NOTOPMOST or a sibling
// (ignored with SWP_NOZORDER); SWP_SHOWWINDOW/SWP_HIDEWINDOW show or hide.
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int width, int height, UINT flags);
// Screen coordinates.
BOOL GetWindowRect(HWND hwnd, LPRECT rect);
// 0, 0, width, height.
BOOL GetClientRect(HWND hwnd, LPRECT rect);
BOOL ScreenToClient(HWND hwnd, LPPOINT point);
BOOL ClientToScreen(HWND hwnd, LPPOINT point);
// Maps points from one window's client coordinates to another's (null:
// the screen). Returns MAKELONG(dx, dy) of the shift.
int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count);
// A child window (any depth) of parent.
BOOL IsChild(HWND parent, HWND hwnd);
// Sends WM_KILLFOCUS (wParam = new focus) to the old focus window and
// WM_SETFOCUS (wParam = old) to the new; controls tell their parent
// (EN_SETFOCUS/EN_KILLFOCUS, CBN_SETFOCUS/CBN_KILLFOCUS, LBN_*, BN_* with
// BS_NOTIFY). Returns the previous focus window; null (and the focus
// unchanged) for a window that is not an own window. Null drops the focus.
HWND SetFocus(HWND hwnd);
HWND GetFocus();
// This process's active top-level window: the last one activated by
// SetForegroundWindow/SetActiveWindow/showing it, or else the topmost
// visible enabled own top-level window.
HWND GetActiveWindow();
HWND SetActiveWindow(HWND hwnd);
HWND GetForegroundWindow();
// Both raise the window to the top of this process's windows and activate
// it (WM_ACTIVATE WA_INACTIVE to the previous, WA_ACTIVE to it).
BOOL SetForegroundWindow(HWND hwnd);
BOOL BringWindowToTop(HWND hwnd);
// GW_CHILD: the first child (creation order); GW_HWNDNEXT/GW_HWNDPREV:
// siblings; GW_HWNDFIRST/GW_HWNDLAST: first/last sibling; GW_OWNER: the
// owner of a top-level window. Null with ERROR_INVALID_WINDOW_HANDLE for a
// bad window, without error when there is none.
HWND GetWindow(HWND hwnd, UINT command);
// Every descendant of parent (depth first, creation order) until proc
// returns FALSE.
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);
// A child's control id (GWL_ID); 0 with ERROR_INVALID_WINDOW_HANDLE.
int GetDlgCtrlID(HWND hwnd);
// The direct child with that control id; null with
// ERROR_CONTROL_ID_NOT_FOUND.
HWND GetDlgItem(HWND dialog, int id);
// Marks the window for repainting: WM_PAINT comes when the queue has no
// posted message left (before timers). UpdateWindow sends a pending
// WM_PAINT at once. A window whose procedure answers WM_PAINT without
// BeginPaint/ValidateRect is validated by DefWindowProcW.
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
BOOL UpdateWindow(HWND hwnd);
// The topmost visible enabled own window (child windows included, the
// deepest one) under the screen point; null for none.
HWND WindowFromPoint(POINT point);
HWND ChildWindowFromPoint(HWND parent, POINT clientPoint);

// ---- rectangles ----
BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom);
BOOL SetRectEmpty(LPRECT rect);
BOOL CopyRect(LPRECT to, const RECT* from);
BOOL OffsetRect(LPRECT rect, int dx, int dy);
BOOL InflateRect(LPRECT rect, int dx, int dy);
BOOL IsRectEmpty(const RECT* rect);
BOOL PtInRect(const RECT* rect, POINT point);
BOOL EqualRect(const RECT* a, const RECT* b);
BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b);
BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b);

#ifndef ERROR_CONTROL_ID_NOT_FOUND
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#endif

#define RegisterClass RegisterClassW
#define UnregisterClass UnregisterClassW
#define CreateWindowEx CreateWindowExW
#define FindWindow FindWindowW
#define GetWindowText GetWindowTextW
#define GetWindowTextLength GetWindowTextLengthW
#define SetWindowText SetWindowTextW
#define GetClassName GetClassNameW
#define GetWindowLong GetWindowLongW
#define SetWindowLong SetWindowLongW
#define GetWindowLongPtr GetWindowLongPtrW
#define SetWindowLongPtr SetWindowLongPtrW
#define RegisterWindowMessage RegisterWindowMessageW
#define PostMessage PostMessageW
#define SendMessage SendMessageW
#define SendMessageTimeout SendMessageTimeoutW
#define GetMessage GetMessageW
#define PeekMessage PeekMessageW
#define DispatchMessage DispatchMessageW
#define DefWindowProc DefWindowProcW
#define CallWindowProc CallWindowProcW

// ---- cursors ----
// The system cursors (LoadCursorW with a null instance). The device shows
// no pointer; the cursor set is kept per process for the screen to show
// (the wait cursor as an hourglass).
#define IDC_ARROW MAKEINTRESOURCE(32512)
#define IDC_IBEAM MAKEINTRESOURCE(32513)
#define IDC_WAIT MAKEINTRESOURCE(32514)
#define IDC_CROSS MAKEINTRESOURCE(32515)
#define IDC_HAND MAKEINTRESOURCE(32649)
// A system cursor (never destroyed); null with ERROR_RESOURCE_NAME_NOT_FOUND
// for another id, a named cursor or a module's cursor (none are kept).
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
// Sets this process's cursor (null: none) and returns the previous one.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
#define LoadCursor LoadCursorW

namespace ce {

// The cursor's name: "arrow", "ibeam", "wait", "cross", "hand", "" for none
// or an unknown handle.
const char* CursorName(HCURSOR cursor);

// What a waiting GetMessageW does when nothing is queued and no timer is
// due: the window layer installs its idle behaviour here (ui/Loop.h).
enum class IdleResult {
  kProgress,  // something happened: look at the queue again
  kWait,      // nothing to do: sleep until input or the next timer
  kQuit,      // give up: GetMessageW returns WM_QUIT
};
using IdleHandler = std::function<IdleResult()>;
void SetIdleHandler(IdleHandler handler);
// Runs the installed handler (kWait when none).
IdleResult RunIdleHandler();
// Device-clock time (ce::DeviceNowMs) when this process's next timer is
// due; false when it has none.
bool NextTimerDue(int64_t* dueMs);

}  // namespace ce
