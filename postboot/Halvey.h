// Halvey, the post-boot popup: run once at the start after a backup or a
// restore, it shows the outcome in a notification bubble whose buttons open
// the report in the report viewer or dismiss it. With "/turnOff" it puts
// the device to sleep 5 s after the bubble appeared; in kiosk mode it shows
// nothing, keeps its Startup shortcut and, after a restore, starts the main
// program again once the configured interval has passed.
#pragma once

#include "ce/cstring.h"
#include "ce/window.h"
#include "postboot/HalveyShell.h"

// The program: waits for the shell, reads the command line and the
// message, shows the bubble and runs the message loop. Returns the exit
// code (0 on every early end).
int RunHalvey(LPCWSTR commandLine);

// What the window procedure works with; RunHalvey fills it before the
// window is made.
struct HalveyWindowState {
  CString reportFile;
  HICON icon = nullptr;
};
HalveyWindowState& GetHalveyWindowState();

// The procedure of the "HALVEY" window class.
LRESULT HalveyWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The hidden "HALVEY" window: the class is registered unless a window of
// that class and title exists already. Null when it cannot be made.
HWND CreateHalveyWindow(HINSTANCE instance);

// The bubble around the HTML text, with the next identifier (counted from
// 0 in this process), the window as its sink and the application name as
// its title.
HalveyBubble MakeHalveyBubble(const CString& html, HWND sink, HICON icon, const CString& title);

// Starts the report viewer (the OmbricExeName setting, by name) with the
// report file in double quotes. False when it did not start.
bool StartOmbric(const CString& reportFile);

// The kiosk restart after a restore (nothing outside kiosk mode): reads
// the deploy options beside the program, removes the timed starts of the
// main program there, waits the hours and minutes between deploys and
// starts the main program. True when it started.
bool DeployRestart();

// The wait of DeployRestart: negative numbers (an option that is missing
// reads as -1) count as 0.
DWORD DeployIntervalMs(int hours, int minutes);
