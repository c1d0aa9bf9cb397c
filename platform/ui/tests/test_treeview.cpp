// The tree view control: items and their order, states, expanding with
// children added late, the caret, hit testing, taps and keys, and what the
// screen file shows.
#include <functional>

#include "cesim/treeview.h"
#include "testkit/TestDevice.h"
#include "ui/ScreenFile.h"
#include "ui/TreeCtrl.h"
#include "ui/qt/ScreenModel.h"
#include "win32_support.h"

using namespace w32test;

namespace {

struct TreeNote {
  UINT code;
  HTREEITEM oldItem, newItem;
  UINT action;
  LPARAM oldData;
};

// The tree's parent: records its notifications and lets a test answer them.
std::vector<TreeNote> g_notes;
std::function<LRESULT(NMHDR*)> g_answer;

LRESULT ParentProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    auto* hdr = reinterpret_cast<NMHDR*>(lParam);
    TreeNote n{hdr->code, nullptr, nullptr, 0, 0};
    if (hdr->code == TVN_SELCHANGINGW || hdr->code == TVN_SELCHANGEDW || hdr->code == TVN_ITEMEXPANDINGW ||
        hdr->code == TVN_ITEMEXPANDEDW || hdr->code == TVN_DELETEITEMW) {
      auto* nm = reinterpret_cast<NMTREEVIEWW*>(lParam);
      n = TreeNote{hdr->code, nm->itemOld.hItem, nm->itemNew.hItem, nm->action, nm->itemOld.lParam};
    }
    g_notes.push_back(n);
    return g_answer ? g_answer(hdr) : 0;
  }
  return DefWindowProcW(h, msg, wParam, lParam);
}

class TreeView : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ParentProc;
    wc.lpszClassName = u"TreeTestParent";
    RegisterClassW(&wc);
    g_notes.clear();
    g_answer = nullptr;
    host_ = CreateWindowExW(0, u"TreeTestParent", u"Tree", WS_VISIBLE, 0, 26, 240, 294, nullptr, nullptr, nullptr,
                            nullptr);
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override { g_answer = nullptr; }

  HWND MakeTree(DWORD style, int height = 200) {
    tree_ = Child(host_, WC_TREEVIEWW, u"", style, 2015, 10, 10, 200, height);
    EXPECT_NE(tree_, nullptr);
    ctl_.Attach(tree_);
    return tree_;
  }
  ~TreeView() override { ctl_.Detach(); }

  HTREEITEM Add(const char16_t* text, HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST, LPARAM data = 0) {
    return ctl_.InsertItem(TVIF_TEXT | TVIF_PARAM, text, 0, 0, 0, 0, data, parent, after);
  }
  std::u16string TextOf(HTREEITEM item) {
    CString s = ctl_.GetItemText(item);
    return std::u16string(static_cast<LPCWSTR>(s), static_cast<size_t>(s.GetLength()));
  }
  std::vector<std::u16string> Children(HTREEITEM parent) {
    std::vector<std::u16string> out;
    for (HTREEITEM c = parent ? ctl_.GetChildItem(parent) : ctl_.GetRootItem(); c; c = ctl_.GetNextSiblingItem(c))
      out.push_back(TextOf(c));
    return out;
  }
  std::vector<UINT> Codes() {
    std::vector<UINT> out;
    for (const TreeNote& n : g_notes)
      if (n.code != NM_SETFOCUS && n.code != NM_KILLFOCUS) out.push_back(n.code);
    return out;
  }
  // Client point of a part of a row in view.
  POINT At(HTREEITEM item, UINT part) {
    ce::ModelTree t;
    EXPECT_TRUE(ce::DescribeTree(tree_, &t));
    for (size_t k = 0; k < t.rows.size(); ++k) {
      if (t.rows[k].item != item) continue;
      const int y = static_cast<int>(k) * t.itemHeight + t.itemHeight / 2;
      const int x = t.rows[k].x;
      if (part == TVHT_ONITEMBUTTON) return POINT{x - t.indent / 2, y};
      if (part == TVHT_ONITEMSTATEICON) return POINT{x + t.stateWidth / 2, y};
      return POINT{x + t.stateWidth + t.imageWidth + 4, y};
    }
    ADD_FAILURE() << "item not in view";
    return POINT{-1, -1};
  }
  // A tap posted to the top-level window in screen pixels, as the screen does.
  void TapOn(POINT client) {
    RECT r;
    GetWindowRect(tree_, &r);
    TapAt(host_, r.left + client.x, r.top + client.y);
    ui::PumpMessages();
  }

  quilmo::test::TestDevice dev_;
  HWND host_ = nullptr, tree_ = nullptr;
  CTreeCtrl ctl_;
};

