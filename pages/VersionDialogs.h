// Three small dialogs around versions and history:
//   CVersionPage (template 377): the versions of the installed program
//     files, read-only;
//   CUpgradeDataDlg (template 301): asks for the upgrade data file (".sbu")
//     that lists the files a restore onto a new device leaves alone;
//   CViewBackupHistoryDlg (template 326): the text reports of the backup
//     history folder, newest first; a report tapped opens in the report
//     viewer.
#pragma once

#include <memory>
#include <vector>

#include "app/DynamicDialog.h"
#include "ce/file.h"
#include "ui/ListCtrl.h"

class CVersionPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 377;
  static constexpr int kVersionsId = 2159;

  explicit CVersionPage(CWnd* parent = nullptr);

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  // The versions' text fills the room the buttons leave.
  BOOL RelayoutDialog() override;

 private:
  CEdit m_Versions;
};

class CUpgradeDataDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 301;
  static constexpr const WCHAR* kHelpTopic = u"DeviceUpgrade";
  static constexpr const WCHAR* kDefaultExtension = u"sbu";
  static constexpr int kExplanationId = 2158;
  static constexpr int kLabelId = 2045;
  static constexpr int kChosenFileId = 2043;
  static constexpr int kBrowseId = 142;

  explicit CUpgradeDataDlg(CWnd* parent = nullptr);

  // The chosen file; the no-file text (string 65232) until one is chosen.
  const CString& GetFileName() const { return m_csFileName; }

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  // A chosen file ends the dialog with IDOK, none as IDCANCEL.
  void OnOK() override;

 private:
  void OnBrowse();

  CString m_csFileName;
};

// The report list: one column; each row's item data is the report file's
// find record (owned here). Tapping a row's label or activating a row
// starts the report viewer on that report.
class CHistoryListCtrl : public CListCtrl {
 public:
  // Adds one row for the record (a copy is kept).
  int AddReport(const WIN32_FIND_DATAW& record);
  // Rows by last write time, newest first.
  void SortNewestFirst();
  void RemoveAll();
  void SetFolder(const CString& folder) { m_csFolder = folder; }
  // Starts the report viewer with the quoted path of the row's report.
  bool OpenReport(int row);
  const WIN32_FIND_DATAW* Record(int row) const;

  // "%s, %s": the local time and the long date of a last write time.
  static CString RowText(const FILETIME& lastWrite);
  static int CALLBACK CompareNewestFirst(LPARAM first, LPARAM second, LPARAM);

 protected:
  BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  CString m_csFolder;
  std::vector<std::unique_ptr<WIN32_FIND_DATAW>> m_Records;
};

class CViewBackupHistoryDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 326;
  static constexpr const WCHAR* kHelpTopic = u"history";
  static constexpr int kLabelId = 2049;
  static constexpr int kSecondLabelId = 2031;
  static constexpr int kListId = 2180;
  static constexpr int kColumnWidth = 230;  // times the display scale

  explicit CViewBackupHistoryDlg(CWnd* parent = nullptr);

  const CString& GetFolder() const { return m_csFolder; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL RelayoutDialog() override;

 private:
  void PopulateList();

  CString m_csFolder;
  CHistoryListCtrl m_List;
};

// For the menus: each dialog, modally; its end (IDOK, or -1 when it could
// not be made). The About dialog opens the versions, the main sheet's
// menu the history.
INT_PTR RunVersionDialog(CWnd* parent);
INT_PTR RunBackupHistoryDialog(CWnd* parent);
