// The component tree: check marks and the content index move together,
// partial marks follow the children, taps and Return toggle, opening an
// item fills the level below, and the include flags follow the categories.
#include "app/ComponentTree.h"
#include "ce/text.h"
#include "cesim/treeview.h"
#include "dlg_fixture.h"
#include "engine/Operation.h"
#include "image/Index.h"

namespace {

class ComponentTree : public dlgtest::DialogTest {
 protected:
  ComponentTree() {
    RECT r{0, 26, 240, 294};
    EXPECT_TRUE(parent_.CreateEx(0, nullptr, u"Components", WS_VISIBLE, r, nullptr, 0));
    HWND h = CreateWindowExW(0, WC_TREEVIEWW, u"", WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_LINESATROOT, 0, 0,
                             240, 260, parent_.m_hWnd, reinterpret_cast<HMENU>(static_cast<intptr_t>(2015)), nullptr,
                             nullptr);
    EXPECT_TRUE(tree_.SubclassWindow(h));
    tree_.SetImageList(reinterpret_cast<HIMAGELIST>(static_cast<uintptr_t>(0x229)), TVSIL_STATE);
    BuildIndex();
  }
  ~ComponentTree() override {
    tree_.DestroyWindow();
    parent_.DestroyWindow();
  }

  // Files: My Documents (a.txt, b.txt), Windows (folder zz with deep.txt,
  // file aa.txt), top.txt; mail: Inbox; registry: HKLM.
  void BuildIndex() {
    index_.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
    fs_ = index_.FindChildOfType(21);
    mail_ = index_.FindChildOfType(24);
    registry_ = index_.FindChildOfType(23);
    index_.AddChildren(fs_, {Item(3, u"\\My Documents"), Item(3, u"\\Windows"), Item(4, u"\\top.txt")});
    const int docs = index_.FirstChild(fs_), windows = docs + 1;
    index_.AddChildren(docs, {Item(4, u"\\My Documents\\a.txt"), Item(4, u"\\My Documents\\b.txt")});
    index_.AddChildren(windows, {Item(4, u"\\Windows\\aa.txt"), Item(3, u"\\Windows\\zz")});
    index_.AddChildren(index_.FirstChild(windows) + 1, {Item(4, u"\\Windows\\zz\\deep.txt")});
    index_.AddChildren(mail_, {Item(30, u"Inbox")});
    index_.AddChildren(registry_, {Item(3, u"HKLM")});
  }
  static Index::Item Item(DWORD type, const char16_t* name) {
    Index::Item it;
    it.ComponentType = type;
    it.name = name;
    return it;
  }

  std::u16string TextOf(HTREEITEM item) {
    CString s = tree_.GetItemText(item);
    return std::u16string(static_cast<LPCWSTR>(s), static_cast<size_t>(s.GetLength()));
  }
  HTREEITEM ChildNamed(HTREEITEM parent, const std::u16string& text) {
    for (HTREEITEM c = tree_.GetChildItem(parent); c; c = tree_.GetNextSiblingItem(c))
      if (TextOf(c) == text) return c;
    ADD_FAILURE() << "no child " << ce::ToUtf8(text);
    return nullptr;
  }
  int Mark(HTREEITEM item) { return tree_.GetCheckState(item); }
  // Every item that stands for a node shows what the index holds.
  void ExpectIndexFollowsMarks(HTREEITEM item = TVI_ROOT) {
    for (HTREEITEM c = item == TVI_ROOT ? tree_.GetRootItem() : tree_.GetChildItem(item); c;
         c = tree_.GetNextSiblingItem(c)) {
      for (int n : tree_.NodesOf(c)) {
        if (index_.IsPartial(n)) continue;  // kept as it was
        EXPECT_EQ(index_.IsSelected(n), Mark(c) != CComponentTree::kUnchecked) << ce::ToUtf8(TextOf(c));
      }
      ExpectIndexFollowsMarks(c);
    }
  }
  // A tap in client coordinates through the window procedure.
  void TapStateIcon(HTREEITEM item) {
    tree_.EnsureVisible(item);
    RECT label;
    ASSERT_TRUE(tree_.GetItemRect(item, &label, TRUE));
    ce::ModelTree t;
    ASSERT_TRUE(ce::DescribeTree(tree_.m_hWnd, &t));
    const int x = label.left - t.imageWidth - t.stateWidth / 2, y = (label.top + label.bottom) / 2;
    tree_.SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(x, y));
    tree_.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }

