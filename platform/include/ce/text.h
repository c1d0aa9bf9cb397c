// Text conversions every part of the device layer shares.
#pragma once

#include <string>
#include <string_view>

#include "ce/types.h"

namespace ce {

// UTF-16 <-> UTF-8 (host file names, the database, host-side messages).
// Strict: unpaired surrogates, overlong forms, encoded surrogates and
// values above U+10FFFF become U+FFFD, and *hadInvalid tells so.
std::string ToUtf8(std::u16string_view s, bool* hadInvalid = nullptr);
std::u16string FromUtf8(std::string_view s, bool* hadInvalid = nullptr);

// The device's simple case mapping (ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic); names compare equal ignoring case when their
// upper-cased forms are equal.
WCHAR UpperChar(WCHAR c);
WCHAR LowerChar(WCHAR c);
std::u16string DeviceUpper(std::u16string_view s);
std::u16string DeviceLower(std::u16string_view s);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

// Length of a NUL-terminated UTF-16 string (0 for null).
size_t StrLen(const WCHAR* s);

}  // namespace ce
