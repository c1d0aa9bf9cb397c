#include "pages/FileDialogs.h"

#include <cstdio>

#include "ce/commctrl.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/shell.h"
#include "ce/time.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "engine/Global.h"
#include "hostlink/DistributedFile.h"
#include "hostlink/HostConnection.h"
#include "image/ImageEntryHeader.h"
#include "image/ImageFile.h"
#include "image/MetaData.h"

namespace {

constexpr const WCHAR* kOpenClass = u"CNewOpenDlg";
constexpr const WCHAR* kSaveClass = u"CNewSaveDlg";

// Strings.
constexpr DWORD kStrOpen = 65165;
constexpr DWORD kStrAnnotationLabel = 65255;
constexpr DWORD kStrPlaceLabel = 65168;
constexpr DWORD kStrDevicePlace = 57730;
constexpr DWORD kStrHostPlace = 65257;
constexpr DWORD kStrCancel = 57686;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrNameColumn = 57684;
constexpr DWORD kStrDateColumn = 57709;
constexpr DWORD kStrFolderColumn = 65166;
constexpr DWORD kStrSizeColumn = 65167;
constexpr DWORD kStrNoHost = 65301;
constexpr DWORD kStrNetworkFolder = 65312;
constexpr DWORD kStrSaveHeading = 65160;
constexpr DWORD kStrSaveLabel = 65162;
constexpr DWORD kStrSavePlaceLabel = 65164;
constexpr DWORD kStrFolderLabel = 65161;
constexpr DWORD kStrSaveAnnotationLabel = 65249;
constexpr DWORD kStrRootFolder = 65232;
constexpr DWORD kStrDefaultName = 57662;
constexpr DWORD kStrPlaceholder = 65247;
constexpr DWORD kStrNameCleaned = 65321;
constexpr DWORD kStrNoPlace = 65326;

constexpr int kNameWidth = 170;
constexpr int kDateWidth = 80;
constexpr int kFolderWidth = 100;
constexpr int kSizeWidth = 50;
constexpr int kIconSize = 16;           // times the display scale
constexpr int kProgramIconId = 128;     // the main frame's resource
constexpr DWORD kHostListSeconds = 10;  // connection time-out of a host listing
constexpr DWORD kHostListAttempts = 1;

// Layout (pixels at scale 1).
constexpr int kMargin = 3;
constexpr int kTitleHeight = 20;
constexpr int kRowHeight = 22;
constexpr int kLabelHeight = 16;
constexpr int kButtonWidth = 60;
constexpr int kButtonHeight = 23;

bool IsDots(const WCHAR* name) {
  return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

bool IsHiddenOrSystem(DWORD attributes) {
  return (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

// A folder with a leading and a trailing backslash.
CString WithBackslashes(const CString& folder) {
  CString text = folder;
  if (text.IsEmpty() || text[0] != u'\\') text = u"\\" + text;
  if (text[text.GetLength() - 1] != u'\\') text += u"\\";
  return text;
}

void MoveControl(CWnd& dialog, int id, int x, int y, int width, int height) {
  if (CWnd* control = dialog.GetDlgItem(id)) control->MoveWindow(x, y, width, height);
}

void ShowControl(CWnd& dialog, int id, bool show) {
  if (CWnd* control = dialog.GetDlgItem(id)) control->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void EnableControl(CWnd& dialog, int id, bool enable) {
  if (CWnd* control = dialog.GetDlgItem(id)) control->EnableWindow(enable ? TRUE : FALSE);
}

// The two buttons of a file dialog: along the bottom in portrait (the
// accepting one at the right), stacked at the right edge in landscape.
// Returns the room they leave: the bottom in portrait, the right edge in
// landscape.
int LayoutDialogButtons(CWnd& dialog, int acceptId, bool landscape, int scale) {
  CRect client;
  dialog.GetClientRect(&client);
  const int m = kMargin * scale;
  const int w = kButtonWidth * scale;
  const int h = kButtonHeight * scale;
  if (landscape) {
    const int x = client.Width() - w - m;
    MoveControl(dialog, acceptId, x, m, w, h);
    MoveControl(dialog, IDCANCEL, x, 2 * m + h, w, h);
    return x - m;
  }
  const int y = client.Height() - h - m;
  MoveControl(dialog, acceptId, client.Width() - w - m, y, w, h);
  MoveControl(dialog, IDCANCEL, m, y, w, h);
  return y - m;
}

// The separator line below the heading of both file dialogs.
void PaintSeparator(CWnd& dialog, int yUnscaled) {
  CPaintDC dc(&dialog);
  const int y = yUnscaled * GetDisplayScale();
  dc.MoveTo(0, y);
  dc.LineTo(::GetSystemMetrics(SM_CXSCREEN), y);
}

bool DesktopHostEnabled() { return GetGlobal().g_RemoteOptions.GetRemoteEnabled(); }

// Where the tail of an image says its metadata entry begins: the sum of
// the tail's three position words (all 0 for a plain image, whose metadata
// opens the file; a self-restoring program records where its image starts).
LONG MetaDataPosition(const AImageFileHeader& tail) {
  const ULONGLONG sum =
      ULONGLONG{tail.CountOrValue()} + ULONGLONG{tail.NameByteLength()} + ULONGLONG{tail.RecordId()};
  return sum > 0x7FFFFFFFu ? -1 : static_cast<LONG>(sum);
}

}  // namespace

// ------------------------------------------------------------- file list

void CNewFileListCtrl::AddColumns() {
  InsertColumn(kName, Localizer::LoadResString(kStrNameColumn), LVCFMT_LEFT, kNameWidth);
  InsertColumn(kDate, Localizer::LoadResString(kStrDateColumn), LVCFMT_LEFT, kDateWidth);
  InsertColumn(kFolder, Localizer::LoadResString(kStrFolderColumn), LVCFMT_LEFT, kFolderWidth);
  InsertColumn(kSize, Localizer::LoadResString(kStrSizeColumn), LVCFMT_LEFT, kSizeWidth);
}

int CNewFileListCtrl::AddFile(const CString& name, const FILETIME& lastWriteUtc, const CString& folder,
                              ULONGLONG size) {
  const int row = InsertItem(GetItemCount(), name, 0);
  if (row < 0) return row;
  SetItemText(row, kDate, FormatWriteTime(lastWriteUtc));
  SetItemText(row, kFolder, folder);
  SetItemText(row, kSize, FormatSize(size));
  return row;
}

CString CNewFileListCtrl::FormatSize(ULONGLONG size) {
  CString text;
  if (size <= 1024) text.Format(u"%db", static_cast<int>(size));
  else if (size <= 1048576) text.Format(u"%5.1fk", static_cast<double>(size) / 1024.0);
  else text.Format(u"%4.2fm", static_cast<double>(size) / 1048576.0);
  return text;
}

CString CNewFileListCtrl::FormatWriteTime(const FILETIME& lastWriteUtc) {
  FILETIME local{};
  SYSTEMTIME fields{};
  ADateTime when;
  if (!FileTimeToLocalFileTime(&lastWriteUtc, &local) || !FileTimeToSystemTime(&local, &fields) ||
      !ADateTime::FromLocalSystemTime(fields, &when))
    return CString();
  CString time, date, text;
  if (!System::FormatTime(when, time) || !System::FormatDate(when, false, date)) return CString();
  text.Format(u"%s, %s", time.GetString(), date.GetString());
  return text;
}

// ------------------------------------------------------------ open dialog

CNewOpenDlg::CNewOpenDlg(CWnd* parent) : CDynamicDialog(IDD, parent, u"open") {}

BOOL CNewOpenDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  m_csNetworkFolder = WithBackslashes(Localizer::LoadResString(kStrNetworkFolder));
  m_Path.Clear();
  m_Path.SetLocationKind(kLocationLocal);
  SetTexts();
  FillPlaces();
  SetUpList();
  ListFiles();
  return result;
}

void CNewOpenDlg::SetTexts() {
  Localizer::SetControlText(this, kTitleControlId, kStrOpen);
  Localizer::SetControlText(this, kAnnotationLabelId, kStrAnnotationLabel);
  Localizer::SetControlText(this, kPlaceLabelId, kStrPlaceLabel);
  Localizer::SetControlText(this, kOpenId, kStrOpen, false);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
}

void CNewOpenDlg::FillPlaces() {
  if (!m_Places.m_hWnd && !m_Places.SubclassDlgItem(kPlaceId, this)) return;
  CComboBox* places = &m_Places;
  places->ResetContent();
  places->AddString(Localizer::LoadResString(kStrDevicePlace));
  places->AddString(Localizer::LoadResString(kStrHostPlace));
  places->SetCurSel(0);
  const bool host = DesktopHostEnabled();
  ShowControl(*this, kPlaceLabelId, host);
  ShowControl(*this, kPlaceId, host);
}

void CNewOpenDlg::SetUpList() {
  if (!m_FileList.SubclassDlgItem(kListId, this)) {
    LogError(GetLastError(), u"The file list is missing", kOpenClass, __LINE__);
    return;
  }
  m_FileList.ModifyStyle(LVS_TYPEMASK, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS);
  m_FileList.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  m_FileList.AddColumns();
  const int size = kIconSize * GetDisplayScale();
  if (m_ImageList.Create(size, size, ILC_COLOR | ILC_MASK, 1, 1)) {
    // Without the program's icon the rows simply show none.
    if (HICON icon = ::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kProgramIconId))) m_ImageList.Add(icon);
    m_FileList.SetImageList(&m_ImageList, LVSIL_SMALL);
  }
}

void CNewOpenDlg::ListFiles() {
  CWaitCursor wait;
  if (m_FileList.m_hWnd) m_FileList.DeleteAllItems();
  SetDlgItemText(kAnnotationId, u"");
  EnableControl(*this, kOpenId, false);
  const DWORD kind = m_Path.GetLocationKind();
  m_Path.Clear();
  m_Path.SetLocationKind(kind);
  if (kind == kLocationRemoteHost) ListHostFiles();
  else ListDeviceFolder(u"\\", false);
}

void CNewOpenDlg::ListDeviceFolder(const CString& folderText, bool filesOnly) {
  const CString folder = WithBackslashes(folderText);
  const bool networkRoot = folder.CompareNoCase(m_csNetworkFolder) == 0;
  WIN32_FIND_DATAW found{};
  HANDLE find = ::FindFirstFileW(folder + u"*.*", &found);
  if (find == INVALID_HANDLE_VALUE) return;  // an empty or missing folder adds nothing
  do {
    if (IsDots(found.cFileName)) continue;
    const CString name(found.cFileName);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (filesOnly || name == u"Windows" || name == u"ConnMgr") continue;
      if (networkRoot) {
        Log(0, u"Network folder located!", kOpenClass, __LINE__);
        ListDeviceFolder(folder + name, true);
      } else {
        ListDeviceFolder(folder + name, false);
      }
      continue;
    }
    AddDeviceFile(folder, found);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
}

void CNewOpenDlg::AddDeviceFile(const CString& folder, const WIN32_FIND_DATAW& found) {
  const CString name(found.cFileName);
  const CString ending = name.Right(3);
  if (ending != u"pbf" && ending != u"exe") return;
  if (IsHiddenOrSystem(found.dwFileAttributes)) return;
  if (!AImageFile::IsBackupFile(folder + name)) return;
  const ULONGLONG size = (ULONGLONG{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
  m_FileList.AddFile(name, found.ftLastWriteTime, folder, size);
}

void CNewOpenDlg::ListHostFiles() {
  AGlobal& g = GetGlobal();
  if (m_Path.GetLocationKind() == kLocationRemoteHost) AHostConnection::LoadHostAndPort(g.g_RemoteOptions);
  else AHostConnection::LoadServerHostDetails();
  HostConnectionPtr connection = AHostConnection::ConnectToHost(
      AHostConnection::GetHostName(), AHostConnection::GetPort(), kHostListSeconds, kHostListAttempts, false);
  if (!connection) {
    Localizer::ResMessageBox(kStrNoHost, MB_OK);
    return;
  }
  HostFindDataArray entries;
  ADistributedFile listing(connection);
  const bool listed = listing.GetDirectory(entries);
  AHostConnection::CloseConnection(connection);
  if (!listed) {
    LogError(GetLastError(), u"Failed to read the directory listing from the host", kOpenClass, __LINE__);
    return;
  }
  for (int i = 0; i < entries.GetSize(); ++i) {
    const HOST_FIND_DATA& entry = entries[i];
    const ULONGLONG size = (ULONGLONG{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
    m_FileList.AddFile(CString(entry.cFileName), entry.ftLastWriteTime, kHostFolderText, size);
  }
}

BOOL CNewOpenDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  if (id == kPlaceId && code == CBN_SELCHANGE) {
    OnPlaceChange();
    return TRUE;
  }
  if (id == kOpenId && code == BN_CLICKED) {
    OnOpen();
    return TRUE;
  }
  if (id == IDOK) {  // Return in the dialog: as Open
    OnOpen();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

BOOL CNewOpenDlg::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (!header || header->idFrom != static_cast<UINT_PTR>(kListId)) return CDynamicDialog::OnNotify(wParam, lParam, result);
  switch (header->code) {
    case LVN_ITEMCHANGED: {
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
      if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
          !(change->uOldState & LVIS_SELECTED))
        SelectFile(change->iItem);
      break;
    }
    case NM_CLICK:
    case LVN_ITEMACTIVATE:
      SelectFile(reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
      break;
    case NM_DBLCLK: {
      const int row = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
      if (row >= 0) {
        SelectFile(row);
        OnOpen();
      }
      break;
    }
    default:
      return CDynamicDialog::OnNotify(wParam, lParam, result);
  }
  if (result) *result = 0;
  return TRUE;
}

void CNewOpenDlg::OnPlaceChange() {
  CComboBox* places = &m_Places;
  if (!places->m_hWnd) return;
  CString text;
  const int sel = places->GetCurSel();
  if (sel >= 0) places->GetLBText(sel, text);
  const bool hostChosen = text == Localizer::LoadResString(kStrHostPlace);
  const bool hostCurrent = m_Path.GetLocationKind() == kLocationRemoteHost;
  if (hostChosen == hostCurrent) return;
  m_Path.SetLocationKind(hostChosen ? kLocationRemoteHost : kLocationLocal);
  ListFiles();
}

void CNewOpenDlg::SelectFile(int row) {
  const CString name = row >= 0 ? m_FileList.GetItemText(row, CNewFileListCtrl::kName) : CString();
  SetDlgItemText(kAnnotationId, u"");
  if (name.IsEmpty()) {
    EnableControl(*this, kOpenId, false);
    return;
  }
  EnableControl(*this, kOpenId, true);
  const DWORD kind = m_Path.GetLocationKind();
  if (kind == kLocationRemoteHost) {
    m_Path.Set(name, false);
    m_Path.SetFolder(u"");
    m_Path.SetLocationKind(kind);
    return;
  }
  const CString folder = m_FileList.GetItemText(row, CNewFileListCtrl::kFolder);
  m_Path.Set(folder + name, false);
  m_Path.SetLocationKind(kind);
  ExamineDeviceFile();
}

void CNewOpenDlg::ExamineDeviceFile() {
  AImageFile image(AImageFile::kRestore, AImageFile::kLocal);
  image.SetFileName(m_Path.GetFullPath());
  if (!image.Open()) {
    LogError(GetLastError(), u"m_ImageFile.Open() failed", kOpenClass, __LINE__);
    m_Path.Clear();
    return;
  }
  if (!ShowImageAnnotation(image)) m_Path.Clear();
  // Read only: a failed close loses nothing.
  static_cast<void>(image.Close());
}

bool CNewOpenDlg::ShowImageAnnotation(AImageFile& image) {
  if (!image.SetFilePointer(-static_cast<LONG>(ImageFormat::kHeaderSize), FILE_END)) {
    LogError(GetLastError(), u"SetFilePointer() failed for END_OF_IMAGE", kOpenClass, __LINE__);
    return false;
  }
  Log(0, u"About to test exe for END_OF_IMAGE", kOpenClass, __LINE__);
  AImageFileHeader tail;
  if (!tail.ReadPlain(image) || tail.ComponentType() != END_OF_IMAGE) {
    LogError(GetLastError(), u"Error moving filepointer! Exe does not contain a backup", kOpenClass, __LINE__);
    return false;
  }
  // From here on the file is an image: a failure keeps the choice.
  const LONG position = MetaDataPosition(tail);
  if (position < 0 || !image.SetFilePointer(position, FILE_BEGIN)) {
    LogError(GetLastError(), u"Error moving filepointer!", kOpenClass, __LINE__);
    return true;
  }
  AMetaData metaData(&image);
  if (!metaData.Read()) {
    LogError(GetLastError(), u"Error reading file metadata!", kOpenClass, __LINE__);
    return true;
  }
  SetDlgItemText(kAnnotationId, metaData.GetAnnotation());
  return true;
}

void CNewOpenDlg::OnOpen() { EndDialog(m_Path.GetName().IsEmpty() ? IDCANCEL : IDOK); }

BOOL CNewOpenDlg::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  const int scale = GetDisplayScale();
  const bool landscape = System::IsLandscape();
  const int room = LayoutDialogButtons(*this, kOpenId, landscape, scale);
  CRect client;
  GetClientRect(&client);
  const int m = kMargin * scale;
  const int right = landscape ? room : client.Width() - m;
  const int bottom = landscape ? client.Height() - m : room;
  const int width = right - m;
  int y = m;
  MoveControl(*this, kTitleControlId, m, y, width, kLabelHeight * scale);
  y = (kSeparatorY + 2) * scale;
  if (DesktopHostEnabled()) {
    const int label = width / 3;
    MoveControl(*this, kPlaceLabelId, m, y + 3 * scale, label, kLabelHeight * scale);
    MoveControl(*this, kPlaceId, m + label, y, width - label, kRowHeight * scale * 4);
    y += kRowHeight * scale + m;
  }
  const int annotationTop = bottom - kRowHeight * scale;
  const int annotationLabelTop = annotationTop - kLabelHeight * scale;
  MoveControl(*this, kListId, m, y, width, annotationLabelTop - m - y);
  MoveControl(*this, kAnnotationLabelId, m, annotationLabelTop, width, kLabelHeight * scale);
  MoveControl(*this, kAnnotationId, m, annotationTop, width, kRowHeight * scale);
  return TRUE;
}

void CNewOpenDlg::OnPaint() { PaintSeparator(*this, kSeparatorY); }

// ------------------------------------------------------------ save dialog

std::vector<CString> ListVisibleSubfolders(const CString& folderText) {
  std::vector<CString> names;
  const CString folder = WithBackslashes(folderText);
  WIN32_FIND_DATAW found{};
  HANDLE find = ::FindFirstFileW(folder + u"*.*", &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (IsDots(found.cFileName)) continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsHiddenOrSystem(found.dwFileAttributes))
      names.emplace_back(found.cFileName);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  return names;
}

CNewSaveDlg::CNewSaveDlg(const ABackupFilePath& path, bool nameEditable, bool hostAllowed, bool showAnnotation,
                         CWnd* parent)
    : CDynamicDialog(IDD, parent, u"SaveAs"),
      m_Path(path),
      m_bNameEditable(nameEditable),
      m_bHostAllowed(hostAllowed),
      m_bShowAnnotation(showAnnotation) {}

bool CNewSaveDlg::RemoveForbiddenCharacters(CString& name) {
  CString kept;
  bool removed = false;
  for (int i = 0; i < name.GetLength(); ++i) {
    const WCHAR c = name[i];
    bool forbidden = false;
    for (const WCHAR* f = kForbiddenCharacters; *f; ++f) forbidden = forbidden || c == *f;
    if (forbidden) removed = true;
    else kept += c;
  }
  name = kept;
  return removed;
}

BOOL CNewSaveDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  m_csHostPlace = Localizer::LoadResString(kStrHostPlace);
  m_csNetworkPlace = Localizer::LoadResString(kStrNetworkFolder);
  m_csRootFolder = Localizer::LoadResString(kStrRootFolder);
  m_csPlaceholder = Localizer::LoadResString(kStrPlaceholder);
  if (!GetAllowSmallFonts()) {
    // Without small fonts the heading keeps its unscaled height.
    LOGFONTW font{};
    font.lfHeight = kLargeTitleHeight;
    font.lfWeight = kTitleFontWeight;
    font.lfCharSet = DEFAULT_CHARSET;
    if (m_HeadingFont.CreateFontIndirect(&font))
      if (CWnd* title = GetDlgItem(kTitleControlId)) title->SetFont(&m_HeadingFont);
  }
  SetTexts();
  SetDlgItemText(kNameId, m_Path.GetName());
  if (m_bShowAnnotation) {
    const CString annotation = GetGlobal().g_Operation.GetAnnotation();
    SetDlgItemText(kAnnotationId, annotation.IsEmpty() ? m_csPlaceholder : annotation);
    UseInputPanel(kAnnotationId);
  } else {
    ShowControl(*this, kAnnotationLabelId, false);
    ShowControl(*this, kAnnotationId, false);
  }
  EnableControl(*this, kNameId, m_bNameEditable);
  if (!FillPlaces()) {
    EndDialog(IDOK);
    return result;
  }
  FillFolders();
  return result;
}

void CNewSaveDlg::SetTexts() {
  Localizer::SetControlText(this, kTitleControlId, kStrSaveHeading);
  Localizer::SetControlText(this, kLabelId, kStrSaveLabel);
  Localizer::SetControlText(this, kPlaceLabelId, kStrSavePlaceLabel);
  Localizer::SetControlText(this, kFolderLabelId, kStrFolderLabel);
  Localizer::SetControlText(this, kAnnotationLabelId, kStrSaveAnnotationLabel);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
}

bool CNewSaveDlg::FillPlaces() {
  if (!m_Places.m_hWnd && !m_Places.SubclassDlgItem(kPlaceId, this)) return false;
  CComboBox* places = &m_Places;
  places->ResetContent();
  WIN32_FIND_DATAW found{};
  HANDLE find = ::FindFirstFileW(u"\\*.*", &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (IsDots(found.cFileName)) continue;
      const DWORD mounted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
      if ((found.dwFileAttributes & mounted) == mounted) places->AddString(found.cFileName);
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
  }
  if (GetAllowBackupToMainMemory()) {
    WCHAR documents[MAX_PATH] = {};
    if (::SHGetSpecialFolderPath(m_hWnd, documents, CSIDL_PERSONAL, FALSE)) {
      const WCHAR* name = documents[0] == u'\\' ? documents + 1 : documents;
      if (*name) places->AddString(name);
    }
  }
  if (m_bHostAllowed) places->AddString(m_csHostPlace);
  if (places->GetCount() == 0) {
    ::MessageBoxW(m_hWnd, Localizer::FormatResString(kStrNoPlace, GetApplicationName()), GetApplicationName(),
                  MB_OK);
    m_Path.Clear();
    m_bNoPlace = true;
    return false;
  }
  int select = -1;
  if (m_Path.GetLocationKind() == kLocationRemoteHost && m_bHostAllowed)
    select = places->FindStringExact(-1, m_csHostPlace);
  if (select < 0) {
    CString root = m_Path.GetRootFolder();
    if (!root.IsEmpty() && root[0] == u'\\') root = root.Mid(1);
    if (!root.IsEmpty()) select = places->FindStringExact(-1, root);
  }
  places->SetCurSel(select < 0 ? 0 : select);
  return true;
}

CString CNewSaveDlg::SelectedText(int comboId) const {
  CString text;
  const CComboBox* combo = comboId == kPlaceId ? &m_Places : &m_Folders;
  if (!combo->m_hWnd) return text;
  const int sel = combo->GetCurSel();
  if (sel >= 0) combo->GetLBText(sel, text);
  return text;
}

bool CNewSaveDlg::IsHostPlace(const CString& place) const { return m_bHostAllowed && place == m_csHostPlace; }

bool CNewSaveDlg::IsNetworkPlace(const CString& place) const { return place.CompareNoCase(m_csNetworkPlace) == 0; }

void CNewSaveDlg::FillFolders() {
  if (!m_Folders.m_hWnd && !m_Folders.SubclassDlgItem(kFolderId, this)) return;
  CComboBox* folders = &m_Folders;
  folders->ResetContent();
  const CString place = SelectedText(kPlaceId);
  if (IsHostPlace(place)) {
    folders->AddString(m_csRootFolder);
    folders->SetCurSel(0);
    EnableControl(*this, kFolderLabelId, false);
    EnableControl(*this, kFolderId, false);
    return;
  }
  EnableControl(*this, kFolderLabelId, true);
  EnableControl(*this, kFolderId, true);
  if (!IsNetworkPlace(place)) folders->AddString(m_csRootFolder);
  for (const CString& name : ListVisibleSubfolders(u"\\" + place)) folders->AddString(name);
  if (folders->GetCount() > 0) folders->SetCurSel(0);
  // The path's own folder, when the place holds it.
  CString last = m_Path.GetFolder(false);
  const int slash = last.ReverseFind(u'\\');
  if (slash >= 0) last = last.Mid(slash + 1);
  if (!last.IsEmpty()) {
    const int at = folders->FindStringExact(-1, last);
    if (at >= 0) folders->SetCurSel(at);
  }
}

void CNewSaveDlg::OnPlaceCloseUp() {
  m_Path.SetLocationKind(IsHostPlace(SelectedText(kPlaceId)) ? kLocationRemoteHost : kLocationLocal);
  FillFolders();
}

CString CNewSaveDlg::FindFolder(const CString& placeFolder, const CString& folderName) {
  for (const CString& name : ListVisibleSubfolders(placeFolder)) {
    const CString path = WithBackslashes(placeFolder) + name;
    if (name.CompareNoCase(folderName) == 0) return path;
    const CString below = FindFolder(path, folderName);
    if (!below.IsEmpty()) return below;
  }
  return CString();
}

BOOL CNewSaveDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  // A person's choice closes the list up; a chosen entry alone (automation,
  // keys) changes the selection: both refill the folders.
  if (id == kPlaceId && (code == CBN_CLOSEUP || code == CBN_SELCHANGE)) {
    OnPlaceCloseUp();
    return TRUE;
  }
  if (id == kAnnotationId && code == EN_SETFOCUS) OnAnnotationSetFocus();
  if (id == kAnnotationId && code == EN_KILLFOCUS) OnAnnotationKillFocus();
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CNewSaveDlg::OnAnnotationSetFocus() {
  CString text;
  GetDlgItemText(kAnnotationId, text);
  if (text == m_csPlaceholder) SetDlgItemText(kAnnotationId, u"");
}

void CNewSaveDlg::OnAnnotationKillFocus() {
  CString text;
  GetDlgItemText(kAnnotationId, text);
  if (text.IsEmpty()) SetDlgItemText(kAnnotationId, m_csPlaceholder);
}

void CNewSaveDlg::OnOK() {
  CString name;
  GetDlgItemText(kNameId, name);
  if (RemoveForbiddenCharacters(name)) Localizer::ResMessageBox(kStrNameCleaned, MB_OK | MB_ICONINFORMATION);
  name.Trim(u" ");
  if (name.IsEmpty()) name = Localizer::LoadResString(kStrDefaultName);

  const CString place = SelectedText(kPlaceId);
  const CString folderChoice = SelectedText(kFolderId);
  if (IsHostPlace(place)) {
    m_Path.SetLocationKind(kLocationRemoteHost);
    m_Path.SetFolder(u"");
  } else {
    m_Path.SetLocationKind(kLocationLocal);
    if (IsNetworkPlace(place)) {
      m_Path.SetFolder(place + u"\\" + folderChoice);
    } else if (folderChoice == m_csRootFolder || folderChoice.IsEmpty()) {
      m_Path.SetFolder(place);
    } else {
      const CString found = FindFolder(u"\\" + place, folderChoice);
      m_Path.SetFolder(found.IsEmpty() ? u"\\" + place + u"\\" + folderChoice : found);
    }
  }
  m_Path.SetFileName(name);
  m_Path.SetExtension(ABackupFilePath::kImageExtension);

  CString annotation;
  GetDlgItemText(kAnnotationId, annotation);
  if (annotation.IsEmpty()) annotation = m_csPlaceholder;
  GetGlobal().g_Operation.SetAnnotation(annotation.Left(kMaxAnnotation).view());
  EndDialog(IDOK);
}

BOOL CNewSaveDlg::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  const int scale = GetDisplayScale();
  const bool landscape = System::IsLandscape();
  CRect client;
  GetClientRect(&client);
  const int m = kMargin * scale;
  const int right = landscape ? client.Width() - (kButtonWidth + 2 * kMargin) * scale : client.Width() - m;
  const int width = right - m;
  const int row = kRowHeight * scale;
  const int label = kLabelHeight * scale;
  int y = m;
  MoveControl(*this, kTitleControlId, m, y, width, label);
  y = (kSeparatorY + 2) * scale;
  MoveControl(*this, kLabelId, m, y, width, label);
  y += label + m;
  MoveControl(*this, kNameId, m, y, width, row);
  y += row + m;
  const int half = width / 3;
  MoveControl(*this, kPlaceLabelId, m, y + 3 * scale, half, label);
  MoveControl(*this, kPlaceId, m + half, y, width - half, row * 4);
  y += row + m;
  MoveControl(*this, kFolderLabelId, m, y + 3 * scale, half, label);
  MoveControl(*this, kFolderId, m + half, y, width - half, row * 4);
  y += row + m;
  MoveControl(*this, kAnnotationLabelId, m, y, width, label);
  y += label;
  MoveControl(*this, kAnnotationId, m, y, width, row);
  return TRUE;
}

void CNewSaveDlg::OnPaint() { PaintSeparator(*this, kSeparatorY); }
