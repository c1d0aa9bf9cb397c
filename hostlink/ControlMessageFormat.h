// Wire form of the host-link messages. Data only.
//
// Every message is an 8-byte little-endian header followed directly by
// the payload:
//   0 kind (u16), 2 code (u16), 4 payload length in bytes (u32)
// A remote file request (kind 0, code 3) carries: u32 command, u32 data
// length, then the data. An error reply (kind 2, code 3) carries the
// host's u32 error code.
#pragma once

#include "ce/types.h"
#include "image/ImageFormat.h"

// Message kinds.
enum ControlMessageKind : WORD {
  kControlRequest = 0,
  kControlReply = 1,
  kControlErrorReply = 2,
};

// Message codes.
enum ControlMessageCode : WORD {
  kControlAccepted = 0,     // host: first message after connect, no payload
  kControlShutdown = 1,     // host refuses the device, or the device closes
  kControlPartnership = 2,  // host asks; the device replies with its partner ids
  kControlRemoteFile = 3,   // remote file request and its replies
  CM_OPERATIONSTART = 4,    // device notices: operation kind, device id
  CM_OPERATIONCOMPLETE = 5,
  CM_OPERATIONFAILED = 6,   // + error code, text length, UTF-16 text
};

// Commands of a remote file request.
enum RemoteFileCommand : DWORD {
  kRemoteOpen = 0,
  kRemoteClose = 1,
  kRemoteRead = 2,
  kRemoteWrite = 3,
  kRemoteSetFilePointer = 4,
  kRemoteGetFilePointer = 5,
  kRemoteGetFileSize = 6,
  kRemoteGetDirectory = 7,
};

namespace ControlMessageFormat {

inline constexpr DWORD kHeaderSize = 8;
inline constexpr DWORD kRequestHeaderSize = 8;       // command, data length
inline constexpr DWORD kOperationShortSize = 8;      // operation kind, device id
inline constexpr DWORD kOperationLongSize = 16;      // + error code, text byte length
inline constexpr DWORD kListingRecordSize = 592;     // one directory entry
// The largest listing the device takes in one reply.
inline constexpr DWORD kMaxListingEntries = 4096;
// The largest payload the device accepts: a directory listing of the most
// entries, which also covers a read reply of the image read-ahead size.
inline constexpr DWORD kMaxListingReply = 4 + kListingRecordSize * kMaxListingEntries;
inline constexpr DWORD kMaxReadReply = 4 + ImageFormat::kReadAheadSize;
inline constexpr DWORD kMaxPayload = kMaxListingReply > kMaxReadReply ? kMaxListingReply : kMaxReadReply;

}  // namespace ControlMessageFormat
