// The main sheet's menu bar as the pages see it: a page that opens asks the
// sheet to make its menu bar again. The sheet installs the maker; without
// one the request does nothing.
#pragma once

class CPropertySheet;

using SheetMenuBarMaker = void (*)(CPropertySheet* sheet);

// nullptr removes the maker.
void SetSheetMenuBarMaker(SheetMenuBarMaker maker);
// Calls the installed maker for the sheet (null sheet: nothing).
void CreateSheetMenuBar(CPropertySheet* sheet);
