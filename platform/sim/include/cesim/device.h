// The simulated device behind the device API.
//
// A device is a host folder DIR:
//   DIR/fs/          the device's "\" (file names stored as UTF-8 of their
//                    UTF-16 names, in the case they were created with)
//   DIR/device.db    the device's own bookkeeping (SQLite, WAL, shared by
//                    every device process): file attributes and times, open
//                    files and their share modes, processes, the clock,
//                    the screen log, pending boot work
//   DIR/profile.txt  the device profile ("key = value" lines, '#' comments)
//
// Every device process finds its device through the environment variable
// QUILMO_DEVICE, set by whoever starts it (cedev, CreateProcess, tests).
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ce/text.h"
#include "ce/types.h"

namespace ce {

inline constexpr const char* kDeviceEnv = "QUILMO_DEVICE";

// A database volume the system keeps mounted (cesim/database.h).
struct SystemVolume {
  std::u16string path;  // device path
  bool edb = false;     // the generation it is mounted with
};

struct VolumeCapacity {
  std::u16string root;  // "\" for the object store, "\Storage Card" for a card
  ULONGLONG bytes = 0;  // total size of the volume
};

// The answer of the device-security agent's library stand-in to one
// request (standins/cmglib.cpp): its result code and, when set, the delay
// after which it posts the request's reply message.
struct CredantAnswer {
  int code = 3;                   // 3 done at once, 0 pending, other values fail
  std::optional<DWORD> replyMs;   // reply message after that many ms of device time
  bool operator==(const CredantAnswer&) const = default;
};

// A share the desktop network offers (cesim/share.h): connected, it is the
// folder "\Network\<name>" and its files are those of the host folder.
struct NetworkShare {
  std::u16string name;          // folder name below "\Network"
  std::filesystem::path hostDir;  // absolute host folder
  bool operator==(const NetworkShare&) const = default;
};

// The device profile. Missing keys take the defaults below.
struct Profile {
  int screenWidth = 240;                 // screen_width
  int screenHeight = 320;                // screen_height
  std::u16string platform = u"PocketPC"; // platform
  DWORD versionMajor = 5;                // version_major
  DWORD versionMinor = 1;                // version_minor
  DWORD buildNumber = 14847;             // build
  std::u16string oemInfo = u"Quilmo Reference Device";  // oem
  std::string timeZone = "UTC0";         // timezone: a POSIX TZ string
  std::vector<std::u16string> cards;     // card: folder name below "\" (repeatable)
  std::vector<std::u16string> romFiles;  // rom: device path of a ROM file (repeatable)
  std::vector<std::u16string> heldOpen;  // held_open: device path the system keeps open
  // system_volume: <device path>|cedb or <device path>|edb (repeatable):
  // mounted by the boot after the init list, held until the next reset.
  std::vector<SystemVolume> systemVolumes;
  std::vector<VolumeCapacity> capacities;  // capacity: <root>|<bytes> (repeatable)
  std::vector<std::u16string> residentPrograms;  // resident: exe name (repeatable)
  std::vector<NetworkShare> shares;  // share: <name>|<absolute host folder> (repeatable)
  std::u16string peerAddress = u"127.0.0.1";      // peer_address: the desktop's address
  DWORD idleOffMinutes = 0;         // idle_off_minutes: off after that long without input (0 = never)
  // The battery of a fresh device (cedev battery changes the running one).
  double batteryPercent = 100;      // battery_percent: charge, 0 to 100
  bool batteryAc = true;            // battery_ac: on | off (the AC line)
  double batteryDrain = 0;          // battery_drain: percent per device hour while on battery
  // The device-security agent: `cedev install` places its library's
  // stand-in as "\Windows\CMGLib.dll" (credant_library: on | off), which
  // answers request N (1 backup start, 2 backup end, 3 restore start, 4
  // restore end) as credant_request_N = CODE [reply MS] says (default 3).
  bool credantLibrary = false;
  CredantAnswer credantAnswers[4];

  // Parses profile text; unknown keys are kept out, bad values fail.
  static bool Parse(std::string_view text, Profile* out, std::string* error);
  std::string Serialize() const;
};

// Result of mapping a device path onto the host folder.
struct ResolvedPath {
  std::filesystem::path host;   // host path (existing components in stored case)
  std::u16string device;        // device path, "\"-rooted, in stored case
  std::u16string key;           // upper-cased device path: the bookkeeping key
  bool exists = false;          // the whole path exists
  bool parentExists = false;    // every component but the last exists as a folder
  bool isDirectory = false;     // exists and is a folder
};

class Device {
 public:
  // The device of this process (QUILMO_DEVICE); null when unset or the
  // folder holds no device. Thread-safe; opened once per process.
  static Device* Current();
  // Switches this process to the device at dir (sets QUILMO_DEVICE too).
  // Used by the device tool and by tests; returns null when dir holds no
  // device, or an incomplete or damaged one (*problem then names the
  // missing or damaged part).
  static Device* Use(const std::filesystem::path& dir);
  static Device* Use(const std::filesystem::path& dir, std::string* problem);
  // Lays out an empty device (fs/, device.db, profile.txt) at dir.
  static bool Create(const std::filesystem::path& dir, const Profile& profile,
                     std::string* error);

  const std::filesystem::path& Dir() const { return dir_; }
  std::filesystem::path FsRoot() const { return dir_ / "fs"; }
  const Profile& GetProfile() const { return profile_; }
  // Rewrites profile.txt and the in-memory copy. Writers in all processes
  // take turns (a lock on the device folder).
  bool SaveProfile(const Profile& profile);
  // Reads profile.txt, applies change and writes it back, all under that
  // lock, so that changes made at once by several processes all last.
  // False (error set when given) when the profile cannot be read or written.
  bool UpdateProfile(const std::function<void(Profile&)>& change, std::string* error = nullptr);
  // Re-reads profile.txt (written by another process) into the in-memory
  // copy; false, keeping the old copy, when it is unreadable or malformed.
  bool ReloadProfile();

