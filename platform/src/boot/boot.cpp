// The boot sequence and the run loop (see cesim/boot.h).
#include "cesim/boot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "boot/boot_state.h"
#include "boot/runner.h"
#include "database/db_boot.h"
#include "files/spares.h"
#include "kernel/event_table.h"
#include "ce/errors.h"
#include "ce/event.h"
#include "ce/file.h"
#include "ce/power.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/device.h"
#include "cesim/power.h"
#include "cesim/process.h"
#include "cesim/registry.h"
#include "cesim/time.h"
#include "notify/notify_store.h"
#include "power/power_state.h"
#include "process/process_table.h"
#include "trap/call_trap.h"

namespace ce {
namespace {

namespace fs = std::filesystem;
using boot::Clock;
using boot::U8;

constexpr auto kPoll = std::chrono::milliseconds(10);

const char* HowText(DWORD how) {
  switch (how) {
    case EWX_REBOOT: return "ExitWindowsEx";
    case IOCTL_HAL_REBOOT: return "KernelIoControl";
    case kResetByTrap: return "the reset-after trap";
    default: return "SetSystemPowerState";
  }
}

// Launch number from a value name "Launch12"/"Depend12" (prefix ignoring
// case); 0 when the name is not of that form.
DWORD LaunchNumber(std::u16string_view name, std::u16string_view prefix) {
  if (name.size() <= prefix.size() || !EqualNoCase(name.substr(0, prefix.size()), prefix)) return 0;
  DWORD n = 0;
  for (char16_t c : name.substr(prefix.size())) {
    if (c < u'0' || c > u'9' || n > 0xFFFF) return 0;
    n = n * 10 + (c - u'0');
  }
  return n <= 0xFFFF ? n : 0;
}

}  // namespace

namespace boot {

Runner::Runner(Device* d, const BootOptions& o, BootReport* r)
    : dev_(d), opt_(o), rep_(r), deadline_(Clock::now() + std::chrono::milliseconds(o.runTimeoutMs)) {}

Runner::~Runner() {
  driver_.reset();  // gives the clock back before the kernel goes
  RelayConsole();
  if (consoleWrite_ >= 0) {
    proc::SetChildOutput(-1);
    close(consoleWrite_);
  }
  if (consoleRead_ >= 0) close(consoleRead_);
  for (HANDLE h : handles_) CloseHandle(h);
  if (lockFd_ >= 0) {
    proc::ClearKernel(dev_, static_cast<int>(getpid()), HostProcessStartTime(getpid()));
    close(lockFd_);
  }
}

bool Runner::AllEnded() const {
  for (HANDLE h : handles_)
    if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
  return true;
}

bool Runner::TakeKernelLock() {
  fs::path lock = dev_->Dir() / "kernel.lock";
  lockFd_ = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lockFd_ >= 0 && flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
    firstRow_ = LastRow();
    if (!proc::SetKernel(dev_, static_cast<int>(getpid()), HostProcessStartTime(getpid())))
      Line("run: the kernel could not be recorded in device.db; programs left by this run are not found later");
    return true;
  }
  Line("run: another process is running this device already (" + lock.string() + " is locked)");
  SetLastError(ERROR_LOCK_VIOLATION);
  return false;
}

int64_t Runner::LastRow() {
  if (!proc::EnsureTables(dev_)) return 0;
  std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
  Stmt s(dev_->Db(), "SELECT coalesce(max(rowid), 0) FROM processes");
  return s.Step() ? s.Int(0) : 0;
}

// Adds the programs that device programs started during the run, and puts
// the whole list in start order.
void Runner::AddOtherProcesses() {
  std::vector<StartedProgram> ours = std::move(rep_->started), all;
  std::vector<bool> used(ours.size(), false);
  {
    std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
    Stmt s(dev_->Db(),
           "SELECT rowid, pid, path, cmdline, parent_pid, exit_code FROM processes WHERE rowid > ? ORDER BY rowid");
    s.Bind(1, firstRow_);
    while (s.Step()) {
      DWORD pid = static_cast<DWORD>(s.Int(1));
      size_t i = 0;
      while (i < ours.size() && (used[i] || ours[i].pid != pid)) ++i;
      if (i < ours.size()) {
        used[i] = true;
        all.push_back(ours[i]);
        all.back().program = s.Text16(2);  // the path the program search found
        continue;
      }
      StartedProgram p;
      p.pid = pid;
      p.program = s.Text16(2);
      p.commandLine = s.Text16(3);
      p.origin = "started by pid " + std::to_string(s.Int(4));
      p.boot = static_cast<int>(std::count_if(bootRows_.begin(), bootRows_.end(),
                                              [&](int64_t r) { return r < s.Int(0); }));
      if (!s.IsNull(5)) p.exitCode = static_cast<DWORD>(s.Int(5));
      all.push_back(p);
    }
  }
  for (size_t i = 0; i < ours.size(); ++i)
    if (!used[i]) all.push_back(ours[i]);
  rep_->started = std::move(all);
}

void Runner::HideHost() {
  // Registered once, this process is never added again by CreateProcessW;
  // removing the row keeps it out of the table and out of every reset.
  RegisterOwnProcess();
  if (!proc::EnsureTables(dev_)) return;
  std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
  Stmt s(dev_->Db(), "DELETE FROM processes WHERE pid = ? AND start_time = ?");
  s.Bind(1, static_cast<int64_t>(getpid())).Bind(2, static_cast<int64_t>(HostProcessStartTime(getpid()))).Run();
}

void Runner::TakeOverDevice() {
  for (const proc::Orphan& o : proc::Orphans(dev_)) {
    std::string what = Describe(o.row) + " was left running by a run or boot that was killed (host pid " +
                       std::to_string(o.kernelPid) + ")";
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(o.row.pid));
    const bool ended = h && TerminateProcess(h, CE_EXIT_ABNORMAL);
    const DWORD err = GetLastError();
    if (h) CloseHandle(h);
    if (ended || !HostProcessAlive(o.row.pid, o.row.startTime))  // it may have ended meanwhile
      Line("run: " + what + ": ended");
    else
      Line("run: " + what + " and cannot be ended: " + DescribeError(err));
  }
}

