// The exports of QuilmoCESetup.dll: the library entry, which starts and
// ends the class library's application, and the hooks under the plain
// names and under the names a chaining setup library looks up.
#include "ce/module.h"
#include "setup/CESetup.h"

namespace {
CCESetupDLLApp theApp;
}  // namespace

#define SETUP_EXPORT extern "C" __attribute__((visibility("default")))

SETUP_EXPORT BOOL DllMain(HANDLE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) return AfxInitLibraryApp(static_cast<HINSTANCE>(module));
  if (reason == DLL_PROCESS_DETACH) AfxTermLibraryApp();
  return TRUE;
}

SETUP_EXPORT int Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installFolder) {
  return Setup::InstallInit(parent, firstCall, previouslyInstalled, installFolder);
}
SETUP_EXPORT int Install_Exit(HWND parent, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles,
                              WORD failedRegKeys, WORD failedRegValues, WORD failedShortcuts) {
  return Setup::InstallExit(parent, installFolder, failedDirs, failedFiles, failedRegKeys, failedRegValues,
                            failedShortcuts);
}
SETUP_EXPORT int Uninstall_Init(HWND parent, LPCWSTR installFolder) {
  return Setup::UninstallInit(parent, installFolder);
}
SETUP_EXPORT int Uninstall_Exit(HWND parent) { return Setup::UninstallExit(parent); }

SETUP_EXPORT int Quilmo_Install_Init(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installFolder) {
  return Setup::InstallInit(parent, firstCall, previouslyInstalled, installFolder);
}
SETUP_EXPORT int Quilmo_Install_Exit(HWND parent, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles,
                                     WORD failedRegKeys, WORD failedRegValues, WORD failedShortcuts) {
  return Setup::InstallExit(parent, installFolder, failedDirs, failedFiles, failedRegKeys, failedRegValues,
                            failedShortcuts);
}
SETUP_EXPORT int Quilmo_Uninstall_Init(HWND parent, LPCWSTR installFolder) {
  return Setup::UninstallInit(parent, installFolder);
}
SETUP_EXPORT int Quilmo_Uninstall_Exit(HWND parent) { return Setup::UninstallExit(parent); }
