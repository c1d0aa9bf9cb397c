// Installs the built "closable" stand-in (a program with a window that
// closes on request) on a test device (header only: it needs the test
// program's QUILMO_BIN_DIR).
#pragma once

#include <filesystem>
#include <string>

#include "testkit/TestDevice.h"

namespace quilmo::test {

// Copies the stand-in to devicePath (folders made as needed).
inline void InstallClosable(const TestDevice& dev, const std::u16string& devicePath) {
  std::filesystem::path host = dev.Host(devicePath);
  std::filesystem::create_directories(host.parent_path());
  std::filesystem::copy_file(QUILMO_BIN_DIR "/closable", host,
                             std::filesystem::copy_options::overwrite_existing);
}

}  // namespace quilmo::test
