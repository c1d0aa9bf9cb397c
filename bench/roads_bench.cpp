// Backup and restore benchmark of the imaging task's roads: a device (a
// generated one of many small files and a few large ones, or the device
// tool's sample device) is backed up to the storage card with compression
// and restored, beside a baseline measured in the same run over the same
// files:
//   backup baseline:  read each file through the device API, deflate it at
//                     level 1 and write the result to one file on the card;
//   restore baseline: read that file back, inflate each file and write it
//                     through the device API (create, write, close).
// The baseline is the honest floor of this image format: it does the same
// reading, compressing and writing without entries, index or cipher.
//
//   roads_bench [--files N] [--large N] [--large-mb MB] [--sample]
//               [--password TEXT] [--reps N] [--dir HOSTDIR] [--keep]
//
// Times are the thread's CPU seconds (user and system), best of --reps
// runs; wall-clock seconds are shown beside them. Exit code 0 when every
// restored file matched its original.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ce/device.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "core/Resources.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "tools/cedev/SampleDevice.h"

namespace {

namespace fs = std::filesystem;

const CString kImage(u"\\Storage Card\\bench.pbf");
const std::u16string kBaselineFile = u"\\Storage Card\\baseline.bin";
constexpr DWORD kReadBlock = 131072;

struct Options {
  int files = 10000;
  int large = 4;
  int largeMB = 8;
  bool sample = false;
  CString password;
  int reps = 3;
  fs::path dir;
  bool keep = false;
};

struct Times {
  double cpu = 1e30;
  double wall = 1e30;
  void Keep(double c, double w) {
    cpu = std::min(cpu, c);
    wall = std::min(wall, w);
  }
};

double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}
double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
template <class Fn>
bool Measure(Times& times, Fn fn) {
  double c = CpuNow(), w = WallNow();
  bool ok = fn();
  times.Keep(CpuNow() - c, WallNow() - w);
  return ok;
}

bool WriteDeviceFile(const std::u16string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return CloseHandle(h) && ok;
}

bool ReadDeviceFile(const std::u16string& path, std::string& out) {
  out.clear();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::vector<char> block(kReadBlock);
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, block.data(), kReadBlock, &got, nullptr)) && got > 0) out.append(block.data(), got);
  CloseHandle(h);
  return ok;
}

// Mixed content: words, structured binary and noise, by seed.
std::string Content(std::mt19937& rng, size_t size) {
  static const char* words[] = {"meeting", "notes", "budget", "travel", "invoice", "draft", "summary",
                                "report",  "agenda", "letter", "project", "minutes", "client", "plan"};
  std::string s;
  s.reserve(size);
  switch (rng() % 4) {
    case 0:
    case 1:
      while (s.size() < size) (s += words[rng() % 14]) += (rng() % 10 == 0) ? "\r\n" : " ";
      break;
    case 2:
      for (size_t i = 0; i < size; ++i) s += static_cast<char>((i * 7) ^ (i >> 6) ^ (rng() % 4));
      break;
    default:
      while (s.size() < size) {
        uint32_t v = rng();
        s.append(reinterpret_cast<const char*>(&v), 4);
      }
  }
  s.resize(size);
  return s;
}

bool FillGeneratedDevice(const Options& o) {
  std::mt19937 rng(20061207u);
  const int folders = std::max(1, o.files / 100);
  CreateDirectoryW(u"\\Data", nullptr);
  for (int f = 0; f < folders; ++f) {
    std::u16string folder = u"\\Data\\Folder " + ce::FromUtf8(std::to_string(f));
    if (!CreateDirectoryW(folder.c_str(), nullptr)) return false;
    for (int i = f; i < o.files; i += folders) {
      size_t size = 100 + rng() % 6000;
      std::u16string path = folder + u"\\file " + ce::FromUtf8(std::to_string(i)) + u".dat";
      if (!WriteDeviceFile(path, Content(rng, size))) return false;
    }
  }
  CreateDirectoryW(u"\\Large", nullptr);
  for (int i = 0; i < o.large; ++i) {
    std::string data;
    while (data.size() < static_cast<size_t>(o.largeMB) << 20) data += Content(rng, 1 << 20);
    if (!WriteDeviceFile(u"\\Large\\large " + ce::FromUtf8(std::to_string(i)) + u".bin", data)) return false;
  }
  return true;
}