  CWnd parent_;
  CComponentTree tree_;
  Index index_;
  int fs_ = -1, mail_ = -1, registry_ = -1;
};

TEST_F(ComponentTree, ListShowsTheCategoriesCheckedAndSorted) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  HTREEITEM root = tree_.Root();
  ASSERT_EQ(tree_.GetRootItem(), root);
  EXPECT_EQ(TextOf(root), u"This device");
  EXPECT_EQ(tree_.GetItemData(root), 2u);
  EXPECT_EQ(tree_.GetItemState(root, TVIS_EXPANDED), static_cast<UINT>(TVIS_EXPANDED));
  // The documents folder first, as a category of its own; no empty
  // categories (no databases).
  std::vector<std::u16string> cats;
  for (HTREEITEM c = tree_.GetChildItem(root); c; c = tree_.GetNextSiblingItem(c)) {
    cats.push_back(TextOf(c));
    EXPECT_EQ(Mark(c), CComponentTree::kChecked);
  }
  EXPECT_EQ(cats, (std::vector<std::u16string>{u"My Documents", u"Files", u"Mail", u"Registry"}));
  HTREEITEM files = tree_.CategoryItem(CComponentTree::kCatFileSystem);
  std::vector<std::u16string> names;
  for (HTREEITEM c = tree_.GetChildItem(files); c; c = tree_.GetNextSiblingItem(c)) names.push_back(TextOf(c));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Windows", u"top.txt"}));
  // A folder before a file whatever the names; the level below is there
  // for the expand buttons.
  HTREEITEM windows = ChildNamed(files, u"Windows");
  EXPECT_EQ(TextOf(tree_.GetChildItem(windows)), u"zz");
  EXPECT_EQ(tree_.GetItemData(windows) % 8, 0u);
  EXPECT_EQ(Mark(root), CComponentTree::kChecked);
  ExpectIndexFollowsMarks();
}

// The folder walk leaves out what the exclusions name (a storage card, the
// user's list, file types) by deselecting it; listing the tree keeps that
// and shows it, so that a backup from the page leaves those out too.
TEST_F(ComponentTree, ListingKeepsWhatTheFolderWalkDeselected) {
  const int docs = index_.FirstChild(fs_);
  const int b = index_.FirstChild(docs) + 1;
  const int top = docs + 2;
  const int deep = index_.FirstChild(index_.FirstChild(docs + 1) + 1);
  index_.SetSelected(b, false);
  index_.SetSelected(top, false);
  index_.SetSelected(deep, false);
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  EXPECT_FALSE(index_.IsSelected(b));
  EXPECT_FALSE(index_.IsSelected(top));
  EXPECT_FALSE(index_.IsSelected(deep)) << "below the level the tree shows";
  HTREEITEM docsItem = tree_.CategoryItem(CComponentTree::kCatMyDocuments);
  HTREEITEM files = tree_.CategoryItem(CComponentTree::kCatFileSystem);
  EXPECT_EQ(Mark(ChildNamed(docsItem, u"b.txt")), CComponentTree::kUnchecked);
  EXPECT_EQ(Mark(ChildNamed(docsItem, u"a.txt")), CComponentTree::kChecked);
  EXPECT_EQ(Mark(docsItem), CComponentTree::kPartial);
  EXPECT_EQ(Mark(ChildNamed(files, u"top.txt")), CComponentTree::kUnchecked);
  EXPECT_EQ(Mark(files), CComponentTree::kPartial);
  EXPECT_EQ(Mark(tree_.CategoryItem(CComponentTree::kCatMail)), CComponentTree::kChecked);
  EXPECT_EQ(Mark(tree_.Root()), CComponentTree::kPartial);
  EXPECT_TRUE(tree_.IsRootChecked());
  ExpectIndexFollowsMarks();
  OperationDescriptor op;
  tree_.UpdateSelectionFlags(op);
  EXPECT_EQ(op.includeFileSystem, 1) << "a partly selected file system still counts";
  // A category checked by hand takes in what it holds again.
  ASSERT_TRUE(tree_.SetCheckType(docsItem, CComponentTree::kCheck));
  EXPECT_TRUE(index_.IsSelected(b));
}

