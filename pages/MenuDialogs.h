// The dialogs that the main sheet's menu opens, one function each (defined
// beside each dialog class), and the few calls the sheet makes into its
// pages.
//
// Results are the dialog's end (IDOK, IDCANCEL). The option dialogs edit
// the copy they are given; the sheet keeps and saves it only after IDOK.
#pragma once

#include "ce/types.h"
#include "core/OptionHandlers.h"
#include "ui/Mfc.h"

class CBackupPage;
class CRestorePage;

// The four restore options in the order of ARestoreOptionHandler.
struct RestoreOptionFlags {
  DWORD restoreKill = 0;
  DWORD handleMenu = 0;
  DWORD nonDestructiveRestore = 0;
  DWORD newDeviceRestore = 0;
};

INT_PTR RunBackupOptionsDialog(CWnd* parent, BackupOptionsBlock& options);     // CBackupOptionsPage
INT_PTR RunFileManagementDialog(CWnd* parent, BackupOptionsBlock& options);    // CFileManagementDlg
INT_PTR RunExclusionOptionsDialog(CWnd* parent, BackupOptionsBlock& options);  // CExclusionOptionsPage
INT_PTR RunAdvancedOptionsDialog(CWnd* parent);                                // CAdvancedOptDlg
INT_PTR RunRestoreOptionsDialog(CWnd* parent, RestoreOptionFlags& options);    // CRestoreOptionsPage
INT_PTR RunResetOptionsDisplayDialog(CWnd* parent);                            // CResetOptionsDisplayDlg
INT_PTR RunScheduleDialog(CWnd* parent);                                       // CSchedulePage
INT_PTR RunMerrowDialog(CWnd* parent);                                         // CMerrowPage
INT_PTR RunPIMDialog(CWnd* parent);                                            // CPIMPage
INT_PTR RunConnectionDialog(CWnd* parent);                                     // CConnectionPage
INT_PTR RunNetworkShareManagerDialog(CWnd* parent);                            // CNetworkShareManagerDlg
INT_PTR RunBackupHistoryDialog(CWnd* parent);                                  // CViewBackupHistoryDlg
INT_PTR RunAboutDialog(CWnd* parent);                                          // CAboutPage

// Runs an option dialog over a copy of the block (the dialog class takes
// it and a parent, and gives it back with GetOptions); after IDOK the block
// holds what the dialog took.
template <class Dialog>
INT_PTR RunOptionsBlockDialog(CWnd* parent, BackupOptionsBlock& options) {
  Dialog dlg(options, parent);
  const INT_PTR result = dlg.DoModal();
  if (result == IDOK) options = dlg.GetOptions();
  return result;
}

// The dialogs a sheet opens; tests put their own in.
struct MenuDialogs {
  INT_PTR (*backupOptions)(CWnd*, BackupOptionsBlock&) = RunBackupOptionsDialog;
  INT_PTR (*fileManagement)(CWnd*, BackupOptionsBlock&) = RunFileManagementDialog;
  INT_PTR (*exclusionOptions)(CWnd*, BackupOptionsBlock&) = RunExclusionOptionsDialog;
  INT_PTR (*advancedOptions)(CWnd*) = RunAdvancedOptionsDialog;
  INT_PTR (*restoreOptions)(CWnd*, RestoreOptionFlags&) = RunRestoreOptionsDialog;
  INT_PTR (*resetOptionsDisplay)(CWnd*) = RunResetOptionsDisplayDialog;
  INT_PTR (*schedule)(CWnd*) = RunScheduleDialog;
  INT_PTR (*merrow)(CWnd*) = RunMerrowDialog;
  INT_PTR (*pim)(CWnd*) = RunPIMDialog;
  INT_PTR (*connection)(CWnd*) = RunConnectionDialog;
  INT_PTR (*networkShares)(CWnd*) = RunNetworkShareManagerDialog;
  INT_PTR (*history)(CWnd*) = RunBackupHistoryDialog;
  INT_PTR (*about)(CWnd*) = RunAboutDialog;
};

// The pages' side: the Backup page redraws its tree after the exclusions
// changed (CBackupPage::UpdateTreeState); the Restore page takes the image
// handed over at start (CRestorePage::SetBackupFile); whether the Backup
// page's location edit has the focus (Enter is then swallowed).
void UpdateBackupPageTree(CBackupPage& page);
void HandImageToRestorePage(CRestorePage& page, const CString& imagePath);
bool BackupPageEditHasFocus(const CBackupPage& page);
