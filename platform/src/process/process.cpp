// Program identity, the program entry, CreateProcess and process handles.
#include "ce/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <algorithm>
#include <atomic>
#include <optional>
#include <set>
#include <vector>

#include "ce/errors.h"
#include "ce/time.h"
#include "cesim/device.h"
#include "cesim/process.h"
#include "clock/device_clock.h"
#include "files/sharelock.h"
#include "process/process_table.h"
#include "trap/call_trap.h"
#include "window/window_state.h"

extern char** environ;

namespace ce {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<void (*)(DWORD)> gStartHook{nullptr};  // SetProcessStartHookForTest

// ------------------------------------------------------------ identity

struct Identity {
  std::mutex lock;
  bool loaded = false;
  std::u16string program;
  std::u16string cmdLine;
  std::u16string cmdBuffer;  // GetCommandLineW's writable copy
  int generation = 0;        // bumped when the identity changes
};

Identity& Ident() {
  static Identity* id = new Identity;
  std::lock_guard<std::mutex> g(id->lock);
  if (!id->loaded) {
    const char* prog = getenv(kProgramEnv);
    const char* cmd = getenv(kCmdLineEnv);
    id->program = prog && *prog ? FromUtf8(prog) : std::u16string(kDefaultProgramPath);
    id->cmdLine = cmd ? FromUtf8(cmd) : std::u16string();
    id->cmdBuffer = id->cmdLine;
    id->loaded = true;
  }
  return *id;
}

// Own registration is cached per connection and identity.
struct SelfRegistration {
  std::mutex lock;
  sqlite3* db = nullptr;
  int generation = -1;
  int pid = 0;
};
SelfRegistration& SelfReg() {
  static SelfRegistration* r = new SelfRegistration;
  return *r;
}

// ------------------------------------------------------------ host processes

bool ReadStat(int pid, char* state, uint64_t* start) {
  if (pid <= 0) return false;
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!f || !std::getline(f, line)) return false;
  size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  // Fields after the command name: state is field 3, starttime field 22.
  const char* p = line.c_str() + close + 1;
  for (int field = 3; field <= 22; ++field) {
    while (*p == ' ') ++p;
    if (!*p) return false;
    if (field == 3) *state = *p;
    if (field == 22) {
      *start = strtoull(p, nullptr, 10);
      return true;
    }
    while (*p && *p != ' ') ++p;
  }
  return false;
}

// Direct system calls: the C library's declarations lack C linkage.
int pidfd_open(int pid, unsigned flags) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, flags));
}
int pidfd_send_signal(int fd, int sig, siginfo_t* info, unsigned flags) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, fd, sig, info, flags));
}

bool PollReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do r = poll(&p, 1, 0);
  while (r < 0 && errno == EINTR);
  return r > 0;
}

// Opens a pidfd for pid and checks that it is still the process started at
// start (so a reused pid is never signalled or waited on).
int OpenPidFd(int pid, uint64_t start) {
  int fd = pidfd_open(pid, 0);
  if (fd < 0) return -1;
  if (HostProcessStartTime(pid) != start) {
    close(fd);
    errno = ESRCH;
    return -1;
  }
  return fd;
}

// ------------------------------------------------------------ handles

// The exit status of a child this process started, filled in by its waiter.
struct ChildState {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  DWORD code = 0;
};

class ProcessObject : public Waitable {
 public:
  enum Kind { kHost, kResident, kSelf };
  Kind kind = kHost;
  bool isThread = false;
  Device* device = nullptr;
  int pid = 0;
  uint64_t start = 0;
  int pidfd = -1;  // -1: liveness is polled through /proc
  std::shared_ptr<ChildState> child;
  std::mutex codeLock;
  std::optional<DWORD> exitCode;  // cached once known

