// Shown before a scheduled backup runs (template 384): a progress bar
// counts 30 seconds and the dialog then accepts by itself, so that an
// unattended device goes on with the backup while a user who is present can
// cancel it. Check box 2217 (checked at the start) is read after the
// dialog closes.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/types.h"

class ConfirmScheduledBackupDlg : public CDynamicDialog {
 public:
  static constexpr UINT kTemplateId = 384;
  static constexpr int kCheckId = 2217;
  static constexpr int kTextId = 2218;
  static constexpr int kProgressId = 2219;
  static constexpr UINT_PTR kTimerId = 100;
  static constexpr UINT kTimerMs = 1000;
  static constexpr int kSeconds = 30;

  explicit ConfirmScheduledBackupDlg(CWnd* parent = nullptr);

  // The check box's value after the dialog closed with OK (1 checked).
  int GetCheck() const { return m_nCheck; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  // Every tick, whatever its id: one step; past 29 the dialog accepts.
  void OnTimer(UINT_PTR id) override;
  void OnOK() override;

 private:
  int m_nCheck = 1;
};
