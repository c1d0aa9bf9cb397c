// The main sheet driven as a user drives it: its pages per mode, the menu
// of each mode and product setting, the mode switch, the start on the
// Restore page, the tabs, the help topics and what the menu's commands do
// with the options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/menu.h"
#include "ce/menubar.h"
#include "ce/module.h"
#include "ce/resformat.h"
#include "ce/system.h"
#include "core/Localizer.h"
#include "core/ResBitmap.h"
#include "core/Resources.h"
#include "core/OptionHandlers.h"
#include "core/RegistrySettings.h"
#include "engine/Global.h"
#include "pages/MainSheet.h"
#include "sheet_fixture.h"
#include "testkit/Closable.h"
#include "ui/Automation.h"

namespace fs = std::filesystem;
using ui::test::Automation;
using ui::test::Dialog;

namespace {

using Sheet = CImagingPropertySheet;

constexpr const char* kAdvancedMenu =
    ">Backup options{32810:Backup options|32811:File management|32812:Exclusions}|32813:Restore options|"
    "32820:Reset options|-|32814:Schedule|32793:Battery monitor|32815:Network connection|-|32817:Backup history|"
    "32818:About|32819:Basic mode";
constexpr const char* kBasicMenu = "32820:Reset options|-|32818:About|32819:Advanced mode";

// What the recording dialogs saw and answer.
struct Recorder {
  std::vector<std::string> opened;
  INT_PTR answer = IDOK;
  BackupOptionsBlock seen{};
};
Recorder* g_rec = nullptr;

INT_PTR RecordBlock(const char* name, BackupOptionsBlock& options) {
  g_rec->opened.push_back(name);
  g_rec->seen = options;
  // The user turns compression off and sets the first limit.
  options.options[kOptionCompress] = 0;
  options.manageFileSizeSize = 77;
  return g_rec->answer;
}

MenuDialogs RecordingDialogs() {
  MenuDialogs d;
  d.backupOptions = [](CWnd*, BackupOptionsBlock& o) { return RecordBlock("backup options", o); };
  d.fileManagement = [](CWnd*, BackupOptionsBlock& o) { return RecordBlock("file management", o); };
  d.exclusionOptions = [](CWnd*, BackupOptionsBlock& o) { return RecordBlock("exclusions", o); };
  d.restoreOptions = [](CWnd*, RestoreOptionFlags& f) {
    g_rec->opened.push_back("restore options");
    f.handleMenu = 0;
    f.newDeviceRestore = 1;
    return g_rec->answer;
  };
  d.resetOptionsDisplay = [](CWnd*) {
    g_rec->opened.push_back("reset display");
    return INT_PTR{IDOK};
  };
  return d;
}

class MainSheetTest : public sheettest::SheetTest {
 protected:
  MainSheetTest() {
    g_rec = &rec_;
    global_.g_bAdvancedMode = true;
    global_.g_Operation.imagePath.Set(OperationDescriptor::kDefaultImagePath, false);
  }
  ~MainSheetTest() override { g_rec = nullptr; }

  // Runs the sheet under the automation's steps, then closes it.
  void Run(Sheet& sheet, Automation& a) {
    a.Do([&](Automation&) { sheet.EndDialog(IDCANCEL); });
    sheet.DoModal();
    for (const std::string& f : a.Failures()) ADD_FAILURE() << f;
    EXPECT_TRUE(a.Done());
  }
  static std::string MenuOf(Sheet& sheet) {
    CMenu* menu = sheet.GetMenu();
    return menu ? ui::test::MenuText(menu->m_hMenu) : "<no menu>";
  }
  static std::vector<UINT> Pages(Sheet& sheet) {
    std::vector<UINT> ids;
    for (int i = 0; i < sheet.GetPageCount(); ++i) {
      CPropertyPage* p = sheet.GetPage(i);
      ids.push_back(p == &sheet.m_BasicPage ? CBasicPage::IDD : p == &sheet.m_BackupPage ? CBackupPage::IDD
                                                                                        : CRestorePage::IDD);
    }
    return ids;
  }
  static DWORD SettingsDWORD(LPCWSTR name, DWORD fallback = 0xDEAD) {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    DWORD value = fallback;
    if (!settings.ReadDWORD(name, value)) return fallback;
    return value;
  }

