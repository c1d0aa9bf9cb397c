// Spare host files kept from replaces for the next new files.
#include "files/spares.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ce::filestate {
namespace {

constexpr const char* kFolderName = "spares";
// A restore needs one at a time; a few more cover a caller that replaces
// several files before it makes the next.
constexpr size_t kMaxSpares = 4;

// This process's spares of one device, and what it knows of the folder.
struct Pool {
  bool ready = false;     // the folder exists and its file system is known
  dev_t fsDev = 0;        // the folder's file system
  std::string fsRoot;     // the device's fs/ folder, as a prefix
  uint64_t forks = 0;     // Forks() when the spares were kept
  uint64_t seq = 0;       // the next spare's number in this process
  std::vector<std::filesystem::path> spares;  // emptied, ready for a new file
};

std::mutex gLock;

Pool& PoolOf(Device* dev) {
  static auto* pools = new std::map<std::string, Pool>;  // lives as long as the process
  Pool& p = (*pools)[dev->Dir().string()];
  // After a fork the parent and the child know the same names: neither
  // takes them (a boot removes them).
  if (p.forks != Forks()) {
    p.spares.clear();
    p.forks = Forks();
  }
  return p;
}

std::filesystem::path FolderOf(Device* dev) { return dev->Dir() / kFolderName; }

// Makes the folder once per process; false when it cannot be had.
bool Ready(Device* dev, Pool& p) {
  if (p.ready) return true;
  const std::filesystem::path folder = FolderOf(dev);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  p.fsDev = st.st_dev;
  p.fsRoot = dev->FsRoot().string() + "/";
  p.ready = true;
  return true;
}

// The mode a new file gets (0666 less the process's umask, read without
// changing it).
mode_t NewFileMode() {
  static const mode_t mode = [] {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("Umask:", 0) == 0) {
        mask = static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
        break;
      }
    }
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// Opens a kept spare for a new file: a regular file with no other name,
// emptied and given a new file's mode. Invalid when it is not fit.
UniqueFd OpenSpare(const std::filesystem::path& path) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid()) return fd;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      (st.st_size != 0 && ftruncate(fd.get(), 0) != 0) ||
      ((st.st_mode & 07777) != NewFileMode() && fchmod(fd.get(), NewFileMode()) != 0))
    return UniqueFd();
  return fd;
}

}  // namespace

SpareOffer OfferSpare(Device* dev, const struct stat& st) {
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return {};
  std::lock_guard<std::mutex> g(gLock);
  Pool& p = PoolOf(dev);
  if (p.spares.size() >= kMaxSpares || !Ready(dev, p) || st.st_dev != p.fsDev) return {};
  SpareOffer offer;
  offer.path = FolderOf(dev) / (std::to_string(Device::ProcessId()) + "-" + std::to_string(p.seq++));
  return offer;
}

bool PutSpare(const SpareOffer& offer, const std::filesystem::path& host) {
  // No replace: a name left by an earlier process of the same id stays.
  return renameat2(AT_FDCWD, host.c_str(), AT_FDCWD, offer.path.c_str(), RENAME_NOREPLACE) == 0;
}

void SettleSpare(Device* dev, SpareOffer offer, bool put, int fd, bool writable) {
  if (!offer.made() || !put) return;
  // Emptied now, as the replaced file's blocks were freed at its last
  // close before; a failure only costs the spare.
  if (!writable || ftruncate(fd, 0) != 0) {
    unlink(offer.path.c_str());
    return;
  }
  std::lock_guard<std::mutex> g(gLock);
  Pool& p = PoolOf(dev);
  if (p.spares.size() >= kMaxSpares) {
    unlink(offer.path.c_str());
    return;
  }
  p.spares.push_back(std::move(offer.path));
}

bool TakeSpare(Device* dev, const std::filesystem::path& folder, Spare* out) {
  std::lock_guard<std::mutex> g(gLock);
  Pool& p = PoolOf(dev);
  // Only folders of the device's own tree: a network share's host folder
  // may lie on another file system.
  if (p.spares.empty() || !p.ready || (folder.native() + "/").rfind(p.fsRoot, 0) != 0) return false;
  while (!p.spares.empty()) {
    std::filesystem::path path = std::move(p.spares.back());
    p.spares.pop_back();
    UniqueFd fd = OpenSpare(path);
    if (fd.valid()) {
      out->fd = std::move(fd);
      out->path = std::move(path);
      return true;
    }
    unlink(path.c_str());
  }
  return false;
}

bool NameSpare(const Spare& spare, const std::filesystem::path& host) {
  if (renameat2(AT_FDCWD, spare.path.c_str(), AT_FDCWD, host.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL) return false;
  // A file system without the flag: a link is just as exclusive.
  if (link(spare.path.c_str(), host.c_str()) != 0) return false;
  unlink(spare.path.c_str());
  return true;
}

void DropSpare(Spare* spare) {
  if (!spare->path.empty()) unlink(spare->path.c_str());
  spare->path.clear();
  spare->fd.Reset();
}

void ClearSpares(Device* dev) {
  {
    std::lock_guard<std::mutex> g(gLock);
    PoolOf(dev).spares.clear();
  }
  const std::filesystem::path folder = FolderOf(dev);
  DIR* d = opendir(folder.c_str());
  if (!d) return;  // none made yet
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    unlinkat(dirfd(d), e->d_name, 0);  // one left behind is removed at the next boot
  }
  closedir(d);
}

}  // namespace ce::filestate
