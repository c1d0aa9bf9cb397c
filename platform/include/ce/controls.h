// Constants of windows and the common controls: styles, control messages,
// notification codes, virtual keys. Data only; the window layer
// (platform/ui) implements them.
#pragma once

#include "ce/types.h"
#include "ce/window.h"

// ---- general window styles (besides those of ce/window.h) ----
#define WS_TABSTOP 0x00010000u
#define WS_GROUP 0x00020000u
#define WS_HSCROLL 0x00100000u
#define WS_VSCROLL 0x00200000u
#define WS_DLGFRAME 0x00400000u
#define WS_CLIPSIBLINGS 0x04000000u
#define WS_CLIPCHILDREN 0x02000000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_MAXIMIZEBOX 0x00010000u
#define WS_THICKFRAME 0x00040000u
#define WS_OVERLAPPEDWINDOW 0x00CF0000u
#define FWS_ADDTOTITLE 0x00008000u
#define WS_EX_CLIENTEDGE 0x00000200u

// ---- static ----
#define SS_LEFT 0x0000u
#define SS_CENTER 0x0001u
#define SS_RIGHT 0x0002u
#define SS_ICON 0x0003u
#define SS_BITMAP 0x000Eu
#define SS_NOTIFY 0x0100u
#define SS_CENTERIMAGE 0x0200u
#define SS_TYPEMASK 0x001Fu
#define STN_CLICKED 0

// ---- buttons ----
#define BS_PUSHBUTTON 0x0000u
#define BS_DEFPUSHBUTTON 0x0001u
#define BS_CHECKBOX 0x0002u
#define BS_AUTOCHECKBOX 0x0003u
#define BS_RADIOBUTTON 0x0004u
#define BS_3STATE 0x0005u
#define BS_AUTO3STATE 0x0006u
#define BS_GROUPBOX 0x0007u
#define BS_AUTORADIOBUTTON 0x0009u
#define BS_OWNERDRAW 0x000Bu
#define BS_TYPEMASK 0x000Fu
#define BS_MULTILINE 0x2000u
#define BS_NOTIFY 0x4000u
#define BST_UNCHECKED 0x0000u
#define BST_CHECKED 0x0001u
#define BST_INDETERMINATE 0x0002u
#define BM_GETCHECK 0x00F0u
#define BM_SETCHECK 0x00F1u
#define BM_GETSTATE 0x00F2u
#define BM_SETSTATE 0x00F3u
#define BM_SETSTYLE 0x00F4u
#define BM_CLICK 0x00F5u
#define BN_CLICKED 0
#define BN_DOUBLECLICKED 5
#define BN_SETFOCUS 6
#define BN_KILLFOCUS 7

// ---- edits ----
#define ES_LEFT 0x0000u
#define ES_CENTER 0x0001u
#define ES_RIGHT 0x0002u
#define ES_MULTILINE 0x0004u
#define ES_UPPERCASE 0x0008u
#define ES_LOWERCASE 0x0010u
#define ES_PASSWORD 0x0020u
#define ES_AUTOVSCROLL 0x0040u
#define ES_AUTOHSCROLL 0x0080u
#define ES_NOHIDESEL 0x0100u
#define ES_READONLY 0x0800u
#define ES_WANTRETURN 0x1000u
#define ES_NUMBER 0x2000u
#define EM_GETSEL 0x00B0u
#define EM_SETSEL 0x00B1u
#define EM_SCROLLCARET 0x00B7u
#define EM_GETMODIFY 0x00B8u
#define EM_SETMODIFY 0x00B9u
#define EM_GETLINECOUNT 0x00BAu
#define EM_REPLACESEL 0x00C2u
#define EM_LIMITTEXT 0x00C5u
#define EM_SETLIMITTEXT EM_LIMITTEXT
#define EM_SETPASSWORDCHAR 0x00CCu
#define EM_SETREADONLY 0x00CFu
#define EM_GETPASSWORDCHAR 0x00D2u
#define EM_GETLIMITTEXT 0x00D5u
#define EN_SETFOCUS 0x0100
#define EN_KILLFOCUS 0x0200
#define EN_CHANGE 0x0300
#define EN_UPDATE 0x0400
#define EN_MAXTEXT 0x0501

