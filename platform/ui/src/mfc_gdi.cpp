// GDI wrappers of the class library (ui/Gdi.h).
#include <algorithm>
#include <memory>
#include <unordered_map>
#include <utility>

#include "mfc_internal.h"

struct GdiTempAccess {
  template <typename T>
  static void MarkTemporary(T* t) {
    t->m_temporary = true;
  }
  template <typename T>
  static bool IsTemporary(const T* t) {
    return t->m_temporary;
  }
};

namespace {

struct TempRegistry {
  std::unordered_map<HGDIOBJ, std::unique_ptr<CFont>> fonts;
  std::unordered_map<HGDIOBJ, std::unique_ptr<CBrush>> brushes;
  std::unordered_map<HGDIOBJ, std::unique_ptr<CPen>> pens;
  std::unordered_map<HGDIOBJ, std::unique_ptr<CGdiObject>> others;
  std::unordered_map<HDC, std::unique_ptr<CDC>> dcs;
};
TempRegistry& R() {
  static TempRegistry r;
  return r;
}

template <typename T>
T* Temp(std::unordered_map<HGDIOBJ, std::unique_ptr<T>>& map, HGDIOBJ handle) {
  if (handle == nullptr) return nullptr;
  auto& slot = map[handle];
  if (!slot) {
    slot = std::make_unique<T>();
    GdiTempAccess::MarkTemporary(slot.get());
    slot->m_hObject = handle;
  }
  return slot.get();
}

template <typename Map>
void SweepObjects(Map& map) {
  for (auto it = map.begin(); it != map.end();) {
    if (!ce::IsGdiObject(it->first)) {
      it->second->m_hObject = nullptr;
      it = map.erase(it);
    } else {
      ++it;
    }
  }
}

// Takes a handle into an empty slot; FALSE for a null handle or a taken slot.
template <typename H>
BOOL AttachHandle(H* slot, H handle) {
  if (handle == nullptr || *slot != nullptr) return FALSE;
  *slot = handle;
  return TRUE;
}
}  // namespace

namespace ui::detail {
void DeleteGdiTemps() {
  SweepObjects(R().fonts);
  SweepObjects(R().brushes);
  SweepObjects(R().pens);
  SweepObjects(R().others);
  for (auto it = R().dcs.begin(); it != R().dcs.end();) {
    if (GetObjectType(it->first) != OBJ_DC) {
      it->second->m_hDC = nullptr;
      it = R().dcs.erase(it);
    } else {
      ++it;
    }
  }
}
}  // namespace ui::detail

// ---- CRect ----

void CRect::NormalizeRect() {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
}

bool CRect::IntersectRect(const RECT& a, const RECT& b) {
  CRect r(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom));
  if (r.IsRectEmpty()) r.SetRectEmpty();
  *this = r;
  return !IsRectEmpty();
}

bool CRect::UnionRect(const RECT& a, const RECT& b) {
  const CRect ra(a), rb(b);
  if (ra.IsRectEmpty()) {
    *this = rb;
  } else if (rb.IsRectEmpty()) {
    *this = ra;
  } else {
    SetRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom));
  }
  if (IsRectEmpty()) SetRectEmpty();
  return !IsRectEmpty();
}

// ---- objects ----

CGdiObject::~CGdiObject() {
  if (!m_temporary && m_hObject != nullptr) ::DeleteObject(m_hObject);
}

BOOL CGdiObject::Attach(HGDIOBJ object) { return AttachHandle(&m_hObject, object); }
HGDIOBJ CGdiObject::Detach() { return std::exchange(m_hObject, nullptr); }

BOOL CGdiObject::DeleteObject() {
  if (m_hObject == nullptr) return FALSE;
  return ::DeleteObject(Detach());
}

BOOL CGdiObject::CreateStockObject(int index) {
  HGDIOBJ h = ::GetStockObject(index);
  return h != nullptr && Attach(h);
}

BOOL CFont::CreateFontIndirectW(const LOGFONTW* font) { return Attach(::CreateFontIndirectW(font)); }

