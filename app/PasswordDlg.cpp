#include "app/PasswordDlg.h"

#include <vector>

#include "ce/errors.h"
#include "ce/sip.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/ProgramGlobals.h"
#include "core/RegistrySettings.h"
#include "engine/Global.h"
#include "image/Cipher.h"
#include "image/MetaData.h"

namespace {

constexpr const WCHAR* kClass = u"CPasswordDlg";
constexpr UINT kErrorBox = MB_OK | MB_ICONERROR;

constexpr DWORD kExplanationText = 57718;
constexpr DWORD kPasswordLabelText = 57719;
constexpr DWORD kConfirmLabelText = 57720;
constexpr DWORD kCancelText = 57686;
constexpr DWORD kOkText = 57702;
constexpr DWORD kTooShort = 57654;
constexpr DWORD kMismatch = 57655;
constexpr DWORD kWrongImagePassword = 57656;
constexpr DWORD kCountdownText = 65383;

bool KeyScheduledCipher(ACrypto& crypto) {
  return crypto.CreateKey(nullptr, 0, ProgramGlobals::kScheduledPasswordKey);
}

}  // namespace

CPasswordDlg::CPasswordDlg(CWnd* parent) : CDynamicDialog(kTemplateId, parent) { Init(); }

CPasswordDlg::CPasswordDlg(bool wideChecksum, bool imageMode, CWnd* parent)
    : CDynamicDialog(kTemplateId, parent), m_bWideChecksum(wideChecksum), m_bImageMode(imageMode) {
  Init();
}

void CPasswordDlg::Init() {
  m_csPassword.Empty();
  m_csConfirm.Empty();
  GetGlobal().g_csTaskPassword.Empty();
  m_bKioskMode = GetKioskModeEnabled();
}

// ------------------------------------------------------- scheduled store

bool CPasswordDlg::WriteScheduledPassword(const CString& password) {
  const std::u16string_view text = password.view();
  std::vector<BYTE> bytes((text.size() + 1) * 2, 0);
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
  const DWORD size = static_cast<DWORD>(bytes.size());
  ACrypto crypto;
  if (!KeyScheduledCipher(crypto) || !crypto.Encrypt(bytes.data(), bytes.data(), size, true)) {
    LogError(GetLastError(), u"Unable to encipher the scheduled password", kClass, __LINE__);
    return false;
  }
  ABackupRegistrySettings settings(kSettingsKeyKind);
  if (!settings.WriteBinary(ProgramGlobals::kScheduledHashValue, bytes.data(), size)) {
    LogError(GetLastError(), u"Unable to store the scheduled password", kClass, __LINE__);
    return false;
  }
  return true;
}

bool CPasswordDlg::ReadScheduledPassword(CString& password) {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  DWORD size = 0;
  BYTE* raw = settings.ReadBinary(ProgramGlobals::kScheduledHashValue, size);
  if (!raw) return false;
  std::vector<BYTE> bytes(raw, raw + size);
  delete[] raw;
  ACrypto crypto;
  if (bytes.empty() || !KeyScheduledCipher(crypto) ||
      !crypto.Decrypt(bytes.data(), bytes.data(), static_cast<DWORD>(bytes.size()), true)) {
    return false;
  }
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const WCHAR c = static_cast<WCHAR>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  if (text.empty()) return false;
  password = CString(text);
  return true;
}

// ---------------------------------------------------------------- opening

