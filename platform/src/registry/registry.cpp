#include "ce/registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "cesim/device.h"
#include "ce/errors.h"
#include "ce/text.h"
#include "cesim/registry.h"
#include "boot/boot_state.h"
#include "registry/registry_hive.h"
#include "trap/call_trap.h"

using ce::reg::Hive;

namespace {

constexpr size_t kMaxKeyNameLen = 255;
// Values are stored with names up to 255 characters (what enumeration
// hands back); longer names are still looked up and deleted, since hives
// written before that limit may hold them.
constexpr size_t kMaxStoredValueNameLen = 255;
constexpr size_t kMaxValueNameLen = 16383;

// A key as a handle sees it: its hive, its path of upper-cased names from the
// root row down, and its row id as of one connection generation.
struct KeyRef {
  std::shared_ptr<Hive> hive;
  std::vector<std::u16string> path;
  int64_t id = 0;
  uint64_t generation = 0;
};

struct LiveHives {
  std::shared_ptr<Hive> system;
  std::shared_ptr<Hive> user;
};

struct State {
  std::mutex lock;
  std::unordered_map<uintptr_t, KeyRef> handles;
  uintptr_t next = 0x52470000;  // far from the predefined roots
  std::map<std::string, LiveHives> live;  // by device folder
};

State& S() {
  static State* s = new State;
  return *s;
}

LONG Done(LONG err) {
  SetLastError(static_cast<DWORD>(err));
  return err;
}

bool IsRoot(HKEY key) {
  auto v = reinterpret_cast<uintptr_t>(key);
  return v >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) && v <= reinterpret_cast<uintptr_t>(HKEY_USERS);
}

std::u16string_view RootName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ce::reg::kRootHKLM;
  if (key == HKEY_CURRENT_USER) return ce::reg::kRootHKCU;
  if (key == HKEY_CLASSES_ROOT) return ce::reg::kRootHKCR;
  return ce::reg::kRootHKU;
}

// The live hive behind a predefined root on the current device.
LONG LiveHive(HKEY root, std::shared_ptr<Hive>* out) {
  ce::Device* dev = ce::Device::Current();
  if (!dev) return ERROR_NOT_READY;
  auto& live = S().live;
  auto it = live.find(dev->Dir().string());
  if (it == live.end()) {
    // Let go of devices whose folders are gone (tests, tools).
    for (auto d = live.begin(); d != live.end();) {
      std::error_code ec;
      d = std::filesystem::exists(d->first, ec) ? std::next(d) : live.erase(d);
    }
    it = live.emplace(dev->Dir().string(), LiveHives{}).first;
  }
  LiveHives& lh = it->second;
  if (root == HKEY_CURRENT_USER) {
    if (!lh.user)
      lh.user = std::make_shared<Hive>(dev, std::u16string(ce::kUserHivePath),
                                       std::vector<std::u16string>{std::u16string(ce::reg::kRootHKCU)});
    *out = lh.user;
  } else {
    if (!lh.system)
      lh.system = std::make_shared<Hive>(
          dev, std::u16string(ce::kSystemHivePath),
          std::vector<std::u16string>{std::u16string(ce::reg::kRootHKLM), std::u16string(ce::reg::kRootHKCR),
                                      std::u16string(ce::reg::kRootHKU)});
    *out = lh.system;
  }
  return ERROR_SUCCESS;
}

// Splits a subkey path into its names; empty components are skipped.
LONG SplitPath(LPCWSTR subKey, std::vector<std::u16string>* names) {
  names->clear();
  if (!subKey) return ERROR_SUCCESS;
  std::u16string cur;
  for (const WCHAR* p = subKey;; ++p) {
    if (*p == u'\\' || *p == 0) {
      if (!cur.empty()) {
        if (cur.size() > kMaxKeyNameLen) return ERROR_INVALID_PARAMETER;
        names->push_back(std::move(cur));
        cur.clear();
      }
      if (*p == 0) break;
    } else {
      cur += *p;
    }
  }
  return ERROR_SUCCESS;
}

