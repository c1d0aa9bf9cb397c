// Internals shared by the window calls (window.cpp) and the message calls
// (window_queue.cpp): the device tables, this process's own windows,
// classes and timers, and the wake-up FIFOs.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ce/device.h"
#include "ce/window.h"

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
struct LocalWindow {
  WNDPROC proc = nullptr;
  LONG_PTR userData = 0;
  bool destroying = false;
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
};
// This process's state for device d, locked; a state that belongs to
// another device or to the parent of a fork is dropped first.
std::unique_lock<std::recursive_mutex> LockLocal(Device* d, LocalState** out);
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

}  // namespace ce::win
