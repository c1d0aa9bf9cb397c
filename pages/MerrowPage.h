// The battery monitor settings (template 257): whether the battery program
// Merrow watches the battery, the level in percent at which it reacts,
// whether it then runs a backup, and where that backup goes. The settings
// live in Merrow's own key (scheduling/MerrowIF.h) and in the "Merrow"
// unattended option set (scheduling/UnattendedBackup.h).
#pragma once

#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "image/BackupLocation.h"

class CMerrowPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 257;
  static constexpr int kEnabledCheckId = 2020;
  static constexpr int kAutoBackupComboId = 2056;
  static constexpr int kThresholdLabelId = 2067;
  static constexpr int kThresholdEditId = 2028;
  static constexpr int kThresholdSpinId = 2029;
  static constexpr int kPercentLabelId = 2042;
  static constexpr int kLocationLabelId = 2039;
  static constexpr int kLocationEditId = 2094;
  static constexpr int kBrowseButtonId = 2000;
  static constexpr int kThresholdMin = 10;
  static constexpr int kThresholdMax = 90;

  explicit CMerrowPage(CWnd* parent = nullptr);

  // Members, in order.
  BOOL m_bAutoBackup = TRUE;  // run a backup when the level is reached
  int m_bEnabled = FALSE;     // Merrow watches the battery
  int m_nThreshold = 30;      // percent, 10..90
  CString m_csLocation;       // the location's display form
  ABackupFilePath m_Location; // where the battery-triggered backup goes
  bool m_bRemote = false;     // the stored options ask for the host link and the link is on

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;
  void OnPaint() override;

 private:
  // The "Merrow" option set's path, else the default backup location;
  // false (box 65326, OK disabled) when there is none.
  bool LoadLocation();
  void SetControlStates();
  void OnEnabledClicked();
  void OnAutoBackupCloseUp();
  void OnBrowse();
  // The threshold, auto backup choice and location into Merrow's settings
  // and the "Merrow" option set; Merrow rereads them or is started.
  bool StoreEnabledSettings();
};
