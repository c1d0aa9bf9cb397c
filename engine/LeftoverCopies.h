// Boot-time copies that an interrupted operation left behind.
//
// A backup's boot-time copies ("<file>c", made at boot from the volume files,
// the mail volume and the browser's index files) are deleted by the backup
// once stored; a restore's copies are put in place, and deleted, by the
// boot-time action runner. A reset in the middle of either road leaves
// copies that nothing will use again: they take storage, and a later backup
// whose own boot copy failed would store such a stale copy as the file.
// The next operation therefore removes them before it queues its own boot
// copies. A copy that a queued copy-back action still names (in the
// RebootActionsKey, or in this program's queue) is waiting for its boot and
// stays. Log lines carry the class "LeftoverCopies".
#pragma once

#include <vector>

#include "ce/cstring.h"

// Deletes the boot-time copy of each given file (path + "c") that exists
// and no queued copy-back names; returns how many were deleted. A copy that
// cannot be deleted is logged and left.
int RemoveLeftoverBootCopies(const std::vector<CString>& files);

// The same for every file that gets boot-time copies: the device's volume
// files (the mail volume among them) and the browser's index files.
int RemoveLeftoverBootCopies();
