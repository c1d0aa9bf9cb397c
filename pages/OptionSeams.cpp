#include "pages/OptionSeams.h"

#include <utility>

#include "core/Log.h"
#include "pages/VersionDialogs.h"

// Until the save and exclusion dialogs join the program these calls say so
// in the log and answer as a cancelled dialog would, so that the callers
// keep what they had.
namespace OptionSeams {

namespace {
constexpr const WCHAR* kClass = u"OptionSeams";

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
  Log(0, u"The save dialog is not built yet", kClass, __LINE__);
  return IDCANCEL;
}

INT_PTR RunVersionDialog(CWnd* parent) {
  if (VersionRunner()) return VersionRunner()(parent);
  return ::RunVersionDialog(parent);
}

INT_PTR RunAddExclusionDialog(CString& text, CWnd* parent) {
  if (ExclusionRunner()) return ExclusionRunner()(text, parent);
  Log(0, u"The add exclusion dialog is not built yet", kClass, __LINE__);
  return IDCANCEL;
}

void SetSaveDialogRunner(SaveDialogRunner runner) { SaveRunner() = std::move(runner); }
void SetAddExclusionRunner(AddExclusionRunner runner) { ExclusionRunner() = std::move(runner); }
void SetVersionDialogRunner(VersionDialogRunner runner) { VersionRunner() = std::move(runner); }

}  // namespace OptionSeams