// ---- combo boxes ----
#define CBS_SIMPLE 0x0001u
#define CBS_DROPDOWN 0x0002u
#define CBS_DROPDOWNLIST 0x0003u
#define CBS_SORT 0x0100u
#define CB_ERR (-1)
#define CB_ERRSPACE (-2)
#define CB_LIMITTEXT 0x0141u
#define CB_DELETESTRING 0x0144u
#define CB_GETLBTEXT 0x0148u
#define CB_GETLBTEXTLEN 0x0149u
#define CB_INSERTSTRING 0x014Au
#define CB_FINDSTRING 0x014Cu
#define CB_SELECTSTRING 0x014Du
#define CB_SHOWDROPDOWN 0x014Fu
#define CB_GETDROPPEDSTATE 0x0157u
#define CB_FINDSTRINGEXACT 0x0158u
#define CB_GETCURSEL 0x0147u
#define CB_SETCURSEL 0x014Eu
#define CB_ADDSTRING 0x0143u
#define CB_RESETCONTENT 0x014Bu
#define CB_GETCOUNT 0x0146u
#define CB_GETITEMDATA 0x0150u
#define CB_SETITEMDATA 0x0151u
#define CBN_SELCHANGE 1
#define CBN_DBLCLK 2
#define CBN_SETFOCUS 3
#define CBN_KILLFOCUS 4
#define CBN_DROPDOWN 7
#define CBN_CLOSEUP 8

// ---- list boxes ----
#define LBS_NOTIFY 0x0001u
#define LBS_SORT 0x0002u
#define LB_ERR (-1)
#define LB_ERRSPACE (-2)
#define LB_ADDSTRING 0x0180u
#define LB_INSERTSTRING 0x0181u
#define LB_DELETESTRING 0x0182u
#define LB_RESETCONTENT 0x0184u
#define LB_SETCURSEL 0x0186u
#define LB_GETCURSEL 0x0188u
#define LB_GETTEXT 0x0189u
#define LB_GETTEXTLEN 0x018Au
#define LB_GETCOUNT 0x018Bu
#define LB_SELECTSTRING 0x018Cu
#define LB_FINDSTRING 0x018Fu
#define LB_GETITEMDATA 0x0199u
#define LB_SETITEMDATA 0x019Au
#define LB_FINDSTRINGEXACT 0x01A2u
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2

// ---- progress bars and up-down controls ----
#define PBS_SMOOTH 0x01u
#define PBM_SETRANGE 0x0401u
#define PBM_SETPOS 0x0402u
#define PBM_DELTAPOS 0x0403u
#define PBM_SETSTEP 0x0404u
#define PBM_STEPIT 0x0405u
#define PBM_SETRANGE32 0x0406u
#define PBM_GETRANGE 0x0407u
#define PBM_GETPOS 0x0408u
struct PBRANGE {
  int iLow;
  int iHigh;
};
typedef PBRANGE* PPBRANGE;
#define UDM_SETRANGE 0x0465u  // lParam = MAKELONG(upper, lower)
#define UDM_GETRANGE 0x0466u
#define UDM_SETPOS 0x0467u
#define UDM_GETPOS 0x0468u
#define UDM_SETBUDDY 0x0469u
#define UDM_GETBUDDY 0x046Au
#define UDM_SETRANGE32 0x046Fu
#define UDM_GETRANGE32 0x0470u
#define UDM_SETPOS32 0x0471u
#define UDM_GETPOS32 0x0472u
#define UDS_SETBUDDYINT 0x0002u
#define UDS_ALIGNRIGHT 0x0004u
#define UDS_AUTOBUDDY 0x0010u
#define UDS_ARROWKEYS 0x0020u

// ---- notifications (WM_NOTIFY) ----
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};
typedef NMHDR* LPNMHDR;
#define UDN_FIRST (0u - 721u)
#define UDN_DELTAPOS (UDN_FIRST - 1u)
struct NMUPDOWN {
  NMHDR hdr;
  int iPos;
  int iDelta;
};
typedef NMUPDOWN* LPNMUPDOWN;
#define SB_LINEUP 0
#define SB_LINEDOWN 1
#define SB_THUMBPOSITION 4
#define SB_ENDSCROLL 8

