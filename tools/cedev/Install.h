// `cedev install` and `cedev uninstall`: the stand-ins and the device's
// package installer are placed on the device directly; the product (or
// any package) is installed and removed by the package installer running
// as a device process ("\Windows\pkginstall.exe").
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cesim/device.h"

namespace cedev {

struct Deliverable {
  std::vector<std::string> hostNames;  // built file names in the bin folder, first found wins
  std::u16string devicePath;
  bool program;  // started on the device: keeps its host execute permission
  // Placed only when the device's profile asks for it (null: always).
  bool (*wanted)(const ce::Profile& profile) = nullptr;
};

// What is placed directly: the package installer and the stand-ins for
// programs and libraries outside the product.
const std::vector<Deliverable>& Deliverables();

// The folder this tool was built into (its own folder).
std::filesystem::path OwnBinDir();

// The product's package that the build makes beside a bin folder
// (BINDIR/../package/QuilmoBackup).
std::filesystem::path ProductPackage(const std::filesystem::path& binDir);

// True when folder holds a package manifest.
bool IsPackageFolder(const std::filesystem::path& folder);

// Copies every deliverable present in binDir onto the current device; one
// line per file placed or not built. False with a message when a copy fails.
bool InstallDeliverables(const std::filesystem::path& binDir, std::vector<std::string>* lines,
                         std::string* error);

// Copies the package folder onto the device, runs the package installer on
// it, waits for its end and removes the copy. *exitCode: the installer's
// (0 installed, 1 cancelled, 2 undone, 3 refused, 4 failed). False with a
// message when the installer could not run.
bool RunPackageInstall(const std::filesystem::path& package, unsigned* exitCode, std::string* error);
// Runs the package installer's removal of the package called name.
bool RunPackageUninstall(const std::string& name, unsigned* exitCode, std::string* error);

}  // namespace cedev
