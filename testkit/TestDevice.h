// A scratch device for a test: created in a fresh temporary folder, made
// the process's current device, removed when the test ends.
#pragma once

#include <filesystem>
#include <string>

#include "cesim/device.h"

namespace quilmo::test {

class TestDevice {
 public:
  // Creates the device with the default profile (or the one given).
  TestDevice();
  explicit TestDevice(const ce::Profile& profile);
  ~TestDevice();
  TestDevice(const TestDevice&) = delete;
  TestDevice& operator=(const TestDevice&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  ce::Device* device() const { return device_; }
  // Host path of a device path (no case folding: give the stored case).
  std::filesystem::path Host(std::u16string_view devicePath) const;
  // Writes a host file at a device path, creating its folders.
  void PutFile(std::u16string_view devicePath, const std::string& bytes) const;
  std::string ReadFile(std::u16string_view devicePath) const;
  void MakeDir(std::u16string_view devicePath) const;

 private:
  std::filesystem::path dir_;
  ce::Device* device_ = nullptr;
};

// Writes a file through the device API (a read-only file is overwritten
// too); false when the device refuses or writes short.
bool WriteDeviceFile(std::u16string_view devicePath, const std::string& bytes);
// Reads a file through the device API; "<unreadable>" when it cannot.
std::string ReadDeviceFile(std::u16string_view devicePath);

}  // namespace quilmo::test