  Recorder rec_;
};

// ---- the contract with the resource library ---------------------------------

TEST_F(MainSheetTest, TheLibraryHoldsTheMenuBarTextsAndTabImages) {
  HMODULE lib = GetMainResourceLibrary();
  HRSRC bar = FindResourceW(lib, MAKEINTRESOURCEW(Sheet::kMenuBarResource), MAKEINTRESOURCEW(ce::res::kTypeMenuBar));
  ASSERT_NE(bar, nullptr);
  ce::MenuBarTemplate parsed;
  std::string error;
  ASSERT_TRUE(ce::ParseMenuBarTemplate(LockResource(LoadResource(lib, bar)), SizeofResource(lib, bar), &parsed, &error))
      << error;
  ASSERT_EQ(parsed.buttons.size(), 1u);
  EXPECT_EQ(parsed.buttons[0].id, static_cast<int>(Sheet::kMenuButton));
  EXPECT_TRUE(parsed.buttons[0].hasMenu);
  for (DWORD id : {Sheet::kStrOptionsMenu, Sheet::kStrBackupOptions, Sheet::kStrFileManagement,
                   Sheet::kStrExclusionOptions, Sheet::kStrAdvancedOptions, Sheet::kStrRestoreOptions,
                   Sheet::kStrResetOptions, Sheet::kStrSchedule, Sheet::kStrMerrow, Sheet::kStrPIM,
                   Sheet::kStrConnection, Sheet::kStrNetworkShares, Sheet::kStrHistory, Sheet::kStrAbout,
                   Sheet::kStrToBasicMode, Sheet::kStrToAdvancedMode}) {
    CString text;
    EXPECT_TRUE(Localizer::LoadResStringRaw(id, text)) << "string " << id;
  }
  for (UINT id : {Sheet::kBackupTabBitmap, Sheet::kRestoreTabBitmap}) {
    AResBitmap bitmap;
    EXPECT_TRUE(LoadResBitmap(id, bitmap)) << "bitmap " << id;
  }
}

// ---- pages and menus per mode ----------------------------------------------

TEST_F(MainSheetTest, AdvancedModeShowsBackupAndRestoreWithTheFullMenuInOrder) {
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  EXPECT_EQ(Pages(sheet), (std::vector<UINT>{200, 201}));
  Automation a;
  a.OnDialog(CBackupPage::IDD, [&](Dialog& d) {
    EXPECT_EQ(MenuOf(sheet), kAdvancedMenu);
    std::string bar;
    EXPECT_TRUE(d.MenuOf(Sheet::kMenuButton, &bar));
    EXPECT_EQ(bar, kAdvancedMenu);
    EXPECT_EQ(CString(u"Quilmo Backup"), [&] {
      CString title;
      sheet.GetWindowText(title);
      return title;
    }());
  });
  a.AdvanceClock(100);  // the first activation
  a.Do([&](Automation&) {
    EXPECT_EQ(sheet.GetActivePage(), &sheet.m_BackupPage);
    EXPECT_EQ(Pages(sheet), (std::vector<UINT>{200, 201}));
  });
  Run(sheet, a);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "Updating menus"), 1) << log;
  EXPECT_EQ(Count(log, "Menus updated"), 1);
  EXPECT_EQ(Count(log, "Advanced"), 1);
}

