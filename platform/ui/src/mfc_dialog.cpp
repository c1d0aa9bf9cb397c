// CDialog: modal and modeless dialogs through the dialog manager.
#include "ce/errors.h"
#include "mfc_internal.h"

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_lpszTemplateName(MAKEINTRESOURCEW(templateId)), m_pParentWnd(parent) {
  m_nIDHelp = templateId;
}

CDialog::CDialog(LPCWSTR templateName, CWnd* parent) : m_pParentWnd(parent) {
  if (templateName != nullptr && !IS_INTRESOURCE(templateName)) {
    m_templateNameStore = templateName;
    m_lpszTemplateName = m_templateNameStore.c_str();
  } else {
    m_lpszTemplateName = templateName;
  }
}

CDialog::~CDialog() = default;

HWND CDialog::ParentForModal() const {
  if (m_pParentWnd != nullptr) return m_pParentWnd->m_hWnd;
  CWnd* main = AfxGetMainWnd();
  if (main != nullptr && main != this && main->m_hWnd != nullptr && IsWindow(main->m_hWnd)) return main->m_hWnd;
  return nullptr;
}

INT_PTR CDialog::DoModal() {
  if (m_hWnd != nullptr || (m_lpszTemplateName == nullptr && !m_indirect)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  ui::detail::EnsureMsgFilterHook();
  HWND parent = ParentForModal();
  CWnd*& pending = WndAccess::Pending();
  CWnd* previous = pending;
  pending = this;
  m_modal = true;
  INT_PTR result =
      m_indirect ? DialogBoxIndirectParamW(AfxGetResourceHandle(), m_indirect.get(), parent, &AfxDlgProc,
                                           reinterpret_cast<LPARAM>(this))
                 : DialogBoxParamW(AfxGetResourceHandle(), m_lpszTemplateName, parent, &AfxDlgProc,
                                   reinterpret_cast<LPARAM>(this));
  if (pending == this) pending = previous;
  m_modal = false;
  // The dialog is destroyed by now; normally WM_DESTROY detached us.
  if (m_hWnd != nullptr && !IsWindow(m_hWnd)) WndAccess::Unbind(this, false);
  return result;
}

bool CDialog::CreateModeless(HWND parent) {
  if (m_hWnd != nullptr) return false;
  CWnd*& pending = WndAccess::Pending();
  CWnd* previous = pending;
  pending = this;
  HWND h = m_indirect ? CreateDialogIndirectParamW(AfxGetResourceHandle(), m_indirect.get(), parent, &AfxDlgProc,
                                                   reinterpret_cast<LPARAM>(this))
                      : CreateDialogParamW(AfxGetResourceHandle(), m_lpszTemplateName, parent, &AfxDlgProc,
                                           reinterpret_cast<LPARAM>(this));
  if (pending == this) pending = previous;
  if (h == nullptr) {
    if (m_hWnd != nullptr) WndAccess::Unbind(this, false);
    return false;
  }
  if (m_hWnd != h) {  // got no message while being made
    WndAccess::Bind(this, h);
    WndAccess::SetDlgRouted(this, true);
  }
  return true;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) { return Create(MAKEINTRESOURCEW(templateId), parent); }

BOOL CDialog::Create(LPCWSTR templateName, CWnd* parent) {
  if (templateName != nullptr && !IS_INTRESOURCE(templateName)) {
    m_templateNameStore = templateName;
    m_lpszTemplateName = m_templateNameStore.c_str();
  } else {
    m_lpszTemplateName = templateName;
  }
  if (IS_INTRESOURCE(templateName)) m_nIDHelp = static_cast<UINT>(reinterpret_cast<uintptr_t>(templateName));
  m_indirect.reset();
  if (parent != nullptr) m_pParentWnd = parent;
  return CreateModeless(m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr) ? TRUE : FALSE;
}

BOOL CDialog::CreateIndirect(const ce::DialogTemplate& dialog, CWnd* parent) {
  m_indirect = std::make_unique<ce::DialogTemplate>(dialog);
  if (parent != nullptr) m_pParentWnd = parent;
  return CreateModeless(m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr) ? TRUE : FALSE;
}

void CDialog::InitModalIndirect(const ce::DialogTemplate& dialog, CWnd* parent) {
  m_indirect = std::make_unique<ce::DialogTemplate>(dialog);
  if (parent != nullptr) m_pParentWnd = parent;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) {
  if (m_hWnd != nullptr) ::EndDialog(m_hWnd, result);
}

void CDialog::NextDlgCtrl() const { ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, 0); }
void CDialog::PrevDlgCtrl() const { ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 1, 0); }
void CDialog::GotoDlgCtrl(CWnd* control) {
  if (control != nullptr) ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control->m_hWnd), 1);
}
void CDialog::SetDefID(UINT id) { ::SendMessageW(m_hWnd, DM_SETDEFID, id, 0); }
DWORD CDialog::GetDefID() const { return static_cast<DWORD>(::SendMessageW(m_hWnd, DM_GETDEFID, 0, 0)); }

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case IDOK:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      OnOK();
      return TRUE;
    case IDCANCEL:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  // Modal loops and parent dialogs run the keyboard interface themselves.
  if (m_modal || (GetStyle() & WS_CHILD) != 0) return FALSE;
  if (msg->message < WM_KEYDOWN || msg->message > WM_SYSKEYDOWN + 4) return FALSE;
  if (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd)) return FALSE;
  return IsDialogMessageW(m_hWnd, msg);
}
