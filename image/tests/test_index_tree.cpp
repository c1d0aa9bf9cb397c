// The content tree: walks, selection, component dispatch, deselection by
// name and the upgrade data file.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ce/com.h"
#include "ce/text.h"
#include "core/System.h"
#include "image/InclusionList.h"
#include "image/Index.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {

Index::Item MakeItem(DWORD type, std::u16string name, bool selected = true) {
  Index::Item item;
  item.ComponentType = type;
  item.name = std::move(name);
  item.selected = selected ? 1 : 0;
  return item;
}

// Records what the index asks of a component.
class FakeComponent : public IndexComponent {
 public:
  void PopulateChildren(Index& index, int node, bool selected) override {
    populated.push_back(node);
    populatedSelected.push_back(selected);
    auto it = children.find(index.NodeName(node));
    index.AddChildren(node, it == children.end() ? std::vector<Index::Item>{} : it->second);
  }
  ULONGLONG ImageSize(Index& index, int node) override {
    sized.push_back(node);
    return index.NodeInfo(node).fileSize;
  }
  bool AddBootCopiesForBackup(Index&, int node) override {
    backupCopies.push_back(node);
    return true;
  }
  bool AddBootCopiesForRestore(Index&, int node) override {
    restoreCopies.push_back(node);
    return !failRestore;
  }
  std::map<std::u16string, std::vector<Index::Item>> children;
  std::vector<int> populated, sized, backupCopies, restoreCopies;
  std::vector<bool> populatedSelected;
  bool failRestore = false;
};

// root
//   21 fs
//     3 \a        (selected)
//       4 \a\x
//       3 \a\sub  (unselected)
//         4 \a\sub\y
//       4 \a\z
//     4 \b
//   27, 31, 23, 24
struct SampleTree {
  Index index;
  int fs, a, ax, asub, asuby, az, b;
  SampleTree() {
    index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
    fs = index.FindChildOfType(TREE_FILESYSTEM);
    index.AddChildren(fs, {MakeItem(DIRECTORY_ENTRY, u"\\a"), MakeItem(FILE_ENTRY, u"\\b")});
    a = index.FirstChild(fs);
    b = index.NextSibling(a);
    index.AddChildren(a, {MakeItem(FILE_ENTRY, u"\\a\\x"),
                          MakeItem(DIRECTORY_ENTRY, u"\\a\\sub", false),
                          MakeItem(FILE_ENTRY, u"\\a\\z")});
    ax = index.FirstChild(a);
    asub = ax + 1;
    az = ax + 2;
    index.AddChildren(asub, {MakeItem(FILE_ENTRY, u"\\a\\sub\\y")});
    asuby = index.FirstChild(asub);
  }
  std::vector<int> Walk(int top) const {
    std::vector<int> out;
    for (int n = index.NextInSubtree(top, top); n != -1; n = index.NextInSubtree(top, n))
      out.push_back(n);
    return out;
  }
};

}  // namespace

TEST(IndexTree, FreshTreeAndTopLevelOrder) {
  Index index;
  ASSERT_EQ(index.NodeCount(), 1);
  EXPECT_EQ(index.NodeType(0), TREE_ROOT);
  EXPECT_TRUE(index.NodeName(0).empty());
  EXPECT_TRUE(index.IsSelected(0));
  EXPECT_EQ(index.FindChildOfType(TREE_FILESYSTEM), -1);

  IncludedKinds kinds;
  kinds.databases = false;
  kinds.mail = false;
  index.AddTopLevelComponents(&kinds);
  std::vector<DWORD> types;
  std::vector<bool> selected;
  for (int c = index.FirstChild(0); c != -1; c = index.NextSibling(c)) {
    types.push_back(index.NodeType(c));
    selected.push_back(index.IsSelected(c));
    EXPECT_FALSE(index.IsPopulated(c));
  }
  EXPECT_EQ(types, (std::vector<DWORD>{21, 27, 31, 23, 24}));
  EXPECT_EQ(selected, (std::vector<bool>{true, false, false, true, false}));
  EXPECT_TRUE(index.IsPopulated(0));
  EXPECT_EQ(index.FindChildOfType(TREE_REGISTRY), 4);
}

