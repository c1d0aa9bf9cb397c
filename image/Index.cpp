// The content tree: access, building, selection, component dispatch and the
// upgrade data file. Storing and loading: IndexStore.cpp.
#include "image/Index.h"

#include <cstdio>
#include <cstdlib>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/module.h"
#include "ce/text.h"
#include "core/Log.h"
#include "core/System.h"
#include "image/File.h"
#include "image/InclusionList.h"

namespace {
const WCHAR kClass[] = u"Index";
}  // namespace

bool IndexComponent::AddBootCopiesForBackup(Index&, int) { return true; }
bool IndexComponent::AddBootCopiesForRestore(Index&, int) { return true; }

Index::Index() { Reset(); }

void Index::Reset() {
  m_Nodes.clear();
  Node root;
  root.item.ComponentType = TREE_ROOT;
  m_Nodes.push_back(root);
}

void Index::Clear() { m_Nodes.clear(); }

void Index::SetComponent(IndexOwner owner, IndexComponent* component) {
  m_Components[static_cast<size_t>(owner)] = component;
}

IndexComponent* Index::OwnerOf(IndexOwner owner) const {
  return m_Components[static_cast<size_t>(owner)];
}

Index::Node& Index::At(int n) {
  return const_cast<Node&>(static_cast<const Index*>(this)->At(n));
}

const Index::Node& Index::At(int n) const {
  if (n < 0 || static_cast<size_t>(n) >= m_Nodes.size()) {
    std::fprintf(stderr, "Index: node %d outside the tree of %zu nodes\n", n, m_Nodes.size());
    std::abort();
  }
  return m_Nodes[static_cast<size_t>(n)];
}

// Tree access ---------------------------------------------------------------

int Index::FirstChild(int n) const { return At(n).firstChild; }

int Index::NextSibling(int n) const {
  const Node& node = At(n);
  size_t next = static_cast<size_t>(n) + 1;
  if (next < m_Nodes.size() && m_Nodes[next].parent == node.parent && node.parent != -1)
    return static_cast<int>(next);
  return -1;
}

int Index::Parent(int n) const { return At(n).parent; }
bool Index::HasChildren(int n) const { return At(n).firstChild != -1; }
bool Index::IsPopulated(int n) const { return At(n).childrenPopulated != 0; }
void Index::SetPopulated(int n) { At(n).childrenPopulated = 1; }
DWORD Index::NodeType(int n) const { return At(n).item.ComponentType; }
const std::u16string& Index::NodeName(int n) const { return At(n).item.name; }
Index::Item& Index::NodeInfo(int n) { return At(n).item; }
const Index::Item& Index::NodeInfo(int n) const { return At(n).item; }
DWORD Index::UserData(int n) const { return At(n).item.userData; }
bool Index::IsSelected(int n) const { return At(n).item.selected != 0; }

void Index::SetSelected(int n, bool value) {
  Item& item = At(n).item;
  item.selected = value ? 1 : 0;
  item.partlySelected = 0;
}

bool Index::IsPartial(int n) const { return At(n).item.partlySelected != 0; }
void Index::SetPartial(int n, bool value) { At(n).item.partlySelected = value ? 1 : 0; }

void Index::SetLocation(int n, DWORD fileOffset, DWORD sizeInImage, DWORD crcValue,
                        DWORD fileSizeLow, DWORD fileSizeHigh) {
  Item& item = At(n).item;
  item.fileOffset = fileOffset;
  item.sizeInImage = sizeInImage;
  item.crcValue = crcValue;
  item.fileSize = (static_cast<ULONGLONG>(fileSizeHigh) << 32) | fileSizeLow;
}

void Index::SetTimes(int n, const FILETIME& creation, const FILETIME& lastAccess,
                     const FILETIME& lastWrite) {
  Item& item = At(n).item;
  item.creationTime = creation;
  item.lastAccessTime = lastAccess;
  item.lastWriteTime = lastWrite;
}

int Index::FindChildOfType(DWORD type) const {
  if (m_Nodes.empty()) return -1;
  for (int c = FirstChild(0); c != -1; c = NextSibling(c))
    if (NodeType(c) == type) return c;
  return -1;
}

void Index::AddChildren(int n, const std::vector<Item>& items) {
  Node& node = At(n);
  if (node.firstChild != -1) {
    LogError(0, u"AddChildren on a node that has children", kClass, __LINE__);
    return;
  }
  node.childrenPopulated = 1;
  if (items.empty()) return;
  node.firstChild = NodeCount();
  for (const Item& item : items) {
    Node child;
    child.parent = n;
    child.item = item;
    m_Nodes.push_back(std::move(child));
  }
}

int Index::FirstSelectedChild(int n) const {
  for (int c = FirstChild(n); c != -1; c = NextSibling(c))
    if (IsSelected(c)) return c;
  return -1;
}

