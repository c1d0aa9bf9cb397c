// The device's store of user notifications: the CEDB database
// "DB_notify_queue" in the notification volume (the CEDB volume named by
// HKLM "System\GWE\Notify" value "volume", "\mxip_notify.vol" when the
// value is missing). One record per notification, holding two properties:
//
//   kNotifyTimeProp  (CEVT_FILETIME)  when the notification is due
//   kNotifyEntryProp (CEVT_BLOB)      the notification, laid out below
//
// The entry blob, little-endian:
//   offset  size  field
//        0     4  byte offset of the program name within the blob
//        4     4  trigger type
//        8     8  start time (FILETIME: low word at 8, high word at 12)
//       16     8  end time (FILETIME)
//       24     4  event
//       28     4  byte offset of the arguments within the blob
//       32     .  NUL-terminated UTF-16 texts: the program name (a bare name
//                 such as "repllog.exe" or a device path), then the arguments
//
// Every time here is the device's local time. Data only.
#pragma once

#include <cstdint>

namespace ce::notifyqueue {

inline constexpr char16_t kDatabaseName[] = u"DB_notify_queue";
inline constexpr char16_t kVolumeKey[] = u"System\\GWE\\Notify";  // under HKEY_LOCAL_MACHINE
inline constexpr char16_t kVolumeValue[] = u"volume";
inline constexpr char16_t kDefaultVolume[] = u"\\mxip_notify.vol";

inline constexpr uint32_t kNotifyTimeProp = 0x00010040;   // id 1, FILETIME
inline constexpr uint32_t kNotifyEntryProp = 0x00020041;  // id 2, blob

inline constexpr uint32_t kProgramOffsetAt = 0;
inline constexpr uint32_t kTriggerTypeAt = 4;
inline constexpr uint32_t kStartTimeAt = 8;  // the blob's third and fourth 32-bit words
inline constexpr uint32_t kEndTimeAt = 16;
inline constexpr uint32_t kEventAt = 24;
inline constexpr uint32_t kArgumentsOffsetAt = 28;
inline constexpr uint32_t kHeaderSize = 32;  // the texts start here

}  // namespace ce::notifyqueue