TEST_F(ComponentTree, PartialMarksFollowTheChildrenAndATapOnPartialUnchecks) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  HTREEITEM docs = tree_.CategoryItem(CComponentTree::kCatMyDocuments);
  HTREEITEM a = ChildNamed(docs, u"a.txt"), b = ChildNamed(docs, u"b.txt");
  ASSERT_TRUE(tree_.SetCheckType(a, CComponentTree::kToggle));
  EXPECT_EQ(Mark(a), CComponentTree::kUnchecked);
  EXPECT_EQ(Mark(docs), CComponentTree::kPartial);
  EXPECT_EQ(Mark(tree_.Root()), CComponentTree::kPartial);
  ExpectIndexFollowsMarks();

  // A tap on the partial item unchecks it and all below it.
  TapStateIcon(docs);
  EXPECT_EQ(Mark(docs), CComponentTree::kUnchecked);
  EXPECT_EQ(Mark(b), CComponentTree::kUnchecked);
  EXPECT_FALSE(index_.IsSelected(static_cast<int>(tree_.GetItemData(b) / 8)));
  EXPECT_EQ(Mark(tree_.Root()), CComponentTree::kPartial);  // the other categories still hold
  ExpectIndexFollowsMarks();
  EXPECT_EQ(tree_.GetSelectedItem(), nullptr);  // the tap was the mark's, not the base's

  // Checking the last unchecked child of a partial parent checks it;
  // unchecking the only checked child of a checked parent unchecks it.
  ASSERT_TRUE(tree_.SetCheckType(a, CComponentTree::kCheck));
  EXPECT_EQ(Mark(docs), CComponentTree::kPartial);
  ASSERT_TRUE(tree_.SetCheckType(b, CComponentTree::kCheck));
  EXPECT_EQ(Mark(docs), CComponentTree::kChecked);
  EXPECT_EQ(Mark(tree_.Root()), CComponentTree::kChecked);
  HTREEITEM mail = tree_.CategoryItem(CComponentTree::kCatMail);
  ASSERT_TRUE(tree_.SetCheckType(tree_.GetChildItem(mail), CComponentTree::kUncheck));
  EXPECT_EQ(Mark(mail), CComponentTree::kUnchecked);
  ExpectIndexFollowsMarks();
}

TEST_F(ComponentTree, ChildWithPartlySelectedNodesKeepsItsMark) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  HTREEITEM windows = ChildNamed(tree_.CategoryItem(CComponentTree::kCatFileSystem), u"Windows");
  HTREEITEM zz = ChildNamed(windows, u"zz"), aa = ChildNamed(windows, u"aa.txt");
  const int zzNode = static_cast<int>(tree_.GetItemData(zz) / 8);
  index_.SetPartial(zzNode, true);
  tree_.SetItemState(zz, INDEXTOSTATEIMAGEMASK(3), TVIS_STATEIMAGEMASK);
  ASSERT_TRUE(tree_.SetCheckType(windows, CComponentTree::kUncheck));
  EXPECT_EQ(Mark(aa), CComponentTree::kUnchecked);
  EXPECT_EQ(Mark(zz), CComponentTree::kPartial);
  EXPECT_TRUE(index_.IsPartial(zzNode));
  ASSERT_TRUE(tree_.SetCheckType(windows, CComponentTree::kCheck));
  EXPECT_EQ(Mark(zz), CComponentTree::kPartial);
  EXPECT_TRUE(index_.IsPartial(zzNode));
}

TEST_F(ComponentTree, ReturnTogglesTheCaretAndOpeningFillsTheLevelBelow) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  HTREEITEM windows = ChildNamed(tree_.CategoryItem(CComponentTree::kCatFileSystem), u"Windows");
  HTREEITEM zz = ChildNamed(windows, u"zz");
  EXPECT_EQ(tree_.GetChildItem(zz), nullptr);
  // Opening "Windows" (the parent hears it too) fills the level below zz.
  ASSERT_TRUE(tree_.Expand(windows, TVE_EXPAND));
  HTREEITEM deep = tree_.GetChildItem(zz);
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(TextOf(deep), u"deep.txt");
  EXPECT_EQ(Mark(deep), CComponentTree::kChecked);
  ASSERT_TRUE(tree_.SelectItem(zz));
  tree_.SendMessage(WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(Mark(zz), CComponentTree::kUnchecked);
  EXPECT_EQ(Mark(deep), CComponentTree::kUnchecked);
  EXPECT_EQ(Mark(windows), CComponentTree::kPartial);
  ExpectIndexFollowsMarks();
  // In a dialog, Return goes to the tree, not the default button.
  MSG m{tree_.m_hWnd, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_TRUE(tree_.SendMessage(WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&m)) & DLGC_WANTALLKEYS);
}

