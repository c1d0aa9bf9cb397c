// The dialogs of other families that the Restore page runs, each behind
// one function so that the page calls them in one place.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "ui/Mfc.h"

// The upgrade data dialog; IDOK with the chosen list file, else IDCANCEL.
INT_PTR RunUpgradeDataDialog(CWnd* parent, CString& fileName);
// Whether the reset warning is on for a restore in the current mode.
bool ShouldShowRestoreResetWarning();
// The reset warning before a restore; IDOK goes on.
INT_PTR RunRestoreResetNotification(CWnd* parent);
// The annotation of the descriptor, read only.
void RunAnnotationViewer(CWnd* parent);
