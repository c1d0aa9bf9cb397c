// A tree view as the screen file and automation read it: the rows in view
// and the geometry they were laid out with (client pixels).
#pragma once

#include <string>
#include <vector>

#include "ce/treeview.h"

namespace ce {

struct ModelTreeRow {
  HTREEITEM item = nullptr;
  int level = 0;              // 0: the top level
  int x = 0;                  // where the item starts; its button sits in the indent before
  std::u16string text;
  int image = 0, selectedImage = 0;
  int stateImage = 0;         // the state image index (1 unchecked, 2 checked, 3 partial; 0 none)
  int button = 0;             // 0 none, 1 closed (+), 2 open (-)
  bool selected = false;      // the caret
};

struct ModelTree {
  std::vector<ModelTreeRow> rows;  // from the top row in view
  int top = 0;                     // index of the first row in view among all open rows
  int total = 0;                   // rows of the open branches
  int inView = 1;                  // whole rows that fit
  int indent = 0, itemHeight = 0;
  int stateWidth = 0, imageWidth = 0;  // 0: no such column
  int scrollBarWidth = 0;          // 0: no scroll bar (the rows fit)
  HIMAGELIST normalImages = nullptr, stateImages = nullptr;
};

// False for a window that is no own tree view.
bool DescribeTree(HWND hwnd, ModelTree* out);

}  // namespace ce