struct FileCrc {
  std::u16string path;
  uLong crc = 0;
  size_t size = 0;
  uLong offset = 0;  // in the baseline file
  uLong packed = 0;
};

// The program's state over the device, as the main program holds it.
class Program {
 public:
  Program() : context_(MakeFileSystemContext(g)), fileSystem_(context_) {
    g.g_Log.Open(false);
    fileSystem_.Register();
  }
  void PrepareBackup(const CString& password) {
    OperationDescriptor& d = g.g_Operation;
    d = OperationDescriptor();
    d.operationKind = kOperationBackup;
    d.includeFileSystem = 1;
    d.imagePath.Set(kImage, false);
    g.g_BackupOptions.SetCompression(true);
    g.g_bEncrypt = !password.IsEmpty();
    g.SetTaskPassword(password);
    g.UpdateExcludeOptions();
    g.g_WorkingIndex.Reset();
    IncludedKinds kinds{true, false, false, false};
    g.g_WorkingIndex.AddTopLevelComponents(&kinds);
    g.g_WorkingIndex.PopulateSelected();
  }
  bool PrepareRestore(const CString& password) {
    OperationDescriptor& d = g.g_Operation;
    d = OperationDescriptor();
    d.operationKind = kOperationRestore;
    d.includeFileSystem = 1;
    d.imagePath.Set(kImage, false);
    g.g_bEncrypt = !password.IsEmpty();
    g.SetTaskPassword(password);
    if (!InitCipherKey(g.g_bEncrypt, password.GetString())) return false;
    AImageFile image(kImage, AImageFile::kRestore);
    bool ok = image.Open() && g.g_WorkingIndex.Locate(image, true);
    return image.Close() && ok;
  }
  bool Run(CString* failure) {
    class Quiet : public ITaskProgress {
     public:
      Quiet() : ITaskProgress(&record) {}
      void UpdateProgress(bool) override {}
      TaskProgressRecord record;
    } progress;
    AImagingTaskClient task(g.g_Operation, &progress);
    bool ok = task.Run();
    *failure = task.GetFailureText();
    return ok;
  }
  std::vector<std::u16string> SelectedFiles() {
    Index& index = g.g_WorkingIndex;
    std::vector<std::u16string> out;
    int top = index.FindChildOfType(TREE_FILESYSTEM);
    for (int n = index.NextInSubtree(top, top); n >= 0; n = index.NextInSubtree(top, n))
      if (index.NodeType(n) == FILE_ENTRY) out.push_back(index.NodeName(n));
    return out;
  }

  AGlobal g;

