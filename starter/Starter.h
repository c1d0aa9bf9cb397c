// One start of the starter program, from its raw command line to its exit
// code (the program entry is only this call).
#pragma once

#include "ce/types.h"

// Exit codes: kStarterDone whenever the parameters were valid, whatever the
// start's actions achieved; kStarterRefused for invalid parameters, a
// missing or unreadable argument file and a resource library that does not
// load.
inline constexpr int kStarterDone = 0;
inline constexpr int kStarterRefused = 2;

// A command line that is a launch number of the boot list takes the
// starter's boot-list entry out and is replaced by that number's argument
// file; then the line is parsed, the resources loaded, the card folders
// waited for and the action run; a launch number is signalled to the boot
// at the end.
int RunStarter(LPCWSTR commandLine);
