// The simulator's view of the device's windows: the device's window table
// as the device tool lists it, the in-process window model as the screen
// file and automation read it, and the clean-up of windows whose process
// has ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ce/controls.h"  // HDC
#include "ce/system.h"  // RECT
#include "ce/types.h"
#include "ce/window.h"

namespace ce {

// One row of the device's window table.
struct WindowInfo {
  HWND hwnd = nullptr;
  DWORD pid = 0;
  std::u16string className;
  std::u16string title;
  HWND parent = nullptr;
  DWORD style = 0;
  bool visible = false;
};
// Every window of the device's live processes, newest first (tests, the
// device tool).
std::vector<WindowInfo> ListWindows();

// ---- the model as the screen file and automation read it ----
// One own window (top-level or child).
struct ModelWindow {
  HWND hwnd = nullptr;
  HWND parent = nullptr;
  std::u16string className;  // as registered ("EDIT", "#32770", ...)
  std::u16string text;       // title / control text
  DWORD style = 0;
  int id = 0;                // control id (GWL_ID)
  RECT rect{};               // screen coordinates
  bool visible = false;      // WS_VISIBLE of the window itself
  bool enabled = true;
  int check = 0;             // buttons: BST_*
  std::vector<std::u16string> items;  // combo and list boxes
  int curSel = -1;
  bool dropped = false;      // a combo box's list is open
  int pos = 0, min = 0, max = 0;  // progress bars and up-down controls
  bool hasTextColor = false;      // statics: the parent chose textColor at the last paint
  COLORREF textColor = 0;
  std::vector<HWND> children;     // creation order
};
// Own top-level windows, bottom to top (z-order).
std::vector<HWND> OwnTopLevelWindows();
// False for a window that is not an own window.
bool DescribeWindow(HWND hwnd, ModelWindow* out);
// Grows whenever anything the model holds changes (windows made or
// destroyed, text, style, position, visibility, enabled state, focus,
// control state).
uint64_t WindowModelVersion();
// Makes the version grow for what the model does not hold itself but the
// screen shows (what was drawn on a window).
void MarkWindowModelChanged();
// The template a dialog was made from (0 for other windows).
int GetDialogTemplateId(HWND dialog);

// Device contexts for the built-in controls' painting (an owner-drawn
// button's WM_DRAWITEM, a static's WM_CTLCOLORSTATIC): the window layer's
// GDI installs GetDC/ReleaseDC/GetTextColor here; without them the parent
// is asked to draw with a null hDC and statics ask nothing.
struct PaintDcHooks {
  HDC (*get)(HWND) = nullptr;
  int (*release)(HWND, HDC) = nullptr;
  COLORREF (*textColor)(HDC) = nullptr;
};
void SetPaintDcHooks(PaintDcHooks hooks);

// Removes the windows, queued messages and wake FIFOs of processes that
// have ended. Returns the number of processes purged.
int PurgeEndedWindowOwners();

}  // namespace ce
