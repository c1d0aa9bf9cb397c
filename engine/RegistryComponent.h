// The registry component: the two registry hives of the device stored
// under the registry top-level node of the content index. A backup saves
// each hive to a file with RegSaveKeyW and stores that file as an entry of
// type TREE_REGISTRY_ITEM (the file entry form of engine/FileEntryFormat.h),
// then deletes the file; a restore writes the file back, checks that it is a
// hive and, through the index's boot-copy step, queues it to replace the
// live hive at the next boot (RebootActions), when no program holds it.
//
// Log lines carry the class "ARegistry".
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "image/Index.h"

class AImageFile;
class ITaskProgress;

// The two saved hive files (their names are the index item names).
inline constexpr const char16_t* kHklmHiveFile = u"\\temp\\HKLM.img";
inline constexpr const char16_t* kHkcuHiveFile = u"\\temp\\HKCU.img";
// Item user data: which root a hive item holds.
inline constexpr DWORD kHiveUserDataHklm = 1;
inline constexpr DWORD kHiveUserDataHkcu = 2;
// Size of a hive item before its backup (estimate and stored size).
inline constexpr DWORD kHiveEstimatedSize = 0x40000;

// The live hive file paths, read once from HKLM "init\BootVars" into
// GetRegistryHivePaths() ("\" + SystemHive; "\" + ProfileDir +
// "\default\user.hv"). A missing key or value is a warning and leaves that
// path empty.
const RegistryHivePaths& LiveHivePaths();
// Forgets the paths read, so the next use reads them again (a new device).
void ForgetLiveHivePaths();
// The path (ignoring case) is a live hive or one of the saved hive files.
bool IsHiveFile(const CString& path);

// The backup and restore of the registry part of the working index.
class ARegistry : public ATaskComponent {
 public:
  ARegistry(const FileSystemContext& context, ITaskProgress* progress, AImageFile* imageFile);

  // Saves and stores every selected node below the registry node; a cancel
  // stops the walk with true.
  bool Backup() override;
  // Writes every selected hive item back to its file; a file that cannot
  // be written or is no hive fails the restore.
  bool Restore() override;
  // Also stops the file store in progress.
  void Cancel() override;

  // Saves the item's root to its file, stores it (file type 28), deletes it.
  bool SaveHive(int node);

 private:
  Index& TheIndex() const { return *m_Context.index; }
  bool RestoreHive(int node);

  FileSystemContext m_Context;
  ITaskProgress* m_pProgress;
  AImageFile* m_pImageFile;
  ADirectory* m_pRunning = nullptr;  // the file store in progress
};

// The index's owner of the registry part of the content tree.
class ARegistryComponent : public IndexComponent {
 public:
  // The registry node gets the two hive items, with its selection; other
  // nodes get none.
  void PopulateChildren(Index& index, int node, bool selected) override;
  // A hive item: its size + 2 x name length + 122; the registry node 0.
  ULONGLONG ImageSize(Index& index, int node) override;
  // Queues each selected, restored hive item to replace its live hive at
  // the next boot (user data 1 the HKLM hive, 2 the HKCU hive).
  bool AddBootCopiesForRestore(Index& index, int node) override;

  // The stored-size total of the registry node's subtree (selected nodes).
  static ULONGLONG StoredSize(const Index& index);
};

// The registry component of the global working index (GetGlobal()),
// registered with it on each call.
ARegistryComponent& GetGlobalRegistryComponent();
// Registers the global registry component with the working index and the
// registry task component (over MakeFileSystemContext(GetGlobal())) with
// the imaging task.
void RegisterRegistryComponent();
