// The report viewer's fixed names and numbers: its own resources, the
// report it shows by default, how it reads a report and its help topic.
// Data only.
#pragma once

#include "ce/types.h"

namespace ombric {

// Ombric's own resource module.
inline constexpr UINT kDialogId = 102;
inline constexpr UINT kEditId = 129;
inline constexpr UINT kStrOpenError = 130;  // "Ombric: Error opening report file"
inline constexpr UINT kIconId = 128;

// Shown when no name is given.
inline constexpr WCHAR kDefaultReportBase[] = u"backupreport";
inline constexpr WCHAR kReportExtension[] = u".txt";

inline constexpr WCHAR kNoHistoryFolderText[] = u"Couldn't find report file";
inline constexpr WCHAR kOpenErrorSeparator[] = u" - ";

// A report is UTF-16 with a byte-order mark, read in blocks of this many
// bytes.
inline constexpr DWORD kByteOrderMarkBytes = 2;
inline constexpr DWORD kReadBlockBytes = 2048;

// Help: "peghelp.exe" <Windows folder><help file>#report
inline constexpr WCHAR kHelpViewer[] = u"peghelp.exe";
inline constexpr WCHAR kHelpTopic[] = u"report";

}  // namespace ombric
