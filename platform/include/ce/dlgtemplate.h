// Dialog templates: the data of a kTypeTemplate resource (ce/resformat.h),
// UTF-8 XML in canonical form:
//
//   <dialog id="231" width="240" height="294" style="0x80C80000" caption="" font="13">
//     <control id="2128" class="STATIC" x="4" y="2" width="232" height="18"
//              style="0x50000000" text="..."/>
//   </dialog>
//
// Coordinates are pixels at scale 1. Numbers are decimal (a leading '-' where
// a value may be negative) or 0x-hex. The parser is strict: a malformed
// number, an unknown element or attribute, a missing required attribute
// (dialog: id, width, height; control: id, class, x, y, width, height), a
// negative size, more than kMaxTemplateControls controls, a text longer than
// kMaxTemplateText characters or two controls with the same id (except the
// unnamed ids -1 and 0xFFFF that static labels share) are errors.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ce/types.h"

namespace ce {

inline constexpr size_t kMaxTemplateControls = 256;
inline constexpr size_t kMaxTemplateText = 1024;     // UTF-16 characters
inline constexpr int kMaxTemplateCoordinate = 32767; // |x|, |y|, width, height
inline constexpr int kDefaultTemplateFont = 13;

struct ControlTemplate {
  int id = -1;
  std::u16string className;  // "STATIC", "BUTTON", "EDIT", ...
  int x = 0, y = 0, width = 0, height = 0;
  DWORD style = 0;
  std::u16string text;
};

struct DialogTemplate {
  int id = 0;
  int width = 0, height = 0;
  DWORD style = 0;
  std::u16string caption;
  int fontHeight = kDefaultTemplateFont;
  std::vector<ControlTemplate> controls;  // creation (= tab) order
};

// Parses template data; on failure out is left unspecified and *error (when
// given) says why.
bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* out, std::string* error);

// The canonical XML of a template (what ParseDialogTemplate reads back to an
// equal template).
std::string FormatDialogTemplate(const DialogTemplate& dialog);

}  // namespace ce
