#include "engine/MailComponent.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/Path.h"
#include "core/System.h"
#include "engine/DatabaseVolumes.h"
#include "engine/Global.h"
#include "engine/GlobalComponents.h"
#include "engine/RebootActions.h"
#include "engine/RegistryText.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"

namespace {

constexpr WCHAR kClass[] = u"AMail";

int MailNode(const Index& index) { return index.FindChildOfType(TREE_MAIL); }

bool SamePath(const CString& a, std::u16string_view b) { return ce::EqualNoCase(a.view(), b); }

// An item for a path from its find data; false when the path is missing.
bool ItemFromPath(const CString& path, DWORD type, bool selected, Index::Item& item) {
  WIN32_FIND_DATAW found;
  if (!GetFindData(path, &found)) return false;
  if (type == DIRECTORY_ENTRY && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) type = FILE_ENTRY;
  item = ItemFromFindData(type, path, found, selected);
  return true;
}

}  // namespace

CString ReadMmsContentsFolder() {
  return ReadRegistryText(HKEY_LOCAL_MACHINE, MailNames::kMmsKey, MailNames::kMmsValue, MailNames::kMaxValueBytes);
}

bool IsMailFolder(const CString& path, const CString& mmsFolder) {
  if (SamePath(path, MailNames::kMessagingFolder)) return true;
  return !mmsFolder.IsEmpty() && SamePath(path, mmsFolder.view());
}

bool IsMailVolume(const CString& path) {
  return SamePath(path, MailNames::kMailVolume) ||
         SamePath(path, (CString(MailNames::kMailVolume) + FileEntryFormat::kBootCopySuffix).view());
}

// AMail ------------------------------------------------------------------------

AMail::AMail(const FileSystemContext& context, ITaskProgress* progress, AImageFile* imageFile)
    : m_Context(context), m_pProgress(progress), m_pImageFile(imageFile), m_MmsFolder(ReadMmsContentsFolder()) {}

bool AMail::Backup() {
  ClearCancel();
  Index& index = TheIndex();
  int top = MailNode(index);
  if (top == -1) return true;
  ADirectory directory(m_Context, m_pProgress, m_pImageFile, DIRECTORY_ENTRY, FILE_ENTRY, true);
  CString text;
  for (int n = index.NextInSubtree(top, top); n != -1 && !m_bCancel; n = index.NextInSubtree(top, n)) {
    const DWORD type = index.NodeType(n);
    const CString name(index.NodeName(n));
    if (type == DIRECTORY_ENTRY) {
      if (!directory.BackupDirectory(n)) {
        LogError(GetLastError(), CString(u"BackupDirectory failed for ") + name, kClass, __LINE__);
        return false;
      }
    } else if (type == FILE_ENTRY) {
      if (!directory.BackupFile(n)) {
        LogError(GetLastError(), CString(u"BackupFile failed for ") + name, kClass, __LINE__);
        return false;
      }
    } else if (type == TREE_DBVOLUME_FILE) {
      if (!BackupVolumeFile(m_Context, m_pProgress, m_pImageFile, n)) return false;
    } else {
      text.Format(u"Unexpected content type during mail backup %u", type);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
  }
  return true;
}

bool AMail::EmptyFolder(int top, const CString& folder) {
  Index& index = TheIndex();
  int node = -1;
  for (int c = index.FirstChild(top); c != -1; c = index.NextSibling(c))
    if (SamePath(folder, index.NodeName(c))) node = c;
  if (node == -1 || !index.IsSelected(node)) return true;
  ADirectory directory(m_Context, folder, m_pProgress, m_pImageFile);
  directory.KeepRestoreTargets(node);
  if (!directory.DeleteContents(folder)) {
    LogError(GetLastError(), CString(u"DeleteContents() failed for ") + folder, kClass, __LINE__);
    return false;
  }
  return true;
}

bool AMail::Restore() {
  Index& index = TheIndex();
  int top = MailNode(index);
  if (top == -1) return true;
  if (!EmptyFolder(top, MailNames::kMessagingFolder)) return false;
  if (!m_MmsFolder.IsEmpty() && !EmptyFolder(top, m_MmsFolder)) return false;

  ADirectory directory(m_Context, m_pProgress, m_pImageFile, DIRECTORY_ENTRY, FILE_ENTRY, true);
  CString text;
  for (int n = index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n)) {
    const Index::Item& item = index.NodeInfo(n);
    AImageFileHeader header;
    if (!ReadIndexedEntryHeader(*m_pImageFile, item, header, kClass)) return false;
    bool ok;
    if (item.ComponentType == DIRECTORY_ENTRY) {
      ok = directory.RestoreDir(n);
    } else if (item.ComponentType == FILE_ENTRY) {
      ok = directory.RestoreFile(n);
    } else if (item.ComponentType == TREE_DBVOLUME_FILE) {
      ok = RestoreVolumeFile(m_Context, m_pProgress, m_pImageFile, n);
    } else {
      text.Format(u"Unexpected header type during mail restore %u", item.ComponentType);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
    if (!ok) return false;
  }
  return true;
}

// AMailComponent ---------------------------------------------------------------

void AMailComponent::PopulateChildren(Index& index, int node, bool selected) {
  if (index.IsPopulated(node)) return;
  if (index.NodeType(node) != TREE_MAIL) {
    index.SetPopulated(node);
    return;
  }
  m_bLastPopulateOk = true;
  std::vector<Index::Item> items;
  Index::Item item;
  if (ItemFromPath(MailNames::kMessagingFolder, DIRECTORY_ENTRY, selected, item)) {
    items.push_back(item);
  } else {
    Log(GetLastError(), u"Mail directory not found", kClass, __LINE__);
    m_bLastPopulateOk = false;
  }
  CString mms = ReadMmsContentsFolder();
  if (!mms.IsEmpty()) {
    if (ItemFromPath(mms, DIRECTORY_ENTRY, selected, item))
      items.push_back(item);
    else
      Log(GetLastError(), u"MMS directory not found", kClass, __LINE__);
  }
  if (ItemFromPath(MailNames::kMailVolume, TREE_DBVOLUME_FILE, selected, item)) {
    items.push_back(item);
  } else {
    Log(GetLastError(), u"Mail volume not found", kClass, __LINE__);
    m_bLastPopulateOk = false;
  }
  index.AddChildren(node, items);
}

ULONGLONG AMailComponent::ImageSize(Index&, int) { return 0; }

ULONGLONG AMailComponent::GetMailSize(const Index& index) { return index.StoredSizeBelow(MailNode(index)); }

AMailComponent& GetGlobalMailComponent() { return GlobalIndexOwner<AMailComponent>(IndexOwner::Mail); }

void RegisterMailComponent() {
  GetGlobalMailComponent();
  SetFileSystemTaskComponent<AMail>(TaskPart::Mail);
}
