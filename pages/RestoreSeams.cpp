#include "pages/RestoreSeams.h"

#include "core/Log.h"

namespace {

constexpr const WCHAR* kClass = u"CRestorePage";

void NotBuilt(LPCWSTR what) { Log(0, CString(what) + u" not built", kClass, __LINE__); }

}  // namespace

INT_PTR RunUpgradeDataDialog(CWnd*, CString& fileName) {
  NotBuilt(u"The upgrade data dialog is");
  fileName.Empty();
  return IDCANCEL;
}

bool ShouldShowRestoreResetWarning() { return false; }

INT_PTR RunRestoreResetNotification(CWnd*) {
  NotBuilt(u"The reset warning is");
  return IDOK;
}

void RunAnnotationViewer(CWnd*) { NotBuilt(u"The annotation dialog is"); }