TEST_F(TreeView, InsertPositionsAndWalking) {
  MakeTree(TVS_HASBUTTONS | TVS_LINESATROOT);
  HTREEITEM b = Add(u"b");
  HTREEITEM a = Add(u"a", TVI_ROOT, TVI_FIRST);
  HTREEITEM d = Add(u"d");
  Add(u"c", TVI_ROOT, b);
  Add(u"B1", TVI_ROOT, TVI_SORT);  // by text, ignoring case: after "b", before "c"
  EXPECT_EQ(Children(nullptr), (std::vector<std::u16string>{u"a", u"b", u"B1", u"c", u"d"}));
  HTREEITEM x = Add(u"x", b);
  HTREEITEM y = Add(u"y", b);
  EXPECT_EQ(ctl_.GetRootItem(), a);
  EXPECT_EQ(ctl_.GetChildItem(b), x);
  EXPECT_EQ(ctl_.GetNextSiblingItem(x), y);
  EXPECT_EQ(ctl_.GetPrevSiblingItem(y), x);
  EXPECT_EQ(ctl_.GetParentItem(y), b);
  EXPECT_EQ(ctl_.GetParentItem(b), nullptr);
  EXPECT_EQ(ctl_.GetNextSiblingItem(d), nullptr);
  EXPECT_TRUE(ctl_.ItemHasChildren(b));
  EXPECT_FALSE(ctl_.ItemHasChildren(a));
  EXPECT_EQ(ctl_.GetCount(), 7u);
  // An item after a non-sibling goes last; a parent that is no item refuses.
  Add(u"z", b, a);
  EXPECT_EQ(Children(b), (std::vector<std::u16string>{u"x", u"y", u"z"}));
  EXPECT_EQ(Add(u"orphan", reinterpret_cast<HTREEITEM>(static_cast<uintptr_t>(9999))), nullptr);
  EXPECT_EQ(ctl_.GetCount(), 8u);
}

TEST_F(TreeView, ItemFieldsStateImagesAndStaleHandles) {
  MakeTree(TVS_HASBUTTONS);
  HTREEITEM a = ctl_.InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE, u"Files", 1, 2,
                                INDEXTOSTATEIMAGEMASK(2), TVIS_STATEIMAGEMASK, 21 * 8, TVI_ROOT, TVI_LAST);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(ctl_.GetItemData(a), 21u * 8);
  int image = -1, selected = -1;
  EXPECT_TRUE(ctl_.GetItemImage(a, image, selected));
  EXPECT_EQ(image, 1);
  EXPECT_EQ(selected, 2);
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));
  // Setting the partial mark leaves the other state bits alone.
  ctl_.SetItemState(a, TVIS_BOLD, TVIS_BOLD);
  ctl_.SetItemState(a, INDEXTOSTATEIMAGEMASK(3), TVIS_STATEIMAGEMASK);
  EXPECT_EQ(ctl_.GetItemState(a, 0xFFFF), INDEXTOSTATEIMAGEMASK(3) | TVIS_BOLD);
  // The selected bit follows the caret, never a state write.
  ctl_.SetItemState(a, TVIS_SELECTED, TVIS_SELECTED);
  EXPECT_EQ(ctl_.GetSelectedItem(), nullptr);
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_SELECTED), 0u);
  ASSERT_TRUE(ctl_.SelectItem(a));
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_SELECTED), static_cast<UINT>(TVIS_SELECTED));

  // A short buffer gets a cut, terminated text and nothing past its end.
  WCHAR buf[8];
  std::fill(std::begin(buf), std::end(buf), u'#');
  TVITEMW it{};
  it.mask = TVIF_TEXT;
  it.hItem = a;
  it.pszText = buf;
  it.cchTextMax = 4;
  ASSERT_TRUE(ctl_.GetItem(&it));
  EXPECT_EQ(std::u16string(buf), u"Fil");
  EXPECT_EQ(buf[4], u'#');
  // Text given as "ask me later" is no pointer to read.
  HTREEITEM cb = ctl_.InsertItem(TVIF_TEXT, LPSTR_TEXTCALLBACKW, 0, 0, 0, 0, 0, TVI_ROOT, TVI_LAST);
  ASSERT_NE(cb, nullptr);
  EXPECT_EQ(TextOf(cb), u"");

  // A deleted item's handle is refused everywhere and never handed out again.
  ASSERT_TRUE(ctl_.DeleteItem(a));
  EXPECT_EQ(ctl_.GetSelectedItem(), nullptr);
  EXPECT_FALSE(ctl_.SetItemText(a, u"again"));
  EXPECT_EQ(ctl_.GetItemData(a), 0u);
  EXPECT_FALSE(ctl_.DeleteItem(a));
  EXPECT_EQ(ctl_.GetNextItem(a, TVGN_NEXT), nullptr);
  HTREEITEM fresh = Add(u"fresh");
  EXPECT_NE(fresh, a);
  EXPECT_NE(fresh, cb);
}

