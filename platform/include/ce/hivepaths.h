// Where the live registry hives lie in the device tree. HKLM "init\BootVars"
// names them too: "SystemHive" = "Documents and Settings\system.hv" and
// "ProfileDir" = "Documents and Settings" (the user hive is
// "\" + ProfileDir + "\default\user.hv").
#pragma once

#include <string_view>

namespace ce {
inline constexpr std::u16string_view kSystemHivePath = u"\\Documents and Settings\\system.hv";
inline constexpr std::u16string_view kUserHivePath = u"\\Documents and Settings\\default\\user.hv";
}  // namespace ce
