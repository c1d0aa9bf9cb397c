#include "pages/VersionDialogs.h"

#include <algorithm>

#include "ce/time.h"
#include "core/DateTime.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "engine/BackupHistory.h"
#include "ui/DataExchange.h"

namespace {

constexpr const WCHAR* kHistoryClass = u"CViewBackupHistoryDlg";

constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrVersionHeading = 65316;
constexpr DWORD kStrHistoryHeading = 65337;
constexpr DWORD kStrHistoryLabel = 65338;
constexpr DWORD kStrHistorySecondLabel = 65259;
constexpr DWORD kStrDateColumn = 57709;

// Stretches control from its top left corner to the buttons: down to just
// above them in portrait, across to just left of them in landscape (where
// they stand along the right edge).
void FillToButtons(CWnd& dialog, CWnd& control, bool landscape) {
  const int margin = CDynamicDialog::kButtonMargin;
  CRect client, rect, ok;
  dialog.GetClientRect(&client);
  control.GetWindowRect(&rect);
  dialog.ScreenToClient(&rect);
  int right = client.right - margin;
  int bottom = client.bottom - margin;
  if (CWnd* button = dialog.GetDlgItem(IDOK)) {
    button->GetWindowRect(&ok);
    dialog.ScreenToClient(&ok);
    if (landscape)
      right = ok.left - margin;
    else
      bottom = ok.top - margin;
  }
  control.MoveWindow(rect.left, rect.top, std::max(0, right - static_cast<int>(rect.left)),
                     std::max(0, bottom - static_cast<int>(rect.top)));
}

}  // namespace

// ------------------------------------------------------------ versions

CVersionPage::CVersionPage(CWnd* parent) : CDynamicDialog(IDD, parent) {}

void CVersionPage::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  DDX_Control(dx, kVersionsId, m_Versions);
}

BOOL CVersionPage::OnInitDialog() {
  CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, kStrVersionHeading);
  Localizer::SetControlText(this, IDOK, kStrOk);
  RelayoutDialog();  // the text exists for the data exchange only now
  m_Versions.SetWindowText(System::GetInstalledVersionsText());
  // The focus goes to OK: the dialog manager would select the whole text
  // of a focused edit.
  if (CWnd* ok = GetDlgItem(IDOK)) ok->SetFocus();
  m_Versions.SetSel(0, 0);  // nothing selected, the caret (at the start) in view
  return FALSE;
}

BOOL CVersionPage::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  if (m_Versions.m_hWnd) FillToButtons(*this, m_Versions, IsLandscapeLayout());
  return TRUE;
}

INT_PTR RunVersionDialog(CWnd* parent) {
  CVersionPage dialog(parent);
  return dialog.DoModal();
}

// -------------------------------------------------------- report list

int CHistoryListCtrl::AddReport(const WIN32_FIND_DATAW& record) {
  auto copy = std::make_unique<WIN32_FIND_DATAW>(record);
  const int row = InsertItem(GetItemCount(), RowText(record.ftLastWriteTime));
  if (row < 0) return row;
  SetItemData(row, reinterpret_cast<DWORD_PTR>(copy.get()));
  m_Records.push_back(std::move(copy));
  return row;
}

void CHistoryListCtrl::SortNewestFirst() { SortItems(&CHistoryListCtrl::CompareNewestFirst, 0); }

void CHistoryListCtrl::RemoveAll() {
  DeleteAllItems();
  m_Records.clear();
}

const WIN32_FIND_DATAW* CHistoryListCtrl::Record(int row) const {
  if (row < 0 || row >= GetItemCount()) return nullptr;
  return reinterpret_cast<const WIN32_FIND_DATAW*>(GetItemData(row));
}

int CALLBACK CHistoryListCtrl::CompareNewestFirst(LPARAM first, LPARAM second, LPARAM) {
  const auto* a = reinterpret_cast<const WIN32_FIND_DATAW*>(first);
  const auto* b = reinterpret_cast<const WIN32_FIND_DATAW*>(second);
  if (!a || !b) return 0;
  return CompareFileTime(&b->ftLastWriteTime, &a->ftLastWriteTime);
}

