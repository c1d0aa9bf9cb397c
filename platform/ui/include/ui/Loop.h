// How waiting loops (modal dialogs, message boxes, GetMessage, the pumps of
// long work) behave when nothing is queued and no timer is due.
//
// Modes (ui::InitFromEnvironment picks one from QUILMO_UI / QUILMO_UI_SCRIPT):
//   headless  (default) message boxes go to the device's headless service
//             (screen log, scripted answers); an idle loop asks the idle
//             driver, else jumps the device clock to the next timer, else
//             stalls: the stall handler is told and the innermost modal
//             loop ends with IDCANCEL (never a hang).
//   script    as headless, with the steps of a UI script file as the driver.
//   screen    real time: loops sleep until input (posted by the screen
//             front end) or the next timer; message boxes are windows.
#pragma once

#include <functional>
#include <string>

#include "ce/types.h"

namespace ui {

enum class Mode { Headless, Script, Screen };
Mode GetMode();
void SetMode(Mode mode);

// Called by an idle loop; returns true when it did something (changed a
// control, posted input, ended a dialog ...). Empty: no driver.
using IdleDriver = std::function<bool()>;
void SetIdleDriver(IdleDriver driver);
IdleDriver GetIdleDriver();

// Told when a loop can make no progress (no driver step, no timer).
using StallHandler = std::function<void(const std::string& what)>;
void SetStallHandler(StallHandler handler);
StallHandler GetStallHandler();

// Reads QUILMO_UI ("headless", "screen") and QUILMO_UI_SCRIPT (host path of a
// UI script file) and installs the mode; false with a message on stderr
// when the script cannot be read.
bool InitFromEnvironment();

// While at least one WorkInProgress lives (in any thread), headless and
// script loops do not jump the clock or stall: they wait in real time for
// a message or the next timer, as in screen mode (a worker thread that
// posts its progress keeps the dialog showing it alive). Make it before
// starting the worker and drop it when the worker is done.
class WorkInProgress {
 public:
  WorkInProgress();
  ~WorkInProgress();
  WorkInProgress(const WorkInProgress&) = delete;
  WorkInProgress& operator=(const WorkInProgress&) = delete;
};

// ---- loops (every one of them idles as described above) ----
// Runs a modal loop for an own window until EndDialog(hwnd, result) and
// returns the result; IDCANCEL when the headless loop stalls, 0 when the
// window is destroyed first. A WM_QUIT ends the loop and is posted again.
// Each message goes to CallMsgFilterW(MSGF_DIALOGBOX), then
// IsDialogMessageW(hwnd), then DispatchMessageW.
INT_PTR RunModalLoop(HWND hwnd);
// How many modal loops are running (nested).
int ModalDepth();
// Handles every message queued now (for handlers that work long and must
// keep the windows alive); false when WM_QUIT arrived (posted again).
bool PumpMessages();
// The program's main loop: GetMessageW/IsDialogMessage of the active
// dialog/DispatchMessageW until WM_QUIT; returns its exit code.
int RunMessageLoop();
// One idle step (what a loop does when nothing is queued): the screen
// file is brought up to date, then headless/script: driver, else jump the
// device clock to the next timer, else stall (returns false: the stall
// handler was told and the innermost modal loop ends with IDCANCEL);
// screen: waits for input or the next timer (at most maxWaitMs).
bool Idle(int maxWaitMs = 1000);

}  // namespace ui
