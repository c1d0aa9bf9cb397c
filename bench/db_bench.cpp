// Database component benchmark: a generated CEDB database (contact-like
// records of eight properties: four texts, a number, a time, a flag and a
// small blob) in the object store is backed up into an image by the
// database component and restored from it, beside a baseline measured in
// the same run over the same records:
//   backup baseline:  a plain SQLite scan of the store's record rows, crc32
//                     over each row's bytes and a buffered write of them to
//                     one host file;
//   restore baseline: plain inserts of those rows into a fresh SQLite file
//                     with the device store's settings, each insert its own
//                     transaction (as every device call commits); the same
//                     inserts in one transaction are shown beside it.
//
//   db_bench [--records N[,N...]] [--reps N] [--dir HOSTDIR] [--keep]
//
// Times are the best of --reps runs, in the thread's CPU seconds (user and
// system) and wall-clock seconds; per record in microseconds. Exit code 0
// when every restore gave back the records that were backed up.
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_timing.h"
#include "ce/database.h"
#include "ce/errors.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "core/Log.h"
#include "engine/CeDatabase.h"
#include "engine/DatabaseComponent.h"
#include "engine/Operation.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/Index.h"

namespace {

namespace fs = std::filesystem;

const CString kImage(u"\\bench.pbf");
const char16_t kDatabase[] = u"Contacts";

struct Options {
  std::vector<int> records{5000, 50000};
  int reps = 3;
  fs::path dir;
  bool keep = false;
};

class Progress : public ITaskProgress {
 public:
  Progress() : ITaskProgress(&record) {}
  void UpdateProgress(bool) override {}
  TaskProgressRecord record;
};

std::u16string U(const std::string& s) { return ce::FromUtf8(s); }

bool FillDatabase(int count) {
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE;
  std::copy_n(kDatabase, std::size(kDatabase), info.szDbaseName);
  info.dwDbaseType = 0x10;
  CEGUID store = CEDB_SYSTEMGUID;
  if (!CeCreateDatabaseEx(&store, &info)) return false;
  HANDLE h = CeDatabase::OpenDatabase(nullptr, kDatabase, false);
  if (h == INVALID_HANDLE_VALUE) return false;
  static const char* first[] = {"Ada", "Bj\xc3\xb6rn", "Chlo\xc3\xab", "Dmitri", "Eleni", "Fran\xc3\xa7ois", "Grace",
                                "Hiro"};
  static const char* last[] = {"Lovelace", "Hopper", "Turing", "M\xc3\xbcller", "Nakamura", "O'Brien", "Smith"};
  std::mt19937 rng(20061207u);
  bool ok = true;
  for (int i = 0; ok && i < count; ++i) {
    const std::u16string name = U(std::string(first[rng() % 8]) + " " + last[rng() % 7] + " " + std::to_string(i));
    const std::u16string company = U("Company " + std::to_string(rng() % 500) + " Ltd");
    const std::u16string phone = U("+44 20 7946 " + std::to_string(1000 + rng() % 9000));
    const std::u16string mail = U("person" + std::to_string(i) + "@example.com");
    std::string blob(48 + rng() % 160, '\0');
    for (char& c : blob) c = static_cast<char>(rng());
    CEPROPVAL p[8] = {};
    p[0].propid = MAKE_CEPROPID(1, CEVT_LPWSTR);
    p[0].val.lpwstr = const_cast<LPWSTR>(name.c_str());
    p[1].propid = MAKE_CEPROPID(2, CEVT_LPWSTR);
    p[1].val.lpwstr = const_cast<LPWSTR>(company.c_str());
    p[2].propid = MAKE_CEPROPID(3, CEVT_LPWSTR);
    p[2].val.lpwstr = const_cast<LPWSTR>(phone.c_str());
    p[3].propid = MAKE_CEPROPID(4, CEVT_LPWSTR);
    p[3].val.lpwstr = const_cast<LPWSTR>(mail.c_str());
    p[4].propid = MAKE_CEPROPID(5, CEVT_I4);
    p[4].val.lVal = i;
    p[5].propid = MAKE_CEPROPID(6, CEVT_FILETIME);
    p[5].val.filetime = FILETIME{static_cast<DWORD>(rng()), 0x01C6u};
    p[6].propid = MAKE_CEPROPID(7, CEVT_BOOL);
    p[6].val.boolVal = i % 3 == 0;
    p[7].propid = MAKE_CEPROPID(8, CEVT_BLOB);
    p[7].val.blob = CEBLOB{static_cast<DWORD>(blob.size()), reinterpret_cast<LPBYTE>(blob.data())};
    ok = CeWriteRecordProps(h, 0, 8, p) != 0;
  }
  CloseHandle(h);
  return ok;
}

// The records' crc32 digests, sorted (the restore reverses their order).
std::vector<uLong> Digest() {
  std::vector<uLong> out;
  CeDatabase::EnumRecordsByName(nullptr, kDatabase, false, [&](HANDLE, CEOID, CEPROPVAL* p, WORD n, void*) {
    uLong crc = 0;
    for (WORD i = 0; i < n; ++i) {
      const StoredPropertyValue stored = ADatabase::StoredValue(p[i]);
      crc = crc32(crc, reinterpret_cast<const Bytef*>(&stored), sizeof stored);
      if (TypeFromPropID(p[i].propid) == CEVT_LPWSTR)
        crc = crc32(crc, reinterpret_cast<const Bytef*>(p[i].val.lpwstr),
                    static_cast<uInt>(2 * ce::StrLen(p[i].val.lpwstr)));
      else if (TypeFromPropID(p[i].propid) == CEVT_BLOB)
        crc = crc32(crc, p[i].val.blob.lpb, p[i].val.blob.dwCount);
    }
    out.push_back(crc);
    return CeDatabase::kKeepRecord;
  });
  std::sort(out.begin(), out.end());
  return out;
}

struct Rows {
  std::vector<std::string> data;
  size_t bytes = 0;
};

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Backup baseline: scan, crc32, one buffered host file.
bool BaselineScan(const fs::path& store, const fs::path& out, Rows* rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return false;
  FILE* f = std::fopen(out.c_str(), "wb");
  std::vector<char> buffer(32768);
  if (f) setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  sqlite3_stmt* q = nullptr;
  bool ok = f && sqlite3_prepare_v2(db, "SELECT data FROM record ORDER BY oid", -1, &q, nullptr) == SQLITE_OK;
  uLong crc = 0;
  rows->data.clear();
  rows->bytes = 0;
  while (ok && sqlite3_step(q) == SQLITE_ROW) {
    const void* p = sqlite3_column_blob(q, 0);
    const int n = sqlite3_column_bytes(q, 0);
    crc = crc32(0, static_cast<const Bytef*>(p), static_cast<uInt>(n));
    ok = std::fwrite(&crc, sizeof crc, 1, f) == 1 && std::fwrite(p, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
    rows->data.emplace_back(static_cast<const char*>(p), static_cast<size_t>(n));
    rows->bytes += static_cast<size_t>(n);
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return (f && std::fclose(f) == 0) && ok;
}

// Restore baseline: the rows inserted into a fresh file with the device
// store's settings, each in its own transaction or all in one.
bool BaselineInsert(const fs::path& file, const Rows& rows, bool oneTransaction) {
  fs::remove(file);
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
  bool ok = Exec(db, "PRAGMA journal_mode=DELETE") && Exec(db, "PRAGMA synchronous=OFF") &&
            Exec(db, "CREATE TABLE record(oid INTEGER PRIMARY KEY, db INTEGER NOT NULL, data BLOB NOT NULL)");
  sqlite3_stmt* q = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO record(data, db) VALUES(?1, 1)", -1, &q, nullptr) == SQLITE_OK;
  ok = ok && (!oneTransaction || Exec(db, "BEGIN"));
  for (size_t i = 0; ok && i < rows.data.size(); ++i) {
    sqlite3_bind_blob(q, 1, rows.data[i].data(), static_cast<int>(rows.data[i].size()), SQLITE_STATIC);
    ok = sqlite3_step(q) == SQLITE_DONE && sqlite3_reset(q) == SQLITE_OK;
  }
  ok = ok && (!oneTransaction || Exec(db, "COMMIT"));
  sqlite3_finalize(q);
  sqlite3_close(db);
  return ok;
}

struct Figures {
  int records = 0;
  DWORD imageBytes = 0;
  size_t rowBytes = 0;
  Times estimate, backup, scan, restore, insertEach, insertOnce;
};

bool RunSize(const Options& o, int count, Figures& f) {
  fs::path dir = o.dir.empty() ? fs::temp_directory_path() / ("quilmo-dbbench-" + std::to_string(getpid()))
                               : o.dir / ("records-" + std::to_string(count));
  fs::remove_all(dir);
  std::string error;
  if (!ce::Device::Create(dir, ce::Profile{}, &error) || !ce::Device::Use(dir)) {
    std::fprintf(stderr, "device: %s\n", error.c_str());
    return false;
  }
  ALog log;
  SetLog(&log);
  log.Open(false);
  bool ok = FillDatabase(count) && InitCipherKey(false, nullptr);
  const std::vector<uLong> digest = Digest();
  ok = ok && static_cast<int>(digest.size()) == count;

  ADatabaseComponent component;
  Index index;
  index.SetComponent(IndexOwner::Databases, &component);
  IncludedKinds kinds{false, false, true, false};
  index.AddTopLevelComponents(&kinds);
  index.PopulateSelected();
  // The object store's group holds the one database.
  const int node = index.FirstChild(index.FirstChild(index.FindChildOfType(TREE_DATABASES)));
  ok = ok && node != -1;
  Progress progress;
  f.records = count;
  for (int r = 0; ok && r < o.reps; ++r) {
    ok = Measure(f.estimate, [&] { return component.ImageSize(index, node) > 0; });
    ok = ok && Measure(f.backup, [&] {
      AImageFile image(kImage, AImageFile::kBackup);
      if (!image.Open()) return false;
      bool done;
      {
        ADatabase database(index, &progress, &image);
        done = database.Backup();
      }
      DWORD length = 0;
      done = done && index.Store(image, true, &length) && image.FlushWriteBuffer() &&
             AImageFileHeader(END_OF_IMAGE, length, 0, 0, image.GetCRC(), 0).WritePlain(image);
      image.GetBytesWritten(&f.imageBytes);
      return image.Close() && done;
    });
    ok = ok && Measure(f.restore, [&] {
      AImageFile image(kImage, AImageFile::kRestore);
      Index loaded;
      if (!image.Open() || !loaded.Locate(image, true)) return false;
      bool done;
      {
        ADatabase database(loaded, &progress, &image);
        done = database.Restore();
      }
      return image.Close() && done;
    });
    ok = ok && Digest() == digest;
    Rows rows;
    ok = ok && Measure(f.scan, [&] { return BaselineScan(dir / "objectstore.db", dir / "baseline.bin", &rows); });
    f.rowBytes = rows.bytes;
    ok = ok && Measure(f.insertEach, [&] { return BaselineInsert(dir / "baseline.db", rows, false); });
    ok = ok && Measure(f.insertOnce, [&] { return BaselineInsert(dir / "baseline.db", rows, true); });
  }
  SetLog(nullptr);
  if (!o.keep) fs::remove_all(dir);
  return ok;
}

std::string Machine() {
  std::string cpu = "unknown CPU";
  if (FILE* f = std::fopen("/proc/cpuinfo", "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "model name", 10) == 0) {
        cpu = std::strchr(line, ':') ? std::strchr(line, ':') + 2 : line;
        cpu.erase(cpu.find_last_not_of("\r\n") + 1);
        break;
      }
    std::fclose(f);
  }
  return cpu + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " CPUs";
}

void Print(const Figures& f) {
  auto us = [&](double s) { return s * 1e6 / f.records; };
  std::printf("%d records: image %u bytes, rows %zu bytes\n", f.records, f.imageBytes, f.rowBytes);
  std::printf("  estimate            cpu %7.3f s  wall %7.3f s  %6.1f us/record\n", f.estimate.cpu, f.estimate.wall,
              us(f.estimate.wall));
  std::printf("  backup              cpu %7.3f s  wall %7.3f s  %6.1f us/record\n", f.backup.cpu, f.backup.wall,
              us(f.backup.wall));
  std::printf("  baseline scan       cpu %7.3f s  wall %7.3f s  %6.1f us/record\n", f.scan.cpu, f.scan.wall,
              us(f.scan.wall));
  std::printf("  restore             cpu %7.3f s  wall %7.3f s  %6.1f us/record\n", f.restore.cpu, f.restore.wall,
              us(f.restore.wall));
  std::printf("  baseline inserts    cpu %7.3f s  wall %7.3f s  %6.1f us/record (one transaction each)\n",
              f.insertEach.cpu, f.insertEach.wall, us(f.insertEach.wall));
  std::printf("  baseline inserts    cpu %7.3f s  wall %7.3f s  %6.1f us/record (all in one transaction)\n",
              f.insertOnce.cpu, f.insertOnce.wall, us(f.insertOnce.wall));
  std::printf("  backup / baseline   %.2fx wall, %.2fx cpu (target 2x)\n", f.backup.wall / f.scan.wall,
              f.backup.cpu / f.scan.cpu);
  std::printf("  restore / baseline  %.2fx wall, %.2fx cpu (target 3x; against one transaction: %.1fx wall)\n",
              f.restore.wall / f.insertEach.wall, f.restore.cpu / f.insertEach.cpu,
              f.restore.wall / f.insertOnce.wall);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--records") {
      o.records.clear();
      std::stringstream list(next());
      for (std::string n; std::getline(list, n, ',');) o.records.push_back(std::max(1, std::atoi(n.c_str())));
    } else if (a == "--reps") {
      o.reps = std::max(1, std::atoi(next().c_str()));
    } else if (a == "--dir") {
      o.dir = next();
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      std::fprintf(stderr, "usage: %s [--records N[,N...]] [--reps N] [--dir HOSTDIR] [--keep]\n", argv[0]);
      return 2;
    }
  }
  std::printf("machine: %s\n", Machine().c_str());
  bool ok = true;
  std::vector<Figures> all;
  for (int count : o.records) {
    Figures f;
    if (!RunSize(o, count, f)) {
      std::fprintf(stderr, "%d records: the run failed or the restore differed\n", count);
      ok = false;
      continue;
    }
    Print(f);
    all.push_back(f);
  }
  if (all.size() > 1) {
    const Figures& a = all.front();
    const Figures& b = all.back();
    std::printf("per record from %d to %d records: backup %.2fx, restore %.2fx (flat: 1.00x)\n", a.records, b.records,
                (b.backup.wall / b.records) / (a.backup.wall / a.records),
                (b.restore.wall / b.records) / (a.restore.wall / a.records));
  }
  return ok ? 0 : 1;
}