TEST_F(TreeView, ChildrenAddedWhileExpandingAndRefusal) {
  MakeTree(TVS_HASBUTTONS | TVS_LINESATROOT);
  HTREEITEM root = ctl_.InsertItem(TVIF_TEXT | TVIF_CHILDREN, u"root", 0, 0, 0, 0, 0, TVI_ROOT, TVI_LAST);
  // cChildren says the item has children though none are there yet.
  TVITEMW it{};
  it.mask = TVIF_CHILDREN;
  it.hItem = root;
  it.cChildren = 1;
  ASSERT_TRUE(ctl_.SetItem(&it));
  HTREEITEM added = nullptr;
  g_answer = [&](NMHDR* h) -> LRESULT {
    if (h->code == TVN_ITEMEXPANDINGW && !added) added = Add(u"late", root);
    return 0;
  };
  ASSERT_TRUE(ctl_.Expand(root, TVE_EXPAND));
  EXPECT_EQ(Codes(), (std::vector<UINT>{TVN_ITEMEXPANDINGW, TVN_ITEMEXPANDEDW}));
  EXPECT_EQ(g_notes[0].newItem, root);
  EXPECT_EQ(g_notes[0].action, TVE_EXPAND);
  EXPECT_EQ(Children(root), (std::vector<std::u16string>{u"late"}));
  EXPECT_EQ(ctl_.GetItemState(root, TVIS_EXPANDED | TVIS_EXPANDEDONCE), TVIS_EXPANDED | TVIS_EXPANDEDONCE);
  EXPECT_EQ(ctl_.GetNextVisibleItem(root), added);

  // Collapsing moves a caret inside up to the item (the parent hears it).
  ASSERT_TRUE(ctl_.SelectItem(added));
  g_notes.clear();
  ASSERT_TRUE(ctl_.Expand(root, TVE_COLLAPSE));
  EXPECT_EQ(ctl_.GetSelectedItem(), root);
  EXPECT_EQ(Codes(), (std::vector<UINT>{TVN_ITEMEXPANDINGW, TVN_SELCHANGINGW, TVN_SELCHANGEDW, TVN_ITEMEXPANDEDW}));

  // The parent refuses: the branch stays closed.
  g_answer = [](NMHDR* h) -> LRESULT { return h->code == TVN_ITEMEXPANDINGW; };
  EXPECT_FALSE(ctl_.Expand(root, TVE_EXPAND));
  EXPECT_EQ(ctl_.GetItemState(root, TVIS_EXPANDED), 0u);

  // A handler that deletes the item it is told about leaves no dangling item.
  g_answer = [&](NMHDR* h) -> LRESULT {
    if (h->code == TVN_ITEMEXPANDINGW) ctl_.DeleteItem(root);
    return 0;
  };
  EXPECT_FALSE(ctl_.Expand(root, TVE_EXPAND));
  EXPECT_EQ(ctl_.GetCount(), 0u);
  EXPECT_EQ(ctl_.GetSelectedItem(), nullptr);

  // An item without children has nothing to open.
  g_answer = nullptr;
  HTREEITEM leaf = Add(u"leaf");
  g_notes.clear();
  EXPECT_FALSE(ctl_.Expand(leaf, TVE_EXPAND));
  EXPECT_TRUE(Codes().empty());
}

