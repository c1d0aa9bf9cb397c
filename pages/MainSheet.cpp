// CImagingPropertySheet and its runner (pages/MainSheet.h).
#include "pages/MainSheet.h"

#include "app/DynamicDialog.h"
#include "app/MainSheetSeam.h"
#include "app/QuilmoApp.h"
#include "ce/errors.h"
#include "ce/menu.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/window.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/ResBitmap.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/Global.h"
#include "pages/MenuDialogs.h"

namespace {

constexpr const WCHAR* kClass = u"CImagingPropertySheet";

// The start page: the Restore page when an image was handed over.
UINT StartPage(bool advanced, bool startOnRestore) {
  if (!startOnRestore) return 0;
  return advanced ? 1 : 2;  // advanced: Backup, Restore; basic: Basic, Backup, Restore
}

}  // namespace

bool ImagePathHandedOver() {
  const AGlobal& g = GetGlobal();
  const ABackupFilePath& path = g.g_Operation.imagePath;
  if (path.IsEmpty()) return false;
  if (path.GetFullPath().CompareNoCase(OperationDescriptor::kDefaultImagePath) != 0) return true;
  return g.g_bCommandLineRestore;
}

CImagingPropertySheet::CImagingPropertySheet(LPCWSTR title, CWnd* owner, bool startOnRestore)
    : CPropertySheet(title, owner, StartPage(GetGlobal().g_bAdvancedMode, startOnRestore)),
      m_pOwner(owner),
      m_bStartOnRestore(startOnRestore) {
  SetSheetId(kSheetId);
  if (!IsAdvanced()) AddPage(&m_BasicPage);
  AddPage(&m_BackupPage);
  AddPage(&m_RestorePage);
}

// The member pages leave the base sheet as they end (CPropertyPage).
CImagingPropertySheet::~CImagingPropertySheet() = default;

bool CImagingPropertySheet::IsAdvanced() const { return GetGlobal().g_bAdvancedMode; }

// ---- opening ---------------------------------------------------------------

BOOL CImagingPropertySheet::OnInitDialog() {
  CPropertySheet::OnInitDialog();
  SetWindowText(GetApplicationName());
  FitToScreen();
  CreateMenuBar();
  BuildTabImages();
  if (IsAdvanced()) InitTabIcons();
  m_bStartOnRestore = ImagePathHandedOver();
  if (SetTimer(kStartTimer, kStartTimerMs) == 0) Localizer::TextMessageBox(kTimerFailedText);
  ModifyStyle(WS_VSCROLL, 0);
  Invalidate();
  return TRUE;
}

void CImagingPropertySheet::FitToScreen() {
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  RECT work{0, 0, width, height};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  MoveWindow(0, work.top, width, work.bottom - work.top);
  RecalcLayout();
}

BOOL CImagingPropertySheet::CreateMenuBar() {
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = m_hWnd;
  info.nToolBarId = kMenuBarResource;
  info.hInstRes = AfxGetResourceHandle();
  if (!::SHCreateMenuBar(&info)) {
    LogError(GetLastError(), u"SHCreateMenuBar Failed", kClass, __LINE__);
    Localizer::TextMessageBox(kMenuBarFailedText);
    m_hMenuBar = nullptr;
    return FALSE;
  }
  m_hMenuBar = info.hwndMB;
  RecalcLayout();
  UpdateMenus(GetMenu());
  return TRUE;
}

CMenu* CImagingPropertySheet::GetMenu() const {
  if (!m_hMenuBar) return nullptr;
  auto menu = reinterpret_cast<HMENU>(::SendMessageW(m_hMenuBar, SHCMBM_GETSUBMENU, 0, kMenuButton));
  return menu ? CMenu::FromHandle(menu) : nullptr;
}

void CImagingPropertySheet::BuildTabImages() {
  const int size = kTabImageSize * GetDisplayScale();
  m_TabImages.DeleteImageList();
  if (!m_TabImages.Create(size, size, ILC_MASK, 2, 0)) {
    LogError(GetLastError(), u"Unable to create the tab image list", kClass, __LINE__);
    return;
  }
  for (UINT id : {kBackupTabBitmap, kRestoreTabBitmap}) {
    AResBitmap bitmap;
    HBITMAP handle = LoadResBitmap(id, bitmap) ? bitmap.CreateHandle() : nullptr;
    if (!handle) {
      LogError(GetLastError(), u"Unable to load a tab image", kClass, __LINE__);
      continue;
    }
    if (ImageList_AddMasked(m_TabImages, handle, kTabImageMask) < 0)
      LogError(GetLastError(), u"Unable to add a tab image", kClass, __LINE__);
    ::DeleteObject(handle);  // the image list keeps its own copy
  }
}

