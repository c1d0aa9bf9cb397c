// The file system component: ADirectory writes the selected folders and
// files of the device into the image as DIRECTORY_ENTRY and FILE_ENTRY
// entries (engine/FileEntryFormat.h) and records where each landed in the
// content index; on restore it recreates them from the image, optionally
// after clearing the device. AFileSystemComponent is the index's owner of
// the file-system part of the tree: the folder walk that fills it, the
// image size estimate and the boot-time copies of files in use.
//
// Files in use: the browser's three index files (found through the user's
// "Shell Folders" key) are potentially locked. A backup reads each from its
// boot-time copy (path + "c", made by the boot-time runner before the
// backup) and stores it under the copy's name; a restore writes it to that
// copy and queues the boot-time replacement. A restore target that another
// program holds open is written to its copy the same way.
//
// Every log line carries the class "ADirectory".
#pragma once

#include <memory>
#include <set>
#include <vector>

#include "ce/cstring.h"
#include "ce/file.h"
#include "ce/types.h"
#include "core/OptionHandlers.h"
#include "engine/Component.h"
#include "engine/FileEntryFormat.h"
#include "image/Compressor.h"
#include "image/File.h"
#include "image/Index.h"

class AGlobal;
class AImageFile;
class AExcludeHandler;
class AInclusionList;
class ITaskProgress;

// What the component reads from the running task's global state. The
// owner (the imaging task, from the global state object) fills it and
// keeps the pointed-to objects alive while components use it.
struct FileSystemContext {
  Index* index = nullptr;                                 // the working content index
  ACompressor* compressor = nullptr;                      // null: the component's own, level 1
  AExcludeHandler* excludeHandler = nullptr;              // null: no exclusion tests
  const AInclusionList* inclusionList = nullptr;          // null: everything included
  const ABackupOptionHandler* backupOptions = nullptr;    // null: the defaults
  const ARestoreOptionHandler* restoreOptions = nullptr;  // null: the defaults
  // Entry data is compressed (null: not): the task's compression flag, set
  // from the backup's option or from the image's metadata on restore.
  const bool* compressFlag = nullptr;
  // The operation descriptor's upgrade flag (null: none). A restore sets it
  // when the restore option bNewDeviceRestore is on; while set, existing
  // device files are kept and shortcuts are repaired afterwards.
  BYTE* upgradeFlag = nullptr;
};

// The context over the global state object: its working index, compressor,
// exclusion handler, option handlers, compression flag and the operation
// descriptor's upgrade flag.
FileSystemContext MakeFileSystemContext(AGlobal& global);

// An index item of the type for a path from its find data: attributes,
// times, size and OID, with the selection given.
Index::Item ItemFromFindData(DWORD type, const CString& path, const WIN32_FIND_DATAW& found, bool selected);

// The file-system component of the global working index: created on first
// use over MakeFileSystemContext(GetGlobal()) and registered with
// g_WorkingIndex. The context's inclusion list may be set through it.
class AFileSystemComponent;
AFileSystemComponent& GetGlobalFileSystemComponent();

class ADirectory : public ACompressorIO, public AComponent {
 public:
  ADirectory(const FileSystemContext& context, ITaskProgress* progress, AImageFile* imageFile,
             DWORD directoryType = DIRECTORY_ENTRY, DWORD fileType = FILE_ENTRY,
             bool recordInIndex = true);
  // The same, naming the folder the object works on.
  ADirectory(const FileSystemContext& context, const CString& folder, ITaskProgress* progress,
             AImageFile* imageFile, DWORD directoryType = DIRECTORY_ENTRY,
             DWORD fileType = FILE_ENTRY, bool recordInIndex = true);
  ~ADirectory() override;

  // ACompressorIO: the supplier and taker of the compressor. Backup reads
  // the device file and writes the image; restore the other way round.
  bool PutNext(BYTE* buffer, DWORD& length, bool isLast) override;
  bool GetNext(BYTE* buffer, DWORD& length, bool& isLast) override;

