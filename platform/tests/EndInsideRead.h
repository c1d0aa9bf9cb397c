// A test hook that makes a program end inside one read of the device's
// process table, between the read's snapshot and its look at which
// processes live.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>

#include "cesim/process.h"

namespace quilmo::test {

// The chosen read (counted from Arm) creates the host file `gate`, which
// the starter waits for before it starts a program and ends, and waits for
// the starter to be gone. What the starter started is then missing from
// that read's snapshot. One at a time.
class EndInsideRead {
 public:
  EndInsideRead(std::string gate, int nth) {
    gate_ = std::move(gate);
    pid_ = 0;
    countdown_ = nth;
    ce::SetProcessTableReadHookForTest(&Hook);
  }
  ~EndInsideRead() { ce::SetProcessTableReadHookForTest(nullptr); }
  // The starter to wait for; reads before this are not counted.
  static void Arm(int pid) {
    if (pid_ != 0) return;
    start_ = ce::HostProcessStartTime(pid);
    pid_ = pid;
  }
  static bool Struck() { return countdown_ == 0; }

 private:
  static void Hook() {
    if (pid_ == 0 || countdown_ <= 0 || --countdown_ > 0) return;
    std::ofstream(gate_) << "go";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ce::HostProcessAlive(pid_, start_) && std::chrono::steady_clock::now() < until) usleep(1000);
  }
  static inline std::string gate_;
  static inline std::atomic<int> pid_{0};
  static inline uint64_t start_ = 0;
  static inline int countdown_ = 0;
};

}  // namespace quilmo::test
