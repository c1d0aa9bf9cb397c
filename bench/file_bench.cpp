// The device layer's file calls, per call, beside plain POSIX calls made on
// the same host folder in the same run:
//   open+close        CreateFileW (read, existing) + CloseHandle
//                     against open(O_RDONLY) + close;
//   open+read+close   the same with one 4 KB ReadFile / read in between;
//   create+write+times+close
//                     CreateFileW (CREATE_ALWAYS) + 4 KB WriteFile +
//                     SetFileTime (all three times) + CloseHandle against
//                     open(O_CREAT|O_TRUNC) + write + futimens + close;
//   find walk         FindFirstFileW("...\*") + FindNextFileW to the end +
//                     FindClose over a folder of --files entries against
//                     opendir + readdir + fstatat of each entry + closedir.
// The device's files live in fs/Device, the baseline's in fs/Posix, side by
// side on the same host folder.
//
//   file_bench [--files N] [--reps N] [--only ROW] [--dir HOSTDIR] [--keep]
//
// --only 1..4 measures one row (for a profiler).
//
// Times are the best of --reps runs, in the thread's CPU microseconds (user
// and system) and wall-clock microseconds per file; the ratio is device
// over POSIX. Exit code 0 when every call succeeded.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "cesim/device.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kBlock = 4096;

struct Options {
  int files = 1000;
  int reps = 5;
  int only = 0;
  fs::path dir;
  bool keep = false;
};

struct Subject {
  std::vector<std::u16string> device;  // device paths under \Device
  std::vector<std::string> host;       // host paths under fs/Posix
  fs::path posixFolder;
};

std::string Name(int i) { return "file " + std::to_string(i) + ".dat"; }

bool Setup(const Options& o, Subject* s) {
  s->posixFolder = ce::Device::Current()->FsRoot() / "Posix";
  std::error_code ec;
  fs::create_directories(s->posixFolder, ec);
  if (ec || !CreateDirectoryW(u"\\Device", nullptr)) return false;
  std::string block(kBlock, 'q');
  for (int i = 0; i < o.files; ++i) {
    s->device.push_back(u"\\Device\\" + ce::FromUtf8(Name(i)));
    s->host.push_back((s->posixFolder / Name(i)).string());
    HANDLE h = CreateFileW(s->device.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    if (h == INVALID_HANDLE_VALUE || !WriteFile(h, block.data(), kBlock, &n, nullptr) || !CloseHandle(h))
      return false;
    int fd = open(s->host.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, block.data(), kBlock) != static_cast<ssize_t>(kBlock) || close(fd) != 0) return false;
  }
  return true;
}

// The device's calls ---------------------------------------------------------

bool DeviceOpenClose(const Subject& s, bool read) {
  std::vector<char> buf(kBlock);
  for (const auto& p : s.device) {
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    bool ok = !read || (ReadFile(h, buf.data(), kBlock, &n, nullptr) && n == kBlock);
    if (!CloseHandle(h) || !ok) return false;
  }
  return true;
}

bool DeviceCreate(const Subject& s) {
  std::vector<char> buf(kBlock, 'w');
  const FILETIME t{0x12345678u, 0x01c6a000u};
  for (const auto& p : s.device) {
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    bool ok = WriteFile(h, buf.data(), kBlock, &n, nullptr) && n == kBlock && SetFileTime(h, &t, &t, &t);
    if (!CloseHandle(h) || !ok) return false;
  }
  return true;
}

bool DeviceFind(size_t want) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(u"\\Device\\*", &d);
  if (h == INVALID_HANDLE_VALUE) return false;
  size_t seen = 1;
  while (FindNextFileW(h, &d)) ++seen;
  bool ended = GetLastError() == ERROR_NO_MORE_FILES;
  return FindClose(h) && ended && seen == want;
}

// The same calls on the host ---------------------------------------------------

bool PosixOpenClose(const Subject& s, bool read) {
  std::vector<char> buf(kBlock);
  for (const auto& p : s.host) {
    int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = !read || ::read(fd, buf.data(), kBlock) == static_cast<ssize_t>(kBlock);
    if (close(fd) != 0 || !ok) return false;
  }
  return true;
}

