// File management (template 303): the two limits by which old backup files
// are removed before a backup (image/BackupLocation.h, AFileManagement):
// the space they may take in MB and how many are kept. Works on a copy of
// the backup options block; the caller takes it back on IDOK. Option 10
// (reclaim space) is on exactly when a limit is on.
#pragma once

#include "app/DynamicDialog.h"
#include "core/OptionHandlers.h"
#include "ui/Controls.h"

// A number edit whose left and right arrow keys first move the focus to the
// previous and the next control of the dialog.
class CNewEditCtrl : public CEdit {
 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

class CFileManagementDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 303;
  static constexpr int kSizeCheckId = 2157;
  static constexpr int kSizeEditId = 2160;
  static constexpr int kSizeSpinId = 2166;
  static constexpr int kCountCheckId = 2162;
  static constexpr int kCountEditId = 2164;
  static constexpr int kCountSpinId = 2030;
  static constexpr DWORD kSizeMax = 1000000;  // MB
  static constexpr DWORD kCountMax = 10000;
  static constexpr int kSpinMax = 1000;
  static constexpr DWORD kDefaultSize = 10;
  static constexpr DWORD kDefaultCount = 3;

  explicit CFileManagementDlg(const BackupOptionsBlock& options, CWnd* parent = nullptr);

  const BackupOptionsBlock& GetOptions() const { return m_Options; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;

 private:
  void EnableEdits();
  // The member of an edit, clamped into its range, from the edit's text.
  void TakeNumber(int editId);
  void ClampValues();

  BackupOptionsBlock m_Options;
  CNewEditCtrl m_SizeEdit;
  CNewEditCtrl m_CountEdit;
};
