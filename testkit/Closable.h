// Installs the built "closable" stand-in (a program with a window that
// closes on request) on a test device, and reads back and ends what a test
// started with it (header only: it needs the test program's
// QUILMO_BIN_DIR).
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ce/process.h"
#include "cesim/device.h"

#include "testkit/TestDevice.h"

namespace quilmo::test {

// Copies the stand-in to devicePath (folders made as needed).
inline void InstallClosable(const TestDevice& dev, const std::u16string& devicePath) {
  std::filesystem::path host = dev.Host(devicePath);
  std::filesystem::create_directories(host.parent_path());
  std::filesystem::copy_file(QUILMO_BIN_DIR "/closable", host,
                             std::filesystem::copy_options::overwrite_existing);
}

// Command lines of the programs started so far as exe (the device's
// program name, e.g. "Ombric.exe"), in start order; each is then ended.
inline std::vector<std::u16string> StartedAs(const TestDevice& dev, std::string_view exe) {
  std::vector<std::pair<std::u16string, int>> rows;
  {
    ce::Device* d = dev.device();
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    ce::Stmt s(d->Db(), "SELECT cmdline, pid FROM processes WHERE exe = ? ORDER BY rowid");
    s.Bind(1, exe);
    while (s.Step()) rows.emplace_back(s.Text16(0), static_cast<int>(s.Int(1)));
  }
  std::vector<std::u16string> lines;
  for (auto& [line, pid] : rows) {
    lines.push_back(line);
    if (HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid))) {
      TerminateProcess(p, 0);
      CloseHandle(p);
    }
  }
  return lines;
}

}  // namespace quilmo::test
