// The sheet's calls into its pages (pages/MenuDialogs.h). The menu's dialog
// functions are defined beside their dialogs.
#include "pages/MenuDialogs.h"

#include "pages/BackupPage.h"
#include "pages/RestorePage.h"

void UpdateBackupPageTree(CBackupPage& page) { page.UpdateTreeState(); }
void HandImageToRestorePage(CRestorePage& page, const CString& imagePath) { page.SetBackupFile(imagePath); }
bool BackupPageEditHasFocus(const CBackupPage& page) { return page.IsEditFocused(); }
