// CComponentTree: a tree view with tri-state check marks bound to a
// content index, so that a check mark selects the index nodes behind the
// item. The backup and restore pages show their component choice with it.
//
// Check marks are the items' state images (TVIS_STATEIMAGEMASK): 1
// unchecked, 2 checked, 3 partial. Item data: an index node number x 8
// (low bits 000) for an item that stands for a node; x 8 + 1 for an entry
// of the tree's table of node lists; other low bits (the root's 2, the
// categories' x 8 + 4) stand for no node.
#pragma once

#include <array>
#include <vector>

#include "ui/Mfc.h"

class Index;
struct OperationDescriptor;

class CComponentTree : public CTreeCtrl {
 public:
  enum CheckType { kCheck = 0, kUncheck = 1, kToggle = 2 };
  enum StateImage { kNone = 0, kUnchecked = 1, kChecked = 2, kPartial = 3 };
  // The categories under the root, by what they hold.
  enum Category { kCatA, kCatStorageCard, kCatMyDocuments, kCatMail, kCatRegistry, kCatFileSystem, kCatDatabases,
                  kCatDatabaseVolumes, kCategoryCount };

  // Normal images: the 25 tree bitmaps; state images: the check-mark strip
  // (none, unchecked, checked, partial); white is transparent. An image is
  // 16 x scale (13 x scale wide for the marks) as the library's bitmaps are
  // drawn for its screen. Deletes every item first. FALSE when a list
  // could not be made (a missing bitmap is logged and left out).
  BOOL CreateImageLists(BOOL flag);
  static constexpr UINT kTreeBitmaps[25] = {212, 213, 214, 265, 267, 270, 266, 269, 268, 272, 264, 271, 275,
                                            281, 280, 277, 276, 278, 279, 282, 283, 284, 287, 285, 286};
  static constexpr UINT kStateStrip = 229;
  static constexpr int kStateImageCount = 4;
  static constexpr COLORREF kMaskColour = 0xFFFFFF;
  // The shared item of the system volumes.
  static constexpr DWORD kStrSystemVolumes = 65381;
  static constexpr int kVolumeGroupImage = 4;

  // Binds the index and fills the tree: the root, its categories, their
  // children, each marked as the index selects it (a category or the root
  // is checked, partial or unchecked by what it holds); the root open. True.
  BOOL SetComponentList(Index* index);
  // Checks, unchecks or toggles an item, its subtree and the index nodes
  // behind them, then recomputes the ancestors. False without an index or
  // for a missing item.
  BOOL SetCheckType(HTREEITEM item, int type);
  // Sets the children (and their nodes) to selected, skipping children
  // whose nodes are partly selected. False without an index or when a
  // state change failed.
  BOOL SetChildStatus(HTREEITEM item, bool selected);
  // True when the root is checked or partial.
  BOOL IsRootChecked();
  // The descriptor's four include flags from the categories' marks.
  void UpdateSelectionFlags(OperationDescriptor& descriptor);

  int GetCheckState(HTREEITEM item) const;
  // The index nodes behind an item (none for items that stand for none).
  std::vector<int> NodesOf(HTREEITEM item) const;
  // Inserts one item per child node of `node` under parent, sorted (folders
  // first, then by name), with marks from the nodes' selection.
  void InsertChildren(HTREEITEM parent, int node);
  HTREEITEM Root() const { return m_hRoot; }
  HTREEITEM CategoryItem(Category c) const { return m_hCategories[c]; }
  // The shared item of the system volumes (null without one).
  HTREEITEM VolumeGroupItem() const { return m_hVolumeGroup; }
  BOOL ImageListFlag() const { return m_bImageListFlag; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  bool SetMark(HTREEITEM item, int mark);
  void SelectNodes(HTREEITEM item, bool selected);
  void UpdateParents(HTREEITEM item);
  // Marks an item checked, partial or unchecked by its children and sets
  // its own nodes to match.
  void MarkFromChildren(HTREEITEM item);
  void OnItemExpanded(HTREEITEM item);
  HTREEITEM AddCategory(Category c, int node);
  bool Included(Category c, bool partialCounts);
  // The node of an item that stands for exactly one node (data x 8), else -1.
  int SingleNodeOf(HTREEITEM item) const;
  // Re-inserts a childless item under another parent (same text, images,
  // data and mark) and deletes the old one; the new item.
  HTREEITEM MoveLeaf(HTREEITEM item, HTREEITEM parent);
  // The personal-information volume to category A, the system volumes
  // under one shared item of the database volumes.
  void SplitDatabaseVolumes(HTREEITEM volumes);
  // Images from resource bitmaps into a list; false when none was added.
  static bool AddBitmap(CImageList& list, UINT id);

  Index* m_pIndex = nullptr;
  HTREEITEM m_hRoot = nullptr;
  std::array<HTREEITEM, kCategoryCount> m_hCategories{};
  std::vector<std::vector<int>> m_NodeLists;  // entries of items with data x 8 + 1
  HTREEITEM m_hVolumeGroup = nullptr;
  CImageList m_NormalImages;
  CImageList m_StateImages;
  BOOL m_bImageListFlag = FALSE;
};
