// Helpers of the tests that run the built programs on a scratch device:
// installing built files and reading the program's log by lines.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "testkit/TestDevice.h"

namespace quilmo::test {

// A file of the build's output folder.
inline std::filesystem::path BinFile(const char* name) { return std::filesystem::path(QUILMO_BIN_DIR) / name; }

// Copies a host file to a device path, creating its folders; a program is
// marked executable.
inline void CopyToDevice(const TestDevice& dev, const std::filesystem::path& from, std::u16string_view devicePath,
                         bool program) {
  namespace fs = std::filesystem;
  const fs::path to = dev.Host(devicePath);
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  if (program) fs::permissions(to, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add);
}

// The lines of a text split at CR LF; empty lines and an unterminated last
// line are dropped.
inline std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    if (end > start) lines.push_back(text.substr(start, end - start));
  return lines;
}

}  // namespace quilmo::test
