// The device's window table, window classes and the window calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/dialog.h"
#include "cesim/process.h"
#include "cesim/window.h"
#include "window/window_state.h"

constexpr int DWL_MSGRESULT_ = DWL_MSGRESULT;
constexpr int DWL_DLGPROC_ = DWL_DLGPROC;
constexpr int DWL_USER_ = DWL_USER;

#ifndef ERROR_INVALID_INDEX
#define ERROR_INVALID_INDEX 1413L
#endif

namespace ce::win {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS windows("
    " hwnd INTEGER PRIMARY KEY AUTOINCREMENT, pid INTEGER NOT NULL, start_time INTEGER NOT NULL,"
    " class TEXT NOT NULL, class_key TEXT NOT NULL, title TEXT NOT NULL, parent INTEGER NOT NULL,"
    " style INTEGER NOT NULL, ex_style INTEGER NOT NULL, control_id INTEGER NOT NULL,"
    " visible INTEGER NOT NULL);"
    // Window handles start at 0x10000, clear of HWND_BROADCAST and small ids.
    "INSERT INTO sqlite_sequence(name, seq) SELECT 'windows', 65535"
    " WHERE NOT EXISTS(SELECT 1 FROM sqlite_sequence WHERE name = 'windows');"
    // kind 0: posted; kind 1: sent (state 0 waiting, 1 running, 2 answered).
    "CREATE TABLE IF NOT EXISTS window_messages("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, pid INTEGER NOT NULL, start_time INTEGER NOT NULL,"
    " hwnd INTEGER NOT NULL, msg INTEGER NOT NULL, wparam INTEGER NOT NULL, lparam INTEGER NOT NULL,"
    " time INTEGER NOT NULL, kind INTEGER NOT NULL, sender_pid INTEGER, sender_start INTEGER,"
    " state INTEGER NOT NULL DEFAULT 0, result INTEGER);"
    "CREATE INDEX IF NOT EXISTS window_messages_queue ON window_messages(pid, start_time, kind, id);"
    "CREATE TABLE IF NOT EXISTS window_message_names("
    " id INTEGER PRIMARY KEY, name_key TEXT NOT NULL UNIQUE, name TEXT NOT NULL);";

bool EnsureTables(Device* d) { return d->EnsureSchema(kSchema); }

Row ReadRow(Stmt& s) {
  Row r;
  r.hwnd = s.Int(0);
  r.owner.pid = static_cast<int>(s.Int(1));
  r.owner.start = static_cast<uint64_t>(s.Int(2));
  r.className = s.Text16(3);
  r.title = s.Text16(4);
  r.parent = s.Int(5);
  r.style = static_cast<DWORD>(s.Int(6));
  r.exStyle = static_cast<DWORD>(s.Int(7));
  r.controlId = s.Int(8);
  r.visible = s.Int(9) != 0;
  return r;
}

constexpr const char* kRowColumns =
    "SELECT hwnd, pid, start_time, class, title, parent, style, ex_style, control_id, visible FROM windows";

bool Alive(const Owner& o) { return HostProcessAlive(o.pid, o.start); }

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// The style bit as the statements below spell it.
static_assert(WS_VISIBLE == 268435456);

// Runs sql with ?1 = value, ?2 = hwnd.
bool UpdateColumn(Device* d, int64_t hwnd, const char* sql, int64_t value) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), sql);
  return s.Bind(1, value).Bind(2, hwnd).Run();
}

bool UpdateTitle(Device* d, int64_t hwnd, std::u16string_view title) {
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "UPDATE windows SET title = ? WHERE hwnd = ?");
  return s.Bind(1, title).Bind(2, hwnd).Run();
}

// The window, which must belong to this process.
std::optional<Row> LoadOwn(Device* d, HWND hwnd) {
  auto row = LoadWindow(d, hwnd);
  if (!row) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return std::nullopt;
  }
  if (!(row->owner == Self())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return std::nullopt;
  }
  return row;
}

const LocalClass* FindClass(LocalState* st, LPCWSTR name) {
  if (!name) return nullptr;
  if (IS_INTRESOURCE(name)) {
    ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    for (auto& [key, c] : st->classes)
      if (c.atom == atom) return &c;
    return nullptr;
  }
  auto it = st->classes.find(DeviceUpper(name));
  return it == st->classes.end() ? nullptr : &it->second;
}

