#include "pages/BasicPage.h"

#include <algorithm>
#include <memory>

#include "app/MetaDataQuestions.h"
#include "app/PasswordDlg.h"
#include "ce/errors.h"
#include "ce/shell.h"
#include "ce/sip.h"
#include "ce/system.h"
#include "ce/time.h"
#include "core/DateTime.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "engine/LeftoverCopies.h"
#include "engine/RebootController.h"
#include "image/Cipher.h"
#include "image/ImageFile.h"
#include "image/MetaData.h"
#include "pages/ResetDialogs.h"
#include "pages/SheetMenuBar.h"
#include "pages/VersionDialogs.h"

namespace {

constexpr const WCHAR* kClass = u"CBasicPage";

constexpr DWORD kStrBackupButton = 65238;
constexpr DWORD kStrRestoreButton = 65239;
constexpr DWORD kStrDateLabel = 65229;
constexpr DWORD kStrNameLabel = 65230;
constexpr DWORD kStrNone = 65232;
constexpr DWORD kStrNetworkFolder = 65312;
constexpr DWORD kStrNoLocation = 65326;
constexpr DWORD kStrDocumentsFolderQuestion = 65370;

constexpr UINT kBackupBitmap = 318;
constexpr UINT kRestoreBitmap = 319;
constexpr UINT kSquareBackupBitmap = 388;
constexpr UINT kSquareRestoreBitmap = 389;

// The metadata check as the page reads it: 0 the comparison failed, 1
// nothing differs, else the difference bits.
constexpr DWORD kCheckFailed = 0;
constexpr DWORD kCheckSame = 1;

constexpr int kLabelSmallHeight = 13, kLabelHeight = 16;    // times the scale
constexpr int kButtonSmallHeight = 20, kButtonHeight = 16;  // times the scale

// Image files the search considers, by the end of their name.
bool HasImageEnding(const CString& name) {
  if (name.GetLength() < 3) return false;
  const CString ending = name.Right(3);
  return ending.CompareNoCase(u"pbf") == 0 || ending.CompareNoCase(u"exe") == 0;
}

CString FoundImageDate(const FILETIME& lastWrite) {
  const ADateTime when = ADateTime::FromFileTime(lastWrite);
  CString date, time, text;
  if (!System::FormatDate(when, true, date) || !System::FormatTime(when, time)) return text;
  text.Format(u"%s \n%s", date.GetString(), time.GetString());
  return text;
}

void MoveControl(CWnd& page, int id, int x, int y, int width, int height) {
  if (CWnd* control = page.GetDlgItem(id)) control->MoveWindow(x, y, std::max(0, width), std::max(0, height));
}

}  // namespace

struct CBasicPage::SearchResult {
  bool found = false;
  CString folder;
  WIN32_FIND_DATAW record{};
};

CString GetDocumentsFolder() {
  WCHAR path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPath(nullptr, path, CSIDL_PERSONAL, FALSE)) return CString(u"\\My Documents");
  return CString(path);
}

// The image path starts empty, with the base name "Backup".
CBasicPage::CBasicPage() : CDynamicPropertyPage(IDD, kCaptionId) {}

// ---------------------------------------------------------------- opening

BOOL CBasicPage::OnInitDialog() {
  CreateFonts();
  LoadTexts();
  SearchForImages();
  const BOOL result = CDynamicPropertyPage::OnInitDialog();
  CreateSheetMenuBar(GetSheet());
  m_nTimer = SetTimer(kShellTimer, kShellTimerMs);
  return result;
}

void CBasicPage::CreateFonts() {
  LOGFONTW system{};
  ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof system, &system);
  const int scale = GetDisplayScale();
  const bool small = GetAllowSmallFonts();

  LOGFONTW label = system;
  label.lfHeight = (small ? kLabelSmallHeight : kLabelHeight) * scale;
  label.lfWeight = FW_BOLD;
  m_LabelFont.DeleteObject();
  if (m_LabelFont.CreateFontIndirect(&label))
    for (int id : {kDateLabelId, kDateId, kNameLabelId, kNameId})
      if (CWnd* control = GetDlgItem(id)) control->SetFont(&m_LabelFont);

  LOGFONTW button = system;
  button.lfHeight = (small ? kButtonSmallHeight : kButtonHeight) * scale;
  button.lfWeight = FW_NORMAL;
  m_ButtonFont.DeleteObject();
  if (m_ButtonFont.CreateFontIndirect(&button))
    for (int id : {kBackupButtonId, kRestoreButtonId})
      if (CWnd* control = GetDlgItem(id)) control->SetFont(&m_ButtonFont);
}

