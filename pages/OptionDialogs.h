// The option dialogs the main sheet's menu opens, one call each (the
// names the sheet calls). Each runs its dialog modally over parent and
// returns how it ended (IDOK, IDCANCEL). The two dialogs of the backup
// options edit the block they are given; the caller keeps and saves it
// after IDOK. The others save what they change themselves.
#pragma once

#include "ce/types.h"
#include "core/OptionHandlers.h"
#include "ui/Mfc.h"

INT_PTR RunFileManagementDialog(CWnd* parent, BackupOptionsBlock& options);    // CFileManagementDlg
INT_PTR RunExclusionOptionsDialog(CWnd* parent, BackupOptionsBlock& options);  // CExclusionOptionsPage
INT_PTR RunMerrowDialog(CWnd* parent);                                         // CMerrowPage
INT_PTR RunConnectionDialog(CWnd* parent);                                     // CConnectionPage
INT_PTR RunScheduleDialog(CWnd* parent);                                       // CSchedulePage
INT_PTR RunNetworkShareManagerDialog(CWnd* parent);                            // CNetworkShareManagerDlg
INT_PTR RunAboutDialog(CWnd* parent);                                          // CAboutPage
