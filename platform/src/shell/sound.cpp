// PlaySoundW: recorded in the screen log (ce/sound.h).
#include "ce/sound.h"

#include <string>

#include "ce/errors.h"
#include "cesim/msgbox.h"

BOOL PlaySoundW(LPCWSTR sound, HMODULE, DWORD flags) {
  if (!sound) return TRUE;  // stops what plays: nothing does
  const std::u16string name = (flags & SND_MEMORY) == SND_MEMORY ? u"(a sound in memory)" : std::u16string(sound);
  if (!ce::AddScreenLogEntry(u"sound", name)) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  return TRUE;
}

BOOL MessageBeep(UINT type) {
  const char16_t* kind = u"default";
  switch (type) {
    case 0x10u: kind = u"hand"; break;
    case 0x20u: kind = u"question"; break;
    case 0x30u: kind = u"exclamation"; break;
    case 0x40u: kind = u"asterisk"; break;
    case 0xFFFFFFFFu: kind = u"simple"; break;
    default: break;
  }
  if (!ce::AddScreenLogEntry(u"beep", kind)) {
    SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  return TRUE;
}