  // The descriptor lives as long as the object: a wait on another thread
  // may still hold it after CloseHandle.
  ~ProcessObject() override {
    if (pidfd >= 0) ::close(pidfd);
  }
  int WaitFd() const override {
    if (kind != kHost) return kNeverSignalled;
    return pidfd >= 0 ? pidfd : kPollState;
  }
  bool Signalled() override {
    if (kind != kHost) return false;
    if (pidfd >= 0 ? PollReadable(pidfd) : !HostProcessAlive(pid, start)) return true;
    // A program that has recorded its exit code has ended for the device,
    // even while its host process winds down.
    return device && proc::ExitCode(device, pid, start).has_value();
  }
};

// The pseudo handle of GetCurrentProcess; never in the handle table (whose
// handles start at 0x100).
const HANDLE kCurrentProcessPseudo = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x42));

std::shared_ptr<ProcessObject> SelfObject() {
  auto o = std::make_shared<ProcessObject>();
  o->kind = ProcessObject::kSelf;
  o->device = Device::Current();
  o->pid = static_cast<int>(getpid());
  o->start = HostProcessStartTime(o->pid);
  return o;
}

std::shared_ptr<ProcessObject> GetProcess(HANDLE h, bool allowThread) {
  if (h == kCurrentProcessPseudo) return SelfObject();
  auto o = GetHandle<ProcessObject>(h);
  if (o && o->isThread && !allowThread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return o;
}

std::shared_ptr<Waitable> GetWaitable(HANDLE h) {
  if (h == kCurrentProcessPseudo) return SelfObject();
  return GetHandle<Waitable>(h);
}

// Waits until obj is signalled or the deadline passes.
bool WaitUntil(ProcessObject& obj, Clock::time_point deadline) {
  while (!obj.Signalled()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (obj.pidfd >= 0) {
      pollfd p{obj.pidfd, POLLIN, 0};
      poll(&p, 1, static_cast<int>(left.count()));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return true;
}

// One look at the objects of a wait: the wait's result when it is over,
// else the descriptors to sleep on (*pollState: some object is polled).
// With waitAll nothing is taken until every object is signalled at once.
std::optional<DWORD> LookOnce(const std::vector<std::shared_ptr<Waitable>>& objs, BOOL waitAll,
                              std::vector<pollfd>* fds, bool* pollState) {
  bool allSignalled = true;
  for (size_t i = 0; i < objs.size(); ++i) {
    if (waitAll ? objs[i]->Peek() : objs[i]->Signalled()) {
      if (!waitAll) return WAIT_OBJECT_0 + static_cast<DWORD>(i);
      continue;
    }
    allSignalled = false;
    int fd = objs[i]->WaitFd();
    if (fd >= 0) fds->push_back({fd, POLLIN, 0});
    else if (fd == Waitable::kPollState) *pollState = true;
  }
  if (!allSignalled) return std::nullopt;
  // Another process may take an auto-reset event between the look and the
  // take: the wait then goes on, and what it took before stays taken.
  for (size_t i = 0; i < objs.size(); ++i) {
    if (!objs[i]->Signalled()) return std::nullopt;
  }
  return WAIT_OBJECT_0;
}

// WaitForMultipleObjects while a kernel drives the clock: the time-out
// counts on the device clock, and the wait is published so that the
// clock may jump.
DWORD WaitOnDeviceClock(Device* d, clock::LayerWait& layer, const std::vector<std::shared_ptr<Waitable>>& objs,
                        BOOL waitAll, DWORD ms) {
  const int64_t deadline = ms == INFINITE ? clock::kNoDeadline : DeviceNowMs() + ms;
  const int wakeFd = win::OwnWakeFd(d);
  std::vector<pollfd> fds;
  for (;;) {
    layer.BeginRound();
    fds.clear();
    bool pollState = false;
    if (std::optional<DWORD> r = LookOnce(objs, waitAll, &fds, &pollState)) return *r;
    if (DeviceNowMs() >= deadline) return WAIT_TIMEOUT;
    if (!layer.Publish(deadline)) continue;
    int timeout = clock::LayerWait::RoundMs(deadline);
    if (pollState) timeout = std::min(timeout, 10);
    if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
      SetLastError(ErrorFromErrno(errno));
      return WAIT_FAILED;
    }
    win::DrainWake(wakeFd);
  }
}

// Records this process's exit code (first recorded code wins).
void RecordOwnExit(DWORD code) {
  Device* d = Device::Current();
  int pid = static_cast<int>(getpid());
  if (d) proc::RecordExit(d, pid, HostProcessStartTime(pid), code);
}

[[noreturn]] void EndSelf(DWORD code) {
  RecordOwnExit(code);
  fflush(nullptr);
  // _exit skips the handlers that close device.db at a normal end.
  Device::CloseConnections();
  _exit(static_cast<int>(code));
}

// Resolves the program of CreateProcess (see process.h for the rules).
bool FindProgram(Device* d, std::u16string_view imageName, ResolvedPath* out) {
  std::u16string name(imageName);
  if (name.find_first_of(u"\\/") == std::u16string::npos) {
    if (name.find(u'.') == std::u16string::npos) name += u".exe";
    for (const char16_t* folder : {u"\\Windows\\", u"\\"}) {
      ResolvedPath r;
      if (d->Resolve(folder + name, &r) && r.exists && !r.isDirectory) {
        *out = std::move(r);
        return true;
      }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (name[0] != u'\\' && name[0] != u'/') name.insert(name.begin(), u'\\');
  if (!d->Resolve(name, out)) return false;
  if (!out->exists) {
    SetLastError(out->parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (out->isDirectory) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

// A host executable: ELF or a "#!" script; made executable when it is not.
bool PrepareExecutable(const std::string& host) {
  char magic[4] = {};
  {
    std::ifstream f(host, std::ios::binary);
    if (!f) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    f.read(magic, 4);
    std::streamsize n = f.gcount();
    bool elf = n == 4 && magic[0] == 0x7f && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
    bool script = n >= 2 && magic[0] == '#' && magic[1] == '!';
    if (!elf && !script) {
      SetLastError(ERROR_BAD_EXE_FORMAT);
      return false;
    }
  }
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  if (!(st.st_mode & S_IXUSR)) {
    mode_t mode = st.st_mode | S_IXUSR | ((st.st_mode & S_IRGRP) ? S_IXGRP : 0) |
                  ((st.st_mode & S_IROTH) ? S_IXOTH : 0);
    if (chmod(host.c_str(), mode & 07777) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
  }
  return true;
}

std::vector<std::string> ChildEnvironment(Device* d, const std::u16string& program,
                                          const std::u16string& cmdLine) {
  std::vector<std::string> env;
  auto ours = [](const char* entry) {
    for (const char* key : {kDeviceEnv, kProgramEnv, kCmdLineEnv, kStartGateEnv, trap::kTrapEnv}) {
      size_t n = strlen(key);
      if (strncmp(entry, key, n) == 0 && entry[n] == '=') return true;
    }
    return false;
  };
  for (char** e = environ; e && *e; ++e) {
    if (!ours(*e)) env.emplace_back(*e);
  }
  env.push_back(std::string(kDeviceEnv) + "=" + d->Dir().string());
  env.push_back(std::string(kProgramEnv) + "=" + ToUtf8(program));
  env.push_back(std::string(kCmdLineEnv) + "=" + ToUtf8(cmdLine));
  env.push_back(std::string(kStartGateEnv) + "=" + std::to_string(kStartGateFd));
  if (std::string trapPath = trap::PathForChildren(); !trapPath.empty())
    env.push_back(std::string(trap::kTrapEnv) + "=" + trapPath);
  return env;
}

// Reaps a child and records its exit code; runs on a detached thread.
void WaitForChild(Device* d, int pid, uint64_t start, std::shared_ptr<ChildState> state) {
  int status = 0;
  pid_t r;
  do r = waitpid(pid, &status, 0);
  while (r < 0 && errno == EINTR);
  DWORD code = CE_EXIT_ABNORMAL;
  if (r == pid && WIFEXITED(status)) code = static_cast<DWORD>(WEXITSTATUS(status));
  std::optional<DWORD> stored = proc::RecordExit(d, pid, start, code);
  std::lock_guard<std::mutex> g(state->m);
  state->code = stored.value_or(code);
  state->done = true;
  state->cv.notify_all();
}

// Sends SIGKILL to a live process of the table; false with the last error
// set when the signal cannot be sent.
bool Kill(int pid, uint64_t start, int pidfd) {
  int fd = pidfd >= 0 ? pidfd : OpenPidFd(pid, start);
  if (fd < 0 && errno == ENOSYS) {  // no pidfds: check, then signal by pid
    if (!HostProcessAlive(pid, start) || kill(pid, SIGKILL) == 0) return true;
    SetLastError(errno == EPERM ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
    return false;
  }
  if (fd < 0) return true;  // already gone
  int rc = pidfd_send_signal(fd, SIGKILL, nullptr, 0);
  int err = errno;
  if (fd != pidfd) close(fd);
  if (rc == 0 || err == ESRCH) return true;
  SetLastError(err == EPERM ? ERROR_ACCESS_DENIED : ErrorFromErrno(err));
  return false;
}

}  // namespace

// ------------------------------------------------------------ ce:: identity

const std::u16string& OwnProgramPath() { return Ident().program; }
const std::u16string& OwnCommandLine() { return Ident().cmdLine; }

void SetOwnProgramForTest(std::u16string_view programPath, std::u16string_view commandLine) {
  Identity& id = Ident();
  std::lock_guard<std::mutex> g(id.lock);
  id.program = programPath;
  id.cmdLine = commandLine;
  id.cmdBuffer = id.cmdLine;
  ++id.generation;
}

uint64_t HostProcessStartTime(int pid) {
  char state = 0;
  uint64_t start = 0;
  return ReadStat(pid, &state, &start) ? start : 0;
}

bool HostProcessAlive(int pid, uint64_t startTime) {
  char state = 0;
  uint64_t start = 0;
  if (!ReadStat(pid, &state, &start)) return false;
  return start == startTime && state != 'Z' && state != 'X' && state != 'x';
}

void RegisterOwnProcess() {
  DWORD savedError = GetLastError();
  Device* d = Device::Current();
  SetLastError(savedError);
  if (!d) return;
  Identity& id = Ident();
  SelfRegistration& reg = SelfReg();
  int pid = static_cast<int>(getpid());
  std::lock_guard<std::mutex> g(reg.lock);
  sqlite3* db;
  {
    std::lock_guard<std::recursive_mutex> g2(d->DbLock());
    db = d->Db();
  }
  if (!db) return;
  std::u16string program, cmdLine;
  int generation;
  {
    std::lock_guard<std::mutex> g3(id.lock);
    program = id.program;
    cmdLine = id.cmdLine;
    generation = id.generation;
  }
  if (reg.db == db && reg.generation == generation && reg.pid == pid) return;
  if (!proc::EnsureTables(d)) return;
  uint64_t start = HostProcessStartTime(pid);
  std::lock_guard<std::recursive_mutex> g4(d->DbLock());
  Stmt s(d->Db(),
         "INSERT INTO processes(pid, start_time, path, exe, cmdline, parent_pid, exit_code,"
         " started_ms) VALUES(?, ?, ?, ?, ?, ?, NULL, ?) ON CONFLICT(pid, start_time) DO UPDATE"
         " SET path = excluded.path, exe = excluded.exe, cmdline = excluded.cmdline");
  bool ok = s.Bind(1, pid)
                .Bind(2, static_cast<int64_t>(start))
                .Bind(3, std::u16string_view(program))
                .Bind(4, std::u16string_view(proc::BareName(program)))
                .Bind(5, std::u16string_view(cmdLine))
                .Bind(6, static_cast<int64_t>(getppid()))
                .Bind(7, proc::DeviceNowMs(d))
                .Run() &&
            proc::NoteKernel(d, pid, start);
  if (ok) {
    reg.db = db;
    reg.generation = generation;
    reg.pid = pid;
  }
  SetLastError(savedError);
}

bool EndAllDeviceProcesses(bool includingSelf) {
  Device* d = Device::Current();
  if (!d) {
    if (includingSelf) EndSelf(CE_EXIT_ABNORMAL);
    return false;
  }
  // A process that was starting another when a sweep read the table may
  // record it after the read and before its own end: sweep again until a
  // sweep finds no process it has not ended already. Each sweep ends the
  // starters of the next one's finds, so few sweeps ever find any.
  constexpr int kMaxSweeps = 8;
  const int self = static_cast<int>(getpid());
  std::set<std::pair<int, uint64_t>> tried;
  bool allEnded = true;
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    std::vector<proc::Row> victims;
    std::vector<int> fds;
    for (const auto& r : proc::LiveRows(d)) {
      if (r.pid == self || !tried.insert({r.pid, r.startTime}).second) continue;
      int fd = OpenPidFd(r.pid, r.startTime);
      if (fd < 0) continue;  // gone meanwhile
      proc::RecordExit(d, r.pid, r.startTime, CE_EXIT_ABNORMAL);
      if (pidfd_send_signal(fd, SIGKILL, nullptr, 0) != 0 && errno != ESRCH) {
        proc::UndoExit(d, r.pid, r.startTime, CE_EXIT_ABNORMAL);
      }
      victims.push_back(r);
      fds.push_back(fd);
    }
    if (victims.empty()) break;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    for (size_t i = 0; i < victims.size(); ++i) {
      ProcessObject o;
      o.pid = victims[i].pid;
      o.start = victims[i].startTime;
      o.pidfd = fds[i];  // closed by o
      if (!WaitUntil(o, deadline)) allEnded = false;
    }
  }
  if (includingSelf) EndSelf(CE_EXIT_ABNORMAL);
  return allEnded;
}

namespace {

// A program started by CreateProcessW waits until its starter has recorded
// it in the process table: until then no reset or end of all processes can
// find it. A starter ended before that leaves it unrecorded, so it ends
// unrun, as if the end had come a moment later.
void PassStartGate() {
  const char* gate = getenv(kStartGateEnv);
  if (!gate) return;  // started by hand from a host shell
  const int fd = atoi(gate);
  unsetenv(kStartGateEnv);
  char byte = 0;
  ssize_t n;
  do n = read(fd, &byte, 1);
  while (n < 0 && errno == EINTR);
  close(fd);
  if (n != 1) _exit(static_cast<int>(CE_EXIT_ABNORMAL & 0xFF));
}

}  // namespace

void SetProcessStartHookForTest(void (*hook)(DWORD pid)) { gStartHook = hook; }

int RunDeviceProgram(WinMainFn entry, int argc, char** argv) {
  PassStartGate();
  if (!getenv(kCmdLineEnv) && argc > 1) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
      if (i > 1) joined += ' ';
      joined += argv[i];
    }
    Identity& id = Ident();
    std::lock_guard<std::mutex> g(id.lock);
    id.cmdLine = FromUtf8(joined);
    id.cmdBuffer = id.cmdLine;
  }
  RegisterOwnProcess();
  std::u16string line = OwnCommandLine();
  int code = entry(nullptr, nullptr, line.data(), 1 /* SW_SHOWNORMAL */);
  RecordOwnExit(static_cast<DWORD>(code));
  fflush(nullptr);
  return code;
}

}  // namespace ce

// ------------------------------------------------------------ the API

using namespace ce;

LPWSTR GetCommandLineW() {
  Identity& id = Ident();
  return id.cmdBuffer.data();
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE GetCurrentProcess() { return kCurrentProcessPseudo; }

void ExitProcess(UINT exitCode) { EndSelf(exitCode); }

static BOOL StartProcess(LPCWSTR imageName, LPCWSTR cmdLine, LPPROCESS_INFORMATION pi) {
  if (!imageName || !*imageName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Device* d = Device::Current();
  if (!d) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  ResolvedPath prog;
  if (!FindProgram(d, imageName, &prog)) return FALSE;
  std::string host = prog.host.string();
  if (!PrepareExecutable(host)) return FALSE;

  std::u16string line = cmdLine ? std::u16string(cmdLine) : std::u16string();
  std::vector<std::string> env = ChildEnvironment(d, prog.device, line);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg1 = ToUtf8(line);
  std::vector<char*> argv{host.data()};
  if (!arg1.empty()) argv.push_back(arg1.data());
  argv.push_back(nullptr);

  // A socket, not a pipe: the starter's write to a program that closed its
  // end must not raise SIGPIPE.
  int gate[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gate) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  filestate::UniqueFd gateRead(gate[0]), gateWrite(gate[1]);
  if (gateRead.get() < kStartGateFd) {  // the child's stdin/out/err would cover it
    gateRead = filestate::UniqueFd(fcntl(gateRead.get(), F_DUPFD_CLOEXEC, kStartGateFd + 1));
    if (!gateRead.valid()) {
      SetLastError(ErrorFromErrno(errno));
      return FALSE;
    }
  }

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (int out = proc::ChildOutput(); out >= 0) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, out, 2);
  }
  // The child holds none of this process's files but stdin/out/err and the
  // read end of its start gate.
  posix_spawn_file_actions_adddup2(&actions, gateRead.get(), kStartGateFd);
  posix_spawn_file_actions_addclosefrom_np(&actions, kStartGateFd + 1);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, host.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  gateRead.Reset();
  if (rc != 0) {
    SetLastError(rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT
                 : rc == EACCES ? ERROR_ACCESS_DENIED
                                : ErrorFromErrno(rc));
    return FALSE;
  }

  // The child stays a zombie until its waiter reaps it, so its pidfd and
  // start time are taken before the waiter starts.
  int pidfd = pidfd_open(pid, 0);
  proc::Row row;
  row.pid = pid;
  row.startTime = HostProcessStartTime(pid);
  row.path = prog.device;
  row.exe = proc::BareName(prog.device);
  row.cmdLine = line;
  row.parentPid = static_cast<int>(getpid());
  if (void (*hook)(DWORD) = gStartHook.load()) hook(static_cast<DWORD>(pid));
  if (!proc::Insert(d, row)) {
    // Missing from the table, the program would be invisible to the device.
    if (pidfd < 0 || pidfd_send_signal(pidfd, SIGKILL, nullptr, 0) != 0) kill(pid, SIGKILL);
    if (pidfd >= 0) close(pidfd);
    waitpid(pid, nullptr, 0);
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  // Recorded: the program may run. The byte goes into an empty buffer; it
  // fails only when the program has closed its gate unread (not a device
  // program), which then needs none.
  const char go = 1;
  (void)send(gateWrite.get(), &go, 1, MSG_NOSIGNAL);
  gateWrite.Reset();
  RegisterOwnProcess();

  auto state = std::make_shared<ChildState>();
  std::thread(WaitForChild, d, row.pid, row.startTime, state).detach();

  auto process = std::make_shared<ProcessObject>();
  process->device = d;
  process->pid = pid;
  process->start = row.startTime;
  process->pidfd = pidfd;
  process->child = state;
  auto thread = std::make_shared<ProcessObject>();
  thread->isThread = true;
  thread->device = d;
  thread->pid = pid;
  thread->start = row.startTime;
  thread->child = state;
  thread->pidfd = process->pidfd >= 0 ? fcntl(process->pidfd, F_DUPFD_CLOEXEC, 0) : -1;
  if (pi) {
    pi->hProcess = AddHandle(process);
    pi->hThread = AddHandle(thread);
    pi->dwProcessId = static_cast<DWORD>(pid);
    pi->dwThreadId = static_cast<DWORD>(pid);
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CreateProcessW(LPCWSTR imageName, LPCWSTR cmdLine, LPVOID, LPVOID, BOOL, DWORD, LPVOID,
                    LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION pi) {
  trap::BeforeCall();
  const BOOL ok = StartProcess(imageName, cmdLine, pi);
  if (ok) trap::AfterCall(CallKind::kProcess, "CreateProcessW");
  return ok;
}

HANDLE OpenProcess(DWORD, BOOL, DWORD pid) {
  Device* d = Device::Current();
  auto o = std::make_shared<ProcessObject>();
  o->device = d;
  o->pid = static_cast<int>(pid);
  if (pid == static_cast<DWORD>(getpid())) {
    RegisterOwnProcess();
    o->kind = ProcessObject::kSelf;
    o->start = HostProcessStartTime(o->pid);
    return AddHandle(o);
  }
  if (pid >= kResidentPidBase && pid < kResidentPidBase + proc::ResidentNames(d).size()) {
    o->kind = ProcessObject::kResident;
    return AddHandle(o);
  }
  if (d) {
    for (const auto& r : proc::LiveRows(d)) {
      if (static_cast<DWORD>(r.pid) != pid) continue;
      o->start = r.startTime;
      o->pidfd = OpenPidFd(r.pid, r.startTime);
      if (o->pidfd < 0 && errno != ENOSYS) break;  // ended meanwhile
      return AddHandle(o);
    }
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

BOOL GetExitCodeProcess(HANDLE h, LPDWORD exitCode) {
  auto o = GetProcess(h, false);
  if (!o) return FALSE;
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!o->Signalled()) {
    *exitCode = STILL_ACTIVE;
    return TRUE;
  }
  std::lock_guard<std::mutex> g(o->codeLock);
  if (!o->exitCode && o->child) {
    std::unique_lock<std::mutex> lock(o->child->m);
    if (o->child->cv.wait_for(lock, std::chrono::seconds(5), [&] { return o->child->done; })) {
      o->exitCode = o->child->code;
    }
  }
  // Another process's child: its starter records the code when it reaps
  // it; a device program records its own code before it ends.
  for (int i = 0; !o->exitCode && i < 100 && o->device; ++i) {
    o->exitCode = proc::ExitCode(o->device, o->pid, o->start);
    if (!o->exitCode) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *exitCode = o->exitCode.value_or(CE_EXIT_ABNORMAL);
  return TRUE;
}

BOOL TerminateProcess(HANDLE h, UINT exitCode) {
  auto o = GetProcess(h, false);
  if (!o) return FALSE;
  if (o->kind == ProcessObject::kSelf) EndSelf(exitCode);
  if (o->kind == ProcessObject::kResident || o->Signalled()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (o->device) proc::RecordExit(o->device, o->pid, o->start, exitCode);
  if (!Kill(o->pid, o->start, o->pidfd)) {
    if (o->device) proc::UndoExit(o->device, o->pid, o->start, exitCode);
    return FALSE;
  }
  WaitUntil(*o, Clock::now() + std::chrono::seconds(2));
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) { return WaitForMultipleObjects(1, &h, FALSE, ms); }

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objs;
  for (DWORD i = 0; i < count; ++i) {
    auto w = GetWaitable(handles[i]);
    if (!w) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objs.push_back(std::move(w));
  }
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  SetLastError(saved);
  clock::LayerWait layer(d);
  if (layer.OnDeviceClock()) return WaitOnDeviceClock(d, layer, objs, waitAll, ms);
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    bool pollState = false;
    if (std::optional<DWORD> r = LookOnce(objs, waitAll, &fds, &pollState)) return *r;
    int timeout = -1;
    if (ms != INFINITE) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return WAIT_TIMEOUT;
      timeout = static_cast<int>(std::min<int64_t>(left.count(), INT_MAX));
    }
    if (pollState && (timeout < 0 || timeout > 10)) timeout = 10;
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
      SetLastError(ErrorFromErrno(errno));
      return WAIT_FAILED;
    }
  }
}
