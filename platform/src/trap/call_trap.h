// The run's call counter and reset trap (private to the platform; see
// cesim/calltrap.h for what counts and what a strike does).
//
// The kernel arms it for a run: a page in DIR/call-trap.bin that every
// process of the run maps. Programs find it through the environment
// variable below, which CreateProcessW passes on to every program the run
// starts, at any depth; the kernel itself holds the page without the
// variable, so its own calls never count.
#pragma once

#include <optional>
#include <string>

#include "cesim/calltrap.h"
#include "cesim/device.h"

namespace ce::trap {

inline constexpr const char* kTrapEnv = "QUILMO_CALL_TRAP";

// ---- the call sites ----
// Before a counted call: waits while a strike's reset is under way (the
// process is then killed and never returns from here).
void BeforeCall();
// After a counted call that succeeded: counts it and, when it is the
// trap's call, resets the device (does not return then). Keeps the last
// error.
void AfterCall(CallKind kind, const char* call);

// ---- the kernel ----
// Arms the page for a run on d: counting, and the reset when resetAfter is
// given. False when the page cannot be made (the run then goes on
// uncounted).
bool Arm(Device* d, const std::optional<ResetAfter>& resetAfter);
bool Armed();
CallCounts Counts();
// Where the armed trap struck, once it has.
std::optional<TrapStrike> Strike();
// Ends the strike once the reset has ended the device's processes: the
// programs of the next boot make their calls again.
void EndStrike();
// Whether the armed trap has struck.
bool Struck();
// Removes the page; programs still running keep counting into nothing.
void Disarm();

// The value of kTrapEnv for a program this process starts (empty: none).
std::string PathForChildren();

}  // namespace ce::trap
