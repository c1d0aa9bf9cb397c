// The warning before an operation that restarts the device, and the note
// shown after the options were reset.
//
// "ShowBackupResetWarning" (DWORD in the product's Settings key, default
// 15) holds one bit per case, set = warn: 1 backup in basic mode, 2 restore
// in basic mode, 4 backup in advanced mode, 8 restore in advanced mode. The
// case is the main sheet's mode (AGlobal::g_bAdvancedMode) and the
// operation kind of the global operation descriptor.
#pragma once

#include "ce/types.h"
#include "ui/Mfc.h"

inline constexpr const WCHAR* kShowResetWarningValue = u"ShowBackupResetWarning";
inline constexpr DWORD kAllResetWarnings = 15;

// Reads the value (default 15), keeps the four bits as the process-wide
// copy and answers the bit of the current case.
bool ShouldShowResetWarning();
// Clears the current case's bit in the process-wide copy (read afresh
// first) and writes the copy back.
void ClearResetWarning();
// The bit of a case.
DWORD ResetWarningBit(bool advancedMode, int operationKind);

// Neither dialog keeps child-window pointers, so a rotation or an activation
// has nothing to refresh; a rotation fits them to the turned screen.

// Template 256: "the device will restart", with a box that turns the
// warning off for the case (hidden for a restore). IDOK goes on, IDCANCEL
// abandons the operation.
class ResetNotificationDlg : public CDialog {
 public:
  static constexpr UINT IDD = 256;
  static constexpr int kWarningTextId = 65365;
  static constexpr int kWarningOffId = 2201;

  explicit ResetNotificationDlg(int operationKind, CWnd* parent = nullptr);

  bool IsWarningOff() const { return m_bWarningOff; }

 protected:
  BOOL OnInitDialog() override;
  void OnSettingChange(UINT flags, LPCWSTR section) override;
  void OnOK() override;

 private:
  int m_nOperationKind;
  bool m_bWarningOff = false;
};

// Template 334: tells that the options were set back to their defaults.
// OK only.
class CResetOptionsDisplayDlg : public CDialog {
 public:
  static constexpr UINT IDD = 334;
  static constexpr int kTextId = 2220;

  explicit CResetOptionsDisplayDlg(CWnd* parent = nullptr);

 protected:
  BOOL OnInitDialog() override;
  void OnSettingChange(UINT flags, LPCWSTR section) override;
};

// For the main sheet's menu: the reset-options note, modally; its end
// (IDOK, or -1 when it could not be made).
INT_PTR RunResetOptionsDisplayDialog(CWnd* parent);