void CBasicPage::LoadTexts() {
  Localizer::SetControlText(this, kBackupButtonId, kStrBackupButton);
  Localizer::SetControlText(this, kRestoreButtonId, kStrRestoreButton);
  Localizer::SetControlText(this, kDateLabelId, kStrDateLabel);
  Localizer::SetControlText(this, kNameLabelId, kStrNameLabel);
}

void CBasicPage::OnTimer(UINT_PTR id) {
  if (id != kShellTimer) {
    CDynamicPropertyPage::OnTimer(id);
    return;
  }
  KillTimer(kShellTimer);
  m_nTimer = 0;
  // The shell-support step of the class library acts on a Pocket PC shell
  // only; the device's shell here needs nothing from the page.
}

// ----------------------------------------------------------------- search

void CBasicPage::SearchForImages() {
  SearchResult best;
  // The documents folder is scanned without its root backslash: the
  // device takes such a path as rooted.
  const CString documents = GetDocumentsFolder();
  ScanFolder(documents.Mid(1), best);

  const CString network = Localizer::LoadResString(kStrNetworkFolder);
  WIN32_FIND_DATAW entry{};
  HANDLE find = FindFirstFileW(u"\\*.*", &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const DWORD cardMark = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
      if ((entry.dwFileAttributes & cardMark) == cardMark && network.CompareNoCase(entry.cFileName) != 0)
        ScanFolder(CString(entry.cFileName), best);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }

  if (best.found) {
    m_ImagePath.SetFolder(best.folder);
    m_ImagePath.SetName(CString(best.record.cFileName), true);
  }
  ShowSearchResult(best);
}

void CBasicPage::ScanFolder(const CString& folder, SearchResult& best) const {
  const CString network = Localizer::LoadResString(kStrNetworkFolder);
  WIN32_FIND_DATAW entry{};
  HANDLE find = FindFirstFileW(folder + u"\\*.*", &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const CString name(entry.cFileName);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (name.CompareNoCase(u"Windows") == 0 || name.CompareNoCase(network) == 0 ||
          name.CompareNoCase(u"ConnMgr") == 0)
        continue;
      ScanFolder(folder + u"\\" + name, best);
      continue;
    }
    if (!HasImageEnding(name)) continue;
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) continue;
    if (!AImageFile::IsBackupFile(folder + u"\\" + name)) continue;
    // On equal times the image found first stays.
    if (!best.found || CompareFileTime(&best.record.ftLastWriteTime, &entry.ftLastWriteTime) == -1) {
      best.found = true;
      best.folder = folder;
      best.record = entry;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

void CBasicPage::ShowSearchResult(const SearchResult& best) {
  WIN32_FIND_DATAW existing{};
  const CString path = m_ImagePath.GetFullPath();
  const bool known = !m_ImagePath.IsEmpty() && System::FileExists(path, &existing);
  if (CWnd* restore = GetDlgItem(kRestoreButtonId)) restore->EnableWindow(known);
  if (!known) {
    Localizer::SetControlText(this, kDateId, kStrNone);
    Localizer::SetControlText(this, kNameId, kStrNone);
    return;
  }
  // A search that found nothing shows the kept image's own date.
  SetDlgItemText(kDateId, FoundImageDate(best.found ? best.record.ftLastWriteTime : existing.ftLastWriteTime));
  SetDlgItemText(kNameId, m_ImagePath.GetDisplayName());
}

// ------------------------------------------------------------- drawing

int CBasicPage::SeparatorY() const {
  const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), screenHeight};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return (2 * (work.bottom - work.top) - screenHeight) / 2;
}

void CBasicPage::OnPaint() {
  CPaintDC dc(this);
  const int y = SeparatorY();
  dc.MoveTo(0, y);
  dc.LineTo(::GetSystemMetrics(SM_CXSCREEN), y);
  DrawBitmapOverControl(dc, *this, kBackupPictureId, m_BackupBitmap);
  DrawBitmapOverControl(dc, *this, kRestorePictureId, m_RestoreBitmap);
}

HBRUSH CBasicPage::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
  HBRUSH brush = CDynamicPropertyPage::OnCtlColor(dc, wnd, ctlColor);
  if (!dc || !wnd) return brush;
  const int id = wnd->GetDlgCtrlID();
  if (id == kDateId || id == kNameId) dc->SetTextColor(kImageTextColour);
  return brush;
}

