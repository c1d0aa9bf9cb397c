// The device's package installer: installs a package folder (PackageFormat.h)
// and removes an installed package, calling the package's setup library
// around the work and obeying its answers.
//
// Install: the setup library is copied beside the install record and
// loaded; Install_Init(first call, previously installed, folder) may cancel
// (1); then the folders, files, registry values and shortcuts are made,
// counting each kind that fails; Install_Exit gets the five counts and may
// ask for the install to be undone (1). A cancelled or undone install puts
// back everything it saved first: the owned key trees, the guarded files,
// the files it overwrote and the values it replaced; it deletes what it
// made. A finished install is recorded for removal.
//
// Removal: Uninstall_Init may refuse (non-zero: nothing is removed); then
// the recorded files, shortcuts, values and owned keys go, the folders the
// install made go when empty, Uninstall_Exit runs and the record goes.
#pragma once

#include <functional>
#include <string>

#include "ce/types.h"

namespace pkg {

enum InstallResult {
  kInstalled = 0,
  kCancelled = 1,  // the setup library's Install_Init said no
  kRolledBack = 2, // the setup library's Install_Exit asked to undo
  kRefused = 3,    // the setup library's Uninstall_Init said no
  kFailed = 4,     // a bad package, a missing record, a device failure
};

using Report = std::function<void(const std::string& line)>;

// packageFolder: the device path of the package folder.
InstallResult InstallPackage(const std::u16string& packageFolder, HWND parent, const Report& report);
InstallResult UninstallPackage(const std::u16string& name, HWND parent, const Report& report);

}  // namespace pkg
