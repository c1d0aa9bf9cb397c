// ui::test::Automation: steps run by idle loops, expected message boxes,
// stalls and unexpected dialogs recorded as failures.
#include <algorithm>
#include <mutex>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/clock.h"
#include "cesim/device.h"
#include "cesim/msgbox.h"
#include "cesim/notification.h"
#include "cesim/window.h"
#include "ui/Automation.h"
#include "ui/Loop.h"

namespace ui::test {
namespace {

// Device time a step may wait while the clock keeps jumping to timers.
constexpr int64_t kMaxWaitMs = 60 * 60 * 1000;

enum class StepKind { Dialog, InDialog, Do, Box, BoxText, Advance, Bubble };

struct Step {
  StepKind kind = StepKind::Do;
  int templateId = 0;
  Automation::DialogAction action;
  std::function<void(Automation&)> fn;
  DWORD stringId = 0;
  std::u16string text;
  int answer = 0;
  int64_t ms = 0;
  std::string label;
};

std::string Describe(const Step& st) {
  switch (st.kind) {
    case StepKind::Dialog:
      return "dialog " + std::to_string(st.templateId);
    case StepKind::InDialog:
      return "dialog action";
    case StepKind::Do:
      return "action";
    case StepKind::Box:
      return "box " + std::to_string(st.stringId);
    case StepKind::BoxText:
      return "box \"" + ce::ToUtf8(st.text) + "\"";
    case StepKind::Advance:
      return "advance " + std::to_string(st.ms);
    case StepKind::Bubble:
      return "bubble " + std::to_string(st.answer);
  }
  return "step";
}

// Whether a bubble of this process has the button of that command.
bool BubbleHas(int command) {
  for (const ce::NotificationBubble& b : ce::OwnNotificationBubbles())
    for (const auto& [cmd, label] : b.buttons)
      if (cmd == command) return true;
  return false;
}

bool IsDialogWindow(HWND h) {
  WCHAR cls[16] = {};
  int n = GetClassNameW(h, cls, 16);
  return n > 0 && std::u16string_view(cls, n) == u"#32770";
}

bool OwnVisibleDialog(HWND h) {
  if (!h || !IsWindow(h) || !IsWindowVisible(h) || !IsDialogWindow(h)) return false;
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  return pid == GetCurrentProcessId();
}

// The active dialog of this process: the active window when it is one,
// else the newest visible dialog of this process.
HWND ActiveDialog() {
  HWND a = GetActiveWindow();
  if (OwnVisibleDialog(a)) return a;
  HWND found = nullptr;
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        if (!OwnVisibleDialog(h)) return TRUE;
        *reinterpret_cast<HWND*>(p) = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The dialog made from templateId among the active dialog and its
// visible child dialogs (property pages); null for none.
HWND MatchDialog(HWND top, int templateId) {
  if (!top) return nullptr;
  if (ce::GetDialogTemplateId(top) == templateId) return top;
  struct Search {
    int id;
    HWND found = nullptr;
  } s{templateId};
  EnumChildWindows(
      top,
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (!IsWindowVisible(h) || !IsDialogWindow(h) || ce::GetDialogTemplateId(h) != s->id) return TRUE;
        s->found = h;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

bool MoveClockTo(int64_t targetMs) {
  ce::Device* dev = ce::Device::Current();
  if (!dev) return false;
  if (ce::DeviceClockEverDriven()) {
    // The device's kernel moves the clock: wait until it gets there.
    const int64_t left = targetMs - ce::DeviceNowMs();
    if (left > 0) Sleep(static_cast<DWORD>(std::min<int64_t>(left, INFINITE - 1)));
    return true;
  }
  return dev->Transaction([&] {
    int64_t now = ce::DeviceNowMs();
    return targetMs <= now || dev->SetClockOffsetMs(dev->ClockOffsetMs() + (targetMs - now));
  });
}

std::string Quote(const std::u16string& s) {
  std::string u = ce::ToUtf8(s);
  if (u.size() > 80) u = u.substr(0, 77) + "...";
  return "\"" + u + "\"";
}

}  // namespace

struct Automation::State {
  std::recursive_mutex m;
  Automation* self = nullptr;
  std::vector<Step> steps;
  size_t next = 0;
  std::vector<std::string> failures;
  std::vector<ShownBox> boxes;
  std::function<void(const std::string&)> onFailure;
  bool stopOnFailure = false;
  bool stopped = false;
  HWND current = nullptr;          // the dialog the last OnDialog matched
  std::vector<std::string> running;  // labels of the actions running (nested)
  bool advancing = false;
  int64_t advanceTarget = 0;
  size_t waitStep = SIZE_MAX;  // the step waiting since waitStartMs
  int64_t waitStartMs = 0;
  HWND cancelled = nullptr;  // unexpected dialog sent IDCANCEL
  int cancelTries = 0;
  std::function<void(size_t)> onProgress;
  size_t toldUsed = 0;  // the count of used steps last told to onProgress
  IdleDriver prevDriver;
  StallHandler prevStall;
  ce::MessageBoxService prevBoxes;

  std::string CurrentLabel() {
    if (!running.empty()) return running.back();
    if (next < steps.size() && !stopped) return steps[next].label;
    if (steps.empty()) return "automation";
    return "after " + steps.back().label;
  }

  void Fail(const std::string& reason, const std::string& label) {
    std::function<void(const std::string&)> cb;
    std::string text = label + ": " + reason;
    {
      std::lock_guard<std::recursive_mutex> g(m);
      failures.push_back(text);
      if (stopOnFailure) stopped = true;
      cb = onFailure;
    }
    if (cb) cb(text);
  }
  void Fail(const std::string& reason) {
    std::string label;
    {
      std::lock_guard<std::recursive_mutex> g(m);
      label = CurrentLabel();
    }
    Fail(reason, label);
  }

  // Tells onProgress when more steps are used than it was last told.
  void TellProgress() {
    std::function<void(size_t)> cb;
    size_t used = 0;
    {
      std::lock_guard<std::recursive_mutex> g(m);
      if (next == toldUsed || !onProgress) return;
      used = toldUsed = next;
      cb = onProgress;
    }
    cb(used);
  }

  // Runs fn with `label` as the label of failures it records. The step
  // that runs is used already: progress is told before the action (which
  // may never return, when it resets the device).
  template <class Fn>
  void RunAs(const std::string& label, Fn&& fn) {
    {
      std::lock_guard<std::recursive_mutex> g(m);
      running.push_back(label);
    }
    TellProgress();
    fn();
    std::lock_guard<std::recursive_mutex> g(m);
    running.pop_back();
  }

  Dialog MakeDialog(HWND h, std::shared_ptr<State> keep) {
    return Dialog(h, [keep](const std::string& r) { keep->Fail(r); });
  }

  // Cancels an active dialog nobody expects: WM_COMMAND IDCANCEL first,
  // EndDialog when that did not close it.
  bool CancelUnexpected(HWND dlg, const std::string& why) {
    if (!dlg) return false;
    bool first = false;
    {
      std::lock_guard<std::recursive_mutex> g(m);
      if (cancelled != dlg) {
        cancelled = dlg;
        cancelTries = 0;
        first = !stopped;  // after a stop the failure is told already
      }
      ++cancelTries;
    }
    if (first) Fail(why + " dialog " + std::to_string(ce::GetDialogTemplateId(dlg)) + " (cancelled)");
    if (cancelTries == 1) {
      PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      return true;
    }
    if (cancelTries == 2) {
      EndDialog(dlg, IDCANCEL);
      return true;
    }
    return false;  // the loop's stall handling ends it
  }

  // A step that waits: false lets the loop run timers or stall; after an
  // hour of device time the step fails and the active dialog is cancelled.
  bool Wait(size_t index) {
    int64_t now = ce::DeviceNowMs();
    std::string label;
    {
      std::lock_guard<std::recursive_mutex> g(m);
      if (waitStep != index) {
        waitStep = index;
        waitStartMs = now;
        return false;
      }
      if (now - waitStartMs <= kMaxWaitMs) return false;
      label = steps[index].label;
      if (next == index) ++next;
    }
    Fail("waited more than an hour of device time", label);
    CancelUnexpected(ActiveDialog(), "gave up waiting in");
    return true;
  }

  bool Idle(const std::shared_ptr<State>& keep) {
    std::unique_lock<std::recursive_mutex> g(m);
    if (stopped || next >= steps.size()) {
      g.unlock();
      return CancelUnexpected(ActiveDialog(), "unexpected");
    }
    const size_t index = next;
    Step st = steps[index];
    switch (st.kind) {
      case StepKind::Dialog: {
        g.unlock();
        HWND dlg = MatchDialog(ActiveDialog(), st.templateId);
        if (!dlg) return Wait(index);
        g.lock();
        current = dlg;
        next = index + 1;
        g.unlock();
        if (st.action) {
          Dialog d = MakeDialog(dlg, keep);
          RunAs(st.label, [&] { st.action(d); });
        }
        return true;
      }
      case StepKind::InDialog: {
        next = index + 1;
        HWND dlg = current;
        g.unlock();
        if (!dlg || !IsWindow(dlg)) {
          Fail("the dialog is gone", st.label);
          return true;
        }
        Dialog d = MakeDialog(dlg, keep);
        RunAs(st.label, [&] { st.action(d); });
        return true;
      }
      case StepKind::Do:
        next = index + 1;
        g.unlock();
        if (self) RunAs(st.label, [&] { st.fn(*self); });
        return true;
      case StepKind::Box:
      case StepKind::BoxText:
        g.unlock();
        return Wait(index);  // the box comes through the service
      case StepKind::Bubble: {
        g.unlock();
        if (!BubbleHas(st.answer)) return Wait(index);
        g.lock();
        next = index + 1;
        g.unlock();
        RunAs(st.label, [&] {
          if (!ce::PressNotificationButton(st.answer))
            Fail("the bubble's button " + std::to_string(st.answer) + " could not be pressed");
        });
        return true;
      }
      case StepKind::Advance: {
        int64_t now = ce::DeviceNowMs();
        if (!advancing) {
          advancing = true;
          advanceTarget = now + st.ms;
        }
        int64_t to = advanceTarget;
        int64_t due = 0;
        if (ce::NextTimerDue(&due) && due < to) {
          // A timer that fell due while real time passed fires first; moving
          // the clock past it would merge its ticks.
          if (due <= now) return true;
          to = due;
        }
        if (to >= advanceTarget) {
          advancing = false;
          next = index + 1;
        }
        if (!MoveClockTo(to)) {
          advancing = false;  // give the step up rather than retry forever
          next = index + 1;
          g.unlock();
          Fail("could not move the device clock", st.label);
        }
        return true;
      }
    }
    return false;
  }

  int Box(const ce::MessageBoxRequest& r) {
    ShownBox shown;
    shown.request = r;
    shown.answer = ce::DefaultMessageBoxAnswer(r.style);
    std::string label;
    std::string failure;
    {
      std::lock_guard<std::recursive_mutex> g(m);
      label = CurrentLabel();
      const Step* st = !stopped && next < steps.size() ? &steps[next] : nullptr;
      bool match = st && ((st->kind == StepKind::Box && st->stringId != 0 && st->stringId == r.stringId) ||
                          (st->kind == StepKind::BoxText &&
                           (r.text.find(st->text) != std::u16string::npos ||
                            r.caption.find(st->text) != std::u16string::npos)));
      if (match) {
        label = st->label;
        std::vector<int> buttons = ce::MessageBoxButtons(r.style);
        if (std::find(buttons.begin(), buttons.end(), st->answer) != buttons.end()) {
          shown.answer = st->answer;
          shown.expected = true;
        } else {
          failure = "answer " + std::to_string(st->answer) + " is not a button of the box " + Quote(r.text);
        }
        ++next;
      } else if (!stopped) {  // after a stop boxes just get their default
        failure = "unexpected message box " + Quote(r.text) +
                  (r.stringId ? " (string " + std::to_string(r.stringId) + ")" : std::string());
      }
      boxes.push_back(shown);
    }
    if (!failure.empty()) Fail(failure, label);
    TellProgress();
    return shown.answer;
  }

  void Stall(const std::string& what) {
    std::string waiting;
    {
      std::lock_guard<std::recursive_mutex> g(m);
      if (stopped) return;  // the failure that stopped the steps is told
      if (next < steps.size()) waiting = " (waiting for " + Describe(steps[next]) + ")";
    }
    Fail("stall: " + what + waiting);
  }
};

Automation::Automation() : s_(std::make_shared<State>()) {
  s_->self = this;
  s_->prevDriver = GetIdleDriver();
  s_->prevStall = GetStallHandler();
  s_->prevBoxes = ce::GetMessageBoxService();
  std::shared_ptr<State> s = s_;
  SetIdleDriver([s] {
    const bool acted = s->Idle(s);
    s->TellProgress();
    return acted;
  });
  SetStallHandler([s](const std::string& what) { s->Stall(what); });
  ce::SetMessageBoxService([s](const ce::MessageBoxRequest& r) { return s->Box(r); });
}

Automation::~Automation() {
  SetIdleDriver(s_->prevDriver);
  SetStallHandler(s_->prevStall);
  ce::SetMessageBoxService(s_->prevBoxes);
  std::lock_guard<std::recursive_mutex> g(s_->m);
  s_->self = nullptr;
}

static Automation& Add(Automation& a, std::shared_ptr<Automation::State>& s, Step st) {
  std::lock_guard<std::recursive_mutex> g(s->m);
  st.label = "step " + std::to_string(s->steps.size() + 1) + " (" + Describe(st) + ")";
  s->steps.push_back(std::move(st));
  return a;
}

Automation& Automation::OnProgress(std::function<void(size_t used)> fn) {
  std::lock_guard<std::recursive_mutex> g(s_->m);
  s_->onProgress = std::move(fn);
  s_->toldUsed = s_->next;
  return *this;
}

Automation& Automation::OnDialog(int templateId, DialogAction action) {
  Step st;
  st.kind = StepKind::Dialog;
  st.templateId = templateId;
  st.action = std::move(action);
  return Add(*this, s_, std::move(st));
}

Automation& Automation::InDialog(DialogAction action) {
  Step st;
  st.kind = StepKind::InDialog;
  st.action = std::move(action);
  return Add(*this, s_, std::move(st));
}

Automation& Automation::Do(std::function<void(Automation&)> fn) {
  Step st;
  st.kind = StepKind::Do;
  st.fn = std::move(fn);
  return Add(*this, s_, std::move(st));
}

Automation& Automation::ExpectBox(DWORD stringId, int answer) {
  Step st;
  st.kind = StepKind::Box;
  st.stringId = stringId;
  st.answer = answer;
  return Add(*this, s_, std::move(st));
}

Automation& Automation::ExpectBoxText(std::u16string textPart, int answer) {
  Step st;
  st.kind = StepKind::BoxText;
  st.text = std::move(textPart);
  st.answer = answer;
  return Add(*this, s_, std::move(st));
}

Automation& Automation::AnswerBubble(int command) {
  Step st;
  st.kind = StepKind::Bubble;
  st.answer = command;
  return Add(*this, s_, std::move(st));
}

Automation& Automation::AdvanceClock(int64_t ms) {
  Step st;
  st.kind = StepKind::Advance;
  st.ms = ms < 0 ? 0 : ms;
  return Add(*this, s_, std::move(st));
}

Automation& Automation::Label(std::string label) {
  std::lock_guard<std::recursive_mutex> g(s_->m);
  if (!s_->steps.empty()) s_->steps.back().label = std::move(label);
  return *this;
}

void Automation::Fail(const std::string& reason) { s_->Fail(reason); }

void Automation::OnFailure(std::function<void(const std::string&)> fn) {
  std::lock_guard<std::recursive_mutex> g(s_->m);
  s_->onFailure = std::move(fn);
}

void Automation::SetStopOnFailure(bool stop) {
  std::lock_guard<std::recursive_mutex> g(s_->m);
  s_->stopOnFailure = stop;
}

const std::vector<std::string>& Automation::Failures() const { return s_->failures; }
const std::vector<ShownBox>& Automation::Boxes() const { return s_->boxes; }

bool Automation::Done() const {
  std::lock_guard<std::recursive_mutex> g(s_->m);
  return s_->next >= s_->steps.size();
}

std::vector<std::string> Automation::Remaining() const {
  std::lock_guard<std::recursive_mutex> g(s_->m);
  std::vector<std::string> out;
  for (size_t i = s_->next; i < s_->steps.size(); ++i) out.push_back(s_->steps[i].label);
  return out;
}

}  // namespace ui::test