void CBasicPage::LoadBitmaps() {
  const bool square = System::IsSquareScreen();
  AResBitmap backup, restore;
  if (LoadResBitmap(square ? kSquareBackupBitmap : kBackupBitmap, backup))
    m_BackupBitmap = std::move(backup);
  else
    LogError(GetLastError(), u"Error loading backup bitmap", kClass, __LINE__);
  if (LoadResBitmap(square ? kSquareRestoreBitmap : kRestoreBitmap, restore))
    m_RestoreBitmap = std::move(restore);
  else
    LogError(GetLastError(), u"Error loading restore bitmap", kClass, __LINE__);
}

BOOL CBasicPage::OnOrientationChange() { return RelayoutDialog(); }

BOOL CBasicPage::RelayoutDialog() {
  Log(0, u"CBasicPage RelayoutDialog", kClass, __LINE__);
  LoadBitmaps();
  CRect client;
  GetClientRect(&client);
  const int scale = GetDisplayScale();
  const int margin = 4 * scale;
  const int picture = 48 * scale;
  const bool landscape = System::IsLandscape();
  const int buttonHeight = (landscape ? 24 : 28) * scale;
  const int labelHeight = 16 * scale;
  // The halves meet at the separator line when it falls inside the page.
  int split = SeparatorY();
  if (split <= 0 || split >= client.Height()) split = client.Height() / 2;
  const int halfHeight = std::min(split, client.Height() - split);
  // A long date takes three lines; a landscape page has room for fewer.
  const int valueHeight = std::max(labelHeight, std::min(48 * scale, halfHeight - 2 * margin - buttonHeight -
                                                                          labelHeight));

  // The button beside the picture, the label and the text below the button.
  auto placeHalf = [&](int top, int pictureId, int buttonId, int labelId, int valueId) {
    const int x = margin + picture + margin;
    const int width = client.Width() - x - margin;
    MoveControl(*this, pictureId, margin, top + margin, picture, picture);
    MoveControl(*this, buttonId, x, top + margin, width, buttonHeight);
    MoveControl(*this, labelId, x, top + margin + buttonHeight, width, labelHeight);
    MoveControl(*this, valueId, x, top + margin + buttonHeight + labelHeight, width, valueHeight);
  };
  placeHalf(0, kBackupPictureId, kBackupButtonId, kDateLabelId, kDateId);
  placeHalf(split, kRestorePictureId, kRestoreButtonId, kNameLabelId, kNameId);

  CString text;
  CRect backupNow, restoreImage;
  if (CWnd* w = GetDlgItem(kBackupButtonId)) {
    w->GetWindowRect(&backupNow);
    ScreenToClient(&backupNow);
  }
  if (CWnd* w = GetDlgItem(kNameId)) {
    w->GetWindowRect(&restoreImage);
    ScreenToClient(&restoreImage);
  }
  text.Format(u"rectBackupNow.top: %d", static_cast<int>(backupNow.top));
  Log(0, text, kClass, __LINE__);
  text.Format(u"rectRestoreImage.bottom: %d", static_cast<int>(restoreImage.bottom));
  Log(0, text, kClass, __LINE__);
  Invalidate(TRUE);
  return TRUE;
}

// --------------------------------------------------------------- commands

BOOL CBasicPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == kBackupButtonId) {
      OnBackup();
      return TRUE;
    }
    if (LOWORD(wParam) == kRestoreButtonId) {
      OnRestore();
      return TRUE;
    }
  }
  return CDynamicPropertyPage::OnCommand(wParam, lParam);
}

// ------------------------------------------------------------------ backup

void CBasicPage::OnBackup() {
  Log(0, u"Basic Mode Backup", kClass, __LINE__);
  AGlobal& g = GetGlobal();
  ABackupFilePath location;
  if (!FindBackupLocation(location)) return;
  if (g.g_BackupOptions.PackOptions() & (1u << kOptionAppendDate)) location.AppendDateSuffix();
  const CString documents = GetDocumentsFolder();
  AvoidFullMainStorage(location, documents);
  if (!ConfirmDocumentsFolder(location, documents)) return;

  FillBackupDescriptor(location);
  // The client's end clears the task report of this attempt.
  const AImagingTaskClient task(g.g_Operation, nullptr);
  BuildBackupIndex();
  if (!AskBackupPassword()) return;
  if (!InitCipherKey(g.g_bEncrypt, g.g_bEncrypt ? g.g_csTaskPassword.GetString() : nullptr))
    LogError(GetLastError(), u"InitCipherKey failed", kClass, __LINE__);
  RememberDefaultFile(location);
  g.g_Operation.operationKind = kOperationBackup;
  g.g_Operation.taskStartMode = kStartAtOnce;
  if (!ConfirmReset(kBackupButtonId)) return;
  RestartForOperation(true);
}