int Index::NextSelectedSibling(int n) const {
  for (int s = NextSibling(n); s != -1; s = NextSibling(s))
    if (IsSelected(s)) return s;
  return -1;
}

std::vector<int> Index::SelectedChildren(int n) const {
  std::vector<int> out;
  for (int c = FirstChild(n); c != -1; c = NextSibling(c))
    if (IsSelected(c)) out.push_back(c);
  return out;
}

int Index::NextInSubtree(int top, int n) const {
  if (IsSelected(n)) {
    int child = FirstSelectedChild(n);
    if (child != -1) return child;
  }
  // Never step beside top: the walk covers its subtree only.
  for (int m = n; m != top && m != -1; m = Parent(m)) {
    int sibling = NextSelectedSibling(m);
    if (sibling != -1) return sibling;
  }
  return -1;
}

// Component dispatch --------------------------------------------------------

void Index::PopulateChildren(int n, bool selected) {
  if (IsPopulated(n)) return;
  IndexOwner owner;
  switch (NodeType(n)) {
    case DIRECTORY_ENTRY:
    case TREE_FILESYSTEM: owner = IndexOwner::FileSystem; break;
    case TREE_REGISTRY: owner = IndexOwner::Registry; break;
    case TREE_MAIL: owner = IndexOwner::Mail; break;
    case TREE_DBVOLUMES: owner = IndexOwner::DatabaseVolumes; break;
    case TREE_DATABASE_GROUP:
    case TREE_DATABASES: owner = IndexOwner::Databases; break;
    default: SetPopulated(n); return;
  }
  if (IndexComponent* component = OwnerOf(owner)) component->PopulateChildren(*this, n, selected);
}

