// Stand-ins for the menu's dialogs that are not built yet (pages/MenuDialogs.h).
// Built beside their dialogs: RunPIMDialog (pages/PIMPage.cpp),
// RunResetOptionsDisplayDialog (pages/ResetDialogs.cpp) and
// RunBackupHistoryDialog (pages/VersionDialogs.cpp); the option dialogs in
// pages/OptionDialogs.h.
#include "pages/MenuDialogs.h"

#include "core/Localizer.h"
#include "pages/BackupPage.h"
#include "pages/RestorePage.h"

INT_PTR ShowNotBuilt(LPCWSTR dialogName) {
  CString text(dialogName);
  text += kNotBuiltSuffix;
  Localizer::TextMessageBox(text, MB_OK);
  return IDCANCEL;
}


void UpdateBackupPageTree(CBackupPage& page) { page.UpdateTreeState(); }
void HandImageToRestorePage(CRestorePage& page, const CString& imagePath) { page.SetBackupFile(imagePath); }
bool BackupPageEditHasFocus(const CBackupPage& page) { return page.IsEditFocused(); }
