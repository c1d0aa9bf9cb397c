// The post-boot popup's fixed names and numbers: its window, the bubble it
// shows, the message file's limits, the events it waits for and what it
// registers and starts. Data only.
#pragma once

#include "ce/com.h"
#include "ce/types.h"

namespace halvey {

// The window: class, title (the product name and our caption), icon.
inline constexpr WCHAR kWindowClass[] = u"HALVEY";
inline constexpr WCHAR kWindowTitle[] = u"Quilmo Backup - Last backup or restore";
inline constexpr UINT kIconId = 101;

// Commands: the bubble's buttons and OK.
inline constexpr UINT kCommandViewReport = 123;
inline constexpr UINT kCommandDismiss = 124;
inline constexpr UINT kCommandOk = 1;

// The turn-off timer.
inline constexpr UINT_PTR kTurnOffTimer = 100;
inline constexpr UINT kTurnOffDelayMs = 5000;

// Command-line switches.
inline constexpr WCHAR kSwitchRestore[] = u"/restore";
inline constexpr WCHAR kSwitchTurnOff[] = u"/turnOff";

// The message file: at most this many bytes are read (UTF-16, so at most
// half as many characters).
inline constexpr DWORD kMaxMessageBytes = 520;

// The bubble: its record's numbers and the texts of its buttons.
inline constexpr DWORD kBubblePriority = 0x1B1;  // the informational bubble
inline constexpr DWORD kBubbleDurationSeconds = 86400;
inline constexpr DWORD kBubbleFlags = 10;
inline constexpr UINT kStrViewReportButton = 65169;
inline constexpr UINT kStrDismissButton = 57702;
// Filled with the message text, then the two button texts.
inline constexpr WCHAR kBubbleHtmlFormat[] =
    u"<html><body>%s.<br><form method=\"POST\" action=> <p align=right>"
    u"<input type=button name='cmd:123'value='%s'><input type=button name='cmd:124'value='%s'></p></body></html>";
// The popup's own bubble class, with the identifier naming one bubble.
inline constexpr CLSID kBubbleClass = {0x5D2C4A71, 0x3B9E, 0x4F1A, {0x9C, 0x42, 0x61, 0x0E, 0x7B, 0xA3, 0x15, 0xD8}};
// The shell's notification code for a tap on a link or button.
inline constexpr int kBubbleLinkSelected = -1000;
inline constexpr LRESULT kBubbleAnswer = 2;

// Waited for, each only when it exists, then kSettleMs more.
inline constexpr const WCHAR* kReadyEvents[] = {u"SYSTEM/GweApiSetReady", u"SYSTEM/ShellAPIReady",
                                                u"Lissent/SystemInitComplete"};
inline constexpr DWORD kSettleMs = 20000;

// Kiosk restart after a restore: the program beside the popup (the options
// file beside it is core/DeployOptionsFormat.h's), and the text registered
// for the end of a restore.
inline constexpr WCHAR kMainProgramName[] = u"Quilmo Backup.exe";
inline constexpr WCHAR kRunAfterRestore[] = u"AppRunAfterRestore";
inline constexpr LONG kRestoreEndEvent = 10;

}  // namespace halvey