void CImagingPropertySheet::InitTabIcons() {
  CTabCtrl* tabs = GetTabControl();
  if (!tabs || !tabs->m_hWnd) return;
  tabs->SetImageList(m_TabImages);
  for (int i = 0; i < tabs->GetItemCount(); ++i) {
    TCITEMW item{};
    item.mask = TCIF_IMAGE;
    item.iImage = i;
    if (!tabs->SetItem(i, &item)) {
      CString text;
      text.Format(u"Error on CImagingPropertySheet::OnInitDialog(), SetItem( %d, &tabData)", i);
      LogError(GetLastError(), text, kClass, __LINE__);
    }
  }
  if (!m_BackupPage.m_hWnd) {
    Log(0, u"InitTabIcons hiding Tabs", kClass, __LINE__);
    tabs->ShowWindow(SW_HIDE);
  }
}

// ---- the menu --------------------------------------------------------------

void CImagingPropertySheet::AppendCommand(CMenu& menu, UINT command, DWORD textId) {
  if (!menu.AppendMenu(MF_STRING, command, Localizer::LoadResString(textId)))
    LogError(GetLastError(), u"Unable to add a menu item", kClass, __LINE__);
}

void CImagingPropertySheet::BuildAdvancedMenu(CMenu& menu) {
  CMenu options;
  if (options.CreatePopupMenu()) {
    AppendCommand(options, kCmdBackupOptions, kStrBackupOptions);
    AppendCommand(options, kCmdFileManagement, kStrFileManagement);
    AppendCommand(options, kCmdExclusionOptions, kStrExclusionOptions);
    if (GetShowAdvancedOpts()) AppendCommand(options, kCmdAdvancedOptions, kStrAdvancedOptions);
    // The menu owns the submenu from here on.
    if (menu.AppendMenu(MF_POPUP, reinterpret_cast<UINT_PTR>(options.GetSafeHmenu()),
                        Localizer::LoadResString(kStrOptionsMenu)))
      options.Detach();
  }
  AppendCommand(menu, kCmdRestoreOptions, kStrRestoreOptions);
  AppendCommand(menu, kCmdResetOptions, kStrResetOptions);
  menu.AppendMenu(MF_SEPARATOR);
  AppendCommand(menu, kCmdSchedule, kStrSchedule);
  if (GetMerrowEnabled()) AppendCommand(menu, kCmdMerrow, kStrMerrow);
  if (CorvaneProgramExists()) AppendCommand(menu, kCmdPIM, kStrPIM);
  if (GetShowManageNetworkShares()) {
    CMenu network;
    if (network.CreatePopupMenu()) {
      AppendCommand(network, kCmdConnection, kStrConnection);
      AppendCommand(network, kCmdNetworkShares, kStrNetworkShares);
      if (menu.AppendMenu(MF_POPUP, reinterpret_cast<UINT_PTR>(network.GetSafeHmenu()),
                          Localizer::LoadResString(kStrConnection)))
        network.Detach();
    }
  } else {
    AppendCommand(menu, kCmdConnection, kStrConnection);
  }
  menu.AppendMenu(MF_SEPARATOR);
  AppendCommand(menu, kCmdHistory, kStrHistory);
  AppendCommand(menu, kCmdAbout, kStrAbout);
  if (GetBasicModeEnabled()) AppendCommand(menu, kCmdChangeMode, kStrToBasicMode);
}

void CImagingPropertySheet::BuildBasicMenu(CMenu& menu) {
  AppendCommand(menu, kCmdResetOptions, kStrResetOptions);
  menu.AppendMenu(MF_SEPARATOR);
  AppendCommand(menu, kCmdAbout, kStrAbout);
  if (GetBasicModeEnabled()) AppendCommand(menu, kCmdChangeMode, kStrToAdvancedMode);
}

void CImagingPropertySheet::UpdateMenus(CMenu* menu) {
  Log(0, u"Updating menus", kClass, __LINE__);
  if (menu) {
    menu->DeleteAllItems();
    if (IsAdvanced()) {
      Log(0, u"Advanced", kClass, __LINE__);
      BuildAdvancedMenu(*menu);
    } else {
      Log(0, u"Basic", kClass, __LINE__);
      BuildBasicMenu(*menu);
    }
  }
  Log(0, u"Menus updated", kClass, __LINE__);
  if (!m_BackupPage.m_hWnd && m_hWnd) SetTimer(kTabTimer, kTabTimerMs);
}

// ---- pages and tabs --------------------------------------------------------

void CImagingPropertySheet::ChangeModePages() {
  Log(0, u"ChangeModePages", kClass, __LINE__);
  if (IsAdvanced()) {
    AddPage(&m_BackupPage);
    AddPage(&m_RestorePage);
    RemovePage(&m_BasicPage);
    SetActivePage(&m_BackupPage);
    InitTabIcons();
  } else {
    AddPage(&m_BasicPage);
    RemovePage(&m_BackupPage);
    RemovePage(&m_RestorePage);
    SetActivePage(&m_BasicPage);
  }
  UpdateMenus(GetMenu());
}