TEST(IndexTree, TopLevelSelectionFollowsTheInclusionList) {
  TestDevice dev;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const std::string xml =
      "<inclusion-list><toplevel name=\"registry\"/><!-- c -->"
      "<toplevel name=\"databases\"/></inclusion-list>";
  AInclusionList list(u"\\list.xml");
  bool loaded = list.LoadBytes(xml.data(), xml.size());
  CoUninitialize();
  ASSERT_TRUE(loaded) << ce::ToUtf8(list.GetError().str());
  Index index;
  index.AddTopLevelComponents(&list);
  std::vector<bool> selected;
  for (int c = index.FirstChild(0); c != -1; c = index.NextSibling(c))
    selected.push_back(index.IsSelected(c));
  // 21 file system, 27 volumes, 31 databases, 23 registry, 24 mail.
  EXPECT_EQ(selected, (std::vector<bool>{false, true, true, true, false}));

  Index all;
  all.AddTopLevelComponents(static_cast<const AInclusionList*>(nullptr));
  for (int c = all.FirstChild(0); c != -1; c = all.NextSibling(c)) EXPECT_TRUE(all.IsSelected(c));
}

TEST(IndexTree, SiblingsStopAtTheGroupEnd) {
  SampleTree t;
  // \b is followed in the array by \a\x, which is no sibling of it.
  EXPECT_EQ(t.index.NextSibling(t.b), -1);
  EXPECT_EQ(t.index.NextSibling(t.az), -1);
  EXPECT_EQ(t.index.NextSibling(0), -1);
  EXPECT_EQ(t.index.Parent(t.asuby), t.asub);
}

TEST(IndexTree, WalkSkipsUnselectedSubtreesAndStaysBelowTop) {
  SampleTree t;
  EXPECT_EQ(t.Walk(t.fs), (std::vector<int>{t.a, t.ax, t.az, t.b}));
  // A walk of \a does not step on to its sibling \b.
  EXPECT_EQ(t.Walk(t.a), (std::vector<int>{t.ax, t.az}));
  // Selecting the subfolder brings its subtree back in order.
  t.index.SetSelected(t.asub, true);
  EXPECT_EQ(t.Walk(t.fs), (std::vector<int>{t.a, t.ax, t.asub, t.asuby, t.az, t.b}));
  // An unselected top has nothing to walk.
  t.index.SetSelected(t.a, false);
  EXPECT_TRUE(t.Walk(t.a).empty());
  EXPECT_EQ(t.Walk(t.fs), (std::vector<int>{t.b}));
  // A leaf has nothing below it.
  EXPECT_TRUE(t.Walk(t.b).empty());
}

TEST(IndexTree, SetSelectedClearsPartial) {
  SampleTree t;
  t.index.SetPartial(t.a, true);
  EXPECT_TRUE(t.index.IsPartial(t.a));
  t.index.SetSelected(t.a, true);
  EXPECT_FALSE(t.index.IsPartial(t.a));
  EXPECT_TRUE(t.index.IsSelected(t.a));
}

TEST(IndexTree, SetLocationAndTimes) {
  SampleTree t;
  t.index.SetLocation(t.b, 1000, 50, 0xCAFEBABE, 7, 2);
  const Index::Item& item = t.index.NodeInfo(t.b);
  EXPECT_EQ(item.fileOffset, 1000u);
  EXPECT_EQ(item.sizeInImage, 50u);
  EXPECT_EQ(item.crcValue, 0xCAFEBABEu);
  EXPECT_EQ(item.fileSize, (2ull << 32) | 7);
  t.index.SetTimes(t.b, FILETIME{1, 2}, FILETIME{3, 4}, FILETIME{5, 6});
  EXPECT_EQ(item.creationTime.dwHighDateTime, 2u);
  EXPECT_EQ(item.lastAccessTime.dwLowDateTime, 3u);
  EXPECT_EQ(item.lastWriteTime.dwHighDateTime, 6u);
}

TEST(IndexTree, AddChildrenTwiceKeepsTheFirstChildren) {
  SampleTree t;
  int before = t.index.NodeCount();
  t.index.AddChildren(t.a, {MakeItem(FILE_ENTRY, u"\\a\\late")});
  EXPECT_EQ(t.index.NodeCount(), before);
  EXPECT_EQ(t.index.FirstChild(t.a), t.ax);
}

TEST(IndexTreeDeathTest, NodeOutsideTheTreeIsFatal) {
  Index index;
  EXPECT_DEATH(index.NodeType(5), "outside the tree");
  EXPECT_DEATH(index.IsSelected(-1), "outside the tree");
}

