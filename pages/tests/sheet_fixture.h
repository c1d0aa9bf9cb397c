// Shared set-up of the main sheet's tests: the dialog fixture (scratch
// device, built resource library, global state), with plain templates for
// the pages whose own templates the built library does not hold yet, and
// the dialogs of the menu replaced by recorders.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/tests/dlg_fixture.h"
#include "ce/dlgtemplate.h"
#include "ce/rescontainer.h"
#include "ce/resformat.h"
#include "core/Resources.h"
#include "pages/MainSheet.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/TestDevice.h"

namespace sheettest {

// A page template with one label, as a page owner's would be.
inline ce::DialogTemplate PlainPage(int id, std::u16string caption) {
  ce::DialogTemplate t;
  t.id = id;
  t.width = 240;
  t.height = 200;
  t.style = WS_CHILD;
  t.caption = caption;
  ce::ControlTemplate label;
  label.id = -1;
  label.className = u"STATIC";
  label.x = 4;
  label.y = 4;
  label.width = 200;
  label.height = 16;
  label.style = WS_CHILD | WS_VISIBLE;
  label.text = caption + u" page";
  t.controls.push_back(label);
  return t;
}

// Loads the built resource library as the main library, with a plain
// template for each of the Basic, Backup and Restore pages it lacks.
inline void LoadLibraryWithPages() {
  std::vector<ce::res::Resource> pages;
  const struct {
    int id;
    const char16_t* caption;
  } plain[] = {{CBasicPage::IDD, u"Basic"}, {CBackupPage::IDD, u"Backup"}, {CRestorePage::IDD, u"Restore"}};
  for (const auto& p : plain)
    pages.push_back({ce::res::kTypeTemplate, static_cast<uint32_t>(p.id), {}, ce::res::kDefaultLanguage,
                     ce::FormatDialogTemplate(PlainPage(p.id, p.caption))});
  AfxSetResourceHandle(nullptr);
  quilmo::test::LoadBuiltResourceLibraryWith(std::move(pages));
  AfxSetResourceHandle(GetMainResourceLibrary());
}

class SheetTest : public dlgtest::DialogTest {
 protected:
  SheetTest() { LoadLibraryWithPages(); }

  static void SetConfigBool(LPCWSTR name, bool on) { SetConfigDWORD(name, on ? 1 : 0); }
};

}  // namespace sheettest
