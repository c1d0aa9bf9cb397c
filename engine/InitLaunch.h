// The platform's boot launch list (HKEY_LOCAL_MACHINE "init"): reading its
// entries and adding a program to it. Forms: engine/RebootActionsFormat.h.
// Log lines carry the class "RebootActions".
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"

// One launch number's entry: its program ("Launch" value; empty when only a
// "Depend" value names the number) and the numbers it waits for.
struct InitLaunchEntry {
  std::u16string program;
  std::set<WORD> waitsFor;
  bool hasDepend = false;  // a "Depend" value exists (possibly empty)
};
using InitLaunchMap = std::map<int, InitLaunchEntry>;

// Fills entries from the values of the open "init" key. Value names
// compare ignoring case; a "Launch" value counts only as REG_SZ, a "Depend"
// value only as REG_BINARY, and the number 0 or below is ignored. Values
// too long for the enumeration buffers are read again with larger ones.
// False (logged "Couldn't enumerate init key.") on any enumeration error
// other than the end of the values.
[[nodiscard]] bool ReadInitKey(HKEY initKey, InitLaunchMap& entries);

// Adds program to the boot launch list as the lowest free number above the
// largest entry whose program is one of afterNames, waiting for every such
// entry. makeLaterWait: every later entry that already waits for something
// waits for the new one too. An entry already naming program (ignoring
// case) is taken out of the list first, so the program never starts twice
// at one boot. launchNumber (may be null) receives the new number. Flushes
// HKEY_LOCAL_MACHINE; false with a log line on failure.
[[nodiscard]] bool SetupInitLaunch(const CString& program, const std::vector<CString>& afterNames,
                     bool makeLaterWait, int* launchNumber);