void Runner::EndAll(const std::string& why) {
  for (const proc::Row& r : proc::LiveRows(dev_)) endedBy_.emplace(static_cast<DWORD>(r.pid), why);
  for (int attempt = 0; attempt < 3 && !EndAllDeviceProcesses(false); ++attempt) {
  }
}

bool Runner::Start(std::u16string_view program, std::u16string_view cmdLine, const std::string& origin,
                   size_t* index) {
  std::u16string prog(program), cmd(cmdLine);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(prog.c_str(), cmd.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
    DWORD err = GetLastError();
    Line(BootTag() + origin + ": " + U8(prog) + " could not be started: " + DescribeError(err));
    SetLastError(err);
    return false;
  }
  CloseHandle(pi.hThread);
  StartedProgram sp;
  sp.pid = pi.dwProcessId;
  sp.program = prog;
  sp.commandLine = cmd;
  sp.origin = origin;
  sp.boot = rep_->boots;
  rep_->started.push_back(sp);
  handles_.push_back(pi.hProcess);
  if (index) *index = rep_->started.size() - 1;
  Line(BootTag() + origin + ": started " + U8(prog) + " (pid " + std::to_string(pi.dwProcessId) +
       ") with command line \"" + U8(cmd) + "\"");
  return true;
}

void Runner::ApplyHiveReplacements() {
  std::vector<std::u16string> pending = boot::HiveReplacements(dev_);
  for (const auto& path : pending) {
    const std::string what = "the pending system hive replacement " + U8(path);
    ResolvedPath from, live;
    if (!dev_->Resolve(path, &from) || !from.exists || from.isDirectory) {
      Line(BootTag() + what + " is missing: the current hive stays");
      continue;
    }
    HKEY probe = nullptr;
    LONG err = RegOpenHiveFile(path.c_str(), nullptr, &probe);
    if (err != ERROR_SUCCESS) {
      Line(BootTag() + what + " is no hive: " + DescribeError(static_cast<DWORD>(err)) +
           "; the current hive stays");
      continue;
    }
    RegCloseKey(probe);
    if (!dev_->Resolve(kSystemHivePath, &live)) {
      Line(BootTag() + what + " failed: the live hive path does not resolve");
      continue;
    }
    // Copied beside the device tree, then renamed over the live hive in one
    // step; a journal of the old file must not be applied to the new one.
    RegCloseHives();
    std::error_code ec;
    fs::path tmp = dev_->Dir() / "hive-replace.tmp";
    fs::create_directories(live.host.parent_path(), ec);
    fs::copy_file(from.host, tmp, fs::copy_options::overwrite_existing, ec);
    if (!ec) {
      for (const char* side : {"-journal", "-wal", "-shm"}) fs::remove(live.host.string() + side, ec);
      ec.clear();
      fs::rename(tmp, live.host, ec);
    }
    if (ec) {
      fs::remove(tmp, ec);
      Line(BootTag() + what + " failed: " + ec.message() + "; the current hive stays");
      continue;
    }
    Line(BootTag() + "the system hive was replaced by " + U8(path));
  }
  if (!pending.empty()) boot::ClearHiveReplacements(dev_);
}

