// The exclusion options and file management dialogs driven as a user
// would: the option bits they hand back, the list file they write, and
// what the next backup's walk then leaves out; the limits' clamping.
#include <string>

#include "ce/text.h"
#include "core/System.h"
#include "option_fixture.h"
#include "pages/ExclusionOptionsPage.h"
#include "pages/FileManagementDlg.h"
#include "pages/OptionDialogs.h"

namespace {

using namespace optiontest;

constexpr int kExclusions = CExclusionOptionsPage::IDD;
constexpr int kFiles = CFileManagementDlg::IDD;

class ExclusionDialogTest : public OptionDialogTest {
 protected:
  // The list lives in the program's folder.
  ExclusionDialogTest() { dev_.MakeDir(System::GetProgramPath(false).GetString()); }
  // The list file as the program keeps it (UTF-16 entries "folder|ext$").
  std::string ListFile() const {
    const CString path = AExclusionList().GetFilePath();
    const std::string bytes = dev_.ReadFile(path.GetString());
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return ce::ToUtf8(text);
  }
  void WriteList(std::initializer_list<const char16_t*> entries) {
    AExclusionList list;
    for (const char16_t* e : entries) ASSERT_GE(list.Add(e), 0);
    ASSERT_TRUE(list.Save());
  }
  static std::u16string Line(Dialog& d, int row) {
    const LRESULT length = SendDlgItemMessageW(d.Hwnd(), 2114, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length < 0) return u"<none>";
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    SendDlgItemMessageW(d.Hwnd(), 2114, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
  }
  static int Lines(Dialog& d) { return static_cast<int>(SendDlgItemMessageW(d.Hwnd(), 2114, LB_GETCOUNT, 0, 0)); }
};

TEST_F(ExclusionDialogTest, ListAddRemoveAndOptionsReachTheFileTheWalkAndTheSavedOptions) {
  WriteList({u"\\Temp", u"*.tmp"});
  std::u16string next;
  OptionSeams::SetAddExclusionRunner([&](CString& text, CWnd*) {
    text = next.c_str();
    return static_cast<INT_PTR>(IDOK);
  });
  Automation a;
  a.OnDialog(kExclusions, [&](Dialog& d) {
    EXPECT_EQ(d.Text(2128), u"Exclusions");
    ASSERT_EQ(Lines(d), 2);
    EXPECT_EQ(Line(d, 0), u"\\temp\\");
    EXPECT_EQ(Line(d, 1), u"*.tmp");
    d.Click(141);  // nothing selected: nothing happens
    EXPECT_EQ(Lines(d), 2);
    next = u"\\My Documents\\*.MP3";
    d.Click(139);
    EXPECT_EQ(Line(d, 2), u"\\my documents\\*.mp3");
    next = u"bad|entry";
  });
  a.InDialog([](Dialog& d) { d.Click(139); });
  a.ExpectBox(65081, IDOK);
  a.InDialog([](Dialog& d) {
    EXPECT_EQ(Lines(d), 3) << "a refused entry adds no line";
    d.Select(2114, 1);
    d.Click(141);
    EXPECT_EQ(Lines(d), 2);
    d.SetCheck(2149, BST_CHECKED);  // programs
    d.SetCheck(2148, BST_UNCHECKED);  // backup images
    d.Click(IDOK);
  });
  BackupOptionsBlock block = global_.g_BackupOptions.GetBlock();
  EXPECT_EQ(RunExclusionOptionsDialog(nullptr, block), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_EQ(ListFile(), "\\temp\\|$\\my documents\\|mp3$");
  // The sheet takes the edited options back after OK.
  global_.g_BackupOptions.SetBlock(block);
  const ABackupOptionHandler& options = global_.g_BackupOptions;
  EXPECT_TRUE(options.IsOptionOn(kOptionExcludePrograms));
  EXPECT_FALSE(options.IsOptionOn(kOptionExcludeImages));
  // The program's own list is what the next backup walks with.
  global_.UpdateExcludeOptions();
  EXPECT_TRUE(global_.g_ExcludeHandler.IsExcludedFile(u"\\My Documents\\song.mp3"));
  EXPECT_FALSE(global_.g_ExcludeHandler.IsExcludedFile(u"\\My Documents\\note.tmp")) << "removed from the list";
  EXPECT_TRUE(global_.g_ExcludeHandler.IsExcludedFile(u"\\My Documents\\tool.exe")) << "option 4 now on";
  EXPECT_FALSE(global_.g_ExcludeHandler.IsExcludedFile(u"\\My Documents\\old.pbf")) << "option 3 now off";
}

TEST_F(ExclusionDialogTest, SwitchedOffKeepsTheItemsAndDefaultsLeaveProgramsOff) {
  WriteList({u"\\Temp"});
  Automation a;
  a.OnDialog(kExclusions, [](Dialog& d) {
    d.SetCheck(2059, BST_UNCHECKED);
    for (int id : {2148, 2114, 2149, 2150, 2151, 139, 141}) EXPECT_FALSE(d.IsEnabled(id)) << id;
    EXPECT_EQ(Lines(d), 1);
  });
  a.InDialog([](Dialog& d) { d.Click(IDOK); });
  BackupOptionsBlock block = global_.g_BackupOptions.GetBlock();
  block.options[kOptionExcludePrograms] = 1;
  CExclusionOptionsPage dlg(block);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(dlg.GetOptions().options[kOptionApplyExclusions], 0u);
  EXPECT_EQ(ListFile(), "\\temp\\|$") << "the items stay while exclusions are off";

  Automation b;
  b.OnDialog(kExclusions, [](Dialog& d) {
    d.Click(2057);
    EXPECT_EQ(d.IsEnabled(2114), true);
    d.Click(IDOK);
  });
  block.options[kOptionExcludeImages] = 0;
  block.options[kOptionExcludeCards] = 0;
  CExclusionOptionsPage defaults(block);
  EXPECT_EQ(Run(defaults, b), IDOK);
  EXPECT_EQ(defaults.GetOptions().options[kOptionApplyExclusions], 1u);
  EXPECT_EQ(defaults.GetOptions().options[kOptionExcludeImages], 1u);
  EXPECT_EQ(defaults.GetOptions().options[kOptionExcludeCards], 1u);
  EXPECT_EQ(defaults.GetOptions().options[kOptionExcludePrograms], 0u);
}

TEST_F(ExclusionDialogTest, LimitsAreClampedNeverRefusedAndBitTenFollowsThem) {
  Automation a;
  a.OnDialog(kFiles, [](Dialog& d) {
    // Option 10 off at the start: both limits off with 10 MB and 3 files.
    EXPECT_EQ(d.Text(2160), u"10");
    EXPECT_EQ(d.Text(2164), u"3");
    EXPECT_FALSE(d.IsEnabled(2160));
    d.SetCheck(2157, BST_CHECKED);
    d.SetCheck(2162, BST_CHECKED);
    EXPECT_TRUE(d.IsEnabled(2160));
    d.Focus(2160);
    d.SetText(2160, u"0");
    d.Focus(2164);  // leaving the edit shows the clamped value
    EXPECT_EQ(d.Text(2160), u"1");
    d.SetText(2164, u"99999");
    d.Focus(2160);
    EXPECT_EQ(d.Text(2164), u"10000");
    d.SetText(2160, u"abc");
    d.Click(IDOK);
  });
  BackupOptionsBlock block = global_.g_BackupOptions.GetBlock();
  EXPECT_EQ(RunFileManagementDialog(nullptr, block), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_TRUE(a.Boxes().empty()) << "nothing typed is refused";
  global_.g_BackupOptions.SetBlock(block);
  EXPECT_EQ(block.manageFileSize, 1u);
  EXPECT_EQ(block.manageFileSizeSize, 1u);
  EXPECT_EQ(block.manageFileQuantityQuantity, 10000u);
  EXPECT_TRUE(global_.g_BackupOptions.IsOptionOn(kOptionReclaimSpace));

  Automation b;
  b.OnDialog(kFiles, [](Dialog& d) {
    EXPECT_EQ(d.Text(2164), u"10000");
    d.SetText(2160, u"2000000");
    d.SetCheck(2157, BST_UNCHECKED);
    d.SetCheck(2162, BST_UNCHECKED);
    d.Click(IDOK);
  });
  CFileManagementDlg off(global_.g_BackupOptions.GetBlock());
  EXPECT_EQ(Run(off, b), IDOK);
  EXPECT_EQ(off.GetOptions().options[kOptionReclaimSpace], 0u) << "both off clears option 10";
  EXPECT_EQ(off.GetOptions().manageFileSizeSize, CFileManagementDlg::kSizeMax);
}

TEST_F(ExclusionDialogTest, ArrowKeysInALimitMoveToTheNeighbouringControls) {
  BackupOptionsBlock block = global_.g_BackupOptions.GetBlock();
  block.options[kOptionReclaimSpace] = 1;
  block.manageFileSize = 1;
  block.manageFileQuantity = 1;
  Automation a;
  a.OnDialog(kFiles, [](Dialog& d) {
    d.Focus(2164);
    d.Key(VK_LEFT);
  });
  a.InDialog([](Dialog& d) {
    EXPECT_NE(GetFocus(), d.FindControl(2164)) << "left leaves the count";
    d.Focus(2160);
    d.Key(VK_RIGHT);
  });
  a.InDialog([](Dialog& d) {
    EXPECT_NE(GetFocus(), d.FindControl(2160)) << "right leaves the size";
    d.Click(IDCANCEL);
  });
  CFileManagementDlg dlg(block);
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
}

TEST_F(ExclusionDialogTest, AnOffLimitGetsItsDefaultWhenFileManagementIsOn) {
  BackupOptionsBlock block = global_.g_BackupOptions.GetBlock();
  block.options[kOptionReclaimSpace] = 1;
  block.manageFileSize = 0;
  block.manageFileSizeSize = 0;
  block.manageFileQuantity = 1;
  block.manageFileQuantityQuantity = 0;  // stored as 0: shown as 1
  Automation a;
  a.OnDialog(kFiles, [](Dialog& d) {
    EXPECT_EQ(d.Text(2160), u"10");
    EXPECT_EQ(d.Text(2164), u"1");
    EXPECT_TRUE(d.IsEnabled(2164));
    d.Click(IDCANCEL);
  });
  CFileManagementDlg dlg(block);
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
}

}  // namespace