int CopyText(const std::u16string& text, LPWSTR out, int maxCount) {
  if (!out || maxCount <= 0) return 0;
  int n = std::min<int>(static_cast<int>(text.size()), maxCount - 1);
  std::copy(text.begin(), text.begin() + n, out);
  out[n] = 0;
  return n;
}

}  // namespace

// ------------------------------------------------------------ shared internals

Owner Self() {
  static std::mutex m;
  static Owner cached;
  std::lock_guard<std::mutex> g(m);
  int pid = static_cast<int>(getpid());
  if (cached.pid != pid) cached = Owner{pid, HostProcessStartTime(pid)};
  return cached;
}

Device* DeviceOrFail() {
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  if (!d || !EnsureTables(d)) {
    SetLastError(ERROR_NOT_READY);
    return nullptr;
  }
  SetLastError(saved);
  return d;
}

std::optional<Row> LoadWindow(Device* d, HWND hwnd) {
  int64_t id = ToId(hwnd);
  if (id <= 0) return std::nullopt;
  std::optional<Row> row;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), (std::string(kRowColumns) + " WHERE hwnd = ?").c_str());
    s.Bind(1, id);
    if (s.Step()) row = ReadRow(s);
  }
  if (row && !(row->owner == Self()) && !Alive(row->owner)) {
    PurgeOwner(d, row->owner);
    return std::nullopt;
  }
  return row;
}

std::vector<Row> TopLevelWindows(Device* d) {
  PurgeEndedWindowOwners();
  std::vector<Row> rows;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), (std::string(kRowColumns) + " WHERE (style & ?) = 0 ORDER BY hwnd DESC").c_str());
  s.Bind(1, int64_t{WS_CHILD});
  while (s.Step()) rows.push_back(ReadRow(s));
  return rows;
}

void PurgeOwner(Device* d, const Owner& o) {
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    d->Transaction([&] {
      Stmt w(d->Db(), "DELETE FROM windows WHERE pid = ? AND start_time = ?");
      Stmt q(d->Db(),
             "DELETE FROM window_messages WHERE (pid = ?1 AND start_time = ?2)"
             " OR (kind = 1 AND sender_pid = ?1 AND sender_start = ?2)");
      w.Bind(1, o.pid).Bind(2, static_cast<int64_t>(o.start)).Run();
      q.Bind(1, o.pid).Bind(2, static_cast<int64_t>(o.start)).Run();
      return true;
    });
  }
  std::error_code ec;
  std::filesystem::remove(d->Dir() / "msgq" / (std::to_string(o.pid) + "-" + std::to_string(o.start)), ec);
}

std::unique_lock<std::recursive_mutex> LockLocal(Device* d, LocalState** out) {
  static LocalState* st = new LocalState;  // lives until the process ends
  std::unique_lock<std::recursive_mutex> lock(st->m);
  int pid = static_cast<int>(getpid());
  if (st->device != d || st->pid != pid) {
    // A forked child owns none of its parent's windows; a new device
    // starts with no windows, classes or timers.
    if (st->wakeFd >= 0 && st->pid == pid) close(st->wakeFd);
    st->wakeFd = -1;
    st->windows.clear();
    st->classes.clear();
    st->timers.clear();
    st->zorder.clear();
    st->focus = st->active = 0;
    ++st->version;
    st->quit = false;
    st->quitCode = 0;
    st->device = d;
    st->pid = pid;
  }
  *out = st;
  return lock;
}

bool SetStyle(Device* d, HWND h, DWORD style) {
  {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    LocalWindow* w = FindOwn(st, h);
    if (w && w->local) {
      w->style = style;
      ++st->version;
      return true;
    }
    if (w) ++st->version;
  }
  return UpdateColumn(d, ToId(h), "UPDATE windows SET style = ?1, visible = (?1 & 268435456) != 0 WHERE hwnd = ?2",
                      style);
}

WNDPROC OwnProc(Device* d, HWND hwnd) {
  LocalState* st;
  auto lock = LockLocal(d, &st);
  auto it = st->windows.find(ToId(hwnd));
  return it == st->windows.end() ? nullptr : it->second.proc;
}

