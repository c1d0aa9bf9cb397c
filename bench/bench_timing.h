// Timing of a benchmark's runs: the thread's CPU seconds (user and system)
// and wall-clock seconds, the best of the runs kept.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>

struct Times {
  double cpu = 1e30;
  double wall = 1e30;
  void Keep(double c, double w) {
    cpu = std::min(cpu, c);
    wall = std::min(wall, w);
  }
};

inline double CpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}
inline double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
// Runs fn (returning bool) and keeps its times; fn's result.
template <class Fn>
bool Measure(Times& times, Fn fn) {
  double c = CpuNow(), w = WallNow();
  bool ok = fn();
  times.Keep(CpuNow() - c, WallNow() - w);
  return ok;
}
