#include "tools/cedev/Install.h"

#include <fstream>
#include <sstream>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/system.h"
#include "ce/text.h"
#include "cesim/device.h"

namespace fs = std::filesystem;

namespace cedev {

const std::vector<Deliverable>& Deliverables() {
  static const std::vector<Deliverable> kList = {
      {{"Quilmo Backup", "QuilmoBackup"}, u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe", true},
      {{"QuilmoStart"}, u"\\Windows\\QuilmoStart.exe", true},
      {{"QuilmoStart"}, u"\\Program Files\\Quilmo Backup\\QuilmoStart.exe", true},
      {{"QuilmoInit"}, u"\\Windows\\QuilmoInit.exe", true},
      {{"Halvey"}, u"\\Windows\\Halvey.exe", true},
      {{"Ombric"}, u"\\Windows\\Ombric.exe", true},
      {{"QuilmoRes.dll"}, u"\\Windows\\QuilmoRes.dll", false},
      // Stand-ins for programs outside the product.
      {{"closable"}, u"\\Windows\\closable.exe", true},
      {{"Merrow"}, u"\\Windows\\Merrow.exe", true},
      {{"QuilmoWakeUpService"}, u"\\Windows\\QuilmoWakeUpService.exe", true},
      {{"recorder"}, u"\\Windows\\recorder.exe", true},
  };
  return kList;
}

fs::path OwnBinDir() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

namespace {

bool MakeFolders(const std::u16string& devicePath, std::string* error) {
  for (size_t pos = devicePath.find(u'\\', 1); pos != std::u16string::npos; pos = devicePath.find(u'\\', pos + 1)) {
    std::u16string folder = devicePath.substr(0, pos);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = ce::ToUtf8(folder) + ": cannot make the folder (" + ce::DescribeError(GetLastError()) + ")";
      return false;
    }
  }
  return true;
}

bool PutFile(const fs::path& host, const Deliverable& d, std::string* error) {
  std::ifstream in(host, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string data = ss.str();
  const std::string shown = ce::ToUtf8(d.devicePath);
  if (!in) {
    *error = "cannot read " + host.string();
    return false;
  }
  if (!MakeFolders(d.devicePath, error)) return false;
  HANDLE h = CreateFileW(d.devicePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = shown + ": cannot write (" + ce::DescribeError(GetLastError()) + ")";
    return false;
  }
  DWORD written = 0;
  bool ok = data.empty() || (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                             written == data.size());
  DWORD err = GetLastError();
  if (!CloseHandle(h) && ok) {
    ok = false;
    err = GetLastError();
  }
  if (!ok) {
    *error = shown + ": write failed (" + ce::DescribeError(err) + ")";
    return false;
  }
  ce::ResolvedPath rp;
  if (d.program && ce::Device::Current()->Resolve(d.devicePath, &rp)) {
    std::error_code ec;
    fs::permissions(rp.host, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
  }
  return true;
}

}  // namespace

bool InstallDeliverables(const fs::path& binDir, std::vector<std::string>* lines, std::string* error) {
  for (const auto& d : Deliverables()) {
    fs::path found;
    for (const auto& name : d.hostNames) {
      std::error_code ec;
      if (fs::is_regular_file(binDir / name, ec)) {
        found = binDir / name;
        break;
      }
    }
    if (found.empty()) {
      lines->push_back("not built: " + d.hostNames.front() + " (" + ce::ToUtf8(d.devicePath) + ")");
      continue;
    }
    if (!PutFile(found, d, error)) return false;
    lines->push_back("installed " + ce::ToUtf8(d.devicePath) + " from " + found.string());
  }
  return true;
}

}  // namespace cedev