LONG ValueName(LPCWSTR name, std::u16string* out) {
  *out = name ? std::u16string(name) : std::u16string();
  return out->size() > kMaxValueNameLen ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

// Row id of the child named name below parent; 0 when missing, -1 on error.
int64_t ChildId(Hive& h, int64_t parent, std::u16string_view upperName) {
  ce::Stmt s(h.Db(), "SELECT id FROM rkey WHERE parent = ? AND uname = ?");
  if (s.Bind(1, parent).Bind(2, upperName).Step()) return s.Int(0);
  return sqlite3_errcode(h.Db()) == SQLITE_DONE ? 0 : -1;
}

// Brings ref's row id up to date inside the open transaction.
LONG Locate(KeyRef& ref) {
  Hive& h = *ref.hive;
  if (ref.id > 0 && ref.generation == h.Generation()) {
    ce::Stmt s(h.Db(), "SELECT 1 FROM rkey WHERE id = ?");
    if (s.Bind(1, ref.id).Step()) return ERROR_SUCCESS;
    return sqlite3_errcode(h.Db()) == SQLITE_DONE ? ERROR_KEY_DELETED : h.LastError();
  }
  // The connection was reopened (the file may be another one): follow the path.
  int64_t id = 0;
  for (const auto& name : ref.path) {
    id = ChildId(h, id, name);
    if (id < 0) return h.LastError();
    if (id == 0) return ERROR_KEY_DELETED;
  }
  ref.id = id;
  ref.generation = h.Generation();
  return ERROR_SUCCESS;
}

// Runs fn(ref) on the key behind key inside one transaction of its hive.
template <class Fn>
LONG WithKey(HKEY key, bool write, Fn&& fn) {
  State& st = S();
  std::lock_guard<std::mutex> g(st.lock);
  KeyRef rootRef;
  KeyRef* ref = nullptr;
  if (IsRoot(key)) {
    LONG err = LiveHive(key, &rootRef.hive);
    if (err != ERROR_SUCCESS) return Done(err);
    rootRef.path = {ce::DeviceUpper(RootName(key))};
    ref = &rootRef;
  } else {
    auto it = st.handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == st.handles.end()) return Done(ERROR_INVALID_HANDLE);
    ref = &it->second;
  }
  Hive& h = *ref->hive;
  LONG err = h.Ensure();
  if (err == ERROR_SUCCESS) err = h.Begin(write);
  if (err != ERROR_SUCCESS) return Done(err);
  err = Locate(*ref);
  if (err == ERROR_SUCCESS) err = fn(*ref);
  if (err != ERROR_SUCCESS && err != ERROR_MORE_DATA) {
    h.Rollback();
    return Done(err);
  }
  LONG commit = h.Commit();
  return Done(commit != ERROR_SUCCESS ? commit : err);
}

HKEY AddHandle(KeyRef ref) {
  State& st = S();
  uintptr_t v = st.next;
  st.next += 4;
  st.handles.emplace(v, std::move(ref));
  return reinterpret_cast<HKEY>(v);
}