LRESULT CallOwn(Device* d, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = OwnProc(d, hwnd);
  if (!proc) return 0;
  if (msg != WM_SETTINGCHANGE || IsLocalWindow(d, hwnd)) return proc(hwnd, msg, wParam, lParam);
  // A top-level window hears of a settings change (a rotation, say): the
  // profile is read again first, and the child dialogs (property pages)
  // hear of it too, as do menu bars (they keep to the bottom).
  d->ReloadProfile();
  Touch(d);
  LRESULT r = proc(hwnd, msg, wParam, lParam);
  std::vector<HWND> pages;
  EnumChildWindows(hwnd, [](HWND h, LPARAM p) {
    WCHAR cls[16];
    const int n = GetClassNameW(h, cls, 16);
    if ((n == 6 && EqualNoCase(cls, u"#32770")) || (n == 11 && EqualNoCase(cls, u"menu_worker")))
      reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
  }, reinterpret_cast<LPARAM>(&pages));
  for (HWND page : pages) CallOwn(d, page, msg, wParam, lParam);
  return r;
}

}  // namespace ce::win

// ------------------------------------------------------------ ce::

namespace ce {

std::vector<WindowInfo> ListWindows() {
  std::vector<WindowInfo> out;
  Device* d = win::DeviceOrFail();
  if (!d) return out;
  PurgeEndedWindowOwners();
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), (std::string(win::kRowColumns) + " ORDER BY hwnd DESC").c_str());
  while (s.Step()) {
    win::Row r = win::ReadRow(s);
    out.push_back(WindowInfo{win::ToHwnd(r.hwnd), static_cast<DWORD>(r.owner.pid), r.className, r.title,
                             win::ToHwnd(r.parent), r.style, r.visible});
  }
  return out;
}

int PurgeEndedWindowOwners() {
  Device* d = win::DeviceOrFail();
  if (!d) return 0;
  std::vector<win::Owner> owners;
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(),
           "SELECT pid, start_time FROM windows UNION SELECT pid, start_time FROM window_messages"
           " UNION SELECT sender_pid, sender_start FROM window_messages WHERE kind = 1");
    while (s.Step()) owners.push_back({static_cast<int>(s.Int(0)), static_cast<uint64_t>(s.Int(1))});
  }
  int purged = 0;
  win::Owner self = win::Self();
  for (const auto& o : owners) {
    if (o == self || win::Alive(o)) continue;
    win::PurgeOwner(d, o);
    ++purged;
  }
  return purged;
}

}  // namespace ce

// ------------------------------------------------------------ the API

