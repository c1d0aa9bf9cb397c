// Sounds. The simulated device has no loudspeaker: a sound that is played
// is recorded in the device's screen log (caption "PlaySound", the sound's
// name as text), nothing more.
#pragma once

#include "ce/types.h"

#define SND_SYNC 0x00000000u
#define SND_ASYNC 0x00000001u
#define SND_NODEFAULT 0x00000002u
#define SND_LOOP 0x00000008u
#define SND_NOSTOP 0x00000010u
#define SND_ALIAS 0x00010000u
#define SND_FILENAME 0x00020000u
#define SND_RESOURCE 0x00040004u

// Plays a sound file, alias or resource (module). A null sound stops what
// plays (TRUE, nothing recorded). FALSE (last error set) when the sound
// cannot be recorded: no device, or an empty name.
BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags);
#define PlaySound PlaySoundW
