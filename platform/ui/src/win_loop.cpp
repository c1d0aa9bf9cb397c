// Modal loops, the message pumps and the idle step of every loop; the
// modal dialog calls.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/gdi.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/clock.h"
#include "cesim/device.h"
#include "cesim/notification.h"
#include "cesim/window.h"
#include "ui/Loop.h"
#include "gdi_image.h"
#include "win_internal.h"

namespace ui {
namespace {

// Idle steps in a row that only jumped the clock; past either limit the
// loop counts as stalled (a periodic timer must not keep it alive forever).
constexpr int kMaxClockJumps = 10000;
constexpr int64_t kMaxJumpedMs = 24LL * 3600 * 1000;

std::atomic<int> g_workers{0};
// While workers run, the process counts as working for a kernel that
// drives the clock.
std::mutex g_workerHoldLock;
std::unique_ptr<ce::ClockBusy> g_workerHold;

// Waits in real time for input or the next timer, at most maxWaitMs.
void WaitForInput(int maxWaitMs) {
  int64_t wait = std::max(0, maxWaitMs);
  int64_t due;
  if (ce::NextTimerDue(&due)) wait = std::clamp<int64_t>(due - ce::DeviceNowMs(), 0, wait);
  if (wait > 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(wait), QS_ALLINPUT);
}

struct ModalRecord {
  HWND hwnd = nullptr;
  bool stalled = false;
};

struct LoopState {
  std::recursive_mutex m;
  std::vector<ModalRecord*> modal;  // innermost last
  int jumps = 0;
  int64_t jumpedMs = 0;
};
LoopState& Loops() {
  static LoopState* s = new LoopState;
  return *s;
}

void Stall(const std::string& what) {
  if (StallHandler h = GetStallHandler()) {
    h(what);
  } else {
    std::fprintf(stderr, "quilmo ui: %s\n", what.c_str());
  }
  std::lock_guard<std::recursive_mutex> g(Loops().m);
  if (!Loops().modal.empty()) Loops().modal.back()->stalled = true;
}

bool IsDialogWindow(HWND h) {
  WCHAR cls[8];
  return h && GetClassNameW(h, cls, 8) == 6 && std::u16string(cls) == u"#32770";
}

HWND TopLevel(HWND h) {
  while (h && (GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) h = GetParent(h);
  return h;
}

}  // namespace

namespace detail {

void EnsureInstalled() {
  static std::once_flag once;
  std::call_once(once, [] {
    ce::SetIdleHandler([] { return Idle() ? ce::IdleResult::kProgress : ce::IdleResult::kQuit; });
    ce::SetPaintDcHooks({&GetDC, &ReleaseDC, &GetTextColor});
    gdi::InstallDrawingMetrics();
  });
}

namespace {
// Installed as soon as a program links the loops.
struct Installer {
  Installer() { EnsureInstalled(); }
} g_installer;
}  // namespace

}  // namespace detail

bool Idle(int maxWaitMs) {
  detail::EnsureInstalled();
  detail::UpdateScreenFile();
  ce::Device* d = ce::Device::Current();
  if (GetMode() == Mode::Screen) {
    WaitForInput(maxWaitMs);
    return true;
  }
  LoopState& L = Loops();
  if (IdleDriver driver = GetIdleDriver()) {  // a copy: a step may open a nested loop
    if (driver()) {
      std::lock_guard<std::recursive_mutex> g(L.m);
      L.jumps = 0;
      L.jumpedMs = 0;
      return true;
    }
  }
  if (g_workers.load() > 0) {
    WaitForInput(std::min(maxWaitMs, 100));
    return true;
  }
  int64_t due;
  if (d && ce::NextTimerDue(&due)) {
    std::unique_lock<std::recursive_mutex> g(L.m);
    int64_t step = std::max<int64_t>(0, due - ce::DeviceNowMs());
    if (++L.jumps <= kMaxClockJumps && (L.jumpedMs += step) <= kMaxJumpedMs) {
      if (ce::DeviceClockEverDriven()) {
        // The device's kernel moves the clock: wait for the timer (or a
        // message) in the layer, where a running kernel sees the wait.
        g.unlock();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ce::DeviceClockDriven() ? INFINITE : static_cast<DWORD>(
                                                         std::clamp<int64_t>(step, 0, std::max(0, maxWaitMs))),
                                  QS_ALLINPUT);
        return true;
      }
      if (step > 0) d->SetClockOffsetMs(d->ClockOffsetMs() + step);
      return true;
    }
    L.jumps = 0;
    L.jumpedMs = 0;
    g.unlock();
    Stall("no progress: only timers keep firing");
    return false;
  }
  // A bubble nobody answers is the usual cause in a headless run: say so.
  Stall(ce::OwnNotificationBubbles().empty()
            ? "no progress: nothing queued, no timer, no driver step"
            : "no progress: a notification bubble waits for an answer, nothing queued, no timer, no driver step");
  return false;
}

WorkInProgress::WorkInProgress() {
  std::lock_guard<std::mutex> g(g_workerHoldLock);
  if (g_workers++ == 0) g_workerHold = std::make_unique<ce::ClockBusy>();
}
WorkInProgress::~WorkInProgress() {
  std::lock_guard<std::mutex> g(g_workerHoldLock);
  if (--g_workers == 0) g_workerHold.reset();
}

int ModalDepth() {
  std::lock_guard<std::recursive_mutex> g(Loops().m);
  return static_cast<int>(Loops().modal.size());
}

INT_PTR RunModalLoop(HWND hwnd) {
  detail::EnsureInstalled();
  ModalRecord rec{hwnd};
  {
    std::lock_guard<std::recursive_mutex> g(Loops().m);
    Loops().modal.push_back(&rec);
    Loops().jumps = 0;  // each loop gets its own allowance of clock jumps
    Loops().jumpedMs = 0;
  }
  ce::SetDialogModal(hwnd, true);
  INT_PTR result = 0;
  for (;;) {
    if (ce::DialogEndRequested(hwnd, &result)) break;
    if (rec.stalled) {
      result = IDCANCEL;
      break;
    }
    if (!IsWindow(hwnd)) {
      result = 0;
      break;
    }
    MSG m;
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(m.wParam));  // for the outer loop
        result = IDCANCEL;
        break;
      }
      if (CallMsgFilterW(&m, MSGF_DIALOGBOX)) continue;
      if (!IsDialogMessageW(hwnd, &m)) DispatchMessageW(&m);
      continue;
    }
    Idle();
  }
  ce::SetDialogModal(hwnd, false);
  {
    std::lock_guard<std::recursive_mutex> g(Loops().m);
    std::erase(Loops().modal, &rec);
  }
  return result;
}

