#include "pages/OptionDialogs.h"

#include "pages/AboutPage.h"
#include "pages/ConnectionPage.h"
#include "pages/ExclusionOptionsPage.h"
#include "pages/FileManagementDlg.h"
#include "pages/MenuDialogs.h"
#include "pages/MerrowPage.h"
#include "pages/NetworkShareManagerDlg.h"
#include "pages/SchedulePage.h"

INT_PTR RunExclusionOptionsDialog(CWnd* parent, BackupOptionsBlock& options) {
  return RunOptionsBlockDialog<CExclusionOptionsPage>(parent, options);
}

INT_PTR RunFileManagementDialog(CWnd* parent, BackupOptionsBlock& options) {
  return RunOptionsBlockDialog<CFileManagementDlg>(parent, options);
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
