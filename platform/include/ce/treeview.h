// The tree view control "SysTreeView32": styles, messages, item and
// notification structures. Data only; the window layer implements it.
#pragma once

#include "ce/commctrl.h"  // HIMAGELIST, NM_*, LPSTR_TEXTCALLBACKW
#include "ce/controls.h"
#include "ce/types.h"
#include "ce/window.h"

#define WC_TREEVIEWW u"SysTreeView32"

// An item of a tree; never dereferenced (the control's own handle values).
struct _TREEITEM;
typedef struct _TREEITEM* HTREEITEM;

// ---- styles ----
#define TVS_HASBUTTONS 0x0001u
#define TVS_HASLINES 0x0002u
#define TVS_LINESATROOT 0x0004u
#define TVS_EDITLABELS 0x0008u
#define TVS_DISABLEDRAGDROP 0x0010u
#define TVS_SHOWSELALWAYS 0x0020u
#define TVS_CHECKBOXES 0x0100u
#define TVS_TRACKSELECT 0x0200u
#define TVS_SINGLEEXPAND 0x0400u
#define TVS_FULLROWSELECT 0x1000u
#define TVS_NOSCROLL 0x2000u

// ---- insert positions and the root ----
#define TVI_ROOT ((HTREEITEM)(ULONG_PTR)-0x10000)
#define TVI_FIRST ((HTREEITEM)(ULONG_PTR)-0x0FFFF)
#define TVI_LAST ((HTREEITEM)(ULONG_PTR)-0x0FFFE)
#define TVI_SORT ((HTREEITEM)(ULONG_PTR)-0x0FFFD)

// ---- item fields (TVITEMW::mask) ----
#define TVIF_TEXT 0x0001u
#define TVIF_IMAGE 0x0002u
#define TVIF_PARAM 0x0004u
#define TVIF_STATE 0x0008u
#define TVIF_HANDLE 0x0010u
#define TVIF_SELECTEDIMAGE 0x0020u
#define TVIF_CHILDREN 0x0040u

// ---- item states ----
#define TVIS_SELECTED 0x0002u
#define TVIS_CUT 0x0004u
#define TVIS_DROPHILITED 0x0008u
#define TVIS_BOLD 0x0010u
#define TVIS_EXPANDED 0x0020u
#define TVIS_EXPANDEDONCE 0x0040u
#define TVIS_OVERLAYMASK 0x0F00u
#define TVIS_STATEIMAGEMASK 0xF000u
#define TVIS_USERMASK 0xF000u
#define INDEXTOSTATEIMAGEMASK(i) ((UINT)(i) << 12)
#define STATEIMAGEMASKTOINDEX(s) (((UINT)(s) & TVIS_STATEIMAGEMASK) >> 12)

#define I_CHILDRENCALLBACK (-1)
// LPSTR_TEXTCALLBACKW: ce/commctrl.h

struct TVITEMW {
  UINT mask;
  HTREEITEM hItem;
  UINT state;
  UINT stateMask;
  LPWSTR pszText;
  int cchTextMax;
  int iImage;
  int iSelectedImage;
  int cChildren;
  LPARAM lParam;
};
typedef TVITEMW* LPTVITEMW;

struct TVINSERTSTRUCTW {
  HTREEITEM hParent;
  HTREEITEM hInsertAfter;
  TVITEMW item;
};
typedef TVINSERTSTRUCTW* LPTVINSERTSTRUCTW;

// ---- messages ----
#define TV_FIRST 0x1100u
#define TVM_DELETEITEM (TV_FIRST + 1)
#define TVM_EXPAND (TV_FIRST + 2)
#define TVM_GETITEMRECT (TV_FIRST + 4)
#define TVM_GETCOUNT (TV_FIRST + 5)
#define TVM_GETINDENT (TV_FIRST + 6)
#define TVM_SETINDENT (TV_FIRST + 7)
#define TVM_GETIMAGELIST (TV_FIRST + 8)
#define TVM_SETIMAGELIST (TV_FIRST + 9)
#define TVM_GETNEXTITEM (TV_FIRST + 10)
#define TVM_SELECTITEM (TV_FIRST + 11)
#define TVM_GETVISIBLECOUNT (TV_FIRST + 16)
#define TVM_HITTEST (TV_FIRST + 17)
#define TVM_SORTCHILDREN (TV_FIRST + 19)
#define TVM_ENSUREVISIBLE (TV_FIRST + 20)
#define TVM_SETITEMHEIGHT (TV_FIRST + 27)
#define TVM_GETITEMHEIGHT (TV_FIRST + 28)
#define TVM_GETITEMSTATE (TV_FIRST + 39)
#define TVM_INSERTITEMW (TV_FIRST + 50)
#define TVM_GETITEMW (TV_FIRST + 62)
#define TVM_SETITEMW (TV_FIRST + 63)
#define TVM_INSERTITEM TVM_INSERTITEMW
#define TVM_GETITEM TVM_GETITEMW
#define TVM_SETITEM TVM_SETITEMW

