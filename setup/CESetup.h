// QuilmoCESetup: the product's setup library. The installer loads it and
// calls its hooks (SetupHooks.h), under the plain names and under the
// "Quilmo_" names that a chaining setup library looks up. On install it
// refuses devices that are not Pocket PCs, tells the battery program to
// quit, seeds the product's "Config" key from "quilmobackup.xml", records
// where the main program lies and lets the resolution detector pick the
// resource library for the screen; on removal it quits the battery
// program, clears the product's notifications and deletes the starter and
// the resource library from the Windows folder. No state lives between
// the calls.
#pragma once

#include "ce/cstring.h"
#include "ce/process.h"
#include "ce/types.h"
#include "ui/App.h"

// The class library's application of the setup library: its start-up only
// runs the base's.
class CCESetupDLLApp : public CWinApp {
 public:
  CCESetupDLLApp();
  BOOL InitInstance() override;
};

namespace Setup {

// The hooks (exported under both names by the library).
int InstallInit(HWND parent, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installFolder);
int InstallExit(HWND parent, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles, WORD failedRegKeys,
                WORD failedRegValues, WORD failedShortcuts);
int UninstallInit(HWND parent, LPCWSTR installFolder);
int UninstallExit(HWND parent);

// Broadcasts "QuilmoMerrowQuit" to every top-level window, deletes the
// battery program's Startup shortcut when asked and it exists, then waits
// five seconds for the program to go.
void QuitMerrow(bool deleteShortcut);
// Runs "<install folder>\Brenwick.exe" with the QVGA, VGA and final
// resource library paths of the Windows folder, waits for it without a
// limit and deletes it; true when it ended with a non-zero code.
bool ReplaceResourceDll(HWND parent, LPCWSTR installFolder);

// folder, a backslash unless the folder is empty or ends with one, name.
CString JoinPath(const CString& folder, const CString& name);
// Starts a program; false when it did not start. The process and thread
// handles go to *info on success.
bool RunProgram(LPCWSTR program, LPCWSTR commandLine, PROCESS_INFORMATION* info);
// A file search finds the path.
bool FileExistsSimple(LPCWSTR path);

}  // namespace Setup
