// The interactive main window: CImagingPropertySheet, the modal property
// sheet over the main frame, with the Backup and Restore pages in advanced
// mode and the Basic page in basic mode, the tab images, and the menu bar
// at the bottom whose menu opens the option dialogs, switches the mode and
// shows the About box. RunImagingSheet is what CQuilmoApp::RunMainSheet
// runs (app/MainSheetSeam.h); the program installs it.
//
// Log lines carry the class "CImagingPropertySheet".
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "pages/BackupPage.h"
#include "pages/BasicPage.h"
#include "pages/MenuDialogs.h"
#include "pages/RestorePage.h"
#include "ui/Mfc.h"

class CQuilmoApp;
class CMenu;

class CImagingPropertySheet : public CPropertySheet {
 public:
  // Timers: the first activation (once, 50 ms) and the wait for the Backup
  // page's window before the tabs show (1000 ms).
  static constexpr UINT_PTR kStartTimer = 1234;
  static constexpr UINT kStartTimerMs = 50;
  static constexpr UINT_PTR kTabTimer = 4321;
  static constexpr UINT kTabTimerMs = 1000;

  // The id the sheet itself answers to in UI scripts ("dialog 65361",
  // whatever page it shows): the id of its menu bar.
  static constexpr UINT kSheetId = 65361;

  // The shell menu bar and the button whose menu UpdateMenus rebuilds.
  static constexpr UINT kMenuBarResource = 65361;
  static constexpr UINT kMenuButton = 65359;

  // Tab images: the Backup tab's, then the Restore tab's; 24 x scale square.
  static constexpr UINT kBackupTabBitmap = 260;
  static constexpr UINT kRestoreTabBitmap = 258;
  static constexpr int kTabImageSize = 24;
  static constexpr COLORREF kTabImageMask = 0xFFFFFF;

  // Menu commands.
  enum Command : UINT {
    kCmdBackupOptions = 32810,
    kCmdFileManagement = 32811,
    kCmdExclusionOptions = 32812,
    kCmdAdvancedOptions = 32801,
    kCmdRestoreOptions = 32813,
    kCmdResetOptions = 32820,
    kCmdSchedule = 32814,
    kCmdMerrow = 32793,
    kCmdPIM = 32799,
    kCmdConnection = 32815,
    kCmdNetworkShares = 32816,
    kCmdHistory = 32817,
    kCmdAbout = 32818,
    kCmdChangeMode = 32819,
  };
  // Menu texts (resource strings).
  static constexpr DWORD kStrOptionsMenu = 65104;
  static constexpr DWORD kStrBackupOptions = 65327;
  static constexpr DWORD kStrFileManagement = 65328;
  static constexpr DWORD kStrExclusionOptions = 65329;
  static constexpr DWORD kStrAdvancedOptions = 65224;
  static constexpr DWORD kStrRestoreOptions = 65105;
  static constexpr DWORD kStrResetOptions = 65234;
  static constexpr DWORD kStrSchedule = 65106;
  static constexpr DWORD kStrMerrow = 65107;
  static constexpr DWORD kStrPIM = 65171;
  static constexpr DWORD kStrConnection = 65108;
  static constexpr DWORD kStrNetworkShares = 65096;
  static constexpr DWORD kStrHistory = 65258;
  static constexpr DWORD kStrAbout = 65172;
  static constexpr DWORD kStrToBasicMode = 65227;     // shown in advanced mode
  static constexpr DWORD kStrToAdvancedMode = 65228;  // shown in basic mode

  static constexpr const WCHAR* kMenuBarFailedText = u"Failed to create menu bar";
  static constexpr const WCHAR* kTimerFailedText = u"Error setting timer";
  static constexpr const WCHAR* kAdvancedModeValue = u"bAdvancedMode";

  // Adds the pages: the Basic page first in basic mode, then the Backup
  // and Restore pages. startOnRestore: an image path was handed over, the
  // sheet opens on the Restore page and stays there.
  CImagingPropertySheet(LPCWSTR title, CWnd* owner, bool startOnRestore);
  ~CImagingPropertySheet() override;

  // Rebuilds the menu for the current mode (items, order and conditions
  // of the product settings); starts the tab timer while the Backup page
  // has no window.
  void UpdateMenus(CMenu* menu);
  // Switches the pages to the current mode (the global advanced-mode
  // flag) and rebuilds the menu.
  void ChangeModePages();
  // The tab image list on the tab strip and one image per tab; hides the
  // tab strip while the Backup page has no window.
  void InitTabIcons();
  // The shell menu bar from resource 65361 with its menu rebuilt. Pages
  // call it again when they become active. FALSE (logged, box shown) when
  // the bar could not be made.
  BOOL CreateMenuBar();
  // The help viewer on the topic of the current mode and page.
  BOOL ShowHelp();
  // The help topic: "basicmode", "backup" or "restore".
  CString HelpTopic() const;

  BOOL PreTranslateMessage(MSG* msg) override;

  bool StartsOnRestore() const { return m_bStartOnRestore; }
  HWND MenuBar() const { return m_hMenuBar; }
  // The menu UpdateMenus fills (null without a bar).
  CMenu* GetMenu() const;

  CRestorePage m_RestorePage;
  CBackupPage m_BackupPage;
  CBasicPage m_BasicPage;
  // The dialogs the menu opens.
  MenuDialogs m_Dialogs;

 protected:
  BOOL OnInitDialog() override;
  void OnTimer(UINT_PTR id) override;
  void OnSettingChange(UINT flags, LPCWSTR section) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  bool IsAdvanced() const;
  // The sheet fills the screen below the title bar (again after a turn),
  // its tabs, pages, buttons and menu bar laid out inside.
  void FitToScreen();
  bool HasPage(CPropertyPage* page) const { return GetPageIndex(page) >= 0; }
  // The first activation: basic mode keeps only the Basic page.
  void OnStartTimer();
  void OnTabTimer();
  void BuildTabImages();
  void AppendCommand(CMenu& menu, UINT command, DWORD textId);
  void BuildAdvancedMenu(CMenu& menu);
  void BuildBasicMenu(CMenu& menu);

  // Menu commands.
  void OnBackupOptionsCommand(UINT command);
  void OnRestoreOptions();
  void OnResetOptions();
  void OnChangeMode();
  // The class library's idle processing, once after each menu dialog.
  static void RunIdleOnce();
  // Saves the backup options after an option dialog's OK; a failed save
  // logs failureText and posts the quit message.
  static void SaveBackupOptions(LPCWSTR failureText);

  CImageList m_TabImages;
  HWND m_hMenuBar = nullptr;
  CWnd* m_pOwner = nullptr;
  bool m_bStartOnRestore = false;
};

// Whether an interactive start was handed an image to restore: the command
// line or the kiosk set the operation descriptor's image path. The
// descriptor holds "\temp\Backup.pbf" from its construction on, so that
// path counts as handed over only for a command-line restore.
bool ImagePathHandedOver();

// CQuilmoApp::RunMainSheet: builds the sheet titled with the application
// name over the main frame, hands a given image path to the Restore page,
// runs it modally and posts the quit message.
void RunImagingSheet(CQuilmoApp& app);

// Makes RunImagingSheet the runner of CQuilmoApp::RunMainSheet.
void InstallImagingSheet();