TEST(IndexTree, PopulateDispatchesByType) {
  Index index;
  FakeComponent files, registry, mail, volumes, databases;
  index.SetComponent(IndexOwner::FileSystem, &files);
  index.SetComponent(IndexOwner::Registry, &registry);
  index.SetComponent(IndexOwner::Mail, &mail);
  index.SetComponent(IndexOwner::DatabaseVolumes, &volumes);
  index.SetComponent(IndexOwner::Databases, &databases);
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  int fs = index.FindChildOfType(TREE_FILESYSTEM);
  index.NodeInfo(fs).name = u"FS";
  files.children[u"FS"] = {MakeItem(DIRECTORY_ENTRY, u"\\d"), MakeItem(FILE_ENTRY, u"\\f"),
                           MakeItem(DIRECTORY_ENTRY, u"\\off", false)};
  files.children[u"\\d"] = {MakeItem(FILE_ENTRY, u"\\d\\g")};
  index.SetSelected(index.FindChildOfType(TREE_MAIL), false);

  index.PopulateSelected();
  int d = index.FirstChild(fs);
  int f = d + 1, off = d + 2;
  // Selected folders go to the file system; files have no owner and are
  // marked populated; the unselected folder is left alone.
  EXPECT_EQ(files.populated, (std::vector<int>{fs, d}));
  EXPECT_TRUE(index.IsPopulated(f));
  EXPECT_FALSE(index.IsPopulated(off));
  EXPECT_EQ(registry.populated, (std::vector<int>{index.FindChildOfType(TREE_REGISTRY)}));
  EXPECT_TRUE(mail.populated.empty());
  EXPECT_EQ(volumes.populated.size(), 1u);
  EXPECT_EQ(databases.populated, (std::vector<int>{index.FindChildOfType(TREE_DATABASES)}));

  // A populated node is never asked again; an unselected one is passed so.
  index.PopulateChildren(fs, true);
  EXPECT_EQ(files.populated.size(), 2u);
  index.PopulateChildren(off, false);
  EXPECT_EQ(files.populated.back(), off);
  EXPECT_FALSE(files.populatedSelected.back());
}

TEST(IndexTree, PopulateWithoutComponentLeavesNodeUnpopulated) {
  Index index;
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  int fs = index.FindChildOfType(TREE_FILESYSTEM);
  index.PopulateChildren(fs, true);
  EXPECT_FALSE(index.IsPopulated(fs));
}

TEST(IndexTree, SizeOfSelectedAsksTheOwnersOfVisitedNodes) {
  SampleTree t;
  FakeComponent files, registry;
  t.index.SetComponent(IndexOwner::FileSystem, &files);
  t.index.SetComponent(IndexOwner::Registry, &registry);
  t.index.NodeInfo(t.ax).fileSize = 10;
  t.index.NodeInfo(t.asuby).fileSize = 1000;  // below an unselected folder
  t.index.NodeInfo(t.az).fileSize = 20;
  t.index.NodeInfo(t.b).fileSize = 300;
  EXPECT_EQ(t.index.SizeOfSelected(t.fs), 330u);
  EXPECT_EQ(files.sized, (std::vector<int>{t.a, t.ax, t.az, t.b}));
  // Registry items count through the registry; other types count 0.
  int reg = t.index.FindChildOfType(TREE_REGISTRY);
  Index::Item hive = MakeItem(TREE_REGISTRY_ITEM, u"hive");
  hive.fileSize = 5;
  t.index.AddChildren(reg, {hive, MakeItem(RECORD_ENTRY, u"other")});
  EXPECT_EQ(t.index.SizeOfSelected(reg), 5u);
  EXPECT_EQ(registry.sized.size(), 1u);
}