 private:
  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

bool BaselineBackup(std::vector<FileCrc>& files) {
  HANDLE out = CreateFileW(kBaselineFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot create the baseline file: %u\n", GetLastError());
    return false;
  }
  z_stream z{};
  deflateInit(&z, 1);
  std::string data;
  std::vector<Bytef> packed;
  uLong offset = 0;
  bool ok = true;
  for (FileCrc& f : files) {
    if (!(ok = ReadDeviceFile(f.path, data))) {
      std::fprintf(stderr, "cannot read %s: %u\n", ce::ToUtf8(f.path).c_str(), GetLastError());
      break;
    }
    f.size = data.size();
    f.crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    packed.resize(deflateBound(&z, data.size()));
    deflateReset(&z);
    z.next_in = reinterpret_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    f.offset = offset;
    f.packed = z.total_out;
    offset += z.total_out;
    DWORD written = 0;
    if (!(ok = WriteFile(out, packed.data(), z.total_out, &written, nullptr))) break;
  }
  deflateEnd(&z);
  return CloseHandle(out) && ok;
}

bool BaselineRestore(const std::vector<FileCrc>& files) {
  std::string all;
  if (!ReadDeviceFile(kBaselineFile, all)) return false;
  z_stream z{};
  inflateInit(&z);
  std::vector<Bytef> data;
  bool ok = true;
  for (const FileCrc& f : files) {
    data.resize(f.size + 1);
    inflateReset(&z);
    z.next_in = reinterpret_cast<Bytef*>(all.data() + f.offset);
    z.avail_in = static_cast<uInt>(f.packed);
    z.next_out = data.data();
    z.avail_out = static_cast<uInt>(data.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out != f.size) {
      std::fprintf(stderr, "cannot inflate %s\n", ce::ToUtf8(f.path).c_str());
      ok = false;
      break;
    }
    HANDLE h = CreateFileW(f.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {  // read-only
      SetFileAttributesW(f.path.c_str(), FILE_ATTRIBUTE_NORMAL);
      h = CreateFileW(f.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) continue;  // ROM: the road passes over it too
    DWORD written = 0;
    ok = f.size == 0 || WriteFile(h, data.data(), static_cast<DWORD>(f.size), &written, nullptr);
    ok = CloseHandle(h) && ok;
    if (!ok) {
      std::fprintf(stderr, "cannot write %s: %u\n", ce::ToUtf8(f.path).c_str(), GetLastError());
      break;
    }
  }
  inflateEnd(&z);
  return ok;
}

// Overwrites every file with one byte, so that a restore must bring each
// back (ROM files refuse and keep their contents).
void Scramble(const std::vector<FileCrc>& files) {
  for (const FileCrc& f : files) {
    SetFileAttributesW(f.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteDeviceFile(f.path, "x");
  }
}

int CountMismatches(const std::vector<FileCrc>& files) {
  int bad = 0;
  std::string data;
  for (const FileCrc& f : files) {
    if (!ReadDeviceFile(f.path, data) || data.size() != f.size ||
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())) != f.crc) {
      if (bad < 5) std::fprintf(stderr, "mismatch: %s\n", ce::ToUtf8(f.path).c_str());
      ++bad;
    }
  }
  return bad;
}

bool ParseArgs(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--sample") o.sample = true;
    else if (a == "--keep") o.keep = true;
    else if (a == "--files" && (v = value())) o.files = std::max(1, atoi(v));
    else if (a == "--large" && (v = value())) o.large = std::max(0, atoi(v));
    else if (a == "--large-mb" && (v = value())) o.largeMB = std::max(1, atoi(v));
    else if (a == "--reps" && (v = value())) o.reps = std::max(1, atoi(v));
    else if (a == "--password" && (v = value())) o.password = CString(ce::FromUtf8(v));
    else if (a == "--dir" && (v = value())) o.dir = v;
    else {
      std::fprintf(stderr,
                   "usage: roads_bench [--files N] [--large N] [--large-mb MB] [--sample] [--password TEXT]\n"
                   "                   [--reps N] [--dir HOSTDIR] [--keep]\n");
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) return 2;
  if (o.dir.empty())
    o.dir = fs::temp_directory_path() / ("quilmo-roads-bench-" + std::to_string(getpid()));
  std::error_code ec;
  fs::remove_all(o.dir, ec);

  std::string error;
  if (o.sample) {
    if (!cedev::CreateSampleDevice(o.dir, &error)) {
      std::fprintf(stderr, "sample device: %s\n", error.c_str());
      return 2;
    }
  } else {
    ce::Profile profile;
    profile.cards = {u"Storage Card"};
    if (!ce::Device::Create(o.dir, profile, &error) || !ce::Device::Use(o.dir) || !FillGeneratedDevice(o)) {
      std::fprintf(stderr, "generated device failed: %s %u\n", error.c_str(), GetLastError());
      return 2;
    }
  }
  // The product's resource library beside this program.
  {
    std::ifstream lib(fs::path(argv[0]).parent_path() / "QuilmoRes.dll", std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(lib), {});
    CreateDirectoryW(u"\\Windows", nullptr);
    if (bytes.empty() || !WriteDeviceFile(u"\\Windows\\QuilmoRes.dll", bytes) ||
        !InitResources(u"\\Windows\\QuilmoRes.dll", nullptr, nullptr)) {
      std::fprintf(stderr, "QuilmoRes.dll not found beside the program\n");
      return 2;
    }
  }

  int status = 0;
  {
    Program program;
    Times walk, backup, restore, baseBackup, baseRestore;
    CString failure;
    std::vector<FileCrc> files;
    ULONGLONG bytes = 0;
    for (int r = 0; r < o.reps; ++r) {
      Measure(walk, [&] { program.PrepareBackup(o.password); return true; });
      if (!Measure(backup, [&] { return program.Run(&failure); })) {
        std::fprintf(stderr, "backup failed: %s\n", ce::ToUtf8(failure.view()).c_str());
        return 1;
      }
      // What the backup stored (files in use were left out).
      if (files.empty())
        for (const auto& p : program.SelectedFiles()) files.push_back(FileCrc{p});
      if (!Measure(baseBackup, [&] { return BaselineBackup(files); })) {
        std::fprintf(stderr, "baseline backup failed\n");
        return 1;
      }
    }
    for (const FileCrc& f : files) bytes += f.size;
    ULONGLONG imageBytes = fs::file_size(ce::Device::Current()->FsRoot() / "Storage Card" / "bench.pbf");
    ULONGLONG baselineBytes = fs::file_size(ce::Device::Current()->FsRoot() / "Storage Card" / "baseline.bin");
    for (int r = 0; r < o.reps; ++r) {
      if (!program.PrepareRestore(o.password)) {
        std::fprintf(stderr, "index of the image not loaded\n");
        return 1;
      }
      Scramble(files);
      if (!Measure(restore, [&] { return program.Run(&failure); })) {
        std::fprintf(stderr, "restore failed: %s\n", ce::ToUtf8(failure.view()).c_str());
        return 1;
      }
      if (int bad = CountMismatches(files)) {
        std::fprintf(stderr, "%d files differ after the restore\n", bad);
        status = 1;
      }
      Scramble(files);
      if (!Measure(baseRestore, [&] { return BaselineRestore(files); })) {
        std::fprintf(stderr, "baseline restore failed\n");
        return 1;
      }
    }

    std::printf("device: %s, %zu files, %.1f MB; image %.1f MB, baseline output %.1f MB%s\n",
                o.sample ? "sample" : "generated", files.size(), bytes / 1e6, imageBytes / 1e6,
                baselineBytes / 1e6, o.password.IsEmpty() ? "" : ", password");
    std::printf("%-28s %9s %9s\n", "", "cpu s", "wall s");
    auto row = [](const char* name, const Times& t) { std::printf("%-28s %9.3f %9.3f\n", name, t.cpu, t.wall); };
    row("walk (populate index)", walk);
    row("backup road", backup);
    row("baseline read+deflate+write", baseBackup);
    row("restore road", restore);
    row("baseline inflate+write", baseRestore);
    std::printf("ratio backup/baseline      %6.2f (cpu) %6.2f (wall); with the walk %6.2f (cpu)\n",
                backup.cpu / baseBackup.cpu, backup.wall / baseBackup.wall,
                (backup.cpu + walk.cpu) / baseBackup.cpu);
    std::printf("ratio restore/baseline     %6.2f (cpu) %6.2f (wall)\n", restore.cpu / baseRestore.cpu,
                restore.wall / baseRestore.wall);
  }
  UnloadResourceLibraries(true);
  if (!o.keep) fs::remove_all(o.dir, ec);
  return status;
}
