// The program's one password window (template 231). Three purposes:
//   - new password (entered twice, at least 6 characters; it also becomes
//     the password of scheduled backups, stored enciphered as the binary
//     value "ScheduledHash" of the product's Settings key);
//   - image password: the entry is checked against the current check value
//     (AGlobal::g_dwPasswordCheck, taken from the image's metadata);
//   - kiosk login, whenever the KioskModeEnabled setting is on, whatever the
//     constructor asked for: OK checks the password field against the
//     kiosk login exactly (the fields open as the constructor's mode has
//     them); a countdown of 21 seconds cancels the dialog (the automatic
//     restore goes on).
// An accepted password becomes AGlobal's task password (and, new or image
// mode, its check value). Modal result: IDOK when accepted, else IDCANCEL.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "ce/types.h"

class CPasswordDlg : public CDynamicDialog {
 public:
  static constexpr UINT kTemplateId = 231;
  static constexpr int kPasswordId = 2018;
  static constexpr int kConfirmId = 2021;
  static constexpr int kConfirmLabelId = 2019;
  static constexpr int kTextId = 2050;
  static constexpr int kPasswordLabelId = 2052;
  static constexpr int kCountdownId = 2216;
  static constexpr int kMaxPassword = 15;
  static constexpr int kMinPassword = 6;
  static constexpr int kMaxKioskLogin = 260;
  static constexpr UINT_PTR kKioskTimer = 201;
  static constexpr UINT kKioskTimerMs = 1000;
  static constexpr int kKioskSeconds = 21;
  // Bit of the input panel's flags: full-screen docked.
  static constexpr DWORD kFullScreenDocked = 0x100;

  // New-password mode (image mode off, narrow check value).
  explicit CPasswordDlg(CWnd* parent = nullptr);
  // Image mode when imageMode; wideChecksum: the check value covers every
  // byte of the text (images with an extended version).
  CPasswordDlg(bool wideChecksum, bool imageMode, CWnd* parent = nullptr);

  bool IsKioskMode() const { return m_bKioskMode; }
  bool IsImageMode() const { return m_bImageMode; }
  bool IsPasswordKnown() const { return m_bPasswordKnown; }
  int GetCountdown() const { return m_nCountdown; }

  // Enciphers / deciphers the scheduled-backup password as stored in
  // "ScheduledHash": its UTF-16 text with the NUL, RC4 keyed with the fixed
  // key. Reading: false when the value is missing, unreadable or empty.
  static bool WriteScheduledPassword(const CString& password);
  static bool ReadScheduledPassword(CString& password);

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnTimer(UINT_PTR id) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  void Init();
  void OkKiosk();
  void OkImage();
  void OkNewPassword();
  // Clears the fields (both unless passwordOnly) and focuses the password.
  void ResetFields(bool passwordOnly);
  CString FieldText(int id, int maxChars) const;
  void SetFieldText(int id, LPCWSTR text);
  void OnFieldSetFocus();
  void OnFieldKillFocus();
  void StopCountdown();

  CString m_csPassword;          // control 2018, at most 15 characters
  CString m_csConfirm;           // control 2021, at most 15 characters
  CString m_csPreviousPassword;  // the stored password (new-password mode)
  bool m_bPasswordKnown = false;
  bool m_bWideChecksum = false;
  bool m_bImageMode = false;
  bool m_bKioskMode = false;
  int m_nCountdown = kKioskSeconds;
  DWORD m_dwSavedSipFlags = 0;
  bool m_bSipSaved = false;
  bool m_bFilling = false;  // the dialog itself is setting field texts
  bool m_bTimerRunning = false;
};

// The kiosk login: logs its entry (without a class name), clears the
// global flag of an accepted kiosk password (AGlobal::g_bKioskPasswordCorrect,
// which the dialog sets again on a correct login) and shows the password
// dialog modally in kiosk mode. Always true: the outcome is the flag.
bool DisplayKioskPassword(CWnd* parent = nullptr);