BOOL CPasswordDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTextId, kExplanationText);
  Localizer::SetControlText(this, kPasswordLabelId, kPasswordLabelText);
  Localizer::SetControlText(this, kConfirmLabelId, kConfirmLabelText);
  Localizer::SetControlText(this, IDCANCEL, kCancelText);
  Localizer::SetControlText(this, IDOK, kOkText);
  if (CWnd* countdown = GetDlgItem(kCountdownId)) countdown->ShowWindow(SW_HIDE);
  // A kiosk login may be longer than a password: the field takes as much
  // as OK compares.
  ::SendDlgItemMessageW(m_hWnd, kPasswordId, EM_LIMITTEXT,
                        m_bKioskMode ? kMaxKioskLogin : kMaxPassword, 0);
  ::SendDlgItemMessageW(m_hWnd, kConfirmId, EM_LIMITTEXT, kMaxPassword, 0);

  if (m_bKioskMode) {
    // The countdown runs whatever the constructor asked for; the fields
    // are prepared for that mode below, only OK checks the kiosk login.
    Log(0, u"Set kiosk password timer", kClass, __LINE__);
    m_nCountdown = kKioskSeconds;
    m_bTimerRunning = SetTimer(kKioskTimer, kKioskTimerMs) != 0;
  }
  if (m_bImageMode) {
    if (CWnd* w = GetDlgItem(kConfirmId)) w->ShowWindow(SW_HIDE);
    if (CWnd* w = GetDlgItem(kConfirmLabelId)) w->ShowWindow(SW_HIDE);
    return result;
  }

  CString stored;
  if (ReadScheduledPassword(stored)) {
    GetGlobal().g_csTaskPassword = stored;
    m_csPreviousPassword = stored;
    SetFieldText(kPasswordId, ProgramGlobals::kPasswordPlaceholder);
    SetFieldText(kConfirmId, ProgramGlobals::kPasswordPlaceholder);
    m_bPasswordKnown = true;
  }
  return result;
}

// -------------------------------------------------------------------- OK

void CPasswordDlg::OnOK() {
  if (m_bKioskMode) {
    OkKiosk();
  } else if (m_bImageMode) {
    OkImage();
  } else {
    OkNewPassword();
  }
}

void CPasswordDlg::OkKiosk() {
  AGlobal& global = GetGlobal();
  m_csPassword = FieldText(kPasswordId, kMaxKioskLogin);
  if (m_csPassword == global.g_csKioskLogin) {
    Log(0, u"Kiosk password entered correctly", kClass, __LINE__);
    global.g_bKioskPasswordCorrect = true;
    StopCountdown();
    EndDialog(IDOK);
    return;
  }
  Log(0, u"wrong password for kiosk mode", kClass, __LINE__);
  global.g_bKioskPasswordCorrect = false;
}

void CPasswordDlg::OkImage() {
  AGlobal& global = GetGlobal();
  m_csPassword = FieldText(kPasswordId, kMaxPassword);
  if (AMetaData::PasswordCheckValue(m_csPassword, m_bWideChecksum) == global.g_dwPasswordCheck) {
    global.g_csTaskPassword = m_csPassword;
    EndDialog(IDOK);
    return;
  }
  Localizer::ResMessageBox(kWrongImagePassword, kErrorBox);
  ResetFields(true);
}

void CPasswordDlg::OkNewPassword() {
  AGlobal& global = GetGlobal();
  m_csPassword = FieldText(kPasswordId, kMaxPassword);
  m_csConfirm = FieldText(kConfirmId, kMaxPassword);
  const CString placeholder(ProgramGlobals::kPasswordPlaceholder);
  if (m_bPasswordKnown && m_csPassword == placeholder && m_csConfirm == placeholder) {
    // Untouched fields keep the stored password.
    global.SetTaskPassword(m_csPreviousPassword);
  } else {
    if (m_csPassword != m_csConfirm) {
      Localizer::ResMessageBox(kMismatch, kErrorBox);
      ResetFields(false);
      return;
    }
    if (m_csPassword.GetLength() < kMinPassword) {
      Localizer::ResMessageBox(kTooShort, kErrorBox);
      ResetFields(false);
      return;
    }
    global.SetTaskPassword(m_csPassword);
  }
  m_csPassword = global.g_csTaskPassword;
  m_csConfirm = global.g_csTaskPassword;
  WriteScheduledPassword(global.g_csTaskPassword);
  EndDialog(IDOK);
}

void CPasswordDlg::OnCancel() {
  StopCountdown();
  CDynamicDialog::OnCancel();
}

// ------------------------------------------------------- fields and focus

