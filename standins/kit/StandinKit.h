// Small helpers the stand-in programs share: the device's local time as
// text, a line appended to a device file, registry values of the product.
#pragma once

#include <optional>
#include <string>

#include "ce/registry.h"
#include "ce/types.h"

namespace standin {

// The product's settings key under HKEY_LOCAL_MACHINE.
inline constexpr const char16_t* kProductSettings = u"SOFTWARE\\Quilmo Software\\Quilmo Backup\\Settings";

// The device's local time, "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText();
// Appends text (UTF-8) to a device file, creating it; false when the
// file cannot be written.
bool AppendToDeviceFile(const std::u16string& path, const std::string& text);
// A DWORD value under HKEY_LOCAL_MACHINE; empty when missing or not a DWORD.
std::optional<DWORD> ReadDword(const std::u16string& key, const std::u16string& name);
// Writes a DWORD value under HKEY_LOCAL_MACHINE, creating the key.
bool WriteDword(const std::u16string& key, const std::u16string& name, DWORD value);
// The command line without blanks and double quotes around it.
std::u16string Unquoted(std::u16string_view commandLine);

}  // namespace standin
