// The content index: the tree of what a backup holds (or will hold), each
// node with its selection state and, once written, where its entry lies in
// the image. Stored at the image's end as the INDEX_ENTRY block
// (image/IndexFormat.h) and found again through the image tail.
//
// Nodes live in one array in creation order; node 0 is the root. The
// children of a node are consecutive nodes appended together, so the next
// sibling of n is n + 1 when that node has the same parent. Node numbers
// are int; -1 means none. Using a number outside the array ends the process
// (a programming error, never caused by image contents).
//
// The components that own parts of the tree (file system, registry, mail,
// database volumes, databases) plug in through IndexComponent; the index
// dispatches to them by node type. Every failure logs under class "Index".
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"
#include "image/ImageFormat.h"  // ComponentType codes

class AImageFile;
class AInclusionList;

// The components that own parts of the tree.
enum class IndexOwner { FileSystem, Registry, Mail, DatabaseVolumes, Databases };
constexpr size_t kIndexOwnerCount = 5;

class Index;

// What a component does for the index. The index does not own it.
class IndexComponent {
 public:
  virtual ~IndexComponent() = default;
  // Adds the children of node (Index::AddChildren; an empty list marks it
  // populated). selected: whether node is selected.
  virtual void PopulateChildren(Index& index, int node, bool selected) = 0;
  // The image size this component will write for one node.
  virtual ULONGLONG ImageSize(Index& index, int node) = 0;
  // Queues boot-time copies of locked files below a selected top-level
  // node, before a backup or after a restore.
  virtual bool AddBootCopiesForBackup(Index& index, int node);
  virtual bool AddBootCopiesForRestore(Index& index, int node);
};

// The top-level parts an inclusion list names.
struct IncludedKinds {
  bool fileSystem = true;
  bool mail = true;
  bool databases = true;
  bool registry = true;
};

class Index {
 public:
  struct Item {
    DWORD ComponentType = 0;
    std::u16string name;
    DWORD fileOffset = 0;  // position of the item's entry in the image
    DWORD sizeInImage = 0;
    DWORD crcValue = 0;
    DWORD userData = 0;  // a value of the owning component
    DWORD attributes = 0;
    FILETIME creationTime{};
    FILETIME lastAccessTime{};
    FILETIME lastWriteTime{};
    ULONGLONG fileSize = 0;
    DWORD OID = 0;
    BYTE selected = 1;
    BYTE partlySelected = 0;
  };

  struct Node {
    int parent = -1;
    int firstChild = -1;
    BYTE childrenPopulated = 0;
    Item item;
  };

  // A fresh tree: the root alone (type 255, empty name, selected).
  Index();

  // Back to a fresh tree; registered components stay.
  void Reset();
  // No nodes at all (what Load starts from).
  void Clear();
  int NodeCount() const { return static_cast<int>(m_Nodes.size()); }

  void SetComponent(IndexOwner owner, IndexComponent* component);

  // Tree access -----------------------------------------------------------
  int FirstChild(int n) const;
  int NextSibling(int n) const;
  int Parent(int n) const;
  bool HasChildren(int n) const;
  bool IsPopulated(int n) const;
  // Marks n populated without adding children.
  void SetPopulated(int n);
  DWORD NodeType(int n) const;
  const std::u16string& NodeName(int n) const;
  Item& NodeInfo(int n);
  const Item& NodeInfo(int n) const;
  DWORD UserData(int n) const;
  bool IsSelected(int n) const;
  // Also clears partly selected.
  void SetSelected(int n, bool value);
  bool IsPartial(int n) const;
  void SetPartial(int n, bool value);
  void SetLocation(int n, DWORD fileOffset, DWORD sizeInImage, DWORD crcValue, DWORD fileSizeLow,
                   DWORD fileSizeHigh);
  void SetTimes(int n, const FILETIME& creation, const FILETIME& lastAccess,
                const FILETIME& lastWrite);
  // The first child of the root with that type, or -1.
  int FindChildOfType(DWORD type) const;

  // Marks n populated and appends the items as its children (parent n, not
  // populated). A node that already has children keeps them: the call is
  // refused with an error.
  void AddChildren(int n, const std::vector<Item>& items);

  // The next selected node after n in a depth-first, parent-first walk of
  // the subtree below top; NextInSubtree(top, top) starts the walk. -1 at
  // the end. Unselected nodes are skipped with their subtrees.
  int NextInSubtree(int top, int n) const;

  // Asks the owning component to add n's children, unless n is populated.
  // Types without an owner are marked populated with no children; a type
  // whose component is not registered stays unpopulated.
  void PopulateChildren(int n, bool selected);
  // Populates every selected node, from the root down.
  void PopulateSelected();
  // Sum of the owning components' image sizes over the nodes that
  // NextInSubtree visits below n.
  ULONGLONG SizeOfSelected(int n);
  // Sum of the stored sizes (sizeInImage) of the nodes that NextInSubtree
  // visits below top; 0 when top is -1.
  ULONGLONG StoredSizeBelow(int top) const;

  // Appends the five top-level nodes under the root (21, 27, 31, 23, 24),
  // selected by the inclusion list's kinds (null: all selected).
  void AddTopLevelComponents(const AInclusionList* inclusionList);
  void AddTopLevelComponents(const IncludedKinds* kinds);
  bool AddBootCopiesForBackup();
  bool AddBootCopiesForRestore();

  // Deselects the nodes below the file-system node named like the running
  // program or the resource library (null: the program alone).
  void ExcludeProgramFiles(HMODULE resourceLibrary);
  // Upgrade mode only: deselects below the file-system node every name that
  // the upgrade data file lists. A damaged list deselects nothing.
  bool LoadUpgradeFileList(const CString& path, bool upgradeMode);
  // Deselects (logging "Deselected file: ") every node below the
  // file-system node whose name equals one of names, ignoring case.
  void DeselectFiles(const std::vector<std::u16string>& names);

  // Storing and loading ---------------------------------------------------
  // 80 + sum over selected nodes of (72 + 2 x name length) + 1.
  DWORD StoredSize() const;
  // Writes the INDEX_ENTRY block at the image's position. storedLength
  // receives the body's byte length (the image tail's fixed-part size).
  bool Store(AImageFile& image, bool encipher, DWORD* storedLength);
  // Reads an INDEX_ENTRY block at the image's position. A failed load
  // leaves the nodes read so far.
  bool Load(AImageFile& image, bool decipher);
  // Finds the block through the image tail and loads it.
  bool Locate(AImageFile& image, bool decipher);

 private:
  Node& At(int n);
  const Node& At(int n) const;
  IndexComponent* OwnerOf(IndexOwner owner) const;
  bool AddBootCopies(bool forRestore);
  int FirstSelectedChild(int n) const;
  int NextSelectedSibling(int n) const;
  std::vector<int> SelectedChildren(int n) const;
  bool StoreRecord(int n, DWORD childCount);
  // bodyLength: the body's length when known (exact: all of it must be
  // used), else the most it may take.
  bool LoadWithin(AImageFile& image, bool decipher, ULONGLONG bodyLength, bool exact);
  // remaining: bytes the records may still take; reduced as they are read.
  bool LoadBody(ULONGLONG& remaining, DWORD total);
  bool LoadRecord(int parent, ULONGLONG& remaining, DWORD& childCount);

  std::vector<Node> m_Nodes;
  AImageFile* m_ImageFile = nullptr;
  bool m_Encipher = false;
  std::array<IndexComponent*, kIndexOwnerCount> m_Components{};
};
