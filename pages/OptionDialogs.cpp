#include "pages/OptionDialogs.h"

#include "ce/errors.h"
#include "core/Log.h"
#include "engine/Global.h"
#include "pages/ConnectionPage.h"
#include "pages/ExclusionOptionsPage.h"
#include "pages/FileManagementDlg.h"
#include "pages/MerrowPage.h"

namespace {
constexpr const WCHAR* kClass = u"OptionDialogs";
}

bool RunExclusionDialog(CWnd* parent) {
  ABackupOptionHandler& options = GetGlobal().g_BackupOptions;
  CExclusionOptionsPage dlg(options.GetBlock(), parent);
  if (dlg.DoModal() != IDOK) return false;
  options.SetBlock(dlg.GetOptions());
  if (!options.Save()) LogError(GetLastError(), u"Save Exclusion Options failed", kClass, __LINE__);
  return true;
}

bool RunFileManagementDialog(CWnd* parent) {
  ABackupOptionHandler& options = GetGlobal().g_BackupOptions;
  CFileManagementDlg dlg(options.GetBlock(), parent);
  if (dlg.DoModal() != IDOK) return false;
  options.SetBlock(dlg.GetOptions());
  if (!options.Save()) LogError(GetLastError(), u"Save file management Options failed", kClass, __LINE__);
  return true;
}

bool RunMerrowDialog(CWnd* parent) {
  CMerrowPage dlg(parent);
  return dlg.DoModal() == IDOK;
}

bool RunConnectionDialog(CWnd* parent) {
  CConnectionPage dlg(parent);
  return dlg.DoModal() == IDOK;
}
