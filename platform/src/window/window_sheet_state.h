// Model state of the menu bar, the date-time picker and the tab control (one
// member each in ControlState).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ce/types.h"

namespace ce::win {

struct MenuBarState {
  struct Button {
    int id = 0;
    std::u16string text;
    int64_t menu = 0;  // 0: the button is a command
  };
  std::vector<Button> buttons;
  int64_t barMenu = 0;        // holds the buttons' menus; destroyed with the bar
  int openButton = -1;        // the button whose menu is open
  std::vector<int64_t> open;  // open menus, the button's first
};

struct DateTimeState {
  SYSTEMTIME time{};
  bool valid = false;          // DTS_SHOWNONE: "none" when false
  std::u16string format;       // DTM_SETFORMAT; empty: the style's
};

struct TabState {
  struct Item {
    std::u16string text;
    int image = -1;
    LPARAM param = 0;
  };
  std::vector<Item> items;
  int cur = -1;
  intptr_t imageList = 0;  // HIMAGELIST, held for drawing
};

}  // namespace ce::win

#include "ce/window.h"

namespace ce::win {
// The built-in procedures (window_menu.cpp, window_datetime.cpp, window_tab.cpp).
LRESULT MenuBarProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DateTimeProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT TabProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
}  // namespace ce::win
