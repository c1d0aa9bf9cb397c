// Device resets: the shell's reboot request, the kernel's reboot control
// and the reset power state (SetSystemPowerState in ce/system.h) all end
// in ce::RequestDeviceReset (cesim/power.h).
//
// A reset request is recorded in device.db (table pending_reset: time,
// requesting pid and `state`, which names the call: POWER_STATE_RESET,
// EWX_REBOOT or IOCTL_HAL_REBOOT), then every device process ends, the
// caller included: the call does not return. The boot that follows
// belongs to the boot emulation, which reads pending_reset.
#pragma once

#include <cstdint>
#include <vector>

#include "ce/types.h"

#define EWX_LOGOFF 0x00000000u
#define EWX_SHUTDOWN 0x00000001u
#define EWX_REBOOT 0x00000002u
#define EWX_FORCE 0x00000004u
#define EWX_POWEROFF 0x00000008u

#define IOCTL_HAL_REBOOT 0x0101003Cu

// EWX_REBOOT (EWX_FORCE may be added) resets the device and does not
// return. Every other request fails with ERROR_NOT_SUPPORTED; without a
// device the call fails with ERROR_NOT_READY.
BOOL ExitWindowsEx(UINT flags, DWORD reason);
// IOCTL_HAL_REBOOT resets the device and does not return; other codes fail
// with ERROR_NOT_SUPPORTED.
BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuf, DWORD inBufSize, LPVOID outBuf, DWORD outBufSize,
                     LPDWORD bytesReturned);