void Runner::RecoverDatabases() {
  for (const std::string& line : db::RecoverStores(dev_)) Line(BootTag() + line);
}

void Runner::MountSystemVolumes() {
  for (const SystemVolume& v : dev_->GetProfile().systemVolumes) {
    std::string problem;
    if (db::MountSystemVolume(dev_, v, &problem))
      Line(BootTag() + "mounted the system volume " + U8(v.path) + (v.edb ? " (EDB)" : " (CEDB)"));
    else
      Line(BootTag() + "the system volume " + U8(v.path) + " cannot be mounted: " + problem);
  }
}

void Runner::CheckHives() {
  struct {
    HKEY root;
    std::u16string_view path;
  } hives[] = {{HKEY_LOCAL_MACHINE, kSystemHivePath}, {HKEY_CURRENT_USER, kUserHivePath}};
  for (const auto& h : hives) {
    HKEY key = nullptr;
    LONG err = RegOpenKeyExW(h.root, nullptr, 0, KEY_READ, &key);
    if (err == ERROR_SUCCESS) {
      DWORD subKeys = 0;
      err = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr);
      RegCloseKey(key);
    }
    if (err != ERROR_SUCCESS)
      Line(BootTag() + "the registry hive " + U8(h.path) + " cannot be read: " +
           DescribeError(static_cast<DWORD>(err)) + "; booting without it");
  }
}

bool Runner::ReadLaunchList(std::map<DWORD, LaunchEntry>* entries) {
  HKEY key = nullptr;
  LONG err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init", 0, KEY_READ, &key);
  if (err != ERROR_SUCCESS) {
    Line(BootTag() + (err == ERROR_FILE_NOT_FOUND
                          ? std::string("HKLM\\init is missing: no boot launch list")
                          : "HKLM\\init cannot be read: " + DescribeError(static_cast<DWORD>(err)) +
                                "; no boot launch list"));
    return false;
  }
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    BYTE data[1024];
    DWORD nameLen = 256, type = 0, size = sizeof data;
    err = RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &size);
    if (err == ERROR_NO_MORE_ITEMS) break;
    if (err == ERROR_MORE_DATA) continue;  // no launch value is that long
    if (err != ERROR_SUCCESS) {
      Line(BootTag() + "HKLM\\init enumeration stopped: " + DescribeError(static_cast<DWORD>(err)));
      break;
    }
    std::u16string_view n(name, nameLen);
    if (DWORD launch = LaunchNumber(n, u"Launch"); launch && type == REG_SZ) {
      std::u16string text;
      for (DWORD b = 0; b + 1 < size; b += 2) {
        char16_t c = static_cast<char16_t>(data[b] | (data[b + 1] << 8));
        if (!c) break;
        text += c;
      }
      (*entries)[launch].program = text;
      (*entries)[launch].hasProgram = true;
    } else if (DWORD dep = LaunchNumber(n, u"Depend"); dep && type == REG_BINARY) {
      for (DWORD b = 0; b + 1 < size; b += 2) (*entries)[dep].waitsFor.push_back(data[b] | (data[b + 1] << 8));
    }
  }
  RegCloseKey(key);
  return true;
}

