// GDI-lite: device contexts, fonts, brushes and pens as records.
//
// Nothing is rasterised: drawing calls (lines, fills, text) check their
// handles and are kept as what the window shows (cesim/gdi.h), which the
// screen front end draws. What callers can observe is deterministic:
//   - a font is its LOGFONTW; lfHeight 0 means the default height 13;
//   - text metrics: line height = |lfHeight|, every character is
//     round(|lfHeight| * 6 / 10) pixels wide;
//   - a DC remembers its selected objects, colours, background mode and
//     current position.
// Objects are per process. Errors: ERROR_INVALID_HANDLE for an unknown or
// deleted handle, ERROR_INVALID_PARAMETER for null out-pointers.
#pragma once

#include <cstdint>

#include "ce/controls.h"
#include "ce/system.h"
#include "ce/types.h"
#include "ce/window.h"

struct HDC__;
typedef HDC__* HDC;
struct HFONT__;
typedef HFONT__* HFONT;
struct HPEN__;
typedef HPEN__* HPEN;
typedef void* HGDIOBJ;  // any of HFONT, HBRUSH, HPEN, HBITMAP
typedef const RECT* LPCRECT;

struct SIZE {
  LONG cx;
  LONG cy;
};
typedef SIZE* LPSIZE;

#define LF_FACESIZE 32
struct LOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};
typedef LOGFONTW* LPLOGFONTW;
typedef LOGFONTW LOGFONT;

struct TEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
typedef PAINTSTRUCT* LPPAINTSTRUCT;

#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_SEMIBOLD 600
#define FW_BOLD 700
#define DEFAULT_CHARSET 1
#define ANSI_CHARSET 0
#define DEFAULT_QUALITY 0
#define CLEARTYPE_QUALITY 5

// Stock objects (never deleted; DeleteObject on them does nothing).
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

#define PS_SOLID 0
#define PS_DASH 1
#define PS_NULL 5

#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_FONT 6

// System colours.
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENU 4
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_STATIC 25
#define COLOR_STATICTEXT 26

// WM_CTLCOLOR* kinds (message - WM_CTLCOLORMSGBOX).
#define CTLCOLOR_MSGBOX 0
#define CTLCOLOR_EDIT 1
#define CTLCOLOR_LISTBOX 2
#define CTLCOLOR_BTN 3
#define CTLCOLOR_DLG 4
#define CTLCOLOR_SCROLLBAR 5
#define CTLCOLOR_STATIC 6

#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define HORZRES 8
#define VERTRES 10

// DrawTextW formats (DT_CALCRECT measures and draws nothing).
#define DT_LEFT 0x0000u
#define DT_CENTER 0x0001u
#define DT_RIGHT 0x0002u
#define DT_VCENTER 0x0004u
#define DT_BOTTOM 0x0008u
#define DT_WORDBREAK 0x0010u
#define DT_SINGLELINE 0x0020u
#define DT_CALCRECT 0x0400u
#define DT_NOPREFIX 0x0800u

// ---- objects ----
HFONT CreateFontIndirectW(const LOGFONTW* font);
HBRUSH CreateSolidBrush(COLORREF color);
HPEN CreatePen(int style, int width, COLORREF color);
HGDIOBJ GetStockObject(int index);  // null for an unknown index
// Stock objects: TRUE without effect. A selected object may be deleted (the
// DC then behaves as if the stock object of that kind were selected).
BOOL DeleteObject(HGDIOBJ object);
// Fonts: fills a LOGFONTW (size >= sizeof(LOGFONTW)) and returns the bytes
// written; buffer null returns the size needed. Bitmaps: the same with a
// BITMAP (bmBits null). Brushes and pens: 0 (not
// needed by anyone). 0 with ERROR_INVALID_HANDLE for an unknown handle.
int GetObjectW(HGDIOBJ object, int size, LPVOID buffer);
DWORD GetObjectType(HGDIOBJ object);  // OBJ_*; 0 for none
COLORREF GetSysColor(int index);
HBRUSH GetSysColorBrush(int index);

// ---- icons ----
// An icon is a record of its module's RT_GROUP_ICON resource: the window
// icon and the bubble's icon are bookkeeping, nothing is drawn. Null with
// FindResourceW's last error when the module has no such icon.
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
// FALSE with ERROR_INVALID_HANDLE for an icon that is not live.
BOOL DestroyIcon(HICON icon);
#define LoadIcon LoadIconW

