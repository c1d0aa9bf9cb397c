// The simulator's view of the device's windows: the device's window table
// as the device tool lists it, the in-process window model as the screen
// file and automation read it, and the clean-up of windows whose process
// has ended.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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
// A list view's columns and rows.
struct ModelListColumn {
  std::u16string text;
  int width = 0;
};
struct ModelListItem {
  std::vector<std::u16string> texts;  // label, then sub-items
  int image = -1;                     // index in the small image list
  bool selected = false, focused = false;
};
struct ModelListView {
  std::vector<ModelListColumn> columns;
  std::vector<ModelListItem> items;
  const void* smallImages = nullptr;  // HIMAGELIST
  int top = 0;                        // first row shown
  int headerHeight = 0, rowHeight = 0;
};

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
  ModelListView listView;         // list views
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
// What the window layer asks the drawing layer when it lays out text and
// images: the width of a text in a window's font, and an image list's
// image size (false for no list). Unset: 8 pixels a character, no images.
struct DrawingMetrics {
  int (*textWidth)(HWND hwnd, std::u16string_view text) = nullptr;
  bool (*imageSize)(const void* imageList, int* cx, int* cy) = nullptr;
};
void SetDrawingMetrics(const DrawingMetrics& metrics);

// Removes the windows, queued messages and wake FIFOs of processes that
// have ended. Returns the number of processes purged.
int PurgeEndedWindowOwners();

}  // namespace ce
