// The dialog manager: dialogs made from templates (ce/dlgtemplate.h) kept
// in a module's resources (type RT_TEMPLATE = ce::res::kTypeTemplate),
// their keyboard interface and the dialog-item helpers.
//
// A dialog is a window of class "#32770" (DefDlgProcW) with one child
// control per template entry, created in template order (= tab order).
// A top-level dialog is in the device table (FindWindowW sees it); a
// dialog with WS_CHILD in its style (property pages) is local.
// Template coordinates are multiplied by GetDisplayScale(); a top-level
// dialog is placed at the left of the work area (below the top bar).
//
// The modal calls (DialogBox*, message boxes shown as windows) and the
// idle behaviour of their loops live in the window layer library
// (quilmo_ui, see ui/Loop.h); link it to use them.
#pragma once

#include "ce/controls.h"
#include "ce/dlgtemplate.h"
#include "ce/msgbox.h"  // IDOK, IDCANCEL ...
#include "ce/types.h"
#include "ce/window.h"

typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#ifndef MAKEINTRESOURCEW
#define MAKEINTRESOURCEW(i) ((LPCWSTR)(uintptr_t)((WORD)(i)))
#endif

// Dialog window longs (besides GWL_*).
#define DWL_MSGRESULT 0
#define DWL_DLGPROC 4
#define DWL_USER 8
#define DWLP_MSGRESULT DWL_MSGRESULT
#define DWLP_DLGPROC DWL_DLGPROC
#define DWLP_USER DWL_USER

// Message-filter hooks: every modal loop of the window layer hands each
// message to CallMsgFilterW(&msg, MSGF_DIALOGBOX) before the dialog
// manager sees it; a hook answering nonzero consumes the message.
#define WH_MSGFILTER (-1)
#define MSGF_DIALOGBOX 0
#define MSGF_MESSAGEBOX 1
struct HHOOK__;
typedef HHOOK__* HHOOK;
typedef LRESULT (*HOOKPROC)(int code, WPARAM wParam, LPARAM lParam);
// Only WH_MSGFILTER (else null with ERROR_INVALID_PARAMETER); hooks are
// per process.
HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId);
BOOL UnhookWindowsHookEx(HHOOK hook);
// Calls the hooks newest first with (code, 0, (LPARAM)msg); TRUE as soon as
// one answers nonzero.
BOOL CallMsgFilterW(LPMSG msg, int code);

// ---- creating dialogs (templateName: MAKEINTRESOURCEW(id) or "#id") ----
// Modeless: creates the dialog, sends WM_INITDIALOG (wParam
// = the control to get the focus, lParam = param); when the procedure
// answers TRUE the focus goes to that control (the first tab stop), an edit
// getting it has its text selected. Shown when the template has WS_VISIBLE.
// Null with the last error of FindResourceW, ERROR_INVALID_DATA for a
// template that does not parse, ERROR_CANNOT_FIND_WND_CLASS for an unknown
// control class.
HWND CreateDialogParamW(HINSTANCE module, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM param);
HWND CreateDialogIndirectParamW(HINSTANCE module, const ce::DialogTemplate* dialog, HWND parent, DLGPROC proc,
                                LPARAM param);
// Modal: creates the dialog, shows it, disables the parent (its top-level
// window) and runs a modal loop until EndDialog; then enables the parent,
// destroys the dialog and returns EndDialog's result. -1 when the dialog
// could not be made. A WM_QUIT arriving ends the loop (returns 0, IDCANCEL
// ... whatever was set) and is posted again for the outer loop. In the
// headless modes a loop that can make no progress ends with IDCANCEL.
// (quilmo_ui)
INT_PTR DialogBoxParamW(HINSTANCE module, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxIndirectParamW(HINSTANCE module, const ce::DialogTemplate* dialog, HWND parent, DLGPROC proc,
                                LPARAM param);
// Ends the modal loop running for the dialog with that result (the loop
// ends once the current message is handled); a modeless dialog is only
// hidden. FALSE with ERROR_INVALID_WINDOW_HANDLE for no window.
BOOL EndDialog(HWND dialog, INT_PTR result);

// The dialog class's procedure: calls the DLGPROC first; when it answers
// FALSE the default handling runs (WM_CLOSE -> WM_COMMAND IDCANCEL,
// DM_GETDEFID/DM_SETDEFID, WM_NEXTDLGCTL, the text calls). For
// WM_INITDIALOG, WM_CTLCOLOR* and the like the DLGPROC's answer is the
// result; else TRUE means "handled, the result is DWL_MSGRESULT".
LRESULT DefDlgProcW(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// The keyboard interface for a message meant for the dialog or one of its
// controls: VK_TAB moves to the next (Shift: previous) tab stop, VK_RETURN
// presses the default button (DM_GETDEFID, else IDOK) unless the focus is
// a push button (then that one), VK_ESCAPE sends WM_COMMAND IDCANCEL,
// arrow keys move between radio buttons of a group. The characters '\r',
// '\t' and 0x1B are swallowed. Returns TRUE when it handled (or
// dispatched) the message.
BOOL IsDialogMessageW(HWND dialog, LPMSG msg);
// The next (or previous) enabled visible WS_TABSTOP control after ctrl
// (null: from the start), wrapping around; ctrl itself when it is the only
// one.
HWND GetNextDlgTabItem(HWND dialog, HWND ctrl, BOOL previous);
HWND GetNextDlgGroupItem(HWND dialog, HWND ctrl, BOOL previous);

// ---- dialog items ----
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int maxCount);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
// *translated (may be null) tells whether the text was a number (leading
// and trailing blanks allowed; a sign only when isSigned; no overflow).
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
// Checks `check` and unchecks the other buttons first..last.
BOOL CheckRadioButton(HWND dialog, int first, int last, int check);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);

#define DialogBoxParam DialogBoxParamW
#define CreateDialogParam CreateDialogParamW
#define DefDlgProc DefDlgProcW
#define IsDialogMessage IsDialogMessageW
#define SetDlgItemText SetDlgItemTextW
#define GetDlgItemText GetDlgItemTextW
#define SendDlgItemMessage SendDlgItemMessageW
#define SetWindowsHookEx SetWindowsHookExW
#define CallMsgFilter CallMsgFilterW

namespace ce {

// Template pixels -> screen pixels: screen width / 240 (portrait) or / 320
// (landscape: width > height), integer division, at least 1; from the
// current device profile (1 without a device).
int GetDisplayScale();

// Reads and parses template `templateName` of a module (RT_TEMPLATE);
// false with the last error set as CreateDialogParamW does.
bool LoadDialogTemplate(HINSTANCE module, LPCWSTR templateName, DialogTemplate* out);

// For the modal loops: whether EndDialog was called for the window (and
// with what result), and marking a window as run by a modal loop (then
// EndDialog leaves hiding and destroying to the loop).
bool DialogEndRequested(HWND dialog, INT_PTR* result);
void SetDialogModal(HWND dialog, bool modal);

}  // namespace ce
