#include "pages/NetworkShareManagerDlg.h"

#include <algorithm>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/commctrl.h"
#include "ce/netconn.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/RegistrySettings.h"
#include "ui/ListCtrl.h"

namespace {

constexpr const WCHAR* kClass = u"CNetworkShareManagerDlg";
constexpr const WCHAR* kHelpTopic = u"networkshares";
constexpr const WCHAR* kConnectionsKey = u"Comm\\Redir\\Connections";
constexpr const WCHAR* kRedirKey = u"Comm\\Redir";
constexpr const WCHAR* kRemoteNameValue = u"RemoteName";
constexpr const WCHAR* kRegisterRootValue = u"RegisterFSRoot";
constexpr int kColumnPadding = 15;

constexpr DWORD kStrTitle = 65157;
constexpr DWORD kStrShareColumn = 65158;
constexpr DWORD kStrRemoteColumn = 65159;
constexpr DWORD kStrConnect = 57764;
constexpr DWORD kStrDisconnect = 57762;
constexpr DWORD kStrNoRemoteName = 65232;
constexpr DWORD kStrNetworkFolder = 65312;
constexpr DWORD kStrHint = 65311;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;

bool& HintFlag() {
  static bool shown = false;
  return shown;
}

}  // namespace

CNetworkShareManagerDlg::CNetworkShareManagerDlg(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {}

bool CNetworkShareManagerDlg::HintShown() { return HintFlag(); }
void CNetworkShareManagerDlg::ResetHintForTest() { HintFlag() = false; }

CString CNetworkShareManagerDlg::NetworkFolder() const {
  return CString(u"\\") + Localizer::LoadResString(kStrNetworkFolder);
}

BOOL CNetworkShareManagerDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  if (CWnd* title = GetDlgItem(kTitleControlId)) title->SetFont(&m_TitleFont);
  Localizer::SetControlText(this, kTitleControlId, kStrTitle);
  Localizer::SetControlText(this, kConnectButtonId, kStrConnect);
  Localizer::SetControlText(this, kDisconnectButtonId, kStrDisconnect);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  if (CWnd* disconnect = GetDlgItem(kDisconnectButtonId)) disconnect->EnableWindow(FALSE);
  m_List.SubclassDlgItem(kListId, this);
  CListCtrl* list = &m_List;
  list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
  list->InsertColumn(0, Localizer::LoadResString(kStrShareColumn), LVCFMT_LEFT, kColumnWidth);
  list->InsertColumn(1, Localizer::LoadResString(kStrRemoteColumn), LVCFMT_LEFT, kColumnWidth);
  FillList();
  UpdateData(FALSE);
  return result;
}

void CNetworkShareManagerDlg::FillList() {
  CListCtrl* list = &m_List;
  list->DeleteAllItems();
  int widest0 = list->GetStringWidth(Localizer::LoadResString(kStrShareColumn));
  int widest1 = list->GetStringWidth(Localizer::LoadResString(kStrRemoteColumn));

  WIN32_FIND_DATAW found{};
  const CString pattern = NetworkFolder() + u"\\*.*";
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    HintFlag() = false;
  } else {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      const CString name(found.cFileName);
      const int row = list->InsertItem(list->GetItemCount(), name);
      CString remote;
      ARegistrySettings connection(CString(kConnectionsKey) + u"\\" + name, kUserPathKind);
      if (!connection.ReadString(kRemoteNameValue, remote) || remote.IsEmpty()) {
        Log(0, CString(u"Error getting remotename value for: ") + name, kClass, __LINE__);
        remote = Localizer::LoadResString(kStrNoRemoteName);
      }
      list->SetItemText(row, 1, remote);
      widest0 = std::max(widest0, list->GetStringWidth(name));
      widest1 = std::max(widest1, list->GetStringWidth(remote));
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  if (list->GetItemCount() > 0 && !HintFlag()) {
    Localizer::ResMessageBox(kStrHint, MB_OK | MB_ICONINFORMATION);
    HintFlag() = true;
  }
  const int width0 = std::min(widest0 + kColumnPadding, kColumnWidth);
  list->SetColumnWidth(0, width0);
  list->SetColumnWidth(1, std::max(widest1, kListWidth - width0));
  UpdateSelection();
}

void CNetworkShareManagerDlg::UpdateSelection() {
  CListCtrl* list = &m_List;
  const int row = list->GetNextItem(-1, LVNI_SELECTED);
  const bool valid = row >= 0 && row < list->GetItemCount();
  if (CWnd* disconnect = GetDlgItem(kDisconnectButtonId)) disconnect->EnableWindow(valid ? TRUE : FALSE);
  m_csShareName = valid ? list->GetItemText(row, 0) : CString();
  m_csRemoteName = valid ? list->GetItemText(row, 1) : CString();
}

