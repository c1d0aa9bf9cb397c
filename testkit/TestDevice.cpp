#include "testkit/TestDevice.h"

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

}  // namespace quilmo::test
