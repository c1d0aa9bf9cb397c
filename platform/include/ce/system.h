// System information (screen, version, platform, OEM text, memory), power
// states, debug output, input no-ops and system error texts.
//
// Figures come from the device profile (the defaults of ce::Profile when a
// process has no device). Power requests, key events and idle-timer resets
// are recorded in device.db so that tests can see them.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "ce/types.h"

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
typedef RECT* LPRECT;

// ---- screen metrics ----
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXSMICON 49
#define SM_CYSMICON 50
// Unknown indices give 0.
int GetSystemMetrics(int index);

// ---- version ----
#define VER_PLATFORM_WIN32_CE 3u

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};
typedef OSVERSIONINFOW* LPOSVERSIONINFOW;
static_assert(sizeof(OSVERSIONINFOW) == 276);

// The caller sets dwOSVersionInfoSize to 276 (smaller: FALSE,
// ERROR_INSUFFICIENT_BUFFER). Major, minor and build come from the profile;
// szCSDVersion is empty.
BOOL GetVersionExW(OSVERSIONINFOW* info);

// ---- system parameters ----
#define SPI_GETWORKAREA 48u
#define SPI_GETPLATFORMTYPE 257u
#define SPI_GETOEMINFO 258u
namespace ce {
// Height of the title bar the work area leaves out at the top.
inline constexpr int kTopBarHeight = 26;
}  // namespace ce

// SPI_GETPLATFORMTYPE / SPI_GETOEMINFO: uiParam is the size of pvParam in
// BYTES; the text and its terminator must fit (else FALSE,
// ERROR_INSUFFICIENT_BUFFER). SPI_GETWORKAREA fills a RECT: the screen
// minus the top bar. Other actions fail with ERROR_INVALID_PARAMETER.
BOOL SystemParametersInfoW(UINT action, UINT uiParam, void* pvParam, UINT winIni);

// ---- power ----
#define POWER_STATE_ON 0x00010000u
#define POWER_STATE_OFF 0x00020000u
#define POWER_STATE_CRITICAL 0x00040000u
#define POWER_STATE_BOOT 0x00080000u
#define POWER_STATE_IDLE 0x00100000u
#define POWER_STATE_SUSPEND 0x00200000u
#define POWER_STATE_UNATTENDED 0x00400000u
#define POWER_STATE_RESET 0x00800000u
#define POWER_STATE_USERIDLE 0x01000000u
#define POWER_STATE_BACKLIGHTON 0x02000000u
#define POWER_STATE_PASSWORD 0x10000000u
#define POWER_NAME 0x00000001u
#define POWER_FORCE 0x00001000u

// Moves the device to a named power state ("on", "useridle", "systemidle",
// "backlightoff", "unattended", "resuming", "suspend", "off", "reset";
// names ignore case) or, with a null name, to the state of the
// POWER_STATE_* bit in `state`. Returns TRUE on success (note: a BOOL, not
// the ERROR_SUCCESS of the device's DWORD form); an unknown name or no
// known state bit fails with ERROR_INVALID_PARAMETER. The new state is
// recorded and reported by GetSystemPowerState. A reset is recorded as a
// pending reset request (ce::PendingResetRequests in cesim/system.h) and
// ends every device process, the caller too (ce::RequestDeviceReset in
// cesim/power.h); the state stays "on" and the boot emulation carries the
// reset on.
BOOL SetSystemPowerState(LPCWSTR name, DWORD state, DWORD options);
// Copies the current state's name (cch characters of room) and its
// POWER_STATE_* bit; "on" / POWER_STATE_ON until something else is set.
BOOL GetSystemPowerState(LPWSTR name, DWORD cch, DWORD* flags);
//
// The device is on or off: the states "suspend" and "off" (and the bits
// POWER_STATE_SUSPEND, POWER_STATE_OFF) mean off, every other state on.
// Off stops no program. The power key (keybd_event of VK_POWER, key down)
// and the idle-off time of the device turn it off, entering "suspend";
// setting an on-state turns it on again, and every turn-on from off is a
// wake-up (the device's wake-up event fires).

// ---- battery ----
#define AC_LINE_OFFLINE 0x00u
#define AC_LINE_ONLINE 0x01u
#define AC_LINE_UNKNOWN 0xFFu
#define BATTERY_FLAG_HIGH 0x01u
#define BATTERY_FLAG_LOW 0x02u
#define BATTERY_FLAG_CRITICAL 0x04u
#define BATTERY_FLAG_CHARGING 0x08u
#define BATTERY_FLAG_NO_BATTERY 0x80u
#define BATTERY_FLAG_UNKNOWN 0xFFu
#define BATTERY_PERCENTAGE_UNKNOWN 0xFFu
#define BATTERY_LIFE_UNKNOWN 0xFFFFFFFFu

