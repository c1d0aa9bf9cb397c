#include "pages/ConnectionPage.h"

#include "ce/errors.h"
#include "ce/controls.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/OptionHandlers.h"
#include "core/ProductSettings.h"
#include "engine/Global.h"
#include "hostlink/HostConnection.h"
#include "pages/OptionDialogSupport.h"
#include "ui/DataExchange.h"

namespace {

constexpr const WCHAR* kClass = u"CConnectionPage";
constexpr const WCHAR* kHelpTopic = u"network";
constexpr const WCHAR* kPppPeer = u"ppp_peer";

constexpr DWORD kStrTitle = 65108;
constexpr DWORD kStrEnabled = 65097;
constexpr DWORD kStrPppPeer = 65098;
constexpr DWORD kStrNamedHost = 65099;
constexpr DWORD kStrHostLabel = 65100;
constexpr DWORD kStrDefaultPort = 65101;
constexpr DWORD kStrTest = 65103;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;

}  // namespace

CConnectionPage::CConnectionPage(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {
  UseInputPanel(kHostEditId);
  UseInputPanel(kPortEditId);
}

BOOL CConnectionPage::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, kStrTitle);
  Localizer::SetControlText(this, kEnabledCheckId, kStrEnabled);
  Localizer::SetControlText(this, kHostLabelId, kStrHostLabel);
  Localizer::SetControlText(this, kDefaultPortCheckId, kStrDefaultPort);
  Localizer::SetControlText(this, kTestButtonId, kStrTest);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  SendDlgItemMessage(kMethodComboId, CB_RESETCONTENT);
  SendDlgItemMessage(kMethodComboId, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Localizer::LoadResString(kStrPppPeer).GetString()));
  SendDlgItemMessage(kMethodComboId, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Localizer::LoadResString(kStrNamedHost).GetString()));
  SendDlgItemMessage(kMethodComboId, CB_SETCURSEL, 0);
  LoadOptions();
  UpdateData(FALSE);
  SendDlgItemMessage(kMethodComboId, CB_SETCURSEL, m_bPPPPeer ? 0 : 1);
  return result;
}

void CConnectionPage::LoadOptions() {
  // The start-up loads the program's remote options, so they are always
  // the ones in use here.
  const ARemoteOptionHandler& options = GetGlobal().g_RemoteOptions;
  m_csHostName = options.GetHostName();
  m_nPort = options.GetPort();
  m_bUseDefaultPort = options.GetUseDefaultPort() ? TRUE : FALSE;
  m_bRemoteEnabled = options.GetRemoteEnabled() ? TRUE : FALSE;
  m_bPPPPeer = options.GetMethod() ? TRUE : FALSE;
  if (m_bPPPPeer) m_csHostName = kPppPeer;
  UpdateStates();
}

void CConnectionPage::UpdateStates() {
  if (m_bRemoteEnabled) {
    OptionDialogs::EnableControls(this, {kMethodComboId, kDefaultPortCheckId, kTestButtonId}, true);
    if (m_bUseDefaultPort) m_nPort = GetDefaultHostPort();
    OptionDialogs::EnableControls(this, {kPortEditId}, !m_bUseDefaultPort);
    OptionDialogs::EnableControls(this, {kHostEditId, kHostLabelId}, !m_bPPPPeer);
  } else {
    OptionDialogs::EnableControls(this, {kDefaultPortCheckId, kPortEditId, kMethodComboId, kHostEditId,
                                         kHostLabelId, kTestButtonId},
                                  false);
  }
  UpdateData(FALSE);
}

void CConnectionPage::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  DDX_Text(dx, kHostEditId, m_csHostName);
  // The port never fails the exchange: what is typed is brought into range.
  if (dx->m_bSaveAndValidate) {
    CString text;
    GetDlgItemText(kPortEditId, text);
    m_nPort = OptionDialogs::ClampedNumber(text, ARemoteOptionHandler::kPortMin, ARemoteOptionHandler::kPortMax);
  } else {
    SetDlgItemInt(kPortEditId, m_nPort, FALSE);
  }
  DDX_Check(dx, kDefaultPortCheckId, m_bUseDefaultPort);
  DDX_Check(dx, kEnabledCheckId, m_bRemoteEnabled);
}