// Copies a name into a caller's buffer of *size characters (NUL included).
LONG PutName(const std::u16string& name, LPWSTR buf, LPDWORD size) {
  if (!buf || !size) return ERROR_INVALID_PARAMETER;
  if (*size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(buf, name.data(), name.size() * sizeof(WCHAR));
  buf[name.size()] = 0;
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Hands value data out the way the query calls do.
LONG PutData(const std::string& bytes, LPBYTE data, LPDWORD size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  if (!size) return ERROR_SUCCESS;
  DWORD need = static_cast<DWORD>(bytes.size());
  if (data) {
    if (*size < need) {
      *size = need;
      return ERROR_MORE_DATA;
    }
    if (need) std::memcpy(data, bytes.data(), need);
  }
  *size = need;
  return ERROR_SUCCESS;
}

void EmptyClass(LPWSTR keyClass, LPDWORD classSize) {
  if (classSize) {
    if (keyClass && *classSize) keyClass[0] = 0;
    *classSize = 0;
  }
}

void ZeroTime(LPFILETIME t) {
  if (t) *t = FILETIME{0, 0};
}

LONG DeleteTree(Hive& h, int64_t id) {
  static const char* const kSub =
      "WITH RECURSIVE sub(id) AS (SELECT ? UNION ALL SELECT k.id FROM rkey k JOIN sub ON k.parent = sub.id) ";
  ce::Stmt v(h.Db(), (std::string(kSub) + "DELETE FROM rvalue WHERE key IN sub").c_str());
  if (!v.Bind(1, id).Run()) return h.LastError();
  ce::Stmt k(h.Db(), (std::string(kSub) + "DELETE FROM rkey WHERE id IN sub").c_str());
  if (!k.Bind(1, id).Run()) return h.LastError();
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPVOID, HKEY* result,
                     LPDWORD disposition) {
  ce::trap::BeforeCall();
  if (!result) return Done(ERROR_INVALID_PARAMETER);
  std::vector<std::u16string> names;
  if (LONG err = SplitPath(subKey, &names)) return Done(err);
  KeyRef made;
  bool created = false;
  LONG err = WithKey(key, true, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    made = ref;
    for (const auto& name : names) {
      std::u16string up = ce::DeviceUpper(name);
      int64_t id = ChildId(h, made.id, up);
      if (id < 0) return h.LastError();
      created = id == 0;
      if (created) {
        ce::Stmt s(h.Db(), "INSERT INTO rkey(parent, name, uname) VALUES(?, ?, ?)");
        if (!s.Bind(1, made.id).Bind(2, name).Bind(3, up).Run()) return h.LastError();
        id = sqlite3_last_insert_rowid(h.Db());
      }
      made.id = id;
      made.path.push_back(std::move(up));
    }
    return ERROR_SUCCESS;
  });
  if (err != ERROR_SUCCESS) return err;
  {
    std::lock_guard<std::mutex> g(S().lock);
    *result = AddHandle(std::move(made));
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  if (created) ce::trap::AfterCall(ce::CallKind::kReg, "RegCreateKeyExW");
  return Done(ERROR_SUCCESS);
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  if (!result) return Done(ERROR_INVALID_PARAMETER);
  std::vector<std::u16string> names;
  if (LONG err = SplitPath(subKey, &names)) return Done(err);
  KeyRef found;
  LONG err = WithKey(key, false, [&](KeyRef& ref) -> LONG {
    found = ref;
    for (const auto& name : names) {
      std::u16string up = ce::DeviceUpper(name);
      int64_t id = ChildId(*ref.hive, found.id, up);
      if (id < 0) return ref.hive->LastError();
      if (id == 0) return ERROR_FILE_NOT_FOUND;
      found.id = id;
      found.path.push_back(std::move(up));
    }
    return ERROR_SUCCESS;
  });
  if (err != ERROR_SUCCESS) return err;
  std::lock_guard<std::mutex> g(S().lock);
  *result = AddHandle(std::move(found));
  return Done(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key) {
  if (IsRoot(key)) return Done(ERROR_SUCCESS);
  std::shared_ptr<Hive> last;  // released outside the lock
  std::lock_guard<std::mutex> g(S().lock);
  auto it = S().handles.find(reinterpret_cast<uintptr_t>(key));
  if (it == S().handles.end()) return Done(ERROR_INVALID_HANDLE);
  last = std::move(it->second.hive);
  S().handles.erase(it);
  return Done(ERROR_SUCCESS);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (data && !dataSize) return Done(ERROR_INVALID_PARAMETER);
  std::u16string name;
  if (LONG err = ValueName(valueName, &name)) return Done(err);
  return WithKey(key, false, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    ce::Stmt s(h.Db(), "SELECT type, data FROM rvalue WHERE key = ? AND uname = ?");
    if (!s.Bind(1, ref.id).Bind(2, ce::DeviceUpper(name)).Step())
      return sqlite3_errcode(h.Db()) == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : h.LastError();
    if (type) *type = static_cast<DWORD>(s.Int(0));
    return PutData(s.Blob(1), data, dataSize);
  });
}

static LONG SetValue(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD dataSize) {
  if (!data && dataSize) return Done(ERROR_INVALID_PARAMETER);
  std::u16string name;
  if (LONG err = ValueName(valueName, &name)) return Done(err);
  if (name.size() > kMaxStoredValueNameLen) return Done(ERROR_INVALID_PARAMETER);
  return WithKey(key, true, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    ce::Stmt s(h.Db(),
               "INSERT INTO rvalue(key, name, uname, type, data) VALUES(?, ?, ?, ?, ?) "
               "ON CONFLICT(key, uname) DO UPDATE SET type = excluded.type, data = excluded.data");
    s.Bind(1, ref.id).Bind(2, name).Bind(3, ce::DeviceUpper(name)).Bind(4, static_cast<int64_t>(type));
    s.BindBlob(5, data, dataSize);
    return s.Run() ? ERROR_SUCCESS : h.LastError();
  });
}

static LONG DeleteValue(HKEY key, LPCWSTR valueName) {
  std::u16string name;
  if (LONG err = ValueName(valueName, &name)) return Done(err);
  return WithKey(key, true, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    ce::Stmt s(h.Db(), "DELETE FROM rvalue WHERE key = ? AND uname = ?");
    if (!s.Bind(1, ref.id).Bind(2, ce::DeviceUpper(name)).Run()) return h.LastError();
    return sqlite3_changes(h.Db()) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

static LONG DeleteKey(HKEY key, LPCWSTR subKey) {
  std::vector<std::u16string> names;
  if (LONG err = SplitPath(subKey, &names)) return Done(err);
  return WithKey(key, true, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    int64_t id = ref.id;
    for (const auto& name : names) {
      id = ChildId(h, id, ce::DeviceUpper(name));
      if (id < 0) return h.LastError();
      if (id == 0) return ERROR_FILE_NOT_FOUND;
    }
    ce::Stmt s(h.Db(), "SELECT parent FROM rkey WHERE id = ?");
    if (!s.Bind(1, id).Step()) return h.LastError();
    if (s.Int(0) == 0) return ERROR_ACCESS_DENIED;  // a hive's root
    return DeleteTree(h, id);
  });
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPWSTR keyClass,
                   LPDWORD classSize, LPFILETIME lastWriteTime) {
  if (!name || !nameSize) return Done(ERROR_INVALID_PARAMETER);
  return WithKey(key, false, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    ce::Stmt s(h.Db(), "SELECT name FROM rkey WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
    if (!s.Bind(1, ref.id).Bind(2, static_cast<int64_t>(index)).Step())
      return sqlite3_errcode(h.Db()) == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : h.LastError();
    EmptyClass(keyClass, classSize);
    ZeroTime(lastWriteTime);
    return PutName(s.Text16(0), name, nameSize);
  });
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize) {
  if (!name || !nameSize || (data && !dataSize)) return Done(ERROR_INVALID_PARAMETER);
  return WithKey(key, false, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    ce::Stmt s(h.Db(), "SELECT name, type, data FROM rvalue WHERE key = ? ORDER BY id LIMIT 1 OFFSET ?");
    if (!s.Bind(1, ref.id).Bind(2, static_cast<int64_t>(index)).Step())
      return sqlite3_errcode(h.Db()) == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : h.LastError();
    if (type) *type = static_cast<DWORD>(s.Int(1));
    LONG nameErr = PutName(s.Text16(0), name, nameSize);
    LONG dataErr = PutData(s.Blob(2), data, dataSize);
    return nameErr != ERROR_SUCCESS ? nameErr : dataErr;
  });
}

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classSize, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyLen, LPDWORD maxClassLen, LPDWORD values, LPDWORD maxValueNameLen,
                      LPDWORD maxValueLen, LPDWORD securityDescriptorSize, LPFILETIME lastWriteTime) {
  return WithKey(key, false, [&](KeyRef& ref) -> LONG {
    Hive& h = *ref.hive;
    DWORD nKeys = 0, maxKey = 0, nValues = 0, maxName = 0, maxData = 0;
    ce::Stmt k(h.Db(), "SELECT name FROM rkey WHERE parent = ?");
    k.Bind(1, ref.id);
    while (k.Step()) {
      ++nKeys;
      maxKey = std::max<DWORD>(maxKey, static_cast<DWORD>(k.Text16(0).size()));
    }
    if (sqlite3_errcode(h.Db()) != SQLITE_DONE) return h.LastError();
    ce::Stmt v(h.Db(), "SELECT name, length(data) FROM rvalue WHERE key = ?");
    v.Bind(1, ref.id);
    while (v.Step()) {
      ++nValues;
      maxName = std::max<DWORD>(maxName, static_cast<DWORD>(v.Text16(0).size()));
      maxData = std::max<DWORD>(maxData, static_cast<DWORD>(v.Int(1)));
    }
    if (sqlite3_errcode(h.Db()) != SQLITE_DONE) return h.LastError();
    EmptyClass(keyClass, classSize);
    if (subKeys) *subKeys = nKeys;
    if (maxSubKeyLen) *maxSubKeyLen = maxKey;
    if (maxClassLen) *maxClassLen = 0;
    if (values) *values = nValues;
    if (maxValueNameLen) *maxValueNameLen = maxName;
    if (maxValueLen) *maxValueLen = maxData;
    if (securityDescriptorSize) *securityDescriptorSize = 0;
    ZeroTime(lastWriteTime);
    return ERROR_SUCCESS;
  });
}

