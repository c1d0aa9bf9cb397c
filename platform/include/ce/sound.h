// Sounds. The device has no speaker here: a played sound is recorded in
// the device's screen log (caption "sound", the sound's name as text), and
// nothing more happens.
#pragma once

#include "ce/types.h"

#define SND_SYNC 0x00000000u
#define SND_ASYNC 0x00000001u
#define SND_NODEFAULT 0x00000002u
#define SND_MEMORY 0x00000004u
#define SND_LOOP 0x00000008u
#define SND_NOSTOP 0x00000010u
#define SND_ALIAS 0x00010000u
#define SND_FILENAME 0x00020000u
#define SND_RESOURCE 0x00040004u

// A null sound (a stop request) succeeds and records nothing. SND_MEMORY
// is recorded as "(a sound in memory)". FALSE with ERROR_NOT_READY when the
// screen log cannot be written.
BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags);

// A beep of a message-box kind (MB_OK, MB_ICONHAND, MB_ICONQUESTION,
// MB_ICONEXCLAMATION, MB_ICONASTERISK, or 0xFFFFFFFF for the plain beep):
// recorded in the screen log (caption "beep", the kind as text: "default",
// "hand", "question", "exclamation", "asterisk", "simple"). Other values
// are recorded as "default". FALSE with ERROR_NOT_READY when the screen log
// cannot be written.
BOOL MessageBeep(UINT type);
