// The per-process table of kernel handles (files, finds, processes,
// snapshots, modules loaded as data). CloseHandle dispatches on the kind.
#pragma once

#include <memory>

#include "ce/types.h"

namespace ce {

class HandleObject {
 public:
  virtual ~HandleObject() = default;
  // Releases what the handle holds; false (with the last error set) when
  // the release fails. Called once, by CloseHandle or at process end.
  virtual bool Close() { return true; }
};

// Registers an object and returns its new handle (never null, never
// INVALID_HANDLE_VALUE).
HANDLE AddHandle(std::shared_ptr<HandleObject> obj);
// The object behind a handle when it is of type T; null (last error
// ERROR_INVALID_HANDLE) otherwise.
std::shared_ptr<HandleObject> GetHandleObject(HANDLE h);
// Sets ERROR_INVALID_HANDLE.
void SetLastErrorForHandle();
// Removes the handle from the table without calling Close.
std::shared_ptr<HandleObject> TakeHandle(HANDLE h);

template <class T>
std::shared_ptr<T> GetHandle(HANDLE h) {
  auto obj = std::dynamic_pointer_cast<T>(GetHandleObject(h));
  if (!obj) SetLastErrorForHandle();
  return obj;
}

}  // namespace ce

BOOL CloseHandle(HANDLE h);
