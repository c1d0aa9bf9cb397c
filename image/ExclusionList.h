// What the file-system walk leaves out of a backup: fixed system folders
// and files, files equal to the ROM's copy (the ROM list), the user's
// options (programs, backup images) and the user's own exclusion list.
//
// User list file: "ExcludeList.txt" in the program's folder, UTF-16LE
// without byte-order mark or line ends; every entry is folder, "|",
// extension, "$". Reading stops at an empty entry, an entry without "|" or
// an entry left without its "$" (a cut file).
//
// ROM list file: "ExcludeRomFilesList.ini" in the program's folder, 8-bit
// text in lines "<device path>:<crc32 in hex>"; lines beginning with "%"
// are comments; at most 100 lines are read, comments included.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"

class AExclusionList {
 public:
  // Folder and extension in lower case. A folder other than "" and "\"
  // ends with "\". Shapes: folder only (extension empty), extension only
  // (folder empty), folder with extension ("*": every file of the folder).
  struct PathName {
    CString folder;
    CString extension;
  };

  // The list kept in the program's folder.
  AExclusionList();
  // The list kept in another file (a device path).
  explicit AExclusionList(const CString& filePath);
  virtual ~AExclusionList() = default;

  // Empties the list and reads the file; a missing or empty file is an
  // empty list (true).
  bool Load();
  // Creates the file anew with every entry.
  bool Save();
  // Replaces the entries by those of the file's text. Returns the number
  // of entries read.
  int Parse(std::u16string_view text);

  // Adds "\folder", "\folder\*.ext", "\folder\*.*" or "*.ext"; the index
  // of the new entry, or -1 when the text has none of these shapes (or
  // holds "$" or "|", which the file cannot keep).
  int Add(const CString& path);
  // Removes the first entry equal (exact case) to the split path.
  bool Remove(const CString& path);
  // "\folder\", "*.ext" or "\folder\*.ext"; empty for a bad index.
  CString MakePattern(int index) const;
  // The first entry that fits answers true. Folder and extension are
  // lower-cased and the folder gets a trailing "\":
  //   folder only: the folder begins with the entry's folder;
  //   extension only: the extensions are equal;
  //   folder with "*": equal folders, and not a directory;
  //   folder with extension: equal folders and extensions.
  bool Match(const CString& folder, const CString& extension, bool isDirectory) const;

  int GetCount() const { return static_cast<int>(m_Entries.size()); }
  const PathName& GetAt(int index) const { return m_Entries.at(static_cast<size_t>(index)); }
  // The list file's device path.
  CString GetFilePath() const;

 private:
  // Splits a path as Add does (without lower-casing); false when refused.
  static bool Split(const CString& path, CString& folder, CString& extension);

  CString m_FilePath;  // empty: "ExcludeList.txt" in the program's folder
  std::vector<PathName> m_Entries;
};

// The options of the running task that steer the tests (the backup
// options and the program's mode, set by the owner before a walk).
struct AExcludeOptions {
  bool applyExclusions = true;      // backup option 9: options and user list apply
  bool excludeBackupImages = true;  // backup option 3: "pbf" and image "exe" files
  bool excludePrograms = false;     // backup option 4: "exe" and "dll" files
  bool skipRomTest = false;         // the program's mode switches the ROM test off
};

// One entry of the ROM list.
struct ARomExcludeEntry {
  CString name;
  DWORD crc = 0;
};

class AExcludeHandler {
 public:
  AExcludeHandler() = default;
  virtual ~AExcludeHandler() = default;

  void SetOptions(const AExcludeOptions& options) { m_Options = options; }
  const AExcludeOptions& GetOptions() const { return m_Options; }

  // The fixed folders never walked ("\Network", "\SECURE FOLDER",
  // "\Windows\Temp"); a trailing "\" is ignored.
  bool IsExcludedDirectory(const CString& path) const;
  // The ROM list (by crc32) and the fixed file tables.
  bool IsExcluded(const CString& path) const;
  // The options and the user list, only while exclusions apply.
  bool IsExcludedFile(const CString& path) const;
  // The user list for a folder the walk reaches, only while exclusions
  // apply.
  bool IsExcludedByUserList(const CString& folderPath) const;

  // Reloads the user list (after the user edited it).
  bool LoadExclusionList() { return m_ExclusionList.Load(); }
  AExclusionList& GetExclusionList() { return m_ExclusionList; }

  // crc32 (initial 0) of the whole file; 0 for an empty file or on failure.
  static DWORD GetFileCRC(const CString& path);
  // Reads the process-wide ROM list from the program's folder.
  static void LoadRomExcludeList();
  // The ROM list entries of 8-bit list text (at most 100 lines read).
  static std::vector<ARomExcludeEntry> ParseRomExcludeList(const char* text, size_t size);
  // Forgets the process-wide ROM list and the Corvane answer, so that the
  // next test reads them again.
  static void ResetProcessCache();
  static int GetRomEntryCount();

 private:
  static bool IsCorvaneInstalled();

  AExclusionList m_ExclusionList;
  AExcludeOptions m_Options;
};
