#include "ce/handle.h"

#include <mutex>
#include <unordered_map>

#include "ce/errors.h"

namespace ce {
namespace {

struct Table {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>> objects;
  uintptr_t next = 0x100;
};

Table& GetTable() {
  static Table* t = new Table;  // lives until the process ends
  return *t;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<HandleObject> obj) {
  Table& t = GetTable();
  std::lock_guard<std::mutex> g(t.lock);
  uintptr_t id = t.next;
  t.next += 4;
  t.objects[id] = std::move(obj);
  return reinterpret_cast<HANDLE>(id);
}

std::shared_ptr<HandleObject> GetHandleObject(HANDLE h) {
  Table& t = GetTable();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  if (it == t.objects.end()) return nullptr;
  return it->second;
}

void SetLastErrorForHandle() { SetLastError(ERROR_INVALID_HANDLE); }

std::shared_ptr<HandleObject> TakeHandle(HANDLE h) {
  Table& t = GetTable();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  if (it == t.objects.end()) return nullptr;
  auto obj = std::move(it->second);
  t.objects.erase(it);
  return obj;
}

}  // namespace ce

BOOL CloseHandle(HANDLE h) {
  // The current-process pseudo handle (see process/process.cpp) closes as a no-op.
  if (h == reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x42))) return TRUE;
  auto obj = ce::TakeHandle(h);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return obj->Close() ? TRUE : FALSE;
}
