// A device path held as folder, name and extension, and a few free
// functions about files and folders.
#pragma once

#include <vector>

#include "ce/cstring.h"
#include "ce/file.h"

class APath {
 public:
  APath() = default;
  APath(const CString& text, bool isFolder) { Set(text, isFolder); }
  virtual ~APath() = default;

  // isFolder: the whole text is the folder. Otherwise the text is split
  // into folder (up to the last backslash), name and extension.
  void Set(const CString& text, bool isFolder);
  // Empty, or stored with a leading and a trailing backslash.
  void SetFolder(const CString& text);
  // Drops a leading backslash and everything from the last dot; with
  // splitExtension the dropped part becomes the extension.
  void SetName(const CString& text, bool splitExtension);
  // Stored without a leading dot.
  void SetExtension(const CString& text);

  // The folder as stored, or without its trailing backslash ("\" stays).
  CString GetFolder(bool withTrailingBackslash = true) const;
  CString GetName() const { return name_; }
  CString GetExtension() const { return extension_; }
  CString GetFileName() const;  // name[.extension]
  CString GetFullPath() const;  // folder + name[.extension]
  // The first folder without a trailing backslash ("\Storage Card").
  CString GetRootFolder() const;

  bool IsEmpty() const;
  void Clear();
  // The root folder exists and carries the temporary attribute.
  bool IsOnStorageCard() const;
  // The root folder + "\" equals (exact case) a built-in storage name.
  bool IsOnBuiltInStorage() const;
  // The text begins with the full path, ignoring case.
  bool IsPrefixOf(const CString& text) const;
  // The full path begins with the given folder, ignoring case.
  bool IsInFolder(const CString& path) const;

 private:
  CString folder_;
  CString name_;
  CString extension_;
};

// True when the list holds the path, letter case ignored.
bool PathInList(const std::vector<CString>& list, const CString& path);
// True when a search on the path finds something; the first record is
// copied to findData when it is not null.
bool GetFindData(const CString& path, WIN32_FIND_DATAW* findData);
// The parent of the Startup folder, ending with a backslash ("\" for
// "\Windows\StartUp"). Computed once per process.
CString GetStartupParentFolder();
// The running program's folder + the "CorvaneEXEName" setting.
CString GetLocalCorvaneEXEPath();
