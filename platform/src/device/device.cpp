#include "cesim/device.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "ce/errors.h"

namespace fs = std::filesystem;

namespace ce {
namespace {

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

bool ParseUInt(const std::string& v, unsigned long long* out) {
  if (v.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = strtoull(v.c_str(), &end, 10);
  if (errno || *end || v[0] == '-') return false;
  *out = n;
  return true;
}

// A plain decimal number without sign or exponent ("2", "0.5").
bool ParseDecimal(const std::string& v, double* out) {
  if (v.empty() || v.find_first_not_of("0123456789.") != std::string::npos || v.find('.') != v.rfind('.') ||
      v == ".")
    return false;
  char* end = nullptr;
  errno = 0;
  double d = strtod(v.c_str(), &end);
  if (errno || *end) return false;
  *out = d;
  return true;
}

// The form ParseDecimal reads back ("2", "0.5"; six decimals at most).
std::string FormatDecimal(double v) {
  char buf[64];
  snprintf(buf, sizeof buf, "%.6f", v);
  std::string t = buf;
  while (t.back() == '0') t.pop_back();
  if (t.back() == '.') t.pop_back();
  return t;
}

std::u16string NormalizeRoot(std::u16string p) {
  if (p.empty() || p[0] != u'\\') p = u"\\" + p;
  while (p.size() > 1 && p.back() == u'\\') p.pop_back();
  return p;
}

struct Registry {
  std::mutex lock;
  std::map<std::string, Device*> devices;  // by canonical host dir; never freed
  Device* current = nullptr;
};

Registry& Devices() {
  static Registry* r = new Registry;
  return *r;
}

bool IsBadNameChar(char16_t c) {
  return c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
         c == u'|';
}

// The device's file system holds no name that ends in a dot or a blank.
bool IsUnholdableName(std::u16string_view name) {
  return !name.empty() && (name.back() == u'.' || name.back() == u' ');
}

// Holds an exclusive lock on the device folder while profile.txt is
// rewritten, so that writers in several processes take turns.
class ProfileWriteLock {
 public:
  explicit ProfileWriteLock(const fs::path& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    int rc;
    do rc = flock(fd_, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    locked_ = rc == 0;
  }
  ~ProfileWriteLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  ProfileWriteLock(const ProfileWriteLock&) = delete;
  ProfileWriteLock& operator=(const ProfileWriteLock&) = delete;
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

bool ReadProfileFile(const fs::path& file, Profile* out, std::string* error) {
  std::ifstream pf(file, std::ios::binary);
  if (!pf) {
    *error = "cannot read " + file.string();
    return false;
  }
  std::stringstream ss;
  ss << pf.rdbuf();
  if (!pf && !pf.eof()) {
    *error = "cannot read " + file.string();
    return false;
  }
  if (!Profile::Parse(ss.str(), out, error)) {
    *error = file.string() + ": " + *error;
    return false;
  }
  return true;
}

// Closes the device.db connections this process opened, at its end: the
// last connection of a device to close moves the write-ahead log into
// device.db and removes it.
void CloseConnectionsAtExit() { Device::CloseConnections(); }

int gPid = 0;
void RenewPid() { gPid = static_cast<int>(getpid()); }

}  // namespace

// ---------------------------------------------------------------- Profile

namespace {

// "CODE" or "CODE reply MS": a signed result code, then the reply's delay.
bool ParseCredantAnswer(const std::string& value, CredantAnswer* out) {
  std::istringstream in(value);
  long long code = 0;
  if (!(in >> code) || code < INT32_MIN || code > INT32_MAX) return false;
  CredantAnswer a;
  a.code = static_cast<int>(code);
  std::string word;
  if (in >> word) {
    long long ms = -1;
    if (word != "reply" || !(in >> ms) || ms < 0 || ms > 0x7FFFFFFF) return false;
    a.replyMs = static_cast<DWORD>(ms);
    if (in >> word) return false;
  }
  *out = a;
  return true;
}

}  // namespace

bool Profile::Parse(std::string_view text, Profile* out, std::string* error) {
  Profile p;
  p.cards.clear();
  int lineNo = 0;
  size_t pos = 0;
  auto fail = [&](const std::string& msg) {
    if (error) *error = "profile line " + std::to_string(lineNo) + ": " + msg;
    return false;
  };
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string line = Trim(text.substr(pos, nl - pos));
    pos = nl + 1;
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected key = value");
    std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    unsigned long long n = 0;
    if (key == "screen_width" || key == "screen_height" || key == "version_major" ||
        key == "version_minor" || key == "build") {
      if (!ParseUInt(value, &n) || n > 0x7FFFFFFF) return fail("bad number for " + key);
      if (key == "screen_width") p.screenWidth = static_cast<int>(n);
      else if (key == "screen_height") p.screenHeight = static_cast<int>(n);
      else if (key == "version_major") p.versionMajor = static_cast<DWORD>(n);
      else if (key == "version_minor") p.versionMinor = static_cast<DWORD>(n);
      else p.buildNumber = static_cast<DWORD>(n);
    } else if (key == "platform") {
      p.platform = FromUtf8(value);
    } else if (key == "oem") {
      p.oemInfo = FromUtf8(value);
    } else if (key == "timezone") {
      if (value.empty()) return fail("empty timezone");
      p.timeZone = value;
    } else if (key == "card") {
      std::u16string name = FromUtf8(value);
      while (!name.empty() && name[0] == u'\\') name.erase(0, 1);
      if (name.empty() || name.find(u'\\') != std::u16string::npos) return fail("bad card folder");
      p.cards.push_back(name);
    } else if (key == "rom") {
      p.romFiles.push_back(NormalizeRoot(FromUtf8(value)));
    } else if (key == "held_open") {
      p.heldOpen.push_back(NormalizeRoot(FromUtf8(value)));
    } else if (key == "system_volume") {
      size_t bar = value.rfind('|');
      std::string gen = bar == std::string::npos ? "" : Trim(value.substr(bar + 1));
      if (gen != "cedb" && gen != "edb") return fail("system_volume needs <path>|cedb or <path>|edb");
      std::u16string path = NormalizeRoot(FromUtf8(Trim(value.substr(0, bar))));
      if (path.size() < 2) return fail("system_volume needs a file path");
      p.systemVolumes.push_back({path, gen == "edb"});
    } else if (key == "capacity") {
      size_t bar = value.rfind('|');
      if (bar == std::string::npos || !ParseUInt(Trim(value.substr(bar + 1)), &n))
        return fail("capacity needs <root>|<bytes>");
      p.capacities.push_back({NormalizeRoot(FromUtf8(Trim(value.substr(0, bar)))), n});
    } else if (key == "resident") {
      if (value.empty()) return fail("empty resident program");
      p.residentPrograms.push_back(FromUtf8(value));
    } else if (key == "share") {
      size_t bar = value.find('|');
      std::u16string name = bar == std::string::npos ? u"" : FromUtf8(Trim(value.substr(0, bar)));
      std::string host = bar == std::string::npos ? "" : Trim(value.substr(bar + 1));
      bool badName = name.empty() || name == u"." || name == u"..";
      for (char16_t c : name) badName = badName || IsBadNameChar(c) || c == u'\\' || c == u'/';
      if (badName || host.empty() || host[0] != '/') return fail("share needs <name>|<absolute host folder>");
      for (const auto& other : p.shares)
        if (EqualNoCase(other.name, name)) return fail("share " + ToUtf8(name) + " named twice");
      p.shares.push_back({name, host});
    } else if (key == "peer_address") {
      p.peerAddress = FromUtf8(value);
    } else if (key == "idle_off_minutes") {
      if (!ParseUInt(value, &n) || n > 0xFFFFFFFF) return fail("bad number for " + key);
      p.idleOffMinutes = static_cast<DWORD>(n);
    } else if (key == "battery_percent" || key == "battery_drain") {
      double v = 0;
      if (!ParseDecimal(value, &v) || (key == "battery_percent" && v > 100) || v > 100000)
        return fail("bad number for " + key);
      (key == "battery_percent" ? p.batteryPercent : p.batteryDrain) = v;
    } else if (key == "credant_library") {
      if (value != "on" && value != "off") return fail("credant_library is on or off");
      p.credantLibrary = value == "on";
    } else if (key.size() == 17 && key.compare(0, 16, "credant_request_") == 0 && key[16] >= '1' &&
               key[16] <= '4') {
      if (!ParseCredantAnswer(value, &p.credantAnswers[key[16] - '1']))
        return fail(key + " needs CODE or CODE reply MS");
    } else if (key == "battery_ac") {
      if (value != "on" && value != "off") return fail("battery_ac is on or off");
      p.batteryAc = value == "on";
    } else {
      return fail("unknown key " + key);
    }
  }
  *out = std::move(p);
  return true;
}

std::string Profile::Serialize() const {
  std::ostringstream o;
  o << "# Device profile\n";
  o << "screen_width = " << screenWidth << "\n";
  o << "screen_height = " << screenHeight << "\n";
  o << "platform = " << ToUtf8(platform) << "\n";
  o << "version_major = " << versionMajor << "\n";
  o << "version_minor = " << versionMinor << "\n";
  o << "build = " << buildNumber << "\n";
  o << "oem = " << ToUtf8(oemInfo) << "\n";
  o << "timezone = " << timeZone << "\n";
  o << "peer_address = " << ToUtf8(peerAddress) << "\n";
  o << "idle_off_minutes = " << idleOffMinutes << "\n";
  o << "battery_percent = " << FormatDecimal(batteryPercent) << "\n";
  o << "battery_ac = " << (batteryAc ? "on" : "off") << "\n";
  o << "battery_drain = " << FormatDecimal(batteryDrain) << "\n";
  for (auto& c : cards) o << "card = " << ToUtf8(c) << "\n";
  for (auto& r : romFiles) o << "rom = " << ToUtf8(r) << "\n";
  for (auto& h : heldOpen) o << "held_open = " << ToUtf8(h) << "\n";
  for (auto& v : systemVolumes) o << "system_volume = " << ToUtf8(v.path) << "|" << (v.edb ? "edb" : "cedb") << "\n";
  for (auto& c : capacities) o << "capacity = " << ToUtf8(c.root) << "|" << c.bytes << "\n";
  for (auto& r : residentPrograms) o << "resident = " << ToUtf8(r) << "\n";
  for (auto& sh : shares) o << "share = " << ToUtf8(sh.name) << "|" << sh.hostDir.string() << "\n";
  if (credantLibrary) o << "credant_library = on\n";
  for (int i = 0; i < 4; ++i) {
    const CredantAnswer& a = credantAnswers[i];
    if (a == CredantAnswer()) continue;
    o << "credant_request_" << (i + 1) << " = " << a.code;
    if (a.replyMs) o << " reply " << *a.replyMs;
    o << "\n";
  }
  return o.str();
}

// ---------------------------------------------------------------- Device

Device* Device::Current() {
  Registry& r = Devices();
  {
    std::lock_guard<std::mutex> g(r.lock);
    if (r.current) return r.current;
  }
  const char* env = getenv(kDeviceEnv);
  if (!env || !*env) {
    SetLastError(ERROR_NOT_READY);
    return nullptr;
  }
  return Use(env);
}

Device* Device::Use(const fs::path& dir) { return Use(dir, nullptr); }

Device* Device::Use(const fs::path& dir, std::string* problem) {
  std::error_code ec;
  fs::path canon = fs::weakly_canonical(dir, ec);
  if (ec) canon = dir;
  Registry& r = Devices();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.devices.find(canon.string());
  Device* d = nullptr;
  if (it != r.devices.end()) {
    d = it->second;
  } else {
    auto* fresh = new Device;
    std::string why;
    if (!fresh->Open(canon, &why)) {
      delete fresh;
      if (problem) *problem = why;
      SetLastError(ERROR_NOT_READY);
      return nullptr;
    }
    r.devices[canon.string()] = fresh;
    d = fresh;
  }
  r.current = d;
  setenv(kDeviceEnv, canon.c_str(), 1);
  return d;
}

bool Device::Create(const fs::path& dir, const Profile& profile, std::string* error) {
  std::error_code ec;
  if (dir.empty()) {
    if (error) *error = "no folder given for the device";
    return false;
  }
  if (fs::exists(dir / "device.db", ec)) {
    if (error) *error = "a device already exists at " + dir.string();
    return false;
  }
  fs::create_directories(dir / "fs", ec);
  if (ec) {
    if (error) *error = "cannot create " + (dir / "fs").string() + ": " + ec.message();
    return false;
  }
  std::ofstream pf(dir / "profile.txt", std::ios::binary | std::ios::trunc);
  pf << profile.Serialize();
  pf.close();
  if (!pf) {
    if (error) *error = "cannot write " + (dir / "profile.txt").string();
    return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((dir / "device.db").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    if (error) *error = "cannot create device.db";
    sqlite3_close(db);
    return false;
  }
  char* msg = nullptr;
  int rc = sqlite3_exec(db,
                        "PRAGMA journal_mode=WAL;"
                        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value);"
                        "INSERT OR IGNORE INTO meta VALUES('clock_offset_ms', 0);",
                        nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    if (error) *error = std::string("cannot set up device.db: ") + (msg ? msg : "");
    sqlite3_free(msg);
    sqlite3_close(db);
    return false;
  }
  sqlite3_close(db);
  for (const auto& card : profile.cards) {
    fs::create_directories(dir / "fs" / ToUtf8(card), ec);
  }
  return true;
}

bool Device::Open(const fs::path& dir, std::string* problem) {
  std::error_code ec;
  const bool hasFs = fs::is_directory(dir / "fs", ec);
  const bool hasDb = fs::exists(dir / "device.db", ec);
  const bool hasProfile = fs::exists(dir / "profile.txt", ec);
  if (!hasFs && !hasDb && !hasProfile) {
    *problem = "no device at " + dir.string();
    return false;
  }
  std::string missing;
  for (auto [has, part] : {std::pair{hasFs, "fs/ (its file system)"}, std::pair{hasDb, "device.db"},
                           std::pair{hasProfile, "profile.txt"}}) {
    if (!has) missing += (missing.empty() ? "" : ", ") + std::string(part);
  }
  if (!missing.empty()) {
    *problem = "the device at " + dir.string() + " is incomplete: missing " + missing;
    return false;
  }
  if (!ReadProfileFile(dir / "profile.txt", &profile_, problem)) return false;
  dir_ = dir;
  if (!Db()) {
    *problem = "cannot open " + (dir / "device.db").string();
    return false;
  }
  // A damaged file opens without complaint; its first read finds out.
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  char* msg = nullptr;
  if (sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &msg) != SQLITE_OK) {
    *problem = (dir / "device.db").string() + " is damaged (" + (msg ? msg : "unreadable") + ")";
    sqlite3_free(msg);
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

int Device::ProcessId() {
  static const bool registered = [] {
    RenewPid();
    return pthread_atfork(nullptr, nullptr, RenewPid) == 0;
  }();
  return registered ? gPid : static_cast<int>(getpid());
}

sqlite3* Device::Db() {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  int pid = ProcessId();
  if (db_ && dbPid_ == pid) return db_;
  // A connection inherited through fork is left alone (closing it could
  // disturb the parent's locks), its statements too; the child opens its own.
  DropStatements(false);
  db_ = nullptr;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((dir_ / "device.db").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 15000);
  // Fails on a damaged file, which the first read reports (see Open).
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  db_ = db;
  dbPid_ = pid;
  schemasDone_.clear();
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(CloseConnectionsAtExit); });
  return db_;
}

void Device::CloseConnections() {
  std::vector<Device*> devices;
  {
    Registry& r = Devices();
    std::unique_lock<std::mutex> g(r.lock, std::try_to_lock);
    if (!g.owns_lock()) return;  // another thread is opening a device
    for (auto& [dir, d] : r.devices) devices.push_back(d);
  }
  for (Device* d : devices) d->CloseDb();
}

void Device::CloseDb() {
  // Another thread may be inside a transaction as the process ends: wait a
  // little, then leave the connection open (the next process to close one
  // checkpoints then).
  std::unique_lock<std::recursive_mutex> g(dbLock_, std::defer_lock);
  for (int i = 0; i < 100 && !g.try_lock(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!g.owns_lock() || !db_ || dbPid_ != ProcessId()) return;
  for (const auto& [sql, kept] : statements_)
    if (kept.busy) return;  // in use by a caller still: the connection stays
  DropStatements(true);
  // Fails (and keeps the connection) while a statement is still open.
  if (sqlite3_close(db_) == SQLITE_OK) {
    db_ = nullptr;
    schemasDone_.clear();
  }
}

void Device::DropStatements(bool finalize) {
  if (finalize)
    for (auto& [sql, kept] : statements_) sqlite3_finalize(kept.stmt);
  statements_.clear();
}

sqlite3_stmt* Device::Prepared(const char* sql) {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  sqlite3* db = Db();
  if (!db) return nullptr;
  auto [it, fresh] = statements_.try_emplace(sql);
  Kept& kept = it->second;
  if (fresh && sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &kept.stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(kept.stmt);
    statements_.erase(it);
    return nullptr;
  }
  if (kept.busy) return nullptr;
  kept.busy = true;
  return kept.stmt;
}

void Device::Unprepare(const char* sql, sqlite3_stmt* stmt) {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  auto it = statements_.find(sql);
  if (it != statements_.end() && it->second.stmt == stmt) it->second.busy = false;
}

bool Device::WriteProfileFile(const Profile& profile) {
  // A name of this process's own, so writers never share a half-written file.
  fs::path tmp = dir_ / ("profile.txt." + std::to_string(getpid()) + ".new");
  std::error_code ec;
  {
    std::ofstream pf(tmp, std::ios::binary | std::ios::trunc);
    pf << profile.Serialize();
    pf.close();
    if (!pf) {
      fs::remove(tmp, ec);
      return false;
    }
  }
  fs::rename(tmp, dir_ / "profile.txt", ec);
  if (ec) {
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

bool Device::SaveProfile(const Profile& profile) {
  ProfileWriteLock lock(dir_);
  if (!lock.locked() || !WriteProfileFile(profile)) return false;
  profile_ = profile;
  return true;
}

bool Device::UpdateProfile(const std::function<void(Profile&)>& change, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  ProfileWriteLock lock(dir_);
  if (!lock.locked()) {
    *error = "cannot lock " + dir_.string() + " for the profile";
    return false;
  }
  Profile p;
  if (!ReadProfileFile(dir_ / "profile.txt", &p, error)) return false;
  change(p);
  if (!WriteProfileFile(p)) {
    *error = "cannot write " + (dir_ / "profile.txt").string();
    return false;
  }
  profile_ = std::move(p);
  return true;
}

bool Device::ReloadProfile() {
  Profile fresh;
  std::string err;
  if (!ReadProfileFile(dir_ / "profile.txt", &fresh, &err)) return false;
  profile_ = std::move(fresh);
  return true;
}

bool Device::EnsureSchema(const char* schema) {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  sqlite3* db = Db();
  if (!db) return false;
  for (const char* done : schemasDone_)
    if (done == schema) return true;
  bool ok = Transaction([&] { return sqlite3_exec(db, schema, nullptr, nullptr, nullptr) == SQLITE_OK; });
  if (ok) schemasDone_.push_back(schema);
  return ok;
}

bool Device::Exec(const char* sql) {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  sqlite3* db = Db();
  if (!db) return false;
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Device::ExecKept(const char* sql) {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  return Stmt(this, sql).Run();
}

LONGLONG Device::ClockOffsetMs() {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  Stmt s(this, "SELECT value FROM meta WHERE key='clock_offset_ms'");
  if (s.ok() && s.Step()) return s.Int(0);
  return 0;
}

bool Device::SetClockOffsetMs(LONGLONG ms) {
  std::lock_guard<std::recursive_mutex> g(dbLock_);
  Stmt s(this, "INSERT OR REPLACE INTO meta(key, value) VALUES('clock_offset_ms', ?)");
  return s.Bind(1, static_cast<int64_t>(ms)).Run();
}

namespace {

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Equal under the device's upper-casing, for an ASCII b.
bool AsciiEqualNoCase(const char* a, std::string_view b) {
  auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
  size_t i = 0;
  for (; a[i]; ++i) {
    unsigned char c = static_cast<unsigned char>(a[i]);
    if (i >= b.size() || c >= 0x80 || upper(c) != upper(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == b.size();
}

}  // namespace

namespace {

// The folder part of a path's components, as given.
std::u16string FolderKey(const std::vector<std::u16string>& parts) {
  std::u16string key;
  for (size_t i = 0; i + 1 < parts.size(); ++i) (key += u'\\') += parts[i];
  return key;
}

// Folders resolved before, per device, by the device path as given
// (without its last component): their host path and their device path in
// stored case. An entry serves only while an entry below it is found by its
// exact name, so a folder moved or removed since falls back to a full
// resolve.
class KnownFolders {
 public:
  struct Folder {
    std::filesystem::path host;
    std::u16string device;
  };
  bool Find(const Device* dev, const std::u16string& key, Folder* out) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = folders_.find(Key(dev, key));
    if (it == folders_.end()) return false;
    *out = it->second;
    return true;
  }
  void Remember(const Device* dev, const std::u16string& key, Folder folder) {
    std::lock_guard<std::mutex> g(lock_);
    if (folders_.size() >= kMax) folders_.clear();
    folders_[Key(dev, key)] = std::move(folder);
  }

 private:
  static constexpr size_t kMax = 1024;
  static std::u16string Key(const Device* dev, const std::u16string& key) {
    // The device's address as a prefix: one table for every device.
    const auto id = reinterpret_cast<uintptr_t>(dev);
    std::u16string k(reinterpret_cast<const char16_t*>(&id), sizeof id / sizeof(char16_t));
    return k += key;
  }
  std::mutex lock_;
  std::unordered_map<std::u16string, Folder> folders_;
};

KnownFolders& Known() {
  static KnownFolders* known = new KnownFolders;  // lives as long as the process
  return *known;
}

// Resolves a path whose folder was resolved before: found by its exact
// name (not through a link), the entry is the one a full resolve finds.
// Unchecked, the entry is not looked at (exists is set, isDirectory not).
bool ResolveInKnownFolder(const Device* dev, const std::vector<std::u16string>& parts, bool checked,
                          ResolvedPath* out) {
  if (parts.size() < 2) return false;
  KnownFolders::Folder folder;
  if (!Known().Find(dev, FolderKey(parts), &folder)) return false;
  std::filesystem::path host = folder.host / ToUtf8(parts.back());
  struct stat st;
  if (checked && (lstat(host.c_str(), &st) != 0 || S_ISLNK(st.st_mode))) return false;
  ResolvedPath r;
  r.host = std::move(host);
  r.device = std::move(folder.device);
  (r.device += u'\\') += parts.back();
  r.exists = r.parentExists = true;
  r.isDirectory = checked && S_ISDIR(st.st_mode);
  r.key = DeviceUpper(r.device);
  *out = std::move(r);
  return true;
}

// A device path's components ("", "." skipped); false (last error set)
// for a path the device refuses.
bool SplitPath(std::u16string_view devicePath, std::vector<std::u16string>* parts) {
  if (devicePath.size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // The device keeps no current folder: a path without the root separator
  // ("My Documents\\x") names the same entry as the rooted one.
  if (devicePath.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::u16string cur;
  auto flush = [&]() -> bool {
    if (cur.empty() || cur == u".") {
      cur.clear();
      return true;
    }
    if (cur == u"..") return false;
    for (char16_t c : cur)
      if (IsBadNameChar(c)) return false;
    parts->push_back(cur);
    cur.clear();
    return true;
  };
  for (char16_t c : devicePath) {
    if (c == u'\\' || c == u'/') {
      if (!flush()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
      }
    } else {
      cur += c;
    }
  }
  if (!flush()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return true;
}

void RememberFolder(const Device* dev, const std::vector<std::u16string>& parts, const ResolvedPath& r) {
  if (parts.size() < 2 || !r.parentExists) return;
  const size_t cut = r.device.rfind(u'\\');
  if (cut == std::u16string::npos || cut == 0) return;
  Known().Remember(dev, FolderKey(parts), KnownFolders::Folder{r.host.parent_path(), r.device.substr(0, cut)});
}

}  // namespace

bool Device::ResolveUnchecked(std::u16string_view devicePath, ResolvedPath* out) const {
  std::vector<std::u16string> parts;
  return SplitPath(devicePath, &parts) && ResolveInKnownFolder(this, parts, false, out);
}

bool Device::Resolve(std::u16string_view devicePath, ResolvedPath* out) const {
  std::vector<std::u16string> parts;
  if (!SplitPath(devicePath, &parts)) return false;
  if (ResolveInKnownFolder(this, parts, true, out)) return true;
  ResolvedPath r;
  r.host = FsRoot();
  r.device.assign(1, u'\\');
  r.parentExists = true;
  r.exists = true;
  r.isDirectory = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::u16string& want = parts[i];
    std::string found;
    bool have = false;
    struct stat st;
    bool haveStat = false;  // st holds the entry's own stat (not a link's)
    if (r.exists && r.isDirectory) {
      std::string exact = ToUtf8(want);
      if (lstat((r.host / exact).c_str(), &st) == 0) {
        found = exact;
        have = true;
        haveStat = !S_ISLNK(st.st_mode);
      } else {
        std::u16string up = DeviceUpper(want);
        const bool wantAscii = IsAscii(exact);
        if (DIR* d = opendir(r.host.c_str())) {
          while (dirent* e = readdir(d)) {
            if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
            // Upper-casing keeps ASCII in ASCII and everything else out of
            // it, so an ASCII name is compared without converting entries.
            bool same = wantAscii ? AsciiEqualNoCase(e->d_name, exact) : DeviceUpper(FromUtf8(e->d_name)) == up;
            if (same) {
              found = e->d_name;
              have = true;
              break;
            }
          }
          closedir(d);
        }
      }
    }
    bool last = i + 1 == parts.size();
    if (last) r.parentExists = r.exists && r.isDirectory;
    // Such a name is refused where it would be made; one that is there
    // already (put there from the host side) is still reached by its name.
    if (!have && IsUnholdableName(want)) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    if (have) {
      r.host /= found;
      if (r.device.size() > 1) r.device += u'\\';
      r.device += FromUtf8(found);
      r.exists = haveStat || stat(r.host.c_str(), &st) == 0;
      r.isDirectory = r.exists && S_ISDIR(st.st_mode);
    } else {
      r.host /= ToUtf8(want);
      if (r.device.size() > 1) r.device += u'\\';
      r.device += want;
      r.exists = false;
      r.isDirectory = false;
    }
  }
  r.key = DeviceUpper(r.device);
  RememberFolder(this, parts, r);
  *out = std::move(r);
  return true;
}

// ---------------------------------------------------------------- Stmt

Stmt::Stmt(sqlite3* db, const char* sql) {
  if (!db || sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Stmt::Stmt(Device* dev, const char* sql) {
  if (!dev) return;
  stmt_ = dev->Prepared(sql);
  if (stmt_) {
    keptBy_ = dev;
    sql_ = sql;
  }
  else if (sqlite3* db = dev->Db(); !db || sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Stmt::~Stmt() {
  if (keptBy_) keptBy_->Unprepare(sql_, stmt_);
  else sqlite3_finalize(stmt_);
}

Stmt& Stmt::Bind(int i, int64_t v) {
  if (stmt_) sqlite3_bind_int64(stmt_, i, v);
  return *this;
}

Stmt& Stmt::Bind(int i, std::string_view v) {
  if (stmt_) sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  return *this;
}

Stmt& Stmt::Bind(int i, std::u16string_view v) { return Bind(i, std::string_view(ToUtf8(v))); }

Stmt& Stmt::BindBlob(int i, const void* data, size_t n) {
  if (stmt_) sqlite3_bind_blob(stmt_, i, n ? data : "", static_cast<int>(n), SQLITE_TRANSIENT);
  return *this;
}

Stmt& Stmt::BindNull(int i) {
  if (stmt_) sqlite3_bind_null(stmt_, i);
  return *this;
}

bool Stmt::Step() { return stmt_ && sqlite3_step(stmt_) == SQLITE_ROW; }

bool Stmt::Run() {
  if (!stmt_) return false;
  int rc;
  while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
  }
  return rc == SQLITE_DONE;
}

int64_t Stmt::Int(int col) const { return stmt_ ? sqlite3_column_int64(stmt_, col) : 0; }

std::string Stmt::Text(int col) const {
  if (!stmt_) return {};
  const unsigned char* t = sqlite3_column_text(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(n)) : std::string();
}

std::u16string Stmt::Text16(int col) const { return FromUtf8(Text(col)); }

std::string Stmt::Blob(int col) const {
  if (!stmt_) return {};
  const void* b = sqlite3_column_blob(stmt_, col);
  int n = sqlite3_column_bytes(stmt_, col);
  return b ? std::string(static_cast<const char*>(b), static_cast<size_t>(n)) : std::string();
}

bool Stmt::IsNull(int col) const { return !stmt_ || sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

void Stmt::Reset() {
  if (stmt_) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
}

}  // namespace ce
