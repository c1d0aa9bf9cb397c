// The path of a backup image with the rules for its default location, and
// the clean-up of old images in the backup folder (by count or by space).
#pragma once

#include <vector>

#include "ce/cstring.h"
#include "ce/file.h"
#include "ce/types.h"
#include "core/OptionHandlers.h"
#include "core/Path.h"

// Where an image lives: on the device (or a network share), or on the
// desktop host.
enum BackupLocationKind : DWORD {
  kLocationLocal = 0,
  kLocationRemoteHost = 1,  // a folder of the host named by the remote options
  kLocationAgentHost = 2,   // the host named by the desktop agent's settings
};

class ABackupFilePath : public APath {
 public:
  static constexpr const WCHAR* kDefaultFileName = u"Backup";
  static constexpr const WCHAR* kImageExtension = u"pbf";

  // Empty folder, name and extension; base name "Backup"; on the device.
  ABackupFilePath();
  ABackupFilePath(const ABackupFilePath&) = default;
  ABackupFilePath& operator=(const ABackupFilePath&) = default;
  ~ABackupFilePath() override = default;

  // The base file name (the persisted state's fourth text): the name the
  // date suffix is appended to.
  const CString& GetBaseName() const { return m_FileName; }
  void SetBaseName(const CString& name) { m_FileName = name; }
  // Sets both the path's name (no extension split) and the base name.
  void SetFileName(const CString& name);

  DWORD GetLocationKind() const { return m_LocationKind; }
  void SetLocationKind(DWORD kind) { m_LocationKind = kind; }
  bool IsOnHost() const { return m_LocationKind != kLocationLocal; }
  // Sets kind 1 (host through the remote options) or 0.
  void SetOnHost(bool onHost) { m_LocationKind = onHost ? kLocationRemoteHost : kLocationLocal; }

  // Appends "_%04d-%02d-%02d" (local year, month, day) to the name. A date
  // suffix already ending the name is replaced, so repeated calls do not
  // stack; an empty name takes the base name first.
  void AppendDateSuffix();
  void AppendDateSuffix(int year, int month, int day);

  // Host path: string 65257 + ": " + the full path; else the full path.
  CString GetDisplayName() const;

  // Finds a default location for a new image, file name string 57662:
  // builtInStorageOnly: the first built-in storage folder of the root.
  // Otherwise the registry value "csDefaultBackupFilename" (Settings key)
  // when useRegistry and its folder exists (no folder: a host path); else
  // the first mounted storage card, then mounted built-in storage, then the
  // documents folder when backups to main memory are allowed; the network
  // folders never. The extension becomes "pbf"; with useRegistry the path
  // is written back. Logs without a class name.
  bool FindDefaultBackupLocation(bool useRegistry, bool builtInStorageOnly);

 private:
  CString m_FileName;
  DWORD m_LocationKind = kLocationLocal;
};

// One old image found in the backup folder.
struct sArrayData {
  CString path;                // full device path
  WIN32_FIND_DATAW findData;   // its find record
  ULONGLONG Size() const {
    return (static_cast<ULONGLONG>(findData.nFileSizeHigh) << 32) | findData.nFileSizeLow;
  }
};

// Keeps the old images of the current image's folder within the user's
// limits (the four file-management words of the backup options block:
// space allocation on, allocated MB with 0 meaning worked out from the free
// space, maximum count on, maximum count), removing the oldest (last write
// time) first. The current image is never counted or removed.
class AFileManagement {
 public:
  AFileManagement(const BackupOptionsBlock& options, const CString& currentImagePath);

  // Report only: the bytes that removing would free. False when the image
  // path has no folder, the folder cannot be listed (a missing or empty
  // folder holds no images) or, for a worked-out allocation, the free space
  // cannot be read.
  bool CalculateSpaceOccupied(ULONGLONG newImageSize, bool addingOne, ULONGLONG* bytes);
  // Removes images: bytes receives the total size of the images actually
  // deleted (a failed delete frees nothing and is not counted).
  bool RemoveOldBackupFiles(ULONGLONG newImageSize, bool addingOne, ULONGLONG* bytes);

 private:
  bool ProcessBackupFiles(ULONGLONG newImageSize, bool addingOne, bool remove, ULONGLONG* bytes);
  bool ListBackupFiles();
  // Removes (or, reporting only, drops) the oldest image; false when its
  // delete failed. size receives its size.
  bool RemoveOldest(bool remove, ULONGLONG* size);

  BackupOptionsBlock m_Options;
  APath m_CurrentImage;
  std::vector<sArrayData> m_Files;
};