CString CPasswordDlg::FieldText(int id, int maxChars) const {
  std::vector<WCHAR> buffer(static_cast<size_t>(maxChars) + 1, 0);
  ::GetDlgItemTextW(m_hWnd, id, buffer.data(), maxChars + 1);
  return CString(buffer.data());
}

void CPasswordDlg::SetFieldText(int id, LPCWSTR text) {
  const bool filling = m_bFilling;
  m_bFilling = true;
  ::SetDlgItemTextW(m_hWnd, id, text);
  m_bFilling = filling;
}

void CPasswordDlg::ResetFields(bool passwordOnly) {
  if (!passwordOnly) SetFieldText(kConfirmId, u"");
  SetFieldText(kPasswordId, u"");
  if (CWnd* field = GetDlgItem(kPasswordId)) field->SetFocus();
}

BOOL CPasswordDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (id == kPasswordId || id == kConfirmId) {
    if (code == EN_SETFOCUS) {
      OnFieldSetFocus();
      return TRUE;
    }
    if (code == EN_KILLFOCUS) {
      OnFieldKillFocus();
      return TRUE;
    }
    if (code == EN_CHANGE && id == kPasswordId && !m_bFilling &&
        FieldText(kConfirmId, kMaxPassword) == ProgramGlobals::kPasswordPlaceholder) {
      // Editing starts anew: the stored password's placeholder goes.
      SetFieldText(kConfirmId, u"");
      SetFieldText(kPasswordId, u"");
      return TRUE;
    }
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CPasswordDlg::OnFieldSetFocus() {
  SIPINFO info{};
  info.cbSize = sizeof(info);
  if (!::SipGetInfo(&info)) return;
  m_dwSavedSipFlags = info.fdwFlags;
  m_bSipSaved = true;
  info.fdwFlags |= kFullScreenDocked;
  ::SipSetInfo(&info);
  ::SHSipPreference(m_hWnd, SIP_FORCEDOWN);
  ::SHSipPreference(m_hWnd, SIP_UP);
}

void CPasswordDlg::OnFieldKillFocus() {
  SIPINFO info{};
  info.cbSize = sizeof(info);
  if (!m_bSipSaved || !::SipGetInfo(&info)) return;
  m_bSipSaved = false;
  info.fdwFlags = m_dwSavedSipFlags;
  ::SipSetInfo(&info);
  ::SHSipPreference(m_hWnd, SIP_FORCEDOWN);
  ::SHSipPreference(m_hWnd, SIP_UP);
}

// ------------------------------------------------------- kiosk countdown

void CPasswordDlg::OnTimer(UINT_PTR id) {
  if (id != kKioskTimer || !m_bTimerRunning) {
    CDynamicDialog::OnTimer(id);
    return;
  }
  Log(0, u"Function Entry: CPasswordDlg::OnTimer", kClass, __LINE__);
  --m_nCountdown;
  CString text = Localizer::LoadResString(kCountdownText);
  CString seconds;
  seconds.Format(u"%d", m_nCountdown);
  text += seconds;
  ::SetDlgItemTextW(m_hWnd, kCountdownId, text);
  if (CWnd* countdown = GetDlgItem(kCountdownId)) countdown->ShowWindow(SW_SHOW);
  SetForegroundWindow();
  if (m_nCountdown <= 0) {
    StopCountdown();
    Log(0, u"No password or incorrect password entered- continuing autorestore", kClass, __LINE__);
    CDynamicDialog::OnCancel();
  }
}

void CPasswordDlg::StopCountdown() {
  if (!m_bTimerRunning) return;
  m_bTimerRunning = false;
  if (m_hWnd) KillTimer(kKioskTimer);
}

void CPasswordDlg::OnDestroy() {
  StopCountdown();
  CDynamicDialog::OnDestroy();
}

bool DisplayKioskPassword(CWnd* parent) {
  Log(0, u" Function Entry: DisplayKioskPassword()", nullptr, __LINE__);
  GetGlobal().g_bKioskPasswordCorrect = false;
  CPasswordDlg dlg(false, true, parent);
  dlg.DoModal();  // the outcome is the flag the dialog sets
  return true;
}