BOOL CFont::CreatePointFont(int pointSizeTenths, LPCWSTR faceName, CDC* dc) {
  LOGFONTW lf{};
  int dpi = dc != nullptr ? dc->GetDeviceCaps(LOGPIXELSY) : 96;
  lf.lfHeight = -MulDiv(pointSizeTenths, dpi, 720);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  if (faceName != nullptr) {
    for (int i = 0; i < LF_FACESIZE - 1 && faceName[i] != 0; ++i) lf.lfFaceName[i] = faceName[i];
  }
  return CreateFontIndirectW(&lf);
}

int CFont::GetLogFont(LOGFONTW* font) const {
  return ::GetObjectW(m_hObject, static_cast<int>(sizeof(LOGFONTW)), font);
}

CFont* CFont::FromHandle(HFONT font) { return Temp(R().fonts, font); }

BOOL CBrush::CreateSolidBrush(COLORREF color) { return Attach(::CreateSolidBrush(color)); }
BOOL CBrush::CreateSysColorBrush(int index) {
  // System colour brushes are shared: keep the handle, never delete it.
  HBRUSH h = ::GetSysColorBrush(index);
  return h != nullptr && Attach(h);
}
CBrush* CBrush::FromHandle(HBRUSH brush) { return Temp(R().brushes, brush); }

BOOL CPen::CreatePen(int style, int width, COLORREF color) { return Attach(::CreatePen(style, width, color)); }
CPen* CPen::FromHandle(HPEN pen) { return Temp(R().pens, pen); }

// ---- DCs ----

CDC::~CDC() {
  if (!m_temporary && m_hDC != nullptr) ::DeleteDC(m_hDC);
}

BOOL CDC::Attach(HDC hdc) { return AttachHandle(&m_hDC, hdc); }
HDC CDC::Detach() { return std::exchange(m_hDC, nullptr); }

CDC* CDC::FromHandle(HDC hdc) {
  if (hdc == nullptr) return nullptr;
  auto& slot = R().dcs[hdc];
  if (!slot) {
    slot = std::make_unique<CDC>();
    GdiTempAccess::MarkTemporary(slot.get());
    slot->m_hDC = hdc;
  }
  return slot.get();
}

CPoint CDC::MoveTo(int x, int y) {
  POINT previous{0, 0};
  ::MoveToEx(m_hDC, x, y, &previous);
  return CPoint(previous);
}

CSize CDC::GetTextExtent(LPCWSTR text, int count) const {
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(m_hDC, text, count, &size);
  return CSize(size);
}

CFont* CDC::SelectObject(CFont* font) {
  if (font == nullptr) return nullptr;
  return CFont::FromHandle(static_cast<HFONT>(::SelectObject(m_hDC, font->m_hObject)));
}
CBrush* CDC::SelectObject(CBrush* brush) {
  if (brush == nullptr) return nullptr;
  return CBrush::FromHandle(static_cast<HBRUSH>(::SelectObject(m_hDC, brush->m_hObject)));
}
CPen* CDC::SelectObject(CPen* pen) {
  if (pen == nullptr) return nullptr;
  return CPen::FromHandle(static_cast<HPEN>(::SelectObject(m_hDC, pen->m_hObject)));
}
CGdiObject* CDC::SelectStockObject(int index) {
  HGDIOBJ stock = ::GetStockObject(index);
  if (stock == nullptr) return nullptr;
  return Temp(R().others, ::SelectObject(m_hDC, stock));
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF color) {
  HBRUSH brush = ::CreateSolidBrush(color);
  ::FillRect(m_hDC, rect, brush);
  ::DeleteObject(brush);
}
void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF color) {
  RECT r{x, y, x + cx, y + cy};
  FillSolidRect(&r, color);
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd != nullptr ? wnd->m_hWnd : nullptr) {
  Attach(::BeginPaint(m_hWnd, &m_ps));
}
CPaintDC::~CPaintDC() {
  if (m_hDC != nullptr) ::EndPaint(m_hWnd, &m_ps);
  m_hDC = nullptr;
}

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd != nullptr ? wnd->m_hWnd : nullptr) { Attach(::GetDC(m_hWnd)); }
CClientDC::~CClientDC() {
  if (m_hDC != nullptr) ::ReleaseDC(m_hWnd, m_hDC);
  m_hDC = nullptr;
}
