// The platform's help viewer "\Windows\peghelp.exe" as the product sees it:
// it records its command line in the device's screen log (caption
// "peghelp") and ends with exit code 0, or 1 when the log cannot be
// written.
#include <string>

#include "ce/process.h"
#include "cesim/msgbox.h"

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  return ce::AddScreenLogEntry(u"peghelp", cmdLine ? cmdLine : u"") ? 0 : 1;
}

CE_DEVICE_PROGRAM(WinMain)