bool CBasicPage::FindBackupLocation(ABackupFilePath& location) const {
  // The search itself, not the advanced pages' remembered file: and it
  // writes nothing back, so a backup that stops at a question leaves the
  // settings as they were.
  if (location.FindDefaultBackupLocation(false, GetAlwaysChooseBuiltInStorageInBasicMode())) return true;
  Log(0, u"No backup location available", kClass, __LINE__);
  Localizer::TextMessageBox(Localizer::FormatResString(kStrNoLocation, GetApplicationName()), MB_OK);
  return false;
}

void CBasicPage::AvoidFullMainStorage(ABackupFilePath& location, const CString& documents) const {
  if (!m_bMainStorageFull || !location.IsOnBuiltInStorage() || !GetAllowBackupToMainMemory()) return;
  const CString path = documents + u"\\" + location.GetFileName();
  CString text;
  text.Format(u"No space on IPSM switching backup to %s", path.GetString());
  Log(0, text, kClass, __LINE__);
  location.Set(path, false);
}

bool CBasicPage::ConfirmDocumentsFolder(const ABackupFilePath& location, const CString& documents) const {
  if (location.GetFolder(false).CompareNoCase(documents) != 0) return true;
  return Localizer::ResMessageBox(kStrDocumentsFolderQuestion, MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

void CBasicPage::FillBackupDescriptor(const ABackupFilePath& location) {
  OperationDescriptor& op = GetGlobal().g_Operation;
  op.imagePath = location;
  op.includeDatabases = GetIncludeDatabases() ? 1 : 0;
  op.includeFileSystem = GetIncludeFileSystem() ? 1 : 0;
  op.includeRegistry = GetIncludeRegistry() ? 1 : 0;
  op.includeMail = GetIncludeMail() ? 1 : 0;
  op.hostMode = kHostModeLocal;
  op.operationKind = kOperationBackup;
}

void CBasicPage::BuildBackupIndex() {
  AGlobal& g = GetGlobal();
  const OperationDescriptor& op = g.g_Operation;
  IncludedKinds kinds;
  kinds.fileSystem = op.includeFileSystem != 0;
  kinds.mail = op.includeMail != 0;
  kinds.databases = op.includeDatabases != 0;
  kinds.registry = op.includeRegistry != 0;
  g.g_WorkingIndex.Reset();
  CWinApp* app = AfxGetApp();
  if (app) app->BeginWaitCursor();
  g.g_WorkingIndex.AddTopLevelComponents(&kinds);
  if (app) app->EndWaitCursor();
}

bool CBasicPage::AskBackupPassword() {
  AGlobal& g = GetGlobal();
  g.g_bEncrypt = false;
  if (!(g.g_BackupOptions.PackOptions() & (1u << kOptionEncrypt))) return true;
  CPasswordDlg dialog(this);
  const INT_PTR answer = dialog.DoModal();
  ::SHSipPreference(m_hWnd, SIP_FORCEDOWN);
  if (answer != IDOK) return false;
  g.g_bEncrypt = true;
  return true;
}

void CBasicPage::RememberDefaultFile(const ABackupFilePath& location) {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  if (!settings.WriteString(kDefaultFileValue, location.GetFullPath()))
    LogError(GetLastError(), u"Unable to store csDefaultFile", kClass, __LINE__);
}

// ----------------------------------------------------------------- restore

void CBasicPage::OnRestore() {
  Log(0, u"Basic Mode Restore", kClass, __LINE__);
  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  op.hostMode = kHostModeLocal;
  op.operationKind = kOperationRestore;
  op.imagePath = m_ImagePath;
  AImagingTaskClient task(op, nullptr);

  bool metaRead = false, wideChecksum = false;
  if (!OpenImageMetaData(metaRead, wideChecksum)) return;
  // The engine answers 0 both for an image that fits and for one it could
  // not read; the page's own read tells the two apart.
  const DWORD engine = task.CheckMetaData();
  const DWORD difference = !metaRead ? kCheckFailed : engine == 0 ? kCheckSame : engine;
  if (!AcceptMetaData(difference)) return;
  if (g.g_bEncrypt && !AskImagePassword(wideChecksum)) return;
  if (!LoadRestoreIndex()) return;
  ChooseUpgradeData();
  op.taskStartMode = kStartAtOnce;
  if (!ConfirmReset(kRestoreButtonId)) return;
  RestartForOperation(false);
}

bool CBasicPage::OpenImageMetaData(bool& metaRead, bool& wideChecksum) {
  AGlobal& g = GetGlobal();
  const CString path = m_ImagePath.GetFullPath();
  AImageFile image(AImageFile::kRestore, AImageFile::kLocal);
  image.SetFileName(path);
  if (!image.Open()) {
    LogError(GetLastError(), CString(u"Couldn't open file: ") + path, kClass, __LINE__);
    Localizer::TextMessageBox(CString(u"Couldn't open file: ") + path, MB_OK);
    return false;
  }
  // The metadata tells whether the image has a password and its check value.
  AMetaData metaData;
  metaData.SetImageFile(&image);
  MetaDataGlobals globals = g.GetMetaDataGlobals();
  metaRead = metaData.Read(false, &globals);
  if (metaRead) {
    g.ApplyMetaDataGlobals(globals);
    wideChecksum = metaData.HasExtendedVersion();
  }
  if (!image.Close()) LogError(GetLastError(), u"Closing the image failed", kClass, __LINE__);
  return true;
}

bool CBasicPage::AcceptMetaData(DWORD difference) {
  if (difference == kCheckFailed) {
    LogError(1, u"CheckMetaData failed", kClass, __LINE__);
    return false;
  }
  return AcceptMetaDataDifference(difference == kCheckSame ? 0 : difference, GetGlobal().g_Operation, kClass);
}

bool CBasicPage::AskImagePassword(bool wideChecksum) {
  CPasswordDlg dialog(wideChecksum, true, this);
  return dialog.DoModal() == IDOK;
}

bool CBasicPage::LoadRestoreIndex() {
  AGlobal& g = GetGlobal();
  if (!InitCipherKey(g.g_bEncrypt, g.g_bEncrypt ? g.g_csTaskPassword.GetString() : nullptr))
    LogError(GetLastError(), u"InitCipherKey failed", kClass, __LINE__);
  const CString path = m_ImagePath.GetFullPath();
  AImageFile image(AImageFile::kRestore, AImageFile::kLocal);
  image.SetFileName(path);
  if (!image.Open()) {
    Localizer::TextMessageBox(CString(u"Couldn't open file: ") + path, MB_OK);
    return false;
  }
  const bool loaded = g.g_WorkingIndex.Locate(image, true);
  if (!image.Close()) LogError(GetLastError(), u"Closing the image failed", kClass, __LINE__);
  if (!loaded) {
    LogError(0, CString(u"Error loading restore index of file: ") + path, kClass, __LINE__);
    Localizer::TextMessageBox(CString(u"Error loading restore index of file: ") + path, MB_OK);
    return false;
  }
  return true;
}

void CBasicPage::ChooseUpgradeData() {
  AGlobal& g = GetGlobal();
  OperationDescriptor& op = g.g_Operation;
  op.upgradeMode = g.g_RestoreOptions.GetNewDeviceRestoreFlag() ? 1 : 0;
  if (!op.upgradeMode) return;
  CUpgradeDataDlg dialog(this);
  if (dialog.DoModal() == IDOK) {
    Log(0, u"Dialog OK", kClass, __LINE__);
    if (!g.g_WorkingIndex.LoadUpgradeFileList(dialog.GetFileName(), true))
      LogError(0, u"The upgrade data file could not be read", kClass, __LINE__);
    return;
  }
  op.upgradeMode = 0;
  Log(0, u"Cancelled file upgrade file selection", kClass, __LINE__);
}

// ------------------------------------------------------------- both roads

bool CBasicPage::ConfirmReset(int focusId) {
  if (!ShouldShowResetWarning()) return true;
  ResetNotificationDlg warning(GetGlobal().g_Operation.operationKind, this);
  if (warning.DoModal() == IDOK) return true;
  if (CWnd* button = GetDlgItem(focusId)) button->SetFocus();
  return false;
}

void CBasicPage::RestartForOperation(bool bootCopies) {
  RebootController& controller = RebootController::Instance();
  // After a resumed operation the location reads 2001: a new operation
  // starts its own reset from 2000 again.
  if (controller.GetLocation() == RebootController::kOperationLocation) return;
  controller.SetLocation(RebootController::kOperationLocation);
  if (bootCopies) {
    RemoveLeftoverBootCopies();
    // Files whose copy could not be queued are read while in use.
    if (!GetGlobal().g_WorkingIndex.AddBootCopiesForBackup())
      LogError(0, u"Boot-time copies not registered", kClass, __LINE__);
  }
  if (!RebootSequence::Instance().ShutdownAndReboot(true, true))
    LogError(GetLastError(), u"The device was not reset for the operation", kClass, __LINE__);
}
