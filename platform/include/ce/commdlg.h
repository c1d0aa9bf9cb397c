// The platform's file open and save dialogs.
//
// The dialog (quilmo_ui) is a "#32770" window of template ce::kOpenFileDialogId
// or ce::kSaveFileDialogId: the folder in a label, a list of its subfolders
// ("[name]") and of its files that match the chosen filter, the file name
// edit, the filter combo box, OK and Cancel. Automation and UI scripts drive
// it as any dialog: select a list row (a folder opens on OK), or type a
// name or a whole path into the edit, then click OK.
//
// OK with a name: a name without the root separator is taken in the folder
// shown; an existing folder is opened instead of chosen; a name without an
// extension gets "." + lpstrDefExt when one is given. The open dialog keeps
// asking while the file does not exist (OFN_FILEMUSTEXIST) or its folder
// does not (always); the save dialog while the folder does not, and asks
// "NAME already exists.\nDo you want to replace it?" (Yes/No, exclamation)
// before choosing an existing file when OFN_OVERWRITEPROMPT is set. The
// dialog never offers the read-only check box (as with OFN_HIDEREADONLY).
//
// Returns TRUE with the path in lpstrFile (nFileOffset, nFileExtension set,
// lpstrFileTitle filled when given). FALSE otherwise, and
// CommDlgExtendedError tells why: 0 cancelled (also when a headless run
// left the dialog unanswered), CDERR_STRUCTSIZE for a wrong lStructSize,
// CDERR_INITIALIZATION for a null lpstrFile or nMaxFile 0,
// FNERR_BUFFERTOOSMALL when the path does not fit (its length in
// characters then in the first WORD of lpstrFile).
#pragma once

#include "ce/types.h"
#include "ce/window.h"

#define OFN_READONLY 0x00000001u
#define OFN_OVERWRITEPROMPT 0x00000002u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_SHOWHELP 0x00000010u
#define OFN_NOVALIDATE 0x00000100u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u
#define OFN_CREATEPROMPT 0x00002000u

#define CDERR_STRUCTSIZE 0x0001u
#define CDERR_INITIALIZATION 0x0002u
#define FNERR_BUFFERTOOSMALL 0x3003u

typedef UINT_PTR (*LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

struct OPENFILENAMEW {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;  // pairs "text\0pattern;pattern\0", ending "\0\0"
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;   // 1-based; 0: the first pair
  LPWSTR lpstrFile;     // in: initial name or path; out: the chosen path
  DWORD nMaxFile;       // characters of room in lpstrFile
  LPWSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCWSTR lpstrDefExt;
  LPARAM lCustData;
  LPOFNHOOKPROC lpfnHook;
  LPCWSTR lpTemplateName;
};
typedef OPENFILENAMEW* LPOPENFILENAMEW;
typedef OPENFILENAMEW OPENFILENAME;

BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn);
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn);
// The reason of this thread's last FALSE from the two calls (0 after TRUE).
DWORD CommDlgExtendedError();

#define GetOpenFileName GetOpenFileNameW
#define GetSaveFileName GetSaveFileNameW

namespace ce {

inline constexpr int kOpenFileDialogId = 1536;
inline constexpr int kSaveFileDialogId = 1537;
inline constexpr int kFileFolderLabel = 1088;  // the folder shown
inline constexpr int kFileList = 1120;         // subfolders and files
inline constexpr int kFileTypeCombo = 1136;    // the filters
inline constexpr int kFileNameEdit = 1152;     // the name typed or chosen
inline constexpr int kFileMessage = 1091;      // why OK did not choose

}  // namespace ce