void CImagingPropertySheet::OnTimer(UINT_PTR id) {
  if (id == kStartTimer) {
    OnStartTimer();
  } else if (id == kTabTimer) {
    OnTabTimer();
  } else {
    CPropertySheet::OnTimer(id);
  }
}

void CImagingPropertySheet::OnStartTimer() {
  KillTimer(kStartTimer);
  if (!IsAdvanced()) {
    RemovePage(&m_BackupPage);
    RemovePage(&m_RestorePage);
    SetActivePage(&m_BasicPage);
  } else if (!m_bStartOnRestore) {
    SetActivePage(&m_BackupPage);
  }
}

void CImagingPropertySheet::OnTabTimer() {
  // The tabs wait while the Backup page is being shown and has no window
  // yet. A sheet without the Backup page (basic mode), kept on the Restore
  // page, or whose Backup page could not be made would wait for ever:
  // their tabs show at once.
  if (!m_BackupPage.m_hWnd && HasPage(&m_BackupPage) && GetActivePage() == &m_BackupPage) return;
  Log(0, u"timer finished, showing tabs", kClass, __LINE__);
  KillTimer(kTabTimer);
  if (CTabCtrl* tabs = GetTabControl(); tabs && tabs->m_hWnd) tabs->ShowWindow(SW_SHOW);
}

void CImagingPropertySheet::OnSettingChange(UINT flags, LPCWSTR section) {
  Log(0, u"CImagingPropertySheet OnSettingChange", kClass, __LINE__);
  FitToScreen();
  CPropertySheet::OnSettingChange(flags, section);
  if (CTabCtrl* tabs = GetTabControl(); tabs && tabs->m_hWnd) {
    CRect r;
    tabs->GetWindowRect(&r);
    tabs->SetWindowPos(nullptr, 0, 0, r.Width(), r.Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ModifyStyle(WS_VSCROLL, 0);
  Invalidate();
}

// ---- help and keys -----------------------------------------------------------

CString CImagingPropertySheet::HelpTopic() const {
  if (!IsAdvanced()) return u"basicmode";
  CPropertyPage* active = GetActivePage();
  if (active == &m_RestorePage) return u"restore";
  if (active == &m_BackupPage) return u"backup";
  return CString();
}

BOOL CImagingPropertySheet::ShowHelp() {
  const CString argument = CDynamicDialog::HelpArgument(HelpTopic());
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(CDynamicDialog::kHelpViewer, argument, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                        &pi))
    return FALSE;
  if (pi.hThread) ::CloseHandle(pi.hThread);
  if (pi.hProcess) ::CloseHandle(pi.hProcess);
  return TRUE;
}

LRESULT CImagingPropertySheet::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_HELP) ShowHelp();
  return CPropertySheet::WindowProc(msg, wParam, lParam);
}

BOOL CImagingPropertySheet::PreTranslateMessage(MSG* msg) {
  if (IsAdvanced() && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN && GetActiveIndex() == 0 &&
      GetActivePage() == &m_BackupPage && BackupPageEditHasFocus(m_BackupPage))
    return TRUE;
  return CPropertySheet::PreTranslateMessage(msg);
}

// ---- commands --------------------------------------------------------------

void CImagingPropertySheet::RunIdleOnce() {
  if (CWinApp* app = AfxGetApp()) app->OnIdle(1);
}

void CImagingPropertySheet::SaveBackupOptions(LPCWSTR failureText) {
  if (GetGlobal().g_BackupOptions.Save()) return;
  LogError(GetLastError(), failureText, kClass, __LINE__);
  AfxPostQuitMessage(0);
}

void CImagingPropertySheet::OnBackupOptionsCommand(UINT command) {
  AGlobal& g = GetGlobal();
  BackupOptionsBlock copy = g.g_BackupOptions.GetBlock();
  INT_PTR result = IDCANCEL;
  LPCWSTR failureText = u"Save Backup Options failed";
  switch (command) {
    case kCmdBackupOptions:
      result = m_Dialogs.backupOptions(this, copy);
      break;
    case kCmdFileManagement:
      result = m_Dialogs.fileManagement(this, copy);
      failureText = u"Save file management Options failed";
      break;
    case kCmdExclusionOptions:
      result = m_Dialogs.exclusionOptions(this, copy);
      failureText = u"Save Exclusion Options failed";
      break;
    default:
      return;
  }
  RunIdleOnce();
  if (result != IDOK) return;
  g.g_BackupOptions.SetBlock(copy);
  SaveBackupOptions(failureText);
  if (command == kCmdExclusionOptions) UpdateBackupPageTree(m_BackupPage);
}

