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

namespace ui {

enum class Mode { Headless, Script, Screen };
Mode GetMode();
void SetMode(Mode mode);

// Called by an idle loop; returns true when it did something (changed a
// control, posted input, ended a dialog ...). Empty: no driver.
using IdleDriver = std::function<bool()>;
void SetIdleDriver(IdleDriver driver);

// Told when a loop can make no progress (no driver step, no timer).
using StallHandler = std::function<void(const std::string& what)>;
void SetStallHandler(StallHandler handler);

// Reads QUILMO_UI ("headless", "screen") and QUILMO_UI_SCRIPT (host path of a
// UI script file) and installs the mode; false with a message on stderr
// when the script cannot be read.
bool InitFromEnvironment();

}  // namespace ui
