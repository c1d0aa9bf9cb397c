// Menus and the shell's menu bar.
//
// Menus are handles of this process (HMENU): popup menus hold items, each a
// command (MF_STRING with an id), a separator (MF_SEPARATOR) or a submenu
// (MF_POPUP, the id parameter is the submenu's HMENU). A submenu belongs to
// its parent: DestroyMenu and DeleteMenu destroy it with the parent, while
// RemoveMenu only takes it out. Positions count from 0 (MF_BYPOSITION);
// MF_BYCOMMAND (the default) looks the command up in submenus too.
//
// The menu bar (SHCreateMenuBar) is a child window of class "menu_worker"
// along the bottom of its owner's client area, built from a menu-bar
// resource of type ce::res::kTypeMenuBar (ce/menubar.h): one button per
// entry; a button with a menu opens it upwards when tapped, a plain button
// is a command. Choosing an item sends the owner WM_COMMAND(MAKEWPARAM(id,
// 0), 0); disabled items and separators do nothing. Turning the screen
// (WM_SETTINGCHANGE to the owner) keeps the bar at the bottom.
#pragma once

#include "ce/types.h"
#include "ce/window.h"

#define MF_BYCOMMAND 0x00000000u
#define MF_BYPOSITION 0x00000400u
#define MF_STRING 0x00000000u
#define MF_ENABLED 0x00000000u
#define MF_UNCHECKED 0x00000000u
#define MF_GRAYED 0x00000001u
#define MF_DISABLED 0x00000002u
#define MF_CHECKED 0x00000008u
#define MF_POPUP 0x00000010u
#define MF_SEPARATOR 0x00000800u

HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL IsMenu(HMENU menu);
// Destroys the menu and its submenus.
BOOL DestroyMenu(HMENU menu);
// flags: MF_STRING / MF_SEPARATOR / MF_POPUP with MF_GRAYED, MF_CHECKED.
// A popup must not already be part of a menu, nor be the menu itself or
// one that holds it (ERROR_INVALID_PARAMETER).
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCWSTR text);
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, LPCWSTR text);
// Takes the item out; a submenu stays alive.
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
// Takes the item out; a submenu is destroyed.
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
// -1 for a bad handle.
int GetMenuItemCount(HMENU menu);
// The submenu at the position, null when that item has none.
HMENU GetSubMenu(HMENU menu, int position);
// The command at the position; 0 for a separator, (UINT)-1 for a submenu
// or no item.
UINT GetMenuItemID(HMENU menu, int position);
// The previous state (MF_GRAYED/MF_DISABLED bits), (UINT)-1 for no item.
UINT EnableMenuItem(HMENU menu, UINT item, UINT flags);
// The previous MF_CHECKED state, (DWORD)-1 for no item.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
// The item's flags (MF_POPUP, MF_SEPARATOR, MF_GRAYED, MF_CHECKED), (UINT)-1
// for no item.
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
// Length of the text copied (without the NUL); with text null, the length.
int GetMenuStringW(HMENU menu, UINT item, LPWSTR text, int maxChars, UINT flags);

// ---- the menu bar ----
#define SHCMBF_EMPTYBAR 0x0001u
#define SHCMBF_HIDDEN 0x0002u
#define SHCMBF_HIDESIPBUTTON 0x0004u
#define SHCMBF_COLORBK 0x0008u
#define SHCMBF_HMENU 0x0010u

struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;  // the menu-bar resource
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;  // out: the bar
  DWORD clrBk;
};
typedef SHMENUBARINFO* PSHMENUBARINFO;

// The bar's class and height (pixels at scale 1).
#define MENUBAR_CLASSW u"menu_worker"
namespace ce {
inline constexpr int kMenuBarHeight = 26;
}  // namespace ce
// lParam: the button id -> its HMENU (null: none).
#define SHCMBM_SETSUBMENU (WM_USER + 400)
#define SHCMBM_GETSUBMENU (WM_USER + 401)
// The bar's own menu (holds one popup per button with a menu).
#define SHCMBM_GETMENU (WM_USER + 402)

// Creates the bar for hwndParent from resource nToolBarId of hInstRes (null:
// the program). FALSE with ERROR_INVALID_PARAMETER (no info, wrong cbSize,
// no parent window) or ERROR_RESOURCE_NAME_NOT_FOUND / ERROR_INVALID_DATA
// for a missing or malformed resource; hwndMB is then null. With
// SHCMBF_EMPTYBAR no resource is read. A parent has one bar: a new one
// replaces the old.
BOOL SHCreateMenuBar(SHMENUBARINFO* info);
// The parent's bar (null: none).
HWND SHFindMenuBar(HWND parent);
