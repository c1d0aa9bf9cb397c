// The scheduled backup: CSchedulePage (template 254) shows when the next
// scheduled backup runs and when the last backup ran; its Change button
// opens CScheduleChangePage (template 380), which switches the schedule on
// or off and sets its period, date, time and image file. On OK the change
// page registers the timed notification that starts the scheduled backup
// (scheduling/Notify.h) and stores the image file and backup options of
// that run in the "Unattended" option set (scheduling/UnattendedBackup.h).
//
// The last backup's time is the one the task progress dialog stores in
// "dwLastBackupHigh"/"dwLastBackupLow": a FILETIME in UTC, shown here in
// the device's local time.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "core/DateTime.h"
#include "image/BackupLocation.h"
#include "scheduling/Notify.h"
#include "ui/Menu.h"

class CSchedulePage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 254;
  static constexpr int kTimesLabelId = 2086;
  static constexpr int kNextLabelId = 2089;
  static constexpr int kLastLabelId = 2092;
  static constexpr int kNextTextId = 2061;
  static constexpr int kLastTextId = 2064;
  static constexpr int kChangeButtonId = 2047;

  explicit CSchedulePage(CWnd* parent = nullptr);

  // "%s %s %s" of day name, short date and time; string 65030 when any
  // part cannot be formatted.
  static CString FormatWhen(const ADateTime& when);
  // The next scheduled backup, or 65030 when scheduling is off.
  static CString NextBackupText();
  // The last backup from "dwLastBackupHigh"/"dwLastBackupLow", or 65030.
  static CString LastBackupText();

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnPaint() override;

 private:
  void ShowTimes();
  void CreateFonts();
};

class CScheduleChangePage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 380;
  static constexpr int kEnabledCheckId = 2027;
  static constexpr int kFrequencyLabelId = 2062;
  static constexpr int kWhenLabelId = 2063;
  static constexpr int kFileLabelId = 2065;
  static constexpr int kFrequencyComboId = 2054;
  static constexpr int kDatePickerId = 2022;
  static constexpr int kTimePickerId = 2023;
  static constexpr int kPathEditId = 1999;
  static constexpr int kBrowseButtonId = 2000;

  explicit CScheduleChangePage(CWnd* parent = nullptr);

  int m_bEnabled = FALSE;
  DWORD m_SchedulePeriod = kPeriodOnce;
  ABackupFilePath m_Path;
  CString m_csPathText;
  bool m_bRemote = false;        // the scheduled run goes to the desktop host
  bool m_bScheduleFile = false;  // the schedule file is in force: read only

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;
  void OnPaint() override;
  BOOL RelayoutDialog() override;

 private:
  void LoadSchedule();
  // The "Unattended" set's image file; false when there is no place for
  // one (box 65326 shown, OK disabled).
  bool LoadPath();
  void UpdateControls();
  void OnFrequencyCloseUp();
  void OnBrowse();
  // The options word of the scheduled run; the password option is dropped
  // when the scheduled password is not given.
  DWORD ScheduledOptions();
  // The scheduled time from the pickers; false (box 57659) when a once or
  // weekly time is not in the future; a past daily time moves a day on.
  bool ScheduledTime(ADateTime* when);
  bool StoreSchedule(const ADateTime& when, DWORD options);

  CDateTimeCtrl m_DatePicker;
  CDateTimeCtrl m_TimePicker;
};
