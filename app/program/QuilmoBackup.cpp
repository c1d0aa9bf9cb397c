// "Quilmo Backup.exe": the one application object and the program entry.
#include "app/QuilmoApp.h"
#include "ce/process.h"
#include "pages/MainSheet.h"
#include "ui/Mfc.h"

CQuilmoApp theApp;

int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  InstallImagingSheet();
  return AfxWinMain(instance, previous, commandLine, show);
}

CE_DEVICE_PROGRAM(WinMain)
