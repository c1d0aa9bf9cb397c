// The request that the product hands to the device-security agent's library
// "CMGLIB.DLL" through its entry "CMG_Request", and the answers it gives.
// Shared by the product's agent interface and the library's stand-in.
// Data only.
//
// CMG_Request(record, 0, reply window, reply message) returns kDoneAtOnce,
// kPending (the reply message is posted to the reply window later) or any
// other value for a failure.
#pragma once

#include "ce/types.h"

// The record, little-endian and zero-filled: size, request code, the reply
// window's handle, the reply message, then zeros up to the size (20 bytes
// for requests 1 and 2, 24 for 3 and 4).
struct CredantRequestRecord {
  DWORD size;
  DWORD request;
  DWORD replyWindow;
  DWORD replyMessage;
  DWORD zero[2];
};
static_assert(sizeof(CredantRequestRecord) == 24);

namespace credant {

inline constexpr const WCHAR* kLibraryPath = u"\\windows\\CMGLib.dll";
inline constexpr const WCHAR* kLibraryName = u"CMGLIB.DLL";
inline constexpr const char* kRequestEntry = "CMG_Request";

inline constexpr DWORD kBackupStart = 1;
inline constexpr DWORD kBackupEnd = 2;
inline constexpr DWORD kRestoreStart = 3;
inline constexpr DWORD kRestoreEnd = 4;

inline constexpr DWORD kBackupRecordSize = 20;   // requests 1 and 2
inline constexpr DWORD kRestoreRecordSize = 24;  // requests 3 and 4

// The reply message of a request: 0x8001 for request 1 ... 0x8004 for 4.
inline constexpr UINT kFirstReplyMessage = 0x8001;
inline constexpr UINT ReplyMessage(DWORD request) { return kFirstReplyMessage + request - 1; }
inline constexpr UINT kLastReplyMessage = 0x8004;

inline constexpr int kPending = 0;
inline constexpr int kDoneAtOnce = 3;

// CMG_Request(record, reserved, reply window, reply message).
using RequestEntry = int (*)(void* record, DWORD reserved, HWND replyWindow, UINT replyMessage);

}  // namespace credant
