// The loop mode and its hooks (see ui/Loop.h).
#include "ui/Loop.h"

#include <mutex>

namespace ui {
namespace {
struct ModeState {
  std::mutex m;
  Mode mode = Mode::Headless;
  IdleDriver driver;
  StallHandler stall;
};
ModeState& State() {
  static ModeState s;
  return s;
}
}  // namespace

Mode GetMode() {
  std::lock_guard<std::mutex> g(State().m);
  return State().mode;
}
void SetMode(Mode mode) {
  std::lock_guard<std::mutex> g(State().m);
  State().mode = mode;
}
void SetIdleDriver(IdleDriver driver) {
  std::lock_guard<std::mutex> g(State().m);
  State().driver = std::move(driver);
}
void SetStallHandler(StallHandler handler) {
  std::lock_guard<std::mutex> g(State().m);
  State().stall = std::move(handler);
}

}  // namespace ui