BOOL CConnectionPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (code == BN_CLICKED && id == kEnabledCheckId) {
    UpdateData(TRUE);
    UpdateStates();
    return TRUE;
  }
  if (code == BN_CLICKED && id == kDefaultPortCheckId) {
    UpdateData(TRUE);
    if (m_bUseDefaultPort) m_nPort = GetDefaultHostPort();
    UpdateStates();
    return TRUE;
  }
  if (code == BN_CLICKED && id == kTestButtonId) {
    OnTest();
    return TRUE;
  }
  if (id == kMethodComboId && code == CBN_SELCHANGE) {
    OnMethodChanged();
    return TRUE;
  }
  if (id == kPortEditId && code == EN_CHANGE) {
    CString text;
    GetDlgItemText(kPortEditId, text);
    m_nPort = OptionDialogs::ClampedNumber(text, ARemoteOptionHandler::kPortMin, ARemoteOptionHandler::kPortMax);
    return TRUE;
  }
  if (id == kHostEditId && code == EN_CHANGE) {
    CString text;
    GetDlgItemText(kHostEditId, text);
    if (text.GetLength() > kHostNameMax) SetDlgItemText(kHostEditId, OptionDialogs::CutText(text, kHostNameMax));
    return TRUE;
  }
  if ((id == kPortEditId || id == kHostEditId) && code == EN_KILLFOCUS) {
    OnInputPanelKillFocus(id);
    UpdateData(TRUE);
    m_csHostName = OptionDialogs::CutText(m_csHostName, kHostNameMax);
    UpdateData(FALSE);
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CConnectionPage::OnMethodChanged() {
  const int selected = static_cast<int>(SendDlgItemMessage(kMethodComboId, CB_GETCURSEL));
  if (selected < 0) return;
  const LRESULT length = SendDlgItemMessage(kMethodComboId, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected));
  std::u16string text(static_cast<size_t>(length > 0 ? length : 0) + 1, u'\0');
  SendDlgItemMessage(kMethodComboId, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                     reinterpret_cast<LPARAM>(text.data()));
  m_bPPPPeer = CString(text.c_str()) == Localizer::LoadResString(kStrPppPeer) ? TRUE : FALSE;
  UpdateData(TRUE);
  UpdateStates();
}

void CConnectionPage::OnTest() {
  // What the fields show now is what is tried.
  if (!UpdateData(TRUE)) return;
  const CString host = m_bPPPPeer ? CString(kPppPeer) : OptionDialogs::CutText(m_csHostName, kHostNameMax);
  const WORD port = static_cast<WORD>(ARemoteOptionHandler::ClampPort(m_nPort));
  CString line;
  line.Format(u"Testing the connection to %s:%u", host.GetString(), static_cast<unsigned>(port));
  Log(0, line, kClass, __LINE__);
  HostConnectionPtr connection = AHostConnection::ConnectToHost(host, port, kTestTimeoutSeconds, 0, true);
  if (connection) AHostConnection::CloseConnection(connection);
}

void CConnectionPage::OnOK() {
  if (!UpdateData(TRUE)) return;
  m_csHostName = OptionDialogs::CutText(m_csHostName, kHostNameMax);
  if (m_bPPPPeer) m_csHostName = kPppPeer;
  m_nPort = ARemoteOptionHandler::ClampPort(m_nPort);
  ARemoteOptionHandler& options = GetGlobal().g_RemoteOptions;
  options.SetHostName(m_csHostName);
  options.SetPort(m_nPort);
  options.SetUseDefaultPort(m_bUseDefaultPort != FALSE);
  options.SetRemoteEnabled(m_bRemoteEnabled != FALSE);
  options.SetMethod(m_bPPPPeer != FALSE);
  if (!options.Save()) LogError(GetLastError(), u"Save Remote Options failed", kClass, __LINE__);
  EndDialog(IDOK);
}

void CConnectionPage::OnPaint() {
  CDynamicDialog::OnPaint();
  CClientDC dc(this);
  OptionDialogs::DrawSeparatorBelow(dc, this, kEnabledCheckId);
  OptionDialogs::DrawSeparatorBelow(dc, this, kTestButtonId);
}