TEST_F(ComponentTree, IncludeFlagsFollowTheCategories) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  OperationDescriptor d;
  tree_.UpdateSelectionFlags(d);
  EXPECT_TRUE(d.includeFileSystem);
  EXPECT_TRUE(d.includeMail);
  EXPECT_TRUE(d.includeRegistry);
  EXPECT_FALSE(d.includeDatabases);  // the index has no databases
  // A registry only partly checked is not included; partial files are.
  index_.AddChildren(index_.FirstChild(registry_), {Item(3, u"HKLM\\A"), Item(3, u"HKLM\\B")});
  HTREEITEM reg = tree_.CategoryItem(CComponentTree::kCatRegistry);
  HTREEITEM hklm = tree_.GetChildItem(reg);
  ASSERT_TRUE(tree_.Expand(reg, TVE_EXPAND));
  ASSERT_TRUE(tree_.Expand(hklm, TVE_EXPAND));
  ASSERT_NE(tree_.GetChildItem(hklm), nullptr);
  ASSERT_TRUE(tree_.SetCheckType(tree_.GetChildItem(hklm), CComponentTree::kUncheck));
  EXPECT_EQ(Mark(reg), CComponentTree::kPartial);
  HTREEITEM docs = tree_.CategoryItem(CComponentTree::kCatMyDocuments);
  ASSERT_TRUE(tree_.SetCheckType(tree_.GetChildItem(docs), CComponentTree::kUncheck));
  ASSERT_TRUE(tree_.SetCheckType(tree_.CategoryItem(CComponentTree::kCatFileSystem), CComponentTree::kUncheck));
  ASSERT_TRUE(tree_.SetCheckType(tree_.CategoryItem(CComponentTree::kCatMail), CComponentTree::kUncheck));
  tree_.UpdateSelectionFlags(d);
  EXPECT_FALSE(d.includeRegistry);
  EXPECT_TRUE(d.includeFileSystem);  // the documents are partly checked
  EXPECT_FALSE(d.includeMail);
  EXPECT_TRUE(tree_.IsRootChecked());
}

// ---- database volumes: the personal-information volume and the system volumes

class VolumeTree : public ComponentTree {
 protected:
  VolumeTree() {
    volumes_ = index_.FindChildOfType(27);
    index_.AddChildren(volumes_, {Item(26, u"\\mxip_notify.vol"), Item(26, u"\\MXIP_System.vol"),
                                  Item(26, u"\\other.vol"), Item(26, u"\\pim.vol")});
  }
  int NodeOf(HTREEITEM item) { return static_cast<int>(tree_.GetItemData(item) / 8); }
  std::vector<std::u16string> Children(HTREEITEM parent) {
    std::vector<std::u16string> names;
    for (HTREEITEM c = tree_.GetChildItem(parent); c; c = tree_.GetNextSiblingItem(c)) names.push_back(TextOf(c));
    return names;
  }
  int volumes_ = -1;
};