Outcome Runner::WaitForLaunch(DWORD dep, DWORD waiter, const std::map<DWORD, LaunchEntry>& entries) {
  const std::string tag = BootTag() + "Launch" + std::to_string(waiter) + " waits for " + std::to_string(dep);
  if (done_.count(dep)) return Outcome::kDone;
  auto started = launched_.find(dep);
  if (started == launched_.end()) {
    auto e = entries.find(dep);
    if (e == entries.end() || !e->second.hasProgram)
      Line(tag + ", which is not in the launch list: not waited for");
    else if (dep >= waiter)
      Line(tag + ", which does not start before it: not waited for");
    // else: it could not be started, which was reported.
    done_.insert(dep);
    return Outcome::kDone;
  }
  HANDLE h = handles_[started->second];
  const auto limit = launchTime_[dep] + std::chrono::milliseconds(opt_.signalTimeoutMs);
  for (;;) {
    auto signalled = boot::Signals(dev_);
    if (std::find(signalled.begin(), signalled.end(), dep) != signalled.end()) {
      Line(BootTag() + "Launch" + std::to_string(dep) + " signalled");
      done_.insert(dep);
      return Outcome::kDone;
    }
    if (ResetPending()) return Outcome::kReset;
    DWORD code = STILL_ACTIVE;
    if (GetExitCodeProcess(h, &code) && code != STILL_ACTIVE) {
      signalled = boot::Signals(dev_);  // it may have signalled just before its end
      if (std::find(signalled.begin(), signalled.end(), dep) == signalled.end()) {
        if (ResetPending()) return Outcome::kReset;
        Line(BootTag() + "Launch" + std::to_string(dep) + " ended (exit code " + std::to_string(code) +
             ") without signalling");
      }
      done_.insert(dep);
      return Outcome::kDone;
    }
    if (Clock::now() >= limit) {
      Line(BootTag() + "Launch" + std::to_string(dep) + " did not signal within " +
           std::to_string(opt_.signalTimeoutMs) + " ms: going on without it");
      done_.insert(dep);
      return Outcome::kDone;
    }
    if (Clock::now() >= deadline_) return Outcome::kTimeout;
    DriveClock();  // a launch entry may wait for a time
    std::this_thread::sleep_for(kPoll);
  }
}

Outcome Runner::RunLaunchList() {
  std::map<DWORD, LaunchEntry> entries;
  if (!ReadLaunchList(&entries)) return Outcome::kDone;
  std::vector<std::u16string> resident = proc::ResidentNames(dev_);
  for (const auto& [n, e] : entries) {
    if (!e.hasProgram) continue;
    for (DWORD dep : e.waitsFor) {
      Outcome o = WaitForLaunch(dep, n, entries);
      if (o != Outcome::kDone) return o;
    }
    if (ResetPending()) return Outcome::kReset;
    const std::string origin = "Launch" + std::to_string(n);
    std::u16string bare = proc::BareName(e.program);
    bool isResident = false;
    for (const auto& r : resident) isResident = isResident || EqualNoCase(r, bare);
    if (isResident) {
      Line(BootTag() + origin + " " + U8(e.program) + ": resident, started at once");
      done_.insert(n);
      continue;
    }
    size_t index = 0;
    // The launch number is the program's whole command line.
    if (Start(e.program, FromUtf8(std::to_string(n)), origin, &index)) {
      launched_[n] = index;
      launchTime_[n] = Clock::now();
    } else {
      done_.insert(n);
    }
  }
  return Outcome::kDone;
}

void Runner::RaiseShellEvents() {
  for (const char16_t* name : {kGweApiSetReadyEvent, kShellApiReadyEvent})
    if (!event::HoldForBoot(dev_, name, true, true))
      Line(BootTag() + "the event " + U8(name) + " could not be set");
}

