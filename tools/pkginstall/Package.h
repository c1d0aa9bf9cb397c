// A package manifest or an install record (PackageFormat.h), read and
// written as text.
#pragma once

#include <string>
#include <vector>

namespace pkg {

struct FileEntry {
  std::u16string source;  // a file of the package (empty in a record)
  std::u16string target;  // device path
};

struct RegEntry {
  std::u16string key;  // "HKLM\..." or "HKCU\..."
  std::u16string name;
  std::string type;    // "dword" or "sz"
  std::u16string data;
};

struct ShortcutEntry {
  std::u16string path;
  std::u16string target;
};

struct Manifest {
  std::u16string name;
  std::u16string folder;
  std::u16string setup;
  std::vector<FileEntry> files;
  std::vector<RegEntry> values;
  std::vector<ShortcutEntry> shortcuts;
  std::vector<std::u16string> keys;
  std::vector<std::u16string> guards;     // files
  std::vector<std::u16string> guardKeys;  // key trees
  std::vector<std::u16string> madeFolders;  // records only
};

// Parses manifest text; false with *error naming the line that is wrong.
// "%InstallDir%" is replaced by the folder (which must come first).
bool ParseManifest(const std::string& text, Manifest* out, std::string* error);
// The text ParseManifest reads back to the same manifest.
std::string FormatManifest(const Manifest& m);

}  // namespace pkg