using namespace ce;
using namespace ce::win;

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (!wc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName ||
      !wc->lpfnWndProc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Device* d = DeviceOrFail();
  if (!d) return 0;
  LocalState* st;
  auto lock = LockLocal(d, &st);
  std::u16string key = DeviceUpper(wc->lpszClassName);
  if (st->classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  LocalClass c;
  c.atom = st->nextAtom++;
  c.name = wc->lpszClassName;
  c.proc = wc->lpfnWndProc;
  st->classes[key] = c;
  return c.atom;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  LocalState* st;
  auto lock = LockLocal(d, &st);
  const LocalClass* c = FindClass(st, className);
  if (!c) return Fail(ERROR_CLASS_DOES_NOT_EXIST);
  std::u16string key = DeviceUpper(c->name);
  {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), "SELECT COUNT(*) FROM windows WHERE pid = ? AND start_time = ? AND class_key = ?");
    Owner self = Self();
    s.Bind(1, self.pid).Bind(2, static_cast<int64_t>(self.start)).Bind(3, std::u16string_view(key));
    if (s.Step() && s.Int(0) > 0) return Fail(ERROR_CLASS_HAS_WINDOWS);
  }
  st->classes.erase(key);
  return TRUE;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  std::u16string name;
  WNDPROC proc;
  {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    const LocalClass* c = FindClass(st, className);
    if (c) {
      name = c->name;
      proc = c->proc;
    } else if (!className || IS_INTRESOURCE(className) || !(proc = BuiltinClass(className, &name))) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
  }
  if (x == CW_USEDEFAULT) x = 0;
  if (y == CW_USEDEFAULT) y = 0;
  if (width == CW_USEDEFAULT) width = 0;
  if (height == CW_USEDEFAULT) height = 0;
  const bool local = (style & WS_CHILD) != 0;
  int64_t id = 0;
  if (local) {
    // A child window needs an own parent and lives in this process only.
    LocalState* st;
    auto lock = LockLocal(d, &st);
    if (!parent || !FindOwn(st, parent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    id = st->nextLocal++;
    LocalWindow w;
    w.proc = proc;
    w.local = true;
    w.className = name;
    w.text = windowName && !IS_INTRESOURCE(windowName) ? windowName : u"";
    w.style = style;
    w.exStyle = exStyle;
    w.controlId = static_cast<int64_t>(reinterpret_cast<intptr_t>(menu));
    w.parent = ToId(parent);
    w.rect = RECT{x, y, x + width, y + height};
    st->windows[id] = std::move(w);
    ModelAdd(d, id, ToId(parent), true);
  } else {
    // A top-level window owned by a child window is owned by its top-level window.
    if (parent && IsLocalWindow(d, parent)) parent = TopLevelOf(d, parent);
    RegisterOwnProcess();
    Owner self = Self();
    DWORD error = ERROR_GEN_FAILURE;
    // Parent check and insert in one write transaction: another process may
    // destroy the parent meanwhile.
    bool ok = d->Transaction([&] {
      if (parent && !LoadWindow(d, parent)) {
        error = ERROR_INVALID_WINDOW_HANDLE;
        return false;
      }
      Stmt s(d->Db(),
             "INSERT INTO windows(pid, start_time, class, class_key, title, parent, style, ex_style,"
             " control_id, visible) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
      bool inserted = s.Bind(1, self.pid)
                          .Bind(2, static_cast<int64_t>(self.start))
                          .Bind(3, std::u16string_view(name))
                          .Bind(4, std::u16string_view(DeviceUpper(name)))
                          .Bind(5, std::u16string_view(windowName ? windowName : u""))
                          .Bind(6, ToId(parent))
                          .Bind(7, static_cast<int64_t>(style))
                          .Bind(8, static_cast<int64_t>(exStyle))
                          .Bind(9, 0)
                          .Bind(10, (style & WS_VISIBLE) ? 1 : 0)
                          .Run();
      if (inserted) id = sqlite3_last_insert_rowid(d->Db());
      return inserted;
    });
    if (!ok) {
      SetLastError(error);
      return nullptr;
    }
    LocalState* st;
    auto lock = LockLocal(d, &st);
    LocalWindow w;
    w.proc = proc;
    w.className = name;
    w.parent = ToId(parent);
    w.rect = RECT{x, y, x + width, y + height};
    st->windows[id] = std::move(w);
    ModelAdd(d, id, ToId(parent), false);
  }
  HWND hwnd = ToHwnd(id);
  CREATESTRUCTW cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                   windowName, className, exStyle};
  if (CallOwn(d, hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DWORD err = GetLastError();
    DestroyWindow(hwnd);
    SetLastError(err);
    return nullptr;
  }
  if (style & WS_VISIBLE) {
    InvalidateRect(hwnd, nullptr, TRUE);
    if (!local) SetActiveWindow(hwnd);
  }
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  const int64_t id = ToId(hwnd);
  const bool local = IsLocalWindow(d, hwnd);
  if (!local && !LoadOwn(d, hwnd)) return FALSE;
  std::vector<int64_t> children;
  {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    if (LocalWindow* w = FindOwn(st, id)) {
      if (w->destroying) return TRUE;  // already on its way out
      w->destroying = true;
      children = w->children;
    }
  }
  CallOwn(d, hwnd, WM_DESTROY, 0, 0);
  // Child and owned windows go with it.
  if (!local) {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), "SELECT hwnd FROM windows WHERE parent = ?");
    s.Bind(1, id);
    while (s.Step()) children.push_back(s.Int(0));
  }
  for (int64_t child : children) {
    if (!DestroyWindow(ToHwnd(child)) && !IsLocalId(child)) {
      std::lock_guard<std::recursive_mutex> g(d->DbLock());
      Stmt s(d->Db(), "DELETE FROM windows WHERE hwnd = ?");
      s.Bind(1, child).Run();
    }
  }
  bool removed = true;
  if (!local) {
    std::lock_guard<std::recursive_mutex> g(d->DbLock());
    Stmt s(d->Db(), "DELETE FROM windows WHERE hwnd = ?");
    removed = s.Bind(1, id).Run();
  }
  ModelRemove(d, id);
  ForgetOwnWindow(d, id);
  return removed ? TRUE : Fail(ERROR_GEN_FAILURE);
}