TEST(IndexTree, BootCopiesGoToTheRightComponents) {
  Index index;
  FakeComponent files, registry, mail, volumes, databases;
  index.SetComponent(IndexOwner::FileSystem, &files);
  index.SetComponent(IndexOwner::Registry, &registry);
  index.SetComponent(IndexOwner::Mail, &mail);
  index.SetComponent(IndexOwner::DatabaseVolumes, &volumes);
  index.SetComponent(IndexOwner::Databases, &databases);
  index.AddTopLevelComponents(static_cast<const IncludedKinds*>(nullptr));
  index.SetSelected(index.FindChildOfType(TREE_MAIL), false);

  EXPECT_TRUE(index.AddBootCopiesForBackup());
  EXPECT_EQ(files.backupCopies.size(), 1u);
  EXPECT_TRUE(registry.backupCopies.empty());
  EXPECT_TRUE(mail.backupCopies.empty());  // not selected
  EXPECT_EQ(volumes.backupCopies.size(), 1u);
  EXPECT_TRUE(databases.backupCopies.empty());

  registry.failRestore = true;
  EXPECT_FALSE(index.AddBootCopiesForRestore());
  EXPECT_EQ(files.restoreCopies.size(), 1u);
  EXPECT_EQ(registry.restoreCopies.size(), 1u);
  EXPECT_EQ(volumes.restoreCopies.size(), 1u);
  EXPECT_TRUE(databases.restoreCopies.empty());
}

TEST(IndexTree, DeselectFilesOnlyBelowTheFileSystemIgnoringCase) {
  SampleTree t;
  int mail = t.index.FindChildOfType(TREE_MAIL);
  t.index.AddChildren(mail, {MakeItem(FILE_ENTRY, u"\\a\\x")});
  t.index.DeselectFiles({u"\\A\\X", u"\\A\\SUB\\Y"});
  EXPECT_FALSE(t.index.IsSelected(t.ax));
  EXPECT_FALSE(t.index.IsSelected(t.asuby));  // unselected parents are searched too
  EXPECT_TRUE(t.index.IsSelected(t.az));
  EXPECT_TRUE(t.index.IsSelected(t.index.FirstChild(mail)));
}

TEST(IndexTree, ExcludeProgramFilesDeselectsTheRunningProgram) {
  TestDevice dev;
  CString program = System::GetProgramPath(true);
  ASSERT_FALSE(program.IsEmpty());
  SampleTree t;
  t.index.AddChildren(t.b, {});
  t.index.NodeInfo(t.az).name = ce::DeviceUpper(program.str());
  t.index.ExcludeProgramFiles(nullptr);
  EXPECT_FALSE(t.index.IsSelected(t.az));
  EXPECT_TRUE(t.index.IsSelected(t.ax));
}

namespace {

std::string U32(DWORD v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                     static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::string Entry(const std::u16string& name) {
  std::string out = U32(static_cast<DWORD>(name.size()));
  for (char16_t c : name) out += std::string{static_cast<char>(c), static_cast<char>(c >> 8)};
  return out;
}

}  // namespace

TEST(IndexTree, UpgradeFileListDeselectsListedFiles) {
  TestDevice dev;
  // Two words, some padding, then the list at offset 12.
  dev.PutFile(u"\\list.sbu", U32(0xDEAD) + U32(12) + "pad!" + Entry(u"\\a\\z") + Entry(u"\\B"));
  SampleTree t;
  // Outside upgrade mode nothing happens.
  EXPECT_TRUE(t.index.LoadUpgradeFileList(u"\\list.sbu", false));
  EXPECT_TRUE(t.index.IsSelected(t.az));
  EXPECT_TRUE(t.index.LoadUpgradeFileList(u"\\list.sbu", true));
  EXPECT_FALSE(t.index.IsSelected(t.az));
  EXPECT_FALSE(t.index.IsSelected(t.b));
  EXPECT_TRUE(t.index.IsSelected(t.ax));
  EXPECT_FALSE(t.index.LoadUpgradeFileList(u"\\missing.sbu", true));
}

TEST(IndexTree, DamagedUpgradeFileListDeselectsNothing) {
  TestDevice dev;
  const std::string good = Entry(u"\\a\\z");
  const std::vector<std::string> damaged = {
      U32(0),                                             // no offset word
      U32(0) + U32(400) + good,                           // offset beyond the end
      U32(0) + U32(8) + good + U32(5) + "ab",             // name cut short
      U32(0) + U32(8) + good + U32(0x7FFFFFFF) + "abcd",  // absurd length
      U32(0) + U32(8) + good + "xy",                      // count cut short
  };
  for (size_t i = 0; i < damaged.size(); ++i) {
    dev.PutFile(u"\\bad.sbu", damaged[i]);
    SampleTree t;
    EXPECT_FALSE(t.index.LoadUpgradeFileList(u"\\bad.sbu", true)) << i;
    EXPECT_TRUE(t.index.IsSelected(t.az)) << i;
  }
}