TEST_F(MainSheetTest, MenuFollowsTheProductSettings) {
  SetConfigBool(u"ShowAdvancedOpts", true);
  SetConfigBool(u"ShowManageNetworkShares", true);
  SetConfigBool(u"MerrowEnabled", false);
  SetConfigBool(u"BasicModeEnabled", false);
  dev_.PutFile(u"\\Windows\\Lissent.exe", "corvane");
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  Automation a;
  a.OnDialog(CBackupPage::IDD, [&](Dialog&) {
    EXPECT_EQ(MenuOf(sheet),
              ">Backup options{32810:Backup options|32811:File management|32812:Exclusions|32801:Advanced options}|"
              "32813:Restore options|32820:Reset options|-|32814:Schedule|32799:Personal information|"
              ">Network connection{32815:Network connection|32816:Network shares}|-|32817:Backup history|"
              "32818:About");
  });
  Run(sheet, a);
}

TEST_F(MainSheetTest, BasicModeKeepsOnlyTheBasicPageAndItsShortMenu) {
  global_.g_bAdvancedMode = false;
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  EXPECT_EQ(Pages(sheet), (std::vector<UINT>{314, 200, 201}));
  Automation a;
  a.OnDialog(CBasicPage::IDD, [&](Dialog&) { EXPECT_EQ(MenuOf(sheet), kBasicMenu); });
  a.AdvanceClock(100);
  a.Do([&](Automation&) {
    EXPECT_EQ(Pages(sheet), (std::vector<UINT>{314}));
    EXPECT_EQ(sheet.GetActivePage(), &sheet.m_BasicPage);
  });
  // Without the Backup page the tab timer does not run on for ever.
  a.AdvanceClock(2000);
  Run(sheet, a);
  EXPECT_EQ(Count(LogText(), "timer finished, showing tabs"), 1);
}

TEST_F(MainSheetTest, TheModeSwitchChangesPagesAndMenuAndIsStored) {
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  Automation a;
  a.OnDialog(CBackupPage::IDD, [&](Dialog& d) { EXPECT_TRUE(d.PickMenu(Sheet::kCmdChangeMode)); });
  a.OnDialog(CBasicPage::IDD, [&](Dialog& d) {
    EXPECT_FALSE(global_.g_bAdvancedMode);
    EXPECT_EQ(Pages(sheet), (std::vector<UINT>{314}));
    EXPECT_EQ(MenuOf(sheet), kBasicMenu);
    EXPECT_EQ(SettingsDWORD(Sheet::kAdvancedModeValue), 0u);
    EXPECT_TRUE(d.PickMenu(Sheet::kCmdChangeMode));
  });
  a.OnDialog(CBackupPage::IDD, [&](Dialog&) {
    EXPECT_TRUE(global_.g_bAdvancedMode);
    EXPECT_EQ(Pages(sheet), (std::vector<UINT>{200, 201}));
    EXPECT_EQ(sheet.GetActivePage(), &sheet.m_BackupPage);
    EXPECT_EQ(MenuOf(sheet), kAdvancedMenu);
    EXPECT_EQ(SettingsDWORD(Sheet::kAdvancedModeValue), 1u);
    // The tab images are back on the two tabs.
    CTabCtrl* tabs = sheet.GetTabControl();
    for (int i = 0; i < 2; ++i) {
      TCITEMW item{};
      item.mask = TCIF_IMAGE;
      ASSERT_TRUE(tabs->GetItem(i, &item));
      EXPECT_EQ(item.iImage, i);
    }
  });
  Run(sheet, a);
  EXPECT_EQ(Count(LogText(), "Changing Mode"), 2);
  EXPECT_EQ(Count(LogText(), "ChangeModePages"), 2);
}

