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

#include "ce/types.h"

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