LONG RegFlushKey(HKEY key) {
  return WithKey(key, false, [](KeyRef&) -> LONG { return ERROR_SUCCESS; });
}

static LONG SaveKey(HKEY key, LPCWSTR file) {
  if (!file || !*file) return Done(ERROR_INVALID_PARAMETER);
  ce::Device* dev = ce::Device::Current();
  if (!dev) return Done(ERROR_NOT_READY);
  ce::ResolvedPath target;
  if (!dev->Resolve(file, &target)) return Done(static_cast<LONG>(GetLastError()));
  if (target.exists) return Done(ERROR_ALREADY_EXISTS);
  if (!target.parentExists) return Done(ERROR_PATH_NOT_FOUND);
  std::shared_ptr<Hive> hive;
  LONG err = WithKey(key, false, [&](KeyRef& ref) -> LONG {
    hive = ref.hive;
    return ERROR_SUCCESS;
  });
  if (err != ERROR_SUCCESS) return err;
  std::lock_guard<std::mutex> g(S().lock);
  err = hive->Ensure();
  if (err != ERROR_SUCCESS) return Done(err);
  // One read snapshot copied into a fresh file of the live format.
  ce::Stmt s(hive->Db(), "VACUUM INTO ?");
  if (!s.Bind(1, target.host.string()).Run()) {
    err = ce::reg::ErrorFromSqlite(sqlite3_errcode(hive->Db()), true);
    std::error_code ec;
    std::filesystem::remove(target.host, ec);
    return Done(err == ERROR_SUCCESS ? ERROR_CANTWRITE : err);
  }
  return Done(ERROR_SUCCESS);
}

