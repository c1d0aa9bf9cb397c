// The device clock while a kernel drives it (private to the platform).
//
// While a kernel runs the device (cesim/boot.h), device time passes with the
// host's as long as one device process works. A process waits "in the
// layer" when it blocks in a call of the device API (Sleep, a timed wait, a
// message wait, a wait for a process); each such wait publishes this
// process's earliest deadline in device.db (table clock_waits). When every
// live device process waits, the kernel moves the clock to the earliest of
// their deadlines and its own (notifications, idle-off, the end of the run)
// and wakes the processes whose deadline has come.
//
// A wait is published together with the change count (the "epoch") that it
// read before it looked at its condition. Everything that can end another
// process's wait (a message queued or answered, a process ending) raises
// the count in the same transaction, so a published wait that is older than
// the count is not taken as waiting until its process has looked again.
//
// Without a kernel nothing is published and every wait keeps host time.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "cesim/device.h"

namespace ce::clock {

inline constexpr int64_t kNoDeadline = INT64_MAX;
// A waiting process looks at its condition again at least this often (host
// milliseconds), so a wait outlives no change for long.
inline constexpr int kRoundMs = 200;

// Makes the tables; false when device.db cannot be used.
bool EnsureTables(Device* d);

// True while a live kernel drives this device's clock and this process is
// not that kernel.
bool Driven(Device* d);
// True once any kernel has driven this device: its programs never move the
// clock themselves, also between runs.
bool EverDriven(Device* d);

// Raises the change count. Call inside the transaction that makes a change
// that may end another process's wait.
bool NoteChange(Device* d);

// One blocking call of this thread. On a device that a kernel has driven,
// the wait counts on the device clock, in rounds: BeginRound, look at the
// condition, and when it is unmet Publish, then sleep at most RoundMs. On
// any other device the call keeps its host-time wait.
class LayerWait {
 public:
  explicit LayerWait(Device* d);
  ~LayerWait();
  LayerWait(const LayerWait&) = delete;
  LayerWait& operator=(const LayerWait&) = delete;

  // Whether this wait counts on the device clock in rounds.
  bool OnDeviceClock() const { return onDeviceClock_; }
  // Sees whether a kernel drives the clock now and reads the change count;
  // call before looking at the condition.
  void BeginRound();
  // Publishes "this process waits until deadlineMs" (device clock,
  // kNoDeadline for none) while a kernel drives the clock. False when
  // something changed since BeginRound: look at the condition again at
  // once.
  bool Publish(int64_t deadlineMs);
  // How long to sleep this round, in host ms, for a deadline on the device
  // clock (kNoDeadline: up to kRoundMs).
  static int RoundMs(int64_t deadlineMs);

 private:
  Device* d_;
  bool onDeviceClock_ = false;
  bool driven_ = false;  // this round
  int64_t epoch_ = -1;
};

// While one lives, this process counts as working (a thread works beside a
// waiting one, a user looks at the screen): it publishes no wait.
class BusyHold {
 public:
  BusyHold();
  ~BusyHold();
  BusyHold(const BusyHold&) = delete;
  BusyHold& operator=(const BusyHold&) = delete;
};

// ---- the kernel's side ----
class Driver {
 public:
  // Registers this process as the device's clock driver and wakes every
  // live device process, so that waits begun before publish themselves.
  explicit Driver(Device* d);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // True when every live device process waits with no deadline at or before
  // now; *earliest then holds the earliest deadline (kNoDeadline: none).
  // Processes whose published wait is older than the change count are woken
  // to look again.
  bool AllWaiting(int64_t* earliest);
  // Moves the device clock forward to ms (never back) and wakes the
  // processes whose deadline has come.
  bool JumpTo(int64_t ms);
  // Becomes readable when a process publishes a wait (drain with Drain).
  int WakeFd() const { return fd_; }
  void Drain();

 private:
  Device* d_;
  int fd_ = -1;
  std::vector<int> lastLive_;
  // Processes found gone without their end recorded: a read that finds no
  // other began after each of those ends, and so holds what they started.
  std::set<std::pair<int, uint64_t>> seenGone_;  // pid, start time
};

}  // namespace ce::clock
