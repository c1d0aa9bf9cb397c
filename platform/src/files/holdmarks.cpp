// The marks of keys that may have a hold, in a table shared through the
// device folder.
#include "files/holdmarks.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "files/sharelock.h"

namespace ce::filestate {
namespace {

constexpr size_t kBuckets = 8192;
constexpr const char* kTableName = "files.holds";

size_t BucketOf(std::u16string_view key) {
  uint32_t h = 2166136261u;  // FNV-1a over the UTF-16 units
  for (char16_t c : key) {
    h ^= c;
    h *= 16777619u;
  }
  return h % kBuckets;
}

// A table as this process sees it: mapped, or damaged (too short: no
// process trusts it, every key may have a hold).
struct Table {
  uint8_t* marks = nullptr;
  bool damaged = false;
};

uint8_t* Map(int fd) {
  void* p = mmap(nullptr, kBuckets, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

// Marks the buckets of the share table's rows in a table not yet named.
bool FillFromRows(Device* dev, uint8_t* marks) {
  std::lock_guard<std::recursive_mutex> g(dev->DbLock());
  Stmt s(dev, "SELECT key FROM file_open");
  if (!s.ok()) {
    // A device whose share table is not made yet has no rows.
    Stmt t(dev, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='file_open'");
    return t.ok() && !t.Step();
  }
  int rc;
  while ((rc = sqlite3_step(s.raw())) == SQLITE_ROW) marks[BucketOf(s.Text16(0))] = 1;
  return rc == SQLITE_DONE;
}

// A new table, filled from the share table's rows and then named; when
// another process named one first, that one. Marks null on a failure.
Table MakeTable(Device* dev, const std::filesystem::path& path, bool* lost) {
  *lost = false;
  std::string temp;
  UniqueFd fd(open(dev->Dir().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
  if (!fd.valid()) {
    temp = path.string() + "." + std::to_string(Device::ProcessId());
    fd = UniqueFd(open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  }
  uint8_t* marks = fd.valid() && ftruncate(fd.get(), kBuckets) == 0 ? Map(fd.get()) : nullptr;
  bool named = false;
  int err = 0;
  if (marks && FillFromRows(dev, marks)) {
    if (temp.empty()) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
      named = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
    } else {
      named = link(temp.c_str(), path.c_str()) == 0;
    }
    err = errno;
  }
  if (!temp.empty()) unlink(temp.c_str());  // a leftover name only litters the folder
  if (named) return Table{marks, false};
  if (marks) munmap(marks, kBuckets);
  *lost = err == EEXIST;
  return Table{};
}

Table OpenTable(Device* dev) {
  const std::filesystem::path path = dev->Dir() / kTableName;
  for (int attempt = 0; attempt < 4; ++attempt) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.valid()) {
      struct stat st;
      if (fstat(fd.get(), &st) != 0) return Table{};
      if (st.st_size < static_cast<off_t>(kBuckets)) return Table{nullptr, true};
      return Table{Map(fd.get()), false};
    }
    if (errno != ENOENT) return Table{};
    bool lost = false;
    Table made = MakeTable(dev, path, &lost);
    if (!lost) return made;  // made, or failed for good
  }
  return Table{};
}

// This process's view of dev's table (the mapping outlives forks); a
// failure is tried again on the next call.
Table TableOf(Device* dev) {
  static std::mutex lock;
  static auto* tables = new std::map<Device*, Table>;  // lives as long as the process
  std::lock_guard<std::mutex> g(lock);
  auto it = tables->find(dev);
  if (it != tables->end()) return it->second;
  Table t = OpenTable(dev);
  if (t.marks || t.damaged) (*tables)[dev] = t;
  return t;
}

}  // namespace

bool MarkHold(Device* dev, const std::u16string& key) {
  Table t = TableOf(dev);
  if (t.damaged) return true;
  if (!t.marks) return false;
  std::atomic_ref<uint8_t>(t.marks[BucketOf(key)]).store(1, std::memory_order_release);
  return true;
}

bool MayHaveHold(Device* dev, const std::u16string& key) {
  Table t = TableOf(dev);
  if (!t.marks) return true;
  return std::atomic_ref<uint8_t>(t.marks[BucketOf(key)]).load(std::memory_order_acquire) != 0;
}

}  // namespace ce::filestate
