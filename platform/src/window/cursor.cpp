// Cursors (ce/window.h): the system cursors as fixed handles, the current
// one per process.
#include <atomic>
#include <cstdint>

#include "ce/errors.h"
#include "ce/window.h"
#include "window/window_state.h"

namespace {

struct SystemCursor {
  uintptr_t id;
  const char* name;
};
constexpr SystemCursor kCursors[] = {
    {32512, "arrow"}, {32513, "ibeam"}, {32514, "wait"}, {32515, "cross"}, {32649, "hand"},
};
// A cursor handle is its id above this base (clear of icon handles).
constexpr uintptr_t kCursorBase = 0x1D000000u;

std::atomic<uintptr_t> g_current{kCursorBase + 32512};

const SystemCursor* Find(HCURSOR cursor) {
  const uintptr_t h = reinterpret_cast<uintptr_t>(cursor);
  for (const SystemCursor& c : kCursors) {
    if (h == kCursorBase + c.id) return &c;
  }
  return nullptr;
}

}  // namespace

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  if (instance == nullptr && IS_INTRESOURCE(name)) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(name);
    for (const SystemCursor& c : kCursors) {
      if (c.id == id) return reinterpret_cast<HCURSOR>(kCursorBase + id);
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  // An unknown handle is kept as given (it shows as no cursor).
  const uintptr_t previous = g_current.exchange(reinterpret_cast<uintptr_t>(cursor));
  if (previous != reinterpret_cast<uintptr_t>(cursor)) {
    // The screen shows the cursor: a change is a change of what it shows.
    if (ce::Device* d = ce::Device::Current()) ce::win::Touch(d);
  }
  return reinterpret_cast<HCURSOR>(previous);
}

HCURSOR GetCursor() { return reinterpret_cast<HCURSOR>(g_current.load()); }

namespace ce {

const char* CursorName(HCURSOR cursor) {
  const SystemCursor* c = Find(cursor);
  return c ? c->name : "";
}

}  // namespace ce