TEST_F(TreeView, SelectionNotifiesAndOpensTheBranch) {
  MakeTree(TVS_HASBUTTONS | TVS_LINESATROOT);
  HTREEITEM a = Add(u"a");
  HTREEITEM b = Add(u"b", a);
  ASSERT_TRUE(ctl_.SelectItem(b));
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_EXPANDED), static_cast<UINT>(TVIS_EXPANDED));
  EXPECT_EQ(Codes(), (std::vector<UINT>{TVN_SELCHANGINGW, TVN_ITEMEXPANDINGW, TVN_ITEMEXPANDEDW, TVN_SELCHANGEDW}));
  EXPECT_EQ(g_notes.back().newItem, b);
  EXPECT_EQ(g_notes.back().action, TVC_UNKNOWN);
  // Selecting it again says nothing; a refused change keeps the caret.
  g_notes.clear();
  EXPECT_TRUE(ctl_.SelectItem(b));
  EXPECT_TRUE(g_notes.empty());
  g_answer = [](NMHDR* h) -> LRESULT { return h->code == TVN_SELCHANGINGW; };
  EXPECT_FALSE(ctl_.SelectItem(a));
  EXPECT_EQ(ctl_.GetSelectedItem(), b);
}

TEST_F(TreeView, DeletingNotifiesEachItemWithItsData) {
  MakeTree(TVS_HASBUTTONS);
  HTREEITEM a = Add(u"a", TVI_ROOT, TVI_LAST, 8);
  Add(u"a1", a, TVI_LAST, 16);
  Add(u"b", TVI_ROOT, TVI_LAST, 24);
  g_notes.clear();
  ASSERT_TRUE(ctl_.DeleteItem(a));
  std::vector<LPARAM> gone;
  for (const TreeNote& n : g_notes)
    if (n.code == TVN_DELETEITEMW) gone.push_back(n.oldData);
  EXPECT_EQ(gone, (std::vector<LPARAM>{16, 8}));  // children first
  g_notes.clear();
  ASSERT_TRUE(ctl_.DeleteAllItems());
  ASSERT_EQ(g_notes.size(), 1u);
  EXPECT_EQ(g_notes[0].oldData, 24);
  EXPECT_EQ(ctl_.GetRootItem(), nullptr);
}

TEST_F(TreeView, HitTestTellsTheStateIconFromTheLabel) {
  MakeTree(TVS_HASBUTTONS | TVS_LINESATROOT);
  ctl_.SetImageList(reinterpret_cast<HIMAGELIST>(static_cast<uintptr_t>(0x100)), TVSIL_NORMAL);
  ctl_.SetImageList(reinterpret_cast<HIMAGELIST>(static_cast<uintptr_t>(0x200)), TVSIL_STATE);
  EXPECT_EQ(ctl_.GetImageList(TVSIL_STATE), reinterpret_cast<HIMAGELIST>(static_cast<uintptr_t>(0x200)));
  HTREEITEM a = ctl_.InsertItem(TVIF_TEXT | TVIF_STATE, u"Files", 0, 0, INDEXTOSTATEIMAGEMASK(1), TVIS_STATEIMAGEMASK,
                                0, TVI_ROOT, TVI_LAST);
  Add(u"child", a);
  UINT flags = 0;
  EXPECT_EQ(ctl_.HitTest(At(a, TVHT_ONITEMSTATEICON), &flags), a);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_ONITEMSTATEICON));
  EXPECT_EQ(ctl_.HitTest(At(a, TVHT_ONITEMLABEL), &flags), a);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_ONITEMLABEL));
  EXPECT_EQ(ctl_.HitTest(At(a, TVHT_ONITEMBUTTON), &flags), a);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_ONITEMBUTTON));
  EXPECT_EQ(ctl_.HitTest(POINT{150, 10}, &flags), a);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_ONITEMRIGHT));
  EXPECT_EQ(ctl_.HitTest(POINT{20, 150}, &flags), nullptr);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_NOWHERE));
  EXPECT_EQ(ctl_.HitTest(POINT{20, -3}, &flags), nullptr);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_ABOVE));

  // The label rectangle starts where the hit test says the label starts.
  RECT label;
  ASSERT_TRUE(ctl_.GetItemRect(a, &label, TRUE));
  EXPECT_EQ(ctl_.HitTest(POINT{label.left, label.top}, &flags), a);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_ONITEMLABEL));
  EXPECT_EQ(ctl_.HitTest(POINT{label.left - 1, label.top}, &flags), a);
  EXPECT_EQ(flags, static_cast<UINT>(TVHT_ONITEMICON));
}