BOOL IsWindow(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  if (IsLocalWindow(d, hwnd)) return TRUE;
  return LoadWindow(d, hwnd) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD pid) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (IsLocalWindow(d, hwnd)) {
    if (pid) *pid = static_cast<DWORD>(Self().pid);
    return static_cast<DWORD>(Self().pid);
  }
  auto row = LoadWindow(d, hwnd);
  if (!row) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (pid) *pid = static_cast<DWORD>(row->owner.pid);
  return static_cast<DWORD>(row->owner.pid);
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
  if (!proc) return Fail(ERROR_INVALID_PARAMETER);
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  for (const Row& r : TopLevelWindows(d)) {
    if (!proc(ToHwnd(r.hwnd), lParam)) return FALSE;
  }
  return TRUE;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  std::u16string classKey;
  if (className && IS_INTRESOURCE(className)) {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    const LocalClass* c = FindClass(st, className);
    if (!c) return Fail(ERROR_CANNOT_FIND_WND_CLASS), nullptr;
    classKey = DeviceUpper(c->name);
  } else if (className) {
    classKey = DeviceUpper(className);
  }
  for (const Row& r : TopLevelWindows(d)) {
    if (className && DeviceUpper(r.className) != classKey) continue;
    if (windowName && !EqualNoCase(r.title, windowName)) continue;
    return ToHwnd(r.hwnd);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (IsLocalWindow(d, hwnd)) {
    if (!text || maxCount <= 0) return 0;
    text[0] = 0;
    return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                         reinterpret_cast<LPARAM>(text)));
  }
  auto row = LoadWindow(d, hwnd);
  if (!row) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (!text || maxCount <= 0) return 0;
  if (row->owner == Self() && OwnProc(d, hwnd)) {
    text[0] = 0;
    return static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                         reinterpret_cast<LPARAM>(text)));
  }
  return CopyText(row->title, text, maxCount);
}

int GetWindowTextLengthW(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (IsLocalWindow(d, hwnd)) return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
  auto row = LoadWindow(d, hwnd);
  if (!row) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (row->owner == Self() && OwnProc(d, hwnd))
    return static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
  return static_cast<int>(row->title.size());
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  if (IsLocalWindow(d, hwnd))
    return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
  auto row = LoadWindow(d, hwnd);
  if (!row) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (row->owner == Self() && OwnProc(d, hwnd))
    return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
  return UpdateTitle(d, row->hwnd, text ? text : u"") ? TRUE : Fail(ERROR_GEN_FAILURE);
}

int GetClassNameW(HWND hwnd, LPWSTR name, int maxCount) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (IsLocalWindow(d, hwnd)) {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    return CopyText(FindOwn(st, hwnd)->className, name, maxCount);
  }
  auto row = LoadWindow(d, hwnd);
  if (!row) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  return CopyText(row->className, name, maxCount);
}

HWND GetParent(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return nullptr;
  if (IsLocalWindow(d, hwnd)) {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    return ToHwnd(FindOwn(st, hwnd)->parent);
  }
  auto row = LoadWindow(d, hwnd);
  if (!row) return Fail(ERROR_INVALID_WINDOW_HANDLE), nullptr;
  return ToHwnd(row->parent);
}

