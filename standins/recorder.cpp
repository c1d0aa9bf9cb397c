// The recorder: a device program that stands in for programs that are
// started (the main program, a "/run" program, a start entry). Install it
// under any name. Each start appends to its log file, in UTF-8:
//
//   2006-03-08 02:00:10 \Program Files\Quilmo Backup\Quilmo Backup.exe "ScheduledBackup" power=on
//     HKLM\SOFTWARE\Quilmo Software\Quilmo Backup\Settings\Unattended
//       dwUnattendedOptions = dword 0x000002cf
//       csUnattendedFilename = sz \Storage Card\x.pbf
//
// that is the device's local time, its own device path, the raw command
// line, the power state (GetSystemPowerState) and every value of each
// registry key its configuration names ("(missing)" for a key that is
// not there). Configuration, HKLM "Software\Quilmo Test\Recorder":
//   LogFile  REG_SZ        the log's device path (default "\Recorder.log")
//   Keys     REG_MULTI_SZ  keys to show, "HKLM\..." or "HKCU\..."
// It ends with exit code 0, or 1 when its log cannot be written.
#include <cstdio>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/system.h"
#include "ce/text.h"
#include "standins/kit/StandinKit.h"

namespace {

constexpr const char16_t* kConfigKey = u"Software\\Quilmo Test\\Recorder";

// A value of the configuration key as raw UTF-16 (empty when missing).
std::u16string ConfigText(const char16_t* name, DWORD wantedType) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  DWORD type = 0, size = 0;
  std::u16string text;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == wantedType) {
    text.resize(size / 2);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
      text.clear();
    text.resize(size / 2);
  }
  RegCloseKey(key);
  return text;
}

std::vector<std::u16string> SplitMulti(const std::u16string& multi) {
  std::vector<std::u16string> parts;
  size_t pos = 0;
  while (pos < multi.size()) {
    size_t end = multi.find(u'\0', pos);
    if (end == std::u16string::npos) end = multi.size();
    if (end > pos) parts.push_back(multi.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

std::string ValueText(DWORD type, const std::vector<BYTE>& data) {
  char buf[32];
  auto wide = [&] {
    std::u16string s;
    for (size_t i = 0; i + 1 < data.size(); i += 2) s += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return s;
  };
  switch (type) {
    case REG_DWORD:
      if (data.size() != 4) break;
      snprintf(buf, sizeof buf, "dword 0x%08x", data[0] | (data[1] << 8) | (data[2] << 16) | (data[3] << 24));
      return buf;
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::u16string s = wide();
      while (!s.empty() && s.back() == 0) s.pop_back();
      return "sz " + ce::ToUtf8(s);
    }
    case REG_MULTI_SZ: {
      std::string out = "multi_sz";
      for (const auto& p : SplitMulti(wide())) out += " [" + ce::ToUtf8(p) + "]";
      return out;
    }
  }
  std::string out = "binary";
  for (BYTE b : data) {
    snprintf(buf, sizeof buf, " %02x", b);
    out += buf;
  }
  return out;
}

// "  KEY" and one line per value.
std::string KeyDump(const std::u16string& path) {
  std::string out = "  " + ce::ToUtf8(path);
  HKEY root = nullptr;
  std::u16string sub;
  for (auto [prefix, hive] : {std::pair{u"HKLM\\", HKEY_LOCAL_MACHINE}, std::pair{u"HKCU\\", HKEY_CURRENT_USER}}) {
    if (path.compare(0, 5, prefix) == 0) {
      root = hive;
      sub = path.substr(5);
    }
  }
  HKEY key = nullptr;
  if (!root || RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out + " (missing)\n";
  out += "\n";
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD nameLen = 256, type = 0, size = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::vector<BYTE> data(size);
    DWORD got = size;
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &got) != ERROR_SUCCESS) continue;
    data.resize(got);
    out += "    " + ce::ToUtf8(std::u16string(name, nameLen)) + " = " + ValueText(type, data) + "\n";
  }
  RegCloseKey(key);
  return out;
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  std::u16string log = ConfigText(u"LogFile", REG_SZ);
  while (!log.empty() && log.back() == 0) log.pop_back();
  if (log.empty()) log = u"\\Recorder.log";
  WCHAR state[64] = {};
  DWORD flags = 0;
  if (!GetSystemPowerState(state, 64, &flags)) state[0] = 0;
  std::string entry = standin::LocalTimeText() + " " + ce::ToUtf8(ce::OwnProgramPath()) + " \"" +
                      ce::ToUtf8(cmdLine ? cmdLine : u"") + "\" power=" + ce::ToUtf8(state) + "\n";
  for (const auto& key : SplitMulti(ConfigText(u"Keys", REG_MULTI_SZ))) entry += KeyDump(key);
  return standin::AppendToDeviceFile(log, entry) ? 0 : 1;
}

CE_DEVICE_PROGRAM(WinMain)