// ---- tab control ----
// Tabs left to right, each its caption's width plus padding (and the
// image's width when it has one). A tap on another tab sends the parent
// WM_NOTIFY TCN_SELCHANGING (a nonzero answer keeps the selection), then
// TCN_SELCHANGE; TCM_SETCURSEL does not notify. The window text is the
// selected tab's caption.
#define WC_TABCONTROLW u"SysTabControl32"
#define TCM_FIRST 0x1300u
#define TCM_GETIMAGELIST (TCM_FIRST + 2)
#define TCM_SETIMAGELIST (TCM_FIRST + 3)  // lParam HIMAGELIST (ce/commctrl.h) -> the previous one
#define TCM_GETITEMCOUNT (TCM_FIRST + 4)
#define TCM_DELETEITEM (TCM_FIRST + 8)
#define TCM_DELETEALLITEMS (TCM_FIRST + 9)
#define TCM_GETITEMRECT (TCM_FIRST + 10)  // wParam index, lParam RECT* (client)
#define TCM_GETCURSEL (TCM_FIRST + 11)
#define TCM_SETCURSEL (TCM_FIRST + 12)
#define TCM_HITTEST (TCM_FIRST + 13)  // lParam TCHITTESTINFO* -> index or -1
#define TCM_GETITEMW (TCM_FIRST + 60)
#define TCM_SETITEMW (TCM_FIRST + 61)
#define TCM_INSERTITEMW (TCM_FIRST + 62)
#define TCN_FIRST (0u - 550u)
#define TCN_SELCHANGE (TCN_FIRST - 1u)
#define TCN_SELCHANGING (TCN_FIRST - 2u)
#define TCIF_TEXT 0x0001u
#define TCIF_IMAGE 0x0002u
#define TCIF_PARAM 0x0008u
#define TCHT_NOWHERE 0x0001u
#define TCHT_ONITEM 0x0006u
struct TCITEMW {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  LPWSTR pszText;  // TCM_GETITEMW: room for cchTextMax characters
  int cchTextMax;
  int iImage;  // -1: none
  LPARAM lParam;
};
struct TCHITTESTINFO {
  POINT pt;
  UINT flags;
};

// ---- help ----
struct HELPINFO {
  UINT cbSize;
  int iContextType;
  int iCtrlId;
  HANDLE hItemHandle;
  ULONG_PTR dwContextId;
  POINT MousePos;
};
typedef HELPINFO* LPHELPINFO;
#define HELPINFO_WINDOW 0x0001

// ---- dialogs ----
#define DS_MODALFRAME 0x0080u
#define DS_SETFONT 0x0040u
#define DS_CONTROL 0x0400u
#define DM_GETDEFID 0x0400u
#define DM_SETDEFID 0x0401u
#define DC_HASDEFID 0x534B
// WM_GETDLGCODE answers
#define DLGC_WANTARROWS 0x0001u
#define DLGC_WANTTAB 0x0002u
#define DLGC_WANTALLKEYS 0x0004u
#define DLGC_WANTMESSAGE 0x0004u
#define DLGC_HASSETSEL 0x0008u
#define DLGC_DEFPUSHBUTTON 0x0010u
#define DLGC_UNDEFPUSHBUTTON 0x0020u
#define DLGC_RADIOBUTTON 0x0040u
#define DLGC_WANTCHARS 0x0080u
#define DLGC_STATIC 0x0100u
#define DLGC_BUTTON 0x2000u

// ---- help ----
#define WM_HELP 0x0053u
#define WM_CTLCOLORMSGBOX 0x0132u
#define WM_CTLCOLOREDIT 0x0133u
#define WM_CTLCOLORLISTBOX 0x0134u
#define WM_CTLCOLORBTN 0x0135u
#define WM_CTLCOLORDLG 0x0136u
#define WM_CTLCOLORSCROLLBAR 0x0137u
#define WM_CTLCOLORSTATIC 0x0138u
#define WM_MOUSEMOVE 0x0200u
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_WINDOWPOSCHANGED 0x0047u
#define WM_ERASEBKGND 0x0014u
#define WM_SETCURSOR 0x0020u
#define WM_DRAWITEM 0x002Bu
#define HTCLIENT 1

// ---- owner-drawn controls ----
// A BS_OWNERDRAW button draws nothing itself: whenever it is painted (and
// its state changes repaint it: pressed, released, focus, enabled) its
// parent gets WM_DRAWITEM(id, DRAWITEMSTRUCT*) with itemAction
// ODA_DRAWENTIRE, the button's state in itemState, a device context of the
// button in hDC and its client rectangle in rcItem.
#define ODT_BUTTON 4
#define ODA_DRAWENTIRE 0x0001u
#define ODA_SELECT 0x0002u
#define ODA_FOCUS 0x0004u
#define ODS_SELECTED 0x0001u
#define ODS_GRAYED 0x0002u
#define ODS_DISABLED 0x0004u
#define ODS_CHECKED 0x0008u
#define ODS_FOCUS 0x0010u
struct HDC__;
typedef HDC__* HDC;
struct DRAWITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemAction;
  UINT itemState;
  HWND hwndItem;
  HDC hDC;
  RECT rcItem;
  ULONG_PTR itemData;
};
typedef DRAWITEMSTRUCT* LPDRAWITEMSTRUCT;
#define WM_SETFONT 0x0030u
#define WM_GETFONT 0x0031u

// ---- virtual keys ----
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_DELETE 0x2E

// ---- colours ----
typedef DWORD COLORREF;
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r)) | (((WORD)((BYTE)(g))) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))
#define TRANSPARENT 1
#define OPAQUE 2

// Makes a WM_COMMAND wParam from a control id and a notification code.
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)(((WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))
