// Network shares (ce/netconn.h, cesim/share.h): the profile offers them, a
// link below "\Network" connects one, the registry keeps its record.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "ce/errors.h"
#include "ce/netconn.h"
#include "ce/registry.h"
#include "cesim/share.h"
#include "files/filestate.h"
#include "files/sharelock.h"

namespace ce {
namespace {

namespace fs = std::filesystem;
using filestate::Dev;

// The host folder of "\Network", made when missing.
std::optional<fs::path> NetworkHostFolder(Device* dev) {
  ResolvedPath r;
  if (!dev->Resolve(kNetworkFolder, &r)) return std::nullopt;
  if (!r.exists) {
    std::error_code ec;
    fs::create_directory(r.host, ec);
    if (ec) {
      SetLastError(ErrorFromErrno(ec.value()));
      return std::nullopt;
    }
  } else if (!r.isDirectory) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  return r.host;
}

bool IsLink(const fs::path& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The offered share a caller names: "NAME", "\Network\NAME" or its UNC name.
std::optional<NetworkShare> FindOffered(Device* dev, std::u16string_view name) {
  dev->ReloadProfile();  // best effort: the copy in memory serves when unreadable
  std::u16string_view folder = kNetworkFolder;
  if (name.size() > folder.size() + 1 && EqualNoCase(name.substr(0, folder.size()), folder) &&
      name[folder.size()] == u'\\') {
    name.remove_prefix(folder.size() + 1);
  }
  for (const NetworkShare& s : dev->GetProfile().shares) {
    if (EqualNoCase(s.name, name) || EqualNoCase(ShareRemoteName(s.name), name)) return s;
  }
  return std::nullopt;
}

std::u16string ConnectionKey(std::u16string_view name) {
  return std::u16string(kConnectionsKey) + u"\\" + std::u16string(name);
}

bool WriteConnectionRecord(const NetworkShare& s) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  std::u16string path = ConnectionKey(s.name);
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return false;
  }
  std::u16string remote = ShareRemoteName(s.name);
  const DWORD type = RESOURCETYPE_DISK;
  rc = RegSetValueExW(key, u"RemoteName", 0, REG_SZ, reinterpret_cast<const BYTE*>(remote.c_str()),
                      static_cast<DWORD>((remote.size() + 1) * sizeof(char16_t)));
  if (rc == ERROR_SUCCESS)
    rc = RegSetValueExW(key, u"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
  return rc == ERROR_SUCCESS;
}

// Removes the record's values; a record that is not there is no failure.
void RemoveConnectionRecord(std::u16string_view name) {
  HKEY key = nullptr;
  std::u16string path = ConnectionKey(name);
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return;
  // Missing values are fine: the record may have been written in part.
  RegDeleteValueW(key, u"RemoteName");
  RegDeleteValueW(key, u"Type");
  RegCloseKey(key);
}

}  // namespace

std::u16string ShareRemoteName(std::u16string_view name) {
  return u"\\\\" + std::u16string(kShareServer) + u"\\" + std::u16string(name);
}

std::vector<ShareState> ListShares() {
  std::vector<ShareState> out;
  Device* dev = Dev();
  if (!dev) return out;
  dev->ReloadProfile();
  std::optional<fs::path> net = NetworkHostFolder(dev);
  for (const NetworkShare& s : dev->GetProfile().shares) {
    out.push_back({s, net && IsLink(*net / ToUtf8(s.name))});
  }
  return out;
}

bool OfferShare(std::u16string_view name, const fs::path& hostDir) {
  Device* dev = Dev();
  if (!dev) return false;
  if (!hostDir.is_absolute()) {
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
  }
  bool bad = name.empty() || name == u"." || name == u"..";
  for (char16_t c : name) bad = bad || c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos;
  if (bad) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  DWORD error = ERROR_SUCCESS;
  bool ok = dev->UpdateProfile([&](Profile& p) {
    for (const NetworkShare& s : p.shares) {
      if (EqualNoCase(s.name, name)) error = ERROR_ALREADY_EXISTS;
    }
    if (error == ERROR_SUCCESS) p.shares.push_back({std::u16string(name), hostDir});
  });
  if (!ok) error = ERROR_CANTWRITE;
  if (error != ERROR_SUCCESS) SetLastError(error);
  return error == ERROR_SUCCESS;
}

bool WithdrawShare(std::u16string_view name) {
  Device* dev = Dev();
  if (!dev) return false;
  std::optional<NetworkShare> s = FindOffered(dev, name);
  if (!s) {
    SetLastError(ERROR_BAD_NET_NAME);
    return false;
  }
  if (!DisconnectShare(s->name, true, true) && GetLastError() != ERROR_NOT_CONNECTED) return false;
  bool ok = dev->UpdateProfile([&](Profile& p) {
    std::erase_if(p.shares, [&](const NetworkShare& x) { return EqualNoCase(x.name, s->name); });
  });
  if (!ok) SetLastError(ERROR_CANTWRITE);
  return ok;
}

bool ConnectShare(std::u16string_view name, std::u16string* folder) {
  Device* dev = Dev();
  if (!dev) return false;
  std::optional<NetworkShare> s = FindOffered(dev, name);
  if (!s) {
    SetLastError(ERROR_BAD_NET_NAME);
    return false;
  }
  std::optional<fs::path> net = NetworkHostFolder(dev);
  if (!net) return false;
  // A share is one folder below "\Network", whatever case it is asked in.
  ResolvedPath r;
  if (!dev->Resolve(std::u16string(kNetworkFolder) + u"\\" + s->name, &r)) return false;
  if (IsLink(r.host) || fs::exists(fs::symlink_status(r.host))) {
    SetLastError(ERROR_ALREADY_ASSIGNED);
    return false;
  }
  std::error_code ec;
  fs::create_directory_symlink(s->hostDir, *net / ToUtf8(s->name), ec);
  if (ec) {
    SetLastError(ErrorFromErrno(ec.value()));
    return false;
  }
  filestate::InvalidateUsed();
  if (!WriteConnectionRecord(*s)) {
    DWORD err = GetLastError();
    fs::remove(*net / ToUtf8(s->name), ec);  // no connection without its record
    SetLastError(err);
    return false;
  }
  if (folder) *folder = std::u16string(kNetworkFolder) + u"\\" + s->name;
  return true;
}

bool DisconnectShare(std::u16string_view name, bool updateProfile, bool force) {
  Device* dev = Dev();
  if (!dev) return false;
  std::optional<NetworkShare> s = FindOffered(dev, name);
  std::optional<fs::path> net = s ? NetworkHostFolder(dev) : std::nullopt;
  const fs::path link = net ? *net / ToUtf8(s->name) : fs::path();
  if (!s || !net || !IsLink(link)) {
    SetLastError(ERROR_NOT_CONNECTED);
    return false;
  }
  const std::u16string key = DeviceUpper(std::u16string(kNetworkFolder) + u"\\" + s->name);
  // Opens keep their share bits as locks on the host files; the tree lock
  // keeps new opens out until the link is gone.
  filestate::TreeLock tree(dev, /*exclusive=*/true);
  if (!force && (filestate::IsOpenBelow(dev, key) || filestate::AnyBitsBelow(s->hostDir))) {
    SetLastError(ERROR_OPEN_FILES);
    return false;
  }
  std::error_code ec;
  fs::remove(link, ec);  // the link only: the host folder stays
  if (ec) {
    SetLastError(ErrorFromErrno(ec.value()));
    return false;
  }
  filestate::InvalidateUsed();
  if (updateProfile) RemoveConnectionRecord(s->name);
  return true;
}

}  // namespace ce

DWORD WNetCancelConnection2W(LPCWSTR name, DWORD flags, BOOL force) {
  if (name == nullptr || *name == 0) return ERROR_INVALID_PARAMETER;
  if (ce::DisconnectShare(name, (flags & CONNECT_UPDATE_PROFILE) != 0, force != FALSE)) return NO_ERROR;
  return GetLastError();
}
