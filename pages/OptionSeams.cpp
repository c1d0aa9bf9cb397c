#include "pages/OptionSeams.h"

#include <utility>

#include "pages/BackupOptionDialogs.h"
#include "pages/FileDialogs.h"
#include "pages/VersionDialogs.h"

// Each call runs the program's own dialog unless a test put its runner in.
namespace OptionSeams {

namespace {

SaveDialogRunner& SaveRunner() {
  static SaveDialogRunner runner;
  return runner;
}
AddExclusionRunner& ExclusionRunner() {
  static AddExclusionRunner runner;
  return runner;
}
VersionDialogRunner& VersionRunner() {
  static VersionDialogRunner runner;
  return runner;
}
}  // namespace

INT_PTR RunSaveDialog(ABackupFilePath& path, bool nameEditable, bool hostAllowed, bool annotation,
                      CWnd* parent) {
  if (SaveRunner()) return SaveRunner()(path, nameEditable, hostAllowed, annotation, parent);
  CNewSaveDlg dlg(path, nameEditable, hostAllowed, annotation, parent);
  const INT_PTR result = dlg.DoModal();
  if (result == IDOK) path = dlg.GetPath();
  return result;
}

INT_PTR RunVersionDialog(CWnd* parent) {
  if (VersionRunner()) return VersionRunner()(parent);
  return ::RunVersionDialog(parent);
}

INT_PTR RunAddExclusionDialog(CString& text, CWnd* parent) {
  if (ExclusionRunner()) return ExclusionRunner()(text, parent);
  CAddExclusionDlg dlg(parent);
  const INT_PTR result = dlg.DoModal();
  if (result == IDOK) text = dlg.GetExclusion();
  return result;
}

void SetSaveDialogRunner(SaveDialogRunner runner) { SaveRunner() = std::move(runner); }
void SetAddExclusionRunner(AddExclusionRunner runner) { ExclusionRunner() = std::move(runner); }
void SetVersionDialogRunner(VersionDialogRunner runner) { VersionRunner() = std::move(runner); }

}  // namespace OptionSeams
