// The tree view's model ("SysTreeView32"): its items, the caret, the image
// lists it was given and how far it is scrolled. Lives in the window
// model (ControlState::tree); window_treeview.cpp is its procedure.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ce/treeview.h"

namespace ce::win {

struct TreeItem {
  uint32_t parent = 0;            // 0: an item of the top level
  std::vector<uint32_t> children;  // in order
  std::u16string text;
  int image = 0, selectedImage = 0;
  UINT state = 0;                 // TVIS_*; TVIS_SELECTED follows the caret instead
  LPARAM data = 0;
  int cChildren = 0;              // what TVIF_CHILDREN said (I_CHILDRENCALLBACK: may have some)
  bool childrenGiven = false;     // else the children themselves tell
};

struct TreeViewState {
  std::map<uint32_t, TreeItem> items;  // by handle value
  std::vector<uint32_t> roots;         // the top level, in order
  uint32_t next = 1;                   // handle values are never reused
  uint32_t caret = 0;
  int top = 0;                         // first row in view
  HIMAGELIST normal = nullptr, stateImages = nullptr;
  int indent = 0, itemHeight = 0;      // 0: the default at the display scale
};

LRESULT TreeViewProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace ce::win