static LONG ReplaceKey(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile) {
  if (key != HKEY_LOCAL_MACHINE || (subKey && *subKey) || (oldFile && *oldFile) || !newFile || !*newFile)
    return Done(ERROR_INVALID_PARAMETER);
  ce::Device* dev = ce::Device::Current();
  if (!dev) return Done(ERROR_NOT_READY);
  ce::ResolvedPath path;
  if (!dev->Resolve(newFile, &path)) return Done(static_cast<LONG>(GetLastError()));
  if (!path.exists) return Done(path.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  if (path.isDirectory) return Done(ERROR_ACCESS_DENIED);
  {
    // Only a hive may become the system hive.
    std::lock_guard<std::mutex> g(S().lock);
    Hive probe(path.host);
    LONG err = probe.Ensure();
    if (err != ERROR_SUCCESS) return Done(err == ERROR_FILE_NOT_FOUND ? err : ERROR_BADDB);
  }
  if (!ce::boot::RecordHiveReplacement(dev, path.device)) return Done(ERROR_CANTWRITE);
  return Done(ERROR_SUCCESS);
}

// The calls that change a hive count for the run's call counter
// (cesim/calltrap.h).

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  ce::trap::BeforeCall();
  const LONG err = SetValue(key, valueName, type, data, dataSize);
  if (err == ERROR_SUCCESS) ce::trap::AfterCall(ce::CallKind::kReg, "RegSetValueExW");
  return err;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  ce::trap::BeforeCall();
  const LONG err = DeleteValue(key, valueName);
  if (err == ERROR_SUCCESS) ce::trap::AfterCall(ce::CallKind::kReg, "RegDeleteValueW");
  return err;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  ce::trap::BeforeCall();
  const LONG err = DeleteKey(key, subKey);
  if (err == ERROR_SUCCESS) ce::trap::AfterCall(ce::CallKind::kReg, "RegDeleteKeyW");
  return err;
}

