// The database volumes component: the volume files the system holds open
// (the personal-information volume, the system volumes, every mounted
// volume file) stored whole, under the database volumes top-level node of
// the content index, one TREE_DBVOLUME_FILE child per file.
//
// A volume is in use while the device runs. Before the backup's reset each
// selected volume gets a boot-time copy (path + "c", hidden) that the
// boot-time runner makes while the volumes are free; the backup stores that
// copy (the entry carries the copy's name, the file-entry form of
// engine/FileEntryFormat.h) and deletes it. A restore writes the entry back
// to the copy and, through the index's boot-copy step, queues it to replace
// the volume at the next start. Two restored copies are patched before
// that start: "\pim.vol" keeps only its folder-sync state, and the
// notification volume's "repllog.exe" entry is made due a little after now.
//
// Log lines carry the class "ADatabaseVolumes"; the patch steps log
// without a class.
#pragma once

#include <vector>

#include "ce/cstring.h"
#include "ce/database.h"
#include "ce/types.h"
#include "engine/FileSystemComponent.h"
#include "engine/ImagingTask.h"
#include "image/Index.h"

class AImageFile;
class ITaskProgress;

namespace DatabaseVolumeNames {
// The volume files listed whatever is mounted.
inline constexpr char16_t kPimVolume[] = u"\\pim.vol";
inline constexpr char16_t kSystemVolume[] = u"\\mxip_system.vol";
// Registry-named volumes: HKCU "Software\Microsoft\Windows" values "DbPath"
// and "LangDbPath", HKLM "System\GWE\Notify" value "volume".
inline constexpr char16_t kWindowsKey[] = u"Software\\Microsoft\\Windows";
inline constexpr char16_t kInitDbValue[] = u"DbPath";
inline constexpr char16_t kInitDbDefault[] = u"\\mxip_initdb.vol";
inline constexpr char16_t kLangDbValue[] = u"LangDbPath";
inline constexpr char16_t kLangDbDefault[] = u"\\mxip_lang.vol";
inline constexpr DWORD kMaxValueBytes = 520;

// The folder-sync state of "\pim.vol".
inline constexpr char16_t kSyncStateDatabase[] = u"SyncStateKeys";
inline constexpr CEPROPID kSyncCountProp = 0x0001001F;     // text, set to "0"
inline constexpr CEPROPID kSyncNameProp = 0x0002001F;      // text: which state the record holds
inline constexpr CEPROPID kSyncCountHighProp = 0x8001001F; // text, set to "0"
inline constexpr char16_t kFolderSyncPrefix[] = u"FolderSync";
inline constexpr char16_t kCollectionCounter[] = u"<<< Collection Counter >>>";
// The notification entry whose times the restore moves on.
inline constexpr char16_t kReplLogProgram[] = u"repllog.exe";
}  // namespace DatabaseVolumeNames

// The name equals "\pim.vol" (ignoring case).
bool IsPimVolume(const CString& name);
// The notification volume's path: HKLM "System\GWE\Notify" value "volume"
// (a leading backslash added), "\mxip_notify.vol" when missing.
CString NotificationVolumePath();
// The fixed and the registry-named volume files (defaults for missing
// values), in that order.
std::vector<CString> NamedVolumeFiles();
// Every volume file of the device: the named ones and each mounted volume
// with a non-zero GUID whose file exists (the mail volume among them),
// sorted by name ignoring case, without duplicates. walksOk (when given):
// both volume walks succeeded.
std::vector<CString> DeviceVolumeFiles(bool* walksOk = nullptr);

// Stores one volume node (file type TREE_DBVOLUME_FILE) from its boot-time
// copy, through the file-system component's backup of a potentially locked
// file. A volume without its copy is read from the file itself and noted
// as a warning of the run's report; one that cannot be read at all (held
// by the system) is left out with a warning. The mail component uses it
// for the mail volume.
bool BackupVolumeFile(const FileSystemContext& context, ITaskProgress* progress, AImageFile* image,
                      int node);
