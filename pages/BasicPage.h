// The Basic page (template 314): two large buttons. One backs the whole
// device up to the default location, the other restores the newest backup
// image found on the device. Neither runs the task: each fills the global
// operation descriptor, asks what the case needs and restarts the device;
// the task runs after the restart.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/file.h"
#include "core/ResBitmap.h"
#include "image/BackupLocation.h"

class CBasicPage : public CDynamicPropertyPage {
 public:
  static constexpr UINT IDD = 314;
  static constexpr UINT kCaptionId = 65231;

  static constexpr int kBackupButtonId = 2174;
  static constexpr int kRestoreButtonId = 2175;
  static constexpr int kDateLabelId = 2176;
  static constexpr int kDateId = 2177;
  static constexpr int kNameLabelId = 2178;
  static constexpr int kNameId = 2179;
  static constexpr int kBackupPictureId = 2211;
  static constexpr int kRestorePictureId = 2212;

  static constexpr COLORREF kImageTextColour = 0x960000;
  static constexpr UINT_PTR kShellTimer = 1;
  static constexpr UINT kShellTimerMs = 100;
  static constexpr const WCHAR* kDefaultFileValue = u"csDefaultFile";

  CBasicPage();

  // The newest backup image of the documents folder and the storage cards
  // becomes the image path (a search that finds none keeps the old one);
  // the date, the name and the restore button follow.
  void SearchForImages();

  // One-tap backup and one-tap restore (the buttons' handlers).
  virtual void OnBackup();
  virtual void OnRestore();

  // Places the backup half above the restore half for the screen.
  virtual BOOL RelayoutDialog();

  const ABackupFilePath& GetImagePath() const { return m_ImagePath; }
  void SetImagePath(const ABackupFilePath& path) { m_ImagePath = path; }
  // When set, a one-tap backup bound for built-in storage goes to the
  // documents folder instead.
  void SetMainStorageFull(bool full) { m_bMainStorageFull = full ? 1 : 0; }

 protected:
  BOOL OnInitDialog() override;
  BOOL OnOrientationChange() override;
  // The sheet sizes the page after its creation and on every turn: the
  // halves follow the page's new size.
  void OnSize(UINT type, int cx, int cy) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnTimer(UINT_PTR id) override;
  void OnPaint() override;
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) override;

 private:
  struct SearchResult;
  void CreateFonts();
  void LoadTexts();
  void LoadBitmaps();
  void ScanFolder(const CString& folder, SearchResult& best) const;
  void ShowSearchResult(const SearchResult& best);
  int SeparatorY() const;

  // Backup road.
  bool FindBackupLocation(ABackupFilePath& location) const;
  void AvoidFullMainStorage(ABackupFilePath& location, const CString& documents) const;
  bool ConfirmDocumentsFolder(const ABackupFilePath& location, const CString& documents) const;
  void FillBackupDescriptor(const ABackupFilePath& location);
  void BuildBackupIndex();
  bool AskBackupPassword();
  void RememberDefaultFile(const ABackupFilePath& location);

  // Restore road.
  // Opens the image once (false, shown, when it does not open) and reads
  // its metadata into the globals (metaRead).
  bool OpenImageMetaData(bool& metaRead, bool& wideChecksum);
  bool AcceptMetaData(DWORD difference);
  bool AskImagePassword(bool wideChecksum);
  bool LoadRestoreIndex();
  void ChooseUpgradeData();

  // Both roads.
  bool ConfirmReset(int focusId);
  void RestartForOperation(bool bootCopies);

  ABackupFilePath m_ImagePath;
  CFont m_LabelFont;
  CFont m_ButtonFont;
  AResBitmap m_BackupBitmap;
  AResBitmap m_RestoreBitmap;
  BYTE m_bMainStorageFull = 0;
  int m_nSplit = 0;  // where the halves meet, as last laid out
  UINT_PTR m_nTimer = 0;
};

// The documents folder (special folder 5), "\My Documents" on the device.
CString GetDocumentsFolder();