// ---- device contexts ----
// A DC for a window of this process (null: the screen). Released by
// ReleaseDC (1) or, for BeginPaint, by EndPaint. A new DC has the window's
// WM_GETFONT font (else the system font), black text on white, OPAQUE.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
// Fills ps with a new DC and the client rectangle, validates the window
// (ValidateRect) and returns the DC.
HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps);
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
int GetDeviceCaps(HDC hdc, int index);

// Returns the previously selected object of the same kind (null with
// ERROR_INVALID_HANDLE for a bad DC or object).
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
COLORREF SetTextColor(HDC hdc, COLORREF color);  // previous colour
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);  // previous mode; 0 for a bad DC or mode
int GetBkMode(HDC hdc);

// ---- drawing (recorded, no pixels) ----
BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT previous);
BOOL LineTo(HDC hdc, int x, int y);
int FillRect(HDC hdc, const RECT* rect, HBRUSH brush);
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count,
                 const int* dx);
// Returns the height of the text; with DT_CALCRECT the rectangle's right and
// bottom are set to fit the text (DT_WORDBREAK wraps at blanks within the
// rectangle's width).
int DrawTextW(HDC hdc, LPCWSTR text, int count, LPRECT rect, UINT format);
// Copies a packed bitmap (info header, colour masks and table, pixel rows:
// the form of a bitmap resource) to (x, y), width x height pixels from its
// top-left corner (recorded for a window's DC and drawn by the screen;
// rows past the bitmap's own size are not drawn). FALSE for a bad DC, or ERROR_INVALID_PARAMETER for a null
// bitmap or one shorter than its info header.
BOOL DrawPackedDib(HDC hdc, int x, int y, int width, int height, const void* packedDib, DWORD size);

// ---- bitmaps ----
// A bitmap is its packed form (info header, masks, colour table, rows).
// Copying one into a window's DC (BitBlt/StretchBlt from a memory DC it
// is selected into, DrawPackedDib, ImageList_Draw) is recorded for the
// window and drawn by the screen; a BeginPaint of the window starts its
// record afresh.
struct HBITMAP__;
typedef HBITMAP__* HBITMAP;
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};
typedef BITMAP* LPBITMAP;
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
#define OBJ_BITMAP 7
#define BI_RGB 0
#define BI_BITFIELDS 3
#define DIB_RGB_COLORS 0
#define SRCCOPY 0x00CC0020u
// A bitmap resource of a module (name: MAKEINTRESOURCE(id) or a name).
// Null with the lookup's last error, or ERROR_INVALID_DATA for a resource
// that is no well-formed bitmap.
HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name);
#define LoadBitmap LoadBitmapW
// A bitmap file (with its 14-byte file header) at a device path.
HBITMAP SHLoadDIBitmap(LPCWSTR path);
// A bitmap of the header's size and format whose rows the caller writes
// through *bits (uncompressed 1/4/8/16/24/32 bits per pixel only).
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop);
BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, int swidth,
                int sheight, DWORD rop);

// ---- text metrics (see the top of this file) ----
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, LPSIZE size);
BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics);

// ---- misc ----
int MulDiv(int number, int numerator, int denominator);  // rounded; -1 for denominator 0

#define CreateFontIndirect CreateFontIndirectW
#define GetObject GetObjectW
#define GetTextExtentPoint32 GetTextExtentPoint32W
#define GetTextMetrics GetTextMetricsW
#define ExtTextOut ExtTextOutW
#define DrawText DrawTextW

namespace ce {

inline constexpr int kDefaultFontHeight = 13;
// round(height * 6 / 10) for the font height |lfHeight| (0: the default).
int CharWidthForFontHeight(LONG lfHeight);
// The line height and character width of a font handle (null or unknown:
// the default font).
int FontLineHeight(HFONT font);
int FontCharWidth(HFONT font);
// Width of `count` characters of `font` (what GetTextExtentPoint32W reports).
int TextWidth(HFONT font, int count);
// True for a live GDI object of this process (stock objects included).
bool IsGdiObject(HGDIOBJ object);

}  // namespace ce
