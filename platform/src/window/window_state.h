// Internals shared by the window calls (window.cpp) and the message calls
// (window_queue.cpp): the device tables, this process's own windows,
// classes and timers, and the wake-up FIFOs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ce/controls.h"  // COLORREF
#include "ce/window.h"
#include "cesim/device.h"
#include "window/window_sheet_state.h"
#include "window/listview_state.h"

namespace ce::win {

// A device process: host pid and kernel start time.
struct Owner {
  int pid = 0;
  uint64_t start = 0;
  bool operator==(const Owner& o) const { return pid == o.pid && start == o.start; }
};
Owner Self();

inline int64_t ToId(HWND h) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(h)); }
inline HWND ToHwnd(int64_t id) { return reinterpret_cast<HWND>(static_cast<intptr_t>(id)); }

// The current device with the tables made; null with ERROR_NOT_READY.
Device* DeviceOrFail();

// One row of the window table.
struct Row {
  int64_t hwnd = 0;
  Owner owner;
  std::u16string className;
  std::u16string title;
  int64_t parent = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  int64_t controlId = 0;
  bool visible = false;
};
// The window when it exists and its owner lives (a dead owner is purged).
std::optional<Row> LoadWindow(Device* d, HWND hwnd);
// Top-level windows of live owners, newest first (ended owners purged).
std::vector<Row> TopLevelWindows(Device* d);
// Removes an ended process's windows, queue, sent messages and FIFO.
void PurgeOwner(Device* d, const Owner& owner);

// ---- this process ----
// Local (child) window handles start here, clear of the device table's.
inline constexpr int64_t kLocalBase = 0x40000000;
inline bool IsLocalId(int64_t id) { return id >= kLocalBase; }

struct TreeViewState;  // window_treeview.h

// State of the built-in controls (only the fields of the window's class
// are used).
struct ControlState {
  int check = 0;         // buttons
  bool pushed = false;   // the mouse went down on it
  int limit = 30000;     // edits
  int selStart = 0, selEnd = 0;
  bool modified = false;
  WCHAR passwordChar = 0;
  WCHAR pendingHigh = 0;  // a typed high surrogate waiting for its low half
  struct Item {
    std::u16string text;
    LPARAM data = 0;
  };
  std::vector<Item> items;  // combo and list boxes
  int curSel = -1;
  bool dropped = false;
  int pos = 0, min = 0, max = 100, step = 10;  // progress; up-down (min 100, max 0)
  int64_t buddy = 0;
  // Statics: the text colour the parent's WM_CTLCOLORSTATIC answer chose at
  // the last paint (window_controls.cpp).
  bool hasTextColor = false;
  COLORREF textColor = 0;
  // Tree views: items, caret, image lists (made at WM_CREATE).
  std::shared_ptr<TreeViewState> tree;
  // Menu bar ("menu_worker"), date-time picker ("SysDateTimePick32") and
  // tab control ("SysTabControl32").
  MenuBarState menuBar;
  DateTimeState dateTime;
  TabState tab;
  // List views (window_listview.cpp).
  ListViewState listView;
};

struct LocalWindow {
  WNDPROC proc = nullptr;
  LONG_PTR userData = 0;
  bool destroying = false;
  bool local = false;  // a child window: lives only here
  // Model. For top-level windows the device table keeps the title, style
  // and visibility; the fields below hold them for local windows only.
  std::u16string className;  // stored case
  std::u16string text;
  DWORD style = 0, exStyle = 0;
  int64_t controlId = 0;
  int64_t parent = 0;  // parent (local) or owner (top-level)
  RECT rect{};         // parent client coordinates (child) or screen
  std::vector<int64_t> children;  // creation order
  bool needsPaint = false;
  void* font = nullptr;
  // Dialogs.
  bool isDialog = false;
  LONG_PTR dlgProc = 0, msgResult = 0, dlgUser = 0;
  int templateId = 0;
  bool endRequested = false, modal = false;
  INT_PTR endResult = 0;
  int defId = 0;
  int64_t lastFocus = 0;
  ControlState ctl;
};
struct LocalClass {
  ATOM atom = 0;
  std::u16string name;  // stored case
  WNDPROC proc = nullptr;
};
struct Timer {
  int64_t hwnd = 0;
  UINT_PTR id = 0;
  UINT elapse = 1;
  int64_t due = 0;  // device clock, ms
  TIMERPROC proc = nullptr;
};
struct LocalState {
  std::recursive_mutex m;
  Device* device = nullptr;  // what the rest belongs to
  int pid = 0;
  std::map<int64_t, LocalWindow> windows;
  std::map<std::u16string, LocalClass> classes;  // by upper-cased name
  ATOM nextAtom = 0xC000;
  std::vector<Timer> timers;
  UINT_PTR nextTimerId = 1;
  bool quit = false;
  int quitCode = 0;
  int wakeFd = -1;
  int64_t nextLocal = kLocalBase;
  std::vector<int64_t> zorder;  // own top-level windows, bottom to top
  int64_t focus = 0;
  int64_t active = 0;
  int64_t capture = 0;  // the control the mouse went down on
  uint64_t version = 1;
};
// This process's state for device d, locked; a state that belongs to
// another device or to the parent of a fork is dropped first.
std::unique_lock<std::recursive_mutex> LockLocal(Device* d, LocalState** out);
// The same, locked while the guard lives; it stands in wherever the state
// pointer is wanted.
class Locked {
 public:
  explicit Locked(Device* d) : lock_(LockLocal(d, &st_)) {}
  operator LocalState*() const { return st_; }
  LocalState* operator->() const { return st_; }

