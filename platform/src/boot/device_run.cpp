// The run on the device clock: power, wake-ups, notifications, idle-off,
// the clock's jumps and the report of processes (see cesim/boot.h).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "boot/runner.h"
#include "ce/errors.h"
#include "ce/process.h"
#include "ce/time.h"
#include "notify/notify_store.h"
#include "power/power_state.h"

namespace ce::boot {
namespace {

constexpr int64_t kWakeUpWaitMs = 30000;  // a wake-up waits this long for its event's programs
constexpr int kPauseMs = 10;

// "2006-03-08 02:00:10", the device's local time.
std::string DeviceTimeText(int64_t unixMs) {
  constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
  const uint64_t ticks = kUnixEpochTicks + static_cast<uint64_t>(std::max<int64_t>(unixMs, 0)) * 10000;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, local{};
  SYSTEMTIME st{};
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return "(bad time)";
  char buf[40];
  snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  return buf;
}

std::string ExitText(DWORD code) {
  char buf[48];
  if (code == CE_EXIT_ABNORMAL)
    snprintf(buf, sizeof buf, "exit 0x%08X (ended abnormally)", code);
  else
    snprintf(buf, sizeof buf, "exit %u", code);
  return buf;
}

}  // namespace

void Runner::Event(int64_t deviceMs, const std::string& s) { Line(DeviceTimeText(deviceMs) + " " + s); }
void Runner::Event(const std::string& s) { Event(DeviceNowMs(), s); }

void Runner::OpenConsole() {
  const std::string path = (dev_->Dir() / "console.log").string();
  consoleWrite_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (consoleWrite_ < 0) return;  // the programs then write to the kernel's own output
  // Programs left running by an earlier run append at the new end.
  if (ftruncate(consoleWrite_, 0) != 0) {
    close(consoleWrite_);
    consoleWrite_ = -1;
    return;
  }
  consoleRead_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  proc::SetChildOutput(consoleWrite_);
}

void Runner::RelayConsole() {
  if (consoleRead_ < 0) return;
  char buf[4096];
  ssize_t n;
  while ((n = read(consoleRead_, buf, sizeof buf)) > 0) {
    ssize_t w = write(STDOUT_FILENO, buf, static_cast<size_t>(n));
    if (w < 0) break;  // nobody reads the kernel's output: the programs' goes unread too
  }
}

void Runner::StartDriving() {
  OpenConsole();
  driver_ = std::make_unique<clock::Driver>(dev_);
  reportedRow_ = firstRow_;
  for (const proc::Row& r : proc::LiveRows(dev_))
    if (int64_t row = RowOf(r); row > 0 && row <= firstRow_) earlierRows_.push_back(row);
  std::sort(earlierRows_.begin(), earlierRows_.end());
}

bool Runner::StartProgram(std::u16string_view program, std::u16string_view commandLine, const std::string& origin,
                          DWORD* pid) {
  size_t index = 0;
  if (!Start(program, commandLine, origin, &index)) return false;
  if (pid) *pid = rep_->started[index].pid;
  return true;
}

bool Runner::Ended(DWORD pid) const {
  for (size_t i = 0; i < rep_->started.size(); ++i)
    if (rep_->started[i].pid == pid) return WaitForSingleObject(handles_[i], 0) == WAIT_OBJECT_0;
  return true;  // not started by this run: not waited for
}

bool Runner::DeviceStep() {
  ReportProcesses();
  if (StartLimitReached()) return false;
  for (const power::Change& c : power::TakeChanges(dev_)) {
    Event(c.ms, std::string("power: ") + (c.on ? "on" : "off") + " (" + c.cause + ")");
    if (c.wakeUp) ++pendingWakeUps_;
  }
  for (DWORD n : notify::TakeQueuedEvents(dev_)) {
    Event("event " + std::to_string(n) + " signalled");
    DeviceNotificationStore().FireEvent(dev_, n, *this);
  }
  WakeUpStep();
  TimedNotificationStep();
  IdleOffStep();
  return true;
}

void Runner::ReportProcesses() {
  struct Seen {
    int64_t row;
    DWORD pid;
    std::u16string path, cmdLine;
    int64_t parent;
    std::optional<DWORD> exit;
    int64_t startedMs;
  };
  std::vector<Seen> rows;
  {
    std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
    Stmt s(dev_->Db(),
           "SELECT rowid, pid, path, cmdline, parent_pid, exit_code, started_ms FROM processes WHERE rowid > ?"
           " ORDER BY rowid");
    s.Bind(1, earlierRows_.empty() ? firstRow_ : std::min(firstRow_, earlierRows_.front() - 1));
    while (s.Step()) {
      // Of the rows before the run only those of processes running then.
      if (s.Int(0) <= firstRow_ && !std::binary_search(earlierRows_.begin(), earlierRows_.end(), s.Int(0))) continue;
      Seen r{s.Int(0), static_cast<DWORD>(s.Int(1)), s.Text16(2), s.Text16(3), s.Int(4), std::nullopt, s.Int(6)};
      if (!s.IsNull(5)) r.exit = static_cast<DWORD>(s.Int(5));
      rows.push_back(std::move(r));
    }
  }
  for (const Seen& r : rows) {
    if (r.row > reportedRow_ && r.row > firstRow_) {
      reportedRow_ = r.row;
      bool ours = false;
      for (const StartedProgram& p : rep_->started) ours = ours || p.pid == r.pid;
      if (!ours)  // the run's own starts have their line already
        Event(r.startedMs, "pid " + std::to_string(r.pid) + " " + U8(r.path) + " \"" + U8(r.cmdLine) +
                               "\" started by pid " + std::to_string(r.parent));
    }
    if (r.exit) {
      auto why = endedBy_.find(r.pid);
      // A reset's request ends every process before the loop takes it up:
      // their ends are told once the reset has named what it ended.
      if (why == endedBy_.end() && *r.exit == CE_EXIT_ABNORMAL && ResetPending()) continue;
      if (!reportedEnded_.insert(r.row).second) continue;
      const std::string end =
          why != endedBy_.end() && *r.exit == CE_EXIT_ABNORMAL ? "ended by " + why->second : ExitText(*r.exit);
      Event("pid " + std::to_string(r.pid) + " " + U8(r.path) + " ended: " + end);
    }
  }
}

bool Runner::StartLimitReached() {
  const int64_t now = DeviceNowMs();
  int64_t count = 0, first = now;
  {
    std::lock_guard<std::recursive_mutex> g(dev_->DbLock());
    Stmt s(dev_->Db(), "SELECT COUNT(*), MIN(started_ms) FROM processes WHERE rowid > ? AND started_ms > ?");
    s.Bind(1, firstRow_).Bind(2, now - 60000);
    if (s.Step()) {
      count = s.Int(0);
      if (!s.IsNull(1)) first = s.Int(1);
    }
  }
  if (count <= opt_.maxStartsPerMinute) return false;
  Line("run: " + std::to_string(count) + " programs started within one minute of device time (since " +
       DeviceTimeText(first) + "), more than " + std::to_string(opt_.maxStartsPerMinute) +
       ": a program keeps starting programs; the run stops");
  rep_->startLimitReached = true;
  EndAll("the start limit");
  return true;
}

bool Runner::WakeUpProgramsEnded() const {
  for (DWORD pid : wake_.pids)
    if (!Ended(pid)) return false;
  return true;
}

void Runner::WakeUpStep() {
  if (wake_.active) {
    const bool allEnded = WakeUpProgramsEnded();
    if (allEnded || DeviceNowMs() >= wake_.untilMs) {
      if (!allEnded) Event("wake-up: the programs of event 11 still run after 30 s; the timed notifications go on");
      wake_ = WakeUp{};
    }
    return;
  }
  if (pendingWakeUps_ == 0) return;
  --pendingWakeUps_;
  Event("wake-up: event 11 fires");
  std::vector<DWORD> pids = DeviceNotificationStore().FireEvent(dev_, kNotifyEventWakeUp, *this);
  wake_ = WakeUp{true, DeviceNowMs() + kWakeUpWaitMs, std::move(pids)};
}

void Runner::TimedNotificationStep() {
  // A wake-up's own programs come first.
  if (wake_.active || pendingWakeUps_ > 0) return;
  NotificationStore& store = DeviceNotificationStore();
  std::optional<int64_t> next = store.NextDueMs(dev_);
  if (!next || *next > DeviceNowMs()) return;
  if (!power::IsOn(dev_)) {
    // The next step sees the wake-up; the due notifications fire after it.
    power::Switch(dev_, true, "a timed notification is due", 0);
    return;
  }
  store.FireDue(dev_, DeviceNowMs(), *this);
}

void Runner::IdleOffStep() {
  const DWORD minutes = dev_->GetProfile().idleOffMinutes;
  if (minutes == 0 || !power::IsOn(dev_)) return;
  if (power::IdleSinceMs(dev_) + static_cast<int64_t>(minutes) * 60000 <= DeviceNowMs())
    power::Switch(dev_, false, "idle for " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes"), 0);
}

int64_t Runner::KernelDeadline() {
  int64_t due = clock::kNoDeadline;
  if (wake_.active) {
    // Programs that ended since the last step (a quick one may end before
    // the kernel first sees it live) leave no process to wait for: the
    // timed notifications are due now, not at the end of the wait.
    due = WakeUpProgramsEnded() ? DeviceNowMs() : wake_.untilMs;
  } else if (pendingWakeUps_ == 0) {
    if (std::optional<int64_t> next = DeviceNotificationStore().NextDueMs(dev_)) due = std::min(due, *next);
  }
  const DWORD minutes = dev_->GetProfile().idleOffMinutes;
  if (minutes > 0 && power::IsOn(dev_))
    due = std::min(due, power::IdleSinceMs(dev_) + static_cast<int64_t>(minutes) * 60000);
  return due;
}

void Runner::DriveClock() {
  int64_t earliest = clock::kNoDeadline;
  if (!driver_ || !driver_->AllWaiting(&earliest)) return;
  // Without an end time only a process that waits for a time moves the
  // clock; one that waits for ever leaves the device in host time.
  if (!opt_.untilMs && earliest == clock::kNoDeadline) return;
  int64_t target = std::min(earliest, KernelDeadline());
  if (opt_.untilMs) target = std::min(target, *opt_.untilMs);
  if (target == clock::kNoDeadline || target <= DeviceNowMs()) return;
  driver_->JumpTo(target);
}

bool Runner::RunIsOver() {
  // A reset asked for since the loop looked is carried out first.
  if (ResetPending()) return false;
  if (!opt_.untilMs) {
    if (!proc::LiveRows(dev_).empty() || !AllEnded()) return false;
    // A program records its reset request before it ends: one that did so
    // since the look above is carried out, not lost.
    if (ResetPending()) return false;
    // A process that ended after this step's report is told before the end.
    ReportProcesses();
    Line("run: the device is idle");
    return true;
  }
  if (DeviceNowMs() < *opt_.untilMs) return false;
  int64_t earliest = 0;
  if (driver_ && !driver_->AllWaiting(&earliest)) return false;  // settles first
  rep_->reachedEnd = true;
  Line("run: the device clock reached " + DeviceTimeText(*opt_.untilMs));
  return true;
}

void Runner::Pause() {
  RelayConsole();
  if (!driver_ || driver_->WakeFd() < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
    return;
  }
  pollfd p{driver_->WakeFd(), POLLIN, 0};
  poll(&p, 1, kPauseMs);
  driver_->Drain();
}

void Runner::LeaveRunning() {
  std::vector<proc::Row> left = proc::LiveRows(dev_);
  rep_->leftRunning = static_cast<int>(left.size());
  if (left.empty()) return;
  std::string names;
  for (const proc::Row& r : left) {
    names += (names.empty() ? ": " : ", ") + Describe(r);
    // Not this kernel's any more: the next run finds them running from
    // before instead of ending them as left by a killed kernel.
    proc::ReleaseFromKernel(dev_, r.pid, r.startTime);
  }
  Line("run: " + std::to_string(left.size()) + " process(es) go on running" + names);
}

}  // namespace ce::boot
