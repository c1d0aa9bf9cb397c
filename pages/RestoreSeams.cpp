#include "pages/RestoreSeams.h"

#include "engine/Global.h"
#include "pages/BackupOptionDialogs.h"
#include "pages/ResetDialogs.h"
#include "pages/VersionDialogs.h"

INT_PTR RunUpgradeDataDialog(CWnd* parent, CString& fileName) {
  CUpgradeDataDlg dlg(parent);
  const INT_PTR result = dlg.DoModal();
  if (result == IDOK)
    fileName = dlg.GetFileName();
  else
    fileName.Empty();
  return result;
}

bool ShouldShowRestoreResetWarning() { return ShouldShowResetWarning(); }

INT_PTR RunRestoreResetNotification(CWnd* parent) {
  ResetNotificationDlg warning(GetGlobal().g_Operation.operationKind, parent);
  return warning.DoModal();
}

void RunAnnotationViewer(CWnd* parent) {
  // Mode 0: the image's annotation, read only.
  CAnnotationDlg dlg(0, parent);
  dlg.DoModal();
}