// TVM_SETIMAGELIST / TVM_GETIMAGELIST wParam
#define TVSIL_NORMAL 0
#define TVSIL_STATE 2

// TVM_GETNEXTITEM / TVM_SELECTITEM wParam
#define TVGN_ROOT 0x0000u
#define TVGN_NEXT 0x0001u
#define TVGN_PREVIOUS 0x0002u
#define TVGN_PARENT 0x0003u
#define TVGN_CHILD 0x0004u
#define TVGN_FIRSTVISIBLE 0x0005u
#define TVGN_NEXTVISIBLE 0x0006u
#define TVGN_PREVIOUSVISIBLE 0x0007u
#define TVGN_DROPHILITE 0x0008u
#define TVGN_CARET 0x0009u
#define TVGN_LASTVISIBLE 0x000Au

// TVM_EXPAND wParam
#define TVE_COLLAPSE 0x0001u
#define TVE_EXPAND 0x0002u
#define TVE_TOGGLE 0x0003u
#define TVE_COLLAPSERESET 0x8000u

// ---- hit test ----
struct TVHITTESTINFO {
  POINT pt;  // client coordinates
  UINT flags;
  HTREEITEM hItem;
};
typedef TVHITTESTINFO* LPTVHITTESTINFO;
#define TVHT_NOWHERE 0x0001u
#define TVHT_ONITEMICON 0x0002u
#define TVHT_ONITEMLABEL 0x0004u
#define TVHT_ONITEMINDENT 0x0008u
#define TVHT_ONITEMBUTTON 0x0010u
#define TVHT_ONITEMRIGHT 0x0020u
#define TVHT_ONITEMSTATEICON 0x0040u
#define TVHT_ONITEM (TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON)
#define TVHT_ABOVE 0x0100u
#define TVHT_BELOW 0x0200u
#define TVHT_TORIGHT 0x0400u
#define TVHT_TOLEFT 0x0800u

// ---- notifications (WM_NOTIFY to the parent; NM_* in ce/commctrl.h) ----
#define TVN_FIRST (0u - 400u)
#define TVN_KEYDOWN (TVN_FIRST - 12u)
#define TVN_SELCHANGINGW (TVN_FIRST - 50u)
#define TVN_SELCHANGEDW (TVN_FIRST - 51u)
#define TVN_ITEMEXPANDINGW (TVN_FIRST - 54u)
#define TVN_ITEMEXPANDEDW (TVN_FIRST - 55u)
#define TVN_DELETEITEMW (TVN_FIRST - 58u)
#define TVN_SELCHANGING TVN_SELCHANGINGW
#define TVN_SELCHANGED TVN_SELCHANGEDW
#define TVN_ITEMEXPANDING TVN_ITEMEXPANDINGW
#define TVN_ITEMEXPANDED TVN_ITEMEXPANDEDW
#define TVN_DELETEITEM TVN_DELETEITEMW

// NMTREEVIEWW::action of the selection notifications
#define TVC_UNKNOWN 0x0000u
#define TVC_BYMOUSE 0x0001u
#define TVC_BYKEYBOARD 0x0002u

// TVN_SELCHANGING/ED (itemOld, itemNew), TVN_ITEMEXPANDING/ED (itemNew,
// action TVE_*), TVN_DELETEITEM (itemOld). Item fields: mask TVIF_HANDLE |
// TVIF_STATE | TVIF_PARAM, hItem, state, lParam. The answer TRUE to a
// "-ING" notification prevents the change.
struct NMTREEVIEWW {
  NMHDR hdr;
  UINT action;
  TVITEMW itemOld;
  TVITEMW itemNew;
  POINT ptDrag;
};
typedef NMTREEVIEWW* LPNMTREEVIEWW;
typedef NMTREEVIEWW NMTREEVIEW;
typedef NMTREEVIEWW* LPNMTREEVIEW;

struct NMTVKEYDOWN {
  NMHDR hdr;
  WORD wVKey;
  UINT flags;
};
typedef NMTVKEYDOWN* LPNMTVKEYDOWN;

#define VK_PRIOR 0x21
#define VK_NEXT 0x22
