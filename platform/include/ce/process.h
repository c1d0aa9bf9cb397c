// Device processes: program identity, the program entry, CreateProcess, the
// device's process table, toolhelp snapshots, process handles and waits.
//
// A device program is a host executable stored in the device's file system.
// Whoever starts it sets three environment variables:
//   QUILMO_DEVICE   the host folder of the device
//   QUILMO_PROGRAM  the program's device path in stored case
//   QUILMO_CMDLINE  the raw command line (never re-split or re-quoted)
//
// The device's process table (device.db, table `processes`) holds one row
// per started program: host pid, its kernel start time (so a reused pid is
// never taken for the old process), device path, bare exe name, command
// line, parent pid and exit code (NULL while unknown). A process is live
// while /proc/<pid> exists with the same start time and is not a zombie.
// The device's resident system programs (profile "resident" lines, or a
// default set) appear in toolhelp with synthetic pids from
// kResidentPidBase (cesim/process.h); they can be opened and waited on but
// never end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ce/handle.h"
#include "ce/types.h"

#define STILL_ACTIVE 259u
#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED 0x80u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64u

#define PROCESS_TERMINATE 0x0001u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define SYNCHRONIZE 0x00100000u
#define PROCESS_ALL_ACCESS 0x001F0FFFu

// Creation flags are accepted and ignored (no debugging, no suspension).
#define CREATE_SUSPENDED 0x00000004u
#define CREATE_NEW_CONSOLE 0x00000010u

#define TH32CS_SNAPHEAPLIST 0x00000001u
#define TH32CS_SNAPPROCESS 0x00000002u
#define TH32CS_SNAPTHREAD 0x00000004u
#define TH32CS_SNAPMODULE 0x00000008u

// Abnormal end: the exit code of a process killed by a signal whose code
// nobody recorded (and of processes ended by EndAllDeviceProcesses,
// cesim/process.h).
#define CE_EXIT_ABNORMAL 0xC0000005u

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

// Accepted for signature compatibility; the device ignores it.
struct STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};
typedef STARTUPINFOW* LPSTARTUPINFOW;

// The toolhelp process record in the device's layout (564 bytes).
struct PROCESSENTRY32W {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  DWORD th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  WCHAR szExeFile[MAX_PATH];  // bare exe name in stored case
  DWORD th32MemoryBase;
  DWORD th32AccessKey;
};
typedef PROCESSENTRY32W* LPPROCESSENTRY32W;
static_assert(sizeof(PROCESSENTRY32W) == 564);

// Starts a device program. imageName is a device path ("\Windows\x.exe");
// a name without any backslash is searched in "\Windows", then in "\"
// (".exe" is added to a name without a dot); a relative path with
// backslashes is taken from "\". cmdLine is the raw command line without
// the program name (null = empty) and reaches the child unchanged. The
// security, inherit, environment, folder and start-up arguments are
// ignored as on the device. Errors: 2 program missing, 3 folder missing,
// 5 a folder or not executable on the host, 193 not an executable,
// 87 null imageName, 21 no device.
BOOL CreateProcessW(LPCWSTR imageName, LPCWSTR cmdLine, LPVOID processAttributes,
                    LPVOID threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                    LPPROCESS_INFORMATION processInformation);

// Opens a live device process (or a resident one, or this process).
// ERROR_INVALID_PARAMETER for a pid that is not a live device process.
HANDLE OpenProcess(DWORD access, BOOL inheritHandle, DWORD pid);
// Records code as the exit code, kills the process and waits (up to about
// two seconds) until it has ended. ERROR_ACCESS_DENIED for a resident
// program or a process that has already ended. Terminating this process
// does not return.
BOOL TerminateProcess(HANDLE process, UINT exitCode);
// STILL_ACTIVE while the process runs.
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
DWORD GetCurrentProcessId();
// A pseudo handle for this process: valid in every process and wait call,
// never signalled, never closed.
HANDLE GetCurrentProcess();
// Process and thread handles are signalled when the process has ended.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// waitAll FALSE: WAIT_OBJECT_0 + the lowest index of a signalled handle.
// waitAll TRUE: the wait ends (and takes what it waits for) only when
// every handle is signalled at once.
// count 0 or above MAXIMUM_WAIT_OBJECTS fails with ERROR_INVALID_PARAMETER.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                             DWORD milliseconds);
// Records the exit code in the device's process table and ends the process
// at once (stdio is flushed and device.db closed; no static destructors
// run).
[[noreturn]] void ExitProcess(UINT exitCode);
// The raw command line this program was started with.
LPWSTR GetCommandLineW();

// Toolhelp: a process snapshot (th32ProcessID is ignored). The walk ends
// with ERROR_NO_MORE_FILES (18). dwSize must be at least
// sizeof(PROCESSENTRY32W) (else ERROR_INVALID_PARAMETER).
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD th32ProcessID);
BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry);
BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32W entry);
BOOL CloseToolhelp32Snapshot(HANDLE snapshot);

namespace ce {

// A kernel object WaitForSingleObject/WaitForMultipleObjects can wait on.
class Waitable : public HandleObject {
 public:
  static constexpr int kNeverSignalled = -2;  // WaitFd: the object never ends
  static constexpr int kPollState = -1;       // WaitFd: poll Signalled()
  // A descriptor that becomes readable once the object is signalled, or
  // one of the values above.
  virtual int WaitFd() const = 0;
  // Whether the object is signalled; an object that a wait takes (an
  // auto-reset event) is taken by this call when it is.
  virtual bool Signalled() = 0;
  // Whether the object is signalled, taking nothing.
  virtual bool Peek() { return Signalled(); }
};

inline constexpr const char16_t* kDefaultProgramPath =
    u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe";

// This program's device path in stored case, and its raw command line.
// Without QUILMO_PROGRAM/QUILMO_CMDLINE: kDefaultProgramPath and "".
const std::u16string& OwnProgramPath();
const std::u16string& OwnCommandLine();
// The program entry behind CE_DEVICE_PROGRAM: registers the process, calls
// entry(null instance, null, raw command line, SW_SHOWNORMAL), records its
// result as the exit code and returns it. A process started without
// QUILMO_CMDLINE (by hand from a host shell) takes argv[1..] joined with
// single blanks as its command line.
using WinMainFn = int (*)(HINSTANCE, HINSTANCE, LPWSTR, int);
int RunDeviceProgram(WinMainFn entry, int argc, char** argv);

}  // namespace ce

// In a device program: `int WinMain(HINSTANCE, HINSTANCE, LPWSTR, int)`
// followed by CE_DEVICE_PROGRAM(WinMain) at namespace scope.
#define CE_DEVICE_PROGRAM(entry) \
  int main(int argc, char** argv) { return ::ce::RunDeviceProgram(&(entry), argc, argv); }
