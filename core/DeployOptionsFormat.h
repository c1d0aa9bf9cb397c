// The kiosk deployment's options file "DeployOptions.txt" and the kiosk
// configuration key its options are copied into (data only).
//
// The file: 8-bit text in the device's ANSI code page, at most 32768 bytes,
// trimmed of white space, then entries "KEY = VALUE" each ended by CR LF; an
// entry that begins with "//" is a comment; the first line without "=" ends
// the entries. Every value written to the key is REG_SZ.
#pragma once

#include "ce/types.h"

namespace deploy {

inline constexpr const WCHAR* kFileName = u"DeployOptions.txt";
inline constexpr DWORD kMaxFileBytes = 32768;
// A first byte of 0xFF (a UTF-16 byte-order mark) is refused.
inline constexpr unsigned char kUnicodeMarkByte = 0xFF;
inline constexpr const WCHAR* kCommentStart = u"//";

// Keys of the file.
inline constexpr const WCHAR* kKeyAutorun = u"AUTORUN";
inline constexpr const WCHAR* kKeyAutoreset = u"AUTORESET";
inline constexpr const WCHAR* kKeyUseMarkerFile = u"USEMARKERFILE";
inline constexpr const WCHAR* kKeyConfirmText = u"CONFIRMTEXT";
inline constexpr const WCHAR* kKeySuccessText = u"SUCCESSTEXT";
inline constexpr const WCHAR* kKeyBackupFileName = u"BACKUPFILENAME";
inline constexpr const WCHAR* kKeyKioskPassword = u"KIOSKPWD";
inline constexpr const WCHAR* kKeyHoursBetween = u"HOURSBETWEENDEPLOYS";
inline constexpr const WCHAR* kKeyMinutesBetween = u"MINUTESBETWEENDEPLOYS";
inline constexpr const WCHAR* kKeyKioskDemoApp = u"KIOSKDEMOAPP";

// Words of the file's values.
inline constexpr const WCHAR* kWordTrue = u"TRUE";
inline constexpr const WCHAR* kWordFalse = u"FALSE";
inline constexpr const WCHAR* kWordDefault = u"<DEFAULT>";
// The two characters backslash and n, which some values turn into a line feed.
inline constexpr const WCHAR* kEscapedLineFeed = u"\\n";

// The kiosk configuration key (HKEY_LOCAL_MACHINE) and its values.
inline constexpr const WCHAR* KioskConfigKey = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\kioskconfig";
inline constexpr int kMaxValueChars = 260;
inline constexpr const WCHAR* kValueAutorun = u"autorun";
inline constexpr const WCHAR* kValueAutoreset = u"autoreset";
inline constexpr const WCHAR* kValueUseMarkerFile = u"usemarkerfile";
inline constexpr const WCHAR* kValueConfirmText = u"confirmtext";
inline constexpr const WCHAR* kValueDefaultSuccess = u"defaultsuccessmessage";
inline constexpr const WCHAR* kValueBackupFileName = u"backupfilename";
inline constexpr const WCHAR* kValueLogin = u"login";
inline constexpr const WCHAR* kValueHoursBetween = u"hoursbetween";
inline constexpr const WCHAR* kValueMinutesBetween = u"minutesbetween";
inline constexpr const WCHAR* kValueTrue = u"true";
inline constexpr const WCHAR* kValueFalse = u"false";

}  // namespace deploy
