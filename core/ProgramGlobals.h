// Fixed texts of the main program shared by several subsystems: the
// password field's placeholder, the key of the scheduled-backup password,
// the command-line access code and the registry names of the scheduler and
// of the unattended backup. Data only.
#pragma once

#include "ce/types.h"

namespace ProgramGlobals {

// Shown in a password field in place of a stored password (15 characters).
inline constexpr WCHAR kPasswordPlaceholder[] = u"wqvbnlmkhjtgrfc";
// Enciphers the scheduled-backup password into "ScheduledHash" (30
// characters; its UTF-16 bytes are the key material).
inline constexpr WCHAR kScheduledPasswordKey[] = u"k7@p!mq2#x9&vl4$w1^zr8*c3%nt6?";
inline constexpr WCHAR kScheduledHashValue[] = u"ScheduledHash";
// The command line's "Signature" value that lifts the permission checks.
inline constexpr WCHAR kAccessCode[] = u"3E9A7041C2B5F";

}  // namespace ProgramGlobals

// Registry names of the scheduler (subkey "Scheduling" of the product key).
namespace SchedulerNames {
inline constexpr WCHAR kSchedule1[] = u"dwSchedule1";
inline constexpr WCHAR kSchedule2[] = u"dwSchedule2";
inline constexpr WCHAR kSchedulePeriod[] = u"dwSchedulePeriod";
inline constexpr WCHAR kEnable[] = u"dwEnable";
inline constexpr WCHAR kScheduleDefPath[] = u"csScheduleDefPath";
inline constexpr WCHAR kSchedulingKey[] = u"Scheduling";
}  // namespace SchedulerNames

// Registry names of the unattended backup: its four option subkeys and
// their values.
namespace UnattendedNames {
inline constexpr WCHAR kUnattendedKey[] = u"Unattended";
inline constexpr WCHAR kNextScheduleKey[] = u"NextSchedule";
inline constexpr WCHAR kMerrowKey[] = u"Merrow";
inline constexpr WCHAR kCommandLineKey[] = u"CommandLine";
inline constexpr WCHAR kOptions[] = u"dwUnattendedOptions";
inline constexpr WCHAR kFilename[] = u"csUnattendedFilename";
inline constexpr WCHAR kScheduledReset[] = u"bScheduledReset";
inline constexpr WCHAR kInclusionList[] = u"csInclusionList";
inline constexpr WCHAR kRemoteMode[] = u"bRemoteMode";
}  // namespace UnattendedNames
