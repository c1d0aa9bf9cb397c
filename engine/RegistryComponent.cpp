#include "engine/RegistryComponent.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/GlobalComponents.h"
#include "engine/Operation.h"
#include "engine/RebootActions.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"

namespace {

constexpr WCHAR kClass[] = u"ARegistry";
constexpr DWORD kMaxHiveValue = 260;  // characters
constexpr ULONGLONG kItemOverhead = 122;

bool g_HivePathsRead = false;

// The value as a string of at most kMaxHiveValue characters; false when it
// is missing, no string or longer.
bool ReadBootVar(HKEY key, LPCWSTR name, CString& out) {
  WCHAR buffer[kMaxHiveValue + 1] = {};
  DWORD size = sizeof buffer - sizeof(WCHAR);
  DWORD type = 0;
  LONG error = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  buffer[size / sizeof(WCHAR)] = 0;
  out = buffer;
  return !out.IsEmpty();
}

CString Rooted(const CString& path) {
  return path.GetLength() > 0 && path[0] == u'\\' ? path : CString(u"\\") + path;
}

bool RemoveFile(LPCWSTR path) {
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);  // a failure shows in the delete
  return DeleteFileW(path) != FALSE;
}

// The hive files lie in "\temp", which a destructive restore may have
// taken away.
void MakeTempFolder() { CreateDirectoryW(u"\\temp", nullptr); }

int RegistryNode(const Index& index) { return index.FindChildOfType(TREE_REGISTRY); }

}  // namespace

// Hive paths -----------------------------------------------------------------

const RegistryHivePaths& LiveHivePaths() {
  RegistryHivePaths& paths = GetRegistryHivePaths();
  if (g_HivePathsRead) return paths;
  g_HivePathsRead = true;
  paths = RegistryHivePaths{};
  HKEY key = nullptr;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init\\BootVars", 0, KEY_READ, &key);
  if (error != ERROR_SUCCESS) {
    LogWarning(static_cast<DWORD>(error), u"Couldn't open hive key", kClass, __LINE__);
    return paths;
  }
  CString value;
  if (ReadBootVar(key, u"SystemHive", value))
    paths.hklm = Rooted(value);
  else
    LogWarning(GetLastError(), u"Couldn't get hklm hive path", kClass, __LINE__);
  if (ReadBootVar(key, u"ProfileDir", value))
    paths.hkcu = Rooted(value) + u"\\default\\user.hv";
  else
    LogWarning(GetLastError(), u"Couldn't get hkcu hive path", kClass, __LINE__);
  RegCloseKey(key);
  return paths;
}

void ForgetLiveHivePaths() {
  g_HivePathsRead = false;
  GetRegistryHivePaths() = RegistryHivePaths{};
}

bool IsHiveFile(const CString& path) {
  if (path.IsEmpty()) return false;
  const RegistryHivePaths& live = LiveHivePaths();
  for (const CString* name : {&live.hklm, &live.hkcu})
    if (!name->IsEmpty() && path.CompareNoCase(*name) == 0) return true;
  return path.CompareNoCase(kHklmHiveFile) == 0 || path.CompareNoCase(kHkcuHiveFile) == 0;
}

// ARegistry --------------------------------------------------------------------

ARegistry::ARegistry(const FileSystemContext& context, ITaskProgress* progress, AImageFile* imageFile)
    : m_Context(context), m_pProgress(progress), m_pImageFile(imageFile) {}

void ARegistry::Cancel() {
  ATaskComponent::Cancel();
  if (m_pRunning) m_pRunning->Cancel();
}

