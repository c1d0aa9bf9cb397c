// Ombric, the report viewer: shows one text report of the backup history
// in a read-only edit control that fills the work area. Started by the task
// progress dialog and by the post-boot popup with the report's name in
// double quotes; a bare name is looked up in the history folder.
#pragma once

#include <functional>

#include "ce/cstring.h"
#include "ui/Mfc.h"

// The path of the report to show for the name on the command line: no
// name gives "backupreport.txt"; a name without a backslash lies in the
// backup history folder (no extension is added); a name with one is used
// as it is. False when the history folder cannot be found.
bool ResolveReportPath(const CString& name, CString* path);

// The report's text: its bytes after the byte-order mark, read in blocks
// of kReadBlockBytes, each cut to whole characters and appended through
// `append`. False when the file does not open.
bool ReadReportBlocks(const CString& path, const std::function<void(const CString&)>& append);

class COmbricDlg : public CDialog {
 public:
  enum { IDD = 102 };
  explicit COmbricDlg(const CString& reportPath, CWnd* parent = nullptr);
  ~COmbricDlg() override;

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnSettingChange(UINT flags, LPCWSTR section) override;
  BOOL OnHelpInfo(HELPINFO* info) override;
  // Starts the help viewer at the report topic; true when it started.
  bool OnHelp();
  // Places the dialog and its edit control over the work area.
  void FitToWorkArea();

  const CString& GetReportPath() const { return m_ReportPath; }

 private:
  // Fills the edit control from the report; the error box when it does
  // not open.
  void LoadReport();

  CString m_ReportPath;
  HICON m_hIcon = nullptr;
  CEdit m_Edit;  // control 129
};

class COmbricApp : public CWinApp {
 public:
  // The whole program: resolves the report, runs the dialog and ends
  // (FALSE: the message loop never runs).
  BOOL InitInstance() override;
};