void CImagingPropertySheet::OnRestoreOptions() {
  ARestoreOptionHandler& options = GetGlobal().g_RestoreOptions;
  RestoreOptionFlags flags;
  flags.restoreKill = options.GetRestoreKillFlag();
  flags.handleMenu = options.GetHandleMenuFlag();
  flags.nonDestructiveRestore = options.GetNonDestructiveRestoreFlag();
  flags.newDeviceRestore = options.GetNewDeviceRestoreFlag();
  const INT_PTR result = m_Dialogs.restoreOptions(this, flags);
  RunIdleOnce();
  if (result != IDOK) return;
  // bRestoreKill follows the device (toolhelp); the dialog shows it only.
  options.SetHandleMenuFlag(flags.handleMenu != 0);
  options.SetNonDestructiveRestoreFlag(flags.nonDestructiveRestore != 0);
  options.SetNewDeviceRestoreFlag(flags.newDeviceRestore != 0);
  if (options.Save()) return;
  LogError(GetLastError(), u"Save Restore Options failed", kClass, __LINE__);
  AfxPostQuitMessage(0);
}

void CImagingPropertySheet::OnResetOptions() {
  AGlobal& g = GetGlobal();
  g.g_BackupOptions.SetDefaults();
  g.g_RemoteOptions.SetDefaults();
  g.g_RestoreOptions.SetDefaults(g.g_bToolhelpAvailable);
  if (!g.g_BackupOptions.Save() || !g.g_RemoteOptions.Save() || !g.g_RestoreOptions.Save()) {
    LogError(GetLastError(), u"Save Options failed", kClass, __LINE__);
    AfxPostQuitMessage(0);
  }
  {
    CWaitCursor wait;
    if (!System::RemoveProgramFromStorageCard())
      Log(GetLastError(), u"Cannot delete Quilmo files from storageCard", kClass, __LINE__);
  }
  m_Dialogs.resetOptionsDisplay(this);
  RunIdleOnce();
  SetFocus();
}

void CImagingPropertySheet::OnChangeMode() {
  Log(0, u"Changing Mode", kClass, __LINE__);
  AGlobal& g = GetGlobal();
  g.g_bAdvancedMode = !g.g_bAdvancedMode;
  ChangeModePages();
  ABackupRegistrySettings settings(kSettingsKeyKind);
  if (!settings.WriteBool(kAdvancedModeValue, g.g_bAdvancedMode))
    LogError(GetLastError(), u"Unable to store bAdvancedMode", kClass, __LINE__);
}

BOOL CImagingPropertySheet::OnCommand(WPARAM wParam, LPARAM lParam) {
  // Menu commands come with no control.
  if (lParam != 0) return CPropertySheet::OnCommand(wParam, lParam);
  const UINT command = LOWORD(wParam);
  INT_PTR (*dialog)(CWnd*) = nullptr;
  switch (command) {
    case kCmdBackupOptions:
    case kCmdFileManagement:
    case kCmdExclusionOptions:
      OnBackupOptionsCommand(command);
      return TRUE;
    case kCmdRestoreOptions:
      OnRestoreOptions();
      return TRUE;
    case kCmdResetOptions:
      OnResetOptions();
      return TRUE;
    case kCmdChangeMode:
      OnChangeMode();
      return TRUE;
    case kCmdAdvancedOptions: dialog = m_Dialogs.advancedOptions; break;
    case kCmdSchedule: dialog = m_Dialogs.schedule; break;
    case kCmdMerrow: dialog = m_Dialogs.merrow; break;
    case kCmdPIM: dialog = m_Dialogs.pim; break;
    case kCmdConnection: dialog = m_Dialogs.connection; break;
    case kCmdNetworkShares: dialog = m_Dialogs.networkShares; break;
    case kCmdHistory: dialog = m_Dialogs.history; break;
    case kCmdAbout: dialog = m_Dialogs.about; break;
    default:
      return CPropertySheet::OnCommand(wParam, lParam);
  }
  dialog(this);
  RunIdleOnce();
  return TRUE;
}

// ---- the runner --------------------------------------------------------------

void RunImagingSheet(CQuilmoApp& app) {
  const bool startOnRestore = ImagePathHandedOver();
  CImagingPropertySheet sheet(GetApplicationName(), app.m_pMainWnd, startOnRestore);
  if (startOnRestore) HandImageToRestorePage(sheet.m_RestorePage, GetGlobal().g_Operation.imagePath.GetFullPath());
  sheet.DoModal();
  AfxPostQuitMessage(0);
}

void InstallImagingSheet() { SetMainSheetRunner(&RunImagingSheet); }
