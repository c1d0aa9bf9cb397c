// The device's installer packages (data only).
//
// A package is a folder: the manifest "package.txt" and the files it names.
// The manifest is UTF-8 text, one "key = value" line each, '#' starts a
// comment line; "%InstallDir%" in a value stands for the install folder.
//
//   name = Quilmo Backup                      the package's name (required)
//   folder = \Program Files\Quilmo Backup     the install folder (required)
//   setup = QuilmoCESetup.dll                 the setup library, a file of
//                                             the package (optional)
//   file = SOURCE > DEVICE-PATH               copy a package file there
//   reg = HIVE\KEY | NAME | TYPE | DATA       write a registry value; HIVE
//                                             HKLM or HKCU, TYPE dword
//                                             (decimal DATA) or sz
//   shortcut = DEVICE-PATH > TARGET           make a shortcut
//   key = HIVE\KEY                            a key tree the package owns:
//                                             saved before the install and
//                                             put back when it is undone,
//                                             removed with the package
//   guard = DEVICE-PATH or HIVE\KEY          a file or key tree the setup
//                                             library may change: saved
//                                             before the install, put back
//                                             when it is undone (not
//                                             removed with the package)
//
// What an install did is recorded in "\Windows\AppMgr\<name>\installed.txt"
// in the same form (file, reg and shortcut lines naming what was made,
// "made" lines the folders it created), beside "setup.dll", the copy of the
// setup library that the removal calls.
#pragma once

namespace PackageFormat {

inline constexpr const char* kManifestName = "package.txt";
inline constexpr const char16_t* kManifestNameW = u"package.txt";
inline constexpr const char* kInstallDirMacro = "%InstallDir%";

inline constexpr const char* kName = "name";
inline constexpr const char* kFolder = "folder";
inline constexpr const char* kSetup = "setup";
inline constexpr const char* kFile = "file";
inline constexpr const char* kReg = "reg";
inline constexpr const char* kShortcut = "shortcut";
inline constexpr const char* kKey = "key";
inline constexpr const char* kGuard = "guard";
inline constexpr const char* kMade = "made";

inline constexpr char kTargetSeparator = '>';
inline constexpr char kFieldSeparator = '|';
inline constexpr char kComment = '#';

inline constexpr const char* kTypeDword = "dword";
inline constexpr const char* kTypeString = "sz";

inline constexpr const char16_t* kRecordRoot = u"\\Windows\\AppMgr";
inline constexpr const char16_t* kRecordName = u"installed.txt";
inline constexpr const char16_t* kSetupCopyName = u"setup.dll";

}  // namespace PackageFormat
