// The Restore page: the image to restore from, its contents as a tree of
// check marks, and the Restore button, which checks the image against the
// device, asks what the differences call for, fills the operation
// descriptor and resets the device (the restore runs after the reset).
// Also the restore options dialog that the sheet's menu opens.
// Log class "CRestorePage".
#pragma once

#include "app/BitmapButton.h"
#include "app/ComponentTree.h"
#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "ce/types.h"
#include "image/BackupLocation.h"
#include "ui/Mfc.h"

class AImagingTaskClient;

class CRestorePage : public CDynamicPropertyPage {
 public:
  static constexpr UINT IDD = 201;
  static constexpr UINT kCaptionId = 65221;
  static constexpr int kTreeId = 2015;
  static constexpr int kPathId = 1999;
  static constexpr int kBrowseId = 2000;
  static constexpr int kRestoreId = 2003;
  static constexpr int kAnnotationId = 2004;
  static constexpr int kStatusId = 2031;
  static constexpr int kLabelId = 2039;
  static constexpr UINT_PTR kLoadTimer = 1;
  static constexpr UINT kLoadTimerMs = 50;
  static constexpr DWORD kHostConnectSeconds = 200;
  // InitTree's error when the host cannot be reached.
  static constexpr int kNoHostConnection = -1;

  CRestorePage();

  // The image to restore from, as a full path on the device; the display
  // text follows.
  void SetBackupFile(const CString& path);
  const ABackupFilePath& GetBackupFile() const { return m_Path; }

  // Opens the image, loads its content index as the program's working
  // index and fills the tree. False with error: the host's error for a
  // host image that did not open (kNoHostConnection without a
  // connection), else 0.
  bool InitTree(int& error);

 protected:
  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnTimer(UINT_PTR id) override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnOrientationChange() override { return RelayoutDialog(); }
  // The sheet sizes the page after its creation and on every turn: the
  // controls follow the page's new size.
  void OnSize(UINT type, int cx, int cy) override;
  // Lays the controls out for the screen's orientation.
  virtual BOOL RelayoutDialog();
  // Hands the prepared restore over to the reset: raises the resume
  // location to 2000 (unless a resumed run is already past it), queues the
  // boot-time copies and resets the device.
  virtual void RequestRestoreReset();

 private:
  void SetTexts();
  // The host's name and port for location kinds 1 and 2, also into the
  // descriptor; host mode host for them, local for kind 0.
  void LoadHostDetails();
  bool IsImagePresent();
  void LoadImage();
  // The password dialog of an enciphered image; false when cancelled.
  bool AskImagePassword(const AImagingTaskClient& task);
  void ForgetImage();
  void ShowTreeLoaded();
  void ShowLoadFailure(int error);
  void UpdateAnnotationButton();
  void ShowStatus(DWORD stringId);
  void ShowTree(bool show);
  void ShowPathText();
  void EnableItem(int id, bool enable);

  void OnBrowse();
  void OnRestore();
  // The metadata check of the Restore button: false when the restore is
  // not to go on.
  bool AcceptMetaData(AImagingTaskClient& task);
  void ChooseUpgradeFiles();
  void OnAnnotation();

  CComponentTree m_Tree;
  CString m_csPathText;
  UINT_PTR m_nLoadTimer = 0;
  ABackupFilePath m_Path;
  BitmapButton m_AnnotationButton;  // its template text names its pictures
};

// The restore options dialog ("ROptions"): edits the four restore options
// in the order of ARestoreOptionHandler; the caller reads them back after
// OK.
class CRestoreOptionsPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 230;
  static constexpr int kHandleMenuId = 2132;
  static constexpr int kNewDeviceId = 2134;

  CRestoreOptionsPage(DWORD bRestoreKill, DWORD bHandleMenu, DWORD bNonDestructiveRestore, DWORD bNewDeviceRestore,
                      CWnd* parent = nullptr);

  DWORD m_bRestoreKill;
  DWORD m_bHandleMenu;
  DWORD m_bNonDestructiveRestore;
  DWORD m_bNewDeviceRestore;

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;

 private:
  void OnDefaults();
  void PutValues();
};

// The menu's restore options command (RunRestoreOptionsDialog, declared in
// pages/MenuDialogs.h) runs this dialog over the flags it is given; the
// sheet stores and saves them after OK.
