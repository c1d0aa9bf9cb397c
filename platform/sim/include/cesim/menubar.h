// The menu bar as the screen draws it and automation taps it: the bar's
// buttons and the open menus with the rectangle of every entry (screen
// pixels).
#pragma once

#include <string>
#include <vector>

#include "ce/menu.h"

namespace ce {

struct MenuEntryView {
  int id = 0;  // command (0: separator or submenu)
  std::u16string text;
  RECT rect{};
  bool separator = false;
  bool popup = false;    // opens a menu (a button with a menu, or a submenu)
  bool enabled = true;
  bool checked = false;
  bool open = false;     // its menu is the next open pane
  HMENU menu = nullptr;  // the menu it opens
};
struct MenuPaneView {
  HMENU menu = nullptr;
  RECT rect{};
  std::vector<MenuEntryView> entries;
};
struct MenuBarView {
  RECT bar{};
  std::vector<MenuEntryView> buttons;
  std::vector<MenuPaneView> panes;  // open menus, the button's first
};
// False when bar is not an own menu bar.
bool DescribeMenuBar(HWND bar, MenuBarView* out);

}  // namespace ce