  // Backup ----------------------------------------------------------------
  // Writes every selected node below top (-1: the file-system top-level
  // node) depth-first. A cancel stops the walk with true.
  bool Backup(int top = -1);
  bool BackupDirectory(int node);
  // The node's find data from the index item, under the item's name.
  bool BackupFile(int node);
  // Stored under the boot-time copy's name; read from the copy when it
  // exists (then deleted), else from the file itself.
  bool BackupPotentiallyLockedFile(int node);
  // A file that cannot be opened is deselected and passed over (true)
  // with a warning of the run's report. source: the file to read (empty:
  // name).
  bool BackupFileEntry(int node, const CString& name, WIN32_FIND_DATAW& findData,
                       const CString& source = CString());
  bool WriteImageHeader(const CString& name, const WIN32_FIND_DATAW& findData);

  // Restore ---------------------------------------------------------------
  // The file-system component's restore (Start Menu bookkeeping, the
  // destructive clear, every selected node below the file-system node).
  bool Restore();
  // Entry bodies after their header was read (the image's last header
  // gives the name length); the node gives CRC and stored size. A file's
  // content is written beside it and replaces it only when complete and
  // its CRC matches; otherwise the device's file stays as it was (a CRC
  // mismatch is an error of the report and the restore goes on; a read or
  // write failure ends the restore). A file that cannot be written is
  // logged and passed over (true); one that another program holds gets the
  // content in its boot-time copy (path + "c", hidden) and its replacement
  // at the next start is queued.
  bool RestoreDir(int node);
  bool RestoreFile(int node);
  // The entry name the next RestoreFile calls must find (ignoring case);
  // another name fails them. Empty: any name.
  void SetRequiredEntryName(const CString& name) { m_RequiredEntryName = name; }
  // Deletes the folder's contents ("" is the device root) except what the
  // ROM exclusion protects, ROM files, card folders while cards are left
  // out of backups, "Restore.fdf", the program's executable, its resource
  // library, "BackupLog.txt" and the image being read; then the folder
  // itself (never the root or a folder beginning "\Storage Card"). Files
  // that cannot be deleted are logged and passed over.
  bool DeleteContents(const CString& folder);
  // The files of the index's subtree below top that the restore puts back:
  // DeleteContents leaves them until their restored content replaces them,
  // so a reset in between finds each file old or new, never gone.
  void KeepRestoreTargets(int top);
  // The Start Menu and StartUp shortcuts whose ".exe" target is missing
  // are deleted (upgrade restore).
  void FixStartupLinks();

  // The entry head's CRC: crc32 over the name (no NUL), then the block.
  static DWORD HeadCRC(const CString& name, const FileEntryInfo& block);
  static FileEntryInfo BlockFromFindData(const WIN32_FIND_DATAW& findData);
  static void FindDataFromItem(const Index::Item& item, WIN32_FIND_DATAW& findData);

 private:
  enum class Side { None, Backup, Restore };

  Index& TheIndex() const { return *m_Context.index; }
  ACompressor& Compressor();
  bool WriteAndCrcFile2(const CString& name, DWORD& crc, DWORD& storedSize);
  bool ReadDevice(BYTE* buffer, DWORD count);
  void Progress(DWORD bytes);
  void AdjustEstimate(LONGLONG delta);
  bool ReadEntryName(DWORD nameBytes, CString& name, LPCWSTR failText);
  bool ReadBlock(FileEntryInfo& block, LPCWSTR failText);
  bool RestoreData(const CString& path, DWORD storedSize, DWORD& crc);
  // Opens a new file beside path (m_IOFile) for its restored content.
  bool OpenStaging(const CString& path, DWORD attributes, CString& staging);
  void DiscardStaging(const CString& staging);
  // The checked content takes the place of path, or of its boot-time copy
  // while another program holds path; otherwise it is discarded with a
  // warning and path stays as it was.
  void PutInPlace(const CString& staging, const CString& path, DWORD attributes);
  bool PrepareStartMenu();
  void CollectFiles(const CString& folder, std::vector<CString>& files, bool lowerCase);
  void RemoveLeftoverMenuFiles();
  bool DeleteEntry(const CString& folder, const WIN32_FIND_DATAW& findData);
  void DeleteFile(const CString& path, const WIN32_FIND_DATAW& findData);
  bool KeepCardFolders() const;
  // The image being read, the running program and its resource library.
  void PrepareKeepList();
  bool UpgradeMode() const { return m_Context.upgradeFlag && *m_Context.upgradeFlag; }
  bool Compressed() const { return m_Context.compressFlag && *m_Context.compressFlag; }

