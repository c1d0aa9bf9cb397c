#include "tools/cedev/Install.h"

#include <fstream>
#include <sstream>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"
#include "cesim/device.h"

namespace fs = std::filesystem;

namespace cedev {

const std::vector<Deliverable>& Deliverables() {
  static const std::vector<Deliverable> kList = {
      {{"pkginstall"}, u"\\Windows\\pkginstall.exe", true},
      // Stand-ins for programs and libraries outside the product.
      {{"closable"}, u"\\Windows\\closable.exe", true},
      {{"Merrow"}, u"\\Windows\\Merrow.exe", true},
      {{"QuilmoWakeUpService"}, u"\\Windows\\QuilmoWakeUpService.exe", true},
      {{"recorder"}, u"\\Windows\\recorder.exe", true},
      {{"CeSetup.dll"}, u"\\Tools\\CeSetup.dll", false},
      // Credant's security library, on devices whose profile has
      // credant_library = on (the main program refuses to run beside it).
      {{"CMGLib.dll"}, u"\\Windows\\CMGLib.dll", false,
       [](const ce::Profile& profile) { return profile.credantLibrary; }},
  };
  return kList;
}

fs::path ProductPackage(const fs::path& binDir) { return binDir.parent_path() / "package" / "QuilmoBackup"; }

bool IsPackageFolder(const fs::path& folder) {
  std::error_code ec;
  return fs::is_regular_file(folder / "package.txt", ec);
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

bool PutFile(const fs::path& host, const Deliverable& d, std::string* error);

constexpr const char16_t* kInstaller = u"\\Windows\\pkginstall.exe";
constexpr const char16_t* kPackageDrop = u"\\temp\\Packages";

// Where a package waits while it is installed: on the first storage card
// when the device has one (as packages usually arrive, and so that the
// package and what it installs need not both fit the object store), else
// in "\temp".
std::u16string PackageDropRoot() {
  const ce::Device* dev = ce::Device::Current();
  if (dev && !dev->GetProfile().cards.empty()) {
    const std::u16string card = u"\\" + dev->GetProfile().cards.front();
    const DWORD a = GetFileAttributesW(card.c_str());
    if (a != 0xFFFFFFFFu && (a & FILE_ATTRIBUTE_DIRECTORY)) return card + u"\\Packages";
  }
  return kPackageDrop;
}

// Removes a device folder with everything in it; what cannot go stays.
void RemoveDeviceTree(const std::u16string& folder) {
  WIN32_FIND_DATAW fd{};
  HANDLE h = FindFirstFileW((folder + u"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::u16string child = folder + u"\\" + fd.cFileName;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDeviceTree(child);
      else
        (void)DeleteFileW(child.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  (void)RemoveDirectoryW(folder.c_str());
}

bool RunInstaller(const std::u16string& commandLine, unsigned* exitCode, std::string* error) {
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(kInstaller, commandLine.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
    *error = "cannot start " + ce::ToUtf8(kInstaller) + " (" + ce::DescribeError(GetLastError()) + ")";
    return false;
  }
  DWORD code = 0;
  const bool ended = WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (!ended) {
    *error = "lost the package installer";
    return false;
  }
  *exitCode = code;
  return true;
}

}  // namespace

bool RunPackageInstall(const fs::path& package, unsigned* exitCode, std::string* error) {
  if (!IsPackageFolder(package)) {
    *error = "no package at " + package.string() + " (a folder with package.txt)";
    return false;
  }
  std::error_code ec;
  fs::path leaf = fs::weakly_canonical(package, ec).filename();
  if (leaf.empty()) leaf = "package";
  const std::u16string dropRoot = PackageDropRoot();
  const std::u16string drop = dropRoot + u"\\" + ce::FromUtf8(leaf.string());
  RemoveDeviceTree(drop);
  for (const auto& entry : fs::directory_iterator(package, ec)) {
    if (!entry.is_regular_file()) continue;
    Deliverable d{{}, drop + u"\\" + ce::FromUtf8(entry.path().filename().string()), false};
    if (!PutFile(entry.path(), d, error)) return false;
  }
  if (ec) {
    *error = "cannot list " + package.string();
    return false;
  }
  const bool ran = RunInstaller(u"install \"" + drop + u"\"", exitCode, error);
  RemoveDeviceTree(drop);
  (void)RemoveDirectoryW(dropRoot.c_str());  // only when no other package waits there
  return ran;
}

bool RunPackageUninstall(const std::string& name, unsigned* exitCode, std::string* error) {
  return RunInstaller(u"uninstall \"" + ce::FromUtf8(name) + u"\"", exitCode, error);
}

namespace {

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
  const ce::Device* dev = ce::Device::Current();
  for (const auto& d : Deliverables()) {
    if (d.wanted && !(dev && d.wanted(dev->GetProfile()))) continue;
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