TEST_F(VolumeTree, PimVolumeIsACategoryAndSystemVolumesShareOneItem) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  HTREEITEM root = tree_.Root();
  EXPECT_EQ(Children(root), (std::vector<std::u16string>{u"My Documents", u"Database volumes",
                                                         u"Contacts, calendar and tasks", u"Files", u"Mail",
                                                         u"Registry"}));
  HTREEITEM pimCat = tree_.CategoryItem(CComponentTree::kCatA);
  ASSERT_NE(pimCat, nullptr);
  int image = -1, selected = -1;
  ASSERT_TRUE(tree_.GetItemImage(pimCat, image, selected));
  EXPECT_EQ(image, 20);
  EXPECT_EQ(tree_.GetItemData(pimCat) % 8, 2u);  // stands for no node
  EXPECT_EQ(Children(pimCat), std::vector<std::u16string>{u"pim.vol"});
  HTREEITEM volumes = tree_.CategoryItem(CComponentTree::kCatDatabaseVolumes);
  EXPECT_EQ(Children(volumes), (std::vector<std::u16string>{u"System volumes", u"other.vol"}));
  HTREEITEM group = tree_.VolumeGroupItem();
  ASSERT_EQ(tree_.GetChildItem(volumes), group);
  EXPECT_EQ(tree_.GetItemData(group) % 8, 1u);  // a list of nodes
  EXPECT_EQ(tree_.GetChildItem(group), nullptr);
  std::vector<int> systemNodes = tree_.NodesOf(group);
  ASSERT_EQ(systemNodes.size(), 2u);
  EXPECT_EQ(index_.NodeName(systemNodes[0]), u"\\mxip_notify.vol");
  EXPECT_EQ(index_.NodeName(systemNodes[1]), u"\\MXIP_System.vol");
  EXPECT_EQ(Mark(group), CComponentTree::kChecked);
  ExpectIndexFollowsMarks();

  // The shared item leaves out both system volumes, and only them.
  ASSERT_TRUE(tree_.SetCheckType(group, CComponentTree::kToggle));
  for (int n : systemNodes) EXPECT_FALSE(index_.IsSelected(n));
  EXPECT_TRUE(index_.IsSelected(NodeOf(ChildNamed(volumes, u"other.vol"))));
  EXPECT_TRUE(index_.IsSelected(NodeOf(tree_.GetChildItem(pimCat))));
  EXPECT_EQ(Mark(volumes), CComponentTree::kPartial);
  ExpectIndexFollowsMarks();
  // Opening the category does not bring the volumes back one by one.
  ASSERT_TRUE(tree_.Expand(volumes, TVE_EXPAND));
  EXPECT_EQ(Children(volumes), (std::vector<std::u16string>{u"System volumes", u"other.vol"}));
  ASSERT_TRUE(tree_.SetCheckType(group, CComponentTree::kToggle));
  for (int n : systemNodes) EXPECT_TRUE(index_.IsSelected(n));
  EXPECT_EQ(Mark(volumes), CComponentTree::kChecked);
  ExpectIndexFollowsMarks();
}

TEST_F(VolumeTree, ThePersonalInformationCategoryCountsForTheDatabases) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  OperationDescriptor d;
  tree_.UpdateSelectionFlags(d);
  EXPECT_TRUE(d.includeDatabases);
  ASSERT_TRUE(tree_.SetCheckType(tree_.CategoryItem(CComponentTree::kCatDatabaseVolumes), CComponentTree::kUncheck));
  tree_.UpdateSelectionFlags(d);
  EXPECT_TRUE(d.includeDatabases);  // the personal-information volume still goes
  HTREEITEM pimCat = tree_.CategoryItem(CComponentTree::kCatA);
  ASSERT_TRUE(tree_.SetCheckType(pimCat, CComponentTree::kToggle));
  EXPECT_FALSE(index_.IsSelected(NodeOf(tree_.GetChildItem(pimCat))));
  tree_.UpdateSelectionFlags(d);
  EXPECT_FALSE(d.includeDatabases);
  ExpectIndexFollowsMarks();
}

TEST_F(ComponentTree, ImageListsHoldTheTreeImagesAndTheMarks) {
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  ASSERT_TRUE(tree_.CreateImageLists(TRUE));
  EXPECT_TRUE(tree_.ImageListFlag());
  EXPECT_EQ(tree_.GetCount(), 0u);  // every item went
  EXPECT_EQ(tree_.Root(), nullptr);
  EXPECT_EQ(ImageList_GetImageCount(tree_.GetImageList(TVSIL_NORMAL)), 25);
  EXPECT_EQ(ImageList_GetImageCount(tree_.GetImageList(TVSIL_STATE)), 4);
  // Filled again, the tree uses them.
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  EXPECT_EQ(Mark(tree_.Root()), CComponentTree::kChecked);
}

TEST_F(ComponentTree, WithoutAnIndexNothingChanges) {
  HTREEITEM item = tree_.InsertItem(u"loose");
  EXPECT_FALSE(tree_.SetCheckType(item, CComponentTree::kCheck));
  EXPECT_FALSE(tree_.SetChildStatus(item, true));
  EXPECT_EQ(Mark(item), CComponentTree::kNone);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "SetCheckType - No index to work with"), 1);
  EXPECT_EQ(Count(log, "SetChildStatus - No index to work with"), 1);
  // A stale item is refused once an index is bound.
  ASSERT_TRUE(tree_.SetComponentList(&index_));
  EXPECT_FALSE(tree_.SetCheckType(item, CComponentTree::kCheck));
}

}  // namespace
