// The schedule file ("\My Documents\schedule.xml" unless the schedule
// options name another). Data only.
//
//   <schedule>
//     <once   at="H:M" on="Y-M-D" filename="..." [options]/>
//     <daily  at="H:M" filename="..." [options]/>
//     <weekly at="H:M" dayofweek="mon" filename="..." [options]/>
//   </schedule>
//
// Element and attribute names compare with exact case; comments may stand
// among the frequency elements, any other node that is no element may not.
// Options: reset, compress, autoname, stopprocesses, remotemode (each
// "true" in any case, any other text, or absent) and inclusionlist (a path,
// lower-cased).
#pragma once

#include "ce/types.h"

namespace ScheduleFormat {

inline constexpr WCHAR kDefaultPath[] = u"\\My Documents\\schedule.xml";

inline constexpr WCHAR kRootElement[] = u"schedule";

// Frequency elements and the entry kinds they make.
enum ScheduleKind : int {
  kKindOnce = 0,
  kKindDaily = 1,
  kKindWeekly = 2,
};
inline constexpr WCHAR kOnceElement[] = u"once";
inline constexpr WCHAR kDailyElement[] = u"daily";
inline constexpr WCHAR kWeeklyElement[] = u"weekly";

// "H:M": hour and minute, each a decimal number; seconds are 0.
inline constexpr WCHAR kAtAttribute[] = u"at";
inline constexpr WCHAR kTimeSeparator = u':';
// "Y-M-D" (once only).
inline constexpr WCHAR kOnAttribute[] = u"on";
inline constexpr WCHAR kDateSeparator = u'-';
// A day name (weekly only): its first three letters, lower-cased, against
// kDayNames; day 1 (Monday) .. 7 (Sunday); any other text is day 1.
inline constexpr WCHAR kDayOfWeekAttribute[] = u"dayofweek";
inline constexpr const WCHAR* kDayNames[7] = {u"mon", u"tue", u"wed", u"thu", u"fri", u"sat", u"sun"};
inline constexpr int kDayNameLength = 3;
inline constexpr WCHAR kFileNameAttribute[] = u"filename";

inline constexpr WCHAR kResetAttribute[] = u"reset";
inline constexpr WCHAR kCompressAttribute[] = u"compress";
inline constexpr WCHAR kAutoNameAttribute[] = u"autoname";
inline constexpr WCHAR kStopProcessesAttribute[] = u"stopprocesses";
inline constexpr WCHAR kRemoteModeAttribute[] = u"remotemode";
inline constexpr WCHAR kInclusionListAttribute[] = u"inclusionlist";
// An option's value, lower-cased, equal to this is "on".
inline constexpr WCHAR kTrueText[] = u"true";

// The stored tri-state of an option.
enum OptionState : DWORD {
  kOptionTrue = 0,    // the value is "true"
  kOptionOther = 1,   // any other value
  kOptionAbsent = 2,  // no such attribute
};

}  // namespace ScheduleFormat