LONG RegSaveKeyW(HKEY key, LPCWSTR file, LPVOID) {
  ce::trap::BeforeCall();
  const LONG err = SaveKey(key, file);
  if (err == ERROR_SUCCESS) ce::trap::AfterCall(ce::CallKind::kReg, "RegSaveKeyW");
  return err;
}

LONG RegReplaceKeyW(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile) {
  ce::trap::BeforeCall();
  const LONG err = ReplaceKey(key, subKey, newFile, oldFile);
  if (err == ERROR_SUCCESS) ce::trap::AfterCall(ce::CallKind::kReg, "RegReplaceKeyW");
  return err;
}

namespace ce {

LONG RegOpenHiveFile(LPCWSTR file, HKEY root, HKEY* result) {
  if (!file || !result || (root && !IsRoot(root))) return Done(ERROR_INVALID_PARAMETER);
  Device* dev = Device::Current();
  if (!dev) return Done(ERROR_NOT_READY);
  ResolvedPath path;
  if (!dev->Resolve(file, &path)) return Done(static_cast<LONG>(GetLastError()));
  if (!path.exists) return Done(ERROR_FILE_NOT_FOUND);
  if (path.isDirectory) return Done(ERROR_ACCESS_DENIED);

  std::lock_guard<std::mutex> g(S().lock);
  std::shared_ptr<Hive> hive;
  // A live hive keeps its one connection.
  for (HKEY r : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    ResolvedPath livePath;
    std::error_code ec;
    if (dev->Resolve(r == HKEY_CURRENT_USER ? kUserHivePath : kSystemHivePath, &livePath) && livePath.exists &&
        std::filesystem::equivalent(livePath.host, path.host, ec))
      LiveHive(r, &hive);
  }
  if (!hive) hive = std::make_shared<Hive>(path.host);
  LONG err = hive->Ensure();
  if (err == ERROR_SUCCESS) err = hive->Begin(false);
  if (err != ERROR_SUCCESS) return Done(err);
  KeyRef ref;
  ref.hive = hive;
  {
    Stmt s(hive->Db(), root ? "SELECT id, uname FROM rkey WHERE parent = 0 AND uname = ?"
                            : "SELECT id, uname FROM rkey WHERE parent = 0 ORDER BY id LIMIT 1");
    if (root) s.Bind(1, DeviceUpper(RootName(root)));
    if (s.Step()) {
      ref.id = s.Int(0);
      ref.path = {s.Text16(1)};
      ref.generation = hive->Generation();
    } else {
      err = sqlite3_errcode(hive->Db()) == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : hive->LastError();
    }
  }
  LONG commit = hive->Commit();
  if (err == ERROR_SUCCESS) err = commit;
  if (err != ERROR_SUCCESS) return Done(err);
  *result = AddHandle(std::move(ref));
  return Done(ERROR_SUCCESS);
}

void RegCloseHives() {
  std::lock_guard<std::mutex> g(S().lock);
  for (auto& [dir, lh] : S().live) {
    if (lh.system) lh.system->Close();
    if (lh.user) lh.user->Close();
  }
  S().live.clear();
  for (auto& [h, ref] : S().handles) ref.hive->Close();
}

}  // namespace ce