  // This process's connection to device.db (reopened after a fork, since
  // a connection must not cross one). Callers hold DbLock() while they
  // use it; Exec and Transaction take it themselves. Tables are created
  // by the parts that own them (CREATE TABLE IF NOT EXISTS).
  sqlite3* Db();
  std::recursive_mutex& DbLock() { return dbLock_; }

  // Runs fn inside BEGIN IMMEDIATE ... COMMIT (rolled back when fn returns
  // false or the commit fails). Returns fn's result, false on a database
  // failure. Called while this connection is inside a transaction already,
  // fn simply joins it (the outer caller commits or rolls back). Reads
  // that decide a write belong inside fn: a read transaction that is open
  // when a write starts fails at once if another process wrote meanwhile.
  template <class Fn>
  bool Transaction(Fn&& fn) {
    std::lock_guard<std::recursive_mutex> g(dbLock_);
    sqlite3* db = Db();
    if (!db) return false;
    if (!sqlite3_get_autocommit(db)) return fn();
    if (!ExecKept("BEGIN IMMEDIATE")) return false;
    if (fn() && ExecKept("COMMIT")) return true;
    if (!sqlite3_get_autocommit(db)) ExecKept("ROLLBACK");
    return false;
  }
  bool Exec(const char* sql);
  // Exec of one statement through a kept prepared statement.
  bool ExecKept(const char* sql);
  // This connection's prepared statement for sql, prepared on first use and
  // kept until the connection closes; null when it does not prepare or is
  // in use already (Stmt then prepares one of its own). Callers hold
  // DbLock() and give it back with Unprepare; Stmt(Device*, sql) does both.
  sqlite3_stmt* Prepared(const char* sql);
  void Unprepare(const char* sql, sqlite3_stmt* stmt);
  // getpid() without a system call; right in a forked child too.
  static int ProcessId();
  // Closes this process's connections to device.db (every device it
  // opened). Runs at the process's end, so that the last process of a
  // device leaves everything in device.db and no write-ahead log beside
  // it. A connection in use by another thread stays open.
  static void CloseConnections();
  // Runs a schema script (CREATE ... IF NOT EXISTS) once per connection,
  // inside one transaction so two processes never both seed a table.
  bool EnsureSchema(const char* schema);

  // Maps a device path ("\"-rooted, backslashes; "/" is taken as "\" too;
  // empty components and "." are skipped, a trailing backslash is allowed)
  // onto the host folder, resolving every component ignoring case. Fails
  // (last error set) with ERROR_INVALID_NAME for an empty path, "..",
  // wildcards or characters the device refuses in names, for a component
  // that ends in a dot or a blank and names nothing there (the device
  // cannot hold such a name, so none is ever made), and with
  // ERROR_FILENAME_EXCED_RANGE above MAX_PATH characters. A path never
  // leaves fs/. Wildcard patterns: resolve their folder, then match. A
  // path without the leading separator is rooted: the device has no current
  // folder.
  bool Resolve(std::u16string_view devicePath, ResolvedPath* out) const;
  // Resolve's answer for a path whose folder Resolve found before, without
  // a look at the entry itself: out->exists is a guess (true) and
  // out->isDirectory false, for a caller that opens the host path without
  // following links and resolves in full when that fails. False (nothing
  // set) when the folder is not known or the path is refused.
  bool ResolveUnchecked(std::u16string_view devicePath, ResolvedPath* out) const;

  // Device milliseconds added to the host clock (the device clock).
  // SetClockOffsetMs is false when the offset could not be stored.
  LONGLONG ClockOffsetMs();
  bool SetClockOffsetMs(LONGLONG ms);

 private:
  Device() = default;
  bool Open(const std::filesystem::path& dir, std::string* problem);
  bool WriteProfileFile(const Profile& profile);
  void CloseDb();
  void DropStatements(bool finalize);
  struct Kept {
    sqlite3_stmt* stmt = nullptr;
    bool busy = false;
  };
  std::filesystem::path dir_;
  Profile profile_;
  sqlite3* db_ = nullptr;
  int dbPid_ = 0;
  std::vector<const char*> schemasDone_;  // for the current connection
  // Prepared statements of the current connection, by their SQL text.
  std::unordered_map<std::string, Kept> statements_;
  std::recursive_mutex dbLock_;
};

// A prepared statement that finalises itself.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql);
  // The device connection's kept statement for sql (see Device::Prepared);
  // the caller holds dev->DbLock() for the Stmt's whole life.
  Stmt(Device* dev, const char* sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Stmt& Bind(int i, int64_t v);
  Stmt& Bind(int i, std::string_view v);
  Stmt& Bind(int i, std::u16string_view v);  // stored as UTF-8 text
  Stmt& BindBlob(int i, const void* data, size_t n);
  Stmt& BindNull(int i);
  bool Step();  // true when a row is ready
  bool Run();   // steps to the end; true on SQLITE_DONE
  int64_t Int(int col) const;
  std::string Text(int col) const;
  std::u16string Text16(int col) const;
  std::string Blob(int col) const;
  bool IsNull(int col) const;
  void Reset();
  sqlite3_stmt* raw() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  Device* keptBy_ = nullptr;  // set when stmt_ goes back to that device's cache
  const char* sql_ = nullptr;
};


}  // namespace ce
