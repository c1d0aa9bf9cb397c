// Writing the screen file (format: ui/ScreenFormat.h).
#pragma once

#include <filesystem>
#include <string>

namespace ui {

// The screen file's XML for this process's windows as they are now.
std::string FormatScreen();
// Writes FormatScreen() to file (through a temporary name and a rename);
// false when it cannot be written.
bool WriteScreenFile(const std::filesystem::path& file);
// DIR/screen.xml of the current device (empty without a device).
std::filesystem::path ScreenFilePath();

}  // namespace ui
