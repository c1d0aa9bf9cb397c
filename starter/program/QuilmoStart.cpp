// "QuilmoStart.exe": the starter program's entry.
#include "ce/process.h"
#include "starter/Starter.h"

int WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) { return RunStarter(commandLine); }

CE_DEVICE_PROGRAM(WinMain)