struct SYSTEM_POWER_STATUS_EX {
  BYTE ACLineStatus;
  BYTE BatteryFlag;
  BYTE BatteryLifePercent;
  BYTE Reserved1;
  DWORD BatteryLifeTime;      // seconds left; BATTERY_LIFE_UNKNOWN on AC or without drain
  DWORD BatteryFullLifeTime;  // seconds a full battery lasts
  BYTE Reserved2;
  BYTE BackupBatteryFlag;
  BYTE BackupBatteryLifePercent;
  BYTE Reserved3;
  DWORD BackupBatteryLifeTime;
  DWORD BackupBatteryFullLifeTime;
};
typedef SYSTEM_POWER_STATUS_EX* PSYSTEM_POWER_STATUS_EX;
static_assert(sizeof(SYSTEM_POWER_STATUS_EX) == 24);
// The device's battery: its charge in whole percent (rounded down),
// draining with device time at the device's rate while the AC line is off,
// the AC line, and the flags of that charge (high above 66, low below 33,
// critical below 5, charging on AC below 100). update is ignored. FALSE
// with ERROR_INVALID_PARAMETER for a null record.
BOOL GetSystemPowerStatusEx(PSYSTEM_POWER_STATUS_EX status, BOOL update);

// ---- debug output, memory ----
// Appends the text as one UTF-8 line to DIR/debug.log (a trailing line end
// of the text is not doubled); to stderr without a device.
void OutputDebugStringW(LPCWSTR text);

struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORD dwTotalPhys;
  DWORD dwAvailPhys;
  DWORD dwTotalPageFile;
  DWORD dwAvailPageFile;
  DWORD dwTotalVirtual;
  DWORD dwAvailVirtual;
};
typedef MEMORYSTATUS* LPMEMORYSTATUS;
static_assert(sizeof(MEMORYSTATUS) == 32);
// Fixed figures of a 64 MB device with 32 MB per process.
void GlobalMemoryStatus(MEMORYSTATUS* status);
// How the device's RAM is divided between the object store and programs, in
// pages; FALSE (ERROR_INVALID_PARAMETER) when an out pointer is null.
BOOL GetSystemMemoryDivision(LPDWORD storePages, LPDWORD ramPages, LPDWORD pageSize);

typedef void* HLOCAL;
#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
// Heap blocks; LocalFree returns null on success. LocalReAlloc keeps the
// contents (and zero-fills growth with LMEM_ZEROINIT).
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalReAlloc(HLOCAL mem, size_t bytes, UINT flags);
HLOCAL LocalFree(HLOCAL mem);
size_t LocalSize(HLOCAL mem);

// ---- input ----
#define KEYEVENTF_KEYUP 0x0002u
#define KEYEVENTF_SILENT 0x0004u
#define VK_POWER 0xDFu
// Recorded; every key restarts the idle-off time, and VK_POWER going down
// turns the device off (see the power states above).
void keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extraInfo);
// Recorded; restarts the idle-off time.
void SystemIdleTimerReset();

// ---- system error texts ----
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu
#ifndef ERROR_MR_MID_NOT_FOUND
#define ERROR_MR_MID_NOT_FOUND 317L
#endif

// Only FORMAT_MESSAGE_FROM_SYSTEM: the English text of a device error
// number, ended by "\r\n" (none with FORMAT_MESSAGE_MAX_WIDTH_MASK).
// With FORMAT_MESSAGE_ALLOCATE_BUFFER `buffer` is really a WCHAR** that
// receives a LocalAlloc'd text. Returns the characters stored without the
// terminator; 0 with ERROR_MR_MID_NOT_FOUND for an unknown number,
// ERROR_INSUFFICIENT_BUFFER when `size` characters do not hold the text,
// ERROR_INVALID_PARAMETER for other sources.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments);

typedef OSVERSIONINFOW OSVERSIONINFO;
#define GetVersionEx GetVersionExW
#define SystemParametersInfo SystemParametersInfoW
#define OutputDebugString OutputDebugStringW

namespace ce {

// The short English text of a device error number; empty when unknown.
std::u16string SystemErrorText(DWORD code);
// An error for people to read: "error 5 (access is denied)", the meaning
// taken from the texts above ("error 12345" when there is none).
std::string DescribeError(DWORD code);

}  // namespace ce