bool PumpMessages() {
  detail::EnsureInstalled();
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
      return false;
    }
    HWND active = GetActiveWindow();
    if (IsDialogWindow(active) && IsDialogMessageW(active, &m)) continue;
    DispatchMessageW(&m);
  }
  detail::UpdateScreenFile();
  return true;
}

int RunMessageLoop() {
  detail::EnsureInstalled();
  MSG m;
  for (;;) {
    BOOL r = GetMessageW(&m, nullptr, 0, 0);
    if (r == 0) {
      detail::UpdateScreenFile();
      return static_cast<int>(m.wParam);
    }
    if (r == -1) return -1;
    HWND active = GetActiveWindow();
    if (IsDialogWindow(active) && IsDialogMessageW(active, &m)) continue;
    DispatchMessageW(&m);
  }
}

}  // namespace ui

// ------------------------------------------------------------ the modal dialog calls

INT_PTR DialogBoxIndirectParamW(HINSTANCE module, const ce::DialogTemplate* dialog, HWND parent, DLGPROC proc,
                                LPARAM param) {
  ui::detail::EnsureInstalled();
  if (!dialog) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  ce::DialogTemplate t = *dialog;
  t.style &= ~(WS_CHILD | WS_VISIBLE);  // top-level; shown once initialised
  HWND owner = ui::TopLevel(parent);
  HWND dlg = CreateDialogIndirectParamW(module, &t, owner, proc, param);
  if (!dlg) return -1;
  const bool disableOwner = owner && IsWindowEnabled(owner);
  if (disableOwner) EnableWindow(owner, FALSE);
  if (!ce::DialogEndRequested(dlg, nullptr)) ShowWindow(dlg, SW_SHOW);
  INT_PTR result = ui::RunModalLoop(dlg);
  if (disableOwner) EnableWindow(owner, TRUE);
  if (owner && IsWindowVisible(owner)) SetActiveWindow(owner);
  // The focus leaves the dialog while it still exists, so its controls
  // report losing it (EN_KILLFOCUS ...) as they do on the device.
  HWND focus = GetFocus();
  if (focus && IsWindow(dlg) && (focus == dlg || IsChild(dlg, focus)))
    SetFocus(owner && IsWindowVisible(owner) ? owner : nullptr);
  if (IsWindow(dlg)) DestroyWindow(dlg);
  ui::detail::UpdateScreenFile();
  return result;
}

INT_PTR DialogBoxParamW(HINSTANCE module, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM param) {
  ce::DialogTemplate t;
  if (!ce::LoadDialogTemplate(module, templateName, &t)) return -1;
  return DialogBoxIndirectParamW(module, &t, parent, proc, param);
}