TEST_F(MainSheetTest, TheSheetFillsTheScreenBelowTheTitleInBothOrientations) {
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  auto expectFilled = [&](int width) {
    CRect r, bar, ok;
    sheet.GetWindowRect(&r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.Width(), width);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(r.top, work.top);
    EXPECT_EQ(r.bottom, work.bottom);
    // The menu bar along the bottom, the buttons above it.
    ::GetWindowRect(sheet.MenuBar(), &bar);
    EXPECT_EQ(bar.bottom, r.bottom);
    ::GetWindowRect(::GetDlgItem(sheet.m_hWnd, IDOK), &ok);
    EXPECT_LE(ok.bottom, bar.top);
  };
  Automation a;
  a.OnDialog(CBackupPage::IDD, [&](Dialog&) {
    expectFilled(240);
    Rotate(sheet.m_hWnd);
    expectFilled(320);
    Rotate(sheet.m_hWnd);
    expectFilled(240);
  });
  Run(sheet, a);
  EXPECT_EQ(Count(LogText(), "CImagingPropertySheet OnSettingChange"), 2);
}

// ---- opening on the Restore page -------------------------------------------

TEST_F(MainSheetTest, OnlyAnImageHandedOverOpensTheRestorePage) {
  // A plain start: the descriptor's own default path is no image.
  EXPECT_FALSE(ImagePathHandedOver());
  global_.g_Operation.imagePath.Clear();
  EXPECT_FALSE(ImagePathHandedOver());
  // The command line's restore of the default path, or any other path.
  global_.g_Operation.imagePath.Set(OperationDescriptor::kDefaultImagePath, false);
  global_.g_bCommandLineRestore = true;
  EXPECT_TRUE(ImagePathHandedOver());
  global_.g_bCommandLineRestore = false;
  global_.g_Operation.imagePath.Set(u"\\Storage Card\\Monday.pbf", false);
  EXPECT_TRUE(ImagePathHandedOver());

  Sheet sheet(u"Quilmo Backup", nullptr, true);
  Automation a;
  a.OnDialog(CRestorePage::IDD, [&](Dialog&) {
    EXPECT_TRUE(sheet.StartsOnRestore());
    // Hidden until the sheet no longer waits for the Backup page.
    EXPECT_FALSE(sheet.GetTabControl()->IsWindowVisible());
  });
  a.AdvanceClock(1500);  // the first activation and the tab timer
  a.Do([&](Automation&) {
    EXPECT_EQ(sheet.GetActivePage(), &sheet.m_RestorePage);
    EXPECT_TRUE(sheet.GetTabControl()->IsWindowVisible());
  });
  Run(sheet, a);
}

TEST_F(MainSheetTest, APlainStartOpensTheBackupPageWithItsTabsShown) {
  Sheet sheet(u"Quilmo Backup", nullptr, ImagePathHandedOver());
  Automation a;
  // The sheet itself answers to its own id, whatever page it shows.
  a.OnDialog(Sheet::kSheetId, [&](Dialog& d) { EXPECT_EQ(d.Hwnd(), sheet.m_hWnd); });
  a.OnDialog(CBackupPage::IDD, [&](Dialog&) {
    EXPECT_FALSE(sheet.StartsOnRestore());
    CTabCtrl* tabs = sheet.GetTabControl();
    EXPECT_TRUE(tabs->IsWindowVisible());
    EXPECT_EQ(ImageList_GetImageCount(tabs->GetImageList()), 2);
  });
  Run(sheet, a);
}

// ---- the menu's commands -----------------------------------------------------

