// GDI-lite (see ce/gdi.h): objects and DCs are records in per-process
// tables; drawing checks its handles, counts, and keeps what it drew on a
// window for the screen (gdi_image.h).
#include "ce/gdi.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <mutex>
#include <vector>

#include "ce/bytes.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/module.h"
#include "cesim/gdi.h"
#include "cesim/window.h"
#include "gdi_image.h"

namespace {

enum class Kind { Font, Brush, Pen, Bitmap };

struct Object {
  Kind kind;
  bool stock = false;
  LOGFONTW font{};
  COLORREF color = 0;
  int penStyle = PS_SOLID;
  int penWidth = 1;
};

struct Dc {
  HWND hwnd = nullptr;
  uintptr_t font = 0, brush = 0, pen = 0;
  uintptr_t bitmap = 0;  // memory DCs: the bitmap selected into it
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  POINT pos{0, 0};
};

constexpr uintptr_t kStockBase = 0x7F000000u;
constexpr uintptr_t kSysColorBase = 0x7F100000u;
constexpr uintptr_t kObjectBase = 0x7E000000u;
constexpr uintptr_t kDcBase = 0x7D000000u;

struct Gdi {
  std::mutex m;
  std::map<uintptr_t, Object> objects;
  std::map<uintptr_t, Dc> dcs;
  // Bitmaps' packed forms, by the key of their Kind::Bitmap object.
  std::map<uintptr_t, std::shared_ptr<std::string>> bitmaps;
  uintptr_t nextObject = kObjectBase;
  uintptr_t nextDc = kDcBase;
  std::atomic<uint64_t> drawCalls{0};