BOOL IsWindowVisible(HWND hwnd) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  if (IsLocalWindow(d, hwnd)) return ReallyVisible(d, hwnd) ? TRUE : FALSE;
  auto row = LoadWindow(d, hwnd);
  return row && row->visible ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  Device* d = DeviceOrFail();
  if (!d) return FALSE;
  const bool show = command != SW_HIDE;
  bool was;
  if (IsLocalWindow(d, hwnd)) {
    DWORD style = StyleOf(d, hwnd);
    was = (style & WS_VISIBLE) != 0;
    if (was != show) SetStyle(d, hwnd, show ? style | WS_VISIBLE : style & ~WS_VISIBLE);
  } else {
    auto row = LoadWindow(d, hwnd);
    if (!row) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    was = row->visible;
    // One statement: the owner may change the style meanwhile.
    if (!UpdateColumn(d, row->hwnd,
                      "UPDATE windows SET visible = ?1, style = CASE WHEN ?1 THEN style | 268435456"
                      " ELSE style & ~268435456 END WHERE hwnd = ?2",
                      show ? 1 : 0))
      return Fail(ERROR_GEN_FAILURE);
    if (!(row->owner == Self())) return was ? TRUE : FALSE;
    Touch(d);
  }
  if (was != show) {
    CallOwn(d, hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (show) InvalidateRect(hwnd, nullptr, TRUE);
  }
  if (!IsLocalWindow(d, hwnd)) {
    if (show && command != SW_SHOWNA && command != SW_MINIMIZE) {
      SetActiveWindow(hwnd);
    } else if (!show && GetActiveWindow() == hwnd) {
      SetActiveWindow(nullptr);
    }
  }
  return was ? TRUE : FALSE;
}