// Writes a volume node's entry (its header just read) back to the volume's
// boot-time copy. The entry must carry the copy's name: another name fails.
bool RestoreVolumeFile(const FileSystemContext& context, ITaskProgress* progress, AImageFile* image,
                       int node);
// Queues a boot-time copy of each selected TREE_DBVOLUME_FILE child of node
// to its copy (path + "c", hidden), or back from its restored copy with the
// node's attributes; a restored copy that is missing is a warning and
// queues nothing.
void QueueVolumeBootCopies(Index& index, int node, bool forRestore);
// Deletes the boot-time copies (path + "c") of the selected volume files
// below the index's selected top-level nodes: the copies that the reset
// before an operation made and no task read, so that none is left behind
// for a later run to take as current. Only for an operation that did not
// run, or a backup after its task: a restore's copies hold restored data
// that the next start puts in place (one a queued copy-back names stays,
// as RemoveLeftoverBootCopies keeps it). Returns how many it deleted.
int DiscardVolumeBootCopies(Index& index);

// An index owner whose top-level node holds volume files: before a backup
// it populates the node when needed and queues the boot-time copies of the
// selected volumes; after a restore it queues the restored copies to
// replace the volumes at the next start.
class AVolumeCopyOwner : public IndexComponent {
 public:
  bool AddBootCopiesForBackup(Index& index, int node) override;
  bool AddBootCopiesForRestore(Index& index, int node) override;
};

// The backup and restore of the database volumes part of the working index.
class ADatabaseVolumes : public ATaskComponent {
 public:
  ADatabaseVolumes(const FileSystemContext& context, ITaskProgress* progress, AImageFile* imageFile);

  // Stores every selected volume node in tree order; a cancel ends the
  // walk with true after the current file.
  bool Backup() override;
  // Writes every selected volume back to its boot-time copy, then patches
  // the copies of "\pim.vol" and of the notification volume. A failed
  // patch never fails the restore.
  bool Restore() override;

  // Work on a restored copy (a volume file that is not in use). Each mounts
  // it existing-only, patches and unmounts it.
  // "SyncStateKeys" (EDB): the records whose id-2 text begins with
  // "FolderSync" or is "<<< Collection Counter >>>" stay, their id-1 and
  // id-0x8001 texts set to "0"; every other record is deleted.
  static void PatchingSyncKeys(const CString& volumeCopy);
  // "DB_notify_queue" (CEDB): the "repllog.exe" entry's time and the two
  // time words of its blob become now (local time) with 1 added to the
  // high word; only that record is written back.
  static void PatchREPLLOGTimeKeys(const CString& volumeCopy);

 private:
  Index& TheIndex() const { return *m_Context.index; }

  FileSystemContext m_Context;
  ITaskProgress* m_pProgress;
  AImageFile* m_pImageFile;
};

// The index's owner of the database volumes part of the content tree.
class ADatabaseVolumesComponent : public AVolumeCopyOwner {
 public:
  // The database volumes node gets one child per volume file (below);
  // other nodes get none. Volume files: the named ones and every mounted
  // volume with a non-zero GUID whose file exists, sorted by name ignoring
  // case, without duplicates and without the mail volume; a file whose
  // find data cannot be read is logged and left out.
  void PopulateChildren(Index& index, int node, bool selected) override;
  // A volume node: the file-system estimate of its copy's name with the
  // node's size; other nodes 0.
  ULONGLONG ImageSize(Index& index, int node) override;

  // Both volume walks of the last population succeeded.
  bool LastPopulateSucceeded() const { return m_bLastWalksOk; }

  // The path names a child of the database volumes node (populated when
  // needed), ignoring case.
  static bool IsVolumeFile(Index& index, const CString& path);

 private:
  bool m_bLastWalksOk = true;
};

// The database volumes component of the global working index (GetGlobal()),
// registered with it on each call.
ADatabaseVolumesComponent& GetGlobalDatabaseVolumesComponent();
// Registers the global component with the working index, the task
// component with the imaging task, and the flush of every mounted volume
// that RebootDevice runs before a reset.
void RegisterDatabaseVolumesComponent();
