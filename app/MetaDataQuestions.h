// The questions every restore asks when the image's metadata differs from
// this device and program, shared by the Basic page, the Restore page and the
// command-line restore.
#pragma once

#include "ce/types.h"

struct OperationDescriptor;

// difference is the CheckMetaData word (engine/ImagingTask.h). Another system
// asks whether to go on (unless upgrade mode is already set) and then may
// set op.upgradeMode; another program version asks or refuses; a build
// number alone goes on without a question. The entries name logClass.
// Returns true when the restore may go on.
bool AcceptMetaDataDifference(DWORD difference, OperationDescriptor& op, LPCWSTR logClass);