bool ARegistry::Backup() {
  ClearCancel();
  Index& index = TheIndex();
  int top = RegistryNode(index);
  if (top == -1) return true;
  for (int n = index.NextInSubtree(top, top); n != -1 && !m_bCancel; n = index.NextInSubtree(top, n)) {
    DWORD type = index.NodeType(n);
    if (type != TREE_REGISTRY_ITEM) {
      CString text;
      text.Format(u"Unexpected content type during registry backup %u", type);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
    if (!SaveHive(n)) return false;
  }
  return true;
}

bool ARegistry::SaveHive(int node) {
  Index& index = TheIndex();
  const Index::Item& item = index.NodeInfo(node);
  HKEY root;
  if (item.userData == kHiveUserDataHklm) {
    root = HKEY_LOCAL_MACHINE;
  } else if (item.userData == kHiveUserDataHkcu) {
    root = HKEY_CURRENT_USER;
  } else {
    CString text;
    text.Format(u"Unknown registry root %u for %s", item.userData, CString(item.name).GetString());
    LogError(ERROR_INVALID_PARAMETER, text, kClass, __LINE__);
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const CString name(item.name);
  if (m_pProgress) {
    m_pProgress->SetStatusText(name.view());
    m_pProgress->UpdateProgress(true);
  }
  RemoveFile(name.GetString());
  MakeTempFolder();
  LONG error = RegSaveKeyW(root, name.GetString(), nullptr);
  if (error != ERROR_SUCCESS) {
    LogError(static_cast<DWORD>(error), u"RegSaveKey failed", kClass, __LINE__);
    SetLastError(static_cast<DWORD>(error));
    return false;
  }
  // The entry describes the saved file: its attributes and times.
  WIN32_FIND_DATAW found;
  if (System::FileExists(name, &found)) {
    index.NodeInfo(node).attributes = found.dwFileAttributes;
    index.SetTimes(node, found.ftCreationTime, found.ftLastAccessTime, found.ftLastWriteTime);
  }

  bool stored;
  {
    ADirectory directory(m_Context, m_pProgress, m_pImageFile, DIRECTORY_ENTRY, TREE_REGISTRY_ITEM);
    m_pRunning = &directory;
    if (m_bCancel) directory.Cancel();
    stored = directory.BackupFile(node);
    m_pRunning = nullptr;
  }
  DWORD storeError = GetLastError();
  RemoveFile(name.GetString());
  // The file store passes over a file it cannot open by deselecting it: for
  // a hive that would lose the registry from the image.
  if (!stored || !index.IsSelected(node)) {
    LogError(storeError, CString(u"BackupFile failed for ") + name, kClass, __LINE__);
    return false;
  }
  return true;
}

bool ARegistry::Restore() {
  Index& index = TheIndex();
  int top = RegistryNode(index);
  if (top == -1) return true;
  CString text;
  for (int n = index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n)) {
    const Index::Item& item = index.NodeInfo(n);
    AImageFileHeader header;
    if (!ReadIndexedEntryHeader(*m_pImageFile, item, header, kClass)) return false;
    if (item.ComponentType != TREE_REGISTRY_ITEM) {
      text.Format(u"Unexpected header type during registry restore %u", item.ComponentType);
      LogError(0, text, kClass, __LINE__);
      return false;
    }
    if (!RestoreHive(n)) return false;
  }
  return true;
}

bool ARegistry::RestoreHive(int node) {
  const CString name(TheIndex().NodeName(node));
  // A file left from an earlier run must not pass for the restored hive.
  RemoveFile(name.GetString());
  MakeTempFolder();
  bool ok;
  {
    // The hive is written whatever the upgrade mode: it only replaces the
    // live hive through the boot.
    FileSystemContext context = m_Context;
    context.upgradeFlag = nullptr;
    ADirectory directory(context, m_pProgress, m_pImageFile, DIRECTORY_ENTRY, TREE_REGISTRY_ITEM);
    ok = directory.RestoreFile(node);
  }
  if (!ok) return false;
  // The file store logs and passes over a file it cannot write; a damaged
  // hive must never be put in place of the live one.
  HKEY probe = nullptr;
  LONG error = ce::RegOpenHiveFile(name.GetString(), nullptr, &probe);
  if (error != ERROR_SUCCESS) {
    LogError(static_cast<DWORD>(error), CString(u"Restored hive is not usable: ") + name, kClass,
             __LINE__);
    RemoveFile(name.GetString());
    SetLastError(static_cast<DWORD>(error));
    return false;
  }
  RegCloseKey(probe);
  return true;
}

// ARegistryComponent -------------------------------------------------------------

void ARegistryComponent::PopulateChildren(Index& index, int node, bool selected) {
  if (index.IsPopulated(node)) return;
  if (index.NodeType(node) != TREE_REGISTRY) {
    index.SetPopulated(node);
    return;
  }
  std::vector<Index::Item> items;
  for (auto [name, userData] : {std::pair{kHklmHiveFile, kHiveUserDataHklm},
                                std::pair{kHkcuHiveFile, kHiveUserDataHkcu}}) {
    Index::Item item;
    item.ComponentType = TREE_REGISTRY_ITEM;
    item.name = name;
    item.userData = userData;
    item.fileSize = kHiveEstimatedSize;
    item.sizeInImage = kHiveEstimatedSize;
    item.selected = selected ? 1 : 0;
    items.push_back(item);
  }
  index.AddChildren(node, items);
}

ULONGLONG ARegistryComponent::ImageSize(Index& index, int node) {
  if (index.NodeType(node) != TREE_REGISTRY_ITEM) return 0;
  const Index::Item& item = index.NodeInfo(node);
  return item.fileSize + 2 * item.name.size() + kItemOverhead;
}

bool ARegistryComponent::AddBootCopiesForRestore(Index& index, int node) {
  for (int c = index.FirstChild(node); c != -1; c = index.NextSibling(c)) {
    if (!index.IsSelected(c) || index.NodeType(c) != TREE_REGISTRY_ITEM) continue;
    const CString name(index.NodeName(c));
    // Only a hive that the restore wrote replaces the live one.
    if (!System::FileExists(name)) {
      LogWarning(ERROR_FILE_NOT_FOUND, CString(u"Restored hive missing, not replaced: ") + name,
                 kClass, __LINE__);
      continue;
    }
    if (index.UserData(c) == kHiveUserDataHklm)
      RebootActions::Instance().SetHklmPath(name);
    else if (index.UserData(c) == kHiveUserDataHkcu)
      RebootActions::Instance().SetHkcuPath(name);
  }
  return true;
}

ULONGLONG ARegistryComponent::StoredSize(const Index& index) { return index.StoredSizeBelow(RegistryNode(index)); }

ARegistryComponent& GetGlobalRegistryComponent() {
  return GlobalIndexOwner<ARegistryComponent>(IndexOwner::Registry);
}

void RegisterRegistryComponent() {
  GetGlobalRegistryComponent();
  SetFileSystemTaskComponent<ARegistry>(TaskPart::Registry);
}
