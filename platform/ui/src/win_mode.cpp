// The loop mode and its hooks (see ui/Loop.h).
#include <mutex>

#include <memory>

#include "ce/msgbox.h"
#include "cesim/clock.h"
#include "cesim/msgbox.h"
#include "ui/Loop.h"
#include "win_internal.h"

namespace ui {
namespace {
struct ModeState {
  std::mutex m;
  Mode mode = Mode::Headless;
  // Screen mode runs in real time: a kernel never moves the clock under a
  // user who looks at the screen.
  std::unique_ptr<ce::ClockBusy> realTime;
  IdleDriver driver;
  StallHandler stall;
};
ModeState& State() {
  static ModeState s;
  return s;
}
}  // namespace

Mode GetMode() {
  detail::EnsureInstalled();
  std::lock_guard<std::mutex> g(State().m);
  return State().mode;
}

void SetMode(Mode mode) {
  detail::EnsureInstalled();
  Mode old;
  {
    std::lock_guard<std::mutex> g(State().m);
    old = State().mode;
    State().mode = mode;
    if (mode == Mode::Screen && !State().realTime) State().realTime = std::make_unique<ce::ClockBusy>();
    if (mode != Mode::Screen) State().realTime.reset();
  }
  // Screen mode shows boxes as windows; leaving it restores the headless service.
  if (mode == Mode::Screen && old != Mode::Screen) ce::SetMessageBoxService(detail::WindowMessageBox);
  if (mode != Mode::Screen && old == Mode::Screen) ce::SetMessageBoxService({});
}

void SetIdleDriver(IdleDriver driver) {
  std::lock_guard<std::mutex> g(State().m);
  State().driver = std::move(driver);
}
IdleDriver GetIdleDriver() {
  std::lock_guard<std::mutex> g(State().m);
  return State().driver;
}
void SetStallHandler(StallHandler handler) {
  std::lock_guard<std::mutex> g(State().m);
  State().stall = std::move(handler);
}
StallHandler GetStallHandler() {
  std::lock_guard<std::mutex> g(State().m);
  return State().stall;
}

}  // namespace ui
