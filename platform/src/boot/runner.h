// The kernel: the host process that boots the device and runs it (private
// to the platform; see cesim/boot.h). boot.cpp holds the boot's phases,
// device_run.cpp the run on the device clock (power, wake-ups,
// notifications, the clock's jumps, the report of processes).
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "boot/boot_state.h"
#include "ce/text.h"
#include "cesim/boot.h"
#include "cesim/notifystore.h"
#include "cesim/power.h"
#include "clock/device_clock.h"
#include "process/process_table.h"

namespace ce::boot {

using Clock = std::chrono::steady_clock;

inline std::string U8(std::u16string_view s) { return ToUtf8(s); }

struct LaunchEntry {
  std::u16string program;
  bool hasProgram = false;
  std::vector<DWORD> waitsFor;
};

enum class Outcome { kDone, kReset, kTimeout };

// A program the run starts once the device is up.
struct RunProgram {
  std::u16string program;
  std::u16string commandLine;
};

class Runner : private NotificationKernelPort {
 public:
  Runner(Device* d, const BootOptions& o, BootReport* r);
  ~Runner() override;

  // One kernel per device: false (ERROR_LOCK_VIOLATION) while another
  // process runs this device.
  bool TakeKernelLock();
  void HideHost();
  // Ends what a killed kernel left running; names what runs from before.
  void TakeOverDevice();
  // Takes the device clock (cesim/clock.h).
  void StartDriving();
  bool Start(std::u16string_view program, std::u16string_view cmdLine, const std::string& origin,
             size_t* index = nullptr);
  // Runs the device: boots it first when bootFirst or when it is down,
  // starts `program` once it is up, and keeps it running until the run is
  // over (no process left, or the end time reached). False when a limit
  // stopped it or the program could not start (last error set).
  bool Loop(bool bootFirst, const RunProgram* program = nullptr);
  // Whether the device must boot before it runs (a spent reset budget left
  // it off).
  bool DeviceDown();

 private:
  // ---- the report ----
  void Line(const std::string& s) {
    rep_->lines.push_back(s);
    if (opt_.onLine) opt_.onLine(s);
  }
  // A line of something that happened on the device, after its device time.
  void Event(int64_t deviceMs, const std::string& s);
  void Event(const std::string& s);
  std::string BootTag() const { return rep_->boots ? "boot " + std::to_string(rep_->boots) + ": " : ""; }
  std::string Describe(const proc::Row& r) const {
    return "pid " + std::to_string(r.pid) + " " + U8(r.path) + " \"" + U8(r.cmdLine) + "\"";
  }

  // ---- the boot (boot.cpp) ----
  bool ResetPending() const { return !PendingResets().empty(); }
  // Ends every device process; why goes to the report of those it ends.
  void EndAll(const std::string& why);
  Outcome Boot();
  void ApplyHiveReplacements();
  // Rolls back what the reset left mid-write and ends the old mounts.
  void RecoverDatabases();
  void MountSystemVolumes();
  void CheckHives();
  bool ReadLaunchList(std::map<DWORD, LaunchEntry>* entries);
  Outcome RunLaunchList();
  Outcome WaitForLaunch(DWORD dep, DWORD waiter, const std::map<DWORD, LaunchEntry>& entries);
  // Sets the shell's events ("SYSTEM/GweApiSetReady", "SYSTEM/ShellAPIReady"),
  // held by the device until the next boot.
  void RaiseShellEvents();
  void RunStartupFolder();
  void CollectExitCodes();
  void NoteWhatEndedThem();
  void NoteResetVictims(const std::string& why) {
    for (int64_t pid : boot::ResetVictims(dev_)) endedBy_.emplace(static_cast<DWORD>(pid), why);
  }
  // Names the programs the run waits for that were running before it.
  void NameLeftovers();
  int64_t RowOf(const proc::Row& r);
  // True when every process this run started has ended (a program records
  // its exit code a moment before it is gone).
  bool AllEnded() const;
  int64_t LastRow();
  void AddOtherProcesses();
  void SetDown(bool down);

  // ---- the run on the device clock (device_run.cpp) ----
  // The state of the device (power, wake-ups, notifications, idle-off) and
  // the report of processes; false when the start limit stops the run.
  bool DeviceStep();
  // Moves the clock when every device process waits.
  void DriveClock();
  // Whether the run is over (and says why).
  bool RunIsOver();
  // Sleeps until a process publishes a wait or a short while passes.
  void Pause();
  // Lets the programs still running at the end go on without this kernel.
  void LeaveRunning();
  // The programs' output: started programs write to DIR/console.log, which
  // the kernel passes on to its own stdout while it runs.
  void OpenConsole();
  void RelayConsole();
  void ReportProcesses();
  bool StartLimitReached();
  void WakeUpStep();
  // Whether every program the active wake-up started has ended.
  bool WakeUpProgramsEnded() const;
  void TimedNotificationStep();
  void IdleOffStep();
  // The kernel's own next deadline: a notification, idle-off, the end of
  // a wake-up's wait (clock::kNoDeadline: none).
  int64_t KernelDeadline();
  bool Ended(DWORD pid) const;

  // NotificationKernelPort
  bool StartProgram(std::u16string_view program, std::u16string_view commandLine, const std::string& origin,
                    DWORD* pid) override;
  void Report(const std::string& line) override { Event(line); }

  Device* dev_;
  const BootOptions& opt_;
  BootReport* rep_;
  Clock::time_point deadline_;
  std::vector<HANDLE> handles_;  // parallel to rep_->started
  int lockFd_ = -1;
  int64_t firstRow_ = 0;              // process table rows after this one belong to the run
  std::vector<int64_t> bootRows_;     // the last table row when each boot began
  std::map<DWORD, std::string> endedBy_;  // pid -> what the run ended it for

  // Launch list state of the current boot.
  std::set<DWORD> done_;                // signalled, resident, or given up on
  std::map<DWORD, size_t> launched_;    // launch number -> index in started
  std::map<DWORD, Clock::time_point> launchTime_;

  // The device's state during the run.
  int64_t reportedRow_ = 0;             // process table rows up to here were reported started
  std::set<int64_t> reportedEnded_;     // rows reported ended
  std::vector<int64_t> earlierRows_;    // rows of processes running from before the run
  int pendingWakeUps_ = 0;
  struct WakeUp {
    bool active = false;
    int64_t untilMs = 0;  // waits for its programs until then
    std::vector<DWORD> pids;
  } wake_;
  int consoleWrite_ = -1, consoleRead_ = -1;
  std::unique_ptr<clock::Driver> driver_;
};

}  // namespace ce::boot