void Runner::RunStartupFolder() {
  std::u16string folder = kStartupFolder;
  WIN32_FIND_DATAW fd{};
  HANDLE find = FindFirstFileW((folder + u"\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::u16string> files;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(fd.cFileName);
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  for (const auto& name : files) {
    std::u16string path = folder + u"\\" + name;
    std::u16string upper = DeviceUpper(name);
    const std::string origin = "startup " + U8(path);
    auto endsWith = [&](std::u16string_view ext) {
      return upper.size() > ext.size() && upper.compare(upper.size() - ext.size(), ext.size(), ext) == 0;
    };
    if (endsWith(u".LNK")) {
      std::u16string target, program, args;
      if (!ReadShortcutTarget(path, &target) || !SplitShortcutTarget(target, &program, &args)) {
        Line(BootTag() + origin + ": not a usable shortcut");
        continue;
      }
      Start(program, args, origin);
    } else if (endsWith(u".EXE")) {
      Start(path, u"", origin);
    } else {
      Line(BootTag() + origin + ": neither a shortcut nor a program, not started");
    }
  }
}

Outcome Runner::Boot() {
  ++rep_->boots;
  EndAll(rep_->resets ? "reset " + std::to_string(rep_->resets) : "the boot");
  trap::EndStrike();  // what a strike stopped is gone now
  filestate::ClearSpares(dev_);  // what the ended processes kept for new files
  SetDown(false);
  if (!event::ClearAll(dev_)) Line(BootTag() + "the named events of the last boot could not be cleared");
  // A boot leaves the device on, and is no wake-up: what happened to the
  // power before it is over.
  power::DropChanges(dev_);
  if (!power::IsOn(dev_)) {
    power::Switch(dev_, true, "the boot", 0);
    power::DropChanges(dev_);
    Event("power: on (the boot)");
  }
  power::NoteActivity(dev_);
  pendingWakeUps_ = 0;
  wake_ = WakeUp{};
  boot::LeaveInitPhase(dev_);
  bootRows_.push_back(LastRow());
  if (int stale = boot::TakeResetRequests(dev_))
    Line(BootTag() + std::to_string(stale) + " earlier reset request(s) taken as done");
  boot::ClearSignals(dev_);
  done_.clear();
  launched_.clear();
  launchTime_.clear();
  Line(BootTag() + "starting");
  ApplyHiveReplacements();
  RecoverDatabases();
  RegCloseHives();  // every hive is read afresh from here on
  MarkDeviceBoot();
  std::string resident;
  for (const auto& r : proc::ResidentNames(dev_)) resident += (resident.empty() ? "" : ", ") + U8(r);
  Line(BootTag() + "resident programs: " + resident);
  CheckHives();
  // The kernel keeps no connection to a hive file while the launch list may
  // replace the user hive.
  RegCloseHives();
  boot::EnterInitPhase(dev_, getpid(), static_cast<int64_t>(HostProcessStartTime(getpid())));
  Outcome o = RunLaunchList();
  if (o != Outcome::kDone) return o;
  if (ResetPending()) return Outcome::kReset;
  boot::LeaveInitPhase(dev_);
  // The system's volumes: free while the init list ran, held from here on.
  MountSystemVolumes();
  RaiseShellEvents();
  Line(BootTag() + "shell up, running " + U8(kStartupFolder));
  RunStartupFolder();
  Line(BootTag() + "complete");
  DeviceNotificationStore().AfterBoot(dev_, *this);
  return Outcome::kDone;
}

void Runner::SetDown(bool down) {
  std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
  Stmt s(dev_->Db(), down ? "INSERT OR REPLACE INTO meta(key, value) VALUES('device_down', 1)"
                          : "DELETE FROM meta WHERE key = 'device_down'");
  s.Run();  // a failure to mark it down only skips the boot of the next run
}

void Runner::ArmCallTrap() {
  if (!opt_.countCalls && !opt_.resetAfter) return;
  if (!trap::Arm(dev_, opt_.resetAfter)) {
    Line("run: the call counter cannot be set up (" + DescribeError(GetLastError()) +
         "): the run's calls are not counted");
    return;
  }
  if (opt_.resetAfter)
    Line("run: the device resets after call " + std::to_string(opt_.resetAfter->n) + " (" +
         CallKindName(opt_.resetAfter->kind) + ")");
}

void Runner::NoteTrapStrike() {
  if (rep_->strike) return;  // the trap strikes once
  std::optional<TrapStrike> s = trap::Strike();
  if (!s) return;
  const std::string where = "reset-after: call " + std::to_string(s->n) + " (" + CallKindName(s->kind) + ") was " +
                            s->call + ", a " + CallKindName(s->callKind) + " call, in pid " + std::to_string(s->pid) +
                            " " + s->program + " \"" + s->commandLine + "\": the device resets";
  Line(where);
  OutputDebugStringW(FromUtf8(where).c_str());  // the device's own log keeps it too
  rep_->strike = std::move(s);
}

void Runner::EndCallTrap() {
  if (!trap::Armed()) return;
  const CallCounts c = trap::Counts();
  rep_->calls = c;
  Line("run: calls counted: " + std::to_string(c.Total()) + " (file " + std::to_string(c.file) + ", reg " +
       std::to_string(c.reg) + ", process " + std::to_string(c.process) + ")");
  if (opt_.resetAfter && !trap::Struck())
    Line("run: the reset after call " + std::to_string(opt_.resetAfter->n) + " (" +
         CallKindName(opt_.resetAfter->kind) + ") did not strike: the run made " +
         std::to_string(c.Of(opt_.resetAfter->kind)) + " such calls");
  trap::Disarm();
}

bool Runner::DeviceDown() {
  std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
  Stmt s(dev_->Db(), "SELECT 1 FROM meta WHERE key = 'device_down'");
  return s.ok() && s.Step();
}

void Runner::CollectExitCodes() {
  for (size_t i = 0; i < handles_.size(); ++i) {
    DWORD code = STILL_ACTIVE;
    if (GetExitCodeProcess(handles_[i], &code) && code != STILL_ACTIVE) rep_->started[i].exitCode = code;
  }
}

void Runner::NoteWhatEndedThem() {
  for (StartedProgram& p : rep_->started) {
    auto it = endedBy_.find(p.pid);
    // A program that recorded its own code just before keeps its own end.
    if (it != endedBy_.end() && p.exitCode == CE_EXIT_ABNORMAL) p.endedBy = it->second;
  }
}

void Runner::NameLeftovers() {
  for (const proc::Row& r : proc::LiveRows(dev_)) {
    if (r.pid == static_cast<int>(getpid())) continue;
    bool ours = false;
    for (const StartedProgram& p : rep_->started) ours = ours || p.pid == static_cast<DWORD>(r.pid);
    if (!ours && RowOf(r) <= firstRow_)
      Line("run: " + Describe(r) + " was running before this run; the run waits for it to end");
  }
}

int64_t Runner::RowOf(const proc::Row& r) {
  std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
  Stmt s(dev_->Db(), "SELECT rowid FROM processes WHERE pid = ? AND start_time = ?");
  return s.Bind(1, r.pid).Bind(2, static_cast<int64_t>(r.startTime)).Step() ? s.Int(0) : 0;
}

bool Runner::Loop(bool bootFirst, const RunProgram* program) {
  bool ok = true;
  const bool down = !bootFirst && DeviceDown();
  if (down) Line("run: the device is down (a spent reset budget left it off): booting it");
  if (!bootFirst && !down) NameLeftovers();  // a boot ends them
  Outcome o = bootFirst || down ? Boot() : Outcome::kDone;
  bool startPending = program != nullptr;
  for (;;) {
    if (o == Outcome::kTimeout || Clock::now() >= deadline_) {
      std::vector<proc::Row> left = proc::LiveRows(dev_);
      std::string names;
      for (const proc::Row& r : left) names += (names.empty() ? ": " : ", ") + Describe(r);
      Line("run: time limit of " + std::to_string(opt_.runTimeoutMs) + " ms reached; ending " +
           std::to_string(left.size()) + " process(es)" + names);
      rep_->timedOut = true;
      EndAll("the time limit");
      ok = false;
      break;
    }
    std::vector<ResetRequest> resets = PendingResets();
    if (!resets.empty()) {
      const ResetRequest& r = resets.front();
      NoteTrapStrike();
      std::string who = "reset requested by pid " + std::to_string(r.pid) + " through " + HowText(r.how);
      if (rep_->resets >= opt_.maxResets) {
        Line("run: " + who + ", but the reset budget of " + std::to_string(opt_.maxResets) +
             " is spent: the device is left off");
        rep_->resetBudgetSpent = true;
        NoteResetVictims("a reset beyond the reset budget");
        EndAll("a reset beyond the reset budget");
        boot::TakeResetRequests(dev_);
        SetDown(true);
        ok = false;
        break;
      }
      ++rep_->resets;
      NoteResetVictims("reset " + std::to_string(rep_->resets));
      boot::TakeResetRequests(dev_);  // requests made together are one reset
      Line("reset " + std::to_string(rep_->resets) + ": " + who);
      o = Boot();
      continue;
    }
    if (startPending) {
      startPending = false;
      if (!Start(program->program, program->commandLine, "run")) {
        rep_->programNotStarted = true;
        const DWORD err = GetLastError();
        EndAll("the run, whose program could not start");
        SetLastError(err);
        ok = false;
        break;
      }
    }
    if (!DeviceStep()) {
      ok = false;
      break;
    }
    if (RunIsOver()) break;
    DriveClock();
    Pause();
  }
  const DWORD err = GetLastError();
  boot::LeaveInitPhase(dev_);  // a run that ended in the launch list leaves it too
  LeaveRunning();
  CollectExitCodes();
  AddOtherProcesses();
  NoteWhatEndedThem();
  SetLastError(err);
  return ok;
}

// Runs the device as its kernel: takes the kernel lock, hides the host,
// takes the clock and hands the runner to work. False (last error set)
// without a device or the lock.
template <typename Work>
bool RunAsKernel(const BootOptions& options, BootReport* report, Work work) {
  Device* d = Device::Current();
  if (!d) {
    SetLastError(ERROR_NOT_READY);
    return false;
  }
  BootReport local;
  Runner r(d, options, report ? report : &local);
  if (!r.TakeKernelLock()) return false;
  r.HideHost();
  r.TakeOverDevice();
  r.StartDriving();
  r.ArmCallTrap();
  const bool ok = work(r);
  const DWORD err = GetLastError();
  r.EndCallTrap();
  SetLastError(err);
  return ok;
}

}  // namespace boot

bool BootDevice(const BootOptions& options, BootReport* report) {
  return boot::RunAsKernel(options, report, [](boot::Runner& r) { return r.Loop(true); });
}

bool RunOnDevice(std::u16string_view program, std::u16string_view commandLine, const BootOptions& options,
                 BootReport* report) {
  return boot::RunAsKernel(options, report, [&](boot::Runner& r) {
    if (r.DeviceDown()) {
      const boot::RunProgram run{std::u16string(program), std::u16string(commandLine)};
      return r.Loop(false, &run);
    }
    return r.Start(program, commandLine, "run") && r.Loop(false);
  });
}

bool RunDevice(const BootOptions& options, BootReport* report) {
  return boot::RunAsKernel(options, report, [](boot::Runner& r) { return r.Loop(false); });
}

bool DeviceIsDown() {
  Device* d = Device::Current();
  if (!d) return false;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT 1 FROM meta WHERE key = 'device_down'");
  return s.ok() && s.Step();
}

std::vector<DeviceProcess> ListDeviceProcesses() {
  std::vector<DeviceProcess> out;
  Device* d = Device::Current();
  if (!d) return out;
  std::vector<std::u16string> resident = proc::ResidentNames(d);
  for (size_t i = 0; i < resident.size(); ++i) {
    DeviceProcess p;
    p.pid = kResidentPidBase + static_cast<DWORD>(i);
    p.parentPid = i == 0 ? 0 : kResidentPidBase;
    p.exe = resident[i];
    p.resident = true;
    out.push_back(p);
  }
  for (const auto& r : proc::LiveRows(d)) {
    DeviceProcess p;
    p.pid = static_cast<DWORD>(r.pid);
    p.parentPid = static_cast<DWORD>(r.parentPid);
    p.exe = r.exe;
    p.path = r.path;
    p.commandLine = r.cmdLine;
    out.push_back(p);
  }
  return out;
}

std::vector<DWORD> SignalledLaunches() {
  Device* d = Device::Current();
  return d ? boot::Signals(d) : std::vector<DWORD>{};
}

}  // namespace ce

void SignalStarted(DWORD n) {
  DWORD saved = GetLastError();
  if (ce::Device* d = ce::Device::Current()) ce::boot::RecordSignal(d, n, static_cast<int64_t>(getpid()));
  SetLastError(saved);
}
