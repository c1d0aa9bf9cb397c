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
// With --sample the device is then backed up and restored whole: files,
// databases, database volumes and mail, around the boots that make and put
// back the volumes' boot-time copies, with records, a database, a volume
// and the mail changed in between; each check made afterwards is printed.
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
#include <map>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/notifyqueue.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/boot.h"
#include "cesim/device.h"
#include "core/Resources.h"
#include "engine/DatabaseComponent.h"
#include "engine/DatabaseVolumes.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/MailComponent.h"
#include "engine/RebootActions.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"
#include "testkit/DatabaseRecords.h"
#include "testkit/TaskSetup.h"
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
    RegisterDatabaseVolumesComponent();
    RegisterDatabaseComponent();
    RegisterMailComponent();
  }
  // whole: databases, volumes and mail too.
  void PrepareBackup(const CString& password, bool whole = false) {
    g.g_BackupOptions.SetCompression(true);
    quilmo::test::PrepareBackupOperation(g, IncludedKinds{true, whole, whole, false}, kImage, password);
  }
  bool PrepareRestore(const CString& password, bool whole = false) {
    return quilmo::test::PrepareRestoreOperation(g, IncludedKinds{true, whole, whole, false}, kImage, password);
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

// The whole sample device ------------------------------------------------------

// The volumes the sample device's system holds, and the two whose restored
// copies the restore patches.
const std::vector<std::u16string> kVolumes = {u"\\pim.vol",        u"\\cemail.vol",    u"\\mxip_system.vol",
                                              u"\\mxip_initdb.vol", u"\\mxip_lang.vol", u"\\mxip_notify.vol",
                                              u"\\My Documents\\notes.vol"};
bool IsPatchedVolume(const std::u16string& path) { return path == u"\\pim.vol" || path == u"\\mxip_notify.vol"; }
const std::vector<std::u16string> kMailFolders = {u"\\Windows\\Messaging", u"\\My Documents\\MMS"};
constexpr CEPROPID kSyncCount = 0x0001001F, kSyncName = 0x0002001F, kSyncCountHigh = 0x8001001F;

int g_failedChecks = 0;
void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "checked:" : "FAILED: ", what.c_str());
  if (!ok) ++g_failedChecks;
}

bool Boot(const char* why, int* boots, int* resets) {
  ce::BootOptions options;
  options.runTimeoutMs = 300000;
  ce::BootReport report;
  bool ok = ce::BootDevice(options, &report);
  *boots = report.boots;
  *resets = report.resets;
  if (!ok) std::fprintf(stderr, "the boot %s failed\n", why);
  return ok;
}

// "store<TAB>kind<TAB>name" -> "count<TAB>hash" of every database, from the
// device tool beside this program.
std::map<std::string, std::string> Digest(const fs::path& cedev, const fs::path& dir) {
  std::map<std::string, std::string> out;
  std::string command = "'" + cedev.string() + "' db '" + dir.string() + "' digest";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  if (pclose(p) != 0) return {};
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    size_t third = line.find('\t', line.find('\t', line.find('\t') + 1) + 1);
    if (third != std::string::npos) out[line.substr(0, third)] = line.substr(third + 1);
  }
  return out;
}

std::map<std::u16string, std::string> FolderFiles(const std::u16string& folder) {
  std::map<std::u16string, std::string> out;
  fs::path root = ce::Device::Current()->FsRoot();
  ce::ResolvedPath r;
  if (!ce::Device::Current()->Resolve(folder, &r) || !r.exists) return out;
  for (const auto& entry : fs::recursive_directory_iterator(r.host))
    if (entry.is_regular_file()) {
      std::ifstream f(entry.path(), std::ios::binary);
      out[ce::FromUtf8(fs::relative(entry.path(), r.host).string())] = std::string(std::istreambuf_iterator<char>(f), {});
    }
  return out;
}

