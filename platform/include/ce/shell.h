// Special folders and shell shortcuts.
//
// A shortcut file holds 8-bit ANSI (Windows-1252) text, no line end:
//   <decimal character count of the target>#<target>
// The target is a program, quoted or bare, optionally followed by one blank
// and the program's raw command line:
//   "\Windows\QuilmoStart.exe" /run "\Program Files\x.exe"
//   QuilmoStart.exe /run "\Windows\Merrow.exe"
#pragma once

#include <string>
#include <string_view>

#include "ce/com.h"  // CLSID
#include "ce/controls.h"  // NMHDR
#include "ce/types.h"
#include "ce/window.h"  // HICON, POINT

#define CSIDL_PROGRAMS 2
#define CSIDL_PERSONAL 5
#define CSIDL_FAVORITES 6
#define CSIDL_STARTUP 7
#define CSIDL_STARTMENU 11
#define CSIDL_WINDOWS 36
#define CSIDL_PROGRAM_FILES 38

// Writes the folder's device path ("\My Documents", "\Windows\StartUp",
// "\Windows\Start Menu", "\Windows\Start Menu\Programs", "\Windows",
// "\Program Files", "\Windows\Favorites") into path (MAX_PATH characters of
// room). With create set, missing folders are made. Other CSIDLs: FALSE
// with ERROR_INVALID_PARAMETER.
BOOL SHGetSpecialFolderPath(HWND owner, LPWSTR path, int csidl, BOOL create);

// Creates the shortcut file. Never overwrites: an existing file fails with
// ERROR_ALREADY_EXISTS (callers delete first). An empty target or one over
// MAX_PATH characters fails with ERROR_INVALID_PARAMETER; file errors pass
// through (ERROR_PATH_NOT_FOUND for a missing folder, ...).
BOOL SHCreateShortcut(LPCWSTR shortcutPath, LPCWSTR target);

// Makes the shell's extra controls available to the program. The window
// layer has every control class built in, so this only reports success.
BOOL SHInitExtraControls();

// ---- opening documents and links ----
#define SEE_MASK_NOCLOSEPROCESS 0x00000040u
#define SEE_MASK_FLAG_NO_UI 0x00000400u
#define ERROR_NO_ASSOCIATION 1155L

struct SHELLEXECUTEINFOW {
  DWORD cbSize;  // sizeof(SHELLEXECUTEINFOW)
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;  // null or "open"
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;  // > 32 on success, else an error number
  LPVOID lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;  // with SEE_MASK_NOCLOSEPROCESS, the started program
};
typedef SHELLEXECUTEINFOW* LPSHELLEXECUTEINFOW;
typedef SHELLEXECUTEINFOW SHELLEXECUTEINFO;

// Opens a file or a link with the verb "open" (or a null verb).
//   - A link ("scheme:..." such as http://, https://, mailto:, or "www."):
//     the device has no browser here; the link is recorded in the screen
//     log (caption "open", the link as text) and the call succeeds.
//   - A program (".exe"): started with lpParameters (CreateProcessW); with
//     SEE_MASK_NOCLOSEPROCESS its process handle is in hProcess.
//   - Anything else: FALSE with ERROR_NO_ASSOCIATION; a missing program
//     fails with CreateProcessW's error.
// FALSE with ERROR_INVALID_PARAMETER for a null record, a wrong cbSize or
// no file; ERROR_NO_ASSOCIATION for another verb. hInstApp tells the
// outcome as the shell does: 33 on success; on failure the error number
// when it is below 32, else 31 (no association).
BOOL ShellExecuteEx(LPSHELLEXECUTEINFOW info);
#define ShellExecuteExW ShellExecuteEx

// ---- the notification bubble ----
// A program shows a bubble (a title and a little HTML) on the screen and
// names a sink window that hears of the user's answer. The HTML is shown
// as plain text; each <input type=button name='cmd:N' value='X'> in it is
// a button X. Pressing one sends the sink WM_NOTIFY with an NMSHN whose
// hdr.code is SHNN_LINKSEL and pszLink "cmd:N" (the sink's answer is
// noted), then WM_COMMAND N, whatever that answer was. A bubble goes away
// when it is removed, when its sink window is destroyed, or when
// csDuration seconds have passed on the device clock (0: it stays). A
// bubble is shown by the process that added it and lives as long as it;
// hwndSink must be a window of that process (or null: nobody hears).
// The bubble's window class (a top-level window of the adding process,
// owned by the sink's top-level window).
inline constexpr const char16_t* kNotificationBubbleClass = u"SHNotificationBubble";

