// What the option dialogs open that other windows of the program provide:
// the save dialog (a new image file's place and name), the version details
// dialog and the dialog that asks for one exclusion. Each answers IDOK or
// IDCANCEL like the dialog it stands for.
#pragma once

#include <functional>

#include "ce/cstring.h"
#include "ce/types.h"
#include "image/BackupLocation.h"
#include "ui/Mfc.h"

namespace OptionSeams {

// The save dialog over path: on IDOK path holds the chosen place and name.
// nameEditable: the file name may be changed; hostAllowed: the desktop
// host is offered; annotation: the annotation field is shown.
INT_PTR RunSaveDialog(ABackupFilePath& path, bool nameEditable, bool hostAllowed, bool annotation,
                      CWnd* parent);
// The version details dialog (pages/VersionDialogs.h), modal.
INT_PTR RunVersionDialog(CWnd* parent);
// Asks for one exclusion ("\folder", "\folder\*.ext", "*.ext"); on IDOK
// text holds it.
INT_PTR RunAddExclusionDialog(CString& text, CWnd* parent);

// Replaces the save dialog (tests, or the program once the real one is
// linked); an empty function puts the built-in answer back.
using SaveDialogRunner = std::function<INT_PTR(ABackupFilePath&, bool, bool, bool, CWnd*)>;
void SetSaveDialogRunner(SaveDialogRunner runner);
using AddExclusionRunner = std::function<INT_PTR(CString&, CWnd*)>;
void SetAddExclusionRunner(AddExclusionRunner runner);
using VersionDialogRunner = std::function<INT_PTR(CWnd*)>;
void SetVersionDialogRunner(VersionDialogRunner runner);

}  // namespace OptionSeams
