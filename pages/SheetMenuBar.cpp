#include "pages/SheetMenuBar.h"

namespace {
SheetMenuBarMaker g_maker = nullptr;
}  // namespace

void SetSheetMenuBarMaker(SheetMenuBarMaker maker) { g_maker = maker; }

void CreateSheetMenuBar(CPropertySheet* sheet) {
  if (sheet && g_maker) g_maker(sheet);
}