typedef DWORD SHNP;
#define SHNP_ICONIC 0u
#define SHNP_INFORM 0x1B1u

#define SHNF_STRAIGHTTOTRAY 0x00000001u
#define SHNF_CRITICAL 0x00000002u
#define SHNF_FORCEMESSAGE 0x00000008u
#define SHNF_DISPLAYON 0x00000010u
#define SHNF_SILENT 0x00000020u

// The codes of the sink's WM_NOTIFY.
#define SHNN_FIRST (0u - 1000u)
#define SHNN_LINKSEL (SHNN_FIRST - 0u)  // a link or button: pszLink names it
#define SHNN_DISMISS (SHNN_FIRST - 1u)  // the bubble went away by itself
#define SHNN_SHOW (SHNN_FIRST - 2u)

// SHNotificationUpdate: which fields of the record to take.
#define SHNUM_PRIORITY 0x0001u
#define SHNUM_DURATION 0x0002u
#define SHNUM_ICON 0x0004u
#define SHNUM_HTML 0x0008u
#define SHNUM_TITLE 0x0010u

struct SHNOTIFICATIONDATA {
  DWORD cbStruct;   // sizeof(SHNOTIFICATIONDATA)
  DWORD dwID;       // with clsid, names the bubble
  SHNP npPriority;  // SHNP_INFORM: shown at once; SHNP_ICONIC: straight to the tray
  DWORD csDuration; // seconds the bubble stays up (0: until removed)
  HICON hicon;
  DWORD grfFlags;   // SHNF_*
  CLSID clsid;
  HWND hwndSink;    // gets WM_NOTIFY and WM_COMMAND
  LPCWSTR pszHTML;
  LPCWSTR pszTitle;
  LPARAM lParam;    // handed back in NMSHN
};
typedef SHNOTIFICATIONDATA* PSHNOTIFICATIONDATA;

struct NMSHN {
  NMHDR hdr;        // hwndFrom: the bubble; idFrom: dwID; code: SHNN_*
  LPARAM lParam;    // the record's lParam
  DWORD dwReturn;
  union {
    LPCWSTR pszLink;  // SHNN_LINKSEL: "cmd:123"
    BOOL fTimeout;    // SHNN_DISMISS: TRUE when its time ran out
    POINT pt;
  };
};
typedef NMSHN* PNMSHN;

// ERROR_SUCCESS, or: ERROR_INVALID_PARAMETER for a null record, a wrong
// cbStruct or a null HTML; ERROR_INVALID_WINDOW_HANDLE for a sink that is
// no window of this process; ERROR_ALREADY_EXISTS when this process shows a
// bubble of that clsid and dwID already; ERROR_NOT_READY without a device.
LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data);
// Changes the fields that mask names (SHNUM_*) of a bubble this process
// shows; ERROR_FILE_NOT_FOUND (2) when there is none.
LRESULT SHNotificationUpdate(DWORD mask, SHNOTIFICATIONDATA* data);
// Takes the bubble down; ERROR_FILE_NOT_FOUND when this process shows
// none of that clsid and dwID.
LRESULT SHNotificationRemove(const CLSID* clsid, DWORD id);

namespace ce {

// Reads a shortcut's target back: the text after the first "#", cut to the
// count before it when the count is valid and smaller. FALSE with
// ERROR_BAD_FORMAT when the file holds no "#"; file errors pass through.
bool ReadShortcutTarget(std::u16string_view shortcutPath, std::u16string* target);

// Splits a target into its program and raw command line. Leading blanks
// are skipped. A program in double quotes ends at the closing quote (or at
// the end of an unclosed quote); a bare one at the first blank. One blank
// after the program is dropped; the rest is the command line as it stands.
// False when the program is empty.
bool SplitShortcutTarget(std::u16string_view target, std::u16string* program, std::u16string* args);

// The device path of a special folder; empty for an unknown CSIDL.
std::u16string SpecialFolderPath(int csidl);

}  // namespace ce
