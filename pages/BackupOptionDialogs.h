// The small dialogs that set what a backup carries besides its components:
// four backup option bits, a backup driven by a schedule file, the
// annotation that travels in the operation descriptor, and one exclusion
// entry. Each runs modally once; nothing is written before OK except the
// storage-card copy, which CBackupOptionsPage makes inside its OK.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "core/OptionHandlers.h"

// Backup options: compression (bit 1), password (bit 2), date suffix (bit 7)
// and the program copy on the storage card (bit 8). Works on a copy of the
// options block; the caller keeps it on OK.
class CBackupOptionsPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 102;
  static constexpr int kCompressId = 2010;
  static constexpr int kPasswordId = 2011;
  static constexpr int kDateSuffixId = 2108;
  static constexpr int kCardCopyId = 2113;
  static constexpr int kDefaultsId = 2057;

  explicit CBackupOptionsPage(const BackupOptionsBlock& options, CWnd* parent = nullptr);

  const BackupOptionsBlock& GetOptions() const { return m_Options; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  // Takes the controls; when bit 8 changed, copies the program to the card
  // or removes that copy (a failure is only logged). Always ends with OK.
  void OnOK() override;

 private:
  void OnDefaults();
  void UpdateCardCopy();

  BackupOptionsBlock m_Options;
  DWORD m_dwCardCopyAtInit = 0;
};

// A backup at the times of a schedule file: OK stores a schedule of the
// from-file period with the file, the unattended options under
// "NextSchedule" and "Unattended", and reschedules; off removes the
// registered notification.
class CAdvancedOptDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 306;
  static constexpr int kScheduleFileCheckId = 2155;
  static constexpr int kScheduleFileEditId = 2161;
  static constexpr int kBrowseId = 2172;

  explicit CAdvancedOptDlg(CWnd* parent = nullptr);

  bool IsScheduleFileOn() const { return m_bScheduleFile != 0; }
  const CString& GetScheduleFile() const { return m_csScheduleFile; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;

 private:
  void LoadRegisteredSchedule();
  void EnableFileControls();
  void OnBrowse();
  void StoreScheduleFile();
  static void RemoveSchedule();

  int m_bScheduleFile = 0;
  CString m_csScheduleFile;
};

// The annotation of the global operation descriptor: editable (mode
// non-zero) or shown read-only (mode zero). The prompt is never stored: it
// and the "no annotation" text are stored as the latter.
class CAnnotationDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 325;
  static constexpr int kEditId = 2158;
  static constexpr int kEditLimit = 254;
  static constexpr int kStoredChars = 255;
  static constexpr DWORD kPromptString = 65247;
  static constexpr DWORD kNoAnnotationString = 65248;

  explicit CAnnotationDlg(int mode, CWnd* parent = nullptr);

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnInputPanelSetFocus(int editId) override;

 private:
  int m_nMode;
};

// Asks for one exclusion entry (the text of edit 2110).
class CAddExclusionDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 383;
  static constexpr int kLabelId = 2060;
  static constexpr int kEditId = 2110;

  explicit CAddExclusionDlg(CWnd* parent = nullptr);

  const CString& GetExclusion() const { return m_csExclusion; }
  int GetValue() const { return m_nValue; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 private:
  CString m_csExclusion;
  int m_nValue = 0;
};

// The menu's entries (the sheet saves the options after IDOK). The backup
// options dialog edits options, which is changed only when it ends with
// IDOK. Results are the dialogs' ends.
INT_PTR RunBackupOptionsDialog(CWnd* parent, BackupOptionsBlock& options);
INT_PTR RunAdvancedOptionsDialog(CWnd* parent);