  Gdi() {
    auto stock = [&](int index, Object o) {
      o.stock = true;
      objects[kStockBase + static_cast<uintptr_t>(index)] = o;
    };
    auto brush = [](COLORREF c) { return Object{Kind::Brush, true, {}, c, PS_SOLID, 1}; };
    auto pen = [](COLORREF c, int style) { return Object{Kind::Pen, true, {}, c, style, 1}; };
    stock(WHITE_BRUSH, brush(RGB(255, 255, 255)));
    stock(LTGRAY_BRUSH, brush(RGB(192, 192, 192)));
    stock(GRAY_BRUSH, brush(RGB(128, 128, 128)));
    stock(DKGRAY_BRUSH, brush(RGB(64, 64, 64)));
    stock(BLACK_BRUSH, brush(RGB(0, 0, 0)));
    stock(NULL_BRUSH, brush(RGB(0, 0, 0)));
    stock(WHITE_PEN, pen(RGB(255, 255, 255), PS_SOLID));
    stock(BLACK_PEN, pen(RGB(0, 0, 0), PS_SOLID));
    stock(NULL_PEN, pen(RGB(0, 0, 0), PS_NULL));
    Object font{Kind::Font, true, {}, 0, PS_SOLID, 1};
    font.font.lfHeight = -ce::kDefaultFontHeight;
    font.font.lfWeight = FW_NORMAL;
    font.font.lfCharSet = DEFAULT_CHARSET;
    const char16_t face[] = u"Tahoma";
    std::copy(std::begin(face), std::end(face), font.font.lfFaceName);
    stock(SYSTEM_FONT, font);
    stock(DEFAULT_GUI_FONT, font);
  }
};

Gdi& G() {
  static Gdi g;
  return g;
}

uintptr_t Key(const void* h) { return reinterpret_cast<uintptr_t>(h); }
template <typename H>
H Handle(uintptr_t key) {
  return reinterpret_cast<H>(key);
}

// Caller holds the lock.
Object* FindObject(uintptr_t key) {
  auto it = G().objects.find(key);
  return it == G().objects.end() ? nullptr : &it->second;
}
Dc* FindDc(HDC hdc) {
  auto it = G().dcs.find(Key(hdc));
  if (it == G().dcs.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

constexpr COLORREF kClrInvalid = 0xFFFFFFFFu;
// A DC colour swapped for color: the old one (kClrInvalid for no DC).
COLORREF SwapDcColor(HDC hdc, COLORREF Dc::*which, COLORREF color) {
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  if (dc == nullptr) return kClrInvalid;
  std::swap(dc->*which, color);
  return color;
}
COLORREF DcColor(HDC hdc, COLORREF Dc::*which) {
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  return dc == nullptr ? kClrInvalid : dc->*which;
}

uintptr_t AddObject(const Object& o) {
  std::lock_guard<std::mutex> g(G().m);
  uintptr_t key = G().nextObject++;
  G().objects[key] = o;
  return key;
}

// The font a DC uses: its selected font while that still exists.
LONG FontHeightLocked(uintptr_t font) {
  Object* o = FindObject(font);
  if (o == nullptr || o->kind != Kind::Font) o = FindObject(kStockBase + SYSTEM_FONT);
  return o->font.lfHeight;
}

int LineHeightFor(LONG lfHeight) {
  long h = std::labs(static_cast<long>(lfHeight));
  return static_cast<int>(h == 0 ? ce::kDefaultFontHeight : h);
}

COLORREF SysColor(int index) {
  switch (index) {
    case COLOR_SCROLLBAR: return RGB(192, 192, 192);
    case COLOR_BACKGROUND: return RGB(0, 128, 128);
    case COLOR_ACTIVECAPTION: return RGB(0, 0, 128);
    case COLOR_MENU: return RGB(255, 255, 255);
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWFRAME: return RGB(0, 0, 0);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_CAPTIONTEXT: return RGB(255, 255, 255);
    case COLOR_HIGHLIGHT: return RGB(0, 0, 128);
    case COLOR_HIGHLIGHTTEXT: return RGB(255, 255, 255);
    case COLOR_BTNFACE: return RGB(192, 192, 192);
    case COLOR_BTNSHADOW: return RGB(128, 128, 128);
    case COLOR_GRAYTEXT: return RGB(128, 128, 128);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    case COLOR_STATIC: return RGB(255, 255, 255);
    case COLOR_STATICTEXT: return RGB(0, 0, 0);
    default: return RGB(0, 0, 0);
  }
}

// Caller holds the lock.
COLORREF ObjectColor(uintptr_t key, bool* none) {
  Object* o = FindObject(key);
  *none = o == nullptr || key == kStockBase + NULL_BRUSH || (o->kind == Kind::Pen && o->penStyle == PS_NULL);
  return o ? o->color : 0;
}

using ui::gdi::DrawOp;

// A drawing on a DC's window, kept once the table's lock is let go (the
// drawings' store asks the window layer about windows).
struct Pending {
  HWND hwnd = nullptr;  // null: a memory or screen DC, nothing kept
  std::vector<DrawOp> ops;
  void Add(const Dc& dc, DrawOp op) {
    hwnd = dc.hwnd;
    if (hwnd) ops.push_back(std::move(op));
  }
  // Call without the table's lock.
  void Keep() {
    for (DrawOp& op : ops) ui::gdi::RecordDraw(hwnd, std::move(op));
  }
};

DrawOp ColorOp(DrawOp::Kind kind, const RECT& rect, COLORREF color) {
  DrawOp op;
  op.kind = kind;
  op.rect = rect;
  op.color = color;
  return op;
}

DrawOp TextOp(const Dc& dc, const RECT& rect, std::u16string text, UINT format) {
  DrawOp op;
  op.kind = DrawOp::Kind::Text;
  op.rect = rect;
  op.color = dc.textColor;
  op.text = std::move(text);
  op.format = format;
  if (Object* f = FindObject(dc.font); f != nullptr && f->kind == Kind::Font) {
    op.fontHeight = std::labs(static_cast<long>(f->font.lfHeight));
    op.bold = f->font.lfWeight >= FW_SEMIBOLD;
    op.underline = f->font.lfUnderline != 0;
  }
  return op;
}

bool CountDraw(HDC hdc) {
  std::lock_guard<std::mutex> g(G().m);
  if (FindDc(hdc) == nullptr) return false;
  G().drawCalls++;
  return true;
}

// The window a DC draws into (null for memory and screen DCs).
HWND WindowOf(HDC hdc) {
  std::lock_guard<std::mutex> g(G().m);
  auto it = G().dcs.find(Key(hdc));
  return it == G().dcs.end() ? nullptr : it->second.hwnd;
}

// GetObjectW of a bitmap: a BITMAP (bmBits null).
int BitmapObject(const std::string& dib, int size, LPVOID buffer) {
  if (buffer == nullptr) return static_cast<int>(sizeof(BITMAP));
  if (size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  BITMAP b{};
  b.bmType = 0;
  b.bmWidth = static_cast<LONG>(ce::le::Get32(dib, 4));
  b.bmHeight = std::abs(static_cast<LONG>(ce::le::Get32(dib, 8)));
  b.bmPlanes = 1;
  b.bmBitsPixel = ce::le::Get16(dib, 14);
  b.bmWidthBytes = (b.bmWidth * b.bmBitsPixel + 15) / 16 * 2;
  const size_t n = std::min(static_cast<size_t>(size), sizeof(BITMAP));
  std::memcpy(buffer, &b, n);
  return static_cast<int>(n);
}

HDC NewDc(HWND hwnd) {
  HFONT font = nullptr;
  if (hwnd != nullptr) font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
  std::lock_guard<std::mutex> g(G().m);
  Dc dc;
  dc.hwnd = hwnd;
  Object* f = FindObject(Key(font));
  dc.font = (f != nullptr && f->kind == Kind::Font) ? Key(font) : kStockBase + SYSTEM_FONT;
  dc.brush = kStockBase + WHITE_BRUSH;
  dc.pen = kStockBase + BLACK_PEN;
  uintptr_t key = G().nextDc++;
  G().dcs[key] = dc;
  return Handle<HDC>(key);
}

}  // namespace

namespace ce {

int CharWidthForFontHeight(LONG lfHeight) {
  long h = std::labs(static_cast<long>(lfHeight));
  if (h == 0) h = kDefaultFontHeight;
  return static_cast<int>((h * 6 + 5) / 10);
}

int FontLineHeight(HFONT font) {
  std::lock_guard<std::mutex> g(G().m);
  return LineHeightFor(FontHeightLocked(Key(font)));
}

int FontCharWidth(HFONT font) {
  std::lock_guard<std::mutex> g(G().m);
  return CharWidthForFontHeight(FontHeightLocked(Key(font)));
}

int TextWidth(HFONT font, int count) { return count <= 0 ? 0 : count * FontCharWidth(font); }

bool IsGdiObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> g(G().m);
  return FindObject(Key(object)) != nullptr;
}

uint64_t GdiDrawCallCount() { return G().drawCalls.load(); }

}  // namespace ce

HFONT CreateFontIndirectW(const LOGFONTW* font) {
  if (font == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Object o{Kind::Font, false, *font, 0, PS_SOLID, 1};
  o.font.lfFaceName[LF_FACESIZE - 1] = 0;
  return Handle<HFONT>(AddObject(o));
}

HBRUSH CreateSolidBrush(COLORREF color) { return Handle<HBRUSH>(AddObject(Object{Kind::Brush, false, {}, color, PS_SOLID, 1})); }

HPEN CreatePen(int style, int width, COLORREF color) {
  return Handle<HPEN>(AddObject(Object{Kind::Pen, false, {}, color, style, width}));
}

HGDIOBJ GetStockObject(int index) {
  std::lock_guard<std::mutex> g(G().m);
  uintptr_t key = kStockBase + static_cast<uintptr_t>(index);
  if (index < 0 || FindObject(key) == nullptr) return nullptr;
  return Handle<HGDIOBJ>(key);
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> g(G().m);
  Object* o = FindObject(Key(object));
  if (o == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!o->stock) {
    G().objects.erase(Key(object));
    G().bitmaps.erase(Key(object));
  }
  return TRUE;
}

int GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
  std::lock_guard<std::mutex> g(G().m);
  Object* o = FindObject(Key(object));
  if (o == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (o->kind == Kind::Bitmap) return BitmapObject(*G().bitmaps[Key(object)], size, buffer);
  if (o->kind != Kind::Font) return 0;
  if (buffer == nullptr) return static_cast<int>(sizeof(LOGFONTW));
  if (size <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = std::min(static_cast<size_t>(size), sizeof(LOGFONTW));
  std::memcpy(buffer, &o->font, n);
  return static_cast<int>(n);
}

DWORD GetObjectType(HGDIOBJ object) {
  std::lock_guard<std::mutex> g(G().m);
  if (G().dcs.count(Key(object)) != 0) return OBJ_DC;
  Object* o = FindObject(Key(object));
  if (o == nullptr) return 0;
  if (o->kind == Kind::Bitmap) return OBJ_BITMAP;
  return o->kind == Kind::Font ? OBJ_FONT : o->kind == Kind::Brush ? OBJ_BRUSH : OBJ_PEN;
}

COLORREF GetSysColor(int index) { return SysColor(index); }

HBRUSH GetSysColorBrush(int index) {
  if (index < 0 || index > 64) return nullptr;
  std::lock_guard<std::mutex> g(G().m);
  uintptr_t key = kSysColorBase + static_cast<uintptr_t>(index);
  if (FindObject(key) == nullptr) G().objects[key] = Object{Kind::Brush, true, {}, SysColor(index), PS_SOLID, 1};
  return Handle<HBRUSH>(key);
}

HDC GetDC(HWND hwnd) {
  if (hwnd != nullptr && !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return NewDc(hwnd);
}

int ReleaseDC(HWND hwnd, HDC hdc) {
  int released = 0;
  {
    std::lock_guard<std::mutex> g(G().m);
    released = G().dcs.erase(Key(hdc)) != 0 ? 1 : 0;
  }
  if (released && hwnd != nullptr) ce::MarkWindowModelChanged();
  return released;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
  if (ps == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  *ps = PAINTSTRUCT{};
  if (hwnd == nullptr || !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  GetClientRect(hwnd, &ps->rcPaint);
  ValidateRect(hwnd, nullptr);
  ui::gdi::ClearDrawing(hwnd);  // what the paint draws replaces the last paint
  ps->hdc = NewDc(hwnd);
  return ps->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* ps) {
  if (ps == nullptr) return FALSE;
  {
    std::lock_guard<std::mutex> g(G().m);
    G().dcs.erase(Key(ps->hdc));
  }
  ce::MarkWindowModelChanged();  // what the paint drew shows now
  return TRUE;
}

HDC CreateCompatibleDC(HDC) { return NewDc(nullptr); }

BOOL DeleteDC(HDC hdc) {
  std::lock_guard<std::mutex> g(G().m);
  if (G().dcs.erase(Key(hdc)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

int GetDeviceCaps(HDC hdc, int index) {
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case HORZRES: return GetSystemMetrics(SM_CXSCREEN);
    case VERTRES: return GetSystemMetrics(SM_CYSCREEN);
    default: (void)hdc; return 0;
  }
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  if (dc == nullptr) return nullptr;
  Object* o = FindObject(Key(object));
  if (o == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  uintptr_t* slot = o->kind == Kind::Font    ? &dc->font
                    : o->kind == Kind::Brush ? &dc->brush
                    : o->kind == Kind::Pen   ? &dc->pen
                                             : &dc->bitmap;
  uintptr_t previous = *slot;
  *slot = Key(object);
  return Handle<HGDIOBJ>(previous);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) { return SwapDcColor(hdc, &Dc::textColor, color); }
COLORREF GetTextColor(HDC hdc) { return DcColor(hdc, &Dc::textColor); }
COLORREF SetBkColor(HDC hdc, COLORREF color) { return SwapDcColor(hdc, &Dc::bkColor, color); }
COLORREF GetBkColor(HDC hdc) { return DcColor(hdc, &Dc::bkColor); }

int SetBkMode(HDC hdc, int mode) {
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  if (dc == nullptr) return 0;
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::swap(dc->bkMode, mode);
  return mode;
}

int GetBkMode(HDC hdc) {
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  return dc == nullptr ? 0 : dc->bkMode;
}

BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT previous) {
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  if (dc == nullptr) return FALSE;
  if (previous != nullptr) *previous = dc->pos;
  dc->pos = POINT{x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  Pending drawn;
  {
    std::lock_guard<std::mutex> g(G().m);
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    bool none = false;
    const COLORREF color = ObjectColor(dc->pen, &none);
    if (!none) drawn.Add(*dc, ColorOp(DrawOp::Kind::Line, RECT{dc->pos.x, dc->pos.y, x, y}, color));
    dc->pos = POINT{x, y};
    G().drawCalls++;
  }
  drawn.Keep();
  return TRUE;
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Pending drawn;
  {
    std::lock_guard<std::mutex> g(G().m);
    Object* o = FindObject(Key(brush));
    if (o == nullptr || o->kind != Kind::Brush) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return 0;
    bool none = false;
    const COLORREF color = ObjectColor(Key(brush), &none);
    if (!none) drawn.Add(*dc, ColorOp(DrawOp::Kind::Fill, *rect, color));
    G().drawCalls++;
  }
  drawn.Keep();
  return 1;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  Pending drawn;
  {
    std::lock_guard<std::mutex> g(G().m);
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    const RECT r{left, top, right, bottom};
    bool none = false;
    COLORREF color = ObjectColor(dc->brush, &none);
    if (!none) drawn.Add(*dc, ColorOp(DrawOp::Kind::Fill, r, color));
    color = ObjectColor(dc->pen, &none);
    if (!none) drawn.Add(*dc, ColorOp(DrawOp::Kind::Frame, r, color));
    G().drawCalls++;
  }
  drawn.Keep();
  return TRUE;
}

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT, const RECT*, LPCWSTR text, UINT count, const int*) {
  Pending drawn;
  {
    std::lock_guard<std::mutex> g(G().m);
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return FALSE;
    std::u16string s = text == nullptr ? std::u16string() : std::u16string(text, count);
    const LONG h = FontHeightLocked(dc->font);
    const RECT r{x, y, x + static_cast<LONG>(s.size()) * ce::CharWidthForFontHeight(h), y + LineHeightFor(h)};
    drawn.Add(*dc, TextOp(*dc, r, std::move(s), DT_LEFT | DT_SINGLELINE));
    G().drawCalls++;
  }
  drawn.Keep();
  return TRUE;
}

BOOL DrawPackedDib(HDC hdc, int x, int y, int width, int height, const void* packedDib, DWORD size) {
  constexpr DWORD kInfoHeaderSize = 40;
  if (packedDib == nullptr || size < kInfoHeaderSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!CountDraw(hdc)) return FALSE;
  ui::gdi::Image image;
  if (width > 0 && height > 0 &&
      ui::gdi::DecodeDib(std::string_view(static_cast<const char*>(packedDib), size), &image)) {
    auto part = std::make_shared<ui::gdi::Image>(ui::gdi::Crop(image, 0, 0, width, height, width, height));
    ui::gdi::RecordDraw(WindowOf(hdc), ui::gdi::ImageDraw(RECT{x, y, x + width, y + height}, std::move(part)));
  }
  return TRUE;
}

int DrawTextW(HDC hdc, LPCWSTR text, int count, LPRECT rect, UINT format) {
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int cw, lh;
  {
    std::lock_guard<std::mutex> g(G().m);
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return 0;
    LONG h = FontHeightLocked(dc->font);
    cw = ce::CharWidthForFontHeight(h);
    lh = LineHeightFor(h);
  }
  std::u16string s;
  if (text != nullptr) s = count < 0 ? std::u16string(text) : std::u16string(text, static_cast<size_t>(count));
  // Break into lines: '\n' (unless single line), and blanks when wrapping.
  std::vector<int> widths;
  const int limit = rect->right - rect->left;
  auto addLine = [&](std::u16string_view line) {
    if ((format & DT_WORDBREAK) == 0 || (format & DT_SINGLELINE) != 0) {
      widths.push_back(static_cast<int>(line.size()) * cw);
      return;
    }
    size_t start = 0;
    while (true) {
      size_t len = line.size() - start;
      if (static_cast<int>(len) * cw <= limit || cw == 0) {
        widths.push_back(static_cast<int>(len) * cw);
        return;
      }
      size_t fit = static_cast<size_t>(std::max(1, limit / cw));
      size_t cut = line.rfind(u' ', start + fit);
      if (cut == std::u16string_view::npos || cut <= start) cut = start + fit;  // no blank: break the word
      widths.push_back(static_cast<int>(cut - start) * cw);
      start = cut;
      while (start < line.size() && line[start] == u' ') ++start;
      if (start >= line.size()) return;
    }
  };
  if ((format & DT_SINGLELINE) != 0) {
    addLine(s);
  } else {
    size_t pos = 0;
    while (true) {
      size_t nl = s.find(u'\n', pos);
      std::u16string_view line(s.data() + pos, (nl == std::u16string::npos ? s.size() : nl) - pos);
      if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
      addLine(line);
      if (nl == std::u16string::npos) break;
      pos = nl + 1;
    }
  }
  int height = static_cast<int>(widths.size()) * lh;
  if ((format & DT_CALCRECT) != 0) {
    rect->right = rect->left + (widths.empty() ? 0 : *std::max_element(widths.begin(), widths.end()));
    rect->bottom = rect->top + height;
  } else {
    Pending drawn;
    {
      std::lock_guard<std::mutex> g(G().m);
      if (Dc* dc = FindDc(hdc)) drawn.Add(*dc, TextOp(*dc, *rect, s, format));
      G().drawCalls++;
    }
    drawn.Keep();
  }
  return height;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int count, LPSIZE size) {
  if (size == nullptr || count < 0 || (text == nullptr && count > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  if (dc == nullptr) return FALSE;
  LONG h = FontHeightLocked(dc->font);
  size->cx = count * ce::CharWidthForFontHeight(h);
  size->cy = LineHeightFor(h);
  return TRUE;
}

BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* metrics) {
  if (metrics == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(G().m);
  Dc* dc = FindDc(hdc);
  if (dc == nullptr) return FALSE;
  Object* f = FindObject(dc->font);
  LONG h = FontHeightLocked(dc->font);
  *metrics = TEXTMETRICW{};
  metrics->tmHeight = LineHeightFor(h);
  metrics->tmAscent = metrics->tmHeight * 4 / 5;
  metrics->tmDescent = metrics->tmHeight - metrics->tmAscent;
  metrics->tmAveCharWidth = ce::CharWidthForFontHeight(h);
  metrics->tmMaxCharWidth = metrics->tmAveCharWidth;
  metrics->tmWeight = (f != nullptr && f->kind == Kind::Font && f->font.lfWeight != 0) ? f->font.lfWeight : FW_NORMAL;
  return TRUE;
}

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  long long p = static_cast<long long>(number) * numerator;
  long long half = std::llabs(static_cast<long long>(denominator)) / 2;
  long long r = ((p < 0) != (denominator < 0)) ? -((std::llabs(p) + half) / std::llabs(static_cast<long long>(denominator)))
                                               : (std::llabs(p) + half) / std::llabs(static_cast<long long>(denominator));
  return static_cast<int>(r);
}

// ---- icons ----
namespace {

struct IconTable {
  std::mutex m;
  std::map<uintptr_t, HRSRC> live;  // handle -> the resource it was loaded from
  uintptr_t next = 0x1C000001;
};

IconTable& Icons() {
  static IconTable table;
  return table;
}

}  // namespace

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  HRSRC resource = FindResourceW(instance, name, RT_GROUP_ICON);
  if (!resource) return nullptr;
  IconTable& t = Icons();
  std::lock_guard<std::mutex> g(t.m);
  const uintptr_t key = t.next++;
  t.live[key] = resource;
  return reinterpret_cast<HICON>(key);
}

BOOL DestroyIcon(HICON icon) {
  IconTable& t = Icons();
  std::lock_guard<std::mutex> g(t.m);
  if (t.live.erase(reinterpret_cast<uintptr_t>(icon)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// ---- bitmaps ----
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kMaxBitmapBytes = 16u * 1024 * 1024;

// A new bitmap object from packed bytes that decode (else null with
// ERROR_INVALID_DATA).
HBITMAP AddBitmap(std::string dib) {
  ui::gdi::Image probe;
  if (dib.size() > kMaxBitmapBytes || !ui::gdi::DecodeDib(dib, &probe)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  std::lock_guard<std::mutex> g(G().m);
  const uintptr_t key = G().nextObject++;
  G().objects[key] = Object{Kind::Bitmap, false, {}, 0, PS_SOLID, 1};
  G().bitmaps[key] = std::make_shared<std::string>(std::move(dib));
  return Handle<HBITMAP>(key);
}

// The bitmap selected into a DC, decoded (null for none).
ui::gdi::ImageRef SelectedImage(HDC hdc) {
  uintptr_t bitmap;
  {
    std::lock_guard<std::mutex> g(G().m);
    Dc* dc = FindDc(hdc);
    if (dc == nullptr) return nullptr;
    bitmap = dc->bitmap;
  }
  return ui::gdi::BitmapImage(Handle<HBITMAP>(bitmap));
}

}  // namespace

namespace ui::gdi {

HWND DrawTarget(HDC hdc) {
  if (!CountDraw(hdc)) return reinterpret_cast<HWND>(-1);
  return WindowOf(hdc);
}

ImageRef BitmapImage(HBITMAP bitmap) {
  std::shared_ptr<std::string> dib;
  {
    std::lock_guard<std::mutex> g(G().m);
    auto it = G().bitmaps.find(Key(bitmap));
    if (it == G().bitmaps.end()) return nullptr;
    dib = it->second;  // decoded afresh: a DIB section's rows may have changed
  }
  auto image = std::make_shared<Image>();
  if (!DecodeDib(*dib, image.get())) return nullptr;
  return image;
}

}  // namespace ui::gdi

HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name) {
  HMODULE module = reinterpret_cast<HMODULE>(instance);
  HRSRC resource = FindResourceW(module, name, RT_BITMAP);
  if (!resource) return nullptr;
  HGLOBAL data = LoadResource(module, resource);
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) return nullptr;
  return AddBitmap(std::string(static_cast<const char*>(bytes), SizeofResource(module, resource)));
}

HBITMAP SHLoadDIBitmap(LPCWSTR path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DWORD high = 0;
  const DWORD size = GetFileSize(file, &high);
  std::string bytes;
  DWORD error = ERROR_SUCCESS;
  if (size == INVALID_FILE_SIZE || high != 0 || size > kMaxBitmapBytes + kFileHeaderSize) {
    error = ERROR_INVALID_DATA;
  } else {
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size, &read, nullptr)) error = GetLastError();
    else if (read != size) error = ERROR_INVALID_DATA;
  }
  CloseHandle(file);
  if (error == ERROR_SUCCESS && (bytes.size() < kFileHeaderSize || bytes[0] != 'B' || bytes[1] != 'M'))
    error = ERROR_INVALID_DATA;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  return AddBitmap(bytes.substr(kFileHeaderSize));
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD) {
  if (bits) *bits = nullptr;
  if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  const uint64_t width = h.biWidth > 0 ? static_cast<uint64_t>(h.biWidth) : 0;
  const uint64_t height = static_cast<uint64_t>(std::llabs(static_cast<long long>(h.biHeight)));
  uint64_t colors = h.biClrUsed;
  if (h.biBitCount <= 8 && colors == 0) colors = 1u << h.biBitCount;
  const uint64_t masks = h.biCompression == BI_BITFIELDS ? 12 : 0;
  const uint64_t stride = (width * h.biBitCount + 31) / 32 * 4;
  const uint64_t total = sizeof(BITMAPINFOHEADER) + masks + colors * 4 + stride * height;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || width == 0 || height == 0 || colors > 256 || total > kMaxBitmapBytes) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string dib(static_cast<size_t>(total), '\0');
  BITMAPINFOHEADER header = h;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biClrUsed = static_cast<DWORD>(colors);
  std::memcpy(dib.data(), &header, sizeof header);
  // The masks or colour table follow the header in the caller's BITMAPINFO.
  std::memcpy(dib.data() + sizeof header, reinterpret_cast<const char*>(info) + h.biSize,
              static_cast<size_t>(masks + colors * 4));
  HBITMAP bitmap = AddBitmap(std::move(dib));
  if (bitmap == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bits) {
    std::lock_guard<std::mutex> g(G().m);
    std::string& stored = *G().bitmaps[Key(bitmap)];
    *bits = stored.data() + (stored.size() - stride * height);
  }
  return bitmap;
}

BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, int swidth, int sheight,
                DWORD rop) {
  if (rop != SRCCOPY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!CountDraw(dest)) return FALSE;
  {
    std::lock_guard<std::mutex> g(G().m);
    if (FindDc(source) == nullptr) return FALSE;
  }
  ui::gdi::ImageRef image = SelectedImage(source);
  HWND window = WindowOf(dest);
  if (image && window && width > 0 && height > 0 && swidth > 0 && sheight > 0) {
    auto part = std::make_shared<ui::gdi::Image>(ui::gdi::Crop(*image, sx, sy, swidth, sheight, width, height));
    ui::gdi::RecordDraw(window, ui::gdi::ImageDraw(RECT{x, y, x + width, y + height}, std::move(part)));
  }
  return TRUE;
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy, DWORD rop) {
  return StretchBlt(dest, x, y, width, height, source, sx, sy, width, height, rop);
}

namespace ce {

bool BitmapPixels(HBITMAP bitmap, int* width, int* height, std::vector<uint32_t>* pixels) {
  ui::gdi::ImageRef image = ui::gdi::BitmapImage(bitmap);
  if (!image) return false;
  *width = image->width;
  *height = image->height;
  *pixels = image->argb;
  return true;
}

bool ImageListPixels(const void* imageList, int i, int* width, int* height, std::vector<uint32_t>* pixels) {
  ui::gdi::ImageListView view = ui::gdi::ImageListImages(imageList);
  if (i < 0 || static_cast<size_t>(i) >= view.images.size()) return false;
  const ui::gdi::Image& image = *view.images[static_cast<size_t>(i)];
  *width = image.width;
  *height = image.height;
  *pixels = image.argb;
  return true;
}

}  // namespace ce
