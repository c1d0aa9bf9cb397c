// The tree verbs of UI scripts and automation against a dialog whose tree
// fills a branch only when it is opened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/dialog.h"
#include "ce/treeview.h"
#include "script_load.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"

namespace {

using ui::test::Automation;
using ui::test::ScriptStep;

constexpr int kTemplate = 610, kTree = 2015;

struct Seen {
  int lateFills = 0;
  int stateAtOk = -1;  // of "Files/My Documents"
};
Seen* g_seen = nullptr;

HTREEITEM Insert(HWND tree, HTREEITEM parent, const char16_t* text, bool hasChildren) {
  TVINSERTSTRUCTW ins{};
  ins.hParent = parent;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_STATE | TVIF_CHILDREN;
  ins.item.pszText = const_cast<LPWSTR>(text);
  ins.item.state = INDEXTOSTATEIMAGEMASK(1);
  ins.item.stateMask = TVIS_STATEIMAGEMASK;
  ins.item.cChildren = hasChildren ? 1 : 0;
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

HTREEITEM Child(HWND tree, HTREEITEM parent, const std::u16string& text) {
  for (auto c = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
       c; c = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(c)))) {
    WCHAR buf[64] = {};
    TVITEMW it{};
    it.mask = TVIF_TEXT;
    it.hItem = c;
    it.pszText = buf;
    it.cchTextMax = 64;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
    if (text == buf) return c;
  }
  return nullptr;
}

INT_PTR TreeDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND tree = GetDlgItem(dlg, kTree);
  switch (msg) {
    case WM_INITDIALOG:
      Insert(tree, TVI_ROOT, u"Files", true);  // its children come when it opens
      Insert(tree, TVI_ROOT, u"Mail", false);
      return TRUE;
    case WM_NOTIFY: {
      auto* nm = reinterpret_cast<NMTREEVIEWW*>(lParam);
      if (nm->hdr.code == TVN_ITEMEXPANDINGW && !SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                               reinterpret_cast<LPARAM>(nm->itemNew.hItem))) {
        ++g_seen->lateFills;
        Insert(tree, nm->itemNew.hItem, u"My Documents", false);
        Insert(tree, nm->itemNew.hItem, u"Programs", false);
      }
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        HTREEITEM docs = Child(tree, Child(tree, nullptr, u"Files"), u"My Documents");
        g_seen->stateAtOk = docs ? static_cast<int>(STATEIMAGEMASKTOINDEX(SendMessageW(
                                       tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(docs), TVIS_STATEIMAGEMASK)))
                                 : -1;
        EndDialog(dlg, IDOK);
      }
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dlg, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

INT_PTR RunTreeDialog() {
  ce::DialogTemplate t;
  t.id = kTemplate;
  t.width = 200;
  t.height = 200;
  t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  t.caption = u"Tree";
  ce::ControlTemplate c;
  c.id = kTree;
  c.className = WC_TREEVIEWW;
  c.x = 4;
  c.y = 4;
  c.width = 180;
  c.height = 150;
  c.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_CHECKBOXES;
  t.controls.push_back(c);
  ce::ControlTemplate ok;
  ok.id = IDOK;
  ok.className = u"BUTTON";
  ok.x = 4;
  ok.y = 160;
  ok.width = 60;
  ok.height = 20;
  ok.style = WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON;
  ok.text = u"OK";
  t.controls.push_back(ok);
  return DialogBoxIndirectParamW(nullptr, &t, nullptr, TreeDlgProc, 0);
}

class TreeScript : public autotest::ScriptTest<Seen> {
 protected:
  TreeScript() : ScriptTest(&g_seen) {}
};

TEST(TreeScriptParse, PathsAndStates) {
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ui::test::ParseScript("dialog 610\n"
                                    "tree-check 2015 \"Files/My Documents\"\n"
                                    "tree-expand 2015 Files\n"
                                    "tree-select 2015 Mail\n"
                                    "expect-tree 2015 \"Files/My Documents\" Partial\n"
                                    "expect-tree 2015 Mail 1\n",
                                    &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[1].kind, ScriptStep::Kind::TreeCheck);
  EXPECT_EQ(steps[1].id, 2015);
  EXPECT_EQ(steps[1].text, u"Files/My Documents");
  EXPECT_EQ(steps[4].kind, ScriptStep::Kind::ExpectTree);
  EXPECT_EQ(steps[4].value, 3);
  EXPECT_EQ(steps[5].value, 1);
  for (const char* bad : {"dialog 610\ntree-check 2015 \"Files//Docs\"\n", "dialog 610\ntree-check 2015 /Files\n",
                          "dialog 610\nexpect-tree 2015 Files ticked\n", "dialog 610\nexpect-tree 2015 Files 16\n",
                          "tree-check 2015 Files\n"}) {
    EXPECT_FALSE(ui::test::ParseScript(bad, &steps, &error)) << bad;
    EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
  }
}

TEST_F(TreeScript, ChecksAnItemInABranchFilledWhenOpened) {
  Automation a;
  Load(a,
       "dialog 610\n"
       "expect-tree 2015 Files unchecked\n"
       "tree-check 2015 \"Files/My Documents\"\n"
       "expect-tree 2015 \"Files/My Documents\" checked\n"
       "expect-tree 2015 \"Files/Programs\" unchecked\n"
       "tree-select 2015 Mail\n"
       "tree-expand 2015 Files\n"
       "click 1\n");
  EXPECT_EQ(RunTreeDialog(), IDOK);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures()[0];
  EXPECT_TRUE(a.Done());
  EXPECT_EQ(record.lateFills, 1);  // opened once, by the first step that needed it
  EXPECT_EQ(record.stateAtOk, 2);
}

TEST_F(TreeScript, MissingItemsAndLeavesWithoutBranchesFail) {
  Automation a;
  a.OnDialog(kTemplate, [](ui::test::Dialog& d) {
    EXPECT_FALSE(d.TreeCheck(kTree, u"Files/Nothing"));
    EXPECT_FALSE(d.TreeExpand(kTree, u"Mail"));
    EXPECT_FALSE(d.TreeSelect(2, u"Mail"));  // no such control
    EXPECT_EQ(d.TreeState(kTree, u"Nothing"), -1);
    EXPECT_EQ(d.TreeState(kTree, u"Mail"), 1);
    d.Click(IDOK);
  });
  EXPECT_EQ(RunTreeDialog(), IDOK);
  ASSERT_EQ(a.Failures().size(), 3u);
  EXPECT_NE(a.Failures()[0].find("no item \"Files/Nothing\""), std::string::npos) << a.Failures()[0];
  EXPECT_NE(a.Failures()[1].find("\"Mail\" did not open"), std::string::npos) << a.Failures()[1];
}

}  // namespace
