// The run's call counter and reset trap (see call_trap.h).
#include "trap/call_trap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/text.h"
#include "cesim/power.h"

namespace ce {

const char* CallKindName(CallKind kind) {
  switch (kind) {
    case CallKind::kFile: return "file";
    case CallKind::kReg: return "reg";
    case CallKind::kProcess: return "process";
    case CallKind::kAny: break;
  }
  return "any";
}

bool ParseCallKind(const std::string& text, CallKind* kind) {
  for (CallKind k : {CallKind::kAny, CallKind::kFile, CallKind::kReg, CallKind::kProcess}) {
    if (text == CallKindName(k)) {
      *kind = k;
      return true;
    }
  }
  return false;
}

int64_t CallCounts::Of(CallKind kind) const {
  switch (kind) {
    case CallKind::kFile: return file;
    case CallKind::kReg: return reg;
    case CallKind::kProcess: return process;
    case CallKind::kAny: break;
  }
  return Total();
}

namespace trap {
namespace {

constexpr uint32_t kMagic = 0x50415254;  // "TRAP"
constexpr uint32_t kVersion = 1;
constexpr int kKinds = 3;
constexpr auto kStrikeWait = std::chrono::seconds(10);  // a strike whose reset never comes

enum State : int32_t { kCounting = 0, kStriking = 1, kTaken = 2, kFailed = 3 };

// The shared page: counters and the strike, written by any process of the
// run, read by the kernel.
struct Page {
  uint32_t magic;
  uint32_t version;
  int64_t target;  // 0: count only
  int32_t kind;    // CallKind of the target
  std::atomic<int32_t> state;
  std::atomic<int64_t> total;
  std::atomic<int64_t> counts[kKinds];
  // The strike, filled by the striking process before it requests the reset.
  int64_t strikeN;
  int32_t strikeCallKind;
  uint32_t strikePid;
  char strikeCall[32];
  char strikeProgram[512];
  char strikeCommandLine[1024];
};
static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free,
              "the page is shared between processes");

Page* MapPage(int fd) {
  void* p = mmap(nullptr, sizeof(Page), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<Page*>(p);
}

// The page as this process sees it through kTrapEnv (null: not counted).
Page* ProgramPage() {
  static Page* page = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* path = getenv(kTrapEnv);
    if (!path || !*path) return;
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return;  // the run is over: nothing counts any more
    struct stat st{};
    if (fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= sizeof(Page)) page = MapPage(fd);
    close(fd);
    if (page && (page->magic != kMagic || page->version != kVersion)) {
      munmap(page, sizeof(Page));
      page = nullptr;
    }
  });
  return page;
}

// The kernel's armed page.
struct Kernel {
  std::mutex lock;
  Page* page = nullptr;
  std::string path;
};
Kernel& K() {
  static Kernel k;
  return k;
}

void CopyText(char* to, size_t size, const std::string& text) {
  size_t n = std::min(text.size(), size - 1);
  memcpy(to, text.data(), n);
  to[n] = 0;
}

[[noreturn]] void WaitToBeKilled() {
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

void Strike(Page* p, int64_t n, CallKind kind, const char* call) {
  p->strikeN = n;
  p->strikeCallKind = static_cast<int32_t>(kind);
  p->strikePid = static_cast<uint32_t>(getpid());
  CopyText(p->strikeCall, sizeof p->strikeCall, call);
  CopyText(p->strikeProgram, sizeof p->strikeProgram, ToUtf8(OwnProgramPath()));
  CopyText(p->strikeCommandLine, sizeof p->strikeCommandLine, ToUtf8(OwnCommandLine()));
  p->state.store(kStriking);
  if (RequestDeviceReset(kResetByTrap)) WaitToBeKilled();  // it does not return
  // The reset could not be recorded: the run goes on without it.
  p->state.store(kFailed);
  fprintf(stderr, "call trap: the reset after %s (call %lld) could not be requested\n", call,
          static_cast<long long>(n));
}

}  // namespace

void BeforeCall() {
  Page* p = ProgramPage();
  if (!p || p->state.load() != kStriking) return;
  const auto until = std::chrono::steady_clock::now() + kStrikeWait;
  while (p->state.load() == kStriking && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void AfterCall(CallKind kind, const char* call) {
  Page* p = ProgramPage();
  if (!p || kind == CallKind::kAny) return;
  const DWORD saved = GetLastError();
  const int64_t ofKind = p->counts[static_cast<int>(kind)].fetch_add(1) + 1;
  const int64_t total = p->total.fetch_add(1) + 1;
  const bool any = p->kind == static_cast<int32_t>(CallKind::kAny);
  const int64_t n = any ? total : ofKind;
  if (p->target > 0 && n == p->target && (any || p->kind == static_cast<int32_t>(kind)) &&
      p->state.load() == kCounting)
    Strike(p, n, kind, call);
  SetLastError(saved);
}

bool Arm(Device* d, const std::optional<ResetAfter>& resetAfter) {
  Disarm();
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.lock);
  const std::string path = (d->Dir() / "call-trap.bin").string();
  unlink(path.c_str());  // programs of an earlier run keep their own page
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  Page* p = ftruncate(fd, sizeof(Page)) == 0 ? MapPage(fd) : nullptr;
  close(fd);
  if (!p) {
    unlink(path.c_str());
    return false;
  }
  p = new (p) Page{};
  p->target = resetAfter ? resetAfter->n : 0;
  p->kind = static_cast<int32_t>(resetAfter ? resetAfter->kind : CallKind::kAny);
  p->version = kVersion;
  std::atomic_thread_fence(std::memory_order_release);
  p->magic = kMagic;
  k.page = p;
  k.path = path;
  return true;
}

bool Armed() {
  std::lock_guard<std::mutex> g(K().lock);
  return K().page != nullptr;
}

CallCounts Counts() {
  std::lock_guard<std::mutex> g(K().lock);
  CallCounts c;
  if (Page* p = K().page) {
    c.file = p->counts[0].load();
    c.reg = p->counts[1].load();
    c.process = p->counts[2].load();
  }
  return c;
}

std::optional<TrapStrike> Strike() {
  std::lock_guard<std::mutex> g(K().lock);
  Page* p = K().page;
  const int32_t state = p ? p->state.load() : kCounting;
  if (state != kStriking && state != kTaken) return std::nullopt;
  TrapStrike s;
  s.n = p->strikeN;
  s.kind = static_cast<CallKind>(p->kind);
  s.callKind = static_cast<CallKind>(p->strikeCallKind);
  s.call = p->strikeCall;
  s.pid = p->strikePid;
  s.program = p->strikeProgram;
  s.commandLine = p->strikeCommandLine;
  return s;
}

void EndStrike() {
  std::lock_guard<std::mutex> g(K().lock);
  if (Page* p = K().page) {
    int32_t striking = kStriking;
    p->state.compare_exchange_strong(striking, kTaken);
  }
}

bool Struck() {
  std::lock_guard<std::mutex> g(K().lock);
  Page* p = K().page;
  if (!p) return false;
  const int32_t state = p->state.load();
  return state == kStriking || state == kTaken;
}

void Disarm() {
  Kernel& k = K();
  std::lock_guard<std::mutex> g(k.lock);
  if (!k.page) return;
  munmap(k.page, sizeof(Page));
  unlink(k.path.c_str());
  k.page = nullptr;
  k.path.clear();
}

std::string PathForChildren() {
  {
    std::lock_guard<std::mutex> g(K().lock);
    if (K().page) return K().path;
  }
  const char* inherited = getenv(kTrapEnv);
  return inherited ? inherited : "";
}

}  // namespace trap
}  // namespace ce