BOOL CNetworkShareManagerDlg::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header != nullptr && static_cast<int>(header->idFrom) == kListId &&
      (header->code == LVN_ITEMCHANGED || header->code == NM_CLICK)) {
    UpdateSelection();
    return FALSE;
  }
  return CDynamicDialog::OnNotify(wParam, lParam, result);
}

BOOL CNetworkShareManagerDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == kConnectButtonId) {
      OnConnect();
      return TRUE;
    }
    if (LOWORD(wParam) == kDisconnectButtonId) {
      OnDisconnect();
      return TRUE;
    }
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CNetworkShareManagerDlg::OnConnect() {
  NETRESOURCEW resource{};
  resource.dwType = RESOURCETYPE_DISK;
  CONNECTDLGSTRUCTW dialog{};
  dialog.cbStructure = sizeof(CONNECTDLGSTRUCTW);
  dialog.hwndOwner = m_hWnd;
  dialog.lpConnRes = &resource;
  const DWORD error = WNetConnectionDialog1W(&dialog);
  if (error == 0xFFFFFFFFu) {
    Log(0, u"CNetworkShareManager::WNetConnectionDialog1 canceled by user", kClass, __LINE__);
    return;
  }
  if (error != NO_ERROR) {
    LogError(error, u"CNetworkShareManager::WNetConnectionDialog1 failed", kClass, __LINE__);
    return;
  }
  CString line;
  line.Format(u"CNetworkShareManager::WNetConnectionDialog1 succeeded for %s connected to %d devices",
              resource.lpRemoteName ? resource.lpRemoteName : u"", static_cast<int>(dialog.dwDevNum));
  Log(0, line, kClass, __LINE__);
  Log(0, u"Setting RegisterFSRoot to true", kClass, __LINE__);
  ARegistrySettings redir(kRedirKey, kMachinePathKind);
  if (!redir.WriteDWORD(kRegisterRootValue, 1))
    LogError(GetLastError(), u"Error setting RegisterFSRoot value", kClass, __LINE__);
  FillList();
  FillList();
}

void CNetworkShareManagerDlg::OnDisconnect() {
  UpdateSelection();
  if (m_csShareName.IsEmpty()) return;
  const CString name = m_csShareName;
  Log(0, CString(u"Deleting network share - ") + name, kClass, __LINE__);
  const DWORD error = WNetCancelConnection2W(name, CONNECT_UPDATE_PROFILE, TRUE);
  if (error != NO_ERROR) {
    LogError(error, u"CancelConnection2 failed", kClass, __LINE__);
    return;
  }
  ARegistrySettings connections(kConnectionsKey, kUserPathKind);
  if (!connections.DeleteKey(name))
    LogError(GetLastError(), u"Error deleting connections registry key", kClass, __LINE__);
  FillList();
  FillList();
  if (m_List.GetItemCount() == 0) {
    Log(0, u"Deleting RegisterFSRoot value", kClass, __LINE__);
    ARegistrySettings redir(kRedirKey, kMachinePathKind);
    if (!redir.DeleteValue(kRegisterRootValue))
      LogError(GetLastError(), u"Error deleting RegisterFSRoot value", kClass, __LINE__);
  }
}

BOOL CNetworkShareManagerDlg::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  // The list fills the width; Connect and Disconnect stand below it.
  CWnd* list = GetDlgItem(kListId);
  CWnd* connect = GetDlgItem(kConnectButtonId);
  CWnd* disconnect = GetDlgItem(kDisconnectButtonId);
  CWnd* ok = GetDlgItem(IDOK);
  if (list == nullptr || connect == nullptr || disconnect == nullptr || ok == nullptr) return TRUE;
  CRect client, l, c, o;
  GetClientRect(&client);
  list->GetWindowRect(&l);
  ScreenToClient(&l);
  connect->GetWindowRect(&c);
  ok->GetWindowRect(&o);
  ScreenToClient(&o);
  const int right = (IsLandscapeLayout() ? o.left : client.right) - kButtonMargin;
  const int bottom = (IsLandscapeLayout() ? client.bottom : o.top) - kButtonMargin;
  const int buttonsTop = bottom - c.Height();
  connect->MoveWindow(l.left, buttonsTop, c.Width(), c.Height());
  disconnect->MoveWindow(l.left + c.Width() + kButtonMargin, buttonsTop, c.Width(), c.Height());
  list->MoveWindow(l.left, l.top, right - l.left, buttonsTop - kButtonMargin - l.top);
  return TRUE;
}
