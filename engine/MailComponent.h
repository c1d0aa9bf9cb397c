// The mail component: the device's mail under the mail top-level node of
// the content index: the messaging folder "\Windows\Messaging", the content
// folder of the MMS client when it is installed, both stored as ordinary
// folder and file entries, and the mail store's volume "\cemail.vol",
// which the mail store keeps open, stored as a database volume file entry
// from its boot-time copy (engine/DatabaseVolumes.h). The file walk leaves
// all three out of the file-system part.
//
// Log lines carry the class "AMail".
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "engine/DatabaseVolumes.h"
#include "engine/FileSystemComponent.h"
#include "engine/ImagingTask.h"
#include "image/Index.h"

class AImageFile;
class ITaskProgress;

namespace MailNames {
inline constexpr char16_t kMessagingFolder[] = u"\\Windows\\Messaging";
inline constexpr char16_t kMailVolume[] = u"\\cemail.vol";
// The MMS client's content folder: HKLM value "UAContentsPath" of this key.
inline constexpr char16_t kMmsKey[] = u"Software\\Arcsoft\\ArcSoft MMS UA\\Config\\Folder";
inline constexpr char16_t kMmsValue[] = u"UAContentsPath";
inline constexpr DWORD kMaxValueBytes = 520;
}  // namespace MailNames

// The MMS client's content folder read now; empty (an empty or missing
// value) means there is none.
CString ReadMmsContentsFolder();
// "\Windows\Messaging" or the MMS folder given (ignoring case).
bool IsMailFolder(const CString& path, const CString& mmsFolder);
// "\cemail.vol" or its boot-time copy (ignoring case).
bool IsMailVolume(const CString& path);

class AMail : public ATaskComponent {
 public:
  // Reads the MMS folder once.
  AMail(const FileSystemContext& context, ITaskProgress* progress, AImageFile* imageFile);

  // Stores every selected node below the mail node: folders and files as
  // file-system entries, the mail volume from its boot-time copy. A cancel
  // stops the walk with true.
  bool Backup() override;
  // Empties the mail folders the image puts back, then restores every
  // selected node; the volume goes to its boot-time copy. No mail node:
  // true.
  bool Restore() override;

 private:
  Index& TheIndex() const { return *m_Context.index; }
  // Empties a mail folder before its entries come back, when the image
  // holds it and it is selected: one left out of the restore keeps what
  // the device has.
  bool EmptyFolder(int top, const CString& folder);

  FileSystemContext m_Context;
  ITaskProgress* m_pProgress;
  AImageFile* m_pImageFile;
  CString m_MmsFolder;
};

// The index's owner of the mail part of the content tree; the boot-time
// copies it queues are those of the mail volume.
class AMailComponent : public AVolumeCopyOwner {
 public:
  // The mail node gets "\Windows\Messaging" (from its find data), the MMS
  // folder when one is configured, and "\cemail.vol" (TREE_DBVOLUME_FILE),
  // all with the node's selection; other nodes get none here (the folders'
  // own children come from the file walk). A missing messaging folder
  // ("Mail directory not found") or mail volume ("Mail volume not found")
  // makes the population fail; a missing MMS folder is only logged.
  void PopulateChildren(Index& index, int node, bool selected) override;
  // Folders, files and the volume are sized by their own owners.
  ULONGLONG ImageSize(Index& index, int node) override;

  bool LastPopulateSucceeded() const { return m_bLastPopulateOk; }

  // The stored-size total of the mail node's subtree (selected nodes); 0
  // without a mail node.
  static ULONGLONG GetMailSize(const Index& index);

 private:
  bool m_bLastPopulateOk = true;
};

// The mail component of the global working index (GetGlobal()), registered
// with it on each call.
AMailComponent& GetGlobalMailComponent();
// Registers the global component with the working index and the task
// component with the imaging task.
void RegisterMailComponent();