bool PosixCreate(const Subject& s) {
  std::vector<char> buf(kBlock, 'w');
  const struct timespec times[2] = {{1150000000, 0}, {1150000000, 0}};
  for (const auto& p : s.host) {
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = write(fd, buf.data(), kBlock) == static_cast<ssize_t>(kBlock) && futimens(fd, times) == 0;
    if (close(fd) != 0 || !ok) return false;
  }
  return true;
}

bool PosixFind(const fs::path& folder, size_t want) {
  DIR* d = opendir(folder.c_str());
  if (!d) return false;
  size_t seen = 0;
  bool ok = true;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2]))) continue;
    struct stat st;
    ok = ok && fstatat(dirfd(d), e->d_name, &st, 0) == 0;
    ++seen;
  }
  closedir(d);
  return ok && seen == want;
}

// ------------------------------------------------------------------------------

struct Row {
  const char* name;
  Times device, posix;
};

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--keep") o.keep = true;
    else if (a == "--files" && (v = value())) o.files = std::max(1, atoi(v));
    else if (a == "--reps" && (v = value())) o.reps = std::max(1, atoi(v));
    else if (a == "--only" && (v = value())) o.only = std::clamp(atoi(v), 0, 4);
    else if (a == "--dir" && (v = value())) o.dir = v;
    else {
      std::fprintf(stderr, "usage: file_bench [--files N] [--reps N] [--only ROW] [--dir HOSTDIR] [--keep]\n");
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) return 2;
  if (o.dir.empty()) o.dir = fs::temp_directory_path() / ("quilmo-file-bench-" + std::to_string(getpid()));
  std::error_code ec;
  fs::remove_all(o.dir, ec);
  std::string error;
  Subject s;
  if (!ce::Device::Create(o.dir, ce::Profile{}, &error) || !ce::Device::Use(o.dir) || !Setup(o, &s)) {
    std::fprintf(stderr, "device set-up failed: %s %u\n", error.c_str(), GetLastError());
    return 2;
  }

  std::vector<Row> rows = {{"open+close", {}, {}},
                           {"open+read 4 KB+close", {}, {}},
                           {"create+write 4 KB+times+close", {}, {}},
                           {"find walk", {}, {}}};
  const size_t files = s.device.size();
  bool ok = true;
  // Device and baseline take turns in each round, so that a change in the
  // machine's load meets both.
  auto run = [&](int row) { return o.only == 0 || o.only == row + 1; };
  for (int r = 0; r < o.reps && ok; ++r) {
    ok = (!run(0) || (Measure(rows[0].device, [&] { return DeviceOpenClose(s, false); }) &&
                      Measure(rows[0].posix, [&] { return PosixOpenClose(s, false); }))) &&
         (!run(1) || (Measure(rows[1].device, [&] { return DeviceOpenClose(s, true); }) &&
                      Measure(rows[1].posix, [&] { return PosixOpenClose(s, true); }))) &&
         (!run(2) || (Measure(rows[2].device, [&] { return DeviceCreate(s); }) &&
                      Measure(rows[2].posix, [&] { return PosixCreate(s); }))) &&
         (!run(3) || (Measure(rows[3].device, [&] { return DeviceFind(files); }) &&
                      Measure(rows[3].posix, [&] { return PosixFind(s.posixFolder, files); })));
  }
  if (!ok) {
    std::fprintf(stderr, "a call failed: %u\n", GetLastError());
    return 1;
  }

  std::printf("%zu files of 4 KB, best of %d runs; microseconds per file\n", files, o.reps);
  std::printf("%-31s %9s %9s %7s %9s %9s %7s\n", "", "dev cpu", "posix cpu", "ratio", "dev wall", "posix wall",
              "ratio");
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    if (!run(static_cast<int>(i))) continue;
    double n = static_cast<double>(files) / 1e6;
    std::printf("%-31s %9.2f %9.2f %7.2f %9.2f %9.2f %7.2f\n", row.name, row.device.cpu / n, row.posix.cpu / n,
                row.device.cpu / row.posix.cpu, row.device.wall / n, row.posix.wall / n,
                row.device.wall / row.posix.wall);
  }
  if (!o.keep) fs::remove_all(o.dir, ec);
  return 0;
}
