#include "testkit/TestDevice.h"

#include "ce/file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace quilmo::test {

TestDevice::TestDevice() : TestDevice(ce::Profile{}) {}

TestDevice::TestDevice(const ce::Profile& profile) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "quilmo-dev-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  std::string err;
  if (!ce::Device::Create(dir_, profile, &err)) throw std::runtime_error("device create: " + err);
  device_ = ce::Device::Use(dir_);
  if (!device_) throw std::runtime_error("device open failed");
}

TestDevice::~TestDevice() {
  std::error_code ec;
  if (!getenv("QUILMO_KEEP_TEST_DEVICE")) std::filesystem::remove_all(dir_, ec);
}

std::filesystem::path TestDevice::Host(std::u16string_view devicePath) const {
  std::filesystem::path p = dir_ / "fs";
  std::u16string part;
  for (char16_t c : devicePath) {
    if (c == u'\\') {
      if (!part.empty()) p /= ce::ToUtf8(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) p /= ce::ToUtf8(part);
  return p;
}

void TestDevice::PutFile(std::u16string_view devicePath, const std::string& bytes) const {
  auto h = Host(devicePath);
  std::filesystem::create_directories(h.parent_path());
  std::ofstream f(h, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::string TestDevice::ReadFile(std::u16string_view devicePath) const {
  std::ifstream f(Host(devicePath), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void TestDevice::MakeDir(std::u16string_view devicePath) const {
  std::filesystem::create_directories(Host(devicePath));
}

bool WriteDeviceFile(std::u16string_view devicePath, const std::string& bytes) {
  std::u16string path(devicePath);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = bytes.empty() ||
            (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size());
  return CloseHandle(h) && ok;
}

std::string ReadDeviceFile(std::u16string_view devicePath) {
  std::u16string path(devicePath);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<unreadable>";
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return bytes;
}

}  // namespace quilmo::test
