// `cedev install`: puts the built deliverables and stand-ins onto a device
// where the device's installer places them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cedev {

struct Deliverable {
  std::vector<std::string> hostNames;  // built file names in the bin folder, first found wins
  std::u16string devicePath;
  bool program;  // started on the device: keeps its host execute permission
};

// Every file the installer places: the main program in the program folder,
// the companion files in "\Windows", then the stand-ins.
const std::vector<Deliverable>& Deliverables();

// The folder this tool was built into (its own folder).
std::filesystem::path OwnBinDir();

// Copies every deliverable present in binDir onto the current device; one
// line per file placed or not built. False with a message when a copy fails.
bool InstallDeliverables(const std::filesystem::path& binDir, std::vector<std::string>* lines,
                         std::string* error);

}  // namespace cedev
