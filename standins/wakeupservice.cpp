// The wake-up service: a device program outside the product
// ("\Windows\QuilmoWakeUpService.exe") that notes every wake-up of the
// device. Command lines:
//   /register           registers itself to run on the wake-up event
//   /unregister         removes that registration
//   AppRunAfterWakeup   (the wake-up event's word) writes the "WakeUpService"
//                       stamp: the local time as a FILETIME, high and low
//                       halves in dwStartTimeHigh and dwStartTimeLow of the
//                       product's Settings\WakeUpService key
// Exit codes: 0 done, 1 the call or the write failed, 2 any other command
// line.
#include <string>

#include "ce/notify.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "standins/kit/StandinKit.h"

namespace {

int Register(bool on) {
  std::u16string self = ce::OwnProgramPath();
  return CeRunAppAtEvent(self.data(), on ? NOTIFICATION_EVENT_WAKEUP : NOTIFICATION_EVENT_NONE) ? 0 : 1;
}

int WriteStamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  FILETIME ft{};
  if (!SystemTimeToFileTime(&now, &ft)) return 1;
  const std::u16string key = std::u16string(standin::kProductSettings) + u"\\WakeUpService";
  return standin::WriteDword(key, u"dwStartTimeHigh", ft.dwHighDateTime) &&
                 standin::WriteDword(key, u"dwStartTimeLow", ft.dwLowDateTime)
             ? 0
             : 1;
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  const std::u16string word = standin::Unquoted(cmdLine ? cmdLine : u"");
  if (ce::EqualNoCase(word, u"/register")) return Register(true);
  if (ce::EqualNoCase(word, u"/unregister")) return Register(false);
  if (word == u"AppRunAfterWakeup") return WriteStamp();
  return 2;
}

CE_DEVICE_PROGRAM(WinMain)
