// Shared set-up of the starter's tests: a scratch device with the folders
// the starter uses, registry helpers and the recorder program.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "testkit/TestDevice.h"

namespace startertest {

inline constexpr const char16_t* kSettingsKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings";
inline constexpr const char16_t* kConfigKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Config";
inline constexpr const char16_t* kSharedKey = u"SOFTWARE\\Quilmo Software\\Shared";
inline constexpr const char16_t* kMainProgram = u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";
inline constexpr const char16_t* kStartedFile = u"\\temp\\started.txt";

inline void SetDword(const std::u16string& key, const char16_t* name, DWORD value) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &h, nullptr), ERROR_SUCCESS);
  RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(h);
}

inline void SetString(const std::u16string& key, const char16_t* name, std::u16string_view text) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &h, nullptr), ERROR_SUCCESS);
  const std::u16string t(text);
  RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(t.c_str()), static_cast<DWORD>((t.size() + 1) * 2));
  RegCloseKey(h);
}

inline void SetWords(const std::u16string& key, const std::u16string& name, std::vector<WORD> words) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &h, nullptr), ERROR_SUCCESS);
  std::vector<BYTE> data;
  for (WORD w : words) data.insert(data.end(), {static_cast<BYTE>(w & 0xFF), static_cast<BYTE>(w >> 8)});
  RegSetValueExW(h, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(h);
}

// The value's raw bytes, or "<none>".
inline std::string Raw(const std::u16string& key, const std::u16string& name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &h) != ERROR_SUCCESS) return "<none>";
  BYTE buf[1024];
  DWORD size = sizeof buf;
  const LONG rc = RegQueryValueExW(h, name.c_str(), nullptr, nullptr, buf, &size);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(buf), size) : "<none>";
}

inline long Dword(const std::u16string& key, const char16_t* name) {
  const std::string raw = Raw(key, name);
  if (raw.size() != 4) return -1;
  return static_cast<long>(static_cast<BYTE>(raw[0]) | static_cast<BYTE>(raw[1]) << 8 |
                           static_cast<BYTE>(raw[2]) << 16 | static_cast<DWORD>(static_cast<BYTE>(raw[3])) << 24);
}

// UTF-16LE bytes of a text.
inline std::string Utf16(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

// Copies a built program onto the device.
inline void InstallBuilt(const quilmo::test::TestDevice& dev, const char* built, std::u16string_view devicePath) {
  const std::filesystem::path host = dev.Host(devicePath);
  std::filesystem::create_directories(host.parent_path());
  std::filesystem::copy_file(std::filesystem::path(QUILMO_BIN_DIR) / built, host,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(host, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
}

// The recorder's lines: "<program path>\t<raw command line>".
inline std::vector<std::string> StartedLines(const quilmo::test::TestDevice& dev) {
  std::vector<std::string> lines;
  if (!std::filesystem::exists(dev.Host(kStartedFile))) return lines;
  const std::string text = dev.ReadFile(kStartedFile);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

}  // namespace startertest
