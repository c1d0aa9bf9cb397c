// What the scheduling classes share with the starter program and the
// outside programs they start or tell: the programs, the words the
// notifications give the starter, the registry values below the product's
// "Settings" key and the registered window messages. Data only.
#pragma once

#include "ce/types.h"

namespace NotifyFormat {

// Programs.
inline constexpr WCHAR kWindowsFolder[] = u"\\Windows\\";
inline constexpr WCHAR kStarterExe[] = u"QuilmoStart.exe";
inline constexpr WCHAR kMerrowExe[] = u"Merrow.exe";

// The starter's command line of each notification it is registered for.
inline constexpr WCHAR kScheduledBackupWord[] = u"ScheduledBackup";    // timed, the next scheduled time
inline constexpr WCHAR kBatteryForceCheckWord[] = u"BatteryForceCheck";  // timed, the next force check
inline constexpr WCHAR kAppRunAfterWakeupWord[] = u"AppRunAfterWakeup";  // event 11, every wake-up
inline constexpr DWORD kWakeUpEvent = 11;

// The trigger as the classes fill it.
inline constexpr DWORD kTriggerSize = 52;
inline constexpr DWORD kTriggerEvent = 1;
inline constexpr DWORD kTriggerTimed = 2;

}  // namespace NotifyFormat

// Start stamps: "WakeUpService" (each wake-up), "Unattended" (each
// scheduled start, and each start the battery program asks for) and
// "Merrow" (each force check) each hold the local time (GetLocalTime as a
// FILETIME, no time-zone conversion) in two halves.
namespace WakeUpNames {
inline constexpr WCHAR kWakeUpServiceKey[] = u"WakeUpService";
inline constexpr WCHAR kUnattendedKey[] = u"Unattended";
inline constexpr WCHAR kMerrowKey[] = u"Merrow";
inline constexpr WCHAR kStartTimeHigh[] = u"dwStartTimeHigh";
inline constexpr WCHAR kStartTimeLow[] = u"dwStartTimeLow";
// Under "WakeUpService" only: seconds within which a start stamp after the
// wake-up stamp counts as a start the device was woken for.
inline constexpr WCHAR kWakeUpDelta[] = u"dwWakeUpDelta";
inline constexpr DWORD kDefaultWakeUpDelta = 5;
// The shortcut of the outside wake-up service's updates (kept, unused).
inline constexpr WCHAR kUpdateShortcutName[] = u"\\QuilmoUpdate.lnk";
}  // namespace WakeUpNames

// The battery program's key "Merrow", shared with it.
namespace MerrowNames {
inline constexpr WCHAR kKey[] = u"Merrow";
inline constexpr WCHAR kThreshold[] = u"dwBatteryLifeThreshold";
inline constexpr DWORD kDefaultThreshold = 30;
inline constexpr WCHAR kAutoBackup[] = u"bAutoBackup";
inline constexpr WCHAR kEnabled[] = u"bEnabled";
inline constexpr WCHAR kMinutesToWait[] = u"dwMinutesToWaitBeforeForceCheck";
inline constexpr DWORD kDefaultMinutesToWait = 60;
inline constexpr DWORD kMinMinutesToWait = 2;
inline constexpr WCHAR kShortcutName[] = u"\\Merrow.lnk";
// Its Startup shortcut gives it this argument after "/args".
inline constexpr WCHAR kStartUpArgument[] = u"/StartUp";
// Registered window messages, broadcast with wParam 0 and lParam 0.
inline constexpr WCHAR kQuitMessage[] = u"QuilmoMerrowQuit";
inline constexpr WCHAR kUpdateSettingsMessage[] = u"QuilmoMerrowUpdateSettings";
inline constexpr WCHAR kForceCheckMessage[] = u"QuilmoMerrowForceCheck";
// The word it gives the starter after "/args" to ask for a backup.
inline constexpr WCHAR kAutoBackupWord[] = u"MerrowAutoBackup";
}  // namespace MerrowNames
