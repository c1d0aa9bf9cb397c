// The backup history folder "Quilmo Backup History": where the text report
// of every backup and restore is written, keeping the newest 30 as
// "BackupReport.txt" and "BackupReport1.txt" ... "BackupReport29.txt"
// (1 the newest of the older ones). The folder once found or made is
// remembered as "csBackupHistoryFolder" in the product's Settings key.
#pragma once

#include "ce/cstring.h"

class ABackupHistoryHandler {
public:
  static constexpr const WCHAR *kFolderName = u"Quilmo Backup History";
  static constexpr const WCHAR *kFolderValue = u"csBackupHistoryFolder";
  static constexpr const WCHAR *kReportBaseName = u"BackupReport";
  static constexpr const WCHAR *kReportFileName = u"\\BackupReport.txt";
  static constexpr int kReportsKept = 30;

  // Locates an existing folder (Locate).
  ABackupHistoryHandler();
  virtual ~ABackupHistoryHandler();

  // First match wins: the remembered folder when it exists (nothing
  // written back); the history folder beside the path recorded as
  // "csBackupEXEPath"; beside the running program; in "\Windows". A match
  // of the last three is remembered. None: empty folder, not found.
  void Locate();
  // Makes the folder beside the running program (when missing) and
  // remembers it; false, with the folder emptied, when it cannot be made.
  bool CreateFolder();
  // Shifts the reports one number up, dropping number 29, so that
  // "BackupReport.txt" is free. False when no folder was found.
  bool RotateReports();

  const CString &Folder() const { return m_csFolder; }
  bool Found() const { return m_bFound; }

  // "BackupReport.txt" for 0, else "BackupReport<n>.txt", in folder.
  static CString ReportPath(const CString &folder, int number);

private:
  // Remembers the folder in the registry and sets the found flag.
  void Remember(const CString &folder);

  CString m_csFolder;
  bool m_bFound = false;
};
