// Stand-ins for the menu's dialogs that are not built yet (pages/MenuDialogs.h).
// Built beside their dialogs: RunPIMDialog (pages/PIMPage.cpp),
// RunResetOptionsDisplayDialog (pages/ResetDialogs.cpp) and
// RunBackupHistoryDialog (pages/VersionDialogs.cpp).
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
INT_PTR RunFileManagementDialog(CWnd*, BackupOptionsBlock&) { return ShowNotBuilt(u"CFileManagementDlg"); }
INT_PTR RunExclusionOptionsDialog(CWnd*, BackupOptionsBlock&) { return ShowNotBuilt(u"CExclusionOptionsPage"); }
INT_PTR RunAdvancedOptionsDialog(CWnd*) { return ShowNotBuilt(u"CAdvancedOptDlg"); }
INT_PTR RunRestoreOptionsDialog(CWnd*, RestoreOptionFlags&) { return ShowNotBuilt(u"CRestoreOptionsPage"); }
INT_PTR RunScheduleDialog(CWnd*) { return ShowNotBuilt(u"CSchedulePage"); }
INT_PTR RunMerrowDialog(CWnd*) { return ShowNotBuilt(u"CMerrowPage"); }
INT_PTR RunConnectionDialog(CWnd*) { return ShowNotBuilt(u"CConnectionPage"); }
INT_PTR RunNetworkShareManagerDialog(CWnd*) { return ShowNotBuilt(u"CNetworkShareManagerDlg"); }
INT_PTR RunAboutDialog(CWnd*) { return ShowNotBuilt(u"CAboutPage"); }

// The pages are bare so far: nothing to redraw, nothing to take, no edit.
void UpdateBackupPageTree(CBackupPage&) {}
void HandImageToRestorePage(CRestorePage&, const CString&) {}
bool BackupPageEditHasFocus(const CBackupPage&) { return false; }