  FileSystemContext m_Context;
  ITaskProgress* m_pProgress = nullptr;
  CString m_StartMenuFolder;
  CString m_StartUpFolder;
  AImageFile* m_pImageFile = nullptr;
  CString m_CurrentFolder = u"Unknown";
  AFile m_IOFile;
  DWORD m_BytesLeft = 0;
  CString m_CurrentFile;
  CString m_RequiredEntryName;
  DWORD m_DirectoryType;
  DWORD m_FileType;
  bool m_bRecord;
  std::set<std::u16string> m_StartMenuFiles;  // lower case
  bool m_bMenuRestored = false;
  Side m_Side = Side::None;
  bool m_bRunOpen = false;  // a data cipher run was started and not ended
  std::unique_ptr<ACompressor> m_pOwnCompressor;
  std::vector<BYTE> m_Buffer;  // raw data blocks
  // Files a destructive clear of this restore kept because the restore
  // replaces them (lower case).
  std::set<std::u16string> m_RestoreTargets;
  bool m_bKeepReady = false;
  CString m_ExeName;
  std::vector<CString> m_KeepPaths;
};

// The index's owner of the file-system part of the content tree.
class AFileSystemComponent : public IndexComponent {
 public:
  explicit AFileSystemComponent(FileSystemContext& context);
  // Registers with the context's index.
  void Register();

  // The folder walk: adds the node's folders and files as children.
  void PopulateChildren(Index& index, int node, bool selected) override;
  // Files and folders: size + 2 x characters + 122 (potentially locked
  // files count their copy's name); the top-level node 0.
  ULONGLONG ImageSize(Index& index, int node) override;
  // Queues a boot-time copy (path + "c", hidden) of each listed browser file
  // that exists and is selected.
  bool AddBootCopiesForBackup(Index& index, int node) override;
  // Queues the boot-time replacement of each selected potentially locked
  // file by its restored copy, with the node's attributes.
  bool AddBootCopiesForRestore(Index& index, int node) override;

  // The browser's index files, read once on first use from the values that
  // can be read.
  const std::vector<CString>& GetPotentiallyLockedFiles();
  bool IsPotentiallyLocked(const CString& path);
  bool IsBootCopyOfLockedFile(const CString& path);

 private:
  // Paths that other components store and the walk leaves out:
  // "\Windows\Messaging" or the MMS client's content folder;
  bool IsMailFolder(const CString& path);
  // "\cemail.vol" or its boot-time copy;
  bool IsMailVolume(const CString& path);
  // the children of the database volumes node (populated when its owner is
  // registered), else the fixed and registry-named volume files, and their
  // boot-time copies;
  bool IsDatabaseVolume(const CString& path);
  bool IsBootCopyOfVolume(const CString& path);
  // the live hive files and "\temp\HKLM.img", "\temp\HKCU.img".
  bool IsHiveFile(const CString& path);
  // a database group's volume file (the databases node is listed first
  // when needed).
  bool IsDatabasesChild(const CString& path);
  bool IsProgramCard(const CString& cardFolder);
  void ReadOwnedNames();
  bool BackupOptionOn(int option);

  FileSystemContext& m_Context;
  bool m_bLockedListBuilt = false;
  std::vector<CString> m_LockedFiles;
  std::vector<CString> m_LockedCopies;  // their boot-time copies
  bool m_bOwnedNamesRead = false;
  CString m_MmsFolder;
  std::vector<CString> m_VolumeFiles;
  std::vector<CString> m_HiveFiles;
  std::unique_ptr<ABackupOptionHandler> m_pDefaultOptions;
};
