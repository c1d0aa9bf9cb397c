// The program's own file dialogs for backup images. The open dialog lists
// every image it finds on the device (all storage, storage cards and the
// connected network shares) or in the desktop host's backup folder; the
// save dialog names a new image by place, folder, file name and
// annotation. Both give an ABackupFilePath whose location kind is 1 while
// the desktop host is the chosen place, else 0. Log class "CNewOpenDlg" /
// "CNewSaveDlg".
#pragma once

#include <vector>

#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "ce/types.h"
#include "image/BackupLocation.h"
#include "ui/ListCtrl.h"
#include "ui/Mfc.h"

class AImageFile;

// The open dialog's list of image files: report style, full-row selection,
// columns name, date, folder and size.
class CNewFileListCtrl : public CListCtrl {
 public:
  enum Column { kName = 0, kDate = 1, kFolder = 2, kSize = 3 };

  // The four columns with their header strings and widths.
  void AddColumns();
  // One row: the name, the last write time shown in local time, the
  // folder (the host's rows show "PC") and the size.
  int AddFile(const CString& name, const FILETIME& lastWriteUtc, const CString& folder, ULONGLONG size);

  // "%db" up to 1024 bytes, "%5.1fk" up to 1048576, then "%4.2fm".
  static CString FormatSize(ULONGLONG size);
  // "%s, %s" of the time text and the date text of a UTC file time, shown
  // in local time; empty when the time cannot be converted.
  static CString FormatWriteTime(const FILETIME& lastWriteUtc);
};

class CNewOpenDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 360;
  static constexpr int kPlaceLabelId = 2102;
  static constexpr int kPlaceId = 2209;
  static constexpr int kListId = 2106;
  static constexpr int kAnnotationLabelId = 2101;
  static constexpr int kAnnotationId = 2158;
  static constexpr int kOpenId = 140;
  static constexpr int kSeparatorY = 26;  // times the display scale
  static constexpr const WCHAR* kHostFolderText = u"PC";

  explicit CNewOpenDlg(CWnd* parent = nullptr);

  // The chosen image: folder + name on the device, or the bare name with
  // location kind 1 on the desktop host.
  const ABackupFilePath& GetPath() const { return m_Path; }

 protected:
  BOOL OnInitDialog() override;
  BOOL RelayoutDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnPaint() override;

 private:
  void SetTexts();
  void FillPlaces();
  void SetUpList();
  // Empties the list and lists the current place's images.
  void ListFiles();
  // Searches folder and every folder below it (but "Windows" and
  // "ConnMgr", and only the files of each share of the network folder).
  void ListDeviceFolder(const CString& folder, bool filesOnly);
  void AddDeviceFile(const CString& folder, const WIN32_FIND_DATAW& found);
  void ListHostFiles();
  void OnPlaceChange();
  // The row's name and folder become the chosen path; a device image is
  // examined for its annotation.
  void SelectFile(int row);
  // Shows the annotation of the device image at m_Path; empties the path
  // when the file holds no image.
  void ExamineDeviceFile();
  // Finds the image's metadata through its tail and shows its annotation;
  // false when the file holds no image.
  bool ShowImageAnnotation(AImageFile& image);
  void OnOpen();

  CNewFileListCtrl m_FileList;
  CComboBox m_Places;
  CImageList m_ImageList;
  ABackupFilePath m_Path;
  CString m_csNetworkFolder;  // "\" + the network folder's name
};

class CNewSaveDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 361;
  static constexpr int kLabelId = 2036;
  static constexpr int kPlaceLabelId = 2102;
  static constexpr int kPlaceId = 2105;
  static constexpr int kFolderLabelId = 2099;
  static constexpr int kFolderId = 2103;
  static constexpr int kNameId = 2098;
  static constexpr int kAnnotationLabelId = 2101;
  static constexpr int kAnnotationId = 2158;
  static constexpr int kSeparatorY = 26;      // times the display scale
  static constexpr int kLargeTitleHeight = 16;  // not scaled
  static constexpr int kMaxAnnotation = 255;
  // Characters a file name may not hold.
  static constexpr const WCHAR* kForbiddenCharacters = u"\\/:*?\"<>|";

  CNewSaveDlg(const ABackupFilePath& path, bool nameEditable, bool hostAllowed, bool showAnnotation,
              CWnd* parent = nullptr);

  const ABackupFilePath& GetPath() const { return m_Path; }

  // Removes every forbidden character; true when one was removed.
  static bool RemoveForbiddenCharacters(CString& name);

 protected:
  BOOL OnInitDialog() override;
  BOOL RelayoutDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;
  void OnPaint() override;

 private:
  void SetTexts();
  // False (after the box, with the path emptied) when there is no place.
  bool FillPlaces();
  void FillFolders();
  void OnPlaceCloseUp();
  bool IsHostPlace(const CString& place) const;
  bool IsNetworkPlace(const CString& place) const;
  // The folder below placeFolder whose name is folderName, depth first;
  // empty when none.
  static CString FindFolder(const CString& placeFolder, const CString& folderName);
  // The selected entry of the place or the folder choice.
  CString SelectedText(int comboId) const;
  void OnAnnotationSetFocus();
  void OnAnnotationKillFocus();

  ABackupFilePath m_Path;
  CComboBox m_Places;
  CComboBox m_Folders;
  bool m_bNameEditable;
  bool m_bHostAllowed;
  bool m_bShowAnnotation;
  bool m_bNoPlace = false;
  CFont m_HeadingFont;
  CString m_csHostPlace;     // string 65257
  CString m_csNetworkPlace;  // string 65312
  CString m_csRootFolder;    // string 65232
  CString m_csPlaceholder;   // string 65247
};

// Every subfolder of folder (one level), neither hidden nor system, in
// enumeration order.
std::vector<CString> ListVisibleSubfolders(const CString& folder);
