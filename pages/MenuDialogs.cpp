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

INT_PTR RunBackupOptionsDialog(CWnd*, BackupOptionsBlock&) { return ShowNotBuilt(u"CBackupOptionsPage"); }
INT_PTR RunAdvancedOptionsDialog(CWnd*) { return ShowNotBuilt(u"CAdvancedOptDlg"); }
INT_PTR RunRestoreOptionsDialog(CWnd*, RestoreOptionFlags&) { return ShowNotBuilt(u"CRestoreOptionsPage"); }

// The pages are bare so far: nothing to redraw, nothing to take, no edit.
void UpdateBackupPageTree(CBackupPage&) {}
void HandImageToRestorePage(CRestorePage&, const CString&) {}
bool BackupPageEditHasFocus(const CBackupPage&) { return false; }
