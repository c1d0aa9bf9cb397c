// The contract of a dialog class with the resource library: every control
// the class reaches exists in its template with the class it expects, and
// every string and bitmap it loads is there (header only; load the library
// first, e.g. with LoadBuiltResourceLibrary).
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "ce/dialog.h"
#include "ce/dlgtemplate.h"
#include "ce/module.h"
#include "ce/text.h"
#include "core/Resources.h"

namespace quilmo::test {

struct ControlContract {
  int id;
  const char16_t* className;  // "BUTTON", "EDIT", "STATIC", "SysTreeView32", ...
  // For buttons: the type in the style's low four bits (BS_PUSHBUTTON 0,
  // BS_DEFPUSHBUTTON 1, BS_AUTOCHECKBOX 3, BS_AUTORADIOBUTTON 9, ...);
  // kAnyType checks the class alone.
  DWORD buttonType = kAnyType;
  static constexpr DWORD kAnyType = 0xFFFFFFFFu;
};

// The template `templateId` of the main resource library, parsed; a test
// failure (and an empty template) when it is missing or unreadable.
inline ce::DialogTemplate LoadLibraryTemplate(UINT templateId) {
  ce::DialogTemplate t;
  HMODULE lib = GetMainResourceLibrary();
  HRSRC found = FindResourceW(lib, MAKEINTRESOURCEW(templateId), RT_TEMPLATE);
  if (found == nullptr) {
    ADD_FAILURE() << "template " << templateId << " is not in the resource library";
    return t;
  }
  const void* data = LockResource(LoadResource(lib, found));
  std::string error;
  if (!ce::ParseDialogTemplate(data, SizeofResource(lib, found), &t, &error))
    ADD_FAILURE() << "template " << templateId << ": " << error;
  return t;
}

inline void ExpectDialogContract(UINT templateId, std::initializer_list<ControlContract> controls,
                                 std::initializer_list<UINT> stringIds = {},
                                 std::initializer_list<UINT> bitmapIds = {}) {
  const ce::DialogTemplate t = LoadLibraryTemplate(templateId);
  for (const auto& c : controls) {
    const ce::ControlTemplate* hit = nullptr;
    for (const auto& tc : t.controls)
      if (tc.id == c.id) hit = &tc;
    if (hit == nullptr) {
      ADD_FAILURE() << "template " << templateId << " has no control " << c.id;
      continue;
    }
    EXPECT_EQ(ce::ToUtf8(hit->className), ce::ToUtf8(c.className))
        << "template " << templateId << ", control " << c.id;
    if (c.buttonType != ControlContract::kAnyType) {
      EXPECT_EQ(hit->style & 0xFu, c.buttonType) << "template " << templateId << ", control " << c.id;
    }
  }
  HMODULE lib = GetMainResourceLibrary();
  for (UINT id : stringIds) {
    LPCWSTR text = nullptr;
    EXPECT_GT(LoadStringW(lib, id, reinterpret_cast<LPWSTR>(&text), 0), 0)
        << "string " << id << " is missing or empty";
  }
  for (UINT id : bitmapIds)
    EXPECT_NE(FindResourceW(lib, MAKEINTRESOURCEW(id), RT_BITMAP), nullptr)
        << "bitmap " << id << " is missing";
}

}  // namespace quilmo::test
