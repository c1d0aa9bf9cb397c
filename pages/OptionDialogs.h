// The option dialogs the main sheet's menu opens, one call each. Each runs
// its dialog modally over parent and returns true when it closed with OK
// (what the dialog changed is then saved).
#pragma once

#include "ui/Mfc.h"

// Backup options 3, 4, 6, 9 and the exclusion list; the program's backup
// options are saved on OK.
bool RunExclusionDialog(CWnd* parent);
// The two limits of old backup files (and option 10); saved on OK.
bool RunFileManagementDialog(CWnd* parent);
// The battery monitor (Merrow) settings.
bool RunMerrowDialog(CWnd* parent);
// The desktop host connection; the remote options are saved on OK.
bool RunConnectionDialog(CWnd* parent);
// The scheduled backup page (its Change button edits the schedule).
bool RunScheduleDialog(CWnd* parent);
// The network share manager.
bool RunNetworkShareDialog(CWnd* parent);
// The about box.
bool RunAboutDialog(CWnd* parent);