namespace {

// The dialog longs of an own window (DWL_*); false for another index.
bool DialogLong(LocalWindow* w, int index, LONG_PTR** slot) {
  if (!w->isDialog) return false;
  switch (index) {
    case DWL_MSGRESULT_: *slot = &w->msgResult; return true;
    case DWL_DLGPROC_: *slot = &w->dlgProc; return true;
    case DWL_USER_: *slot = &w->dlgUser; return true;
    default: return false;
  }
}

}  // namespace

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (IsLocalWindow(d, hwnd) || (index >= 0 && OwnProc(d, hwnd))) {
    LocalState* st;
    auto lock = LockLocal(d, &st);
    LocalWindow* w = FindOwn(st, hwnd);
    LONG_PTR* slot = nullptr;
    if (index >= 0) return DialogLong(w, index, &slot) ? *slot : Fail(ERROR_INVALID_INDEX);
    switch (index) {
      case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
      case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
      case GWL_ID: return static_cast<LONG_PTR>(w->controlId);
      case GWL_USERDATA: return w->userData;
      case GWL_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
      default: return Fail(ERROR_INVALID_INDEX);
    }
  }
  auto row = LoadWindow(d, hwnd);
  if (!row) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  switch (index) {
    case GWL_STYLE: return static_cast<LONG_PTR>(row->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(row->exStyle);
    case GWL_ID: return static_cast<LONG_PTR>(row->controlId);
    case GWL_WNDPROC:
    case GWL_USERDATA: {
      if (!(row->owner == Self())) return Fail(ERROR_ACCESS_DENIED);
      LocalState* st;
      auto lock = LockLocal(d, &st);
      auto it = st->windows.find(row->hwnd);
      if (it == st->windows.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
      return index == GWL_USERDATA ? it->second.userData : reinterpret_cast<LONG_PTR>(it->second.proc);
    }
    default: return Fail(ERROR_INVALID_INDEX);
  }
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  Device* d = DeviceOrFail();
  if (!d) return 0;
  if (IsLocalWindow(d, hwnd) || (index >= 0 && OwnProc(d, hwnd))) {
    SetLastError(ERROR_SUCCESS);
    LocalState* st;
    auto lock = LockLocal(d, &st);
    LocalWindow* w = FindOwn(st, hwnd);
    LONG_PTR* slot = nullptr;
    if (index >= 0) return DialogLong(w, index, &slot) ? std::exchange(*slot, value) : Fail(ERROR_INVALID_INDEX);
    switch (index) {
      case GWL_STYLE: {
        LONG_PTR old = static_cast<LONG_PTR>(w->style);
        SetStyle(d, hwnd, static_cast<DWORD>(value));
        return old;
      }
      case GWL_EXSTYLE: Touch(d); return static_cast<LONG_PTR>(std::exchange(w->exStyle, static_cast<DWORD>(value)));
      case GWL_ID: Touch(d); return static_cast<LONG_PTR>(std::exchange(w->controlId, value));
      case GWL_USERDATA: return std::exchange(w->userData, value);
      case GWL_WNDPROC:
        if (!value) return Fail(ERROR_INVALID_PARAMETER);
        return reinterpret_cast<LONG_PTR>(std::exchange(w->proc, reinterpret_cast<WNDPROC>(value)));
      default: return Fail(ERROR_INVALID_INDEX);
    }
  }
  auto row = LoadOwn(d, hwnd);
  if (!row) return 0;
  SetLastError(ERROR_SUCCESS);
  switch (index) {
    case GWL_STYLE:
      if (!SetStyle(d, hwnd, static_cast<DWORD>(value))) return Fail(ERROR_GEN_FAILURE);
      return static_cast<LONG_PTR>(row->style);
    case GWL_EXSTYLE:
      if (!UpdateColumn(d, row->hwnd, "UPDATE windows SET ex_style = ? WHERE hwnd = ?", static_cast<DWORD>(value)))
        return Fail(ERROR_GEN_FAILURE);
      return static_cast<LONG_PTR>(row->exStyle);
    case GWL_ID:
      if (!UpdateColumn(d, row->hwnd, "UPDATE windows SET control_id = ? WHERE hwnd = ?", value))
        return Fail(ERROR_GEN_FAILURE);
      return static_cast<LONG_PTR>(row->controlId);
    case GWL_WNDPROC:
    case GWL_USERDATA: {
      LocalState* st;
      auto lock = LockLocal(d, &st);
      auto it = st->windows.find(row->hwnd);
      if (it == st->windows.end()) return Fail(ERROR_INVALID_WINDOW_HANDLE);
      if (index == GWL_USERDATA) return std::exchange(it->second.userData, value);
      if (!value) return Fail(ERROR_INVALID_PARAMETER);
      return reinterpret_cast<LONG_PTR>(std::exchange(it->second.proc, reinterpret_cast<WNDPROC>(value)));
    }
    default: return Fail(ERROR_INVALID_INDEX);
  }
}

LONG GetWindowLongW(HWND hwnd, int index) {
  return static_cast<LONG>(GetWindowLongPtrW(hwnd, index));
}

LONG SetWindowLongW(HWND hwnd, int index, LONG value) {
  if (index == GWL_WNDPROC) {  // a procedure does not fit a LONG here
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  return static_cast<LONG>(SetWindowLongPtrW(hwnd, index, value));
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_PAINT:
      ValidateRect(hwnd, nullptr);
      return 0;
    case WM_SETCURSOR:
      // A child's parent chooses first; nobody choosing keeps the cursor.
      if ((GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) && GetParent(hwnd)) {
        return SendMessageW(GetParent(hwnd), WM_SETCURSOR, wParam, lParam);
      }
      return FALSE;
    case WM_SETFONT:
    case WM_GETFONT: {
      Device* d = DeviceOrFail();
      if (!d) return 0;
      LocalState* st;
      auto lock = LockLocal(d, &st);
      LocalWindow* w = FindOwn(st, hwnd);
      if (!w) return 0;
      if (msg == WM_GETFONT) return reinterpret_cast<LRESULT>(w->font);
      w->font = reinterpret_cast<void*>(wParam);
      return 0;
    }
    case WM_SETTEXT: {
      Device* d = DeviceOrFail();
      if (!d) return FALSE;
      auto text = reinterpret_cast<LPCWSTR>(lParam);
      if (IsLocalWindow(d, hwnd)) {
        SetLocalText(d, hwnd, text ? text : u"");
        return TRUE;
      }
      if (!LoadWindow(d, hwnd)) return FALSE;
      Touch(d);
      return UpdateTitle(d, ToId(hwnd), text ? text : u"") ? TRUE : FALSE;
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
      Device* d = DeviceOrFail();
      if (!d) return 0;
      std::u16string text;
      if (IsLocalWindow(d, hwnd)) {
        text = TextOf(d, hwnd);
      } else {
        auto row = LoadWindow(d, hwnd);
        if (!row) return 0;
        text = row->title;
      }
      if (msg == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
      return CopyText(text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    }
    default: return 0;
  }
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}
