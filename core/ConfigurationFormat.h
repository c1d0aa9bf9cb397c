// The XML configuration file "quilmobackup.xml" (data only):
//
//   <configuration>
//     <config name="EnableLogging" type="boolean" value="true"/>
//     ...
//   </configuration>
//
// The document element and its "config" children are compared with exact
// case; comments between them are skipped. "type" is compared without
// case: "dword", "binary", "boolean" or "bool", and any other text a string.
// A missing "value" counts as empty text. Binary values are comma-separated
// hexadecimal bytes of one or two digits ("0A,FF,3").
#pragma once

#include "ce/types.h"

namespace ConfigurationFormat {

inline constexpr const WCHAR* kFileName = u"quilmobackup.xml";
inline constexpr const WCHAR* kRootElement = u"configuration";
inline constexpr const WCHAR* kItemElement = u"config";
inline constexpr const WCHAR* kNameAttribute = u"name";
inline constexpr const WCHAR* kTypeAttribute = u"type";
inline constexpr const WCHAR* kValueAttribute = u"value";

// Type texts, lower case.
inline constexpr const WCHAR* kTypeDword = u"dword";
inline constexpr const WCHAR* kTypeBinary = u"binary";
inline constexpr const WCHAR* kTypeBoolean = u"boolean";
inline constexpr const WCHAR* kTypeBool = u"bool";
// A boolean is true exactly for this text (compared lower-cased).
inline constexpr const WCHAR* kTrueText = u"true";

inline constexpr WCHAR kByteSeparator = u',';
inline constexpr int kMaxDigitsPerByte = 2;

// The subkey below the product key that the loader replaces as a whole.
inline constexpr const WCHAR* kConfigSubkey = u"Config";

}  // namespace ConfigurationFormat
