#include "tools/pkginstall/Package.h"

#include "ce/text.h"
#include "tools/pkginstall/PackageFormat.h"

namespace pkg {

namespace fmt = PackageFormat;

namespace {

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> SplitFields(const std::string& s, char sep) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t at = s.find(sep, start);
    fields.push_back(Trim(s.substr(start, at == std::string::npos ? std::string::npos : at - start)));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return fields;
}

bool IsDevicePath(const std::string& s) { return !s.empty() && s[0] == '\\'; }

bool IsKeyPath(const std::string& s) {
  return (s.rfind("HKLM\\", 0) == 0 || s.rfind("HKCU\\", 0) == 0) && s.size() > 5;
}

}  // namespace

bool ParseManifest(const std::string& text, Manifest* out, std::string* error) {
  Manifest m;
  std::string folder;
  size_t lineNo = 0, start = 0;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(lineNo) + ": " + why;
    return false;
  };
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    const std::string line = Trim(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = end == std::string::npos ? text.size() + 1 : end + 1;
    ++lineNo;
    if (line.empty() || line[0] == fmt::kComment) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected key = value");
    const std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    if (key != fmt::kName && key != fmt::kFolder) {
      for (size_t at; (at = value.find(fmt::kInstallDirMacro)) != std::string::npos;) {
        if (folder.empty()) return fail("%InstallDir% before the folder line");
        value.replace(at, std::char_traits<char>::length(fmt::kInstallDirMacro), folder);
      }
    }
    if (key == fmt::kName) {
      if (value.empty() || value.find_first_of("\\/:*?\"<>|") != std::string::npos)
        return fail("a package name is a plain file name");
      m.name = ce::FromUtf8(value);
    } else if (key == fmt::kFolder) {
      if (!IsDevicePath(value)) return fail("the folder is a device path");
      folder = value;
      m.folder = ce::FromUtf8(value);
    } else if (key == fmt::kSetup) {
      m.setup = ce::FromUtf8(value);
    } else if (key == fmt::kFile || key == fmt::kShortcut) {
      std::vector<std::string> f = SplitFields(value, fmt::kTargetSeparator);
      if (key == fmt::kFile && f.size() == 1 && IsDevicePath(f[0])) {
        m.files.push_back({u"", ce::FromUtf8(f[0])});  // a record names the target alone
        continue;
      }
      if (f.size() != 2 || f[0].empty() || f[1].empty()) return fail("expected SOURCE > TARGET");
      if (key == fmt::kFile) {
        if (!IsDevicePath(f[1])) return fail("a file's target is a device path");
        m.files.push_back({ce::FromUtf8(f[0]), ce::FromUtf8(f[1])});
      } else {
        if (!IsDevicePath(f[0])) return fail("a shortcut's path is a device path");
        m.shortcuts.push_back({ce::FromUtf8(f[0]), ce::FromUtf8(f[1])});
      }
    } else if (key == fmt::kReg) {
      std::vector<std::string> f = SplitFields(value, fmt::kFieldSeparator);
      if (f.size() != 4 || !IsKeyPath(f[0])) return fail("expected HIVE\\KEY | NAME | TYPE | DATA");
      if (f[2] != fmt::kTypeDword && f[2] != fmt::kTypeString) return fail("a value's type is dword or sz");
      m.values.push_back({ce::FromUtf8(f[0]), ce::FromUtf8(f[1]), f[2], ce::FromUtf8(f[3])});
    } else if (key == fmt::kKey) {
      if (!IsKeyPath(value)) return fail("expected HIVE\\KEY");
      m.keys.push_back(ce::FromUtf8(value));
    } else if (key == fmt::kGuard && IsKeyPath(value)) {
      m.guardKeys.push_back(ce::FromUtf8(value));
    } else if (key == fmt::kGuard || key == fmt::kMade) {
      if (!IsDevicePath(value)) return fail("expected a device path or HIVE\\KEY");
      (key == fmt::kGuard ? m.guards : m.madeFolders).push_back(ce::FromUtf8(value));
    } else {
      return fail("unknown key " + key);
    }
  }
  if (m.name.empty()) return fail("the package has no name");
  if (m.folder.empty()) return fail("the package has no folder");
  *out = std::move(m);
  return true;
}

std::string FormatManifest(const Manifest& m) {
  auto u = [](const std::u16string& s) { return ce::ToUtf8(s); };
  std::string t;
  t += std::string(fmt::kName) + " = " + u(m.name) + "\n";
  t += std::string(fmt::kFolder) + " = " + u(m.folder) + "\n";
  if (!m.setup.empty()) t += std::string(fmt::kSetup) + " = " + u(m.setup) + "\n";
  for (const auto& f : m.files)
    t += std::string(fmt::kFile) + " = " + (f.source.empty() ? "" : u(f.source) + " > ") + u(f.target) + "\n";
  for (const auto& v : m.values)
    t += std::string(fmt::kReg) + " = " + u(v.key) + " | " + u(v.name) + " | " + v.type + " | " + u(v.data) + "\n";
  for (const auto& s : m.shortcuts) t += std::string(fmt::kShortcut) + " = " + u(s.path) + " > " + u(s.target) + "\n";
  for (const auto& k : m.keys) t += std::string(fmt::kKey) + " = " + u(k) + "\n";
  for (const auto& g : m.guards) t += std::string(fmt::kGuard) + " = " + u(g) + "\n";
  for (const auto& g : m.guardKeys) t += std::string(fmt::kGuard) + " = " + u(g) + "\n";
  for (const auto& d : m.madeFolders) t += std::string(fmt::kMade) + " = " + u(d) + "\n";
  return t;
}

}  // namespace pkg