CString CHistoryListCtrl::RowText(const FILETIME& lastWrite) {
  const ADateTime when = ADateTime::FromFileTime(lastWrite);
  CString time, date, text;
  System::FormatTime(when, time);
  System::FormatDate(when, true, date);
  text.Format(u"%s, %s", time.GetString(), date.GetString());
  return text;
}

bool CHistoryListCtrl::OpenReport(int row) {
  const WIN32_FIND_DATAW* record = Record(row);
  if (!record) return false;
  const CString argument = CString(u"\"") + m_csFolder + u"\\" + record->cFileName + u"\"";
  return System::RunQuilmoCommand(GetOmbricExeName(), argument, false);
}

BOOL CHistoryListCtrl::OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (msg != WM_NOTIFY) return CListCtrl::OnChildNotify(msg, wParam, lParam, result);
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header->code == LVN_ITEMACTIVATE) {
    OpenReport(reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem);
    *result = 0;
    return TRUE;
  }
  if (header->code == NM_CLICK) {
    LVHITTESTINFO hit{};
    hit.pt = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->ptAction;
    const int row = HitTest(&hit);
    if (row >= 0 && (hit.flags & LVHT_ONITEMLABEL)) {
      SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      OpenReport(row);
    }
    *result = 0;
    return TRUE;
  }
  return CListCtrl::OnChildNotify(msg, wParam, lParam, result);
}

// ------------------------------------------------------------- history

CViewBackupHistoryDlg::CViewBackupHistoryDlg(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {}

void CViewBackupHistoryDlg::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  DDX_Control(dx, kListId, m_List);
}

BOOL CViewBackupHistoryDlg::OnInitDialog() {
  Localizer::SetControlText(this, kTitleControlId, kStrHistoryHeading);
  Localizer::SetControlText(this, kLabelId, kStrHistoryLabel);
  Localizer::SetControlText(this, kSecondLabelId, kStrHistorySecondLabel);
  Localizer::SetControlText(this, IDOK, kStrOk);
  const BOOL result = CDynamicDialog::OnInitDialog();
  m_List.SetExtendedStyle(m_List.GetExtendedStyle() | LVS_EX_FULLROWSELECT);
  m_List.InsertColumn(0, Localizer::LoadResString(kStrDateColumn), LVCFMT_LEFT,
                      kColumnWidth * GetDisplayScale());
  PopulateList();
  RelayoutDialog();
  return result;
}

void CViewBackupHistoryDlg::PopulateList() {
  Log(0, u"Populating Ombric list", kHistoryClass, __LINE__);
  m_List.RemoveAll();
  ABackupHistoryHandler history;
  if (!history.Found()) static_cast<void>(history.CreateFolder());  // an empty folder is reported below
  m_csFolder = history.Folder();
  m_List.SetFolder(m_csFolder);
  if (!history.Found() || m_csFolder.IsEmpty()) {
    Log(0, u"No Backup History folder found", kHistoryClass, __LINE__);
    return;
  }
  WIN32_FIND_DATAW record{};
  HANDLE find = FindFirstFileW(m_csFolder + u"\\*", &record);
  if (find == INVALID_HANDLE_VALUE) {
    Log(0, u"No Backup History files found", kHistoryClass, __LINE__);
  } else {
    do {
      m_List.AddReport(record);
    } while (FindNextFileW(find, &record));
    FindClose(find);
  }
  m_List.SortNewestFirst();
  Log(0, u"List populated", kHistoryClass, __LINE__);
}

BOOL CViewBackupHistoryDlg::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  // The list takes the room between the labels and the buttons.
  if (m_List.m_hWnd) FillToButtons(*this, m_List, IsLandscapeLayout());
  return TRUE;
}

INT_PTR RunBackupHistoryDialog(CWnd* parent) {
  CViewBackupHistoryDlg dialog(parent);
  return dialog.DoModal();
}