void Index::PopulateSelected() {
  if (m_Nodes.empty()) return;
  // Explicit stack: trees loaded from images may be deep.
  std::vector<int> pending{0};
  while (!pending.empty()) {
    int n = pending.back();
    pending.pop_back();
    if (!IsSelected(n)) continue;
    PopulateChildren(n, true);
    std::vector<int> children = SelectedChildren(n);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

ULONGLONG Index::StoredSizeBelow(int top) const {
  if (top == -1) return 0;
  ULONGLONG total = 0;
  for (int n = NextInSubtree(top, top); n != -1; n = NextInSubtree(top, n)) total += NodeInfo(n).sizeInImage;
  return total;
}

ULONGLONG Index::SizeOfSelected(int n) {
  ULONGLONG total = 0;
  for (int m = NextInSubtree(n, n); m != -1; m = NextInSubtree(n, m)) {
    IndexOwner owner;
    switch (NodeType(m)) {
      case DIRECTORY_ENTRY:
      case FILE_ENTRY:
      case TREE_FILESYSTEM: owner = IndexOwner::FileSystem; break;
      case TREE_DBVOLUME_FILE: owner = IndexOwner::DatabaseVolumes; break;
      case TREE_REGISTRY_ITEM: owner = IndexOwner::Registry; break;
      case TREE_DATABASE_GROUP:
      case TREE_DATABASE:
      case TREE_DATABASES: owner = IndexOwner::Databases; break;
      default: continue;
    }
    if (IndexComponent* component = OwnerOf(owner)) total += component->ImageSize(*this, m);
  }
  return total;
}

// Building the top of the tree ---------------------------------------------

void Index::AddTopLevelComponents(const AInclusionList* inclusionList) {
  if (!inclusionList) {
    AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
    return;
  }
  IncludedKinds kinds;
  kinds.fileSystem = inclusionList->IncludesFileSystem();
  kinds.mail = inclusionList->IncludesMail();
  kinds.databases = inclusionList->IncludesDatabases();
  kinds.registry = inclusionList->IncludesRegistry();
  AddTopLevelComponents(&kinds);
}

void Index::AddTopLevelComponents(const IncludedKinds* kinds) {
  IncludedKinds all;
  if (!kinds) kinds = &all;
  if (m_Nodes.empty()) Reset();
  const std::pair<DWORD, bool> top[] = {
      {TREE_FILESYSTEM, kinds->fileSystem}, {TREE_DBVOLUMES, kinds->databases},
      {TREE_DATABASES, kinds->databases},   {TREE_REGISTRY, kinds->registry},
      {TREE_MAIL, kinds->mail},
  };
  std::vector<Item> items;
  for (const auto& [type, selected] : top) {
    Item item;
    item.ComponentType = type;
    item.selected = selected ? 1 : 0;
    items.push_back(item);
  }
  AddChildren(0, items);
}

bool Index::AddBootCopies(bool forRestore) {
  bool ok = true;
  if (m_Nodes.empty()) return ok;
  for (int c = FirstChild(0); c != -1; c = NextSibling(c)) {
    if (!IsSelected(c)) continue;
    IndexComponent* component = nullptr;
    switch (NodeType(c)) {
      case TREE_FILESYSTEM: component = OwnerOf(IndexOwner::FileSystem); break;
      // Registry hives are only ever put back at boot.
      case TREE_REGISTRY: component = forRestore ? OwnerOf(IndexOwner::Registry) : nullptr; break;
      case TREE_MAIL: component = OwnerOf(IndexOwner::Mail); break;
      case TREE_DBVOLUMES: component = OwnerOf(IndexOwner::DatabaseVolumes); break;
      default: break;
    }
    if (!component) continue;
    bool done = forRestore ? component->AddBootCopiesForRestore(*this, c) : component->AddBootCopiesForBackup(*this, c);
    if (!done) ok = false;
  }
  return ok;
}

bool Index::AddBootCopiesForBackup() { return AddBootCopies(false); }

bool Index::AddBootCopiesForRestore() { return AddBootCopies(true); }

// Deselecting named files ---------------------------------------------------

void Index::DeselectFiles(const std::vector<std::u16string>& names) {
  int fileSystem = FindChildOfType(TREE_FILESYSTEM);
  if (fileSystem == -1 || names.empty()) return;
  std::vector<std::u16string> upper;
  for (const auto& name : names) upper.push_back(ce::DeviceUpper(name));
  // Every node below the file-system node, selected or not.
  std::vector<int> pending;
  for (int c = FirstChild(fileSystem); c != -1; c = NextSibling(c)) pending.push_back(c);
  while (!pending.empty()) {
    int n = pending.back();
    pending.pop_back();
    std::u16string name = ce::DeviceUpper(NodeName(n));
    for (const auto& u : upper) {
      if (name == u) {
        SetSelected(n, false);
        Log(0, CString(u"Deselected file: ") + NodeName(n), kClass, __LINE__);
        break;
      }
    }
    for (int c = FirstChild(n); c != -1; c = NextSibling(c)) pending.push_back(c);
  }
}

void Index::ExcludeProgramFiles(HMODULE resourceLibrary) {
  std::vector<std::u16string> names;
  CString program = System::GetProgramPath(true);
  if (!program.IsEmpty()) names.push_back(program.str());
  if (resourceLibrary) {
    WCHAR path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(resourceLibrary, path, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) names.emplace_back(path, length);
  }
  DeselectFiles(names);
}

bool Index::LoadUpgradeFileList(const CString& path, bool upgradeMode) {
  if (!upgradeMode) return true;
  Log(0, u"Loading upgrade filelist", kClass, __LINE__);
  Log(0, path, kClass, __LINE__);
  AFile file(path);
  if (!file.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
    LogError(file.GetError(), u"cannot open Upgrade data file", kClass, __LINE__);
    return false;
  }
  auto readU32 = [&file](DWORD& value, DWORD& got) {
    BYTE b[4] = {};
    got = 0;
    if (!file.Read(b, 4, &got)) return false;
    value = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
    return true;
  };
  DWORD skipped = 0, offset = 0, got = 0;
  if (!readU32(skipped, got) || got != 4 || !readU32(offset, got) || got != 4) {
    LogError(file.GetError(), u"Upgrade data file too short", kClass, __LINE__);
    return false;
  }
  if (offset > 0x7FFFFFFFu || !file.SetFilePointer(static_cast<LONG>(offset), FILE_BEGIN)) {
    LogError(file.GetError(), u"Upgrade data file list offset outside the file", kClass,
             __LINE__);
    return false;
  }
  DWORD size = 0;
  if (!file.GetFileSize(&size)) return false;
  std::vector<std::u16string> names;
  for (;;) {
    DWORD position = 0;
    if (!file.GetFilePointer(&position)) return false;
    if (position >= size) break;  // the end of the list
    DWORD count = 0;
    if (!readU32(count, got)) {
      LogError(file.GetError(), u"Upgrade data file read failed", kClass, __LINE__);
      return false;
    }
    if (got != 4 || count > MAX_PATH) {
      LogError(0, u"Upgrade data file entry damaged", kClass, __LINE__);
      return false;
    }
    std::u16string name(count, u'\0');
    std::vector<BYTE> bytes(count * 2);
    if (count > 0 && (!file.Read(bytes.data(), count * 2, &got) || got != count * 2)) {
      LogError(file.GetError(), u"Upgrade data file entry damaged", kClass, __LINE__);
      return false;
    }
    for (DWORD i = 0; i < count; ++i)
      name[i] = static_cast<WCHAR>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    while (!name.empty() && name.back() == u'\0') name.pop_back();
    Log(0, name, kClass, __LINE__);
    names.push_back(std::move(name));
  }
  DeselectFiles(names);
  return true;
}
