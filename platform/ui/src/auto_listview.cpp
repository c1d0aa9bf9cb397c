// Automation of list views: rows tapped, double-tapped and activated as a
// person does it, through the control's own input handling.
#include "ce/commctrl.h"
#include "ce/text.h"
#include "ui/Automation.h"

namespace ui::test {
namespace {

bool IsListView(HWND h) {
  WCHAR cls[64];
  int n = GetClassNameW(h, cls, 64);
  return ce::EqualNoCase(std::u16string_view(cls, static_cast<size_t>(n)), u"SysListView32");
}

// The client point at the middle of a row, scrolled into view.
bool RowPoint(HWND h, int index, POINT* out) {
  if (index < 0 || index >= static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0))) return false;
  SendMessageW(h, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
  RECT r{LVIR_BOUNDS, 0, 0, 0};
  if (!SendMessageW(h, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r))) return false;
  *out = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  return true;
}

}  // namespace

std::u16string Dialog::ItemText(int id, int row, int column) const {
  HWND h = FindControl(id);
  if (!h || !IsListView(h)) return u"";
  WCHAR buf[1100];
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buf;
  item.cchTextMax = 1100;
  int n = static_cast<int>(SendMessageW(h, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
  return std::u16string(buf, static_cast<size_t>(n));
}

int Dialog::FindItem(int id, std::u16string_view text) {
  HWND h = Control(id, "find row", false);
  if (!h) return -1;
  if (!IsListView(h)) {
    Fail("find row: control " + std::to_string(id) + " is not a list view");
    return -1;
  }
  const int n = static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i)
    if (ItemText(id, i, 0) == text) return i;
  Fail("control " + std::to_string(id) + " has no row \"" + ce::ToUtf8(text) + "\"");
  return -1;
}

bool Dialog::TapItem(int id, int index) {
  HWND h = Control(id, "tap row", true);
  if (!h) return false;
  POINT p;
  if (!IsListView(h)) return Fail("tap row: control " + std::to_string(id) + " is not a list view");
  if (!RowPoint(h, index, &p)) return Fail("control " + std::to_string(id) + " has no row " + std::to_string(index));
  SendMessageW(h, WM_LBUTTONDOWN, 0, MAKELPARAM(p.x, p.y));
  if (IsWindow(h)) SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  return true;
}

bool Dialog::DoubleTapItem(int id, int index) {
  HWND h = Control(id, "double-tap row", true);
  if (!h) return false;
  POINT p;
  if (!IsListView(h)) return Fail("double-tap row: control " + std::to_string(id) + " is not a list view");
  if (!RowPoint(h, index, &p)) return Fail("control " + std::to_string(id) + " has no row " + std::to_string(index));
  SendMessageW(h, WM_LBUTTONDBLCLK, 0, MAKELPARAM(p.x, p.y));
  if (IsWindow(h)) SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  return true;
}

bool Dialog::ActivateItem(int id, int index) {
  if (!TapItem(id, index)) return false;
  HWND h = FindControl(id);
  if (h) SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0);
  return true;
}

}  // namespace ui::test