TEST_F(TreeView, TapsOpenBranchesSelectAndToggleCheckBoxes) {
  MakeTree(TVS_HASBUTTONS | TVS_LINESATROOT | TVS_CHECKBOXES);
  HTREEITEM a = Add(u"a");
  HTREEITEM b = Add(u"b", a);
  EXPECT_EQ(STATEIMAGEMASKTOINDEX(ctl_.GetItemState(a, TVIS_STATEIMAGEMASK)), 1u);  // check boxes start unchecked
  TapOn(At(a, TVHT_ONITEMBUTTON));
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_EXPANDED), static_cast<UINT>(TVIS_EXPANDED));
  EXPECT_EQ(ctl_.GetSelectedItem(), nullptr);  // the button only opens
  EXPECT_EQ(GetFocus(), tree_);
  g_notes.clear();
  TapOn(At(b, TVHT_ONITEMSTATEICON));
  EXPECT_TRUE(ctl_.GetCheck(b));
  EXPECT_EQ(ctl_.GetSelectedItem(), b);
  EXPECT_EQ(Codes(), (std::vector<UINT>{TVN_SELCHANGINGW, TVN_SELCHANGEDW, NM_CLICK}));
  EXPECT_EQ(g_notes[1].action, TVC_BYMOUSE);
  TapOn(At(b, TVHT_ONITEMSTATEICON));
  EXPECT_FALSE(ctl_.GetCheck(b));
  TapOn(At(a, TVHT_ONITEMBUTTON));
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_EXPANDED), 0u);
  EXPECT_EQ(ctl_.GetSelectedItem(), a);  // the caret left the closed branch
}

TEST_F(TreeView, StateIconTapWithoutCheckBoxStyleOnlySelects) {
  MakeTree(TVS_HASBUTTONS);
  ctl_.SetImageList(reinterpret_cast<HIMAGELIST>(static_cast<uintptr_t>(0x200)), TVSIL_STATE);
  HTREEITEM a = ctl_.InsertItem(TVIF_TEXT | TVIF_STATE, u"a", 0, 0, INDEXTOSTATEIMAGEMASK(3), TVIS_STATEIMAGEMASK,
                                0, TVI_ROOT, TVI_LAST);
  TapOn(At(a, TVHT_ONITEMSTATEICON));
  EXPECT_EQ(ctl_.GetSelectedItem(), a);
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(3));
}

TEST_F(TreeView, KeysMoveTheCaretOpenAndReturn) {
  MakeTree(TVS_HASBUTTONS | TVS_LINESATROOT | TVS_CHECKBOXES);
  HTREEITEM a = Add(u"a");
  HTREEITEM a1 = Add(u"a1", a);
  HTREEITEM b = Add(u"b");
  SetFocus(tree_);
  auto key = [&](UINT vk) { SendMessageW(tree_, WM_KEYDOWN, vk, 0); };
  key(VK_DOWN);
  EXPECT_EQ(ctl_.GetSelectedItem(), a);
  key(VK_DOWN);
  EXPECT_EQ(ctl_.GetSelectedItem(), b);  // a is closed
  key(VK_UP);
  key(VK_RIGHT);  // opens
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_EXPANDED), static_cast<UINT>(TVIS_EXPANDED));
  key(VK_RIGHT);  // to the first child
  EXPECT_EQ(ctl_.GetSelectedItem(), a1);
  key(VK_SPACE);
  EXPECT_TRUE(ctl_.GetCheck(a1));
  key(VK_LEFT);  // to the parent
  EXPECT_EQ(ctl_.GetSelectedItem(), a);
  key(VK_LEFT);  // closes
  EXPECT_EQ(ctl_.GetItemState(a, TVIS_EXPANDED), 0u);
  key(VK_END);
  EXPECT_EQ(ctl_.GetSelectedItem(), b);
  g_notes.clear();
  key(VK_RETURN);
  EXPECT_EQ(Codes(), (std::vector<UINT>{TVN_KEYDOWN, NM_RETURN}));
  EXPECT_EQ(g_notes.size(), 2u);
}

