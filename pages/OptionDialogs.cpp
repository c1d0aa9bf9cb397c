#include "pages/OptionDialogs.h"

#include "pages/AboutPage.h"
#include "pages/ConnectionPage.h"
#include "pages/ExclusionOptionsPage.h"
#include "pages/FileManagementDlg.h"
#include "pages/MerrowPage.h"
#include "pages/NetworkShareManagerDlg.h"
#include "pages/SchedulePage.h"

INT_PTR RunExclusionOptionsDialog(CWnd* parent, BackupOptionsBlock& options) {
  CExclusionOptionsPage dlg(options, parent);
  const INT_PTR result = dlg.DoModal();
  if (result == IDOK) options = dlg.GetOptions();
  return result;
}

INT_PTR RunFileManagementDialog(CWnd* parent, BackupOptionsBlock& options) {
  CFileManagementDlg dlg(options, parent);
  const INT_PTR result = dlg.DoModal();
  if (result == IDOK) options = dlg.GetOptions();
  return result;
}

INT_PTR RunMerrowDialog(CWnd* parent) {
  CMerrowPage dlg(parent);
  return dlg.DoModal();
}

INT_PTR RunConnectionDialog(CWnd* parent) {
  CConnectionPage dlg(parent);
  return dlg.DoModal();
}

INT_PTR RunScheduleDialog(CWnd* parent) {
  CSchedulePage dlg(parent);
  return dlg.DoModal();
}

INT_PTR RunNetworkShareManagerDialog(CWnd* parent) {
  CNetworkShareManagerDlg dlg(parent);
  return dlg.DoModal();
}

INT_PTR RunAboutDialog(CWnd* parent) {
  CAboutPage dlg(parent);
  return dlg.DoModal();
}