 private:
  LocalState* st_ = nullptr;
  std::unique_lock<std::recursive_mutex> lock_;
};
// The procedure of an own window (null when not ours).
WNDPROC OwnProc(Device* d, HWND hwnd);
// Calls an own window's procedure outside the lock; 0 when not ours.
LRESULT CallOwn(Device* d, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- wake-ups ----
// This process's FIFO, created on first use; -1 when it cannot be made.
int OwnWakeFd(Device* d);
void Wake(Device* d, const Owner& owner);
void DrainWake(int fd);

// ---- queue rows ----
// Queues a posted (sent = false) message; false with the last error set.
bool Enqueue(Device* d, const Owner& owner, int64_t hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Drops an own window's queued messages and timers.
void ForgetOwnWindow(Device* d, int64_t hwnd);

// ---- the model (window_model.cpp) ----
// The own window (null when not ours); call with the lock held.
LocalWindow* FindOwn(LocalState* st, int64_t id);
inline LocalWindow* FindOwn(LocalState* st, HWND h) { return FindOwn(st, ToId(h)); }
// Runs fn on an own window's model entry with the lock held; `change` marks
// the model changed. Returns fn's result (a default value without a device
// or for no own window).
template <class Fn>
auto WithWindow(HWND h, bool change, Fn fn) -> decltype(fn(std::declval<LocalWindow&>())) {
  using R = decltype(fn(std::declval<LocalWindow&>()));
  Device* d = DeviceOrFail();
  if (!d) return R();
  Locked st(d);
  LocalWindow* w = FindOwn(st, h);
  if (!w) return R();
  if (change) ++st->version;
  return fn(*w);
}
// Whether h is an own local (child) window.
bool IsLocalWindow(Device* d, HWND h);
// The model's style of an own window (the table's for a top-level one).
DWORD StyleOf(Device* d, HWND h);
// The text of an own window.
std::u16string TextOf(Device* d, HWND h);
// Sets the style of an own window (the table's for a top-level one; the
// visible column follows WS_VISIBLE).
bool SetStyle(Device* d, HWND h, DWORD style);
// Sets a local window's text without messages.
void SetLocalText(Device* d, HWND h, std::u16string_view text);
// Marks a change of the model.
void Touch(Device* d);
// The own top-level window a window belongs to (itself for a top-level one).
HWND TopLevelOf(Device* d, HWND h);
// Screen rectangle of an own window.
bool ScreenRect(Device* d, HWND h, RECT* out);
// Really visible: WS_VISIBLE on it and every ancestor.
bool ReallyVisible(Device* d, HWND h);
// Adds/removes an own window from the model's bookkeeping.
void ModelAdd(Device* d, int64_t id, int64_t parent, bool local);
void ModelRemove(Device* d, int64_t id);
// Routes screen input posted to a top-level window to the control under
// the point (mouse) or the focus window (keys); rewrites msg.
void RouteInput(Device* d, MSG* msg);
// The first own window needing WM_PAINT (0 for none).
int64_t TakePaint(Device* d, const int64_t filterHwnd);

// ---- built-in classes (window_controls.cpp, window_dialog.cpp) ----
// The procedure of a built-in class name ("BUTTON", "#32770", ...), null
// for none; *canonical receives the stored class name.
WNDPROC BuiltinClass(std::u16string_view name, std::u16string* canonical);
// The list view's procedure (window_listview.cpp).
WNDPROC ListViewClass();
// The image size of an image list as the drawing layer reports it; false
// for none, an unknown list, or no drawing layer.
bool ImageListSize(const void* imageList, int* cx, int* cy);
// Sends WM_COMMAND(MAKEWPARAM(id, code), h) to h's parent.
void Notify(HWND h, int code);

}  // namespace ce::win