TEST_F(MainSheetTest, OptionDialogsEditACopyThatIsSavedOnlyAfterOK) {
  ABackupOptionHandler& options = global_.g_BackupOptions;
  ASSERT_TRUE(options.IsOptionOn(kOptionCompress));
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  sheet.m_Dialogs = RecordingDialogs();
  rec_.answer = IDCANCEL;
  Automation a;
  // A menu command arrives as a posted message: each check is a step of
  // its own.
  a.OnDialog(CBackupPage::IDD, [&](Dialog& d) { EXPECT_TRUE(d.PickMenu(Sheet::kCmdBackupOptions)); });
  a.Do([&](Automation&) {
    EXPECT_EQ(rec_.seen.options[kOptionCompress], 1u);  // the dialog got the options as they are
    EXPECT_TRUE(options.IsOptionOn(kOptionCompress));
    EXPECT_EQ(SettingsDWORD(u"dwBackupOptionsBitField"), 0xDEADu);
    rec_.answer = IDOK;
  });
  for (UINT command : {Sheet::kCmdBackupOptions, Sheet::kCmdFileManagement, Sheet::kCmdExclusionOptions}) {
    a.InDialog([command](Dialog& d) { EXPECT_TRUE(d.PickMenu(command)); });
    a.Do([&](Automation&) {
      EXPECT_FALSE(options.IsOptionOn(kOptionCompress));
      EXPECT_EQ(options.GetBlock().manageFileSizeSize, 77u);
      EXPECT_EQ(SettingsDWORD(u"dwBackupOptionsBitField"), options.PackOptions());
      EXPECT_EQ(SettingsDWORD(u"dwManageFileSizeSize"), 77u);
      options.SetOptionOn(kOptionCompress, true);
    });
  }
  Run(sheet, a);
  EXPECT_EQ(rec_.opened,
            (std::vector<std::string>{"backup options", "backup options", "file management", "exclusions"}));
}

TEST_F(MainSheetTest, RestoreOptionsAreStoredBackAfterOK) {
  ARestoreOptionHandler& options = global_.g_RestoreOptions;
  ASSERT_EQ(options.GetHandleMenuFlag(), 1u);
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  sheet.m_Dialogs = RecordingDialogs();
  rec_.answer = IDCANCEL;
  Automation a;
  a.OnDialog(CBackupPage::IDD, [&](Dialog& d) { EXPECT_TRUE(d.PickMenu(Sheet::kCmdRestoreOptions)); });
  a.Do([&](Automation&) {
    EXPECT_EQ(rec_.opened.size(), 1u);
    EXPECT_EQ(options.GetHandleMenuFlag(), 1u);
    EXPECT_EQ(SettingsDWORD(u"bHandleMenu"), 0xDEADu);
    rec_.answer = IDOK;
  });
  a.InDialog([](Dialog& d) { EXPECT_TRUE(d.PickMenu(Sheet::kCmdRestoreOptions)); });
  a.Do([&](Automation&) {
    EXPECT_EQ(options.GetHandleMenuFlag(), 0u);
    EXPECT_EQ(options.GetNewDeviceRestoreFlag(), 1u);
    EXPECT_EQ(SettingsDWORD(u"bHandleMenu"), 0u);
    EXPECT_EQ(SettingsDWORD(u"bNewDeviceRestore"), 1u);
  });
  Run(sheet, a);
}

TEST_F(MainSheetTest, ResetOptionsStoresTheDefaultsAndShowsItsDialog) {
  global_.g_BackupOptions.SetOptionOn(kOptionCompress, false);
  global_.g_RemoteOptions.SetPort(4444);
  global_.g_RemoteOptions.SetUseDefaultPort(false);
  global_.g_RestoreOptions.SetHandleMenuFlag(false);
  ASSERT_TRUE(global_.g_BackupOptions.Save() && global_.g_RemoteOptions.Save() && global_.g_RestoreOptions.Save());
  const DWORD defaults = ABackupOptionHandler().PackOptions();
  ASSERT_NE(SettingsDWORD(u"dwBackupOptionsBitField"), defaults);

  global_.g_bAdvancedMode = false;  // the command is in both menus
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  sheet.m_Dialogs = RecordingDialogs();
  Automation a;
  a.OnDialog(CBasicPage::IDD, [&](Dialog& d) { EXPECT_TRUE(d.PickMenu(Sheet::kCmdResetOptions)); });
  Run(sheet, a);
  EXPECT_EQ(rec_.opened, std::vector<std::string>{"reset display"});
  EXPECT_EQ(SettingsDWORD(u"dwBackupOptionsBitField"), defaults);
  EXPECT_EQ(SettingsDWORD(u"bHandleMenu"), 1u);
  EXPECT_EQ(SettingsDWORD(u"bUseDefaultPort"), 1u);
  EXPECT_TRUE(global_.g_BackupOptions.IsOptionOn(kOptionCompress));
}

