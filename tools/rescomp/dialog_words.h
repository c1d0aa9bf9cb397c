// The words of a <dialog> source element: control classes and style words.
//
//   class  static | button | defbutton | checkbox | radio | edit | combobox |
//          listbox | progress | spin   (each with its customary style bits),
//          or a window class name as it stands ("STATIC", "msctls_updown32",
//          no style bits added)
//   style  words joined by '|': WS_*, DS_* and the class's own family
//          (SS_ static, BS_ button, ES_ edit, CBS_ combo box, LBS_ list box,
//          PBS_ progress bar, UDS_ up-down), numbers (decimal or 0x-hex),
//          "hidden" (no WS_VISIBLE), "disabled" (WS_DISABLED)
#pragma once

#include <string>
#include <string_view>

#include "ce/types.h"

namespace rescomp {

struct ClassWord {
  std::u16string windowClass;  // the class the layer creates
  DWORD style = 0;             // style bits the word implies
};

// False when word is neither a class word nor a known window class name.
bool ControlClass(std::string_view word, ClassWord* out);

struct StyleWords {
  DWORD style = 0;
  bool hidden = false;
  bool disabled = false;
};

// Parses "A|B|0x10" for a control of windowClass (empty: the dialog itself).
// False with *error naming the bad word.
bool ParseStyleWords(std::string_view text, const std::u16string& windowClass, StyleWords* out,
                     std::string* error);

}  // namespace rescomp
