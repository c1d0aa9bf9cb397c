// The starter program's fixed forms: its argument file, the registry values
// it reads and writes, its card prompt and the start entries it looks for
// on the built-in storage. Data only.
#pragma once

#include "ce/types.h"

namespace StarterFormat {

// A command line that is one unsigned decimal number N (N > 0) is a launch
// number of HKLM "init"; the real command line is then the first line of
// this file (N in place of %d): UTF-16LE, a byte-order mark optional, at
// most kArgumentFileChars characters read, ended by CR LF, LF or the end of
// the file (a final CR LF or LF is dropped). The file is deleted after it
// was read.
inline constexpr WCHAR kArgumentFileFormat[] = u"\\temp\\QuilmoStartArgs%d.txt";
inline constexpr int kArgumentFileChars = 1023;
inline constexpr int kMaxLaunchDigits = 9;

// The splitter's buffer: a command line keeps at most kCommandLineChars - 1
// characters.
inline constexpr int kCommandLineChars = 520;

// Switches (names compared ignoring case) and words (exact case).
inline constexpr WCHAR kRunBackupAppSwitch[] = u"runbackupapp";
inline constexpr WCHAR kRunSwitch[] = u"run";
inline constexpr WCHAR kArgsSwitch[] = u"args";
inline constexpr WCHAR kStartupSwitch[] = u"startup";
inline constexpr WCHAR kCardSwitch[] = u"scard=";  // followed by a folder
inline constexpr int kCardSwitchLength = 6;
inline constexpr WCHAR kBatteryForceCheckWord[] = u"BatteryForceCheck";
inline constexpr WCHAR kScheduledBackupWord[] = u"ScheduledBackup";
inline constexpr WCHAR kAppRunAfterWakeupWord[] = u"AppRunAfterWakeup";
// The main program's keywords the starter hands on.
inline constexpr WCHAR kMerrowAutoBackupWord[] = u"MerrowAutoBackup";

// Registry values (key kinds of core/RegistrySettings.h).
inline constexpr WCHAR kQuilmoCard[] = u"bQuilmoCard";                      // Settings
inline constexpr WCHAR kAutoStartType[] = u"dwAutoStartType";               // Settings
inline constexpr WCHAR kFilterMissedSchedules[] = u"FilterMissedSchedules";  // Settings, minutes
inline constexpr DWORD kDefaultFilterMissedSchedules = 10;
inline constexpr WCHAR kScheduleDelayStartup[] = u"ScheduleDelayStartup";  // Config, seconds
inline constexpr DWORD kDefaultScheduleDelayStartup = 10;
inline constexpr WCHAR kLissentKey[] = u"Lissent";  // Settings subkey
inline constexpr WCHAR kHardReset[] = u"bHardReset";  // absent: a hard reset happened

// The card prompt.
inline constexpr WCHAR kCardWindowClass[] = u"Insert Card";
inline constexpr WCHAR kOtherInstanceMessage[] = u"AutoStartRunning";
inline constexpr int kCardWindowX = 5, kCardWindowY = 100, kCardWindowWidth = 222, kCardWindowHeight = 132;
inline constexpr int kCardTextX = 5, kCardTextY = 5, kCardTextWidth = 210, kCardTextHeight = 50;
inline constexpr int kCardBarX = 5, kCardBarY = 55, kCardBarWidth = 210, kCardBarHeight = 15;
inline constexpr int kCardCancelX = 130, kCardCancelY = 75, kCardCancelWidth = 85, kCardCancelHeight = 20;
inline constexpr int kCardRetryX = 5, kCardRetryY = 75, kCardRetryWidth = 120, kCardRetryHeight = 20;
inline constexpr int kCardCancelId = 2;  // IDCANCEL
inline constexpr int kCardRetryId = 4;   // IDRETRY
inline constexpr int kCardTextId = 1000;
inline constexpr int kCardBarId = 1001;
inline constexpr int kCardTimerId = 1;
inline constexpr int kCardTimerMs = 1000;
inline constexpr int kCardSeconds = 20;
// String ids: caption, text, the cancel and retry buttons.
inline constexpr DWORD kCardCaptionString = 65261;
inline constexpr DWORD kCardTextString = 65262;
inline constexpr DWORD kCardCancelString = 57686;
inline constexpr DWORD kCardRetryString = 65263;

// Boxes.
inline constexpr DWORD kNoCardForScheduleString = 65287;
inline constexpr DWORD kCardTimedOutString = 65297;
inline constexpr DWORD kMissedScheduleString = 65300;

// The path wait.
inline constexpr DWORD kPathPollMs = 100;
inline constexpr DWORD kPathWaitMs = 60000;

// Start entries: an ".exe" directly in a folder named the token followed by
// its kind letter ("S" starts, "A" and "U" are only listed). The token is
// kept XOR kStartEntryTokenKey.
inline constexpr BYTE kStartEntryTokenKey = 0x5A;
inline constexpr BYTE kStartEntryToken[] = {'Q' ^ 0x5A, 'S' ^ 0x5A, 'E' ^ 0x5A, '-' ^ 0x5A};
inline constexpr WCHAR kStartKinds[] = u"SAU";
inline constexpr WCHAR kStartKind = u'S';
inline constexpr WCHAR kExecutableExtension[] = u".exe";

// A card holds the main program in one of its folders under this name
// (compared ignoring case).
inline constexpr WCHAR kMainProgramFileName[] = u"quilmo backup.exe";

}  // namespace StarterFormat