TEST_F(TreeView, ScrollsToTheCaretAndTheScreenShowsTheRowsInView) {
  MakeTree(TVS_HASBUTTONS | TVS_LINESATROOT | TVS_CHECKBOXES, 90);  // 5 rows of 18
  std::vector<HTREEITEM> items;
  for (int i = 0; i < 12; ++i) {
    std::u16string text = u"item " + std::u16string(1, static_cast<char16_t>(u'A' + i));
    items.push_back(Add(text.c_str()));
  }
  EXPECT_EQ(ctl_.GetVisibleCount(), 5u);
  ASSERT_TRUE(ctl_.SelectItem(items[9]));
  EXPECT_EQ(ctl_.GetFirstVisibleItem(), items[5]);
  // A tap on a row after scrolling finds the row shown there.
  UINT flags = 0;
  EXPECT_EQ(ctl_.HitTest(POINT{60, 9}, &flags), items[5]);
  ctl_.SetCheck(items[9], TRUE);

  std::string xml = ui::FormatScreen();
  ui::qt::ScreenModel m;
  std::string error;
  ASSERT_TRUE(ui::qt::ParseScreen(xml, &m, &error)) << error;
  const ui::qt::ScreenControl* c = nullptr;
  for (const auto& w : m.windows)
    for (const auto& ctl : w.controls)
      if (ctl.id == 2015) c = &ctl;
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->tree.top, 5);
  EXPECT_EQ(c->tree.total, 12);
  EXPECT_GT(c->tree.scrollBar, 0);
  ASSERT_GE(c->tree.rows.size(), 5u);
  EXPECT_LE(c->tree.rows.size(), 6u);  // the rows in view (and a part row), not all twelve
  EXPECT_EQ(c->tree.rows[0].text, u"item F");
  EXPECT_EQ(c->tree.rows[4].text, u"item J");
  EXPECT_TRUE(c->tree.rows[4].selected);
  EXPECT_EQ(c->tree.rows[4].state, 2);
  EXPECT_EQ(c->tree.rows[0].state, 1);

  // The scroll bar pages; the rows fit once the tree is short enough.
  SendMessageW(tree_, WM_VSCROLL, SB_THUMBPOSITION | (0 << 16), 0);
  EXPECT_EQ(ctl_.GetFirstVisibleItem(), items[0]);
  for (int i = 11; i >= 4; --i) ctl_.DeleteItem(items[static_cast<size_t>(i)]);
  ce::ModelTree t;
  ASSERT_TRUE(ce::DescribeTree(tree_, &t));
  EXPECT_EQ(t.scrollBarWidth, 0);
  EXPECT_EQ(t.top, 0);
}

TEST_F(TreeView, ImagesTakeTheirListsSizeAndShowOnTheScreen) {
  MakeTree(TVS_HASBUTTONS);
  HIMAGELIST images = ImageList_Create(24, 20, ILC_COLOR | ILC_MASK, 2, 1);
  ASSERT_NE(images, nullptr);
  HICON sign = reinterpret_cast<HICON>(1);  // any live-looking handle: a plain sign
  EXPECT_EQ(ImageList_AddIcon(images, sign), 0);
  EXPECT_EQ(ImageList_AddIcon(images, sign), 1);
  ctl_.SetImageList(images, TVSIL_NORMAL);
  ctl_.InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE, u"pictured", 1, 1, 0, 0, 0, TVI_ROOT, TVI_LAST);
  ctl_.InsertItem(TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE, u"beyond", 5, 5, 0, 0, 0, TVI_ROOT, TVI_LAST);

  ce::ModelTree t;
  ASSERT_TRUE(ce::DescribeTree(tree_, &t));
  EXPECT_EQ(t.imageWidth, 24);
  EXPECT_EQ(t.itemHeight, 22);  // the image's height + 2

  ui::qt::ScreenModel m;
  std::string error;
  ASSERT_TRUE(ui::qt::ParseScreen(ui::FormatScreen(), &m, &error)) << error;
  const ui::qt::ScreenControl* c = nullptr;
  for (const auto& w : m.windows)
    for (const auto& ctl : w.controls)
      if (ctl.id == 2015) c = &ctl;
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->rows.empty());  // tree rows are no list view rows
  ASSERT_EQ(c->tree.rows.size(), 2u);
  const int icon = c->tree.rows[0].icon;
  ASSERT_GE(icon, 0);
  EXPECT_EQ(m.images[static_cast<size_t>(icon)].width, 24);
  EXPECT_EQ(m.images[static_cast<size_t>(icon)].height, 20);
  EXPECT_EQ(c->tree.rows[1].image, 5);
  EXPECT_EQ(c->tree.rows[1].icon, -1);  // past the list: no picture
  ctl_.SetImageList(nullptr, TVSIL_NORMAL);
  EXPECT_TRUE(ImageList_Destroy(images));
}

TEST_F(TreeView, DestroyedTreeIsNoTreeAnyMore) {
  MakeTree(TVS_HASBUTTONS);
  Add(u"a");
  ctl_.Detach();
  ASSERT_TRUE(DestroyWindow(tree_));
  ce::ModelTree t;
  EXPECT_FALSE(ce::DescribeTree(tree_, &t));
  EXPECT_EQ(SendMessageW(tree_, TVM_GETCOUNT, 0, 0), 0);
}

}  // namespace
