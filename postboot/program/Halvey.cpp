// "Halvey.exe": the post-boot popup's entry.
#include "ce/process.h"
#include "postboot/Halvey.h"
#include "ui/Loop.h"

int WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  // A UI script that cannot be read leaves the popup headless.
  ui::InitFromEnvironment();
  return RunHalvey(commandLine);
}

CE_DEVICE_PROGRAM(WinMain)
