// The simulator's record of the soft input panel: every call a program
// made to it, and the flags word.
#pragma once

#include <vector>

#include "ce/sip.h"
#include "ce/types.h"

namespace ce {

// One call to the panel, in order.
struct SipCall {
  enum Kind { kSetInfo, kShowIM, kPreference };
  Kind kind;
  DWORD value;        // flags set / SipShowIM argument / SIPSTATE
  DWORD flagsAfter;   // the flags word after the call
};

// The calls so far and the current flags word.
std::vector<SipCall> SipHistory();
DWORD SipFlags();
// Forgets the calls and sets the flags word (tests).
void ResetSip(DWORD flags = SIPF_DOCKED);

}  // namespace ce
