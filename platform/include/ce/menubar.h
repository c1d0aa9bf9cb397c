// Menu-bar resources: the data of a kTypeMenuBar resource (ce/resformat.h),
// UTF-8 XML:
//
//   <menubar id="65361">
//     <button id="65359" text="Menu">
//       <item id="32818" string="65172"/>
//       <separator/>
//       <popup string="65104"> <item id="32810" text="Options"/> </popup>
//     </button>
//     <button id="1" text="OK"/>
//     <button id="65360" text="Tools" menu="1"/>
//   </menubar>
//
// A button with content or menu="1" (an empty menu, filled at run time)
// opens its menu; any other button is a command. Texts are
// literal (text) or resource strings of the module the bar is loaded from
// (string). Strict like dialog templates: unknown elements or attributes,
// bad numbers, more than kMaxMenuBarButtons buttons, menus deeper than
// kMaxMenuDepth or with more than kMaxMenuItems items are errors.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ce/types.h"

namespace ce {

inline constexpr size_t kMaxMenuBarButtons = 8;
inline constexpr size_t kMaxMenuItems = 64;
inline constexpr int kMaxMenuDepth = 4;

struct MenuTemplateItem {
  enum class Kind { Item, Separator, Popup };
  Kind kind = Kind::Item;
  int id = 0;
  std::u16string text;
  int stringId = 0;  // 0: the literal text
  std::vector<MenuTemplateItem> items;  // popup
};

struct MenuBarButton {
  int id = 0;
  std::u16string text;
  int stringId = 0;
  bool hasMenu = false;
  std::vector<MenuTemplateItem> items;
};

struct MenuBarTemplate {
  int id = 0;
  std::vector<MenuBarButton> buttons;
};

bool ParseMenuBarTemplate(const void* data, size_t size, MenuBarTemplate* out, std::string* error);
std::string FormatMenuBarTemplate(const MenuBarTemplate& bar);

}  // namespace ce