TEST_F(MainSheetTest, EveryOptionItemOpensItsDialogAndCancelChangesNothing) {
  SetConfigBool(u"ShowAdvancedOpts", true);
  SetConfigBool(u"ShowManageNetworkShares", true);
  dev_.PutFile(u"\\Windows\\Lissent.exe", "corvane");
  Sheet sheet(u"Quilmo Backup", nullptr, false);
  const struct {
    UINT command;
    UINT dialog;
    int closeWith;
  } items[] = {{32810, 102, IDCANCEL}, {32811, 303, IDCANCEL}, {32812, 262, IDCANCEL}, {32801, 306, IDCANCEL},
               {32813, 230, IDCANCEL}, {32814, 254, IDCANCEL}, {32793, 257, IDCANCEL}, {32815, 248, IDCANCEL},
               {32816, 250, IDCANCEL}, {32818, 100, IDOK}};
  Automation a;
  // The sheet's start timer fires first: it re-activates the Backup page and
  // makes its menu bar afresh, which would close a menu opened before it.
  a.OnDialog(CBackupPage::IDD, [](Dialog&) {});
  a.AdvanceClock(1100);
  for (const auto& item : items) {
    a.OnDialog(CBackupPage::IDD, [&, command = item.command](Dialog& d) { EXPECT_TRUE(d.PickMenu(command)); });
    a.OnDialog(item.dialog, [close = item.closeWith](Dialog& d) { d.Click(close); });
  }
  Run(sheet, a);
  EXPECT_EQ(SettingsDWORD(u"dwBackupOptionsBitField"), 0xDEADu);
  EXPECT_EQ(SettingsDWORD(u"bHandleMenu"), 0xDEADu);
}

// ---- help ------------------------------------------------------------------

TEST_F(MainSheetTest, HelpOpensTheTopicOfTheModeAndPage) {
  const fs::path standin = fs::path(QUILMO_BIN_DIR) / "peghelp";
  ASSERT_TRUE(fs::exists(standin)) << standin << " is missing";
  const fs::path host = dev_.Host(u"\\Windows\\peghelp.exe");
  fs::create_directories(host.parent_path());
  fs::copy_file(standin, host, fs::copy_options::overwrite_existing);

  auto help = [&](Sheet& sheet) {
    HELPINFO info{};
    info.cbSize = sizeof info;
    sheet.SendMessage(WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  };
  {
    Sheet sheet(u"Quilmo Backup", nullptr, false);
    Automation a;
    // The sheet's start timer makes the Backup page active once more: the
    // tab is chosen after it.
    a.OnDialog(CBackupPage::IDD).AdvanceClock(100).InDialog([&](Dialog& d) {
      help(sheet);
      EXPECT_TRUE(d.ChooseTab(1));
    });
    a.OnDialog(CRestorePage::IDD, [&](Dialog&) { help(sheet); });
    Run(sheet, a);
  }
  global_.g_bAdvancedMode = false;
  {
    Sheet sheet(u"Quilmo Backup", nullptr, false);
    Automation a;
    a.OnDialog(CBasicPage::IDD, [&](Dialog&) { help(sheet); });
    Run(sheet, a);
  }
  EXPECT_EQ(quilmo::test::StartedAs(dev_, "peghelp.exe"),
            (std::vector<std::u16string>{u"\\Windows\\QuilmoBackup.htm#backup", u"\\Windows\\QuilmoBackup.htm#restore",
                                         u"\\Windows\\QuilmoBackup.htm#basicmode"}));
}

}  // namespace
