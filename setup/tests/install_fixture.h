// Scratch sample devices for the install tests: made and driven through
// cedev (the package installer runs as a device process), looked into
// through the device API of this process.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace setup_test {

namespace fs = std::filesystem;
using quilmo::test::CommandResult;

inline const std::u16string kProductKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup";
inline const std::u16string kConfigKey = kProductKey + u"\\Config";
inline const std::u16string kSharedKey = u"SOFTWARE\\Quilmo Software\\Shared";
inline const std::u16string kInstallFolder = u"\\Program Files\\Quilmo Backup";

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quilmo-setup-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    dir_ = root_ / "device";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Makes the sample device (with another platform type when given) and
  // makes it this process's device too.
  void Create(const std::string& platformType = "") {
    std::string args = "create " + Quote(dir_.string());
    if (!platformType.empty()) args += " --platform-type " + Quote(platformType);
    CommandResult r = Cedev(args);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_NE(ce::Device::Use(dir_), nullptr);
    // Room in the object store for the programs of a sanitizer build,
    // several times the size of the others.
    ASSERT_TRUE(ce::Device::Current()->UpdateProfile([](ce::Profile& p) {
      for (auto& c : p.capacities)
        if (c.root == u"\\") c.bytes = 1024ull << 20;
    }));
  }

  CommandResult Cedev(const std::string& args) const {
    return quilmo::test::RunCommand(std::string(QUILMO_BIN_DIR) + "/cedev " + args);
  }
  CommandResult Install(const fs::path& package = {}) const {
    return Cedev("install " + Quote(dir_.string()) + (package.empty() ? "" : " " + Quote(package.string())));
  }
  CommandResult Uninstall(const std::string& name = "Quilmo Backup") const {
    return Cedev("uninstall " + Quote(dir_.string()) + " " + Quote(name));
  }

  static fs::path BuiltPackage(const std::string& name) { return fs::path(QUILMO_BIN_DIR) / ".." / "package" / name; }
  // A copy of a built package that a test may change.
  fs::path CopyPackage(const std::string& name) const {
    const fs::path copy = root_ / name;
    fs::copy(BuiltPackage(name), copy, fs::copy_options::recursive);
    return copy;
  }
  // Replaces the manifest line that contains `line` (removed when
  // replacement is empty).
  static void EditManifest(const fs::path& package, const std::string& line, const std::string& replacement) {
    std::ifstream in(package / "package.txt");
    std::stringstream out;
    for (std::string l; std::getline(in, l);) {
      if (l.find(line) != std::string::npos) {
        if (!replacement.empty()) out << replacement << "\n";
      } else {
        out << l << "\n";
      }
    }
    std::ofstream(package / "package.txt", std::ios::trunc) << out.str();
  }

  static bool Exists(const std::u16string& path) { return GetFileAttributesW(path.c_str()) != 0xFFFFFFFFu; }
  static std::string Read(const std::u16string& path) { return quilmo::test::ReadDeviceFile(path); }
  static void Write(const std::u16string& path, const std::string& data) {
    ASSERT_TRUE(quilmo::test::WriteDeviceFile(path, data)) << ce::ToUtf8(path);
  }

  static std::optional<std::u16string> RegString(const std::u16string& key, const std::u16string& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
    WCHAR buf[512] = {};
    DWORD type = 0, size = sizeof buf - 2;
    LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return std::u16string(buf);
  }
  static std::optional<DWORD> RegDword(const std::u16string& key, const std::u16string& name) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
    DWORD v = 0, type = 0, size = sizeof v;
    LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    return v;
  }
  static bool KeyExists(const std::u16string& key) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
  }
  static void SetRegString(const std::u16string& key, const std::u16string& name, const std::u16string& value) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * 2)),
              ERROR_SUCCESS);
    RegCloseKey(k);
  }

  std::string ScreenLog() const { return Cedev("screenlog " + Quote(dir_.string())).output; }
  std::string DebugLog() const {
    std::ifstream in(dir_ / "debug.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path root_;
  fs::path dir_;
};

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace setup_test