std::string HostBytes(const std::u16string& devicePath) {
  ce::ResolvedPath r;
  if (!ce::Device::Current()->Resolve(devicePath, &r) || !r.exists) return "<missing>";
  std::ifstream f(r.host, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

using quilmo::test::DeleteDatabaseByName;
using quilmo::test::EditAddDelete;
using quilmo::test::LocalTicks;
using quilmo::test::RecordBytes;
using quilmo::test::TextOf;

std::vector<RecordBytes> ReadDatabase(const std::u16string& name, bool edb) {
  std::vector<RecordBytes> out;
  // A database that cannot be opened reads as empty, which the checks count.
  (void)quilmo::test::ReadDatabaseRecords(name, edb, &out);
  return out;
}

// What a copy log names: "Copied <from> to <to>" for each volume.
int CopiesLogged(bool backward) {
  std::string log = HostBytes(u"\\QuilmoInitLog.txt");
  int found = 0;
  for (const std::u16string& volume : kVolumes) {
    std::string path = ce::ToUtf8(volume);
    std::string line = backward ? "Copied " + path + "c to " + path : "Copied " + path + " to " + path + "c";
    if (log.find(line + "\r\n") != std::string::npos) ++found;
  }
  return found;
}

// Backs the whole device up, changes it, restores it and checks it; the
// boots make and put back the volumes' boot-time copies.
bool WholeDeviceRoundTrip(Program& program, const Options& o, const fs::path& binDir) {
  std::printf("== the whole device: files, databases, database volumes and mail\n");
  int boots = 0, resets = 0;
  RebootActions::Instance().Clear();
  program.PrepareBackup(o.password, true);
  if (!program.g.g_WorkingIndex.AddBootCopiesForBackup() || !RebootActions::Instance().Apply()) {
    std::fprintf(stderr, "the boot-time copies could not be queued\n");
    return false;
  }
  RebootActions::Instance().Clear();
  if (!Boot("before the backup", &boots, &resets)) return false;
  Check(CopiesLogged(false) == static_cast<int>(kVolumes.size()),
        "QuilmoInit copied the " + std::to_string(kVolumes.size()) + " volumes aside at the boot before the backup");

  const std::map<std::string, std::string> digest = Digest(binDir / "cedev", o.dir);
  std::map<std::u16string, std::string> volumeBytes;
  for (const std::u16string& volume : kVolumes) volumeBytes[volume] = HostBytes(volume + u"c");
  std::map<std::u16string, std::map<std::u16string, std::string>> mailFiles;
  size_t mailCount = 0;
  for (const std::u16string& folder : kMailFolders) mailCount += (mailFiles[folder] = FolderFiles(folder)).size();
  const std::vector<RecordBytes> contacts = ReadDatabase(u"Contacts Database", false);

  CString failure;
  double start = WallNow();
  if (!program.Run(&failure)) {
    std::fprintf(stderr, "backup failed: %s\n", ce::ToUtf8(failure.view()).c_str());
    return false;
  }
  std::printf("backup of the whole device: %.3f s wall\n", WallNow() - start);

  bool changed = EditAddDelete(u"Contacts Database", false) && EditAddDelete(u"Appointments", true) &&
                 DeleteDatabaseByName(u"Tasks Database") && EditAddDelete(u"SystemSettings", true) &&
                 EditAddDelete(u"Messages", false) &&
                 WriteDeviceFile(u"\\Windows\\Messaging\\signature.txt", "changed") &&
                 WriteDeviceFile(u"\\Windows\\Messaging\\arrived later.txt", "new");
  Check(changed && Digest(binDir / "cedev", o.dir) != digest,
        "records edited, added and deleted, \"Tasks Database\" deleted, a volume and the mail changed");

  if (!program.PrepareRestore(o.password, true)) {
    std::fprintf(stderr, "index of the image not loaded\n");
    return false;
  }
  const ULONGLONG before = LocalTicks();
  start = WallNow();
  if (!program.Run(&failure)) {
    std::fprintf(stderr, "restore failed: %s\n", ce::ToUtf8(failure.view()).c_str());
    return false;
  }
  std::printf("restore of the whole device: %.3f s wall\n", WallNow() - start);
  const ULONGLONG after = LocalTicks();
  if (!program.g.g_WorkingIndex.AddBootCopiesForRestore() || !RebootActions::Instance().Apply()) {
    std::fprintf(stderr, "the restored volumes could not be queued\n");
    return false;
  }
  RebootActions::Instance().Clear();
  if (!Boot("after the restore", &boots, &resets)) return false;
  Check(CopiesLogged(true) == static_cast<int>(kVolumes.size()) && resets == 1,
        "QuilmoInit put the " + std::to_string(kVolumes.size()) + " restored volumes in place and reset the device");

  const std::map<std::string, std::string> now = Digest(binDir / "cedev", o.dir);
  int same = 0, differ = 0;
  for (const auto& [database, hash] : digest) {
    if (database.ends_with("\tSyncStateKeys") || database.ends_with("\tDB_notify_queue")) continue;
    auto it = now.find(database);
    (it != now.end() && it->second == hash ? same : differ) += 1;
  }
  Check(!digest.empty() && differ == 0 && now.size() == digest.size(),
        std::to_string(same) + " databases hold what the backup held (digest; SyncStateKeys and DB_notify_queue patched)");
  std::vector<RecordBytes> restored = ReadDatabase(u"Contacts Database", false);
  std::reverse(restored.begin(), restored.end());
  Check(!contacts.empty() && restored == contacts,
        "\"Contacts Database\" holds its " + std::to_string(contacts.size()) + " records in reverse order");

  int volumesSame = 0;
  for (const std::u16string& volume : kVolumes)
    if (!IsPatchedVolume(volume) && HostBytes(volume) == volumeBytes[volume]) ++volumesSame;
  Check(volumesSame == static_cast<int>(kVolumes.size()) - 2,
        std::to_string(volumesSame) + " volume files byte for byte (\\pim.vol and \\mxip_notify.vol patched)");
  bool mailSame = true;
  for (const std::u16string& folder : kMailFolders) mailSame = mailSame && FolderFiles(folder) == mailFiles[folder];
  Check(mailSame, "the mail folders' " + std::to_string(mailCount) + " files byte for byte");

  std::vector<RecordBytes> sync = ReadDatabase(u"SyncStateKeys", true);
  bool syncOk = !sync.empty();
  for (const RecordBytes& record : sync) {
    std::u16string key = TextOf(record, kSyncName);
    syncOk = syncOk && (key.starts_with(u"FolderSync") || key == u"<<< Collection Counter >>>") &&
             TextOf(record, kSyncCount) == u"0" && TextOf(record, kSyncCountHigh) == u"0";
  }
  Check(syncOk, "SyncStateKeys keeps " + std::to_string(sync.size()) +
                    " records, FolderSync and the collection counter, their counts \"0\"");

  int dueOk = 0;
  for (const RecordBytes& record : ReadDatabase(ce::notifyqueue::kDatabaseName, false))
    for (const auto& [id, bytes] : record) {
      if (id != ce::notifyqueue::kNotifyEntryProp || bytes.size() < ce::notifyqueue::kHeaderSize) continue;
      DWORD offset = 0;
      std::memcpy(&offset, bytes.data(), 4);
      if (offset >= bytes.size()) continue;
      std::u16string program;
      for (size_t i = offset; i + 1 < bytes.size() && (bytes[i] || bytes[i + 1]); i += 2)
        program += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
      if (program != u"repllog.exe") continue;
      ULONGLONG due = 0;
      std::memcpy(&due, bytes.data() + ce::notifyqueue::kStartTimeAt, 8);
      if (due >= before + (1ull << 32) && due <= after + (1ull << 32)) ++dueOk;
    }
  Check(dueOk == 1, "the \"repllog.exe\" notification is due at the restore's time + 2^32 ticks (about 429.5 s)");
  return g_failedChecks == 0;
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

  const fs::path binDir = fs::absolute(argv[0]).parent_path();
  if (o.sample) {
    // The boot-time action runner beside this program, and a first boot:
    // the system then holds its volumes.
    std::error_code copyError;
    fs::copy_file(binDir / "QuilmoInit", ce::Device::Current()->FsRoot() / "Windows" / "QuilmoInit.exe",
                  fs::copy_options::overwrite_existing, copyError);
    int boots = 0, resets = 0;
    if (copyError || !Boot("of the sample device", &boots, &resets)) {
      std::fprintf(stderr, "QuilmoInit not found beside the program, or the device does not boot\n");
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
      } else if (r == 0 && o.sample) {
        std::printf("checked: the %zu files the backup held, overwritten before the restore, byte for byte\n",
                    files.size());
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
    if (o.sample && !WholeDeviceRoundTrip(program, o, binDir)) status = 1;
  }
  UnloadResourceLibraries(true);
  if (!o.keep) fs::remove_all(o.dir, ec);
  return status;
}
