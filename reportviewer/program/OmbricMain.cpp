// "Ombric.exe": the report viewer's entry and its application object.
#include "ce/process.h"
#include "reportviewer/Ombric.h"

COmbricApp theApp;

int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  return AfxWinMain(instance, previous, commandLine, show);
}

CE_DEVICE_PROGRAM(WinMain)
