// The live state of a list view ("SysListView32", window_listview.cpp):
// columns, rows with their sub-item texts, data and states, image lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ce/types.h"

namespace ce {
struct ModelListView;
}

namespace ce::win {

struct ListViewColumn {
  std::u16string text;
  int width = 0;
  int fmt = 0;
};
struct ListViewItem {
  std::vector<std::u16string> texts;  // [0] the label, then the sub-items
  int image = 0;
  LPARAM data = 0;
  UINT state = 0;  // LVIS_SELECTED, LVIS_FOCUSED
};
struct ListViewState {
  std::vector<ListViewColumn> columns;
  std::vector<ListViewItem> items;
  const void* normalImages = nullptr;  // HIMAGELIST handles, kept as given
  const void* smallImages = nullptr;
  const void* stateImages = nullptr;
  DWORD exStyle = 0;
  int top = 0;              // first row shown
  uint64_t generation = 0;  // grows with every change of the rows
};

// The list view's part of the model as the screen and automation see it.
void DescribeListView(const ListViewState& s, DWORD style, ModelListView* out);

}  // namespace ce::win
