// One hive file and this process's connection to it (private to the
// registry). Callers serialise every use through the registry's lock.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ce/types.h"
#include "cesim/device.h"

namespace ce::reg {

// Root row names as stored in a hive.
inline constexpr std::u16string_view kRootHKLM = u"HKEY_LOCAL_MACHINE";
inline constexpr std::u16string_view kRootHKCR = u"HKEY_CLASSES_ROOT";
inline constexpr std::u16string_view kRootHKU = u"HKEY_USERS";
inline constexpr std::u16string_view kRootHKCU = u"HKEY_CURRENT_USER";

// Maps an SQLite result code onto a device error number.
LONG ErrorFromSqlite(int rc, bool write);

class Hive {
 public:
  // A live hive: made (with its folders) on first use at devicePath of device,
  // holding the given roots.
  Hive(Device* device, std::u16string devicePath, std::vector<std::u16string> roots);
  // Any hive file at a host path: must exist and be a hive.
  explicit Hive(std::filesystem::path host);
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  // Makes the connection usable: opens it when closed and reopens it when
  // the file was replaced, removed or this is a forked child. Each (re)open
  // counts a new generation. Returns ERROR_SUCCESS or an error number.
  LONG Ensure();
  void Close();

  sqlite3* Db() const { return db_; }
  uint64_t Generation() const { return generation_; }
  const std::filesystem::path& Host() const { return host_; }
  bool Live() const { return live_; }

  LONG Begin(bool write);
  // Commits; after a write records the file's new identity as our own.
  LONG Commit();
  void Rollback();
  // The error of the last failed statement.
  LONG LastError() const;

 private:
  struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const Identity&) const = default;
  };
  static bool Stat(const std::filesystem::path& p, Identity* id);
  LONG Open();
  LONG Prepare();
  bool Exec(const char* sql);

  Device* device_ = nullptr;
  std::u16string devicePath_;
  std::vector<std::u16string> roots_;
  std::filesystem::path host_;
  bool live_ = false;
  bool writing_ = false;
  sqlite3* db_ = nullptr;
  pid_t pid_ = 0;
  Identity identity_;
  uint64_t generation_ = 0;
};

}  // namespace ce::reg
